#include "catalog/ftp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"

namespace orvane {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string Text(std::string_view text) { return std::string(text); }

// content.ct of: root { a { x(5) }, b {}, r(0x100000000) }.
std::string ExampleContent() {
  std::string s;
  s += Bytes({0x00});
  s += Bytes({0x02, 0x00});
  s += Bytes({0xFF, 0xFF, 0x01, 0x00, 0x07, 0x00}) + Text("CFTPDir");
  s += Bytes({0x01, 0x61});
  s += Bytes({0x00, 0x00});
  s += Bytes({0x01, 0x00});
  s += Bytes({0xFF, 0xFF, 0x01, 0x00, 0x08, 0x00}) + Text("CFTPFile");
  s += Bytes({0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  s += Bytes({0x01, 0x78});
  s += Bytes({0x01, 0x80});
  s += Bytes({0x01, 0x62, 0x00, 0x00, 0x00, 0x00});
  s += Bytes({0x01, 0x00});
  s += Bytes({0x03, 0x80});
  s += Bytes({0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});
  s += Bytes({0x01, 0x72});
  return s;
}

void BuildExample(CFTPDir& root) {
  CFTPDir* a = root.AddSubdir(std::make_unique<CFTPDir>("a"));
  a->AddFile(CFTPFile::Make("x", 5));
  root.AddSubdir(std::make_unique<CFTPDir>("b"));
  root.AddFile(CFTPFile::Make("r", 0x100000000ull));
}

std::string SaveContent(const CFTPDir& root) {
  StringSink sink;
  CArchiveWriter writer(sink);
  root.Serialize(writer);
  EXPECT_EQ(writer.Close(), ArchiveError::kNone);
  return sink.bytes;
}

std::string SaveState(const CFTPDir& root) {
  StringSink sink;
  CArchiveWriter writer(sink);
  root.SerializeState(writer);
  EXPECT_EQ(writer.Close(), ArchiveError::kNone);
  return sink.bytes;
}

ArchiveError LoadContent(CFTPDir& root, const std::string& bytes) {
  MemorySource source(bytes);
  CArchiveReader reader(source);
  return root.Serialize(reader);
}

ArchiveError LoadState(CFTPDir& root, const std::string& bytes) {
  MemorySource source(bytes);
  CArchiveReader reader(source);
  return root.SerializeState(reader);
}

// Checks the parent links of the whole subtree (iteratively, trees may be deep).
void ExpectLinked(const CFTPDir& root) {
  std::vector<const CFTPDir*> pending{&root};
  while (!pending.empty()) {
    const CFTPDir* dir = pending.back();
    pending.pop_back();
    for (const auto& file : dir->files) ASSERT_EQ(file->parent, dir);
    for (const auto& sub : dir->subdirs) {
      ASSERT_EQ(sub->parent, dir);
      pending.push_back(sub.get());
    }
  }
}

bool SameFile(const CFTPFile& a, const CFTPFile& b) {
  return a.name() == b.name() && a.size.load() == b.size.load();
}

// Deep equality of names, sizes and list order (iterative: trees may be deep).
bool SameTree(const CFTPDir& left, const CFTPDir& right) {
  std::vector<std::pair<const CFTPDir*, const CFTPDir*>> pending{{&left, &right}};
  while (!pending.empty()) {
    auto [a, b] = pending.back();
    pending.pop_back();
    if (a->name() != b->name() || a->files.size() != b->files.size() ||
        a->subdirs.size() != b->subdirs.size()) {
      return false;
    }
    for (std::size_t i = 0; i < a->files.size(); ++i) {
      if (!SameFile(*a->files[i], *b->files[i])) return false;
    }
    for (std::size_t i = 0; i < a->subdirs.size(); ++i) {
      pending.emplace_back(a->subdirs[i].get(), b->subdirs[i].get());
    }
  }
  return true;
}

// True when `part` holds only what a reader that stopped early may keep of
// `whole`: prefixes of the root's two lists, every kept subdirectory complete.
bool IsPrefixOf(const CFTPDir& part, const CFTPDir& whole) {
  if (part.files.size() > whole.files.size() || part.subdirs.size() > whole.subdirs.size()) {
    return false;
  }
  for (std::size_t i = 0; i < part.files.size(); ++i) {
    if (!SameFile(*part.files[i], *whole.files[i])) return false;
  }
  for (std::size_t i = 0; i < part.subdirs.size(); ++i) {
    if (!SameTree(*part.subdirs[i], *whole.subdirs[i])) return false;
  }
  return true;
}

TEST(FTPDirStorage, ExampleCatalogIsWrittenByteForByte) {
  CFTPDir root;
  BuildExample(root);
  EXPECT_EQ(SaveContent(root), ExampleContent());
}

TEST(FTPDirStorage, ExampleCatalogLoadsIntoTheSameTree) {
  CFTPDir root;
  const std::string bytes = ExampleContent();
  MemorySource source(bytes);
  CArchiveReader reader(source);
  ASSERT_EQ(root.Serialize(reader), ArchiveError::kNone);
  EXPECT_TRUE(reader.AtEnd());

  ASSERT_EQ(root.subdirs.size(), 2u);
  ASSERT_EQ(root.files.size(), 1u);
  const CFTPDir& a = *root.subdirs[0];
  EXPECT_EQ(a.name(), "a");
  ASSERT_EQ(a.files.size(), 1u);
  EXPECT_EQ(a.files[0]->name(), "x");
  EXPECT_EQ(a.files[0]->size.load(), 5u);
  EXPECT_EQ(root.subdirs[1]->name(), "b");
  EXPECT_TRUE(root.subdirs[1]->files.empty());
  EXPECT_TRUE(root.subdirs[1]->subdirs.empty());
  EXPECT_EQ(root.files[0]->name(), "r");
  EXPECT_EQ(root.files[0]->size.load(), 0x100000000ull);
  ExpectLinked(root);
  // Loaded entries are not new until the state file says so.
  EXPECT_EQ(a.readState.load(), 0);
  EXPECT_EQ(a.files[0]->readState.load(), 0);
}

TEST(FTPDirStorage, ExampleStateHoldsSubdirThenSubtreeThenFiles) {
  CFTPDir root;
  BuildExample(root);
  root.readState = 9;                        // the root's own mark is never stored
  root.subdirs[0]->readState = 1;            // a
  root.subdirs[0]->files[0]->readState = 0;  // x
  root.subdirs[1]->readState = 0;            // b
  root.files[0]->readState = 1;              // r
  EXPECT_EQ(SaveState(root), Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));

  CFTPDir loaded;
  BuildExample(loaded);
  ASSERT_EQ(LoadState(loaded, Bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0})),
            ArchiveError::kNone);
  EXPECT_EQ(loaded.readState.load(), 0);
  EXPECT_EQ(loaded.subdirs[0]->readState.load(), 1);
  EXPECT_EQ(loaded.subdirs[0]->files[0]->readState.load(), 2);
  EXPECT_EQ(loaded.subdirs[1]->readState.load(), 3);
  EXPECT_EQ(loaded.files[0]->readState.load(), 4);
}

TEST(FTPDirStorage, OneWalkWritesWhatTheTwoWalksWrite) {
  CFTPDir root;
  BuildExample(root);
  CFTPDir* a = root.subdirs[0].get();
  a->AddSubdir(std::make_unique<CFTPDir>("deep", 1))->AddFile(CFTPFile::Make("z", 9, 1));
  a->AddFile(CFTPFile::Make("y", 6, 1));
  root.files[0]->readState = 1;
  StringSink content;
  StringSink state;
  CArchiveWriter contentWriter(content);
  CArchiveWriter stateWriter(state);
  root.Serialize(contentWriter, stateWriter);
  ASSERT_EQ(contentWriter.Close(), ArchiveError::kNone);
  ASSERT_EQ(stateWriter.Close(), ArchiveError::kNone);
  EXPECT_EQ(content.bytes, SaveContent(root));
  EXPECT_EQ(state.bytes, SaveState(root));
  // a, deep, z, x, y, b, r
  EXPECT_EQ(state.bytes, Bytes({0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                                0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(FTPDirStorage, RootOnlyTree) {
  CFTPDir root;
  EXPECT_EQ(SaveState(root), "");
  EXPECT_EQ(SaveContent(root), Bytes({0, 0, 0, 0, 0}));
  // Nothing to read: an empty state file is complete for this tree.
  EXPECT_EQ(LoadState(root, ""), ArchiveError::kNone);
}

TEST(FTPDirStorage, StateShorterThanTreeKeepsValuesRead) {
  CFTPDir root;
  BuildExample(root);
  EXPECT_EQ(LoadState(root, Bytes({1, 0, 0, 0, 1, 0, 0})), ArchiveError::kEndOfFile);
  EXPECT_EQ(root.subdirs[0]->readState.load(), 1);
  EXPECT_EQ(root.subdirs[0]->files[0]->readState.load(), 0);
  EXPECT_EQ(root.subdirs[1]->readState.load(), 0);
}

TEST(FTPDirStorage, SizesAtAndAbove4GiBSurvive) {
  CFTPDir root;
  const std::uint64_t sizes[] = {0xFFFFFFFFull, 0x100000000ull, 0x123456789ABCDEFull,
                                 0xFFFFFFFFFFFFFFFFull};
  for (std::uint64_t size : sizes) root.AddFile(CFTPFile::Make("f" + std::to_string(size), size));
  CFTPDir loaded;
  ASSERT_EQ(LoadContent(loaded, SaveContent(root)), ArchiveError::kNone);
  ASSERT_EQ(loaded.files.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(loaded.files[i]->size.load(), sizes[i]);
}

TEST(FTPDirStorage, NamesAreBytesAtEveryLengthForm) {
  CFTPDir root;
  const std::string names[] = {std::string(),
                               std::string(254, 'a'),
                               std::string(255, 'b'),
                               std::string(70000, 'c'),
                               std::string("\0\xFF\x80/\\", 5),
                               "Abc",
                               "abc"};
  for (const std::string& name : names) {
    root.AddSubdir(std::make_unique<CFTPDir>(name));
    root.AddFile(CFTPFile::Make(name, name.size()));
  }
  CFTPDir loaded;
  ASSERT_EQ(LoadContent(loaded, SaveContent(root)), ArchiveError::kNone);
  EXPECT_TRUE(SameTree(root, loaded));
}

class FTPDirPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    site.host = "K";
    site.userName = "anonymous";
    site.password = std::string(kAnonymousPassword);
  }
  CFTPSite site;
  CFTPDir& root() { return *site.rootDir; }
};

TEST_F(FTPDirPaths, Root) {
  EXPECT_EQ(root().GetPath(), "/");
  EXPECT_EQ(root().GetDisplayPath(), "ftp://K/");
  EXPECT_EQ(root().GetSite(), &site);
}

TEST_F(FTPDirPaths, NestedDirectory) {
  CFTPDir* a = root().AddSubdir(std::make_unique<CFTPDir>("a"));
  CFTPDir* b = a->AddSubdir(std::make_unique<CFTPDir>("b"));
  EXPECT_EQ(a->GetPath(), "/a");
  EXPECT_EQ(b->GetPath(), "/a/b");
  EXPECT_EQ(b->GetDisplayPath(), "ftp://K/a/b");
  EXPECT_EQ(b->GetSite(), &site);
  EXPECT_EQ(b->Depth(), 2u);
}

TEST_F(FTPDirPaths, Files) {
  CFTPFile* r = root().AddFile(CFTPFile::Make("r", 1));
  CFTPDir* pub = root().AddSubdir(std::make_unique<CFTPDir>("pub"));
  CFTPDir* soft = pub->AddSubdir(std::make_unique<CFTPDir>("soft"));
  CFTPFile* zip = soft->AddFile(CFTPFile::Make("x.zip", 1));
  EXPECT_EQ(r->GetDisplayPath(), "ftp://K/r");
  EXPECT_EQ(soft->GetPath(), "/pub/soft");
  EXPECT_EQ(zip->GetDisplayPath(), "ftp://K/pub/soft/x.zip");
  EXPECT_EQ(zip->GetSite(), &site);
}

TEST_F(FTPDirPaths, KeyWithUserAndUnescapedNames) {
  site.password = "secret";
  site.userName = "bob";
  CFTPDir* odd = root().AddSubdir(std::make_unique<CFTPDir>("a b%20\xC4\xE3"));
  CFTPFile* f = odd->AddFile(CFTPFile::Make("#?", 0));
  EXPECT_EQ(odd->GetDisplayPath(), "ftp://K@bob/a b%20\xC4\xE3");
  EXPECT_EQ(f->GetDisplayPath(), "ftp://K@bob/a b%20\xC4\xE3/#?");
}

TEST(FTPDirLoad, TruncationKeepsCompletedEntriesOnly) {
  const std::string bytes = ExampleContent();
  struct Case {
    std::size_t length;
    std::vector<std::string> subdirs;  // names kept in root
    std::size_t rootFiles;
  };
  // a (with x) is complete after 46 bytes, b after 54, r after 68.
  const Case cases[] = {
      {0, {}, 0},     {1, {}, 0},     {3, {}, 0},          {30, {}, 0},         {45, {}, 0},
      {46, {"a"}, 0}, {53, {"a"}, 0}, {54, {"a", "b"}, 0}, {56, {"a", "b"}, 0}, {67, {"a", "b"}, 0},
  };
  ASSERT_EQ(bytes.size(), 68u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    CFTPDir root;
    EXPECT_EQ(LoadContent(root, bytes.substr(0, c.length)), ArchiveError::kEndOfFile);
    ASSERT_EQ(root.subdirs.size(), c.subdirs.size());
    for (std::size_t i = 0; i < c.subdirs.size(); ++i) {
      EXPECT_EQ(root.subdirs[i]->name(), c.subdirs[i]);
    }
    if (!c.subdirs.empty()) {
      EXPECT_EQ(root.subdirs[0]->files.size(), 1u);
    }
    EXPECT_EQ(root.files.size(), c.rootFiles);
    ExpectLinked(root);
  }
}

TEST(FTPDirLoad, DirectoryWhoseSubtreeFailedIsNotAdded) {
  // a's file count claims two files; the second reference is damaged, so a
  // (with x) is dropped and nothing after it is read.
  std::string bytes = ExampleContent();
  bytes[20] = 0x02;  // a: two files
  CFTPDir root;
  EXPECT_NE(LoadContent(root, bytes), ArchiveError::kNone);
  EXPECT_TRUE(root.subdirs.empty());
  EXPECT_TRUE(root.files.empty());
}

TEST(FTPDirLoad, NullOrSharedReferencesAreRefused) {
  const std::string good = ExampleContent();
  struct Case {
    const char* what;
    std::size_t offset;
    std::string replacement;
    std::size_t subdirsKept;
  };
  const Case cases[] = {
      {"null subdirectory", 46, Bytes({0x00, 0x00}), 1},
      {"subdirectory a again", 46, Bytes({0x02, 0x00}), 1},
      {"file x as a subdirectory", 46, Bytes({0x04, 0x00}), 1},
      {"null file", 56, Bytes({0x00, 0x00}), 2},
      {"file x again", 56, Bytes({0x04, 0x00}), 2},
      {"directory a as a file", 56, Bytes({0x02, 0x00}), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    bytes.replace(c.offset, 2, c.replacement);
    CFTPDir root;
    EXPECT_NE(LoadContent(root, bytes), ArchiveError::kNone);
    EXPECT_EQ(root.subdirs.size(), c.subdirsKept);
    EXPECT_TRUE(root.files.empty());
  }
}

TEST(FTPDirLoad, HugeCountsFailAtOnceWithEndOfFile) {
  // 12 bytes each: four billion subdirectories, four billion files, and one
  // subdirectory whose name claims two gigabytes.
  const std::string files = Bytes({0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1});
  const std::string subdirs = Bytes({0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 7});
  const std::string name = Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0});
  for (const std::string& bytes : {files, subdirs, name}) {
    ASSERT_EQ(bytes.size(), 12u);
    CFTPDir root;
    EXPECT_EQ(LoadContent(root, bytes), ArchiveError::kEndOfFile);
    EXPECT_EQ(root.CountEntries(), 0u);
  }
}

// A chain of `depth` directories below a root, one file at the bottom.
std::unique_ptr<CFTPDir> Chain(std::size_t depth) {
  auto root = std::make_unique<CFTPDir>();
  CFTPDir* dir = root.get();
  for (std::size_t i = 0; i < depth; ++i) dir = dir->AddSubdir(std::make_unique<CFTPDir>("d"));
  dir->AddFile(CFTPFile::Make("leaf", 7));
  return root;
}

TEST(FTPDirLoad, NestingLimit) {
  {
    auto deepest = Chain(CFTPDir::kMaxLoadDepth);
    CFTPDir root;
    ASSERT_EQ(LoadContent(root, SaveContent(*deepest)), ArchiveError::kNone);
    EXPECT_TRUE(SameTree(root, *deepest));
  }
  auto tooDeep = Chain(CFTPDir::kMaxLoadDepth + 1);
  CFTPDir root;
  EXPECT_EQ(LoadContent(root, SaveContent(*tooDeep)), ArchiveError::kBadFormat);
  EXPECT_EQ(root.CountEntries(), 0u);
}

TEST(FTPDirLoad, HundredThousandDeepChainWithoutRecursion) {
  constexpr std::size_t kDepth = 100000;
  auto chain = Chain(kDepth);
  EXPECT_EQ(chain->CountEntries(), kDepth + 1);

  CFTPDir* bottom = chain.get();
  while (!bottom->subdirs.empty()) bottom = bottom->subdirs[0].get();
  EXPECT_EQ(bottom->Depth(), kDepth);
  EXPECT_EQ(bottom->GetPath().size(), 2 * kDepth);
  bottom->files[0]->readState = 1;
  bottom->readState = 1;

  const std::string content = SaveContent(*chain);
  const std::string state = SaveState(*chain);
  EXPECT_EQ(state.size(), 4 * (kDepth + 1));
  EXPECT_EQ(state.substr(state.size() - 8), Bytes({1, 0, 0, 0, 1, 0, 0, 0}));

  // The state walk has no depth limit.
  auto again = Chain(kDepth);
  ASSERT_EQ(LoadState(*again, state), ArchiveError::kNone);
  EXPECT_EQ(SaveState(*again), state);

  // The stored form loads whole: such a depth is within the bound.
  CFTPDir loaded;
  ASSERT_EQ(LoadContent(loaded, content), ArchiveError::kNone);
  EXPECT_EQ(loaded.CountEntries(), kDepth + 1);

  chain.reset();
  again.reset();
}

// A catalog with every shape the loader handles: nested and empty
// directories, long names, big sizes, repeated names.
std::unique_ptr<CFTPDir> Golden() {
  auto root = std::make_unique<CFTPDir>();
  CFTPDir* pub = root->AddSubdir(std::make_unique<CFTPDir>("pub"));
  CFTPDir* soft = pub->AddSubdir(std::make_unique<CFTPDir>("soft"));
  soft->AddFile(CFTPFile::Make("setup.exe", 1234567));
  soft->AddFile(CFTPFile::Make(std::string(300, 'L'), 0x1122334455ull));
  CFTPDir* deep = soft->AddSubdir(std::make_unique<CFTPDir>("deep"));
  deep->AddSubdir(std::make_unique<CFTPDir>("deeper"))->AddFile(CFTPFile::Make("z", 0));
  pub->AddSubdir(std::make_unique<CFTPDir>(""));
  pub->AddFile(CFTPFile::Make("readme", 10));
  root->AddSubdir(std::make_unique<CFTPDir>("\xC4\xE3\xBA\xC3"));
  CFTPDir* same = root->AddSubdir(std::make_unique<CFTPDir>("same"));
  same->AddFile(CFTPFile::Make("same", 1));
  for (int i = 0; i < 5; ++i) root->AddFile(CFTPFile::Make("file" + std::to_string(i), i));
  return root;
}

TEST(FTPDirLoad, EveryTruncationKeepsAPrefix) {
  auto golden = Golden();
  const std::string bytes = SaveContent(*golden);
  std::size_t previous = 0;
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE(length);
    CFTPDir root;
    ASSERT_EQ(LoadContent(root, bytes.substr(0, length)), ArchiveError::kEndOfFile);
    ASSERT_TRUE(IsPrefixOf(root, *golden));
    const std::size_t count = root.CountEntries();
    ASSERT_GE(count, previous);
    previous = count;
  }
  CFTPDir whole;
  ASSERT_EQ(LoadContent(whole, bytes), ArchiveError::kNone);
  EXPECT_TRUE(SameTree(whole, *golden));
}

TEST(FTPDirLoad, EveryByteFlipIsSurvivedAndKeepsWhatCameBefore) {
  auto golden = Golden();
  const std::string bytes = SaveContent(*golden);
  for (std::size_t offset = 0; offset < bytes.size(); ++offset) {
    CFTPDir before;
    LoadContent(before, bytes.substr(0, offset));
    for (int flip : {0xFF, 0x01, 0x80}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " xor " << flip);
      std::string damaged = bytes;
      damaged[offset] = static_cast<char>(damaged[offset] ^ flip);
      CFTPDir root;
      LoadContent(root, damaged);
      ExpectLinked(root);
      // Everything completed before the damaged byte is still there.
      ASSERT_TRUE(IsPrefixOf(before, root));
      // What was kept stores and loads back unchanged.
      CFTPDir again;
      const std::string saved = SaveContent(root);
      ASSERT_EQ(LoadContent(again, saved), ArchiveError::kNone);
      ASSERT_TRUE(SameTree(root, again));
    }
  }
}

}  // namespace
}  // namespace orvane
