// The site health record: its bytes, a reader that trusts nothing, and the
// read-merge-write an ended update does.
#include "catalog/site_health.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "catalog/file_system.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

SiteHealth Failing() {
  SiteHealth health;
  health.lastSuccess = 1'700'000'000;
  health.durationMs = 1234;
  health.entries = 42'020;
  health.bytes = 13'314'398'617ULL;
  health.newEntries = 7;
  health.errorKind = "refused";
  health.errorText = "Failed to connect\n100% \x01\x7f \xce\xc4 end";
  health.errorTime = 1'700'003'600;
  return health;
}

TEST(SiteHealth, RecordsReadBackAsWritten) {
  SiteHealth extremes;
  extremes.lastSuccess = INT64_MAX;
  extremes.durationMs = UINT64_MAX;
  extremes.entries = UINT64_MAX;
  for (const SiteHealth& health : {SiteHealth{}, Failing(), extremes}) {
    const std::optional<SiteHealth> back = DecodeSiteHealth(EncodeSiteHealth(health));
    ASSERT_TRUE(back.has_value()) << EncodeSiteHealth(health);
    EXPECT_EQ(*back, health);
  }
  // One record per line: the error text's line break is escaped.
  const std::string bytes = EncodeSiteHealth(Failing());
  EXPECT_NE(bytes.find("error-text=Failed to connect%0A100%25 %01%7F \xce\xc4 end\n"),
            std::string::npos)
      << bytes;
}

TEST(SiteHealth, AnythingButAWholeValidRecordIsUnknown) {
  const std::string good = EncodeSiteHealth(Failing());
  // Every cut, including those at a line end, is no record.
  for (std::size_t size = 0; size < good.size(); ++size) {
    EXPECT_FALSE(DecodeSiteHealth(good.substr(0, size)).has_value()) << size;
  }
  const std::string base =
      "orvane-health 1\nlast-success=5\nduration-ms=1\nentries=2\nbytes=3\nnew=0\n";
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"other version", "orvane-health 2\n" + base.substr(16) + "end\n"},
      {"no end", base},
      {"line after end", base + "end\nnew=1\n"},
      {"key missing", "orvane-health 1\nlast-success=5\nentries=2\nbytes=3\nnew=0\nend\n"},
      {"key twice", base + "new=0\nend\n"},
      {"unknown key", base + "colour=red\nend\n"},
      {"no equals sign", base + "new\nend\n"},
      {"sign", "orvane-health 1\nlast-success=-5\n" + base.substr(31) + "end\n"},
      {"leading zero", "orvane-health 1\nlast-success=05\n" + base.substr(31) + "end\n"},
      {"overflow",
       "orvane-health 1\nlast-success=9223372036854775808\n" + base.substr(31) + "end\n"},
      {"error without text", base + "error-kind=refused\nerror-time=6\nend\n"},
      {"bad kind", base + "error-kind=Refused!\nerror-time=6\nerror-text=x\nend\n"},
      {"raw control byte", base + "error-kind=other\nerror-time=6\nerror-text=a\tb\nend\n"},
      {"lower-case escape", base + "error-kind=other\nerror-time=6\nerror-text=%0a\nend\n"},
      {"needless escape", base + "error-kind=other\nerror-time=6\nerror-text=%41\nend\n"},
      {"cut escape", base + "error-kind=other\nerror-time=6\nerror-text=%2\nend\n"},
      {"text too long",
       base + "error-kind=other\nerror-time=6\nerror-text=" + std::string(5000, 'x') + "\nend\n"},
      {"huge", base + "end\n" + std::string(20'000, '\n')},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(DecodeSiteHealth(c.bytes).has_value()) << c.name;
  }
  EXPECT_TRUE(DecodeSiteHealth(base + "end\n").has_value());
}

class SiteHealthFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site.host = "h.example";
    site.password = std::string(kAnonymousPassword);
    auto* dir = site.rootDir->AddSubdir(std::make_unique<CFTPDir>("pub", 1));
    dir->AddFile(CFTPFile::Make("a", 100, 1));
    dir->AddFile(CFTPFile::Make("b", 23, 0));
    site.rootDir->AddFile(CFTPFile::Make("c", 5000000000ULL, 0));
  }
  fs::path SiteDir() const { return site.DataDirectory(work.path()); }
  bool Record(bool succeeded, std::int64_t endMs, std::string kind = {}) {
    UpdateEnd end;
    end.succeeded = succeeded;
    end.startMs = endMs - 2500;
    end.endMs = endMs;
    end.errorKind = std::move(kind);
    end.errorText = "Connection refused";
    return RecordSiteHealth(site, work.path(), end);
  }

  test::CTempTree work;
  CFTPSite site;
};

TEST_F(SiteHealthFileTest, SuccessTakesTheCatalogAndAFailureKeepsIt) {
  ASSERT_TRUE(Record(true, 1'700'000'000'000));
  std::optional<SiteHealth> health = ReadSiteHealth(SiteDir());
  ASSERT_TRUE(health.has_value());
  EXPECT_EQ(health->lastSuccess, 1'700'000'000);
  EXPECT_EQ(health->durationMs, 2500u);
  EXPECT_EQ(health->entries, 4u);
  EXPECT_EQ(health->bytes, 5000000123ULL);
  EXPECT_EQ(health->newEntries, 2u);
  EXPECT_FALSE(health->HasError());

  ASSERT_TRUE(Record(false, 1'700'000'600'000, "refused"));
  health = ReadSiteHealth(SiteDir());
  ASSERT_TRUE(health.has_value());
  EXPECT_EQ(health->lastSuccess, 1'700'000'000);
  EXPECT_EQ(health->entries, 4u);
  EXPECT_EQ(health->errorKind, "refused");
  EXPECT_EQ(health->errorText, "Connection refused");
  EXPECT_EQ(health->errorTime, 1'700'000'600);
  EXPECT_TRUE(health->Failing());
}

TEST_F(SiteHealthFileTest, GarbageIsUnknownAndTheNextRecordReplacesIt) {
  fs::create_directories(SiteDir());
  std::ofstream(SiteDir() / kHealthFileName, std::ios::binary) << "\x00\xff garbage\n";
  EXPECT_FALSE(ReadSiteHealth(SiteDir()).has_value());
  fs::remove(SiteDir() / kHealthFileName);
  fs::create_directory(SiteDir() / kHealthFileName);  // no regular file
  EXPECT_FALSE(ReadSiteHealth(SiteDir()).has_value());
  fs::remove(SiteDir() / kHealthFileName);

  // A failure of a site never updated: the error alone.
  ASSERT_TRUE(Record(false, 1'700'000'000'000, "Not A Kind"));
  const std::optional<SiteHealth> health = ReadSiteHealth(SiteDir());
  ASSERT_TRUE(health.has_value());
  EXPECT_FALSE(health->HasSucceeded());
  EXPECT_EQ(health->errorKind, "other");
}

TEST_F(SiteHealthFileTest, AFailedWriteKeepsTheOldRecordAndADeletedSiteGetsNone) {
  ASSERT_TRUE(Record(true, 1'700'000'000'000));
  const std::optional<SiteHealth> before = ReadSiteHealth(SiteDir());
  struct FailingRename final : CFileSystem {
    int Rename(const char*, const char*) override {
      errno = EIO;
      return -1;
    }
  } failing;
  {
    CFileSystemOverride guard(failing);
    EXPECT_FALSE(Record(false, 1'700'000'600'000, "refused"));
  }
  EXPECT_EQ(ReadSiteHealth(SiteDir()), before);
  // Only the record was in the directory: deleting the site takes both.
  ASSERT_TRUE(DeleteDataDirectory(work.path(), site.siteKey()));
  EXPECT_FALSE(fs::exists(SiteDir()));
  site.removed.store(true);
  EXPECT_TRUE(Record(false, 1'700'000'900'000, "refused"));
  EXPECT_FALSE(fs::exists(SiteDir()));
}

}  // namespace
}  // namespace orvane
