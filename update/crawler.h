// Bringing one site's catalog up to date from its server.
//
// CrawlDirectory walks the server's tree depth-first from `dir`: it enters
// each directory, merges its listing into the stored directory (new entries
// marked new and stored after the known ones in byte order of their names,
// whatever order the server listed them in; vanished ones swept and handed
// to the removal sink), then
// descends into the subdirectories in list order. A stop request or a
// transient network failure breaks the crawl off and leaves a resume point
// in the site record, so the next crawl skips ahead to where this one ended.
//
// Outcomes:
// - true: the subtree has been handled. Directories the server would not let
//   us enter, and directories beyond the limits below, keep their stored
//   subtree untouched and count as handled.
// - false: broken off. The site's outcome is kStopped (the stop flag was
//   seen) or kBrokenOff with the session's error text (a transient failure:
//   time-out, reset, dropped connection), and updateState is
//   kUpdateStopped. The directory where it happened (the root too) becomes
//   the site's resume point (resumeDir, resumePending 1).
//
// With resumePending set the crawl walks the stored tree without listing
// anything until it reaches resumeDir, clears the flag there and crawls
// normally from that directory on. When resumeDir fails once more with a
// transient error and the server still answers (NOOP), the directory is
// given up for this update instead: counted (listingsIncomplete, or
// dirsNotEntered when it was not entered), its stored subtree kept, and the
// crawl goes on with the rest; the next update tries it again. So one bad
// directory costs one resumption, not the rest of the site. A resume point that is not inside
// `dir`'s subtree, or that a sweep removed, is dropped and the crawl starts afresh.
//
// A refused listing (5xx) counts as an empty directory: its stored entries
// are swept. A listing that did not end complete (the server said it cut
// it short, 426, or a 4xx to the listing or its CWD: kIncomplete) merges
// what came and sweeps nothing; it is counted in listingsIncomplete. A listing cut short by the
// session being closed from another thread (program exit), or one that failed after the stop flag
// was set, ends like a stop and is never swept: it says nothing about the server's tree.
//
// What could not be fetched is counted in the site record (CrawlCounts) as
// the crawl goes: directories not entered (also those beyond the limits),
// listings that ended incomplete, and listing lines that could not be read.
// A listing with such lines merges what it could read; when the lines' names
// are known (a name holding "/" or NUL, or parts of a name that held a line
// break) it sweeps every stored entry but those such a name could stand for,
// and when a line's name is not known (a line too long to read) it sweeps
// nothing. A
// resumption (resumePending set) adds to the counts of the update it
// continues; any other crawl starts them from zero.
//
// Loops: with MLSD `unique` facts, a directory whose unique value equals one
// of its ancestors' (a server that follows a link to "..") is recorded but
// not entered; symbolic links are always files. The ancestors reach up to
// the root: the `unique` facts of the directories above the start directory,
// of the start directory itself and of those on the way down to a resume
// point are asked for with MLST (one command each), as no listing in this
// crawl gave them.
//
// Preconditions: `dir` belongs to `site`'s catalog; `session` is connected
// and logged in; no other thread changes this catalog. Runs on the site's
// update worker thread, changes the catalog only under `site.lock` (never
// held across a network call), hands removed entries to `removals` while
// holding that lock, and never writes to disk. Recursion is bounded by
// `limits.maxDepth`.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvane {

class CListingSession;
class CListingPrefetcher;
class CFTPDir;
class CFTPSite;
class IRemovalSink;

// Status texts the crawler leaves in the site record (UTF-8).
inline constexpr std::string_view kStatusStopped = "更新终止！";
// Followed by the error text, at most kMaxErrorTextBytes of it.
inline constexpr std::string_view kStatusBrokenOff = "更新意外终止:\n";
inline constexpr std::size_t kMaxErrorTextBytes = 255;

struct CrawlLimits {
  // Deeper directories, or longer server paths, count as not entered: a
  // server whose directories loop must not keep the crawl going forever.
  // Depth counts from the root (the root is 0).
  std::size_t maxDepth = 512;
  std::size_t maxPathBytes = 4096;
  // Entries one listing, and one site's update (resumptions included), may
  // take. A listing that goes beyond either is cut there: what came is
  // merged, nothing stored goes, and it counts as incomplete; beyond the
  // update's bound the directories not yet crawled count as not entered
  // and keep their stored subtrees. A server whose listing never ends
  // costs one listing's bound, not the client's memory.
  std::uint64_t maxListingEntries = 5'000'000;
  std::uint64_t maxUpdateEntries = 50'000'000;
};

// True: the subtree has been handled (including directories that could not
// be entered). False: broken off; the site's status says
// why. `stopRequested` is the engine's stop flag, only read here.
//
// With `ahead` (extra connections to the same server), the subdirectories
// of each listed directory are offered to it, and a directory's listing is
// taken from it when it has one; everything else, the merge included, is
// done here in the same order as without it. A listing taken from `ahead`
// stands for one from `session`; the directories `ahead` could not list
// are listed on `session`.
//
// With `recursive`, the first directory listed is asked for its whole
// subtree in one reply ("LIST -R", see update/recursive_listing.h). When
// the server gives one, every directory it covers takes its listing from
// there, in the same walk, merged as if listed on its own; directories it
// left out or that it showed in doubt are listed one by one, and a
// directory that no reply covered (the server cut the reply short) asks
// for its own subtree. A server that refuses the option or ignores it is
// not asked again in this crawl. A recursive reply costs one listing's
// round trips: a stop during it leaves the resume point at the directory
// that asked, as a stop during that directory's own listing would.
bool CrawlDirectory(CListingSession& session, CFTPSite& site, CFTPDir& dir,
                    const std::atomic<bool>& stopRequested, IRemovalSink& removals,
                    const CrawlLimits& limits = {}, CListingPrefetcher* ahead = nullptr,
                    bool recursive = false);

}  // namespace orvane
