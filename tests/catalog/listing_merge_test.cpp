#include "catalog/listing_merge.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"

namespace orvane {
namespace {

// Keeps what the sweep hands over, in order.
class RecordingSink : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile> file) override {
    order.push_back("f:" + std::string(file->name()));
    files.push_back(std::move(file));
  }
  void DirRemoved(std::unique_ptr<CFTPDir> dir) override {
    order.push_back("d:" + std::string(dir->name()));
    dirs.push_back(std::move(dir));
  }
  std::vector<std::string> order;
  std::vector<std::unique_ptr<CFTPFile>> files;
  std::vector<std::unique_ptr<CFTPDir>> dirs;
};

struct Listed {
  std::string name;
  bool isDirectory;
  std::uint64_t size = 0;
};

std::vector<std::string> FileNames(const CFTPDir& dir) {
  std::vector<std::string> names;
  for (const auto& f : dir.files) names.emplace_back(f->name());
  return names;
}

std::vector<std::string> DirNames(const CFTPDir& dir) {
  std::vector<std::string> names;
  for (const auto& d : dir.subdirs) names.emplace_back(d->name());
  return names;
}

// Every case runs twice: on a directory small enough to be scanned, and on
// one padded past the index threshold with entries the listings keep, so the
// hash index decides every lookup.
class ListingMergeTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override {
    site.host = "h";
    site.password = std::string(kAnonymousPassword);
    for (std::size_t i = 0; i < padding(); ++i) {
      root().AddFile(CFTPFile::Make("pad" + std::to_string(i), i));
      root().AddSubdir(std::make_unique<CFTPDir>("pad" + std::to_string(i)));
    }
  }

  std::size_t padding() const { return GetParam(); }
  CFTPDir& root() { return *site.rootDir; }

  // One complete merge of `entries` (plus the padding) into `dir`.
  std::size_t Merge(CFTPDir& dir, const std::vector<Listed>& entries) {
    CListingMerge merge(dir);
    if (&dir == &root()) AddPadding(merge);
    for (const Listed& e : entries) merge.Add(e.name, e.isDirectory, e.size);
    return merge.Sweep(sink);
  }

  void AddPadding(CListingMerge& merge) {
    for (std::size_t i = 0; i < padding(); ++i) {
      merge.Add("pad" + std::to_string(i), false, i);
      merge.Add("pad" + std::to_string(i), true, 0);
    }
  }

  // Names of the root's lists without the padding.
  std::vector<std::string> Files() {
    auto names = FileNames(root());
    return {names.begin() + static_cast<std::ptrdiff_t>(padding()), names.end()};
  }
  std::vector<std::string> Dirs() {
    auto names = DirNames(root());
    return {names.begin() + static_cast<std::ptrdiff_t>(padding()), names.end()};
  }
  CFTPFile& File(std::size_t i) { return *root().files[padding() + i]; }
  CFTPDir& Dir(std::size_t i) { return *root().subdirs[padding() + i]; }

  CFTPSite site;
  RecordingSink sink;
};

using Names = std::vector<std::string>;

TEST_P(ListingMergeTest, NewEntriesGoToTheTailsInListingOrder) {
  Merge(root(), {{"b", false, 1}, {"z", true}, {"a", false, 2}, {"y", true}, {"c", false, 3}});
  EXPECT_EQ(Files(), (Names{"b", "a", "c"}));
  EXPECT_EQ(Dirs(), (Names{"z", "y"}));
  EXPECT_EQ(File(1).size.load(), 2u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(File(i).readState.load(), 1);
    EXPECT_EQ(File(i).seen, 0);
    EXPECT_EQ(File(i).parent, &root());
  }
  EXPECT_EQ(Dir(0).readState.load(), 1);
  EXPECT_EQ(Dir(0).parent, &root());
  EXPECT_TRUE(site.hasNewEntries.load());

  // Known entries stay where they are; more new ones append after them.
  Merge(root(), {{"d", false, 4},
                 {"a", false, 2},
                 {"x", true},
                 {"z", true},
                 {"y", true},
                 {"b", false, 1},
                 {"c", false, 3}});
  EXPECT_EQ(Files(), (Names{"b", "a", "c", "d"}));
  EXPECT_EQ(Dirs(), (Names{"z", "y", "x"}));
}

TEST_P(ListingMergeTest, DotEntriesAreIgnored) {
  Merge(root(), {{".", true}, {"..", true}, {".", false}, {"..", false}, {"...", true}});
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(Dirs(), (Names{"..."}));
}

TEST_P(ListingMergeTest, KnownEntriesKeepTheirMarksAndTakeTheNewSize) {
  Merge(root(), {{"new", false, 10}, {"read", false, 20}, {"dir", true}});
  File(1).readState = 0;  // the user read it
  site.hasNewEntries = false;

  Merge(root(), {{"new", false, 11}, {"read", false, 21}, {"dir", true}});
  EXPECT_EQ(Files(), (Names{"new", "read"}));
  EXPECT_EQ(File(0).size.load(), 11u);
  EXPECT_EQ(File(0).readState.load(), 1);
  EXPECT_EQ(File(1).size.load(), 21u);
  EXPECT_EQ(File(1).readState.load(), 0);
  EXPECT_EQ(Dir(0).readState.load(), 1);
  EXPECT_FALSE(site.hasNewEntries.load());
  EXPECT_TRUE(sink.order.empty());
}

TEST_P(ListingMergeTest, NameListedTwiceYieldsOneEntryWithTheLastSize) {
  Merge(root(), {{"f", false, 1}, {"d", true}, {"f", false, 2}, {"d", true}});
  EXPECT_EQ(Files(), (Names{"f"}));
  EXPECT_EQ(Dirs(), (Names{"d"}));
  EXPECT_EQ(File(0).size.load(), 2u);
  // And once more when the name is already known.
  Merge(root(), {{"f", false, 3}, {"f", false, 4}, {"d", true}, {"d", true}});
  EXPECT_EQ(Files(), (Names{"f"}));
  EXPECT_EQ(Dirs(), (Names{"d"}));
  EXPECT_EQ(File(0).size.load(), 4u);
  EXPECT_TRUE(sink.order.empty());
}

// A name listed twice is journalled once, against the size stored before
// the listing: the catalog keeps the last size, and the record says so.
TEST_P(ListingMergeTest, NameListedTwiceIsJournalledOnceAgainstTheStoredSize) {
  struct Case {
    const char* name;
    std::vector<Listed> listing;  // of "f", stored with size 5 (or absent)
    bool stored;
    std::string journal;  // "kind:path:size:old ..."
    std::uint64_t resized;
  };
  const Case cases[] = {
      {"same twice", {{"f", false, 5}, {"f", false, 5}}, true, "", 0},
      {"away and back", {{"f", false, 6}, {"f", false, 5}}, true, "", 0},
      {"twice the same new size", {{"f", false, 6}, {"f", false, 6}}, true, "3:/f:6:5", 1},
      {"two new sizes", {{"f", false, 6}, {"f", false, 7}}, true, "3:/f:7:5", 1},
      {"same then new", {{"f", false, 5}, {"f", false, 7}}, true, "3:/f:7:5", 1},
      {"back and away", {{"f", false, 6}, {"f", false, 5}, {"f", false, 8}}, true, "3:/f:8:5", 1},
      {"added twice", {{"f", false, 6}, {"f", false, 7}}, false, "1:/f:7:0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFTPSite fresh;
    fresh.host = "h";
    CFTPDir& top = *fresh.rootDir;
    if (c.stored) top.AddFile(CFTPFile::Make("f", 5));
    // A stored entry, so that the record is not a first crawl's.
    top.AddFile(CFTPFile::Make("g", 1));
    fresh.BeginChanges();
    {
      CListingMerge merge(top);
      for (const Listed& e : c.listing) merge.Add(e.name, e.isDirectory, e.size);
      merge.Add("g", false, 1);
      merge.Sweep(sink);
    }
    fresh.EndChanges(JournalRecord::Outcome::kSucceeded);
    ASSERT_EQ(fresh.journalPending.size(), 1u);
    JournalRecord record;
    ASSERT_TRUE(DecodeJournalRecord(fresh.journalPending.front(), record));
    std::string journal;
    for (const JournalEntry& entry : record.entries) {
      journal += (journal.empty() ? "" : " ") + std::to_string(static_cast<int>(entry.kind)) + ":" +
                 entry.path + ":" + std::to_string(entry.size) + ":" +
                 std::to_string(entry.oldSize);
    }
    EXPECT_EQ(journal, c.journal);
    EXPECT_EQ(record.resized, c.resized);
    ASSERT_EQ(top.files.size(), 2u);
    const CFTPFile& f = *top.files[c.stored ? 0 : 1];
    EXPECT_EQ(f.name(), "f");
    EXPECT_EQ(f.size.load(), c.listing.back().size);
  }
}

TEST_P(ListingMergeTest, NamesAreComparedAsBytes) {
  Merge(root(), {{"Readme", false, 1},
                 {"README", false, 2},
                 {"readme", false, 3},
                 {"\xC4\xE3", false, 4},
                 {"\xC4\xE4", false, 5},
                 {std::string("a\0b", 3), false, 6},
                 {"a", false, 7}});
  EXPECT_EQ(Files().size(), 7u);
  Merge(root(), {{"README", false, 20}});
  EXPECT_EQ(Files(), (Names{"README"}));
  EXPECT_EQ(File(0).size.load(), 20u);
}

TEST_P(ListingMergeTest, FileAndDirectoryOfOneNameCoexist) {
  Merge(root(), {{"same", false, 1}, {"same", true}});
  EXPECT_EQ(Files(), (Names{"same"}));
  EXPECT_EQ(Dirs(), (Names{"same"}));
  // Dropping one kind leaves the other.
  Merge(root(), {{"same", true}});
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(Dirs(), (Names{"same"}));
  EXPECT_EQ(sink.order, (Names{"f:same"}));
}

TEST_P(ListingMergeTest, EmptyListingSweepsEverythingFilesFirstInOrder) {
  Merge(root(), {{"d1", true}, {"f1", false}, {"d2", true}, {"f2", false}, {"f3", false}});
  site.hasNewEntries = false;
  CFTPDir* d1 = &Dir(0);
  d1->AddFile(CFTPFile::Make("inner", 1));

  CListingMerge merge(root());
  EXPECT_EQ(merge.Sweep(sink), 5 + 2 * padding());
  EXPECT_TRUE(root().files.empty());
  EXPECT_TRUE(root().subdirs.empty());
  // Padding goes first within each list, then the named entries in order.
  Names expected;
  for (std::size_t i = 0; i < padding(); ++i) expected.push_back("f:pad" + std::to_string(i));
  for (const char* n : {"f:f1", "f:f2", "f:f3"}) expected.push_back(n);
  for (std::size_t i = 0; i < padding(); ++i) expected.push_back("d:pad" + std::to_string(i));
  for (const char* n : {"d:d1", "d:d2"}) expected.push_back(n);
  EXPECT_EQ(sink.order, expected);
  // Removed entries come with their subtrees.
  ASSERT_EQ(sink.dirs[padding()].get(), d1);
  ASSERT_EQ(d1->files.size(), 1u);
  EXPECT_EQ(d1->files[0]->name(), "inner");
  EXPECT_FALSE(site.hasNewEntries.load());
}

TEST_P(ListingMergeTest, DroppedThenRelistedIsNewAgainWithoutItsSubtree) {
  Merge(root(), {{"gone", true}, {"f", false, 1}});
  CFTPDir& gone = Dir(0);
  gone.readState = 0;
  File(0).readState = 0;
  Merge(gone, {{"below", false, 5}, {"sub", true}});
  gone.files[0]->readState = 0;
  site.hasNewEntries = false;

  EXPECT_EQ(Merge(root(), {}), 2u);
  EXPECT_FALSE(site.hasNewEntries.load());

  Merge(root(), {{"gone", true}, {"f", false, 1}});
  EXPECT_TRUE(site.hasNewEntries.load());
  ASSERT_EQ(Dirs(), (Names{"gone"}));
  EXPECT_EQ(Dir(0).readState.load(), 1);
  EXPECT_TRUE(Dir(0).files.empty());
  EXPECT_TRUE(Dir(0).subdirs.empty());
  EXPECT_EQ(File(0).readState.load(), 1);
  // Everything found below it later is new as well.
  Merge(Dir(0), {{"below", false, 5}});
  EXPECT_EQ(Dir(0).files[0]->readState.load(), 1);
}

TEST_P(ListingMergeTest, SurvivorsKeepOrderWhileOthersLeaveInOrder) {
  Merge(root(), {{"a", false},
                 {"b", false},
                 {"c", false},
                 {"d", false},
                 {"e", false},
                 {"A", true},
                 {"B", true},
                 {"C", true}});
  sink.order.clear();
  Merge(root(), {{"e", false}, {"C", true}, {"b", false}, {"d", false}, {"n", false}});
  EXPECT_EQ(Files(), (Names{"b", "d", "e", "n"}));
  EXPECT_EQ(Dirs(), (Names{"C"}));
  EXPECT_EQ(sink.order, (Names{"f:a", "f:c", "d:A", "d:B"}));
}

TEST_P(ListingMergeTest, AbandonedMergeLeavesSeenSoItsEntriesSurviveTheNextSweep) {
  Merge(root(), {{"a", false}, {"b", false}, {"c", false}, {"d", true}});
  {
    // Broken off after two entries: no sweep.
    CListingMerge merge(root());
    AddPadding(merge);
    merge.Add("a", false, 9);
    merge.Add("d", true, 0);
  }
  EXPECT_EQ(File(0).seen, 1);
  EXPECT_EQ(File(0).size.load(), 9u);
  EXPECT_EQ(File(1).seen, 0);
  EXPECT_EQ(Dir(0).seen, 1);

  // The next listing no longer has a or d, yet they stay this once.
  Merge(root(), {{"b", false}});
  EXPECT_EQ(Files(), (Names{"a", "b"}));
  EXPECT_EQ(Dirs(), (Names{"d"}));
  EXPECT_EQ(File(0).seen, 0);
  EXPECT_EQ(Dir(0).seen, 0);
  Merge(root(), {{"b", false}});
  EXPECT_EQ(Files(), (Names{"b"}));
  EXPECT_TRUE(Dirs().empty());
}

TEST_P(ListingMergeTest, FirstOfDuplicateStoredNamesIsTheOneMatched) {
  // A stored catalog may hold one name twice; the first copy is matched and
  // the other one is swept.
  root().AddFile(CFTPFile::Make("dup", 1));
  root().AddFile(CFTPFile::Make("dup", 2));
  root().AddSubdir(std::make_unique<CFTPDir>("dup"));
  root().AddSubdir(std::make_unique<CFTPDir>("dup"));
  CFTPDir* firstDir = &Dir(0);
  Merge(root(), {{"dup", false, 3}, {"dup", true}});
  ASSERT_EQ(Files(), (Names{"dup"}));
  EXPECT_EQ(File(0).size.load(), 3u);
  ASSERT_EQ(Dirs(), (Names{"dup"}));
  EXPECT_EQ(&Dir(0), firstDir);
  ASSERT_EQ(sink.files.size(), 1u);
  EXPECT_EQ(sink.files[0]->size.load(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ListingMergeTest, ::testing::Values(0, 1000), [](const auto& info) {
  return info.param == 0 ? std::string("Scanned") : std::string("Indexed");
});

// Growth from a small directory to a large one inside one merge, where the
// index is built part way through and then grows.
TEST(ListingMergeGrowth, DuplicatesAndOrderAcrossIndexGrowth) {
  CFTPSite site;
  CFTPDir& root = *site.rootDir;
  RecordingSink sink;
  constexpr int kCount = 5000;
  {
    CListingMerge merge(root);
    for (int i = 0; i < kCount; ++i) {
      EXPECT_TRUE(merge.Add("n" + std::to_string(i), false, static_cast<std::uint64_t>(i)));
      // Every name comes twice, the second time further on.
      if (i >= 10) {
        EXPECT_FALSE(merge.Add("n" + std::to_string(i - 10), false, 77));
      }
    }
    EXPECT_EQ(merge.Sweep(sink), 0u);
  }
  ASSERT_EQ(root.files.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(root.files[static_cast<std::size_t>(i)]->name(), "n" + std::to_string(i));
    ASSERT_EQ(root.files[static_cast<std::size_t>(i)]->size.load(),
              i < kCount - 10 ? 77u : static_cast<std::uint64_t>(i));
  }

  // Relist the odd ones backwards: the even ones leave in order, the odd ones
  // keep their order.
  {
    CListingMerge merge(root);
    for (int i = kCount - 1; i >= 0; i -= 2) {
      EXPECT_FALSE(merge.Add("n" + std::to_string(i), false, 0));
    }
    EXPECT_TRUE(merge.Add("tail", false, 0));
    EXPECT_EQ(merge.Sweep(sink), static_cast<std::size_t>(kCount / 2));
  }
  ASSERT_EQ(root.files.size(), static_cast<std::size_t>(kCount / 2 + 1));
  for (int i = 0; i < kCount / 2; ++i) {
    ASSERT_EQ(root.files[static_cast<std::size_t>(i)]->name(), "n" + std::to_string(2 * i + 1));
    ASSERT_EQ(sink.order[static_cast<std::size_t>(i)], "f:n" + std::to_string(2 * i));
  }
  EXPECT_EQ(root.files.back()->name(), "tail");
}

}  // namespace
}  // namespace orvane
