#include "cli/cli_context.h"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <mutex>
#include <ostream>

#include "catalog/name_charset.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "document/site_fields.h"
#include "document/visible_text.h"

namespace orvane {

namespace {

// "ftp://", the site's key (site-list text), "/" and the names of the
// directories from below the root down to `dir`, decoded by the site's
// character set.
std::string ShownDirPath(const CFTPDir& dir, InvalidBytes invalid) {
  std::vector<const CFTPDir*> chain;
  for (const CFTPDir* d = &dir; d->parent; d = d->parent) chain.push_back(d);
  const CFTPSite* site = dir.GetSite();
  const NameCharset charset = CliContext::CharsetOf(site);
  std::string path = "ftp://";
  if (site) path += DecodeSiteText(site->siteKey(), invalid);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += '/';
    path += DecodeName((*it)->name(), charset, invalid);
  }
  return path;
}

std::string ShownFilePath(const CFTPFile& file, InvalidBytes invalid) {
  std::string path = file.parent ? ShownDirPath(*file.parent, invalid) : std::string("ftp://");
  path += '/';
  path += DecodeName(file.name(),
                     CliContext::CharsetOf(file.parent ? file.parent->GetSite() : nullptr),
                     invalid);
  return path;
}

}  // namespace

CliContext::CliContext(COrvaneDoc& doc, CCliHost& host, std::ostream& out, std::ostream& err,
                       bool json)
    : doc(doc), host(host), out(out), err(err), json(json) {}

std::ostream& CliContext::StreamJson() {
  streamed_ = true;
  return std::cout;
}

std::string CliContext::StoredText(std::string_view typed) { return StoredSiteText(typed); }

std::string CliContext::Shown(std::string_view bytes) { return DecodeSiteText(bytes); }

std::string CliContext::Plain(std::string_view bytes) {
  return TerminalText(DecodeSiteText(bytes, InvalidBytes::kEscape));
}

NameCharset CliContext::CharsetOf(const CFTPSite* site) {
  return site ? site->NameCharsetInUse() : NameCharset::kUtf8;
}

std::string CliContext::ShownName(std::string_view bytes, const CFTPSite* site) {
  return DecodeName(bytes, CharsetOf(site));
}

std::string CliContext::ShownPath(const CFTPDir& dir) {
  std::string path = ShownDirPath(dir, InvalidBytes::kReplace);
  if (!dir.parent) path += '/';
  return path;
}

std::string CliContext::ShownPath(const CFTPFile& file) {
  return ShownFilePath(file, InvalidBytes::kReplace);
}

std::string CliContext::PlainPath(const CFTPDir& dir) {
  std::string path = ShownDirPath(dir, InvalidBytes::kEscape);
  if (!dir.parent) path += '/';
  return TerminalText(path);
}

std::string CliContext::PlainPath(const CFTPFile& file) {
  return TerminalText(ShownFilePath(file, InvalidBytes::kEscape));
}

std::string CliContext::Escaped(std::string_view shown) { return TerminalText(shown); }

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
        if (DecodeName(sub->name(), CharsetOf(&site)) == part) {
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
