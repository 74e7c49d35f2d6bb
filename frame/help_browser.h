// The user guide inside the program: docs/guide.md, built in as a resource
// and shown with Qt's Markdown support. F1 opens it when no PDF viewer
// takes help.pdf, so the guide can always be read.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace orvane {

class CHelpBrowser : public QDialog {
  Q_OBJECT

 public:
  explicit CHelpBrowser(QWidget* parent = nullptr);

  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

}  // namespace orvane
