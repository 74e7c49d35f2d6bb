#include "cli/commands.h"

#include <array>
#include <string>

namespace orvane {

namespace {

constexpr std::array kCommands{
    CliCommand{"sites", RunSites, "[--keys]", false, true,
               "Lists the sites: key, host, port, login, nickname, remarks (--json adds the "
               "protocol, start directory, key file and pinned fingerprint); --keys prints "
               "only the keys, one a line."},
    CliCommand{"add", RunAdd,
               "HOST [--port N] [--user NAME [--password TEXT | --password-stdin] | --anonymous] "
               "[--nickname TEXT] [--remarks TEXT] [--anonymous-update] [--charset CHARSET] "
               "[--protocol ftp|ftpes|ftps|sftp] [--start-dir PATH] [--key-file FILE]",
               true, false,
               "Adds a site and prints its key; without a password option, asks for the "
               "password on a terminal. CHARSET decodes the server's names: auto (decided "
               "from the names), utf-8, gbk, big5, shift_jis, euc-jp, euc-kr, windows-1251 "
               "or windows-1252. --protocol: plain FTP (the default), FTP with AUTH TLS "
               "required (ftpes), implicit TLS (ftps, port 990) or SSH (sftp, port 22); "
               "--start-dir: the server directory the catalog begins at; --key-file: the "
               "SSH private key an sftp site logs in with (the password is then its "
               "passphrase). A site is its host and user: the same host and user with "
               "another protocol is the same site."},
    CliCommand{"edit", RunEdit,
               "KEY [--host HOST] [--port N] [--user NAME] [--password TEXT | --password-stdin] "
               "[--anonymous] [--nickname TEXT] [--remarks TEXT] [--anonymous-update on|off] "
               "[--charset CHARSET] [--protocol ftp|ftpes|ftps|sftp] [--start-dir PATH] "
               "[--key-file FILE]",
               true, false,
               "Changes a site's settings; its catalog follows a new key. --password-stdin "
               "reads the password from the first line of stdin. A new --charset shows the "
               "stored names decoded anew, without an update. A new host, port or protocol "
               "forgets the key accepted for the old server; --key-file \"\" logs in with "
               "the password again."},
    CliCommand{"delete", RunDelete, "KEY", true, false, "Removes a site with its stored catalog."},
    CliCommand{"tree", RunTree, "KEY [PATH]", false, true,
               "Prints the stored catalog of a site (or of one directory): new mark, size, "
               "path."},
    CliCommand{"update", RunUpdate,
               "[--all | KEY [PATH]] [--threads N] [--connections N] [--no-recursive] [--new] "
               "[--quiet]",
               false, false,
               "Fetches the directory trees of all sites, one site or one directory; a site "
               "that another process is updating is skipped. On a terminal a live line per "
               "running site counts the directories and entries listed; otherwise each status "
               "change is a line. --new then prints the entries this update marked new. "
               "--quiet prints nothing when every site succeeded, else only the sites that did "
               "not (on stderr) and errors. --no-recursive lists each directory on its own "
               "instead of asking the server for whole subtrees.",
               true},
    CliCommand{"trust", RunTrust, "KEY [--fingerprint SHA256:... | --yes]", false, false,
               "Connects to an ftpes, ftps or sftp site and shows the certificate (subject, "
               "issuer, validity) or host key its server presents, with its SHA-256 "
               "fingerprint; then pins it for the site, so that updates accept it and no "
               "other. On a terminal it asks; otherwise only --fingerprint (which must be the "
               "presented one) or --yes accepts. A key the system already trusts needs no pin.",
               true},
    CliCommand{"changes", RunChanges,
               "[KEY] [--since TIME|DURATION] [--kind added,removed,resized]", false, true,
               "Prints what the updates of all sites (or one) added, removed and resized, "
               "newest first: one line per update, then one per entry. TIME is "
               "YYYY-MM-DD[THH:MM[:SS]] (UTC), DURATION a number with s, m, h, d or w; "
               "--kind keeps only the entries of those kinds. A first update is one line."},
    CliCommand{"schedule", RunSchedule, "[--every DURATION | --off]", false, true,
               "Without options, shows whether updates run by themselves and when next. "
               "--every installs a systemd user timer that runs \"update --all --quiet\" on "
               "this data directory every DURATION (5m to 365d: 30m, 6h, 1d, 2w) and enables "
               "it; when systemctl cannot enable it, the files stay and the exit status is 3. "
               "--off stops the timer and removes its files."},
    CliCommand{"settings", RunSettings,
               "[journal-updates N | journal-megabytes M | listing-entries N | update-entries N]",
               false, true,
               "Shows the settings the window and the tool share, or changes one: each "
               "site's change journal keeps its last N updates (1 to 100000; 1000) in at most "
               "M MiB (1 to 4096; 16), the oldest dropped whole; one listing and one site's "
               "update take at most N entries (5000000 and 50000000)."},
    CliCommand{"search", RunSearch, "KEYWORD", false, true,
               "Prints the stored entries whose names contain KEYWORD (\"#new\": new ones)."},
    CliCommand{"find", RunFind, "QUERY... [--sort name|size|site|path] [--limit N]", false, true,
               "Prints the stored entries that match QUERY, one line each: site, size, mark "
               "(* new, - removed) and path. Words must all match (case, Simplified and "
               "Traditional Chinese folded); \"a phrase\", * and ? over the whole name, -word, "
               "a | b, parentheses, ext:iso,mkv, size:>1G, size:10M..2G, dir:, file:, new:, "
               "site:NAME, path:/pub/*, added:<7d, removed:<30d, changed:<1d and /regex/. "
               "Exit 1 when nothing matches, 2 when the query cannot be parsed (the error "
               "names the column)."},
    CliCommand{"new", RunNew, "[--all]", false, true,
               "Prints the entries marked new in the sites updated earlier in the same "
               "process, which from a shell is always nothing (use update --new for what an "
               "update found); --all prints every entry of every site still marked new, "
               "i.e. found by any update and not marked read since."},
    CliCommand{"mark-read", RunMarkRead, "--updated | --all | KEY [PATH]", false, false,
               "Clears the new marks of the updated sites, of all sites, or below one "
               "site or directory."},
    CliCommand{"import", RunImport, "FILE", true, false,
               "Adds a site for every ftp://[user[:password]@]host[:port][/path] line of FILE "
               "(also ftpes://, ftps:// and sftp://, which set the protocol; the path is not "
               "read) that names a site not yet there and prints its key; says on stderr how "
               "many sites were added, how many were there already and which lines were "
               "skipped."},
    CliCommand{"address", RunAddress, "DISPLAY_PATH", false, true,
               "Prints the full address (the site's scheme, port, login and start directory) "
               "of ftp://KEY/PATH."},
};

constexpr std::array kGlobalOptions{
    CliGlobalOption{"--data-dir", "DIR",
                    "Keep site.ds and Data/ in DIR instead of the usual data directory."},
    CliGlobalOption{"--json", "",
                    "Every command writes one JSON document on stdout; an error is "
                    "{\"error\": TEXT} with the exit status below (schemas in the README)."},
    CliGlobalOption{"--help", "", "Prints this help (also: help, -h)."},
    CliGlobalOption{"--version", "", "Prints the version."},
};

constexpr std::array kExitStatuses{
    CliExitStatus{kExitSuccess, "success"},
    CliExitStatus{kExitNothing, "nothing found (search, find, new), or no such site or directory"},
    CliExitStatus{kExitUsage, "usage error, or a find query that cannot be read"},
    CliExitStatus{kExitPartial,
                  "partial: some sites failed, were stopped or skipped, or could not be fully "
                  "fetched"},
    CliExitStatus{kExitFailed,
                  "every site failed, a site's server was not trusted, or data could not be "
                  "saved"},
    CliExitStatus{kExitInterrupted, "stopped with Ctrl-C (a listing), or ended by a second Ctrl-C"},
};

// Writes `text` from `column` on, wrapped at 78 columns with the lines after
// the first indented by `indent`.
void PrintWrapped(std::ostream& stream, std::string_view text, std::size_t column,
                  std::size_t indent) {
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
    if (column + 1 + word.size() > 78) {
      stream << '\n' << std::string(indent, ' ');
      column = indent;
    } else if (column > indent) {
      stream << ' ';
      ++column;
    }
    stream << word;
    column += word.size();
  }
  stream << '\n';
}

}  // namespace

std::span<const CliCommand> CliCommands() { return kCommands; }
std::span<const CliGlobalOption> CliGlobalOptions() { return kGlobalOptions; }
std::span<const CliExitStatus> CliExitStatuses() { return kExitStatuses; }

std::string UsageLine(const CliCommand& command) {
  std::string line(command.name);
  if (!command.usage.empty()) line += ' ' + std::string(command.usage);
  return line;
}

std::string UsageLine(const CliGlobalOption& option) {
  std::string line(option.name);
  if (!option.argument.empty()) line += ' ' + std::string(option.argument);
  return line;
}

void PrintCliUsage(std::ostream& stream) {
  stream << "usage: orvane-cli [--data-dir DIR] [--json] COMMAND [ARGS...]\n"
            "       orvane-cli help | --help | --version\n\ncommands:\n";
  for (const CliCommand& command : kCommands) {
    // The usage on its own line, the sentence after it from column 6.
    stream << "  " << UsageLine(command);
    PrintWrapped(stream, command.summary, 78, 6);
  }
  stream << "\nKEY names a site: its host for an anonymous site, else host@user.\n"
            "\noptions:\n";
  for (const CliGlobalOption& option : kGlobalOptions) {
    stream << "  " << UsageLine(option);
    PrintWrapped(stream, option.summary, 78, 6);
  }
  stream << "\nexit status:\n";
  for (const CliExitStatus& exit : kExitStatuses) {
    std::string head = "  " + std::to_string(exit.status);
    head.resize(7, ' ');
    stream << head;
    PrintWrapped(stream, exit.meaning, head.size(), 7);
  }
}

const CliCommand* FindCliCommand(std::string_view name) {
  for (const CliCommand& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

}  // namespace orvane
