// A search from the window against the same search without one, over
// catalogs of 1,000,000 entries (10 sites of 100,000) of which 10,000 match.
//
// Targets: the window's search takes at most 1.5x the headless document's
// (counter "ratio", both timed in the same iteration), and the window thread
// stays responsive: the longest gap between two ticks of a 10 ms timer while
// the window's search runs ("max_tick_gap_ms") is at most 50 ms.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/offscreen_main.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "frame/dialog_seam.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"

namespace {

using namespace orvane;

constexpr int kSites = 10;
constexpr int kTopDirs = 100;
constexpr int kSubdirsPerTop = 9;
constexpr int kFilesPerDir = 99;
constexpr int kMatchEvery = 100;  // 10,000 of the 1,000,000 names match
constexpr int kExpected = 10000;

std::vector<std::shared_ptr<CFTPSite>> MakeSites() {
  std::vector<std::shared_ptr<CFTPSite>> sites;
  long count = 0;
  auto name = [&count](const char* stem) {
    ++count;
    std::string n = stem + std::to_string(count);
    if (count % kMatchEvery == 0) n += "-NeedLe";
    return n + ".tar.gz";
  };
  for (int s = 0; s < kSites; ++s) {
    auto site = std::make_shared<CFTPSite>();
    site->host = "site" + std::to_string(s) + ".example";
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    site->loadState = kLoaded;
    for (int t = 0; t < kTopDirs; ++t) {
      CFTPDir* top = site->rootDir->AddSubdir(std::make_unique<CFTPDir>(name("top-")));
      for (int d = 0; d < kSubdirsPerTop; ++d) {
        CFTPDir* sub = top->AddSubdir(std::make_unique<CFTPDir>(name("sub-")));
        for (int f = 0; f < kFilesPerDir; ++f) sub->AddFile(CFTPFile::Make(name("file-"), 1000));
      }
      for (int f = 0; f < kFilesPerDir; ++f) top->AddFile(CFTPFile::Make(name("file-"), 1000));
    }
    sites.push_back(std::move(site));
  }
  return sites;
}

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The main window over `sites`, shown, with the keyword dialog answering
// "needle".
std::unique_ptr<CMainFrame> ShowWindow(const std::filesystem::path& dataDir,
                                       const std::vector<std::shared_ptr<CFTPSite>>& sites) {
  auto frame = std::make_unique<CMainFrame>(dataDir);
  frame->OpenDocument();
  for (const auto& site : sites) frame->doc().AppendSite(site);
  frame->dirView().ReloadSites();
  frame->show();
  QCoreApplication::processEvents();
  CDialogSeam::SetDialogHook([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("keywordEdit"))->setText(QStringLiteral("needle"));
    return int{QDialog::Accepted};
  });
  return frame;
}

void BM_WindowSearchVsHeadless(benchmark::State& state) {
  QTemporaryDir temp;
  const std::filesystem::path windowDir =
      QFile::encodeName(temp.filePath(QStringLiteral("window"))).toStdString();
  const std::filesystem::path headlessDir =
      QFile::encodeName(temp.filePath(QStringLiteral("headless"))).toStdString();
  std::filesystem::create_directories(windowDir);
  std::filesystem::create_directories(headlessDir);
  const std::vector<std::shared_ptr<CFTPSite>> sites = MakeSites();

  IDocumentHost quiet;
  COrvaneDoc headless(headlessDir, quiet);
  for (const auto& site : sites) headless.AppendSite(site);
  auto frame = ShowWindow(windowDir, sites);

  double headlessMs = 0;
  double windowMs = 0;
  double maxGapMs = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    headless.Search("needle");
    headlessMs += Ms(std::chrono::steady_clock::now() - start);
    if (headless.resultFiles.size() != kExpected) state.SkipWithError("headless results");

    QTimer tick;
    tick.setInterval(10);
    auto last = std::chrono::steady_clock::now();
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const auto now = std::chrono::steady_clock::now();
      maxGapMs = std::max(maxGapMs, Ms(now - last));
      last = now;
    });
    start = std::chrono::steady_clock::now();
    last = start;
    tick.start();
    frame->action(kCmdSearch)->trigger();
    const auto end = std::chrono::steady_clock::now();
    tick.stop();
    maxGapMs = std::max(maxGapMs, Ms(end - last));
    windowMs += Ms(end - start);
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    if (frame->fileView().ItemCount() != kExpected) state.SkipWithError("window results");
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["headless_ms"] = headlessMs / n;
  state.counters["window_ms"] = windowMs / n;
  state.counters["ratio"] = windowMs / headlessMs;
  state.counters["max_tick_gap_ms"] = maxGapMs;
  CDialogSeam::ClearHooks();
  frame->close();
}
BENCHMARK(BM_WindowSearchVsHeadless)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The progress box's stop button pressed during the same search: the time
// from the click to the end of the search command ("stop_ms", target at most
// 100 ms).
void BM_WindowSearchStop(benchmark::State& state) {
  QTemporaryDir temp;
  // Four times the catalogs, so that the walk pumps several times.
  std::vector<std::shared_ptr<CFTPSite>> sites;
  for (int copy = 0; copy < 4; ++copy) {
    for (auto& site : MakeSites()) sites.push_back(std::move(site));
  }
  auto frame = ShowWindow(QFile::encodeName(temp.path()).toStdString(), sites);

  double worstMs = 0;
  for (auto _ : state) {
    // The click comes at the walk's third pump, in the middle of the walk.
    std::chrono::steady_clock::time_point clicked{};
    int pumps = 0;
    QTimer clicker;
    clicker.setInterval(1);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
      auto* box = frame->findChild<QDialog*>(QStringLiteral("searchDialog"));
      if (!box || ++pumps < 3) return;
      clicker.stop();
      clicked = std::chrono::steady_clock::now();
      box->findChild<QPushButton*>(QStringLiteral("stopButton"))->click();
    });
    clicker.start();
    frame->action(kCmdSearch)->trigger();
    const auto end = std::chrono::steady_clock::now();
    if (clicked == std::chrono::steady_clock::time_point{}) {
      state.SkipWithError("the search ended before the stop");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(end - clicked).count());
    worstMs = std::max(worstMs, Ms(end - clicked));
  }
  state.counters["stop_ms"] = worstMs;
  CDialogSeam::ClearHooks();
  frame->close();
}
BENCHMARK(BM_WindowSearchStop)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) { return RunOffscreenBenchmarks(argc, argv); }
