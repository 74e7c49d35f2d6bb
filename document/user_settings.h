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
// is clamped into it. The file is read whole, however long.
//
// Several processes change it: SaveChanges writes only the keys a process
// changed, under the settings lock in locks/, onto the file as it is then
// (re-read under the lock), so two processes that change different keys at
// once both keep their change. It rewrites the file atomically
// (CAtomicFile), keeps the lines it does not know (a newer program's
// settings survive an older one's save) and removes the temporaries that
// interrupted saves left.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "catalog/change_journal.h"
#include "update/crawler.h"

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

  // How many entries one listing and one site's update may take (see
  // CrawlLimits): large enough for real servers, small enough that a
  // server whose listing never ends cannot exhaust the memory.
  static constexpr std::size_t kDefaultListingEntries = 5'000'000;
  static constexpr std::size_t kDefaultUpdateEntries = 50'000'000;
  static constexpr std::size_t kMinEntries = 100;
  static constexpr std::size_t kMaxEntries = 1'000'000'000;
  std::size_t listingEntries = kDefaultListingEntries;
  std::size_t updateEntries = kDefaultUpdateEntries;

  // The fields moved into their ranges.
  UserSettings Clamped() const;
  JournalLimits journalLimits() const;
  CrawlLimits crawlLimits() const;

  // The settings in `text`, as the header says.
  static UserSettings Parse(std::string_view text);
  // `oldText` with the line of each known key that `only` differs in (all
  // keys without `only`) replaced by this value (the first one; later
  // repeats dropped), every other line kept, such keys that were missing
  // appended.
  std::string Format(std::string_view oldText = {}, const UserSettings* only = nullptr) const;

  // The settings of `dataDir`; the defaults when the file is missing or
  // cannot be read.
  static UserSettings Load(const std::filesystem::path& dataDir);
  // Writes the keys in which these settings differ from `before` (what the
  // caller read) to `dataDir`, which must exist, under the settings lock;
  // the other keys keep what the file holds then. `now`, when given, gets
  // the settings of the file as written. False with "<path>: <reason>" in
  // `error` when the file could not be replaced; the old file then stays.
  bool SaveChanges(const std::filesystem::path& dataDir, const UserSettings& before,
                   std::string* error = nullptr, UserSettings* now = nullptr) const;

  bool operator==(const UserSettings&) const = default;
};

}  // namespace orvane
