// Writes a manual page (man(7) roff) for the programs' own tables of
// commands and options, so that a page and the --help it stands beside come
// from one source.
//
// Texts are plain: a usage line ("KEY [--port N]") is set with options in
// bold and placeholders in italics; everything roff would take as markup is
// escaped.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace orvane {

class CManPage {
 public:
  // Writes the title line: "orvane-cli", section 1, the release date
  // (YYYY-MM-DD) and the version.
  CManPage(std::ostream& out, std::string_view name, std::string_view description);

  void Section(std::string_view title);
  void Paragraph(std::string_view text);
  // A hanging paragraph under a usage line, as for a command or an option.
  void Item(std::string_view usage, std::string_view text);
  // A usage line alone (the SYNOPSIS).
  void Usage(std::string_view usage);

  // FILES and ENVIRONMENT as both programs share them: the data directory's
  // rule and contents. `moreEnvironment` holds further "NAME\tmeaning" lines.
  void DataDirectorySections(std::string_view moreEnvironment = {});

  // `text` with roff's markup characters escaped.
  static std::string Escaped(std::string_view text);
  // `usage` with options in bold and placeholders in italics.
  static std::string FormattedUsage(std::string_view usage);

 private:
  std::ostream& out_;
};

}  // namespace orvane
