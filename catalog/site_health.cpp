#include "catalog/site_health.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <vector>

#include "catalog/atomic_file.h"
#include "catalog/data_dir_lock.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_options.h"

namespace orvane {

namespace {

constexpr std::string_view kHeader = "orvane-health 1";
// Version 2 adds `last-partial`; a record without it is still written as
// version 1, so that an older reader keeps reading what it knows.
constexpr std::string_view kHeaderPartial = "orvane-health 2";
// A record is a few hundred bytes; an error text is cut well below this.
constexpr std::size_t kMaxRecordBytes = 16 * 1024;
constexpr std::size_t kMaxErrorTextBytes = 4096;

// Plain decimal digits, no sign, no leading zero (but "0"), within range.
template <typename Number>
bool ParseDecimal(std::string_view text, Number& value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ValidKind(std::string_view kind) {
  if (kind.empty() || kind.size() > 32) return false;
  for (const char c : kind) {
    if (!((c >= 'a' && c <= 'z') || c == '-')) return false;
  }
  return true;
}

// Cuts an error text to `limit` bytes without splitting a UTF-8 sequence
// that was whole.
std::string_view CutText(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string Reason(const std::filesystem::path& path, int error) {
  return path.string() + ": " + std::strerror(error);
}

}  // namespace

std::string EncodeSiteHealth(const SiteHealth& health) {
  std::string out(health.lastPartial != 0 ? kHeaderPartial : kHeader);
  out.push_back('\n');
  const auto line = [&out](std::string_view key, auto value) {
    out.append(key).push_back('=');
    out.append(std::to_string(value)).push_back('\n');
  };
  line("last-success", health.lastSuccess);
  line("duration-ms", health.durationMs);
  line("entries", health.entries);
  line("bytes", health.bytes);
  line("new", health.newEntries);
  if (health.lastPartial != 0) line("last-partial", health.lastPartial);
  if (health.HasError()) {
    out.append("error-kind=").append(health.errorKind).push_back('\n');
    line("error-time", health.errorTime);
    out.append("error-text=");
    AppendRecordEscaped(out, CutText(health.errorText, kMaxErrorTextBytes));
    out.push_back('\n');
  }
  // The last line, so that a record cut at a line end is not taken for a
  // whole one without its error.
  out.append("end\n");
  return out;
}

std::optional<SiteHealth> DecodeSiteHealth(std::string_view bytes) {
  if (bytes.size() > kMaxRecordBytes || !bytes.ends_with('\n')) return std::nullopt;
  SiteHealth health;
  // Every key once; the success keys always, the error keys all or none.
  enum : unsigned {
    kLastSuccess = 1,
    kDuration = 2,
    kEntries = 4,
    kBytes = 8,
    kNew = 16,
    kErrorKind = 32,
    kErrorTime = 64,
    kErrorText = 128,
    kLastPartial = 256
  };
  constexpr unsigned kSuccessKeys = kLastSuccess | kDuration | kEntries | kBytes | kNew;
  constexpr unsigned kErrorKeys = kErrorKind | kErrorTime | kErrorText;
  unsigned seen = 0;
  bool first = true;
  bool partialAllowed = false;
  bool ended = false;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (ended) return std::nullopt;
    const std::size_t end = bytes.find('\n', pos);
    const std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      if (line != kHeader && line != kHeaderPartial) return std::nullopt;
      partialAllowed = line == kHeaderPartial;
      first = false;
      continue;
    }
    if (line == "end") {
      ended = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    unsigned bit = 0;
    bool ok = false;
    if (key == "last-success") {
      bit = kLastSuccess;
      ok = ParseDecimal(value, health.lastSuccess);
    } else if (key == "duration-ms") {
      bit = kDuration;
      ok = ParseDecimal(value, health.durationMs);
    } else if (key == "entries") {
      bit = kEntries;
      ok = ParseDecimal(value, health.entries);
    } else if (key == "bytes") {
      bit = kBytes;
      ok = ParseDecimal(value, health.bytes);
    } else if (key == "new") {
      bit = kNew;
      ok = ParseDecimal(value, health.newEntries);
    } else if (key == "last-partial" && partialAllowed) {
      bit = kLastPartial;
      ok = ParseDecimal(value, health.lastPartial) && health.lastPartial != 0;
    } else if (key == "error-kind") {
      bit = kErrorKind;
      ok = ValidKind(value);
      health.errorKind = std::string(value);
    } else if (key == "error-time") {
      bit = kErrorTime;
      ok = ParseDecimal(value, health.errorTime);
    } else if (key == "error-text") {
      bit = kErrorText;
      ok = value.size() <= 3 * kMaxErrorTextBytes && RecordUnescape(value, health.errorText) &&
           health.errorText.size() <= kMaxErrorTextBytes;
    }
    if (!ok || (seen & bit) != 0) return std::nullopt;
    seen |= bit;
  }
  if (!ended || (seen & kSuccessKeys) != kSuccessKeys) return std::nullopt;
  if (partialAllowed && (seen & kLastPartial) == 0) return std::nullopt;
  if ((seen & kErrorKeys) != 0 && (seen & kErrorKeys) != kErrorKeys) return std::nullopt;
  return health;
}

std::optional<SiteHealth> ReadSiteHealth(const std::filesystem::path& siteDir) {
  const int fd = OpenRegularForReading(siteDir / kHealthFileName);
  if (fd < 0) return std::nullopt;
  // Read one byte past the longest record: a longer file is no record.
  std::string bytes(kMaxRecordBytes + 1, '\0');
  std::size_t used = 0;
  while (used < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  ::close(fd);
  bytes.resize(used);
  return DecodeSiteHealth(bytes);
}

bool WriteSiteHealth(const std::filesystem::path& siteDir, const SiteHealth& health,
                     std::string* error) {
  const std::filesystem::path path = siteDir / kHealthFileName;
  CAtomicFile file(path, 0600);
  const std::string bytes = EncodeSiteHealth(health);
  if (!file.is_open() || !file.sink().Write(bytes.data(), bytes.size()) || !file.Commit()) {
    if (error) *error = Reason(path, file.error() ? file.error() : EIO);
    return false;
  }
  return true;
}

CatalogFigures CountCatalog(const CFTPSite& site) {
  CatalogFigures figures;
  if (!site.rootDir) return figures;
  std::lock_guard guard(site.lock);
  std::vector<const CFTPDir*> stack{site.rootDir.get()};
  while (!stack.empty()) {
    const CFTPDir* dir = stack.back();
    stack.pop_back();
    for (const auto& file : dir->files) {
      ++figures.entries;
      figures.bytes += file->size.load(std::memory_order_relaxed);
      if (file->readState.load(std::memory_order_relaxed) != 0) ++figures.newEntries;
    }
    for (const auto& sub : dir->subdirs) {
      ++figures.entries;
      if (sub->readState.load(std::memory_order_relaxed) != 0) ++figures.newEntries;
      stack.push_back(sub.get());
    }
  }
  return figures;
}

bool RecordSiteHealth(CFTPSite& site, const std::filesystem::path& programDir, const UpdateEnd& end,
                      std::string* error) {
  std::lock_guard files(site.filesLock);
  if (site.removed.load()) return true;
  const std::string key = site.siteKey();
  const CDataDirLock diskLock =
      CDataDirLock::Acquire(programDir, CDataDirLock::Kind::kSiteFiles, key);
  if (!diskLock.held()) {
    if (error) *error = diskLock.error();
    return false;
  }
  if (site.listed.load() && !SiteListHasKey(programDir / "site.ds", key)) return true;
  const std::filesystem::path dir = site.DataDirectory(programDir);
  // A failure before anything was ever saved still gets its record: the
  // directory is where the catalog will be.
  MakeDirectoryDurably(programDir / "Data", 0700);
  MakeDirectoryDurably(dir, 0700);
  // Read under the lock: another process's record is the base, so its
  // success or error is not written over with an older view.
  SiteHealth health = ReadSiteHealth(dir).value_or(SiteHealth{});
  if (end.succeeded && end.partial) {
    // One directory brought up to date says nothing of the rest: the
    // whole site's last success stays what it was.
    health.lastPartial = end.endMs / 1000;
  } else if (end.succeeded) {
    const CatalogFigures figures = CountCatalog(site);
    health.lastSuccess = end.endMs / 1000;
    health.durationMs =
        static_cast<std::uint64_t>(end.endMs > end.startMs ? end.endMs - end.startMs : 0);
    health.entries = figures.entries;
    health.bytes = figures.bytes;
    health.newEntries = figures.newEntries;
  } else {
    health.errorKind = ValidKind(end.errorKind) ? end.errorKind : std::string("other");
    health.errorText = std::string(CutText(end.errorText, kMaxErrorTextBytes));
    health.errorTime = end.endMs / 1000;
  }
  if (!WriteSiteHealth(dir, health, error)) return false;
  // A successful update decides "auto" again over the catalog it left,
  // with what the server said this time; the record goes with the
  // catalog's other files.
  if (end.succeeded) {
    CharsetDecision decision;
    decision.server = site.serverUtf8.load();
    decision.decided = site.DecideCharset(decision.server);
    site.decidedCharset.store(decision.decided);
    if (ReadCharsetDecision(dir) != decision) return WriteCharsetDecision(dir, decision, error);
  }
  return true;
}

}  // namespace orvane
