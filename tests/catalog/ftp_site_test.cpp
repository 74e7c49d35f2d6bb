#include "catalog/ftp_site.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/atomic_file.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

std::string ReadFile(const fs::path& path) {
  std::string bytes;
  EXPECT_TRUE(ReadWholeFile(path, bytes)) << path;
  return bytes;
}

mode_t Mode(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// Every entry below `dir`, relative to it.
std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    names.insert(fs::relative(entry.path(), dir).string());
  }
  return names;
}

// A program directory of its own per test.
class SiteStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "orvane-site-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    programDir = pattern;
    site.host = "ftp.example.org";
    site.userName = "anonymous";
    site.password = std::string(kAnonymousPassword);
  }
  void TearDown() override { fs::remove_all(programDir); }

  fs::path DataDir() const { return site.DataDirectory(programDir); }
  fs::path Content() const { return DataDir() / "content.ct"; }
  fs::path State() const { return DataDir() / "state.st"; }

  // root { a { x }, b, r }, with a and r new.
  static void Fill(CFTPDir& root) {
    CFTPDir* a = root.AddSubdir(std::make_unique<CFTPDir>("a", 1));
    a->AddFile(CFTPFile::Make("x", 5));
    root.AddSubdir(std::make_unique<CFTPDir>("b"));
    root.AddFile(CFTPFile::Make("r", 0x100000000ull, 1));
  }

  fs::path programDir;
  CFTPSite site;
};

TEST_F(SiteStorage, SavedFilesLoadIntoAFreshRecord) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  ASSERT_TRUE(site.SaveState(programDir));
  EXPECT_EQ(DataDir(), programDir / "Data" / "ftp.example.org");
  EXPECT_EQ(ReadFile(State()), Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(ReadFile(Content()).size(), 68u);

  CFTPSite again;
  again.host = site.host;
  again.password = site.password;
  EXPECT_EQ(again.LoadCatalog(Content()), ArchiveError::kNone);
  EXPECT_TRUE(again.LoadState(State()));
  const CFTPDir& root = *again.rootDir;
  ASSERT_EQ(root.subdirs.size(), 2u);
  EXPECT_EQ(root.subdirs[0]->readState.load(), 1);
  EXPECT_EQ(root.subdirs[0]->files[0]->readState.load(), 0);
  EXPECT_EQ(root.files[0]->readState.load(), 1);
  EXPECT_EQ(root.files[0]->size.load(), 0x100000000ull);
  EXPECT_EQ(root.site, &again);
}

TEST_F(SiteStorage, MissingOrEmptyCatalogLeavesRootOnly) {
  EXPECT_EQ(site.LoadCatalog(Content()), ArchiveError::kNone);
  EXPECT_EQ(site.rootDir->CountEntries(), 0u);
  fs::create_directories(DataDir());
  WriteFile(Content(), "");
  EXPECT_EQ(site.LoadCatalog(Content()), ArchiveError::kNone);
  EXPECT_EQ(site.rootDir->CountEntries(), 0u);
  EXPECT_TRUE(site.rootDir->name().empty());
}

TEST_F(SiteStorage, DamagedOrShortCatalogKeepsEntriesBeforeTheDamage) {
  CFTPSite source;
  Fill(*source.rootDir);
  ASSERT_TRUE(source.SaveCatalog(programDir));
  const std::string good = ReadFile(source.DataDirectory(programDir) / "content.ct");
  fs::create_directories(DataDir());

  // Cut inside r: a and b stay, r is lost.
  WriteFile(Content(), good.substr(0, good.size() - 3));
  EXPECT_EQ(site.LoadCatalog(Content()), ArchiveError::kEndOfFile);
  EXPECT_EQ(site.rootDir->subdirs.size(), 2u);
  EXPECT_TRUE(site.rootDir->files.empty());

  // r's class reference names an unknown index.
  CFTPSite damaged;
  std::string bad = good;
  bad[56] = 0x09;
  WriteFile(Content(), bad);
  EXPECT_EQ(damaged.LoadCatalog(Content()), ArchiveError::kBadIndex);
  EXPECT_EQ(damaged.rootDir->subdirs.size(), 2u);
  EXPECT_TRUE(damaged.rootDir->files.empty());

  // The state file still lines up with what was kept: a, x, b, then r (gone).
  WriteFile(State(), Bytes({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_TRUE(damaged.LoadState(State()));
  EXPECT_EQ(damaged.rootDir->subdirs[1]->readState.load(), 1);
}

TEST_F(SiteStorage, StateFileOfEveryLength) {
  Fill(*site.rootDir);
  for (auto& sub : site.rootDir->subdirs) sub->readState = 0;
  site.rootDir->files[0]->readState = 0;

  // Missing: everything counts as read.
  ArchiveError error = ArchiveError::kGeneric;
  EXPECT_FALSE(site.LoadState(State(), &error));
  EXPECT_EQ(site.rootDir->subdirs[0]->readState.load(), 0);

  fs::create_directories(DataDir());
  WriteFile(State(), "");
  EXPECT_TRUE(site.LoadState(State(), &error));
  EXPECT_EQ(error, ArchiveError::kNone);

  // Shorter: two values, the rest stays read.
  WriteFile(State(), Bytes({1, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_TRUE(site.LoadState(State(), &error));
  EXPECT_EQ(error, ArchiveError::kEndOfFile);
  EXPECT_EQ(site.rootDir->subdirs[0]->readState.load(), 1);
  EXPECT_EQ(site.rootDir->subdirs[0]->files[0]->readState.load(), 1);
  EXPECT_EQ(site.rootDir->subdirs[1]->readState.load(), 0);
  EXPECT_EQ(site.rootDir->files[0]->readState.load(), 0);

  // Longer: extra values are ignored.
  WriteFile(State(), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 9}));
  EXPECT_TRUE(site.LoadState(State(), &error));
  EXPECT_EQ(error, ArchiveError::kNone);
  EXPECT_EQ(site.rootDir->subdirs[0]->readState.load(), 0);
  EXPECT_EQ(site.rootDir->subdirs[1]->readState.load(), 1);
  EXPECT_EQ(site.rootDir->files[0]->readState.load(), 1);
}

TEST(SiteKey, AnonymousPlaceholderGivesTheHost) {
  EXPECT_EQ(kAnonymousPassword.size(), 13u);
  EXPECT_NE(kAnonymousPassword.find('@'), std::string_view::npos);
  CFTPSite site;
  site.host = "h";
  site.userName = "anonymous";
  site.password = std::string(kAnonymousPassword);
  EXPECT_TRUE(site.IsAnonymous());
  EXPECT_EQ(site.siteKey(), "h");
  site.userName = "someone";  // the user name plays no part then
  EXPECT_EQ(site.siteKey(), "h");
}

TEST(SiteKey, AnyOtherPasswordGivesHostAtUser) {
  CFTPSite site;
  site.host = "h";
  site.userName = "anonymous";
  for (std::string password :
       std::vector<std::string>{"", "x", "guest@", std::string(kAnonymousPassword) + " ",
                                std::string(kAnonymousPassword).substr(1)}) {
    site.password = password;
    EXPECT_FALSE(site.IsAnonymous());
    EXPECT_EQ(site.siteKey(), "h@anonymous");
  }
  site.userName = "";
  EXPECT_EQ(site.siteKey(), "h@");
}

TEST_F(SiteStorage, RecordsWithOneKeyShareTheirFiles) {
  site.userName = "bob";
  site.password = "one";
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  CFTPSite twin;
  twin.host = site.host;
  twin.userName = "bob";
  twin.password = "two";
  EXPECT_EQ(twin.siteKey(), "ftp.example.org@bob");
  EXPECT_EQ(twin.DataDirectory(programDir), programDir / "Data" / "ftp.example.org@bob");
  EXPECT_EQ(twin.LoadCatalog(twin.DataDirectory(programDir) / "content.ct"), ArchiveError::kNone);
  EXPECT_EQ(twin.rootDir->CountEntries(), 4u);
}

std::string SaveRecord(const CFTPSite& site) {
  StringSink sink;
  CArchiveWriter writer(sink);
  site.Serialize(writer);
  EXPECT_EQ(writer.Close(), ArchiveError::kNone);
  return sink.bytes;
}

TEST(SiteRecord, ExactBytes) {
  CFTPSite site;
  site.host = "h";
  site.password = "pw";
  site.userName = "u";
  site.port = 0x12345;
  site.anonymousUpdate = true;
  site.nickname = "n";
  site.remarks = "a\r\nb";
  site.hasNewEntries = true;  // run-time state is not stored
  site.updateState = kUpdateSucceeded;
  EXPECT_EQ(SaveRecord(site), Bytes({1, 'h', 2, 'p', 'w', 1, 'u', 0x45, 0x23, 0x01, 0x00, 1, 1, 'n',
                                     4, 'a', '\r', '\n', 'b'}));
}

TEST(SiteRecord, AnonymousUpdateByteTwoReadsSetAndIsWrittenAsOne) {
  const std::string stored =
      Bytes({1, 'h', 0, 3, 'b', 'o', 'b', 21, 0, 0, 0, 2, 0, 5, 'x', 'y', 'z', 'z', 'y'});
  MemorySource source(stored);
  CArchiveReader reader(source);
  CFTPSite site;
  ASSERT_EQ(site.Serialize(reader), ArchiveError::kNone);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(site.host, "h");
  EXPECT_EQ(site.password, "");
  EXPECT_EQ(site.userName, "bob");
  EXPECT_EQ(site.port, 21u);
  EXPECT_TRUE(site.anonymousUpdate);
  EXPECT_EQ(site.nickname, "");
  EXPECT_EQ(site.remarks, "xyzzy");
  // Everything else starts fresh.
  EXPECT_EQ(site.Status(), SiteStatus{});
  EXPECT_EQ(site.updateState.load(), kNeverUpdated);
  EXPECT_EQ(site.loadState.load(), kNotLoaded);
  EXPECT_FALSE(site.hasNewEntries.load());
  EXPECT_EQ(site.rootDir->CountEntries(), 0u);

  std::string expected = stored;
  expected[11] = 1;
  EXPECT_EQ(SaveRecord(site), expected);
}

TEST(SiteRecord, ShortRecordFails) {
  const std::string stored = Bytes({1, 'h', 0, 3, 'b', 'o', 'b', 21, 0, 0, 0, 1, 0, 5, 'x'});
  for (std::size_t length = 0; length < stored.size(); ++length) {
    MemorySource source(stored.data(), length);
    CArchiveReader reader(source);
    CFTPSite site;
    EXPECT_EQ(site.Serialize(reader), ArchiveError::kEndOfFile) << length;
  }
}

TEST_F(SiteStorage, SaveStateRecreatesARemovedDataDirectoryOnlyWhenDataExists) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  fs::remove_all(DataDir());
  ASSERT_TRUE(site.SaveState(programDir));
  EXPECT_EQ(ReadFile(State()).size(), 16u);
  EXPECT_EQ(Mode(DataDir()), 0700u);

  fs::remove_all(programDir / "Data");
  EXPECT_FALSE(site.SaveState(programDir));
  EXPECT_FALSE(fs::exists(programDir / "Data"));
  // Saving the catalog makes both levels.
  EXPECT_TRUE(site.SaveCatalog(programDir));
  EXPECT_TRUE(fs::exists(Content()));
}

TEST_F(SiteStorage, FilesAreOwnerOnly) {
  Fill(*site.rootDir);
  // Not even a permissive umask opens them up.
  const ::mode_t old = ::umask(0);
  const bool saved = site.SaveCatalog(programDir) && site.SaveState(programDir);
  ::umask(old);
  ASSERT_TRUE(saved);
  EXPECT_EQ(Mode(programDir / "Data"), 0700u);
  EXPECT_EQ(Mode(DataDir()), 0700u);
  EXPECT_EQ(Mode(Content()), 0600u);
  EXPECT_EQ(Mode(State()), 0600u);
}

TEST_F(SiteStorage, ReplacedFileTakesOwnerOnlyMode) {
  Fill(*site.rootDir);
  fs::create_directories(DataDir());
  WriteFile(Content(), "old");
  ::chmod(Content().c_str(), 0644);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  EXPECT_EQ(Mode(Content()), 0600u);
  EXPECT_EQ(ReadFile(Content()).size(), 68u);
}

// Limits the size of files this process may write, the way a full disk
// would, until destroyed.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int);
};

TEST_F(SiteStorage, FailedWriteKeepsTheOldFilesAndLeavesNoTemporary) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  ASSERT_TRUE(site.SaveState(programDir));
  const std::string oldContent = ReadFile(Content());
  const std::string oldState = ReadFile(State());

  // Grow the catalog well past what the "disk" takes.
  for (int i = 0; i < 5000; ++i) {
    site.rootDir->AddFile(CFTPFile::Make("file" + std::to_string(i), i, 1));
  }
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(site.SaveCatalog(programDir));
    EXPECT_FALSE(site.SaveState(programDir));
  }
  EXPECT_EQ(ReadFile(Content()), oldContent);
  EXPECT_EQ(ReadFile(State()), oldState);
  EXPECT_EQ(Listing(DataDir()), (std::set<std::string>{"content.ct", "state.st"}));

  // With room again the new contents replace the old ones.
  ASSERT_TRUE(site.SaveCatalog(programDir));
  ASSERT_TRUE(site.SaveState(programDir));
  EXPECT_EQ(ReadFile(State()).size(), 4u * 5004);
  EXPECT_EQ(Listing(DataDir()), (std::set<std::string>{"content.ct", "state.st"}));
}

TEST_F(SiteStorage, CombinedSaveWritesBothFiles) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  ASSERT_TRUE(site.SaveState(programDir));
  const std::string content = ReadFile(Content());
  const std::string state = ReadFile(State());
  fs::remove_all(programDir / "Data");
  ASSERT_TRUE(site.SaveCatalogAndState(programDir));
  EXPECT_EQ(ReadFile(Content()), content);
  EXPECT_EQ(ReadFile(State()), state);
  EXPECT_EQ(Mode(DataDir()), 0700u);
  EXPECT_EQ(Mode(State()), 0600u);
}

TEST_F(SiteStorage, CombinedSaveKeepsTheOldStateWhenTheCatalogFails) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalogAndState(programDir));
  const std::string oldContent = ReadFile(Content());
  const std::string oldState = ReadFile(State());
  for (int i = 0; i < 5000; ++i) {
    site.rootDir->AddFile(CFTPFile::Make("file" + std::to_string(i), i, 1));
  }
  {
    // Room for the new state file (20 KB), not for the catalog.
    FileSizeLimit limit(40000);
    EXPECT_FALSE(site.SaveCatalogAndState(programDir));
  }
  EXPECT_EQ(ReadFile(Content()), oldContent);
  EXPECT_EQ(ReadFile(State()), oldState);
  EXPECT_EQ(Listing(DataDir()), (std::set<std::string>{"content.ct", "state.st"}));
}

TEST_F(SiteStorage, AtomicFileWithoutCommitLeavesTargetAlone) {
  fs::create_directories(DataDir());
  WriteFile(Content(), "old");
  {
    CAtomicFile file(Content(), 0600);
    ASSERT_TRUE(file.is_open());
    ASSERT_TRUE(file.sink().Write("new contents", 12));
    EXPECT_EQ(Listing(DataDir()).size(), 2u);  // target and temporary
  }
  EXPECT_EQ(ReadFile(Content()), "old");
  EXPECT_EQ(Listing(DataDir()), (std::set<std::string>{"content.ct"}));

  CAtomicFile file(Content(), 0600);
  ASSERT_TRUE(file.sink().Write("new", 3));
  ASSERT_TRUE(file.Commit());
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(ReadFile(Content()), "new");
  EXPECT_EQ(Listing(DataDir()), (std::set<std::string>{"content.ct"}));

  CAtomicFile nowhere(programDir / "missing" / "content.ct", 0600);
  EXPECT_FALSE(nowhere.is_open());
  EXPECT_FALSE(nowhere.Commit());
}

TEST(DataDirName, OrdinaryKeysKeepTheirName) {
  for (const char* key : {"ftp.example.org", "h@bob", "10.0.0.1", "h@anonymous", "a%b", "..a",
                          "a..", ".hidden", "h@", "\xC4\xE3\xBA\xC3", "a\\b"}) {
    EXPECT_EQ(DataDirName(key), key);
  }
}

TEST(DataDirName, UnsafeKeysBecomeDistinctSafeNames) {
  const std::vector<std::string> keys = {"",
                                         ".",
                                         "..",
                                         "/",
                                         "a/b",
                                         "../x",
                                         "/etc",
                                         "a/",
                                         std::string("a\0b", 3),
                                         std::string("\0", 1),
                                         "%",
                                         "%2F",
                                         "%a/b",
                                         "%.",
                                         "%%",
                                         "a%2Fb",
                                         "%a%2Fb",
                                         "ordinary",
                                         "h@u/v"};
  std::set<std::string> names;
  for (const std::string& key : keys) {
    SCOPED_TRACE(key);
    const std::string name = DataDirName(key);
    EXPECT_FALSE(name.empty());
    EXPECT_NE(name, ".");
    EXPECT_NE(name, "..");
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_EQ(name.find('\0'), std::string::npos);
    EXPECT_TRUE(names.insert(name).second) << "collides: " << name;
  }
}

TEST_F(SiteStorage, UnsafeKeysStayInsideData) {
  fs::create_directories(programDir / "Data");
  for (const std::string& host :
       {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
        std::string("../x"), std::string("../../x"), std::string("a\0b", 3), std::string("%")}) {
    SCOPED_TRACE(host);
    CFTPSite s;
    s.host = host;
    s.password = std::string(kAnonymousPassword);
    s.rootDir->AddFile(CFTPFile::Make("f", 1));
    const fs::path dir = s.DataDirectory(programDir);
    EXPECT_EQ(dir.parent_path(), programDir / "Data");
    ASSERT_TRUE(s.SaveCatalog(programDir));
    ASSERT_TRUE(s.SaveState(programDir));
    CFTPSite back;
    back.host = host;
    back.password = s.password;
    back.LoadCatalog(back.DataDirectory(programDir) / "content.ct");
    EXPECT_EQ(back.rootDir->CountEntries(), 1u);
  }
  // Eight sites, eight directories, nothing else anywhere.
  const auto top = Listing(programDir);
  std::set<std::string> dirs;
  for (const std::string& entry : top) {
    ASSERT_EQ(entry.rfind("Data", 0), 0u) << entry;
    const fs::path p(entry);
    if (std::distance(p.begin(), p.end()) == 2) dirs.insert(entry);
  }
  EXPECT_EQ(dirs.size(), 8u);
  EXPECT_FALSE(fs::exists(programDir / "Data" / "content.ct"));

  // Deleting under unsafe keys never reaches Data itself or beyond.
  WriteFile(programDir / "content.ct", "outside");
  WriteFile(programDir / "Data" / "content.ct", "inside Data");
  for (const char* key : {"", ".", "..", "../x"}) DeleteDataDirectory(programDir, key);
  EXPECT_TRUE(fs::exists(programDir / "content.ct"));
  EXPECT_TRUE(fs::exists(programDir / "Data" / "content.ct"));
  EXPECT_TRUE(fs::exists(programDir / "Data"));
  EXPECT_FALSE(fs::exists(programDir / "Data" / DataDirName("..")));
}

TEST_F(SiteStorage, DeleteRemovesTheFilesAndTheDirectoryOfThatKeyOnly) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  ASSERT_TRUE(site.SaveState(programDir));
  CFTPSite other;
  other.host = "other";
  other.password = "pw";
  other.userName = "u";
  ASSERT_TRUE(other.SaveCatalog(programDir));
  // A temporary left by a crash, or the find file kept beside the catalog,
  // does not keep the directory alive.
  WriteFile(DataDir() / "content.ct.tmpAbC123", "half");
  WriteFile(DataDir() / "find.idx", "derived");

  DeleteDataDirectory(programDir, site.siteKey());
  EXPECT_FALSE(fs::exists(DataDir()));
  EXPECT_TRUE(fs::exists(other.DataDirectory(programDir) / "content.ct"));
  DeleteDataDirectory(programDir, site.siteKey());  // nothing left: harmless
}

TEST_F(SiteStorage, RenameMovesTheCatalogToTheNewKey) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  ASSERT_TRUE(site.SaveState(programDir));
  const std::string oldKey = site.siteKey();
  site.password = "secret";
  site.userName = "bob";
  ASSERT_TRUE(RenameDataDirectory(programDir, oldKey, site.siteKey()));
  EXPECT_FALSE(fs::exists(programDir / "Data" / oldKey));
  EXPECT_EQ(ReadFile(State()).size(), 16u);

  // Same key: nothing to do. Missing source: false.
  EXPECT_TRUE(RenameDataDirectory(programDir, site.siteKey(), site.siteKey()));
  EXPECT_FALSE(RenameDataDirectory(programDir, "nobody", "somebody"));
  EXPECT_FALSE(fs::exists(programDir / "Data" / "somebody"));

  // To an unsafe key: still inside Data.
  ASSERT_TRUE(RenameDataDirectory(programDir, site.siteKey(), "../escape"));
  EXPECT_FALSE(fs::exists(programDir / "escape"));
  EXPECT_TRUE(fs::exists(programDir / "Data" / DataDirName("../escape") / "content.ct"));
}

TEST_F(SiteStorage, RenameDoesNotOverwriteAnotherSitesCatalog) {
  Fill(*site.rootDir);
  ASSERT_TRUE(site.SaveCatalog(programDir));
  CFTPSite other;
  other.host = "other";
  other.password = std::string(kAnonymousPassword);
  ASSERT_TRUE(other.SaveCatalog(programDir));
  const std::string otherContent = ReadFile(other.DataDirectory(programDir) / "content.ct");
  EXPECT_FALSE(RenameDataDirectory(programDir, site.siteKey(), "other"));
  EXPECT_EQ(ReadFile(other.DataDirectory(programDir) / "content.ct"), otherContent);
  EXPECT_TRUE(fs::exists(Content()));
}

}  // namespace
}  // namespace orvane
