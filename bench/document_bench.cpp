// Start-up cost of the document: reading a site.ds of 1,000 sites, each
// with a catalog on disk that start-up must not touch, and rewriting it.
//
// Target: opening stays well under 10 ms and does not grow with the
// catalogs; no site's catalog is read (every loadState still 0, every root
// still empty; the benchmark fails otherwise).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr int kSites = 1000;
constexpr int kFilesPerCatalog = 2000;

class SilentHost : public IDocumentHost {
 public:
  void ReportLoadError(const std::string&) override { ++errors; }
  int errors = 0;
};

// A data directory with site.ds and a catalog per site, made once.
class Fixture {
 public:
  Fixture() {
    char pattern[] = "/tmp/orvane-bench-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    SilentHost host;
    COrvaneDoc doc(dir_, host);
    doc.OnNewDocument();
    for (int i = 0; i < kSites; ++i) {
      auto site = std::make_shared<CFTPSite>();
      site->host = "ftp" + std::to_string(i) + ".example.org";
      site->userName = i % 3 ? "user" + std::to_string(i) : "anonymous";
      site->password = i % 3 ? "secret" : std::string(kAnonymousPassword);
      site->port = 21;
      site->nickname = "站点 " + std::to_string(i);
      site->remarks = "mirror of the usual things\r\nupdated weekly";
      for (int f = 0; f < kFilesPerCatalog; ++f) {
        site->rootDir->AddFile(CFTPFile::Make("file" + std::to_string(f) + ".bin", f));
      }
      site->SaveCatalog(dir_);
      site->rootDir = std::make_unique<CFTPDir>();
      site->rootDir->site = site.get();
      doc.AppendSite(std::move(site));
    }
    ok_ = doc.SaveSiteList();
  }
  ~Fixture() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  const fs::path& dir() const { return dir_; }
  bool ok() const { return ok_; }

 private:
  fs::path dir_;
  bool ok_ = false;
};

Fixture& SharedFixture() {
  static Fixture fixture;
  return fixture;
}

void BM_OpenSiteList(benchmark::State& state) {
  Fixture& fixture = SharedFixture();
  if (!fixture.ok()) {
    state.SkipWithError("could not write the site list");
    return;
  }
  for (auto _ : state) {
    SilentHost host;
    COrvaneDoc doc(fixture.dir(), host);
    doc.OnNewDocument();
    benchmark::DoNotOptimize(doc.sites().data());
    state.PauseTiming();
    bool untouched = doc.sites().size() == kSites && host.errors == 0;
    for (const auto& site : doc.sites()) {
      untouched = untouched && site->loadState.load() == kNotLoaded &&
                  site->rootDir->files.empty() && site->rootDir->subdirs.empty();
    }
    state.ResumeTiming();
    if (!untouched) {
      state.SkipWithError("start-up read a catalog or lost a site");
      return;
    }
  }
  state.counters["sites"] = kSites;
  state.counters["sites/s"] = benchmark::Counter(static_cast<double>(kSites),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_OpenSiteList)->Unit(benchmark::kMillisecond);

void BM_SaveSiteList(benchmark::State& state) {
  Fixture& fixture = SharedFixture();
  SilentHost host;
  COrvaneDoc doc(fixture.dir(), host);
  doc.OnNewDocument();
  for (auto _ : state) {
    if (!doc.SaveSiteList()) {
      state.SkipWithError("could not write the site list");
      return;
    }
  }
  state.counters["sites"] = static_cast<double>(doc.sites().size());
}
BENCHMARK(BM_SaveSiteList)->Unit(benchmark::kMillisecond);

// For comparison: what reading every catalog at start-up would cost.
void BM_LoadEveryCatalog(benchmark::State& state) {
  Fixture& fixture = SharedFixture();
  for (auto _ : state) {
    SilentHost host;
    COrvaneDoc doc(fixture.dir(), host);
    doc.OnNewDocument();
    for (const auto& site : doc.sites()) doc.EnsureCatalogLoaded(*site);
    benchmark::DoNotOptimize(doc.sites().back()->rootDir->files.size());
  }
}
BENCHMARK(BM_LoadEveryCatalog)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
