#include "update/crawler.h"

#include <functional>
#include <memory>
#include <mutex>
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
#include "update/ftp_session.h"
#include "update/listing_parser.h"

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
  Crawler(CFtpSession& session, CFTPSite& site, const std::atomic<bool>& stopRequested,
          IRemovalSink& removals, const CrawlLimits& limits)
      : session_(session),
        site_(site),
        stop_(stopRequested),
        removals_(site, removals),
        limits_(limits) {}

  bool Crawl(CFTPDir& dir, std::size_t depth, const std::string& path);

 private:
  // What one listing left for the descent: the `unique` fact of each listed
  // directory (MLSD only; empty otherwise).
  using Uniques = std::unordered_map<std::string, std::string>;

  enum class ListOutcome { kDone, kNotEntered, kBrokenOff };

  bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
  bool ResumeWalk(CFTPDir& dir, std::size_t depth, const std::string& path);
  ListOutcome ListAndMerge(CFTPDir& dir, const std::string& path, Uniques& uniques);
  bool Descend(CFTPDir& dir, std::size_t depth, const std::string& path, const Uniques& uniques);
  std::vector<CFTPDir*> Children(const CFTPDir& dir) const;

  // Rule R: the directory where the crawl broke off becomes the resume
  // point, unless it is the root, which a fresh crawl lists anyway.
  void MarkResumePoint(CFTPDir& dir) {
    if (dir.parent == nullptr) return;
    site_.resumeDir = &dir;
    site_.resumePending.store(1);
  }
  bool Stopped(CFTPDir& dir) {
    MarkResumePoint(dir);
    site_.SetOutcome(SiteStatus::Outcome::kStopped, kUpdateStopped);
    return false;
  }
  bool BrokenOff(CFTPDir& dir, std::string_view errorText) {
    MarkResumePoint(dir);
    site_.SetOutcome(SiteStatus::Outcome::kBrokenOff, kUpdateStopped,
                     std::string(TruncateUtf8(errorText, kMaxErrorTextBytes)));
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

  CFtpSession& session_;
  CFTPSite& site_;
  const std::atomic<bool>& stop_;
  ResumeGuardSink removals_;
  CrawlLimits limits_;
  // `unique` facts of the directories on the way down from where the crawl
  // started: a directory that is one of its own ancestors (a server that
  // follows a link to "..") is recorded but not descended into.
  std::unordered_set<std::string> ancestorUniques_;
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

bool Crawler::Crawl(CFTPDir& dir, std::size_t depth, const std::string& path) {
  // Beyond the limits a directory is treated like one the server would not
  // let us enter: nothing is listed, its stored subtree stays. Checked first
  // so that such a directory can never become a resume point.
  if (depth > limits_.maxDepth || path.size() > limits_.maxPathBytes) return true;

  if (StopRequested()) return Stopped(dir);
  if (site_.resumePending.load() != 0) {
    // A crawl started at the resume point itself lists it at once.
    if (&dir != site_.resumeDir) return ResumeWalk(dir, depth, path);
    site_.resumePending.store(0);
  }

  Uniques uniques;
  switch (ListAndMerge(dir, path, uniques)) {
    case ListOutcome::kBrokenOff:
      return false;
    case ListOutcome::kNotEntered:
      return true;
    case ListOutcome::kDone:
      break;
  }
  return Descend(dir, depth, path, uniques);
}

bool Crawler::ResumeWalk(CFTPDir& dir, std::size_t depth, const std::string& path) {
  // Everything up to the resume point was listed by the attempt that broke
  // off; nothing here touches the network.
  for (CFTPDir* child : Children(dir)) {
    if (StopRequested()) return Stopped(dir);
    if (child == site_.resumeDir) site_.resumePending.store(0);
    if (!Crawl(*child, depth + 1, ChildPath(path, child->name()))) return false;
  }
  return true;
}

Crawler::ListOutcome Crawler::ListAndMerge(CFTPDir& dir, const std::string& path,
                                           Uniques& uniques) {
  if (StopRequested()) {
    Stopped(dir);
    return ListOutcome::kBrokenOff;
  }

  CListingMerge merge(dir);
  bool stoppedInListing = false;
  const auto onEntries = [&](std::span<const ListingEntry> entries) {
    std::lock_guard<std::mutex> guard(site_.lock);
    for (const ListingEntry& entry : entries) {
      // The stop flag is read before every entry; what was merged so far
      // keeps `seen` set and survives the next sweep of this directory.
      if (StopRequested()) {
        stoppedInListing = true;
        return false;
      }
      if (IsUnusableName(entry.name)) continue;
      // Links are files whatever the server says they point to, so a link
      // to ".." can never lead the crawl in a circle.
      const bool isDirectory = entry.isDirectory && !entry.isLink;
      merge.Add(entry.name, isDirectory, entry.size);
      if (isDirectory && !entry.unique.empty()) uniques.try_emplace(entry.name, entry.unique);
    }
    return true;
  };
  const FtpResult result = session_.ListDirectory(path, onEntries);

  // A listing we abandoned, or one cut short by the session being closed
  // (program exit), says nothing about the server's tree: no sweep.
  if (stoppedInListing || result.outcome == FtpOutcome::kCancelled ||
      (result.outcome != FtpOutcome::kOk && StopRequested())) {
    Stopped(dir);
    return ListOutcome::kBrokenOff;
  }
  if (result.outcome == FtpOutcome::kTransient) {
    BrokenOff(dir, result.errorText);
    return ListOutcome::kBrokenOff;
  }
  if (!result.entered) return ListOutcome::kNotEntered;
  // A complete listing, or a refused one, which empties the directory.
  std::lock_guard<std::mutex> guard(site_.lock);
  merge.Sweep(removals_);
  return ListOutcome::kDone;
}

bool Crawler::Descend(CFTPDir& dir, std::size_t depth, const std::string& path,
                      const Uniques& uniques) {
  // Directories added by this listing sit at the tail, so they are visited
  // after the known ones.
  for (CFTPDir* child : Children(dir)) {
    if (StopRequested()) return Stopped(dir);
    const std::string* unique = nullptr;
    if (!uniques.empty()) {
      auto found = uniques.find(std::string(child->name()));
      if (found != uniques.end()) unique = &found->second;
    }
    if (unique != nullptr && !ancestorUniques_.insert(*unique).second) continue;
    const bool handled = Crawl(*child, depth + 1, ChildPath(path, child->name()));
    if (unique != nullptr) ancestorUniques_.erase(*unique);
    if (!handled) return false;
  }
  return true;
}

}  // namespace

bool CrawlDirectory(CFtpSession& session, CFTPSite& site, CFTPDir& dir,
                    const std::atomic<bool>& stopRequested, IRemovalSink& removals,
                    const CrawlLimits& limits) {
  if (site.resumePending.load() != 0) {
    // The resume point is compared by identity only; if it is not in this
    // subtree the walk would never reach it and would list nothing at all.
    std::lock_guard<std::mutex> guard(site.lock);
    if (site.resumeDir == nullptr || !dir.Contains(site.resumeDir)) {
      site.resumePending.store(0);
      site.resumeDir = nullptr;
    }
  }
  Crawler crawler(session, site, stopRequested, removals, limits);
  return crawler.Crawl(dir, dir.Depth(), dir.GetPath());
}

}  // namespace orvane
