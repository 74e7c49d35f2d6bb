#include "document/orvane_doc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/atomic_file.h"
#include "catalog/catalog_loader.h"

namespace orvane {

namespace {

constexpr mode_t kSiteListMode = 0600;

std::string FillPath(std::string_view pattern, const std::filesystem::path& path) {
  std::string text(pattern);
  const std::size_t at = text.find("%1");
  if (at != std::string::npos) text.replace(at, 2, path.string());
  return text;
}

// The framework's texts for a site list that could not be read to its end.
std::string LoadErrorText(ArchiveError error, const std::filesystem::path& path) {
  switch (error) {
    case ArchiveError::kEndOfFile:
      return FillPath("An attempt was made to access %1 past its end.", path);
    case ArchiveError::kBadClass:
      return FillPath("%1 contained an unexpected object.", path);
    case ArchiveError::kBadSchema:
      return FillPath("%1 contains an incorrect schema.", path);
    case ArchiveError::kNoMemory:
      return "Out of memory.";
    case ArchiveError::kIo:
      return FillPath("An unexpected error occurred while reading %1.", path);
    case ArchiveError::kGeneric:
      return FillPath("An unknown error occurred while accessing %1.", path);
    case ArchiveError::kBadIndex:
    case ArchiveError::kBadFormat:
    case ArchiveError::kNone:
      break;
  }
  return FillPath("%1 has a bad format.", path);
}

// The framework's texts for a site list that could not be opened.
std::string OpenErrorText(int error, const std::filesystem::path& path) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FillPath("%1 was not found.", path);
    case EACCES:
    case EPERM:
    case EROFS:
      return FillPath("Access to %1 was denied.", path);
    default:
      return FillPath("An unexpected error occurred while reading %1.", path);
  }
}

template <typename T>
void EraseIf(std::vector<T*>& list, auto&& gone) {
  list.erase(std::remove_if(list.begin(), list.end(), gone), list.end());
}

}  // namespace

COrvaneDoc::COrvaneDoc(std::filesystem::path programDir, IDocumentHost& host)
    : programDir_(std::move(programDir)), host_(host) {}

COrvaneDoc::~COrvaneDoc() {
  browseDirs.clear();
  browseFiles.clear();
  resultDirs.clear();
  resultFiles.clear();
  siteList.clear();
  backList.clear();
  forwardList.clear();
  currentNode.reset();
  graveyard_ = Graveyard{};
}

// ---- Lifecycle --------------------------------------------------------------

bool COrvaneDoc::OnNewDocument() {
  const std::filesystem::path path = programDir_ / "site.ds";
  // Never blocks: a FIFO or a device in the list's place cannot be read.
  int fd = OpenRegularForReading(path);
  if (fd < 0 && errno == ENOENT) {
    // A first start: an empty list, saved owner-only like every later one.
    const int created =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kSiteListMode);
    if (created >= 0) ::close(created);
    fd = OpenRegularForReading(path);
  }
  if (fd < 0) {
    host_.ReportLoadError(OpenErrorText(errno, path));
    return true;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) {
    ::close(fd);
    return true;
  }
  FdSource source(fd);
  CArchiveReader archive(source);
  const ArchiveError error = Serialize(archive);
  ::close(fd);
  // The sites read before the damage stay: there is nothing better to offer,
  // and the next save writes exactly those.
  if (error != ArchiveError::kNone) host_.ReportLoadError(LoadErrorText(error, path));
  return true;
}

ArchiveError COrvaneDoc::Serialize(CArchiveReader& archive) {
  std::uint32_t count = 0;
  if (!archive.ReadCount(count)) return archive.error();
  for (std::uint32_t i = 0; i < count; ++i) {
    CArchiveReader::ObjectRef ref;
    if (!archive.ReadObjectRef(&kFTPSiteClass, ref)) return archive.error();
    if (ref.kind != CArchiveReader::ObjectRef::Kind::kNew) {
      // A null or repeated record would make the list hold no site, or one
      // site twice; neither can be deleted or saved sensibly.
      archive.Fail(ArchiveError::kBadFormat);
      return archive.error();
    }
    auto site = std::make_shared<CFTPSite>();
    archive.BindObject(ref.index, site.get());
    if (const ArchiveError error = site->Serialize(archive); error != ArchiveError::kNone) {
      return error;
    }
    siteList.push_back(std::move(site));
  }
  return ArchiveError::kNone;
}

void COrvaneDoc::Serialize(CArchiveWriter& archive) const {
  archive.WriteCount(static_cast<std::uint32_t>(siteList.size()));
  for (const auto& site : siteList) {
    archive.WriteNewObject(kFTPSiteClass);
    site->Serialize(archive);
  }
}

bool COrvaneDoc::SaveSiteList() {
  CAtomicFile file(programDir_ / "site.ds", kSiteListMode);
  if (!file.is_open()) return false;
  CArchiveWriter archive(file.sink());
  Serialize(archive);
  if (archive.Close() != ArchiveError::kNone) return false;
  return file.Commit();
}

void COrvaneDoc::OnCloseDocument() {
  for (const auto& site : siteList) {
    if (!site->stateDirty.load()) continue;
    // An update of the site may not have ended yet; its merges change the
    // tree only under the lock.
    std::lock_guard guard(site->lock);
    if (site->SaveState(programDir_)) site->stateDirty.store(false);
  }
}

void COrvaneDoc::EnsureCatalogLoaded(CFTPSite& site) {
  ::orvane::EnsureCatalogLoaded(site, programDir_);
}

CFTPSite* COrvaneDoc::FindSite(std::string_view key) const {
  for (const auto& site : siteList) {
    if (site->siteKey() == key) return site.get();
  }
  return nullptr;
}

void COrvaneDoc::ShowDirectory(CFTPDir* dir) {
  browseDirs.clear();
  browseFiles.clear();
  if (!dir) return;
  std::unique_lock<std::mutex> guard;
  if (CFTPSite* site = dir->GetSite()) guard = std::unique_lock(site->lock);
  browseDirs.reserve(dir->subdirs.size());
  for (const auto& sub : dir->subdirs) browseDirs.push_back(sub.get());
  browseFiles.reserve(dir->files.size());
  for (const auto& file : dir->files) browseFiles.push_back(file.get());
}

void COrvaneDoc::DeleteSite(std::string_view key) {
  const auto it = std::find_if(siteList.begin(), siteList.end(),
                               [key](const auto& site) { return site->siteKey() == key; });
  if (it == siteList.end()) return;
  std::shared_ptr<CFTPSite> site = *it;
  // First, so that an update still running for the site neither saves its
  // files again nor queues a resumption.
  {
    std::lock_guard files(site->filesLock);
    site->removed.store(true);
    DeleteDataDirectory(programDir_, key);
  }
  siteList.erase(it);
  SaveSiteList();
  DropReferences({}, {}, {site.get()});
  // The update engine may still hold the record; the last owner frees it.
  if (walkDepth_ > 0) graveyard_.sites.push_back(std::move(site));
}

// ---- Removed entries --------------------------------------------------------

void COrvaneDoc::OnEntryRemoved(std::unique_ptr<CFTPDir> dir) {
  std::vector<std::unique_ptr<CFTPDir>> dirs;
  dirs.push_back(std::move(dir));
  OnEntriesRemoved(std::move(dirs), {});
}

void COrvaneDoc::OnEntryRemoved(std::unique_ptr<CFTPFile> file) {
  std::vector<std::unique_ptr<CFTPFile>> files;
  files.push_back(std::move(file));
  OnEntriesRemoved({}, std::move(files));
}

void COrvaneDoc::OnEntriesRemoved(std::vector<std::unique_ptr<CFTPDir>> dirs,
                                  std::vector<std::unique_ptr<CFTPFile>> files) {
  std::vector<const CFTPDir*> dirRoots;
  dirRoots.reserve(dirs.size());
  for (const auto& dir : dirs) {
    if (dir) dirRoots.push_back(dir.get());
  }
  std::vector<const CFTPFile*> fileList;
  fileList.reserve(files.size());
  for (const auto& file : files) {
    if (file) fileList.push_back(file.get());
  }
  DropReferences(dirRoots, fileList, {});
  if (walkDepth_ == 0) return;  // destroyed on leaving
  for (auto& dir : dirs) {
    if (!dir) continue;
    graveyard_.dirSet.insert(dir.get());
    graveyard_.dirs.push_back(std::move(dir));
  }
  for (auto& file : files) {
    if (!file) continue;
    graveyard_.fileSet.insert(file.get());
    graveyard_.files.push_back(std::move(file));
  }
}

bool COrvaneDoc::IsRemoved(const CFTPDir* dir) const {
  if (graveyard_.empty() || !dir) return false;
  for (const CFTPDir* d = dir; d; d = d->parent) {
    // Stop at a parked root: its parent link may lead into a catalog that
    // is gone.
    if (graveyard_.dirSet.count(d)) return true;
    if (!d->parent) {
      return std::any_of(graveyard_.sites.begin(), graveyard_.sites.end(),
                         [d](const auto& site) { return site->rootDir.get() == d; });
    }
  }
  return false;
}

bool COrvaneDoc::IsRemoved(const CFTPFile* file) const {
  if (graveyard_.empty() || !file) return false;
  if (graveyard_.fileSet.count(file)) return true;
  return IsRemoved(file->parent);
}

void COrvaneDoc::ReleaseGraveyard() {
  if (graveyard_.empty()) return;
  Graveyard dead = std::move(graveyard_);
  graveyard_ = Graveyard{};
  // A walk may have appended parked entries from its snapshot after they
  // were dropped; drop them again before they go.
  std::vector<const CFTPDir*> dirs;
  for (const auto& dir : dead.dirs) dirs.push_back(dir.get());
  std::vector<const CFTPFile*> files;
  for (const auto& file : dead.files) files.push_back(file.get());
  std::vector<const CFTPSite*> sites;
  for (const auto& site : dead.sites) sites.push_back(site.get());
  DropReferences(dirs, files, sites);
}

void COrvaneDoc::DropReferences(const std::vector<const CFTPDir*>& dirs,
                                const std::vector<const CFTPFile*>& files,
                                const std::vector<const CFTPSite*>& sites) {
  if (dirs.empty() && files.empty() && sites.empty()) return;
  const std::unordered_set<const CFTPDir*> removedDirs(dirs.begin(), dirs.end());
  const std::unordered_set<const CFTPFile*> removedFiles(files.begin(), files.end());
  const std::unordered_set<const CFTPSite*> removedSites(sites.begin(), sites.end());
  const bool dirsCanGo = !removedDirs.empty() || !removedSites.empty();

  // Whether a directory lies in a removed subtree or a removed site: a walk
  // up its parents, remembered for every directory passed, so a long list
  // costs about one visit per distinct directory. The walk never goes above
  // a removed root, whose parent may already be gone.
  std::unordered_map<const CFTPDir*, bool> verdict;
  std::vector<const CFTPDir*> chain;
  auto dirGone = [&](const CFTPDir* dir) {
    if (!dirsCanGo || !dir) return false;
    chain.clear();
    bool gone = false;
    for (const CFTPDir* d = dir; d; d = d->parent) {
      if (const auto known = verdict.find(d); known != verdict.end()) {
        gone = known->second;
        break;
      }
      chain.push_back(d);
      if (removedDirs.count(d)) {
        gone = true;
        break;
      }
      if (!d->parent) {
        gone = d->site && removedSites.count(d->site);
        break;
      }
    }
    for (const CFTPDir* d : chain) verdict.emplace(d, gone);
    return gone;
  };
  auto fileGone = [&](const CFTPFile* file) {
    // The set first: a removed file's parent may already be gone.
    return removedFiles.count(file) || dirGone(file->parent);
  };
  auto nodeGone = [&](const std::unique_ptr<DirNode>& node) { return dirGone(node->directory); };

  EraseIf(browseDirs, dirGone);
  EraseIf(browseFiles, fileGone);
  EraseIf(resultDirs, dirGone);
  EraseIf(resultFiles, fileGone);
  if (!dirsCanGo) return;
  backList.erase(std::remove_if(backList.begin(), backList.end(), nodeGone), backList.end());
  forwardList.erase(std::remove_if(forwardList.begin(), forwardList.end(), nodeGone),
                    forwardList.end());
  if (currentNode && dirGone(currentNode->directory)) currentNode.reset();
}

// ---- Navigation history -----------------------------------------------------

void COrvaneDoc::Push(std::deque<std::unique_ptr<DirNode>>& list, const DirNode& node) {
  list.push_back(std::make_unique<DirNode>(node));
  while (list.size() > kHistoryLimit) list.pop_front();
}

void COrvaneDoc::RecordStep(CFTPDir* dir) {
  if (currentNode) {
    Push(backList, *currentNode);
  } else {
    currentNode = std::make_unique<DirNode>();
  }
  currentNode->directory = dir;
  forwardList.clear();
}

CFTPDir* COrvaneDoc::GoBack() {
  if (backList.empty()) return nullptr;
  if (currentNode) Push(forwardList, *currentNode);
  std::unique_ptr<DirNode> node = std::move(backList.back());
  backList.pop_back();
  ShowDirectory(node->directory);
  if (currentNode) {
    *currentNode = *node;
  } else {
    currentNode = std::move(node);
  }
  return currentNode->directory;
}

CFTPDir* COrvaneDoc::GoForward() {
  if (forwardList.empty()) return nullptr;
  if (currentNode) Push(backList, *currentNode);
  std::unique_ptr<DirNode> node = std::move(forwardList.back());
  forwardList.pop_back();
  ShowDirectory(node->directory);
  if (currentNode) {
    *currentNode = *node;
  } else {
    currentNode = std::move(node);
  }
  return currentNode->directory;
}

bool COrvaneDoc::CanGoUp() const {
  return currentNode && currentNode->directory && currentNode->directory->parent;
}

CFTPDir* COrvaneDoc::GoUp() {
  if (!CanGoUp()) return nullptr;
  Push(backList, *currentNode);
  forwardList.clear();
  CFTPDir* parent = currentNode->directory->parent;
  currentNode->directory = parent;
  ShowDirectory(parent);
  return parent;
}

}  // namespace orvane
