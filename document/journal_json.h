// The change journal in JSON: the members of an update's object and of an
// entry's, as `orvane-cli changes --json` writes them and the window's
// export repeats them, so one reader takes both.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "catalog/change_journal.h"
#include "document/json_writer.h"

namespace orvane {

// Seconds since the epoch as ISO 8601 UTC ("2026-12-07T22:58:01Z").
std::string UtcTimeText(std::int64_t seconds);

std::string_view OutcomeName(JournalRecord::Outcome outcome);
std::string_view KindName(JournalEntry::Kind kind);

// "key", "start", "end", "outcome", "firstUpdate", "added", "removed",
// "resized"; the caller opens and closes the object and adds its own
// members (the entries) after these.
void WriteRecordMembers(JsonWriter& json, std::string_view key, const JournalRecord& record);

// "kind", "path" (as `path` gives it), "rawPath" (the entry's bytes, only
// where they differ from `path`), "directory", "size", and "oldSize" or
// "below" where they apply.
void WriteEntryMembers(JsonWriter& json, std::string_view path, const JournalEntry& entry);

}  // namespace orvane
