// The shared settings file: what a hand-edited or damaged orvane.conf
// reads as, what a save keeps, and that the document hands the journal
// limits to its sites.
#include "document/user_settings.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

TEST(UserSettingsTest, ReaderIgnoresWhatItCannotUseAndClampsNumbers) {
  const struct {
    const char* text;
    std::size_t updates;
    std::size_t megabytes;
  } cases[] = {
      {"", 1000, 16},
      {"journal-updates=5\njournal-megabytes=2\n", 5, 2},
      {"  journal-updates = 7 \r\n# journal-megabytes=3\n", 7, 16},
      {"journal-updates=0\njournal-megabytes=0", 1, 1},
      {"journal-updates=100001\njournal-megabytes=99999999999999999999999", 100000, 4096},
      {"journal-updates=-3\njournal-megabytes=1e3\n", 1000, 16},
      {"journal-updates=\njournal-megabytes=0x10\n", 1000, 16},
      {"journal-updates 5\nJOURNAL-UPDATES=5\ncolour=red\n", 1000, 16},
      {"journal-updates=5\njournal-updates=9\n", 9, 16},
      {"journal-updates=4\x01\n", 1000, 16},
  };
  for (const auto& c : cases) {
    const UserSettings settings = UserSettings::Parse(c.text);
    EXPECT_EQ(settings.journalUpdates, c.updates) << c.text;
    EXPECT_EQ(settings.journalMegabytes, c.megabytes) << c.text;
  }
}

TEST(UserSettingsTest, SaveWritesOnlyChangedKeysOntoTheFileAsItIsNow) {
  test::CTempTree dir;
  // A long comment: the file is read whole, not cut at some size.
  const std::string padding(100 * 1024, 'x');
  std::ofstream(dir.path() / "orvane.conf")
      << "# " << padding << "\nwindow-colour=blue\njournal-updates=3\njournal-updates=4\n";
  // Temporaries of saves that were interrupted.
  std::ofstream(dir.path() / "orvane.conf.tmpAbC123") << "half";
  std::ofstream(dir.path() / "orvane.conf.tmpxyZ789") << "";
  const UserSettings before = UserSettings::Load(dir.path());
  EXPECT_EQ(before.journalUpdates, 4u);
  // Another process changes a key meanwhile.
  {
    UserSettings theirs = before;
    theirs.listingEntries = 777;
    ASSERT_TRUE(theirs.SaveChanges(dir.path(), before));
  }
  UserSettings settings = before;
  settings.journalUpdates = 250;
  settings.journalMegabytes = 5000;  // clamped on the way out
  UserSettings now;
  ASSERT_TRUE(settings.SaveChanges(dir.path(), before, nullptr, &now));
  std::ifstream in(dir.path() / "orvane.conf");
  const std::string text(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(text, "# " + padding +
                      "\nwindow-colour=blue\njournal-updates=250\nlisting-entries=777\n"
                      "journal-megabytes=4096\n");
  EXPECT_EQ(now, UserSettings::Load(dir.path()));
  EXPECT_EQ(now.listingEntries, 777u) << "the other process's change stays";
  EXPECT_EQ(now.journalLimits().maxBytes, std::size_t{4096} << 20);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "orvane.conf.tmpAbC123"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "orvane.conf.tmpxyZ789"));
}

TEST(UserSettingsTest, DocumentAppliesTheSettingsToEverySite) {
  test::CTempTree dir;
  std::ofstream(dir.path() / "orvane.conf") << "journal-updates=7\n";
  IDocumentHost host;
  COrvaneDoc doc(dir.path(), host);
  doc.OnNewDocument();
  auto site = std::make_shared<CFTPSite>();
  site->host = "a.example";
  ASSERT_EQ(doc.AddSite(site), SiteChange::kSaved);
  EXPECT_EQ(site->GetJournalLimits().maxUpdates, 7u);

  UserSettings settings = doc.userSettings();
  settings.journalMegabytes = 2;
  ASSERT_TRUE(doc.SetUserSettings(settings));
  EXPECT_EQ(site->GetJournalLimits().maxBytes, std::size_t{2} << 20);
  // A second process reads them from the file.
  COrvaneDoc other(dir.path(), host);
  other.OnNewDocument();
  ASSERT_EQ(other.sites().size(), 1u);
  EXPECT_EQ(other.sites()[0]->GetJournalLimits().maxUpdates, 7u);
  EXPECT_EQ(other.sites()[0]->GetJournalLimits().maxBytes, std::size_t{2} << 20);
}

}  // namespace
}  // namespace orvane
