#include "update/crawler.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "update/crawl_trace.h"
#include "update/listing_session.h"
#include "update/listing_parser.h"
#include "update/listing_prefetch.h"
#include "update/recursive_listing.h"

namespace orvane {

namespace {

// A name that cannot stand for one entry of the directory. The parser drops
// these already; the check stays because a name that reaches the catalog is
// later joined into paths and sent back to the server, where "/" would name
// another directory and CR/LF would start a new FTP command.
bool IsUnusableName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return true;
  for (char c : name) {
    if (c == '/' || c == '\0' || c == '\r' || c == '\n') return true;
  }
  return false;
}

// New entries are stored in byte order of their names, after the entries
// stored before. Servers list a directory in an order of their own, which
// differs between their listing commands (pure-ftpd sorts LIST but not
// MLSD), and the catalog must not depend on which one gave the listing.
void SortNewEntries(CFTPDir& dir, std::size_t oldFiles, std::size_t oldDirs) {
  const auto byName = [](const auto& a, const auto& b) { return a->name() < b->name(); };
  if (dir.files.size() > oldFiles) {
    std::stable_sort(dir.files.begin() + static_cast<std::ptrdiff_t>(oldFiles), dir.files.end(),
                     byName);
  }
  if (dir.subdirs.size() > oldDirs) {
    std::stable_sort(dir.subdirs.begin() + static_cast<std::ptrdiff_t>(oldDirs), dir.subdirs.end(),
                     byName);
  }
}

// Forwards removals and drops the site's resume point when it goes with a
// removed subtree: a resume point that no longer exists would make the next
// attempt walk the whole tree without ever listing anything.
class ResumeGuardSink final : public IRemovalSink {
 public:
  ResumeGuardSink(CFTPSite& site, IRemovalSink& next) : site_(site), next_(next) {}

  void FileRemoved(std::unique_ptr<CFTPFile> file) override { next_.FileRemoved(std::move(file)); }

  void DirRemoved(std::unique_ptr<CFTPDir> dir) override {
    if (site_.resumeDir != nullptr && dir->Contains(site_.resumeDir)) {
      site_.resumePending.store(0);
      site_.resumeDir = nullptr;
    }
    next_.DirRemoved(std::move(dir));
  }

 private:
  CFTPSite& site_;
  IRemovalSink& next_;
};

class Crawler {
 public:
  Crawler(CListingSession& session, CFTPSite& site, const std::atomic<bool>& stopRequested,
          IRemovalSink& removals, const CrawlLimits& limits, CListingPrefetcher* ahead,
          bool recursive)
      : session_(session),
        ahead_(ahead),
        site_(site),
        stop_(stopRequested),
        removals_(site, removals),
        limits_(limits),
        // A resumption continues the update that broke off, so it adds to
        // what that one counted; any other crawl lists its whole subtree
        // afresh and starts from zero.
        counts_(site.resumePending.load() != 0 ? site.GetCrawlCounts() : CrawlCounts{}),
        recursion_(recursive ? Recursion::kUntried : Recursion::kOff),
        resumedAt_(site.resumePending.load() != 0 ? site.resumeDir : nullptr),
        trace_(CCrawlTrace::FromEnvironment()) {
    if (ahead_ != nullptr) {
      ahead_->SetBounds(limits.maxDepth, limits.maxPathBytes, limits.maxListingEntries);
      if (trace_) ahead_->SetTrace(trace_);
    }
    site_.SetCrawlCounts(counts_);
    if (site.resumePending.load() == 0) {
      site_.dirsListed.store(0, std::memory_order_relaxed);
      site_.entriesListed.store(0, std::memory_order_relaxed);
    }
  }

  // `unique` is the directory's own `unique` fact when its parent's listing
  // gave it (nullptr otherwise: it is then asked for by MLST).
  bool Crawl(CFTPDir& dir, std::size_t depth, const std::string& path,
             const std::string* unique = nullptr);
  // Puts the `unique` facts of the directories above the start directory
  // into the ancestor set: a link in the subtree to one of them would
  // otherwise be crawled as a copy of it.
  void LearnAncestorsAbove(const CFTPDir& dir);

 private:
  // What one listing left for the descent: the `unique` fact of each listed
  // directory (MLSD only; empty otherwise).
  using Uniques = std::unordered_map<std::string, std::string>;

  enum class ListOutcome { kDone, kNotEntered, kBrokenOff };
  // Whether this server lists a subtree in one reply: not known until the
  // first try, then decided for the rest of the crawl.
  enum class Recursion { kUntried, kWorks, kOff };

  bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
  // Adds to one of the counts of what this update could not fetch, e.g.
  // Count(&CrawlCounts::listingsIncomplete). The site record is kept up to
  // date as the crawl goes, so a crawl broken off still reports them.
  void Count(std::uint32_t CrawlCounts::*what, std::size_t n = 1) {
    if (n == 0) return;
    const std::uint64_t sum = std::uint64_t{counts_.*what} + n;
    counts_.*what = sum > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(sum);
    site_.SetCrawlCounts(counts_);
  }
  bool ResumeWalk(CFTPDir& dir, std::size_t depth, const std::string& path);
  // `fromSection` tells whether the listing came out of a recursive one,
  // which gives no `unique` facts.
  ListOutcome ListAndMerge(CFTPDir& dir, const std::string& path, Uniques& uniques,
                           bool& fromSection);
  // The directory's listing from a recursive listing, if one covers it.
  std::optional<std::vector<ListingEntry>> TakeSection(const std::string& path);
  // Whether the walk, about to list `path`, should ask for its whole
  // subtree in one listing instead.
  bool WantsRecursive(const std::string& path) const;
  // Lists `path`'s subtree in one reply and keeps what can be trusted of
  // it. False: stopped meanwhile (the stop is recorded at `dir`).
  bool FetchRecursive(CFTPDir& dir, const std::string& path);
  // The `unique` fact of `path` by MLST; empty when the server gives none.
  std::string AskUnique(const std::string& path);

  // Keeps one directory's `unique` fact in the ancestor set while the crawl
  // is below it. An empty value, or one already there, is not added.
  class AncestorScope {
   public:
    AncestorScope(std::unordered_set<std::string>& set, const std::string& unique)
        : set_(set), added_(!unique.empty() && set.insert(unique).second), unique_(unique) {}
    ~AncestorScope() {
      if (added_) set_.erase(unique_);
    }
    AncestorScope(const AncestorScope&) = delete;
    AncestorScope& operator=(const AncestorScope&) = delete;

   private:
    std::unordered_set<std::string>& set_;
    bool added_;
    std::string unique_;
  };
  bool Descend(CFTPDir& dir, std::size_t depth, const std::string& path, const Uniques& uniques,
               bool fromSection);
  std::vector<CFTPDir*> Children(const CFTPDir& dir) const;

  // Rule R: the directory where the crawl broke off becomes the resume
  // point, the root too: a resumption lists it first either way, and a
  // root that fails again while the server answers is given up like any
  // other directory instead of costing every resumption.
  void MarkResumePoint(CFTPDir& dir) {
    site_.resumeDir = &dir;
    site_.resumePending.store(1);
  }
  bool Stopped(CFTPDir& dir) {
    MarkResumePoint(dir);
    site_.SetOutcome(SiteStatus::Outcome::kStopped, kUpdateStopped);
    return false;
  }
  bool BrokenOff(CFTPDir& dir, const FtpResult& result) {
    MarkResumePoint(dir);
    site_.SetOutcome(SiteStatus::Outcome::kBrokenOff, kUpdateStopped,
                     std::string(TruncateUtf8(result.errorText, kMaxErrorTextBytes)),
                     FailureOf(result));
    return false;
  }

  static std::string ChildPath(const std::string& parent, std::string_view name) {
    std::string path;
    path.reserve(parent.size() + 1 + name.size());
    path.append(parent);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
  }

  CListingSession& session_;
  CListingPrefetcher* ahead_;
  CFTPSite& site_;
  const std::atomic<bool>& stop_;
  ResumeGuardSink removals_;
  CrawlLimits limits_;
  // `unique` facts of the directories on the way down from the root to the
  // directory being crawled: a directory that is one of its own ancestors (a
  // server that follows a link to "..") is recorded but not descended into.
  std::unordered_set<std::string> ancestorUniques_;
  // Cleared when the server answers MLST without a `unique` fact.
  bool askUniques_ = true;
  // The update has taken as many entries as it may: nothing more is listed.
  bool updateFull_ = false;
  CrawlCounts counts_;
  Recursion recursion_;
  // Listings taken out of recursive listings, until the walk reaches their
  // directories, and the directories those left to listings of their own.
  std::unordered_map<std::string, std::vector<ListingEntry>> sections_;
  std::unordered_set<std::string> doubtful_;
  // The directory whose failure broke off the attempt this crawl resumes,
  // until its first transient failure in this crawl.
  const CFTPDir* resumedAt_;
  // Shared with `ahead_`, whose connections may outlive this crawl.
  std::shared_ptr<CCrawlTrace> trace_;
};

std::vector<CFTPDir*> Crawler::Children(const CFTPDir& dir) const {
  // Only this worker changes the lists, but the window thread reads them, so
  // they are copied under the lock; the pointers stay valid because only a
  // sweep of `dir` itself could remove them.
  std::lock_guard<std::mutex> guard(site_.lock);
  std::vector<CFTPDir*> children;
  children.reserve(dir.subdirs.size());
  for (const auto& sub : dir.subdirs) children.push_back(sub.get());
  return children;
}

std::string Crawler::AskUnique(const std::string& path) {
  if (!askUniques_ || !session_.usesMlsd() || StopRequested()) return {};
  std::string facts;
  {
    CTraceSpan span(trace_.get(), 0, "facts", path);
    session_.PathFacts(path, facts);
  }
  // A failure here shows again in the next listing, which handles it.
  std::string unique(MlsdFact(facts, "unique"));
  if (unique.empty()) askUniques_ = false;
  return unique;
}

void Crawler::LearnAncestorsAbove(const CFTPDir& dir) {
  if (!session_.usesMlsd()) return;
  std::vector<const CFTPDir*> above;
  for (const CFTPDir* up = dir.parent; up != nullptr; up = up->parent) above.push_back(up);
  for (const CFTPDir* up : above) {
    std::string unique = AskUnique(up->GetPath());
    if (ahead_ != nullptr) ahead_->Known(up->GetPath(), unique);
    if (!unique.empty()) ancestorUniques_.insert(std::move(unique));
  }
}

bool Crawler::Crawl(CFTPDir& dir, std::size_t depth, const std::string& path,
                    const std::string* unique) {
  // Beyond the limits a directory is treated like one the server would not
  // let us enter: nothing is listed, its stored subtree stays. Checked first
  // so that such a directory can never become a resume point.
  if (depth > limits_.maxDepth || path.size() > limits_.maxPathBytes || updateFull_) {
    Count(&CrawlCounts::dirsNotEntered);
    return true;
  }

  if (StopRequested()) return Stopped(dir);
  if (site_.resumePending.load() != 0) {
    // A crawl started at the resume point itself lists it at once.
    if (&dir != site_.resumeDir) return ResumeWalk(dir, depth, path);
    site_.resumePending.store(0);
  }
  // A directory whose parent was not listed in this crawl (the start
  // directory, or one beside the way down to a resume point) is asked for
  // its `unique` fact: it may be a link to one of its ancestors.
  std::string asked;
  if (unique == nullptr) {
    asked = AskUnique(path);
    if (!asked.empty() && ancestorUniques_.contains(asked)) return true;
    if (ahead_ != nullptr) ahead_->Known(path, asked);
    unique = &asked;
  }
  AncestorScope self(ancestorUniques_, *unique);

  Uniques uniques;
  bool fromSection = false;
  switch (ListAndMerge(dir, path, uniques, fromSection)) {
    case ListOutcome::kBrokenOff:
      return false;
    case ListOutcome::kNotEntered:
      return true;
    case ListOutcome::kDone:
      break;
  }
  return Descend(dir, depth, path, uniques, fromSection);
}

bool Crawler::ResumeWalk(CFTPDir& dir, std::size_t depth, const std::string& path) {
  // Everything up to the resume point was listed by the attempt that broke
  // off; nothing here lists anything. The directories on the way down to it
  // are ancestors of what is crawled from there on, so their `unique` facts
  // are asked for (one MLST each).
  bool onTheWay;
  {
    std::lock_guard<std::mutex> guard(site_.lock);
    onTheWay = dir.Contains(site_.resumeDir);
  }
  AncestorScope self(ancestorUniques_, onTheWay ? AskUnique(path) : std::string());
  for (CFTPDir* child : Children(dir)) {
    if (StopRequested()) return Stopped(dir);
    if (child == site_.resumeDir) site_.resumePending.store(0);
    if (!Crawl(*child, depth + 1, ChildPath(path, child->name()))) return false;
  }
  return true;
}

std::optional<std::vector<ListingEntry>> Crawler::TakeSection(const std::string& path) {
  auto found = sections_.find(path);
  if (found == sections_.end()) return std::nullopt;
  std::vector<ListingEntry> entries = std::move(found->second);
  sections_.erase(found);
  return entries;
}

bool Crawler::WantsRecursive(const std::string& path) const {
  // The first listing of the crawl asks, and nearly always decides; once
  // the server has shown that it lists recursively, every directory that
  // no earlier reply covered (one cut short, say) asks for its own subtree.
  return recursion_ != Recursion::kOff && !doubtful_.contains(path) && RecursiveListingCovers(path);
}

bool Crawler::FetchRecursive(CFTPDir& dir, const std::string& path) {
  // Bounds what is held until the walk takes it, as for listings ahead.
  constexpr std::size_t kMaxBytes = CListingPrefetcher::kMaxBufferedBytes;
  CRecursiveListing listing(path);
  bool stopped = false;
  bool full = false;
  // "-a": servers that hide dot files in LIST show them in MLSD, and the
  // catalog must be the one MLSD would give.
  CTraceSpan span(trace_.get(), 0, "listR", path);
  const FtpResult result = session_.ListRaw(
      path, session_.usesMlsd() ? "LIST -aR" : "LIST -R", [&](std::string_view data) {
        if (StopRequested()) {
          stopped = true;
          return false;
        }
        if (listing.bytes() + data.size() > kMaxBytes) {
          full = true;
          return false;
        }
        listing.Feed(data);
        if (ahead_ != nullptr) {
          // Listed on the other connections while the reply still comes.
          std::vector<std::string> uncovered = listing.TakeUncovered();
          if (!uncovered.empty()) ahead_->Offer(uncovered);
        }
        return true;
      });
  if (stopped || (result.outcome == FtpOutcome::kCancelled && !full) || StopRequested()) {
    Stopped(dir);
    return false;
  }
  const bool proven = recursion_ == Recursion::kWorks;
  const bool complete = result.ok() && !full;
  listing.Finish(complete);
  // A refusal, or a reply that does not read as a recursive listing (a
  // server that ignores the option lists only the directory), ends the
  // tries. A reply cut short that has shown recursion goes on being used
  // for what it holds; a failure of the connection shows again in the
  // listing that follows, which handles it.
  bool usable = false;
  if (listing.ambiguous() || result.outcome == FtpOutcome::kTransient ||
      (result.outcome == FtpOutcome::kRefused && !proven)) {
    recursion_ = Recursion::kOff;
  } else if (result.outcome == FtpOutcome::kRefused) {
    // A directory refused to a server that lists recursively elsewhere:
    // its own listing tells what it is.
  } else if (listing.showsRecursion()) {
    recursion_ = Recursion::kWorks;
    usable = true;
  } else if (listing.baseHasSubdirectories() || !complete) {
    // No section for a subdirectory: the option was ignored, or nothing
    // came that could tell.
    if (!proven || listing.baseHasSubdirectories()) recursion_ = Recursion::kOff;
    usable = proven && !listing.baseHasSubdirectories();
  } else {
    // A directory without subdirectories: its listing stands only when
    // the server has shown before that it reads the option.
    usable = proven;
  }
  if (usable) {
    listing.TakeResults(sections_, doubtful_);
  }
  // Whatever the reply did not cover, this directory included, is listed
  // on its own from here.
  if (!sections_.contains(path)) doubtful_.insert(path);
  if (ahead_ != nullptr && usable) {
    // The directories the reply covers are never listed ahead; those it
    // left to listings of their own are, all at once and in parallel,
    // instead of one by one as the walk reaches them.
    std::vector<std::string> covered;
    covered.reserve(sections_.size());
    for (const auto& [sectionPath, entries] : sections_) covered.push_back(sectionPath);
    ahead_->Exclude(covered);
    std::vector<std::string> left;
    for (const std::string& doubtful : doubtful_) {
      if (doubtful != path && doubtful.size() <= limits_.maxPathBytes) left.push_back(doubtful);
    }
    ahead_->Offer(left);
  }
  return true;
}

Crawler::ListOutcome Crawler::ListAndMerge(CFTPDir& dir, const std::string& path, Uniques& uniques,
                                           bool& fromSection) {
  if (StopRequested()) {
    Stopped(dir);
    return ListOutcome::kBrokenOff;
  }
  std::optional<std::vector<ListingEntry>> section = TakeSection(path);
  std::optional<PrefetchedListing> fetched;
  if (!section && ahead_ != nullptr) {
    // A listing the other connections fetched (or are fetching) comes
    // before a recursive listing of this directory: it is one already.
    // While one is under way elsewhere this connection lists ahead too.
    fetched = ahead_->Take(path, &session_);
    // The wait for a listing under way ends early on a stop.
    if (StopRequested()) {
      Stopped(dir);
      return ListOutcome::kBrokenOff;
    }
    // Another connection that chose another listing command would give
    // other facts; the directory is listed here instead.
    if (fetched && fetched->usesMlsd != session_.usesMlsd()) fetched.reset();
  }
  if (!section && !fetched && WantsRecursive(path)) {
    if (!FetchRecursive(dir, path)) return ListOutcome::kBrokenOff;
    section = TakeSection(path);
  }
  fromSection = section.has_value();

  std::size_t oldFiles;
  std::size_t oldDirs;
  {
    std::lock_guard<std::mutex> guard(site_.lock);
    oldFiles = dir.files.size();
    oldDirs = dir.subdirs.size();
  }
  CListingMerge merge(dir);
  bool stoppedInListing = false;
  bool overBound = false;
  std::uint64_t listed = 0;
  const auto onEntries = [&](std::span<const ListingEntry> entries) {
    std::lock_guard<std::mutex> guard(site_.lock);
    std::size_t taken = 0;
    const auto account = [&] {
      site_.entriesListed.fetch_add(taken, std::memory_order_relaxed);
      listed += taken;
    };
    for (const ListingEntry& entry : entries) {
      // The stop flag is read before every entry; what was merged so far
      // keeps `seen` set and survives the next sweep of this directory.
      if (StopRequested()) {
        stoppedInListing = true;
        account();
        return false;
      }
      if (listed + taken >= limits_.maxListingEntries ||
          site_.entriesListed.load(std::memory_order_relaxed) + taken >=
              limits_.maxUpdateEntries) {
        overBound = true;
        account();
        return false;
      }
      ++taken;
      if (IsUnusableName(entry.name)) continue;
      // Links are files whatever the server says they point to, so a link
      // to ".." can never lead the crawl in a circle.
      const bool isDirectory = entry.isDirectory && !entry.isLink;
      merge.Add(entry.name, isDirectory, entry.size);
      if (isDirectory && !entry.unique.empty()) uniques.try_emplace(entry.name, entry.unique);
    }
    account();
    return true;
  };
  if (section) {
    // Merged exactly as a listing of the directory alone.
    fetched.emplace();
    fetched->entries = std::move(*section);
    fetched->usesMlsd = session_.usesMlsd();
    fetched->result.entered = true;
  }
  FtpResult result;
  std::size_t skipped = 0;
  SkippedNames skippedNames;
  if (fetched) {
    // Merged exactly as if it had come in on this session.
    if (!fetched->entries.empty()) {
      onEntries(std::span<const ListingEntry>(fetched->entries));
    }
    result = std::move(fetched->result);
    skipped = fetched->skippedLines;
    skippedNames = std::move(fetched->skippedNames);
  } else {
    CTraceSpan span(trace_.get(), 0, "list", path);
    result = session_.ListDirectory(path, onEntries);
    skipped = session_.skippedLines();
    skippedNames = session_.skippedNames();
  }
  Count(&CrawlCounts::namesSkipped, skipped);
  site_.dirsListed.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> guard(site_.lock);
    SortNewEntries(dir, oldFiles, oldDirs);
  }

  if (overBound && !stoppedInListing && !StopRequested()) {
    // Cut at a bound: what came is merged, nothing stored goes. Beyond the
    // update's bound nothing more is listed.
    if (site_.entriesListed.load(std::memory_order_relaxed) >= limits_.maxUpdateEntries) {
      updateFull_ = true;
    }
    Count(&CrawlCounts::listingsIncomplete);
    std::lock_guard<std::mutex> guard(site_.lock);
    merge.Keep();
    return ListOutcome::kDone;
  }
  // A listing we abandoned, or one cut short by the session being closed
  // (program exit), says nothing about the server's tree: no sweep.
  if (stoppedInListing || result.outcome == FtpOutcome::kCancelled ||
      (result.outcome != FtpOutcome::kOk && StopRequested())) {
    Stopped(dir);
    return ListOutcome::kBrokenOff;
  }
  if (result.outcome == FtpOutcome::kTransient) {
    // A directory that fails again on the retry is given up for this
    // update while the server still answers: counted, kept as stored, and
    // the crawl goes on. Only a server that has stopped answering breaks
    // the crawl off once more.
    const bool again = &dir == resumedAt_;
    resumedAt_ = nullptr;
    if (!again || !session_.Probe().ok()) {
      if (StopRequested()) {
        Stopped(dir);
      } else {
        BrokenOff(dir, result);
      }
      return ListOutcome::kBrokenOff;
    }
    Count(result.entered ? &CrawlCounts::listingsIncomplete : &CrawlCounts::dirsNotEntered);
    std::lock_guard<std::mutex> guard(site_.lock);
    merge.Keep();
    return ListOutcome::kNotEntered;
  }
  if (result.outcome == FtpOutcome::kIncomplete) {
    // Cut short or refused for now: what came is merged, nothing stored
    // goes, and the subdirectories are still visited when the directory
    // was entered.
    Count(&CrawlCounts::listingsIncomplete);
    std::lock_guard<std::mutex> guard(site_.lock);
    merge.Keep();
    return result.entered ? ListOutcome::kDone : ListOutcome::kNotEntered;
  }
  if (!result.entered) {
    Count(&CrawlCounts::dirsNotEntered);
    return ListOutcome::kNotEntered;
  }
  std::lock_guard<std::mutex> guard(site_.lock);
  if (skipped > 0 && (skippedNames.any || (!skippedNames.lineBreak && skippedNames.names.empty()))) {
    // A line whose name is not known may have been any stored entry.
    merge.Keep();
  } else if (skipped > 0) {
    // Lines whose names could be read but not taken: only the stored
    // entries they could stand for stay; the rest of what the listing did
    // not name is gone.
    merge.Sweep(removals_, [&](std::string_view name) { return skippedNames.CouldBe(name); });
  } else {
    // A complete listing, or a refused one, which empties the directory.
    merge.Sweep(removals_);
  }
  return ListOutcome::kDone;
}

bool Crawler::Descend(CFTPDir& dir, std::size_t depth, const std::string& path,
                      const Uniques& uniques, bool fromSection) {
  // A recursive listing gives no `unique` facts, nor is there a way round
  // the server's own: it showed every subdirectory as a directory of its
  // own, not as a link, so none is asked for.
  static const std::string kNoUnique;
  // Directories added by this listing sit at the tail, so they are visited
  // after the known ones.
  const std::vector<CFTPDir*> children = Children(dir);
  if (ahead_ != nullptr && depth + 1 <= limits_.maxDepth) {
    // Those that will be listed, in the order they will be.
    std::vector<std::string> paths;
    paths.reserve(children.size());
    for (CFTPDir* child : children) {
      std::string childPath = ChildPath(path, child->name());
      if (!uniques.empty()) {
        auto found = uniques.find(std::string(child->name()));
        if (found != uniques.end()) {
          if (ancestorUniques_.contains(found->second)) continue;
          ahead_->Known(childPath, found->second);
        }
      }
      // Directories a recursive listing covers, or that the walk will ask
      // for their own subtree, are not listed ahead.
      if (sections_.contains(childPath) ||
          (recursion_ == Recursion::kWorks && WantsRecursive(childPath)))
        continue;
      if (childPath.size() <= limits_.maxPathBytes) paths.push_back(std::move(childPath));
    }
    ahead_->Offer(paths);
  }
  for (CFTPDir* child : children) {
    if (StopRequested()) return Stopped(dir);
    const std::string* unique = fromSection ? &kNoUnique : nullptr;
    if (!uniques.empty()) {
      auto found = uniques.find(std::string(child->name()));
      if (found != uniques.end()) unique = &found->second;
    }
    // A directory that is one of its own ancestors: its subtree is there
    // already, on the way down to it.
    if (unique != nullptr && ancestorUniques_.contains(*unique)) continue;
    if (!Crawl(*child, depth + 1, ChildPath(path, child->name()), unique)) return false;
  }
  return true;
}

}  // namespace

bool CrawlDirectory(CListingSession& session, CFTPSite& site, CFTPDir& dir,
                    const std::atomic<bool>& stopRequested, IRemovalSink& removals,
                    const CrawlLimits& limits, CListingPrefetcher* ahead, bool recursive) {
  recursive = recursive && session.offersRecursiveListing();
  if (site.resumePending.load() != 0) {
    // The resume point is compared by identity only; if it is not in this
    // subtree the walk would never reach it and would list nothing at all.
    std::lock_guard<std::mutex> guard(site.lock);
    if (site.resumeDir == nullptr || !dir.Contains(site.resumeDir)) {
      site.resumePending.store(0);
      site.resumeDir = nullptr;
    }
  }
  if (ahead != nullptr) {
    // Without a recursive listing every directory below this one is listed
    // on its own, so the extra connections will be needed when there is
    // one (a new site's root may have any); a recursive reply leaves them
    // the directories it cannot stand for, as it comes. Either way their
    // logins overlap the first listing instead of following it.
    std::lock_guard<std::mutex> guard(site.lock);
    if (dir.parent == nullptr || !dir.subdirs.empty()) ahead->LogInNow();
  }
  Crawler crawler(session, site, stopRequested, removals, limits, ahead, recursive);
  crawler.LearnAncestorsAbove(dir);
  return crawler.Crawl(dir, dir.Depth(), dir.GetPath());
}

}  // namespace orvane
