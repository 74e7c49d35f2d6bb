#include "views/file_list_model.h"

#include <QColor>
#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_protocol.h"
#include "document/ftp_address.h"
#include "views/display_text.h"
#include "views/state_icons.h"

namespace orvane {

static_assert(alignof(CFTPDir) > 1 && alignof(CFTPFile) > 1);

QColor CFileListModel::NewRowColor() { return QColor(255, 123, 23); }

CFileListModel::CFileListModel(QObject* parent) : QAbstractTableModel(parent) {}

CFileListModel::Rows CFileListModel::MakeRows(const std::vector<CFTPDir*>& dirs,
                                              const std::vector<CFTPFile*>& files) {
  Rows made;
  made.rows.reserve(dirs.size() + files.size());
  for (CFTPDir* dir : dirs) {
    if (dir) made.rows.push_back(reinterpret_cast<std::uintptr_t>(dir));
  }
  made.dirRows = static_cast<int>(made.rows.size());
  for (CFTPFile* file : files) {
    if (file) made.rows.push_back(reinterpret_cast<std::uintptr_t>(file) | kFileTag);
  }
  return made;
}

std::optional<std::uint64_t> CFileListModel::SumBytes(const std::vector<CFTPFile*>& files,
                                                      const std::atomic<bool>* stop) {
  constexpr std::size_t kStopEvery = 4096;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (stop && i % kStopEvery == 0 && stop->load(std::memory_order_relaxed)) return {};
    if (files[i]) total += files[i]->size.load(std::memory_order_relaxed);
  }
  return total;
}

QModelIndex CFileListModel::index(int row, int column, const QModelIndex& parent) const {
  // Not a virtual call.
  if (parent.isValid() || row < 0 || row >= CFileListModel::rowCount() || column < 0 ||
      column >= kColumnCount) {
    return {};
  }
  return createIndex(row, column);
}

Qt::ItemFlags CFileListModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

std::optional<std::uint64_t> CFileListModel::FileBytes() const {
  if (fileBytesAwaited_) return {};
  if (fileBytes_) return fileBytes_;
  std::uint64_t total = 0;
  if (mode_ == Mode::kWelcome) return total;
  for (std::size_t row = static_cast<std::size_t>(dirRows_); row < rows_.size(); ++row) {
    const std::uintptr_t bits = rows_[row];
    if (bits & kFileTag) {
      total += reinterpret_cast<const CFTPFile*>(bits & ~kFileTag)->size.load(
          std::memory_order_relaxed);
    }
  }
  return total;
}

void CFileListModel::SetFileBytes(std::uint64_t fill, std::optional<std::uint64_t> bytes) {
  if (fill != fills_ || !fileBytesAwaited_) return;
  fileBytesAwaited_ = false;
  fileBytes_ = bytes;
  emit fileBytesKnown();
}

void CFileListModel::ForgetFileBytes() {
  fileBytes_.reset();
  fileBytesAwaited_ = false;
}

int CFileListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return mode_ == Mode::kWelcome ? kWelcomeRows : static_cast<int>(rows_.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

CFTPDir* CFileListModel::DirAt(int row) const {
  if (mode_ == Mode::kWelcome || row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  const std::uintptr_t bits = rows_[static_cast<std::size_t>(row)];
  return (bits & kFileTag) ? nullptr : reinterpret_cast<CFTPDir*>(bits);
}

CFTPFile* CFileListModel::FileAt(int row) const {
  if (mode_ == Mode::kWelcome || row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  const std::uintptr_t bits = rows_[static_cast<std::size_t>(row)];
  return (bits & kFileTag) ? reinterpret_cast<CFTPFile*>(bits & ~kFileTag) : nullptr;
}

std::string CFileListModel::DisplayPathAt(int row) const {
  if (const CFTPDir* dir = DirAt(row)) return dir->GetDisplayPath();
  if (const CFTPFile* file = FileAt(row)) return file->GetDisplayPath();
  return {};
}

QString CFileListModel::FormatSize(std::uint64_t size) {
  // Extended precision first, then single precision: the texts at the unit
  // boundaries (1048575 bytes is "1024.00K") depend on it.
  const auto scaled = [size](int shift) {
    const long double quotient =
        static_cast<long double>(size) / static_cast<long double>(std::uint64_t{1} << shift);
    return static_cast<double>(static_cast<float>(quotient));
  };
  if (size >= (std::uint64_t{1} << 40)) return QString::asprintf("%.2fT", scaled(40));
  if (size >= (std::uint64_t{1} << 30)) return QString::asprintf("%.2fG", scaled(30));
  if (size >= (std::uint64_t{1} << 20)) return QString::asprintf("%.2fM", scaled(20));
  if (size >= (std::uint64_t{1} << 10)) return QString::asprintf("%.2fK", scaled(10));
  return tr("%n字节", nullptr, static_cast<int>(size));
}

QString CFileListModel::DisplayAddress(const CFTPSite& site, std::string_view displayPath) {
  std::string_view key;
  std::string_view place;
  SplitDisplayPath(displayPath, key, place);
  // The copied address's scheme, port and start directory, decoded.
  const SiteAccess access = site.Access();
  const std::string_view scheme = AddressScheme(access.protocol);
  QString address = QString::fromLatin1(scheme.data(), static_cast<qsizetype>(scheme.size())) +
                    QStringLiteral("://");
  if (!site.IsAnonymous()) address += SiteText(site.userName) + QLatin1Char('@');
  // An IPv6 literal is bracketed, as in the copied address.
  const QString host = SiteText(site.host);
  const bool bracket = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['));
  address += bracket ? QLatin1Char('[') + host + QLatin1Char(']') : host;
  const std::uint32_t port = site.ConnectionPort();
  if (port != DefaultPort(access.protocol)) address += QLatin1Char(':') + QString::number(port);
  const NameCharset charset = site.NameCharsetInUse();
  if (access.startDir != "/") {
    address += DisplayPath(access.startDir, charset);
    if (place == "/") return address;
  }
  return address + DisplayPath(place, charset);
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int row = index.row();
  const int column = index.column();
  if (mode_ == Mode::kWelcome) {
    if (column != kNameColumn) return {};
    if (role == Qt::DecorationRole) return CStateIcons::FolderIcon();
    if (role != Qt::DisplayRole) return {};
    switch (row) {
      case 0:
        return tr("欢迎使用Orvane!");
      case 1:
        return tr("点击增加可以添加站点");
      case 2:
        return tr("点击更新可以更新站点");
      default:
        return tr("选择左边站点可以查看站点内容");
    }
  }
  const CFTPDir* dir = DirAt(row);
  const CFTPFile* file = FileAt(row);
  if (!dir && !file) return {};
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case kNameColumn:
          return NameText(dir ? dir->name() : file->name(),
                          CharsetOf(dir ? dir->GetSite() : file->GetSite()));
        case kSizeColumn:
          return dir ? QStringLiteral("0") : FormatSize(file->size.load(std::memory_order_relaxed));
        default: {
          const std::string path = dir ? dir->GetDisplayPath() : file->GetDisplayPath();
          const CFTPSite* site = dir ? dir->GetSite() : file->GetSite();
          return site ? DisplayAddress(*site, path) : DisplayPath(path, NameCharset::kUtf8);
        }
      }
    case Qt::ToolTipRole:
      // The exact byte count behind a rounded size.
      if (column != kSizeColumn || !file) return {};
      return tr("%1 字节").arg(file->size.load(std::memory_order_relaxed));
    case Qt::TextAlignmentRole:
      if (column != kSizeColumn) return {};
      return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::DecorationRole:
      if (column != kNameColumn) return {};
      return dir ? CStateIcons::FolderIcon() : CStateIcons::FileIcon(file->name());
    case Qt::BackgroundRole:
    case Qt::ForegroundRole: {
      const bool isNew = (dir ? dir->readState.load(std::memory_order_relaxed)
                              : file->readState.load(std::memory_order_relaxed)) != 0;
      if (!isNew) return {};
      const QColor background = NewRowColor();
      if (role == Qt::BackgroundRole) return background;
      // The default text colour of a dark theme is light and unreadable on
      // orange: choose by how light the background looks.
      const double luminance =
          0.299 * background.redF() + 0.587 * background.greenF() + 0.114 * background.blueF();
      return QColor(luminance > 0.5 ? Qt::black : Qt::white);
    }
    default:
      return {};
  }
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole && section == kSizeColumn) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) return {};
  switch (section) {
    case kNameColumn:
      return tr("文件");
    case kSizeColumn:
      return tr("大小");
    case kAddressColumn:
      return tr("地址");
    default:
      return {};
  }
}

void CFileListModel::ShowWelcome() {
  beginResetModel();
  mode_ = Mode::kWelcome;
  rows_ = {};
  ForgetFileBytes();
  dirRows_ = 0;
  endResetModel();
}

void CFileListModel::Fill(Mode mode, const std::vector<CFTPDir*>& dirs,
                          const std::vector<CFTPFile*>& files) {
  Fill(mode, MakeRows(dirs, files));
  // Summed when asked for.
  fileBytesAwaited_ = false;
}

std::uint64_t CFileListModel::Fill(Mode mode, Rows&& rows) {
  beginResetModel();
  mode_ = mode;
  rows_ = std::move(rows.rows);
  dirRows_ = std::clamp(rows.dirRows, 0, static_cast<int>(rows_.size()));
  fileBytes_.reset();
  fileBytesAwaited_ = true;
  ++fills_;
  // Sorted before the views hear of the rows, so one reset is all they see.
  if (sortColumn_ >= 0) {
    const auto dirEnd = rows_.begin() + dirRows_;
    const auto less = [this](std::uintptr_t a, std::uintptr_t b) { return RowLess(a, b); };
    std::stable_sort(rows_.begin(), dirEnd, less);
    std::stable_sort(dirEnd, rows_.end(), less);
  }
  endResetModel();
  return fills_;
}

void CFileListModel::Retake(Mode mode, const std::vector<CFTPDir*>& dirs,
                            const std::vector<CFTPFile*>& files) {
  ForgetFileBytes();
  if (mode != mode_) {
    Fill(mode, dirs, files);
    return;
  }
  std::vector<std::uintptr_t> target;
  target.reserve(dirs.size() + files.size());
  for (CFTPDir* dir : dirs) {
    if (dir) target.push_back(reinterpret_cast<std::uintptr_t>(dir));
  }
  for (CFTPFile* file : files) {
    if (file) target.push_back(reinterpret_cast<std::uintptr_t>(file) | kFileTag);
  }
  const std::unordered_set<std::uintptr_t> listed(target.begin(), target.end());
  // Runs of rows that leave, removed from the end so earlier rows keep
  // their numbers.
  for (int last = static_cast<int>(rows_.size()) - 1; last >= 0;) {
    if (listed.count(rows_[static_cast<std::size_t>(last)])) {
      --last;
      continue;
    }
    int first = last;
    while (first > 0 && !listed.count(rows_[static_cast<std::size_t>(first - 1)])) --first;
    beginRemoveRows({}, first, last);
    rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
    if (first < dirRows_) dirRows_ -= std::min(dirRows_, last + 1) - first;
    endRemoveRows();
    last = first - 1;
  }
  const std::unordered_set<std::uintptr_t> kept(rows_.begin(), rows_.end());
  if (sortColumn_ >= 0) {
    // A sorted list keeps the user's order: entries that joined take their
    // places in it, and sizes that changed may move their rows.
    std::vector<CFTPDir*> newDirs;
    std::vector<CFTPFile*> newFiles;
    for (CFTPDir* dir : dirs) {
      if (dir && !kept.count(reinterpret_cast<std::uintptr_t>(dir))) newDirs.push_back(dir);
    }
    for (CFTPFile* file : files) {
      if (file && !kept.count(reinterpret_cast<std::uintptr_t>(file) | kFileTag)) {
        newFiles.push_back(file);
      }
    }
    Append(newDirs, newFiles);
    if (sortColumn_ == kSizeColumn) ApplySort(0, dirRows_);
    if (!rows_.empty()) {
      emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, kColumnCount - 1));
    }
    return;
  }
  std::size_t pos = 0;
  for (std::size_t k = 0; k < target.size();) {
    if (pos < rows_.size() && rows_[pos] == target[k]) {
      ++pos;
      ++k;
      continue;
    }
    if (kept.count(target[k])) {
      Fill(mode, dirs, files);
      return;
    }
    std::size_t end = k;
    while (end < target.size() && !kept.count(target[end])) ++end;
    beginInsertRows({}, static_cast<int>(pos), static_cast<int>(pos + (end - k)) - 1);
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(pos),
                 target.begin() + static_cast<std::ptrdiff_t>(k),
                 target.begin() + static_cast<std::ptrdiff_t>(end));
    for (; k < end; ++k, ++pos) {
      if (!(target[k] & kFileTag)) ++dirRows_;
    }
    endInsertRows();
  }
  if (!rows_.empty()) {
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, kColumnCount - 1));
  }
}

namespace {

// Names compare without regard to ASCII case first, so "Readme" sits by
// "readme" whatever the server's case habits are; bytes break the tie.
int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto fold = [](char c) {
      return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    };
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

}  // namespace

bool CFileListModel::RowLess(std::uintptr_t a, std::uintptr_t b) const {
  const auto* fileA = (a & kFileTag) ? reinterpret_cast<const CFTPFile*>(a & ~kFileTag) : nullptr;
  const auto* fileB = (b & kFileTag) ? reinterpret_cast<const CFTPFile*>(b & ~kFileTag) : nullptr;
  const auto* dirA = fileA ? nullptr : reinterpret_cast<const CFTPDir*>(a);
  const auto* dirB = fileB ? nullptr : reinterpret_cast<const CFTPDir*>(b);
  const std::string_view nameA = fileA ? fileA->name() : dirA->name();
  const std::string_view nameB = fileB ? fileB->name() : dirB->name();
  int order = 0;
  if (sortColumn_ == kSizeColumn && fileA && fileB) {
    const std::uint64_t sizeA = fileA->size.load(std::memory_order_relaxed);
    const std::uint64_t sizeB = fileB->size.load(std::memory_order_relaxed);
    if (sizeA != sizeB) order = sizeA < sizeB ? -1 : 1;
  } else if (sortColumn_ == kAddressColumn) {
    order = (fileA ? fileA->GetDisplayPath() : dirA->GetDisplayPath())
                .compare(fileB ? fileB->GetDisplayPath() : dirB->GetDisplayPath());
  }
  // Equal sizes, and directories (which have none), go by name.
  if (order == 0) order = CompareNames(nameA, nameB);
  return sortOrder_ == Qt::AscendingOrder ? order < 0 : order > 0;
}

void CFileListModel::sort(int column, Qt::SortOrder order) {
  sortColumn_ = column >= 0 && column < kColumnCount ? column : -1;
  sortOrder_ = order;
  ForgetFileBytes();
  if (sortColumn_ >= 0) ApplySort(0, dirRows_);
}

void CFileListModel::ApplySort(int dirsFrom, int filesFrom) {
  if (mode_ == Mode::kWelcome || rows_.size() < 2) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // A permutation rather than the rows themselves, so a row's old number
  // is known when its persistent indexes move.
  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  const auto less = [this](int a, int b) {
    return RowLess(rows_[static_cast<std::size_t>(a)], rows_[static_cast<std::size_t>(b)]);
  };
  const auto dirEnd = order.begin() + dirRows_;
  std::stable_sort(order.begin() + dirsFrom, dirEnd, less);
  std::inplace_merge(order.begin(), order.begin() + dirsFrom, dirEnd, less);
  std::stable_sort(order.begin() + filesFrom, order.end(), less);
  std::inplace_merge(dirEnd, order.begin() + filesFrom, order.end(), less);
  std::vector<int> newRow(order.size());
  std::vector<std::uintptr_t> sorted(rows_.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    sorted[i] = rows_[static_cast<std::size_t>(order[i])];
    newRow[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
  }
  rows_.swap(sorted);
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& index : before) {
    after << createIndex(newRow[static_cast<std::size_t>(index.row())], index.column());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CFileListModel::Append(const std::vector<CFTPDir*>& dirs,
                            const std::vector<CFTPFile*>& files) {
  ForgetFileBytes();
  const int sortedDirs = dirRows_;
  std::vector<std::uintptr_t> newDirs;
  for (CFTPDir* dir : dirs) {
    if (dir) newDirs.push_back(reinterpret_cast<std::uintptr_t>(dir));
  }
  if (!newDirs.empty()) {
    const int first = dirRows_;
    beginInsertRows({}, first, first + static_cast<int>(newDirs.size()) - 1);
    rows_.insert(rows_.begin() + first, newDirs.begin(), newDirs.end());
    dirRows_ += static_cast<int>(newDirs.size());
    endInsertRows();
  }
  std::vector<std::uintptr_t> newFiles;
  for (CFTPFile* file : files) {
    if (file) newFiles.push_back(reinterpret_cast<std::uintptr_t>(file) | kFileTag);
  }
  const int sortedFilesEnd = static_cast<int>(rows_.size());
  if (!newFiles.empty()) {
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(newFiles.size()) - 1);
    rows_.insert(rows_.end(), newFiles.begin(), newFiles.end());
    endInsertRows();
  }
  // New results take their places in the chosen order.
  if (sortColumn_ >= 0 && (!newDirs.empty() || !newFiles.empty())) {
    ApplySort(sortedDirs, sortedFilesEnd);
  }
}

void CFileListModel::RemoveEntries(const std::vector<const CFTPDir*>& dirs,
                                   const std::vector<const CFTPFile*>& files) {
  if (mode_ == Mode::kWelcome || rows_.empty() || (dirs.empty() && files.empty())) return;
  ForgetFileBytes();
  const std::unordered_set<const CFTPDir*> removedDirs(dirs.begin(), dirs.end());
  const std::unordered_set<const CFTPFile*> removedFiles(files.begin(), files.end());
  // Rows of one place mostly share their parent: remember the last answer.
  const CFTPDir* lastParent = nullptr;
  bool lastParentRemoved = false;
  const auto inRemovedSubtree = [&](const CFTPDir* dir) {
    if (removedDirs.empty() || !dir) return false;
    if (dir == lastParent) return lastParentRemoved;
    bool removed = false;
    for (const CFTPDir* d = dir; d && !removed; d = d->parent) removed = removedDirs.count(d) != 0;
    lastParent = dir;
    lastParentRemoved = removed;
    return removed;
  };
  const auto gone = [&](std::uintptr_t bits) {
    if (bits & kFileTag) {
      const auto* file = reinterpret_cast<const CFTPFile*>(bits & ~kFileTag);
      return removedFiles.count(file) != 0 || inRemovedSubtree(file->parent);
    }
    const auto* dir = reinterpret_cast<const CFTPDir*>(bits);
    return removedDirs.count(dir) != 0 || inRemovedSubtree(dir->parent);
  };
  // Runs of removed rows, each removed with one notice, from the end so the
  // earlier rows keep their numbers.
  std::vector<std::pair<int, int>> runs;
  for (int row = 0; row < static_cast<int>(rows_.size()); ++row) {
    if (!gone(rows_[static_cast<std::size_t>(row)])) continue;
    if (!runs.empty() && runs.back().second == row - 1) {
      runs.back().second = row;
    } else {
      runs.emplace_back(row, row);
    }
  }
  for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
    beginRemoveRows({}, it->first, it->second);
    rows_.erase(rows_.begin() + it->first, rows_.begin() + it->second + 1);
    if (it->first < dirRows_) dirRows_ -= std::min(dirRows_, it->second + 1) - it->first;
    endRemoveRows();
  }
}

}  // namespace orvane
