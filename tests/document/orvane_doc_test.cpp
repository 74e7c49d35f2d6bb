// The document's lifecycle: reading and writing site.ds, the catalog load
// protocol, deleting sites, saving state at close, and what happens to the
// document's references when an update removes entries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/catalog_loader.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/name_charset.h"
#include "catalog/site_file_access.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "document/site_store.h"
#include "tests/support/temp_tree.h"
#include "tests/support/wait_until.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using test::WaitUntil;
using ::testing::ElementsAre;

// A front end whose event queue the test fills: kStop stands for the stop
// message, anything else for an ordinary message that PumpMessages
// dispatches.
class TestHost : public IDocumentHost {
 public:
  static constexpr int kStop = 0x040C;

  bool PumpMessages() override {
    ++pumps;
    if (onPump) onPump();
    while (!queue.empty()) {
      if (queue.front() == kStop) return false;
      dispatched.push_back(queue.front());
      queue.pop_front();
    }
    return true;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ReportLoadError(const std::string& text) override { loadErrors.push_back(text); }
  void DirsAppended(std::size_t count) override { results += static_cast<int>(count); }
  void FilesAppended(std::size_t count) override { results += static_cast<int>(count); }

  void SitesAdded(std::size_t first, std::size_t count) override {
    siteEvents.push_back("added " + std::to_string(first) + "+" + std::to_string(count));
  }
  void SiteChanged(std::size_t index) override {
    siteEvents.push_back("changed " + std::to_string(index));
  }
  void SiteRemoving(std::size_t index) override {
    // The record must still be in the list, where the index says.
    siteEvents.push_back("removing " + doc->sites()[index]->nickname);
  }

  std::deque<int> queue;
  std::function<void()> onPump;
  const COrvaneDoc* doc = nullptr;
  std::vector<std::string> siteEvents;
  std::vector<int> dispatched;
  int pumps = 0;
  int results = 0;
  std::vector<std::string> messages;
  std::vector<std::string> loadErrors;
};

std::shared_ptr<CFTPSite> MakeSite(const std::string& host, const std::string& user,
                                   const std::string& password, const std::string& nickname = {}) {
  auto site = std::make_shared<CFTPSite>();
  site->host = host;
  site->userName = user;
  site->password = password;
  site->nickname = nickname;
  site->port = 21;
  return site;
}

// site.ds bytes: a count, then `records` complete site records.
std::string SiteListBytes(std::uint32_t count, int records) {
  StringSink sink;
  CArchiveWriter archive(sink);
  archive.WriteCount(count);
  for (int i = 0; i < records; ++i) {
    archive.WriteNewObject(kFTPSiteClass);
    MakeSite("host" + std::to_string(i), "user", "pw")->Serialize(archive);
  }
  EXPECT_EQ(archive.Close(), ArchiveError::kNone);
  return sink.bytes;
}

std::string Word(std::uint16_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

ino_t Inode(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_ino;
}

mode_t Mode(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

// A catalog: root / a / b / c with files in each, plus a sibling x.
struct Catalog {
  explicit Catalog(CFTPSite& site) {
    root = site.rootDir.get();
    a = root->AddSubdir(std::make_unique<CFTPDir>("a"));
    x = root->AddSubdir(std::make_unique<CFTPDir>("x"));
    b = a->AddSubdir(std::make_unique<CFTPDir>("b"));
    c = b->AddSubdir(std::make_unique<CFTPDir>("c"));
    rootFile = root->AddFile(CFTPFile::Make("r.txt", 1));
    aFile = a->AddFile(CFTPFile::Make("a.txt", 2));
    bFile = b->AddFile(CFTPFile::Make("b.txt", 3));
    cFile = c->AddFile(CFTPFile::Make("c.txt", 4));
    xFile = x->AddFile(CFTPFile::Make("x.txt", 5));
  }
  // Unlinks `dir` from its parent the way a sweep does.
  static std::unique_ptr<CFTPDir> Unlink(CFTPDir* dir) {
    auto& list = dir->parent->subdirs;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->get() == dir) {
        std::unique_ptr<CFTPDir> owned = std::move(*it);
        list.erase(it);
        return owned;
      }
    }
    return nullptr;
  }
  static std::unique_ptr<CFTPFile> Unlink(CFTPFile* file) {
    auto& list = file->parent->files;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->get() == file) {
        std::unique_ptr<CFTPFile> owned = std::move(*it);
        list.erase(it);
        return owned;
      }
    }
    return nullptr;
  }
  CFTPDir *root, *a, *b, *c, *x;
  CFTPFile *rootFile, *aFile, *bFile, *cFile, *xFile;
};

class DocumentTest : public ::testing::Test {
 protected:
  fs::path SiteList() const { return dir.path() / "site.ds"; }
  std::unique_ptr<COrvaneDoc> Open() {
    auto doc = std::make_unique<COrvaneDoc>(dir.path(), host);
    host.doc = doc.get();
    EXPECT_TRUE(doc->OnNewDocument());
    return doc;
  }

  test::CTempTree dir;
  TestHost host;
};

// ---- site.ds ----------------------------------------------------------------

TEST_F(DocumentTest, MissingSiteListIsCreatedEmptyAndOwnerOnly) {
  auto doc = Open();
  EXPECT_TRUE(doc->sites().empty());
  EXPECT_TRUE(host.loadErrors.empty());
  ASSERT_TRUE(fs::exists(SiteList()));
  EXPECT_EQ(fs::file_size(SiteList()), 0u);
  EXPECT_EQ(Mode(SiteList()), 0600u);
}

TEST_F(DocumentTest, EmptySiteListGivesNoSitesAndNoError) {
  WriteFile(SiteList(), "");
  auto doc = Open();
  EXPECT_TRUE(doc->sites().empty());
  EXPECT_TRUE(host.loadErrors.empty());
}

TEST_F(DocumentTest, SavedSiteListReadsBackInOrderAndOwnerOnly) {
  {
    auto doc = Open();
    doc->AppendSite(MakeSite("a.example", "anonymous", std::string(kAnonymousPassword)));
    doc->AppendSite(MakeSite("b.example", "bob", "secret", "\xb2\xe2\xca\xd4"));
    doc->sites().back()->port = 2121;
    doc->sites().back()->anonymousUpdate = true;
    doc->sites().back()->remarks = "line 1\r\nline 2";
    // Run-time state is not part of the list.
    doc->sites().back()->loadState = kLoaded;
    doc->sites().back()->SetOutcome(SiteStatus::Outcome::kSucceeded, kUpdateSucceeded);
    ASSERT_TRUE(doc->SaveSiteList());
  }
  EXPECT_EQ(Mode(SiteList()), 0600u);
  auto doc = Open();
  ASSERT_EQ(doc->sites().size(), 2u);
  EXPECT_TRUE(host.loadErrors.empty());
  EXPECT_EQ(doc->sites()[0]->siteKey(), "a.example");
  const CFTPSite& b = *doc->sites()[1];
  EXPECT_EQ(b.siteKey(), "b.example@bob");
  EXPECT_EQ(b.password, "secret");
  EXPECT_EQ(b.port, 2121u);
  EXPECT_TRUE(b.anonymousUpdate);
  EXPECT_EQ(b.nickname, "\xb2\xe2\xca\xd4");
  EXPECT_EQ(b.remarks, "line 1\r\nline 2");
  EXPECT_EQ(b.loadState.load(), kNotLoaded);
  EXPECT_EQ(b.Status(), SiteStatus{});
}

TEST_F(DocumentTest, SiteListBytesAreTheObjectListEncoding) {
  auto doc = Open();
  doc->AppendSite(MakeSite("h", "u", "p"));
  doc->AppendSite(MakeSite("i", "v", "q"));
  ASSERT_TRUE(doc->SaveSiteList());
  // Count, then the first record with its class record, the second with a
  // back-reference to the class (index 1).
  std::string expected = Word(2) + Word(0xFFFF) + Word(1) + Word(8) + "CFTPSite";
  expected += std::string("\x01h\x01p\x01u") + std::string("\x15\0\0\0\0\0\0", 7);
  expected += Word(0x8001) + std::string("\x01i\x01q\x01v") + std::string("\x15\0\0\0\0\0\0", 7);
  EXPECT_EQ(ReadFile(SiteList()), expected);
}

struct DamageCase {
  const char* name;
  std::string tail;  // bytes after three good records
  const char* text;  // expected load error, %1 = path
};

TEST_F(DocumentTest, DamageAfterTheThirdRecordKeepsThreeSitesAndReportsOnce) {
  const std::vector<DamageCase> cases = {
      {"list ends early", "", "An attempt was made to access %1 past its end."},
      {"record cut short", Word(0x8001) + std::string("\x05hos", 4),
       "An attempt was made to access %1 past its end."},
      {"unknown index", Word(0x0040), "%1 has a bad format."},
      {"null record", Word(0x0000), "%1 has a bad format."},
      {"same record twice", Word(0x0002), "%1 has a bad format."},
      {"other class", Word(0xFFFF) + Word(1) + Word(7) + "CFTPDir",
       "%1 contained an unexpected object."},
  };
  for (const DamageCase& damage : cases) {
    SCOPED_TRACE(damage.name);
    WriteFile(SiteList(), SiteListBytes(5, 3) + damage.tail);
    host.loadErrors.clear();
    auto doc = Open();
    ASSERT_EQ(doc->sites().size(), 3u);
    EXPECT_EQ(doc->sites()[2]->host, "host2");
    ASSERT_EQ(host.loadErrors.size(), 1u);
    std::string expected = damage.text;
    expected.replace(expected.find("%1"), 2, SiteList().string());
    EXPECT_EQ(host.loadErrors[0], expected);
  }
}

TEST_F(DocumentTest, WrongSchemaIsReportedAsIncorrectSchema) {
  WriteFile(SiteList(), Word(1) + Word(0xFFFF) + Word(2) + Word(8) + "CFTPSite");
  auto doc = Open();
  EXPECT_TRUE(doc->sites().empty());
  ASSERT_EQ(host.loadErrors.size(), 1u);
  EXPECT_EQ(host.loadErrors[0], SiteList().string() + " contains an incorrect schema.");
}

TEST_F(DocumentTest, UnreadableSiteListReportsOneErrorAndStartsEmpty) {
  fs::create_directory(SiteList());
  auto doc = Open();
  EXPECT_TRUE(doc->sites().empty());
  EXPECT_EQ(host.loadErrors.size(), 1u);
}

TEST_F(DocumentTest, BytesAfterTheListAreIgnored) {
  WriteFile(SiteList(), SiteListBytes(2, 2) + "trailing");
  auto doc = Open();
  EXPECT_EQ(doc->sites().size(), 2u);
  EXPECT_TRUE(host.loadErrors.empty());
}

TEST_F(DocumentTest, FailedSaveReportsFalseAndWritesNothing) {
  const fs::path missing = dir.path() / "gone";
  COrvaneDoc doc(missing, host);
  doc.AppendSite(MakeSite("new", "u", "p"));
  EXPECT_FALSE(doc.SaveSiteList());
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_TRUE(host.loadErrors.empty());
  // The list in memory is kept.
  EXPECT_EQ(doc.sites().size(), 1u);
}

// ---- EnsureCatalogLoaded ----------------------------------------------------

TEST_F(DocumentTest, CatalogIsLoadedOnceWhenManyThreadsAskAtOnce) {
  auto saved = MakeSite("h", "u", "p");
  constexpr int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) {
    saved->rootDir->AddFile(CFTPFile::Make("f" + std::to_string(i), i, i % 2));
  }
  ASSERT_TRUE(saved->SaveCatalog(dir.path()));
  ASSERT_TRUE(saved->SaveState(dir.path()));

  auto site = MakeSite("h", "u", "p");
  std::vector<std::thread> threads;
  std::atomic<int> arrived{0};
  {
    // Reading the catalog takes the site's lock: holding it keeps the first
    // loader inside its load while the others arrive, so that every one of
    // them meets a load in progress. A second load would double the files.
    std::unique_lock hold(site->lock);
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&] {
        ++arrived;
        EnsureCatalogLoaded(*site, dir.path());
        // Every caller returns only once the whole catalog is there.
        EXPECT_EQ(site->rootDir->files.size(), static_cast<std::size_t>(kFiles));
        EXPECT_EQ(site->loadState.load(), kLoaded);
      });
    }
    // One loader is in its load, the others have arrived.
    EXPECT_TRUE(WaitUntil([&] { return site->loadState.load() == kLoading && arrived == 8; }));
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(site->loadState.load(), kLoaded);
  ASSERT_EQ(site->rootDir->files.size(), static_cast<std::size_t>(kFiles));
  EXPECT_EQ(site->rootDir->files[1]->readState.load(), 1);
  EXPECT_EQ(site->rootDir->files[2]->readState.load(), 0);
}

// The site store does a front end's disk work on its worker and posts the
// results: the thread that asks touches no site file.
TEST_F(DocumentTest, SiteStoreLoadsSavesAndReloadsOffTheAskingThread) {
  auto saved = MakeSite("h", "u", "p");
  saved->rootDir->AddFile(CFTPFile::Make("f", 1, 1));
  saved->rootDir->AddFile(CFTPFile::Make("g", 1, 1));
  ASSERT_TRUE(saved->SaveCatalogAndState(dir.path()));
  auto doc = Open();
  doc->AppendSite(MakeSite("h", "u", "p"));
  ASSERT_TRUE(doc->SaveSiteList());
  const std::shared_ptr<CFTPSite> site = doc->sites()[0];

  struct Sink : ISiteStoreSink {
    std::vector<std::string> told;
    void CatalogLoaded(const std::shared_ptr<CFTPSite>&) override { told.push_back("loaded"); }
    void MarksSaved(const std::shared_ptr<CFTPSite>&, CFTPSite::SaveResult result,
                    const std::string&) override {
      told.push_back(result == CFTPSite::SaveResult::kSaved ? "saved" : "not saved");
    }
    void CatalogReloaded(const std::shared_ptr<CFTPSite>&, CatalogReload result) override {
      told.push_back(result == CatalogReload::kReloaded ? "reloaded" : "not reloaded");
    }
  } sink;
  std::mutex mutex;
  std::vector<std::function<void()>> posted;
  CSiteStore store(*doc, sink, [&](std::function<void()> event) {
    std::lock_guard guard(mutex);
    posted.push_back(std::move(event));
  });
  doc->SetSiteStore(&store);
  const auto settle = [&] {
    store.Drain();
    std::vector<std::function<void()>> events;
    {
      std::lock_guard guard(mutex);
      events.swap(posted);
    }
    for (auto& event : events) event();
  };
  ForbidSiteFileAccess(std::this_thread::get_id());

  EXPECT_FALSE(doc->RequestCatalog(*site));
  settle();
  EXPECT_EQ(site->loadState.load(), kLoaded);
  ASSERT_EQ(site->rootDir->files.size(), 2u);
  EXPECT_TRUE(doc->RequestCatalog(*site));

  // A mark cleared; then a save that cannot replace state.st keeps the
  // site flagged for a later try.
  site->rootDir->files[0]->readState = 0;
  site->stateDirty = true;
  store.SaveMarks(site);
  settle();
  EXPECT_FALSE(site->stateDirty.load());
  site->rootDir->files[1]->readState = 0;
  site->stateDirty = true;
  const fs::path state = dir.path() / "Data" / "h@u" / "state.st";
  fs::remove(state);
  fs::create_directories(state / "in the way");
  store.SaveMarks(site);
  settle();
  EXPECT_TRUE(site->stateDirty.load());
  fs::remove_all(state);
  site->stateDirty = false;

  // Another party commits the catalog without "g": the merge runs on the
  // worker, and "g" reaches the document as a removal.
  std::thread([&] {
    saved->rootDir->files.pop_back();
    ASSERT_TRUE(saved->SaveCatalogAndState(dir.path()));
  }).join();
  store.Reload(site);
  settle();
  ASSERT_EQ(site->rootDir->files.size(), 1u);
  EXPECT_EQ(site->rootDir->files[0]->name(), "f");

  ForbidSiteFileAccess({});
  EXPECT_THAT(TakeForbiddenSiteFileAccesses(), testing::IsEmpty());
  EXPECT_THAT(sink.told, testing::ElementsAre("loaded", "saved", "not saved", "reloaded"));
  doc->SetSiteStore(nullptr);
}

TEST_F(DocumentTest, StartUpReadsNoCatalog) {
  auto saved = MakeSite("h", "u", "p");
  saved->rootDir->AddFile(CFTPFile::Make("f", 1));
  ASSERT_TRUE(saved->SaveCatalog(dir.path()));
  {
    auto doc = Open();
    doc->AppendSite(MakeSite("h", "u", "p"));
    ASSERT_TRUE(doc->SaveSiteList());
  }
  auto doc = Open();
  ASSERT_EQ(doc->sites().size(), 1u);
  CFTPSite& site = *doc->sites()[0];
  EXPECT_EQ(site.loadState.load(), kNotLoaded);
  EXPECT_TRUE(site.rootDir->files.empty());
  doc->EnsureCatalogLoaded(site);
  EXPECT_EQ(site.rootDir->files.size(), 1u);
}

// ---- Site list operations --------------------------------------------------

TEST_F(DocumentTest, SiteListOperationsTellTheHostAndSave) {
  auto doc = Open();
  EXPECT_EQ(doc->AddSite(MakeSite("h", "u", "p1", "first")), SiteChange::kSaved);
  // Same host and user: the same site, whatever the password.
  EXPECT_EQ(doc->AddSite(MakeSite("h", "u", "p2", "again")), SiteChange::kRefused);
  EXPECT_EQ(doc->AddSite(MakeSite("g", "u", "p", "second")), SiteChange::kSaved);
  EXPECT_EQ(doc->sites()[0]->loadState.load(), kLoaded) << "a new site has no catalog to read";

  SiteSettings settings = SiteSettings::Of(*doc->sites()[1]);
  settings.remarks = "edited";
  EXPECT_EQ(doc->EditSite(*doc->sites()[1], settings), SiteChange::kSaved);
  ASSERT_TRUE(doc->DeleteSite("h@u"));
  EXPECT_FALSE(doc->DeleteSite("h@u"));
  EXPECT_THAT(host.siteEvents,
              ElementsAre("added 0+1", "added 1+1", "changed 1", "removing first"));

  host.siteEvents.clear();
  auto reread = Open();
  ASSERT_EQ(reread->sites().size(), 1u);
  EXPECT_EQ(reread->sites()[0]->remarks, "edited");
  EXPECT_THAT(host.siteEvents, ElementsAre("added 0+1"));
}

TEST_F(DocumentTest, EditingTheKeyMovesTheCatalogAndARunningSiteIsNotEdited) {
  auto doc = Open();
  ASSERT_EQ(doc->AddSite(MakeSite("h", "u", "p")), SiteChange::kSaved);
  CFTPSite& site = *doc->sites()[0];
  site.rootDir->AddFile(CFTPFile::Make("f", 1));
  ASSERT_TRUE(site.SaveCatalog(dir.path()));

  SiteSettings settings = SiteSettings::Of(site);
  settings.userName = "v";
  site.updateState = kUpdateRunning;
  EXPECT_EQ(doc->EditSite(site, settings), SiteChange::kRefused);
  EXPECT_EQ(site.siteKey(), "h@u");
  site.updateState = kUpdateSucceeded;
  EXPECT_EQ(doc->EditSite(site, settings), SiteChange::kSaved);
  EXPECT_EQ(site.siteKey(), "h@v");
  EXPECT_FALSE(fs::exists(dir.path() / "Data" / "h@u"));
  EXPECT_TRUE(fs::exists(dir.path() / "Data" / "h@v" / "content.ct"));

  CFTPSite stranger;
  EXPECT_EQ(doc->EditSite(stranger, settings), SiteChange::kRefused);
}

// The charset lives in sites.opt beside site.ds: a data directory from
// before opens with every site "auto" and its site.ds untouched; a record
// moves with its key, leaves with its site, and never passes to a site
// added later under the same key.
TEST_F(DocumentTest, CharsetsKeepToTheirSitesInTheSideFile) {
  {
    auto doc = Open();
    ASSERT_EQ(doc->AddSite(MakeSite("h", "u", "p")), SiteChange::kSaved);
    ASSERT_EQ(doc->AddSite(MakeSite("g", "u", "p")), SiteChange::kSaved);
  }
  fs::remove(dir.path() / "sites.opt");
  const auto siteList = [this] {
    std::ifstream in(dir.path() / "site.ds", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = siteList();
  const auto charsets = [this] {
    std::vector<std::string> found;
    auto doc = Open();
    for (const auto& site : doc->sites()) {
      found.push_back(site->siteKey() + "=" + std::string(CharsetName(site->charset.load())));
    }
    return found;
  };
  EXPECT_THAT(charsets(), ElementsAre("h@u=auto", "g@u=auto"));
  EXPECT_EQ(siteList(), before);
  EXPECT_FALSE(fs::exists(dir.path() / "sites.opt"));

  {
    auto doc = Open();
    CFTPSite& site = *doc->sites()[0];
    SiteSettings settings = SiteSettings::Of(site);
    settings.charset = NameCharset::kBig5;
    ASSERT_EQ(doc->EditSite(site, settings), SiteChange::kSaved);
    EXPECT_EQ(siteList(), before);  // site.ds keeps its layout and bytes
    settings.userName = "v";
    ASSERT_EQ(doc->EditSite(site, settings), SiteChange::kSaved);
  }
  EXPECT_THAT(charsets(), ElementsAre("h@v=big5", "g@u=auto"));
  {
    auto doc = Open();
    doc->DeleteSite("h@v");
    ASSERT_EQ(doc->AddSite(MakeSite("h", "v", "p")), SiteChange::kSaved);
  }
  EXPECT_THAT(charsets(), ElementsAre("g@u=auto", "h@v=auto"));
}

// ---- DeleteSite -------------------------------------------------------------

TEST_F(DocumentTest, DeletingAnUnknownKeyChangesNothing) {
  auto doc = Open();
  doc->AppendSite(MakeSite("h", "u", "p"));
  ASSERT_TRUE(doc->SaveSiteList());
  ASSERT_TRUE(doc->sites()[0]->SaveCatalog(dir.path()));
  const ino_t listInode = Inode(SiteList());
  const std::string listBytes = ReadFile(SiteList());

  doc->DeleteSite("h@x");
  doc->DeleteSite("H@u");  // keys compare byte for byte
  doc->DeleteSite("");

  EXPECT_EQ(doc->sites().size(), 1u);
  EXPECT_FALSE(doc->sites()[0]->removed.load());
  EXPECT_EQ(Inode(SiteList()), listInode);  // not even rewritten
  EXPECT_EQ(ReadFile(SiteList()), listBytes);
  EXPECT_TRUE(fs::exists(dir.path() / "Data" / "h@u" / "content.ct"));
}

TEST_F(DocumentTest, DeletingASharedKeyRemovesTheFirstSiteAndTheSharedFiles) {
  auto doc = Open();
  doc->AppendSite(MakeSite("h", "u", "p1", "first"));
  doc->AppendSite(MakeSite("other", "u", "p"));
  doc->AppendSite(MakeSite("h", "u", "p2", "second"));
  for (const auto& site : doc->sites()) {
    site->loadState = kLoaded;
    ASSERT_TRUE(site->SaveCatalog(dir.path()));
    ASSERT_TRUE(site->SaveState(dir.path()));
  }
  // An update job's reference keeps the record alive after the delete.
  std::shared_ptr<CFTPSite> heldByJob = doc->sites()[0];

  doc->DeleteSite("h@u");

  ASSERT_EQ(doc->sites().size(), 2u);
  EXPECT_EQ(doc->sites()[0]->host, "other");
  EXPECT_EQ(doc->sites()[1]->nickname, "second");
  EXPECT_TRUE(heldByJob->removed.load());
  EXPECT_FALSE(doc->sites()[1]->removed.load());
  EXPECT_FALSE(fs::exists(dir.path() / "Data" / "h@u"));
  EXPECT_TRUE(fs::exists(dir.path() / "Data" / "other@u" / "content.ct"));
  // site.ds was rewritten at once with the remaining two.
  TestHost otherHost;
  COrvaneDoc reread(dir.path(), otherHost);
  reread.OnNewDocument();
  ASSERT_EQ(reread.sites().size(), 2u);
  EXPECT_EQ(reread.sites()[1]->nickname, "second");
}

TEST_F(DocumentTest, DeletedDataDirectoryStaysWhenSomethingElseIsInIt) {
  auto doc = Open();
  doc->AppendSite(MakeSite("h", "u", "p"));
  ASSERT_TRUE(doc->sites()[0]->SaveCatalog(dir.path()));
  WriteFile(dir.path() / "Data" / "h@u" / "notes.txt", "mine");
  doc->DeleteSite("h@u");
  EXPECT_TRUE(doc->sites().empty());
  EXPECT_FALSE(fs::exists(dir.path() / "Data" / "h@u" / "content.ct"));
  EXPECT_TRUE(fs::exists(dir.path() / "Data" / "h@u" / "notes.txt"));
}

TEST_F(DocumentTest, DeletingASiteDropsEveryReferenceToItsCatalog) {
  auto doc = Open();
  doc->AppendSite(MakeSite("gone", "u", "p"));
  doc->AppendSite(MakeSite("kept", "u", "p"));
  Catalog gone(*doc->sites()[0]);
  Catalog kept(*doc->sites()[1]);
  doc->RecordStep(kept.a);
  doc->RecordStep(gone.b);
  doc->RecordStep(kept.x);
  doc->RecordStep(gone.c);
  doc->ShowDirectory(gone.b);
  doc->resultDirs = {gone.c, kept.b};
  doc->resultFiles = {gone.cFile, kept.xFile, gone.rootFile};

  doc->DeleteSite("gone@u");

  EXPECT_TRUE(doc->browseDirs.empty());
  EXPECT_TRUE(doc->browseFiles.empty());
  EXPECT_EQ(doc->resultDirs, std::vector<CFTPDir*>{kept.b});
  EXPECT_EQ(doc->resultFiles, std::vector<CFTPFile*>{kept.xFile});
  EXPECT_EQ(doc->currentNode, nullptr);
  ASSERT_EQ(doc->backList.size(), 2u);
  EXPECT_EQ(doc->backList[0]->directory, kept.a);
  EXPECT_EQ(doc->backList[1]->directory, kept.x);
}

// ---- Close ------------------------------------------------------------------

TEST_F(DocumentTest, CloseSavesStateOnlyForChangedSites) {
  {
    auto doc = Open();
    doc->AppendSite(MakeSite("dirty", "u", "p"));
    doc->AppendSite(MakeSite("clean", "u", "p"));
    for (const auto& site : doc->sites()) {
      site->rootDir->AddFile(CFTPFile::Make("f", 1, 1));
      ASSERT_TRUE(site->SaveCatalog(dir.path()));
      ASSERT_TRUE(site->SaveState(dir.path()));
    }
    ASSERT_TRUE(doc->SaveSiteList());
  }
  const fs::path dirty = dir.path() / "Data" / "dirty@u";
  const fs::path clean = dir.path() / "Data" / "clean@u";
  const ino_t listInode = Inode(SiteList());
  const ino_t dirtyCatalog = Inode(dirty / "content.ct");
  const ino_t dirtyState = Inode(dirty / "state.st");
  const ino_t cleanState = Inode(clean / "state.st");

  auto doc = Open();
  for (const auto& site : doc->sites()) doc->EnsureCatalogLoaded(*site);
  CFTPSite& site = *doc->sites()[0];
  site.rootDir->files[0]->readState = 0;
  site.stateDirty = true;
  doc->OnCloseDocument();

  EXPECT_NE(Inode(dirty / "state.st"), dirtyState);  // replaced
  EXPECT_EQ(ReadFile(dirty / "state.st"), std::string(4, '\0'));
  EXPECT_EQ(Inode(clean / "state.st"), cleanState);
  EXPECT_EQ(Inode(dirty / "content.ct"), dirtyCatalog);
  EXPECT_EQ(Inode(SiteList()), listInode);
}

TEST_F(DocumentTest, CloseWithNothingChangedWritesNothing) {
  auto doc = Open();
  doc->AppendSite(MakeSite("h", "u", "p"));
  doc->OnCloseDocument();
  EXPECT_FALSE(fs::exists(dir.path() / "Data"));
  EXPECT_EQ(fs::file_size(SiteList()), 0u);
}

// ---- Files that were not read in full ---------------------------------------

// A site "h@u" whose catalog is a chain of `depth` new directories with one
// new file at the bottom, saved with its state.
std::shared_ptr<CFTPSite> SavedChain(const fs::path& programDir, std::size_t depth) {
  auto site = MakeSite("h", "u", "p");
  CFTPDir* dir = site->rootDir.get();
  for (std::size_t i = 0; i < depth; ++i) dir = dir->AddSubdir(std::make_unique<CFTPDir>("d", 1));
  dir->AddFile(CFTPFile::Make("leaf", 7, 1));
  EXPECT_TRUE(site->SaveCatalogAndState(programDir));
  return site;
}

// Runs `work` on a thread of its own. An open that blocks on the FIFO is
// released by opening the FIFO's other end, so that the fault fails the
// test instead of hanging it.
bool FinishesWithoutBlocking(const fs::path& fifo, std::function<void()> work) {
  auto done = std::async(std::launch::async, std::move(work));
  if (done.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return true;
  const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) ::close(writer);
  done.wait();
  return false;
}

TEST_F(DocumentTest, FifoInPlaceOfAStoredFileCannotBeReadAndStays) {
  for (const char* name : {"site.ds", "content.ct", "state.st"}) {
    SCOPED_TRACE(name);
    const fs::path data = dir.path() / "Data" / "h@u";
    {
      auto doc = Open();
      doc->AppendSite(SavedChain(dir.path(), 2));
      ASSERT_TRUE(doc->SaveSiteList());
    }
    const fs::path fifo = std::string(name) == "site.ds" ? SiteList() : data / name;
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    host.loadErrors.clear();

    std::unique_ptr<COrvaneDoc> doc;
    ASSERT_TRUE(FinishesWithoutBlocking(fifo, [&] {
      doc = Open();
      for (const auto& site : doc->sites()) doc->EnsureCatalogLoaded(*site);
    }));
    if (std::string(name) == "site.ds") {
      EXPECT_TRUE(doc->sites().empty());
      EXPECT_EQ(host.loadErrors.size(), 1u);
    } else {
      ASSERT_EQ(doc->sites().size(), 1u);
      CFTPSite& site = *doc->sites()[0];
      EXPECT_TRUE(site.filesIncomplete.load());
      // Marks cleared, and then nothing is saved over what could not be read.
      site.stateDirty = true;
      doc->OnCloseDocument();
      EXPECT_FALSE(site.SaveCatalogAndState(dir.path()));
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    doc.reset();
    fs::remove_all(dir.path() / "Data");
    fs::remove(SiteList());
  }
}

TEST_F(DocumentTest, CatalogReadOnlyInPartIsNeverWrittenBack) {
  const fs::path data = dir.path() / "Data" / "h@u";
  {
    auto doc = Open();
    doc->AppendSite(SavedChain(dir.path(), 10'001));
    ASSERT_TRUE(doc->SaveSiteList());
  }
  const std::string content = ReadFile(data / "content.ct");
  const std::string state = ReadFile(data / "state.st");
  ASSERT_EQ(state.size(), 4u * 10'002);

  // Deeper than 10,000 levels, and whole: clearing a mark rewrites the state
  // at its full length.
  {
    auto doc = Open();
    CFTPSite& site = *doc->sites()[0];
    doc->EnsureCatalogLoaded(site);
    EXPECT_FALSE(site.filesIncomplete.load());
    site.rootDir->subdirs[0]->readState = 0;
    site.stateDirty = true;
    doc->OnCloseDocument();
    const std::string saved = ReadFile(data / "state.st");
    ASSERT_EQ(saved.size(), state.size());
    EXPECT_EQ(saved.substr(0, 4), std::string(4, '\0'));
  }

  // Cut short: what was read stays in memory, and both files stay as they are.
  WriteFile(data / "content.ct", content.substr(0, content.size() - 3));
  WriteFile(data / "state.st", state);
  auto doc = Open();
  CFTPSite& site = *doc->sites()[0];
  doc->EnsureCatalogLoaded(site);
  EXPECT_TRUE(site.filesIncomplete.load());
  site.stateDirty = true;
  doc->OnCloseDocument();
  EXPECT_EQ(ReadFile(data / "state.st"), state);
  EXPECT_EQ(ReadFile(data / "content.ct"), content.substr(0, content.size() - 3));
}

// ---- PumpMessages -----------------------------------------------------------

TEST_F(DocumentTest, QueuedStopEndsALongOperationAtItsFirstPump) {
  auto doc = Open();
  doc->AppendSite(MakeSite("h", "u", "p"));
  CFTPSite& site = *doc->sites()[0];
  site.loadState = kLoaded;
  Catalog catalog(site);
  host.queue = {7, TestHost::kStop, 8};

  doc->Search("txt");

  // The message before the stop was dispatched; the stop stays queued for
  // the main loop, and nothing was found or reported.
  EXPECT_EQ(host.pumps, 1);
  EXPECT_EQ(host.dispatched, std::vector<int>{7});
  EXPECT_EQ(host.queue.front(), TestHost::kStop);
  EXPECT_TRUE(doc->resultFiles.empty());
  EXPECT_EQ(host.results, 0);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_FALSE(doc->PumpMessages());

  host.queue.clear();
  doc->Search("txt");
  EXPECT_EQ(doc->resultFiles.size(), 5u);
}

// ---- Entries removed by an update -------------------------------------------

class RemovalTest : public DocumentTest {
 protected:
  void SetUp() override {
    doc = Open();
    doc->AppendSite(MakeSite("h", "u", "p"));
    catalog = std::make_unique<Catalog>(*doc->sites()[0]);
  }
  std::unique_ptr<COrvaneDoc> doc;
  std::unique_ptr<Catalog> catalog;
};

TEST_F(RemovalTest, RemovedDirectoryLeavesListsAndHistoryWithItsDescendants) {
  Catalog& k = *catalog;
  doc->RecordStep(k.root);
  doc->RecordStep(k.a);
  doc->RecordStep(k.x);
  doc->RecordStep(k.b);
  doc->RecordStep(k.root);
  doc->RecordStep(k.c);
  doc->GoBack();  // current root, forward [c]
  doc->ShowDirectory(k.b);
  doc->resultDirs = {k.x, k.b, k.c, k.a};
  doc->resultFiles = {k.cFile, k.rootFile, k.aFile, k.xFile, k.bFile};

  doc->OnEntryRemoved(Catalog::Unlink(k.a));

  EXPECT_TRUE(doc->browseDirs.empty());
  EXPECT_TRUE(doc->browseFiles.empty());
  EXPECT_EQ(doc->resultDirs, std::vector<CFTPDir*>{k.x});
  EXPECT_EQ(doc->resultFiles, (std::vector<CFTPFile*>{k.rootFile, k.xFile}));
  ASSERT_NE(doc->currentNode, nullptr);
  EXPECT_EQ(doc->currentNode->directory, k.root);
  ASSERT_EQ(doc->backList.size(), 2u);
  EXPECT_EQ(doc->backList[0]->directory, k.root);
  EXPECT_EQ(doc->backList[1]->directory, k.x);
  EXPECT_TRUE(doc->forwardList.empty());
  EXPECT_FALSE(doc->CanGoForward());
}

TEST_F(RemovalTest, RemovedCurrentDirectoryIsDroppedAndUpIsDisabled) {
  Catalog& k = *catalog;
  doc->RecordStep(k.x);
  doc->RecordStep(k.c);
  ASSERT_TRUE(doc->CanGoUp());
  doc->OnEntryRemoved(Catalog::Unlink(k.b));
  EXPECT_EQ(doc->currentNode, nullptr);
  EXPECT_FALSE(doc->CanGoUp());
  EXPECT_EQ(doc->GoUp(), nullptr);
  // Back still reaches the surviving earlier location.
  EXPECT_EQ(doc->GoBack(), k.x);
  EXPECT_TRUE(doc->forwardList.empty());
  EXPECT_EQ(doc->browseFiles, std::vector<CFTPFile*>{k.xFile});
}

TEST_F(RemovalTest, RemovedFileLeavesOnlyItsOwnRows) {
  Catalog& k = *catalog;
  k.root->AddFile(CFTPFile::Make("second.txt", 9));
  doc->ShowDirectory(k.root);
  doc->resultFiles = {k.rootFile, k.cFile};
  doc->RecordStep(k.root);
  doc->OnEntryRemoved(Catalog::Unlink(k.rootFile));
  ASSERT_EQ(doc->browseFiles.size(), 1u);
  EXPECT_EQ(doc->browseFiles[0]->name(), "second.txt");
  EXPECT_EQ(doc->resultFiles, std::vector<CFTPFile*>{k.cFile});
  EXPECT_EQ(doc->browseDirs.size(), 2u);
  EXPECT_EQ(doc->currentNode->directory, k.root);
}

TEST_F(RemovalTest, BatchRemovalHandlesNestedAndSeparateSubtrees) {
  Catalog& k = *catalog;
  doc->resultDirs = {k.c, k.x, k.b, k.root};
  doc->resultFiles = {k.bFile, k.xFile, k.rootFile, k.aFile};
  // c leaves first (its own sweep), then x and a with the next one.
  std::vector<std::unique_ptr<CFTPDir>> dirs;
  dirs.push_back(Catalog::Unlink(k.c));
  dirs.push_back(Catalog::Unlink(k.x));
  dirs.push_back(Catalog::Unlink(k.a));
  std::vector<std::unique_ptr<CFTPFile>> files;
  files.push_back(Catalog::Unlink(k.rootFile));
  doc->OnEntriesRemoved(std::move(dirs), std::move(files));
  EXPECT_EQ(doc->resultDirs, std::vector<CFTPDir*>{k.root});
  EXPECT_TRUE(doc->resultFiles.empty());
  EXPECT_TRUE(k.root->subdirs.empty());
}

TEST_F(RemovalTest, EntriesRemovedDuringAWalkLiveUntilTheWalkEnds) {
  Catalog& k = *catalog;
  CFTPDir* c = k.c;
  CFTPFile* cFile = k.cFile;
  {
    COrvaneDoc::WalkGuard outer(*doc);
    EXPECT_FALSE(doc->IsRemoved(c));
    {
      COrvaneDoc::WalkGuard inner(*doc);
      doc->OnEntryRemoved(Catalog::Unlink(k.a));
    }
    // Still parked after the inner walk: the outer one may hold it.
    EXPECT_TRUE(doc->IsRemoved(c));
    EXPECT_TRUE(doc->IsRemoved(cFile));
    EXPECT_FALSE(doc->IsRemoved(k.x));
    EXPECT_FALSE(doc->IsRemoved(k.xFile));
    EXPECT_EQ(c->name(), "c");  // alive (AddressSanitizer checks this)
    // A walk that appended from its snapshot anyway does not leave a
    // dangling row behind.
    doc->resultFiles.push_back(cFile);
    doc->resultDirs.push_back(c);
    doc->resultFiles.push_back(k.xFile);
  }
  EXPECT_EQ(doc->resultFiles, std::vector<CFTPFile*>{k.xFile});
  EXPECT_TRUE(doc->resultDirs.empty());
  EXPECT_FALSE(doc->walking());
}

TEST_F(RemovalTest, SiteDeletedDuringAWalkIsKeptUntilTheWalkEnds) {
  std::weak_ptr<CFTPSite> weak = doc->sites()[0];
  CFTPDir* b = catalog->b;
  {
    COrvaneDoc::WalkGuard guard(*doc);
    doc->DeleteSite("h@u");
    EXPECT_TRUE(doc->sites().empty());
    EXPECT_FALSE(weak.expired());
    EXPECT_TRUE(doc->IsRemoved(b));
    EXPECT_EQ(b->name(), "b");
  }
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace orvane
