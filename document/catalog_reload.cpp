#include "document/catalog_reload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalog/data_dir_lock.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_file_access.h"
#include "document/orvane_doc.h"

namespace orvane {

namespace {

// state.st's bytes; false when it cannot be read (missing, no regular
// file, an I/O error), which counts as changed when this process read one.
bool ReadBytes(const std::filesystem::path& path, std::string& bytes) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  char buffer[65536];
  while (ok) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return ok;
}

struct MergeContext {
  // Marks cleared here and not yet saved are not set again by the files.
  bool keepCleared = false;
  bool anyNew = false;
  RemovedEntries removed;
};

std::int32_t MergedMark(std::int32_t here, std::int32_t there, const MergeContext& context) {
  return context.keepCleared && here == 0 ? 0 : there;
}

// Entries of `into` that `from` lacks are unlinked (keeping the order of
// the rest); entries of `from` that `into` lacks are moved over, appended.
// The names of `from` key the lookup, so its entries stay alive until the
// end; each is matched at most once (a damaged file may repeat a name).
template <typename Entry, typename Recurse>
void MergeList(std::vector<std::unique_ptr<Entry>>& into, std::vector<std::unique_ptr<Entry>>& from,
               CFTPDir& parent, std::vector<std::unique_ptr<Entry>>& removed, MergeContext& context,
               Recurse recurse) {
  std::unordered_map<std::string_view, std::size_t> there;
  there.reserve(from.size());
  for (std::size_t i = 0; i < from.size(); ++i) there.emplace(from[i]->name(), i);
  std::vector<char> matched(from.size(), 0);
  std::size_t kept = 0;
  for (auto& entry : into) {
    const auto found = there.find(entry->name());
    if (found == there.end()) {
      removed.push_back(std::move(entry));
      continue;
    }
    if (!matched[found->second]) {
      matched[found->second] = 1;
      Entry& theirs = *from[found->second];
      // The window clears marks while the merge runs (on the site store's
      // worker): a mark that changed since it was read here keeps that
      // change.
      std::int32_t here = entry->readState.load();
      entry->readState.compare_exchange_strong(here,
                                               MergedMark(here, theirs.readState.load(), context));
      recurse(*entry, theirs);
    }
    into[kept++] = std::move(entry);
  }
  into.resize(kept);
  there.clear();
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (matched[i]) continue;
    if (from[i]->readState.load() != 0) context.anyNew = true;
    from[i]->parent = &parent;
    into.push_back(std::move(from[i]));
  }
  // The files' tree is destroyed after the merge; the entries matched go
  // with it here.
  from.clear();
}

void MergeDir(CFTPDir& into, CFTPDir& from, MergeContext& context) {
  MergeList(into.subdirs, from.subdirs, into, context.removed.dirs, context,
            [&context](CFTPDir& mine, CFTPDir& theirs) { MergeDir(mine, theirs, context); });
  MergeList(into.files, from.files, into, context.removed.files, context,
            [](CFTPFile& mine, CFTPFile& theirs) {
              mine.size.store(theirs.size.load(std::memory_order_relaxed),
                              std::memory_order_relaxed);
            });
}

}  // namespace

namespace {

bool Mergeable(const CFTPSite& site) {
  return site.loadState.load() == kLoaded && site.rootDir && !site.removed.load() &&
         site.updateState.load() != kUpdateRunning && !site.catalogUnsaved.load() &&
         !site.filesIncomplete.load();
}

}  // namespace

CatalogReload CheckCatalogFiles(const COrvaneDoc& doc, CFTPSite& site) {
  return CheckCatalogFiles(doc.GetProgramDir(), site);
}

CatalogReload CheckCatalogFiles(const std::filesystem::path& programDir, CFTPSite& site) {
  if (!Mergeable(site)) return CatalogReload::kSkipped;
  NoteSiteFileAccess("CheckCatalogFiles");
  const auto dir = site.DataDirectory(programDir);
  std::lock_guard files(site.filesLock);
  if (FileIdentity::Of(dir / "content.ct") != site.contentOnDisk) return CatalogReload::kReloaded;
  std::string state;
  // The marks alone may have changed (another process set entries read).
  const bool same =
      ReadBytes(dir / "state.st", state) ? state == site.stateAtLoad : site.stateAtLoad.empty();
  return same ? CatalogReload::kUnchanged : CatalogReload::kReloaded;
}

std::unique_ptr<CFTPSite> ReadCatalogFiles(const std::filesystem::path& programDir,
                                           const SiteSettings& settings) {
  auto fresh = std::make_unique<CFTPSite>();
  settings.ApplyTo(*fresh);
  fresh->LoadFiles(programDir);
  const CFTPSite::LoadResult result = fresh->GetLoadResult();
  if (fresh->filesIncomplete.load() || result.kind == CFTPSite::LoadResult::kDamaged ||
      result.kind == CFTPSite::LoadResult::kUnreadable) {
    return nullptr;
  }
  return fresh;
}

CatalogReload MergeCatalogFiles(CFTPSite& site, CFTPSite& fresh, RemovedEntries& removed) {
  if (!Mergeable(site) || !fresh.rootDir) return CatalogReload::kSkipped;
  MergeContext context;
  context.keepCleared = site.stateDirty.load();
  {
    std::lock_guard guard(site.lock);
    MergeDir(*site.rootDir, *fresh.rootDir, context);
  }
  {
    std::lock_guard files(site.filesLock);
    site.contentOnDisk = fresh.contentOnDisk;
    site.stateAtLoad = std::move(fresh.stateAtLoad);
  }
  if (context.anyNew) site.hasNewEntries.store(true);
  for (auto& dir : context.removed.dirs) removed.dirs.push_back(std::move(dir));
  for (auto& file : context.removed.files) removed.files.push_back(std::move(file));
  return CatalogReload::kReloaded;
}

CatalogReload MergeCatalogFiles(COrvaneDoc& doc, CFTPSite& site, CFTPSite& fresh) {
  RemovedEntries removed;
  const CatalogReload result = MergeCatalogFiles(site, fresh, removed);
  HandOver(doc, removed);
  return result;
}

CatalogReload ReloadCatalogFiles(const std::filesystem::path& programDir, CFTPSite& site,
                                 RemovedEntries& removed) {
  const CatalogReload check = CheckCatalogFiles(programDir, site);
  if (check != CatalogReload::kReloaded) return check;
  const std::unique_ptr<CFTPSite> fresh = ReadCatalogFiles(programDir, SiteSettings::Of(site));
  if (!fresh) return CatalogReload::kSkipped;
  return MergeCatalogFiles(site, *fresh, removed);
}

CatalogReload ReloadCatalog(COrvaneDoc& doc, CFTPSite& site) {
  RemovedEntries removed;
  const CatalogReload result = ReloadCatalogFiles(doc.GetProgramDir(), site, removed);
  HandOver(doc, removed);
  return result;
}

void HandOver(COrvaneDoc& doc, RemovedEntries& removed) {
  if (removed.dirs.empty() && removed.files.empty()) return;
  doc.OnEntriesRemoved(std::move(removed.dirs), std::move(removed.files));
  removed.dirs.clear();
  removed.files.clear();
}

}  // namespace orvane
