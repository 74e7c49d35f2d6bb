// orvane-cli schedule: updates of every site at a fixed interval, run by the
// user's systemd manager while nobody is logged in to watch.
//
//   schedule --every DURATION   writes orvane-update.service and
//                               orvane-update.timer, then enables the timer
//   schedule --off              stops the timer and removes both files
//   schedule                    shows the interval and the next run
//
// The units go to $XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user),
// where `systemctl --user` finds them. The service runs this very program
// (/proc/self/exe) with `update --all --quiet` on this data directory, so a
// run prints nothing unless something failed, and systemd's journal keeps
// exactly the failures.
//
// systemctl is the one on PATH, or the program named by ORVANE_SYSTEMCTL;
// ORVANE_SYSTEMCTL set and empty means never call it (packaging, tests).
// Files written but not enabled is no success: exit status 3, and the
// message says what to run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/atomic_file.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"

extern char** environ;

namespace orvane {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kServiceName = "orvane-update.service";
constexpr std::string_view kTimerName = "orvane-update.timer";
constexpr std::uint64_t kMinInterval = 5 * 60;
constexpr std::uint64_t kMaxInterval = 365ULL * 86400;

struct Unit {
  std::uint64_t seconds;
  std::string_view suffix;  // as systemd writes time spans
};
// Largest first: an interval is written in the largest unit that divides it.
constexpr Unit kUnits[] = {{7 * 86400, "w"}, {86400, "d"}, {3600, "h"}, {60, "min"}, {1, "s"}};

// "30m", "6h", "1d", "2w", "900s" (also "min"); false otherwise.
bool ParseInterval(std::string_view text, std::uint64_t& seconds) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  const std::string_view suffix = text.substr(digits);
  std::uint64_t unit = 0;
  if (suffix == "s") unit = 1;
  if (suffix == "m" || suffix == "min") unit = 60;
  if (suffix == "h") unit = 3600;
  if (suffix == "d") unit = 86400;
  if (suffix == "w") unit = 7 * 86400;
  std::uint64_t count = 0;
  if (unit == 0 || !ParseNumber(text.substr(0, digits), 1, kMaxInterval / unit, count)) {
    return false;
  }
  seconds = count * unit;
  return true;
}

std::string IntervalText(std::uint64_t seconds) {
  for (const Unit& unit : kUnits) {
    if (seconds % unit.seconds == 0) {
      return std::to_string(seconds / unit.seconds) + std::string(unit.suffix);
    }
  }
  return std::to_string(seconds) + "s";
}

// The interval a timer file written by this command holds; nullopt for
// anything else.
std::optional<std::uint64_t> IntervalOf(const std::string& timerText) {
  std::istringstream lines(timerText);
  std::string line;
  constexpr std::string_view kKey = "OnUnitActiveSec=";
  while (std::getline(lines, line)) {
    if (!line.starts_with(kKey)) continue;
    std::string value = line.substr(kKey.size());
    std::uint64_t seconds = 0;
    for (const Unit& unit : kUnits) {
      if (value.ends_with(unit.suffix) &&
          ParseNumber(std::string_view(value).substr(0, value.size() - unit.suffix.size()), 1,
                      kMaxInterval / unit.seconds, seconds)) {
        return seconds * unit.seconds;
      }
    }
    return std::nullopt;
  }
  return std::nullopt;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// One word of an ExecStart= line: double-quoted, so that spaces and the
// characters systemd would take as prefixes stay the word's; "\" and '"'
// escaped, "%" (specifiers) and "$" (variables) doubled, control bytes as
// \xNN. Unit files are UTF-8, so other bytes cannot be written: nullopt.
std::optional<std::string> SystemdWord(std::string_view word) {
  if (!IsValidUtf8(word)) return std::nullopt;
  std::string quoted = "\"";
  for (const char c : word) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      quoted += '\\';
      quoted += c;
    } else if (c == '%' || c == '$') {
      quoted += c;
      quoted += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789abcdef";
      quoted += "\\x";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 0xF];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

fs::path UnitDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config && fs::path(config).is_absolute()) return fs::path(config) / "systemd/user";
  const char* home = std::getenv("HOME");
  if (home && *home) return fs::path(home) / ".config/systemd/user";
  return {};
}

fs::path ThisProgram() {
  std::error_code error;
  fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : path;
}

// The systemctl to call; empty when none may be called.
std::string SystemctlProgram() {
  if (const char* chosen = std::getenv("ORVANE_SYSTEMCTL")) return chosen;
  return "systemctl";
}

struct Run {
  bool started = false;
  int status = -1;
  std::string output;  // stdout and stderr, as one
};

// `systemctl --user ARGS...`, its output gathered; stdin is /dev/null so
// that it never asks for anything.
Run Systemctl(const std::vector<std::string>& args) {
  Run run;
  const std::string program = SystemctlProgram();
  if (program.empty()) return run;
  std::vector<std::string> argv{program, "--user", "--no-pager"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned == 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      run.output.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(pipeFds[0]);
  if (spawned != 0) return run;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.started = true;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  while (!run.output.empty() && (run.output.back() == '\n' || run.output.back() == ' ')) {
    run.output.pop_back();
  }
  return run;
}

bool WriteUnit(const fs::path& path, const std::string& text, std::string& error) {
  CAtomicFile file(path, 0644);
  if (file.is_open() && file.sink().Write(text.data(), text.size()) && file.Commit()) return true;
  error = path.string() + ": " + std::strerror(file.error() ? file.error() : EIO);
  return false;
}

// What `schedule` shows about a timer the manager knows: whether it runs
// and, from list-timers, its next elapse ("Tue 2026-12-08 06:00:00 UTC").
struct TimerState {
  bool known = false;  // the manager answered
  bool active = false;
  std::string next;
};

TimerState QueryTimer() {
  TimerState state;
  const Run active = Systemctl({"is-active", std::string(kTimerName)});
  // is-active prints the state whatever its exit status; no word means no
  // manager answered.
  if (!active.started || (active.output != "active" && active.output != "inactive" &&
                          active.output != "failed" && active.output != "activating")) {
    return state;
  }
  state.known = true;
  state.active = active.output == "active";
  const Run timers = Systemctl({"list-timers", "--all", "--no-legend", std::string(kTimerName)});
  if (timers.started && timers.status == 0) {
    // NEXT is four words (day, date, time, zone), or "n/a"/"-" when none.
    std::istringstream words(timers.output.substr(0, timers.output.find('\n')));
    std::string word;
    std::vector<std::string> next;
    while (next.size() < 4 && words >> word) next.push_back(word);
    if (next.size() == 4 && next[0] != "n/a" && next[0] != "-") {
      state.next = next[0] + " " + next[1] + " " + next[2] + " " + next[3];
    }
  }
  return state;
}

int ShowState(CliContext& context, const fs::path& unitDir) {
  const fs::path timerPath = unitDir / kTimerName;
  std::string timerText;
  if (!ReadWholeFile(timerPath, timerText)) {
    if (context.json) {
      context.out << JsonWriter().BeginObject().Key("schedule").String("off").EndObject().Text();
    } else {
      context.out << "off\n";
    }
    return kExitSuccess;
  }
  const std::optional<std::uint64_t> interval = IntervalOf(timerText);
  const TimerState state = QueryTimer();
  if (context.json) {
    JsonWriter json;
    json.BeginObject().Key("schedule").String("on");
    if (interval)
      json.Key("every").String(IntervalText(*interval)).Key("seconds").Number(*interval);
    json.Key("timer").String(timerPath.string());
    json.Key("service").String((unitDir / kServiceName).string());
    if (state.known) json.Key("active").Bool(state.active);
    if (!state.next.empty()) json.Key("next").String(state.next);
    context.out << json.EndObject().Text();
    return kExitSuccess;
  }
  context.out << "every " << (interval ? IntervalText(*interval) : "(edited by hand)") << '\n';
  context.out << "timer: " << CliContext::Escaped(timerPath.string()) << '\n';
  if (!state.known) {
    context.out << "state: unknown (no answer from systemctl --user)\n";
  } else {
    context.out << "state: " << (state.active ? "active" : "not active") << '\n';
    if (!state.next.empty()) context.out << "next run: " << state.next << '\n';
  }
  return kExitSuccess;
}

std::string EnableHint() {
  return "enable it with: systemctl --user daemon-reload && systemctl --user enable --now " +
         std::string(kTimerName);
}

int Install(CliContext& context, const fs::path& unitDir, std::uint64_t interval) {
  const fs::path program = ThisProgram();
  if (program.empty()) return context.Fail(kExitFailed, "orvane-cli: cannot find its own path");
  const std::optional<std::string> programWord = SystemdWord(program.string());
  // The service does not start in this working directory.
  std::error_code absoluteError;
  const fs::path dataDir = fs::absolute(context.doc.GetProgramDir(), absoluteError);
  if (absoluteError) {
    return context.Fail(kExitFailed, "orvane-cli: " + context.doc.GetProgramDir().string() + ": " +
                                         absoluteError.message());
  }
  const std::optional<std::string> dataWord = SystemdWord(dataDir.string());
  if (!programWord || !dataWord) {
    return context.Fail(
        kExitFailed,
        "orvane-cli: a unit file cannot name a path that is not UTF-8: " +
            CliContext::Escaped(DecodeName((!programWord ? program : dataDir).string(),
                                                NameCharset::kUtf8, InvalidBytes::kEscape)));
  }
  const std::string every = IntervalText(interval);
  const std::string service =
      "# Written by orvane-cli schedule; `orvane-cli schedule --off` removes it.\n"
      "[Unit]\n"
      "Description=Orvane: update every site's catalog\n"
      "\n"
      "[Service]\n"
      "Type=oneshot\n"
      "ExecStart=" +
      *programWord + " --data-dir " + *dataWord +
      " update --all --quiet\n"
      "Nice=10\n";
  const std::string timer =
      "# Written by orvane-cli schedule; `orvane-cli schedule --off` removes it.\n"
      "[Unit]\n"
      "Description=Orvane: update every site's catalog every " +
      every +
      "\n"
      "\n"
      "[Timer]\n"
      "OnActiveSec=" +
      every + "\nOnUnitActiveSec=" + every +
      "\n"
      "AccuracySec=1min\n"
      "\n"
      "[Install]\n"
      "WantedBy=timers.target\n";
  std::string error;
  std::error_code made;
  fs::create_directories(unitDir, made);
  if (made) {
    return context.Fail(kExitFailed, "orvane-cli: " + unitDir.string() + ": " + made.message());
  }
  // The service first: a timer never points at a unit that is not there.
  if (!WriteUnit(unitDir / kServiceName, service, error) ||
      !WriteUnit(unitDir / kTimerName, timer, error)) {
    return context.Fail(kExitFailed, "orvane-cli: " + error);
  }
  bool enabled = false;
  std::string why;
  if (SystemctlProgram().empty()) {
    why = "ORVANE_SYSTEMCTL is empty";
  } else {
    const Run reload = Systemctl({"daemon-reload"});
    if (!reload.started) {
      why = "systemctl could not be run";
    } else if (reload.status != 0) {
      why = reload.output.empty() ? "systemctl --user daemon-reload failed" : reload.output;
    } else {
      // A timer that was running keeps its old interval until restarted.
      const Run enable = Systemctl({"enable", "--now", std::string(kTimerName)});
      const Run restart =
          enable.status == 0 ? Systemctl({"restart", std::string(kTimerName)}) : enable;
      enabled = enable.status == 0 && restart.status == 0;
      if (!enabled)
        why = restart.output.empty() ? "systemctl --user enable failed" : restart.output;
    }
  }
  if (context.json) {
    context.out << JsonWriter()
                       .BeginObject()
                       .Key("schedule")
                       .String("on")
                       .Key("every")
                       .String(every)
                       .Key("seconds")
                       .Number(interval)
                       .Key("timer")
                       .String((unitDir / kTimerName).string())
                       .Key("service")
                       .String((unitDir / kServiceName).string())
                       .Key("enabled")
                       .Bool(enabled)
                       .EndObject()
                       .Text();
  } else {
    context.out << "every " << every << '\n';
  }
  if (!enabled) {
    context.Message("orvane-cli: wrote " + (unitDir / kTimerName).string() + " and " +
                    std::string(kServiceName) + " but did not enable them (" +
                    CliContext::Escaped(why) + "); " + EnableHint());
    return kExitPartial;
  }
  return kExitSuccess;
}

int Remove(CliContext& context, const fs::path& unitDir) {
  bool stillRunning = false;
  std::string why;
  if (!SystemctlProgram().empty()) {
    const Run disable = Systemctl({"disable", "--now", std::string(kTimerName)});
    if (disable.started && disable.status != 0) {
      // Nothing to disable is fine; a timer the manager still runs is not.
      const Run active = Systemctl({"is-active", std::string(kTimerName)});
      stillRunning = active.started && active.output == "active";
      why = disable.output;
    }
  }
  std::vector<std::string> removed;
  const fs::path paths[] = {unitDir / "timers.target.wants" / kTimerName, unitDir / kTimerName,
                            unitDir / kServiceName};
  for (const fs::path& path : paths) {
    std::error_code error;
    const bool there = fs::is_symlink(path, error) || fs::exists(path, error);
    if (!there) continue;
    if (!fs::remove(path, error) || error) {
      return context.Fail(kExitFailed, "orvane-cli: " + path.string() + ": " + error.message());
    }
    removed.push_back(path.string());
  }
  if (!removed.empty()) SyncDirectory(unitDir);
  if (!removed.empty() && !SystemctlProgram().empty()) Systemctl({"daemon-reload"});
  if (context.json) {
    JsonWriter json;
    json.BeginObject().Key("schedule").String("off").Key("removed").BeginArray();
    for (const std::string& path : removed) json.String(path);
    context.out << json.EndArray().EndObject().Text();
  } else {
    context.out << "off\n";
  }
  if (stillRunning) {
    context.Message("orvane-cli: the timer is still running (" + CliContext::Escaped(why) +
                    "); stop it with: systemctl --user disable --now " + std::string(kTimerName));
    return kExitPartial;
  }
  return kExitSuccess;
}

}  // namespace

int RunSchedule(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"every"}, {"off"}, parsed, error)) {
    return context.UsageError("schedule", error);
  }
  if (!parsed.positional.empty()) {
    return context.UsageError("schedule", "unexpected " + parsed.positional.front());
  }
  if (parsed.Has("every") && parsed.Has("off")) {
    return context.UsageError("schedule", "--every and --off exclude each other");
  }
  const fs::path unitDir = UnitDirectory();
  if (unitDir.empty()) {
    return context.Fail(kExitFailed, "orvane-cli: neither XDG_CONFIG_HOME nor HOME is set");
  }
  if (const std::string* text = parsed.Value("every")) {
    std::uint64_t interval = 0;
    if (!ParseInterval(*text, interval) || interval < kMinInterval) {
      return context.UsageError("schedule",
                                "--every takes a duration from 5m to 365d, such as 30m, 6h or 1d");
    }
    return Install(context, unitDir, interval);
  }
  if (parsed.Has("off")) return Remove(context, unitDir);
  return ShowState(context, unitDir);
}

}  // namespace orvane
