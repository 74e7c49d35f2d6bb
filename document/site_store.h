// The one owner of the sites' files for a front end whose thread must not
// wait: the window's.
//
// Reading a catalog takes as long as its size (seconds for millions of
// entries), and a save waits for the site's files lock (held by an update
// worker for its whole commit) and for the flock of another process's
// commit. None of that may stall the window, so its thread never opens a
// site's files: it hands each piece of disk work to this store as a request
// and goes on, and the store's one worker runs the requests in the order
// they came and posts each result back to the front end's thread (through
// the same "post this to the front end's thread" function as the engine
// bridge, document/engine_bridge.h). The requests:
// - Load: the site's catalog and marks are read once per run
//   (catalog/catalog_loader.h; the worker waits for an update worker that
//   is reading them), then CatalogLoaded. A tree branch shows a loading row
//   meanwhile, a walk waits at that site (CDocWalk::Step::kWaiting), and
//   commands that need the catalog go on when it has come.
// - SaveMarks: state.st with the marks cleared in the window
//   (CFTPSite::SaveFiles, taking over what other processes saved), then
//   MarksSaved with the outcome. The site's stateDirty is taken down
//   before the save and set again when it did not succeed, so a mark
//   cleared during the save is saved by the next one.
// - Reload: another process committed the site's files; what they hold
//   now is merged into the loaded catalog (document/catalog_reload.h) on
//   the worker, under the site's lock as an update's merge is, and the
//   entries it unlinked are handed to COrvaneDoc::OnEntriesRemoved on the
//   front end's thread before CatalogReloaded.
// A request already waiting for the same site is not queued twice.
//
// orvane-cli has no store: it waits anyway, and reads on its own thread
// (COrvaneDoc::EnsureCatalogLoaded). The store's file access goes through
// the entry points that catalog/site_file_access.h watches, so a test can
// tell that the window's thread did none of it.
//
// Lifetime: create it after the document and destroy it before; the
// destructor lets the running request end and drops the queued ones.
// Events still queued on the front end's side do nothing once it is gone.
// Every member function is called on the front end's thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "catalog/ftp_site.h"
#include "document/catalog_reload.h"

namespace orvane {

class COrvaneDoc;

// What the store tells the front end, on its thread.
class ISiteStoreSink {
 public:
  virtual ~ISiteStoreSink() = default;
  // The site's catalog is in memory.
  virtual void CatalogLoaded(const std::shared_ptr<CFTPSite>& /*site*/) {}
  // A SaveMarks ended; `error` is "<path>: <reason>" for kFailed.
  virtual void MarksSaved(const std::shared_ptr<CFTPSite>& /*site*/,
                          CFTPSite::SaveResult /*result*/, const std::string& /*error*/) {}
  // A Reload ended (kReloaded: the catalog holds what the files hold).
  virtual void CatalogReloaded(const std::shared_ptr<CFTPSite>& /*site*/,
                               CatalogReload /*result*/) {}
};

class CSiteStore {
 public:
  using Poster = std::function<void(std::function<void()>)>;

  CSiteStore(COrvaneDoc& doc, ISiteStoreSink& sink, Poster post);
  ~CSiteStore();
  CSiteStore(const CSiteStore&) = delete;
  CSiteStore& operator=(const CSiteStore&) = delete;

  void Load(std::shared_ptr<CFTPSite> site);
  void SaveMarks(std::shared_ptr<CFTPSite> site);
  void Reload(std::shared_ptr<CFTPSite> site);
  // Waits until every request queued so far has ended; their results are
  // posted as usual. Only for the window's close, which must not go before
  // the last marks are on disk.
  void Drain();
  // Waits until no request for `site` is queued or running: the worker
  // reads a site's login and key, which an edit is about to change (the
  // edit waits on the site list's lock anyway).
  void Settle(const CFTPSite& site);
  // Requests queued or running.
  std::size_t Pending() const;

 private:
  enum class Kind { kLoad, kSaveMarks, kReload };
  struct Request {
    Kind kind;
    std::shared_ptr<CFTPSite> site;
  };
  struct Shared;

  void Queue(Kind kind, std::shared_ptr<CFTPSite> site);
  void Work();
  void Run(const Request& request);

  const std::filesystem::path programDir_;
  std::shared_ptr<Shared> shared_;
  Poster post_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Request> queue_;
  bool running_ = false;
  const CFTPSite* runningSite_ = nullptr;
  bool closing_ = false;
  std::thread worker_;
};

}  // namespace orvane
