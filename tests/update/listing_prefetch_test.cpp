// CListingPrefetcher against pyftpdlib on loopback: what its connections
// list ahead without the walk (read back from the server's command log).
#include "update/listing_prefetch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ftp_server.h"
#include "tests/support/temp_tree.h"
#include "update/ftp_session.h"
#include "update/listing_parser.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CFtpServer;
using test::CTempTree;
using test::FtpFault;
using test::PyFtpOptions;

constexpr FtpTimeouts kPatient{60000ms, 60000ms, 60000ms};

// The paths of the MLSD commands the server has received, in order.
std::vector<std::string> Listed(const CFtpServer& server) {
  std::vector<std::string> listed;
  for (const std::string& command : server.Commands()) {
    if (command.starts_with("MLSD ")) listed.push_back(command.substr(5));
  }
  return listed;
}

bool WasListed(const CFtpServer& server, const std::string& path) {
  const std::vector<std::string> listed = Listed(server);
  return std::find(listed.begin(), listed.end(), path) != listed.end();
}

// Waits until `path` has been listed on any connection.
bool AwaitListed(const CFtpServer& server, const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (WasListed(server, path)) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

std::vector<std::string> Names(const PrefetchedListing& listing) {
  std::vector<std::string> names;
  for (const ListingEntry& entry : listing.entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

class ListingPrefetchTest : public ::testing::Test {
 protected:
  std::unique_ptr<CListingPrefetcher> Make(const CFtpServer& server, int extra) {
    login_ = server.Login();
    return std::make_unique<CListingPrefetcher>(
        login_, kPatient, extra, stop_, [](CListingSession&) { return true; }, [](CListingSession&) {});
  }

  CTempTree tree_;
  FtpLogin login_;
  std::atomic<bool> stop_{false};
};

TEST_F(ListingPrefetchTest, SubdirectoriesOfListingsAheadAreListedWithoutTheWalk) {
  // Only /a is offered; what lies below it shows in the listings made
  // here, and is listed before the walk has merged anything.
  tree_.AddFile("a/b/c/d/f", "f");
  tree_.AddFile("a/b/g", "g");
  tree_.AddFile("a/e/h", "h");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  auto ahead = Make(server, 2);
  ahead->Offer({"/a"});
  for (const char* path : {"/a/b/c/d", "/a/e"}) EXPECT_TRUE(AwaitListed(server, path)) << path;

  // Counted in listings: the second connection may still be logging in.
  const std::size_t before = Listed(server).size();
  for (const char* path : {"/a", "/a/b", "/a/b/c", "/a/b/c/d", "/a/e"}) {
    std::optional<PrefetchedListing> listing = ahead->Take(path);
    ASSERT_TRUE(listing.has_value()) << path;
    EXPECT_TRUE(listing->result.ok()) << path;
  }
  EXPECT_FALSE(ahead->Take("/a/b").has_value()) << "a listing is taken once";
  EXPECT_EQ(Listed(server).size(), before) << "nothing listed twice";
  // Each directory once, over all connections.
  std::vector<std::string> listed = Listed(server);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"/a", "/a/b", "/a/b/c", "/a/b/c/d", "/a/e"}));
}

TEST_F(ListingPrefetchTest, LinkBackToAnAncestorIsNotListedAhead) {
  // pyftpdlib's MLSD shows a link to ".." as a directory, with the
  // `unique` fact of the directory it leads to.
  tree_.AddFile("a/b/f", "f");
  tree_.AddFile("a/z/g", "g");
  fs::create_directory_symlink("..", tree_ / "a/up");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  CFtpSession session;
  ASSERT_TRUE(
      session.Open(server.Login(), kPatient)
          .ok());
  std::string facts;
  ASSERT_TRUE(session.PathFacts("/", facts).ok());
  const std::string rootUnique(MlsdFact(facts, "unique"));
  ASSERT_FALSE(rootUnique.empty());

  // One connection lists in the walk's order: /a/up would come before /a/z.
  auto ahead = Make(server, 1);
  ahead->Known("/", rootUnique);
  ahead->Offer({"/"});
  ASSERT_TRUE(AwaitListed(server, "/a/z"));
  EXPECT_FALSE(WasListed(server, "/a/up"));
  EXPECT_TRUE(ahead->Take("/a/b").has_value());
}

TEST_F(ListingPrefetchTest, WalkWaitingForAListingListsAheadOnItsOwnConnection) {
  // The one extra connection is held in /d0; while the walk waits for it,
  // the walk's own session lists /d1 and /d2.
  for (const char* dir : {"d0", "d1", "d2"}) tree_.AddFile(std::string(dir) + "/x", dir);
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/d0", FtpFault::Action::kSilence, "",
                            FtpFault::kUntilReleased, 0, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession walk;
  ASSERT_TRUE(
      walk.Open(server.Login(), kPatient).ok());
  auto ahead = Make(server, 1);
  ahead->Offer({"/d0", "/d1", "/d2"});
  ASSERT_TRUE(AwaitListed(server, "/d0"));

  bool listedMeanwhile = false;
  std::thread releaser([&] {
    listedMeanwhile = AwaitListed(server, "/d2");
    server.Release();
  });
  std::optional<PrefetchedListing> held = ahead->Take("/d0", &walk);
  releaser.join();
  EXPECT_TRUE(listedMeanwhile);
  ASSERT_TRUE(held.has_value());
  EXPECT_THAT(Names(*held), ::testing::ElementsAre("x"));
  const std::size_t before = server.Commands().size();
  for (const char* path : {"/d1", "/d2"}) EXPECT_TRUE(ahead->Take(path).has_value()) << path;
  EXPECT_EQ(server.Commands().size(), before);
}

}  // namespace
}  // namespace orvane
