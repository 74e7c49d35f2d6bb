#include "document/find_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "catalog/atomic_file.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_files_commit.h"
#include "catalog/site_options.h"
#include "document/search_fold.h"

namespace orvane {

static_assert(std::endian::native == std::endian::little, "find.idx is read in place");

namespace {

constexpr char kMagic[8] = {'O', 'r', 'v', 'F', 'i', 'n', 'd', '\n'};
// Bumped whenever the layout or what goes into the texts changes.
constexpr std::uint32_t kFormat = 1;
constexpr std::size_t kHeaderBytes = 80;

// Header fields, by offset.
enum : std::size_t {
  kAtMagic = 0,
  kAtFormat = 8,
  kAtFold = 12,
  kAtKnownCharset = 16,
  kAtFromNames = 17,
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
  std::uint64_t sizes, parents, textStart, nameStart, flags, texts, names, end;

  Layout(std::uint64_t count, std::uint64_t textBytes, std::uint64_t nameBytes) {
    sizes = kHeaderBytes;
    parents = sizes + 8 * count;
    textStart = Pad8(parents + 4 * count);
    nameStart = Pad8(textStart + 4 * (count + 1));
    flags = Pad8(nameStart + 4 * (count + 1));
    texts = Pad8(flags + count);
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

// Offsets into `bytes` (texts or names) whose every run ends with a NUL:
// start[0] is 0, each run holds at least its NUL, the last ends at the end.
bool RunsValid(const std::uint32_t* start, std::uint32_t count, std::string_view bytes) {
  if (start[0] != 0 || start[count] != bytes.size()) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (start[i + 1] <= start[i] || bytes[start[i + 1] - 1] != '\0') return false;
  }
  return true;
}

// Every commit of a catalog in a program that finds refreshes the site's
// find file; a program that never finds (this file not linked) writes none.
const bool kWrittenAfterCommits = [] {
  SetCatalogCommittedHook([](const CFTPSite& site, const std::filesystem::path& dir) {
    WriteFindFile(site, dir);
  });
  return true;
}();

}  // namespace

std::uint64_t CFindFile::Size(std::uint32_t i) const {
  std::uint64_t size;
  std::memcpy(&size, sizes_ + 8 * std::size_t{i}, 8);
  return size;
}

std::string CFindFile::RawPath(std::uint32_t i) const {
  // Parents come before their children, so the walk up ends.
  std::vector<std::uint32_t> chain;
  for (std::uint32_t e = i; e != kNoParent; e = parents_[e]) chain.push_back(e);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path.push_back('/');
    path.append(Name(*it));
  }
  return path;
}

CFindFile::~CFindFile() {
  if (map_) ::munmap(map_, mapBytes_);
}

std::unique_ptr<CFindFile> CFindFile::Parse(std::string_view bytes, const FindFileKey* key) {
  if (bytes.size() < kHeaderBytes || reinterpret_cast<std::uintptr_t>(bytes.data()) % 8 != 0 ||
      std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
      Get<std::uint32_t>(bytes, kAtFormat) != kFormat ||
      Get<std::uint32_t>(bytes, kAtFold) != SearchFoldVersion()) {
    return nullptr;
  }
  if (key && (Get<std::uint8_t>(bytes, kAtKnownCharset) != static_cast<std::uint8_t>(key->known) ||
              !key->content.exists ||
              Get<std::uint64_t>(bytes, kAtContentSize) !=
                  static_cast<std::uint64_t>(key->content.size) ||
              Get<std::int64_t>(bytes, kAtContentMtime) != key->content.mtimeNs ||
              Get<std::uint64_t>(bytes, kAtContentInode) != key->content.inode ||
              Get<std::uint64_t>(bytes, kAtContentDevice) != key->content.device)) {
    return nullptr;
  }
  const auto fromNames = Get<std::uint8_t>(bytes, kAtFromNames);
  if (Get<std::uint16_t>(bytes, kAtFromNames + 1) != 0 ||
      fromNames > static_cast<std::uint8_t>(NameCharset::kWindows1252)) {
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
  file->sizes_ = reinterpret_cast<const unsigned char*>(base + layout.sizes);
  file->parents_ = reinterpret_cast<const std::uint32_t*>(base + layout.parents);
  file->textStart_ = reinterpret_cast<const std::uint32_t*>(base + layout.textStart);
  file->nameStart_ = reinterpret_cast<const std::uint32_t*>(base + layout.nameStart);
  file->flags_ = reinterpret_cast<const unsigned char*>(base + layout.flags);
  file->texts_ = bytes.substr(layout.texts, textBytes);
  file->names_ = bytes.substr(layout.names, nameBytes);
  if (!RunsValid(file->textStart_, count, file->texts_) ||
      !RunsValid(file->nameStart_, count, file->names_)) {
    return nullptr;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t parent = file->parents_[i];
    if (file->flags_[i] > 1 || (parent != kNoParent && (parent >= i || !file->IsDir(parent)))) {
      return nullptr;
    }
  }
  return file;
}

std::unique_ptr<CFindFile> CFindFile::Open(const std::filesystem::path& dir,
                                           NameCharset known) {
  // A commit that did not finish: content.ct is about to change.
  if (SiteFilesNeedRecovery(dir)) return nullptr;
  const std::filesystem::path contentPath = dir / "content.ct";
  FindFileKey key{FileIdentity::Of(contentPath), known};
  if (!key.content.exists) return nullptr;
  const int fd = OpenRegularForReading(dir / kFindFileName);
  if (fd < 0) return nullptr;
  struct stat info {};
  void* map = MAP_FAILED;
  if (::fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(kHeaderBytes)) {
    map = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ,
                 MAP_PRIVATE | MAP_POPULATE, fd, 0);
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
  // with content.ct, so once content.ct is seen unchanged after the read
  // they belong to these entries. A short file leaves the rest unmarked.
  const int stateFd = OpenRegularForReading(dir / "state.st");
  if (stateFd >= 0) {
    file->marks_.resize(file->count_);
    std::size_t got = 0;
    const std::size_t want = std::size_t{file->count_} * 4;
    auto* into = reinterpret_cast<char*>(file->marks_.data());
    while (got < want) {
      const ssize_t n = ::read(stateFd, into + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(stateFd);
    file->marks_.resize(got / 4);
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
    std::vector<const CFTPDir*> dirs{site.rootDir.get()};
    while (!dirs.empty()) {
      const CFTPDir* dir = dirs.back();
      dirs.pop_back();
      for (const auto& file : dir->files) decider.AddName(file->name());
      for (const auto& sub : dir->subdirs) {
        decider.AddName(sub->name());
        dirs.push_back(sub.get());
      }
    }
    if (decider.SawNonAscii()) fromNames = decider.Decide(ServerUtf8::kUnknown);
  }
  const NameCharset decoding = EffectiveCharset(known, fromNames);
  std::vector<std::uint64_t> sizes;
  std::vector<std::uint32_t> parents;
  std::vector<std::uint32_t> textStart;
  std::vector<std::uint32_t> nameStart;
  std::string flags;
  std::string texts;
  std::string names;
  const auto add = [&](std::uint32_t parent, std::string_view name, bool isDir,
                       std::uint64_t size) {
    const auto index = static_cast<std::uint32_t>(sizes.size());
    sizes.push_back(size);
    parents.push_back(parent);
    flags.push_back(isDir ? 1 : 0);
    textStart.push_back(static_cast<std::uint32_t>(texts.size()));
    AppendSearchTexts(decoding, name, texts);
    texts.push_back('\0');
    nameStart.push_back(static_cast<std::uint32_t>(names.size()));
    names.append(name);
    names.push_back('\0');
    return index;
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
    if (sizes.size() >= kMax || texts.size() >= kMax || names.size() >= kMax) return false;
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
  const auto count = static_cast<std::uint32_t>(sizes.size());
  textStart.push_back(static_cast<std::uint32_t>(texts.size()));
  nameStart.push_back(static_cast<std::uint32_t>(names.size()));

  const Layout layout(count, texts.size(), names.size());
  std::string head(layout.texts, '\0');
  std::memcpy(head.data() + kAtMagic, kMagic, sizeof kMagic);
  Put(head, kAtFormat, kFormat);
  Put(head, kAtFold, SearchFoldVersion());
  Put(head, kAtKnownCharset, static_cast<std::uint8_t>(known));
  Put(head, kAtFromNames, static_cast<std::uint8_t>(fromNames));
  Put(head, kAtCount, count);
  Put(head, kAtContentSize, static_cast<std::uint64_t>(content.size));
  Put(head, kAtContentMtime, static_cast<std::int64_t>(content.mtimeNs));
  Put(head, kAtContentInode, static_cast<std::uint64_t>(content.inode));
  Put(head, kAtContentDevice, static_cast<std::uint64_t>(content.device));
  Put(head, kAtTextBytes, static_cast<std::uint64_t>(texts.size()));
  Put(head, kAtNameBytes, static_cast<std::uint64_t>(names.size()));
  Put(head, kAtFileBytes, layout.end);
  std::memcpy(head.data() + layout.sizes, sizes.data(), 8 * sizes.size());
  std::memcpy(head.data() + layout.parents, parents.data(), 4 * parents.size());
  std::memcpy(head.data() + layout.textStart, textStart.data(), 4 * textStart.size());
  std::memcpy(head.data() + layout.nameStart, nameStart.data(), 4 * nameStart.size());
  std::memcpy(head.data() + layout.flags, flags.data(), flags.size());

  CAtomicFile file(dir / kFindFileName, 0600);
  return file.is_open() && file.sink().Write(head.data(), head.size()) &&
         file.sink().Write(texts.data(), texts.size()) &&
         file.sink().Write(names.data(), names.size()) && file.Commit();
}

}  // namespace orvane
