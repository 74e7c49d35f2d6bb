#include "frame/sites_overview_model.h"

#include <QDateTime>
#include <ctime>
#include <iterator>

#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "views/display_text.h"
#include "views/file_list_model.h"
#include "views/health_text.h"
#include "views/plain_tip.h"

namespace orvane {

namespace {

const char* const kHeaders[] = {
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "站点"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "地址"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "上次更新"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "用时"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "项数"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "大小"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "新项"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "上次错误"),
    QT_TRANSLATE_NOOP("orvane::CSitesOverviewModel", "出错时间"),
};
static_assert(std::size(kHeaders) == CSitesOverviewModel::kColumnCount);

QString Address(const CFTPSite& site) {
  QString host = SiteText(site.host);
  if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');
  return site.port == 21 ? host : host + QLatin1Char(':') + QString::number(site.port);
}

}  // namespace

CSitesOverviewModel::CSitesOverviewModel(COrvaneDoc& doc, QObject* parent)
    : QAbstractTableModel(parent), doc_(doc) {}

int CSitesOverviewModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CSitesOverviewModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

void CSitesOverviewModel::Reload() {
  beginResetModel();
  rows_.clear();
  now_ = static_cast<std::int64_t>(std::time(nullptr));
  rows_.reserve(doc_.sites().size());
  for (const auto& site : doc_.sites()) {
    Row row;
    row.site = site;
    row.name = SiteText(site->nickname.empty() ? site->siteKey() : site->nickname);
    row.address = Address(*site);
    row.health = CHealthText::Current(*site, doc_.GetProgramDir());
    rows_.push_back(std::move(row));
  }
  endResetModel();
}

std::shared_ptr<CFTPSite> CSitesOverviewModel::SiteAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return rows_[static_cast<std::size_t>(row)].site;
}

QVariant CSitesOverviewModel::SortValue(const Row& row, int column) const {
  const std::optional<SiteHealth>& health = row.health;
  const bool succeeded = health && health->HasSucceeded();
  const bool failed = health && health->HasError();
  // Unknown sorts before every known value.
  const auto number = [](bool known, auto value) {
    return known ? QVariant(static_cast<qlonglong>(value)) : QVariant(qlonglong{-1});
  };
  switch (column) {
    case kName:
      return row.name;
    case kAddress:
      return row.address;
    case kLastUpdate:
      return number(succeeded, succeeded ? health->lastSuccess : 0);
    case kDuration:
      return number(succeeded, succeeded ? health->durationMs : 0);
    case kEntries:
      return number(succeeded, succeeded ? health->entries : 0);
    case kSize:
      // Sizes beyond the signed range do not occur in a catalog's total.
      return number(succeeded, succeeded ? health->bytes : 0);
    case kNew:
      return number(succeeded, succeeded ? health->newEntries : 0);
    case kLastError:
      return failed ? CHealthText::ErrorKind(health->errorKind) : QString();
    case kErrorTime:
      return number(failed, failed ? health->errorTime : 0);
    default:
      return {};
  }
}

QVariant CSitesOverviewModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const Row& row = rows_[static_cast<std::size_t>(index.row())];
  const int column = index.column();
  if (role == kSortRole) return SortValue(row, column);
  const std::optional<SiteHealth>& health = row.health;
  const bool succeeded = health && health->HasSucceeded();
  const bool failed = health && health->HasError();
  if (role == Qt::TextAlignmentRole) {
    const bool numeric =
        column == kDuration || column == kEntries || column == kSize || column == kNew;
    return numeric ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  }
  if (role == Qt::ToolTipRole) {
    // The whole error and the exact times behind the short cells.
    if (column == kLastError && failed) return PlainTip(CHealthText::LastError(health, now_));
    if (column == kLastUpdate && succeeded) {
      return QDateTime::fromSecsSinceEpoch(health->lastSuccess).toString(Qt::ISODate);
    }
    if (column == kErrorTime && failed) {
      return QDateTime::fromSecsSinceEpoch(health->errorTime).toString(Qt::ISODate);
    }
    return {};
  }
  if (role != Qt::DisplayRole) return {};
  switch (column) {
    case kName:
      return row.name;
    case kAddress:
      return row.address;
    case kLastUpdate:
      return succeeded ? CHealthText::Ago(health->lastSuccess, now_) : tr("从未更新");
    case kDuration:
      return succeeded ? CHealthText::Duration(health->durationMs) : QString();
    case kEntries:
      return succeeded ? CHealthText::Count(health->entries) : QString();
    case kSize:
      return succeeded ? CFileListModel::FormatSize(health->bytes) : QString();
    case kNew:
      return succeeded ? CHealthText::Count(health->newEntries) : QString();
    case kLastError:
      if (!failed) return QString();
      return health->errorText.empty()
                 ? CHealthText::ErrorKind(health->errorKind)
                 : CHealthText::ErrorKind(health->errorKind) + QStringLiteral(": ") +
                       NameText(health->errorText, NameCharset::kUtf8).simplified();
    case kErrorTime:
      return failed ? CHealthText::Ago(health->errorTime, now_) : QString();
    default:
      return {};
  }
}

QVariant CSitesOverviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return tr(kHeaders[section]);
  return {};
}

}  // namespace orvane
