#include "document/find_index.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "catalog/change_journal.h"
#include "catalog/code_page.h"
#include "catalog/data_dir_lock.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/name_charset.h"
#include "document/find_file.h"
#include "document/find_query.h"
#include "document/orvane_doc.h"
#include "document/search_fold.h"

namespace orvane {

struct CFindIndex::Segment {
  std::shared_ptr<CFTPSite> site;
  std::string siteTexts;
  // Built from a loaded catalog: entry i is a CFTPDir* with the low bit
  // set, or a CFTPFile*; sizes and marks are read from the entries. Empty
  // when the segment is only the site's find file (`stored`), whose sizes
  // and marks are then read.
  std::vector<std::uintptr_t> entries;
  // The site's find file when it was current: the texts and parents are
  // its own, not copied.
  std::unique_ptr<CFindFile> stored;
  std::uint32_t count = 0;
  // All entries' texts, each ended by a NUL; entry i's start at start[i]
  // (count + 1 elements). In the find file, or in the vectors below.
  std::string_view texts;
  const std::uint32_t* start = nullptr;
  std::string ownTexts;
  std::vector<std::uint32_t> ownStart;
  std::vector<std::uint32_t> ownParent;
  struct Times {
    std::int64_t added = 0;
    std::int64_t changed = 0;
  };
  std::unordered_map<std::uint32_t, Times> journal;
  std::vector<FindGhost> ghosts;

  static constexpr std::uint32_t kNoParent = CFindFile::kNoParent;

  std::size_t Bytes() const {
    return entries.capacity() * sizeof(std::uintptr_t) + ownStart.capacity() * 4 +
           ownParent.capacity() * 4 + ownTexts.capacity() + journal.size() * 32 +
           ghosts.capacity() * sizeof(FindGhost);
  }
  bool IsDir(std::uint32_t i) const { return entries.empty() ? stored->IsDir(i) : entries[i] & 1; }
  // Entry index of the parent directory; kNoParent below the root.
  std::uint32_t Parent(std::uint32_t i) const { return stored ? stored->Parent(i) : ownParent[i]; }
};

namespace {

using Segment = CFindIndex::Segment;

// The first text of entry texts (the decoded name).
std::string_view FirstText(std::string_view texts) {
  return texts.substr(0, texts.find(kTextSeparator));
}

std::string FoldedSiteTexts(const CFTPSite& site) {
  std::string texts = SearchFold(DecodeSiteText(site.siteKey()));
  if (!site.nickname.empty()) {
    texts.push_back(kTextSeparator);
    AppendSearchFold(DecodeSiteText(site.nickname), texts);
  }
  return texts;
}

std::string FoldedPath(const CFTPSite& site, std::string_view rawPath) {
  std::string path;
  std::size_t from = 1;
  while (from <= rawPath.size()) {
    std::size_t cut = rawPath.find('/', from);
    if (cut == std::string_view::npos) cut = rawPath.size();
    path.push_back('/');
    AppendSearchFold(DecodeForSearch(site, rawPath.substr(from, cut - from)), path);
    from = cut + 1;
  }
  return path;
}

class IndexSubject final : public FindSubject {
 public:
  explicit IndexSubject(const Segment& segment) : segment_(segment) {}
  void Reset(std::uint32_t i) {
    i_ = i;
    pathBuilt_ = false;
  }
  std::string_view Texts() override { return TextsOf(i_); }
  bool IsDir() override { return segment_.IsDir(i_); }
  std::uint64_t Size() override {
    if (segment_.entries.empty()) return segment_.stored->Size(i_);
    return IsDir() ? 0 : reinterpret_cast<const CFTPFile*>(segment_.entries[i_])->size.load();
  }
  bool IsNew() override {
    if (segment_.entries.empty()) return segment_.stored->IsNew(i_);
    const std::uintptr_t e = segment_.entries[i_];
    return e & 1 ? reinterpret_cast<const CFTPDir*>(e & ~std::uintptr_t{1})->readState.load() != 0
                 : reinterpret_cast<const CFTPFile*>(e)->readState.load() != 0;
  }
  std::string_view SiteTexts() override { return segment_.siteTexts; }
  std::string_view Path() override {
    if (!pathBuilt_) {
      // Entries of one directory sit together: its path is built once.
      const std::uint32_t parent = segment_.Parent(i_);
      if (parent != parentOfPath_) {
        parentOfPath_ = parent;
        chain_.clear();
        for (std::uint32_t p = parent; p != Segment::kNoParent; p = segment_.Parent(p)) {
          chain_.push_back(p);
        }
        parentPath_.clear();
        for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
          parentPath_.push_back('/');
          parentPath_.append(FirstText(TextsOf(*it)));
        }
      }
      path_.assign(parentPath_);
      path_.push_back('/');
      path_.append(FirstText(TextsOf(i_)));
      pathBuilt_ = true;
    }
    return path_;
  }
  std::int64_t JournalTime(Journal kind) override {
    if (kind == Journal::kRemoved || segment_.journal.empty()) return 0;
    const auto it = segment_.journal.find(i_);
    if (it == segment_.journal.end()) return 0;
    return kind == Journal::kAdded ? it->second.added : it->second.changed;
  }

 private:
  std::string_view TextsOf(std::uint32_t e) const {
    return segment_.texts.substr(segment_.start[e], segment_.start[e + 1] - segment_.start[e] - 1);
  }

  const Segment& segment_;
  std::uint32_t i_ = 0;
  bool pathBuilt_ = false;
  std::vector<std::uint32_t> chain_;
  std::uint32_t parentOfPath_ = Segment::kNoParent - 1;
  std::string parentPath_;
  std::string path_;
};

class GhostSubject final : public FindSubject {
 public:
  GhostSubject(const FindGhost& ghost, std::string_view siteTexts)
      : ghost_(ghost), siteTexts_(siteTexts) {}
  std::string_view Texts() override { return ghost_.texts; }
  bool IsDir() override { return ghost_.isDir; }
  std::uint64_t Size() override { return ghost_.size; }
  bool IsNew() override { return false; }
  std::string_view SiteTexts() override { return siteTexts_; }
  std::string_view Path() override { return ghost_.foldedPath; }
  std::int64_t JournalTime(Journal kind) override {
    return kind == Journal::kRemoved ? ghost_.time : 0;
  }

 private:
  const FindGhost& ghost_;
  std::string_view siteTexts_;
};

// The parent of a raw path ("/" for a root entry) and its last component.
std::pair<std::string_view, std::string_view> SplitPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {"/", path};
  return {slash == 0 ? std::string_view("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// Points the segment's views at its own vectors.
void UseOwn(Segment& segment) {
  segment.count = static_cast<std::uint32_t>(segment.entries.size());
  segment.texts = segment.ownTexts;
  segment.start = segment.ownStart.data();
}

// The site's find file, when it holds the very tree in memory: the one
// content.ct held when this process read or wrote it, which is still there
// and no merge has changed since.
std::unique_ptr<CFindFile> CurrentFindFile(CFTPSite& site,
                                           const std::filesystem::path& programDir) {
  if (site.loadState.load() != kLoaded || site.catalogUnsaved.load()) return nullptr;
  const std::filesystem::path dir = site.DataDirectory(programDir);
  FileIdentity loaded;
  {
    std::lock_guard guard(site.filesLock);
    loaded = site.contentOnDisk;
  }
  if (!loaded.exists || FileIdentity::Of(dir / "content.ct") != loaded) return nullptr;
  return CFindFile::Open(dir, site.KnownCharset(), site.NameCharsetInUse());
}

// Builds the segment from the site's catalog; with `file` (the site's
// current find file), its texts and parents are used instead of folding
// every name again, as long as the walk finds the entries it describes.
void Build(Segment& segment, const std::filesystem::path& programDir,
           std::unique_ptr<CFindFile> file = nullptr) {
  CFTPSite& site = *segment.site;
  segment.siteTexts = FoldedSiteTexts(site);
  segment.stored.reset();
  segment.entries.clear();
  segment.ownStart.clear();
  segment.ownParent.clear();
  segment.ownTexts.clear();
  segment.journal.clear();
  segment.ghosts.clear();

  // The journal first: which paths to note while walking.
  std::unordered_map<std::string, Segment::Times> times;
  std::unordered_set<std::string> journalDirs;
  {
    std::string bytes;
    const std::filesystem::path file = site.DataDirectory(programDir) / kJournalFileName;
    if (ReadJournalFile(file, bytes) && !bytes.empty()) {
      for (const JournalRecord& record : ReadJournal(bytes)) {
        for (const JournalEntry& entry : record.entries) {
          if (entry.kind == JournalEntry::Kind::kRemoved) {
            FindGhost ghost;
            ghost.path = entry.path;
            ghost.size = entry.size;
            ghost.isDir = entry.isDirectory;
            ghost.time = record.endTime;
            AppendSearchTexts(site, SplitPath(entry.path).second, ghost.texts);
            ghost.foldedPath = FoldedPath(site, entry.path);
            segment.ghosts.push_back(std::move(ghost));
            continue;
          }
          Segment::Times& t = times[entry.path];
          (entry.kind == JournalEntry::Kind::kAdded ? t.added : t.changed) = record.endTime;
          journalDirs.emplace(SplitPath(entry.path).first);
        }
      }
    }
  }

  const bool trackPaths = !times.empty();
  // The file says how many entries to expect: no vector grows by copying.
  if (file) segment.entries.reserve(file->count());
  std::string childPath;
  const auto add = [&](std::uintptr_t entry, std::uint32_t parent, std::string_view name,
                       const std::string* dirPath) {
    const auto index = static_cast<std::uint32_t>(segment.entries.size());
    segment.entries.push_back(entry);
    if (!file) {
      segment.ownParent.push_back(parent);
      segment.ownStart.push_back(static_cast<std::uint32_t>(segment.ownTexts.size()));
      AppendSearchTexts(site, name, segment.ownTexts);
      segment.ownTexts.push_back('\0');
    }
    if (dirPath) {
      childPath.assign(*dirPath);
      if (childPath.size() > 1) childPath.push_back('/');
      childPath.append(name);
      const auto it = times.find(childPath);
      if (it != times.end()) segment.journal.emplace(index, it->second);
    }
    return index;
  };
  // The entries in the order of the site's find file (document/find_file.h):
  // each directory before its subtree, its files after its subdirectories'
  // subtrees. Each directory's child lists are read under the site's lock.
  struct Frame {
    std::uint32_t index;  // kNoParent for the root
    std::string path;     // raw path, kept only while the journal needs it
    std::vector<CFTPDir*> dirs;
    std::vector<CFTPFile*> files;
    std::size_t next = 0;
    bool noteHere = false;
  };
  std::vector<Frame> stack;
  const auto enter = [&](const CFTPDir& dir, std::uint32_t index, std::string path) {
    Frame frame{index, std::move(path), {}, {}, 0, false};
    SnapshotChildren(dir, &site, frame.dirs, frame.files);
    frame.noteHere = trackPaths && journalDirs.count(frame.path) != 0;
    stack.push_back(std::move(frame));
  };
  if (site.rootDir) enter(*site.rootDir, Segment::kNoParent, "/");
  while (!stack.empty()) {
    Frame& top = stack.back();
    const std::string* notePath = top.noteHere ? &top.path : nullptr;
    if (top.next < top.dirs.size()) {
      CFTPDir* dir = top.dirs[top.next++];
      const std::uint32_t index =
          add(reinterpret_cast<std::uintptr_t>(dir) | 1, top.index, dir->name(), notePath);
      std::string path;
      if (trackPaths) {
        path = top.path;
        if (path.size() > 1) path.push_back('/');
        path.append(dir->name());
      }
      enter(*dir, index, std::move(path));  // invalidates `top`
      continue;
    }
    for (CFTPFile* file : top.files) {
      add(reinterpret_cast<std::uintptr_t>(file), top.index, file->name(), notePath);
    }
    stack.pop_back();
  }
  if (file) {
    // The file describes the tree walked, entry for entry and kind for
    // kind, or it is not used.
    bool same = file->count() == segment.entries.size();
    for (std::uint32_t i = 0; same && i < file->count(); ++i) {
      same = file->IsDir(i) == ((segment.entries[i] & 1) != 0);
    }
    if (same) {
      segment.entries.shrink_to_fit();
      segment.stored = std::move(file);
      segment.count = segment.stored->count();
      segment.texts = segment.stored->texts();
      segment.start = segment.stored->textStart();
      return;
    }
    Build(segment, programDir);
    return;
  }
  segment.ownStart.push_back(static_cast<std::uint32_t>(segment.ownTexts.size()));
  // What doubling left unused would be a third of the index.
  segment.entries.shrink_to_fit();
  segment.ownStart.shrink_to_fit();
  segment.ownParent.shrink_to_fit();
  segment.ownTexts.shrink_to_fit();
  UseOwn(segment);
}

// The first occurrence of `needle` (at least two bytes) in [s, s + n), or
// null. Candidates are the places where both the needle's first and last
// bytes sit, 32 (or 16) at a time, each then compared in full: several
// times faster than memmem over a buffer of short names, and what makes a
// keystroke's scan of a million names take a few milliseconds.
[[gnu::target("avx2")]] const char* FindLiteralAvx2(const char* s, std::size_t n,
                                                    std::string_view needle) {
  const std::size_t k = needle.size();
  const __m256i first = _mm256_set1_epi8(needle.front());
  const __m256i last = _mm256_set1_epi8(needle.back());
  std::size_t i = 0;
  for (; i + k - 1 + 32 <= n; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + k - 1));
    auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
    while (mask) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (std::memcmp(s + at + 1, needle.data() + 1, k - 2) == 0) return s + at;
      mask &= mask - 1;
    }
  }
  return static_cast<const char*>(::memmem(s + i, n - i, needle.data(), k));
}

const char* FindLiteralSse2(const char* s, std::size_t n, std::string_view needle) {
  const std::size_t k = needle.size();
  const __m128i first = _mm_set1_epi8(needle.front());
  const __m128i last = _mm_set1_epi8(needle.back());
  std::size_t i = 0;
  for (; i + k - 1 + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + k - 1));
    auto mask = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (std::memcmp(s + at + 1, needle.data() + 1, k - 2) == 0) return s + at;
      mask &= mask - 1;
    }
  }
  return static_cast<const char*>(::memmem(s + i, n - i, needle.data(), k));
}

const char* FindLiteral(const char* s, std::size_t n, std::string_view needle) {
  if (needle.size() == 1) return static_cast<const char*>(std::memchr(s, needle.front(), n));
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 ? FindLiteralAvx2(s, n, needle) : FindLiteralSse2(s, n, needle);
}

FindHit HitOf(const Segment& segment, std::uint32_t i) {
  FindHit hit;
  hit.site = segment.site.get();
  if (segment.entries.empty()) {
    hit.stored = segment.stored.get();
    hit.entry = i;
    return hit;
  }
  const std::uintptr_t e = segment.entries[i];
  if (e & 1) {
    hit.dir = reinterpret_cast<CFTPDir*>(e & ~std::uintptr_t{1});
  } else {
    hit.file = reinterpret_cast<CFTPFile*>(e);
  }
  return hit;
}

constexpr std::size_t kScanChunk = std::size_t{1} << 20;
// How many entries are tested between two looks at the stop flag.
constexpr std::uint32_t kStopCheck = 4096;

bool Stopped(const std::atomic<bool>* stop) {
  return stop && stop->load(std::memory_order_relaxed);
}

// Calls `each` with every entry whose texts hold `literal`, in order; false
// when `each` said stop.
template <typename F>
bool ScanLiteral(const Segment& segment, std::string_view literal, F&& each,
                 const std::atomic<bool>* stop) {
  const std::uint32_t count = segment.count;
  const char* base = segment.texts.data();
  const std::size_t size = segment.texts.size();
  std::uint32_t entry = 0;
  std::size_t from = 0;
  while (from < size && entry < count) {
    // A megabyte at a time, so that a stop is seen within a fraction of a
    // millisecond however far the next hit is.
    const std::size_t window = std::min(size - from, kScanChunk + literal.size() - 1);
    const char* found = FindLiteral(base + from, window, literal);
    if (!found) {
      if (window == size - from || Stopped(stop)) break;
      from += kScanChunk;
      continue;
    }
    const auto at = static_cast<std::uint32_t>(found - base);
    // Hits come in order: gallop forward from the last entry to the one
    // whose texts hold `at`.
    std::uint32_t step = 1;
    while (entry + step < count && segment.start[entry + step] <= at) step *= 2;
    const auto* first = segment.start + entry;
    const auto* last = segment.start + std::min<std::size_t>(entry + step, count) + 1;
    entry = static_cast<std::uint32_t>(std::upper_bound(first, last, at) - segment.start - 1);
    // Only a match inside the entry's texts counts, whatever byte ends
    // them: a find file's terminators are then never trusted.
    if (at + literal.size() < segment.start[entry + 1] && !each(entry)) return false;
    from = segment.start[entry + 1];
    ++entry;
  }
  return true;
}

// Runs the query over one segment; false when `visit` said stop.
bool FindIn(const Segment& segment, const CFindQuery& query,
            const std::function<bool(const FindHit&)>& visit, const std::atomic<bool>* stop) {
  if (!query.SiteMayMatch(segment.siteTexts)) return true;
  IndexSubject subject(segment);
  const std::uint32_t count = segment.count;
  const std::vector<std::string>& required = query.RequiredLiterals();
  std::uint32_t tested = 0;
  const auto test = [&](std::uint32_t entry, bool known) {
    if (++tested % kStopCheck == 0 && Stopped(stop)) return false;
    subject.Reset(entry);
    return !(known || query.Matches(subject)) || visit(HitOf(segment, entry));
  };
  if (required.size() == 1 && segment.entries.empty() && segment.stored) {
    // A stored hit's record, mark and name lie far apart in a file much
    // larger than the cache. Their reads are started early and overlap:
    // a hit's record and mark are asked for when the scan finds it, its
    // name once its batch is full (the record is in by then), and the
    // batch is tested only after the next one has filled.
    const bool single = query.IsSingleWord();
    const CFindFile& file = *segment.stored;
    constexpr std::size_t kBatch = 32;
    std::uint32_t batches[2][kBatch];
    std::size_t held[2] = {0, 0};
    int filling = 0;
    const auto testBatch = [&](int which) {
      const std::size_t n = std::exchange(held[which], 0);
      for (std::size_t k = 0; k < n; ++k) {
        if (!test(batches[which][k], single)) return false;
      }
      return true;
    };
    const auto rotate = [&] {
      for (std::size_t k = 0; k < held[filling]; ++k) file.PrefetchName(batches[filling][k]);
      filling ^= 1;
      return testBatch(filling);
    };
    if (!ScanLiteral(
            segment, required.front(),
            [&](std::uint32_t e) {
              file.Prefetch(e);
              batches[filling][held[filling]++] = e;
              return held[filling] < kBatch || rotate();
            },
            stop) ||
        !rotate() || !rotate()) {
      return false;
    }
  } else if (required.size() == 1) {
    const bool single = query.IsSingleWord();
    if (!ScanLiteral(
            segment, required.front(), [&](std::uint32_t e) { return test(e, single); }, stop)) {
      return false;
    }
  } else if (!required.empty()) {
    // Any of several literals: the entries holding one, in entry order.
    std::vector<bool> candidate(count);
    for (const std::string& literal : required) {
      ScanLiteral(
          segment, literal, [&](std::uint32_t e) { return candidate[e] = true; }, stop);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      if (candidate[i] && !test(i, false)) return false;
    }
  } else {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (i % kStopCheck == 0 && Stopped(stop)) return false;
      subject.Reset(i);
      if (query.Matches(subject) && !visit(HitOf(segment, i))) return false;
    }
  }
  if (query.WantsRemoved()) {
    for (const FindGhost& ghost : segment.ghosts) {
      GhostSubject ghostSubject(ghost, segment.siteTexts);
      if (!query.Matches(ghostSubject)) continue;
      FindHit hit;
      hit.site = segment.site.get();
      hit.ghost = &ghost;
      if (!visit(hit)) return false;
    }
  }
  return true;
}

}  // namespace

CFindIndex::CFindIndex() = default;
CFindIndex::~CFindIndex() = default;

CFindIndex::Segment& CFindIndex::SegmentOf(const std::shared_ptr<CFTPSite>& site) {
  for (auto& held : segments_) {
    if (held->site == site) return *held;
  }
  segments_.push_back(std::make_unique<Segment>());
  segments_.back()->site = site;
  return *segments_.back();
}

void CFindIndex::Build(const std::shared_ptr<CFTPSite>& site,
                       const std::filesystem::path& programDir) {
  orvane::Build(SegmentOf(site), programDir, CurrentFindFile(*site, programDir));
}

bool CFindIndex::Open(const std::shared_ptr<CFTPSite>& site,
                      const std::filesystem::path& programDir) {
  const NameCharset known = site->KnownCharset();
  std::unique_ptr<CFindFile> file =
      CFindFile::Open(site->DataDirectory(programDir), known, site->NameCharsetInUse());
  if (!file) return false;
  // As loading the catalog would have decided it from the names.
  if (known == NameCharset::kAuto) site->decidedCharset.store(file->DecidedFromNames());
  Segment* segment = &SegmentOf(site);
  segment->siteTexts = FoldedSiteTexts(*site);
  segment->entries = {};
  segment->ownTexts = {};
  segment->ownStart = {};
  segment->ownParent = {};
  segment->journal.clear();
  segment->ghosts.clear();
  segment->stored = std::move(file);
  segment->count = segment->stored->count();
  segment->texts = segment->stored->texts();
  segment->start = segment->stored->textStart();
  return true;
}

void CFindIndex::Drop(const CFTPSite* site) {
  std::erase_if(segments_, [site](const auto& segment) { return segment->site.get() == site; });
}

bool CFindIndex::Has(const CFTPSite* site) const {
  return std::any_of(segments_.begin(), segments_.end(),
                     [site](const auto& segment) { return segment->site.get() == site; });
}

bool CFindIndex::Find(const CFindQuery& query, const std::function<bool(const FindHit&)>& visit,
                      const std::atomic<bool>* stop) const {
  if (query.Empty()) return true;
  for (const auto& segment : segments_) {
    if (!FindIn(*segment, query, visit, stop)) return false;
  }
  return !Stopped(stop);
}

std::size_t CFindIndex::EntryCount() const {
  std::size_t count = 0;
  for (const auto& segment : segments_) count += segment->count;
  return count;
}

std::size_t CFindIndex::MemoryBytes() const {
  std::size_t bytes = 0;
  for (const auto& segment : segments_) bytes += segment->Bytes();
  return bytes;
}

void IndexEveryCatalog(COrvaneDoc& doc, CFindIndex& index, const CFindQuery* query) {
  const std::vector<std::shared_ptr<CFTPSite>> sites = doc.sites();
  for (const auto& site : sites) {
    if (query && !query->UsesJournal() && site->loadState.load() != kLoaded &&
        index.Open(site, doc.GetProgramDir())) {
      continue;
    }
    doc.EnsureCatalogLoaded(*site);
    index.Build(site, doc.GetProgramDir());
  }
}

bool FindHitIsDir(const FindHit& hit) {
  if (hit.stored) return hit.stored->IsDir(hit.entry);
  return hit.ghost ? hit.ghost->isDir : hit.dir != nullptr;
}

std::uint64_t FindHitSize(const FindHit& hit) {
  if (hit.stored) return hit.stored->Size(hit.entry);
  if (hit.ghost) return hit.ghost->size;
  return hit.file ? hit.file->size.load() : 0;
}

bool FindHitIsNew(const FindHit& hit) {
  if (hit.stored) return hit.stored->IsNew(hit.entry);
  if (hit.ghost) return false;
  return hit.file ? hit.file->readState.load() != 0 : hit.dir->readState.load() != 0;
}

std::string FindHitRawPath(const FindHit& hit) {
  if (hit.stored) return hit.stored->RawPath(hit.entry);
  if (hit.ghost) return hit.ghost->path;
  if (hit.file) {
    std::string path = hit.file->parent ? hit.file->parent->GetPath() : std::string();
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(hit.file->name());
    return path;
  }
  return hit.dir ? hit.dir->GetPath() : std::string();
}

}  // namespace orvane
