// One update job: which site to update and where its crawl starts.
//
// Made by an update command or by a worker that schedules a resumption.
// Owned by the update queue until the dispatcher hands it to a worker, then
// by that worker; a job still queued when updates are stopped is destroyed
// by the dispatcher. The job keeps its site alive (shared ownership), so a
// site deleted while the job waits or runs is never freed under the worker.
//
// `startDir` is a directory of `site`'s catalog or null for the root.
// Directories are only ever removed by the site's own update, and a site has
// at most one job at a time, so the pointer stays valid while the job
// exists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orvane {

class CFTPDir;
class CFTPSite;

class CThreadData {
 public:
  std::shared_ptr<CFTPSite> site;
  // Where the crawl starts; null means the site's rootDir.
  CFTPDir* startDir = nullptr;
  // 1 when startDir lies below the root: the update covers part of the
  // site, and its health record says so (a resumption keeps it).
  int partial = 0;
  // A resumption of an update that broke off: it continues that update's
  // journal record instead of starting one.
  bool resumed = false;
  // Server path of the start directory; copied into a resumption job.
  std::string startPath = "/";
  // When the update's first worker began (wall clock, ms since the epoch);
  // a resumption keeps it, so the update's duration covers every attempt.
  std::int64_t startedMs = 0;
};

}  // namespace orvane
