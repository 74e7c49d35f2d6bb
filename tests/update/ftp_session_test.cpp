// CFtpSession against real servers on loopback: pyftpdlib with scripted
// faults, vsftpd and pure-ftpd for interoperability.
#include "update/ftp_session.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "tests/support/closed_port.h"
#include "tests/support/ftp_server.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CFtpServer;
using test::CTempTree;
using test::FtpFault;
using test::PyFtpOptions;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// kShort is for the sessions that are meant to time out: their fault holds
// the reply until the client gives up, so these only need to be longer than
// a reply that is not held takes on a loaded machine. Every other session
// keeps the production time-outs or longer, so a busy machine cannot fail
// it. Waits for a result that must come allow far more.
constexpr FtpTimeouts kShort{5000ms, 3000ms, 3000ms};
constexpr FtpTimeouts kHuge{60000ms, 60000ms, 60000ms};
constexpr auto kResultWait = 30s;

struct Entry {
  std::string name;
  bool isDirectory;
  std::uint64_t size;
  auto operator<=>(const Entry&) const = default;
};

struct Listing {
  FtpResult result;
  std::vector<Entry> entries;
  int batches = 0;
};

Listing List(CFtpSession& session, std::string_view path) {
  Listing listing;
  listing.result = session.ListDirectory(path, [&](std::span<const ListingEntry> batch) {
    ++listing.batches;
    for (const ListingEntry& e : batch) {
      listing.entries.push_back({e.name, e.isDirectory, e.isDirectory ? 0 : e.size});
    }
    return true;
  });
  std::sort(listing.entries.begin(), listing.entries.end());
  return listing;
}

std::vector<std::string> Names(const Listing& listing) {
  std::vector<std::string> names;
  for (const Entry& e : listing.entries) names.push_back(e.name);
  return names;
}

FtpLogin LoginFor(const CFtpServer& server) { return server.Login(); }

FtpLogin Anonymous(std::string host, std::uint16_t port, std::string password) {
  FtpLogin login;
  login.host = std::move(host);
  login.port = port;
  login.user = "anonymous";
  login.password = std::move(password);
  return login;
}

FtpLogin LoginAs(const CFtpServer& server, std::string user, std::string password) {
  FtpLogin login = server.Login();
  login.user = std::move(user);
  login.password = std::move(password);
  return login;
}

// What a listing of `dir` must hold: the tree on disk, directory sizes left
// out (they differ between servers).
std::vector<Entry> DiskEntries(const fs::path& dir) {
  std::vector<Entry> entries;
  for (const auto& item : fs::directory_iterator(dir)) {
    const bool isDir = item.is_directory();
    entries.push_back({item.path().filename().string(), isDir, isDir ? 0 : item.file_size()});
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Lists every directory below `path` and compares it with the disk.
void ExpectTreeMatches(CFtpSession& session, const fs::path& root, const std::string& path,
                       int& directories) {
  const Listing listing = List(session, path);
  ASSERT_TRUE(listing.result.ok()) << path << ": " << listing.result.errorText;
  ++directories;
  const fs::path dir = path == "/" ? root : root / fs::path(path.substr(1));
  EXPECT_EQ(listing.entries, DiskEntries(dir)) << "directory " << path;
  for (const Entry& e : listing.entries) {
    if (e.isDirectory) {
      ExpectTreeMatches(session, root, (path == "/" ? "/" : path + "/") + e.name, directories);
    }
  }
}

// Waits until the server has logged a command starting with `prefix`.
bool AwaitCommand(const CFtpServer& server, std::string_view prefix) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& command : server.Commands()) {
      if (command.starts_with(prefix)) return true;
    }
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

std::size_t CountVerb(const std::vector<std::string>& commands, std::string_view verb) {
  return static_cast<std::size_t>(std::count_if(commands.begin(), commands.end(), [&](auto& c) {
    return c == verb || c.starts_with(std::string(verb) + " ");
  }));
}

// Names that break naive URL building or command formatting, plus bytes
// that are not UTF-8 (GBK) and names that differ only in case.
const std::vector<std::string>& HostileNames() {
  static const std::vector<std::string> names = {
      "with space", "hash#tag", "per%20cent",
      "what?now",   "-rf",      "semi;type=a",
      "Case",       "case",     "\xc4\xe3\xba\xc3 gbk",
      "at@sign",    "quote\"d", "plus+amp&",
      "tilde~dot.", " leading", "trailing ",
  };
  return names;
}

class FtpSessionTest : public ::testing::Test {
 protected:
  CTempTree tree_;
};

// --- Listing ---------------------------------------------------------------

class FtpSessionFormatTest : public FtpSessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FtpSessionFormatTest, ListsTreeWithKindsAndSizes) {
  tree_.AddFile("readme.txt", "hello\n");
  tree_.AddFile("sub/inner.bin", std::string(70000, 'x'));
  tree_.AddDir("sub/deeper/empty");
  tree_.AddFile(".hidden", "h");
  tree_.AddSparseFile("sub/huge.iso", 5ULL << 30);  // over 4 GiB: 64-bit sizes
  PyFtpOptions options;
  options.mlsd = GetParam();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));

  CFtpSession session;
  const FtpResult opened = session.Open(LoginFor(server));
  ASSERT_TRUE(opened.ok()) << opened.errorText;
  EXPECT_EQ(session.usesMlsd(), GetParam());
  EXPECT_THAT(session.serverFeatures(), HasSubstr("EPSV"));

  int directories = 0;
  ExpectTreeMatches(session, tree_.path(), "/", directories);
  EXPECT_EQ(directories, 4);
  EXPECT_EQ(CountVerb(server.Commands(), GetParam() ? "MLSD" : "LIST"), 4u);
}

TEST_P(FtpSessionFormatTest, HostileNamesReachTheServerAsBytes) {
  for (const std::string& name : HostileNames()) tree_.AddFile(name + "/inside " + name, name);
  PyFtpOptions options;
  options.mlsd = GetParam();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());

  const Listing root = List(session, "/");
  ASSERT_TRUE(root.result.ok()) << root.result.errorText;
  EXPECT_EQ(root.entries, DiskEntries(tree_.path()));
  for (const std::string& name : HostileNames()) {
    SCOPED_TRACE(name);
    const Listing inside = List(session, "/" + name);
    ASSERT_TRUE(inside.result.ok()) << inside.result.errorText;
    EXPECT_TRUE(inside.result.entered);
    ASSERT_EQ(Names(inside), std::vector<std::string>{"inside " + name});
    EXPECT_EQ(inside.entries[0].size, name.size());
    // A LIST argument that a server could glob or take for options is
    // listed after a CWD; everything else goes by path.
    const bool viaCwd =
        !GetParam() && (name.starts_with('-') || name.find_first_of("?~") != std::string::npos);
    EXPECT_THAT(server.Commands(),
                Contains(viaCwd ? "CWD /" + name : (GetParam() ? "MLSD /" : "LIST /") + name));
  }
}

TEST_P(FtpSessionFormatTest, ControlBytesInAPathAreSentInAQuotedCwd) {
  // libcurl takes no byte below 0x20 in a URL path.
  tree_.AddFile("t\tab/f\x1b", "f");
  tree_.AddFile("t\tab/in\x01ner/g", "gg");
  tree_.AddFile("no\x01entry/x");
  tree_.AddFile("busy\x1b/x");
  tree_.AddFile("plain/h");
  tree_.AddFile("what?/z");
  PyFtpOptions options;
  options.mlsd = GetParam();
  options.faults.push_back(
      {FtpFault::Command::kCwd, "/no\x01entry", FtpFault::Action::kReply, "550 Denied."});
  options.faults.push_back(
      {FtpFault::Command::kCwd, "/busy\x1b", FtpFault::Action::kReply, "450 Busy."});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  // With LIST, libcurl's own CWD comes first and leaves it in /what?.
  EXPECT_EQ(Names(List(session, "/what?")), std::vector<std::string>{"z"});

  const Listing listing = List(session, "/t\tab");
  ASSERT_TRUE(listing.result.ok()) << listing.result.errorText;
  EXPECT_EQ(listing.entries, DiskEntries(tree_ / "t\tab"));
  const Listing inner = List(session, "/t\tab/in\x01ner");
  ASSERT_TRUE(inner.result.ok()) << inner.result.errorText;
  EXPECT_EQ(Names(inner), std::vector<std::string>{"g"});
  const std::vector<std::string> commands = server.Commands();
  const auto changed = std::find(commands.begin(), commands.end(), "CWD /t\tab");
  EXPECT_NE(std::find(changed, commands.end(), GetParam() ? "MLSD" : "LIST"), commands.end());

  const Listing refused = List(session, "/no\x01entry");
  EXPECT_EQ(refused.result.outcome, FtpOutcome::kRefused);
  EXPECT_FALSE(refused.result.entered);
  EXPECT_EQ(refused.result.replyCode, 550);
  EXPECT_TRUE(refused.entries.empty());
  const Listing busy = List(session, "/busy\x1b");
  EXPECT_EQ(busy.result.outcome, FtpOutcome::kIncomplete);
  EXPECT_FALSE(busy.result.entered);
  EXPECT_TRUE(busy.entries.empty());

  // Neither refusal costs the connection.
  EXPECT_EQ(Names(List(session, "/plain")), std::vector<std::string>{"h"});
  EXPECT_EQ(CountVerb(server.Commands(), "USER"), 1u);
}

TEST_P(FtpSessionFormatTest, FileAndMissingPathsAreNotEnteredButALoneNamesakeIs) {
  // Listed by path, a file shows as itself (LIST) or is refused (MLSD); a
  // directory holding only a file of its own name looks just the same.
  tree_.AddFile("plain", "p");
  tree_.AddFile("same/same", "s");
  PyFtpOptions options;
  options.mlsd = GetParam();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());

  for (const char* path : {"/plain", "/missing", "/same/same"}) {
    SCOPED_TRACE(path);
    const Listing listing = List(session, path);
    EXPECT_EQ(listing.result.outcome, FtpOutcome::kRefused);
    EXPECT_FALSE(listing.result.entered);
    EXPECT_TRUE(listing.entries.empty());
  }
  const Listing same = List(session, "/same");
  ASSERT_TRUE(same.result.ok()) << same.result.errorText;
  EXPECT_EQ(same.entries, (std::vector<Entry>{{"same", false, 1}}));
  EXPECT_EQ(CountVerb(server.Commands(), "USER"), 1u);
}

TEST_P(FtpSessionFormatTest, CarriageReturnInsideANameDoesNotSplitTheEntry) {
  // libcurl's ASCII mode would turn the lone CR into a line end and make
  // "evil" (a name that does not exist) out of the first half.
  tree_.AddFile("evil\rtwin");
  tree_.AddFile("plain");
  PyFtpOptions options;
  options.mlsd = GetParam();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());

  const Listing listing = List(session, "/");
  ASSERT_TRUE(listing.result.ok()) << listing.result.errorText;
  EXPECT_EQ(Names(listing), std::vector<std::string>{"plain"});
}

INSTANTIATE_TEST_SUITE_P(MlsdAndList, FtpSessionFormatTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Mlsd" : "List"; });

TEST_F(FtpSessionTest, EmptyDirectoryAndRepeatedListingOfTheSameDirectory) {
  tree_.AddDir("empty");
  tree_.AddFile("full/a");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());

  // An empty listing is confirmed with a CWD. The second time libcurl
  // knows the connection is there already and sends none; the directory
  // still counts as entered.
  for (int i = 0; i < 2; ++i) {
    const Listing empty = List(session, "/empty");
    EXPECT_TRUE(empty.result.ok());
    EXPECT_TRUE(empty.result.entered);
    EXPECT_TRUE(empty.entries.empty());
    const Listing full = List(session, "/full");
    ASSERT_TRUE(full.result.ok());
    EXPECT_TRUE(full.result.entered);
    EXPECT_EQ(Names(full), std::vector<std::string>{"a"});
  }
  EXPECT_EQ(CountVerb(server.Commands(), "CWD"), 1u);
}

TEST_F(FtpSessionTest, ThousandsOfEntriesArriveInBatches) {
  constexpr int kFiles = 4000;
  for (int i = 0; i < kFiles; ++i) tree_.AddFile("big/file-" + std::to_string(i), "");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());

  const Listing listing = List(session, "/big");
  ASSERT_TRUE(listing.result.ok()) << listing.result.errorText;
  EXPECT_EQ(listing.entries, DiskEntries(tree_ / "big"));
  EXPECT_GT(listing.batches, 1);
}

TEST_F(FtpSessionTest, AbandonedListingIsCancelledAndTheSessionGoesOn) {
  for (int i = 0; i < 3000; ++i) tree_.AddFile("big/file-" + std::to_string(i), "");
  tree_.AddFile("small/one");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());

  int batches = 0;
  const FtpResult result = session.ListDirectory("/big", [&](std::span<const ListingEntry>) {
    ++batches;
    return false;
  });
  EXPECT_EQ(result.outcome, FtpOutcome::kCancelled);
  EXPECT_TRUE(result.entered);
  EXPECT_EQ(batches, 1);

  const Listing next = List(session, "/small");
  ASSERT_TRUE(next.result.ok()) << next.result.errorText;
  EXPECT_EQ(Names(next), std::vector<std::string>{"one"});
}

// --- What goes over the wire ------------------------------------------------

TEST_F(FtpSessionTest, LoginOnceAndTwoCommandsPerDirectory) {
  for (int i = 0; i < 12; ++i) tree_.AddFile("d" + std::to_string(i) + "/f");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(List(session, "/d" + std::to_string(i)).result.ok());

  const std::vector<std::string> commands = server.Commands();
  for (const char* once : {"USER", "PASS", "PWD", "TYPE", "FEAT"}) {
    EXPECT_EQ(CountVerb(commands, once), 1u) << once;
  }
  EXPECT_EQ(CountVerb(commands, "CWD"), 0u);
  EXPECT_EQ(CountVerb(commands, "LIST"), 0u);
  for (int i = 0; i < 12; ++i) EXPECT_THAT(commands, Contains("MLSD /d" + std::to_string(i)));
  // Commands after FEAT up to each listing; the first directory also
  // carries the one TYPE A.
  std::vector<int> perDirectory;
  int count = -1;
  for (const std::string& command : commands) {
    if (command == "FEAT") count = 0;
    if (count < 0 || command.starts_with("TYPE") || command == "FEAT") continue;
    ++count;
    if (command.starts_with("MLSD")) {
      perDirectory.push_back(count);
      count = 0;
    }
  }
  EXPECT_EQ(perDirectory, std::vector<int>(12, 2));
  EXPECT_EQ(session.commandsSent(), commands.size());
}

TEST_F(FtpSessionTest, ServerWithoutEpsvCostsOneExtraCommandOnce) {
  for (int i = 0; i < 6; ++i) tree_.AddFile("d" + std::to_string(i) + "/f");
  PyFtpOptions options;
  options.epsv = false;
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Names(List(session, "/d" + std::to_string(i))), std::vector<std::string>{"f"});
  }
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(CountVerb(commands, "EPSV"), 1u);
  EXPECT_EQ(CountVerb(commands, "PASV"), 6u);
  EXPECT_EQ(CountVerb(commands, "USER"), 1u);
}

TEST_F(FtpSessionTest, LineBreaksAndNulInPathsAreRefusedBeforeSending) {
  tree_.AddDir("a");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  server.ClearCommands();

  for (const std::string& path :
       {std::string("/a\r\nDELE x"), std::string("/a\nb"), std::string("/a\rb"),
        std::string("/a\0b", 4), std::string("relative")}) {
    bool called = false;
    const FtpResult result = session.ListDirectory(path, [&](auto) { return called = true; });
    EXPECT_EQ(result.outcome, FtpOutcome::kRefused);
    EXPECT_FALSE(result.entered);
    EXPECT_FALSE(called);
    EXPECT_FALSE(result.errorText.empty());
  }
  EXPECT_THAT(server.Commands(), ::testing::IsEmpty());
  EXPECT_TRUE(List(session, "/a").result.ok());
}

// --- Refusals -----------------------------------------------------------------

TEST_F(FtpSessionTest, RefusedDirectoryChangeIsNotEntered) {
  tree_.AddFile("locked/secret");
  tree_.AddFile("open/f");
  PyFtpOptions options;
  for (const auto command : {FtpFault::Command::kCwd, FtpFault::Command::kList}) {
    options.faults.push_back(
        {command, "/locked", FtpFault::Action::kReply, "550 Permission denied."});
  }
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  server.ClearCommands();

  const Listing locked = List(session, "/locked");
  EXPECT_EQ(locked.result.outcome, FtpOutcome::kRefused);
  EXPECT_FALSE(locked.result.entered);
  EXPECT_EQ(locked.result.curlCode, 9);
  EXPECT_EQ(locked.result.replyCode, 550);
  EXPECT_THAT(locked.result.errorText, HasSubstr("Permission denied"));
  EXPECT_TRUE(locked.entries.empty());
  // The CWD comes only after the refused listing, to classify it.
  const std::vector<std::string> commands = server.Commands();
  const auto listed = std::find(commands.begin(), commands.end(), "MLSD /locked");
  EXPECT_NE(std::find(listed, commands.end(), "CWD /locked"), commands.end());

  // The control connection survives a refusal.
  server.ClearCommands();
  EXPECT_TRUE(List(session, "/open").result.ok());
  EXPECT_EQ(CountVerb(server.Commands(), "USER"), 0u);
}

TEST_F(FtpSessionTest, ErrorTextIsCutTo255Bytes) {
  tree_.AddDir("long");
  PyFtpOptions options;
  options.faults.push_back(
      {FtpFault::Command::kCwd, "/long", FtpFault::Action::kReply, "550 " + std::string(600, 'x')});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  const Listing listing = List(session, "/long");
  EXPECT_EQ(listing.result.outcome, FtpOutcome::kRefused);
  EXPECT_EQ(listing.result.errorText.size(), kMaxErrorText);
  EXPECT_THAT(listing.result.errorText, HasSubstr("550 xxx"));
}

class FtpListingRefusedTest : public FtpSessionTest,
                              public ::testing::WithParamInterface<std::tuple<bool, const char*>> {
};

TEST_P(FtpListingRefusedTest, RefusedListingIsEnteredAndRefused) {
  const auto [mlsd, reply] = GetParam();
  tree_.AddFile("dir/f");
  tree_.AddFile("other/g");
  PyFtpOptions options;
  options.mlsd = mlsd;
  options.faults.push_back({FtpFault::Command::kList, "/dir", FtpFault::Action::kReply, reply});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());

  const Listing listing = List(session, "/dir");
  // 4xx: refused for now, which must not count as an empty directory.
  EXPECT_EQ(listing.result.outcome,
            reply[0] == '4' ? FtpOutcome::kIncomplete : FtpOutcome::kRefused);
  EXPECT_TRUE(listing.result.entered);
  EXPECT_TRUE(listing.entries.empty());
  EXPECT_EQ(listing.result.replyCode, std::atol(reply));
  // The server's own words, bytes unchanged (GBK here).
  EXPECT_THAT(listing.result.errorText, HasSubstr(std::string(reply).substr(4)));
  EXPECT_TRUE(List(session, "/other").result.ok());
  EXPECT_EQ(CountVerb(server.Commands(), "USER"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Replies, FtpListingRefusedTest,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values("550 No access \xbe\xdc\xbe\xf8.",
                                                              "450 Busy, later.")));

TEST_F(FtpSessionTest, ListingRefusedByPathIsTriedAgainInsideTheDirectory) {
  // A server may refuse a LIST argument that it parses its own way.
  tree_.AddFile("dir one/f");
  PyFtpOptions options;
  options.mlsd = false;
  options.faults.push_back(
      {FtpFault::Command::kList, "/dir one", FtpFault::Action::kReply, "550 No.", 0, 0, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  server.ClearCommands();

  const Listing listing = List(session, "/dir one");
  ASSERT_TRUE(listing.result.ok()) << listing.result.errorText;
  EXPECT_EQ(Names(listing), std::vector<std::string>{"f"});
  const std::vector<std::string> commands = server.Commands();
  const auto listed = std::find(commands.begin(), commands.end(), "LIST /dir one");
  const auto changed = std::find(listed, commands.end(), "CWD /dir one");
  EXPECT_NE(std::find(changed, commands.end(), "LIST"), commands.end());
}

TEST_F(FtpSessionTest, WrongLoginIsRefused) {
  PyFtpOptions options;
  options.user = "alice";
  options.password = "right";
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));

  CFtpSession session;
  const FtpResult result = session.Open(LoginAs(server, "alice", "wrong"));
  EXPECT_EQ(result.outcome, FtpOutcome::kRefused);
  EXPECT_EQ(result.curlCode, 67);
  EXPECT_EQ(session.ListDirectory("/", [](auto) { return true; }).outcome, FtpOutcome::kRefused);

  CFtpSession good;
  EXPECT_TRUE(good.Open(LoginAs(server, "alice", "right")).ok());
}

TEST_F(FtpSessionTest, SlowLoginRefusalIsNotMistakenForAConnectTimeOut) {
  // The connect time-out covers the TCP handshake only; the login replies
  // each get the reply time-out.
  PyFtpOptions options;
  options.user = "alice";
  options.password = "right";
  options.authFailedDelay = 2.0;
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  const FtpResult result =
      session.Open(LoginAs(server, "alice", "wrong"), {1000ms, 60000ms, 60000ms});
  EXPECT_EQ(result.outcome, FtpOutcome::kRefused) << result.errorText;
  EXPECT_EQ(result.curlCode, 67);
}

TEST_F(FtpSessionTest, SlowServerWithinTheReplyTimeOutWorks) {
  tree_.AddFile("d/f");
  PyFtpOptions options;
  options.replyDelayMs = 150;  // greeting and login together take longer than `connect`
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  const FtpResult opened = session.Open(LoginFor(server), {300ms, 60000ms, 60000ms});
  ASSERT_TRUE(opened.ok()) << opened.errorText;
  EXPECT_EQ(Names(List(session, "/d")), std::vector<std::string>{"f"});
}

// --- Transient failures -------------------------------------------------------

struct TransientCase {
  const char* label;
  FtpFault::Command command;
  FtpFault::Action action;
  const char* reply;
  int keep;
  bool someEntries;  // entries before the failure are handed out
};

class FtpTransientTest : public FtpSessionTest,
                         public ::testing::WithParamInterface<TransientCase> {};

TEST_P(FtpTransientTest, FailureIsTransientAndARetrySucceeds) {
  const TransientCase& c = GetParam();
  for (int i = 0; i < 50; ++i) tree_.AddFile("slow/f" + std::to_string(i));
  PyFtpOptions options;
  // Fires once: the retry on a new session gets through.
  options.faults.push_back(
      {c.command, "/slow", c.action, c.reply, FtpFault::kUntilReleased, c.keep, 1});
  // The only CWD is the one that classifies a refused listing.
  if (c.command == FtpFault::Command::kCwd) {
    options.faults.push_back(
        {FtpFault::Command::kList, "/slow", FtpFault::Action::kReply, "550 No.", 0, 0, 1});
  }
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));

  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server), kShort).ok());
  const Listing failed = List(session, "/slow");
  EXPECT_EQ(failed.result.outcome, FtpOutcome::kTransient) << failed.result.errorText;
  EXPECT_FALSE(failed.result.errorText.empty());
  EXPECT_EQ(failed.entries.empty(), !c.someEntries);
  session.Close();

  CFtpSession retry;
  ASSERT_TRUE(retry.Open(LoginFor(server)).ok());
  const Listing listing = List(retry, "/slow");
  ASSERT_TRUE(listing.result.ok()) << listing.result.errorText;
  EXPECT_EQ(listing.entries.size(), 50u);
}

INSTANTIATE_TEST_SUITE_P(Faults, FtpTransientTest,
                         ::testing::Values(TransientCase{"CwdNoReply", FtpFault::Command::kCwd,
                                                         FtpFault::Action::kSilence, "", 0, false},
                                           TransientCase{"CwdDropped", FtpFault::Command::kCwd,
                                                         FtpFault::Action::kDrop, "", 0, false},
                                           TransientCase{"CwdAnswered421", FtpFault::Command::kCwd,
                                                         FtpFault::Action::kReply,
                                                         "421 Too many users.", 0, false},
                                           TransientCase{"ListNoReply", FtpFault::Command::kList,
                                                         FtpFault::Action::kSilence, "", 0, false},
                                           TransientCase{"ListDataStalls", FtpFault::Command::kList,
                                                         FtpFault::Action::kStall, "", 5, true},
                                           TransientCase{"ListDropped", FtpFault::Command::kList,
                                                         FtpFault::Action::kDrop, "", 5, true},
                                           TransientCase{"ListReset", FtpFault::Command::kList,
                                                         FtpFault::Action::kReset, "", 5, true}),
                         [](const auto& info) { return info.param.label; });

// A listing dripped slowly enough to keep every time-out from running out
// is held to the floor on progress, and one above the floor that does not
// end to the bound on a call: either ends as a time-out does, and the same
// session lists again on a new connection.
TEST_F(FtpSessionTest, ListingTooSlowOrEndlessEndsLikeATimeOut) {
  struct Case {
    const char* label;
    double secondsPerByte;
    std::size_t floorBytes;
    std::chrono::milliseconds maxCall;
    const char* text;
  };
  const Case cases[] = {
      {"below the floor", 0.25, 16, 10min, "Fewer than 16 bytes received in 1000 ms"},
      {"endless", 0.02, 1, 1500ms, "No end after 1500 ms"},
  };
  for (int i = 0; i < 50; ++i) tree_.AddFile("slow/f" + std::to_string(i));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    PyFtpOptions options;
    options.faults.push_back(
        {FtpFault::Command::kList, "/slow", FtpFault::Action::kDrip, "", c.secondsPerByte, 0, 1});
    START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
    FtpTimeouts timeouts = kShort;
    timeouts.lowSpeedBytes = c.floorBytes;
    timeouts.lowSpeedWindow = 1000ms;
    timeouts.maxCall = c.maxCall;
    CFtpSession session;
    ASSERT_TRUE(session.Open(LoginFor(server), timeouts).ok());
    const Listing dripped = List(session, "/slow");
    EXPECT_EQ(dripped.result.outcome, FtpOutcome::kTransient);
    EXPECT_EQ(dripped.result.errorText, c.text);
    const Listing listing = List(session, "/slow");
    ASSERT_TRUE(listing.result.ok()) << listing.result.errorText;
    EXPECT_EQ(listing.entries.size(), 50u);
  }
}

// A socket that listens but never accepts: the kernel completes handshakes
// into the backlog, and with the backlog full drops further SYNs.
class SilentListener {
 public:
  explicit SilentListener(int backlog) : backlog_(static_cast<std::uint32_t>(backlog)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(fd_, backlog);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(fd_);
  }
  std::uint16_t port() const { return port_; }
  // Fills the accept queue so that the next handshake cannot complete.
  // False if it did not fill within a minute.
  bool Fill() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    for (int i = 0; i < 4; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
      fillers_.push_back(fd);
    }
    return AwaitQueued(backlog_ + 1);
  }
  // Waits until `count` handshakes have completed into the accept queue
  // (the kernel reports its length for a listening socket in tcpi_unacked);
  // false after a minute.
  bool AwaitQueued(std::uint32_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      tcp_info info{};
      socklen_t length = sizeof(info);
      if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
      if (info.tcpi_unacked >= count) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

 private:
  std::uint32_t backlog_;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::vector<int> fillers_;
};

TEST(FtpSessionConnectTest, NothingListeningFailsAtOnce) {
  const test::CClosedPort closed;
  ASSERT_NE(closed.port(), 0);
  CFtpSession session;
  const FtpResult result = session.Open(Anonymous("127.0.0.1", closed.port(), "x@y.z"), kHuge);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.curlCode, 7);
  EXPECT_FALSE(result.errorText.empty());
}

TEST(FtpSessionConnectTest, MissingGreetingTimesOutOnTheReplyTimeOut) {
  SilentListener listener(8);
  CFtpSession session;
  auto opened = std::async(std::launch::async, [&] {
    return session.Open(Anonymous("127.0.0.1", listener.port(), "x@y.z"),
                        {60000ms, 500ms, 60000ms});
  });
  ASSERT_EQ(opened.wait_for(kResultWait), std::future_status::ready);
  const FtpResult result = opened.get();
  EXPECT_EQ(result.outcome, FtpOutcome::kTransient);
  EXPECT_EQ(result.curlCode, 28);
}

TEST(FtpSessionConnectTest, UnansweredHandshakeTimesOutOnTheConnectTimeOut) {
  SilentListener listener(0);
  ASSERT_TRUE(listener.Fill());
  CFtpSession session;
  auto opened = std::async(std::launch::async, [&] {
    return session.Open(Anonymous("127.0.0.1", listener.port(), "x@y.z"),
                        {500ms, 60000ms, 60000ms});
  });
  ASSERT_EQ(opened.wait_for(kResultWait), std::future_status::ready);
  const FtpResult result = opened.get();
  EXPECT_EQ(result.outcome, FtpOutcome::kTransient);
  EXPECT_EQ(result.curlCode, 28);
}

TEST_F(FtpSessionTest, InvalidHostIsRefusedWithoutConnecting) {
  CFtpSession session;
  for (const char* host : {"", "evil/host", "a b", "user@host"}) {
    const FtpResult result = session.Open(Anonymous(host, 21, "x"));
    EXPECT_EQ(result.outcome, FtpOutcome::kRefused) << host;
  }
}

// --- Close from another thread ------------------------------------------------

class FtpCloseTest : public FtpSessionTest,
                     public ::testing::WithParamInterface<FtpFault::Action> {};

TEST_P(FtpCloseTest, CloseFromAnotherThreadEndsABlockedListing) {
  for (int i = 0; i < 20; ++i) tree_.AddFile("stall/f" + std::to_string(i));
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/stall", GetParam(), "",
                            FtpFault::kUntilReleased,
                            GetParam() == FtpFault::Action::kStall ? 2 : 0});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server), kHuge).ok());

  auto listed = std::async(std::launch::async, [&] { return List(session, "/stall"); });
  ASSERT_TRUE(AwaitCommand(server, "MLSD"));
  ASSERT_EQ(listed.wait_for(0s), std::future_status::timeout);
  session.Close();
  // With 60 s time-outs and a server that holds the listing until the
  // connection closes, only Close can end the call.
  ASSERT_EQ(listed.wait_for(kResultWait), std::future_status::ready);
  const Listing listing = listed.get();
  EXPECT_EQ(listing.result.outcome, FtpOutcome::kCancelled);

  session.Close();
  EXPECT_EQ(List(session, "/").result.outcome, FtpOutcome::kCancelled);
}

INSTANTIATE_TEST_SUITE_P(Stalls, FtpCloseTest,
                         ::testing::Values(FtpFault::Action::kSilence, FtpFault::Action::kStall));

TEST(FtpSessionConnectTest, CloseFromAnotherThreadEndsABlockedLogin) {
  SilentListener listener(8);
  CFtpSession session;
  auto opened = std::async(std::launch::async, [&] {
    return session.Open(Anonymous("127.0.0.1", listener.port(), "x@y.z"), kHuge);
  });
  // Connected: the call now waits for a greeting that never comes.
  ASSERT_TRUE(listener.AwaitQueued(1));
  ASSERT_EQ(opened.wait_for(0s), std::future_status::timeout);
  session.Close();
  ASSERT_EQ(opened.wait_for(kResultWait), std::future_status::ready);
  EXPECT_EQ(opened.get().outcome, FtpOutcome::kCancelled);
}

TEST_F(FtpSessionTest, CloseIsIdempotentAndSafeFromManyThreads) {
  tree_.AddFile("d/f");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  {
    CFtpSession session;
    ASSERT_TRUE(session.Open(LoginFor(server)).ok());
    std::vector<std::thread> closers;
    for (int i = 0; i < 4; ++i) closers.emplace_back([&] { session.Close(); });
    session.Close();
    for (auto& t : closers) t.join();
    session.Close();
    EXPECT_EQ(List(session, "/d").result.outcome, FtpOutcome::kCancelled);
  }
  {
    CFtpSession never;  // closing a session that never opened
    never.Close();
    never.Close();
    EXPECT_EQ(never.Open(LoginFor(server)).outcome, FtpOutcome::kCancelled);
  }
  {
    // Close racing a listing that is about to start or is under way.
    CFtpSession session;
    ASSERT_TRUE(session.Open(LoginFor(server)).ok());
    auto listed = std::async(std::launch::async, [&] { return List(session, "/d"); });
    session.Close();
    ASSERT_EQ(listed.wait_for(kResultWait), std::future_status::ready);
    const FtpOutcome outcome = listed.get().result.outcome;
    EXPECT_TRUE(outcome == FtpOutcome::kCancelled || outcome == FtpOutcome::kOk);
  }
}

// --- Other servers and addresses ------------------------------------------------

bool HasIpv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return ok;
}

TEST_F(FtpSessionTest, Ipv6LiteralHost) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no ::1";
  tree_.AddFile("v6/f", "123");
  PyFtpOptions options;
  options.host = "::1";
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  const FtpResult opened = session.Open(LoginFor(server));
  ASSERT_TRUE(opened.ok()) << opened.errorText;
  const Listing listing = List(session, "/v6");
  ASSERT_TRUE(listing.result.ok()) << listing.result.errorText;
  EXPECT_EQ(listing.entries, (std::vector<Entry>{{"f", false, 3}}));
}

// --- Listings over the control connection ------------------------------

// pyftpdlib listing by LIST and by STAT, with `fault` on the STAT of /d,
// which holds two files.
CFtpServer::Started StartWithStatFault(CTempTree& tree, FtpFault fault) {
  tree.AddFile("d/one", "1");
  tree.AddFile("d/two", "22");
  PyFtpOptions options;
  options.mlsd = false;
  options.statListing = true;
  fault.command = FtpFault::Command::kStat;
  fault.path = "/d";
  options.faults.push_back(std::move(fault));
  return CFtpServer::StartPyftpdlib(tree.path(), options);
}

// A STAT reply that is no listing, or one that cannot be trusted whole,
// costs the session its STAT form (and, when the reply may have ended early,
// its control connection); every directory is still listed exactly.
TEST_F(FtpSessionTest, StatThatIsNoTrustedListingFallsBackToTheDataConnection) {
  const std::string line = "-rw-r--r-- 1 ftp ftp 1 Jan 01 2020 ";
  struct Case {
    const char* what;
    std::string reply;
    std::size_t logins;  // USER commands in all
  };
  const Case cases[] = {
      {"refused", "502 No STAT here.\r\n", 1},
      {"one line", "213 Fine.\r\n", 1},
      {"the server's status", "211-Status:\r\n Connected to host\r\n211 End.\r\n", 1},
      {"inner lines with the code", "213-Status:\r\n213-" + line + "a\r\n213 End.\r\n", 1},
      // A name with a line feed and a line like the last: the rest of the
      // reply would be read as the next reply.
      {"ended early", "213-Status:\r\n" + line + "a\r\n213 End.\r\n" + line + "b\r\n213 End.\r\n",
       2},
      {"a lone line feed", "213-Status:\r\n" + line + "a\nb\r\n213 End.\r\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CTempTree tree;
    tree.AddFile("e/three", "333");
    tree.AddFile("e/four", "4444");
    FtpFault fault;
    fault.reply = c.reply;
    START_OR_SKIP(server, StartWithStatFault(tree, fault));
    CFtpSession session;
    ASSERT_TRUE(session.Open(LoginFor(server)).ok());
    for (const char* path : {"/d", "/e", "/d"}) {
      const Listing listed = List(session, path);
      ASSERT_TRUE(listed.result.ok()) << path << ": " << listed.result.errorText;
      EXPECT_EQ(listed.entries, DiskEntries(tree.path() / (path + 1))) << path;
    }
    const std::vector<std::string> commands = server.Commands();
    EXPECT_EQ(CountVerb(commands, "STAT"), 1u);
    EXPECT_EQ(CountVerb(commands, "LIST"), 3u);
    EXPECT_EQ(CountVerb(commands, "USER"), c.logins);
  }
}

// A server that splits STAT's argument at blanks lists another directory:
// paths with blanks are listed by STAT only after one of them has listed
// alike inside the directory.
TEST_F(FtpSessionTest, StatOfAPathWithABlankIsCheckedOnItsOwn) {
  tree_.AddFile("a/x", "1");
  tree_.AddFile("a b/p", "22");
  tree_.AddFile("c/z", "333");
  PyFtpOptions options;
  options.mlsd = false;
  options.statListing = true;
  FtpFault split;
  split.command = FtpFault::Command::kStat;
  split.path = "/a b";
  split.reply = "213-Status:\r\n-rw-r--r-- 1 ftp ftp 1 Jan 01 2020 x\r\n213 End of status.\r\n";
  options.faults.push_back(split);
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  for (const char* path : {"/c", "/a b", "/a b", "/a"}) {
    const Listing listed = List(session, path);
    ASSERT_TRUE(listed.result.ok()) << path << ": " << listed.result.errorText;
    EXPECT_EQ(listed.entries, DiskEntries(tree_.path() / (path + 1))) << path;
  }
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(CountVerb(commands, "STAT"), 3u);  // /c, /a b once, /a
  EXPECT_THAT(commands, Contains("CWD /a b"));
}

// A STAT reply that never ends is held to the bound on what a reply may
// hold back, or to the floor on progress; the data connection then lists.
TEST_F(FtpSessionTest, EndlessStatReplyIsCutAndTheDataConnectionLists) {
  struct Case {
    const char* what;
    double seconds;  // between chunks of 100 lines
    FtpTimeouts timeouts;
  };
  FtpTimeouts floor = kHuge;
  floor.lowSpeedBytes = 1 << 20;
  floor.lowSpeedWindow = 300ms;
  const Case cases[] = {{"fast", 0, kHuge}, {"slow", 0.05, floor}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CTempTree tree;
    FtpFault fault;
    fault.action = FtpFault::Action::kEndless;
    fault.seconds = c.seconds;
    START_OR_SKIP(server, StartWithStatFault(tree, fault));
    CFtpSession session;
    ASSERT_TRUE(session.Open(LoginFor(server), c.timeouts).ok());
    const Listing listed = List(session, "/d");
    ASSERT_TRUE(listed.result.ok()) << listed.result.errorText;
    EXPECT_EQ(listed.entries, DiskEntries(tree.path() / "d"));
    EXPECT_EQ(CountVerb(server.Commands(), "LIST"), 1u);
  }
}

// The tree the interoperability tests crawl: hostile names at two levels,
// a dot file, a file over 4 GiB and an empty directory.
void MakeInteropTree(CTempTree& tree, bool backslashSafe) {
  for (const std::string& name : HostileNames()) {
    tree.AddFile(name + "/" + name, name);
    tree.AddDir(name + "/sub " + name);
  }
  tree.AddFile(".dotfile", "dot");
  tree.AddSparseFile("big/huge.img", (4ULL << 30) + 17);
  tree.AddDir("empty");
  if (backslashSafe) tree.AddFile("back\\slash", "b");
}

// Listed by path, a file or a missing path must not pass for a directory.
void ExpectFileAndMissingPathsNotEntered(CFtpSession& session) {
  for (const char* path : {"/.dotfile", "/big/huge.img", "/missing", "/empty/missing"}) {
    SCOPED_TRACE(path);
    const Listing listing = List(session, path);
    EXPECT_EQ(listing.result.outcome, FtpOutcome::kRefused);
    EXPECT_FALSE(listing.result.entered);
    EXPECT_TRUE(listing.entries.empty());
  }
}

TEST_F(FtpSessionTest, VsftpdCrawlMatchesTheDisk) {
  MakeInteropTree(tree_, true);
  START_OR_SKIP(server, CFtpServer::StartVsftpd(tree_.path()));
  CFtpSession session;
  const FtpResult opened = session.Open(LoginFor(server));
  ASSERT_TRUE(opened.ok()) << opened.errorText;
  EXPECT_FALSE(session.usesMlsd());

  server.ClearCommands();
  int directories = 0;
  ExpectTreeMatches(session, tree_.path(), "/", directories);
  EXPECT_EQ(directories, 1 + 2 * static_cast<int>(HostileNames().size()) + 2);
  // vsftpd lists over the control connection (STAT): the directories that
  // hold entries take no data connection, the empty ones are confirmed by
  // one.
  const std::vector<std::string> commands = server.Commands();
  EXPECT_GE(CountVerb(commands, "STAT"), HostileNames().size() - 3);
  EXPECT_LT(CountVerb(commands, "LIST"), static_cast<std::size_t>(directories));
  EXPECT_LE(commands.size(), static_cast<std::size_t>(4 * directories + 1));
  EXPECT_EQ(CountVerb(commands, "USER"), 0u);
  ExpectFileAndMissingPathsNotEntered(session);
}

// Names that look like reply lines or hold line breaks, in vsftpd's STAT
// reply (which sends names as they are): every name the data connection
// lists comes out the same, and a line feed inside a name costs the
// control connection, never a listing's exactness.
TEST_F(FtpSessionTest, VsftpdStatListingsEqualDataConnectionListings) {
  const std::vector<std::string> names = {
      "213 x", "213-dash", " lead", "x\xffy", "213 End of status", "tail ", "\xc4\xe3 gbk"};
  for (const char* dir : {"a", "b", "c", "d"}) {
    for (const std::string& name : names) tree_.AddFile(std::string(dir) + "/" + name, name);
  }
  tree_.AddFile("c/cr\rname", "");
  tree_.AddFile("c/nl\n213 End of status", "");
  tree_.AddFile("d/nl\r\n213 End of status", "");
  START_OR_SKIP(server, CFtpServer::StartVsftpd(tree_.path()));
  CFtpSession session;
  ASSERT_TRUE(session.Open(LoginFor(server)).ok());
  CFtpSession reference;
  ASSERT_TRUE(reference.Open(LoginFor(server)).ok());
  for (const char* path : {"/a", "/b", "/d", "/b", "/c", "/a", "/b"}) {
    SCOPED_TRACE(path);
    const Listing listed = List(session, path);
    ASSERT_TRUE(listed.result.ok()) << listed.result.errorText;
    // The same directory's LIST over a data connection, parsed alike.
    std::string data;
    ASSERT_TRUE(reference
                    .ListRaw(path, "LIST",
                             [&](std::string_view bytes) {
                               data += bytes;
                               return true;
                             })
                    .ok());
    CListingSplitter splitter;
    std::vector<Entry> expected;
    const auto take = [&](const ListingEntry& e) {
      expected.push_back({e.name, e.isDirectory, e.size});
    };
    splitter.Feed(data.data(), data.size(), take);
    splitter.Finish(take);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed.entries, expected);
    EXPECT_EQ(session.skippedLines(), splitter.skippedLines());
  }
  const std::vector<std::string> commands = server.Commands();
  // /a is listed both ways, /b by STAT; /d's reply ends early at a name and
  // costs the control connection and the STAT form.
  EXPECT_EQ(CountVerb(commands, "STAT"), 3u);
}

TEST_F(FtpSessionTest, PureFtpdCrawlMatchesTheDisk) {
  // pure-ftpd refuses paths with a backslash byte.
  MakeInteropTree(tree_, false);
  START_OR_SKIP(server, CFtpServer::StartPureFtpd(tree_.path()));
  CFtpSession session;
  const FtpResult opened = session.Open(LoginFor(server));
  ASSERT_TRUE(opened.ok()) << opened.errorText;
  EXPECT_TRUE(session.usesMlsd());

  int directories = 0;
  ExpectTreeMatches(session, tree_.path(), "/", directories);
  EXPECT_EQ(directories, 1 + 2 * static_cast<int>(HostileNames().size()) + 2);
  ExpectFileAndMissingPathsNotEntered(session);
}

}  // namespace
}  // namespace orvane
