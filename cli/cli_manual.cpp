#include "cli/cli_manual.h"

#include <algorithm>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "document/man_page.h"

namespace orvane {

namespace {

// The usage line's words, with the brackets peeled off into words of their
// own; a bar standing alone separates alternatives, a bar inside a word
// ("on|off") belongs to it.
std::vector<std::string> UsageTokens(std::string_view usage) {
  std::vector<std::string> tokens;
  while (!usage.empty()) {
    const std::size_t space = usage.find(' ');
    std::string_view word = usage.substr(0, space);
    usage.remove_prefix(space == std::string_view::npos ? usage.size() : space + 1);
    while (word.starts_with('[')) {
      tokens.emplace_back("[");
      word.remove_prefix(1);
    }
    std::size_t closing = 0;
    while (word.ends_with(']')) {
      ++closing;
      word.remove_suffix(1);
    }
    if (!word.empty()) tokens.emplace_back(word);
    tokens.insert(tokens.end(), closing, "]");
  }
  return tokens;
}

bool IsWord(const std::string& token) {
  return token != "[" && token != "]" && token != "|" && !token.starts_with('-');
}

// What a command's usage line allows, as completion needs it.
struct CliUsageShape {
  struct Option {
    std::string name;   // "--port"
    std::string value;  // its value's placeholder ("N", "on|off"), or empty
  };
  std::vector<Option> options;
  // What can stand as the first argument: placeholders ("KEY", "FILE") and
  // literal words ("journal-updates").
  std::vector<std::string> first;
};

CliUsageShape ParseCliUsage(std::string_view usage) {
  CliUsageShape shape;
  const std::vector<std::string> tokens = UsageTokens(usage);
  bool seenWord = false;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token.starts_with("--")) {
      CliUsageShape::Option option{token, {}};
      // A word right after the option, with no bracket or bar between, is
      // its value.
      if (i + 1 < tokens.size() && IsWord(tokens[i + 1])) option.value = tokens[++i];
      shape.options.push_back(option);
    } else if (IsWord(token)) {
      // The first word of the line, or the first after a bar, can start the
      // arguments.
      if (!seenWord || (i > 0 && tokens[i - 1] == "|")) shape.first.push_back(token);
      seenWord = true;
    }
  }
  return shape;
}

// A word for a single-quoted bash string.
std::string BashQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// The first sentence of a summary, for a completion's description.
std::string_view FirstSentence(std::string_view text) {
  const std::size_t end = text.find(". ");
  std::string_view sentence = text.substr(0, end);
  if (sentence.ends_with('.')) sentence.remove_suffix(1);
  return sentence;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

std::string FishQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

// Runs every time a word is completed: it asks `orvane-cli sites --keys`
// (on the data directory the command line names) for the site keys.
constexpr std::string_view kBashFunctions = R"(
# What the usage names at this place ($1: KEY, FILE, on|off, ...) that
# begins with $2.
_orvane_cli_fill()
{
    local cur=$2 word prefix=
    local -a words
    case $1 in
        KEY|DISPLAY_PATH)
            [[ $1 == DISPLAY_PATH ]] && prefix=ftp://
            while IFS= read -r word; do
                word=$prefix$word${prefix:+/}
                [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
            done < <("$_orvane_cli_program" "${_orvane_cli_data[@]}" sites --keys 2>/dev/null)
            ;;
        FILE|DIR)
            compopt -o filenames 2>/dev/null
            local flag=-f
            [[ $1 == DIR ]] && flag=-d
            while IFS= read -r word; do
                COMPREPLY+=("$word")
            done < <(compgen "$flag" -- "$cur")
            ;;
        *[a-z]*)
            IFS='|,' read -ra words <<<"$1"
            for word in "${words[@]}"; do
                [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
            done
            ;;
    esac
}

_orvane_cli()
{
    local cur prev cword
    local -a words
    if declare -F _get_comp_words_by_ref >/dev/null; then
        _get_comp_words_by_ref -n =: cur prev words cword
    else
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        cur=${words[cword]}
        prev=${words[cword - 1]}
    fi
    COMPREPLY=()
    local _orvane_cli_program=${words[0]:-orvane-cli}
    [[ $_orvane_cli_program == \~/* ]] && _orvane_cli_program=$HOME/${_orvane_cli_program#\~/}
    local -a _orvane_cli_data=()
    local command= argument=0 i dir
    # The global options and the command before the word completed;
    # `argument` counts the command's arguments so far.
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --data-dir)
                dir=${words[i + 1]}
                [[ $dir == \~/* ]] && dir=$HOME/${dir#\~/}
                _orvane_cli_data=(--data-dir "$dir")
                ((i++))
                continue
                ;;
            --data-dir=*)
                _orvane_cli_data=("${words[i]}")
                continue
                ;;
            --json | --help | -h | --version) continue ;;
        esac
        if [[ -z $command ]]; then
            command=${words[i]}
        elif [[ ${words[i]} == -* ]]; then
            [[ -n $(_orvane_cli_value "$command" "${words[i]}") ]] && ((i++))
        else
            ((argument++))
        fi
    done
    if [[ $prev == --data-dir ]]; then
        _orvane_cli_fill DIR "$cur"
        return
    fi
    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$_orvane_cli_global" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$_orvane_cli_commands" -- "$cur"))
        fi
        return
    fi
    local value
    value=$(_orvane_cli_value "$command" "$prev")
    if [[ -n $value ]]; then
        _orvane_cli_fill "$value" "$cur"
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_orvane_cli_options "$command") --json --data-dir" -- "$cur"))
    elif ((argument == 0)); then
        for value in $(_orvane_cli_first "$command"); do
            _orvane_cli_fill "$value" "$cur"
        done
    fi
    declare -F __ltrim_colon_completions >/dev/null && __ltrim_colon_completions "$cur"
    return 0
}
complete -F _orvane_cli orvane-cli
)";

void WriteBashCompletion(std::ostream& out) {
  out << "# bash completion for orvane-cli: commands, options and site keys.\n"
         "# Generated by `orvane-cli --completion bash` from the program's command table.\n\n";
  std::vector<std::string> names;
  for (const CliCommand& command : CliCommands()) names.emplace_back(command.name);
  std::vector<std::string> global;
  for (const CliGlobalOption& option : CliGlobalOptions()) global.emplace_back(option.name);
  out << "_orvane_cli_commands=" << BashQuoted(Joined(names)) << "\n"
      << "_orvane_cli_global=" << BashQuoted(Joined(global)) << "\n\n";
  // A command's options, the placeholder of an option's value, and what
  // its first argument may be: one case per command.
  std::string options, values, first;
  for (const CliCommand& command : CliCommands()) {
    const CliUsageShape shape = ParseCliUsage(command.usage);
    std::vector<std::string> optionNames;
    for (const CliUsageShape::Option& option : shape.options) {
      optionNames.push_back(option.name);
      if (!option.value.empty()) {
        values += "        " + std::string(command.name) + ':' + option.name + ") echo " +
                  BashQuoted(option.value) + " ;;\n";
      }
    }
    if (!optionNames.empty()) {
      options += "        " + std::string(command.name) + ") echo " +
                 BashQuoted(Joined(optionNames)) + " ;;\n";
    }
    if (!shape.first.empty()) {
      first += "        " + std::string(command.name) + ") echo " +
               BashQuoted(Joined(shape.first)) + " ;;\n";
    }
  }
  out << "_orvane_cli_options()\n{\n    case $1 in\n"
      << options << "    esac\n}\n\n"
      << "_orvane_cli_value()\n{\n    case $1:$2 in\n"
      << "        *:--data-dir) echo DIR ;;\n"
      << values << "    esac\n}\n\n"
      << "_orvane_cli_first()\n{\n    case $1 in\n"
      << first << "    esac\n}\n"
      << kBashFunctions;
}

// fish: the placeholder's completions as arguments of `complete`.
std::string FishArguments(const std::string& placeholder) {
  if (placeholder == "KEY") return "-xa '(__orvane_cli_keys)'";
  if (placeholder == "DISPLAY_PATH") {
    return "-xa '(__orvane_cli_keys | string replace -r \"(.*)\" \"ftp://\\$1/\")'";
  }
  if (placeholder == "FILE") return "-rF";
  if (placeholder == "DIR") return "-xa '(__fish_complete_directories)'";
  if (std::ranges::any_of(placeholder, [](char c) { return c >= 'a' && c <= 'z'; })) {
    std::string words = placeholder;
    std::ranges::replace_if(
        words, [](char c) { return c == '|' || c == ','; }, ' ');
    return "-xa " + FishQuoted(words);
  }
  return "-x";
}

void WriteFishCompletion(std::ostream& out) {
  out << "# fish completion for orvane-cli: commands, options and site keys.\n"
         "# Generated by `orvane-cli --completion fish` from the program's command table.\n\n"
         "function __orvane_cli_keys\n"
         "    set -l tokens (commandline -opc)\n"
         "    set -l data\n"
         "    if set -l i (contains -i -- --data-dir $tokens)\n"
         "        set data --data-dir $tokens[(math $i + 1)]\n"
         "    end\n"
         "    $tokens[1] $data sites --keys 2>/dev/null\n"
         "end\n\n"
         "complete -c orvane-cli -f\n";
  for (const CliGlobalOption& option : CliGlobalOptions()) {
    out << "complete -c orvane-cli -l " << option.name.substr(2)
        << (option.argument.empty() ? "" : ' ' + FishArguments(std::string(option.argument)))
        << " -d " << FishQuoted(FirstSentence(option.summary)) << '\n';
  }
  for (const CliCommand& command : CliCommands()) {
    const std::string name(command.name);
    out << "complete -c orvane-cli -n __fish_use_subcommand -a " << name << " -d "
        << FishQuoted(FirstSentence(command.summary)) << '\n';
    const std::string when = " -n '__fish_seen_subcommand_from " + name + "'";
    const CliUsageShape shape = ParseCliUsage(command.usage);
    for (const CliUsageShape::Option& option : shape.options) {
      out << "complete -c orvane-cli" << when << " -l " << option.name.substr(2)
          << (option.value.empty() ? "" : ' ' + FishArguments(option.value)) << '\n';
    }
    for (const std::string& placeholder : shape.first) {
      const std::string arguments = FishArguments(placeholder);
      if (arguments != "-x") out << "complete -c orvane-cli" << when << ' ' << arguments << '\n';
    }
  }
}

}  // namespace

bool WriteCliCompletion(std::ostream& out, std::string_view shell) {
  if (shell == "bash") {
    WriteBashCompletion(out);
  } else if (shell == "fish") {
    WriteFishCompletion(out);
  } else {
    return false;
  }
  return true;
}

void WriteCliManPage(std::ostream& out) {
  CManPage page(out, "orvane-cli", "catalog FTP sites and search the catalogs from a shell");
  page.Section("SYNOPSIS");
  page.Usage("orvane-cli [--data-dir DIR] [--json] COMMAND [ARGS...]");
  page.Usage("orvane-cli help | --help | --version");
  page.Section("DESCRIPTION");
  page.Paragraph(
      "orvane-cli keeps a list of FTP sites, walks each site's directory tree into a stored "
      "catalog, and prints, searches and marks what the catalogs hold, on the same data "
      "directory as the window, orvane(1). It may run from a cron job or a systemd timer "
      "while the window is open. Plain output puts one entry on a line, with control bytes "
      "in names escaped; counts and messages go to stderr.");
  page.Paragraph("KEY names a site: its host for an anonymous site, else host@user.");
  page.Section("COMMANDS");
  for (const CliCommand& command : CliCommands()) page.Item(UsageLine(command), command.summary);
  page.Section("OPTIONS");
  page.Paragraph("These options may stand anywhere before an argument \"--\".");
  for (const CliGlobalOption& option : CliGlobalOptions())
    page.Item(UsageLine(option), option.summary);
  page.Section("EXIT STATUS");
  for (const CliExitStatus& exit : CliExitStatuses()) {
    page.Item(std::to_string(exit.status), exit.meaning);
  }
  page.DataDirectorySections(
      "ORVANE_CRAWL_TRACE\tupdate appends every site's crawl timeline to this file.\n"
      "ORVANE_SYSTEMCTL\tThe systemctl that schedule calls; set and empty, none is called.\n"
      "XDG_CONFIG_HOME\tschedule writes its systemd user units to "
      "$XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user).");
  page.Section("SEE ALSO");
  page.Paragraph("orvane(1), systemctl(1), crontab(5)");
}

}  // namespace orvane
