#include "document/doc_walk.h"

#include <utility>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"

namespace orvane {

namespace {

constexpr char kNothingFound[] = "对不起，没有找到你要的文件！";
constexpr char kNoUnreadFiles[] = "没有未读文件！";

// Reading the clock after every entry would cost more than the walk itself
// on large catalogs.
constexpr int kCheckEvery = 256;

// Clearing one entry: the site is flagged only when a mark really changed,
// so clearing what is already read writes nothing.
template <typename Entry>
void ClearMark(Entry& entry, CFTPSite* site) {
  if (entry.readState.load(std::memory_order_relaxed) == 0) return;
  if (entry.readState.exchange(0) != 0 && site) site->stateDirty = true;
}

// Kind 1 takes the sites of this update: updated, stopped, running or
// waiting, not failed. It reads no catalog, so a site whose catalog is not
// in memory yet has nothing to give.
bool TakesPart(const CFTPSite& site, int kind) {
  if (kind != CDocWalk::kThisUpdate) return true;
  const int state = site.updateState.load();
  return state != kNeverUpdated && state != kUpdateFailed && site.loadState.load() == kLoaded;
}

}  // namespace

CDocWalk::CDocWalk(COrvaneDoc& doc, Mode mode, std::string keyword)
    : doc_(doc), mode_(mode), matcher_(keyword) {
  guard_.emplace(doc_);
}

CDocWalk::~CDocWalk() = default;

void CDocWalk::AddSiteUnits(const COrvaneDoc& doc, int kind) {
  for (const auto& site : doc.sites()) {
    Unit unit;
    unit.site = site;
    unit.owner = site.get();
    unit.dir = site->rootDir.get();
    unit.load = kind != kThisUpdate;
    unit.takesPart = kind;
    units_.push_back(std::move(unit));
  }
}

std::unique_ptr<CDocWalk> CDocWalk::Search(COrvaneDoc& doc, std::string keyword) {
  std::unique_ptr<CDocWalk> walk(new CDocWalk(doc, Mode::kFind, std::move(keyword)));
  walk->resultWalk_ = true;
  walk->nothingFound_ = kNothingFound;
  walk->AddSiteUnits(doc, 0);
  for (Unit& unit : walk->units_) unit.siteRoot = true;
  return walk;
}

std::unique_ptr<CDocWalk> CDocWalk::NewFiles(COrvaneDoc& doc, int kind) {
  std::unique_ptr<CDocWalk> walk(new CDocWalk(doc, Mode::kFind, std::string(kNewKeyword)));
  walk->resultWalk_ = true;
  walk->nothingFound_ = kNoUnreadFiles;
  // The root's subdirectories and then its own unread files: the same
  // order as a search, with the root itself never listed.
  walk->AddSiteUnits(doc, kind);
  return walk;
}

std::unique_ptr<CDocWalk> CDocWalk::SearchDirs(COrvaneDoc& doc, std::vector<CFTPDir*> dirs,
                                               std::string keyword) {
  std::unique_ptr<CDocWalk> walk(new CDocWalk(doc, Mode::kFind, std::move(keyword)));
  Unit unit;
  unit.dirs = std::move(dirs);
  walk->units_.push_back(std::move(unit));
  return walk;
}

std::unique_ptr<CDocWalk> CDocWalk::SearchInDir(COrvaneDoc& doc, CFTPDir* dir, std::string keyword,
                                                bool replace) {
  std::unique_ptr<CDocWalk> walk(new CDocWalk(doc, Mode::kFind, std::move(keyword)));
  walk->replace_ = replace;
  if (dir) {
    Unit unit;
    unit.owner = dir->GetSite();
    unit.dir = dir;
    walk->units_.push_back(std::move(unit));
  }
  return walk;
}

std::unique_ptr<CDocWalk> CDocWalk::MarkDirs(COrvaneDoc& doc, std::vector<CFTPDir*> dirs) {
  std::unique_ptr<CDocWalk> walk(new CDocWalk(doc, Mode::kClear, {}));
  Unit unit;
  unit.dirs = std::move(dirs);
  walk->units_.push_back(std::move(unit));
  return walk;
}

std::unique_ptr<CDocWalk> CDocWalk::ClearBelow(COrvaneDoc& doc, CFTPDir* dir) {
  std::unique_ptr<CDocWalk> walk(new CDocWalk(doc, Mode::kClear, {}));
  if (dir) {
    Unit unit;
    unit.owner = dir->GetSite();
    unit.dir = dir;
    unit.load = unit.owner != nullptr;
    walk->units_.push_back(std::move(unit));
  }
  return walk;
}

std::unique_ptr<CDocWalk> CDocWalk::SetSitesRead(COrvaneDoc& doc, int kind) {
  std::unique_ptr<CDocWalk> walk(new CDocWalk(doc, Mode::kClear, {}));
  walk->AddSiteUnits(doc, kind);
  return walk;
}

CDocWalk::Step CDocWalk::Run() {
  sliceStart_ = std::chrono::steady_clock::now();
  countdown_ = kCheckEvery;
  for (;;) {
    switch (phase_) {
      case Phase::kBegin: {
        std::vector<const CFTPSite*> wanted;
        for (const Unit& unit : units_) {
          if (unit.load && !(unit.takesPart && !TakesPart(*unit.owner, unit.takesPart))) {
            wanted.push_back(unit.owner);
          }
        }
        doc_.PrefetchCatalogs(wanted);
        if (resultWalk_ || replace_) doc_.ClearResults();
        if (resultWalk_) doc_.host().SearchBegin(static_cast<int>(units_.size()));
        phase_ = Phase::kUnit;
        break;
      }
      case Phase::kUnit: {
        if (unit_ == units_.size()) {
          phase_ = Phase::kEnd;
          break;
        }
        const Unit& unit = units_[unit_];
        if (resultWalk_) doc_.host().SearchProgress(static_cast<int>(unit_) + 1);
        if (unit.takesPart && !TakesPart(*unit.owner, unit.takesPart)) {
          ++unit_;
          break;
        }
        if (stopped_) {
          phase_ = Phase::kEnd;
          break;
        }
        phase_ = unit.load ? Phase::kLoad : Phase::kUnitStart;
        if (phase_ == Phase::kUnitStart) return Step::kPaused;
        break;
      }
      case Phase::kLoad:
        if (stopped_) {
          phase_ = Phase::kEnd;
          break;
        }
        // The site store reads the catalog; the walk goes on when it is in.
        if (!doc_.RequestCatalog(*units_[unit_].owner)) return Step::kWaiting;
        // Every site begins with a pause, so a stop already asked for ends
        // the walk before it looks at the site.
        phase_ = Phase::kUnitStart;
        return Step::kPaused;
      case Phase::kUnitStart: {
        if (stopped_) {
          phase_ = Phase::kEnd;
          break;
        }
        const Unit& unit = units_[unit_];
        Frame& frame = Push();
        frame.site = unit.owner;
        if (unit.dir) {
          SnapshotChildren(*unit.dir, unit.owner, frame.dirs, frame.files);
        } else {
          frame.dirs = unit.dirs;
        }
        frame.siteRoot = unit.siteRoot && mode_ == Mode::kFind;
        phase_ = Phase::kWalk;
        break;
      }
      case Phase::kWalk:
        if (Walk() == Step::kPaused) return Step::kPaused;
        // A stop seen among a search's root files takes effect with the
        // next site, which is begun and then not walked.
        if (abandoned_) {
          phase_ = Phase::kEnd;
        } else {
          ++unit_;
          phase_ = Phase::kUnit;
        }
        break;
      case Phase::kEnd:
        Finish();
        return Step::kDone;
      case Phase::kDone:
        return Step::kDone;
    }
  }
}

// A directory is visited before its contents; its own files come after
// everything found in its subdirectories. With "#new", a new directory is
// listed and not entered: everything in it is new as well.
CDocWalk::Step CDocWalk::Walk() {
  const bool newOnly = mode_ == Mode::kFind && matcher_.IsNewKeyword();
  while (depth_ > 0) {
    Frame& frame = *frames_[depth_ - 1];
    const bool inFiles = !frame.enterPending && frame.next >= frame.dirs.size();
    if (stopped_ && !(frame.siteRoot && inFiles)) {
      depth_ = 0;
      abandoned_ = true;
      return Step::kDone;
    }
    if (frame.enterPending) {
      frame.enterPending = false;
      CFTPDir* dir = frame.dirs[frame.next - 1];
      CFTPSite* site = frame.site ? frame.site : dir->GetSite();
      Frame& sub = Push();
      sub.site = site;
      SnapshotChildren(*dir, site, sub.dirs, sub.files);
      continue;
    }
    if (frame.next < frame.dirs.size()) {
      CFTPDir* dir = frame.dirs[frame.next++];
      const bool matched = VisitDir(dir, frame.site ? frame.site : dir->GetSite());
      frame.enterPending = !(matched && newOnly);
      if (Due()) return Step::kPaused;
      continue;
    }
    if (frame.nextFile < frame.files.size()) {
      CFTPFile* file = frame.files[frame.nextFile++];
      const bool matched = VisitFile(file, frame.site);
      if (frame.siteRoot && !matched) continue;
      if (Due()) return Step::kPaused;
      continue;
    }
    --depth_;
  }
  return Step::kDone;
}

bool CDocWalk::VisitDir(CFTPDir* dir, CFTPSite* site) {
  if (mode_ == Mode::kClear) {
    ClearMark(*dir, site);
    return false;
  }
  matcher_.UseCharset(site ? site->NameCharsetInUse() : NameCharset::kAuto);
  if (!matcher_.MatchName(*dir)) return false;
  // A removed entry may still be in the walk's copy of a child list.
  if (!doc_.IsRemoved(dir)) doc_.AddResult(dir);
  return true;
}

bool CDocWalk::VisitFile(CFTPFile* file, CFTPSite* site) {
  if (mode_ == Mode::kClear) {
    ClearMark(*file, site);
    return false;
  }
  matcher_.UseCharset(site ? site->NameCharsetInUse() : NameCharset::kAuto);
  if (!matcher_.MatchName(*file)) return false;
  if (!doc_.IsRemoved(file)) doc_.AddResult(file);
  return true;
}

bool CDocWalk::Due() {
  if (stopped_) return false;
  const std::chrono::nanoseconds slice = doc_.pumpSlice;
  if (slice.count() <= 0) return true;
  if (--countdown_ > 0) return false;
  countdown_ = kCheckEvery;
  return std::chrono::steady_clock::now() - sliceStart_ >= slice;
}

// Frames are reused level by level, so a walk allocates only when it first
// goes deeper or meets a longer list.
CDocWalk::Frame& CDocWalk::Push() {
  if (depth_ == frames_.size()) frames_.push_back(std::make_unique<Frame>());
  Frame& frame = *frames_[depth_++];
  frame.dirs.clear();
  frame.files.clear();
  frame.next = 0;
  frame.nextFile = 0;
  frame.site = nullptr;
  frame.enterPending = false;
  frame.siteRoot = false;
  return frame;
}

void CDocWalk::Finish() {
  phase_ = Phase::kDone;
  depth_ = 0;
  doc_.FlushResults();
  const bool nothing = doc_.resultDirs.empty() && doc_.resultFiles.empty();
  if (resultWalk_) doc_.host().SearchEnd();
  // Entries parked during the walk go before any box is shown: a box runs
  // an event loop of its own.
  guard_.reset();
  if (resultWalk_ && !stopped_ && nothing && !units_.empty()) {
    doc_.host().ShowMessage(nothingFound_);
  }
}

}  // namespace orvane
