#include "document/journal_json.h"

#include <ctime>

namespace orvane {

std::string UtcTimeText(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (!::gmtime_r(&time, &utc)) return std::to_string(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string_view OutcomeName(JournalRecord::Outcome outcome) {
  switch (outcome) {
    case JournalRecord::Outcome::kSucceeded:
      return "succeeded";
    case JournalRecord::Outcome::kStopped:
      return "stopped";
    case JournalRecord::Outcome::kBrokenOff:
      return "brokenOff";
    case JournalRecord::Outcome::kFailed:
      return "failed";
  }
  return "unknown";
}

std::string_view KindName(JournalEntry::Kind kind) {
  switch (kind) {
    case JournalEntry::Kind::kAdded:
      return "added";
    case JournalEntry::Kind::kRemoved:
      return "removed";
    case JournalEntry::Kind::kResized:
      return "resized";
  }
  return "unknown";
}

void WriteRecordMembers(JsonWriter& json, std::string_view key, const JournalRecord& record) {
  json.Key("key")
      .String(key)
      .Key("start")
      .String(UtcTimeText(record.startTime))
      .Key("end")
      .String(UtcTimeText(record.endTime))
      .Key("outcome")
      .String(OutcomeName(record.outcome))
      .Key("firstUpdate")
      .Bool(record.summary)
      .Key("added")
      .Number(record.added)
      .Key("removed")
      .Number(record.removed)
      .Key("resized")
      .Number(record.resized);
}

void WriteEntryMembers(JsonWriter& json, std::string_view path, const JournalEntry& entry) {
  json.Key("kind").String(KindName(entry.kind)).Key("path").String(path);
  if (path != entry.path) json.Key("rawPath").String(entry.path);
  json.Key("directory").Bool(entry.isDirectory).Key("size").Number(entry.size);
  if (entry.kind == JournalEntry::Kind::kResized) json.Key("oldSize").Number(entry.oldSize);
  if (entry.kind == JournalEntry::Kind::kRemoved && entry.isDirectory) {
    json.Key("below").Number(entry.below);
  }
}

}  // namespace orvane
