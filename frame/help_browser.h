// The user guide inside the program: docs/guide_zh.md for the Chinese
// interface, docs/guide.md for the English one, built in as resources and
// shown with Qt's Markdown support. F1 opens it when no PDF viewer takes
// help.pdf (help_zh.pdf in Chinese), so the guide can always be read.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace orvane {

class CHelpBrowser : public QDialog {
  Q_OBJECT

 public:
  explicit CHelpBrowser(QWidget* parent = nullptr);

  QTextBrowser* browser() const { return browser_; }
  // The guide in the interface's language (a resource path).
  static QString GuideResource();
  // Its PDF's file name beside the program: help_zh.pdf or help.pdf.
  static QString PdfName();

 private:
  QTextBrowser* browser_;
};

}  // namespace orvane
