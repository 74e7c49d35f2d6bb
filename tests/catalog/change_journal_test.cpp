// The change journal's bytes (frames, damage, limits) and its save inside
// the catalog's commit, with each file-system step of that save failing.
#include "catalog/change_journal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "catalog/atomic_file.h"
#include "catalog/file_system.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "catalog/site_files_commit.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using Kind = JournalEntry::Kind;

JournalRecord Record(std::int64_t time, std::size_t entries) {
  JournalRecord record;
  record.startTime = time;
  record.endTime = time + 5;
  record.outcome = JournalRecord::Outcome::kStopped;
  for (std::size_t i = 0; i < entries; ++i) {
    const Kind kind = static_cast<Kind>(1 + i % 3);
    record.entries.push_back({kind, i % 2 == 0, "/d/\xce\xc4" + std::to_string(i), i * 1000,
                              kind == Kind::kResized ? i : 0, kind == Kind::kRemoved ? i + 1 : 0});
  }
  record.added = entries;
  return record;
}

std::string Journal(const std::vector<JournalRecord>& records) {
  std::vector<std::string> frames;
  for (const JournalRecord& record : records) frames.push_back(EncodeJournalRecord(record));
  return RewriteJournal({}, frames, {});
}

TEST(ChangeJournal, RecordsReadBackAsWritten) {
  JournalRecord extremes = Record(0, 0);
  extremes.startTime = -1;  // a clock before the epoch comes back as such
  extremes.endTime = INT64_MAX;
  extremes.summary = true;
  extremes.added = UINT64_MAX;
  extremes.entries.push_back({Kind::kResized, false, std::string("a\0b\n", 4), UINT64_MAX, 0, 0});
  const std::vector<JournalRecord> records{Record(100, 0), Record(200, 7), extremes};
  bool damaged = true;
  EXPECT_EQ(ReadJournal(Journal(records), &damaged), records);
  EXPECT_FALSE(damaged);
  // The checksum is the usual CRC-32.
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  // Eight-byte blocks and a tail.
  EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  EXPECT_EQ(Crc32(""), 0u);
}

// Any cut or flipped byte loses the record it hits and everything after
// it, never one before; the next write keeps exactly the whole ones.
TEST(ChangeJournal, DamagedTailIsIgnoredAndCutAtTheNextWrite) {
  const std::vector<JournalRecord> records{Record(1, 2), Record(2, 3), Record(3, 1)};
  const std::string bytes = Journal(records);
  const JournalFrames whole = ScanJournal(bytes);
  ASSERT_EQ(whole.frames.size(), 3u);
  const JournalRecord next = Record(9, 1);
  const auto check = [&](const std::string& damagedBytes, std::size_t at, bool cutAtFrame) {
    std::size_t intact = 0;
    while (intact < 3 && whole.frames[intact].offset + whole.frames[intact].size <= at) ++intact;
    std::vector<JournalRecord> expected(records.begin(),
                                        records.begin() + static_cast<std::ptrdiff_t>(intact));
    bool damaged = false;
    EXPECT_EQ(ReadJournal(damagedBytes, &damaged), expected) << "at " << at;
    EXPECT_EQ(damaged, !cutAtFrame) << "at " << at;
    expected.push_back(next);
    EXPECT_EQ(ReadJournal(RewriteJournal(damagedBytes, {EncodeJournalRecord(next)}, {})), expected)
        << "at " << at;
  };
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    // A file cut between frames (or never written) is whole.
    bool cutAtFrame = size == 0;
    for (const JournalFrames::Frame& frame : whole.frames) {
      cutAtFrame |= size == frame.offset;
    }
    check(bytes.substr(0, size), size, cutAtFrame);
  }
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    std::string flipped = bytes;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x41);
    check(flipped, at, false);
  }
}

TEST(ChangeJournal, LimitsDropTheOldestUpdatesWhole) {
  std::vector<JournalRecord> records;
  for (int i = 0; i < 6; ++i) records.push_back(Record(i, 4));
  const std::string frame = EncodeJournalRecord(Record(10, 4));
  const std::size_t header = 8;
  const struct {
    JournalLimits limits;
    std::size_t kept;  // old records kept beside the new one
  } cases[] = {
      {{3, 1u << 20}, 2},
      {{100, header + 4 * frame.size()}, 3},
      {{100, header + 4 * frame.size() - 1}, 2},
      // The newest is kept even alone over the limit.
      {{100, 1}, 0},
      {{0, 1u << 20}, 0},
  };
  for (const auto& c : cases) {
    const std::vector<JournalRecord> got =
        ReadJournal(RewriteJournal(Journal(records), {frame}, c.limits));
    ASSERT_EQ(got.size(), c.kept + 1) << c.limits.maxUpdates << " " << c.limits.maxBytes;
    EXPECT_EQ(got.back(), Record(10, 4));
    if (c.kept > 0) {
      EXPECT_EQ(got.front(), records[records.size() - c.kept]);
    }
  }
}

// ---- The save --------------------------------------------------------------

class FailingFileSystem : public CFileSystem {
 public:
  int MakeTemp(char* pattern) override { return Hit() ? Fail() : CFileSystem::MakeTemp(pattern); }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return Hit() ? Fail() : CFileSystem::Write(fd, data, size);
  }
  int Fsync(int fd) override { return Hit() ? Fail() : CFileSystem::Fsync(fd); }
  int Rename(const char* from, const char* to) override {
    return Hit() ? Fail() : CFileSystem::Rename(from, to);
  }
  int Unlink(const char* path) override { return Hit() ? Fail() : CFileSystem::Unlink(path); }
  long failAt = -1;
  long calls = 0;

 private:
  bool Hit() { return calls++ == failAt; }
  static int Fail() {
    errno = EIO;
    return -1;
  }
};

class NoSink : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile>) override {}
  void DirRemoved(std::unique_ptr<CFTPDir>) override {}
};

// A site saved once (a first update: one summary record), then changed by
// a second update whose record waits for the save.
struct SavedSite {
  explicit SavedSite(const fs::path& programDir) {
    site.host = "h.example";
    site.password = std::string(kAnonymousPassword);
    Merge({{"a", 1}, {"b", 2}}, true);
    EXPECT_EQ(site.SaveFiles(programDir, true), CFTPSite::SaveResult::kSaved);
    Merge({{"a", 5}, {"c", 3}}, false);
  }
  void Merge(const std::vector<std::pair<std::string, std::uint64_t>>& files, bool withDir) {
    site.BeginChanges();
    {
      std::lock_guard guard(site.lock);
      CListingMerge merge(*site.rootDir);
      for (const auto& [name, size] : files) merge.Add(name, false, size);
      if (withDir) merge.Add("sub", true, 0);
      NoSink sink;
      merge.Sweep(sink);
    }
    site.EndChanges(JournalRecord::Outcome::kSucceeded);
  }
  CFTPSite site;
};

// The journal without its clock readings, which differ between saves.
std::vector<JournalRecord> Untimed(const fs::path& path) {
  std::string bytes;
  EXPECT_TRUE(ReadJournalFile(path, bytes));
  std::vector<JournalRecord> records = ReadJournal(bytes);
  for (JournalRecord& record : records) record.startTime = record.endTime = 0;
  return records;
}

std::string Bytes(const fs::path& path) {
  std::string bytes;
  EXPECT_TRUE(ReadJournalFile(path, bytes));
  return bytes;
}

TEST(ChangeJournalSave, EveryFailingStepLeavesCatalogAndJournalTogether) {
  test::CTempTree reference;
  SavedSite counted(reference.path());
  FailingFileSystem counter;
  {
    CFileSystemOverride use(counter);
    ASSERT_EQ(counted.site.SaveFiles(reference.path(), true), CFTPSite::SaveResult::kSaved);
  }
  const fs::path referenceDir = counted.site.DataDirectory(reference.path());
  const std::vector<JournalRecord> after = Untimed(referenceDir / kJournalFileName);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_TRUE(after[0].summary);
  EXPECT_EQ(after[0].added, 3u);
  EXPECT_TRUE(after[0].entries.empty());
  EXPECT_EQ(after[1].entries, (std::vector<JournalEntry>{{Kind::kResized, false, "/a", 5, 1, 0},
                                                         {Kind::kAdded, false, "/c", 3, 0, 0},
                                                         {Kind::kRemoved, false, "/b", 2, 0, 0},
                                                         {Kind::kRemoved, true, "/sub", 0, 0, 0}}));

  for (long failAt = 0; failAt < counter.calls; ++failAt) {
    SCOPED_TRACE(failAt);
    test::CTempTree program;
    SavedSite saved(program.path());
    const fs::path dir = saved.site.DataDirectory(program.path());
    const std::string contentBefore = Bytes(dir / "content.ct");
    const std::string journalBefore = Bytes(dir / kJournalFileName);
    FailingFileSystem failing;
    failing.failAt = failAt;
    CFTPSite::SaveResult result;
    {
      CFileSystemOverride use(failing);
      result = saved.site.SaveFiles(program.path(), true);
    }
    ASSERT_TRUE(RecoverSiteFiles(dir));
    if (result == CFTPSite::SaveResult::kSaved) {
      EXPECT_EQ(Bytes(dir / "content.ct"), Bytes(referenceDir / "content.ct"));
      EXPECT_EQ(Untimed(dir / kJournalFileName), after);
    } else {
      // Neither file moved, and the record waits for the next save.
      EXPECT_EQ(Bytes(dir / "content.ct"), contentBefore);
      EXPECT_EQ(Bytes(dir / kJournalFileName), journalBefore);
      EXPECT_EQ(saved.site.SaveFiles(program.path(), true), CFTPSite::SaveResult::kSaved);
      EXPECT_EQ(Untimed(dir / kJournalFileName), after);
    }
  }
}

}  // namespace
}  // namespace orvane
