// update: runs the update engine for all sites, one site or one directory,
// and waits for it in the tool's own event loop.
//
// The engine's notifications arrive on its threads; they are queued to the
// main thread (CCliHost::Post) and handled there, where the document lives:
// status changes are printed, removed entries go to the document, which
// drops its references and destroys them. Ctrl-C stops the run like the
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
#include "document/orvane_doc.h"
#include "update/update_engine.h"

namespace orvane {

namespace {

// The progress display's period.
constexpr std::chrono::milliseconds kProgressTick{1000};

// Hands the engine's notifications to the main thread. std::function must
// be copyable, so an owned entry travels in a shared holder; an event that
// never runs still destroys its entry, on the main thread, with the host.
class CliEngineListener final : public IEngineListener {
 public:
  using StatusFunction = std::function<void(CFTPSite&, const std::string&)>;
  CliEngineListener(CCliHost& host, COrvaneDoc& doc, StatusFunction onStatus)
      : host_(host), doc_(doc), onStatus_(std::move(onStatus)) {}

  // The text is taken now, on the engine's thread: by the time the main
  // thread runs the event the site may have moved on, and every step
  // should be shown.
  void PostSiteStatus(std::shared_ptr<CFTPSite> site) override {
    if (!site) return;
    std::string text = site->StatusText();
    host_.Post([this, site = std::move(site), text = std::move(text)] { onStatus_(*site, text); });
  }
  void PostEntryRemoved(std::unique_ptr<CFTPDir> dir) override {
    auto holder = std::make_shared<std::unique_ptr<CFTPDir>>(std::move(dir));
    host_.Post([this, holder] { doc_.OnEntryRemoved(std::move(*holder)); });
  }
  void PostEntryRemoved(std::unique_ptr<CFTPFile> file) override {
    auto holder = std::make_shared<std::unique_ptr<CFTPFile>>(std::move(file));
    host_.Post([this, holder] { doc_.OnEntryRemoved(std::move(*holder)); });
  }
  // Wakes the main thread's wait, which then finds the work finished.
  void PostWorkEnded() override {
    host_.Post([] {});
  }

 private:
  CCliHost& host_;
  COrvaneDoc& doc_;
  StatusFunction onStatus_;
};

// A status text on one line: "更新失败:\n..." becomes "更新失败: ...".
std::string OneLine(std::string text) {
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
  if (!ParseArgs(args, {"threads"}, {"all"}, parsed, error)) {
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

  // Status lines: stdout for people; with --json they go to stderr and
  // stdout gets one summary document at the end.
  std::ostream& lines = context.json ? context.err : context.out;
  std::map<const CFTPSite*, std::string> shownStatus;
  auto showStatus = [&](CFTPSite& site, const std::string& status) {
    std::string text = CliContext::Shown(status);
    std::string& last = shownStatus[&site];
    if (text == last) return;
    last = text;
    lines << CliContext::Shown(site.siteKey()) << ": " << OneLine(std::move(text)) << '\n'
          << std::flush;
  };

  CliEngineListener listener(context.host, context.doc, showStatus);
  CUpdateEngine engine(listener, context.doc.GetProgramDir());
  engine.SetMaxWorkers(static_cast<int>(threads));

  std::vector<std::shared_ptr<CFTPSite>> sites;
  if (all) {
    sites = context.doc.siteList;
    engine.UpdateAll(sites);
  } else {
    CFTPSite* found = context.FindSite(parsed.positional[0]);
    if (!found) {
      context.Message("orvane-cli update: no site has the key " + parsed.positional[0]);
      return 1;
    }
    std::shared_ptr<CFTPSite> site;
    for (const auto& candidate : context.doc.siteList) {
      if (candidate.get() == found) site = candidate;
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
  for (const auto& site : sites) showStatus(*site, std::string(kStatusWaiting));

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
  for (const auto& site : sites) showStatus(*site, site->StatusText());
  // A site may report success and still have left parts of its tree as
  // they were stored; say how much.
  for (const auto& site : sites) {
    const CrawlCounts counts = site->GetCrawlCounts();
    if (!counts.any()) continue;
    lines << CliContext::Shown(site->siteKey()) << ": not fetched: " << CountsText(counts) << '\n'
          << std::flush;
  }
  lines << "更新完成" << '\n' << std::flush;

  bool allSucceeded = true;
  for (const auto& site : sites) {
    if (site->StatusText() != kStatusSucceeded) allSucceeded = false;
  }
  if (context.json) {
    std::ostream& out = context.out;
    out << '[';
    for (std::size_t i = 0; i < sites.size(); ++i) {
      const CFTPSite& site = *sites[i];
      out << (i ? ",\n " : "\n ")
          << "{\"key\": " << CliContext::JsonString(CliContext::Shown(site.siteKey()))
          << ", \"status\": " << CliContext::JsonString(CliContext::Shown(site.StatusText()))
          << ", \"updateState\": " << site.updateState.load()
          << ", \"hasNewEntries\": " << (site.hasNewEntries.load() ? "true" : "false");
      const CrawlCounts counts = site.GetCrawlCounts();
      out << ", \"dirsNotEntered\": " << counts.dirsNotEntered
          << ", \"listingsIncomplete\": " << counts.listingsIncomplete
          << ", \"namesSkipped\": " << counts.namesSkipped << '}';
    }
    out << (sites.empty() ? "]\n" : "\n]\n") << std::flush;
  }
  return allSucceeded ? 0 : 1;
}

}  // namespace orvane
