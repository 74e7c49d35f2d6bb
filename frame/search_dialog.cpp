#include "frame/search_dialog.h"

#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

namespace orvane {

CSearchDialog::CSearchDialog(int siteCount, std::function<void()> stop, QWidget* parent)
    : QDialog(parent), stop_(std::move(stop)), bar_(new QProgressBar(this)) {
  setObjectName(QStringLiteral("searchDialog"));
  setWindowTitle(tr("正在搜索..."));
  bar_->setObjectName(QStringLiteral("searchProgress"));
  bar_->setRange(0, siteCount);
  bar_->setValue(0);
  auto* stopButton = new QPushButton(tr("停止"), this);
  stopButton->setObjectName(QStringLiteral("stopButton"));
  connect(stopButton, &QPushButton::clicked, this, &CSearchDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(bar_);
  layout->addWidget(stopButton, 0, Qt::AlignHCenter);
  setMinimumWidth(320);
}

void CSearchDialog::SetProgress(int sitesBegun) { bar_->setValue(sitesBegun); }

void CSearchDialog::reject() {
  if (stop_) stop_();
  QDialog::reject();
}

}  // namespace orvane
