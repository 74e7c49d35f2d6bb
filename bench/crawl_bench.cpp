// A whole site crawled from a real FTP server: 2,000 directories and 40,020
// files (2,001 directories with the root, 20 files in each).
//
// Counters per crawl:
//   dirs/s           directories listed per second of wall time
//   cmds/dir         FTP commands per directory after login, counted at the
//                    server's command log (client's own count when there is
//                    no log)
//   rtts/dir         round trips per directory: every command waits for its
//                    reply, and every listing also opens a data connection
//   cpu_us/entry     client CPU time (user + system, whole process) per
//                    catalog entry
//   cpu%             client CPU time over wall time
//
// The crawls and rclone run with 1 and 8 connections (the argument): with
// more than one, the extra connections list directories ahead of the walk
// (update/listing_prefetch.h), and rclone gets as many checkers.
//
// BM_CrawlRecursive crawls a new site with the recursive listing
// (CrawlDirectory's `recursive`): on a server that answers "LIST -R" the
// whole tree comes in one reply. BM_CurlListR fetches that one reply with
// curl ("LIST -aR", as the crawl asks for it), the least any client could
// spend; the summary gives the ratio of the two.
//
// BM_ListingTimes lists every directory of the tree on one session and
// times each listing: a listing that waits for a time-out instead of the
// network shows as `slowest_ms` and `over_100ms` (on loopback every listing
// takes a few milliseconds). BM_Rclone lists the same tree
// with `rclone lsjson -R --checkers 1` (skipped when rclone is not
// installed); the summary at the end compares the new-site crawl with it.
//
// The server comes from the environment, so that bench/crawl_compare.sh can
// run it elsewhere (a network namespace with a real round-trip time):
//   ORVANE_CRAWL_HOST, ORVANE_CRAWL_PORT   where to connect (anonymous)
//   ORVANE_CRAWL_LOG                        the server's command log
//   ORVANE_CRAWL_LOG_KIND                   "pyftpdlib" or "vsftpd"
//   ORVANE_CRAWL_USER, ORVANE_CRAWL_PASS    a login other than anonymous
//   ORVANE_CRAWL_PROTOCOL=ftpes|ftps        FTP over TLS (rclone likewise,
//                                           without TLS 1.3, which Debian's
//                                           1.60 cannot do with vsftpd)
//   ORVANE_CRAWL_PIN=SHA256:...             the server certificate's key
// Without ORVANE_CRAWL_PORT the benchmark makes the tree in a temporary
// directory and serves it itself, with the server ORVANE_CRAWL_SERVER
// names: "pyftpdlib" (tests/fixtures/ftp_server.py, the default), "vsftpd"
// or "pure-ftpd".
//
//   ORVANE_CRAWL_TREE=TOPxSUB               another tree shape (default 20x99)
//   ORVANE_CRAWL_AWKWARD=N                  N subdirectories with awkward names
//   ORVANE_CRAWL_CONNECTIONS=1,4,8,16       connection counts (default 1,8)
//   ORVANE_CRAWL_TRACE=FILE                 the crawls' timelines (crawl_trace.h)
// bench/crawl_rtt.sh runs it behind a real round trip, interleaved with
// rclone and curl.
//
//   crawl_bench --make-tree=DIR   only makes the tree and exits
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "catalog/site_protocol.h"
#include "tests/support/ftp_server.h"
#include "update/crawler.h"
#include "update/ftp_session.h"
#include "update/listing_prefetch.h"
#include "update/status_text.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// ORVANE_CRAWL_TREE=TOPxSUB makes a smaller (or larger) tree of the same
// shape, for trying things out before the full run.
struct TreeShape {
  int top = 20;
  int sub = 99;
};
const TreeShape& Shape() {
  static const TreeShape shape = [] {
    TreeShape s;
    if (const char* value = std::getenv("ORVANE_CRAWL_TREE"); value != nullptr) {
      std::sscanf(value, "%dx%d", &s.top, &s.sub);
    }
    return s;
  }();
  return shape;
}
constexpr int kFilesPerDir = 20;
int Directories() { return Shape().top + Shape().top * Shape().sub; }  // 2,000
int Files() { return (Directories() + 1) * kFilesPerDir; }             // 40,020

void AddFiles(const fs::path& dir, int seed) {
  static constexpr const char* kKinds[] = {".tar.gz", ".iso", ".txt", ".zip", ".rpm", ""};
  for (int i = 0; i < kFilesPerDir; ++i) {
    const int n = seed * kFilesPerDir + i;
    const std::string name = "file-" + std::to_string(n) + "-release" + kKinds[n % 6];
    // Sparse files with sizes from bytes to gigabytes; nothing is written.
    const std::uint64_t size = (static_cast<std::uint64_t>(n) * 2654435761u) % (3ull << 30);
    const int fd = ::open((dir / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      std::fprintf(stderr, "cannot make %s\n", (dir / name).c_str());
      std::exit(1);
    }
    ::close(fd);
  }
}

// ORVANE_CRAWL_AWKWARD=N gives N of the subdirectories, spread over the
// tree, names that a recursive listing cannot stand for: "*", a backslash,
// a TAB, and GBK characters whose second byte is a backslash (the crawl
// lists each of these on its own).
int AwkwardNames() {
  static const int awkward = [] {
    const char* value = std::getenv("ORVANE_CRAWL_AWKWARD");
    return value != nullptr ? std::max(0, std::atoi(value)) : 0;
  }();
  return awkward;
}

std::string SubdirName(int k) {
  const int awkward = AwkwardNames();
  const int subdirs = Shape().top * Shape().sub;
  const int stride = awkward > 0 ? std::max(1, subdirs / awkward) : 0;
  if (stride > 0 && k % stride == 0 && k / stride < awkward) {
    static constexpr const char* kOdd[] = {"odd*", "back\\slash ", "tab\t", "\xB1\x5C\xB2\x5C "};
    return kOdd[(k / stride) % 4] + std::to_string(k);
  }
  return "version " + std::to_string(k % Shape().sub);
}

void MakeTree(const fs::path& root) {
  fs::create_directories(root);
  fs::permissions(root, fs::perms(0755));
  int seed = 0;
  AddFiles(root, seed++);
  for (int t = 0; t < Shape().top; ++t) {
    const fs::path top = root / ("project-" + std::to_string(t));
    fs::create_directory(top);
    AddFiles(top, seed++);
    for (int s = 0; s < Shape().sub; ++s) {
      const fs::path sub = top / SubdirName(t * Shape().sub + s);
      fs::create_directory(sub);
      AddFiles(sub, seed++);
    }
  }
}

std::string Env(const char* name, const char* fallback = "") {
  const char* value = std::getenv(name);
  return value ? value : fallback;
}

// The server the crawls talk to: given by the environment, or a pyftpdlib
// started here on a tree made here.
class Target {
 public:
  Target() {
    host_ = Env("ORVANE_CRAWL_HOST", "127.0.0.1");
    const std::string port = Env("ORVANE_CRAWL_PORT");
    log_ = Env("ORVANE_CRAWL_LOG");
    vsftpdLog_ = Env("ORVANE_CRAWL_LOG_KIND") == "vsftpd";
    if (const std::string user = Env("ORVANE_CRAWL_USER"); !user.empty()) {
      user_ = user;
      password_ = Env("ORVANE_CRAWL_PASS");
    }
    if (port.empty()) {
      StartOwnServer();
    } else {
      port_ = static_cast<std::uint16_t>(std::stoi(port));
    }
  }
  ~Target() {
    server_.reset();
    if (!work_.empty()) fs::remove_all(work_);
  }

  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  FtpLogin Login() const {
    FtpLogin login;
    login.host = host_;
    login.port = port_;
    login.user = user_;
    login.password = password_;
    login.protocol =
        ParseProtocol(Env("ORVANE_CRAWL_PROTOCOL", "ftp")).value_or(SiteProtocol::kFtp);
    login.pinnedKey = Env("ORVANE_CRAWL_PIN");
    return login;
  }
  const std::string& serverName() const { return serverName_; }
  bool ok() const { return port_ != 0; }

  // Commands the server has logged so far (all connections).
  std::vector<std::string> Commands() const {
    if (server_) return server_->Commands();
    std::vector<std::string> commands;
    if (log_.empty()) return commands;
    std::ifstream in(log_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (vsftpdLog_) {
        // ... FTP command: Client "127.0.0.1", "CWD /a"
        const std::size_t at = line.find("FTP command: ");
        const std::size_t open = line.find("\", \"", at == std::string::npos ? 0 : at);
        if (at == std::string::npos || open == std::string::npos) continue;
        line = line.substr(open + 4);
        if (!line.empty() && line.back() == '"') line.pop_back();
      }
      commands.push_back(line);
    }
    return commands;
  }
  bool hasLog() const { return server_ ? server_->hasCommandLog() : !log_.empty(); }

 private:
  void StartOwnServer() {
    work_ = fs::temp_directory_path() / ("orvane-crawl-bench-" + std::to_string(::getpid()));
    fs::create_directories(work_);
    MakeTree(work_ / "tree");
    serverName_ = Env("ORVANE_CRAWL_SERVER", "pyftpdlib");
    test::CFtpServer::Started started;
    if (serverName_ == "vsftpd") {
      started = test::CFtpServer::StartVsftpd(work_ / "tree");
    } else if (serverName_ == "pure-ftpd") {
      started = test::CFtpServer::StartPureFtpd(work_ / "tree");
    } else {
      test::PyFtpOptions options;
      options.host = host_;
      started = test::CFtpServer::StartPyftpdlib(work_ / "tree", options);
    }
    if (!started.server) {
      std::fprintf(stderr, "crawl_bench: %s\n", started.error.c_str());
      return;
    }
    server_ = std::move(started.server);
    host_ = server_->host();
    port_ = server_->port();
    user_ = server_->user();
    password_ = server_->password();
  }

  std::string host_;
  std::uint16_t port_ = 0;
  std::string user_ = "anonymous";
  std::string password_{kAnonymousPassword};
  std::string serverName_ = "given";
  std::string log_;
  bool vsftpdLog_ = false;
  fs::path work_;
  std::unique_ptr<test::CFtpServer> server_;  // when no server was given
};

Target& TheTarget() {
  static Target target;
  return target;
}

// Keeps nothing: the bench has no views that would hold removed entries.
class DiscardSink final : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile>) override { ++removed; }
  void DirRemoved(std::unique_ptr<CFTPDir>) override { ++removed; }
  std::size_t removed = 0;
};

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::size_t CountDirs(const CFTPDir& dir) {
  std::size_t count = 1;
  for (const auto& sub : dir.subdirs) count += CountDirs(*sub);
  return count;
}

// Commands after the login (everything but USER and PASS: servers that
// take anonymous logins without a password never see PASS), and the
// listings among them, from the server's log lines [from, end).
struct Tally {
  std::size_t afterLogin = 0;
  std::size_t listings = 0;
};
Tally CountCommands(const std::vector<std::string>& commands, std::size_t from) {
  Tally tally;
  for (std::size_t i = from; i < commands.size(); ++i) {
    const std::string& c = commands[i];
    if (c.starts_with("USER") || c.starts_with("PASS")) continue;
    ++tally.afterLogin;
    if (c.starts_with("LIST") || c.starts_with("MLSD") || c.starts_with("NLST")) ++tally.listings;
  }
  return tally;
}

// What the summary compares, from the benchmarks of this run.
struct RunFigures {
  // By connections (checkers for rclone).
  std::map<int, double> crawlSeconds;      // BM_CrawlNewSite, per crawl
  std::map<int, double> rcloneSeconds;     // BM_Rclone, per listing of the tree
  std::map<int, double> recursiveSeconds;  // BM_CrawlRecursive, per crawl
  double curlSeconds = 0;                  // BM_CurlListR, per reply
  double slowestMs = 0;                    // BM_ListingTimes
  std::size_t over100ms = 0;
  std::size_t listings = 0;
};
RunFigures& Figures() {
  static RunFigures figures;
  return figures;
}

// One site update: connect, crawl from the root, disconnect. `recrawl`
// keeps the catalog between crawls, as a routine update finds it.
void Crawl(benchmark::State& state, bool recrawl, bool recursive = false) {
  Target& target = TheTarget();
  if (!target.ok()) {
    state.SkipWithError("no FTP server (set ORVANE_CRAWL_PORT or install python3-pyftpdlib)");
    return;
  }
  const FtpLogin login = target.Login();
  const int connections = static_cast<int>(state.range(0));
  std::atomic<bool> stop{false};
  DiscardSink sink;
  auto site = std::make_unique<CFTPSite>();
  const auto makeAhead = [&] {
    std::unique_ptr<CListingPrefetcher> ahead;
    if (connections > 1) {
      ahead = std::make_unique<CListingPrefetcher>(
          login, FtpTimeouts{}, connections - 1, stop, [](CListingSession&) { return true; },
          [](CListingSession&) {});
    }
    return ahead;
  };
  if (recrawl) {
    // With as many connections as the crawls measured: a first update.
    CFtpSession session;
    std::unique_ptr<CListingPrefetcher> ahead = makeAhead();
    if (!session.Open(login).ok() ||
        !CrawlDirectory(session, *site, *site->rootDir, stop, sink, {}, ahead.get())) {
      state.SkipWithError("priming crawl failed");
      return;
    }
  }

  double wall = 0, cpu = 0;
  std::size_t dirs = 0, entries = 0, commands = 0, listings = 0, clientCommands = 0;
  for (auto _ : state) {
    if (!recrawl) {
      state.PauseTiming();
      site = std::make_unique<CFTPSite>();
      state.ResumeTiming();
    }
    const std::size_t logged = target.Commands().size();
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    CFtpSession session;
    const FtpResult opened = session.Open(login);
    if (!opened.ok()) {
      state.SkipWithError(("login failed: " + opened.errorText).c_str());
      return;
    }
    std::unique_ptr<CListingPrefetcher> ahead = makeAhead();
    if (!CrawlDirectory(session, *site, *site->rootDir, stop, sink, {}, ahead.get(), recursive)) {
      state.SkipWithError(("crawl broke off: " + StatusText(site->Status())).c_str());
      return;
    }
    ahead.reset();
    session.Close();
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += CpuSeconds() - cpu0;
    clientCommands += session.commandsSent();

    state.PauseTiming();
    dirs += CountDirs(*site->rootDir);
    entries += site->rootDir->CountEntries();
    const Tally tally = CountCommands(target.Commands(), logged);
    commands += tally.afterLogin;
    listings += tally.listings;
    state.ResumeTiming();
  }
  if (dirs == 0) return;
  const double d = static_cast<double>(dirs);
  const double n = static_cast<double>(state.iterations());
  if (target.hasLog()) {
    state.counters["cmds/dir"] = static_cast<double>(commands) / d;
    state.counters["rtts/dir"] = static_cast<double>(commands + listings) / d;
  } else {
    // The client's own count includes USER and PASS.
    state.counters["cmds/dir"] = static_cast<double>(clientCommands - 2 * state.iterations()) / d;
  }
  state.counters["dirs"] = d / n;
  state.counters["entries"] = static_cast<double>(entries) / n;
  state.counters["dirs/s"] = d / wall;
  state.counters["ms/dir"] = wall * 1e3 / d;
  state.counters["cpu_us/entry"] = cpu * 1e6 / static_cast<double>(entries);
  state.counters["cpu%"] = cpu * 100 / wall;
  // Servers do not all list every awkward name (pure-ftpd reads "*" in a
  // LIST argument as a pattern, for one); the counters show what came.
  if (!AwkwardNames() &&
      (dirs / state.iterations() != static_cast<std::size_t>(Directories() + 1) ||
       entries / state.iterations() != static_cast<std::size_t>(Directories() + Files()))) {
    state.SkipWithError("the catalog does not hold the generated tree");
  }
  if (recursive) {
    Figures().recursiveSeconds[connections] = wall / n;
  } else if (!recrawl) {
    Figures().crawlSeconds[connections] = wall / n;
  }
}

void BM_CrawlNewSite(benchmark::State& state) { Crawl(state, false); }
void BM_RecrawlUnchangedSite(benchmark::State& state) { Crawl(state, true); }
void BM_CrawlRecursive(benchmark::State& state) { Crawl(state, false, true); }

// Every directory of the tree listed on one session, depth-first, each
// listing timed on its own.
void BM_ListingTimes(benchmark::State& state) {
  Target& target = TheTarget();
  if (!target.ok()) {
    state.SkipWithError("no FTP server");
    return;
  }
  const FtpLogin login = target.Login();
  using Clock = std::chrono::steady_clock;
  double slowest = 0;
  std::size_t slow = 0, listings = 0;
  for (auto _ : state) {
    CFtpSession session;
    if (!session.Open(login).ok()) {
      state.SkipWithError("login failed");
      return;
    }
    std::vector<std::string> pending{"/"};
    while (!pending.empty()) {
      const std::string path = std::move(pending.back());
      pending.pop_back();
      std::vector<std::string> subdirs;
      const auto t0 = Clock::now();
      const FtpResult result =
          session.ListDirectory(path, [&](std::span<const ListingEntry> entries) {
            for (const ListingEntry& entry : entries) {
              if (entry.isDirectory) subdirs.push_back(entry.name);
            }
            return true;
          });
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      if (!result.ok()) {
        state.SkipWithError(("listing failed: " + result.errorText).c_str());
        return;
      }
      ++listings;
      slowest = std::max(slowest, ms);
      if (ms > 100) ++slow;
      for (const std::string& name : subdirs) {
        pending.push_back((path == "/" ? path : path + "/") + name);
      }
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["listings"] = static_cast<double>(listings) / n;
  state.counters["slowest_ms"] = slowest;
  state.counters["over_100ms"] = static_cast<double>(slow) / n;
  Figures().slowestMs = slowest;
  Figures().over100ms = slow / state.iterations();
  Figures().listings = listings / state.iterations();
}

// Runs `argv` with standard output into `out`; the exit status, or -1.
int RunTool(const std::vector<std::string>& argv, const fs::path& out) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || null < 0) ::_exit(127);
    ::dup2(fd, 1);
    ::dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool HasRclone() {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    if (::access((std::string(dir) + "rclone").c_str(), X_OK) == 0) return true;
  }
  return false;
}

// The same tree listed by rclone with as many checkers as the argument:
// the figure a crawl of ours with as many connections should not lose to.
// Without --no-modtime rclone asks MDTM of every file whose listed time
// shows no year (any file younger than six months), which a catalog of
// names and sizes never needs.
void BM_Rclone(benchmark::State& state) {
  Target& target = TheTarget();
  if (!target.ok()) {
    state.SkipWithError("no FTP server");
    return;
  }
  if (!HasRclone()) {
    state.SkipWithError("rclone is not installed (Debian package rclone)");
    return;
  }
  const fs::path out = fs::temp_directory_path() /
                       ("orvane-crawl-bench-rclone-" + std::to_string(::getpid()) + ".txt");
  if (RunTool({"rclone", "obscure", target.password()}, out) != 0) {
    state.SkipWithError("rclone obscure failed");
    return;
  }
  std::string obscured;
  std::getline(std::ifstream(out), obscured);
  const std::string protocol = Env("ORVANE_CRAWL_PROTOCOL", "ftp");
  const std::string tls = protocol == "ftpes"  ? ",explicit_tls=true"
                          : protocol == "ftps" ? ",tls=true"
                                               : "";
  const std::string remote =
      ":ftp,host=" + target.host() + ",port=" + std::to_string(target.port()) +
      ",user=" + target.user() + ",pass=" + obscured +
      (tls.empty() ? "" : tls + ",no_check_certificate=true,disable_tls13=true") + ":/";
  double wall = 0;
  std::size_t lines = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const int status = RunTool({"rclone", "lsjson", "-R", "--no-modtime", "--no-mimetype",
                                "--checkers", std::to_string(state.range(0)), remote},
                               out);
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status != 0) {
      state.SkipWithError("rclone lsjson failed");
      break;
    }
    state.PauseTiming();
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) lines += line.starts_with("{") ? 1 : 0;
    state.ResumeTiming();
  }
  fs::remove(out);
  const double n = static_cast<double>(state.iterations());
  state.counters["entries"] = static_cast<double>(lines) / n;
  Figures().rcloneSeconds[static_cast<int>(state.range(0))] = wall / n;
}

bool HasCurl() { return ::access("/usr/bin/curl", X_OK) == 0; }

// The whole tree in one "LIST -aR" reply, fetched by curl.
void BM_CurlListR(benchmark::State& state) {
  Target& target = TheTarget();
  if (!target.ok() || !HasCurl()) {
    state.SkipWithError("no FTP server, or curl is not installed");
    return;
  }
  const fs::path out = fs::temp_directory_path() /
                       ("orvane-crawl-bench-curl-" + std::to_string(::getpid()) + ".txt");
  const std::string url = "ftp://" + target.host() + ":" + std::to_string(target.port()) + "/";
  double wall = 0;
  std::size_t lines = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const int status = RunTool({"/usr/bin/curl", "-s", "--user",
                                target.user() + ":" + target.password(), url, "-X", "LIST -aR"},
                               out);
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status != 0) {
      state.SkipWithError("curl failed");
      break;
    }
    state.PauseTiming();
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) ++lines;
    state.ResumeTiming();
  }
  fs::remove(out);
  const double n = static_cast<double>(state.iterations());
  state.counters["lines"] = static_cast<double>(lines) / n;
  Figures().curlSeconds = wall / n;
}

void PrintSummary() {
  const RunFigures& f = Figures();
  std::printf("\nserver %s on %s\n", TheTarget().serverName().c_str(), TheTarget().host().c_str());
  if (f.listings > 0) {
    std::printf("listings: %zu, slowest %.1f ms, %zu over 100 ms\n", f.listings, f.slowestMs,
                f.over100ms);
  }
  for (const auto& [connections, seconds] : f.crawlSeconds) {
    std::printf("crawl of a new site, %d connection(s): %.3f s\n", connections, seconds);
  }
  for (const auto& [checkers, seconds] : f.rcloneSeconds) {
    std::printf("rclone lsjson -R --checkers %d: %.3f s\n", checkers, seconds);
    if (auto crawl = f.crawlSeconds.find(checkers); crawl != f.crawlSeconds.end()) {
      std::printf("ratio crawl / rclone at %d: %.3f (target <= 1.0)\n", checkers,
                  crawl->second / seconds);
    }
  }
  for (const auto& [connections, seconds] : f.recursiveSeconds) {
    std::printf("crawl of a new site with the recursive listing, %d connection(s): %.3f s\n",
                connections, seconds);
  }
  if (f.curlSeconds > 0) {
    std::printf("curl LIST -aR of the whole tree: %.3f s\n", f.curlSeconds);
    for (const auto& [connections, seconds] : f.recursiveSeconds) {
      std::printf("ratio recursive crawl / curl LIST -aR at %d: %.3f (target <= 2.0)\n",
                  connections, seconds / f.curlSeconds);
    }
  }
}

// ORVANE_CRAWL_CONNECTIONS=1,4,8,16: the connections (rclone's checkers)
// each benchmark that takes them runs with; 1 and 8 by default.
std::vector<int> ConnectionCounts() {
  std::vector<int> counts;
  std::stringstream list(Env("ORVANE_CRAWL_CONNECTIONS", "1,8"));
  for (std::string item; std::getline(list, item, ',');) {
    if (const int n = std::atoi(item.c_str()); n > 0) counts.push_back(n);
  }
  return counts;
}

benchmark::internal::Benchmark* ForEachCount(benchmark::internal::Benchmark* benchmark) {
  for (const int n : ConnectionCounts()) benchmark->Arg(n);
  return benchmark;
}

int Iterations() {
  const std::string value = Env("ORVANE_CRAWL_ITERATIONS", "3");
  return std::max(1, std::atoi(value.c_str()));
}

}  // namespace
}  // namespace orvane

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    constexpr std::string_view kMakeTree = "--make-tree=";
    if (std::string_view(argv[i]).starts_with(kMakeTree)) {
      orvane::MakeTree(argv[i] + kMakeTree.size());
      return 0;
    }
  }
  const int iterations = orvane::Iterations();
  orvane::ForEachCount(benchmark::RegisterBenchmark("BM_CrawlNewSite", orvane::BM_CrawlNewSite))
      ->Iterations(iterations)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  orvane::ForEachCount(
      benchmark::RegisterBenchmark("BM_RecrawlUnchangedSite", orvane::BM_RecrawlUnchangedSite))
      ->Iterations(iterations)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  orvane::ForEachCount(benchmark::RegisterBenchmark("BM_CrawlRecursive", orvane::BM_CrawlRecursive))
      ->Iterations(iterations)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_CurlListR", orvane::BM_CurlListR)
      ->Iterations(iterations)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_ListingTimes", orvane::BM_ListingTimes)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  orvane::ForEachCount(benchmark::RegisterBenchmark("BM_Rclone", orvane::BM_Rclone))
      ->Iterations(iterations)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  orvane::PrintSummary();
  benchmark::Shutdown();
  return 0;
}
