#include "frame/help_browser.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "frame/screen_fit.h"

namespace orvane {

CHelpBrowser::CHelpBrowser(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser(this)) {
  setObjectName(QStringLiteral("helpBrowser"));
  setWindowTitle(tr("Orvane 帮助"));
  browser_->setObjectName(QStringLiteral("helpText"));
  browser_->setOpenExternalLinks(true);
  QFile guide(QStringLiteral(":/frame/guide.md"));
  if (guide.open(QIODevice::ReadOnly)) {
    browser_->setMarkdown(QString::fromUtf8(guide.readAll()));
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_);
  layout->addWidget(buttons);
  resize(720, 640);
  FitToScreen(*this);
}

}  // namespace orvane
