// Bringing one site's catalog up to date from its server.
//
// CrawlDirectory walks the server's tree depth-first from `dir`: it enters
// each directory, merges its listing into the stored directory (new entries
// marked new, vanished ones swept and handed to the removal sink), then
// descends into the subdirectories in list order. A stop request or a
// transient network failure breaks the crawl off and leaves a resume point
// in the site record, so the next crawl skips ahead to where this one ended.
//
// The crawler runs on the site's update worker thread, changes the catalog
// only under the site's lock (never across a network call) and never writes
// to disk.
#pragma once

#include <atomic>
#include <cstddef>

namespace orvane {

class CFtpSession;
class CFTPDir;
class CFTPSite;
class IRemovalSink;

struct CrawlLimits {
  // Deeper directories, or longer server paths, count as not entered: a
  // server whose directories loop must not keep the crawl going forever.
  std::size_t maxDepth = 512;
  std::size_t maxPathBytes = 4096;
};

// True: the subtree has been handled (including directories that could not
// be entered). False: broken off; the site's statusText and updateState say
// why. `stopRequested` is the engine's stop flag, only read here.
bool CrawlDirectory(CFtpSession& session, CFTPSite& site, CFTPDir& dir,
                    const std::atomic<bool>& stopRequested, IRemovalSink& removals,
                    const CrawlLimits& limits = {});

}  // namespace orvane
