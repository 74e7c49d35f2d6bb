#include "document/user_settings.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include "catalog/atomic_file.h"

namespace orvane {

namespace {

// A settings file is a few lines; anything beyond this is not one, and is
// not read into memory whole.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

struct NumberKey {
  std::string_view name;
  std::size_t UserSettings::*field;
};

constexpr NumberKey kNumberKeys[] = {
    {"journal-updates", &UserSettings::journalUpdates},
    {"journal-megabytes", &UserSettings::journalMegabytes},
};

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Splits "key = value"; false for a comment, a blank line or no "=".
bool SplitLine(std::string_view line, std::string_view& key, std::string_view& value) {
  line = Trimmed(line);
  if (line.empty() || line.front() == '#') return false;
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trimmed(line.substr(0, eq));
  value = Trimmed(line.substr(eq + 1));
  return true;
}

// Digits only; a number too large for the type reads as the largest.
bool ParseCount(std::string_view text, std::size_t& value) {
  if (text.empty() ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) value = std::numeric_limits<std::size_t>::max();
  return end == text.data() + text.size() || ec == std::errc::result_out_of_range;
}

template <typename Function>
void ForEachLine(std::string_view text, Function&& function) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    function(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

bool ReadSettingsFile(const std::filesystem::path& path, std::string& text) {
  text.clear();
  const int fd = OpenRegularForReading(path);
  if (fd < 0) return false;
  text.resize(kMaxFileBytes);
  std::size_t used = 0;
  while (used < text.size()) {
    const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
  }
  ::close(fd);
  text.resize(used);
  return true;
}

}  // namespace

UserSettings UserSettings::Clamped() const {
  UserSettings clamped = *this;
  clamped.journalUpdates = std::clamp(journalUpdates, kMinJournalUpdates, kMaxJournalUpdates);
  clamped.journalMegabytes =
      std::clamp(journalMegabytes, kMinJournalMegabytes, kMaxJournalMegabytes);
  return clamped;
}

JournalLimits UserSettings::journalLimits() const {
  const UserSettings clamped = Clamped();
  return {clamped.journalUpdates, clamped.journalMegabytes << 20};
}

UserSettings UserSettings::Parse(std::string_view text) {
  UserSettings settings;
  ForEachLine(text, [&settings](std::string_view line) {
    std::string_view key;
    std::string_view value;
    if (!SplitLine(line, key, value)) return;
    for (const NumberKey& known : kNumberKeys) {
      std::size_t number = 0;
      if (key == known.name && ParseCount(value, number)) settings.*known.field = number;
    }
  });
  return settings.Clamped();
}

std::string UserSettings::Format(std::string_view oldText) const {
  const UserSettings clamped = Clamped();
  std::string text;
  bool written[std::size(kNumberKeys)] = {};
  ForEachLine(oldText, [&](std::string_view line) {
    std::string_view key;
    std::string_view value;
    if (SplitLine(line, key, value)) {
      for (std::size_t i = 0; i < std::size(kNumberKeys); ++i) {
        if (key != kNumberKeys[i].name) continue;
        if (!written[i]) {
          text.append(kNumberKeys[i].name).append("=");
          text.append(std::to_string(clamped.*kNumberKeys[i].field)).append("\n");
          written[i] = true;
        }
        return;
      }
    }
    if (line.empty() && text.empty()) return;
    text.append(line).append("\n");
  });
  for (std::size_t i = 0; i < std::size(kNumberKeys); ++i) {
    if (written[i]) continue;
    text.append(kNumberKeys[i].name).append("=");
    text.append(std::to_string(clamped.*kNumberKeys[i].field)).append("\n");
  }
  return text;
}

UserSettings UserSettings::Load(const std::filesystem::path& dataDir) {
  std::string text;
  if (!ReadSettingsFile(dataDir / kUserSettingsFileName, text)) return UserSettings{};
  return Parse(text);
}

bool UserSettings::Save(const std::filesystem::path& dataDir, std::string* error) const {
  const std::filesystem::path path = dataDir / kUserSettingsFileName;
  std::string oldText;
  ReadSettingsFile(path, oldText);  // missing: a new file
  const std::string text = Format(oldText);
  CAtomicFile file(path, 0600);
  if (file.is_open() && file.sink().Write(text.data(), text.size()) && file.Commit()) return true;
  if (error) *error = path.string() + ": " + std::strerror(file.error() ? file.error() : EIO);
  return false;
}

}  // namespace orvane
