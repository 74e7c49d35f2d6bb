// Back, Forward and Up through visited catalog directories.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

class HistoryTest : public ::testing::Test {
 protected:
  HistoryTest() : doc(dir.path(), host) {
    for (const char* host : {"one", "two"}) {
      auto site = std::make_shared<CFTPSite>();
      site->host = host;
      site->userName = "u";
      site->password = "p";
      doc.AppendSite(site);
    }
    // one: root / d0 .. d24, each with a file; d0 / inner.
    CFTPDir* root = doc.sites()[0]->rootDir.get();
    for (int i = 0; i < 25; ++i) {
      CFTPDir* d = root->AddSubdir(std::make_unique<CFTPDir>("d" + std::to_string(i)));
      d->AddFile(CFTPFile::Make("f" + std::to_string(i), i));
      dirs.push_back(d);
    }
    root->AddFile(CFTPFile::Make("top", 1));
    inner = dirs[0]->AddSubdir(std::make_unique<CFTPDir>("inner"));
    // two: root / other with a file.
    other = doc.sites()[1]->rootDir->AddSubdir(std::make_unique<CFTPDir>("other"));
    other->AddFile(CFTPFile::Make("o", 1));
  }

  CFTPDir* Root(int site) const { return doc.sites()[site]->rootDir.get(); }
  static std::vector<CFTPDir*> Dirs(const std::deque<std::unique_ptr<DirNode>>& list) {
    std::vector<CFTPDir*> result;
    for (const auto& node : list) result.push_back(node->directory);
    return result;
  }

  test::CTempTree dir;
  IDocumentHost host;
  COrvaneDoc doc;
  std::vector<CFTPDir*> dirs;
  CFTPDir* inner = nullptr;
  CFTPDir* other = nullptr;
};

TEST_F(HistoryTest, EverythingIsDisabledAtStartAndDoesNothing) {
  EXPECT_FALSE(doc.CanGoBack());
  EXPECT_FALSE(doc.CanGoForward());
  EXPECT_FALSE(doc.CanGoUp());
  EXPECT_EQ(doc.GoBack(), nullptr);
  EXPECT_EQ(doc.GoForward(), nullptr);
  EXPECT_EQ(doc.GoUp(), nullptr);
  EXPECT_EQ(doc.currentNode, nullptr);
  EXPECT_TRUE(doc.backList.empty());
  EXPECT_TRUE(doc.forwardList.empty());
}

TEST_F(HistoryTest, FirstStepCreatesTheCurrentNodeWithoutHistory) {
  doc.RecordStep(dirs[3]);
  ASSERT_NE(doc.currentNode, nullptr);
  EXPECT_EQ(doc.currentNode->directory, dirs[3]);
  EXPECT_FALSE(doc.CanGoBack());
  EXPECT_TRUE(doc.CanGoUp());
}

TEST_F(HistoryTest, BackListKeepsTheLatestTwentyEarlierLocations) {
  for (int i = 0; i < 21; ++i) doc.RecordStep(dirs[i]);
  // Twenty-one selections leave twenty earlier locations: all of them.
  ASSERT_EQ(doc.backList.size(), 20u);
  EXPECT_EQ(doc.backList.front()->directory, dirs[0]);
  EXPECT_EQ(doc.backList.back()->directory, dirs[19]);

  doc.RecordStep(dirs[21]);
  ASSERT_EQ(doc.backList.size(), COrvaneDoc::kHistoryLimit);
  // The oldest went; the rest kept their order.
  EXPECT_EQ(doc.backList.front()->directory, dirs[1]);
  EXPECT_EQ(doc.backList.back()->directory, dirs[20]);
  EXPECT_EQ(doc.currentNode->directory, dirs[21]);
}

TEST_F(HistoryTest, BackAllTheWayFillsForwardInOrder) {
  for (int i = 0; i < 25; ++i) doc.RecordStep(dirs[i]);
  while (doc.CanGoBack()) doc.GoBack();
  // Twenty steps back from d24 reach d4; forward holds d5..d24.
  EXPECT_EQ(doc.currentNode->directory, dirs[4]);
  ASSERT_EQ(doc.forwardList.size(), 20u);
  EXPECT_EQ(doc.forwardList.front()->directory, dirs[24]);
  EXPECT_EQ(doc.forwardList.back()->directory, dirs[5]);
}

TEST_F(HistoryTest, RepeatedSelectionIsRecordedTwice) {
  doc.RecordStep(dirs[1]);
  doc.RecordStep(dirs[1]);
  EXPECT_EQ(Dirs(doc.backList), std::vector<CFTPDir*>{dirs[1]});
}

TEST_F(HistoryTest, NewSelectionAfterBackEmptiesForward) {
  doc.RecordStep(dirs[0]);
  doc.RecordStep(dirs[1]);
  EXPECT_EQ(doc.GoBack(), dirs[0]);
  EXPECT_TRUE(doc.CanGoForward());
  doc.RecordStep(dirs[2]);
  EXPECT_TRUE(doc.forwardList.empty());
  EXPECT_FALSE(doc.CanGoForward());
  EXPECT_EQ(doc.GoForward(), nullptr);
  EXPECT_EQ(Dirs(doc.backList), (std::vector<CFTPDir*>{dirs[0]}));
}

TEST_F(HistoryTest, BackTwiceThenForwardTwiceRestoresEverything) {
  for (int i = 0; i < 4; ++i) doc.RecordStep(dirs[i]);
  const std::vector<CFTPDir*> backBefore = Dirs(doc.backList);
  EXPECT_EQ(doc.GoBack(), dirs[2]);
  EXPECT_EQ(doc.GoBack(), dirs[1]);
  EXPECT_EQ(Dirs(doc.forwardList), (std::vector<CFTPDir*>{dirs[3], dirs[2]}));
  EXPECT_EQ(doc.GoForward(), dirs[2]);
  EXPECT_EQ(doc.GoForward(), dirs[3]);
  EXPECT_EQ(doc.currentNode->directory, dirs[3]);
  EXPECT_EQ(Dirs(doc.backList), backBefore);
  EXPECT_TRUE(doc.forwardList.empty());
  // Each step showed its directory.
  EXPECT_EQ(doc.browseFiles, std::vector<CFTPFile*>{dirs[3]->files[0].get()});
}

TEST_F(HistoryTest, UpIsDisabledOnASiteRoot) {
  doc.RecordStep(Root(0));
  EXPECT_FALSE(doc.CanGoUp());
  EXPECT_EQ(doc.GoUp(), nullptr);
  EXPECT_TRUE(doc.backList.empty());
  EXPECT_EQ(doc.currentNode->directory, Root(0));
}

TEST_F(HistoryTest, UpFromAFirstLevelDirectoryShowsTheRootAndCanBeUndone) {
  doc.RecordStep(inner);
  doc.RecordStep(dirs[0]);
  doc.GoBack();  // at inner, forward [d0]
  EXPECT_EQ(doc.GoUp(), dirs[0]);
  EXPECT_TRUE(doc.forwardList.empty());
  EXPECT_EQ(doc.GoUp(), Root(0));
  EXPECT_EQ(doc.browseDirs.size(), 25u);
  EXPECT_EQ(doc.browseFiles.size(), 1u);
  EXPECT_EQ(doc.browseFiles[0]->name(), "top");
  EXPECT_FALSE(doc.CanGoUp());
  EXPECT_EQ(Dirs(doc.backList), (std::vector<CFTPDir*>{inner, dirs[0]}));
  EXPECT_EQ(doc.GoBack(), dirs[0]);
  EXPECT_EQ(doc.browseDirs, std::vector<CFTPDir*>{inner});
}

TEST_F(HistoryTest, BackPastASiteRootReachesAnotherSitesDirectory) {
  doc.RecordStep(other);
  doc.RecordStep(Root(0));
  EXPECT_EQ(doc.GoBack(), other);
  EXPECT_EQ(doc.browseFiles, std::vector<CFTPFile*>{other->files[0].get()});
  EXPECT_TRUE(doc.browseDirs.empty());
  EXPECT_TRUE(doc.CanGoUp());
  EXPECT_EQ(doc.GoUp(), Root(1));
  EXPECT_EQ(doc.browseDirs, std::vector<CFTPDir*>{other});
}

TEST_F(HistoryTest, ResultListingsAreNoSteps) {
  doc.RecordStep(dirs[0]);
  doc.RecordStep(dirs[1]);
  doc.ShowDirectory(dirs[1]);
  doc.resultFiles = {dirs[7]->files[0].get()};
  EXPECT_EQ(doc.GoBack(), dirs[0]);
  EXPECT_EQ(doc.browseFiles, std::vector<CFTPFile*>{dirs[0]->files[0].get()});
}

TEST_F(HistoryTest, DirectoriesRemovedByAnUpdateLeaveTheHistory) {
  doc.RecordStep(dirs[0]);
  doc.RecordStep(inner);
  doc.RecordStep(dirs[1]);
  doc.RecordStep(inner);
  doc.RecordStep(dirs[2]);
  doc.GoBack();  // at inner, forward [d2]
  auto& subdirs = dirs[0]->subdirs;
  std::unique_ptr<CFTPDir> removed = std::move(subdirs[0]);
  subdirs.clear();
  doc.OnEntryRemoved(std::move(removed));
  EXPECT_EQ(doc.currentNode, nullptr);
  EXPECT_EQ(Dirs(doc.backList), (std::vector<CFTPDir*>{dirs[0], dirs[1]}));
  EXPECT_EQ(Dirs(doc.forwardList), std::vector<CFTPDir*>{dirs[2]});
  // With no current location, Back does not push one on Forward.
  EXPECT_EQ(doc.GoBack(), dirs[1]);
  EXPECT_EQ(Dirs(doc.forwardList), std::vector<CFTPDir*>{dirs[2]});
  EXPECT_EQ(doc.GoForward(), dirs[2]);
  EXPECT_EQ(Dirs(doc.backList), (std::vector<CFTPDir*>{dirs[0], dirs[1]}));
}

}  // namespace
}  // namespace orvane
