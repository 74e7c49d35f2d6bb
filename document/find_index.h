// The index that answers find queries (document/find_query.h) over every
// loaded catalog.
//
// One segment per site, built from the site's catalog in one walk: each
// entry's pointer, its parent entry, and its search texts
// (document/search_fold.h) in one buffer, one entry after another, each
// ended by a NUL byte. A query with a word is answered by scanning that
// buffer for the word's bytes (memmem: the way grep does it, measured
// faster here than a trigram lookup for one-off queries and 16 bytes per
// entry smaller) and testing only the entries it lands in; a query with no
// word tests every entry. Sizes and new marks are read from the entries
// themselves, so they are always current. The site's change journal gives
// the times added:/changed: test and the removed entries removed: lists.
// A segment can also be a site's find file (document/find_file.h), mapped
// instead of reading the catalog at all: what `orvane-cli find` uses.
//
// The index holds raw pointers into the catalogs: a segment must be rebuilt
// (Build) or dropped (Drop) before any entry it holds is destroyed, which
// the window does when a removal notice arrives, and after each commit
// (an update's end, another process's commit merged) to take in what the
// catalog gained. Build, Open and Drop change the index: no Find may run
// meanwhile. Find only reads it (and the entries' atomic sizes and marks),
// so one Find may run on a worker while the owner waits to change it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;
class CFindFile;
class CFindQuery;
class COrvaneDoc;

// An entry an update removed, as the site's journal keeps it.
struct FindGhost {
  std::string path;  // server path bytes, "/a/b"
  std::uint64_t size = 0;
  bool isDir = false;
  std::int64_t time = 0;  // end of the update that removed it
  std::string texts;      // the last component's search texts
  std::string foldedPath;
};

// One answer: a directory, a file, or a removed entry of `site`, or entry
// `entry` of the site's find file when its catalog was not loaded.
struct FindHit {
  CFTPSite* site = nullptr;
  CFTPDir* dir = nullptr;
  CFTPFile* file = nullptr;
  const FindGhost* ghost = nullptr;
  const CFindFile* stored = nullptr;
  std::uint32_t entry = 0;
};

class CFindIndex {
 public:
  CFindIndex();
  ~CFindIndex();
  CFindIndex(const CFindIndex&) = delete;
  CFindIndex& operator=(const CFindIndex&) = delete;

  // (Re)builds the site's segment from its catalog as it is now (taking the
  // site's lock for each directory's child lists) and its journal in
  // `programDir`. Sites keep the order of their first Build.
  void Build(const std::shared_ptr<CFTPSite>& site, const std::filesystem::path& programDir);
  // Takes the site's segment from its find file (document/find_file.h)
  // instead of its catalog, which need not be loaded: sizes and marks are
  // the stored ones, and the journal is not read (added:, changed: and
  // removed: never hold). False, with nothing changed, when the file is
  // missing, stale or damaged.
  bool Open(const std::shared_ptr<CFTPSite>& site, const std::filesystem::path& programDir);
  void Drop(const CFTPSite* site);
  bool Has(const CFTPSite* site) const;

  // Calls `visit` with every hit, sites in order, each site's entries in
  // the order state.st keeps them (each directory before its subtree, its
  // files after its subdirectories' subtrees), then its removed entries;
  // `visit` returns false to stop. With `stop`, the search also ends soon
  // after that is set (from any thread). False when either ended it.
  bool Find(const CFindQuery& query, const std::function<bool(const FindHit&)>& visit,
            const std::atomic<bool>* stop = nullptr) const;

  std::size_t EntryCount() const;
  // Heap bytes the index holds.
  std::size_t MemoryBytes() const;

  struct Segment;

 private:
  // The site's segment, made empty at the end when it has none.
  Segment& SegmentOf(const std::shared_ptr<CFTPSite>& site);

  std::vector<std::unique_ptr<Segment>> segments_;
};

// Loads every site's catalog (COrvaneDoc::EnsureCatalogLoaded) and builds
// its segment. With `query`, a site whose catalog is not loaded yet is
// answered from its find file when that is current and the query needs no
// journal: the catalog is then never read.
void IndexEveryCatalog(COrvaneDoc& doc, CFindIndex& index, const CFindQuery* query = nullptr);

// The server path of a hit's entry, "/a/b", as raw bytes.
std::string FindHitRawPath(const FindHit& hit);
bool FindHitIsDir(const FindHit& hit);
// A file's size (0 for a directory).
std::uint64_t FindHitSize(const FindHit& hit);
bool FindHitIsNew(const FindHit& hit);

}  // namespace orvane
