// The find index over 1,000,000 catalog entries (10 sites of 100,000; the
// names of search_bench: 20 to 40 bytes, 10% code page 936, 5% UTF-8):
// building it (from catalogs made in memory, and from catalogs read from
// disk beside their find files) against reading the same catalogs from
// disk, its heap memory per entry, and the time of each keystroke of
// queries typed one character at a time (as the window's bar answers
// them), with the 95th percentile. ORVANE_FIND_BENCH_TRACE=1 prints each
// keystroke's time and hits.
//
// ORVANE_FIND_BENCH_DIR=DIR keeps the data directory (site.ds, the
// catalogs, names.txt with one name a line) in DIR for
// bench/find_compare.sh, which times `orvane-cli find` against grep.
// ORVANE_FIND_BENCH_SCALE=10 makes it 10,000,000 entries.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/name_corpus.h"
#include "bench/percentiles.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/find_index.h"
#include "document/find_query.h"
#include "document/orvane_doc.h"

namespace orvane {
namespace {

constexpr int kTopDirs = 100;
constexpr int kSubdirsPerTop = 9;
constexpr int kFilesPerDir = 99;

int Sites() {
  const char* scale = std::getenv("ORVANE_FIND_BENCH_SCALE");
  return 10 * (scale ? std::max(1, std::atoi(scale)) : 1);
}

struct Fixture {
  Fixture() : doc(Dir(), host) {
    bench::NameCorpus corpus;
    std::ofstream flat(Dir() / "names.txt", std::ios::binary);
    for (int s = 0; s < Sites(); ++s) {
      auto site = std::make_shared<CFTPSite>();
      site->host = "site" + std::to_string(s) + ".example";
      site->userName = "anonymous";
      site->password = kAnonymousPassword;
      site->loadState = kLoaded;
      const auto name = [&] {
        std::string n = corpus.NextName();
        flat << n << '\n';
        ++entries;
        return n;
      };
      for (int t = 0; t < kTopDirs; ++t) {
        CFTPDir* top = site->rootDir->AddSubdir(std::make_unique<CFTPDir>(name()));
        for (int d = 0; d < kSubdirsPerTop; ++d) {
          CFTPDir* sub = top->AddSubdir(std::make_unique<CFTPDir>(name()));
          for (int f = 0; f < kFilesPerDir; ++f) {
            const std::string n = name();
            sub->AddFile(CFTPFile::Make(n, corpus.NextSize(), f % 97 == 0));
          }
        }
        for (int f = 0; f < kFilesPerDir; ++f) {
          const std::string n = name();
          top->AddFile(CFTPFile::Make(n, corpus.NextSize()));
        }
      }
      if (!site->SaveCatalogAndState(Dir())) std::abort();
      doc.AppendSite(std::move(site));
    }
    if (!doc.SaveSiteList()) std::abort();
  }
  ~Fixture() {
    if (std::getenv("ORVANE_FIND_BENCH_DIR")) return;
    std::error_code ignored;
    std::filesystem::remove_all(Dir(), ignored);
  }

  static const std::filesystem::path& Dir() {
    static const std::filesystem::path path = [] {
      if (const char* kept = std::getenv("ORVANE_FIND_BENCH_DIR")) {
        std::filesystem::create_directories(kept);
        return std::filesystem::path(kept);
      }
      std::string pattern =
          (std::filesystem::temp_directory_path() / "orvane-find-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) std::abort();
      return std::filesystem::path(pattern);
    }();
    return path;
  }

  IDocumentHost host;
  COrvaneDoc doc;
  long entries = 0;
};

Fixture& Catalogs() {
  static Fixture fixture;
  return fixture;
}

CFindIndex& Index() {
  static CFindIndex* index = [] {
    auto* built = new CFindIndex;
    for (const auto& site : Catalogs().doc.sites())
      built->Build(site, Catalogs().doc.GetProgramDir());
    return built;
  }();
  return *index;
}

void BM_CatalogLoad(benchmark::State& state) {
  Fixture& f = Catalogs();
  for (auto _ : state) {
    for (const auto& stored : f.doc.sites()) {
      CFTPSite site;
      site.host = stored->host;
      site.userName = stored->userName;
      site.password = stored->password;
      site.LoadFiles(f.doc.GetProgramDir());
      benchmark::DoNotOptimize(site.rootDir.get());
    }
  }
  state.counters["entries"] = static_cast<double>(f.entries);
}
BENCHMARK(BM_CatalogLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_IndexBuild(benchmark::State& state) {
  Fixture& f = Catalogs();
  std::size_t bytes = 0;
  for (auto _ : state) {
    CFindIndex index;
    for (const auto& site : f.doc.sites()) index.Build(site, f.doc.GetProgramDir());
    bytes = index.MemoryBytes();
  }
  state.counters["bytes_per_entry"] = static_cast<double>(bytes) / static_cast<double>(f.entries);
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The index over catalogs read from disk, as the window builds it: each
// site's find file is current, so its texts are mapped, not folded again.
void BM_IndexBuildLoaded(benchmark::State& state) {
  Fixture& f = Catalogs();
  std::vector<std::shared_ptr<CFTPSite>> loaded;
  for (const auto& stored : f.doc.sites()) {
    auto site = std::make_shared<CFTPSite>();
    site->host = stored->host;
    site->userName = stored->userName;
    site->password = stored->password;
    site->LoadFiles(f.doc.GetProgramDir());
    site->loadState = kLoaded;
    loaded.push_back(std::move(site));
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    CFindIndex index;
    for (const auto& site : loaded) index.Build(site, f.doc.GetProgramDir());
    bytes = index.MemoryBytes();
  }
  state.counters["bytes_per_entry"] = static_cast<double>(bytes) / static_cast<double>(f.entries);
}
BENCHMARK(BM_IndexBuildLoaded)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Each query typed a character at a time; every prefix that parses is one
// keystroke, answered as the bar does (hits gathered into lists).
void Keystrokes(benchmark::State& state, const std::vector<std::string>& typed) {
  CFindIndex& index = Index();
  std::vector<double> times;
  std::size_t hits = 0;
  for (auto _ : state) {
    times.clear();
    for (const std::string& text : typed) {
      for (std::size_t n = 1; n <= text.size(); ++n) {
        // Whole UTF-8 characters only, as a person types them.
        if (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) continue;
        const auto start = std::chrono::steady_clock::now();
        CFindQuery::Error error;
        auto query = CFindQuery::Parse(text.substr(0, n), 1'800'000'000, error);
        std::vector<CFTPDir*> dirs;
        std::vector<CFTPFile*> files;
        if (query) {
          index.Find(*query, [&](const FindHit& hit) {
            if (hit.dir) dirs.push_back(hit.dir);
            if (hit.file) files.push_back(hit.file);
            return true;
          });
        }
        hits = dirs.size() + files.size();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (std::getenv("ORVANE_FIND_BENCH_TRACE")) {
          std::fprintf(stderr, "%8.2f ms %8zu hits  %s\n", times.back(), hits,
                       text.substr(0, n).c_str());
        }
      }
    }
  }
  bench::ReportPercentiles(state, times);
  state.counters["last_hits"] = static_cast<double>(hits);
}

void BM_KeystrokesWords(benchmark::State& state) {
  Keystrokes(state, {"needle", "linux kernel", "\xE6\x96\x87\xE6\xA1\xA3", "release -src",
                     "\"music-video\""});
}
BENCHMARK(BM_KeystrokesWords)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_KeystrokesFilters(benchmark::State& state) {
  Keystrokes(state, {"ext:iso", "size:>1G", "new:", "site:site3.example", "path:/linux*"});
}
BENCHMARK(BM_KeystrokesFilters)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_KeystrokesMixed(benchmark::State& state) {
  Keystrokes(state, {"linux ext:iso size:>1M", "(photo | video) -zip", "*.pdf site:site1.*",
                     "/needle_v\\d+/"});
}
BENCHMARK(BM_KeystrokesMixed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
