// The engine bridge: notices from engine threads reach the document and the
// front end on the front end's thread, removals in batches, statuses as the
// values they were when posted.
#include "document/engine_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

using ::testing::ElementsAre;
using Outcome = SiteStatus::Outcome;

// The front end's event queue: filled from any thread, run by the test.
class EventQueue {
 public:
  void Post(std::function<void()> event) {
    std::lock_guard guard(mutex_);
    events_.push_back(std::move(event));
  }
  std::size_t size() {
    std::lock_guard guard(mutex_);
    return events_.size();
  }
  void RunAll() {
    for (;;) {
      std::function<void()> event;
      {
        std::lock_guard guard(mutex_);
        if (events_.empty()) return;
        event = std::move(events_.front());
        events_.pop_front();
      }
      event();
    }
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> events_;
};

class Host : public IDocumentHost {
 public:
  // What the removal observer saw: the removed roots' names, read while
  // they must still be alive, and whether the document still listed them.
  std::vector<std::vector<std::string>> removing;
  std::vector<bool> stillBrowsed;
  std::vector<Outcome> statuses;
  const COrvaneDoc* doc = nullptr;

  void EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                       const std::vector<const CFTPFile*>& files) override {
    std::vector<std::string> names;
    for (const CFTPDir* dir : dirs) names.emplace_back(dir->name());
    for (const CFTPFile* file : files) names.emplace_back(file->name());
    removing.push_back(names);
    stillBrowsed.push_back(doc->browseDirs.size() + doc->browseFiles.size() == 4);
  }
  void SiteStatusChanged(const std::shared_ptr<CFTPSite>&, const SiteStatus& status) override {
    statuses.push_back(status.outcome);
  }
};

class EngineBridgeTest : public ::testing::Test {
 protected:
  EngineBridgeTest() : doc(dir.path(), host) {
    host.doc = &doc;
    site = std::make_shared<CFTPSite>();
    site->host = std::string("h");
    site->password = std::string(kAnonymousPassword);
    site->loadState = kLoaded;
    doc.AppendSite(site);
    CFTPDir* root = site->rootDir.get();
    for (const char* name : {"a", "b"}) root->AddSubdir(std::make_unique<CFTPDir>(name));
    for (const char* name : {"x", "y"}) root->AddFile(CFTPFile::Make(name, 1));
    root->subdirs[0]->AddFile(CFTPFile::Make("inside", 1));
    doc.ShowDirectory(root);
    bridge = std::make_unique<CEngineBridge>(
        doc, host, [this](std::function<void()> event) { queue.Post(std::move(event)); });
  }

  // What a sweep does on a worker: unlink under the lock, hand over.
  void RemoveOnWorker() {
    std::thread worker([this] {
      std::lock_guard guard(site->lock);
      CFTPDir* root = site->rootDir.get();
      std::unique_ptr<CFTPDir> a = std::move(root->subdirs[0]);
      std::unique_ptr<CFTPFile> y = std::move(root->files[1]);
      root->subdirs.erase(root->subdirs.begin());
      root->files.pop_back();
      bridge->PostEntryRemoved(std::move(a));
      bridge->PostEntryRemoved(std::move(y));
    });
    worker.join();
  }

  test::CTempTree dir;
  Host host;
  COrvaneDoc doc;
  std::shared_ptr<CFTPSite> site;
  EventQueue queue;
  std::unique_ptr<CEngineBridge> bridge;
};

TEST_F(EngineBridgeTest, RemovalsReachTheViewsInOneBatchBeforeTheDocumentDropsThem) {
  RemoveOnWorker();
  EXPECT_EQ(queue.size(), 1u);
  EXPECT_TRUE(host.removing.empty()) << "nothing happens on the engine's thread";
  queue.RunAll();
  EXPECT_THAT(host.removing, ElementsAre(ElementsAre("a", "y")));
  EXPECT_THAT(host.stillBrowsed, ElementsAre(true));
  ASSERT_EQ(doc.browseDirs.size(), 1u);
  EXPECT_EQ(doc.browseDirs[0]->name(), "b");
  ASSERT_EQ(doc.browseFiles.size(), 1u);
  EXPECT_EQ(doc.browseFiles[0]->name(), "x");
  // The next removal starts a new batch.
  std::thread worker([this] {
    std::lock_guard guard(site->lock);
    std::unique_ptr<CFTPDir> b = std::move(site->rootDir->subdirs[0]);
    site->rootDir->subdirs.clear();
    bridge->PostEntryRemoved(std::move(b));
  });
  worker.join();
  queue.RunAll();
  EXPECT_EQ(host.removing.size(), 2u);
  EXPECT_TRUE(doc.browseDirs.empty());
}

TEST_F(EngineBridgeTest, StatusIsTheValueOfWhenItWasPosted) {
  site->SetOutcome(Outcome::kConnecting, kUpdateRunning);
  bridge->PostSiteStatus(site);
  site->SetOutcome(Outcome::kSucceeded, kUpdateSucceeded);
  bridge->PostSiteStatus(site);
  queue.RunAll();
  EXPECT_THAT(host.statuses, ElementsAre(Outcome::kConnecting, Outcome::kSucceeded));

  // A site deleted before its notice runs is not shown again.
  bridge->PostSiteStatus(site);
  ASSERT_TRUE(doc.DeleteSite("h"));
  queue.RunAll();
  EXPECT_EQ(host.statuses.size(), 2u);
}

TEST_F(EngineBridgeTest, EndingTheBridgeHandsOverWhatIsGatheredAndLeavesLateEventsHarmless) {
  RemoveOnWorker();
  bridge->PostSiteStatus(site);
  bridge.reset();
  // The document was told before the bridge went.
  EXPECT_EQ(host.removing.size(), 1u);
  EXPECT_EQ(doc.browseDirs.size(), 1u);
  queue.RunAll();
  EXPECT_EQ(host.removing.size(), 1u);
  EXPECT_TRUE(host.statuses.empty());
}

}  // namespace
}  // namespace orvane
