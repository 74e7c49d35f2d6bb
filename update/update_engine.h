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
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "update/crawler.h"
#include "update/listing_session.h"
#include "update/thread_data.h"

namespace orvane {

class CFTPDir;
class CFTPFile;
class CFTPSite;

class IEngineListener {
 public:
  virtual ~IEngineListener() = default;
  // WM_SITE_STATUS: the site's status (CFTPSite::Status) or hasNewEntries
  // changed. The listener takes the status value at once, on the engine's
  // thread: by the time the front end runs the notice the site may have
  // moved on, and every step should be shown.
  virtual void PostSiteStatus(std::shared_ptr<CFTPSite> site) = 0;
  // WM_ENTRY_REMOVED: an update unlinked this entry; the front end drops its
  // references and then destroys it (on its own thread).
  virtual void PostEntryRemoved(std::unique_ptr<CFTPDir> dir) = 0;
  virtual void PostEntryRemoved(std::unique_ptr<CFTPFile> file) = 0;
  // The last worker has ended and no job is queued: HasWork() is false
  // from now on until the next command. Lets a front end that waits for
  // the end of the work stop waiting at once.
  virtual void PostWorkEnded() {}
  // The site's health record (catalog/site_health.h) was written: its
  // update has ended. Comes after the site's final status.
  virtual void PostSiteHealth(std::shared_ptr<CFTPSite> /*site*/) {}
};

// Status texts of the scheduler's outcomes (UTF-8; StatusText in
// update/status_text.h builds them). The crawler's own texts
// (kStatusStopped, kStatusBrokenOff) are in crawler.h.
inline constexpr std::string_view kStatusNotUpdated = "未更新";
inline constexpr std::string_view kStatusWaiting = "正在等待更新...";
inline constexpr std::string_view kStatusConnecting = "正在连接...";
inline constexpr std::string_view kStatusConnected = "已连接,正在更新...";
inline constexpr std::string_view kStatusSucceeded = "更新成功";
inline constexpr std::string_view kStatusFailed = "更新失败:\n";  // + error text
inline constexpr std::string_view kStatusNoSession = "更新失败:\n创建Internet会话失败";
// A job that was still queued when updates were stopped (ASCII "!", unlike
// the worker's full-width kStatusStopped).
inline constexpr std::string_view kStatusStoppedQueued = "更新终止!";
// Appended to the broken-off text when a resumption is queued.
inline constexpr std::string_view kStatusResuming = "\t等待继续更新";
// The error text of a site that another process is updating; the site is
// skipped ("更新失败:\n" and this text).
inline constexpr std::string_view kBeingUpdatedElsewhere = "being updated by another process";
// Connection error texts are cut to this many bytes.
inline constexpr std::size_t kMaxConnectErrorBytes = 1023;

// The data directory's file of SSH host keys the user accepted.
inline constexpr std::string_view kKnownHostsFileName = "known_hosts";

// How a worker logs in to `site`: the site's protocol and start directory;
// anonymousUpdate: "anonymous" with kAnonymousPassword, else the stored
// user name and password; with a key file, the stored password is the
// key's passphrase and is never sent to the server; the port ConnectPort
// gives; the pin, and DATA/known_hosts for SSH host keys.
FtpLogin LoginFor(const CFTPSite& site, const std::filesystem::path& programDir);

// The key that `site` (its key `siteKey`) presented, from what the
// session saw at Open, as the site's status keeps it. The key accepted
// before (`pinned`) is, for SSH, one the data directory's known-hosts file
// holds for the server (`knownHosts`, as KnownHostFingerprints reads it):
// a host key is accepted for the server, so another site of the same
// server may have accepted it; else the site's pin.
PresentedKey PresentedKeyOf(const PeerIdentity& peer, const SiteAccess& access,
                            const std::vector<std::string>& knownHosts = {});
// PresentedKeyOf with the known-hosts file `login` names.
PresentedKey PresentedKeyOf(const PeerIdentity& peer, const SiteAccess& access,
                            const FtpLogin& login);
// The error text of an untrusted server: the fingerprint it presented,
// the pinned one when the key changed, why it is not trusted, and the
// command that accepts it.
std::string UntrustedText(std::string_view siteKey, SiteProtocol protocol,
                          const PresentedKey& presented);

// What the front end's progress display shows ("更新%d/%d", "更新完成").
struct UpdateProgress {
  int done = 0;
  int total = 0;
  bool finished = true;  // no job queued and no worker running
};

// One instance per front end. Commands (UpdateAll, UpdateSelected, Stop,
// SetMaxWorkers, Progress, BeginClose, Close) come from the front end's
// thread; they are also safe from any other thread except the engine's own
// (a listener callback must not call Close, which would wait for itself).
// The listener must outlive the engine; its callbacks only queue, since
// PostEntryRemoved runs under the site's lock.
//
// Threads: the dispatcher and the workers are std::threads owned by the
// engine and always joined (by the dispatcher as workers end, and by
// Close()); the destructor calls Close(), so no engine thread outlives it.
// The dispatcher does not poll: it sleeps on a condition variable and is
// woken by every command, by Stop, by SetMaxWorkers and by each worker's
// end, so a queued job starts as soon as a worker slot frees, and maxWorkers
// applies from the dispatcher's next pass.
//
// Stop and new commands: each update command that finds the current run
// stopped begins a new run with its own stop flag (this is how a command
// "clears stopRequested"). A job belongs to the run that was current when it
// was queued, and a stop reaches exactly the jobs queued or running at that
// moment: queued ones end at "更新终止!" (drained by the dispatcher, or by
// the next command if that comes first, so a command never skips a site
// only because its stopped job was not drained yet), running ones at
// "更新终止！". Jobs of a new run queued while the stopped run's workers
// are still finishing wait until the last of those has ended, then the
// dispatcher carries on with them, as a fresh dispatcher would. So no job
// is lost or run twice. A site whose stopped worker is still finishing
// keeps updateState 4 and is therefore not queued again by such a command.
//
// One job per site: a site with updateState 4 is not queued again, and a
// job whose site's previous worker is still saving does not start until
// that worker has ended.
//
// A worker first takes the site's update lock in the data directory (see
// catalog/data_dir_lock.h): when another process holds it the site ends at
// "更新失败:\n" kBeingUpdatedElsewhere, and nothing is fetched or saved. It
// saves through CFTPSite::SaveFiles, which takes over what other processes
// changed meanwhile; a failed save is left in the site's SaveError(). An
// update and its resumptions collect one journal record, closed when the
// update ends and written with that attempt's save. When a site's update
// has ended (no resumption follows) its health record
// (catalog/site_health.h) gets the success (a partial one for an update
// of one directory) or the error, before the worker stops counting as
// running; a record that cannot be written becomes the site's SaveError().
// A stopped update and a site left to another process record nothing.
//
// A worker: "正在连接..."; logs in (LoginFor); "已连接,正在更新..."; loads the catalog (EnsureCatalogLoaded);
// crawls from the job's directory; "更新成功" (state 2) or what the crawler
// left (state 3); then saves content.ct and state.st whatever the outcome,
// unless the site was removed meanwhile. A failed login or connection is
// "更新失败:\n" and the error text (state 1) and is not retried; one that
// Close() cut short counts as stopped. A crawl that broke off
// ("更新意外终止:\n...") is queued again at once with "\t等待继续更新"
// appended, and continues at the crawler's resume point. A resumption that
// broke off at the same place again (the server stopped answering there)
// is resumed only while the site's retryCount, counted over the life of the
// site record, is below kMaxResumptions; one that got past the directory
// it resumed at, which the crawler gives up on when it fails again, always
// is. So a directory that always fails costs one resumption and is counted
// as not fetched, and the rest of the site is still fetched. Removed
// entries go to the listener, which then owns them.
class CUpdateEngine {
 public:
  static constexpr int kDefaultMaxWorkers = 5;
  static constexpr int kMinMaxWorkers = 1;
  static constexpr int kMaxMaxWorkers = 500;
  static constexpr int kDefaultConnectionsPerSite = 4;
  static constexpr int kMaxConnectionsPerSite = 16;
  // Automatic resumptions per site and run of the program.
  static constexpr int kMaxResumptions = 4;

  // `programDir` is the data directory (catalogs are read and written under
  // programDir/Data). `timeouts` are those of every FTP session.
  CUpdateEngine(IEngineListener& listener, std::filesystem::path programDir,
                FtpTimeouts timeouts = {});
  ~CUpdateEngine();
  CUpdateEngine(const CUpdateEngine&) = delete;
  CUpdateEngine& operator=(const CUpdateEngine&) = delete;

  // Queues every site of `sites` (the document's list, in its order) that
  // is not waiting or running, and counts each queued site in the progress
  // total. Null and removed sites are ignored. Returns the number queued.
  int UpdateAll(const std::vector<std::shared_ptr<CFTPSite>>& sites);

  // Queues one site, crawling only below `dir` (a directory of the site's
  // catalog; null means its root). Does nothing and returns false when the
  // site is null, removed or already waiting or running, or when `dir` is
  // not in its catalog. Counts the site in the progress total.
  bool UpdateSelected(std::shared_ptr<CFTPSite> site, CFTPDir* dir = nullptr);

  // Stops the current run: workers and crawls end within one FTP call and
  // save what they merged; queued jobs are dropped as "更新终止!". Returns
  // at once.
  void Stop();

  // First half of Close for a front end that waits in its own loop (the
  // close dialog): stops, then closes every open FTP session so that each
  // worker's blocked call fails at once. Returns at once; poll HasWork().
  void BeginClose();
  // BeginClose, then waits until the dispatcher and every worker have ended
  // and joins them. Returns at once when nothing runs.
  void Close();

  // 1 to 500; false (and no change) otherwise. Running workers are kept.
  bool SetMaxWorkers(int count);
  int MaxWorkers() const;

  // Connections one site's crawl may use: one walks the tree, the others
  // list directories ahead of it (see update/listing_prefetch.h). 1 to 16;
  // false (and no change) otherwise. Taken by each worker when it starts.
  // The program opens at most MaxWorkers() x ConnectionsPerSite()
  // connections at once.
  bool SetConnectionsPerSite(int count);
  int ConnectionsPerSite() const;

  // Whether a site's crawl first asks for its whole tree in one listing
  // (see CrawlDirectory); on by default, each server is tried once per
  // update. Taken by each worker when it starts.
  void SetRecursiveListing(bool on);
  bool RecursiveListing() const;
  // How many entries one listing and one site's update may take (see
  // update/crawler.h); set before the update commands.
  void SetCrawlLimits(const CrawlLimits& limits);

  // One tick of the progress display. While jobs are queued or workers run:
  // done = progressTotal - queued jobs - running workers. Otherwise
  // finished, and progressTotal goes back to 0 (the display ends there).
  UpdateProgress Progress();

  // A job is queued or a worker runs (the close dialog's condition).
  bool HasWork() const;
  // The current run was stopped and no command has started another.
  bool StopRequested() const;
  int ActiveWorkers() const;
  std::size_t QueuedJobs() const;
  bool DispatcherRunning() const;

 private:
  // One run of update commands between two stops; jobs and workers read
  // their run's flag, the crawler included.
  struct Run {
    std::atomic<bool> stopRequested{false};
  };
  struct Job {
    std::unique_ptr<CThreadData> data;
    std::shared_ptr<Run> run;
  };
  struct Worker {
    std::thread thread;
    bool done = false;
  };
  using Notices = std::vector<std::shared_ptr<CFTPSite>>;

  // All *Locked functions run under mutex_.
  void NewRunIfStoppedLocked();
  void DrainStoppedLocked(Notices& notices);
  void EnqueueLocked(std::unique_ptr<CThreadData> data);
  void EnsureDispatcherLocked(std::vector<std::thread>& toJoin);
  void StartWorkerLocked(Job job, Notices& notices);
  void TakeFinishedWorkersLocked(std::vector<std::thread>& toJoin);
  void Notify(const Notices& notices);
  static void Join(std::vector<std::thread>& threads);

  void DispatcherMain();
  void WorkerMain(Worker* self, Job job);
  // Steps up to the end of the crawl and the save. True when a resumption
  // follows (decided before the save, so that the save of an update that
  // goes on writes no journal record yet).
  bool RunJob(Job& job, const CFTPDir* resumedAt);
  // Whether the attempt that just broke off is resumed; sets the site's
  // status to kResuming when it is.
  bool DecideResume(CFTPSite& site, const Run& run, const CFTPDir* resumedAt);
  // Closes the site's journal record of an update that ends without a
  // crawl of its own (a resumption that could not connect or was stopped)
  // and saves it with the catalog its earlier attempts merged.
  void EndUpdateRecord(const std::shared_ptr<CFTPSite>& site);
  // The save after an attempt; a failure is left in SaveError().
  void SaveSite(CFTPSite& site);
  bool RegisterSession(const std::string& key, CListingSession& session, const Run& run);
  void UnregisterSession(const std::string& key, CListingSession& session);

  IEngineListener& listener_;
  const std::filesystem::path programDir_;
  const FtpTimeouts timeouts_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // queue, workers, stop, limit, dispatcher end
  std::shared_ptr<Run> run_;      // the current run
  std::deque<Job> updateQueue_;
  std::atomic<int> activeWorkers_{0};
  std::atomic<int> maxWorkers_{kDefaultMaxWorkers};
  std::atomic<int> connectionsPerSite_{kDefaultConnectionsPerSite};
  std::atomic<bool> recursiveListing_{true};
  CrawlLimits limits_;
  bool dispatcherRunning_ = false;
  std::shared_ptr<Run> dispatcherRun_;  // the run the dispatcher serves
  std::thread dispatcher_;
  std::list<Worker> workers_;
  std::unordered_set<const CFTPSite*> runningSites_;
  int progressTotal_ = 0;

  // Sessions of the running workers under their site keys; Close() closes
  // them from the front end's thread. A worker removes its entry before the
  // session is destroyed.
  std::mutex sessionLock_;
  std::multimap<std::string, CListingSession*> sessionTable_;

  std::mutex closeLock_;  // one Close() at a time
};

}  // namespace orvane
