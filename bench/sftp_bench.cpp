// A new site's crawl over SFTP against rclone's SFTP backend listing the
// same tree, with as many connections as rclone has checkers (the
// argument). bench/sftp_rtt.sh runs it behind a real round-trip time,
// against an sshd it starts on a tree that crawl_bench makes.
//
// Environment (all needed):
//   ORVANE_SFTP_HOST, ORVANE_SFTP_PORT, ORVANE_SFTP_USER  the server
//   ORVANE_SFTP_KEY          a private key file without a passphrase
//   ORVANE_SFTP_KNOWN_HOSTS  a known-hosts file naming the server's key
//   ORVANE_SFTP_ROOT         the tree's directory on the server
//   ORVANE_CRAWL_CONNECTIONS=8,16  connection counts (default 8,16)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "update/crawler.h"
#include "update/listing_prefetch.h"
#include "update/listing_session.h"

extern char** environ;

namespace orvane {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class DiscardSink final : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile>) override {}
  void DirRemoved(std::unique_ptr<CFTPDir>) override {}
};

FtpLogin Login() {
  FtpLogin login;
  login.protocol = SiteProtocol::kSftp;
  login.host = Env("ORVANE_SFTP_HOST");
  login.port = static_cast<std::uint16_t>(std::atoi(Env("ORVANE_SFTP_PORT").c_str()));
  login.user = Env("ORVANE_SFTP_USER");
  login.keyFile = Env("ORVANE_SFTP_KEY");
  login.knownHosts = Env("ORVANE_SFTP_KNOWN_HOSTS");
  login.startDir = Env("ORVANE_SFTP_ROOT");
  return login;
}

int RunTool(const std::vector<std::string>& argv, const fs::path& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::size_t CountEntries(const CFTPDir& dir) {
  std::size_t count = dir.files.size() + dir.subdirs.size();
  for (const auto& sub : dir.subdirs) count += CountEntries(*sub);
  return count;
}

void BM_SftpCrawl(benchmark::State& state) {
  const FtpLogin login = Login();
  if (login.port == 0) {
    state.SkipWithError("set ORVANE_SFTP_* (bench/sftp_rtt.sh does)");
    return;
  }
  const int connections = static_cast<int>(state.range(0));
  std::size_t entries = 0;
  for (auto _ : state) {
    CFTPSite site;
    std::atomic<bool> stop{false};
    DiscardSink sink;
    const auto session = MakeListingSession(SiteProtocol::kSftp);
    const FtpResult opened = session->Open(login, FtpTimeouts{});
    if (!opened.ok()) {
      state.SkipWithError(("login failed: " + opened.errorText).c_str());
      return;
    }
    std::unique_ptr<CListingPrefetcher> ahead;
    if (connections > 1) {
      ahead = std::make_unique<CListingPrefetcher>(
          login, FtpTimeouts{}, connections - 1, stop, [](CListingSession&) { return true; },
          [](CListingSession&) {});
      ahead->LogInNow();
    }
    if (!CrawlDirectory(*session, site, *site.rootDir, stop, sink, {}, ahead.get())) {
      state.SkipWithError("crawl broke off");
      return;
    }
    ahead.reset();
    session->Close();
    entries = CountEntries(*site.rootDir);
  }
  state.counters["entries"] = static_cast<double>(entries);
}

void BM_RcloneSftp(benchmark::State& state) {
  const FtpLogin login = Login();
  if (login.port == 0) {
    state.SkipWithError("set ORVANE_SFTP_* (bench/sftp_rtt.sh does)");
    return;
  }
  const fs::path out = fs::temp_directory_path() /
                       ("orvane-sftp-bench-rclone-" + std::to_string(::getpid()) + ".txt");
  const std::string remote = ":sftp,host=" + login.host + ",port=" + std::to_string(login.port) +
                             ",user=" + login.user + ",key_file=" + login.keyFile +
                             ",known_hosts_file=" + login.knownHosts.string() + ":" +
                             login.startDir;
  std::size_t lines = 0;
  for (auto _ : state) {
    if (RunTool({"rclone", "lsjson", "-R", "--no-modtime", "--no-mimetype", "--checkers",
                 std::to_string(state.range(0)), remote},
                out) != 0) {
      state.SkipWithError("rclone lsjson failed");
      break;
    }
    state.PauseTiming();
    std::ifstream in(out);
    std::string line;
    lines = 0;
    while (std::getline(in, line)) lines += line.starts_with("{") ? 1 : 0;
    state.ResumeTiming();
  }
  fs::remove(out);
  state.counters["entries"] = static_cast<double>(lines);
}

void Connections(benchmark::internal::Benchmark* b) {
  std::string list = Env("ORVANE_CRAWL_CONNECTIONS");
  if (list.empty()) list = "8,16";
  std::istringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) b->Arg(std::atoi(item.c_str()));
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}

BENCHMARK(BM_SftpCrawl)->Apply(Connections);
BENCHMARK(BM_RcloneSftp)->Apply(Connections);

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
