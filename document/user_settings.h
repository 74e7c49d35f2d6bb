// The settings that the window and orvane-cli share, kept in the data
// directory as orvane.conf so that both programs (and a scheduled
// `orvane-cli update`) follow the same ones.
//
// Use:
//   UserSettings settings = UserSettings::Load(doc.GetProgramDir());
//   settings.journalUpdates = 200;        // fields below, clamped on Save
//   doc.SetUserSettings(settings, &error); // saves, then applies to every site
// COrvaneDoc loads them itself when it reads the site list and applies them
// to every site it holds; a front end only calls SetUserSettings when the
// user changes one.
//
// The file is UTF-8 text, one "key=value" line per setting; blank lines
// and lines starting with "#" are comments. The reader trusts nothing: a
// line that is not "key=value", an unknown key or a value that is not a
// whole number is ignored (the default stays), and a number out of range
// is clamped into it. Save rewrites the file atomically (CAtomicFile) and
// keeps the lines it does not know, so a newer program's settings survive
// an older one's save.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "catalog/change_journal.h"

namespace orvane {

inline constexpr std::string_view kUserSettingsFileName = "orvane.conf";

struct UserSettings {
  // The change journal of each site keeps the last `journalUpdates` updates
  // and at most `journalMegabytes` MiB; the oldest updates are dropped whole.
  static constexpr std::size_t kDefaultJournalUpdates = 1000;
  static constexpr std::size_t kMinJournalUpdates = 1;
  static constexpr std::size_t kMaxJournalUpdates = 100000;
  static constexpr std::size_t kDefaultJournalMegabytes = 16;
  static constexpr std::size_t kMinJournalMegabytes = 1;
  static constexpr std::size_t kMaxJournalMegabytes = 4096;

  std::size_t journalUpdates = kDefaultJournalUpdates;
  std::size_t journalMegabytes = kDefaultJournalMegabytes;

  // The fields moved into their ranges.
  UserSettings Clamped() const;
  JournalLimits journalLimits() const;

  // The settings in `text`, as the header says.
  static UserSettings Parse(std::string_view text);
  // `oldText` with each known key's line replaced by this value (the first
  // one; later repeats dropped), unknown lines kept, missing keys appended.
  std::string Format(std::string_view oldText = {}) const;

  // The settings of `dataDir`; the defaults when the file is missing or
  // cannot be read.
  static UserSettings Load(const std::filesystem::path& dataDir);
  // Writes them (clamped) to `dataDir`, which must exist. False with
  // "<path>: <reason>" in `error` when the file could not be replaced; the
  // old file then stays.
  bool Save(const std::filesystem::path& dataDir, std::string* error = nullptr) const;

  bool operator==(const UserSettings&) const = default;
};

}  // namespace orvane
