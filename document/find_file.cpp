#include "document/find_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "catalog/atomic_file.h"
#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_files_commit.h"
#include "catalog/site_options.h"
#include "document/search_fold.h"
#include "document/visible_text.h"

namespace orvane {

static_assert(std::endian::native == std::endian::little, "find.idx is read in place");

namespace {

constexpr char kMagic[8] = {'O', 'r', 'v', 'F', 'i', 'n', 'd', '\n'};
// Bumped whenever the layout or what goes into the texts changes.
constexpr std::uint32_t kFormat = 2;
constexpr std::size_t kHeaderBytes = 80;
// An entry's record: size (the top bit set for a directory), parent, start
// of its name; what printing a hit reads, in one place.
constexpr std::size_t kRecordBytes = 16;
constexpr std::uint64_t kDirBit = std::uint64_t{1} << 63;
// Set when the name's run holds its text as a terminal shows it, then a
// NUL, before the raw bytes.
constexpr std::uint64_t kShownBit = std::uint64_t{1} << 62;
constexpr std::uint64_t kSizeBits = kShownBit - 1;

// Header fields, by offset.
enum : std::size_t {
  kAtMagic = 0,
  kAtFormat = 8,
  kAtFold = 12,
  kAtKnownCharset = 16,
  kAtFromNames = 17,
  kAtDecoding = 18,
  kAtCount = 20,
  kAtContentSize = 24,
  kAtContentMtime = 32,
  kAtContentInode = 40,
  kAtContentDevice = 48,
  kAtTextBytes = 56,
  kAtNameBytes = 64,
  kAtFileBytes = 72,
};

std::uint64_t Pad8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }

// Where each part starts, from the counts in the header.
struct Layout {
  std::uint64_t records, textStart, texts, names, end;

  Layout(std::uint64_t count, std::uint64_t textBytes, std::uint64_t nameBytes) {
    records = kHeaderBytes;
    textStart = records + kRecordBytes * (count + 1);
    texts = Pad8(textStart + 4 * (count + 1));
    names = texts + textBytes;
    end = names + nameBytes;
  }
};

template <typename T>
void Put(std::string& out, std::size_t at, T value) {
  std::memcpy(out.data() + at, &value, sizeof value);
}

template <typename T>
T Get(std::string_view bytes, std::size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

// Offsets that cut the texts into runs of at least one byte (the texts and
// their terminator), in order, from their start to their end. The
// terminators' bytes are not read here: a scan takes no match that runs
// into one, so their value cannot change an answer.
bool RunsValid(const std::uint32_t* start, std::uint32_t count, std::string_view texts) {
  if (start[0] != 0 || start[count] != texts.size()) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (start[i + 1] <= start[i]) return false;
  }
  return true;
}

// Every commit of a catalog in a program that finds refreshes the site's
// find file; a program that never finds (this file not linked) writes none.
const bool kWrittenAfterCommits = [] {
  SetCatalogCommittedHook(
      [](const CFTPSite& site, const std::filesystem::path& dir) { WriteFindFile(site, dir); });
  return true;
}();

}  // namespace

std::uint64_t CFindFile::Word(std::uint32_t i) const {
  std::uint64_t word;
  std::memcpy(&word, records_ + kRecordBytes * i, 8);
  return word;
}

std::uint32_t CFindFile::Field(std::uint32_t i, std::size_t at) const {
  std::uint32_t value;
  std::memcpy(&value, records_ + kRecordBytes * i + at, 4);
  return value;
}

std::uint64_t CFindFile::Size(std::uint32_t i) const { return Word(i) & kSizeBits; }

bool CFindFile::IsDir(std::uint32_t i) const { return Word(i) & kDirBit; }

std::uint32_t CFindFile::Parent(std::uint32_t i) const { return Field(i, 8); }

std::string_view CFindFile::Run(std::uint32_t i) const {
  const std::uint32_t start = Field(i, 12);
  return names_.substr(start, Field(i + 1, 12) - start - 1);
}

std::string_view CFindFile::Name(std::uint32_t i) const {
  const std::string_view run = Run(i);
  if (!(Word(i) & kShownBit)) return run;
  // A shown text holds no NUL; without one the run is damaged (and then
  // shown as it is, with no raw bytes).
  const std::size_t cut = run.find('\0');
  return cut == std::string_view::npos ? std::string_view() : run.substr(cut + 1);
}

std::string_view CFindFile::TerminalName(std::uint32_t i) const {
  const std::string_view run = Run(i);
  return Word(i) & kShownBit ? run.substr(0, run.find('\0')) : run;
}

void CFindFile::Prefetch(std::uint32_t i) const {
  __builtin_prefetch(records_ + kRecordBytes * i);
  if (i < markCount_) __builtin_prefetch(marks_ + 4 * std::size_t{i});
}

void CFindFile::PrefetchName(std::uint32_t i) const {
  __builtin_prefetch(names_.data() + Field(i, 12));
}

std::string CFindFile::Path(std::uint32_t i, bool shown) const {
  // Parents come before their children, so the walk up ends.
  std::vector<std::uint32_t> chain;
  for (std::uint32_t e = i; e != kNoParent; e = Parent(e)) chain.push_back(e);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path.push_back('/');
    path.append(shown ? TerminalName(*it) : Name(*it));
  }
  return path;
}

CFindFile::~CFindFile() {
  if (map_) ::munmap(map_, mapBytes_);
  if (marksMap_) ::munmap(marksMap_, marksMapBytes_);
}

bool CFindFile::IsNew(std::uint32_t i) const {
  if (i >= markCount_) return false;
  std::uint32_t mark;
  std::memcpy(&mark, marks_ + 4 * std::size_t{i}, 4);
  return mark != 0;
}

std::unique_ptr<CFindFile> CFindFile::Parse(std::string_view bytes, const FindFileKey* key) {
  if (bytes.size() < kHeaderBytes || reinterpret_cast<std::uintptr_t>(bytes.data()) % 8 != 0 ||
      std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
      Get<std::uint32_t>(bytes, kAtFormat) != kFormat ||
      Get<std::uint32_t>(bytes, kAtFold) != SearchFoldVersion()) {
    return nullptr;
  }
  // A reader that knows the charset needs texts decoded by it; one that
  // does not needs a file whose names decided it.
  const auto known = Get<std::uint8_t>(bytes, kAtKnownCharset);
  const auto decoding = Get<std::uint8_t>(bytes, kAtDecoding);
  if (key &&
      ((key->known == NameCharset::kAuto && known != 0) ||
       (key->known != NameCharset::kAuto && decoding != static_cast<std::uint8_t>(key->decoding)) ||
       !key->content.exists ||
       Get<std::uint64_t>(bytes, kAtContentSize) != static_cast<std::uint64_t>(key->content.size) ||
       Get<std::int64_t>(bytes, kAtContentMtime) != key->content.mtimeNs ||
       Get<std::uint64_t>(bytes, kAtContentInode) != key->content.inode ||
       Get<std::uint64_t>(bytes, kAtContentDevice) != key->content.device)) {
    return nullptr;
  }
  const auto fromNames = Get<std::uint8_t>(bytes, kAtFromNames);
  constexpr auto kLast = static_cast<std::uint8_t>(NameCharset::kWindows1252);
  if (known > kLast || fromNames > kLast || decoding == 0 || decoding > kLast ||
      Get<std::uint8_t>(bytes, kAtDecoding + 1) != 0) {
    return nullptr;
  }
  const auto count = Get<std::uint32_t>(bytes, kAtCount);
  const auto textBytes = Get<std::uint64_t>(bytes, kAtTextBytes);
  const auto nameBytes = Get<std::uint64_t>(bytes, kAtNameBytes);
  // Offsets are 32-bit; larger claims are damage (and would overflow below).
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  if (count == CFindFile::kNoParent || textBytes > kMax || nameBytes > kMax) return nullptr;
  const Layout layout(count, textBytes, nameBytes);
  if (Get<std::uint64_t>(bytes, kAtFileBytes) != bytes.size() || layout.end != bytes.size()) {
    return nullptr;
  }
  std::unique_ptr<CFindFile> file(new CFindFile);
  const char* base = bytes.data();
  file->count_ = count;
  file->fromNames_ = static_cast<NameCharset>(fromNames);
  file->records_ = reinterpret_cast<const unsigned char*>(base + layout.records);
  file->textStart_ = reinterpret_cast<const std::uint32_t*>(base + layout.textStart);
  file->texts_ = bytes.substr(layout.texts, textBytes);
  file->names_ = bytes.substr(layout.names, nameBytes);
  if (!RunsValid(file->textStart_, count, file->texts_)) return nullptr;
  // Each record: a parent that is a directory before it, a name of at
  // least its NUL after the one before; the extra record ends the names.
  std::uint32_t nameAt = 0;
  if (file->Field(0, 12) != 0 || file->Field(count, 12) != nameBytes) return nullptr;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t parent = file->Parent(i);
    const std::uint32_t nextName = file->Field(i + 1, 12);
    if ((parent != kNoParent && (parent >= i || !file->IsDir(parent))) || nextName <= nameAt) {
      return nullptr;
    }
    nameAt = nextName;
  }
  return file;
}

std::unique_ptr<CFindFile> CFindFile::Open(const std::filesystem::path& dir, NameCharset known,
                                           NameCharset decoding) {
  // A commit that did not finish: content.ct is about to change.
  if (SiteFilesNeedRecovery(dir)) return nullptr;
  const std::filesystem::path contentPath = dir / "content.ct";
  FindFileKey key{FileIdentity::Of(contentPath), known, decoding};
  if (!key.content.exists) return nullptr;
  const int fd = OpenRegularForReading(dir / kFindFileName);
  if (fd < 0) return nullptr;
  struct stat info {};
  void* map = MAP_FAILED;
  if (::fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(kHeaderBytes)) {
    // Not populated: a query reads the texts and little else.
    map = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  }
  ::close(fd);
  if (map == MAP_FAILED) return nullptr;
  const auto mapBytes = static_cast<std::size_t>(info.st_size);
  std::unique_ptr<CFindFile> file =
      Parse(std::string_view(static_cast<const char*>(map), mapBytes), &key);
  if (!file) {
    ::munmap(map, mapBytes);
    return nullptr;
  }
  file->map_ = map;
  file->mapBytes_ = mapBytes;
  // The marks: state.st's values in entry order. It is replaced together
  // with content.ct, so once content.ct is seen unchanged after it was
  // mapped they belong to these entries. A short file leaves the rest
  // unmarked.
  const int stateFd = OpenRegularForReading(dir / "state.st");
  if (stateFd >= 0) {
    struct stat state {};
    if (::fstat(stateFd, &state) == 0 && state.st_size >= 4) {
      const auto bytes = static_cast<std::size_t>(state.st_size);
      void* marks = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, stateFd, 0);
      if (marks != MAP_FAILED) {
        file->marksMap_ = marks;
        file->marksMapBytes_ = bytes;
        file->marks_ = static_cast<const unsigned char*>(marks);
        file->markCount_ =
            static_cast<std::uint32_t>(std::min<std::size_t>(bytes / 4, file->count_));
      }
    }
    ::close(stateFd);
  }
  if (FileIdentity::Of(contentPath) != key.content) return nullptr;
  return file;
}

bool WriteFindFile(const CFTPSite& site, const std::filesystem::path& dir) {
  const FileIdentity content = FileIdentity::Of(dir / "content.ct");
  if (!content.exists || !site.rootDir) return false;
  // The charset a reader that has not loaded the catalog knows, and the
  // one the texts are decoded by: what loading the catalog would use.
  NameCharset known = site.charset.load();
  if (known == NameCharset::kAuto) {
    if (const std::optional<CharsetDecision> recorded = ReadCharsetDecision(dir)) {
      known = recorded->decided;
    }
  }
  NameCharset fromNames = NameCharset::kAuto;
  if (known == NameCharset::kAuto) {
    CCharsetDecider decider;
    AddTreeNames(*site.rootDir, decider);
    if (decider.SawNonAscii()) fromNames = decider.Decide(ServerUtf8::kUnknown);
  }
  const NameCharset decoding = EffectiveCharset(known, fromNames);
  std::string records;
  std::vector<std::uint32_t> textStart;
  std::string texts;
  std::string names;
  std::uint32_t count = 0;
  const auto record = [&records](std::uint64_t word, std::uint32_t parent,
                                 std::uint32_t nameStart) {
    char bytes[kRecordBytes];
    std::memcpy(bytes, &word, 8);
    std::memcpy(bytes + 8, &parent, 4);
    std::memcpy(bytes + 12, &nameStart, 4);
    records.append(bytes, kRecordBytes);
  };
  const auto add = [&](std::uint32_t parent, std::string_view name, bool isDir,
                       std::uint64_t size) {
    // Names a terminal shows otherwise than their bytes keep that text
    // too, so that printing a hit decodes and escapes nothing.
    const bool plain = std::all_of(name.begin(), name.end(),
                                   [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; });
    record((isDir ? kDirBit : size & kSizeBits) | (plain ? 0 : kShownBit), parent,
           static_cast<std::uint32_t>(names.size()));
    textStart.push_back(static_cast<std::uint32_t>(texts.size()));
    AppendSearchTexts(decoding, name, texts);
    texts.push_back('\0');
    if (!plain) {
      names.append(TerminalText(DecodeName(name, decoding, InvalidBytes::kEscape)));
      names.push_back('\0');
    }
    names.append(name);
    names.push_back('\0');
    return count++;
  };
  // The order state.st keeps its marks in (CFTPDir::Store).
  struct Frame {
    const CFTPDir* dir;
    std::uint32_t index;
    std::size_t nextSubdir;
  };
  std::vector<Frame> stack{Frame{site.rootDir.get(), CFindFile::kNoParent, 0}};
  constexpr std::size_t kMax = std::numeric_limits<std::uint32_t>::max() - 1;
  while (!stack.empty()) {
    if (count >= kMax || texts.size() >= kMax || names.size() >= kMax) return false;
    Frame& top = stack.back();
    if (top.nextSubdir < top.dir->subdirs.size()) {
      const CFTPDir* sub = top.dir->subdirs[top.nextSubdir++].get();
      const std::uint32_t index = add(top.index, sub->name(), true, 0);
      stack.push_back(Frame{sub, index, 0});
      continue;
    }
    for (const auto& file : top.dir->files) {
      add(top.index, file->name(), false, file->size.load(std::memory_order_relaxed));
    }
    stack.pop_back();
  }
  if (texts.size() > kMax || names.size() > kMax) return false;
  textStart.push_back(static_cast<std::uint32_t>(texts.size()));
  record(0, CFindFile::kNoParent, static_cast<std::uint32_t>(names.size()));

  const Layout layout(count, texts.size(), names.size());
  std::string head(layout.texts, '\0');
  std::memcpy(head.data() + kAtMagic, kMagic, sizeof kMagic);
  Put(head, kAtFormat, kFormat);
  Put(head, kAtFold, SearchFoldVersion());
  Put(head, kAtKnownCharset, static_cast<std::uint8_t>(known));
  Put(head, kAtFromNames, static_cast<std::uint8_t>(fromNames));
  Put(head, kAtDecoding, static_cast<std::uint8_t>(decoding));
  Put(head, kAtCount, count);
  Put(head, kAtContentSize, static_cast<std::uint64_t>(content.size));
  Put(head, kAtContentMtime, static_cast<std::int64_t>(content.mtimeNs));
  Put(head, kAtContentInode, static_cast<std::uint64_t>(content.inode));
  Put(head, kAtContentDevice, static_cast<std::uint64_t>(content.device));
  Put(head, kAtTextBytes, static_cast<std::uint64_t>(texts.size()));
  Put(head, kAtNameBytes, static_cast<std::uint64_t>(names.size()));
  Put(head, kAtFileBytes, layout.end);
  std::memcpy(head.data() + layout.records, records.data(), records.size());
  std::memcpy(head.data() + layout.textStart, textStart.data(), 4 * textStart.size());

  CAtomicFile file(dir / kFindFileName, 0600);
  return file.is_open() && file.sink().Write(head.data(), head.size()) &&
         file.sink().Write(texts.data(), texts.size()) &&
         file.sink().Write(names.data(), names.size()) && file.Commit();
}

}  // namespace orvane
