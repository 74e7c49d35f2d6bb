#include "views/dir_tree_model.h"

#include <QFont>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <mutex>
#include <optional>
#include <unordered_set>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "views/display_text.h"
#include "views/health_text.h"
#include "views/plain_tip.h"
#include "views/state_icons.h"

namespace orvane {

struct CDirTreeModel::Item {
  CFTPDir* dir = nullptr;
  CFTPSite* site = nullptr;  // the directory's site (looked up once)
  Item* parent = nullptr;
  int row = 0;
  int state = kNeverUpdated;  // site items: the updateState last drawn
  bool siteItem = false;
  bool bold = false;
  bool filled = false;
  // The one child of a site item whose catalog the site store is reading.
  bool loadingRow = false;
  std::vector<std::unique_ptr<Item>> children;

  bool Loading() const { return children.size() == 1 && children.front()->loadingRow; }
};

namespace {

// Counts a change of the model's own for as long as it is announced.
class ChangeScope {
 public:
  explicit ChangeScope(int& depth) : depth_(depth) { ++depth_; }
  ~ChangeScope() { --depth_; }
  ChangeScope(const ChangeScope&) = delete;
  ChangeScope& operator=(const ChangeScope&) = delete;

 private:
  int& depth_;
};

QString SiteLabel(const CFTPSite& site) {
  return SiteText(site.nickname.empty() ? site.siteKey() : site.nickname);
}

}  // namespace

CDirTreeModel::CDirTreeModel(COrvaneDoc& doc, QObject* parent)
    : QAbstractItemModel(parent), doc_(doc), root_(std::make_unique<Item>()) {
  root_->filled = true;
}

CDirTreeModel::~CDirTreeModel() = default;

CDirTreeModel::Item* CDirTreeModel::ItemAt(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Item*>(index.internalPointer()) : root_.get();
}

QModelIndex CDirTreeModel::IndexOf(const Item* item) const {
  if (!item || item == root_.get()) return {};
  return createIndex(item->row, 0, const_cast<Item*>(item));
}

QModelIndex CDirTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0 || (parent.isValid() && parent.column() != 0)) return {};
  const Item* item = ItemAt(parent);
  if (static_cast<std::size_t>(row) >= item->children.size()) return {};
  return createIndex(row, 0, item->children[static_cast<std::size_t>(row)].get());
}

QModelIndex CDirTreeModel::parent(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  return IndexOf(ItemAt(index)->parent);
}

int CDirTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return static_cast<int>(ItemAt(parent)->children.size());
}

int CDirTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CDirTreeModel::hasChildren(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return false;
  const Item* item = ItemAt(parent);
  if (!item->children.empty()) return true;
  // A site keeps its expand button even with an empty catalog, so it can be
  // expanded again after an update has filled it.
  // Any other item that is not filled may have some: it is filled when
  // expanded (and loses the button if it has none).
  return item->siteItem || !item->filled;
}

bool CDirTreeModel::canFetchMore(const QModelIndex& parent) const {
  return parent.isValid() && parent.column() == 0 && !ItemAt(parent)->filled;
}

void CDirTreeModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  if (changing_) {
    // Asked from inside a change notice (by a view or a model checker): a
    // change may not start before the running one has ended.
    QTimer::singleShot(0, this, [this, index = QPersistentModelIndex(parent)] {
      if (index.isValid()) fetchMore(index);
    });
    return;
  }
  Item* item = ItemAt(parent);
  if (!RequestCatalogOf(parent)) {
    ShowLoading(item, parent);
    return;
  }
  Fill(item, parent);
}

bool CDirTreeModel::RequestCatalogOf(const QModelIndex& index) {
  const CFTPSite* site = SiteAt(index);
  return !site || doc_.RequestCatalog(*site);
}

void CDirTreeModel::ShowLoading(Item* item, const QModelIndex& index) {
  item->filled = true;
  if (!item->children.empty()) return;
  auto row = std::make_unique<Item>();
  row->site = item->site;
  row->parent = item;
  row->filled = true;
  row->loadingRow = true;
  ChangeScope scope(changing_);
  beginInsertRows(index, 0, 0);
  item->children.push_back(std::move(row));
  endInsertRows();
}

void CDirTreeModel::CatalogLoaded(const CFTPSite* site) {
  for (const auto& item : root_->children) {
    if (item->site != site || !item->Loading()) continue;
    const QModelIndex index = IndexOf(item.get());
    DropChildren(item.get(), index);
    Fill(item.get(), index);
  }
}

Qt::ItemFlags CDirTreeModel::flags(const QModelIndex& index) const {
  // The loading row cannot be chosen: it stands for no directory.
  if (index.isValid() && ItemAt(index)->loadingRow) return Qt::ItemIsEnabled;
  return QAbstractItemModel::flags(index);
}

void CDirTreeModel::Fill(Item* item, const QModelIndex& index) {
  item->filled = true;
  if (!item->dir) return;
  // The catalog's own lists change under a worker; the items are made from
  // a copy taken under the site's lock.
  const std::vector<CFTPDir*> snapshot = SnapshotChildren(*item->dir, item->site).dirs;
  if (snapshot.empty()) return;
  ChangeScope scope(changing_);
  beginInsertRows(index, 0, static_cast<int>(snapshot.size()) - 1);
  item->children.reserve(snapshot.size());
  for (CFTPDir* dir : snapshot) {
    auto sub = std::make_unique<Item>();
    sub->dir = dir;
    sub->site = item->site;
    sub->parent = item;
    sub->row = static_cast<int>(item->children.size());
    sub->bold = dir->readState.load(std::memory_order_relaxed) != 0;
    item->children.push_back(std::move(sub));
  }
  endInsertRows();
}

// The item counts as filled until its rows are gone: a view or tester that
// reacts to the removal must not fetch into the item meanwhile.
void CDirTreeModel::DropChildren(Item* item, const QModelIndex& index) {
  if (!item->children.empty()) {
    ChangeScope scope(changing_);
    beginRemoveRows(index, 0, static_cast<int>(item->children.size()) - 1);
    item->children.clear();
    endRemoveRows();
  }
  item->filled = false;
}

void CDirTreeModel::FollowCatalog(const CFTPSite* site) {
  for (const auto& item : root_->children) {
    if (item->site != site) continue;
    Reconcile(item.get(), IndexOf(item.get()));
  }
}

// The catalog only ever appends directories and removes them, so the items
// kept are in catalog order already and the new ones are inserted between
// them in runs, one notice per run. Should the orders still disagree (a
// catalog read again from disk in another order), the item is filled anew.
void CDirTreeModel::Reconcile(Item* item, const QModelIndex& index) {
  // A branch still loading is filled when its catalog has come.
  if (!item->filled || !item->dir || item->Loading()) return;
  const std::vector<CFTPDir*> snapshot = SnapshotChildren(*item->dir, item->site).dirs;
  const std::unordered_set<const CFTPDir*> present(snapshot.begin(), snapshot.end());
  auto& children = item->children;
  ChangeScope scope(changing_);
  for (std::size_t i = children.size(); i-- > 0;) {
    if (present.count(children[i]->dir)) continue;
    beginRemoveRows(index, static_cast<int>(i), static_cast<int>(i));
    children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
    for (std::size_t j = i; j < children.size(); ++j) children[j]->row = static_cast<int>(j);
    endRemoveRows();
  }
  std::unordered_set<const CFTPDir*> kept;
  kept.reserve(children.size());
  for (const auto& child : children) kept.insert(child->dir);
  std::size_t pos = 0;
  for (std::size_t k = 0; k < snapshot.size();) {
    if (pos < children.size() && children[pos]->dir == snapshot[k]) {
      ++pos;
      ++k;
      continue;
    }
    if (kept.count(snapshot[k])) {
      DropChildren(item, index);
      Fill(item, index);
      return;
    }
    std::size_t end = k;
    while (end < snapshot.size() && !kept.count(snapshot[end])) ++end;
    const auto count = static_cast<int>(end - k);
    beginInsertRows(index, static_cast<int>(pos), static_cast<int>(pos) + count - 1);
    std::vector<std::unique_ptr<Item>> added;
    added.reserve(end - k);
    for (; k < end; ++k) {
      auto sub = std::make_unique<Item>();
      sub->dir = snapshot[k];
      sub->site = item->site;
      sub->parent = item;
      added.push_back(std::move(sub));
    }
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(pos),
                    std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    for (std::size_t j = pos; j < children.size(); ++j) children[j]->row = static_cast<int>(j);
    pos += static_cast<std::size_t>(count);
    endInsertRows();
  }
  if (children.empty()) return;
  // Marks set by the update (or cleared by another process) show as bold.
  emit dataChanged(IndexOf(children.front().get()), IndexOf(children.back().get()), {Qt::FontRole});
  for (const auto& child : children) {
    if (child->filled) Reconcile(child.get(), IndexOf(child.get()));
  }
}

QVariant CDirTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const Item* item = ItemAt(index);
  if (item->loadingRow) return role == Qt::DisplayRole ? QVariant(tr("正在读取…")) : QVariant();
  switch (role) {
    case Qt::DisplayRole:
      if (item->siteItem) return SiteLabel(*item->site);
      return NameText(item->dir->name(), CharsetOf(item->site));
    case Qt::DecorationRole:
      return item->siteItem ? CStateIcons::SiteStateIcon(item->state) : CStateIcons::FolderIcon();
    case Qt::FontRole:
      // A directory is bold while its new mark is set, so the clearing
      // commands show at the next paint; a site item follows its flag as
      // UpdateSiteItem last saw it.
      if (item->siteItem ? item->bold : item->dir->readState.load(std::memory_order_relaxed) != 0) {
        QFont font;
        font.setBold(true);
        return font;
      }
      return {};
    case Qt::ToolTipRole:
      if (item->siteItem) {
        using Outcome = SiteStatus::Outcome;
        const SiteStatus status = item->site->Status();
        QString tip;
        // Before any update in this run the record says more than "not
        // updated"; after one, this run's status comes first.
        if (status.outcome != Outcome::kNone) tip = StatusTip(status) + QLatin1Char('\n');
        // A running crawl's progress, read when the tip shows.
        if (status.outcome == Outcome::kConnected) {
          tip += tr("已列出 %1 个目录, %2 个条目")
                     .arg(item->site->dirsListed.load(std::memory_order_relaxed))
                     .arg(item->site->entriesListed.load(std::memory_order_relaxed)) +
                 QLatin1Char('\n');
        }
        // The record is a few hundred bytes, read when the tip shows, so a
        // record another process wrote shows too.
        const std::optional<SiteHealth> health =
            CHealthText::Current(*item->site, doc_.GetProgramDir());
        const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
        tip += CHealthText::Summary(health, now);
        // The last error, unless this run's failure already says it.
        const bool failedNow =
            status.outcome == Outcome::kFailed || status.outcome == Outcome::kNoSession ||
            status.outcome == Outcome::kBrokenOff || status.outcome == Outcome::kResuming;
        if (health && health->Failing() && !failedNow) {
          tip += QLatin1Char('\n') + CHealthText::LastError(health, now);
        }
        const NameCharset chosen = item->site->charset.load();
        const NameCharset decided = item->site->decidedCharset.load();
        if (chosen != NameCharset::kAuto) {
          tip += QLatin1Char('\n') + tr("文件名编码：%1").arg(CharsetLabel(chosen));
        } else if (decided != NameCharset::kAuto) {
          tip += QLatin1Char('\n') + tr("文件名编码：%1（自动）").arg(CharsetLabel(decided));
        }
        const SiteAccess access = item->site->Access();
        if (access.protocol != SiteProtocol::kFtp) {
          tip += QLatin1Char('\n') +
                 tr("协议：%1").arg(QString::fromLatin1(ProtocolName(access.protocol)));
        }
        if (!access.pin.empty()) {
          tip += QLatin1Char('\n') +
                 tr("已接受的服务器密钥：%1").arg(QString::fromStdString(access.pin));
        }
        return PlainTip(tip);
      }
      return {};
    default:
      return {};
  }
}

void CDirTreeModel::ReloadSites() {
  ChangeScope scope(changing_);
  beginResetModel();
  root_->children.clear();
  std::vector<std::pair<QString, CFTPSite*>> sites;
  sites.reserve(doc_.sites().size());
  for (const auto& site : doc_.sites()) sites.emplace_back(SiteLabel(*site), site.get());
  std::stable_sort(sites.begin(), sites.end(), [](const auto& a, const auto& b) {
    return QString::localeAwareCompare(a.first, b.first) < 0;
  });
  for (const auto& [label, site] : sites) {
    auto item = std::make_unique<Item>();
    item->siteItem = true;
    item->site = site;
    item->dir = site->rootDir.get();
    item->parent = root_.get();
    item->row = static_cast<int>(root_->children.size());
    item->state = site->updateState.load();
    item->bold = site->hasNewEntries.load();
    root_->children.push_back(std::move(item));
  }
  endResetModel();
}

int CDirTreeModel::SortedRow(const QString& label, const Item* except) const {
  // The top level other than `except` is sorted, so a binary search finds
  // the place: after the equal labels, as the stable sort of ReloadSites
  // places a site that comes later in the list.
  const auto& children = root_->children;
  const bool skip = except && except->parent == root_.get();
  const auto at = [&](std::size_t i) -> const Item& {
    return *children[skip && i >= static_cast<std::size_t>(except->row) ? i + 1 : i];
  };
  std::size_t low = 0;
  std::size_t high = children.size() - (skip ? 1 : 0);
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (QString::localeAwareCompare(SiteLabel(*at(middle).site), label) > 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return static_cast<int>(low);
}

void CDirTreeModel::InsertSite(CFTPSite* site) {
  const int row = SortedRow(SiteLabel(*site), nullptr);
  auto item = std::make_unique<Item>();
  item->siteItem = true;
  item->site = site;
  item->dir = site->rootDir.get();
  item->parent = root_.get();
  item->state = site->updateState.load();
  item->bold = site->hasNewEntries.load();
  ChangeScope scope(changing_);
  beginInsertRows({}, row, row);
  auto& children = root_->children;
  children.insert(children.begin() + row, std::move(item));
  for (std::size_t j = static_cast<std::size_t>(row); j < children.size(); ++j) {
    children[j]->row = static_cast<int>(j);
  }
  endInsertRows();
}

void CDirTreeModel::SiteEdited(const CFTPSite* site) {
  const QModelIndex index = SiteIndex(site);
  if (!index.isValid()) return;
  auto& children = root_->children;
  const int from = index.row();
  const int to = SortedRow(SiteLabel(*site), children[static_cast<std::size_t>(from)].get());
  if (to != from) {
    ChangeScope scope(changing_);
    // Qt counts the destination before the move.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    auto moved = std::move(children[static_cast<std::size_t>(from)]);
    children.erase(children.begin() + from);
    children.insert(children.begin() + to, std::move(moved));
    for (std::size_t j = 0; j < children.size(); ++j) children[j]->row = static_cast<int>(j);
    endMoveRows();
  }
  UpdateSiteItem(site);
  const QModelIndex moved = SiteIndex(site);
  emit dataChanged(moved, moved, {Qt::DisplayRole});
}

QModelIndex CDirTreeModel::SiteIndex(const CFTPSite* site) const {
  for (const auto& item : root_->children) {
    if (item->site == site) return IndexOf(item.get());
  }
  return {};
}

void CDirTreeModel::UpdateSiteItem(const CFTPSite* site) {
  for (const auto& item : root_->children) {
    if (item->site != site) continue;
    item->state = site->updateState.load();
    item->bold = site->hasNewEntries.load();
    const QModelIndex index = IndexOf(item.get());
    emit dataChanged(index, index, {Qt::DecorationRole, Qt::FontRole, Qt::ToolTipRole});
    return;
  }
}

void CDirTreeModel::Refill(const QModelIndex& index) {
  if (!index.isValid()) return;
  Item* item = ItemAt(index);
  if (!RequestCatalogOf(index)) {
    ShowLoading(item, index);
    return;
  }
  DropChildren(item, index);
  Fill(item, index);
}

void CDirTreeModel::Collapse(const QModelIndex& index) {
  if (!index.isValid()) return;
  DropChildren(ItemAt(index), index);
}

void CDirTreeModel::ClearBold(const QModelIndex& index) {
  if (!index.isValid()) return;
  Item* item = ItemAt(index);
  if (!item->bold) return;
  item->bold = false;
  emit dataChanged(index, index, {Qt::FontRole});
}

void CDirTreeModel::PurgeRemoved(const std::vector<const CFTPDir*>& dirs) {
  if (dirs.empty()) return;
  const std::unordered_set<const CFTPDir*> removed(dirs.begin(), dirs.end());
  Purge(root_.get(), {}, removed);
}

// Removed directories are whole subtrees, and an item's children are items
// of its directory's subdirectories, so removing the items of the removed
// directories themselves removes every item that reaches into them.
void CDirTreeModel::Purge(Item* item, const QModelIndex& index,
                          const std::unordered_set<const CFTPDir*>& removed) {
  auto& children = item->children;
  for (std::size_t i = children.size(); i-- > 0;) {
    if (removed.count(children[i]->dir)) {
      ChangeScope scope(changing_);
      beginRemoveRows(index, static_cast<int>(i), static_cast<int>(i));
      children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
      for (std::size_t j = i; j < children.size(); ++j) children[j]->row = static_cast<int>(j);
      endRemoveRows();
    } else if (!children[i]->children.empty()) {
      Purge(children[i].get(), IndexOf(children[i].get()), removed);
    }
  }
}

QString CDirTreeModel::FailureText(SiteStatus::Failure failure) {
  using Failure = SiteStatus::Failure;
  switch (failure) {
    case Failure::kRefused:
      return tr("服务器拒绝连接（该主机和端口上没有FTP服务器在运行）");
    case Failure::kTimedOut:
      return tr("连接超时，服务器没有应答");
    case Failure::kLoginRefused:
      return tr("服务器拒绝登录，请检查用户名和密码");
    case Failure::kHostNotFound:
      return tr("找不到主机");
    case Failure::kClosed:
      return tr("服务器关闭了连接");
    case Failure::kServerError:
      return tr("服务器拒绝了命令或回复无法识别");
    case Failure::kBusyElsewhere:
      return tr("另一个程序正在更新这个站点");
    case Failure::kUntrusted:
      return tr("服务器的证书或主机密钥不受信任，什么也没有发送给它");
    case Failure::kNone:
    case Failure::kOther:
      break;
  }
  return {};
}

QString CDirTreeModel::StatusTip(const SiteStatus& status) {
  using Outcome = SiteStatus::Outcome;
  QString error = QString::fromStdString(std::string(TruncateUtf8(status.errorText, 1000)));
  // A known kind of failure is said in the user's language; what the
  // server or the system said follows as the detail.
  if (const QString kind = FailureText(status.failure); !kind.isEmpty()) {
    error = status.failure == SiteStatus::Failure::kBusyElsewhere
                ? kind
                : kind + QLatin1Char('\n') + tr("详细信息: %1").arg(error);
  }
  QString tip;
  switch (status.outcome) {
    case Outcome::kNone:
      tip = tr("未更新");
      break;
    case Outcome::kWaiting:
      tip = tr("正在等待更新...");
      break;
    case Outcome::kConnecting:
      tip = tr("正在连接...");
      break;
    case Outcome::kConnected:
      tip = tr("已连接,正在更新...");
      break;
    case Outcome::kSucceeded:
      tip = tr("更新成功");
      break;
    case Outcome::kFailed:
      tip = tr("更新失败:\n%1").arg(error);
      break;
    case Outcome::kNoSession:
      tip = tr("更新失败:\n创建Internet会话失败");
      break;
    case Outcome::kStopped:
      tip = tr("更新终止！");
      break;
    case Outcome::kStoppedQueued:
      tip = tr("更新终止!");
      break;
    case Outcome::kBrokenOff:
      tip = tr("更新意外终止:\n%1").arg(error);
      break;
    case Outcome::kResuming:
      tip = tr("更新意外终止:\n%1\t等待继续更新").arg(error);
      break;
  }
  const CrawlCounts& counts = status.counts;
  if (counts.dirsNotEntered)
    tip += QLatin1Char('\n') + tr("未能进入的目录: %1").arg(counts.dirsNotEntered);
  if (counts.listingsIncomplete) {
    tip += QLatin1Char('\n') + tr("未读完的目录列表: %1").arg(counts.listingsIncomplete);
  }
  if (counts.namesSkipped) tip += QLatin1Char('\n') + tr("跳过的名称: %1").arg(counts.namesSkipped);
  return tip;
}

CFTPDir* CDirTreeModel::DirectoryAt(const QModelIndex& index) const {
  return index.isValid() ? ItemAt(index)->dir : nullptr;
}

CFTPSite* CDirTreeModel::SiteAt(const QModelIndex& index) const {
  return index.isValid() ? ItemAt(index)->site : nullptr;
}

bool CDirTreeModel::IsSiteItem(const QModelIndex& index) const {
  return index.isValid() && ItemAt(index)->siteItem;
}

bool CDirTreeModel::IsFilled(const QModelIndex& index) const {
  return index.isValid() && ItemAt(index)->filled;
}

QModelIndex CDirTreeModel::FindItem(const CFTPDir* dir) const {
  std::vector<const CFTPDir*> chain;
  for (const CFTPDir* d = dir; d; d = d->parent) chain.push_back(d);
  if (chain.empty()) return {};
  const Item* item = root_.get();
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const auto found = std::find_if(item->children.begin(), item->children.end(),
                                    [d = *it](const auto& child) { return child->dir == d; });
    if (found == item->children.end()) break;
    item = found->get();
  }
  return IndexOf(item);
}

}  // namespace orvane
