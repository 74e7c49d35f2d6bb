// Stored files under faults: each step of a save, a mark-read, a delete, a
// key change and an import failing in turn (and the process killed there),
// kills at random moments of a large save, and a full disk. After each, a
// fresh reading of the data directory must find every site whole, in its
// old or its new state, and the next run must work.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "catalog/atomic_file.h"
#include "catalog/change_journal.h"
#include "catalog/file_system.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "catalog/site_health.h"
#include "catalog/site_options.h"
#include "document/orvane_doc.h"
#include "document/site_trust.h"
#include "tests/support/temp_tree.h"
#include "update/known_hosts.h"
#include "update/update_engine.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Fails, or kills the process at, the call of the seam numbered `failAt`
// (from 0); with a byte budget, writes stop with ENOSPC once it is spent.
class CFaultyFileSystem : public CFileSystem {
 public:
  enum class Action { kFail, kKill };

  int MakeTemp(char* pattern) override {
    if (Hit()) return Fail(ENOSPC);
    const int fd = CFileSystem::MakeTemp(pattern);
    if (!fullFor.empty() && std::string_view(pattern).find(fullFor) != std::string_view::npos) {
      fullFds.insert(fd);
    } else {
      fullFds.erase(fd);
    }
    return fd;
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    if (Hit() || fullFds.count(fd)) return Fail(ENOSPC);
    if (byteBudget >= 0) {
      if (byteBudget == 0) return Fail(ENOSPC);
      size = std::min(size, static_cast<std::size_t>(byteBudget));
    }
    const ssize_t done = CFileSystem::Write(fd, data, size);
    if (done > 0) {
      written += done;
      if (byteBudget >= 0) byteBudget -= done;
    }
    return done;
  }
  int Fsync(int fd) override { return Hit() ? Fail(EIO) : CFileSystem::Fsync(fd); }
  int Rename(const char* from, const char* to) override {
    if (!renameFailsFor.empty() && std::string_view(to).ends_with("/" + renameFailsFor)) {
      return Fail(EIO);
    }
    return Hit() ? Fail(EIO) : CFileSystem::Rename(from, to);
  }
  int Unlink(const char* path) override { return Hit() ? Fail(EIO) : CFileSystem::Unlink(path); }
  int Mkdir(const char* path, mode_t mode) override {
    return Hit() ? Fail(ENOSPC) : CFileSystem::Mkdir(path, mode);
  }
  int Rmdir(const char* path) override { return Hit() ? Fail(EIO) : CFileSystem::Rmdir(path); }

  long failAt = -1;
  Action action = Action::kFail;
  long long byteBudget = -1;
  // Writes to the temporaries of files whose path holds this fail.
  std::string fullFor;
  // Every rename onto a file of this name fails, for as long as this
  // object is in place.
  std::string renameFailsFor;
  std::set<int> fullFds;
  long calls = 0;
  long long written = 0;

 private:
  bool Hit() {
    if (calls++ != failAt) return false;
    if (action == Action::kKill) ::kill(::getpid(), SIGKILL);
    return true;
  }
  static int Fail(int error) {
    errno = error;
    return -1;
  }
};

class KeepRemoved : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile> file) override { files.push_back(std::move(file)); }
  void DirRemoved(std::unique_ptr<CFTPDir> dir) override { dirs.push_back(std::move(dir)); }
  std::vector<std::unique_ptr<CFTPFile>> files;
  std::vector<std::unique_ptr<CFTPDir>> dirs;
};

std::shared_ptr<CFTPSite> MakeSite(const std::string& host, const std::string& user,
                                   const std::string& password) {
  auto site = std::make_shared<CFTPSite>();
  site->host = host;
  site->userName = user;
  site->password = password;
  site->nickname = host;
  return site;
}

// `dirs` directories of `files` files each, and three files at the root;
// every third entry new.
void Fill(CFTPDir& root, int dirs, int files) {
  int n = 0;
  for (int d = 0; d < dirs; ++d) {
    CFTPDir* dir = root.AddSubdir(std::make_unique<CFTPDir>("d" + std::to_string(d), n++ % 3 == 0));
    for (int f = 0; f < files; ++f) {
      dir->AddFile(CFTPFile::Make("f" + std::to_string(f), static_cast<std::uint64_t>(f) * 10,
                                  n++ % 3 == 0));
    }
  }
  for (int f = 0; f < 3; ++f)
    root.AddFile(CFTPFile::Make("r" + std::to_string(f), 1, n++ % 3 == 0));
}

// A data directory with two sites, each with its catalog and marks.
void MakeDataDir(const fs::path& dir, int dirs = 3, int files = 3) {
  fs::create_directories(dir);
  IDocumentHost host;
  COrvaneDoc doc(dir, host);
  doc.OnNewDocument();
  for (auto site : {MakeSite("a.example", "anonymous", std::string(kAnonymousPassword)),
                    MakeSite("b.example", "bob", "secret")}) {
    // A first update's record: every save below has an old journal to keep.
    site->BeginChanges();
    Fill(*site->rootDir, dirs, files);
    site->EndChanges(JournalRecord::Outcome::kSucceeded);
    ASSERT_EQ(doc.AddSite(site), SiteChange::kSaved);
    ASSERT_EQ(site->SaveFiles(dir, true), CFTPSite::SaveResult::kSaved);
  }
}

void Walk(const CFTPDir& dir, std::string& out) {
  for (const auto& sub : dir.subdirs) {
    out.append(sub->name()).append("/").append(std::to_string(sub->readState.load())).append("{");
    Walk(*sub, out);
    out.append("}");
  }
  for (const auto& file : dir.files) {
    out.append(file->name()).append(":").append(std::to_string(file->size.load()));
    out.append(":").append(std::to_string(file->readState.load())).append(" ");
  }
}

// Whether `path` ("/a/b") names an entry of the catalog.
bool InCatalog(const CFTPDir& root, std::string_view path) {
  const CFTPDir* dir = &root;
  path.remove_prefix(1);
  for (;;) {
    const std::size_t slash = path.find('/');
    const std::string_view name = path.substr(0, slash);
    if (slash == std::string_view::npos) {
      for (const auto& sub : dir->subdirs) {
        if (sub->name() == name) return true;
      }
      for (const auto& file : dir->files) {
        if (file->name() == name) return true;
      }
      return false;
    }
    const auto next = std::find_if(dir->subdirs.begin(), dir->subdirs.end(),
                                   [name](const auto& sub) { return sub->name() == name; });
    if (next == dir->subdirs.end()) return false;
    dir = next->get();
    path.remove_prefix(slash + 1);
  }
}

// The site's journal without its clock readings (they differ between
// runs), and whether its newest record describes the catalog beside it:
// what it added is there, what it removed is not.
void JournalOf(const CFTPSite& site, const fs::path& dir, std::string& out) {
  std::string bytes;
  if (!ReadJournalFile(site.DataDirectory(dir) / kJournalFileName, bytes)) {
    out.append("journal unreadable\n");
    return;
  }
  bool damaged = false;
  const std::vector<JournalRecord> records = ReadJournal(bytes, &damaged);
  out.append("journal ").append(std::to_string(records.size())).append(damaged ? " damaged" : "");
  for (const JournalRecord& record : records) {
    out.append(" [").append(std::to_string(static_cast<int>(record.outcome)));
    out.append(record.summary ? " first" : "").append(" +").append(std::to_string(record.added));
    out.append(" -").append(std::to_string(record.removed));
    out.append(" ~").append(std::to_string(record.resized));
    for (const JournalEntry& entry : record.entries) {
      out.append(" ").append(std::to_string(static_cast<int>(entry.kind))).append(entry.path);
    }
    out.append("]");
  }
  if (!records.empty()) {
    for (const JournalEntry& entry : records.back().entries) {
      if (InCatalog(*site.rootDir, entry.path) != (entry.kind != JournalEntry::Kind::kRemoved)) {
        out.append(" NOT THE CATALOG'S: ").append(entry.path);
      }
    }
  }
  out.append("\n");
}

// What a fresh reader finds: every listed site with its settings, how its
// catalog loaded, its entries and marks, its journal; then what Data holds,
// and any leftover of a save in a site's directory.
std::string Snapshot(const fs::path& dir) {
  IDocumentHost host;
  COrvaneDoc doc(dir, host);
  doc.OnNewDocument(false);
  std::string out;
  for (const auto& site : doc.sites()) {
    doc.EnsureCatalogLoaded(*site);
    out.append("site ").append(site->siteKey()).append(" ").append(site->nickname);
    out.append(" load=").append(std::to_string(site->GetLoadResult().kind));
    out.append(" charset=").append(CharsetName(site->charset.load()));
    const SiteAccess access = site->Access();
    out.append(" protocol=").append(ProtocolName(access.protocol));
    out.append(" pin=").append(access.pin).append("\n");
    Walk(*site->rootDir, out);
    out.append("\n");
    JournalOf(*site, dir, out);
    // The health record is written after the commit, on its own (a failed
    // update has one and no new catalog): it is not part of the old or new
    // state, but it is always whole.
    const fs::path siteDir = site->DataDirectory(dir);
    if (fs::exists(siteDir / "health.txt") && !ReadSiteHealth(siteDir)) {
      out.append("HEALTH RECORD DAMAGED\n");
    }
    // So is the charset decision written with it.
    if (fs::exists(siteDir / kCharsetRecordFileName) && !ReadCharsetDecision(siteDir)) {
      out.append("CHARSET RECORD DAMAGED\n");
    }
  }
  std::set<std::string> names;
  std::error_code error;
  // Files only: an empty directory holds no catalog.
  for (const auto& entry : fs::recursive_directory_iterator(dir / "Data", error)) {
    if (!entry.is_directory() && entry.path().filename() != "health.txt" &&
        entry.path().filename() != kCharsetRecordFileName) {
      names.insert(fs::relative(entry.path(), dir / "Data").string());
    }
  }
  for (const auto& name : names) out.append("data ").append(name).append("\n");
  std::string knownHosts;
  if (ReadWholeFile(dir / kKnownHostsFileName, knownHosts)) {
    out.append("known hosts:\n").append(knownHosts);
  }
  return out;
}

// Temporaries of site.ds and of the change record in the data directory.
std::vector<std::string> ListLeftovers(const fs::path& dir) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp") != std::string::npos) found.push_back(name);
  }
  return found;
}

void CopyTree(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive);
}

std::shared_ptr<CFTPSite> LoadedSite(COrvaneDoc& doc, const std::string& key) {
  std::shared_ptr<CFTPSite> site = doc.FindSite(key);
  if (site) doc.EnsureCatalogLoaded(*site);
  return site;
}

// An update's merge at the root: one file gone, a directory and a file new.
// The update records what it changed, as the engine's does.
void MergeAtRoot(CFTPSite& site) {
  site.BeginChanges();
  {
    KeepRemoved removed;
    std::lock_guard guard(site.lock);
    CListingMerge merge(*site.rootDir);
    std::vector<std::pair<std::string, bool>> names;
    for (const auto& sub : site.rootDir->subdirs) names.emplace_back(sub->name(), true);
    for (const auto& file : site.rootDir->files) {
      if (file->name() != "r0") names.emplace_back(file->name(), false);
    }
    for (const auto& [name, isDir] : names) merge.Add(name, isDir, 1);
    merge.Add("new-dir", true, 0);
    merge.Add("new-file", false, 7);
    merge.Sweep(removed);
  }
  site.EndChanges(JournalRecord::Outcome::kSucceeded);
}

void ClearMarks(CFTPDir& dir) {
  for (const auto& sub : dir.subdirs) {
    sub->readState.store(0);
    ClearMarks(*sub);
  }
  for (const auto& file : dir.files) file->readState.store(0);
}

// Each operation is written so that running it again after it completed
// changes nothing: the second run of a faulted one must reach the new state.
struct Scenario {
  const char* name;
  std::function<void(const fs::path&)> run;
  bool changesSiteList;
};

const fs::path& ImportFile() {
  static const fs::path path = [] {
    const fs::path file =
        fs::temp_directory_path() / ("orvane-import-" + std::to_string(::getpid()));
    std::ofstream(file) << "ftp://c.example/\nftp://dave:pw@d.example:2121/\n";
    return file;
  }();
  return path;
}

std::vector<Scenario> Scenarios() {
  return {
      {"update save",
       [](const fs::path& dir) {
         IDocumentHost host;
         COrvaneDoc doc(dir, host);
         doc.OnNewDocument();
         auto site = LoadedSite(doc, "a.example");
         // A run that got through left nothing to update: another would
         // only add an empty record to the journal.
         bool saved = true;
         if (!InCatalog(*site->rootDir, "/new-file")) {
           MergeAtRoot(*site);
           saved = site->SaveFiles(dir, true) != CFTPSite::SaveResult::kFailed;
         }
         // The update's end, as the engine records it after the save: a
         // save that failed is the update's error.
         UpdateEnd end{saved, 1'000'000, 1'002'000, {}, {}};
         if (!saved) end = {false, 1'000'000, 1'002'000, "save", "disk"};
         RecordSiteHealth(*site, dir, end);
       },
       false},
      {"mark-read",
       [](const fs::path& dir) {
         IDocumentHost host;
         COrvaneDoc doc(dir, host);
         doc.OnNewDocument();
         auto site = LoadedSite(doc, "b.example@bob");
         ClearMarks(*site->rootDir);
         site->stateDirty.store(true);
         doc.OnCloseDocument();
       },
       false},
      {"delete",
       [](const fs::path& dir) {
         IDocumentHost host;
         COrvaneDoc doc(dir, host);
         doc.OnNewDocument();
         if (doc.FindSite("b.example@bob")) doc.DeleteSite("b.example@bob");
       },
       true},
      {"key-changing edit",
       [](const fs::path& dir) {
         IDocumentHost host;
         COrvaneDoc doc(dir, host);
         doc.OnNewDocument();
         auto site = doc.FindSite("b.example@bob");
         if (!site) return;
         SiteSettings settings = SiteSettings::Of(*site);
         settings.userName = "carol";
         settings.nickname = "carol's";
         // Kept in sites.opt, which changes with site.ds as one.
         settings.charset = NameCharset::kGbk;
         doc.EditSite(*site, settings);
       },
       true},
      {"pin a certificate",
       [](const fs::path& dir) {
         IDocumentHost host;
         COrvaneDoc doc(dir, host);
         doc.OnNewDocument();
         auto site = doc.FindSite("b.example@bob");
         PresentedKey key;
         key.fingerprint = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
         if (site) TrustPresentedKey(doc, *site, key, nullptr);
       },
       true},
      {"accept a host key",
       [](const fs::path& dir) {
         std::string error;
         AcceptHostKey(
             dir / kKnownHostsFileName, "b.example", 2222,
             "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g",
             error);
       },
       true},
      {"import",
       [](const fs::path& dir) {
         IDocumentHost host;
         COrvaneDoc doc(dir, host);
         doc.OnNewDocument();
         doc.ImportSites(ImportFile());
       },
       true},
  };
}

class StorageFaults : public ::testing::Test {
 protected:
  void SetUp() override { MakeDataDir(pristine()); }
  void TearDown() override { fs::remove(ImportFile()); }
  fs::path pristine() const { return temp_ / "pristine"; }
  fs::path work() const { return temp_ / "work"; }

  // Runs `scenario` on a fresh copy with `fs` in place; in a child process
  // when the seam may kill.
  void RunOnCopy(const Scenario& scenario, CFaultyFileSystem& faulty) {
    CopyTree(pristine(), work());
    if (faulty.action == CFaultyFileSystem::Action::kFail) {
      CFileSystemOverride use(faulty);
      scenario.run(work());
      return;
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CFileSystemOverride use(faulty);
      scenario.run(work());
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
  }

  // After a fault: the old or the new state whole, and a second run ends
  // in the new one, with no leftover of the interrupted one.
  void Check(const Scenario& scenario, const std::string& before, const std::string& after,
             const std::string& where) {
    const std::string found = Snapshot(work());
    EXPECT_TRUE(found == before || found == after) << scenario.name << " " << where << ":\n"
                                                   << found << "\nold:\n"
                                                   << before << "\nnew:\n"
                                                   << after;
    scenario.run(work());
    EXPECT_EQ(Snapshot(work()), after) << scenario.name << " again after " << where;
    if (scenario.changesSiteList) {
      EXPECT_TRUE(ListLeftovers(work()).empty()) << scenario.name << " " << where;
    }
  }

  test::CTempTree temp_;
};

TEST_F(StorageFaults, EveryFailingStepLeavesTheOldOrTheNewStateOfEverySite) {
  const std::string before = Snapshot(pristine());
  long points = 0;
  for (const Scenario& scenario : Scenarios()) {
    CFaultyFileSystem counter;
    RunOnCopy(scenario, counter);
    const std::string after = Snapshot(work());
    ASSERT_NE(after, before) << scenario.name;
    for (long at = 0; at < counter.calls; ++at, ++points) {
      CFaultyFileSystem faulty;
      faulty.failAt = at;
      RunOnCopy(scenario, faulty);
      Check(scenario, before, after, "call " + std::to_string(at));
    }
    // Writes that stop part of the way through a file.
    for (long long budget : {0LL, 1LL, 37LL, counter.written / 2, counter.written - 1}) {
      CFaultyFileSystem faulty;
      faulty.byteBudget = budget;
      RunOnCopy(scenario, faulty);
      Check(scenario, before, after, "after " + std::to_string(budget) + " bytes");
      ++points;
    }
  }
  std::cout << "fault points: " << points << "\n";
  EXPECT_GT(points, 60);
}

TEST_F(StorageFaults, AKillAtEveryStepLeavesTheOldOrTheNewStateOfEverySite) {
  const std::string before = Snapshot(pristine());
  long points = 0;
  for (const Scenario& scenario : Scenarios()) {
    CFaultyFileSystem counter;
    RunOnCopy(scenario, counter);
    const std::string after = Snapshot(work());
    for (long at = 0; at < counter.calls; ++at, ++points) {
      CFaultyFileSystem faulty;
      faulty.failAt = at;
      faulty.action = CFaultyFileSystem::Action::kKill;
      RunOnCopy(scenario, faulty);
      Check(scenario, before, after, "kill at call " + std::to_string(at));
    }
  }
  std::cout << "kill points: " << points << "\n";
}

// A save of a large catalog killed at random moments (fixed seed): the
// child tells when it begins to save, the kill follows after a random part
// of the time a whole save takes.
TEST(StorageKills, RandomKillsDuringALargeSaveLeaveOneCommit) {
  test::CTempTree temp;
  const fs::path pristine = temp / "pristine";
  const fs::path work = temp / "work";
  MakeDataDir(pristine, 800, 250);  // 200,000 entries per site
  const std::string before = Snapshot(pristine);
  // Returns how long the save ran when it is left alone; kills it after
  // `delay` otherwise.
  const auto saveOnce = [&](std::chrono::microseconds delay, bool kill) {
    CopyTree(pristine, work);
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(pipeFds[0]);
      IDocumentHost host;
      COrvaneDoc doc(work, host);
      doc.OnNewDocument();
      auto site = LoadedSite(doc, "a.example");
      MergeAtRoot(*site);
      ClearMarks(*site->rootDir->subdirs.front());
      const char go = 1;
      if (::write(pipeFds[1], &go, 1) != 1) ::_exit(2);
      ::_exit(site->SaveFiles(work, true) == CFTPSite::SaveResult::kSaved ? 0 : 1);
    }
    ::close(pipeFds[1]);
    char go = 0;
    EXPECT_EQ(::read(pipeFds[0], &go, 1), 1);
    ::close(pipeFds[0]);
    const auto start = std::chrono::steady_clock::now();
    if (kill) {
      std::this_thread::sleep_for(delay);
      ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!kill) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  };
  // The longest of three, so that the kills spread over the whole save on a
  // busy machine too.
  const auto saveTime = std::max({saveOnce({}, false), saveOnce({}, false), saveOnce({}, false)});
  const std::string after = Snapshot(work);
  ASSERT_NE(after, before);

  std::mt19937 random(16);
  std::uniform_int_distribution<long> pick(0, saveTime.count() * 5 / 4);
  constexpr int kRounds = 60;
  int oldSeen = 0;
  int newSeen = 0;
  for (int round = 0; round < kRounds; ++round) {
    saveOnce(std::chrono::microseconds(pick(random)), true);
    const std::string found = Snapshot(work);
    EXPECT_TRUE(found == before || found == after) << "round " << round;
    oldSeen += found == before;
    newSeen += found == after;
  }
  std::cout << "kill rounds: " << kRounds << " (old " << oldSeen << ", new " << newSeen
            << "), save " << saveTime.count() << " us\n";
}

TEST_F(StorageFaults, AFailedUpdateSaveNeverWritesItsMarks) {
  struct Case {
    const char* name;
    bool stored;  // the site has files from an earlier save
  };
  for (const Case& c : {Case{"later save", true}, Case{"first save", false}}) {
    SCOPED_TRACE(c.name);
    CopyTree(pristine(), work());
    if (!c.stored) fs::remove_all(work() / "Data" / "a.example");
    const std::string before = Snapshot(work());
    IDocumentHost host;
    COrvaneDoc doc(work(), host);
    doc.OnNewDocument();
    auto site = LoadedSite(doc, "a.example");
    MergeAtRoot(*site);
    // Room for the marks, none for the catalog.
    CFaultyFileSystem full;
    full.fullFor = "content.ct";
    CFileSystemOverride use(full);
    EXPECT_EQ(site->SaveFiles(work(), true), CFTPSite::SaveResult::kFailed);
    // The marks of the new tree would be saved at close, beside the old
    // catalog or none at all.
    ClearMarks(*site->rootDir->subdirs.front());
    site->stateDirty.store(true);
    EXPECT_EQ(doc.OnCloseDocument().size(), 1u);
    EXPECT_EQ(Snapshot(work()), before);
    EXPECT_EQ(fs::exists(work() / "Data" / "a.example" / "state.st"), c.stored);
  }
}

// A rename that fails every time, onto each file an update writes. Once the
// commit record is written the new files win, but a save whose renames do
// not happen is a failed save and the update no success; while the rename
// keeps failing a reader says that it cannot finish the save rather than
// pair old and new files, and once it works again the reader finishes it.
TEST_F(StorageFaults, ARenameThatAlwaysFailsIsAFailedSaveAndNeverASuccess) {
  const std::string before = Snapshot(pristine());
  struct Case {
    const char* file;
    bool saved;                // SaveFiles succeeded
    bool healthSaved;          // the health record was written
    const char* whileFailing;  // what a reader finds meanwhile: old, new or unreadable
    const char* afterwards;    // ... and once renames work again
  };
  const Case cases[] = {
      {"commit.pending", false, true, "old", "old"},
      {"content.ct", false, true, "unreadable", "new"},
      {"state.st", false, true, "unreadable", "new"},
      // Appended to, never renamed over.
      {"changes.jn", true, true, "new", "new"},
      {"health.txt", true, false, "new", "new"},
  };
  std::string after;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CopyTree(pristine(), work());
    CFaultyFileSystem faulty;
    faulty.renameFailsFor = c.file;
    std::string found;
    {
      CFileSystemOverride use(faulty);
      IDocumentHost host;
      COrvaneDoc doc(work(), host);
      doc.OnNewDocument();
      auto site = LoadedSite(doc, "a.example");
      MergeAtRoot(*site);
      std::string error;
      const bool saved = site->SaveFiles(work(), true, &error) == CFTPSite::SaveResult::kSaved;
      EXPECT_EQ(saved, c.saved) << error;
      if (!saved) {
        EXPECT_NE(error.find(c.file), std::string::npos) << error;
      }
      UpdateEnd end{saved, 1'000'000, 1'002'000, {}, {}};
      if (!saved) end = {false, 1'000'000, 1'002'000, "save", error};
      std::string healthError;
      EXPECT_EQ(RecordSiteHealth(*site, work(), end, &healthError), c.healthSaved);
      if (!c.healthSaved) {
        EXPECT_NE(healthError.find("health.txt"), std::string::npos);
      }
      found = Snapshot(work());
    }
    const auto health = ReadSiteHealth(work() / "Data" / "a.example");
    EXPECT_EQ(health && health->HasSucceeded(), c.saved && c.healthSaved);
    EXPECT_EQ(health && health->Failing(), !c.saved);
    const std::string again = Snapshot(work());
    if (std::string_view(c.afterwards) == "new" && after.empty()) after = again;
    const auto state = [&](const std::string& snapshot) -> std::string {
      if (snapshot == before) return "old";
      // Nothing of the catalog taken.
      if (snapshot.find("site a.example a.example load=3 charset=auto protocol=ftp pin=\n\n") !=
          std::string::npos) {
        return "unreadable";
      }
      return !after.empty() && snapshot == after ? "new" : snapshot;
    };
    EXPECT_EQ(state(found), c.whileFailing);
    EXPECT_EQ(state(again), c.afterwards);
  }
}

TEST_F(StorageFaults, AnEditOntoAKeyWhoseDirectoryHoldsFilesIsRefused) {
  CopyTree(pristine(), work());
  fs::create_directories(work() / "Data" / "b.example@carol");
  std::ofstream(work() / "Data" / "b.example@carol" / "content.ct") << "someone's";
  const std::string before = Snapshot(work());
  IDocumentHost host;
  COrvaneDoc doc(work(), host);
  doc.OnNewDocument();
  auto site = doc.FindSite("b.example@bob");
  SiteSettings settings = SiteSettings::Of(*site);
  settings.userName = "carol";
  EXPECT_EQ(doc.EditSite(*site, settings), SiteChange::kTargetTaken);
  EXPECT_NE(doc.siteListError().find("b.example@carol"), std::string::npos);
  EXPECT_EQ(site->siteKey(), "b.example@bob");
  EXPECT_EQ(Snapshot(work()), before);
}

TEST_F(StorageFaults, LoadResultSaysWhatTheCatalogWas) {
  CopyTree(pristine(), work());
  const fs::path data = work() / "Data";
  fs::remove_all(data / "b.example@bob");
  fs::resize_file(data / "a.example" / "content.ct", 20);
  IDocumentHost host;
  COrvaneDoc doc(work(), host);
  doc.OnNewDocument();
  auto damaged = LoadedSite(doc, "a.example");
  EXPECT_EQ(damaged->GetLoadResult().kind, CFTPSite::LoadResult::kDamaged);
  EXPECT_NE(damaged->GetLoadResult().reason.find("content.ct"), std::string::npos);
  EXPECT_EQ(LoadedSite(doc, "b.example@bob")->GetLoadResult().kind, CFTPSite::LoadResult::kMissing);

  fs::create_directories(data / "c.example" / "content.ct");
  auto unreadable = MakeSite("c.example", "anonymous", std::string(kAnonymousPassword));
  doc.AppendSite(unreadable);
  doc.EnsureCatalogLoaded(*unreadable);
  EXPECT_EQ(unreadable->GetLoadResult().kind, CFTPSite::LoadResult::kUnreadable);

  IDocumentHost freshHost;
  COrvaneDoc fresh(pristine(), freshHost);
  fresh.OnNewDocument(false);
  EXPECT_EQ(LoadedSite(fresh, "a.example")->GetLoadResult().kind, CFTPSite::LoadResult::kOk);
}

// A small tmpfs as the data directory, filled up.
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    mount_ = temp_ / "disk";
    fs::create_directories(mount_);
    if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=2m,mode=0700") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                   << "); the full-disk cases need one";
    }
    mounted_ = true;
    dir_ = mount_ / "data";
    MakeDataDir(dir_);
  }
  void TearDown() override {
    if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
  }

  // Fills the disk until `leave` bytes are free.
  void FillUpTo(std::uint64_t leave) {
    const int fd = ::open((mount_ / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    for (;;) {
      struct statvfs info {};
      ASSERT_EQ(::fstatvfs(fd, &info), 0);
      if (info.f_bavail * info.f_frsize <= leave) break;
      if (::write(fd, block.data(), block.size()) <= 0) break;
    }
    ::close(fd);
  }

  test::CTempTree temp_;
  fs::path mount_;
  fs::path dir_;
  bool mounted_ = false;
};

TEST_F(FullDisk, AFailedUpdateSaveKeepsBothOldFiles) {
  const std::string before = Snapshot(dir_);
  const fs::path siteDir = dir_ / "Data" / "a.example";
  std::string content;
  std::string state;
  ASSERT_TRUE(ReadWholeFile(siteDir / "content.ct", content));
  ASSERT_TRUE(ReadWholeFile(siteDir / "state.st", state));
  IDocumentHost host;
  COrvaneDoc doc(dir_, host);
  doc.OnNewDocument();
  auto site = LoadedSite(doc, "a.example");
  // Room for the new marks (4 bytes an entry), none for the new catalog.
  MergeAtRoot(*site);
  for (int i = 0; i < 20000; ++i) {
    site->rootDir->subdirs.front()->AddFile(CFTPFile::Make("more" + std::to_string(i), 1, 1));
  }
  FillUpTo(160 * 1024);
  std::string error;
  EXPECT_EQ(site->SaveFiles(dir_, true, &error), CFTPSite::SaveResult::kFailed);
  EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
  site->stateDirty.store(true);
  EXPECT_EQ(doc.OnCloseDocument().size(), 1u);
  std::string contentNow;
  std::string stateNow;
  ASSERT_TRUE(ReadWholeFile(siteDir / "content.ct", contentNow));
  ASSERT_TRUE(ReadWholeFile(siteDir / "state.st", stateNow));
  EXPECT_EQ(contentNow, content);
  EXPECT_EQ(stateNow, state);
  EXPECT_EQ(Snapshot(dir_), before);
}

TEST_F(FullDisk, ADeleteKeepsTheSiteAndItsCatalog) {
  const std::string before = Snapshot(dir_);
  FillUpTo(0);
  IDocumentHost host;
  COrvaneDoc doc(dir_, host);
  doc.OnNewDocument();
  std::string failure;
  EXPECT_TRUE(doc.DeleteSite("b.example@bob", &failure));
  EXPECT_NE(failure.find(std::strerror(ENOSPC)), std::string::npos) << failure;
  EXPECT_NE(doc.FindSite("b.example@bob"), nullptr);
  EXPECT_EQ(Snapshot(dir_), before);
}

}  // namespace
}  // namespace orvane
