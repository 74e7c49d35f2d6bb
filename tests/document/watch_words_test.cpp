#include "document/watch_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

// 文档 in both encodings.
constexpr std::string_view kDocUtf8 = "\xE6\x96\x87\xE6\xA1\xA3";
constexpr std::string_view kDocGbk = "\xCE\xC4\xB5\xB5";

TEST(WatchWords, MatchesKeywordsAndPatternsOnTheEntrysOwnName) {
  struct Case {
    std::vector<std::string> words;
    std::string path;
    bool matches;
  };
  const std::vector<Case> cases = {
      {{"debian"}, "/pub/Debian-12.iso", true},
      {{"debian"}, "/pub/debian/README", false},  // only the entry's own name
      {{"*.ISO"}, "/pub/x.iso", true},
      {{"*.iso"}, "/pub/x.iso.sig", false},
      {{"linux-?.*"}, "/k/linux-6.1.tar", true},
      {{"linux-?.*"}, "/k/linux-10.1.tar", false},
      {{"a*b*c"}, "/aXbYbZc", true},
      {{"a*b*c"}, "/aXbYbZ", false},
      {{"  ", ""}, "/anything", false},  // blank words are dropped
      {{"zip", "*.iso"}, "/x.iso", true},
      {{std::string(kDocUtf8)}, "/d/" + std::string(kDocGbk) + ".txt", true},
      {{"?.txt"}, "/d/" + std::string(kDocGbk).substr(0, 2) + ".txt", true},  // one GBK char
      {{"?.txt"}, "/d/\xE6\x96\x87.txt", true},                               // one UTF-8 char
      {{std::string(kDocUtf8) + "*"}, "/" + std::string(kDocGbk) + "1", true},
  };
  for (const Case& c : cases) {
    CWatchWords words(c.words);
    EXPECT_EQ(words.Matches(c.path), c.matches) << c.words.front() << " vs " << c.path;
  }
}

TEST(WatchWords, CountsOnlyAddedEntriesThatMatch) {
  JournalRecord record;
  record.entries = {
      {JournalEntry::Kind::kAdded, false, "/a/new.iso", 1, 0, 0},
      {JournalEntry::Kind::kAdded, false, "/a/new.txt", 1, 0, 0},
      {JournalEntry::Kind::kRemoved, false, "/a/old.iso", 1, 0, 0},
      {JournalEntry::Kind::kResized, false, "/a/big.iso", 2, 1, 0},
      {JournalEntry::Kind::kAdded, true, "/iso", 0, 0, 0},
  };
  CWatchWords words({"iso"});
  EXPECT_EQ(words.CountMatches(record), 2u);
  CWatchWords none;
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.CountMatches(record), 0u);
}

}  // namespace
}  // namespace orvane
