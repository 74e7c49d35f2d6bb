// Search and the "#new" listing over 1,000,000 catalog entries (10 sites of
// 100,000), all loaded, for a keyword that 0.1% of the names contain; and,
// in the same run, `grep -F -i -c` over a flat file of the same names.
//
// The catalogs: per site 1,000 directories (100 top-level ones with 9
// subdirectories each), each with 99 files, names 20 to 40 bytes, 10% of them in
// code page 936 and 5% in UTF-8.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/name_corpus.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/name_matcher.h"
#include "document/orvane_doc.h"

namespace orvane {
namespace {

constexpr int kSites = 10;
constexpr int kTopDirs = 100;
constexpr int kSubdirsPerTop = 9;
constexpr int kFilesPerDir = 99;

class CountingHost : public IDocumentHost {
 public:
  bool PumpMessages() override {
    ++pumps;
    return true;
  }
  void ResultsCleared() override { results = 0; }
  void DirsAppended(std::size_t count) override { results += static_cast<long>(count); }
  void FilesAppended(std::size_t count) override { results += static_cast<long>(count); }

  long results = 0;
  long pumps = 0;
};

struct Fixture {
  Fixture() : doc(dir(), host) {
    bench::NameCorpus corpus;
    std::ofstream flat(FlatFile(), std::ios::binary);
    auto name = [&] {
      std::string n = corpus.NextName();
      flat << n << '\n';
      ++entries;
      return n;
    };
    for (int s = 0; s < kSites; ++s) {
      auto site = std::make_shared<CFTPSite>();
      site->host = "site" + std::to_string(s) + ".example";
      site->password = kAnonymousPassword;
      site->loadState = kLoaded;
      site->updateState = kUpdateSucceeded;
      for (int t = 0; t < kTopDirs; ++t) {
        CFTPDir* top = site->rootDir->AddSubdir(std::make_unique<CFTPDir>(name()));
        for (int d = 0; d < kSubdirsPerTop; ++d) {
          CFTPDir* sub = top->AddSubdir(std::make_unique<CFTPDir>(name()));
          for (int f = 0; f < kFilesPerDir; ++f) {
            const std::string n = name();
            sub->AddFile(CFTPFile::Make(n, 1000, corpus.NextIsNew() ? 1 : 0));
          }
        }
        for (int f = 0; f < kFilesPerDir; ++f) {
          const std::string n = name();
          top->AddFile(CFTPFile::Make(n, 1000, corpus.NextIsNew() ? 1 : 0));
        }
      }
      doc.AppendSite(std::move(site));
    }
  }
  ~Fixture() {
    std::error_code ignored;
    std::filesystem::remove_all(dir(), ignored);
  }

  static const std::filesystem::path& dir() {
    static const std::filesystem::path path = [] {
      std::string pattern =
          (std::filesystem::temp_directory_path() / "orvane-bench-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) std::abort();
      return std::filesystem::path(pattern);
    }();
    return path;
  }
  static std::filesystem::path FlatFile() { return dir() / "names.txt"; }

  CountingHost host;
  COrvaneDoc doc;
  long entries = 0;
};

Fixture& Catalogs() {
  static Fixture fixture;
  return fixture;
}

void BM_Search(benchmark::State& state) {
  Fixture& f = Catalogs();
  const std::string keyword = FoldKeyword("needle");
  for (auto _ : state) {
    f.doc.Search(keyword);
    benchmark::DoNotOptimize(f.host.results);
  }
  state.counters["entries"] = static_cast<double>(f.entries);
  state.counters["results"] = static_cast<double>(f.host.results);
}
BENCHMARK(BM_Search)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SearchChinese(benchmark::State& state) {
  Fixture& f = Catalogs();
  const std::string keyword = FoldKeyword("\xE6\x96\x87\xE6\xA1\xA3");  // 文档
  for (auto _ : state) f.doc.Search(keyword);
  state.counters["results"] = static_cast<double>(f.host.results);
}
BENCHMARK(BM_SearchChinese)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ShowNewFiles(benchmark::State& state) {
  Fixture& f = Catalogs();
  for (auto _ : state) f.doc.ShowNewFiles(2);
  state.counters["results"] = static_cast<double>(f.host.results);
}
BENCHMARK(BM_ShowNewFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

// Pumping after every entry, as a walk without time slices would.
void BM_SearchPumpEveryEntry(benchmark::State& state) {
  Fixture& f = Catalogs();
  const std::string keyword = FoldKeyword("needle");
  f.doc.pumpSlice = {};
  for (auto _ : state) f.doc.Search(keyword);
  f.doc.pumpSlice = std::chrono::milliseconds(15);
  state.counters["pumps"] = static_cast<double>(f.host.pumps);
}
BENCHMARK(BM_SearchPumpEveryEntry)->Unit(benchmark::kMillisecond)->UseRealTime();

double ChildCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// grep over the flat file. The figure is grep's own CPU time (user and
// system, from its rusage), so that it compares with the CPU time of the
// searches when other work shares the machine; the counter "wall_ms" gives
// the elapsed time with process start.
void RunGrep(benchmark::State& state, const char* locale) {
  Catalogs();  // writes the flat file
  const std::string command = std::string("LC_ALL=") + locale + " grep -F -i -c needle '" +
                              Fixture::FlatFile().string() + "'";
  long count = 0;
  double wall = 0;
  for (auto _ : state) {
    const double before = ChildCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
      state.SkipWithError("grep could not be started");
      return;
    }
    if (std::fscanf(pipe, "%ld", &count) != 1) count = -1;
    ::pclose(pipe);
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(ChildCpuSeconds() - before);
  }
  state.counters["results"] = static_cast<double>(count);
  state.counters["wall_ms"] = 1000 * wall / static_cast<double>(state.iterations());
}

void BM_GrepFlatFile(benchmark::State& state) {
  const char* locale = std::getenv("LC_ALL");
  if (!locale || !*locale) locale = std::getenv("LANG");
  RunGrep(state, locale && *locale ? locale : "C.UTF-8");
}
BENCHMARK(BM_GrepFlatFile)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_GrepFlatFileCLocale(benchmark::State& state) { RunGrep(state, "C"); }
BENCHMARK(BM_GrepFlatFileCLocale)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
