#include "frame/changes_model.h"

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <algorithm>

#include "views/display_text.h"
#include "views/file_list_model.h"
#include "views/health_text.h"
#include "views/plain_tip.h"

namespace orvane {

namespace {

// Watch-word hits stand out against both the light and the alternate rows.
const QColor kWatchedBackground(255, 236, 160);

QString SizeText(const JournalEntry& entry) {
  switch (entry.kind) {
    case JournalEntry::Kind::kResized:
      return CFileListModel::FormatSize(entry.oldSize) + QStringLiteral(" → ") +
             CFileListModel::FormatSize(entry.size);
    case JournalEntry::Kind::kRemoved:
      if (entry.isDirectory) {
        return CChangesModel::tr("目录，含 %n 项", nullptr, static_cast<int>(entry.below));
      }
      return CFileListModel::FormatSize(entry.size);
    case JournalEntry::Kind::kAdded:
      return entry.isDirectory ? CChangesModel::tr("目录") : CFileListModel::FormatSize(entry.size);
  }
  return {};
}

QChar KindSign(JournalEntry::Kind kind) {
  switch (kind) {
    case JournalEntry::Kind::kAdded:
      return QLatin1Char('+');
    case JournalEntry::Kind::kRemoved:
      return QChar(0x2212);
    case JournalEntry::Kind::kResized:
      return QLatin1Char('~');
  }
  return QLatin1Char('?');
}

}  // namespace

CChangesModel::CChangesModel(QObject* parent) : QAbstractItemModel(parent) {}

void CChangesModel::SetUpdates(std::vector<ChangeUpdate> updates) {
  beginResetModel();
  updates_ = std::move(updates);
  Rebuild();
  endResetModel();
}

void CChangesModel::SetFilter(const Filter& filter) {
  if (filter == filter_) return;
  beginResetModel();
  filter_ = filter;
  Rebuild();
  endResetModel();
}

void CChangesModel::Rebuild() {
  rows_.clear();
  entryRows_ = 0;
  const bool everyKind = filter_.added && filter_.removed && filter_.resized;
  for (std::size_t u = 0; u < updates_.size(); ++u) {
    const ChangeUpdate& update = updates_[u];
    if (!filter_.siteKey.empty() && update.siteKey != filter_.siteKey) continue;
    if (update.record.endTime < filter_.from || update.record.endTime > filter_.to) continue;
    const JournalRecord& record = update.record;
    if (filter_.hideUnchanged && record.outcome == JournalRecord::Outcome::kSucceeded &&
        record.added == 0 && record.removed == 0 && record.resized == 0) {
      continue;
    }
    ShownUpdate row{static_cast<std::uint32_t>(u), {}};
    const std::vector<JournalEntry>& entries = update.record.entries;
    row.entries.reserve(everyKind ? entries.size() : 0);
    for (std::size_t e = 0; e < entries.size(); ++e) {
      const JournalEntry::Kind kind = entries[e].kind;
      const bool wanted = (kind == JournalEntry::Kind::kAdded && filter_.added) ||
                          (kind == JournalEntry::Kind::kRemoved && filter_.removed) ||
                          (kind == JournalEntry::Kind::kResized && filter_.resized);
      if (wanted) row.entries.push_back(static_cast<std::uint32_t>(e));
    }
    if (!everyKind && row.entries.empty()) continue;
    entryRows_ += row.entries.size();
    rows_.push_back(std::move(row));
  }
}

CChangesModel::RowKey CChangesModel::KeyOf(const QModelIndex& index) const {
  const ChangeUpdate* update = UpdateAt(index);
  if (!update) return {};
  RowKey key{update->siteKey, update->record.startTime, update->record.endTime, -1};
  if (index.internalId() != 0) {
    key.entry = static_cast<int>(
        rows_[index.internalId() - 1].entries[static_cast<std::size_t>(index.row())]);
  }
  return key;
}

QModelIndex CChangesModel::Find(const RowKey& key) const {
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    const JournalRecord& record = updates_[rows_[row].update].record;
    if (record.startTime != key.start || record.endTime != key.end ||
        updates_[rows_[row].update].siteKey != key.siteKey) {
      continue;
    }
    const QModelIndex update = index(static_cast<int>(row), 0);
    if (key.entry < 0) return update;
    const std::vector<std::uint32_t>& entries = rows_[row].entries;
    const auto at =
        std::lower_bound(entries.begin(), entries.end(), static_cast<std::uint32_t>(key.entry));
    if (at == entries.end() || *at != static_cast<std::uint32_t>(key.entry)) return {};
    return index(static_cast<int>(at - entries.begin()), 0, update);
  }
  return {};
}

const ChangeUpdate* CChangesModel::UpdateAt(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  const std::size_t row =
      index.internalId() == 0 ? static_cast<std::size_t>(index.row()) : index.internalId() - 1;
  return row < rows_.size() ? &updates_[rows_[row].update] : nullptr;
}

const JournalEntry* CChangesModel::EntryAt(const QModelIndex& index) const {
  if (!index.isValid() || index.internalId() == 0) return nullptr;
  const ShownUpdate& row = rows_[index.internalId() - 1];
  return &updates_[row.update].record.entries[row.entries[static_cast<std::size_t>(index.row())]];
}

bool CChangesModel::WatchedAt(const QModelIndex& index) const {
  if (!index.isValid() || index.internalId() == 0) return false;
  const ShownUpdate& row = rows_[index.internalId() - 1];
  const ChangeUpdate& update = updates_[row.update];
  const std::uint32_t entry = row.entries[static_cast<std::size_t>(index.row())];
  return entry < update.watched.size() && update.watched[entry];
}

QModelIndex CChangesModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= kColumnCount) return {};
  if (!parent.isValid()) {
    if (static_cast<std::size_t>(row) >= rows_.size()) return {};
    return createIndex(row, column, quintptr{0});
  }
  if (parent.internalId() != 0) return {};
  const std::size_t up = static_cast<std::size_t>(parent.row());
  if (up >= rows_.size() || static_cast<std::size_t>(row) >= rows_[up].entries.size()) return {};
  return createIndex(row, column, static_cast<quintptr>(up + 1));
}

QModelIndex CChangesModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || child.internalId() == 0) return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr{0});
}

int CChangesModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(rows_.size());
  if (parent.internalId() != 0 || parent.column() != 0) return 0;
  return static_cast<int>(rows_[static_cast<std::size_t>(parent.row())].entries.size());
}

int CChangesModel::columnCount(const QModelIndex&) const { return kColumnCount; }

bool CChangesModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

Qt::ItemFlags CChangesModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractItemModel::flags(index);
  if (index.isValid() && index.internalId() != 0) flags |= Qt::ItemNeverHasChildren;
  return flags;
}

QVariant CChangesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (index.internalId() == 0) {
    return UpdateData(updates_[rows_[static_cast<std::size_t>(index.row())].update], index.column(),
                      role);
  }
  const ShownUpdate& row = rows_[index.internalId() - 1];
  return EntryData(updates_[row.update], row.entries[static_cast<std::size_t>(index.row())],
                   index.column(), role);
}

QVariant CChangesModel::UpdateData(const ChangeUpdate& update, int column, int role) const {
  const JournalRecord& record = update.record;
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case kWhatColumn:
          return TimeText(record.endTime);
        case kCountColumn: {
          QString text = CountsText(record);
          if (update.watchMatches > 0) {
            text +=
                QLatin1Char(' ') + tr("关注 %n", nullptr, static_cast<int>(update.watchMatches));
          }
          return text;
        }
        case kSiteColumn:
          return update.siteLabel;
        case kOutcomeColumn: {
          const QString outcome = record.summary
                                      ? tr("%1（首次更新）").arg(OutcomeText(record.outcome))
                                      : OutcomeText(record.outcome);
          const QString error = ErrorText(update);
          return error.isEmpty() ? outcome : tr("%1：%2").arg(outcome, error);
        }
        default:
          return {};
      }
    case Qt::ToolTipRole:
      // The whole error behind the cell a narrow column cuts.
      return column == kOutcomeColumn ? PlainTip(ErrorText(update)) : QVariant();
    case Qt::FontRole:
      if (update.watchMatches == 0) return {};
      {
        QFont font;
        font.setBold(true);
        return font;
      }
    case kSiteKeyRole:
      return QByteArray::fromStdString(update.siteKey);
    case kKindRole:
      return 0;
    default:
      return {};
  }
}

QVariant CChangesModel::EntryData(const ChangeUpdate& update, std::size_t e, int column,
                                  int role) const {
  const JournalEntry& entry = update.record.entries[e];
  const bool watched = e < update.watched.size() && update.watched[e];
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case kWhatColumn:
          return KindSign(entry.kind) + QLatin1Char(' ') + DisplayPath(entry.path, update.charset);
        case kCountColumn:
          return SizeText(entry);
        case kSiteColumn:
          return KindText(entry.kind);
        default:
          return {};
      }
    case Qt::FontRole: {
      if (!watched && entry.kind != JournalEntry::Kind::kRemoved) return {};
      QFont font;
      font.setBold(watched);
      font.setStrikeOut(entry.kind == JournalEntry::Kind::kRemoved);
      return font;
    }
    case Qt::BackgroundRole:
      return watched ? QVariant(kWatchedBackground) : QVariant();
    case Qt::ToolTipRole:
      return column == kWhatColumn ? PlainTip(DisplayPath(entry.path, update.charset)) : QVariant();
    case kKindRole:
      return static_cast<int>(entry.kind);
    case kPathRole:
      return QByteArray::fromStdString(entry.path);
    case kSiteKeyRole:
      return QByteArray::fromStdString(update.siteKey);
    case kWatchedRole:
      return watched;
    default:
      return {};
  }
}

QVariant CChangesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kWhatColumn:
      return tr("时间 / 路径");
    case kCountColumn:
      return tr("变化 / 大小");
    case kSiteColumn:
      return tr("站点 / 种类");
    case kOutcomeColumn:
      return tr("结果");
    default:
      return {};
  }
}

QString CChangesModel::OutcomeText(JournalRecord::Outcome outcome) {
  switch (outcome) {
    case JournalRecord::Outcome::kSucceeded:
      return tr("成功");
    case JournalRecord::Outcome::kStopped:
      return tr("已终止");
    case JournalRecord::Outcome::kBrokenOff:
      return tr("部分完成");
    case JournalRecord::Outcome::kFailed:
      return tr("失败");
  }
  return {};
}

QString CChangesModel::KindText(JournalEntry::Kind kind) {
  switch (kind) {
    case JournalEntry::Kind::kAdded:
      return tr("新增");
    case JournalEntry::Kind::kRemoved:
      return tr("删除");
    case JournalEntry::Kind::kResized:
      return tr("大小改变");
  }
  return {};
}

QString CChangesModel::TimeText(std::int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString CChangesModel::CountsText(const JournalRecord& record) {
  return QStringLiteral("+%1 %2%3 ~%4")
      .arg(record.added)
      .arg(QChar(0x2212))
      .arg(record.removed)
      .arg(record.resized);
}

QString CChangesModel::ErrorText(const ChangeUpdate& update) {
  if (update.errorKind.empty()) return {};
  QString text = CHealthText::ErrorKind(update.errorKind);
  if (!update.errorText.empty()) {
    text += QStringLiteral(" — ") + NameText(update.errorText, NameCharset::kUtf8).simplified();
  }
  return text;
}

}  // namespace orvane
