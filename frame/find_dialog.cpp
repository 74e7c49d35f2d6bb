#include "frame/find_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

CFindDialog::CFindDialog(QWidget* parent) : QDialog(parent), edit_(new QLineEdit(this)) {
  setObjectName(QStringLiteral("findDialog"));
  setWindowTitle(tr("查找"));
  edit_->setObjectName(QStringLiteral("keywordEdit"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(tr("确定"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
  buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CFindDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CFindDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("请输入查找关键词:"), this));
  layout->addWidget(edit_);
  layout->addWidget(buttons);
}

QString CFindDialog::Keyword() const { return edit_->text(); }

}  // namespace orvane
