#include "cli/commands.h"

#include <array>

namespace orvane {

namespace {

constexpr std::array kCommands{
    CliCommand{"sites", RunSites, "", false, true,
               "Lists the sites: key, host, port, login, nickname, remarks."},
    CliCommand{"add", RunAdd,
               "HOST [--port N] [--user NAME --password TEXT | --anonymous] [--nickname TEXT] "
               "[--remarks TEXT] [--anonymous-update]",
               true, false, "Adds a site and prints its key."},
    CliCommand{"edit", RunEdit,
               "KEY [--host HOST] [--port N] [--user NAME] [--password TEXT] [--anonymous] "
               "[--nickname TEXT] [--remarks TEXT] [--anonymous-update on|off]",
               true, false, "Changes a site's settings; its catalog follows a new key."},
    CliCommand{"delete", RunDelete, "KEY", true, false, "Removes a site with its stored catalog."},
    CliCommand{"tree", RunTree, "KEY [PATH]", false, true,
               "Prints the stored catalog of a site (or of one directory): new mark, size, "
               "path."},
    CliCommand{"update", RunUpdate,
               "[--all | KEY [PATH]] [--threads N] [--connections N] [--no-recursive]", false,
               false,
               "Fetches the directory trees of all sites, one site or one directory; a site "
               "that another process is updating is skipped."},
    CliCommand{"search", RunSearch, "KEYWORD", false, true,
               "Prints the stored entries whose names contain KEYWORD (\"#new\": new ones)."},
    CliCommand{"new", RunNew, "[--all]", false, true,
               "Prints the new entries found by updates in this process (always none from a "
               "shell); --all prints those of every site."},
    CliCommand{"mark-read", RunMarkRead, "--updated | --all | KEY [PATH]", false, false,
               "Clears the new marks of the updated sites, of all sites, or below one "
               "site or directory."},
    CliCommand{"import", RunImport, "FILE", true, false,
               "Adds a site for every ftp:// line of FILE that names a site not yet there."},
    CliCommand{"address", RunAddress, "DISPLAY_PATH", false, true,
               "Prints the full ftp:// address (with port and login) of ftp://KEY/PATH."},
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
