// "查找": asks for the keyword of a search.
#pragma once

#include <QDialog>

class QLineEdit;

namespace orvane {

class CFindDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CFindDialog(QWidget* parent = nullptr);
  QString Keyword() const;

 private:
  QLineEdit* edit_;
};

}  // namespace orvane
