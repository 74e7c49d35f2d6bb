#include "frame/update_num_set.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "frame/dialog_seam.h"

namespace orvane {

CUpdateNumSet::CUpdateNumSet(int current, QWidget* parent)
    : QDialog(parent), edit_(new QLineEdit(QString::number(current), this)) {
  setObjectName(QStringLiteral("updateNumSet"));
  setWindowTitle(tr("设置更新线程"));
  edit_->setObjectName(QStringLiteral("threadsEdit"));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(tr("设置更新线程数："), this));
  row->addWidget(edit_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(tr("确定"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
  buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CUpdateNumSet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CUpdateNumSet::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}

int CUpdateNumSet::Value() const { return edit_->text().trimmed().toInt(); }

void CUpdateNumSet::accept() {
  bool isNumber = false;
  const int value = edit_->text().trimmed().toInt(&isNumber);
  if (!isNumber) {
    CDialogSeam::Warn(this, tr("Please enter an integer."));
    return;
  }
  if (value < kMin || value > kMax) {
    CDialogSeam::Warn(this, tr("Please enter an integer between %1 and %2.").arg(kMin).arg(kMax));
    return;
  }
  QDialog::accept();
}

}  // namespace orvane
