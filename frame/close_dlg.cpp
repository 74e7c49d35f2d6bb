#include "frame/close_dlg.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

namespace orvane {

namespace {

constexpr int kMaxDots = 5;

}  // namespace

CCloseDlg::CCloseDlg(std::function<bool()> hasWork, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint),
      hasWork_(std::move(hasWork)),
      label_(new QLabel(this)),
      timer_(new QTimer(this)),
      text_(tr("正在关闭连接,请稍候")) {
  setObjectName(QStringLiteral("closeDialog"));
  setModal(true);
  label_->setObjectName(QStringLiteral("closeText"));
  label_->setText(text_);
  label_->setMinimumWidth(label_->fontMetrics().horizontalAdvance(text_ + QStringLiteral(".....")));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  connect(timer_, &QTimer::timeout, this, &CCloseDlg::Tick);
  timer_->start(kTickMs);
}

void CCloseDlg::Tick() {
  if (!hasWork_()) {
    timer_->stop();
    accept();
    return;
  }
  const QString base = tr("正在关闭连接,请稍候");
  if (text_.size() - base.size() >= kMaxDots) {
    text_ = base;
  } else {
    text_ += QLatin1Char('.');
  }
  label_->setText(text_);
}

}  // namespace orvane
