// The update engine under load, for ThreadSanitizer: 100 sites on several
// local servers (fast, slow, failing, changing, unreachable), 50 workers, a
// stop and a restart in the middle, a site deleted while it runs, and a
// front-end thread that meanwhile browses, searches and clears marks the way
// the window does, and receives and destroys the removed entries.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "catalog/catalog_loader.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "tests/support/catalog_lines.h"
#include "tests/support/closed_port.h"
#include "tests/support/ftp_server.h"
#include "tests/support/temp_tree.h"
#include "update/status_text.h"
#include "update/update_engine.h"

namespace orvane {
namespace {

using test::CFtpServer;
using test::CTempTree;
using test::FtpFault;
using test::PyFtpOptions;

// The window's side: notifications are queued here by engine threads and
// handled on the front-end thread only.
class QueueListener final : public IEngineListener {
 public:
  struct Event {
    std::shared_ptr<CFTPSite> site;
    std::unique_ptr<CFTPDir> dir;
    std::unique_ptr<CFTPFile> file;
  };

  void PostSiteStatus(std::shared_ptr<CFTPSite> site) override {
    Push({std::move(site), nullptr, nullptr});
  }
  void PostEntryRemoved(std::unique_ptr<CFTPDir> dir) override {
    Push({nullptr, std::move(dir), nullptr});
  }
  void PostEntryRemoved(std::unique_ptr<CFTPFile> file) override {
    Push({nullptr, nullptr, std::move(file)});
  }

  // Front-end thread: everything queued so far, waiting a little if empty.
  std::deque<Event> Take() {
    std::unique_lock lock(mutex_);
    queued_.wait_for(lock, std::chrono::milliseconds(2), [this] { return !events_.empty(); });
    return std::exchange(events_, {});
  }

 private:
  void Push(Event event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    queued_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Event> events_;
};

// A tree of 10 directories with 5 files each, the first two with two
// subdirectories of two files: 14 directories. Small on purpose: every
// listing opens a data connection whose port then waits out TIME_WAIT, and
// loopback has only about 28,000 ephemeral ports for a whole test run.
constexpr int kTopDirs = 10;
constexpr int kWithSubdirs = 2;
constexpr int kSubdirs = 2;

void FillTree(CTempTree& tree) {
  for (int d = 0; d < kTopDirs; ++d) {
    const std::string dir = "d" + std::to_string(d);
    for (int f = 0; f < 5; ++f) {
      tree.AddFile(dir + "/f" + std::to_string(f), std::string(d + f, 'x'));
    }
    if (d < kWithSubdirs) {
      for (int s = 0; s < kSubdirs; ++s) {
        const std::string sub = dir + "/s" + std::to_string(s);
        tree.AddFile(sub + "/g0", "g");
        tree.AddFile(sub + "/g1", "gg");
      }
    }
  }
}

std::set<std::string> ExpectedTree() {
  std::set<std::string> out;
  for (int d = 0; d < kTopDirs; ++d) {
    const std::string dir = "d" + std::to_string(d) + "/";
    out.insert(dir);
    for (int f = 0; f < 5; ++f)
      out.insert(dir + "f" + std::to_string(f) + " " + std::to_string(d + f));
    if (d < kWithSubdirs) {
      for (int s = 0; s < kSubdirs; ++s) {
        const std::string sub = dir + "s" + std::to_string(s) + "/";
        out.insert(sub);
        out.insert(sub + "g0 1");
        out.insert(sub + "g1 2");
      }
    }
  }
  return out;
}

// What the window's walks do: each directory's child lists are copied under
// the site's lock and the copy is used after the lock is released. Removed
// entries stay alive until this thread destroys them, which it never does
// in the middle of a walk.
struct Snapshot {
  std::vector<CFTPDir*> dirs;
  std::vector<CFTPFile*> files;
};
Snapshot TakeSnapshot(const CFTPSite& site, const CFTPDir& dir) {
  std::lock_guard lock(site.lock);
  Snapshot snapshot;
  for (const auto& sub : dir.subdirs) snapshot.dirs.push_back(sub.get());
  for (const auto& file : dir.files) snapshot.files.push_back(file.get());
  return snapshot;
}

enum class Kind { kFast, kChanging, kSlow, kFailing, kUnreachable };

Kind KindOf(int index) {
  const int slot = index % 20;
  if (slot < 6) return Kind::kFast;
  if (slot < 12) return Kind::kChanging;
  if (slot < 15) return Kind::kSlow;
  if (slot < 19) return Kind::kFailing;
  return Kind::kUnreachable;
}

class FrontEnd {
 public:
  FrontEnd(const std::filesystem::path& programDir, std::vector<std::shared_ptr<CFTPSite>>& list)
      : programDir_(programDir), list_(list) {}

  // One unit of the window's own work on a random site of the list.
  void Work() {
    if (list_.empty()) return;
    CFTPSite& site = *list_[random_() % list_.size()];
    EnsureCatalogLoaded(site, programDir_);
    switch (random_() % 3) {
      case 0:
        Browse(site);
        break;
      case 1:
        Search(site);
        break;
      default:
        ClearMarks(site);
        break;
    }
  }

  std::size_t hits() const { return hits_; }

 private:
  void Browse(CFTPSite& site) {
    // Down one random path, reading what the file list shows.
    const CFTPDir* dir = site.rootDir.get();
    while (dir != nullptr) {
      const Snapshot snapshot = TakeSnapshot(site, *dir);
      for (const CFTPFile* file : snapshot.files) {
        sizes_ += file->size.load();
        if (file->readState.load() != 0) ++hits_;
      }
      if (!snapshot.files.empty()) {
        const std::string path = snapshot.files.front()->GetDisplayPath();
        if (!path.starts_with("ftp://")) ADD_FAILURE() << path;
      }
      dir = snapshot.dirs.empty() ? nullptr : snapshot.dirs[random_() % snapshot.dirs.size()];
    }
    (void)site.hasNewEntries.load();
    (void)StatusText(site.Status());
  }

  void Search(const CFTPSite& site) {
    std::vector<const CFTPDir*> pending{site.rootDir.get()};
    while (!pending.empty()) {
      const CFTPDir* dir = pending.back();
      pending.pop_back();
      const Snapshot snapshot = TakeSnapshot(site, *dir);
      for (const CFTPFile* file : snapshot.files) {
        if (file->name().find('1') != std::string_view::npos) ++hits_;
      }
      for (const CFTPDir* sub : snapshot.dirs) {
        if (sub->name().find('1') != std::string_view::npos) ++hits_;
        pending.push_back(sub);
      }
    }
  }

  void ClearMarks(CFTPSite& site) {
    std::vector<CFTPDir*> pending{site.rootDir.get()};
    while (!pending.empty()) {
      CFTPDir* dir = pending.back();
      pending.pop_back();
      const Snapshot snapshot = TakeSnapshot(site, *dir);
      for (CFTPFile* file : snapshot.files) file->readState.store(0);
      for (CFTPDir* sub : snapshot.dirs) {
        sub->readState.store(0);
        pending.push_back(sub);
      }
    }
    site.stateDirty.store(true);
  }

  std::filesystem::path programDir_;
  std::vector<std::shared_ptr<CFTPSite>>& list_;
  std::minstd_rand random_{12345};
  std::uint64_t sizes_ = 0;
  std::size_t hits_ = 0;
};

TEST(EngineStressTest, HundredSitesWithStopRestartDeletionAndABusyFrontEnd) {
  CTempTree fastTree, changingTree, slowTree, failingTree, data;
  FillTree(fastTree);
  FillTree(changingTree);
  FillTree(slowTree);
  FillTree(failingTree);

  auto start = [](const CTempTree& tree, const PyFtpOptions& options) {
    auto started = CFtpServer::StartPyftpdlib(tree.path(), options);
    EXPECT_TRUE(started.server) << started.error;
    return std::move(started.server);
  };
  PyFtpOptions slowOptions;
  slowOptions.replyDelayMs = 2;
  // Every slow crawl pauses here, so some slow site is surely running
  // when the front end deletes one.
  slowOptions.faults.push_back(
      {FtpFault::Command::kList, "/d2", FtpFault::Action::kSilence, "", 0.4, 0, -1});
  PyFtpOptions failingOptions;
  failingOptions.faults = {
      {FtpFault::Command::kList, "/d3", FtpFault::Action::kDrop, "", 0, 2, 30},
      {FtpFault::Command::kList, "/d5", FtpFault::Action::kReset, "", 0, 0, 15},
      {FtpFault::Command::kList, "/d7", FtpFault::Action::kReply, "550 Not now.", 0, 0, -1},
      // The directory change that tells a refused listing from a refused
      // directory.
      {FtpFault::Command::kCwd, "/d7", FtpFault::Action::kReset, "", 0, 0, 15},
      {FtpFault::Command::kList, "/d9", FtpFault::Action::kStall, "", 0.05, 1, -1},
  };
  auto fast = start(fastTree, {});
  auto changing = start(changingTree, {});
  auto slow = start(slowTree, slowOptions);
  auto failing = start(failingTree, failingOptions);
  ASSERT_TRUE(fast && changing && slow && failing);
  const test::CClosedPort closed;
  ASSERT_NE(closed.port(), 0);
  const std::uint16_t closedPort = closed.port();

  std::vector<std::shared_ptr<CFTPSite>> list;
  for (int i = 0; i < 100; ++i) {
    auto site = std::make_shared<CFTPSite>();
    const Kind kind = KindOf(i);
    const CFtpServer& server = kind == Kind::kFast       ? *fast
                               : kind == Kind::kChanging ? *changing
                               : kind == Kind::kSlow     ? *slow
                                                         : *failing;
    site->host = server.host();
    site->port = kind == Kind::kUnreachable ? closedPort : server.port();
    site->userName = "site" + std::to_string(i);
    site->password = "pw";
    site->anonymousUpdate = true;
    list.push_back(site);
  }
  std::map<const CFTPSite*, Kind> kinds;
  for (int i = 0; i < 100; ++i) kinds[list[i].get()] = KindOf(i);
  auto kindOf = [&](const CFTPSite* site) { return kinds.at(site); };

  // Changes the changing server's tree while it is being crawled.
  std::atomic<bool> mutating{true};
  auto mutate = [&] {
    // In d6 to d9, which stay; the front end takes d4 away at the stop.
    for (int made = 0; mutating.load(); ++made) {
      changingTree.AddFile("d" + std::to_string(6 + made % 4) + "/m" + std::to_string(made), "m");
      if (made >= 3) {
        changingTree.Remove("d" + std::to_string(6 + (made - 3) % 4) + "/m" +
                            std::to_string(made - 3));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  struct JoinGuard {
    std::atomic<bool>& flag;
    std::thread thread;
    ~JoinGuard() {
      flag.store(false);
      thread.join();
    }
  } mutator{mutating, std::thread(mutate)};

  QueueListener listener;
  FrontEnd frontEnd(data.path(), list);
  std::size_t removedDirs = 0, removedFiles = 0;
  std::weak_ptr<CFTPSite> deleted;
  std::string deletedKey;
  int changingDoneBeforeStop = 0;
  {
    // No reply may time out here, however loaded the machine: the faults
    // that break crawls off are dropped and reset connections.
    CUpdateEngine engine(
        listener, data.path(),
        FtpTimeouts{std::chrono::minutes(1), std::chrono::minutes(1), std::chrono::minutes(1)});
    ASSERT_TRUE(engine.SetMaxWorkers(50));
    EXPECT_EQ(engine.UpdateAll(list), 100);

    enum class Phase { kFirstRun, kRestarted, kDeleted } phase = Phase::kFirstRun;
    std::set<const CFTPSite*> ended;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(600);
    for (;;) {
      for (QueueListener::Event& event : listener.Take()) {
        if (event.dir) ++removedDirs;
        if (event.file) ++removedFiles;
        // Dropped here, on the front-end thread, between walks.
        event.dir.reset();
        event.file.reset();
        if (!event.site) continue;
        const int state = event.site->updateState.load();
        if (state != kUpdateRunning && state != kNeverUpdated) ended.insert(event.site.get());
        if (phase == Phase::kRestarted && state == kUpdateRunning &&
            StatusText(event.site->Status()) == kStatusConnected && !event.site->removed.load() &&
            kindOf(event.site.get()) != Kind::kUnreachable) {
          // The document's delete command: flag, drop from the list, remove
          // the files.
          event.site->removed.store(true);
          deleted = event.site;
          deletedKey = event.site->siteKey();
          list.erase(std::find(list.begin(), list.end(), event.site));
          DeleteDataDirectory(data.path(), deletedKey);
          phase = Phase::kDeleted;
        }
      }

      if (phase == Phase::kFirstRun && ended.size() >= 25) {
        engine.Stop();
        for (const auto& site : list) {
          if (kindOf(site.get()) == Kind::kChanging && site->updateState.load() == kUpdateSucceeded)
            ++changingDoneBeforeStop;
        }
        // Between two crawls a whole directory goes away.
        changingTree.Remove("d4");
        // Restart while the stopped dispatcher is still draining.
        engine.UpdateAll(list);
        phase = Phase::kRestarted;
      }
      if (phase != Phase::kFirstRun && !engine.HasWork() &&
          std::all_of(list.begin(), list.end(),
                      [](const auto& site) { return site->updateState.load() != kUpdateRunning; }))
        break;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "updates did not end";

      frontEnd.Work();
      const UpdateProgress progress = engine.Progress();
      EXPECT_LE(progress.done, progress.total);
    }
    EXPECT_EQ(phase, Phase::kDeleted) << "no running site was seen to delete";
    engine.Close();
    EXPECT_EQ(engine.ActiveWorkers(), 0);
    EXPECT_FALSE(engine.HasWork());
    EXPECT_TRUE(engine.Progress().finished);
  }
  // Notifications posted before Close returned are still handled.
  for (QueueListener::Event& event : listener.Take()) {
    if (event.dir) ++removedDirs;
    if (event.file) ++removedFiles;
  }

  EXPECT_TRUE(deleted.expired()) << "the engine let go of the deleted site";
  EXPECT_FALSE(std::filesystem::exists(data.path() / "Data" / deletedKey))
      << "a deleted site is not saved";
  EXPECT_EQ(list.size(), 99u);
  if (changingDoneBeforeStop > 0) {
    EXPECT_GT(removedDirs, 0u);
  }
  EXPECT_GT(frontEnd.hits(), 0u);

  // A site whose stopped worker was still finishing when the update was
  // given again is not queued again and ends stopped.
  const std::set<std::string> expected = ExpectedTree();
  int succeeded = 0, stopped = 0;
  for (const auto& site : list) {
    const Kind kind = kindOf(site.get());
    const int state = site->updateState.load();
    const std::string text = StatusText(site->Status());
    EXPECT_NE(state, kUpdateRunning) << site->userName;
    EXPECT_NE(state, kNeverUpdated) << site->userName;
    if (state == kUpdateSucceeded) ++succeeded;
    if (state == kUpdateStopped && text == kStatusStopped) {
      ++stopped;
      continue;
    }
    switch (kind) {
      case Kind::kUnreachable:
        EXPECT_EQ(state, kUpdateFailed) << site->userName;
        EXPECT_TRUE(text.starts_with(kStatusFailed)) << text;
        break;
      case Kind::kFast:
        EXPECT_EQ(state, kUpdateSucceeded) << site->userName << " " << text;
        if (state == kUpdateSucceeded) {
          std::lock_guard lock(site->lock);
          EXPECT_EQ(test::CatalogLines(*site->rootDir), expected) << site->userName;
        }
        break;
      case Kind::kFailing:
        if (state == kUpdateStopped) {
          EXPECT_TRUE(text.starts_with(kStatusBrokenOff)) << text;
          EXPECT_EQ(text.find('\t'), std::string::npos) << text;
        } else {
          EXPECT_EQ(state, kUpdateSucceeded) << text;
        }
        break;
      case Kind::kChanging:
      case Kind::kSlow:
        EXPECT_EQ(state, kUpdateSucceeded) << site->userName << " " << text;
        break;
    }
    if (state == kUpdateSucceeded) {
      EXPECT_TRUE(std::filesystem::exists(site->DataDirectory(data.path()) / "content.ct"));
    }
  }
  // Only sites whose workers ran at the stop can have ended so.
  EXPECT_LE(stopped, 50);
  std::printf("%d sites succeeded, %d stopped; %zu directories and %zu files removed\n", succeeded,
              stopped, removedDirs, removedFiles);
}

}  // namespace
}  // namespace orvane
