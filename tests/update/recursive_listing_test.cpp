// CRecursiveListing on crafted replies: what it takes, what it leaves to
// listings of their own, and when it trusts nothing.
#include "update/recursive_listing.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace orvane {
namespace {

std::string F(const std::string& name) {
  return "-rw-r--r--    1 0          0                   2 Dec  7 17:12 " + name + "\r\n";
}
std::string D(const std::string& name) {
  return "drwxr-xr-x    2 0          0                4096 Dec  7 17:12 " + name + "\r\n";
}
std::string H(const std::string& header) { return "\r\n\r\n" + header + ":\r\n\r\n"; }

struct Case {
  const char* what;
  std::string base;
  std::string reply;
  bool complete;
  // "path: name name/" per usable listing (directories end in "/"), then
  // "? path" per doubtful one; empty when nothing may be used.
  std::set<std::string> expected;
};

std::set<std::string> Split(const Case& c, std::size_t chunk) {
  CRecursiveListing listing(c.base);
  for (std::size_t i = 0; i < c.reply.size(); i += chunk) {
    listing.Feed(std::string_view(c.reply).substr(i, chunk));
  }
  listing.Finish(c.complete);
  std::unordered_map<std::string, std::vector<ListingEntry>> usable;
  std::unordered_set<std::string> doubtful;
  listing.TakeResults(usable, doubtful);
  std::set<std::string> got;
  for (const auto& [path, entries] : usable) {
    std::string line = path + ":";
    for (const ListingEntry& entry : entries)
      line += " " + entry.name + (entry.isDirectory ? "/" : "");
    got.insert(line);
  }
  for (const std::string& path : doubtful) got.insert("? " + path);
  if (listing.ambiguous()) got.insert("ambiguous");
  return got;
}

TEST(RecursiveListingTest, SplitsRepliesAndTrustsOnlyWhatChecksOut) {
  const std::string pure = D(".") + D("..") + D(" lead") + D("a b") + F("total 5") + D("x:") +
                           H("./ lead") + F("k") + H("./a b") + D(".") + F("f:") + D("sub:x") +
                           H("./a b/sub:x") + F("g") + H("./x:") + F("h");
  const std::set<std::string> pureExpected = {"/: " + std::string(" lead/ a b/ total 5 x:/"),
                                              "/ lead: k", "/a b: f: sub:x/", "/a b/sub:x: g",
                                              "/x:: h"};
  const std::vector<Case> cases = {
      {"pure-ftpd's form, awkward names", "/", pure, true, pureExpected},
      {"headers absolute, a total line, GNU style",
       "/p",
       "/p:\ntotal 8\n" + D("s") + "\n/p/s:\ntotal 1\n" + F("x"),
       true,
       {"/p: s/", "/p/s: x"}},
      {"headers without ./",
       "/p",
       D("s") + F("y") + "\ns:\n" + F("x"),
       true,
       {"/p: s/ y", "/p/s: x"}},
      {"cut short: the last section is doubtful, unreached ones uncovered",
       "/",
       D("a") + D("b") + H("./a") + F("1") + F("2"),
       false,
       {"/: a/ b/", "? /a"}},
      {"last line without its line end",
       "/",
       D("a") + H("./a") + F("1") + "-rw-r--r-- 1 0 0 2 D",
       true,
       {"/: a/", "? /a"}},
      {"a listed directory without its section",
       "/",
       D("a") + D("b") + H("./b") + F("1"),
       true,
       {"/: a/ b/", "/b: 1", "? /a"}},
      {"links, empty and self-named sections are left to their own listings",
       "/",
       D("a") + D("e") + D("s") + H("./a") + "lrwxrwxrwx 1 0 0 4 Dec  7 17:12 l -> ../c\r\n" +
           H("./e") + H("./s") + D("s"),
       true,
       {"/: a/ e/ s/", "? /a", "? /e", "? /s", "? /s/s"}},
      {"control bytes and glob characters go their own way",
       "/",
       D("t\tb") + D("q?") + H("./t\tb") + F("1") + H("./q?") + F("2"),
       true,
       {"/: t\tb/ q?/", "? /t\tb", "? /q?"}},
      {"the option ignored: no sections", "/", D("a") + F("b"), true, {"/: a/ b", "? /a"}},
      {"a header nobody listed", "/", D("a") + H("./zz") + F("1"), true, {"ambiguous"}},
      {"a header seen twice",
       "/",
       D("a") + H("./a") + F("1") + H("./a") + F("2"),
       true,
       {"ambiguous"}},
      {"a header that reads as an entry line too",
       "/",
       D("-rw-r--r-- 1 0 0 2 Dec  7 17:12 z") + "\n-rw-r--r-- 1 0 0 2 Dec  7 17:12 z:\n" + F("1"),
       true,
       {"ambiguous"}},
      {"a line after a blank line that is no header",
       "/",
       D("a") + F("1") + "\r\n" + F("2"),
       true,
       {"ambiguous"}},
  };
  for (const Case& c : cases) {
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, c.reply.size() + 1}) {
      EXPECT_EQ(Split(c, chunk), c.expected) << c.what << ", chunks of " << chunk;
    }
  }
}

TEST(RecursiveListingTest, DirectoriesNoReplyCanStandForAreReportedAsTheyCome) {
  // Fed in two parts: what the first part shows is out before the second.
  CRecursiveListing listing("/");
  listing.Feed(D("a") + D("odd*") + F("f*") + D("back\\slash"));
  EXPECT_EQ(listing.TakeUncovered(), (std::vector<std::string>{"/odd*", "/back\\slash"}));
  EXPECT_TRUE(listing.TakeUncovered().empty()) << "each reported once";
  listing.Feed(H("./a") + D("b") + D("tab\tx") + H("./a/b") + F("g"));
  EXPECT_EQ(listing.TakeUncovered(), (std::vector<std::string>{"/a/tab\tx"}));
  listing.Finish(true);
  EXPECT_FALSE(listing.ambiguous());
}

}  // namespace
}  // namespace orvane
