// orvane-cli: the site list, the stored catalogs and updates from a shell.
//
//   orvane-cli [--data-dir DIR] [--json] COMMAND [ARGS...]
//
// The global options may stand anywhere before a "--" argument. The data
// directory follows the same rule as the desktop program (--data-dir,
// ORVANE_HOME, the program's directory, then the XDG data directory).
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "document/orvane_doc.h"
#include "document/program_dir.h"

namespace {

constexpr std::string_view kVersion = "0.1.0";

void PrintUsage(std::ostream& stream) {
  stream << "usage: orvane-cli [--data-dir DIR] [--json] COMMAND [ARGS...]\n"
            "       orvane-cli help | --help | --version\n\ncommands:\n";
  for (const orvane::CliCommand& command : orvane::CliCommands()) {
    stream << "  " << command.name;
    if (!command.usage.empty()) stream << ' ' << command.usage;
    stream << "\n      " << command.summary << '\n';
  }
  stream << "\nKEY names a site: its host for an anonymous site, else host@user.\n"
            "\nexit status:\n"
            "  0    success\n"
            "  1    nothing found (search, new), or no such site or directory\n"
            "  2    usage error\n"
            "  3    partial: some sites failed, were stopped or skipped, or could not be\n"
            "       fully fetched\n"
            "  4    every site failed, or data could not be saved\n"
            "  130  stopped with Ctrl-C (a listing), or ended by a second Ctrl-C\n";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvane;
  std::vector<std::string> args;
  std::filesystem::path dataDir;
  bool json = false;
  bool help = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded) {
      args.push_back(arg);
    } else if (arg == "--") {
      // Passed on: the command's own parser ends its options there too.
      optionsEnded = true;
      args.push_back(arg);
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      std::cout << "orvane-cli " << kVersion << "\n";
      return 0;
    } else if (arg == "--data-dir") {
      if (i + 1 >= argc) {
        std::cerr << "orvane-cli: --data-dir needs a directory\n";
        return 2;
      }
      dataDir = argv[++i];
    } else if (arg.rfind("--data-dir=", 0) == 0) {
      dataDir = arg.substr(11);
    } else {
      args.push_back(arg);
    }
  }
  if (!args.empty() && args.front() == "help") help = true;
  if (help) {
    PrintUsage(std::cout);
    return 0;
  }
  if (args.empty() || args.front() == "--") {
    PrintUsage(std::cerr);
    return 2;
  }
  const CliCommand* command = FindCliCommand(args.front());
  if (!command) {
    std::cerr << "orvane-cli: unknown command " << args.front() << "\n";
    PrintUsage(std::cerr);
    return 2;
  }
  args.erase(args.begin());
  if (!dataDir.empty() && dataDir.is_relative()) dataDir = std::filesystem::absolute(dataDir);

  const std::filesystem::path programDir = ChooseDataDirectory(dataDir, ExecutableDirectory());
  std::string error;
  if (!command->readOnly && !CreateDataDirectory(programDir, error)) {
    std::cerr << "orvane-cli: data directory: " << error << "\n";
    return kExitFailed;
  }

  CCliHost::InstallInterruptHandler();
  CCliHost host(std::cout, std::cerr, json);
  COrvaneDoc doc(programDir, host);
  host.AttachDocument(doc);
  doc.OnNewDocument(!command->readOnly);
  if (command->changesSites && host.loadErrorCount() > 0) {
    // The window goes on with the sites read before the damage, in front of
    // a user who saw the error; a script would not, and its change would
    // silently drop every site after the damage.
    std::cerr << "orvane-cli: " << (programDir / "site.ds").string()
              << " could not be read completely; it is left unchanged\n";
    return kExitFailed;
  }
  CliContext context(doc, host, std::cout, std::cerr, json);
  int status = command->run(context, args);
  // Events still queued (late notifications of an update) are handled
  // before the document goes.
  host.RunPendingEvents();
  const std::vector<std::string> failures = doc.OnCloseDocument();
  for (const std::string& failure : failures) {
    std::cerr << "orvane-cli: could not save " << failure << "\n";
  }
  if (!failures.empty() && status != kExitInterrupted) status = kExitFailed;
  std::cout.flush();
  return status;
}
