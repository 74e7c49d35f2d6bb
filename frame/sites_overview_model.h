// The rows of the Sites overview: every site of the document with its
// health (catalog/site_health.h), one row per site.
//
// Rows are the model's own snapshot, taken by Reload() from the document's
// list and the sites' records; each keeps its site alive (shared), so a
// site deleted meanwhile is never reached through a freed pointer, and the
// frame reloads the model when the list or a site's status changes.
// SortRole gives each cell's value as a number (times, counts, bytes) or a
// text, so that a sort proxy sorts sizes as sizes; unknown values sort
// first. Front-end thread only.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "catalog/site_health.h"

namespace orvane {

class CFTPSite;
class COrvaneDoc;

class CSitesOverviewModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column {
    kName,
    kAddress,
    kLastUpdate,
    kDuration,
    kEntries,
    kSize,
    kNew,
    kLastError,
    kErrorTime,
    kColumnCount
  };
  static constexpr int kSortRole = Qt::UserRole;

  explicit CSitesOverviewModel(COrvaneDoc& doc, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Takes the document's sites and their records afresh.
  void Reload();
  // The row's site; null for a row that is not there.
  std::shared_ptr<CFTPSite> SiteAt(int row) const;

 private:
  struct Row {
    std::shared_ptr<CFTPSite> site;
    QString name;
    QString address;
    std::optional<SiteHealth> health;
  };
  QVariant SortValue(const Row& row, int column) const;

  COrvaneDoc& doc_;
  std::vector<Row> rows_;
  // "Now" of the last reload, so that the "ago" texts of one snapshot agree.
  std::int64_t now_ = 0;
};

}  // namespace orvane
