#include "frame/watch_words_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

CWatchWordsDlg::CWatchWordsDlg(const QStringList& words, QWidget* parent)
    : QDialog(parent), edit_(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("watchWordsDialog"));
  setWindowTitle(tr("关注词"));
  edit_->setObjectName(QStringLiteral("watchWordsEdit"));
  edit_->setPlainText(words.join(QLatin1Char('\n')));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(tr("确定"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
  buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CWatchWordsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CWatchWordsDlg::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      tr("每行一个关注词。含 * 或 ? 的是通配模式（匹配整个名字），其余的按包含查找。"), this));
  layout->addWidget(edit_);
  layout->addWidget(buttons);
}

QStringList CWatchWordsDlg::Words() const {
  QStringList words;
  for (const QString& line : edit_->toPlainText().split(QLatin1Char('\n'))) {
    const QString word = line.trimmed();
    if (!word.isEmpty()) words << word;
  }
  return words;
}

}  // namespace orvane
