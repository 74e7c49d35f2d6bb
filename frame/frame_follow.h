// What the window shows about the file list besides the list itself: the
// status bar's count and total size of the listed entries, the window title
// with the site and path shown, the tree following the browse location
// (after a double-click, Back, Forward, Up or "show in folder"), the note
// after Ctrl+C, and the mouse's back and forward buttons over the frame.
//
// It listens to the list's model and brings everything up to date once per
// pass of the event loop, so a search appending results in batches costs
// one count per batch, not one per row. Front-end thread only.
#pragma once

#include <QObject>

class QLabel;
class QTimer;

namespace orvane {

class CMainFrame;

class CFrameFollow : public QObject {
  Q_OBJECT

 public:
  // A child of `frame`; adds its pane to the frame's status bar.
  explicit CFrameFollow(CMainFrame& frame);
  // A search or listing has ended: its count and size become the status
  // bar's message, in place of whatever an earlier command left there (the
  // end of an update run, typically).
  void ListingEnded();
  // Something shown changed without a listing (a site's charset): the
  // title and the summary are made again.
  void ShowAnew() { Schedule(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Schedule();
  void Refresh();

  CMainFrame& frame_;
  QLabel* summary_;
  QTimer* refresh_;
};

}  // namespace orvane
