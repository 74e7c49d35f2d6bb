// What the window shows about the file list besides the list itself: the
// status bar's count and total size of the listed entries (a listing's end
// also leaves them as the status bar's message, until the list shows
// something else), the window title with the site and path shown or what
// a result list holds ("搜索: WORD"), the tree following the browse location
// (after a double-click, Back, Forward, Up or "show in folder"), the note
// after Ctrl+C, and the mouse's back and forward buttons over the frame.
//
// It listens to the list's model and brings everything up to date once per
// pass of the event loop, so a search appending results in batches costs
// one count per batch, not one per row. Front-end thread only.
#pragma once

#include <QObject>
#include <QString>

#include "views/file_list_model.h"

class QLabel;
class QTimer;

namespace orvane {

class CFTPDir;
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
  // A search or listing starts: the last one's count no longer applies.
  void ListingStarted();
  // Something shown changed without a listing (a site's charset): the
  // title and the summary are made again.
  void ShowAnew() { Schedule(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Schedule();
  void Refresh();
  // Clears the status bar's message when it is still a listing's count.
  void DropListingMessage();

  CMainFrame& frame_;
  QLabel* summary_;
  // The status bar's message a listing's end left, and what the list
  // showed at the last refresh.
  QString listingMessage_;
  struct Shown {
    CFileListModel::Mode mode = CFileListModel::Mode::kWelcome;
    const CFTPDir* dir = nullptr;
  };
  Shown shown_;
  QTimer* refresh_;
};

}  // namespace orvane
