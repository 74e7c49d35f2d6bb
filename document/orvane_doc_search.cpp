// Search, new-entry listings and the clearing of new marks.
//
// Every walk here runs on the front end's thread and hands control to the
// front end's event loop as it goes (PumpMessages), which is also how its
// stop button and commands reach the program meanwhile. Update workers
// change the same catalogs on their own threads, so each directory's child
// lists are copied under the site's lock and the walk works on that copy;
// the document's WalkGuard keeps entries an update removes meanwhile alive
// until the walk is over.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/name_matcher.h"
#include "document/orvane_doc.h"

namespace orvane {
namespace {

constexpr char kNothingFound[] = "对不起，没有找到你要的文件！";
constexpr char kNoUnreadFiles[] = "没有未读文件！";

// Kinds of ShowNewFiles and SetSitesRead.
constexpr int kThisUpdate = 1;

// Pumping after every entry would cost more than the walk itself on large
// catalogs, so the walk pumps when its time slice is used up; the clock is
// read only every kCheckEvery entries. Once PumpMessages has said stop, the
// walk stays stopped.
class WalkPump {
 public:
  explicit WalkPump(COrvaneDoc& doc)
      : doc_(doc), slice_(doc.pumpSlice), last_(std::chrono::steady_clock::now()) {}

  // Pumps at once: at the start of a walk, and after a long single step.
  bool Now() {
    if (stopped_) return false;
    stopped_ = !doc_.PumpMessages();
    last_ = std::chrono::steady_clock::now();
    countdown_ = kCheckEvery;
    return !stopped_;
  }

  // After one directory or file.
  bool Tick() {
    if (stopped_) return false;
    if (slice_.count() <= 0) return Now();
    if (--countdown_ > 0) return true;
    countdown_ = kCheckEvery;
    if (std::chrono::steady_clock::now() - last_ < slice_) return true;
    return Now();
  }

  bool stopped() const { return stopped_; }

 private:
  static constexpr int kCheckEvery = 256;

  COrvaneDoc& doc_;
  const std::chrono::nanoseconds slice_;
  std::chrono::steady_clock::time_point last_;
  int countdown_ = kCheckEvery;
  bool stopped_ = false;
};

// Clearing one entry: the site is flagged only when a mark really changed,
// so clearing what is already read writes nothing at exit.
template <typename Entry>
void ClearMark(Entry& entry, CFTPSite* site) {
  if (entry.readState.load(std::memory_order_relaxed) == 0) return;
  if (entry.readState.exchange(0) != 0 && site) site->stateDirty = true;
}

// A depth-first walk over copies of child lists. Each frame holds one
// directory's subdirectories and files as they were when the walk reached
// it; frames are reused level by level, so a walk allocates only when it
// first goes deeper or meets a longer list.
class CatalogWalk {
 protected:
  struct Frame {
    std::vector<CFTPDir*> dirs;
    std::vector<CFTPFile*> files;
    std::size_t next = 0;
    // Site of every entry in the frame; null for a list handed in from
    // outside, whose directories find their sites one by one.
    CFTPSite* site = nullptr;
  };

  Frame& Push() {
    if (depth_ == frames_.size()) frames_.push_back(std::make_unique<Frame>());
    Frame& frame = *frames_[depth_++];
    frame.dirs.clear();
    frame.files.clear();
    frame.next = 0;
    frame.site = nullptr;
    return frame;
  }
  void Pop() { --depth_; }
  Frame& Top() { return *frames_[depth_ - 1]; }

  // A frame for the children of `dir`, copied under the site's lock.
  Frame& PushChildrenOf(const CFTPDir& dir, CFTPSite* site) {
    Frame& frame = Push();
    frame.site = site;
    SnapshotChildren(dir, site, frame.dirs, frame.files);
    return frame;
  }

  // `site` owns every directory of the list, or is null when it is not
  // known (each directory then finds its own).
  Frame& PushList(const std::vector<CFTPDir*>& dirs, CFTPSite* site) {
    Frame& frame = Push();
    frame.dirs = dirs;
    frame.site = site;
    return frame;
  }

  std::size_t depth_ = 0;

 private:
  std::vector<std::unique_ptr<Frame>> frames_;
};

// The search walk: SearchDirs and SearchInDir.
class SearchWalk : public CatalogWalk {
 public:
  SearchWalk(COrvaneDoc& doc, std::string_view keyword, WalkPump& pump)
      : doc_(doc), matcher_(keyword), pump_(pump) {}

  CNameMatcher& matcher() { return matcher_; }

  bool Dirs(const std::vector<CFTPDir*>& dirs, CFTPSite* site = nullptr) {
    PushList(dirs, site);
    return Run();
  }

  bool InDir(const CFTPDir& dir, CFTPSite* site) {
    PushChildrenOf(dir, site);
    return Run();
  }

  void Append(CFTPDir* dir) {
    if (!doc_.IsRemoved(dir)) doc_.AddResult(dir);
  }

  void Append(CFTPFile* file) {
    if (!doc_.IsRemoved(file)) doc_.AddResult(file);
  }

 private:
  // A directory is listed before its contents; its own files come after
  // everything found in its subdirectories. With "#new", a new directory is
  // listed and not entered: everything in it is new as well.
  bool Run() {
    const bool newOnly = matcher_.IsNewKeyword();
    while (depth_ > 0) {
      Frame& frame = Top();
      if (frame.next < frame.dirs.size()) {
        CFTPDir* dir = frame.dirs[frame.next++];
        const bool matched = matcher_.MatchName(*dir);
        if (matched) Append(dir);
        if (!pump_.Tick()) return Abandon();
        if (matched && newOnly) continue;
        PushChildrenOf(*dir, frame.site ? frame.site : dir->GetSite());
        continue;
      }
      for (CFTPFile* file : frame.files) {
        if (matcher_.MatchName(*file)) Append(file);
        if (!pump_.Tick()) return Abandon();
      }
      Pop();
    }
    return true;
  }

  bool Abandon() {
    depth_ = 0;
    return false;
  }

  COrvaneDoc& doc_;
  CNameMatcher matcher_;
  WalkPump& pump_;
};

// The clearing walk of MarkDirsRead: every directory and file below the
// list, the listed directories included.
class ClearWalk : public CatalogWalk {
 public:
  explicit ClearWalk(WalkPump& pump) : pump_(pump) {}

  bool Dirs(const std::vector<CFTPDir*>& dirs, CFTPSite* site = nullptr) {
    PushList(dirs, site);
    while (depth_ > 0) {
      Frame& frame = Top();
      if (frame.next < frame.dirs.size()) {
        CFTPDir* dir = frame.dirs[frame.next++];
        CFTPSite* site = frame.site ? frame.site : dir->GetSite();
        ClearMark(*dir, site);
        if (!pump_.Tick()) return Abandon();
        PushChildrenOf(*dir, site);
        continue;
      }
      for (CFTPFile* file : frame.files) {
        ClearMark(*file, frame.site);
        if (!pump_.Tick()) return Abandon();
      }
      Pop();
    }
    return true;
  }

 private:
  bool Abandon() {
    depth_ = 0;
    return false;
  }

  WalkPump& pump_;
};

// Kind 1 takes the sites of this update: updated, stopped, running or
// waiting, not failed. It reads no catalog, so a site whose catalog is not
// in memory yet has nothing to give.
bool TakesPart(const CFTPSite& site, int kind) {
  if (kind != kThisUpdate) return true;
  const int state = site.updateState.load();
  return state != kNeverUpdated && state != kUpdateFailed && site.loadState.load() == kLoaded;
}

// What a result walk does with one site.
enum class SiteStep { kWalked, kSkipped, kStopped };

// The frame that a search and a new-entry listing share: the result lists
// and the view emptied, the progress shown for every site begun, the sites
// walked in list order, and `nothingFound` shown when a walk that was not
// stopped found nothing. Commands pumped during the walk may change the
// site list; the walk goes on over the sites it started with.
template <typename VisitSite>
void RunResultWalk(COrvaneDoc& doc, std::string_view keyword, const char* nothingFound,
                   VisitSite&& visit) {
  COrvaneDoc::WalkGuard guard(doc);
  IDocumentHost& host = doc.host();
  doc.ClearResults();
  const std::vector<std::shared_ptr<CFTPSite>> sites = doc.sites();
  host.SearchBegin(static_cast<int>(sites.size()));
  if (sites.empty()) {
    host.SearchEnd();
    return;
  }
  WalkPump pump(doc);
  SearchWalk walk(doc, keyword, pump);
  bool stopped = false;
  int progressPos = 0;
  for (const auto& site : sites) {
    host.SearchProgress(++progressPos);
    if (visit(*site, walk, pump) == SiteStep::kStopped) {
      stopped = true;
      break;
    }
  }
  doc.FlushResults();
  host.SearchEnd();
  if (!stopped && doc.resultDirs.empty() && doc.resultFiles.empty()) {
    host.ShowMessage(nothingFound);
  }
}

}  // namespace

void COrvaneDoc::Search(const std::string& keyword) {
  RunResultWalk(*this, keyword, kNothingFound,
                [this](CFTPSite& site, SearchWalk& walk, WalkPump& pump) {
                  EnsureCatalogLoaded(site);
                  if (!pump.Now()) return SiteStep::kStopped;
                  const DirChildren root = SnapshotChildren(*site.rootDir, &site);
                  if (!walk.Dirs(root.dirs, &site)) return SiteStep::kStopped;
                  // Files directly in the root: a stop seen here takes effect with the
                  // next site, so the root's own matches are all listed.
                  for (CFTPFile* file : root.files) {
                    if (!walk.matcher().MatchName(*file)) continue;
                    walk.Append(file);
                    pump.Tick();
                  }
                  return SiteStep::kWalked;
                });
}

bool COrvaneDoc::SearchDirs(const std::vector<CFTPDir*>& dirs, const std::string& keyword) {
  WalkGuard guard(*this);
  WalkPump pump(*this);
  if (!pump.Now()) return false;
  SearchWalk walk(*this, keyword, pump);
  return walk.Dirs(dirs);
}

bool COrvaneDoc::SearchInDir(CFTPDir* dir, const std::string& keyword) {
  if (!dir) return true;
  WalkGuard guard(*this);
  WalkPump pump(*this);
  if (!pump.Now()) return false;
  SearchWalk walk(*this, keyword, pump);
  return walk.InDir(*dir, dir->GetSite());
}

void COrvaneDoc::ShowNewFiles(int kind) {
  RunResultWalk(*this, kNewKeyword, kNoUnreadFiles,
                [this, kind](CFTPSite& site, SearchWalk& walk, WalkPump& pump) {
                  if (kind == kThisUpdate) {
                    if (!TakesPart(site, kind)) return SiteStep::kSkipped;
                  } else {
                    EnsureCatalogLoaded(site);
                  }
                  if (!pump.Now()) return SiteStep::kStopped;
                  // The root's subdirectories and then its own unread files: the same
                  // order as a search, with the root itself never listed.
                  if (!walk.InDir(*site.rootDir, &site)) return SiteStep::kStopped;
                  return SiteStep::kWalked;
                });
}

void COrvaneDoc::SetShownFilesRead() {
  // The browsed directory's files, whatever the file list shows now.
  SetFilesRead(browseFiles);
}

void COrvaneDoc::SetFilesRead(const std::vector<CFTPFile*>& files) {
  const CFTPDir* lastParent = nullptr;
  CFTPSite* site = nullptr;
  for (CFTPFile* file : files) {
    if (file->parent != lastParent) {
      lastParent = file->parent;
      site = lastParent ? lastParent->GetSite() : nullptr;
    }
    ClearMark(*file, site);
  }
}

bool COrvaneDoc::MarkDirsRead(const std::vector<CFTPDir*>& dirs) {
  WalkGuard guard(*this);
  WalkPump pump(*this);
  if (!pump.Now()) return false;
  ClearWalk walk(pump);
  return walk.Dirs(dirs);
}

void COrvaneDoc::SetSitesRead(int kind) {
  WalkGuard guard(*this);
  const std::vector<std::shared_ptr<CFTPSite>> sites = siteList_;
  WalkPump pump(*this);
  ClearWalk walk(pump);
  for (const auto& site : sites) {
    if (kind == kThisUpdate) {
      if (!TakesPart(*site, kind)) continue;
    } else {
      EnsureCatalogLoaded(*site);
    }
    if (!pump.Now()) return;
    const DirChildren root = SnapshotChildren(*site->rootDir, site.get());
    walk.Dirs(root.dirs, site.get());
    for (CFTPFile* file : root.files) {
      ClearMark(*file, site.get());
      if (!pump.Tick()) return;
    }
  }
}

bool COrvaneDoc::SetDirRead(CFTPDir* dir) {
  if (!dir) return true;
  CFTPSite* site = dir->GetSite();
  if (site) EnsureCatalogLoaded(*site);
  WalkGuard guard(*this);
  WalkPump pump(*this);
  if (!pump.Now()) return true;
  const DirChildren children = SnapshotChildren(*dir, site);
  ClearWalk walk(pump);
  walk.Dirs(children.dirs, site);
  // The directory's own mark stays: it is cleared from its parent.
  for (CFTPFile* file : children.files) {
    ClearMark(*file, site);
    if (!pump.Tick()) break;
  }
  return true;
}

void COrvaneDoc::SetTreeNodeRead(CFTPDir* dir) {
  if (!dir) return;
  if (!dir->parent) {
    if (CFTPSite* site = dir->GetSite()) site->hasNewEntries = false;
  }
  SetDirRead(dir);
}

void COrvaneDoc::ShowUpdates(CFTPDir* dir) {
  if (!dir) return;
  ClearResults();
  SearchInDir(dir, std::string(kNewKeyword));
}

}  // namespace orvane
