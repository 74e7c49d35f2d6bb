// The change journal of a site: what each update added, removed and
// resized, kept in Data/KEY/changes.jn beside the catalog it describes.
//
// The file is a header followed by framed records (catalog/change_journal.md
// gives the bytes). The reader trusts nothing: it stops at the first frame
// that is cut short, too long or fails its checksum, and reports how many
// bytes before it were whole, so the next write keeps exactly those. The
// writer appends each save's records inside the commit that writes the
// catalog (catalog/change_journal.md), so a journal record exists exactly
// when its catalog was saved; only a save that would pass a cap rewrites
// the file, dropping the oldest records whole.
//
// Pure functions over bytes; no locking, no I/O except ReadJournalFile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/name_charset.h"

namespace orvane {

inline constexpr std::string_view kJournalFileName = "changes.jn";

struct JournalEntry {
  enum class Kind : std::uint8_t { kAdded = 1, kRemoved = 2, kResized = 3 };
  Kind kind = Kind::kAdded;
  bool isDirectory = false;
  // Server path bytes, "/a/b".
  std::string path;
  // Added: the size; removed: the size it had; resized: the new size.
  std::uint64_t size = 0;
  // Resized only.
  std::uint64_t oldSize = 0;
  // Removed directories: entries that went with it below it.
  std::uint64_t below = 0;

  bool operator==(const JournalEntry&) const = default;
};

// The most entries one record lists; beyond them only its counts grow.
inline constexpr std::size_t kMaxJournalRecordEntries = 1'000'000;

struct JournalRecord {
  // Outcome of the update, as the engine reports it.
  enum class Outcome : std::uint8_t { kSucceeded = 1, kStopped = 2, kBrokenOff = 3, kFailed = 4 };
  // Seconds since the epoch.
  std::int64_t startTime = 0;
  std::int64_t endTime = 0;
  Outcome outcome = Outcome::kSucceeded;
  // A first crawl (empty catalog before): the counts only, no entries.
  bool summary = false;
  std::uint64_t added = 0;
  std::uint64_t removed = 0;
  std::uint64_t resized = 0;
  std::vector<JournalEntry> entries;

  bool operator==(const JournalRecord&) const = default;
};

// How much a journal keeps: the newest `maxUpdates` records, and no more
// than `maxBytes` in all. The newest record is kept whatever its size. The
// defaults are the user settings' (document/user_settings.h).
struct JournalLimits {
  std::size_t maxUpdates = 1000;
  std::size_t maxBytes = 16u << 20;
};

// One record as a whole frame (length, checksum, payload).
std::string EncodeJournalRecord(const JournalRecord& record);

// The frames of a journal file's bytes, each as its offset and length in
// `bytes`. `validBytes` is where the whole frames end (0 when the header
// itself is wrong or missing); anything after it is damage.
struct JournalFrames {
  struct Frame {
    std::size_t offset = 0;
    std::size_t size = 0;
  };
  std::vector<Frame> frames;
  std::size_t validBytes = 0;
  bool damaged = false;  // bytes after validBytes, or a wrong header
};
JournalFrames ScanJournal(std::string_view bytes);

// A frame's payload decoded. False when the payload is not a record (the
// checksum matched, yet the bytes make no sense: written by another
// version, or deliberately). `record` is then unspecified.
bool DecodeJournalRecord(std::string_view frame, JournalRecord& record);

// Every record of the bytes that decodes, oldest first.
std::vector<JournalRecord> ReadJournal(std::string_view bytes, bool* damaged = nullptr);

// The charset the names of `records` are shown in: `charset` when the site
// has one (chosen or decided), else "auto" decided from the names the
// records hold (a site from before decisions were recorded, whose catalog
// is not read).
NameCharset JournalCharset(NameCharset charset, const std::vector<JournalRecord>& records);

// The new file: the header, the old whole frames that fit the limits
// together with `added` (oldest dropped first, whole), then `added`.
std::string RewriteJournal(std::string_view oldBytes, const std::vector<std::string>& added,
                           const JournalLimits& limits);
// The same bytes as parts to write one after the other, viewing
// `oldBytes`, `added` and the header: a save writes a full journal without
// first copying it into one more string.
std::vector<std::string_view> RewriteJournalParts(std::string_view oldBytes,
                                                  const std::vector<std::string>& added,
                                                  const JournalLimits& limits);

// A journal file's layout, found by reading the frame headers only (and the
// last frame whole, to check it): what an append needs to know.
struct JournalShape {
  std::size_t frames = 0;
  // Where the whole frames end; 0 when the header is wrong or missing.
  std::uint64_t validBytes = 0;
};
// False (errno set) when the file is there but cannot be read; a missing
// file is an empty shape.
bool ScanJournalFile(const std::filesystem::path& path, JournalShape& shape);
// The limits a rewrite trims to: an eighth below the caps, so that the
// updates after it append until the caps are reached again, and a journal
// at its cap costs a save no more than an empty one, but for one rewrite in
// every eighth of the cap.
JournalLimits TrimmedLimits(const JournalLimits& limits);
inline constexpr std::size_t kJournalHeaderBytes = 8;

// The file's bytes; empty when it is missing. False when it is there but
// cannot be read.
bool ReadJournalFile(const std::filesystem::path& path, std::string& bytes);

// CRC-32 (IEEE, as zlib computes it).
std::uint32_t Crc32(std::string_view bytes);

}  // namespace orvane
