#include "update/update_engine.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <system_error>
#include <utility>

#include "catalog/catalog_loader.h"
#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "catalog/site_health.h"
#include "catalog/site_options.h"
#include "update/known_hosts.h"
#include "update/listing_prefetch.h"

namespace orvane {

namespace {

using Outcome = SiteStatus::Outcome;

// CURLE_FAILED_INIT: the session's libcurl handles could not be made, which
// is what "could not create the Internet session" means here.
constexpr int kSessionNotCreated = 2;

// Hands removed entries to the front end. Runs under the site's lock, inside
// the crawl, so the listener only queues them.
class ListenerRemovalSink final : public IRemovalSink {
 public:
  explicit ListenerRemovalSink(IEngineListener& listener) : listener_(listener) {}

  void FileRemoved(std::unique_ptr<CFTPFile> file) override {
    listener_.PostEntryRemoved(std::move(file));
  }
  // The crawler has already dropped a resume point inside a removed subtree.
  void DirRemoved(std::unique_ptr<CFTPDir> dir) override {
    listener_.PostEntryRemoved(std::move(dir));
  }

 private:
  IEngineListener& listener_;
};

// Whether `dir` is in the site's tree now. A directory that an update has
// unlinked keeps its parent pointer until the front end destroys it, so
// the parent chain alone would accept it.
bool InCatalog(const CFTPSite& site, const CFTPDir& dir) {
  std::lock_guard lock(site.lock);
  const CFTPDir* child = &dir;
  while (child->parent != nullptr) {
    const auto& siblings = child->parent->subdirs;
    const bool linked = std::any_of(siblings.begin(), siblings.end(),
                                    [child](const auto& sub) { return sub.get() == child; });
    if (!linked) return false;
    child = child->parent;
  }
  return child == site.rootDir.get();
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const char* FailureKind(SiteStatus::Failure failure) {
  using Failure = SiteStatus::Failure;
  switch (failure) {
    case Failure::kRefused:
      return "refused";
    case Failure::kTimedOut:
      return "timed-out";
    case Failure::kLoginRefused:
      return "login-refused";
    case Failure::kHostNotFound:
      return "host-not-found";
    case Failure::kClosed:
      return "closed";
    case Failure::kServerError:
      return "server-error";
    case Failure::kUntrusted:
      return "untrusted";
    case Failure::kNone:
    case Failure::kBusyElsewhere:
    case Failure::kOther:
      break;
  }
  return "";
}

// How the site's update ended, for its health record; false when it ended
// in a way that says nothing about the site (stopped by the user, left to
// another process that is updating it).
bool UpdateEndOf(const CFTPSite& site, std::int64_t startMs, UpdateEnd& end) {
  const SiteStatus status = site.Status();
  end.startMs = startMs;
  end.endMs = NowMs();
  std::string kind = FailureKind(status.failure);
  switch (status.outcome) {
    case Outcome::kSucceeded:
      // A crawl whose catalog could not be saved did not bring the site
      // up to date.
      if (std::string saveError = site.SaveError(); !saveError.empty()) {
        end.errorKind = "save";
        end.errorText = std::move(saveError);
        return true;
      }
      end.succeeded = true;
      return true;
    case Outcome::kFailed:
      if (status.failure == SiteStatus::Failure::kBusyElsewhere) return false;
      end.errorKind = kind.empty() ? "other" : kind;
      end.errorText = status.errorText;
      return true;
    case Outcome::kNoSession:
      end.errorKind = "no-session";
      end.errorText = "the FTP session could not be created";
      return true;
    case Outcome::kBrokenOff:
    case Outcome::kResuming:
      end.errorKind = kind.empty() ? "broken-off" : kind;
      end.errorText = status.errorText;
      return true;
    default:
      return false;
  }
}

}  // namespace

FtpLogin LoginFor(const CFTPSite& site, const std::filesystem::path& programDir) {
  const SiteAccess access = site.Access();
  FtpLogin login;
  login.host = site.host;
  login.port = ConnectPort(access.protocol, site.port);
  login.protocol = access.protocol;
  login.startDir = access.startDir;
  login.pinnedKey = access.pin;
  login.knownHosts = programDir / kKnownHostsFileName;
  if (site.anonymousUpdate) {
    login.user = "anonymous";
    login.password = std::string(kAnonymousPassword);
  } else {
    login.user = site.userName;
    login.password = site.password;
  }
  if (access.protocol == SiteProtocol::kSftp && !access.keyFile.empty() && !site.anonymousUpdate) {
    // The site's one secret field unlocks the key; the server never sees
    // it.
    login.keyFile = access.keyFile;
    login.keyPassphrase = std::move(login.password);
    login.password.clear();
  }
  return login;
}

PresentedKey PresentedKeyOf(const PeerIdentity& peer, const SiteAccess& access,
                            const std::vector<std::string>& knownHosts) {
  PresentedKey presented;
  presented.fingerprint = peer.fingerprint;
  if (access.protocol == SiteProtocol::kSftp && !knownHosts.empty()) {
    if (std::find(knownHosts.begin(), knownHosts.end(), peer.fingerprint) == knownHosts.end()) {
      presented.pinned = knownHosts.front();
    }
  } else if (!access.pin.empty() && access.pin != peer.fingerprint) {
    presented.pinned = access.pin;
  }
  presented.details = peer.details;
  presented.problem = peer.problem;
  presented.sshKey = peer.sshKey;
  return presented;
}

PresentedKey PresentedKeyOf(const PeerIdentity& peer, const SiteAccess& access,
                            const FtpLogin& login) {
  if (access.protocol != SiteProtocol::kSftp || login.knownHosts.empty()) {
    return PresentedKeyOf(peer, access);
  }
  return PresentedKeyOf(peer, access,
                        KnownHostFingerprints(login.knownHosts, login.host, login.port));
}

std::string UntrustedText(std::string_view siteKey, SiteProtocol protocol,
                          const PresentedKey& presented) {
  const std::string what = protocol == SiteProtocol::kSftp ? "host key" : "certificate";
  const std::string fingerprint =
      presented.fingerprint.empty() ? std::string("(none)") : presented.fingerprint;
  std::string text;
  if (!presented.pinned.empty()) {
    text = "WARNING: the server's " + what + " has changed: it presents " + fingerprint +
           ", the one accepted for this site is " + presented.pinned +
           ". Someone may be in between; if the change is expected, accept the new one with: "
           "orvane-cli trust ";
  } else {
    text = "the server's " + what + " " + fingerprint + " is not trusted";
    if (!presented.problem.empty()) text += " (" + presented.problem + ")";
    text += "; nothing was sent to it. To accept it: orvane-cli trust ";
  }
  text.append(siteKey);
  return text;
}

CUpdateEngine::CUpdateEngine(IEngineListener& listener, std::filesystem::path programDir,
                             FtpTimeouts timeouts)
    : listener_(listener),
      programDir_(std::move(programDir)),
      timeouts_(timeouts),
      run_(std::make_shared<Run>()) {}

CUpdateEngine::~CUpdateEngine() { Close(); }

// ---- Commands ---------------------------------------------------------------

int CUpdateEngine::UpdateAll(const std::vector<std::shared_ptr<CFTPSite>>& sites) {
  Notices notices;
  std::vector<std::thread> toJoin;
  int queued = 0;
  {
    std::lock_guard lock(mutex_);
    DrainStoppedLocked(notices);
    NewRunIfStoppedLocked();
    for (const auto& site : sites) {
      if (!site || site->removed.load()) continue;
      // A site is never queued twice; it is counted once, by the command
      // that queued it.
      if (site->updateState.load() == kUpdateRunning) continue;
      site->SetOutcome(Outcome::kWaiting, kUpdateRunning);
      site->resumePending.store(0);
      site->SetCrawlCounts({});
      auto data = std::make_unique<CThreadData>();
      data->site = site;
      EnqueueLocked(std::move(data));
      notices.push_back(site);
      ++queued;
    }
    progressTotal_ += queued;
    if (queued > 0) EnsureDispatcherLocked(toJoin);
  }
  Join(toJoin);
  Notify(notices);
  return queued;
}

bool CUpdateEngine::UpdateSelected(std::shared_ptr<CFTPSite> site, CFTPDir* dir) {
  Notices notices;
  std::vector<std::thread> toJoin;
  bool queued = false;
  {
    std::lock_guard lock(mutex_);
    DrainStoppedLocked(notices);
    NewRunIfStoppedLocked();
    // A job keeps its start directory while no other update of the site
    // runs, and none does while its state is 4; one that has just ended may
    // have unlinked `dir`, whose removal the front end has not seen yet.
    if (site && !site->removed.load() && site->updateState.load() != kUpdateRunning &&
        (dir == nullptr || InCatalog(*site, *dir))) {
      auto data = std::make_unique<CThreadData>();
      data->site = site;
      if (dir != nullptr && dir->parent != nullptr) {
        data->startDir = dir;
        data->partial = 1;
        data->startPath = dir->GetPath();
      }
      site->SetOutcome(Outcome::kWaiting, kUpdateRunning);
      site->resumePending.store(0);
      site->SetCrawlCounts({});
      EnqueueLocked(std::move(data));
      EnsureDispatcherLocked(toJoin);
      ++progressTotal_;
      notices.push_back(site);
      queued = true;
    }
  }
  Join(toJoin);
  Notify(notices);
  return queued;
}

void CUpdateEngine::Stop() {
  std::lock_guard lock(mutex_);
  run_->stopRequested.store(true);
  wake_.notify_all();
}

void CUpdateEngine::BeginClose() {
  Stop();
  // Every worker that registers after this point sees the stop flag first
  // (RegisterSession), so no session escapes being closed.
  std::lock_guard lock(sessionLock_);
  for (auto& entry : sessionTable_) entry.second->Close();
}

void CUpdateEngine::Close() {
  std::lock_guard closing(closeLock_);
  BeginClose();
  Notices notices;
  std::vector<std::thread> toJoin;
  {
    std::unique_lock lock(mutex_);
    // Without a dispatcher nobody else would drain what is queued (only
    // possible when a dispatcher thread could not be started).
    if (!dispatcherRunning_) DrainStoppedLocked(notices);
    wake_.wait(lock, [this] { return !dispatcherRunning_ && activeWorkers_.load() == 0; });
    if (dispatcher_.joinable()) toJoin.push_back(std::move(dispatcher_));
    for (Worker& worker : workers_) toJoin.push_back(std::move(worker.thread));
    workers_.clear();
  }
  Join(toJoin);
  Notify(notices);
}

bool CUpdateEngine::SetMaxWorkers(int count) {
  if (count < kMinMaxWorkers || count > kMaxMaxWorkers) return false;
  std::lock_guard lock(mutex_);
  maxWorkers_.store(count);
  wake_.notify_all();
  return true;
}

int CUpdateEngine::MaxWorkers() const { return maxWorkers_.load(); }

bool CUpdateEngine::SetConnectionsPerSite(int count) {
  if (count < 1 || count > kMaxConnectionsPerSite) return false;
  connectionsPerSite_.store(count);
  return true;
}

int CUpdateEngine::ConnectionsPerSite() const { return connectionsPerSite_.load(); }

void CUpdateEngine::SetRecursiveListing(bool on) { recursiveListing_.store(on); }

bool CUpdateEngine::RecursiveListing() const { return recursiveListing_.load(); }

void CUpdateEngine::SetCrawlLimits(const CrawlLimits& limits) {
  std::lock_guard lock(mutex_);
  limits_ = limits;
}

UpdateProgress CUpdateEngine::Progress() {
  std::lock_guard lock(mutex_);
  const int queued = static_cast<int>(updateQueue_.size());
  const int active = activeWorkers_.load();
  UpdateProgress progress;
  progress.total = progressTotal_;
  if (active > 0 || queued > 0) {
    progress.done = progressTotal_ - queued - active;
    progress.finished = false;
  } else {
    progress.done = progressTotal_;
    progressTotal_ = 0;
  }
  return progress;
}

bool CUpdateEngine::HasWork() const {
  std::lock_guard lock(mutex_);
  return activeWorkers_.load() > 0 || !updateQueue_.empty();
}

bool CUpdateEngine::StopRequested() const {
  std::lock_guard lock(mutex_);
  return run_->stopRequested.load();
}

int CUpdateEngine::ActiveWorkers() const { return activeWorkers_.load(); }

std::size_t CUpdateEngine::QueuedJobs() const {
  std::lock_guard lock(mutex_);
  return updateQueue_.size();
}

bool CUpdateEngine::DispatcherRunning() const {
  std::lock_guard lock(mutex_);
  return dispatcherRunning_;
}

// ---- Queue and threads ------------------------------------------------------

void CUpdateEngine::NewRunIfStoppedLocked() {
  if (run_->stopRequested.load()) run_ = std::make_shared<Run>();
}

void CUpdateEngine::DrainStoppedLocked(Notices& notices) {
  for (auto it = updateQueue_.begin(); it != updateQueue_.end();) {
    CFTPSite& site = *it->data->site;
    if (site.removed.load()) {
      // Deleted from the list: nobody shows it any more.
      it = updateQueue_.erase(it);
    } else if (it->run->stopRequested.load()) {
      site.SetOutcome(Outcome::kStoppedQueued, kUpdateStopped);
      notices.push_back(it->data->site);
      it = updateQueue_.erase(it);
    } else {
      ++it;
    }
  }
}

void CUpdateEngine::EnqueueLocked(std::unique_ptr<CThreadData> data) {
  updateQueue_.push_back(Job{std::move(data), run_});
  wake_.notify_all();
}

void CUpdateEngine::EnsureDispatcherLocked(std::vector<std::thread>& toJoin) {
  if (dispatcherRunning_) return;
  // A dispatcher that ended earlier is joined outside the lock.
  if (dispatcher_.joinable()) toJoin.push_back(std::move(dispatcher_));
  dispatcherRun_ = run_;
  try {
    dispatcher_ = std::thread(&CUpdateEngine::DispatcherMain, this);
    dispatcherRunning_ = true;
  } catch (const std::system_error&) {
    // The jobs stay queued; the next command tries again, Close drains them.
  }
}

void CUpdateEngine::StartWorkerLocked(Job job, Notices& notices) {
  const std::shared_ptr<CFTPSite> site = job.data->site;
  // Counted here rather than by the worker itself, so that the progress
  // count and the limit never miss a job between queue and thread.
  activeWorkers_.fetch_add(1);
  runningSites_.insert(site.get());
  workers_.emplace_back();
  Worker* slot = &workers_.back();
  try {
    slot->thread = std::thread(&CUpdateEngine::WorkerMain, this, slot, std::move(job));
  } catch (const std::system_error& error) {
    workers_.pop_back();
    runningSites_.erase(site.get());
    activeWorkers_.fetch_sub(1);
    site->SetOutcome(Outcome::kFailed, kUpdateFailed, error.what());
    notices.push_back(site);
  }
}

void CUpdateEngine::TakeFinishedWorkersLocked(std::vector<std::thread>& toJoin) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done) {
      toJoin.push_back(std::move(it->thread));
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void CUpdateEngine::Notify(const Notices& notices) {
  for (const auto& site : notices) listener_.PostSiteStatus(site);
}

void CUpdateEngine::Join(std::vector<std::thread>& threads) {
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
  threads.clear();
}

void CUpdateEngine::DispatcherMain() {
  Notices notices;
  std::vector<std::thread> toJoin;
  std::unique_lock lock(mutex_);
  for (;;) {
    TakeFinishedWorkersLocked(toJoin);
    DrainStoppedLocked(notices);
    if (!toJoin.empty() || !notices.empty()) {
      lock.unlock();
      Join(toJoin);
      Notify(notices);
      notices.clear();
      lock.lock();
      continue;
    }

    if (dispatcherRun_->stopRequested.load()) {
      // The stopped run's jobs are drained; its workers finish on their own.
      if (activeWorkers_.load() > 0) {
        wake_.wait(lock);
        continue;
      }
      // A command given meanwhile began a new run and queued its jobs for a
      // dispatcher that had not started yet: carry on with those.
      if (run_ != dispatcherRun_ && !run_->stopRequested.load() && !updateQueue_.empty()) {
        dispatcherRun_ = run_;
        continue;
      }
      dispatcherRunning_ = false;
      wake_.notify_all();
      return;
    }

    if (!updateQueue_.empty() && activeWorkers_.load() < maxWorkers_.load() &&
        runningSites_.count(updateQueue_.front().data->site.get()) == 0) {
      Job job = std::move(updateQueue_.front());
      updateQueue_.pop_front();
      StartWorkerLocked(std::move(job), notices);
      continue;
    }
    wake_.wait(lock);
  }
}

// ---- Worker -----------------------------------------------------------------

bool CUpdateEngine::RegisterSession(const std::string& key, CListingSession& session, const Run& run) {
  std::lock_guard lock(sessionLock_);
  if (run.stopRequested.load()) return false;
  sessionTable_.emplace(key, &session);
  return true;
}

void CUpdateEngine::UnregisterSession(const std::string& key, CListingSession& session) {
  std::lock_guard lock(sessionLock_);
  auto [first, last] = sessionTable_.equal_range(key);
  for (auto it = first; it != last; ++it) {
    if (it->second == &session) {
      sessionTable_.erase(it);
      return;
    }
  }
}

void CUpdateEngine::WorkerMain(Worker* self, Job job) {
  CFTPSite& site = *job.data->site;
  // The previous worker of this site, which queued this job, has ended
  // (runningSites_), so its resume point is settled.
  const CFTPDir* resumedAt = site.resumePending.load() != 0 ? site.resumeDir : nullptr;
  if (job.data->startedMs == 0) job.data->startedMs = NowMs();
  const bool resume = RunJob(job, resumedAt);
  // A resumption that ended before its crawl (no connection, stopped)
  // still ends the update its first attempt began.
  if (!resume) EndUpdateRecord(job.data->site);

  // The update has ended (no resumption follows): its health is recorded
  // while the worker still counts as running, so whoever waits for the
  // work to end finds it.
  const auto recordHealth = [&] {
    UpdateEnd end;
    if (!UpdateEndOf(site, job.data->startedMs, end)) return;
    end.partial = job.data->partial != 0;
    std::string error;
    if (RecordSiteHealth(site, programDir_, end, &error)) {
      listener_.PostSiteHealth(job.data->site);
    } else if (site.SaveError().empty()) {
      // Reported as the site's save error, like a catalog that could not
      // be saved.
      site.SetSaveError(std::move(error));
    }
  };
  if (!resume) recordHealth();
  bool stoppedMeanwhile = false;
  bool workEnded = false;
  if (resume) {
    // Announced before the job becomes visible to the dispatcher, so that
    // the front end sees this text before the resumed worker replaces it.
    listener_.PostSiteStatus(job.data->site);
  }
  {
    std::lock_guard lock(mutex_);
    if (resume) {
      // Checked under the engine lock, like Stop() and the drain: a stop
      // that came meanwhile ends the update where it broke off. The site
      // still counts as running, so the job queued here cannot start yet.
      if (job.run->stopRequested.load()) {
        const SiteStatus status = site.Status();
        site.SetOutcome(Outcome::kBrokenOff, kUpdateStopped, status.errorText, status.failure);
        stoppedMeanwhile = true;
      } else if (!site.removed.load()) {
        auto next = std::make_unique<CThreadData>();
        next->site = job.data->site;
        next->startDir = job.data->startDir;
        next->partial = job.data->partial;
        next->resumed = true;
        next->startPath = job.data->startPath;
        next->startedMs = job.data->startedMs;
        // Same run, and not counted in progressTotal again: the site is.
        updateQueue_.push_back(Job{std::move(next), job.run});
      }
    }
  }
  // Stopped before the resumption could begin: the update ends here, with
  // its record and health written while the worker still counts.
  if (stoppedMeanwhile) {
    EndUpdateRecord(job.data->site);
    recordHealth();
  }
  {
    std::lock_guard lock(mutex_);
    runningSites_.erase(&site);
    workEnded = activeWorkers_.fetch_sub(1) == 1 && updateQueue_.empty();
    self->done = true;
    wake_.notify_all();
  }
  if (stoppedMeanwhile) listener_.PostSiteStatus(job.data->site);
  if (workEnded) listener_.PostWorkEnded();
  // The job (and maybe the last reference to a deleted site) goes here, on
  // this thread; whoever joins it waits outside the engine lock.
}

bool CUpdateEngine::DecideResume(CFTPSite& site, const Run& run, const CFTPDir* resumedAt) {
  std::lock_guard lock(mutex_);
  const SiteStatus status = site.Status();
  // An attempt that broke off at another directory than the one it
  // resumed at got past that one (the crawler gives up on a directory
  // that fails twice), so it is resumed whatever the budget, which is
  // there for a server that keeps failing at the same place. Resume
  // points only move forward in walk order, so this ends.
  // A break at the root, where every attempt begins, is no progress.
  const bool progressed = site.resumePending.load() != 0 && site.resumeDir != nullptr &&
                          site.resumeDir != resumedAt && site.resumeDir != site.rootDir.get();
  if (status.outcome == Outcome::kBrokenOff && !run.stopRequested.load() && !site.removed.load() &&
      (progressed || site.retryCount.load() < kMaxResumptions)) {
    site.SetOutcome(Outcome::kResuming, kUpdateRunning, status.errorText, status.failure);
    site.retryCount.fetch_add(1);
    return true;
  }
  return false;
}

namespace {

JournalRecord::Outcome RecordOutcome(const CFTPSite& site) {
  switch (site.Status().outcome) {
    case Outcome::kSucceeded:
      return JournalRecord::Outcome::kSucceeded;
    case Outcome::kStopped:
    case Outcome::kStoppedQueued:
      return JournalRecord::Outcome::kStopped;
    case Outcome::kBrokenOff:
    case Outcome::kResuming:
      return JournalRecord::Outcome::kBrokenOff;
    default:
      return JournalRecord::Outcome::kFailed;
  }
}

}  // namespace

void CUpdateEngine::EndUpdateRecord(const std::shared_ptr<CFTPSite>& site) {
  if (!site->CollectingChanges()) return;
  site->EndChanges(RecordOutcome(*site));
  SaveSite(*site);
}

void CUpdateEngine::SaveSite(CFTPSite& site) {
  // A deleted site's files are gone and stay gone.
  if (site.removed.load()) return;
  // Cleared first: marks cleared by the window while the state is being
  // written set it again and are saved at the next chance.
  site.stateDirty.store(false);
  std::string error;
  const CFTPSite::SaveResult saved = site.SaveFiles(programDir_, true, &error);
  if (saved != CFTPSite::SaveResult::kSaved) site.stateDirty.store(true);
  site.SetSaveError(saved == CFTPSite::SaveResult::kFailed ? std::move(error) : std::string());
}

bool CUpdateEngine::RunJob(Job& job, const CFTPDir* resumedAt) {
  const std::shared_ptr<CFTPSite>& sitePtr = job.data->site;
  CFTPSite& site = *sitePtr;
  const Run& run = *job.run;

  site.SetOutcome(Outcome::kConnecting);
  if (run.stopRequested.load() || site.removed.load()) {
    site.SetOutcome(Outcome::kStopped, kUpdateStopped);
    listener_.PostSiteStatus(sitePtr);
    return false;
  }
  listener_.PostSiteStatus(sitePtr);

  const std::string key = site.siteKey();
  // Another process (the window, a cron job) updating the same site would
  // write its catalog over this one's, or this one over its: the site is
  // left to it. A lock that cannot be taken at all (a data directory that
  // cannot be written) is not a reason to skip: the save reports that.
  const CDataDirLock updating =
      CDataDirLock::TryAcquire(programDir_, CDataDirLock::Kind::kSiteUpdate, key);
  if (updating.busy()) {
    site.SetOutcome(Outcome::kFailed, kUpdateFailed, std::string(kBeingUpdatedElsewhere),
                    SiteStatus::Failure::kBusyElsewhere);
    listener_.PostSiteStatus(sitePtr);
    return false;
  }
  const FtpLogin login = LoginFor(site, programDir_);
  const std::unique_ptr<CListingSession> ownSession = MakeListingSession(login.protocol);
  if (!ownSession) {
    site.SetOutcome(Outcome::kNoSession, kUpdateFailed);
    listener_.PostSiteStatus(sitePtr);
    return false;
  }
  CListingSession& session = *ownSession;
  if (!RegisterSession(key, session, run)) {
    site.SetOutcome(Outcome::kStopped, kUpdateStopped);
    listener_.PostSiteStatus(sitePtr);
    return false;
  }
  const FtpResult opened = session.Open(login, timeouts_);
  if (!opened.ok()) {
    if (opened.outcome == FtpOutcome::kCancelled || run.stopRequested.load()) {
      // Closed under us by the program's exit, or stopped: not the server's
      // fault, so not reported as a failed connection.
      site.SetOutcome(Outcome::kStopped, kUpdateStopped);
    } else if (opened.curlCode == kSessionNotCreated) {
      site.SetOutcome(Outcome::kNoSession, kUpdateFailed);
    } else if (opened.outcome == FtpOutcome::kUntrusted) {
      PresentedKey presented = PresentedKeyOf(session.peer(), site.Access(), login);
      std::string text = UntrustedText(key, login.protocol, presented);
      site.SetUntrusted(std::move(presented),
                        std::string(TruncateUtf8(text, kMaxConnectErrorBytes)));
    } else {
      // A failed connection is not retried automatically.
      site.SetOutcome(Outcome::kFailed, kUpdateFailed,
                      std::string(TruncateUtf8(opened.errorText, kMaxConnectErrorBytes)),
                      FailureOf(opened));
    }
    listener_.PostSiteStatus(sitePtr);
    UnregisterSession(key, session);
    session.Close();
    return false;
  }

  // Evidence for the site's "auto" character set, recorded when the
  // update succeeds.
  site.serverUtf8.store(ServerUtf8FromFeatures(session.serverFeatures()));
  site.SetOutcome(Outcome::kConnected);
  listener_.PostSiteStatus(sitePtr);
  if (run.stopRequested.load() || site.removed.load()) {
    // Neither loaded nor saved.
    UnregisterSession(key, session);
    session.Close();
    site.SetOutcome(Outcome::kStopped, kUpdateStopped);
    listener_.PostSiteStatus(sitePtr);
    return false;
  }

  EnsureCatalogLoaded(site, programDir_);
  CFTPDir& start = job.data->startDir != nullptr ? *job.data->startDir : *site.rootDir;
  ListenerRemovalSink removals(listener_);
  bool crawled = false;
  // One update is one journal record, however many attempts it takes: a
  // resumption goes on with the record its first attempt began.
  if (!job.data->resumed) site.BeginChanges();
  {
    // Extra connections that cannot log in, or fail, only leave the crawl
    // with fewer; each is in the session table while it lives, so Close()
    // breaks its calls too.
    std::unique_ptr<CListingPrefetcher> ahead;
    if (const int extra = connectionsPerSite_.load() - 1; extra > 0) {
      ahead = std::make_unique<CListingPrefetcher>(
          login, timeouts_, extra, run.stopRequested,
          [&](CListingSession& extraSession) { return RegisterSession(key, extraSession, run); },
          [&](CListingSession& extraSession) { UnregisterSession(key, extraSession); });
    }
    CrawlLimits limits;
    {
      std::lock_guard lock(mutex_);
      limits = limits_;
    }
    crawled = CrawlDirectory(session, site, start, run.stopRequested, removals, limits, ahead.get(),
                             recursiveListing_.load());
  }
  if (crawled) {
    // A catalog that was read only in part is whole again once every
    // directory from the root has been listed anew.
    if (&start == site.rootDir.get() && !site.GetCrawlCounts().any()) {
      site.filesIncomplete.store(false);
    }
    // Everything the engine writes about the resume point comes before the
    // final state, which is what a later command looks at.
    site.resumePending.store(0);
    site.resumeDir = nullptr;
    site.SetOutcome(Outcome::kSucceeded, kUpdateSucceeded);
  }
  const bool resume = !crawled && DecideResume(site, run, resumedAt);
  if (!resume) site.EndChanges(RecordOutcome(site));
  if (!resume) listener_.PostSiteStatus(sitePtr);
  UnregisterSession(key, session);
  session.Close();

  // Saved whatever the crawl's outcome: a stopped or broken-off crawl keeps
  // what it merged.
  SaveSite(site);
  return resume;
}

}  // namespace orvane
