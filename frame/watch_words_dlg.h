// "关注词": the user's watch words, one a line (see document/watch_words.h
// for what a word matches). Blank lines and the spaces around a word are
// dropped.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

namespace orvane {

class CWatchWordsDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CWatchWordsDlg(const QStringList& words, QWidget* parent = nullptr);
  QStringList Words() const;

 private:
  QPlainTextEdit* edit_;
};

}  // namespace orvane
