// Start-up of the window: from constructing the main frame over a data
// directory of 1,000 sites to the shown, painted window (the splash's own
// minimum time aside). The counter "catalogs_read" must stay 0: start-up
// reads site.ds and nothing else.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/offscreen_main.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "frame/main_frame.h"

namespace {

using namespace orvane;

constexpr int kSites = 1000;

// site.ds with 1,000 sites, each with a small stored catalog that start-up
// must not read.
std::filesystem::path MakeDataDir(const QTemporaryDir& temp) {
  const std::filesystem::path dir =
      QFile::encodeName(temp.filePath(QStringLiteral("data"))).toStdString();
  std::filesystem::create_directories(dir);
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  for (int i = 0; i < kSites; ++i) {
    auto site = std::make_shared<CFTPSite>();
    site->host = "ftp" + std::to_string(i) + ".example.org";
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    site->nickname = i % 3 ? std::string() : "site " + std::to_string(i);
    for (int d = 0; d < 20; ++d) {
      CFTPDir* sub = site->rootDir->AddSubdir(std::make_unique<CFTPDir>("dir" + std::to_string(d)));
      for (int f = 0; f < 20; ++f) sub->AddFile(CFTPFile::Make("file" + std::to_string(f), 1000));
    }
    if (!site->SaveCatalogAndState(dir)) std::abort();
    doc.AppendSite(std::move(site));
  }
  if (!doc.SaveSiteList()) std::abort();
  return dir;
}

void BM_StartUpToShownWindow(benchmark::State& state) {
  QTemporaryDir temp;
  const std::filesystem::path dir = MakeDataDir(temp);
  int catalogsRead = 0;
  for (auto _ : state) {
    auto frame = std::make_unique<CMainFrame>(dir);
    frame->OpenDocument();
    frame->show();
    // Expose and first paint.
    QCoreApplication::processEvents();
    frame->repaint();
    state.PauseTiming();
    if (frame->doc().sites().size() != kSites) state.SkipWithError("sites missing");
    for (const auto& site : frame->doc().sites()) {
      if (site->loadState.load() != kNotLoaded) ++catalogsRead;
    }
    frame.reset();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
  state.counters["catalogs_read"] = catalogsRead;
}
BENCHMARK(BM_StartUpToShownWindow)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) { return RunOffscreenBenchmarks(argc, argv); }
