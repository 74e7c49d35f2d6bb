// search, new, mark-read, import and address: the document's search,
// new-entry listings, mark clearing, site import and address building.
//
// Listings stream to stdout as the walk finds them, one decoded display
// path per line (or one JSON array with --json); counts and the document's
// messages go to stderr. Exit status: 0 with results, 1 when nothing was
// found (or the operation failed), 130 when Ctrl-C stopped the walk.
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "document/json_writer.h"
#include "document/name_matcher.h"
#include "document/orvane_doc.h"

namespace orvane {

namespace {

constexpr int kStoppedStatus = 130;
constexpr std::string_view kScheme = "ftp://";

// Ends a listing: the JSON array, the count, and the exit status.
int FinishListing(CliContext& context) {
  context.host.FinishResults();
  if (CCliHost::Interrupted()) return kStoppedStatus;
  const std::size_t count = context.host.resultCount();
  context.Message(std::to_string(count) + (count == 1 ? " entry" : " entries"));
  return count ? 0 : 1;
}

// The file called `typed` (as stored, as stored text, or by its decoded
// name) directly in `dir`; exact bytes win.
const CFTPFile* FindFile(const CFTPSite& site, const CFTPDir& dir, std::string_view typed) {
  const std::string stored = CliContext::StoredText(typed);
  std::lock_guard guard(site.lock);
  for (const auto& file : dir.files) {
    if (file->name() == typed || file->name() == stored) return file.get();
  }
  for (const auto& file : dir.files) {
    if (CliContext::ShownName(file->name(), &site) == typed) return file.get();
  }
  return nullptr;
}

// "2 sites added, 1 already there, 3 lines skipped (lines 4, 9, 12)".
std::string ImportSummary(const COrvaneDoc::ImportReport& report) {
  const auto count = [](std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
  };
  std::string text = count(report.added.size(), " site added", " sites added") + ", " +
                     std::to_string(report.alreadyThere) + " already there, " +
                     count(report.skipped, " line skipped", " lines skipped");
  if (!report.skippedLines.empty()) {
    text += report.skippedLines.size() == 1 ? " (line " : " (lines ";
    for (std::size_t i = 0; i < report.skippedLines.size(); ++i) {
      text += (i ? ", " : "") + std::to_string(report.skippedLines[i]);
    }
    text += report.skipped > report.skippedLines.size() ? ", ...)" : ")";
  }
  return text;
}

// Every entry of every site that is still marked new, new directories and
// everything inside them included, in tree order (each directory before
// its files, then its subdirectories). The window lists a new directory
// without what is in it; a script gets each entry it may want to fetch.
void ListEveryNewEntry(CliContext& context) {
  COrvaneDoc& doc = context.doc;
  doc.ClearResults();
  COrvaneDoc::WalkGuard guard(doc);
  const std::vector<std::shared_ptr<CFTPSite>> sites = doc.sites();
  std::vector<CFTPDir*> subdirs;
  std::vector<CFTPFile*> files;
  for (const auto& site : sites) {
    doc.EnsureCatalogLoaded(*site);
    std::vector<CFTPDir*> pending{site->rootDir.get()};
    while (!pending.empty()) {
      if (!doc.PumpMessages()) return;
      CFTPDir* dir = pending.back();
      pending.pop_back();
      if (doc.IsRemoved(dir)) continue;
      if (dir != site->rootDir.get() && dir->readState.load() != 0) doc.AddResult(dir);
      SnapshotChildren(*dir, site.get(), subdirs, files);
      for (CFTPFile* file : files) {
        if (file->readState.load() != 0) doc.AddResult(file);
      }
      for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) pending.push_back(*it);
    }
  }
}

}  // namespace

int RunSearch(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, {}, parsed, error)) return context.UsageError("search", error);
  if (parsed.positional.size() != 1) {
    return context.UsageError("search", "give one KEYWORD (\"\" lists everything)");
  }
  // Typed text is UTF-8; the matcher keeps it in both encodings.
  const std::string keyword = FoldKeyword(parsed.positional[0]);
  // A damaged site list is said by main in the JSON document, which must
  // then wait; else the entries stream out as they are found.
  if (context.json && context.host.loadErrorCount() == 0) {
    context.host.StreamJsonTo(context.StreamJson());
  }
  if (keyword == "#new") {
    ListEveryNewEntry(context);
  } else {
    context.doc.Search(keyword);
  }
  return FinishListing(context);
}

int RunNew(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, {"all"}, parsed, error)) return context.UsageError("new", error);
  if (!parsed.positional.empty()) return context.UsageError("new", "takes only --all");
  // Without --all: the sites updated in this run, which in a process of its
  // own means none; --all lists every site.
  if (parsed.Has("all")) {
    ListEveryNewEntry(context);
  } else {
    context.doc.ShowNewFiles(1);
  }
  return FinishListing(context);
}

int RunMarkRead(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, {"updated", "all"}, parsed, error)) {
    return context.UsageError("mark-read", error);
  }
  const bool updated = parsed.Has("updated");
  const bool all = parsed.Has("all");
  // What was cleared: "all", "updated" or the directory's shown path.
  std::string cleared;
  if (updated || all) {
    if (updated && all) return context.UsageError("mark-read", "give --updated or --all");
    if (!parsed.positional.empty()) {
      return context.UsageError("mark-read", "--updated and --all take no KEY");
    }
    context.doc.SetSitesRead(all ? 2 : 1);
    cleared = all ? "all" : "updated";
  } else {
    if (parsed.positional.empty() || parsed.positional.size() > 2) {
      return context.UsageError("mark-read", "give --updated, --all or KEY [PATH]");
    }
    std::shared_ptr<CFTPSite> site = context.FindSite(parsed.positional[0]);
    if (!site) {
      return context.Fail(kExitNothing,
                          "orvane-cli mark-read: no site has the key " + parsed.positional[0]);
    }
    CFTPDir* dir =
        context.FindDirectory(*site, parsed.positional.size() == 2 ? parsed.positional[1] : "/");
    if (!dir) {
      return context.Fail(kExitNothing,
                          "orvane-cli mark-read: no stored directory " + parsed.positional[1]);
    }
    cleared = CliContext::ShownPath(*dir);
    context.doc.SetTreeNodeRead(dir);
  }
  // The marks reach state.st when the document closes.
  if (context.json) {
    context.out << JsonWriter().BeginObject().Key("markedRead").String(cleared).EndObject().Text();
  }
  return CCliHost::Interrupted() ? kStoppedStatus : 0;
}

int RunImport(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, {}, parsed, error)) return context.UsageError("import", error);
  if (parsed.positional.size() != 1) return context.UsageError("import", "give one FILE");
  COrvaneDoc::ImportReport report;
  if (!context.doc.ImportSites(parsed.positional[0], &report)) {
    return context.Fail(kExitNothing, context.host.lastMessage());
  }
  if (!context.doc.siteListError().empty()) {
    return context.Fail(kExitFailed, "orvane-cli: could not save " + context.doc.siteListError() +
                                         "; no site was added");
  }
  // Plain: the keys of the sites added, one per line.
  std::ostream& out = context.out;
  if (context.json) {
    JsonWriter json;
    json.BeginObject().Key("added").BeginArray();
    for (const auto& site : report.added) json.String(CliContext::Shown(site->siteKey()));
    json.EndArray().Key("alreadyThere").Number(report.alreadyThere);
    json.Key("skipped").Number(report.skipped).Key("skippedLines").BeginArray();
    for (const std::size_t line : report.skippedLines) json.Number(line);
    out << json.EndArray().EndObject().Text();
  } else {
    for (const auto& site : report.added) {
      out << CliContext::Plain(site->siteKey()) << '\n';
    }
  }
  out.flush();
  context.Message(ImportSummary(report));
  return 0;
}

int RunAddress(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, {}, parsed, error)) return context.UsageError("address", error);
  if (parsed.positional.size() != 1) {
    return context.UsageError("address", "give one DISPLAY_PATH (ftp://KEY/PATH)");
  }
  // The path as shown (decoded) is mapped back to the stored bytes through
  // the catalog; a place the catalog does not hold is taken as typed.
  std::string_view typed = parsed.positional[0];
  if (typed.starts_with(kScheme)) typed.remove_prefix(kScheme.size());
  const std::size_t slash = typed.find('/');
  const std::string_view typedKey = typed.substr(0, slash);
  std::shared_ptr<CFTPSite> site = context.FindSite(typedKey);
  if (!site) {
    return context.Fail(kExitNothing,
                        "orvane-cli address: no site has the key " + std::string(typedKey));
  }
  std::string displayPath = std::string(kScheme) + site->siteKey();
  if (slash != std::string_view::npos && typed.substr(slash) != "/") {
    const std::string_view place = typed.substr(slash);
    if (CFTPDir* dir = context.FindDirectory(*site, place)) {
      displayPath = dir->GetDisplayPath();
    } else {
      const std::size_t last = place.rfind('/');
      const CFTPDir* parent = context.FindDirectory(*site, place.substr(0, last));
      const CFTPFile* file = parent ? FindFile(*site, *parent, place.substr(last + 1)) : nullptr;
      // An address of an entry the catalog does not hold would look as
      // good as any other and lead nowhere.
      if (!file) {
        return context.Fail(
            kExitNothing, "orvane-cli address: no such entry " + std::string(typed.substr(slash)));
      }
      displayPath = file->GetDisplayPath();
    }
  } else if (slash != std::string_view::npos) {
    displayPath += '/';
  }
  const std::string address = context.doc.GetFileAddress(displayPath);
  if (context.json) {
    context.out << JsonWriter().BeginObject().Key("address").String(address).EndObject().Text();
  } else {
    context.out << address << '\n';
  }
  context.out.flush();
  return 0;
}

}  // namespace orvane
