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

#include "bench/loopback_ports.h"
#include "catalog/ftp_site.h"
#include "tests/support/ftp_server.h"
#include "update/update_engine.h"

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

// The tree and the servers, for the whole run; the servers stop when the
// fixture goes.
class Fixture {
 public:
  Fixture() {
    work_ = fs::temp_directory_path() / ("orvane-update-bench-" + std::to_string(::getpid()));
    fs::create_directories(work_);
    MakeTree(work_ / "tree");
  }
  ~Fixture() {
    servers_.clear();
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }

  const fs::path& work() const { return work_; }

  // Ports of the servers with this reply delay (started at first use);
  // empty when they could not be started.
  std::vector<std::uint16_t> Ports(int delayMs) {
    auto& servers = servers_[delayMs];
    if (servers.empty()) {
      test::PyFtpOptions options;
      options.replyDelayMs = delayMs;
      for (int i = 0; i < kServers; ++i) {
        auto started = test::CFtpServer::StartPyftpdlib(work_ / "tree", options);
        if (!started.server) {
          std::fprintf(stderr, "update_bench: %s\n", started.error.c_str());
          servers.clear();
          return {};
        }
        servers.push_back(std::move(started.server));
      }
    }
    std::vector<std::uint16_t> ports;
    for (const auto& server : servers) ports.push_back(server->port());
    return ports;
  }

 private:
  fs::path work_;
  std::map<int, std::vector<std::unique_ptr<test::CFtpServer>>> servers_;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
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
    bench::WaitForFreePorts(4000);
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
