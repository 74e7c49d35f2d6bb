// "设置更新线程": how many sites are updated at once (1 to 500). The value
// lives in the update engine for this run only.
#pragma once

#include <QDialog>

class QLineEdit;

namespace orvane {

class CUpdateNumSet : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMin = 1;
  static constexpr int kMax = 500;

  explicit CUpdateNumSet(int current, QWidget* parent = nullptr);

  // The accepted number.
  int Value() const;
  // Refuses (with the message, the dialog staying open) text that is not a
  // whole number from 1 to 500.
  void accept() override;

 private:
  QLineEdit* edit_;
};

}  // namespace orvane
