// The update scheduler against real local FTP servers: order, counting,
// subtree updates, stop, connection failures, resumption, close and deleted
// sites.
#include "update/update_engine.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "catalog/change_journal.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_health.h"
#include "tests/support/catalog_lines.h"
#include "tests/support/closed_port.h"
#include "tests/support/ftp_server.h"
#include "tests/support/temp_tree.h"
#include "update/status_text.h"

namespace orvane {
namespace {

using test::CClosedPort;
using test::CFtpServer;
using test::CTempTree;
using test::FtpFault;
using test::PyFtpOptions;

// What the front end would see: every notification with the site's text
// and state at the moment it was posted. A status notification can be held
// (the posting worker waits) to keep a worker busy at a known step.
class RecordingListener final : public IEngineListener {
 public:
  struct Event {
    const CFTPSite* site;
    std::string text;
    int state;
    // Posted by an engine thread. Only those texts are exact: a command
    // posts after queueing, when a worker may already have moved on.
    bool fromEngine;
  };

  void PostSiteStatus(std::shared_ptr<CFTPSite> site) override {
    std::unique_lock lock(mutex_);
    events_.push_back(Event{site.get(), StatusText(site->Status()), site->updateState.load(),
                            std::this_thread::get_id() != owner_});
    // Only an engine thread is held (the test's own commands post too, and
    // may already see the text a worker has just set), and only once.
    if (holdArmed_ && holdSite_ == site.get() && events_.back().text == holdText_ &&
        std::this_thread::get_id() != holder_) {
      holdArmed_ = false;
      held_ = true;
      changed_.notify_all();
      // Bounded, so that a failed test cannot keep Close() waiting forever.
      changed_.wait_for(lock, std::chrono::seconds(60), [this] { return released_; });
    }
  }
  void PostEntryRemoved(std::unique_ptr<CFTPDir> dir) override {
    std::lock_guard lock(mutex_);
    removedDirs_.push_back(std::move(dir));
  }
  void PostEntryRemoved(std::unique_ptr<CFTPFile> file) override {
    std::lock_guard lock(mutex_);
    removedFiles_.push_back(std::move(file));
  }

  // The next status notification of `site` with `text` blocks its worker
  // until Release().
  void Hold(const CFTPSite* site, std::string_view text) {
    std::lock_guard lock(mutex_);
    holdSite_ = site;
    holdText_ = std::string(text);
    holder_ = std::this_thread::get_id();
    holdArmed_ = true;
    released_ = false;
    held_ = false;
  }
  bool WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return held_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  std::vector<Event> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> TextsOf(const CFTPSite* site) const {
    std::vector<std::string> texts;
    for (const Event& event : Events()) {
      if (event.site == site && event.fromEngine) texts.push_back(event.text);
    }
    return texts;
  }
  int CountOf(const CFTPSite* site, std::string_view text) const {
    const auto texts = TextsOf(site);
    return static_cast<int>(std::count(texts.begin(), texts.end(), std::string(text)));
  }
  std::size_t RemovedDirCount() const {
    std::lock_guard lock(mutex_);
    return removedDirs_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  std::vector<std::unique_ptr<CFTPDir>> removedDirs_;
  std::vector<std::unique_ptr<CFTPFile>> removedFiles_;
  const CFTPSite* holdSite_ = nullptr;
  std::string holdText_;
  const std::thread::id owner_ = std::this_thread::get_id();
  std::thread::id holder_;
  bool holdArmed_ = false;
  bool released_ = true;
  bool held_ = false;
};

// Polls `condition` until it holds; false after a minute (a hang, not a
// speed requirement).
bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Each site gets a key of its own (host@name: the password is not the
// anonymous placeholder) but logs in anonymously, so one anonymous server
// can stand for many sites without their data directories meeting.
std::shared_ptr<CFTPSite> MakeSite(const CFtpServer& server, const std::string& name) {
  auto site = std::make_shared<CFTPSite>();
  site->host = server.host();
  site->port = server.port();
  site->userName = name;
  site->password = "pw-" + name;
  site->anonymousUpdate = true;
  site->nickname = name;
  return site;
}

std::set<std::string> LiveListing(const CFTPSite& site) {
  std::lock_guard lock(site.lock);
  return test::CatalogLines(*site.rootDir);
}

// The catalog as saved in the site's data directory.
std::set<std::string> SavedListing(const CFTPSite& site, const std::filesystem::path& programDir) {
  CFTPSite copy;
  copy.LoadCatalog(site.DataDirectory(programDir) / "content.ct");
  return test::CatalogLines(*copy.rootDir);
}

// The site's journal as "outcome first? +added -removed ~resized paths..."
// lines, one per record.
std::vector<std::string> JournalLines(const CFTPSite& site,
                                      const std::filesystem::path& programDir) {
  std::string bytes;
  EXPECT_TRUE(ReadJournalFile(site.DataDirectory(programDir) / kJournalFileName, bytes));
  std::vector<std::string> lines;
  for (const JournalRecord& record : ReadJournal(bytes)) {
    std::string line = std::to_string(static_cast<int>(record.outcome));
    line += record.summary ? " first" : "";
    line += " +" + std::to_string(record.added) + " -" + std::to_string(record.removed) + " ~" +
            std::to_string(record.resized);
    for (const JournalEntry& entry : record.entries) line += " " + entry.path;
    lines.push_back(line);
  }
  return lines;
}

CFTPDir* FindDir(CFTPSite& site, std::string_view name) {
  std::lock_guard lock(site.lock);
  for (const auto& sub : site.rootDir->subdirs) {
    if (sub->name() == name) return sub.get();
  }
  return nullptr;
}

int CountCommand(const CFtpServer& server, std::string_view line) {
  const auto commands = server.Commands();
  return static_cast<int>(std::count(commands.begin(), commands.end(), std::string(line)));
}

// For sessions that must not time out, however slow the machine.
const FtpTimeouts kPatient{std::chrono::minutes(5), std::chrono::minutes(5),
                           std::chrono::minutes(5)};

bool Finished(const std::vector<std::shared_ptr<CFTPSite>>& sites, const CUpdateEngine& engine) {
  if (engine.HasWork()) return false;
  return std::all_of(sites.begin(), sites.end(),
                     [](const auto& site) { return site->updateState.load() != kUpdateRunning; });
}

class UpdateEngineTest : public ::testing::Test {
 protected:
  // A small tree: three directories with a file each, and a file at the top.
  void SetUp() override {
    served_.AddFile("top.txt", "t");
    served_.AddFile("a/x.txt", "xx");
    served_.AddFile("b/y.txt", "yyy");
    served_.AddFile("c/z.txt", "zzzz");
  }

  std::unique_ptr<CFtpServer> Start(const PyFtpOptions& options = {}) {
    auto started = CFtpServer::StartPyftpdlib(served_.path(), options);
    if (started.unavailable) ADD_FAILURE() << "pyftpdlib missing: " << started.error;
    EXPECT_TRUE(started.server) << started.error;
    return std::move(started.server);
  }

  const std::set<std::string> kFullTree{"top.txt 1", "a/", "a/x.txt 2", "b/",
                                        "b/y.txt 3", "c/", "c/z.txt 4"};
  CTempTree served_;
  CTempTree data_;
  RecordingListener listener_;
};

TEST_F(UpdateEngineTest, OneWorkerUpdatesSitesOneAfterAnotherInListOrder) {
  auto server = Start();
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  ASSERT_TRUE(engine.SetMaxWorkers(1));
  std::vector<std::shared_ptr<CFTPSite>> sites;
  for (int i = 0; i < 4; ++i) sites.push_back(MakeSite(*server, "s" + std::to_string(i)));

  EXPECT_EQ(engine.UpdateAll(sites), 4);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  // Each site connects only after the one before it has its outcome.
  const auto events = listener_.Events();
  std::vector<std::size_t> connecting, done;
  for (const auto& site : sites) {
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (events[i].site != site.get() || !events[i].fromEngine) continue;
      if (events[i].text == kStatusConnecting) connecting.push_back(i);
      if (events[i].text == kStatusSucceeded) done.push_back(i);
    }
  }
  ASSERT_EQ(connecting.size(), 4u);
  ASSERT_EQ(done.size(), 4u);
  for (int i = 1; i < 4; ++i) EXPECT_GT(connecting[i], done[i - 1]) << "site " << i;

  for (const auto& site : sites) {
    EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
    EXPECT_EQ(site->updateState.load(), kUpdateSucceeded);
    EXPECT_EQ(LiveListing(*site), kFullTree);
    EXPECT_EQ(SavedListing(*site, data_.path()), kFullTree);
    // Everything is new at the first update.
    EXPECT_TRUE(site->hasNewEntries.load());
  }
  const UpdateProgress progress = engine.Progress();
  EXPECT_TRUE(progress.finished);
  EXPECT_EQ(progress.total, 4);
  EXPECT_EQ(engine.Progress().total, 0) << "the display's end resets the total";
}

TEST_F(UpdateEngineTest, UpdateAllWhileSitesWaitQueuesOnlyTheOthersAndCountsEachOnce) {
  auto server = Start();
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  ASSERT_TRUE(engine.SetMaxWorkers(1));
  std::vector<std::shared_ptr<CFTPSite>> sites;
  for (int i = 0; i < 5; ++i) sites.push_back(MakeSite(*server, "w" + std::to_string(i)));
  const std::vector<std::shared_ptr<CFTPSite>> firstThree(sites.begin(), sites.begin() + 3);

  // The first site's worker stays at its start; the other two wait.
  listener_.Hold(sites[0].get(), kStatusConnecting);
  EXPECT_EQ(engine.UpdateAll(firstThree), 3);
  ASSERT_TRUE(listener_.WaitUntilHeld());
  UpdateProgress progress = engine.Progress();
  EXPECT_FALSE(progress.finished);
  EXPECT_EQ(progress.total, 3);
  EXPECT_EQ(progress.done, 0);
  EXPECT_EQ(engine.ActiveWorkers(), 1);
  EXPECT_EQ(engine.QueuedJobs(), 2u);

  EXPECT_EQ(engine.UpdateAll(sites), 2) << "the running and waiting sites are not queued again";
  progress = engine.Progress();
  EXPECT_EQ(progress.total, 5);
  EXPECT_EQ(progress.done, 0);
  EXPECT_EQ(engine.QueuedJobs(), 4u);

  listener_.Release();
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
  for (const auto& site : sites) {
    EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnecting), 1) << site->nickname;
    EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
  }
  progress = engine.Progress();
  EXPECT_TRUE(progress.finished);
  EXPECT_EQ(progress.done, 5);
  EXPECT_EQ(progress.total, 5);
}

TEST_F(UpdateEngineTest, UpdateOfSubdirectoryCrawlsOnlyThatSubtree) {
  auto server = Start();
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  auto site = MakeSite(*server, "sub");
  const std::vector<std::shared_ptr<CFTPSite>> sites{site};
  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
  ASSERT_EQ(StatusText(site->Status()), kStatusSucceeded);

  served_.AddFile("a/new.txt", "12345");
  served_.AddFile("b/new.txt", "123456");
  served_.AddFile("new-top.txt");
  server->ClearCommands();
  CFTPDir* a = FindDir(*site, "a");
  ASSERT_NE(a, nullptr);
  const UpdateProgress before = engine.Progress();
  ASSERT_TRUE(engine.UpdateSelected(site, a));
  EXPECT_FALSE(engine.UpdateSelected(site, a)) << "already waiting";
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
  EXPECT_EQ(site->updateState.load(), kUpdateSucceeded);
  std::set<std::string> expected = kFullTree;
  expected.insert("a/new.txt 5");
  EXPECT_EQ(LiveListing(*site), expected);
  EXPECT_EQ(SavedListing(*site, data_.path()), expected);
  EXPECT_EQ(CountCommand(*server, "MLSD /a"), 1);
  EXPECT_EQ(CountCommand(*server, "MLSD /b"), 0);
  EXPECT_EQ(CountCommand(*server, "MLSD /"), 0);
  EXPECT_TRUE(before.finished);
  EXPECT_EQ(engine.Progress().total, 1) << "an update of one directory counts one site";
  // A partial update, not a success of the whole site.
  const auto health = ReadSiteHealth(site->DataDirectory(data_.path()));
  ASSERT_TRUE(health);
  EXPECT_NE(health->lastPartial, 0);
  EXPECT_LE(health->lastSuccess, health->lastPartial);
  EXPECT_EQ(health->entries, kFullTree.size()) << "the figures of the whole update stay";
}

TEST_F(UpdateEngineTest, UpdateSelectedRefusesForeignDirectoriesAndRemovedSites) {
  auto server = Start();
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  auto site = MakeSite(*server, "one");
  auto other = MakeSite(*server, "two");
  CFTPDir* foreign = other->rootDir->AddSubdir(std::make_unique<CFTPDir>("x"));
  EXPECT_FALSE(engine.UpdateSelected(site, foreign));
  // Unlinked by an update, not yet destroyed by the front end: its parent
  // pointer still leads to the site.
  CFTPDir* gone = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("gone"));
  CFTPDir* below = gone->AddSubdir(std::make_unique<CFTPDir>("below"));
  std::unique_ptr<CFTPDir> unlinked = std::move(site->rootDir->subdirs.back());
  site->rootDir->subdirs.pop_back();
  EXPECT_FALSE(engine.UpdateSelected(site, gone));
  EXPECT_FALSE(engine.UpdateSelected(site, below));
  EXPECT_FALSE(engine.UpdateSelected(nullptr, nullptr));
  other->removed.store(true);
  EXPECT_FALSE(engine.UpdateSelected(other, nullptr));
  EXPECT_EQ(engine.UpdateAll({other, nullptr}), 0);
  EXPECT_EQ(site->updateState.load(), kNeverUpdated);
  EXPECT_EQ(other->updateState.load(), kNeverUpdated);
  EXPECT_FALSE(engine.HasWork());
  EXPECT_TRUE(listener_.Events().empty());
}

TEST_F(UpdateEngineTest, StopLeavesQueuedSitesStoppedAndSavesWhatRunningSitesMerged) {
  PyFtpOptions options;
  // The crawl of every site hangs in the listing of /b, after / and /a
  // were merged, until the stop has been given.
  options.faults.push_back({FtpFault::Command::kList, "/b", FtpFault::Action::kSilence, "",
                            FtpFault::kUntilReleased, 0, -1});
  auto server = Start(options);
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path(), kPatient);
  ASSERT_TRUE(engine.SetMaxWorkers(2));
  std::vector<std::shared_ptr<CFTPSite>> sites;
  for (int i = 0; i < 5; ++i) sites.push_back(MakeSite(*server, "st" + std::to_string(i)));

  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return CountCommand(*server, "MLSD /b") == 2; }));
  engine.Stop();
  EXPECT_TRUE(engine.StopRequested());
  // The listings of /b now arrive after the stop.
  server->Release();
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
  ASSERT_TRUE(WaitUntil([&] { return !engine.DispatcherRunning(); }));

  for (int i = 0; i < 5; ++i) {
    const auto& site = sites[i];
    EXPECT_EQ(site->updateState.load(), kUpdateStopped) << i;
    if (i < 2) {
      EXPECT_EQ(StatusText(site->Status()), kStatusStopped) << i;
      // Listed before the stop: the top, and /a or /c if the server listed
      // them before /b; never the inside of /b.
      const auto saved = SavedListing(*site, data_.path());
      for (const char* entry : {"top.txt 1", "a/", "b/", "c/"})
        EXPECT_TRUE(saved.count(entry)) << i;
      EXPECT_FALSE(saved.count("b/y.txt 3")) << i;
      EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnected), 1);
    } else {
      EXPECT_EQ(StatusText(site->Status()), kStatusStoppedQueued) << i;
      EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnecting), 0) << i;
      EXPECT_FALSE(std::filesystem::exists(site->DataDirectory(data_.path()))) << i;
    }
  }
  EXPECT_TRUE(engine.Progress().finished);
}

TEST_F(UpdateEngineTest, CommandDuringStopRunsNewJobsOnceAfterTheStoppedWorkerEnds) {
  auto server = Start();
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  ASSERT_TRUE(engine.SetMaxWorkers(1));
  std::vector<std::shared_ptr<CFTPSite>> sites;
  for (int i = 0; i < 4; ++i) sites.push_back(MakeSite(*server, "r" + std::to_string(i)));

  listener_.Hold(sites[0].get(), kStatusConnecting);
  engine.UpdateAll(sites);
  ASSERT_TRUE(listener_.WaitUntilHeld());
  engine.Stop();
  // Whether or not the dispatcher has drained the stopped jobs yet, the
  // waiting sites are stopped and queued again, the running one is not.
  EXPECT_EQ(engine.UpdateAll(sites), 3);
  EXPECT_FALSE(engine.StopRequested());
  for (int i = 1; i < 4; ++i) EXPECT_EQ(StatusText(sites[i]->Status()), kStatusWaiting) << i;
  listener_.Release();
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  EXPECT_EQ(StatusText(sites[0]->Status()), kStatusStopped);
  EXPECT_EQ(listener_.CountOf(sites[0].get(), kStatusConnecting), 1);
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(StatusText(sites[i]->Status()), kStatusSucceeded) << i;
    EXPECT_EQ(listener_.CountOf(sites[i].get(), kStatusConnecting), 1) << i;
  }
  // The stopped worker ended before any job of the new command connected.
  const auto events = listener_.Events();
  std::size_t stopped = 0, firstNew = events.size();
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (!events[i].fromEngine) continue;
    if (events[i].site == sites[0].get() && events[i].text == kStatusStopped) stopped = i;
    if (events[i].site != sites[0].get() && events[i].text == kStatusConnecting)
      firstNew = std::min(firstNew, i);
  }
  EXPECT_LT(stopped, firstNew);
  const UpdateProgress progress = engine.Progress();
  EXPECT_TRUE(progress.finished);
  EXPECT_EQ(progress.total, 7);
}

TEST_F(UpdateEngineTest, ConnectionFailureIsReportedAndNotRetried) {
  PyFtpOptions options;
  options.user = "alice";
  options.password = "secret";
  auto server = Start(options);
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  // Logins and faults are counted per connection: one per site.
  ASSERT_TRUE(engine.SetConnectionsPerSite(1));
  const CClosedPort closed;
  ASSERT_NE(closed.port(), 0);
  auto unreachable = MakeSite(*server, "closed");
  unreachable->port = closed.port();
  // Anonymous update against a server without anonymous logins.
  auto refused = MakeSite(*server, "anon");
  // The stored login, and only the low 16 bits of the port.
  auto good = MakeSite(*server, "alice");
  good->password = "secret";
  good->anonymousUpdate = false;
  good->port = 0x10000u + server->port();
  auto wrongPassword = MakeSite(*server, "alice");
  wrongPassword->password = "wrong";
  wrongPassword->anonymousUpdate = false;
  wrongPassword->host = "localhost";  // a key of its own
  const std::vector<std::shared_ptr<CFTPSite>> sites{unreachable, refused, good, wrongPassword};

  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  for (const auto& site : {unreachable, refused, wrongPassword}) {
    const std::string text = StatusText(site->Status());
    EXPECT_TRUE(text.starts_with(kStatusFailed)) << text;
    EXPECT_GT(text.size(), kStatusFailed.size()) << "the error text follows";
    EXPECT_LE(text.size(), kStatusFailed.size() + kMaxConnectErrorBytes);
    EXPECT_EQ(site->updateState.load(), kUpdateFailed);
    EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnecting), 1) << "no retry";
    EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnected), 0);
    EXPECT_EQ(site->retryCount.load(), 0);
    // No catalog, only the health record with the error.
    EXPECT_FALSE(std::filesystem::exists(site->DataDirectory(data_.path()) / "content.ct"));
    const std::optional<SiteHealth> health = ReadSiteHealth(site->DataDirectory(data_.path()));
    ASSERT_TRUE(health.has_value());
    EXPECT_FALSE(health->HasSucceeded());
    EXPECT_TRUE(health->Failing());
  }
  EXPECT_EQ(StatusText(good->Status()), kStatusSucceeded);
  const auto commands = server->Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER anonymous"), 1);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER alice"), 2);
}

TEST_F(UpdateEngineTest, ExtraConnectionsRefusedByTheServerAreNoError) {
  // vsftpd refuses a third connection from one address with 421 before the
  // login: two of the site's eight connections get in.
  for (int i = 0; i < 12; ++i) served_.AddFile("d" + std::to_string(i) + "/f", "f");
  auto started = CFtpServer::StartVsftpd(served_.path(), 2);
  if (started.unavailable) GTEST_SKIP() << started.error;
  ASSERT_TRUE(started.server) << started.error;
  CUpdateEngine engine(listener_, data_.path());
  ASSERT_TRUE(engine.SetConnectionsPerSite(8));
  EXPECT_FALSE(engine.SetConnectionsPerSite(17));
  auto site = MakeSite(*started.server, "limited");
  const std::vector<std::shared_ptr<CFTPSite>> sites{site};
  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
  EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
  EXPECT_FALSE(site->GetCrawlCounts().any());
  // Each directory and file of the tree, the fixture's seven lines included.
  EXPECT_EQ(LiveListing(*site).size(), 12u * 2 + 7);
}

TEST_F(UpdateEngineTest, TransientFailureIsResumedAtTheDirectoryWhereItBrokeOff) {
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/b", FtpFault::Action::kDrop, "", 0, 0, 1});
  auto server = Start(options);
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  // Logins and faults are counted per connection: one per site.
  ASSERT_TRUE(engine.SetConnectionsPerSite(1));
  auto site = MakeSite(*server, "resume");
  const std::vector<std::shared_ptr<CFTPSite>> sites{site};

  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
  EXPECT_EQ(site->retryCount.load(), 1);
  EXPECT_EQ(site->resumePending.load(), 0);
  EXPECT_EQ(LiveListing(*site), kFullTree);
  EXPECT_EQ(SavedListing(*site, data_.path()), kFullTree);
  // The second connection went straight to /b: / and /a were listed once.
  EXPECT_EQ(CountCommand(*server, "MLSD /"), 1);
  EXPECT_EQ(CountCommand(*server, "MLSD /a"), 1);
  EXPECT_EQ(CountCommand(*server, "MLSD /b"), 2);
  EXPECT_EQ(CountCommand(*server, "MLSD /c"), 1);

  const auto events = listener_.Events();
  const auto resuming = std::find_if(events.begin(), events.end(), [](const auto& event) {
    return event.text.ends_with(kStatusResuming);
  });
  ASSERT_NE(resuming, events.end());
  EXPECT_TRUE(resuming->text.starts_with(kStatusBrokenOff)) << resuming->text;
  EXPECT_EQ(resuming->state, kUpdateRunning);
  EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnecting), 2);
  const UpdateProgress progress = engine.Progress();
  EXPECT_EQ(progress.total, 1) << "a resumption is not counted again";
  // A first crawl that resumed is still one summary record.
  EXPECT_EQ(JournalLines(*site, data_.path()),
            std::vector<std::string>{"1 first +" + std::to_string(kFullTree.size()) + " -0 ~0"});
}

// A directory whose listing fails every time, however it fails, costs one
// resumption: then it is given up for this update, counted, kept as stored
// with its subtree, and the rest of the site is fetched. The next update
// tries it again.
TEST_F(UpdateEngineTest, DirectoryThatAlwaysFailsIsGivenUpAndTheRestOfTheSiteIsFetched) {
  using namespace std::chrono_literals;
  // Replies not held by a fault come well within these on a loaded
  // machine; a listing dripped at two bytes a second does not clear the
  // floor of 16 bytes in 2 s, and each of its gaps is shorter than the
  // time-outs.
  FtpTimeouts quick{5000ms, 3000ms, 3000ms};
  quick.lowSpeedBytes = 16;
  quick.lowSpeedWindow = 2000ms;
  struct Case {
    const char* name;
    FtpFault fault;
  };
  const Case cases[] = {
      {"drop", {FtpFault::Command::kList, "/b", FtpFault::Action::kDrop, "", 0, 0, -1}},
      {"time-out",
       {FtpFault::Command::kList, "/b", FtpFault::Action::kSilence, "", FtpFault::kUntilReleased, 0,
        -1}},
      {"drip", {FtpFault::Command::kList, "/b", FtpFault::Action::kDrip, "", 0.5, 0, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTempTree served;
    served.AddFile("a/x.txt", "xx");
    served.AddFile("b/y.txt", "yyy");
    served.AddFile("b/deep/d.txt", "d");
    served.AddFile("c/z.txt", "zzzz");
    const auto start = [&](const PyFtpOptions& options) {
      auto started = CFtpServer::StartPyftpdlib(served.path(), options);
      EXPECT_TRUE(started.server) << started.error;
      return std::move(started.server);
    };
    CUpdateEngine engine(listener_, data_.path(), quick);
    auto clean = start({});
    ASSERT_TRUE(clean);
    auto site = MakeSite(*clean, std::string("give-up-") + c.name);
    const std::vector<std::shared_ptr<CFTPSite>> sites{site};
    engine.UpdateAll(sites);
    ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
    ASSERT_EQ(StatusText(site->Status()), kStatusSucceeded);
    const std::set<std::string> stored = LiveListing(*site);
    clean.reset();

    served.AddFile("a/more.txt", "mm");
    served.AddFile("b/new.txt", "n");
    served.AddFile("c/more.txt", "mmm");
    std::filesystem::remove(served.path() / "b/y.txt");
    PyFtpOptions options;
    options.faults.push_back(c.fault);
    auto faulty = start(options);
    ASSERT_TRUE(faulty);
    site->port = faulty->port();
    engine.UpdateAll(sites);
    ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
    EXPECT_EQ(site->Status().outcome, SiteStatus::Outcome::kSucceeded)
        << StatusText(site->Status());
    EXPECT_EQ(site->GetCrawlCounts(), CrawlCounts{.listingsIncomplete = 1});
    EXPECT_EQ(site->resumePending.load(), 0);
    std::set<std::string> expected = stored;
    expected.insert({"a/more.txt 2", "c/more.txt 3"});
    EXPECT_EQ(LiveListing(*site), expected);
    EXPECT_EQ(SavedListing(*site, data_.path()), expected);
    // The update and its resumption are one record of what changed.
    const std::vector<std::string> journal = JournalLines(*site, data_.path());
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal.back(), "1 +2 -0 ~0 /a/more.txt /c/more.txt");
    faulty->Release();
    faulty.reset();

    auto again = start({});
    ASSERT_TRUE(again);
    site->port = again->port();
    engine.UpdateAll(sites);
    ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
    EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
    EXPECT_FALSE(site->GetCrawlCounts().any());
    EXPECT_TRUE(LiveListing(*site).contains("b/new.txt 1"));
    EXPECT_FALSE(LiveListing(*site).contains("b/y.txt 3"));
  }
}

// A root whose listing drips is given up like any other directory: one
// resumption, then the site keeps its stored tree and the update ends with
// the listing counted as incomplete, instead of a try per resumption.
TEST_F(UpdateEngineTest, DrippingRootIsGivenUpAfterOneResumption) {
  using namespace std::chrono_literals;
  FtpTimeouts quick{5000ms, 3000ms, 3000ms};
  quick.lowSpeedBytes = 16;
  quick.lowSpeedWindow = 2000ms;
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/", FtpFault::Action::kDrip, "", 0.5, 0, -1});
  auto server = Start(options);
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path(), quick);
  ASSERT_TRUE(engine.SetConnectionsPerSite(1));
  engine.SetRecursiveListing(false);
  auto site = MakeSite(*server, "drip-root");
  const std::vector<std::shared_ptr<CFTPSite>> sites{site};
  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
  EXPECT_EQ(site->Status().outcome, SiteStatus::Outcome::kSucceeded) << StatusText(site->Status());
  EXPECT_EQ(site->GetCrawlCounts(), CrawlCounts{.listingsIncomplete = 1});
  EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnecting), 2);
  server->Release();
}

TEST_F(UpdateEngineTest, FifthTransientFailureIsNotResumed) {
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/", FtpFault::Action::kReset, "", 0, 1, -1});
  // The server stops answering after each failure, so the root is never
  // given up as a directory that fails while the server answers.
  options.faults.push_back({FtpFault::Command::kNoop, "/", FtpFault::Action::kReset, "", 0, 0, -1});
  auto server = Start(options);
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  // Logins and faults are counted per connection: one per site.
  ASSERT_TRUE(engine.SetConnectionsPerSite(1));
  auto site = MakeSite(*server, "broken");
  const std::vector<std::shared_ptr<CFTPSite>> sites{site};

  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  const std::string text = StatusText(site->Status());
  EXPECT_TRUE(text.starts_with(kStatusBrokenOff)) << text;
  EXPECT_EQ(text.find('\t'), std::string::npos) << text;
  EXPECT_EQ(site->updateState.load(), kUpdateStopped);
  EXPECT_EQ(site->retryCount.load(), CUpdateEngine::kMaxResumptions);
  EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnecting), 5);
  // Five attempts, and a probe of the server (a new login) after each of
  // the last four broke off where it began.
  EXPECT_EQ(CountCommand(*server, "USER anonymous"), 9);
  // What was merged before each break is saved.
  EXPECT_TRUE(std::filesystem::exists(site->DataDirectory(data_.path()) / "content.ct"));

  // The count is per run of the program, not per command: the next update
  // that breaks off is not resumed at all.
  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
  EXPECT_EQ(listener_.CountOf(site.get(), kStatusConnecting), 6);
  EXPECT_EQ(StatusText(site->Status()).find('\t'), std::string::npos);
}

TEST_F(UpdateEngineTest, CloseWithNothingRunningReturnsAtOnce) {
  {
    CUpdateEngine engine(listener_, data_.path());
    engine.Close();
    EXPECT_FALSE(engine.DispatcherRunning());
    EXPECT_FALSE(engine.HasWork());
    engine.Close();  // again: nothing to do
  }
  EXPECT_TRUE(listener_.Events().empty());

  // After an update the dispatcher idles until a stop; Close ends it.
  auto server = Start();
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  auto site = MakeSite(*server, "idle");
  const std::vector<std::shared_ptr<CFTPSite>> sites{site};
  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));
  EXPECT_TRUE(engine.DispatcherRunning());
  const std::size_t eventsBefore = listener_.Events().size();
  engine.Close();
  EXPECT_FALSE(engine.DispatcherRunning());
  EXPECT_EQ(listener_.Events().size(), eventsBefore);
  EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
}

TEST_F(UpdateEngineTest, CloseDuringUpdatesBreaksBlockedCallsAndWaitsForEveryWorker) {
  PyFtpOptions options;
  // A server that stops answering in the middle of every crawl until the
  // connection is closed.
  options.faults.push_back({FtpFault::Command::kList, "/a", FtpFault::Action::kSilence, "",
                            FtpFault::kUntilReleased, 0, -1});
  auto server = Start(options);
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path(), kPatient);
  ASSERT_TRUE(engine.SetMaxWorkers(3));
  std::vector<std::shared_ptr<CFTPSite>> sites;
  for (int i = 0; i < 5; ++i) sites.push_back(MakeSite(*server, "c" + std::to_string(i)));

  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return CountCommand(*server, "MLSD /a") == 3; }));
  EXPECT_EQ(engine.ActiveWorkers(), 3);
  engine.Close();

  EXPECT_EQ(engine.ActiveWorkers(), 0);
  EXPECT_FALSE(engine.HasWork());
  EXPECT_FALSE(engine.DispatcherRunning());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(sites[i]->updateState.load(), kUpdateStopped) << i;
    EXPECT_EQ(StatusText(sites[i]->Status()), i < 3 ? kStatusStopped : kStatusStoppedQueued) << i;
  }
  // The blocked sites saved what they had merged: the top of the tree.
  for (int i = 0; i < 3; ++i) {
    const auto saved = SavedListing(*sites[i], data_.path());
    EXPECT_TRUE(saved.count("top.txt 1")) << i;
    EXPECT_FALSE(saved.count("a/x.txt 2")) << i;
  }
  EXPECT_EQ(sites[0]->resumePending.load(), 1) << "broken off inside /a";
}

TEST_F(UpdateEngineTest, DeletedSiteIsSkippedWhileQueuedAndNotSavedWhileRunning) {
  PyFtpOptions options;
  // The first crawl waits in /a until the test has deleted its site.
  options.faults.push_back({FtpFault::Command::kList, "/a", FtpFault::Action::kSilence, "",
                            FtpFault::kUntilReleased, 0, 1});
  auto server = Start(options);
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path(), kPatient);
  ASSERT_TRUE(engine.SetMaxWorkers(1));
  auto running = MakeSite(*server, "running");
  auto queued = MakeSite(*server, "queued");
  auto kept = MakeSite(*server, "kept");
  std::vector<std::shared_ptr<CFTPSite>> sites{running, queued, kept};
  std::weak_ptr<CFTPSite> runningRecord = running;

  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return CountCommand(*server, "MLSD /a") == 1; }));
  // What the document's delete command does: flag, then drop from the list.
  running->removed.store(true);
  queued->removed.store(true);
  const CFTPSite* queuedRecord = queued.get();
  sites = {kept};
  running.reset();
  queued.reset();
  EXPECT_FALSE(runningRecord.expired()) << "the worker still holds the site";
  server->Release();

  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine) && runningRecord.expired(); }));
  EXPECT_EQ(StatusText(kept->Status()), kStatusSucceeded);
  EXPECT_EQ(listener_.CountOf(queuedRecord, kStatusConnecting), 0);
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "Data" / "127.0.0.1@running"));
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "Data" / "127.0.0.1@queued"));
  EXPECT_TRUE(std::filesystem::exists(kept->DataDirectory(data_.path()) / "content.ct"));
}

TEST_F(UpdateEngineTest, RemovedEntriesReachTheListenerAndMarksSurviveInTheStateFile) {
  auto server = Start();
  ASSERT_TRUE(server);
  CUpdateEngine engine(listener_, data_.path());
  auto site = MakeSite(*server, "sweep");
  const std::vector<std::shared_ptr<CFTPSite>> sites{site};
  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  // The window clears the marks of /a; then /c vanishes from the server.
  CFTPDir* a = FindDir(*site, "a");
  ASSERT_NE(a, nullptr);
  a->readState.store(0);
  a->files.front()->readState.store(0);
  site->stateDirty.store(true);
  served_.Remove("c");
  engine.UpdateAll(sites);
  ASSERT_TRUE(WaitUntil([&] { return Finished(sites, engine); }));

  EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
  EXPECT_EQ(listener_.RemovedDirCount(), 1u);
  EXPECT_FALSE(site->stateDirty.load());
  CFTPSite saved;
  saved.host = site->host;
  saved.userName = site->userName;
  saved.password = site->password;
  const auto dir = site->DataDirectory(data_.path());
  saved.LoadCatalog(dir / "content.ct");
  ASSERT_TRUE(saved.LoadState(dir / "state.st"));
  EXPECT_EQ(test::CatalogLines(*saved.rootDir),
            (std::set<std::string>{"top.txt 1", "a/", "a/x.txt 2", "b/", "b/y.txt 3"}));
  for (const auto& sub : saved.rootDir->subdirs) {
    EXPECT_EQ(sub->readState.load() != 0, sub->name() != "a") << sub->name();
  }
}

// Counts the notices that the work has ended and notes, at each, whether
// the engine still had work.
class WorkEndListener final : public IEngineListener {
 public:
  void PostSiteStatus(std::shared_ptr<CFTPSite>) override {}
  void PostEntryRemoved(std::unique_ptr<CFTPDir>) override {}
  void PostEntryRemoved(std::unique_ptr<CFTPFile>) override {}
  void PostWorkEnded() override {
    const bool hadWork = engine->HasWork();
    std::lock_guard lock(mutex);
    ++notices;
    workAtNotice = workAtNotice || hadWork;
    ended.notify_all();
  }

  CUpdateEngine* engine = nullptr;
  std::mutex mutex;
  std::condition_variable ended;
  int notices = 0;
  bool workAtNotice = false;
};

TEST_F(UpdateEngineTest, EndOfTheWorkIsAnnouncedOnceWhenTheLastWorkerHasEnded) {
  auto server = Start();
  ASSERT_TRUE(server);
  WorkEndListener listener;
  CUpdateEngine engine(listener, data_.path());
  listener.engine = &engine;
  ASSERT_TRUE(engine.SetMaxWorkers(2));
  std::vector<std::shared_ptr<CFTPSite>> sites;
  for (int i = 0; i < 3; ++i) sites.push_back(MakeSite(*server, "e" + std::to_string(i)));
  engine.UpdateAll(sites);
  {
    std::unique_lock lock(listener.mutex);
    ASSERT_TRUE(listener.ended.wait_for(lock, std::chrono::seconds(60),
                                        [&] { return listener.notices > 0; }));
  }
  engine.Close();
  std::lock_guard lock(listener.mutex);
  EXPECT_EQ(listener.notices, 1);
  EXPECT_FALSE(listener.workAtNotice);
  for (const auto& site : sites) EXPECT_EQ(StatusText(site->Status()), kStatusSucceeded);
}

}  // namespace
}  // namespace orvane
