// The rows of the Changes view: the updates of the change journals, newest
// first, each with its entries below it.
//
// One model over vectors: the updates as they were read (CChangesModel
// never copies an entry), and the rows the filter lets through, as indices
// into them. A top-level row's internal id is 0; an entry row's is its
// update row + 1, so parent() needs no search. 100,000 entry rows cost a
// vector of 100,000 indices, no object per row.
//
// The filter: a site (empty: all), a time range over the update's end, the
// entry kinds shown, and whether updates that went through and changed
// nothing ("+0 −0 ~0") are hidden. With every kind shown every other
// update in range is listed, a first crawl's summary and an update that
// failed included; with some kinds hidden only updates that keep an entry
// are.
// Front-end thread only.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/change_journal.h"
#include "catalog/name_charset.h"

namespace orvane {

// One journal record with what the window needs beside it.
struct ChangeUpdate {
  std::string siteKey;
  // Nickname, or the key, decoded for display.
  QString siteLabel;
  // The charset the site's names were shown in when the journal was read
  // (the view reads again when a site changes).
  NameCharset charset = NameCharset::kUtf8;
  JournalRecord record;
  // Per entry: an added entry a watch word matches.
  std::vector<bool> watched;
  std::size_t watchMatches = 0;
  // Why an update that did not succeed ended, from the site's health
  // record (a HealthErrorKind token and the server's words); empty when
  // the record names no failure of this update.
  std::string errorKind;
  std::string errorText;
};

class CChangesModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  enum Column { kWhatColumn, kCountColumn, kSiteColumn, kOutcomeColumn, kColumnCount };
  enum Role {
    // JournalEntry::Kind of an entry row as an int; 0 on an update row.
    kKindRole = Qt::UserRole + 1,
    // An entry row's path bytes (QByteArray).
    kPathRole,
    kSiteKeyRole,
    // Whether a watch word matches an entry row.
    kWatchedRole,
  };

  struct Filter {
    std::string siteKey;  // empty: every site
    std::int64_t from = INT64_MIN;
    std::int64_t to = INT64_MAX;
    bool added = true;
    bool removed = true;
    bool resized = true;
    bool hideUnchanged = false;
    bool operator==(const Filter&) const = default;
  };

  // A row that stays the same row across re-reads and filters: its update
  // (site and times) and, for an entry row, the entry's place in it.
  struct RowKey {
    std::string siteKey;
    std::int64_t start = 0;
    std::int64_t end = 0;
    int entry = -1;
    bool operator==(const RowKey&) const = default;
  };
  RowKey KeyOf(const QModelIndex& index) const;
  // The row of `key` in column 0, or an invalid index when it is not shown.
  QModelIndex Find(const RowKey& key) const;

  explicit CChangesModel(QObject* parent = nullptr);

  // The updates, newest first; the rows are rebuilt under the filter.
  void SetUpdates(std::vector<ChangeUpdate> updates);
  void SetFilter(const Filter& filter);
  const Filter& filter() const { return filter_; }

  // What a row stands for. `entry` is null for an update row.
  const ChangeUpdate* UpdateAt(const QModelIndex& index) const;
  const JournalEntry* EntryAt(const QModelIndex& index) const;
  // Whether a watch word matches the entry row.
  bool WatchedAt(const QModelIndex& index) const;
  // Entry rows shown, all updates together.
  std::size_t EntryRowCount() const { return entryRows_; }

  // The rows the filter lets through, for export: each shown update with
  // the indices of its shown entries.
  struct ShownUpdate {
    std::uint32_t update;
    std::vector<std::uint32_t> entries;
  };
  const std::vector<ShownUpdate>& shown() const { return rows_; }
  const std::vector<ChangeUpdate>& updates() const { return updates_; }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  // Entry rows never have children: the tree's expand-all (and the "*"
  // key) then keeps no persistent index per entry.
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Texts shared with the export.
  static QString OutcomeText(JournalRecord::Outcome outcome);
  static QString KindText(JournalEntry::Kind kind);
  static QString TimeText(std::int64_t seconds);
  // "+3 −1 ~2".
  static QString CountsText(const JournalRecord& record);
  // "连接被拒绝 — <the server's words>", empty without a failure.
  static QString ErrorText(const ChangeUpdate& update);

 private:
  void Rebuild();
  QVariant UpdateData(const ChangeUpdate& update, int column, int role) const;
  QVariant EntryData(const ChangeUpdate& update, std::size_t entry, int column, int role) const;

  std::vector<ChangeUpdate> updates_;
  std::vector<ShownUpdate> rows_;
  std::size_t entryRows_ = 0;
  Filter filter_;
};

}  // namespace orvane
