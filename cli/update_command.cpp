// update: runs the update engine for all sites, one site or one directory,
// and waits for it in the tool's own event loop.
//
// The engine's notifications arrive on its threads; the document's engine
// bridge queues them to the main thread (CCliHost::Post), where the document
// lives: status changes reach the display below, removed entries go to the
// document, which drops its references and destroys them. Ctrl-C stops the
// run like the window's stop command: running sites end at "更新终止！" with
// what they merged saved, queued ones at "更新终止!".
//
// What is shown while it runs:
// - stdout is a terminal: one live line per running site with its status
//   and the directories and entries listed so far, and the sites done, all
//   redrawn in place a few times a second; each site's final status stays
//   above them as a line of its own;
// - otherwise: one line per status change of a site, and "更新N/M" when the
//   count of sites done changes;
// - --quiet: nothing while it runs; at the end, only the sites that did not
//   fully succeed (on stderr) and errors. A run that succeeded prints
//   nothing (but the new entries that --new asks for).
// With --json the lines go to stderr and stdout gets one summary object.
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "document/engine_bridge.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"
#include "update/status_text.h"
#include "update/update_engine.h"

namespace orvane {

namespace {

// How long the loop waits for a notice before it looks at the progress.
constexpr std::chrono::milliseconds kPlainTick{1000};
// The live display's redraw period: at most four redraws a second.
constexpr std::chrono::milliseconds kLiveTick{250};

// A status text on one line: "更新失败:\n..." becomes "更新失败: ...".
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\t') c = ' ';
  }
  return text;
}

std::string StatusLine(const CFTPSite& site, const SiteStatus& status) {
  const std::string key = CliContext::Plain(site.siteKey());
  if (status.outcome == SiteStatus::Outcome::kFailed &&
      status.failure == SiteStatus::Failure::kBusyElsewhere) {
    return key + ": skipped: " + std::string(kBeingUpdatedElsewhere);
  }
  return key + ": " + CliContext::Escaped(OneLine(DecodeName(StatusText(status), NameCharset::kUtf8)));
}

bool IsRunning(SiteStatus::Outcome outcome) {
  return outcome == SiteStatus::Outcome::kConnecting || outcome == SiteStatus::Outcome::kConnected;
}

// The longest prefix of UTF-8 `text` that fits `columns` terminal columns,
// counting every non-ASCII character as two (most here are CJK); a live
// line that wrapped would break the cursor moves that redraw it.
std::string FitColumns(const std::string& text, std::size_t columns) {
  std::size_t used = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    const std::size_t width = lead < 0x80 ? 1 : 2;
    if (used + width > columns) break;
    used += width;
    i += length;
  }
  return text.substr(0, std::min(i, text.size()));
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

// Left to another process that is updating the site: nothing was tried,
// so it is neither a failure nor a success.
bool Skipped(const SiteStatus& status) {
  return status.outcome == SiteStatus::Outcome::kFailed &&
         status.failure == SiteStatus::Failure::kBusyElsewhere;
}

// The outcome as a name for scripts (--json).
const char* OutcomeName(const SiteStatus& status) {
  if (Skipped(status)) return "skipped";
  if (status.failure == SiteStatus::Failure::kUntrusted) return "untrusted";
  switch (status.outcome) {
    case SiteStatus::Outcome::kNone:
      return "none";
    case SiteStatus::Outcome::kWaiting:
      return "waiting";
    case SiteStatus::Outcome::kConnecting:
      return "connecting";
    case SiteStatus::Outcome::kConnected:
      return "connected";
    case SiteStatus::Outcome::kSucceeded:
      return "succeeded";
    case SiteStatus::Outcome::kFailed:
      return "failed";
    case SiteStatus::Outcome::kNoSession:
      return "noSession";
    case SiteStatus::Outcome::kStopped:
      return "stopped";
    case SiteStatus::Outcome::kStoppedQueued:
      return "stoppedQueued";
    case SiteStatus::Outcome::kBrokenOff:
      return "brokenOff";
    case SiteStatus::Outcome::kResuming:
      return "resuming";
  }
  return "none";
}

// Shows the run as the header comment says; gets every status change
// through the engine bridge, on the main thread.
class UpdateDisplay final : public ISiteStatusSink {
 public:
  enum class Mode { kLines, kLive, kQuiet };

  // `fd` is the descriptor behind `lines` (the terminal's width).
  UpdateDisplay(std::ostream& lines, int fd, Mode mode) : lines_(lines), fd_(fd), mode_(mode) {}

  void SiteStatusChanged(const std::shared_ptr<CFTPSite>& site, const SiteStatus& status) override {
    Show(site, status);
  }

  void Show(const std::shared_ptr<CFTPSite>& site, const SiteStatus& status) {
    std::string text = StatusLine(*site, status);
    std::string& last = shown_[site.get()];
    if (text == last) return;
    last = text;
    if (mode_ == Mode::kLines) {
      lines_ << text << '\n' << std::flush;
      return;
    }
    if (mode_ != Mode::kLive) return;
    if (IsRunning(status.outcome)) {
      running_[site.get()] = site;
    } else {
      running_.erase(site.get());
    }
    // Waiting is what every queued site is: only the ends stay on screen.
    if (status.outcome != SiteStatus::Outcome::kWaiting && !IsRunning(status.outcome)) {
      Erase();
      lines_ << text << '\n';
    }
  }

  // Main thread, after each wait: the progress count (lines), or the live
  // block when it is due.
  void Tick(const UpdateProgress& progress) {
    if (mode_ == Mode::kLines) {
      if (std::string text = ProgressText(progress); text != shownProgress_) {
        shownProgress_ = std::move(text);
        lines_ << shownProgress_ << '\n' << std::flush;
      }
      return;
    }
    if (mode_ != Mode::kLive) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < kLiveTick) return;
    Erase();
    const winsize size = Size();
    const std::size_t columns = size.ws_col >= 20 ? size.ws_col : 80;
    // The block must fit the screen, or the cursor could not get back to
    // its first line: the sites beyond it are counted on the last line.
    const std::size_t rows = size.ws_row >= 4 ? size.ws_row : 24;
    const std::size_t shownSites = std::min(running_.size(), rows - 2);
    std::string last = ProgressText(progress);
    if (shownSites < running_.size()) {
      last += ", " + std::to_string(running_.size() - shownSites) + " more running";
    }
    for (const auto& [key, site] : running_) {
      if (drawn_ == shownSites) break;
      const std::string text = shown_[key] + "  " + std::to_string(site->dirsListed.load()) +
                               " directories, " + std::to_string(site->entriesListed.load()) +
                               " entries";
      lines_ << FitColumns(text, columns - 1) << '\n';
      ++drawn_;
    }
    lines_ << FitColumns(last, columns - 1) << '\n' << std::flush;
    ++drawn_;
    lastDraw_ = now;
  }

  // The run is over: the live block goes.
  void Finish() {
    Erase();
    lines_ << std::flush;
  }

  std::chrono::milliseconds Period() const { return mode_ == Mode::kLive ? kLiveTick : kPlainTick; }

 private:
  static std::string ProgressText(const UpdateProgress& progress) {
    char text[64];
    std::snprintf(text, sizeof text, "更新%d/%d", progress.done, progress.total);
    return text;
  }

  // Moves back to the first line of the live block and clears from there.
  void Erase() {
    if (drawn_ == 0) return;
    lines_ << "\r\x1b[" << drawn_ << "A\x1b[J";
    drawn_ = 0;
  }

  // The terminal's size; zero fields when it cannot be had.
  winsize Size() const {
    winsize size{};
    if (::ioctl(fd_, TIOCGWINSZ, &size) != 0) size = winsize{};
    return size;
  }

  std::ostream& lines_;
  const int fd_;
  const Mode mode_;
  std::map<const CFTPSite*, std::string> shown_;
  std::map<const CFTPSite*, std::shared_ptr<CFTPSite>> running_;
  std::string shownProgress_;
  std::size_t drawn_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// Every directory and file below the root of `site`, each directory before
// its files and subdirectories; the child lists are read under the lock.
template <typename Visit>
void ForEachEntry(CFTPSite& site, Visit visit) {
  std::vector<CFTPDir*> pending{site.rootDir.get()};
  std::vector<CFTPDir*> subdirs;
  std::vector<CFTPFile*> files;
  while (!pending.empty()) {
    CFTPDir* dir = pending.back();
    pending.pop_back();
    if (dir != site.rootDir.get()) visit(*dir, true);
    SnapshotChildren(*dir, &site, subdirs, files);
    for (CFTPFile* file : files) visit(*file, false);
    for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) pending.push_back(*it);
  }
}

// What --new needs to tell the entries this run marked new from those that
// were new (not read) before it: the stored paths of the latter, hashed.
// Paths, not addresses: a catalog that another process replaced is read
// again, and a destroyed entry's address may come back for a new one.
class NewBefore {
 public:
  void Take(COrvaneDoc& doc, CFTPSite& site) {
    doc.EnsureCatalogLoaded(site);
    ForEachEntry(site, [this](const auto& entry, bool) {
      if (entry.readState.load() != 0) hashes_.insert(Hash(entry.GetDisplayPath()));
    });
  }
  bool Had(const std::string& path) const { return hashes_.contains(Hash(path)); }

 private:
  static std::size_t Hash(const std::string& path) { return std::hash<std::string>{}(path); }
  std::unordered_set<std::size_t> hashes_;
};

}  // namespace

int RunUpdate(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"threads", "connections"}, {"all", "new", "quiet", "no-recursive"}, parsed,
                 error)) {
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
  const bool listNew = parsed.Has("new");
  const bool quiet = parsed.Has("quiet");

  std::vector<std::shared_ptr<CFTPSite>> sites;
  CFTPDir* startDir = nullptr;
  if (all) {
    sites = context.doc.sites();
  } else {
    std::shared_ptr<CFTPSite> site = context.FindSite(parsed.positional[0]);
    if (!site) {
      return context.Fail(kExitNothing,
                          "orvane-cli update: no site has the key " + parsed.positional[0]);
    }
    if (parsed.positional.size() == 2) {
      startDir = context.FindDirectory(*site, parsed.positional[1]);
      if (!startDir) {
        return context.Fail(kExitNothing,
                            "orvane-cli update: no stored directory " + parsed.positional[1]);
      }
    }
    sites.push_back(site);
  }
  NewBefore newBefore;
  if (listNew) {
    for (const auto& site : sites) newBefore.Take(context.doc, *site);
  }

  // Status lines: stdout for people; with --json they go to stderr and
  // stdout gets one summary document at the end.
  std::ostream& lines = context.json ? context.err : context.out;
  const int linesFd = context.json ? STDERR_FILENO : STDOUT_FILENO;
  const UpdateDisplay::Mode mode = quiet               ? UpdateDisplay::Mode::kQuiet
                                   : ::isatty(linesFd) ? UpdateDisplay::Mode::kLive
                                                       : UpdateDisplay::Mode::kLines;
  UpdateDisplay display(lines, linesFd, mode);
  CCliHost& host = context.host;
  CEngineBridge bridge(context.doc, display,
                       [&host](std::function<void()> event) { host.Post(std::move(event)); });
  CUpdateEngine engine(bridge, context.doc.GetProgramDir());
  engine.SetMaxWorkers(static_cast<int>(threads));
  engine.SetConnectionsPerSite(static_cast<int>(connections));
  engine.SetRecursiveListing(!parsed.Has("no-recursive"));
  engine.SetCrawlLimits(context.doc.userSettings().crawlLimits());
  if (all) {
    engine.UpdateAll(sites);
  } else {
    engine.UpdateSelected(sites.front(), startDir);
  }
  // Queuing set every site waiting; its worker may have moved it on already.
  SiteStatus waiting;
  waiting.outcome = SiteStatus::Outcome::kWaiting;
  for (const auto& site : sites) display.Show(site, waiting);

  bool stopping = false;
  for (;;) {
    context.host.RunPendingEvents();
    if (!stopping && CCliHost::Interrupted()) {
      stopping = true;
      engine.Stop();
    }
    const UpdateProgress progress = engine.Progress();
    if (progress.finished) break;
    display.Tick(progress);
    context.host.WaitForEvents(display.Period());
  }
  engine.Close();
  context.host.RunPendingEvents();
  for (const auto& site : sites) display.Show(site, site->Status());
  display.Finish();

  // What a crawl found but could not keep. A catalog that was read only
  // in part is replaced by nothing short of a listing of the whole site;
  // and a site that another process deleted or gave a new key while it was
  // being updated is not written again (CFTPSite::SaveFiles): both would
  // otherwise end on "更新成功".
  std::unordered_set<const CFTPSite*> notKept;
  std::unordered_set<const CFTPSite*> thrownAway;
  for (const auto& site : sites) {
    if (site->removed.load()) continue;
    const SiteStatus::Outcome outcome = site->Status().outcome;
    const bool crawled =
        outcome == SiteStatus::Outcome::kSucceeded ||
        (site->dirsListed.load() > 0 &&
         (outcome == SiteStatus::Outcome::kStopped || outcome == SiteStatus::Outcome::kBrokenOff ||
          outcome == SiteStatus::Outcome::kResuming));
    if (!crawled) continue;
    const std::string shownKey = CliContext::Plain(site->siteKey());
    if (!SiteListHasKey(context.doc.GetProgramDir() / "site.ds", site->siteKey())) {
      thrownAway.insert(site.get());
      context.Fail(kExitFailed, shownKey +
                                    ": the site was deleted or given a new key by another "
                                    "process during the update; what it found was not saved");
    } else if (site->filesIncomplete.load()) {
      notKept.insert(site.get());
      context.Fail(kExitPartial, shownKey +
                                     ": the stored catalog could not be read in full, and this "
                                     "update did not list the whole site to replace it; "
                                     "content.ct and state.st are left as they were");
    }
  }

  // Complete: succeeded with nothing left unfetched, and kept.
  std::size_t complete = 0;
  std::size_t failed = 0;
  // A server that is not trusted waits for the user's word: never a
  // partial success a script may pass over.
  bool untrusted = false;
  for (const auto& site : sites) {
    const SiteStatus status = site->Status();
    const bool whole = status.outcome == SiteStatus::Outcome::kSucceeded && !status.counts.any() &&
                       !notKept.contains(site.get()) && !thrownAway.contains(site.get());
    if (whole) ++complete;
    if (status.failure == SiteStatus::Failure::kUntrusted) untrusted = true;
    if ((status.state == kUpdateFailed && !Skipped(status)) || thrownAway.contains(site.get())) {
      ++failed;
    }
    // Quiet: only what went wrong, on stderr, and only here.
    if (quiet && !whole) context.Message(StatusLine(*site, status));
    // A site may report success and still have left parts of its tree as
    // they were stored; say how much.
    if (status.counts.any()) {
      (quiet ? context.err : lines) << CliContext::Plain(site->siteKey())
                                    << ": not fetched: " << CountsText(status.counts) << '\n'
                                    << std::flush;
    }
  }
  // A stopped run did not complete: no "done" line for it.
  const bool interrupted = CCliHost::Interrupted();
  if (!interrupted && !quiet) lines << "更新完成" << '\n' << std::flush;
  bool saveFailed = false;
  for (const auto& site : sites) {
    if (const std::string failure = site->SaveError(); !failure.empty()) {
      context.Fail(kExitFailed, "orvane-cli: could not save " + failure);
      saveFailed = true;
    }
  }

  // --new: the entries this run marked new, in tree order per site.
  JsonWriter newEntries;
  newEntries.BeginArray();
  std::size_t newCount = 0;
  if (listNew) {
    for (const auto& site : sites) {
      if (site->removed.load()) continue;
      ForEachEntry(*site, [&](const auto& entry, bool isDir) {
        if (entry.readState.load() == 0) return;
        const std::string raw = entry.GetDisplayPath();
        if (newBefore.Had(raw)) return;
        ++newCount;
        const std::string shown =
            context.json ? CliContext::ShownPath(entry) : CliContext::PlainPath(entry);
        if (context.json) {
          std::uint64_t size = 0;
          if constexpr (std::is_same_v<std::decay_t<decltype(entry)>, CFTPFile>) {
            size = entry.size.load();
          }
          CCliHost::WriteEntry(newEntries, shown, raw, isDir, size, true);
        } else {
          context.out << shown << '\n';
        }
      });
    }
    context.out << std::flush;
    if (!quiet)
      context.Message(std::to_string(newCount) + (newCount == 1 ? " new entry" : " new entries"));
  }

  if (context.json) {
    JsonWriter json;
    json.BeginObject().Key("sites").BeginArray();
    for (const auto& site : sites) {
      const SiteStatus status = site->Status();
      json.BeginObject()
          .Key("key")
          .String(CliContext::Shown(site->siteKey()))
          .Key("status")
          .String(DecodeName(StatusText(status), NameCharset::kUtf8))
          .Key("outcome")
          .String(OutcomeName(status))
          .Key("updateState")
          .Number(static_cast<int>(status.state))
          .Key("hasNewEntries")
          .Bool(site->hasNewEntries.load())
          .Key("dirsListed")
          .Number(site->dirsListed.load())
          .Key("entriesListed")
          .Number(site->entriesListed.load())
          .Key("dirsNotEntered")
          .Number(status.counts.dirsNotEntered)
          .Key("listingsIncomplete")
          .Number(status.counts.listingsIncomplete)
          .Key("namesSkipped")
          .Number(status.counts.namesSkipped);
      {
        std::lock_guard guard(site->lock);
        json.Key("added")
            .Number(site->changes.lastAdded)
            .Key("removed")
            .Number(site->changes.lastRemoved)
            .Key("resized")
            .Number(site->changes.lastResized);
      }
      if (const std::string failure = site->SaveError(); !failure.empty()) {
        json.Key("saveError").String(failure);
      }
      if (status.failure == SiteStatus::Failure::kUntrusted) {
        json.Key("fingerprint").String(status.presented.fingerprint);
        if (!status.presented.pinned.empty()) {
          json.Key("pinnedFingerprint").String(status.presented.pinned);
        }
      }
      if (notKept.contains(site.get())) json.Key("catalogRepaired").Bool(false);
      if (thrownAway.contains(site.get())) json.Key("discarded").Bool(true);
      json.EndObject();
    }
    json.EndArray().Key("completed").Bool(!interrupted);
    if (listNew) json.Key("new").Raw(newEntries.EndArray().Text());
    context.out << json.EndObject().Text();
  }
  if (saveFailed || untrusted || (!sites.empty() && failed == sites.size())) return kExitFailed;
  return complete == sites.size() && !interrupted ? kExitSuccess : kExitPartial;
}

}  // namespace orvane
