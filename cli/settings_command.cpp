// orvane-cli settings: shows or changes the settings the window and the
// tool share (document/user_settings.h), kept in the data directory.
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"
#include "document/program_dir.h"
#include "document/user_settings.h"

namespace orvane {

namespace {

struct SettingName {
  std::string_view name;
  std::string_view jsonName;
  std::size_t UserSettings::*field;
  std::size_t low;
  std::size_t high;
};

constexpr SettingName kSettings[] = {
    {"journal-updates", "journalUpdates", &UserSettings::journalUpdates,
     UserSettings::kMinJournalUpdates, UserSettings::kMaxJournalUpdates},
    {"journal-megabytes", "journalMegabytes", &UserSettings::journalMegabytes,
     UserSettings::kMinJournalMegabytes, UserSettings::kMaxJournalMegabytes},
    {"listing-entries", "listingEntries", &UserSettings::listingEntries, UserSettings::kMinEntries,
     UserSettings::kMaxEntries},
    {"update-entries", "updateEntries", &UserSettings::updateEntries, UserSettings::kMinEntries,
     UserSettings::kMaxEntries},
};

void Show(CliContext& context, const UserSettings& settings) {
  if (context.json) {
    JsonWriter json;
    json.BeginObject();
    for (const SettingName& setting : kSettings) {
      json.Key(setting.jsonName).Number(settings.*setting.field);
    }
    context.out << json.EndObject().Text();
    return;
  }
  for (const SettingName& setting : kSettings) {
    context.out << setting.name << ' ' << settings.*setting.field << '\n';
  }
}

}  // namespace

int RunSettings(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, {}, parsed, error)) return context.UsageError("settings", error);
  const std::vector<std::string>& words = parsed.positional;
  UserSettings settings = context.doc.userSettings();
  if (words.empty()) {
    Show(context, settings);
    return kExitSuccess;
  }
  if (words.size() != 2) return context.UsageError("settings", "expected NAME VALUE");
  const SettingName* setting = nullptr;
  for (const SettingName& known : kSettings) {
    if (words[0] == known.name) setting = &known;
  }
  if (!setting) return context.UsageError("settings", "unknown setting " + words[0]);
  std::uint64_t value = 0;
  if (!ParseNumber(words[1], setting->low, setting->high, value)) {
    return context.UsageError("settings", std::string(setting->name) + " takes a number from " +
                                              std::to_string(setting->low) + " to " +
                                              std::to_string(setting->high));
  }
  settings.*setting->field = static_cast<std::size_t>(value);
  // The command takes no lock and makes no data directory to show the
  // settings; a change needs the directory.
  if (!CreateDataDirectory(context.doc.GetProgramDir(), error) ||
      !context.doc.SetUserSettings(settings, &error)) {
    return context.Fail(kExitFailed, "orvane-cli: could not save " + error);
  }
  Show(context, context.doc.userSettings());
  return kExitSuccess;
}

}  // namespace orvane
