// A site's health: how its updates have fared, kept in Data/KEY/health.txt
// beside its catalog (site.ds, content.ct and state.st keep their formats).
//
// The record is written by the update engine when a site's update ends
// (RecordSiteHealth), so the window and orvane-cli both keep it. It is small
// and written on its own: a failed update saves no catalog but still records
// its error, and the last success stays as it was. The format (key=value
// text with a version line) is described in catalog/site_health.md; the
// reader trusts nothing and answers "no health known" for anything that is
// not a whole, valid record.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

class CFTPDir;
class CFTPSite;

inline constexpr std::string_view kHealthFileName = "health.txt";

struct SiteHealth {
  // Seconds since the epoch of the end of the last successful update; 0
  // when no update has succeeded.
  std::int64_t lastSuccess = 0;
  // How long that update took, from its first connection to its end
  // (resumptions included).
  std::uint64_t durationMs = 0;
  // The catalog after that update: entries (directories and files), the
  // files' total size, and the entries still marked new then.
  std::uint64_t entries = 0;
  std::uint64_t bytes = 0;
  std::uint64_t newEntries = 0;
  // The last update that failed: a short token for its kind (see
  // HealthErrorKind), the error text and when (seconds since the epoch).
  // Empty kind: no update has failed. Kept after later successes; its time
  // tells whether it is older than the last success.
  std::string errorKind;
  std::string errorText;
  std::int64_t errorTime = 0;
  // End of the last update of one directory below the root that succeeded
  // (seconds since the epoch; 0: none). It is no success of the whole
  // site: lastSuccess and the figures stay as the last whole update left
  // them.
  std::int64_t lastPartial = 0;

  bool HasSucceeded() const { return lastSuccess != 0; }
  bool HasError() const { return !errorKind.empty(); }
  // The last update failed: the error is newer than the last success.
  bool Failing() const { return HasError() && errorTime >= lastSuccess; }
  bool operator==(const SiteHealth&) const = default;
};

// The record's bytes, and back. Decode gives nothing for anything but a
// whole record of a known version.
std::string EncodeSiteHealth(const SiteHealth& health);
std::optional<SiteHealth> DecodeSiteHealth(std::string_view bytes);

// The record in a site's data directory; nothing when it is missing,
// unreadable, not a regular file or not valid. Takes no lock, creates
// nothing.
std::optional<SiteHealth> ReadSiteHealth(const std::filesystem::path& siteDir);
// Replaces the record atomically (temporary, fsync, rename, directory
// fsync). The caller holds the site's files lock.
bool WriteSiteHealth(const std::filesystem::path& siteDir, const SiteHealth& health,
                     std::string* error = nullptr);

// What a catalog holds now: entries, the files' total size and the entries
// marked new. Reads the tree under the site's lock.
struct CatalogFigures {
  std::uint64_t entries = 0;
  std::uint64_t bytes = 0;
  std::uint64_t newEntries = 0;
};
CatalogFigures CountCatalog(const CFTPSite& site);

// How an update ended, for its health record.
struct UpdateEnd {
  bool succeeded = false;
  std::int64_t startMs = 0;  // wall clock, milliseconds since the epoch
  std::int64_t endMs = 0;
  // A failure: its kind (a HealthErrorKind token) and text.
  std::string errorKind;
  std::string errorText;
  // The update covered one directory below the root, not the whole site.
  bool partial = false;
};

// Reads the site's record, applies `end` (a success takes the catalog's
// figures now; a failure keeps the last success) and writes it back, under
// the site's files lock (in-process and flock), as the other per-site
// writes are. A site that was deleted (here or by another process) gets
// nothing. False, with "<path>: <reason>", when the record could not be
// written. A success also decides the site's "auto" character set again
// and records it (Data/KEY/charset.txt, catalog/site_options.h).
bool RecordSiteHealth(CFTPSite& site, const std::filesystem::path& programDir, const UpdateEnd& end,
                      std::string* error = nullptr);

}  // namespace orvane
