// The commands of orvane-cli.
//
// Each command is a function that gets the opened document (through
// CliContext) and its own arguments: everything after the command name,
// with the global options (--data-dir DIR, --json) already taken out. It
// returns the process exit status: 0 success, 1 the operation failed, 2 the
// command line was wrong. Commands print results to stdout and messages to
// stderr through the context; they never call exit().
//
// To add a command, define its function in a file of its own under cli/,
// declare it below and add one line to the table in cli/commands.cpp.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

class CliContext;

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
};

// Every command, in the order the help text lists them.
std::span<const CliCommand> CliCommands();
const CliCommand* FindCliCommand(std::string_view name);

// Site list and catalogs (cli/site_commands.cpp).
int RunSites(CliContext& context, const std::vector<std::string>& args);
int RunAdd(CliContext& context, const std::vector<std::string>& args);
int RunEdit(CliContext& context, const std::vector<std::string>& args);
int RunDelete(CliContext& context, const std::vector<std::string>& args);
int RunTree(CliContext& context, const std::vector<std::string>& args);

// Updates (cli/update_command.cpp).
int RunUpdate(CliContext& context, const std::vector<std::string>& args);

// Search, listings, import and addresses (cli/search_commands.cpp).
int RunSearch(CliContext& context, const std::vector<std::string>& args);
int RunNew(CliContext& context, const std::vector<std::string>& args);
int RunMarkRead(CliContext& context, const std::vector<std::string>& args);
int RunImport(CliContext& context, const std::vector<std::string>& args);
int RunAddress(CliContext& context, const std::vector<std::string>& args);

}  // namespace orvane
