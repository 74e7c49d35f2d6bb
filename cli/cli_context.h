// What every orvane-cli command gets: the opened document, the front end
// that drives it, the output streams and the conversions between what a
// user types on a terminal and the bytes the catalogs store.
//
// Texts typed on the command line are UTF-8. Stored texts (host, login,
// nickname, remarks) are kept in the encoding the desktop program uses,
// code page 936; names from servers are bytes as received. Everything shown
// is UTF-8: system texts as they are, stored texts decoded as code page
// 936, names by their site's character set (catalog/name_charset.h). The
// "Shown" forms are readable text for JSON (U+FFFD for a byte that decodes
// to nothing); the "Plain" forms are for a terminal, escaped so that no two
// different names print alike (TerminalText).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/name_charset.h"

namespace orvane {

class CCliHost;
class CFTPDir;
class CFTPFile;
class CFTPSite;
class COrvaneDoc;

class CliContext {
 public:
  CliContext(COrvaneDoc& doc, CCliHost& host, std::ostream& out, std::ostream& err, bool json);

  COrvaneDoc& doc;
  CCliHost& host;
  std::ostream& out;
  std::ostream& err;
  // --json: results as one JSON document on stdout. `out` is then a buffer
  // that main prints once the document is closed and its saves are known.
  const bool json;

  // The bytes to store for text typed by the user: valid UTF-8 becomes code
  // page 936 (as the desktop program's dialogs store it); anything else is
  // taken as the bytes it already is.
  static std::string StoredText(std::string_view typed);
  // Site-list text (key, host, user, nickname, remarks) as UTF-8.
  static std::string Shown(std::string_view bytes);
  static std::string Plain(std::string_view bytes);
  // The charset a site's names are decoded by (UTF-8 without a site).
  static NameCharset CharsetOf(const CFTPSite* site);
  // A server's name (or a path of names) of `site`.
  static std::string ShownName(std::string_view bytes, const CFTPSite* site);
  // Display path ("ftp://key/a/b"): the key as site-list text, the names
  // by the site's charset.
  static std::string ShownPath(const CFTPDir& dir);
  static std::string ShownPath(const CFTPFile& file);
  static std::string PlainPath(const CFTPDir& dir);
  static std::string PlainPath(const CFTPFile& file);
  // UTF-8 text for a terminal or a line-oriented reader (TerminalText):
  // controls, invalid bytes and format characters escaped, so a name from
  // a server can neither drive the terminal nor split a line.
  static std::string Escaped(std::string_view text);

  // The first site whose key equals the typed key, as typed or as stored
  // text; null when there is none.
  std::shared_ptr<CFTPSite> FindSite(std::string_view typedKey) const;
  // The stored directory at a typed path below the site's root ("/", "",
  // "a/b" or "/a/b"); each component matches a name byte for byte, as
  // stored text, or by its decoded form. Loads the catalog first. Null when
  // a component is not found.
  CFTPDir* FindDirectory(CFTPSite& site, std::string_view typedPath) const;

  // A message for the user on stderr (UTF-8), with a line end.
  void Message(std::string_view text) const;
  // An error: the message on stderr, kept (the first one) for the JSON
  // error object; returns `status`.
  int Fail(int status, std::string_view text);
  // Usage error for `command`: Fail with the exit status 2.
  int UsageError(std::string_view command, std::string_view problem);
  const std::string& error() const { return error_; }

  // With --json, for a command whose document may be larger than memory
  // should hold: stdout itself, which the command writes its one document
  // to as it goes; main then adds nothing to it. Call it only once nothing
  // can fail any more.
  std::ostream& StreamJson();
  bool streamed() const { return streamed_; }

 private:
  std::string error_;
  bool streamed_ = false;
  std::set<std::string> failures_;
};

// Splits "--name value" / "--name=value" options from positional arguments.
// `valueOptions` take a value, `flagOptions` take none. Unknown options,
// missing values and repeated options are errors (message in `error`).
struct ParsedArgs {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // name without "--"
  bool Has(std::string_view name) const;
  const std::string* Value(std::string_view name) const;
};
bool ParseArgs(const std::vector<std::string>& args,
               const std::vector<std::string_view>& valueOptions,
               const std::vector<std::string_view>& flagOptions, ParsedArgs& parsed,
               std::string& error);

// One line from standard input without its line end ("\n" or "\r\n"),
// read a byte at a time so that nothing after it is taken from a script's
// input. Nullopt when the input ends before a byte or cannot be read. A
// longer line than 64 KiB is read to its end and comes back cut, with
// `tooLong` set: the caller refuses it rather than use a part.
std::optional<std::string> ReadLineFromStdin(bool& tooLong);

// A whole decimal number in [low, high]; false otherwise.
bool ParseNumber(std::string_view text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value);

}  // namespace orvane
