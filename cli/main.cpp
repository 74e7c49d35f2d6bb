// orvane-cli: the site list, the stored catalogs and updates from a shell.
//
//   orvane-cli [--data-dir DIR] [--json] COMMAND [ARGS...]
//
// The global options may stand anywhere before a "--" argument. The data
// directory follows the same rule as the desktop program (--data-dir,
// ORVANE_HOME, the program's directory, then the XDG data directory).
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/cli_manual.h"
#include "cli/commands.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"
#include "document/program_dir.h"
#include "document/version.h"

namespace {

constexpr std::string_view kVersion = orvane::kOrvaneVersion;

void PrintUsage(std::ostream& stream) { orvane::PrintCliUsage(stream); }

// With --json, an error is one object on stdout: {"error": TEXT}, with
// "result" holding what the command wrote before it failed, if anything.
void PrintJsonError(std::string_view text, const std::string& result) {
  orvane::JsonWriter json;
  json.BeginObject().Key("error").String(text);
  if (!result.empty()) json.Key("result").Raw(result);
  std::cout << json.EndObject().Text();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvane;
  std::vector<std::string> args;
  std::filesystem::path dataDir;
  bool json = false;
  bool help = false;
  bool optionsEnded = false;
  bool badDataDir = false;
  bool dataDirGiven = false;
  bool version = false;
  // Build steps, not in the help: the manual page and the completion
  // scripts, from the command table.
  if (argc == 2 && std::string_view(argv[1]) == "--man") {
    WriteCliManPage(std::cout);
    return 0;
  }
  if (argc == 3 && std::string_view(argv[1]) == "--completion") {
    if (WriteCliCompletion(std::cout, argv[2])) return 0;
    std::cerr << "orvane-cli: no completion for " << argv[2] << "\n";
    return kExitUsage;
  }
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
      version = true;
    } else if (arg == "--data-dir") {
      if (i + 1 >= argc) {
        badDataDir = true;
      } else {
        dataDir = argv[++i];
        dataDirGiven = true;
      }
    } else if (arg.rfind("--data-dir=", 0) == 0) {
      dataDir = arg.substr(11);
      dataDirGiven = true;
    } else {
      args.push_back(arg);
    }
  }
  if (version && !help) {
    if (json) {
      std::cout << JsonWriter().BeginObject().Key("version").String(kVersion).EndObject().Text();
    } else {
      std::cout << "orvane-cli " << kVersion << "\n";
    }
    return 0;
  }
  if (!args.empty() && args.front() == "help") help = true;
  if (help) {
    if (json) {
      std::ostringstream usage;
      PrintUsage(usage);
      std::cout << JsonWriter().BeginObject().Key("help").String(usage.str()).EndObject().Text();
    } else {
      PrintUsage(std::cout);
    }
    return 0;
  }
  // Errors before a command runs.
  const auto fail = [json](int status, const std::string& text, bool usage) {
    std::cerr << text << "\n";
    if (usage) PrintUsage(std::cerr);
    if (json) PrintJsonError(text, {});
    return status;
  };
  // An empty --data-dir (an unset variable in a script, say) would
  // otherwise fall back to the program's own directory.
  if (badDataDir || (dataDirGiven && dataDir.empty())) {
    return fail(kExitUsage, "orvane-cli: --data-dir needs a directory", false);
  }
  if (args.empty() || args.front() == "--") return fail(kExitUsage, "orvane-cli: no command", true);
  const CliCommand* command = FindCliCommand(args.front());
  if (!command) return fail(kExitUsage, "orvane-cli: unknown command " + args.front(), true);
  args.erase(args.begin());
#ifdef ORVANE_CLI_LAUNCHER
  if (command->online) return ExecOnlineProgram(argv);
#endif
  if (!dataDir.empty() && dataDir.is_relative()) {
    std::error_code absoluteError;
    std::filesystem::path absolute = std::filesystem::absolute(dataDir, absoluteError);
    if (absoluteError) {
      return fail(kExitFailed, "orvane-cli: --data-dir: " + absoluteError.message(), false);
    }
    dataDir = std::move(absolute);
  }

  const std::filesystem::path programDir = ChooseDataDirectory(dataDir, ExecutableDirectory());
  std::error_code statError;
  if (std::filesystem::exists(programDir, statError) &&
      !std::filesystem::is_directory(programDir, statError)) {
    return fail(kExitFailed,
                "orvane-cli: data directory " + programDir.string() + " is not a directory", false);
  }
  std::string error;
  if (!command->readOnly && !CreateDataDirectory(programDir, error)) {
    return fail(kExitFailed, "orvane-cli: data directory: " + error, false);
  }

  CCliHost::InstallInterruptHandler(json);
  // With --json the command's document waits here until the saves at the
  // end are known: a failed save turns it into an error object.
  std::ostringstream jsonOut;
  std::ostream& out = json ? static_cast<std::ostream&>(jsonOut) : std::cout;
  CCliHost host(out, std::cerr, json);
  COrvaneDoc doc(programDir, host);
  host.AttachDocument(doc);
  doc.OnNewDocument(!command->readOnly);
  const std::string siteListDamage =
      "orvane-cli: " + (programDir / "site.ds").string() + " could not be read completely";
  if (!command->readOnly && host.loadErrorCount() > 0) {
    // The window goes on with the sites read before the damage, in front of
    // a user who saw the error; a script would not: a change would silently
    // drop every site after the damage, and "--all" would not be all.
    return fail(kExitFailed, siteListDamage + "; nothing was done", false);
  }
  CliContext context(doc, host, out, std::cerr, json);
  int status = command->run(context, args);
  if (host.loadErrorCount() > 0 && status != kExitInterrupted) {
    // What a reading command printed lacks the sites after the damage.
    context.Fail(kExitFailed, siteListDamage + "; only the sites before the damage were read");
    status = kExitFailed;
  }
  // Events still queued (late notifications of an update) are handled
  // before the document goes.
  host.RunPendingEvents();
  const std::vector<std::string> failures = doc.OnCloseDocument();
  for (const std::string& failure : failures) {
    context.Fail(kExitFailed, "orvane-cli: could not save " + failure);
  }
  if (!failures.empty() && status != kExitInterrupted) status = kExitFailed;
  // The one document goes out whole: a second Ctrl-C now would add
  // another, or cut this one.
  CCliHost::HoldInterrupts();
  if (json && !context.streamed()) {
    const std::string result = jsonOut.str();
    if (!context.error().empty()) {
      PrintJsonError(context.error(), result);
    } else if (!result.empty()) {
      std::cout << result;
    } else if (status != kExitSuccess) {
      // Failed through the document, which said why in a message.
      PrintJsonError(host.lastMessage().empty()
                         ? "orvane-cli " + std::string(command->name) + " failed"
                         : host.lastMessage(),
                     {});
    } else {
      std::cout << "{}\n";
    }
  }
  std::cout.flush();
  return status;
}
