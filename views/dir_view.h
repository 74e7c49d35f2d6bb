// The left pane: the tree of sites and catalog directories.
//
// Selecting an item makes its directory the browse location: a history step
// is recorded, the item's children are rebuilt from the catalog, the
// document's browse lists are filled (ShowDirectory), a new directory loses
// its mark, and then directoryActivated is emitted, on which the frame
// refills the file list (COrvaneView::ShowBrowse). Expanding fills an item's
// children; collapsing drops them, so the next expansion shows the catalog
// as it is then. Only a selection the user makes counts: the current item
// Qt gives the tree when it gains focus selects nothing and reads no catalog.
//
// Context menus emit contextCommand with the command ids below; the frame
// handles all of them (the commands act on CurrentDirectory/CurrentSite).
// Keys: Enter selects the current item (the focus alone selects nothing),
// Delete and F2 delete and edit a site item, the Menu key and Shift+F10
// open the current item's menu; the mouse's back and forward buttons send
// the history commands.
// Front-end thread only.
#pragma once

#include <QPersistentModelIndex>
#include <QTreeView>
#include <vector>

namespace orvane {

class COrvaneDoc;
class CFTPDir;
class CFTPSite;
class CDirTreeModel;

class CDirView : public QTreeView {
  Q_OBJECT

 public:
  // Command ids of the tree's context menus.
  static constexpr int kCmdShowUpdates = 32807;  // "显示更新"
  static constexpr int kCmdUpdate = 32793;       // "更新"
  static constexpr int kCmdSetRead = 32804;      // "设置已读"
  static constexpr int kCmdEditSite = 32783;     // "编辑站点" (site items)
  static constexpr int kCmdDeleteSite = 32782;   // "删除站点" (site items)
  static constexpr int kCmdCopyPath = 32808;     // "复制路径"
  static constexpr int kCmdForward = 32797;      // mouse forward button
  static constexpr int kCmdBack = 32798;         // mouse back button

  explicit CDirView(COrvaneDoc& doc, QWidget* parent = nullptr);

  // The site list changed (add, edit, delete, import): rebuild the top level.
  // Call it right after the document's list changed, before anything repaints.
  void ReloadSites();
  // One site joined the list, or one site's settings changed: only its
  // item changes (inserted, or moved to where its label sorts).
  void SiteAdded(CFTPSite* site);
  void SiteEdited(CFTPSite* site);
  // Selects the site's item as a click would (with the selection steps),
  // unless it is selected already.
  void SelectSite(const CFTPSite* site);
  // Redraw a site's item: state icon, bold when it has new entries, tip.
  void UpdateSiteItem(CFTPSite* site);
  // Highlights the item of `dir` (or of its nearest ancestor in the tree)
  // without running the selection steps: no history step, no refill.
  void SelectDirectory(CFTPDir* dir);
  // Expands the branches down to `dir` and highlights its item as
  // SelectDirectory does, scrolling only when the highlight moved: the
  // tree follows the list's navigation.
  void RevealDirectory(CFTPDir* dir);
  // What the commands act on: the selected item, or, while the tree has
  // the focus and nothing is selected, the item with the focus frame.
  CFTPDir* CurrentDirectory() const;
  CFTPSite* CurrentSite() const;
  // Removed subtrees (an update's sweep, or a deleted site's rootDir): drops
  // every item that reaches into them. Must run before they are destroyed.
  void EntriesRemoving(const std::vector<const CFTPDir*>& dirs);
  // The site's catalog changed (an update ended, or it was read again):
  // the items shown follow it in place; selection and expansion stay.
  void FollowCatalog(const CFTPSite* site);

  // The site store read the site's catalog: a loading branch of it fills,
  // and a site item chosen while it was read runs its selection steps now
  // (if it is still the one selected).
  void CatalogLoaded(const CFTPSite* site);

  CDirTreeModel* treeModel() const { return model_; }

 public:
  // Runs the selection steps for the selected item again: its directory
  // becomes the browse location and the list shows it.
  void ShowChosen();

 signals:
  // After the selection steps; the frame refills the file list.
  void directoryActivated(orvane::CFTPDir* dir);
  void contextCommand(int commandId);
  // The selected item was clicked again (the selection did not change);
  // the frame decides whether the list should show it again.
  void chosenItemClicked(orvane::CFTPDir* dir);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QModelIndex CommandIndex() const;
  // Makes the current item the selected one (with the selection steps) when
  // only the focus frame is on it; false when there is no current item.
  bool SelectCurrent();
  void OnSelectionChanged();
  void OnClicked(const QModelIndex& index);
  void OnExpanded(const QModelIndex& index);
  void OnCollapsed(const QModelIndex& index);
  void OnContextMenu(const QPoint& pos);

  COrvaneDoc& doc_;
  CDirTreeModel* model_;
  // Set while the tree changes the selection itself (purges, SelectDirectory).
  bool quietSelection_ = false;
  // The item chosen while its site's catalog was being read.
  QPersistentModelIndex pendingChosen_;
  // The browsed directory then (compared only).
  const CFTPDir* pendingFrom_ = nullptr;
  // The last left press landed on the item already selected.
  bool pressOnSelected_ = false;
};

}  // namespace orvane
