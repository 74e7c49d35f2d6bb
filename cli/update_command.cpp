// update: runs the update engine for all sites, one site or one directory,
// and waits for it in the tool's own event loop.
//
// The engine's notifications arrive on its threads; the document's engine
// bridge queues them to the main thread (CCliHost::Post), where the document
// lives: status changes are printed, removed entries go to the document,
// which drops its references and destroys them. Ctrl-C stops the run like the
// window's stop command: running sites end at "更新终止！" with what they
// merged saved, queued ones at "更新终止!".
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "document/engine_bridge.h"
#include "document/orvane_doc.h"
#include "update/status_text.h"
#include "update/update_engine.h"

namespace orvane {

namespace {

// The progress display's period.
constexpr std::chrono::milliseconds kProgressTick{1000};

// Prints each status a site passes through, once.
class StatusLines final : public ISiteStatusSink {
 public:
  explicit StatusLines(std::ostream& lines) : lines_(lines) {}

  void SiteStatusChanged(const std::shared_ptr<CFTPSite>& site, const SiteStatus& status) override {
    Show(*site, status);
  }

  void Show(const CFTPSite& site, const SiteStatus& status) {
    std::string text = CliContext::Shown(StatusText(status));
    std::string& last = shown_[&site];
    if (text == last) return;
    last = text;
    lines_ << CliContext::Escaped(CliContext::Shown(site.siteKey())) << ": "
           << CliContext::Escaped(OneLine(std::move(text))) << '\n'
           << std::flush;
  }

 private:
  static std::string OneLine(std::string text);

  std::ostream& lines_;
  std::map<const CFTPSite*, std::string> shown_;
};

// A status text on one line: "更新失败:\n..." becomes "更新失败: ...".
std::string StatusLines::OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\t') c = ' ';
  }
  return text;
}

// "2 directories not entered, 0 listings incomplete, 1 name skipped".
std::string CountsText(const CrawlCounts& counts) {
  std::string text;
  const auto add = [&text](std::uint32_t n, const char* one, const char* many) {
    if (!text.empty()) text.append(", ");
    text.append(std::to_string(n)).append(" ").append(n == 1 ? one : many);
  };
  add(counts.dirsNotEntered, "directory not entered", "directories not entered");
  add(counts.listingsIncomplete, "listing incomplete", "listings incomplete");
  add(counts.namesSkipped, "name skipped", "names skipped");
  return text;
}

std::string ProgressText(const UpdateProgress& progress) {
  char text[64];
  std::snprintf(text, sizeof text, "更新%d/%d", progress.done, progress.total);
  return text;
}

}  // namespace

int RunUpdate(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"threads", "connections"}, {"all", "no-recursive"}, parsed, error)) {
    return context.UsageError("update", error);
  }
  const bool all = parsed.Has("all") || parsed.positional.empty();
  if (parsed.Has("all") && !parsed.positional.empty()) {
    return context.UsageError("update", "give --all or KEY [PATH], not both");
  }
  if (parsed.positional.size() > 2) return context.UsageError("update", "give KEY [PATH]");
  std::uint64_t threads = CUpdateEngine::kDefaultMaxWorkers;
  if (const std::string* text = parsed.Value("threads");
      text &&
      !ParseNumber(*text, CUpdateEngine::kMinMaxWorkers, CUpdateEngine::kMaxMaxWorkers, threads)) {
    return context.UsageError("update", "--threads takes a number from 1 to 500");
  }
  std::uint64_t connections = CUpdateEngine::kDefaultConnectionsPerSite;
  if (const std::string* text = parsed.Value("connections");
      text && !ParseNumber(*text, 1, CUpdateEngine::kMaxConnectionsPerSite, connections)) {
    return context.UsageError("update", "--connections takes a number from 1 to 16");
  }

  // Status lines: stdout for people; with --json they go to stderr and
  // stdout gets one summary document at the end.
  std::ostream& lines = context.json ? context.err : context.out;
  StatusLines statusLines(lines);
  CCliHost& host = context.host;
  CEngineBridge bridge(context.doc, statusLines,
                       [&host](std::function<void()> event) { host.Post(std::move(event)); });
  CUpdateEngine engine(bridge, context.doc.GetProgramDir());
  engine.SetMaxWorkers(static_cast<int>(threads));
  engine.SetConnectionsPerSite(static_cast<int>(connections));
  engine.SetRecursiveListing(!parsed.Has("no-recursive"));

  std::vector<std::shared_ptr<CFTPSite>> sites;
  if (all) {
    sites = context.doc.sites();
    engine.UpdateAll(sites);
  } else {
    std::shared_ptr<CFTPSite> site = context.FindSite(parsed.positional[0]);
    if (!site) {
      context.Message("orvane-cli update: no site has the key " + parsed.positional[0]);
      return 1;
    }
    CFTPDir* dir = nullptr;
    if (parsed.positional.size() == 2) {
      dir = context.FindDirectory(*site, parsed.positional[1]);
      if (!dir) {
        context.Message("orvane-cli update: no stored directory " + parsed.positional[1]);
        return 1;
      }
    }
    sites.push_back(site);
    engine.UpdateSelected(site, dir);
  }
  // Queuing set every site waiting; its worker may have moved it on already.
  SiteStatus waiting;
  waiting.outcome = SiteStatus::Outcome::kWaiting;
  for (const auto& site : sites) statusLines.Show(*site, waiting);

  std::string shownProgress;
  bool stopping = false;
  for (;;) {
    context.host.RunPendingEvents();
    if (!stopping && CCliHost::Interrupted()) {
      stopping = true;
      engine.Stop();
    }
    const UpdateProgress progress = engine.Progress();
    if (progress.finished) break;
    if (std::string text = ProgressText(progress); text != shownProgress) {
      shownProgress = std::move(text);
      lines << shownProgress << '\n' << std::flush;
    }
    context.host.WaitForEvents(kProgressTick);
  }
  engine.Close();
  context.host.RunPendingEvents();
  for (const auto& site : sites) statusLines.Show(*site, site->Status());
  // A site may report success and still have left parts of its tree as
  // they were stored; say how much.
  for (const auto& site : sites) {
    const CrawlCounts counts = site->Status().counts;
    if (!counts.any()) continue;
    lines << CliContext::Shown(site->siteKey()) << ": not fetched: " << CountsText(counts) << '\n'
          << std::flush;
  }
  // A stopped run did not complete: no "done" line for it.
  const bool interrupted = CCliHost::Interrupted();
  if (!interrupted) lines << "更新完成" << '\n' << std::flush;
  bool saveFailed = false;
  for (const auto& site : sites) {
    if (const std::string failure = site->SaveError(); !failure.empty()) {
      context.Message("orvane-cli: could not save " + failure);
      saveFailed = true;
    }
  }

  // Complete: succeeded with nothing left unfetched.
  std::size_t complete = 0;
  std::size_t failed = 0;
  for (const auto& site : sites) {
    const SiteStatus status = site->Status();
    if (status.outcome == SiteStatus::Outcome::kSucceeded && !status.counts.any()) ++complete;
    if (status.state == kUpdateFailed) ++failed;
  }
  if (context.json) {
    std::ostream& out = context.out;
    out << '[';
    for (std::size_t i = 0; i < sites.size(); ++i) {
      const CFTPSite& site = *sites[i];
      out << (i ? ",\n " : "\n ")
          << "{\"key\": " << CliContext::JsonString(CliContext::Shown(site.siteKey()))
          << ", \"status\": "
          << CliContext::JsonString(CliContext::Shown(StatusText(site.Status())))
          << ", \"updateState\": " << site.updateState.load()
          << ", \"hasNewEntries\": " << (site.hasNewEntries.load() ? "true" : "false");
      const CrawlCounts counts = site.GetCrawlCounts();
      out << ", \"dirsNotEntered\": " << counts.dirsNotEntered
          << ", \"listingsIncomplete\": " << counts.listingsIncomplete
          << ", \"namesSkipped\": " << counts.namesSkipped << '}';
    }
    out << (sites.empty() ? "]\n" : "\n]\n") << std::flush;
  }
  if (saveFailed || (!sites.empty() && failed == sites.size())) return kExitFailed;
  return complete == sites.size() && !interrupted ? kExitSuccess : kExitPartial;
}

}  // namespace orvane
