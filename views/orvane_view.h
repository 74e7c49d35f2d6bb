// The right pane: the file list.
//
// Shows the welcome rows until the first fill, then either the document's
// browse lists (ShowBrowse) or its result lists (ShowResults, and
// AppendResults while a search or listing runs). Several rows can be
// selected. Double-clicking a directory row makes it the browse location
// itself (history step, mark cleared, ShowDirectory, refill) and then emits
// directoryActivated; double-clicking a file row emits fileActivated with
// the row's display path, which the frame opens. Enter does what a
// double-click does to the current row; Backspace, the mouse's back and
// forward buttons and the Menu key (or Shift+F10) reach the frame's
// commands through contextCommand. Ctrl+C copies the addresses of the
// selected rows. Clicking a header sorts the rows (see CFileListModel);
// the header's layout goes to the settings through SaveLayout.
// Front-end thread only.
#pragma once

#include <QTreeView>
#include <string>
#include <string_view>
#include <vector>

#include "views/file_list_model.h"

namespace orvane {

class COrvaneDoc;
class CFTPDir;
class CFTPFile;

class COrvaneView : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int kCmdCopyPath = 32796;  // "复制路径" of the list's menu
  // Sent for Backspace and the mouse's back and forward buttons.
  static constexpr int kCmdForward = 32797;
  static constexpr int kCmdBack = 32798;
  static constexpr int kCmdUp = 32801;
  // Sent with a directory row's directory: the tree's "设置已读" and
  // "显示更新" (directoryCommand).
  static constexpr int kCmdSetDirectoryRead = 32804;
  static constexpr int kCmdShowUpdates = 32807;

  explicit COrvaneView(COrvaneDoc& doc, QWidget* parent = nullptr);

  // Rows := doc.browseDirs then doc.browseFiles; browse mode.
  void ShowBrowse();
  // Rows := doc.resultDirs then doc.resultFiles; result mode.
  void ShowResults();
  // The same with the rows already made of those lists (off this thread,
  // while no walk runs): no work per row here. Returns the fill's number
  // for CFileListModel::SetFileBytes.
  std::uint64_t ShowResults(CFileListModel::Rows&& rows);
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
  // The directories of the rows shown, in row order.
  std::vector<CFTPDir*> ListedDirs() const;
  bool resultMode() const;
  int ItemCount() const;
  // Opens the directory holding the row's entry (a result, typically) and
  // selects the entry's row there, as a file manager's "show in folder".
  void ShowInFolder(int row);
  // The same for an entry known by its folder and name (one the list need
  // not show): opens `folder` and selects the entry's row. False when the
  // folder holds no entry of that name (the folder is shown all the same).
  bool ShowInFolder(CFTPDir* folder, std::string_view name);
  // The full addresses of the selected rows, one a line, to the clipboard;
  // the number copied (0: nothing selected, the clipboard is left alone).
  int CopySelectedAddresses();
  // Column widths and the sort, kept under "list/header".
  void SaveLayout() const;
  void RestoreLayout();

  CFileListModel* listModel() const { return model_; }

 signals:
  void directoryActivated(orvane::CFTPDir* dir);
  void fileActivated(const std::string& displayPath);
  void contextCommand(int commandId);
  // A command of the tree's (set read, show updates) chosen on a directory
  // row of the list's menu, for that directory.
  void directoryCommand(int commandId, orvane::CFTPDir* dir);
  // After Ctrl+C put `count` addresses on the clipboard.
  void addressesCopied(int count);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void OnDoubleClicked(const QModelIndex& index);
  void OpenDirectory(CFTPDir* dir);
  void OnContextMenu(const QPoint& pos);

  COrvaneDoc& doc_;
  CFileListModel* model_;
};

}  // namespace orvane
