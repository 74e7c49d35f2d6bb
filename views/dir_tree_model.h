// The model behind the directory tree: the document's sites at the top
// level and their catalog directories below, filled one level at a time.
//
// Items are the model's own: each holds a borrowed CFTPDir* (its
// internalPointer is the item, which knows its row, so parent() is O(1)).
// An item's children are a snapshot of its directory's subdirectories taken
// under the site's lock when the item is filled; update workers may change
// the catalog afterwards, and the tree shows the change at the next fill. A
// site whose catalog the site store is still reading shows one loading row
// under its item until it has come (CatalogLoaded).
// A removal notice must reach PurgeRemoved before the removed directories
// are destroyed. Front-end thread only.
#pragma once

#include <QAbstractItemModel>
#include <memory>
#include <unordered_set>
#include <vector>

#include "catalog/ftp_site.h"

namespace orvane {

class COrvaneDoc;
class CFTPDir;
class CFTPSite;

class CDirTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit CDirTreeModel(COrvaneDoc& doc, QObject* parent = nullptr);
  ~CDirTreeModel() override;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& index) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Rebuilds the top level from the document's site list, sorted by label.
  void ReloadSites();
  // A site joined the document's list: its item is inserted at its sorted
  // place, and no other item changes.
  void InsertSite(CFTPSite* site);
  // A site's settings changed: its item moves to the place its label sorts
  // to (children and expansion go with it) and is redrawn.
  void SiteEdited(const CFTPSite* site);
  // The site's top-level item; invalid when there is none.
  QModelIndex SiteIndex(const CFTPSite* site) const;
  // Redraws the site's first item: state icon, bold from hasNewEntries.
  void UpdateSiteItem(const CFTPSite* site);
  // Whether the catalog of the item's site is in memory; when it is not,
  // its read is asked for (COrvaneDoc::RequestCatalog) and CatalogLoaded
  // follows.
  bool RequestCatalogOf(const QModelIndex& index);
  // The site's catalog came in: a branch that shows the loading row
  // ("正在读取…") is filled.
  void CatalogLoaded(const CFTPSite* site);
  // Drops the item's children and fills them again from the catalog; a
  // site whose catalog is not in memory shows the loading row until it is.
  void Refill(const QModelIndex& index);
  // Drops the item's children; the next expansion fills them again.
  void Collapse(const QModelIndex& index);
  // After an update of the site (or a reload of its catalog): every filled
  // item of the site takes its directory's children again in place. Items
  // of directories that are still there stay (with their children and
  // expansion), new directories are inserted where the catalog has them,
  // and bold marks are redrawn. Unfilled items fill at their expansion.
  void FollowCatalog(const CFTPSite* site);
  // Clears the item's bold state (its directory's mark was cleared).
  void ClearBold(const QModelIndex& index);
  // Removes every item whose directory is one of `dirs` (and so every item
  // below it). A site's rootDir among them removes the site's item.
  void PurgeRemoved(const std::vector<const CFTPDir*>& dirs);

  // A site item's tool tip: the status text (the same text as
  // update/status_text.h, through tr()), the error text cut to 1000 bytes,
  // and a line for each kind of entry the last update could not fetch.
  static QString StatusTip(const SiteStatus& status);
  // A failure's kind in the user's language; empty for none and other.
  static QString FailureText(SiteStatus::Failure failure);

  CFTPDir* DirectoryAt(const QModelIndex& index) const;
  CFTPSite* SiteAt(const QModelIndex& index) const;
  bool IsSiteItem(const QModelIndex& index) const;
  bool IsFilled(const QModelIndex& index) const;
  // The item of `dir` if the tree holds one, else the item of its nearest
  // ancestor that it holds; invalid when not even the site is there.
  QModelIndex FindItem(const CFTPDir* dir) const;

 private:
  struct Item;
  Item* ItemAt(const QModelIndex& index) const;
  QModelIndex IndexOf(const Item* item) const;
  void Fill(Item* item, const QModelIndex& index);
  void ShowLoading(Item* item, const QModelIndex& index);
  void DropChildren(Item* item, const QModelIndex& index);
  void Reconcile(Item* item, const QModelIndex& index);
  // The row a site labelled `label` sorts to among the top-level items
  // other than `except`, counted without it.
  int SortedRow(const QString& label, const Item* except) const;
  void Purge(Item* item, const QModelIndex& index,
             const std::unordered_set<const CFTPDir*>& removed);

  COrvaneDoc& doc_;
  std::unique_ptr<Item> root_;
  // Non-zero while this model announces a change of its own.
  int changing_ = 0;
};

}  // namespace orvane
