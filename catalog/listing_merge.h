// Applying one directory listing to a stored directory.
//
// Phase 1 (Add) is called once per listed entry; phase 2 (Sweep) once the
// listing has ended. A known name gets `seen` set (a file also its new size);
// an unknown name becomes a new entry at the tail of its list with the new
// mark set, and the site's `hasNewEntries` is set. The sweep unlinks every
// entry that was not seen, files first, then subdirectories, each list in
// order, and hands each one, with its subtree, to the removal sink, which
// then owns it. The sink must not look at the directory's lists: they are
// being compacted while it runs. Seen entries get `seen` cleared. A merge abandoned before the
// sweep leaves `seen` set on what it found, so those entries survive the
// next sweep of that directory.
//
// Names are matched byte for byte, first match in list order. A name listed
// twice in one listing is one entry: the last line's size wins, and the
// journal compares that with what was stored before the listing (no resize
// back and forth). Large
// directories are indexed by name for the duration of the merge, so a
// listing of n entries costs O(n) rather than O(n^2).
//
// While the site collects changes (CFTPSite::BeginChanges), every entry
// added, resized or removed is noted in its journal record; a removed
// directory once, with the number of entries below it.
//
// The caller holds the site's lock around every call and keeps the
// directory alive for the life of the merge.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalog/change_journal.h"

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;

class IRemovalSink {
 public:
  virtual ~IRemovalSink() = default;
  virtual void FileRemoved(std::unique_ptr<CFTPFile> file) = 0;
  virtual void DirRemoved(std::unique_ptr<CFTPDir> dir) = 0;
};

class CListingMerge {
 public:
  explicit CListingMerge(CFTPDir& dir);
  ~CListingMerge();
  CListingMerge(const CListingMerge&) = delete;
  CListingMerge& operator=(const CListingMerge&) = delete;

  // Phase 1 for one listed entry. "." and ".." are ignored. Returns true when
  // the entry was new.
  bool Add(std::string_view name, bool isDirectory, std::uint64_t size);

  // Phase 2. Returns the number of entries removed. With `mayBeListed`, an
  // entry the listing did not name is kept when mayBeListed(name) says
  // that a line the listing could not read may have been it.
  std::size_t Sweep(IRemovalSink& sink);
  std::size_t Sweep(IRemovalSink& sink, const std::function<bool(std::string_view)>& mayBeListed);

  // Ends a listing that cannot tell what is gone (cut short, or lines that
  // could not be read): nothing is removed and `seen` is cleared, so the
  // next complete listing of the directory sweeps by its own entries only.
  void Keep();

 private:
  // Open-addressing index over one list: each slot holds a position + 1
  // (0 = empty) and bits of the name's hash.
  struct Slot {
    std::uint32_t position = 0;
    std::uint32_t tag = 0;
  };
  struct Index {
    std::vector<Slot> slots;
    std::size_t count = 0;
    bool built = false;
  };
  template <typename List>
  std::int64_t Find(const List& list, Index& index, std::string_view name);
  template <typename List>
  void Insert(const List& list, Index& index, std::uint32_t position);
  template <typename List>
  void Build(const List& list, Index& index);

  // The running update's record, or null when no changes are collected.
  JournalRecord* Journal();
  // Notes a change; the index of its journal entry, or kNoNote.
  std::size_t Note(JournalRecord& record, JournalEntry entry, std::string_view name);
  // The file at `position` listed again in this listing with `size`.
  void Relisted(std::size_t position, std::uint64_t size);

  static constexpr std::size_t kNoNote = static_cast<std::size_t>(-1);
  // A stored file whose size this listing changed: its size before, and
  // its journal entry.
  struct Resize {
    std::uint64_t oldSize = 0;
    std::size_t note = kNoNote;
    bool counted = false;
  };

  CFTPDir& dir_;
  CFTPSite* site_;
  // The directory's path with a trailing "/", made at the first change.
  std::string path_;
  bool havePath_ = false;
  Index fileIndex_;
  Index dirIndex_;
  // Files before this listing: those at or after it were added by it.
  std::size_t filesAtStart_ = 0;
  // Files this listing named, by position (one bit each).
  std::vector<bool> listed_;
  // The journal entry of each file this listing added, in order.
  std::vector<std::size_t> addedNotes_;
  std::unordered_map<std::size_t, Resize> resized_;
};

}  // namespace orvane
