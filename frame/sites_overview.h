// The Sites overview (视图 › 站点概况): a window with a table of every site
// and how its updates have fared, sortable by any column (numbers and times
// sort as such). A double-click on a row selects that site in the tree.
//
// The frame owns it, shows it on its command and calls Refresh() when the
// site list or a site's status changes; a refresh is deferred to the event
// loop and coalesced, so a burst of status notices reads the records once.
#pragma once

#include <QDialog>

class QSortFilterProxyModel;
class QTableView;

namespace orvane {

class CFTPSite;
class COrvaneDoc;
class CSitesOverviewModel;

class CSitesOverview : public QDialog {
  Q_OBJECT

 public:
  explicit CSitesOverview(COrvaneDoc& doc, QWidget* parent = nullptr);

  // Reads the sites and their records again, soon.
  void Refresh();
  QTableView* table() const { return table_; }
  CSitesOverviewModel* model() const { return model_; }

 signals:
  // A row was double-clicked (or Enter pressed on it).
  void siteActivated(CFTPSite* site);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Activated(const QModelIndex& index);

  CSitesOverviewModel* model_;
  QSortFilterProxyModel* proxy_;
  QTableView* table_;
  bool refreshQueued_ = false;
};

}  // namespace orvane
