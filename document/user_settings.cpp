#include "document/user_settings.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include "catalog/atomic_file.h"
#include "catalog/data_dir_lock.h"
#include "catalog/file_system.h"

namespace orvane {

namespace {

struct NumberKey {
  std::string_view name;
  std::size_t UserSettings::*field;
};

constexpr NumberKey kNumberKeys[] = {
    {"journal-updates", &UserSettings::journalUpdates},
    {"journal-megabytes", &UserSettings::journalMegabytes},
    {"listing-entries", &UserSettings::listingEntries},
    {"update-entries", &UserSettings::updateEntries},
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

// The whole file; false (errno set) when it is missing or cannot be read.
bool ReadSettingsFile(const std::filesystem::path& path, std::string& text) {
  text.clear();
  return ReadWholeFile(path, text);
}

// Temporaries of saves that were interrupted; run under the settings lock,
// when no save of another process is under way.
void RemoveLeftovers(const std::filesystem::path& dataDir) {
  std::error_code error;
  std::vector<std::filesystem::path> doomed;
  for (std::filesystem::directory_iterator it(dataDir, error), end; !error && it != end;
       it.increment(error)) {
    if (IsTemporaryOf(it->path().filename().string(), kUserSettingsFileName)) {
      doomed.push_back(it->path());
    }
  }
  for (const auto& path : doomed) FileSystem().Unlink(path.c_str());
}

}  // namespace

UserSettings UserSettings::Clamped() const {
  UserSettings clamped = *this;
  clamped.journalUpdates = std::clamp(journalUpdates, kMinJournalUpdates, kMaxJournalUpdates);
  clamped.journalMegabytes =
      std::clamp(journalMegabytes, kMinJournalMegabytes, kMaxJournalMegabytes);
  clamped.listingEntries = std::clamp(listingEntries, kMinEntries, kMaxEntries);
  clamped.updateEntries = std::clamp(updateEntries, kMinEntries, kMaxEntries);
  return clamped;
}

JournalLimits UserSettings::journalLimits() const {
  const UserSettings clamped = Clamped();
  return {clamped.journalUpdates, clamped.journalMegabytes << 20};
}

CrawlLimits UserSettings::crawlLimits() const {
  const UserSettings clamped = Clamped();
  CrawlLimits limits;
  limits.maxListingEntries = clamped.listingEntries;
  limits.maxUpdateEntries = clamped.updateEntries;
  return limits;
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

std::string UserSettings::Format(std::string_view oldText, const UserSettings* only) const {
  const UserSettings clamped = Clamped();
  const UserSettings base = only ? only->Clamped() : UserSettings{};
  constexpr std::size_t kKeys = std::size(kNumberKeys);
  // The keys this save writes; the lines of the others stay as they are.
  bool mine[kKeys] = {};
  for (std::size_t i = 0; i < kKeys; ++i) {
    mine[i] = !only || base.*kNumberKeys[i].field != clamped.*kNumberKeys[i].field;
  }
  bool written[kKeys] = {};
  std::string text;
  const auto write = [&](std::size_t i) {
    text.append(kNumberKeys[i].name).append("=");
    text.append(std::to_string(clamped.*kNumberKeys[i].field)).append("\n");
    written[i] = true;
  };
  ForEachLine(oldText, [&](std::string_view line) {
    std::string_view key;
    std::string_view value;
    if (SplitLine(line, key, value)) {
      for (std::size_t i = 0; i < kKeys; ++i) {
        if (key != kNumberKeys[i].name || !mine[i]) continue;
        if (!written[i]) write(i);
        return;
      }
    }
    if (line.empty() && text.empty()) return;
    text.append(line).append("\n");
  });
  for (std::size_t i = 0; i < kKeys; ++i) {
    if (mine[i] && !written[i]) write(i);
  }
  return text;
}

UserSettings UserSettings::Load(const std::filesystem::path& dataDir) {
  std::string text;
  if (!ReadSettingsFile(dataDir / kUserSettingsFileName, text)) return UserSettings{};
  return Parse(text);
}

bool UserSettings::SaveChanges(const std::filesystem::path& dataDir, const UserSettings& before,
                               std::string* error, UserSettings* now) const {
  const std::filesystem::path path = dataDir / kUserSettingsFileName;
  const CDataDirLock lock = CDataDirLock::Acquire(dataDir, CDataDirLock::Kind::kSettings);
  if (!lock.held()) {
    if (error) *error = lock.error();
    return false;
  }
  RemoveLeftovers(dataDir);
  std::string oldText;
  if (!ReadSettingsFile(path, oldText) && errno != ENOENT) {
    // A file that is there but cannot be read is not replaced by one that
    // would lose what it holds.
    if (error) *error = path.string() + ": " + std::strerror(errno);
    return false;
  }
  const std::string text = Format(oldText, &before);
  if (now) *now = Parse(text);
  if (text == oldText) return true;
  CAtomicFile file(path, 0600);
  if (file.is_open() && file.sink().Write(text.data(), text.size()) && file.Commit()) return true;
  if (error) *error = path.string() + ": " + std::strerror(file.error() ? file.error() : EIO);
  return false;
}

}  // namespace orvane
