// "正在搜索...": the progress of a search or listing (sites begun of all
// sites) with a stop button. Shown modeless while the walk runs on the
// window's thread; the walk sees the stop at its next message pump.
#pragma once

#include <QDialog>
#include <functional>

class QProgressBar;

namespace orvane {

class CSearchDialog : public QDialog {
  Q_OBJECT

 public:
  // `stop` is called when the user presses "停止" or closes the box.
  CSearchDialog(int siteCount, std::function<void()> stop, QWidget* parent = nullptr);
  void SetProgress(int sitesBegun);

  void reject() override;

 private:
  std::function<void()> stop_;
  QProgressBar* bar_;
};

}  // namespace orvane
