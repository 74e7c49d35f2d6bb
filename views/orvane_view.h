// The right pane: the file list.
//
// Shows the welcome rows until the first fill, then either the document's
// browse lists (ShowBrowse) or its result lists (ShowResults, and
// AppendResults while a search or listing runs). Several rows can be
// selected. Double-clicking a directory row makes it the browse location
// itself (history step, mark cleared, ShowDirectory, refill) and then emits
// directoryActivated; double-clicking a file row emits fileActivated with
// the row's display path, which the frame opens. Front-end thread only.
#pragma once

#include <QTreeView>
#include <string>
#include <vector>

namespace orvane {

class COrvaneDoc;
class CFTPDir;
class CFTPFile;
class CFileListModel;

class COrvaneView : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int kCmdCopyPath = 32796;  // "复制路径" of the list's menu

  explicit COrvaneView(COrvaneDoc& doc, QWidget* parent = nullptr);

  // Rows := doc.browseDirs then doc.browseFiles; browse mode.
  void ShowBrowse();
  // Rows := doc.resultDirs then doc.resultFiles; result mode.
  void ShowResults();
  void ShowWelcome();
  // The browse lists were taken again (the catalog changed): in browse
  // mode the rows follow them in place, keeping selection and scrolling.
  void FollowBrowse();
  // Shows what was appended to doc.resultDirs / resultFiles since the rows
  // last matched them (one insert notice per group); refills when the view
  // was not showing results or the lists were cleared meanwhile.
  void AppendResults();
  // Removed entries (an update's sweep, or a deleted site's rootDir): drops
  // their rows, and the rows of everything below removed directories. Must
  // run before they are destroyed.
  void EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                       const std::vector<const CFTPFile*>& files);
  // Display paths (bytes) of the selected rows in row order; a welcome row
  // gives an empty text.
  std::vector<std::string> SelectedDisplayPaths() const;
  // The files of the rows shown, in row order (none for welcome rows).
  std::vector<CFTPFile*> ListedFiles() const;
  bool resultMode() const;
  int ItemCount() const;

  CFileListModel* listModel() const { return model_; }

 signals:
  void directoryActivated(orvane::CFTPDir* dir);
  void fileActivated(const std::string& displayPath);
  void contextCommand(int commandId);

 private:
  void OnDoubleClicked(const QModelIndex& index);
  void OnContextMenu(const QPoint& pos);

  COrvaneDoc& doc_;
  CFileListModel* model_;
};

}  // namespace orvane
