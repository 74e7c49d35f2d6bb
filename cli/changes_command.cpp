// orvane-cli changes: the sites' change journals, newest update first.
#include <algorithm>
#include <charconv>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/change_journal.h"
#include "catalog/ftp_site.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "document/journal_json.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"
#include "document/visible_text.h"

namespace orvane {

namespace {

// "6h", "30m", "2d", "1w", "90s": that long before `now`; or a UTC date
// "YYYY-MM-DD" with an optional "THH:MM" or "THH:MM:SS". False otherwise.
bool ParseSince(std::string_view text, std::int64_t now, std::int64_t& since) {
  if (text.size() >= 2) {
    std::int64_t unit = 0;
    switch (text.back()) {
      case 's':
        unit = 1;
        break;
      case 'm':
        unit = 60;
        break;
      case 'h':
        unit = 3600;
        break;
      case 'd':
        unit = 86400;
        break;
      case 'w':
        unit = 7 * 86400;
        break;
      default:
        break;
    }
    std::uint64_t count = 0;
    if (unit != 0 && ParseNumber(text.substr(0, text.size() - 1), 0,
                                 static_cast<std::uint64_t>(now / unit), count)) {
      since = now - static_cast<std::int64_t>(count) * unit;
      return true;
    }
  }
  std::tm tm{};
  int fields[6] = {0, 0, 0, 0, 0, 0};
  // Digits at fixed places; everything else must be the separators.
  static constexpr std::string_view kShapes[] = {"dddd-dd-dd", "dddd-dd-ddTdd:dd",
                                                 "dddd-dd-ddTdd:dd:dd"};
  bool shaped = false;
  for (std::string_view shape : kShapes) {
    if (shape.size() != text.size()) continue;
    shaped = true;
    for (std::size_t i = 0; i < shape.size() && shaped; ++i) {
      shaped = shape[i] == 'd' ? (text[i] >= '0' && text[i] <= '9') : text[i] == shape[i];
    }
    if (shaped) break;
  }
  if (!shaped) return false;
  const std::size_t starts[] = {0, 5, 8, 11, 14, 17};
  const std::size_t lengths[] = {4, 2, 2, 2, 2, 2};
  for (std::size_t i = 0; i < 6 && starts[i] < text.size(); ++i) {
    std::from_chars(text.data() + starts[i], text.data() + starts[i] + lengths[i], fields[i]);
  }
  if (fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 || fields[3] > 23 ||
      fields[4] > 59 || fields[5] > 60) {
    return false;
  }
  tm.tm_year = fields[0] - 1900;
  tm.tm_mon = fields[1] - 1;
  tm.tm_mday = fields[2];
  tm.tm_hour = fields[3];
  tm.tm_min = fields[4];
  tm.tm_sec = fields[5];
  since = static_cast<std::int64_t>(::timegm(&tm));
  return true;
}

// --kind as a set of kinds; false on an unknown name.
bool ParseKinds(std::string_view text, bool (&wanted)[4]) {
  for (bool& w : wanted) w = false;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view name = text.substr(0, comma);
    if (name == "added") {
      wanted[1] = true;
    } else if (name == "removed") {
      wanted[2] = true;
    } else if (name == "resized") {
      wanted[3] = true;
    } else {
      return false;
    }
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

// A stored path as `changes` prints it (escaped for a terminal), without
// the two copies for the plain ASCII most paths are.
void AppendShownPath(std::string& text, std::string_view bytes, NameCharset charset) {
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; })) {
    text.append(bytes);
  } else {
    text.append(TerminalText(DecodeName(bytes, charset, InvalidBytes::kEscape)));
  }
}

struct SiteRecord {
  std::string key;
  NameCharset charset;
  JournalRecord record;
};

}  // namespace

int RunChanges(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string problem;
  if (!ParseArgs(args, {"since", "kind"}, {}, parsed, problem)) {
    return context.UsageError("changes", problem);
  }
  if (parsed.positional.size() > 1) return context.UsageError("changes", "give at most one KEY");
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  std::int64_t since = 0;
  if (const std::string* text = parsed.Value("since"); text && !ParseSince(*text, now, since)) {
    return context.UsageError("changes",
                              "--since takes YYYY-MM-DD[THH:MM[:SS]] or a number "
                              "with s, m, h, d or w");
  }
  bool wanted[4] = {false, true, true, true};
  if (const std::string* text = parsed.Value("kind"); text && !ParseKinds(*text, wanted)) {
    return context.UsageError("changes", "--kind takes added, removed, resized, comma-separated");
  }

  std::vector<std::shared_ptr<CFTPSite>> sites;
  if (!parsed.positional.empty()) {
    std::shared_ptr<CFTPSite> site = context.FindSite(parsed.positional[0]);
    if (!site) {
      return context.Fail(kExitNothing,
                          "orvane-cli changes: no site has the key " + parsed.positional[0]);
    }
    sites.push_back(std::move(site));
  } else {
    sites = context.doc.sites();
  }

  std::vector<SiteRecord> records;
  for (const auto& site : sites) {
    const std::filesystem::path path =
        site->DataDirectory(context.doc.GetProgramDir()) / kJournalFileName;
    std::string bytes;
    if (!ReadJournalFile(path, bytes)) {
      context.Message("orvane-cli changes: " + path.string() + " cannot be read");
      continue;
    }
    bool damaged = false;
    std::vector<JournalRecord> journal = ReadJournal(bytes, &damaged);
    const NameCharset charset = JournalCharset(site->KnownCharset(), journal);
    for (auto it = journal.rbegin(); it != journal.rend(); ++it) {
      if (it->endTime < since) continue;
      records.push_back({site->siteKey(), charset, std::move(*it)});
    }
    // The tail is cut by the next update's save; what came before is whole.
    if (damaged) context.Message("orvane-cli changes: " + path.string() + " has a damaged tail");
  }
  // Newest first: each journal is taken newest first, and the sort keeps
  // that order among equal times.
  std::stable_sort(records.begin(), records.end(), [](const SiteRecord& a, const SiteRecord& b) {
    return a.record.endTime > b.record.endTime;
  });

  std::ostream& out = context.out;
  // Plain lines are gathered and written in large blocks: a stream insert
  // per field would cost more than reading the journal.
  std::string text;
  const auto number = [&text](std::uint64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
  };
  JsonWriter json;
  json.BeginArray();
  for (const SiteRecord& item : records) {
    const JournalRecord& record = item.record;
    const std::string key = CliContext::Shown(item.key);
    if (context.json) {
      json.BeginObject();
      WriteRecordMembers(json, key, record);
      json.Key("entries").BeginArray();
    } else {
      text.append(UtcTimeText(record.endTime)).append("\t").append(CliContext::Plain(item.key));
      text.append("\t").append(OutcomeName(record.outcome)).append("\t+");
      number(record.added);
      text.append(" -");
      number(record.removed);
      text.append(" ~");
      number(record.resized);
      text.append(record.summary ? "\tfirst update\n" : "\n");
    }
    for (const JournalEntry& entry : record.entries) {
      if (!wanted[static_cast<int>(entry.kind)]) continue;
      if (context.json) {
        json.BeginObject();
        WriteEntryMembers(json, DecodeName(entry.path, item.charset), entry);
        json.EndObject();
        continue;
      }
      const char sign = entry.kind == JournalEntry::Kind::kAdded     ? '+'
                        : entry.kind == JournalEntry::Kind::kRemoved ? '-'
                                                                     : '~';
      text += sign;
      text += '\t';
      if (entry.kind == JournalEntry::Kind::kResized) {
        number(entry.oldSize);
        text.append("->");
        number(entry.size);
      } else if (entry.isDirectory) {
        text.append("<DIR>");
      } else {
        number(entry.size);
      }
      text += '\t';
      AppendShownPath(text, entry.path, item.charset);
      if (entry.kind == JournalEntry::Kind::kRemoved && entry.isDirectory) {
        text.append("\t(");
        number(entry.below);
        text.append(" below)");
      }
      text += '\n';
    }
    if (context.json) json.EndArray().EndObject();
    if (text.size() >= (std::size_t{1} << 16)) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      text.clear();
    }
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (context.json) out << json.EndArray().Text();
  return records.empty() ? kExitNothing : kExitSuccess;
}

}  // namespace orvane
