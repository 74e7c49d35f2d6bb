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
  QFile guide(GuideResource());
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

QString CHelpBrowser::GuideResource() {
  // The guide's name is a text of the interface: the English translation
  // names the English guide, so the guide always speaks the window's
  // language.
  return tr(":/frame/guide_zh.md");
}

QString CHelpBrowser::PdfName() { return tr("help_zh.pdf"); }

}  // namespace orvane
