#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/orvane_doc.h"
#include "tests/document/walk_test_support.h"

namespace orvane {
namespace {

using doc_test::AddDir;
using doc_test::AddFile;
using doc_test::AddSite;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kNoUnreadFiles[] = "没有未读文件！";

// Every mark below `dir`, its own excluded.
std::vector<int> MarksBelow(const CFTPDir& dir) {
  std::vector<int> marks;
  for (const auto& sub : dir.subdirs) {
    marks.push_back(sub->readState);
    const std::vector<int> inner = MarksBelow(*sub);
    marks.insert(marks.end(), inner.begin(), inner.end());
  }
  for (const auto& file : dir.files) marks.push_back(file->readState);
  return marks;
}

bool AllRead(const CFTPDir& dir) {
  for (int mark : MarksBelow(dir)) {
    if (mark != 0) return false;
  }
  return true;
}

// Three sites with the same shape:
//   new/          (new)
//     inner.txt   (unread)
//   old/
//     fresh.txt   (unread)
//     seen.txt
//   top.txt       (unread)
class NewFilesTest : public doc_test::DocumentTest {
 protected:
  void SetUp() override {
    for (const char* host : {"updated.example", "failed.example", "idle.example"}) {
      auto site = AddSite(doc, host);
      CFTPDir* root = site->rootDir.get();
      CFTPDir* fresh = AddDir(root, "new", 1);
      AddFile(fresh, "inner.txt", 1);
      CFTPDir* old = AddDir(root, "old");
      AddFile(old, "fresh.txt", 1);
      AddFile(old, "seen.txt");
      AddFile(root, "top.txt", 1);
      sites.push_back(site);
    }
    sites[0]->updateState = kUpdateSucceeded;
    sites[1]->updateState = kUpdateFailed;
    sites[2]->updateState = kNeverUpdated;
  }

  std::vector<std::shared_ptr<CFTPSite>> sites;
};

TEST_F(NewFilesTest, ThisUpdateListsOnlySitesUpdatedInThisRun) {
  doc.ShowNewFiles(1);
  // The new directory once, not its files; the failed and idle sites not at
  // all, though they have unread files from an earlier run.
  EXPECT_THAT(host.results,
              ElementsAre("ftp://updated.example/new", "ftp://updated.example/old/fresh.txt",
                          "ftp://updated.example/top.txt"));
  EXPECT_THAT(host.messages, IsEmpty());
  EXPECT_THAT(host.begins, ElementsAre(3));
  EXPECT_THAT(host.progress, ElementsAre(1, 2, 3));
  EXPECT_EQ(host.ends, 1);
}

TEST_F(NewFilesTest, ThisUpdateCountsStoppedRunningAndWaitingSites) {
  sites[0]->updateState = kUpdateStopped;
  sites[1]->updateState = kUpdateRunning;
  sites[2]->updateState = kUpdateFailed;
  doc.ShowNewFiles(1);
  EXPECT_EQ(host.results.size(), 6u);
}

TEST_F(NewFilesTest, ThisUpdateWithNothingUpdatedShowsTheMessage) {
  sites[0]->updateState = kNeverUpdated;
  doc.ShowNewFiles(1);
  EXPECT_THAT(host.results, IsEmpty());
  EXPECT_THAT(host.messages, ElementsAre(kNoUnreadFiles));
}

TEST_F(NewFilesTest, ThisUpdateReadsNoCatalog) {
  // A site waiting for its update whose catalog has not been read.
  auto stored = std::make_shared<CFTPSite>();
  stored->host = "waiting.example";
  stored->password = kAnonymousPassword;
  AddFile(stored->rootDir.get(), "new.bin", 1);
  ASSERT_TRUE(stored->SaveCatalog(scratch.path()));
  ASSERT_TRUE(stored->SaveState(scratch.path()));
  auto waiting = std::make_shared<CFTPSite>();
  waiting->host = "waiting.example";
  waiting->password = kAnonymousPassword;
  waiting->updateState = kUpdateRunning;
  doc_test::ClearSites(doc);
  doc.AppendSite(waiting);
  doc.ShowNewFiles(1);
  EXPECT_EQ(waiting->loadState.load(), kNotLoaded);
  EXPECT_THAT(host.messages, ElementsAre(kNoUnreadFiles));

  // All sites: the catalog is read and its unread file listed.
  host.messages.clear();
  doc.ShowNewFiles(2);
  EXPECT_EQ(waiting->loadState.load(), kLoaded);
  EXPECT_THAT(host.results, ElementsAre("ftp://waiting.example/new.bin"));
  EXPECT_THAT(host.messages, IsEmpty());
}

TEST_F(NewFilesTest, AllSitesListsEverySite) {
  doc.ShowNewFiles(2);
  EXPECT_EQ(host.results.size(), 9u);
  EXPECT_EQ(doc.resultDirs.size(), 3u);
  EXPECT_EQ(doc.resultFiles.size(), 6u);
}

TEST_F(NewFilesTest, StoppedListingShowsNoMessage) {
  host.stopAtCall = 1;
  doc.ShowNewFiles(2);
  EXPECT_THAT(host.results, IsEmpty());
  EXPECT_THAT(host.messages, IsEmpty());
  EXPECT_EQ(host.ends, 1);
}

TEST_F(NewFilesTest, NoSitesNoMessage) {
  doc_test::ClearSites(doc);
  doc.ShowNewFiles(2);
  EXPECT_THAT(host.messages, IsEmpty());
  EXPECT_EQ(host.ends, 1);
}

TEST_F(NewFilesTest, SetShownFilesReadClearsTheBrowsedFilesNotTheResults) {
  doc.ShowNewFiles(2);
  CFTPDir* old = sites[1]->rootDir->subdirs[1].get();
  doc.ShowDirectory(old);
  doc.SetShownFilesRead();
  EXPECT_EQ(old->files[0]->readState, 0);
  EXPECT_TRUE(sites[1]->stateDirty);
  EXPECT_FALSE(sites[0]->stateDirty);
  // The results are still shown, and the others' marks are untouched.
  EXPECT_EQ(doc.resultFiles.size(), 6u);
  EXPECT_EQ(sites[0]->rootDir->files[0]->readState, 1);
  EXPECT_EQ(sites[1]->rootDir->files[0]->readState, 1);
}

TEST_F(NewFilesTest, ClearingReadEntriesLeavesTheSiteClean) {
  CFTPDir* old = sites[0]->rootDir->subdirs[1].get();
  old->files[0]->readState = 0;
  doc.ShowDirectory(old);
  doc.SetShownFilesRead();
  EXPECT_FALSE(sites[0]->stateDirty);

  // And a whole tree that is already read.
  auto clean = AddSite(doc, "clean.example");
  AddFile(AddDir(clean->rootDir.get(), "d"), "f");
  doc.SetDirRead(clean->rootDir.get());
  doc.SetSitesRead(2);
  EXPECT_FALSE(clean->stateDirty);
  EXPECT_TRUE(sites[2]->stateDirty);
}

TEST_F(NewFilesTest, SetSitesReadThisUpdateLeavesOtherSitesAlone) {
  doc.SetSitesRead(1);
  EXPECT_TRUE(AllRead(*sites[0]->rootDir));
  EXPECT_TRUE(sites[0]->stateDirty);
  EXPECT_FALSE(AllRead(*sites[1]->rootDir));
  EXPECT_FALSE(AllRead(*sites[2]->rootDir));
  EXPECT_FALSE(sites[1]->stateDirty);
  // hasNewEntries is a tree-node matter only.
  sites[0]->hasNewEntries = true;
  doc.SetSitesRead(2);
  for (const auto& site : sites) EXPECT_TRUE(AllRead(*site->rootDir));
  EXPECT_TRUE(sites[0]->hasNewEntries);
  EXPECT_THAT(host.messages, IsEmpty());
}

TEST_F(NewFilesTest, ClearingStopsWhenAStopIsQueued) {
  host.stopAtCall = 1;
  doc.SetSitesRead(2);
  EXPECT_FALSE(AllRead(*sites[0]->rootDir));
  EXPECT_FALSE(doc.MarkDirsRead({sites[0]->rootDir->subdirs[0].get()}));
  EXPECT_EQ(sites[0]->rootDir->subdirs[0]->readState, 1);
  for (const auto& site : sites) EXPECT_FALSE(site->stateDirty);
}

TEST_F(NewFilesTest, MarkDirsReadClearsTheListedDirectoriesAndEverythingBelow) {
  CFTPDir* fresh = sites[0]->rootDir->subdirs[0].get();
  AddFile(AddDir(fresh, "deeper", 1), "deep.txt", 1);
  EXPECT_TRUE(doc.MarkDirsRead({fresh}));
  EXPECT_EQ(fresh->readState, 0);
  EXPECT_TRUE(AllRead(*fresh));
  EXPECT_EQ(sites[0]->rootDir->files[0]->readState, 1);
}

TEST_F(NewFilesTest, SetReadOnASiteRootClearsItsNewFlag) {
  const auto& site = sites[0];
  site->hasNewEntries = true;
  doc.SetTreeNodeRead(site->rootDir.get());
  EXPECT_FALSE(site->hasNewEntries);
  EXPECT_TRUE(AllRead(*site->rootDir));
  EXPECT_TRUE(site->stateDirty);
}

TEST_F(NewFilesTest, SetReadOnADirectoryKeepsItsOwnMarkAndTheSiteFlag) {
  const auto& site = sites[0];
  site->hasNewEntries = true;
  CFTPDir* fresh = site->rootDir->subdirs[0].get();
  AddFile(AddDir(fresh, "deeper", 1), "deep.txt", 1);
  doc.SetTreeNodeRead(fresh);
  EXPECT_TRUE(site->hasNewEntries);
  EXPECT_EQ(fresh->readState, 1);
  EXPECT_TRUE(AllRead(*fresh));
  // Outside the directory nothing changed.
  EXPECT_EQ(site->rootDir->files[0]->readState, 1);
  EXPECT_EQ(site->rootDir->subdirs[1]->files[0]->readState, 1);
  doc.SetTreeNodeRead(nullptr);  // no selection: nothing happens
}

TEST_F(NewFilesTest, ShowUpdatesListsNewEntriesBelowTheDirectory) {
  const auto& site = sites[0];
  doc.ShowUpdates(site->rootDir->subdirs[1].get());
  EXPECT_THAT(host.results, ElementsAre("ftp://updated.example/old/fresh.txt"));
  // The new directory itself is not listed when it is the one chosen.
  doc.ShowUpdates(site->rootDir->subdirs[0].get());
  EXPECT_THAT(host.results, ElementsAre("ftp://updated.example/new/inner.txt"));
  // Nothing new: an empty list and no message.
  doc.SetDirRead(site->rootDir.get());
  doc.ShowUpdates(site->rootDir.get());
  EXPECT_THAT(host.results, IsEmpty());
  EXPECT_THAT(doc.resultFiles, IsEmpty());
  EXPECT_THAT(host.messages, IsEmpty());
  EXPECT_EQ(host.clearCalls, 3);
}

}  // namespace
}  // namespace orvane
