#include "catalog/listing_merge.h"

#include <cstring>
#include <utility>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_site.h"

namespace orvane {

namespace {

// Below this many entries a scan is cheaper than building an index.
constexpr std::size_t kIndexThreshold = 16;

// Eight bytes at a time with a multiply-and-fold mix; names are short, and
// the hash is only ever compared within one merge.
std::uint64_t HashName(std::string_view name) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = name.size() * kMul;
  const char* p = name.data();
  std::size_t left = name.size();
  while (left >= 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p, 8);
    h = (h ^ chunk) * kMul;
    h ^= h >> 29;
    p += 8;
    left -= 8;
  }
  if (left > 0) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, p, left);
    h = (h ^ chunk) * kMul;
  }
  h ^= h >> 32;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 29;
  return h;
}

}  // namespace

CListingMerge::CListingMerge(CFTPDir& dir)
    : dir_(dir), site_(dir.GetSite()), filesAtStart_(dir.files.size()) {
  // The stored marks no longer fit this tree until both files are saved.
  if (site_) site_->catalogUnsaved.store(true);
}
CListingMerge::~CListingMerge() = default;

template <typename List>
void CListingMerge::Insert(const List& list, Index& index, std::uint32_t position) {
  if ((index.count + 1) * 4 > index.slots.size() * 3) {
    // Grow and re-insert every entry in list order so the first of equal
    // names keeps the earliest slot in its probe chain.
    std::size_t capacity = 64;
    while (capacity < (index.count + 1) * 2) capacity *= 2;
    index.slots.assign(capacity, Slot{});
    index.count = 0;
    const std::uint32_t upto = position;
    for (std::uint32_t i = 0; i < upto; ++i) Insert(list, index, i);
  }
  const std::size_t mask = index.slots.size() - 1;
  std::string_view name = list[position]->name();
  const std::uint64_t hash = HashName(name);
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  std::size_t slot = hash & mask;
  while (index.slots[slot].position != 0) {
    // First match wins: a later duplicate name is never indexed.
    const Slot& used = index.slots[slot];
    if (used.tag == tag && list[used.position - 1]->name() == name) return;
    slot = (slot + 1) & mask;
  }
  index.slots[slot] = Slot{position + 1, tag};
  ++index.count;
}

template <typename List>
void CListingMerge::Build(const List& list, Index& index) {
  index.built = true;
  index.count = 0;
  // Between a quarter and a half full: room for the new names of a listing
  // as large again before the index must grow, in a table small enough to
  // stay in the cache. The tags keep long probe runs cheap.
  std::size_t capacity = 64;
  while (capacity < list.size() * 2) capacity *= 2;
  index.slots.assign(capacity, Slot{});
  for (std::uint32_t i = 0; i < list.size(); ++i) Insert(list, index, i);
}

template <typename List>
std::int64_t CListingMerge::Find(const List& list, Index& index, std::string_view name) {
  if (!index.built) {
    if (list.size() < kIndexThreshold) {
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i]->name() == name) return static_cast<std::int64_t>(i);
      }
      return -1;
    }
    Build(list, index);
  }
  const std::size_t mask = index.slots.size() - 1;
  const std::uint64_t hash = HashName(name);
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  std::size_t slot = hash & mask;
  // The tag spares a visit to the entry (a cache miss) for nearly every
  // slot that holds another name.
  while (index.slots[slot].position != 0) {
    const Slot& used = index.slots[slot];
    if (used.tag == tag && list[used.position - 1]->name() == name) return used.position - 1;
    slot = (slot + 1) & mask;
  }
  return -1;
}

JournalRecord* CListingMerge::Journal() {
  if (!site_ || !site_->changes.active) return nullptr;
  return &site_->changes.record;
}

std::size_t CListingMerge::Note(JournalRecord& record, JournalEntry entry, std::string_view name) {
  // A first crawl keeps the counts only: every entry would be "added". A
  // record lists a bounded number of entries (its counts stay exact), so
  // that a server that makes up new names without end costs the journal
  // no more than that.
  if (record.summary || record.entries.size() >= kMaxJournalRecordEntries) return kNoNote;
  if (!havePath_) {
    path_ = dir_.GetPath();
    if (path_.empty() || path_.back() != '/') path_.push_back('/');
    havePath_ = true;
  }
  entry.path.reserve(path_.size() + name.size());
  entry.path.assign(path_).append(name);
  record.entries.push_back(std::move(entry));
  return record.entries.size() - 1;
}

void CListingMerge::Relisted(std::size_t position, std::uint64_t size) {
  CFTPFile& file = *dir_.files[position];
  JournalRecord* journal = Journal();
  if (position >= filesAtStart_) {
    // Added by this listing: one entry, with the size the catalog keeps.
    file.size.store(size, std::memory_order_relaxed);
    const std::size_t added = position - filesAtStart_;
    if (journal && added < addedNotes_.size() && addedNotes_[added] != kNoNote) {
      journal->entries[addedNotes_[added]].size = size;
    }
    return;
  }
  const std::uint64_t before = file.size.exchange(size, std::memory_order_relaxed);
  auto found = resized_.find(position);
  if (found == resized_.end()) {
    if (before == size || !journal) return;
    ++journal->resized;
    resized_[position] = Resize{
        before, Note(*journal, {JournalEntry::Kind::kResized, false, {}, size, before, 0},
                     file.name()),
        true};
    return;
  }
  Resize& resize = found->second;
  if (!journal) return;
  // A resize back to the stored size is no change: it leaves the count,
  // and its entry is dropped when the record is closed.
  const bool change = size != resize.oldSize;
  if (change && !resize.counted) ++journal->resized;
  if (!change && resize.counted) --journal->resized;
  resize.counted = change;
  if (resize.note != kNoNote) journal->entries[resize.note].size = size;
}

bool CListingMerge::Add(std::string_view name, bool isDirectory, std::uint64_t size) {
  if (name == "." || name == "..") return false;
  JournalRecord* journal = Journal();
  if (isDirectory) {
    const std::int64_t found = Find(dir_.subdirs, dirIndex_, name);
    if (found >= 0) {
      dir_.subdirs[static_cast<std::size_t>(found)]->seen = 1;
      return false;
    }
    auto dir = std::make_unique<CFTPDir>(name, 1);
    dir->seen = 1;
    dir_.AddSubdir(std::move(dir));
    if (dirIndex_.built) {
      Insert(dir_.subdirs, dirIndex_, static_cast<std::uint32_t>(dir_.subdirs.size() - 1));
    }
  } else {
    const std::int64_t found = Find(dir_.files, fileIndex_, name);
    if (found >= 0) {
      const auto position = static_cast<std::size_t>(found);
      if (listed_.size() <= position) listed_.resize(dir_.files.size());
      if (listed_[position]) {
        Relisted(position, size);
        return false;
      }
      listed_[position] = true;
      CFTPFile& file = *dir_.files[position];
      file.seen = 1;
      const std::uint64_t oldSize = file.size.exchange(size, std::memory_order_relaxed);
      if (journal && oldSize != size) {
        ++journal->resized;
        resized_[position] = Resize{
            oldSize, Note(*journal, {JournalEntry::Kind::kResized, false, {}, size, oldSize, 0}, name),
            true};
      }
      return false;
    }
    auto file = CFTPFile::Make(name, size, 1);
    file->seen = 1;
    dir_.AddFile(std::move(file));
    if (listed_.size() < dir_.files.size()) listed_.resize(dir_.files.size());
    listed_[dir_.files.size() - 1] = true;
    if (fileIndex_.built) {
      Insert(dir_.files, fileIndex_, static_cast<std::uint32_t>(dir_.files.size() - 1));
    }
  }
  if (site_) site_->hasNewEntries.store(true, std::memory_order_relaxed);
  if (journal) {
    ++journal->added;
    const std::size_t note = Note(
        *journal, {JournalEntry::Kind::kAdded, isDirectory, {}, isDirectory ? 0 : size, 0, 0}, name);
    if (!isDirectory && !journal->summary) addedNotes_.push_back(note);
  }
  return true;
}

std::size_t CListingMerge::Sweep(IRemovalSink& sink) {
  std::size_t removed = 0;
  // Stable compaction: survivors keep their order, the rest leave in order.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < dir_.files.size(); ++i) {
    std::unique_ptr<CFTPFile>& file = dir_.files[i];
    if (file->seen) {
      file->seen = 0;
      if (kept != i) dir_.files[kept] = std::move(file);
      ++kept;
    } else {
      ++removed;
      if (JournalRecord* journal = Journal()) {
        ++journal->removed;
        Note(*journal, {JournalEntry::Kind::kRemoved, false, {}, file->size.load(), 0, 0},
             file->name());
      }
      sink.FileRemoved(std::move(file));
    }
  }
  dir_.files.resize(kept);

  kept = 0;
  for (std::size_t i = 0; i < dir_.subdirs.size(); ++i) {
    std::unique_ptr<CFTPDir>& sub = dir_.subdirs[i];
    if (sub->seen) {
      sub->seen = 0;
      if (kept != i) dir_.subdirs[kept] = std::move(sub);
      ++kept;
    } else {
      ++removed;
      if (JournalRecord* journal = Journal()) {
        // A subtree once, at its root, with what went with it.
        ++journal->removed;
        Note(*journal, {JournalEntry::Kind::kRemoved, true, {}, 0, 0, sub->CountEntries()},
             sub->name());
      }
      sink.DirRemoved(std::move(sub));
    }
  }
  dir_.subdirs.resize(kept);

  // Positions changed; an index would be stale.
  fileIndex_ = Index{};
  dirIndex_ = Index{};
  return removed;
}

std::size_t CListingMerge::Sweep(IRemovalSink& sink,
                                 const std::function<bool(std::string_view)>& mayBeListed) {
  for (const auto& file : dir_.files) {
    if (!file->seen && mayBeListed(file->name())) file->seen = 1;
  }
  for (const auto& sub : dir_.subdirs) {
    if (!sub->seen && mayBeListed(sub->name())) sub->seen = 1;
  }
  return Sweep(sink);
}

void CListingMerge::Keep() {
  for (const auto& file : dir_.files) file->seen = 0;
  for (const auto& sub : dir_.subdirs) sub->seen = 0;
}

}  // namespace orvane
