#include "cli/commands.h"

#include <array>

namespace orvane {

namespace {

constexpr std::array kCommands{
    CliCommand{"sites", RunSites, "", false, true},
    CliCommand{"add", RunAdd,
               "HOST [--port N] [--user NAME --password TEXT | --anonymous] [--nickname TEXT] "
               "[--remarks TEXT] [--anonymous-update]",
               true},
    CliCommand{"edit", RunEdit,
               "KEY [--host HOST] [--port N] [--user NAME] [--password TEXT] [--anonymous] "
               "[--nickname TEXT] [--remarks TEXT] [--anonymous-update on|off]",
               true},
    CliCommand{"delete", RunDelete, "KEY", true},
    CliCommand{"tree", RunTree, "KEY [PATH]", false, true},
    CliCommand{"update", RunUpdate, "[--all | KEY [PATH]] [--threads N]", false},
    CliCommand{"search", RunSearch, "KEYWORD", false, true},
    CliCommand{"new", RunNew, "[--all]", false, true},
    CliCommand{"mark-read", RunMarkRead, "--updated | --all | KEY [PATH]", false},
    CliCommand{"import", RunImport, "FILE", true},
    CliCommand{"address", RunAddress, "DISPLAY_PATH", false, true},
};

}  // namespace

std::span<const CliCommand> CliCommands() { return kCommands; }

const CliCommand* FindCliCommand(std::string_view name) {
  for (const CliCommand& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

}  // namespace orvane
