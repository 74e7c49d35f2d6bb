#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "document/name_matcher.h"
#include "document/orvane_doc.h"
#include "tests/document/walk_test_support.h"

namespace orvane {
namespace {

using doc_test::AddDir;
using doc_test::AddFile;
using doc_test::AddSite;
using ::testing::ElementsAre;

constexpr char kNothingFound[] = "对不起，没有找到你要的文件！";

// a.example
//   Docs/
//     abc stuff/
//       inner.txt
//     xABCx.txt
//     readme
//   zabcz/
//   Abc
// b.example (user u)
//   nothing
class SearchTest : public doc_test::DocumentTest {
 protected:
  void SetUp() override {
    siteA = AddSite(doc, "a.example");
    CFTPDir* root = siteA->rootDir.get();
    docs = AddDir(root, "Docs");
    stuff = AddDir(docs, "abc stuff");
    AddFile(stuff, "inner.txt");
    AddFile(docs, "xABCx.txt");
    AddFile(docs, "readme");
    zabcz = AddDir(root, "zabcz");
    AddFile(root, "Abc");
    siteB = AddSite(doc, "b.example", "u", "p");
    AddFile(siteB->rootDir.get(), "nothing");
  }

  void Search(std::string_view typed) { doc.Search(FoldKeyword(typed)); }

  std::shared_ptr<CFTPSite> siteA;
  std::shared_ptr<CFTPSite> siteB;
  CFTPDir* docs = nullptr;
  CFTPDir* stuff = nullptr;
  CFTPDir* zabcz = nullptr;
};

TEST_F(SearchTest, CapitalKeywordFindsEveryMixOfCasesInWalkOrder) {
  Search("ABC");
  // A directory before its contents; a directory's own files after all its
  // subdirectories; the root's files last.
  EXPECT_THAT(host.results,
              ElementsAre("ftp://a.example/Docs/abc stuff", "ftp://a.example/Docs/xABCx.txt",
                          "ftp://a.example/zabcz", "ftp://a.example/Abc"));
  EXPECT_THAT(doc.resultDirs, ElementsAre(stuff, zabcz));
  EXPECT_EQ(doc.resultFiles.size(), 2u);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_THAT(host.begins, ElementsAre(2));
  EXPECT_THAT(host.progress, ElementsAre(1, 2));
  EXPECT_EQ(host.ends, 1);
  EXPECT_EQ(host.clearCalls, 1);
}

TEST_F(SearchTest, FindsOfOneKindInARowReachTheHostTogether) {
  Search("");
  // Docs, abc stuff | inner.txt, xABCx.txt, readme | zabcz | Abc, then the
  // pump before the second site | nothing.
  EXPECT_THAT(host.batches, ElementsAre(2, 3, 1, 1, 1));
}

TEST_F(SearchTest, EmptyKeywordListsEveryEntryButNoRoot) {
  Search("");
  EXPECT_THAT(host.results, ElementsAre("ftp://a.example/Docs", "ftp://a.example/Docs/abc stuff",
                                        "ftp://a.example/Docs/abc stuff/inner.txt",
                                        "ftp://a.example/Docs/xABCx.txt",
                                        "ftp://a.example/Docs/readme", "ftp://a.example/zabcz",
                                        "ftp://a.example/Abc", "ftp://b.example@u/nothing"));
  EXPECT_EQ(doc.resultDirs.size() + doc.resultFiles.size(), host.results.size());
}

TEST_F(SearchTest, NewKeywordListsNewDirectoriesWithoutEnteringThem) {
  docs->readState = 1;
  stuff->readState = 1;           // inside a new directory: not listed
  docs->files[0]->readState = 1;  // likewise
  AddFile(zabcz, "fresh", 1);     // in a known directory: listed
  AddFile(zabcz, "old", 0);
  siteA->rootDir->files[0]->readState = 1;  // Abc
  Search("#NEW");
  EXPECT_THAT(host.results, ElementsAre("ftp://a.example/Docs", "ftp://a.example/zabcz/fresh",
                                        "ftp://a.example/Abc"));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SearchTest, NothingFoundShowsOneMessage) {
  Search("no such name");
  EXPECT_TRUE(host.results.empty());
  EXPECT_THAT(host.messages, ElementsAre(kNothingFound));
  EXPECT_EQ(host.ends, 1);
}

TEST_F(SearchTest, StopQueuedBeforeTheSearchEndsItAtOnceWithoutMessage) {
  host.stopAtCall = 1;
  Search("");
  EXPECT_EQ(host.pumpCalls, 1);
  EXPECT_TRUE(host.results.empty());
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(host.ends, 1);
}

TEST_F(SearchTest, StopDuringTheWalkKeepsResultsFoundSoFar) {
  doc.pumpSlice = {};  // pump after every entry
  // Calls: start of site a, Docs, abc stuff (a match) -> stop.
  host.stopAtCall = 3;
  Search("abc");
  EXPECT_THAT(host.results, ElementsAre("ftp://a.example/Docs/abc stuff"));
  EXPECT_THAT(doc.resultDirs, ElementsAre(stuff));
  EXPECT_TRUE(host.messages.empty());
  // Site b was never begun.
  EXPECT_THAT(host.progress, ElementsAre(1));
}

TEST_F(SearchTest, StopSeenAmongTheRootFilesTakesEffectWithTheNextSite) {
  doc.pumpSlice = {};
  AddFile(siteA->rootDir.get(), "abc2");
  // Calls: site a (1), Docs (2), abc stuff (3), inner.txt (4), xABCx.txt
  // (5), readme (6), zabcz (7), then the root's match Abc (8).
  host.stopAtCall = 8;
  Search("abc");
  // The root's other match is still listed; site b is begun but not walked.
  EXPECT_THAT(host.results,
              ElementsAre("ftp://a.example/Docs/abc stuff", "ftp://a.example/Docs/xABCx.txt",
                          "ftp://a.example/zabcz", "ftp://a.example/Abc", "ftp://a.example/abc2"));
  EXPECT_THAT(host.progress, ElementsAre(1, 2));
  EXPECT_EQ(host.pumpCalls, 8);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SearchTest, NoSitesNoMessage) {
  doc_test::ClearSites(doc);
  Search("abc");
  EXPECT_TRUE(host.messages.empty());
  EXPECT_THAT(host.begins, ElementsAre(0));
  EXPECT_EQ(host.ends, 1);
  EXPECT_EQ(host.pumpCalls, 0);
}

TEST_F(SearchTest, NewSearchReplacesTheResultsOfTheLastOne) {
  Search("abc");
  ASSERT_FALSE(doc.resultDirs.empty());
  Search("readme");
  EXPECT_THAT(doc_test::ResultPaths(doc), ElementsAre("ftp://a.example/Docs/readme"));
  EXPECT_EQ(host.clearCalls, 2);
}

// A name matches as its site shows it: a keyword typed in Chinese finds a
// GBK site's name and a UTF-8 site's name alike, and nothing a site's
// charset does not show.
TEST_F(SearchTest, FindsNamesAsTheirSiteShowsThem) {
  CFTPDir* gbkRoot = siteA->rootDir.get();
  AddFile(gbkRoot, "\xCE\xC4\xB5\xB5.txt");  // 文档 in GBK
  AddFile(gbkRoot, "\xB5\xCE\xC4\xB5");      // CE C4 across two characters
  AddFile(siteB->rootDir.get(), "\xE6\x96\x87\xE6\xA1\xA3.doc");  // 文档 in UTF-8
  const std::string gbkHit = "ftp://a.example/\xCE\xC4\xB5\xB5.txt";
  const std::string utf8Hit = "ftp://b.example@u/\xE6\x96\x87\xE6\xA1\xA3.doc";
  const struct {
    NameCharset a;
    NameCharset b;
    std::vector<std::string> found;
  } cases[] = {
      {NameCharset::kGbk, NameCharset::kUtf8, {gbkHit, utf8Hit}},
      {NameCharset::kGbk, NameCharset::kGbk, {gbkHit}},
      {NameCharset::kUtf8, NameCharset::kUtf8, {utf8Hit}},
      {NameCharset::kBig5, NameCharset::kAuto, {utf8Hit}},
  };
  for (const auto& c : cases) {
    siteA->charset = c.a;
    siteB->charset = c.b;
    Search("\xE6\x96\x87\xE6\xA1\xA3");
    EXPECT_EQ(host.results, c.found) << CharsetName(c.a) << " " << CharsetName(c.b);
  }
  // Big5 reads the GBK bytes as other characters: found by those.
  siteA->charset = NameCharset::kBig5;
  Search(DecodeName("\xCE\xC4\xB5\xB5", NameCharset::kBig5));
  EXPECT_EQ(host.results, std::vector<std::string>{gbkHit});
}

TEST_F(SearchTest, LoadsCatalogsNotReadYet) {
  // A site whose catalog is on disk only.
  auto stored = std::make_shared<CFTPSite>();
  stored->host = "c.example";
  stored->userName = "anonymous";
  stored->password = kAnonymousPassword;
  AddFile(AddDir(stored->rootDir.get(), "pub"), "ABC.iso");
  ASSERT_TRUE(stored->SaveCatalog(scratch.path()));
  auto fresh = std::make_shared<CFTPSite>();
  fresh->host = "c.example";
  fresh->userName = "anonymous";
  fresh->password = kAnonymousPassword;
  doc_test::ClearSites(doc);
  doc.AppendSite(fresh);
  Search("abc");
  EXPECT_EQ(fresh->loadState.load(), kLoaded);
  EXPECT_THAT(host.results, ElementsAre("ftp://c.example/pub/ABC.iso"));
}

TEST_F(SearchTest, SearchInDirLeavesOutTheDirectoryItself) {
  docs->readState = 1;
  stuff->readState = 1;
  AddFile(stuff, "new.txt", 1);
  docs->files[1]->readState = 1;  // readme
  ASSERT_TRUE(doc.SearchInDir(docs, "#new"));
  EXPECT_THAT(host.results,
              ElementsAre("ftp://a.example/Docs/abc stuff", "ftp://a.example/Docs/readme"));
}

TEST_F(SearchTest, SearchDirsReportsAStop) {
  host.stopAtCall = 1;
  EXPECT_FALSE(doc.SearchDirs({docs}, ""));
  EXPECT_TRUE(host.results.empty());
  host.stopAtCall = 0;
  EXPECT_TRUE(doc.SearchDirs({docs}, "xabcx"));
  EXPECT_THAT(host.results, ElementsAre("ftp://a.example/Docs/xABCx.txt"));
}

TEST_F(SearchTest, EntryRemovedDuringTheWalkIsNeitherListedNorFreedEarly) {
  doc.pumpSlice = {};
  // After Docs is tested, an update removes zabcz (still in the walk's copy
  // of the root's list) the way a worker hands removed entries over.
  host.onPump = [&](int call) {
    if (call != 2) return;
    std::unique_ptr<CFTPDir> removed;
    {
      std::lock_guard lock(siteA->lock);
      auto& subdirs = siteA->rootDir->subdirs;
      removed = std::move(subdirs[1]);
      subdirs.erase(subdirs.begin() + 1);
    }
    doc.OnEntryRemoved(std::move(removed));
  };
  Search("abc");
  EXPECT_THAT(host.results, ElementsAre("ftp://a.example/Docs/abc stuff",
                                        "ftp://a.example/Docs/xABCx.txt", "ftp://a.example/Abc"));
  EXPECT_THAT(doc.resultDirs, ElementsAre(stuff));
}

TEST_F(SearchTest, SiteDeletedDuringTheWalkAddsNoMoreResults) {
  doc.pumpSlice = {};
  host.onPump = [&](int call) {
    if (call == 2) doc.DeleteSite("a.example");
  };
  Search("");
  // Docs was listed before the delete; the lists hold nothing of the site.
  EXPECT_EQ(host.results.front(), "ftp://a.example/Docs");
  EXPECT_EQ(doc.sites().size(), 1u);
  for (const CFTPFile* file : doc.resultFiles) EXPECT_EQ(file->GetSite(), siteB.get());
  for (const CFTPDir* dir : doc.resultDirs) EXPECT_EQ(dir->GetSite(), siteB.get());
  EXPECT_THAT(doc.resultFiles.size(), 1u);
}

TEST_F(SearchTest, PumpsOnATimeSliceNotAfterEveryEntry) {
  CFTPDir* big = AddDir(siteB->rootDir.get(), "big");
  constexpr int kFiles = 20000;
  for (int i = 0; i < kFiles; ++i) AddFile(big, "f" + std::to_string(i));
  Search("f1");
  EXPECT_FALSE(host.results.empty());
  // One call per site start, and at most one per 256 entries after that.
  EXPECT_GE(host.pumpCalls, 2);
  EXPECT_LE(host.pumpCalls, 2 + (kFiles + 16) / 256);
}

}  // namespace
}  // namespace orvane
