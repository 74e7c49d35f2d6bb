#include "document/man_page.h"

#include <cctype>

#include "document/user_settings.h"
#include "document/version.h"

namespace orvane {

namespace {

bool IsPlaceholder(std::string_view word) {
  bool letter = false;
  for (const char c : word) {
    if (std::islower(static_cast<unsigned char>(c))) return false;
    letter = letter || std::isupper(static_cast<unsigned char>(c));
  }
  return letter;
}

}  // namespace

CManPage::CManPage(std::ostream& out, std::string_view name, std::string_view description)
    : out_(out) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  out_ << ".TH " << Escaped(upper) << " 1 " << kOrvaneReleaseDate << " \"Orvane " << kOrvaneVersion
       << "\" \"User Commands\"\n"
       // No hyphenation: an option split over two lines cannot be copied.
       << ".nh\n.ad l\n";
  Section("NAME");
  out_ << Escaped(name) << " \\- " << Escaped(description) << '\n';
}

void CManPage::Section(std::string_view title) { out_ << ".SH " << Escaped(title) << '\n'; }

void CManPage::Paragraph(std::string_view text) { out_ << ".PP\n" << Escaped(text) << '\n'; }

void CManPage::Item(std::string_view usage, std::string_view text) {
  out_ << ".TP\n" << FormattedUsage(usage) << '\n' << Escaped(text) << '\n';
}

void CManPage::Usage(std::string_view usage) { out_ << ".PP\n" << FormattedUsage(usage) << '\n'; }

void CManPage::DataDirectorySections(std::string_view moreEnvironment) {
  Section("FILES");
  Paragraph(
      "The data directory is the one given with --data-dir; else $ORVANE_HOME when set and "
      "not empty; else the program's own directory when it already holds site.ds (or, for a "
      "program that is not installed, when that directory is writable); else "
      "$XDG_DATA_HOME/orvane, ~/.local/share/orvane by default. It is created owner-only. "
      "The window and orvane-cli may use one data directory at once.");
  const std::string_view files[][2] = {
      {"site.ds", "The site list, with the sites' passwords; readable by its owner only."},
      {"Data/KEY/content.ct", "The stored catalog of the site KEY (host, or host@user)."},
      {"Data/KEY/state.st", "The site's new marks, saved with its catalog."},
      {"Data/KEY/changes.jn",
       "The site's change journal: what each update added, removed "
       "and resized."},
      {"Data/KEY/health.txt", "The site's last update, last success and last error."},
      {kUserSettingsFileName,
       "The settings the window and orvane-cli share (how much each "
       "change journal keeps)."},
      {"locks/",
       "flock(2) lock files through which the processes sharing the directory "
       "coordinate; a lock ends with its process."},
  };
  for (const auto& [file, text] : files) Item(file, text);
  Section("ENVIRONMENT");
  Item("ORVANE_HOME", "The data directory, when --data-dir is not given.");
  Item("XDG_DATA_HOME",
       "The data directory is $XDG_DATA_HOME/orvane when nothing else "
       "names one (an absolute path; else ~/.local/share).");
  while (!moreEnvironment.empty()) {
    const std::size_t end = moreEnvironment.find('\n');
    const std::string_view line = moreEnvironment.substr(0, end);
    moreEnvironment.remove_prefix(end == std::string_view::npos ? moreEnvironment.size() : end + 1);
    const std::size_t tab = line.find('\t');
    if (tab != std::string_view::npos) Item(line.substr(0, tab), line.substr(tab + 1));
  }
}

std::string CManPage::Escaped(std::string_view text) {
  std::string escaped;
  bool lineStart = true;
  // Inside a word that starts with "-": an option, whose dashes are minus
  // signs, which man keeps ASCII so that the option can be copied and
  // searched for. Other dashes are hyphens.
  bool inOption = false;
  char previous = ' ';
  for (const char c : text) {
    // A control line starts with "." or "'"; a zero-width \& keeps text text.
    if (lineStart && (c == '.' || c == '\'')) escaped += "\\&";
    lineStart = c == '\n';
    if (c == ' ' || c == '\n') inOption = false;
    if (c == '-' && std::string_view(" [|(\"{/\n").find(previous) != std::string_view::npos) {
      inOption = true;
    }
    if (c == '\\') {
      escaped += "\\e";
    } else if (c == '-' && inOption) {
      escaped += "\\-";
    } else {
      escaped += c;
    }
    previous = c;
  }
  return escaped;
}

std::string CManPage::FormattedUsage(std::string_view usage) {
  std::string formatted;
  while (!usage.empty()) {
    const std::size_t space = usage.find(' ');
    std::string_view word = usage.substr(0, space);
    usage.remove_prefix(space == std::string_view::npos ? usage.size() : space + 1);
    const bool first = formatted.empty();
    if (!first) formatted += ' ';
    // Brackets and bars around a word stay plain.
    std::size_t begin = word.find_first_not_of("[|");
    std::size_t end = word.find_last_not_of("]|");
    if (begin == std::string_view::npos || end < begin) {
      formatted += Escaped(word);
      continue;
    }
    const std::string_view core = word.substr(begin, end + 1 - begin);
    formatted += Escaped(word.substr(0, begin));
    if (core.starts_with('-') || (!IsPlaceholder(core) && first)) {
      formatted += "\\fB" + Escaped(core) + "\\fR";
    } else if (IsPlaceholder(core)) {
      formatted += "\\fI" + Escaped(core) + "\\fR";
    } else {
      formatted += Escaped(core);
    }
    formatted += Escaped(word.substr(end + 1));
  }
  return formatted;
}

}  // namespace orvane
