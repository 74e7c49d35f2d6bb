// CrawlDirectory against real servers on loopback: the catalog it builds,
// what it asks the server (read back from the server's command log), and
// how it stops, breaks off, resumes and survives hostile trees.
#include "update/crawler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "catalog/change_journal.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "tests/support/ftp_server.h"
#include "tests/support/temp_tree.h"
#include "update/ftp_session.h"
#include "update/listing_prefetch.h"
#include "update/status_text.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CFtpServer;
using test::CTempTree;
using test::FtpFault;
using test::PureFtpdOptions;
using test::PyFtpOptions;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// For a crawl that must time out: its fault holds the reply until the
// client gives up, so these only need to be longer than any reply that is
// not held takes on a loaded machine, and short enough to keep the tests
// quick. Every crawl that must succeed is patient.
constexpr FtpTimeouts kQuick{5000ms, 3000ms, 3000ms};
constexpr FtpTimeouts kPatient{60000ms, 60000ms, 60000ms};

// Keeps what the sweeps removed, as the window thread would until it has
// dropped its rows, and remembers where each entry was.
class RecordingSink final : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile> file) override {
    paths.push_back(Join(file->parent->GetPath(), file->name()));
    if (stop != nullptr && paths.back() == stopAt) *stop = true;
    files.push_back(std::move(file));
  }
  void DirRemoved(std::unique_ptr<CFTPDir> dir) override {
    paths.push_back(dir->GetPath() + "/");
    dirs.push_back(std::move(dir));
  }
  static std::string Join(const std::string& dir, std::string_view name) {
    return (dir == "/" ? dir : dir + "/") + std::string(name);
  }

  std::vector<std::string> paths;  // directories end in "/"
  // Set when the file `stopAt` is removed: a stop at a known place.
  std::atomic<bool>* stop = nullptr;
  std::string stopAt;
  std::vector<std::unique_ptr<CFTPFile>> files;
  std::vector<std::unique_ptr<CFTPDir>> dirs;
};

struct Node {
  bool isDirectory;
  std::uint64_t size;  // 0 for directories
  auto operator<=>(const Node&) const = default;
};
using Flat = std::map<std::string, Node>;

// Every entry below the root by path, directories ending in "/".
Flat FlattenCatalog(const CFTPDir& dir) {
  Flat flat;
  for (const auto& file : dir.files) {
    flat[RecordingSink::Join(dir.GetPath(), file->name())] = {false, file->size.load()};
  }
  for (const auto& sub : dir.subdirs) {
    flat[sub->GetPath() + "/"] = {true, 0};
    flat.merge(FlattenCatalog(*sub));
  }
  return flat;
}

Flat FlattenDisk(const fs::path& root) {
  Flat flat;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string path = "/" + fs::relative(it->path(), root).string();
    if (it->is_directory()) {
      flat[path + "/"] = {true, 0};
    } else {
      flat[path] = {false, it->file_size()};
    }
  }
  return flat;
}

// What one flat tree holds that the other does not, or holds otherwise, one
// line each; bytes outside printable ASCII as \xNN, so that a failure can be
// read.
std::string Differences(const Flat& catalog, const Flat& disk) {
  const auto shown = [](const std::string& path) {
    std::string text;
    for (const char c : path) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0x20 && byte < 0x7F && c != '\\') {
        text += c;
      } else {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", byte);
        text += escape;
      }
    }
    return text;
  };
  std::string differences;
  for (const auto& [path, node] : disk) {
    const auto found = catalog.find(path);
    if (found == catalog.end()) {
      differences += "missing " + shown(path) + "\n";
    } else if (found->second != node) {
      differences += "differs " + shown(path) + "\n";
    }
  }
  for (const auto& [path, node] : catalog) {
    if (!disk.contains(path)) differences += "made up " + shown(path) + "\n";
  }
  return differences;
}

CFTPDir* Find(CFTPDir& root, std::string_view path) {
  CFTPDir* dir = &root;
  while (!path.empty()) {
    if (path.front() == '/') {
      path.remove_prefix(1);
      continue;
    }
    const std::size_t slash = std::min(path.find('/'), path.size());
    const std::string_view name = path.substr(0, slash);
    path.remove_prefix(slash);
    auto it = std::find_if(dir->subdirs.begin(), dir->subdirs.end(),
                           [&](const auto& sub) { return sub->name() == name; });
    if (it == dir->subdirs.end()) return nullptr;
    dir = it->get();
  }
  return dir;
}

CFTPFile* FindFile(CFTPDir& root, std::string_view dirPath, std::string_view name) {
  CFTPDir* dir = Find(root, dirPath);
  if (dir == nullptr) return nullptr;
  for (auto& file : dir->files) {
    if (file->name() == name) return file.get();
  }
  return nullptr;
}

std::vector<std::string> Names(const CFTPDir& dir) {
  std::vector<std::string> names;
  for (const auto& sub : dir.subdirs) names.push_back(std::string(sub->name()) + "/");
  for (const auto& file : dir.files) names.emplace_back(file->name());
  return names;
}

std::size_t MaxDepth(const CFTPDir& dir) {
  std::size_t depth = 0;
  for (const auto& sub : dir.subdirs) depth = std::max(depth, 1 + MaxDepth(*sub));
  return depth;
}

void ClearMarks(CFTPDir& dir) {
  dir.readState = 0;
  for (auto& file : dir.files) file->readState = 0;
  for (auto& sub : dir.subdirs) ClearMarks(*sub);
}

// Directories the server was asked for, in order: listed by path, or
// entered with CWD. A CWD right after the listing of its own path (which
// tells a refused directory from a refused or empty listing) is the same
// request.
// The directories entered or listed, in order; one listed twice in a row
// (by STAT, then over a data connection) shows once. "CWD /" is left out:
// libcurl sends it after the STAT that follows a CWD elsewhere, to be back
// in the directory of the URL it was given.
std::vector<std::string> Entered(const std::vector<std::string>& commands) {
  std::vector<std::string> paths;
  for (const std::string& command : commands) {
    if (command == "CWD /") continue;
    for (const std::string_view verb : {"CWD /", "MLSD /", "LIST /", "STAT /"}) {
      if (!command.starts_with(verb)) continue;
      std::string path = command.substr(verb.size() - 1);
      if (paths.empty() || paths.back() != path) paths.push_back(std::move(path));
    }
  }
  return paths;
}

// Listings of directories; a directory listed by STAT and then once more
// over a data connection (a session's first, or one that STAT shows empty)
// counts once.
std::size_t Listings(const std::vector<std::string>& commands) {
  std::size_t listings = 0;
  std::string cwd;
  std::string statted;  // the path of the STAT just before
  for (const std::string& command : commands) {
    if (command.starts_with("CWD ")) {
      cwd = command.substr(4);
      continue;
    }
    std::string path;
    if (command == "LIST" || command == "MLSD" || command == "NLST") {
      path = cwd;
    } else if (command.starts_with("LIST ") || command.starts_with("MLSD ") ||
               command.starts_with("NLST ") || command.starts_with("STAT ")) {
      path = command.substr(5);
    } else {
      continue;
    }
    const bool stat = command.starts_with("STAT ");
    if (!stat && path == statted) {
      statted.clear();
      continue;
    }
    ++listings;
    statted = stat ? path : "";
  }
  return listings;
}

// Server paths of `dir` and every directory below it in walk order (list
// order, which is the order the server listed them in).
void WalkOrder(const CFTPDir& dir, std::vector<std::string>& order) {
  order.push_back(dir.GetPath());
  for (const auto& sub : dir.subdirs) WalkOrder(*sub, order);
}
std::vector<std::string> WalkOrder(const CFTPDir& dir) {
  std::vector<std::string> order;
  WalkOrder(dir, order);
  return order;
}

// The walk up to and including `path`, or from `path` on.
std::vector<std::string> Upto(std::vector<std::string> order, const std::string& path) {
  auto it = std::find(order.begin(), order.end(), path);
  EXPECT_NE(it, order.end()) << path;
  if (it != order.end()) order.erase(it + 1, order.end());
  return order;
}
std::vector<std::string> From(std::vector<std::string> order, const std::string& path) {
  auto it = std::find(order.begin(), order.end(), path);
  EXPECT_NE(it, order.end()) << path;
  order.erase(order.begin(), it);
  return order;
}
// The walk without `path` and what is below it.
std::vector<std::string> Without(std::vector<std::string> order, const std::string& path) {
  std::erase_if(order,
                [&](const std::string& p) { return p == path || p.starts_with(path + "/"); });
  return order;
}

class CrawlerTest : public ::testing::Test {
 protected:
  // One crawl on a fresh connection, as an update worker makes it.
  bool Crawl(CFtpServer& server, CFTPDir* dir = nullptr, const CrawlLimits& limits = {},
             const FtpTimeouts& timeouts = kPatient) {
    return CrawlSite(server, site_, dir ? *dir : root(), sink_, limits, timeouts);
  }
  // The same for any site, with connections_ connections.
  bool CrawlSite(CFtpServer& server, CFTPSite& site, CFTPDir& dir, IRemovalSink& sink,
                 const CrawlLimits& limits = {}, const FtpTimeouts& timeouts = kPatient) {
    FtpLogin login = server.Login();
    login.startDir = startDir_;
    CFtpSession session;
    const FtpResult opened = session.Open(login, timeouts);
    EXPECT_TRUE(opened.ok()) << opened.errorText;
    if (!opened.ok()) return false;
    std::unique_ptr<CListingPrefetcher> ahead;
    if (connections_ > 1) {
      ahead = std::make_unique<CListingPrefetcher>(
          login, timeouts, connections_ - 1, stop_, [](CListingSession&) { return true; },
          [](CListingSession&) {});
    }
    {
      std::lock_guard guard(aheadMutex_);
      aheadInUse_ = ahead.get();
    }
    const bool crawled =
        CrawlDirectory(session, site, dir, stop_, sink, limits, ahead.get(), recursive_);
    {
      std::lock_guard guard(aheadMutex_);
      aheadInUse_ = nullptr;
    }
    if (ahead) takenAhead_ = ahead->ListingsTaken();
    commandsSent_ = session.commandsSent();
    return crawled;
  }

  CFTPDir& root() { return *site_.rootDir; }
  std::size_t SeenFiles(const CFTPDir& dir) {
    std::lock_guard<std::mutex> guard(site_.lock);
    return static_cast<std::size_t>(
        std::count_if(dir.files.begin(), dir.files.end(), [](auto& f) { return f->seen == 1; }));
  }
  // Waits (on the test's thread) until the crawl has merged `count` entries
  // of `dir`.
  bool AwaitSeen(const CFTPDir& dir, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (SeenFiles(dir) >= count) return true;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }

  // /aa/x, /pub/a/deep/f, /pub/a/y, /pub/b/g, /pub/b/sub/h, /zz/z
  void MakeSmallTree() {
    tree_.AddFile("aa/x", "x");
    tree_.AddFile("pub/a/deep/f", "ff");
    tree_.AddFile("pub/a/y", "yyy");
    tree_.AddFile("pub/b/g", "gggg");
    tree_.AddFile("pub/b/sub/h", "hhhhh");
    tree_.AddFile("zz/z", "zzzzzz");
  }

  CTempTree tree_;
  CFTPSite site_;
  std::atomic<bool> stop_{false};
  RecordingSink sink_;
  // Connections of a crawl; the extra ones list ahead of the walk.
  int connections_ = 1;
  // Listings the last crawl took from the extra connections.
  std::size_t takenAhead_ = 0;
  // The running crawl's extra connections, for a thread that watches where
  // its walk is.
  std::mutex aheadMutex_;
  CListingPrefetcher* aheadInUse_ = nullptr;
  std::string WalkAt() {
    std::lock_guard guard(aheadMutex_);
    return aheadInUse_ ? aheadInUse_->LastAsked() : std::string();
  }
  // Whether crawls ask for recursive listings.
  bool recursive_ = false;
  // The server directory the site's catalog begins at.
  std::string startDir_ = "/";
  // Commands the last crawl sent on its own connection.
  std::uint64_t commandsSent_ = 0;
};

// --- The catalog equals the server's tree --------------------------------

// The TLS servers require TLS for the login and every listing; vsftpd also
// requires each data connection to resume the control connection's TLS
// session.
enum class ServerKind {
  kPyMlsd,
  kPyList,
  kVsftpd,
  kPureFtpd,
  kVsftpdExplicitTls,
  kVsftpdImplicitTls,
  kPureFtpdTls
};

bool IsPureFtpd(ServerKind kind) {
  return kind == ServerKind::kPureFtpd || kind == ServerKind::kPureFtpdTls;
}

std::string KindName(const ::testing::TestParamInfo<ServerKind>& info) {
  switch (info.param) {
    case ServerKind::kPyMlsd:
      return "PyftpdlibMlsd";
    case ServerKind::kPyList:
      return "PyftpdlibList";
    case ServerKind::kVsftpd:
      return "Vsftpd";
    case ServerKind::kPureFtpd:
      return "PureFtpd";
    case ServerKind::kVsftpdExplicitTls:
      return "VsftpdExplicitTls";
    case ServerKind::kVsftpdImplicitTls:
      return "VsftpdImplicitTls";
    case ServerKind::kPureFtpdTls:
      return "PureFtpdTls";
  }
  return "?";
}

// One self-signed certificate for every TLS server of the process; the
// servers' Login() pins it.
const test::TestCertificate& ServerCertificate() {
  static const CTempTree dir;
  static const test::TestCertificate certificate = test::MakeTestCertificate(dir.path(), "server");
  return certificate;
}

CFtpServer::Started StartServer(ServerKind kind, const fs::path& root) {
  switch (kind) {
    case ServerKind::kPyMlsd:
      return CFtpServer::StartPyftpdlib(root);
    case ServerKind::kPyList: {
      PyFtpOptions options;
      options.mlsd = false;
      return CFtpServer::StartPyftpdlib(root, options);
    }
    case ServerKind::kVsftpd:
      return CFtpServer::StartVsftpd(root);
    case ServerKind::kPureFtpd:
      return CFtpServer::StartPureFtpd(root);
    case ServerKind::kVsftpdExplicitTls:
    case ServerKind::kVsftpdImplicitTls: {
      test::VsftpdOptions options;
      options.tls = kind == ServerKind::kVsftpdExplicitTls ? test::FtpTls::kExplicit
                                                           : test::FtpTls::kImplicit;
      options.certificate = ServerCertificate();
      return CFtpServer::StartVsftpd(root, options);
    }
    case ServerKind::kPureFtpdTls: {
      PureFtpdOptions options;
      options.certificate = ServerCertificate();
      return CFtpServer::StartPureFtpd(root, options);
    }
  }
  return {};
}

class CrawlerServerTest : public CrawlerTest, public ::testing::WithParamInterface<ServerKind> {};

TEST_P(CrawlerServerTest, CatalogEqualsTreeOnDisk) {
  // Names that break URL building, command formatting or listing parsers,
  // bytes that are not UTF-8 (GBK, none with a 0x5C second byte), names that
  // differ only in case, and sizes beyond 32 bits.
  tree_.AddFile("r.txt", "root file");
  tree_.AddFile(".hidden", "h");
  tree_.AddFile("pub/with space/file #1.txt", "hash");
  tree_.AddFile("pub/with space/100%.bin", "percent");
  tree_.AddFile("pub/with space/%2F", "encoded slash");
  tree_.AddFile("pub/with space/what?now", "q");
  tree_.AddFile("pub/with space/semi; colon", "mlsd separator");
  tree_.AddFile("pub/with space/a -> b", "not a link");
  tree_.AddFile("pub/with space/ leading", "l");
  tree_.AddFile("pub/with space/trailing ", "t");
  tree_.AddFile("pub/-rf/-l", "dashes");
  tree_.AddFile("pub/#dir%20/x", "x");
  tree_.AddFile("pub/\xD6\xD0\xCE\xC4/\xB5\xC4 file.txt", "gbk");
  tree_.AddFile("pub/Case/README", "upper");
  tree_.AddFile("pub/Case/readme", "lower!");
  tree_.AddFile("pub/case/x", "");
  tree_.AddSparseFile("pub/big/5GiB.iso", 5ULL << 30);
  tree_.AddSparseFile("pub/big/4GiB", 4ULL << 30);
  tree_.AddSparseFile("pub/big/4GiB-1", (4ULL << 30) - 1);
  tree_.AddDir("pub/empty");
  tree_.AddDir(".dotdir/inner");
  tree_.AddFile("deep/1/2/3/4/5/6/leaf.txt", "leaf");
  for (int i = 0; i < 2500; ++i)
    tree_.AddFile("many/f" + std::to_string(i), std::string(i % 7, 'm'));
  START_OR_SKIP(server, StartServer(GetParam(), tree_.path()));

  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_THAT(sink_.paths, IsEmpty());
  EXPECT_TRUE(site_.hasNewEntries.load());
  EXPECT_EQ(site_.resumePending.load(), 0);

  // Every directory entered and listed once, in walk order.
  if (server.hasCommandLog()) {
    const std::vector<std::string> commands = server.Commands();
    std::vector<std::string> order = WalkOrder(root());
    // vsftpd's log shows bytes outside printable ASCII as "?".
    if (server.kind() == CFtpServer::Kind::kVsftpd) {
      for (std::string& path : order) {
        for (char& c : path) {
          if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            c = '?';
        }
      }
    }
    EXPECT_EQ(Entered(commands), order);
    EXPECT_EQ(Listings(commands), order.size());
  }

  // A second crawl of the unchanged tree changes nothing and marks nothing.
  ClearMarks(root());
  site_.hasNewEntries = false;
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_FALSE(site_.hasNewEntries.load());
  EXPECT_THAT(sink_.paths, IsEmpty());
}

TEST_P(CrawlerServerTest, EveryByteInNamesIsCrawled) {
  // Each byte but NUL, "/", CR and LF inside a directory's name, at the
  // start and inside the names of the files in it, and inside a file's name
  // at the root. libcurl takes no byte below 0x20 in a URL; such
  // directories are entered all the same.
  for (int b = 1; b < 256; ++b) {
    if (b == '/' || b == '\r' || b == '\n') continue;
    const std::string byte(1, static_cast<char>(b));
    const std::string dir = "d" + byte + "x";
    tree_.AddFile(dir + "/f" + byte + "y", std::string(static_cast<std::size_t>(b % 7), 'c'));
    tree_.AddFile(dir + "/" + byte + "lead", "l");
    tree_.AddDir(dir + "/s" + byte + "/e" + byte);
    tree_.AddFile("g" + byte, "g");
  }
  START_OR_SKIP(server, StartServer(GetParam(), tree_.path()));
  Flat expected = FlattenDisk(tree_.path());
  CrawlCounts expectedCounts;
  if (GetParam() == ServerKind::kPureFtpd) {
    // pure-ftpd does not list names with bytes below 0x20 or 0x7F, and
    // refuses a path with "\" before "/": /d\x/s\/e\ is not entered.
    std::erase_if(expected, [](const auto& item) {
      return std::any_of(item.first.begin(), item.first.end(),
                         [](char c) { return (c > 0 && c < 0x20) || c == 0x7F; });
    });
    expectedCounts.dirsNotEntered = 1;
  }

  for (int crawl = 0; crawl < 2; ++crawl) {
    ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
    EXPECT_EQ(Differences(FlattenCatalog(root()), expected), "");
    EXPECT_EQ(site_.GetCrawlCounts(), expectedCounts);
  }
  EXPECT_THAT(sink_.paths, IsEmpty());
}

TEST_P(CrawlerServerTest, LinkLoopDoesNotTrapTheCrawl) {
  tree_.AddFile("a/f", "f");
  tree_.AddFile("b/g", "g");
  fs::create_directory_symlink("..", tree_ / "a/up");
  fs::create_directory_symlink(".", tree_ / "b/self");
  START_OR_SKIP(server, StartServer(GetParam(), tree_.path()));

  CrawlLimits limits;
  limits.maxDepth = 24;
  ASSERT_TRUE(Crawl(server, nullptr, limits)) << StatusText(site_.Status());
  // Whatever the server makes of the links, the crawl ends and stays within
  // the bound; the real entries are all there.
  EXPECT_LE(MaxDepth(root()), limits.maxDepth + 1);
  EXPECT_NE(FindFile(root(), "/a", "f"), nullptr);
  EXPECT_NE(FindFile(root(), "/b", "g"), nullptr);
  if (GetParam() == ServerKind::kPyMlsd) {
    // pyftpdlib's MLSD follows links and calls them directories, but its
    // `unique` facts give the loops away: a directory that is one of its
    // own ancestors is recorded and not entered.
    ASSERT_NE(Find(root(), "/b/self"), nullptr);
    EXPECT_THAT(Names(*Find(root(), "/b/self")), IsEmpty());
    const std::vector<std::string> entered = Entered(server.Commands());
    EXPECT_EQ(std::set<std::string>(entered.begin(), entered.end()),
              (std::set<std::string>{"/", "/a", "/b"}));
    EXPECT_EQ(entered.size(), 3u);
    ASSERT_NE(Find(root(), "/a/up"), nullptr);
    EXPECT_THAT(Names(*Find(root(), "/a/up")), IsEmpty());
  } else {
    // LIST, and pure-ftpd's MLSD, show links as links: files, never followed.
    EXPECT_NE(FindFile(root(), "/a", "up"), nullptr);
    EXPECT_EQ(Find(root(), "/a/up"), nullptr);
    EXPECT_EQ(MaxDepth(root()), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, CrawlerServerTest,
                         ::testing::Values(ServerKind::kPyMlsd, ServerKind::kPyList,
                                           ServerKind::kVsftpd, ServerKind::kPureFtpd),
                         KindName);

// --- Listing ahead on extra connections -------------------------------------

// The whole catalog in walk order, with what a crawl leaves on each entry:
// size, new mark, `seen`.
std::vector<std::string> Snapshot(const CFTPDir& dir) {
  std::vector<std::string> lines;
  for (const auto& file : dir.files) {
    lines.push_back(RecordingSink::Join(dir.GetPath(), file->name()) + " " +
                    std::to_string(file->size.load()) + " " +
                    std::to_string(file->readState.load()) + " " + std::to_string(file->seen));
  }
  for (const auto& sub : dir.subdirs) {
    lines.push_back(sub->GetPath() + "/ " + std::to_string(sub->readState.load()) + " " +
                    std::to_string(sub->seen));
    for (std::string& line : Snapshot(*sub)) lines.push_back(std::move(line));
  }
  return lines;
}

class CrawlAheadServerTest : public CrawlerTest,
                             public ::testing::WithParamInterface<ServerKind> {};

TEST_P(CrawlAheadServerTest, CatalogEqualsTheOneConnectionCrawl) {
  // A first crawl, then one of a changed tree (removals, additions, a
  // directory replaced by a file), each with one connection and with four.
  for (int d = 0; d < 12; ++d) {
    const std::string dir = "d" + std::to_string(d);
    tree_.AddFile(dir + "/f", std::string(static_cast<std::size_t>(d), 'f'));
    for (int s = 0; s < 4; ++s) tree_.AddFile(dir + "/s " + std::to_string(s) + "/g#", "g");
  }
  tree_.AddFile("c\x01x/inner/f", "control byte");
  for (int i = 0; i < 1500; ++i) tree_.AddFile("many/f" + std::to_string(i), "m");
  START_OR_SKIP(server, StartServer(GetParam(), tree_.path()));

  CFTPSite one;
  CFTPSite four;
  RecordingSink sinkOne;
  RecordingSink sinkFour;
  for (int round = 0; round < 2; ++round) {
    if (round == 1) {
      tree_.Remove("d3");
      tree_.Remove("d5/s 2");
      tree_.AddFile("d5/s 2", "now a file");
      tree_.AddFile("d7/s 1/new", "new");
      tree_.AddFile("d0/added/h", "h");
    }
    connections_ = 1;
    ASSERT_TRUE(CrawlSite(server, one, *one.rootDir, sinkOne)) << StatusText(one.Status());
    connections_ = 4;
    ASSERT_TRUE(CrawlSite(server, four, *four.rootDir, sinkFour)) << StatusText(four.Status());
    EXPECT_EQ(Snapshot(*four.rootDir), Snapshot(*one.rootDir)) << "round " << round;
    EXPECT_EQ(sinkFour.paths, sinkOne.paths);
    EXPECT_EQ(four.GetCrawlCounts(), one.GetCrawlCounts());
    EXPECT_EQ(Differences(FlattenCatalog(*four.rootDir), FlattenDisk(tree_.path())),
              IsPureFtpd(GetParam())
                  ? Differences(FlattenCatalog(*one.rootDir), FlattenDisk(tree_.path()))
                  : "");
  }
  EXPECT_FALSE(sinkFour.paths.empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, CrawlAheadServerTest,
                         ::testing::Values(ServerKind::kPyMlsd, ServerKind::kPyList,
                                           ServerKind::kVsftpd, ServerKind::kPureFtpd,
                                           ServerKind::kVsftpdExplicitTls,
                                           ServerKind::kVsftpdImplicitTls,
                                           ServerKind::kPureFtpdTls),
                         KindName);

class StartDirectoryTest : public CrawlerTest, public ::testing::WithParamInterface<ServerKind> {};

TEST_P(StartDirectoryTest, CatalogBeginsAtTheStartDirectory) {
  // The catalog holds the start directory's tree under "/", and the server
  // is asked for nothing outside it, by path or by CWD.
  MakeSmallTree();
  tree_.AddFile("pub/-x/c\x01d/f", "control byte");
  for (int i = 0; i < 20; ++i) tree_.AddFile("pub/many/d" + std::to_string(i) + "/f", "m");
  START_OR_SKIP(server, StartServer(GetParam(), tree_.path()));
  connections_ = 3;
  for (const char* startDir : {"/pub", "/pub/"}) {
    startDir_ = startDir;
    server.ClearCommands();
    ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
    EXPECT_EQ(Differences(FlattenCatalog(root()), FlattenDisk(tree_ / "pub")), "") << startDir;
    // libcurl goes back to the login directory ("CWD /") before the quoted
    // CWD into a name with a control byte; nothing is listed there.
    std::vector<std::string> commands = server.Commands();
    std::erase(commands, "CWD /");
    const std::vector<std::string> entered = Entered(commands);
    EXPECT_FALSE(entered.empty());
    for (const std::string& path : entered) {
      EXPECT_TRUE(path == "/pub" || path.starts_with("/pub/")) << path;
    }
  }

  // A start directory that is not there fails the login, naming it.
  FtpLogin login = server.Login();
  login.startDir = "/pub/a/y";
  CFtpSession session;
  const FtpResult opened = session.Open(login, kQuick);
  EXPECT_EQ(opened.outcome, FtpOutcome::kRefused);
  EXPECT_NE(opened.errorText.find("/pub/a/y"), std::string::npos) << opened.errorText;
}

INSTANTIATE_TEST_SUITE_P(Servers, StartDirectoryTest,
                         ::testing::Values(ServerKind::kPyMlsd, ServerKind::kVsftpd), KindName);

// Waits (on a helper thread) until `path` has been entered on any
// connection of `server`.
bool AwaitEntered(const CFtpServer& server, const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::vector<std::string> entered = Entered(server.Commands());
    if (std::find(entered.begin(), entered.end(), path) != entered.end()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

FtpFault HeldListing(const std::string& path) {
  return {FtpFault::Command::kList,
          path,
          FtpFault::Action::kSilence,
          "",
          FtpFault::kUntilReleased,
          0,
          1};
}

// Directories "/d0".."/d{count-1}" with one file each, in the order a crawl
// walks them (the server's listing order), from a first crawl on one
// connection.
class CrawlAheadTest : public CrawlerTest {
 protected:
  std::vector<std::string> CrawlFlatTree(int count) {
    for (int i = 0; i < count; ++i) tree_.AddFile("d" + std::to_string(i) + "/x", "x");
    auto started = CFtpServer::StartPyftpdlib(tree_.path());
    EXPECT_TRUE(started.server) << started.error;
    if (!started.server || !Crawl(*started.server)) return {};
    std::vector<std::string> order = WalkOrder(root());
    order.erase(order.begin());
    return order;
  }
  // A crawl whose held listings are released once `path` has been entered
  // on any connection.
  bool CrawlReleasingOnEntry(CFtpServer& server, const std::string& path) {
    std::thread releaser([&] {
      AwaitEntered(server, path);
      server.Release();
    });
    const bool crawled = Crawl(server);
    releaser.join();
    return crawled;
  }
};

TEST_F(CrawlAheadTest, ListingsFetchedAheadAreMergedByTheWalk) {
  // The walk is held in the first directory; meanwhile an extra connection
  // lists the second, whose listing the walk then takes.
  const std::vector<std::string> order = CrawlFlatTree(4);
  ASSERT_EQ(order.size(), 4u);
  PyFtpOptions options;
  options.faults.push_back(HeldListing(order[0]));
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  connections_ = 4;
  const bool crawled = CrawlReleasingOnEntry(server, order[1]);
  ASSERT_TRUE(crawled) << StatusText(site_.Status());
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_GE(takenAhead_, 1u);
  // Every directory listed once, on whichever connection.
  EXPECT_EQ(Listings(server.Commands()), order.size() + 1);
}

TEST_F(CrawlAheadTest, DroppedExtraConnectionLosesNothing) {
  // The second directory's listing breaks off on an extra connection while
  // the walk is held in the first; the walk lists it itself.
  const std::vector<std::string> order = CrawlFlatTree(4);
  ASSERT_EQ(order.size(), 4u);
  tree_.AddFile(order[1].substr(1) + "/new", "n");
  PyFtpOptions options;
  options.faults.push_back(HeldListing(order[0]));
  options.faults.push_back(
      {FtpFault::Command::kList, order[1], FtpFault::Action::kDrop, "", 0, 0, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  connections_ = 4;
  const bool crawled = CrawlReleasingOnEntry(server, order[1]);
  ASSERT_TRUE(crawled) << StatusText(site_.Status());
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_EQ(site_.GetCrawlCounts(), CrawlCounts{});
  EXPECT_EQ(site_.resumePending.load(), 0);
  EXPECT_THAT(sink_.paths, IsEmpty());
}

TEST_F(CrawlAheadTest, StopWhileWaitingForAListingAheadResumesThere) {
  const std::vector<std::string> order = CrawlFlatTree(5);
  ASSERT_EQ(order.size(), 5u);
  CFTPDir* const held = Find(root(), order[2]);
  ASSERT_NE(held, nullptr);
  tree_.Remove(order[2].substr(1) + "/x");
  // The held listing is released right after the stop; an entry in it lets
  // the walk see the stop before it sweeps, on whichever connection it came.
  tree_.AddFile(order[2].substr(1) + "/y", "y");
  tree_.AddFile(order[1].substr(1) + "/new", "n");

  PyFtpOptions options;
  options.faults.push_back(HeldListing(order[2]));
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  connections_ = 4;
  // The stop comes once the walk has asked for the held directory's listing
  // (waiting for it on an extra connection, or about to list it itself): a
  // stop seen earlier, between two directories, would be a stop at the root.
  std::thread stopper([&] {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      if (WalkAt() == order[2]) stop_ = true;
      std::this_thread::sleep_for(2ms);
    }
    server.Release();
  });
  const bool crawled = Crawl(server);
  stopper.join();
  ASSERT_TRUE(stop_.load()) << "the walk never reached the held directory";
  EXPECT_FALSE(crawled);
  EXPECT_EQ(StatusText(site_.Status()), kStatusStopped);
  EXPECT_EQ(site_.resumeDir, held);
  EXPECT_EQ(site_.resumePending.load(), 1);
  EXPECT_THAT(sink_.paths, IsEmpty());

  // The resumed crawl lists from the held directory on, each once.
  stop_ = false;
  server.ClearCommands();
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_THAT(sink_.paths, ElementsAre(order[2] + "/x"));
  std::multiset<std::string> listed;
  for (const std::string& command : server.Commands()) {
    if (command.starts_with("MLSD ")) listed.insert(command.substr(5));
  }
  EXPECT_EQ(listed, std::multiset<std::string>(order.begin() + 2, order.end()));
}

// --- One listing for a whole subtree ---------------------------------------

// content.ct and state.st as a save writes them.
std::string Written(const CFTPSite& site) {
  CTempTree data;
  if (!site.SaveCatalogAndState(data.path())) return "not saved";
  std::string bytes;
  for (const char* name : {"content.ct", "state.st"}) {
    std::ifstream in(site.DataDirectory(data.path()) / name, std::ios::binary);
    bytes.append(std::istreambuf_iterator<char>(in), {});
    bytes += "\n--\n";
  }
  return bytes;
}

// What a crawl leaves behind, for comparing two crawls of the same tree.
struct Outcome {
  bool crawled;
  std::vector<std::string> snapshot;
  std::vector<std::string> removed;
  CrawlCounts counts;
  std::string resumeDir;
  std::string written;
};

class RecursiveListingServerTest : public CrawlerTest,
                                   public ::testing::WithParamInterface<ServerKind> {
 protected:
  Outcome CrawlAs(CFtpServer& server, CFTPSite& site, RecordingSink& sink, int connections,
                  bool recursive) {
    connections_ = connections;
    recursive_ = recursive;
    stop_ = false;
    sink.paths.clear();
    Outcome outcome;
    outcome.crawled = CrawlSite(server, site, *site.rootDir, sink);
    outcome.snapshot = Snapshot(*site.rootDir);
    outcome.removed = sink.paths;
    outcome.counts = site.GetCrawlCounts();
    if (site.resumePending.load() != 0) outcome.resumeDir = site.resumeDir->GetPath();
    outcome.written = Written(site);
    return outcome;
  }
};

TEST_P(RecursiveListingServerTest, CatalogEqualsThePerDirectoryCrawl) {
  // Names a recursive listing could be misread by: ":" in and at the end of
  // names, names that read as headers, a "total" line or a whole entry line,
  // leading and trailing blanks, an arrow, bytes that are not UTF-8, dot
  // files, a link, an empty directory, a control byte, a size beyond 32 bits
  // and a date old enough to show its year.
  for (const char* file :
       {"a b/f:", "a b/sub:x/g", "x:/h", "total 5", "h:", " lead/in/ k", "dir:/y:", ".dot/.f",
        "total 3/t", "c\x01x/inner/f", "drwxr-xr-x 2 0 0 4096 Dec  7 17:12 fake", "s/a -> b",
        "s/trailing ", "s/100%#?", "\xD6\xD0\xCE\xC4/\xB5\xC4 x"})
    tree_.AddFile(file, file);
  tree_.AddSparseFile("s/5GiB", 5ULL << 30);
  fs::last_write_time(tree_ / "s/a -> b", fs::file_time_type::clock::now() - 24h * 800);
  // Directories the server's user may not read, or read but not enter.
  tree_.AddFile("perm/closed/x", "x");
  tree_.AddFile("perm/unsearchable/y", "y");
  fs::permissions(tree_ / "perm/closed", fs::perms(0700));
  fs::permissions(tree_ / "perm/unsearchable", fs::perms(0744));
  for (int d = 0; d < 20; ++d) {
    for (int f = 0; f < 3; ++f)
      tree_.AddFile("many/d" + std::to_string(d) + "/f" + std::to_string(f));
  }
  tree_.AddDir("e/empty");
  fs::create_directory_symlink("../a b", tree_ / "e/link");
  START_OR_SKIP(server, StartServer(GetParam(), tree_.path()));

  struct Variant {
    int connections;
    bool recursive;
    CFTPSite site;
    RecordingSink sink;
  };
  Variant variants[4] = {
      {1, false, {}, {}}, {1, true, {}, {}}, {4, false, {}, {}}, {4, true, {}, {}}};
  std::uint64_t commands[4] = {};
  // A first crawl, one of a changed tree, one stopped at the sweep of
  // /many/d12, and the resumption.
  for (int round = 0; round < 4; ++round) {
    if (round == 1) {
      tree_.Remove("x:");
      tree_.Remove("many/d3");
      tree_.AddFile("many/d3", "now a file");
      tree_.AddFile("a b/sub:x/new:", "n");
    }
    if (round == 2) tree_.Remove("many/d12/f1");
    Outcome expected;
    for (int v = 0; v < 4; ++v) {
      Variant& variant = variants[v];
      variant.sink.stop = round == 2 ? &stop_ : nullptr;
      variant.sink.stopAt = "/many/d12/f1";
      const Outcome outcome =
          CrawlAs(server, variant.site, variant.sink, variant.connections, variant.recursive);
      commands[v] = commandsSent_;
      if (v == 0) {
        expected = outcome;
        EXPECT_EQ(outcome.crawled, round != 2);
        continue;
      }
      SCOPED_TRACE(::testing::Message() << "round " << round << ", " << variant.connections
                                        << " connection(s), recursive " << variant.recursive);
      EXPECT_EQ(outcome.crawled, expected.crawled);
      EXPECT_EQ(outcome.snapshot, expected.snapshot);
      EXPECT_EQ(outcome.removed, expected.removed);
      EXPECT_EQ(outcome.counts, expected.counts);
      EXPECT_EQ(outcome.resumeDir, expected.resumeDir);
      EXPECT_TRUE(outcome.written == expected.written) << "content.ct or state.st differ";
    }
    // pure-ftpd lists recursively: far fewer commands than one listing per
    // directory. The others refuse or ignore the option.
    if (round == 0 && GetParam() == ServerKind::kPureFtpd) {
      EXPECT_LT(commands[1] * 4, commands[0]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, RecursiveListingServerTest,
                         ::testing::Values(ServerKind::kPyMlsd, ServerKind::kVsftpd,
                                           ServerKind::kPureFtpd),
                         KindName);

TEST_F(CrawlerTest, RecursiveListingCutShortByPureFtpdLosesNothing) {
  // Over 10,000 entries, deeper than its default recursion: pure-ftpd cuts
  // the recursive reply ("226 Output truncated to 10000 matches") and
  // leaves the deep sections out.
  for (int d = 0; d < 30; ++d) {
    for (int f = 0; f < 400; ++f) tree_.AddFile("d" + std::to_string(d) + "/f" + std::to_string(f));
  }
  tree_.AddFile("deep/1/2/3/4/5/6/7/8/leaf", "l");
  PureFtpdOptions options;
  options.defaultListingCut = true;
  START_OR_SKIP(server, CFtpServer::StartPureFtpd(tree_.path(), options));

  CFTPSite perDirectory;
  RecordingSink sink;
  ASSERT_TRUE(CrawlSite(server, perDirectory, *perDirectory.rootDir, sink));
  const std::uint64_t perDirectoryCommands = commandsSent_;
  recursive_ = true;
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(Snapshot(root()), Snapshot(*perDirectory.rootDir));
  EXPECT_TRUE(Written(site_) == Written(perDirectory));
  EXPECT_LT(commandsSent_, perDirectoryCommands);
  // A re-crawl finds everything again and sweeps nothing.
  ClearMarks(root());
  site_.hasNewEntries = false;
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_EQ(site_.GetCrawlCounts(), CrawlCounts{});
  EXPECT_THAT(sink_.paths, IsEmpty());
  EXPECT_FALSE(site_.hasNewEntries.load());
}

TEST_F(CrawlerTest, ServerLimitingConnectionsPerClientIsCrawledCompletely) {
  for (int d = 0; d < 20; ++d) tree_.AddFile("d" + std::to_string(d) + "/s/f", "f");
  for (const bool pure : {false, true}) {
    SCOPED_TRACE(pure ? "pure-ftpd -C 2" : "vsftpd max_per_ip=2");
    PureFtpdOptions options;
    options.maxPerIp = 2;
    auto started = pure ? CFtpServer::StartPureFtpd(tree_.path(), options)
                        : CFtpServer::StartVsftpd(tree_.path(), 2);
    if (started.unavailable) continue;
    ASSERT_TRUE(started.server) << started.error;
    CFTPSite site;
    RecordingSink sink;
    connections_ = 8;
    ASSERT_TRUE(CrawlSite(*started.server, site, *site.rootDir, sink)) << StatusText(site.Status());
    EXPECT_EQ(FlattenCatalog(*site.rootDir), FlattenDisk(tree_.path()));
    EXPECT_EQ(site.GetCrawlCounts(), CrawlCounts{});
  }
}

// --- Re-crawls: marks, removals, survivors --------------------------------

TEST_F(CrawlerTest, RecrawlMarksNewEntriesAndAnnouncesRemovals) {
  MakeSmallTree();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(server));
  ClearMarks(root());
  site_.hasNewEntries = false;
  CFTPDir* const pubA = Find(root(), "/pub/a");
  CFTPFile* const y = FindFile(root(), "/pub/a", "y");
  ASSERT_NE(y, nullptr);

  tree_.Remove("pub/b");
  tree_.Remove("zz/z");
  tree_.AddFile("pub/a/y", "now longer");
  tree_.AddFile("pub/a/0new", "n");  // sorts first, still goes to the tail
  tree_.AddFile("pub/c/d/e", "nested new");
  tree_.AddDir("zz/0new dir");
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());

  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_THAT(sink_.paths, UnorderedElementsAre("/pub/b/", "/zz/z"));
  EXPECT_TRUE(site_.hasNewEntries.load());
  // Survivors are the same objects with their marks; new entries are at
  // the tails of their lists and carry the mark, down to the last level.
  EXPECT_EQ(Find(root(), "/pub/a"), pubA);
  EXPECT_EQ(FindFile(root(), "/pub/a", "y"), y);
  EXPECT_EQ(y->size.load(), 10u);
  EXPECT_EQ(y->readState.load(), 0);
  EXPECT_THAT(Names(*pubA), ElementsAre("deep/", "y", "0new"));
  EXPECT_EQ(FindFile(root(), "/pub/a", "0new")->readState.load(), 1);
  EXPECT_THAT(Names(*Find(root(), "/pub")), ElementsAre("a/", "c/"));
  EXPECT_EQ(Find(root(), "/pub/c")->readState.load(), 1);
  EXPECT_EQ(Find(root(), "/pub/c/d")->readState.load(), 1);
  EXPECT_EQ(FindFile(root(), "/pub/c/d", "e")->readState.load(), 1);
  EXPECT_EQ(Find(root(), "/zz")->readState.load(), 0);
  EXPECT_EQ(Find(root(), "/zz/0new dir")->readState.load(), 1);
}

TEST_F(CrawlerTest, EmptiedDirectoryLosesEveryEntry) {
  MakeSmallTree();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(server));
  tree_.Remove("pub/b");
  tree_.AddDir("pub/b");
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_THAT(Names(*Find(root(), "/pub/b")), IsEmpty());
  EXPECT_THAT(sink_.paths, UnorderedElementsAre("/pub/b/g", "/pub/b/sub/"));
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
}

// --- Refusals -------------------------------------------------------------

TEST_F(CrawlerTest, RefusedListingEmptiesTheDirectory) {
  MakeSmallTree();
  START_OR_SKIP(plain, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(plain));
  ASSERT_THAT(Names(*Find(root(), "/pub/b")), ElementsAre("sub/", "g"));
  const std::vector<std::string> order = WalkOrder(root());

  PyFtpOptions options;
  options.faults.push_back(
      {FtpFault::Command::kList, "/pub/b", FtpFault::Action::kReply, "550 Listing refused."});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_THAT(Names(*Find(root(), "/pub/b")), IsEmpty());
  EXPECT_THAT(sink_.paths, UnorderedElementsAre("/pub/b/g", "/pub/b/sub/"));
  // The crawl went on past the refusal, and not into what was removed.
  EXPECT_EQ(Entered(server.Commands()), Without(order, "/pub/b/sub"));
}

struct IncompleteCase {
  const char* label;
  std::vector<FtpFault> faults;
  bool firstEntryMerged;  // the one line sent before the end
  bool descends;          // the directory was entered: its subdirectories are crawled
};

class CrawlerIncompleteTest : public CrawlerTest,
                              public ::testing::WithParamInterface<IncompleteCase> {};

TEST_P(CrawlerIncompleteTest, ListingThatDidNotEndCompleteKeepsTheStoredDirectory) {
  MakeSmallTree();
  START_OR_SKIP(plain, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(plain));
  ASSERT_THAT(Names(*Find(root(), "/pub/b")), ElementsAre("sub/", "g"));

  // Gone from the server, but only a complete listing may say so.
  tree_.Remove("pub/b/g");
  tree_.AddFile("pub/b/0new", "listed first");
  tree_.AddFile("pub/b/sub/new", "n");
  tree_.AddFile("zz/new", "n");
  PyFtpOptions options;
  options.faults = GetParam().faults;
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());

  EXPECT_THAT(sink_.paths, IsEmpty());
  EXPECT_NE(FindFile(root(), "/pub/b", "g"), nullptr);
  EXPECT_EQ(FindFile(root(), "/pub/b", "0new") != nullptr, GetParam().firstEntryMerged);
  EXPECT_EQ(FindFile(root(), "/pub/b/sub", "new") != nullptr, GetParam().descends);
  EXPECT_NE(FindFile(root(), "/zz", "new"), nullptr);
  CrawlCounts counts;
  counts.listingsIncomplete = 1;
  EXPECT_EQ(site_.GetCrawlCounts(), counts);

  // The next complete listing sweeps what is gone, and only that.
  ASSERT_TRUE(Crawl(plain)) << StatusText(site_.Status());
  EXPECT_THAT(sink_.paths, ElementsAre("/pub/b/g"));
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_FALSE(site_.GetCrawlCounts().any());
}

FtpFault ListingFault(FtpFault::Action action, const char* reply, int keep) {
  FtpFault fault;
  fault.path = "/pub/b";
  fault.action = action;
  fault.reply = reply;
  fault.keep = keep;
  return fault;
}

INSTANTIATE_TEST_SUITE_P(
    Endings, CrawlerIncompleteTest,
    ::testing::Values(
        IncompleteCase{"Truncated",
                       {ListingFault(FtpFault::Action::kEnd,
                                     "226-Options: -a\r\n226 Output truncated to 1 matches", 1)},
                       true,
                       true},
        IncompleteCase{
            "Aborted",
            {ListingFault(FtpFault::Action::kEnd, "426 Connection closed; transfer aborted.", 1)},
            true,
            true},
        IncompleteCase{"ListingRefusedForNow",
                       {ListingFault(FtpFault::Action::kReply, "450 Busy, try later.", 0)},
                       false,
                       true},
        IncompleteCase{
            "DirectoryRefusedForNow",
            {ListingFault(FtpFault::Action::kReply, "550 No.", 0),
             {FtpFault::Command::kCwd, "/pub/b", FtpFault::Action::kReply, "450 Busy, try later."}},
            false,
            false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CrawlerTest, PureFtpdListingCutAtTenThousandKeepsTheStoredDirectory) {
  for (int i = 0; i < 10050; ++i) tree_.AddFile("big/f" + std::to_string(i));
  tree_.AddFile("small/x");
  START_OR_SKIP(whole, CFtpServer::StartPureFtpd(tree_.path()));
  ASSERT_TRUE(Crawl(whole)) << StatusText(site_.Status());
  ASSERT_EQ(Find(root(), "/big")->files.size(), 10050u);

  // Its default cut: "226 Output truncated to 10000 matches".
  test::PureFtpdOptions options;
  options.defaultListingCut = true;
  START_OR_SKIP(cut, CFtpServer::StartPureFtpd(tree_.path(), options));
  tree_.AddFile("small/y");
  ASSERT_TRUE(Crawl(cut)) << StatusText(site_.Status());
  EXPECT_THAT(sink_.paths, IsEmpty());
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_EQ(site_.GetCrawlCounts().listingsIncomplete, 1u);
}

TEST_F(CrawlerTest, DirectoryThatCannotBeEnteredKeepsItsSubtree) {
  MakeSmallTree();
  START_OR_SKIP(plain, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(plain));
  const Flat before = FlattenCatalog(root());
  const std::vector<std::string> order = WalkOrder(root());
  CFTPDir* const deep = Find(root(), "/pub/a/deep");

  // What a listing would change is not looked at.
  tree_.Remove("pub/a/deep");
  tree_.AddFile("pub/a/new", "n");
  tree_.AddFile("zz/new", "n");
  PyFtpOptions options;
  for (const auto command : {FtpFault::Command::kCwd, FtpFault::Command::kList}) {
    options.faults.push_back(
        {command, "/pub/a", FtpFault::Action::kReply, "550 Permission denied."});
  }
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());

  EXPECT_EQ(Find(root(), "/pub/a/deep"), deep);
  EXPECT_EQ(FindFile(root(), "/pub/a", "new"), nullptr);
  EXPECT_NE(FindFile(root(), "/zz", "new"), nullptr);
  EXPECT_THAT(sink_.paths, IsEmpty());
  Flat after = FlattenCatalog(root());
  after.erase("/zz/new");
  EXPECT_EQ(after, before);
  const std::vector<std::string> commands = server.Commands();
  // /pub/a was asked for; nothing below it was.
  EXPECT_EQ(Entered(commands), Without(order, "/pub/a/deep"));
  // Its refused listing was the one sent for it.
  EXPECT_EQ(Listings(commands), order.size() - 1);
}

TEST_F(CrawlerTest, NotFetchedCountsStartAtZeroAndResumptionsAddToThem) {
  MakeSmallTree();
  PyFtpOptions options;
  for (const auto command : {FtpFault::Command::kCwd, FtpFault::Command::kList}) {
    options.faults.push_back(
        {command, "/pub/a", FtpFault::Action::kReply, "550 Permission denied."});
  }
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  const CrawlCounts oneRefused{.dirsNotEntered = 1};
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(site_.GetCrawlCounts(), oneRefused);
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(site_.GetCrawlCounts(), oneRefused);

  // A resumption at /pub lists /pub/a once more and adds it.
  site_.resumeDir = Find(root(), "/pub");
  site_.resumePending.store(1);
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(site_.GetCrawlCounts(), CrawlCounts{.dirsNotEntered = 2});
}

// Lines the parser could not take may have stood for any stored entry: the
// listing merges what it could read and removes nothing.
// A line the listing could not take stands for one entry: a stored entry
// that its name could be stays, every other one the listing did not name
// is gone, and the journal says so. Only a line whose name is not known at
// all keeps everything.
TEST_F(CrawlerTest, ListingWithUnreadableLinesKeepsOnlyWhatTheyCouldName) {
  struct Case {
    const char* what;
    bool mlsd;
    std::string lines;  // sent after the real listing of /pub
    std::size_t skipped;
    const char* added;  // a name the crawl takes from those lines, or ""
    bool oldStays;      // the deleted file "old" stays in the catalog
  };
  const std::string huge(70'000, 'h');
  const std::string tooLong(kMaxNameBytes + 1, 'l');
  const std::string longest(kMaxNameBytes, 'm');
  const std::string unixLine = "-rw-r--r-- 1 ftp ftp 5 Dec  7 08:55 ";
  const std::vector<Case> cases = {
      {"LIST line of 70,000 bytes", false, unixLine + huge + "\r\n", 1, "", true},
      {"MLSD line of 70,000 bytes", true, "type=file;size=5; " + huge + "\r\n", 1, "", true},
      {"name beyond the bound", true, "type=file;size=5; " + tooLong + "\r\n", 1, "", false},
      {"name with a slash", true, "type=file;size=5; ol/d\r\n", 1, "", false},
      {"name cut by a line feed", true, "type=file;size=5; half\ntail\r\n", 1, "", false},
      {"LIST name cut by a line feed", false, unixLine + "o\nld\r\n", 1, "o", false},
      {"longest name", false, unixLine + longest + "\r\n", 0, longest.c_str(), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CTempTree tree;
    tree.AddFile("pub/old", "o");
    tree.AddFile("pub/kept", "k");
    site_.rootDir = std::make_unique<CFTPDir>();
    site_.rootDir->site = &site_;
    PyFtpOptions options;
    options.mlsd = c.mlsd;
    START_OR_SKIP(plain, CFtpServer::StartPyftpdlib(tree.path(), options));
    ASSERT_TRUE(Crawl(plain));

    tree.Remove("pub/old");
    tree.AddFile("pub/new", "n");
    options.faults.push_back(
        {FtpFault::Command::kList, "/pub", FtpFault::Action::kAppend, c.lines});
    START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree.path(), options));
    site_.BeginChanges();
    ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
    site_.EndChanges(JournalRecord::Outcome::kSucceeded);
    EXPECT_EQ(site_.GetCrawlCounts(),
              CrawlCounts{.namesSkipped = static_cast<std::uint32_t>(c.skipped)});
    EXPECT_NE(FindFile(root(), "/pub", "new"), nullptr);
    EXPECT_NE(FindFile(root(), "/pub", "kept"), nullptr);
    EXPECT_EQ(FindFile(root(), "/pub", "half"), nullptr);
    EXPECT_EQ(FindFile(root(), "/pub", "old") != nullptr, c.oldStays);
    if (*c.added != '\0') {
      EXPECT_NE(FindFile(root(), "/pub", c.added), nullptr);
    }
    std::size_t files = 0;
    for (const auto& file : Find(root(), "/pub")->files) files += file->seen;
    EXPECT_EQ(files, 0u) << "seen marks left behind";
    ASSERT_FALSE(site_.journalPending.empty());
    JournalRecord record;
    ASSERT_TRUE(DecodeJournalRecord(site_.journalPending.back(), record));
    const bool removalJournalled =
        std::any_of(record.entries.begin(), record.entries.end(), [](const JournalEntry& entry) {
          return entry.kind == JournalEntry::Kind::kRemoved && entry.path == "/pub/old";
        });
    EXPECT_EQ(removalJournalled, !c.oldStays);
    site_.journalPending.clear();
  }
}

// A server that lists a name twice: one entry, the last line's size, and
// an update that changed nothing journals nothing.
TEST_F(CrawlerTest, NameListedTwiceIsOneEntryAndNoPhantomResize) {
  CTempTree tree;
  tree.AddFile("pub/twice", "12345");
  tree.AddFile("pub/other", "o");
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/pub", FtpFault::Action::kAppend,
                            "type=file;size=9; twice\r\ntype=file;size=5; twice\r\n"});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree.path(), options));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    site_.BeginChanges();
    ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
    site_.EndChanges(JournalRecord::Outcome::kSucceeded);
    const CFTPDir* pub = Find(root(), "/pub");
    ASSERT_NE(pub, nullptr);
    EXPECT_EQ(pub->files.size(), 2u);
    ASSERT_NE(FindFile(root(), "/pub", "twice"), nullptr);
    EXPECT_EQ(FindFile(root(), "/pub", "twice")->size.load(), 5u);
  }
  ASSERT_EQ(site_.journalPending.size(), 2u);
  JournalRecord second;
  ASSERT_TRUE(DecodeJournalRecord(site_.journalPending.back(), second));
  EXPECT_EQ(second.resized, 0u);
  EXPECT_TRUE(second.entries.empty());
}

// vsftpd answers the listing of a directory it cannot read with 226 and the
// directory's own line; a directory that really holds one subdirectory of
// its own name is listed the same way but can be entered.
TEST_F(CrawlerTest, UnreadableDirectoryListedByItsOwnLineIsNotEntered) {
  tree_.AddFile("perm/noaccess/secret", "s");
  tree_.AddFile("perm/open/x", "x");
  tree_.AddFile("same/same/f", "f");
  fs::permissions(tree_.path() / "perm/noaccess", fs::perms::none);
  START_OR_SKIP(server, CFtpServer::StartVsftpd(tree_.path()));
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  const Flat catalog = FlattenCatalog(root());
  EXPECT_TRUE(catalog.contains("/perm/noaccess/"));
  EXPECT_FALSE(catalog.contains("/perm/noaccess/noaccess/"));
  EXPECT_TRUE(catalog.contains("/perm/open/x"));
  EXPECT_TRUE(catalog.contains("/same/same/f"));
  EXPECT_EQ(site_.GetCrawlCounts(), CrawlCounts{.dirsNotEntered = 1});
  fs::permissions(tree_.path() / "perm/noaccess", fs::perms::owner_all);
}

// A directory that vsftpd may enter but not read is listed by its own line
// (by path), or as empty with "226 ... failed to open directory" (after a
// CWD, for names that LIST would glob): neither may become a child of that
// name nor sweep what was stored.
TEST_F(CrawlerTest, EnterableUnreadableDirectoryKeepsItsStoredSubtree) {
  for (const std::string name : {"locked", "lo*cked"}) {
    SCOPED_TRACE(name);
    CTempTree tree;
    tree.AddFile("perm/" + name + "/f", "f");
    tree.AddFile("perm/" + name + "/sub/g", "gg");
    tree.AddFile("perm/open/x", "x");
    START_OR_SKIP(server, CFtpServer::StartVsftpd(tree.path()));
    CFTPSite site;
    RecordingSink sink;
    ASSERT_TRUE(CrawlSite(server, site, *site.rootDir, sink, {}, kPatient));
    const Flat before = FlattenCatalog(*site.rootDir);
    ASSERT_TRUE(before.contains("/perm/" + name + "/sub/g"));

    // Enter and pass through, no reading: 0311.
    fs::permissions(tree.path() / "perm" / name,
                    fs::perms::owner_all | fs::perms::group_write | fs::perms::group_exec |
                        fs::perms::others_write | fs::perms::others_exec);
    const bool crawled = CrawlSite(server, site, *site.rootDir, sink, {}, kPatient);
    fs::permissions(tree.path() / "perm" / name, fs::perms::owner_all);
    ASSERT_TRUE(crawled) << StatusText(site.Status());
    EXPECT_EQ(FlattenCatalog(*site.rootDir), before);
    EXPECT_THAT(sink.paths, IsEmpty());
    EXPECT_EQ(site.GetCrawlCounts(), CrawlCounts{.listingsIncomplete = 1});
  }
}

// A resumed crawl lists nothing above its resume point, so the `unique`
// facts of the directories on the way down come from MLST: a link to the
// root beside the resume point is still not entered.
TEST_F(CrawlerTest, ResumedCrawlKnowsTheAncestorsOfTheResumePoint) {
  tree_.AddFile("a/sub/f", "f");
  tree_.AddFile("b/g", "g");
  fs::create_directory_symlink("..", tree_ / "a/up");
  fs::create_directory_symlink("../..", tree_ / "a/sub/root");
  PyFtpOptions options;
  options.faults.push_back(
      {FtpFault::Command::kList, "/a/sub", FtpFault::Action::kReply, "421 Closing.", 0, 0, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  EXPECT_FALSE(Crawl(server, nullptr, {}, kQuick));
  ASSERT_EQ(site_.resumeDir, Find(root(), "/a/sub")) << StatusText(site_.Status());

  server.ClearCommands();
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  const Flat catalog = FlattenCatalog(root());
  EXPECT_TRUE(catalog.contains("/a/sub/f"));
  EXPECT_TRUE(catalog.contains("/a/up/"));
  EXPECT_TRUE(catalog.contains("/a/sub/root/"));
  for (const auto& [path, node] : catalog) {
    EXPECT_FALSE(path.starts_with("/a/up/") && path != "/a/up/") << path;
    EXPECT_FALSE(path.starts_with("/a/sub/root/") && path != "/a/sub/root/") << path;
  }
  const std::vector<std::string> entered = Entered(server.Commands());
  // /a/sub and whatever came after it in the first attempt's order.
  EXPECT_THAT(entered, ::testing::Contains("/a/sub"));
  EXPECT_THAT(entered, ::testing::Each(::testing::AnyOf("/a/sub", "/b")));
}

// Names on disk with line breaks, listed by MLSD: each line of such a name
// is either a cut-short entry line or a fragment without facts.
TEST_F(CrawlerTest, MlsdNamesWithLineBreaksMakeUpNoEntries) {
  tree_.AddFile("pub/lf\ntail", "1234567");
  tree_.AddFile("pub/crlf\r\ntail", "12345678");
  tree_.AddFile("pub/cr\rtail", "123456");
  tree_.AddFile("pub/plain", "p");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  CFTPDir* pub = Find(root(), "/pub");
  ASSERT_NE(pub, nullptr);
  std::vector<std::string> names;
  for (const auto& file : pub->files) names.emplace_back(file->name());
  EXPECT_THAT(names, ElementsAre("plain"));
  EXPECT_EQ(site_.GetCrawlCounts(), CrawlCounts{.namesSkipped = 3});
}

// --- Transient failures and the resume point ------------------------------

struct BreakCase {
  const char* label;
  std::vector<FtpFault> faults;
};

class CrawlerBreakTest : public CrawlerTest, public ::testing::WithParamInterface<BreakCase> {};

TEST_P(CrawlerBreakTest, ResumedCrawlListsOnlyFromTheBrokenDirectoryOn) {
  MakeSmallTree();
  PyFtpOptions options;
  options.faults = GetParam().faults;
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));

  EXPECT_FALSE(Crawl(server, nullptr, {}, kQuick));
  const std::vector<std::string> firstCommands = server.Commands();
  CFTPDir* const pubA = Find(root(), "/pub/a");
  ASSERT_NE(pubA, nullptr);
  EXPECT_EQ(site_.resumeDir, pubA);
  EXPECT_EQ(site_.resumePending.load(), 1);
  EXPECT_EQ(site_.updateState.load(), kUpdateStopped);
  const std::string status = StatusText(site_.Status());
  EXPECT_TRUE(status.starts_with(kStatusBrokenOff)) << status;
  EXPECT_GT(status.size(), kStatusBrokenOff.size()) << "no error text";
  EXPECT_LE(status.size(), kStatusBrokenOff.size() + kMaxErrorTextBytes);
  EXPECT_THAT(sink_.paths, IsEmpty());

  server.ClearCommands();
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_EQ(site_.resumePending.load(), 0);
  EXPECT_EQ(FlattenCatalog(root()), FlattenDisk(tree_.path()));
  EXPECT_THAT(sink_.paths, IsEmpty());

  // The first attempt got as far as /pub/a. The second listed nothing
  // before /pub/a again (neither the root nor /pub), and everything from
  // /pub/a on exactly once.
  const std::vector<std::string> order = WalkOrder(root());
  EXPECT_EQ(Entered(firstCommands), Upto(order, "/pub/a"));
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(Entered(commands), From(order, "/pub/a"));
  EXPECT_EQ(Listings(commands), From(order, "/pub/a").size());
}

FtpFault Fault(FtpFault::Command command, FtpFault::Action action, int keep) {
  FtpFault fault;
  fault.command = command;
  fault.path = "/pub/a";
  fault.action = action;
  fault.seconds = FtpFault::kUntilReleased;
  fault.keep = keep;
  fault.times = 1;
  return fault;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CrawlerBreakTest,
    ::testing::Values(BreakCase{"ListingTimesOut",
                                {Fault(FtpFault::Command::kList, FtpFault::Action::kSilence, 0)}},
                      // The directory change that follows a refused listing.
                      BreakCase{"DirectoryChangeTimesOut",
                                {Fault(FtpFault::Command::kList, FtpFault::Action::kReply, 0),
                                 Fault(FtpFault::Command::kCwd, FtpFault::Action::kSilence, 0)}},
                      BreakCase{"ListingStalls",
                                {Fault(FtpFault::Command::kList, FtpFault::Action::kStall, 1)}},
                      BreakCase{"ConnectionDroppedInListing",
                                {Fault(FtpFault::Command::kList, FtpFault::Action::kDrop, 1)}},
                      BreakCase{"ConnectionResetInListing",
                                {Fault(FtpFault::Command::kList, FtpFault::Action::kReset, 1)}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CrawlerTest, TimeOutAtTheRootMakesTheRootTheResumePoint) {
  MakeSmallTree();
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/", FtpFault::Action::kSilence, "",
                            FtpFault::kUntilReleased, 0, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  EXPECT_FALSE(Crawl(server, nullptr, {}, kQuick));
  EXPECT_TRUE(StatusText(site_.Status()).starts_with(kStatusBrokenOff));
  EXPECT_EQ(site_.resumePending.load(), 1);
  EXPECT_EQ(site_.resumeDir, &root());
}

TEST_F(CrawlerTest, ResumePointRemovedBySweepIsForgotten) {
  MakeSmallTree();
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/pub/b", FtpFault::Action::kSilence, "",
                            FtpFault::kUntilReleased, 0, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));
  EXPECT_FALSE(Crawl(server, nullptr, {}, kQuick));
  ASSERT_EQ(site_.resumeDir, Find(root(), "/pub/b"));

  // A fresh update (the flag cleared by whoever queued it) that sweeps the
  // old resume point must not leave the record pointing at a dead entry.
  site_.resumePending = 0;
  tree_.Remove("pub/b");
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_THAT(sink_.paths, ElementsAre("/pub/b/"));
  EXPECT_EQ(site_.resumeDir, nullptr);
  EXPECT_EQ(site_.resumePending.load(), 0);
}

TEST_F(CrawlerTest, ResumePointOutsideTheCrawledSubtreeStartsAfresh) {
  MakeSmallTree();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(server));
  site_.resumeDir = Find(root(), "/zz");
  site_.resumePending = 1;
  server.ClearCommands();
  // A walk of /pub would never meet /zz and would list nothing at all.
  ASSERT_TRUE(Crawl(server, Find(root(), "/pub")));
  EXPECT_EQ(Entered(server.Commands()), WalkOrder(*Find(root(), "/pub")));
  EXPECT_EQ(site_.resumePending.load(), 0);

  // Started at the resume point itself, the crawl lists it at once.
  site_.resumeDir = Find(root(), "/pub/b");
  site_.resumePending = 1;
  server.ClearCommands();
  ASSERT_TRUE(Crawl(server, Find(root(), "/pub/b")));
  EXPECT_THAT(Entered(server.Commands()), ElementsAre("/pub/b", "/pub/b/sub"));
  EXPECT_EQ(site_.resumePending.load(), 0);
}

// --- Stop requests --------------------------------------------------------

TEST_F(CrawlerTest, StopBetweenTwoEntriesLeavesTheDirectoryUnswept) {
  for (int i = 0; i < 20; ++i) tree_.AddFile("d/f" + std::to_string(100 + i), "x");
  tree_.AddFile("e/x", "x");
  START_OR_SKIP(plain, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(plain));
  CFTPDir* const d = Find(root(), "/d");

  // Gone from the server, but the sweep that would remove them never runs.
  for (int i = 15; i < 20; ++i) tree_.Remove("d/f" + std::to_string(100 + i));
  tree_.AddFile("d/g", "new, listed after the stop");
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/d", FtpFault::Action::kStall, "",
                            FtpFault::kUntilReleased, 5, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));

  // The listing pauses after five lines; the stop comes in the pause, and
  // then the rest of the listing. The fifth entry is held back until a next
  // line shows that it was whole.
  std::thread stopper([&] {
    if (AwaitSeen(*d, 4)) stop_ = true;
    server.Release();
  });
  const bool crawled = Crawl(server);
  stopper.join();
  ASSERT_TRUE(stop_.load()) << "the first entries never arrived";

  EXPECT_FALSE(crawled);
  EXPECT_EQ(StatusText(site_.Status()), kStatusStopped);
  EXPECT_EQ(site_.updateState.load(), kUpdateStopped);
  EXPECT_EQ(site_.resumeDir, d);
  EXPECT_EQ(site_.resumePending.load(), 1);
  EXPECT_THAT(sink_.paths, IsEmpty());
  EXPECT_EQ(d->files.size(), 20u);
  EXPECT_EQ(SeenFiles(*d), 4u);
  EXPECT_EQ(FindFile(root(), "/d", "g"), nullptr);
  EXPECT_EQ(Entered(server.Commands()), Upto(WalkOrder(root()), "/d"));

  // The resumed crawl lists /d again; what the stopped listing had already
  // found survives this one sweep even though the server has dropped it.
  std::string found;
  for (const auto& file : d->files) {
    if (file->seen == 1 && file->name() < "f115") found = file->name();
  }
  ASSERT_FALSE(found.empty());
  stop_ = false;
  tree_.Remove("d/" + found);
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  EXPECT_NE(FindFile(root(), "/d", found), nullptr);
  EXPECT_NE(FindFile(root(), "/d", "g"), nullptr);
  EXPECT_THAT(sink_.paths,
              UnorderedElementsAre("/d/f115", "/d/f116", "/d/f117", "/d/f118", "/d/f119"));
  EXPECT_EQ(SeenFiles(*d), 0u);
}

TEST_F(CrawlerTest, ClosedSessionDuringListingIsAStopNotARefusal) {
  MakeSmallTree();
  tree_.AddFile("pub/b/more", "m");
  START_OR_SKIP(plain, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(plain));
  tree_.Remove("pub/b/sub");
  PyFtpOptions options;
  options.faults.push_back({FtpFault::Command::kList, "/pub/b", FtpFault::Action::kStall, "",
                            FtpFault::kUntilReleased, 2, 1});
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path(), options));

  // Program exit: the session is closed from another thread while the
  // worker waits for the rest of a listing (of its two lines, the second is
  // held back until a next line shows it whole).
  CFtpSession session;
  ASSERT_TRUE(
      session.Open(server.Login(), kPatient)
          .ok());
  CFTPDir* const b = Find(root(), "/pub/b");
  std::thread closer([&] {
    if (AwaitSeen(*b, 1)) session.Close();
  });
  const bool crawled = CrawlDirectory(session, site_, root(), stop_, sink_);
  closer.join();
  EXPECT_FALSE(crawled);
  EXPECT_EQ(StatusText(site_.Status()), kStatusStopped);
  EXPECT_EQ(site_.resumeDir, b);
  EXPECT_THAT(sink_.paths, IsEmpty());
  EXPECT_NE(Find(root(), "/pub/b/sub"), nullptr);
}

TEST_F(CrawlerTest, StopBeforeAnythingIsListedSendsNothing) {
  MakeSmallTree();
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(server));
  server.ClearCommands();
  stop_ = true;

  // At the root: the root is where the next attempt goes on.
  EXPECT_FALSE(Crawl(server));
  EXPECT_EQ(StatusText(site_.Status()), kStatusStopped);
  EXPECT_EQ(site_.resumePending.load(), 1);
  EXPECT_EQ(site_.resumeDir, &root());

  // During a resume walk the resume point moves up to the directory being
  // walked, which the next attempt lists again in full.
  CFTPDir* const pub = Find(root(), "/pub");
  site_.resumeDir = Find(root(), "/pub/b/sub");
  site_.resumePending = 1;
  EXPECT_FALSE(Crawl(server, pub));
  EXPECT_EQ(site_.resumeDir, pub);
  EXPECT_EQ(site_.resumePending.load(), 1);
  EXPECT_EQ(Listings(server.Commands()), 0u);
  EXPECT_EQ(Entered(server.Commands()).size(), 0u);
}

// --- Hostile trees --------------------------------------------------------

TEST_F(CrawlerTest, DescentStopsAtTheDepthBound) {
  std::string chain;
  for (int i = 0; i < 520; ++i) chain += "d/";
  tree_.AddFile(chain + "bottom", "b");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  ASSERT_TRUE(Crawl(server)) << StatusText(site_.Status());
  // Directories down to depth 512 are listed; the one at 513 is recorded by
  // that listing but not entered.
  EXPECT_EQ(MaxDepth(root()), 513u);
  EXPECT_EQ(site_.GetCrawlCounts(), CrawlCounts{.dirsNotEntered = 1});
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(Entered(commands).size(), 513u);
  EXPECT_EQ(Listings(commands), 513u);
}

TEST_F(CrawlerTest, DescentStopsAtThePathBound) {
  const std::string name(99, 'n');  // 100 bytes of path per level
  std::string chain;
  for (int i = 0; i < 15; ++i) chain += name + "/";
  tree_.AddFile(chain + "bottom", "b");
  START_OR_SKIP(server, CFtpServer::StartPyftpdlib(tree_.path()));
  CrawlLimits limits;
  limits.maxPathBytes = 1000;
  ASSERT_TRUE(Crawl(server, nullptr, limits)) << StatusText(site_.Status());
  EXPECT_EQ(MaxDepth(root()), 11u);
  EXPECT_EQ(Entered(server.Commands()).size(), 11u);
  EXPECT_EQ(Entered(server.Commands()).back().size(), 1000u);
}

TEST_F(CrawlerTest, NamesThatCouldSmuggleCommandsNeverReachTheCatalog) {
  tree_.AddFile("ok/inside", "fine");
  tree_.AddFile("evil\r\nDELE ok/inside", "x");
  tree_.AddFile("dir\nMKD pwned/inside", "x");
  tree_.AddFile("tab\there", "x");
  tree_.AddFile("back\\slash", "x");
  for (ServerKind kind : {ServerKind::kPyMlsd, ServerKind::kPyList, ServerKind::kVsftpd}) {
    SCOPED_TRACE(static_cast<int>(kind));
    site_.rootDir = std::make_unique<CFTPDir>();
    site_.rootDir->site = &site_;
    auto started = StartServer(kind, tree_.path());
    if (started.unavailable) continue;
    ASSERT_TRUE(started.server) << started.error;
    ASSERT_TRUE(Crawl(*started.server)) << StatusText(site_.Status());

    const Flat catalog = FlattenCatalog(root());
    EXPECT_TRUE(catalog.contains("/ok/inside"));
    EXPECT_TRUE(catalog.contains("/back\\slash"));
    for (const auto& [path, node] : catalog) {
      EXPECT_EQ(path.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << path;
    }
    for (const std::string& command : started.server->Commands()) {
      const std::string verb = command.substr(0, command.find(' '));
      EXPECT_THAT((std::set<std::string>{"USER", "PASS", "FEAT", "PWD", "TYPE", "CWD", "EPSV",
                                         "PASV", "LIST", "MLSD", "MLST", "OPTS", "QUIT", "STAT"}),
                  ::testing::Contains(verb))
          << command;
    }
  }
}

}  // namespace
}  // namespace orvane
