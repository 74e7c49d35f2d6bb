#include "cli/cli_context.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <ostream>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "document/visible_text.h"

namespace orvane {

namespace {

// "ftp://", the shown key, "/" and the shown names of the directories from
// below the root down to `dir`, each decoded on its own: one server may mix
// UTF-8 and code page names in one path.
std::string ShownDirPath(const CFTPDir& dir) {
  std::vector<const CFTPDir*> chain;
  for (const CFTPDir* d = &dir; d->parent; d = d->parent) chain.push_back(d);
  const CFTPSite* site = dir.GetSite();
  std::string path = "ftp://";
  if (site) path += DecodeName(site->siteKey());
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += '/';
    path += DecodeName((*it)->name());
  }
  return path;
}

}  // namespace

CliContext::CliContext(COrvaneDoc& doc, CCliHost& host, std::ostream& out, std::ostream& err,
                       bool json)
    : doc(doc), host(host), out(out), err(err), json(json) {}

std::string CliContext::StoredText(std::string_view typed) {
  if (IsAscii(typed) || !IsValidUtf8(typed)) return std::string(typed);
  return Utf8ToCp936(typed);
}

std::string CliContext::Shown(std::string_view bytes) { return DecodeName(bytes); }

std::string CliContext::ShownPath(const CFTPDir& dir) {
  std::string path = ShownDirPath(dir);
  if (!dir.parent) path += '/';
  return path;
}

std::string CliContext::ShownPath(const CFTPFile& file) {
  std::string path = file.parent ? ShownDirPath(*file.parent) : std::string("ftp://");
  path += '/';
  path += DecodeName(file.name());
  return path;
}

std::string CliContext::Escaped(std::string_view shown) {
  static constexpr char kHex[] = "0123456789abcdef";
  // Printable ASCII other than "\\" needs nothing: no format character is
  // below U+00AD. Most names are such, and a long listing shows them all.
  if (std::all_of(shown.begin(), shown.end(),
                  [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; })) {
    return std::string(shown);
  }
  // Format characters as the window shows them, so a name cannot pose as
  // another on a terminal either.
  const std::string text = MakeFormatCharsVisible(shown);
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\\') {
      escaped += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      escaped += "\\x";
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 15];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::shared_ptr<CFTPSite> CliContext::FindSite(std::string_view typedKey) const {
  if (auto site = doc.FindSite(typedKey)) return site;
  const std::string stored = StoredText(typedKey);
  if (stored != typedKey) return doc.FindSite(stored);
  return nullptr;
}

CFTPDir* CliContext::FindDirectory(CFTPSite& site, std::string_view typedPath) const {
  doc.EnsureCatalogLoaded(site);
  CFTPDir* dir = site.rootDir.get();
  std::size_t pos = 0;
  while (dir && pos <= typedPath.size()) {
    const std::size_t slash = std::min(typedPath.find('/', pos), typedPath.size());
    const std::string_view part = typedPath.substr(pos, slash - pos);
    pos = slash + 1;
    if (part.empty()) continue;
    const std::string stored = StoredText(part);
    CFTPDir* next = nullptr;
    std::lock_guard guard(site.lock);
    // Exact bytes win over a decoded match, so that two names that show
    // alike still reach their own directory.
    for (const auto& sub : dir->subdirs) {
      if (sub->name() == part || sub->name() == stored) {
        next = sub.get();
        break;
      }
    }
    if (!next) {
      for (const auto& sub : dir->subdirs) {
        if (DecodeName(sub->name()) == part) {
          next = sub.get();
          break;
        }
      }
    }
    dir = next;
  }
  return dir;
}

void CliContext::Message(std::string_view text) const { err << text << '\n' << std::flush; }

int CliContext::Fail(int status, std::string_view text) {
  // A failure that two steps meet (an update's save, then the one at
  // close) is told once.
  if (failures_.insert(std::string(text)).second) Message(text);
  if (error_.empty()) error_ = text;
  return status;
}

int CliContext::UsageError(std::string_view command, std::string_view problem) {
  return Fail(2, "orvane-cli " + std::string(command) + ": " + std::string(problem));
}

bool ParsedArgs::Has(std::string_view name) const { return Value(name) != nullptr; }

const std::string* ParsedArgs::Value(std::string_view name) const {
  for (const auto& [key, value] : options) {
    if (key == name) return &value;
  }
  return nullptr;
}

bool ParseArgs(const std::vector<std::string>& args,
               const std::vector<std::string_view>& valueOptions,
               const std::vector<std::string_view>& flagOptions, ParsedArgs& parsed,
               std::string& error) {
  parsed = ParsedArgs{};
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      if (arg == "--" && !optionsEnded) {
        optionsEnded = true;
        continue;
      }
      parsed.positional.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool inlineValue = false;
    if (const std::size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    const bool takesValue =
        std::find(valueOptions.begin(), valueOptions.end(), name) != valueOptions.end();
    const bool isFlag =
        std::find(flagOptions.begin(), flagOptions.end(), name) != flagOptions.end();
    if (!takesValue && !isFlag) {
      error = "unknown option --" + name;
      return false;
    }
    if (parsed.Has(name)) {
      error = "--" + name + " given twice";
      return false;
    }
    if (isFlag && inlineValue) {
      error = "--" + name + " takes no value";
      return false;
    }
    if (takesValue && !inlineValue) {
      if (i + 1 >= args.size()) {
        error = "--" + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    parsed.options.emplace_back(std::move(name), std::move(value));
  }
  return true;
}

bool ParseNumber(std::string_view text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= low && value <= high;
}

}  // namespace orvane
