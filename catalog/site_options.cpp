#include "catalog/site_options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "catalog/atomic_file.h"

namespace orvane {

namespace {

constexpr std::string_view kOptionsHeader = "orvane-site-options 1";
constexpr std::string_view kDecisionHeader = "orvane-charset 1";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kSiteKey = "site";
constexpr std::string_view kCharsetKey = "charset";
constexpr std::string_view kProtocolKey = "protocol";
constexpr std::string_view kStartDirKey = "start-dir";
constexpr std::string_view kKeyFileKey = "key-file";
constexpr std::string_view kPinKey = "pin";
// Far more than any site list needs; a bigger file is not one of ours.
constexpr std::size_t kMaxOptionsBytes = 16 * 1024 * 1024;
constexpr std::size_t kMaxDecisionBytes = 4096;
constexpr std::size_t kMaxKeyBytes = 64;

bool IsKeyName(std::string_view key) {
  if (key.empty() || key.size() > kMaxKeyBytes) return false;
  for (const char c : key) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  return true;
}

void AppendLine(std::string& out, std::string_view key, std::string_view value) {
  out.append(key);
  out.push_back('=');
  AppendRecordEscaped(out, value);
  out.push_back('\n');
}

// The key=value lines between `header` and "end", unescaped; an error text
// for anything else.
std::string ParseLines(std::string_view bytes, std::string_view header, KeyValues& lines) {
  lines.clear();
  std::size_t number = 0;
  bool ended = false;
  while (!bytes.empty()) {
    ++number;
    const std::size_t newline = bytes.find('\n');
    if (newline == std::string_view::npos) return "line " + std::to_string(number) + " has no end";
    const std::string_view line = bytes.substr(0, newline);
    bytes.remove_prefix(newline + 1);
    const std::string where = "line " + std::to_string(number) + ": ";
    if (ended) return where + "text after the end";
    if (number == 1) {
      if (line != header) return where + "not \"" + std::string(header) + "\"";
      continue;
    }
    if (line == kEnd) {
      ended = true;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !IsKeyName(line.substr(0, eq))) {
      return where + "not key=value";
    }
    std::string value;
    if (!RecordUnescape(line.substr(eq + 1), value)) return where + "bad escape";
    lines.emplace_back(std::string(line.substr(0, eq)), std::move(value));
  }
  if (number == 0) return "empty";
  if (!ended) return "no end line";
  return {};
}

std::string ReadSmallFile(const std::filesystem::path& path, std::size_t limit, bool& found,
                          bool& tooLong) {
  found = false;
  tooLong = false;
  const int fd = OpenRegularForReading(path);
  if (fd < 0) return {};
  found = true;
  // Sized by the file (one byte over, to see it end), not by the limit:
  // zeroing the limit's megabytes was most of a short command's time.
  struct stat info {};
  const std::size_t expected =
      ::fstat(fd, &info) == 0 && info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
  std::string bytes(std::min(expected, limit) + 1, '\0');
  std::size_t used = 0;
  while (used <= limit) {
    // A file that grew while it was read is read on, up to the limit.
    if (used == bytes.size()) bytes.resize(std::min(bytes.size() * 2, limit + 1));
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
  }
  ::close(fd);
  tooLong = used > limit;
  bytes.resize(used);
  return bytes;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes, std::string* error) {
  CAtomicFile file(path, 0600);
  if (!file.is_open() || !file.sink().Write(bytes.data(), bytes.size()) || !file.Commit()) {
    if (error) *error = path.string() + ": " + std::strerror(file.error() ? file.error() : EIO);
    return false;
  }
  return true;
}

constexpr std::string_view kServerUtf8Names[] = {"unknown", "not-claimed", "claimed"};

// Takes one of the access keys into `access`: true when `name` is one,
// with `error` set when its value is not one the writer makes.
bool ReadAccessKey(const std::string& name, std::string& value, SiteAccess& access,
                   std::string& error) {
  if (name == kProtocolKey) {
    const std::optional<SiteProtocol> protocol = ParseProtocol(value);
    if (!protocol) error = "unknown protocol \"" + value + "\"";
    if (protocol) access.protocol = *protocol;
  } else if (name == kStartDirKey) {
    const std::optional<std::string> dir = NormalStartDirectory(value);
    if (!dir || *dir != value) error = "start-dir is not an absolute directory in normal form";
    access.startDir = std::move(value);
  } else if (name == kKeyFileKey) {
    // A key file is named by an absolute path: where a relative one
    // begins depends on whoever reads it.
    if (!value.starts_with('/') || value.size() > kMaxAccessPathBytes ||
        value.find('\0') != std::string::npos) {
      error = "key-file is not an absolute path";
    }
    access.keyFile = std::move(value);
  } else if (name == kPinKey) {
    if (!IsKeyFingerprint(value)) error = "pin is not a SHA256 fingerprint";
    access.pin = std::move(value);
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool NeedsRecordEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; }

void AppendRecordEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const unsigned char c : text) {
    if (NeedsRecordEscape(c)) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

bool RecordUnescape(std::string_view text, std::string& out) {
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c != '%') {
      if (NeedsRecordEscape(c)) return false;
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = hex(text[i + 1]);
    const int low = hex(text[i + 2]);
    if (high < 0 || low < 0) return false;
    const auto byte = static_cast<unsigned char>(high * 16 + low);
    // Only the escapes the writer makes: one text has one encoding.
    if (!NeedsRecordEscape(byte)) return false;
    out.push_back(static_cast<char>(byte));
    i += 2;
  }
  return true;
}

const SiteOptions* SiteOptionsList::Find(std::string_view key) const {
  for (const auto& [siteKey, options] : sites) {
    if (siteKey == key) return &options;
  }
  return nullptr;
}

std::string EncodeSiteOptions(const SiteOptionsList& list) {
  std::string out(kOptionsHeader);
  out.push_back('\n');
  for (const auto& [key, options] : list.sites) {
    AppendLine(out, kSiteKey, key);
    AppendLine(out, kCharsetKey, CharsetName(options.charset));
    // Defaults are left out, so a list of plain FTP sites reads the same
    // to a version that knows no protocols.
    const SiteAccess& access = options.access;
    if (access.protocol != SiteProtocol::kFtp) {
      AppendLine(out, kProtocolKey, ProtocolName(access.protocol));
    }
    if (access.startDir != "/") AppendLine(out, kStartDirKey, access.startDir);
    if (!access.keyFile.empty()) AppendLine(out, kKeyFileKey, access.keyFile);
    if (!access.pin.empty()) AppendLine(out, kPinKey, access.pin);
    for (const auto& [name, value] : options.other) AppendLine(out, name, value);
  }
  out.append(kEnd);
  out.push_back('\n');
  return out;
}

SiteOptionsRead DecodeSiteOptions(std::string_view bytes) {
  SiteOptionsRead read;
  if (bytes.size() > kMaxOptionsBytes) {
    read.error = "longer than " + std::to_string(kMaxOptionsBytes) + " bytes";
    return read;
  }
  KeyValues lines;
  read.error = ParseLines(bytes, kOptionsHeader, lines);
  if (!read.ok()) return read;
  std::unordered_set<std::string> keys;
  std::unordered_set<std::string> seen;
  for (auto& [name, value] : lines) {
    if (name == kSiteKey) {
      if (value.empty() || !keys.insert(value).second) {
        read.error = value.empty() ? "a site without a key" : "a site key given twice";
        read.list.sites.clear();
        return read;
      }
      read.list.sites.emplace_back(std::move(value), SiteOptions{});
      seen.clear();
      continue;
    }
    if (read.list.sites.empty()) {
      read.error = "\"" + name + "\" before the first site";
      return read;
    }
    if (!seen.insert(name).second) {
      read.error = "\"" + name + "\" given twice for one site";
      read.list.sites.clear();
      return read;
    }
    SiteOptions& options = read.list.sites.back().second;
    if (name == kCharsetKey) {
      const std::optional<NameCharset> charset = ParseCharsetName(value);
      if (!charset || CharsetName(*charset) != value) {
        read.error = "unknown charset \"" + value + "\"";
        read.list.sites.clear();
        return read;
      }
      options.charset = *charset;
    } else if (std::string error; ReadAccessKey(name, value, options.access, error)) {
      if (!error.empty()) {
        read.error = std::move(error);
        read.list.sites.clear();
        return read;
      }
    } else {
      options.other.emplace_back(std::move(name), std::move(value));
    }
  }
  return read;
}

SiteOptionsRead ReadSiteOptions(const std::filesystem::path& dataDir) {
  const std::filesystem::path path = dataDir / kSiteOptionsFileName;
  bool found = false;
  bool tooLong = false;
  const std::string bytes = ReadSmallFile(path, kMaxOptionsBytes, found, tooLong);
  SiteOptionsRead read;
  if (!found) {
    if (errno != ENOENT) read.error = path.string() + ": " + std::strerror(errno);
    return read;
  }
  read = DecodeSiteOptions(tooLong ? std::string_view() : bytes);
  if (tooLong) read.error = "longer than " + std::to_string(kMaxOptionsBytes) + " bytes";
  if (!read.ok()) read.error = path.string() + ": " + read.error;
  return read;
}

bool WriteSiteOptions(const std::filesystem::path& dataDir, const SiteOptionsList& list,
                      std::string* error) {
  return WriteFile(dataDir / kSiteOptionsFileName, EncodeSiteOptions(list), error);
}

std::string_view ServerUtf8Name(ServerUtf8 server) {
  return kServerUtf8Names[static_cast<std::size_t>(server)];
}

std::string EncodeCharsetDecision(const CharsetDecision& decision) {
  std::string out(kDecisionHeader);
  out.push_back('\n');
  AppendLine(out, "decided", CharsetName(decision.decided));
  AppendLine(out, "server-utf8", ServerUtf8Name(decision.server));
  out.append(kEnd);
  out.push_back('\n');
  return out;
}

std::optional<CharsetDecision> DecodeCharsetDecision(std::string_view bytes) {
  KeyValues lines;
  if (bytes.size() > kMaxDecisionBytes || !ParseLines(bytes, kDecisionHeader, lines).empty() ||
      lines.size() != 2 || lines[0].first != "decided" || lines[1].first != "server-utf8") {
    return std::nullopt;
  }
  CharsetDecision decision;
  const std::optional<NameCharset> decided = ParseCharsetName(lines[0].second);
  if (!decided || *decided == NameCharset::kAuto || CharsetName(*decided) != lines[0].second) {
    return std::nullopt;
  }
  decision.decided = *decided;
  bool known = false;
  for (std::size_t i = 0; i < std::size(kServerUtf8Names); ++i) {
    if (kServerUtf8Names[i] == lines[1].second) {
      decision.server = static_cast<ServerUtf8>(i);
      known = true;
    }
  }
  if (!known) return std::nullopt;
  return decision;
}

std::optional<CharsetDecision> ReadCharsetDecision(const std::filesystem::path& siteDir) {
  bool found = false;
  bool tooLong = false;
  const std::string bytes =
      ReadSmallFile(siteDir / kCharsetRecordFileName, kMaxDecisionBytes, found, tooLong);
  if (!found || tooLong) return std::nullopt;
  return DecodeCharsetDecision(bytes);
}

bool WriteCharsetDecision(const std::filesystem::path& siteDir, const CharsetDecision& decision,
                          std::string* error) {
  return WriteFile(siteDir / kCharsetRecordFileName, EncodeCharsetDecision(decision), error);
}

ServerUtf8 ServerUtf8FromFeatures(std::string_view features) {
  // One feature a line, as the session collects them ("UTF8", "MLST ...").
  while (!features.empty()) {
    const std::size_t end = features.find('\n');
    std::string_view line = features.substr(0, end);
    features.remove_prefix(end == std::string_view::npos ? features.size() : end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.size() == 4 && (line[0] | 0x20) == 'u' && (line[1] | 0x20) == 't' &&
        (line[2] | 0x20) == 'f' && line[3] == '8') {
      return ServerUtf8::kClaimed;
    }
  }
  return ServerUtf8::kNotClaimed;
}

}  // namespace orvane
