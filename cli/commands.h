// The commands of orvane-cli.
//
// Each command is a function that gets the opened document (through
// CliContext) and its own arguments: everything after the command name,
// with the global options (--data-dir DIR, --json) already taken out. It
// returns the process exit status (kExit* below). Commands print results to stdout and messages to
// stderr through the context; they never call exit().
//
// To add a command, define its function in a file of its own under cli/,
// declare it below and add one line to the table in cli/commands.cpp.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

class CliContext;

// Exit statuses, as --help and the README list them.
inline constexpr int kExitSuccess = 0;
// Nothing found (search, find, new), or the named site or directory does not exist.
inline constexpr int kExitNothing = 1;
// Also a find query that cannot be parsed.
inline constexpr int kExitUsage = 2;
// Some sites failed, were stopped or skipped, or could not be fully fetched.
inline constexpr int kExitPartial = 3;
// Every site failed, a site's server is not trusted, or data could not be
// saved.
inline constexpr int kExitFailed = 4;
// Stopped with Ctrl-C.
inline constexpr int kExitInterrupted = 130;

using CliCommandFunction = int (*)(CliContext& context, const std::vector<std::string>& args);

struct CliCommand {
  std::string_view name;
  CliCommandFunction run;
  // One line for the help text: the arguments after the command name.
  std::string_view usage;
  // Whether the command rewrites site.ds. Such a command is refused when
  // site.ds could not be read completely, so that it never drops the sites
  // after a damaged record.
  bool changesSites;
  // Whether the command only reads: it takes no lock and creates nothing
  // (no data directory, no empty site.ds).
  bool readOnly = false;
  // One sentence for the help text: what the command does.
  std::string_view summary = {};
  // Whether the command goes online: orvane-cli runs it in the program
  // that links the FTP client (cli/online_launch.cpp).
  bool online = false;
};

// Every command, in the order the help text lists them.
std::span<const CliCommand> CliCommands();
const CliCommand* FindCliCommand(std::string_view name);

// An option that stands before (or anywhere around) the command.
struct CliGlobalOption {
  std::string_view name;      // "--data-dir"
  std::string_view argument;  // "DIR", or empty for a flag
  std::string_view summary;
};
std::span<const CliGlobalOption> CliGlobalOptions();

struct CliExitStatus {
  int status;
  std::string_view meaning;
};
// The exit statuses, as --help and the manual page list them.
std::span<const CliExitStatus> CliExitStatuses();

// "NAME USAGE": a command or an option as the help and the manual page
// head their entries.
std::string UsageLine(const CliCommand& command);
std::string UsageLine(const CliGlobalOption& option);

// The help text (--help): commands, global options and exit statuses, all
// from the tables above, as is the manual page (cli/cli_manual.h).
void PrintCliUsage(std::ostream& stream);

// Site list and catalogs (cli/site_commands.cpp).
int RunSites(CliContext& context, const std::vector<std::string>& args);
int RunAdd(CliContext& context, const std::vector<std::string>& args);
int RunEdit(CliContext& context, const std::vector<std::string>& args);
int RunDelete(CliContext& context, const std::vector<std::string>& args);
// The change journals (cli/changes_command.cpp).
int RunChanges(CliContext& context, const std::vector<std::string>& args);
int RunTree(CliContext& context, const std::vector<std::string>& args);

// Updates (cli/update_command.cpp; in orvane-cli, cli/online_launch.cpp).
int RunUpdate(CliContext& context, const std::vector<std::string>& args);
// Shows a site's server key and pins it (cli/trust_command.cpp; in
// orvane-cli, cli/online_launch.cpp).
int RunTrust(CliContext& context, const std::vector<std::string>& args);
// Replaces the process with orvane-cli-online, from orvane-cli's
// directory, given the same arguments; returns only when that failed (exit
// status 4, with the reason on stderr).
int ExecOnlineProgram(char** argv);

// Scheduled updates through systemd (cli/schedule_command.cpp).
int RunSchedule(CliContext& context, const std::vector<std::string>& args);
// The settings both programs share (cli/settings_command.cpp).
int RunSettings(CliContext& context, const std::vector<std::string>& args);

// Search, listings, import and addresses (cli/search_commands.cpp).
int RunSearch(CliContext& context, const std::vector<std::string>& args);
// The find query language over an index of every catalog (cli/find_command.cpp).
int RunFind(CliContext& context, const std::vector<std::string>& args);
int RunNew(CliContext& context, const std::vector<std::string>& args);
int RunMarkRead(CliContext& context, const std::vector<std::string>& args);
int RunImport(CliContext& context, const std::vector<std::string>& args);
int RunAddress(CliContext& context, const std::vector<std::string>& args);

}  // namespace orvane
