// The update scheduler end to end: 20 sites of 500 directories each (5,000
// files), updated from local FTP servers with maxWorkers 1, 5 and 20, from
// empty catalogs, including the saves. Wall time per update-all and the
// speed-up over maxWorkers 1 with the same servers.
//
// Two server settings:
//   delay_ms 0  loopback as it is: client and servers share the machine's
//               cores, so the speed-up is bounded by them
//   delay_ms 1  every server reply held back 1 ms, a stand-in for a network
//               round trip; workers then overlap their waits
// Four pyftpdlib servers (tests/fixtures/ftp_server.py) serve the same tree,
// five sites each; every site has a key of its own.
//
// Needs about a minute per run besides the runs themselves: see
// WaitForFreePorts.
//
// Counters: dirs/s (directories listed per second over all sites) and
// speedup (wall time of maxWorkers 1 / this wall time, same delay).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalog/ftp_site.h"
#include "update/update_engine.h"

extern char** environ;

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr int kSites = 20;
constexpr int kServers = 4;
constexpr int kTopDirs = 20;
constexpr int kSubdirsPerTop = 24;
constexpr int kDirectories = kTopDirs + kTopDirs * kSubdirsPerTop;  // 500
constexpr int kFilesPerDir = 10;

void MakeTree(const fs::path& root) {
  auto addFiles = [](const fs::path& dir) {
    for (int i = 0; i < kFilesPerDir; ++i) {
      std::ofstream(dir / ("file-" + std::to_string(i) + ".txt")) << i;
    }
  };
  fs::create_directories(root);
  for (int t = 0; t < kTopDirs; ++t) {
    const fs::path top = root / ("top-" + std::to_string(t));
    fs::create_directory(top);
    addFiles(top);
    for (int s = 0; s < kSubdirsPerTop; ++s) {
      const fs::path sub = top / ("sub-" + std::to_string(s));
      fs::create_directory(sub);
      addFiles(sub);
    }
  }
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

// The tree and the servers, for the whole run; servers are stopped by
// their process ids at exit.
class Fixture {
 public:
  Fixture() {
    const char* source = std::getenv("ORVANE_SOURCE_DIR");
    source_ = source ? fs::path(source) : fs::path(__FILE__).parent_path().parent_path();
    work_ = fs::temp_directory_path() / ("orvane-update-bench-" + std::to_string(::getpid()));
    fs::create_directories(work_);
    MakeTree(work_ / "tree");
  }
  ~Fixture() {
    for (const auto& [delay, servers] : servers_) {
      for (const Server& server : servers) {
        ::kill(server.pid, SIGTERM);
        ::waitpid(server.pid, nullptr, 0);
      }
    }
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }

  const fs::path& work() const { return work_; }

  // Ports of the servers with this reply delay (started at first use);
  // empty when they could not be started.
  std::vector<std::uint16_t> Ports(int delayMs) {
    auto& servers = servers_[delayMs];
    if (servers.empty()) {
      for (int i = 0; i < kServers; ++i) {
        Server server = Start(delayMs, i);
        if (server.port == 0) return {};
        servers.push_back(server);
      }
    }
    std::vector<std::uint16_t> ports;
    for (const Server& server : servers) ports.push_back(server.port);
    return ports;
  }

 private:
  struct Server {
    pid_t pid = -1;
    std::uint16_t port = 0;
  };

  Server Start(int delayMs, int index) {
    Server server;
    const fs::path config =
        work_ / ("server-" + std::to_string(delayMs) + "-" + std::to_string(index) + ".json");
    std::ofstream(config) << "{\"host\": \"127.0.0.1\", \"root_hex\": \""
                          << Hex((work_ / "tree").string()) << "\", \"reply_delay_ms\": " << delayMs
                          << "}\n";
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return server;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe[0]);
    const std::string script = (source_ / "tests/fixtures/ftp_server.py").string();
    const std::string configPath = config.string();
    char* argv[] = {const_cast<char*>("/usr/bin/python3"), const_cast<char*>(script.c_str()),
                    const_cast<char*>(configPath.c_str()), nullptr};
    const int spawned = posix_spawn(&server.pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
      ::close(pipe[0]);
      server.pid = -1;
      return server;
    }
    // Up to the line end: the port may come in more than one write.
    std::string line;
    char c = 0;
    while (line.size() < 16 && ::read(pipe[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    ::close(pipe[0]);
    server.port = static_cast<std::uint16_t>(std::atoi(line.c_str()));
    if (server.port == 0) {
      ::kill(server.pid, SIGTERM);
      ::waitpid(server.pid, nullptr, 0);
    }
    return server;
  }

  fs::path source_;
  fs::path work_;
  std::map<int, std::vector<Server>> servers_;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

// Every listing opens a data connection, and the server, which closes it,
// keeps the port in TIME_WAIT for a minute: one update-all leaves about
// 10,000 such ports on loopback, where client and server share one range
// of ephemeral ports. Before each run the benchmark waits (untimed) until
// most of them have expired, so that a run never finds the range used up.
int TimeWaitSockets() {
  int count = 0;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (state == "06") ++count;
    }
  }
  return count;
}

void WaitForFreePorts() {
  constexpr int kMaxTimeWait = 4000;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  while (TimeWaitSockets() > kMaxTimeWait && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

class QuietListener final : public IEngineListener {
 public:
  void PostSiteStatus(std::shared_ptr<CFTPSite>) override {}
  void PostEntryRemoved(std::unique_ptr<CFTPDir>) override {}
  void PostEntryRemoved(std::unique_ptr<CFTPFile>) override {}
};

void UpdateAll(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  const int delayMs = static_cast<int>(state.range(1));
  Fixture& fixture = TheFixture();
  const std::vector<std::uint16_t> ports = fixture.Ports(delayMs);
  if (ports.empty()) {
    state.SkipWithError("the FTP servers could not be started (python3-pyftpdlib?)");
    return;
  }
  // Wall time of maxWorkers 1 per delay, for the speed-up of the others
  // (registered first, so measured first).
  static std::map<int, double> baseline;

  double seconds = 0;
  int failures = 0;
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path data = fixture.work() / ("data-" + std::to_string(workers) + "-" +
                                            std::to_string(delayMs) + "-" + std::to_string(run++));
    std::vector<std::shared_ptr<CFTPSite>> sites;
    for (int i = 0; i < kSites; ++i) {
      auto site = std::make_shared<CFTPSite>();
      site->host = "127.0.0.1";
      site->port = ports[i % ports.size()];
      site->userName = "site" + std::to_string(i);
      site->password = "pw";
      site->anonymousUpdate = true;
      sites.push_back(site);
    }
    WaitForFreePorts();
    QuietListener listener;
    CUpdateEngine engine(listener, data);
    engine.SetMaxWorkers(workers);
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    engine.UpdateAll(sites);
    while (engine.HasWork()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    state.PauseTiming();
    engine.Close();
    for (const auto& site : sites) {
      if (site->updateState.load() != kUpdateSucceeded) {
        ++failures;
      }
    }
    std::error_code ignored;
    fs::remove_all(data, ignored);
    state.ResumeTiming();
  }
  if (failures > 0) {
    state.SkipWithError("some sites did not update");
    return;
  }
  const double perRun = seconds / static_cast<double>(state.iterations());
  if (workers == 1) baseline[delayMs] = perRun;
  state.counters["dirs/s"] = benchmark::Counter(
      static_cast<double>(kSites) * kDirectories * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  if (baseline.count(delayMs) != 0) state.counters["speedup"] = baseline[delayMs] / perRun;
}

BENCHMARK(UpdateAll)
    ->ArgNames({"workers", "delay_ms"})
    ->ArgsProduct({{1, 5, 20}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
