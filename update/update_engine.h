// The update scheduler: a queue of site jobs, one dispatcher thread and up
// to maxWorkers worker threads, each updating one site (connect, crawl,
// save). Stop, automatic resumption after transient failures, and a close
// that breaks every blocked network call and waits for the workers.
//
// The engine talks to its front end only through IEngineListener, whose
// callbacks are made on engine threads: the front end queues them and
// handles them on its own thread (the window as queued Qt events, the CLI
// in its own loop). The engine holds a shared reference to every site that
// has a job, so a site deleted meanwhile stays valid for the worker; a site
// marked `removed` is neither saved nor resumed.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;

class IEngineListener {
 public:
  virtual ~IEngineListener() = default;
  // WM_SITE_STATUS: the site's updateState, statusText or hasNewEntries changed.
  virtual void PostSiteStatus(std::shared_ptr<CFTPSite> site) = 0;
  // WM_ENTRY_REMOVED: an update unlinked this entry; the front end drops its
  // references and then destroys it (on its own thread).
  virtual void PostEntryRemoved(std::unique_ptr<CFTPDir> dir) = 0;
  virtual void PostEntryRemoved(std::unique_ptr<CFTPFile> file) = 0;
};


}  // namespace orvane
