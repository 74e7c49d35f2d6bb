// A walk over catalogs that the front end drives in slices: search, the
// new-entry listings, and the clearing of new marks.
//
// Walks never run the front end's event loop themselves. A walk works until
// it reaches a pause point and returns; whoever drives it decides what
// happens in the pause and then calls Run again, and the walk goes on where
// it stopped, from its own saved state (a stack of frames, each a copy of
// one directory's child lists taken under the site's lock). So a command
// that starts a walk returns at once, and nothing the user does meanwhile
// runs inside the command's stack: the window steps the walk from a
// zero-interval timer (CWalkRunner), orvane-cli and the tests step it in a
// loop that pumps the front end's messages at every pause
// (COrvaneDoc::RunWalk).
//
// Pause points: the start of every site (after its catalog is loaded) and
// of every walk, which is where a stop already asked for ends the walk
// before it has looked at anything; after an entry, once the document's
// pumpSlice has been used up (the clock is read every 256 entries; a zero
// slice pauses after every entry). A walk that needs a catalog not in memory
// yet asks the document for it (COrvaneDoc::RequestCatalog): without a site
// store it is read there and then; with one (the window) the walk returns
// kWaiting, and is run again once the store's CatalogLoaded has come. A walk
// over every site asks for all of their catalogs when it begins, so they are
// read one after another while it works on those already there; it still
// takes the sites in list order, so results keep their order. Stop() is the
// answer of a pause (or of a wait): the walk ends at
// its next step, keeping what it found so far (a stop seen among a site's
// root files during a search still lists the rest of them).
//
// The walk holds a COrvaneDoc::WalkGuard from construction to its end, so
// entries an update removes and sites deleted meanwhile stay alive (and
// unlisted, see COrvaneDoc::IsRemoved) until no walk can reach them. Front
// end's thread only.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/name_matcher.h"
#include "document/orvane_doc.h"

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;

class CDocWalk {
 public:
  // Kinds of NewFiles and SetSitesRead: the sites of this update (updated,
  // stopped, running or waiting, with their catalog in memory) or all.
  static constexpr int kThisUpdate = 1;
  static constexpr int kAllSites = 2;

  // The search of every site's catalog for `keyword` (already folded; see
  // FoldKeyword): results replaced, progress told, "nothing found" said.
  static std::unique_ptr<CDocWalk> Search(COrvaneDoc& doc, std::string keyword);
  // The unread entries of the sites of `kind`, as a search for "#new".
  static std::unique_ptr<CDocWalk> NewFiles(COrvaneDoc& doc, int kind);
  // The listed directories and everything below them, matched against
  // `keyword`; results appended.
  static std::unique_ptr<CDocWalk> SearchDirs(COrvaneDoc& doc, std::vector<CFTPDir*> dirs,
                                              std::string keyword);
  // Everything below `dir`, the directory itself left out. `replace`
  // empties the results first (show updates on a tree node).
  static std::unique_ptr<CDocWalk> SearchInDir(COrvaneDoc& doc, CFTPDir* dir, std::string keyword,
                                               bool replace = false);
  // New marks cleared on the listed directories and everything below.
  static std::unique_ptr<CDocWalk> MarkDirs(COrvaneDoc& doc, std::vector<CFTPDir*> dirs);
  // New marks cleared below `dir` (its own mark stays; it is cleared from
  // its parent), the site's catalog loaded first.
  static std::unique_ptr<CDocWalk> ClearBelow(COrvaneDoc& doc, CFTPDir* dir);
  // New marks cleared in the catalogs of the sites of `kind`.
  static std::unique_ptr<CDocWalk> SetSitesRead(COrvaneDoc& doc, int kind);

  ~CDocWalk();
  CDocWalk(const CDocWalk&) = delete;
  CDocWalk& operator=(const CDocWalk&) = delete;

  // kWaiting: paused until a catalog it asked for is in memory.
  enum class Step { kPaused, kWaiting, kDone };
  // Works up to the next pause point, or to the end.
  Step Run();
  // Ends the walk at its next step (sticky).
  void Stop() { stopped_ = true; }
  bool done() const { return phase_ == Phase::kDone; }
  bool stopped() const { return stopped_; }
  // Whether it changes the result lists (one such walk at a time).
  bool listsResults() const { return mode_ == Mode::kFind; }
  // Whether it will clear marks of `site`, or has: the site's marks are
  // saved once it is over.
  bool clearsMarks() const { return mode_ == Mode::kClear; }

 private:
  enum class Mode { kFind, kClear };
  enum class Phase { kBegin, kUnit, kLoad, kUnitStart, kWalk, kEnd, kDone };

  // One piece of the walk: a site's catalog, one directory's children, or
  // a list of directories.
  struct Unit {
    std::shared_ptr<CFTPSite> site;  // keeps a deleted site's tree alive
    CFTPSite* owner = nullptr;       // site of every entry; null: each finds its own
    CFTPDir* dir = nullptr;          // walk the children of this ...
    std::vector<CFTPDir*> dirs;      // ... or these (each visited and entered)
    bool load = false;               // read the site's catalog first
    int takesPart = 0;               // non-zero: skipped unless the site takes part
    bool siteRoot = false;           // a site's root in a search (see Frame)
  };

  struct Frame {
    std::vector<CFTPDir*> dirs;
    std::vector<CFTPFile*> files;
    std::size_t next = 0;
    std::size_t nextFile = 0;
    CFTPSite* site = nullptr;
    // The last directory visited is entered when the walk goes on.
    bool enterPending = false;
    // A search's site root: its files pause only after a match, and a stop
    // seen among them lets the rest of them be listed.
    bool siteRoot = false;
  };

  CDocWalk(COrvaneDoc& doc, Mode mode, std::string keyword);
  // One unit per site of the list as it is now, each walking its root's
  // children: the walk goes on over these sites whatever commands change
  // the list meanwhile. `kind` as for NewFiles (0: every site, loaded).
  void AddSiteUnits(const COrvaneDoc& doc, int kind);

  Step Walk();
  bool Due();
  Frame& Push();
  void Finish();
  bool VisitDir(CFTPDir* dir, CFTPSite* site);
  bool VisitFile(CFTPFile* file, CFTPSite* site);

  COrvaneDoc& doc_;
  const Mode mode_;
  CNameMatcher matcher_;
  std::optional<COrvaneDoc::WalkGuard> guard_;
  // Result walks: results emptied and the progress told; `replace` only
  // empties the results.
  bool resultWalk_ = false;
  bool replace_ = false;
  const char* nothingFound_ = nullptr;
  std::vector<Unit> units_;
  std::size_t unit_ = 0;
  Phase phase_ = Phase::kBegin;
  bool stopped_ = false;
  // The stop ended a unit's walk before its end.
  bool abandoned_ = false;
  std::vector<std::unique_ptr<Frame>> frames_;
  std::size_t depth_ = 0;
  std::chrono::steady_clock::time_point sliceStart_;
  int countdown_ = 0;
};

}  // namespace orvane
