// The window's walks against the same walks without a window, over
// catalogs of 1,000,000 entries (10 sites of 100,000) of which 10,000 match
// the keyword and are unread: a search, the listing of every unread file, and
// the clearing of every mark (all 1,000,000 unread first).
//
// Targets: the window's walk takes at most 1.5x the headless document's
// (counter "ratio", both timed in the same iteration), and the window thread
// stays responsive: the longest gap between two ticks of a 10 ms timer while
// the window's walk runs ("max_tick_gap_ms") is at most 50 ms.
//
// BM_WindowMarksSave times what the window's periodic marks save
// (CMarksSaver) does on the window thread for one 1,000,000-entry site after
// one mark was cleared.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/offscreen_main.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/doc_walk.h"
#include "document/orvane_doc.h"
#include "document/site_store.h"
#include "frame/dialog_seam.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"
#include "frame/marks_saver.h"
#include "frame/walk_runner.h"

namespace {

using namespace orvane;

constexpr int kSites = 10;
constexpr int kTopDirs = 100;
constexpr int kSubdirsPerTop = 9;
constexpr int kFilesPerDir = 99;
constexpr int kMatchEvery = 100;  // 10,000 of the 1,000,000 names match
constexpr int kExpected = 10000;

// `count` sites of 100,000 entries each (kTopDirs top directories) and
// the names that match marked unread.
std::vector<std::shared_ptr<CFTPSite>> MakeSites(int count = kSites, int topDirs = kTopDirs) {
  std::vector<std::shared_ptr<CFTPSite>> sites;
  long made = 0;
  auto name = [&made](const char* stem) {
    ++made;
    std::string n = stem + std::to_string(made);
    if (made % kMatchEvery == 0) n += "-NeedLe";
    return n + ".tar.gz";
  };
  auto unread = [&made] { return made % kMatchEvery == 0 ? 1 : 0; };
  for (int s = 0; s < count; ++s) {
    auto site = std::make_shared<CFTPSite>();
    site->host = "site" + std::to_string(s) + ".example";
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    site->loadState = kLoaded;
    for (int t = 0; t < topDirs; ++t) {
      CFTPDir* top = site->rootDir->AddSubdir(std::make_unique<CFTPDir>(name("top-")));
      top->readState = unread();
      for (int d = 0; d < kSubdirsPerTop; ++d) {
        CFTPDir* sub = top->AddSubdir(std::make_unique<CFTPDir>(name("sub-")));
        sub->readState = unread();
        for (int f = 0; f < kFilesPerDir; ++f) {
          sub->AddFile(CFTPFile::Make(name("file-"), 1000));
          sub->files.back()->readState = unread();
        }
      }
      for (int f = 0; f < kFilesPerDir; ++f) {
        top->AddFile(CFTPFile::Make(name("file-"), 1000));
        top->files.back()->readState = unread();
      }
    }
    sites.push_back(std::move(site));
  }
  return sites;
}

// Every entry below `dir` unread (readState), or read with 0.
void MarkAll(CFTPDir& dir, std::int32_t readState) {
  for (const auto& file : dir.files) file->readState = readState;
  for (const auto& sub : dir.subdirs) {
    sub->readState = readState;
    MarkAll(*sub, readState);
  }
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

// What a window walk costs, summed over the iterations.
struct WalkTimes {
  double headlessMs = 0;
  double windowMs = 0;
  double maxGapMs = 0;
  // The window's walk steps and the time spent in them; the rest of
  // window_ms is the event loop's.
  long steps = 0;
  double stepMs = 0;
};

// Runs the command `command` in the window until its walk has ended,
// ticking a 10 ms timer meanwhile; returns the walk's time.
std::chrono::steady_clock::duration RunWindowWalk(CMainFrame& frame, int command,
                                                  WalkTimes& times) {
  const long stepsBefore = frame.walkRunner().steps();
  const auto stepTimeBefore = frame.walkRunner().stepTime();
  QTimer tick;
  tick.setInterval(10);
  auto last = std::chrono::steady_clock::now();
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const auto now = std::chrono::steady_clock::now();
    times.maxGapMs = std::max(times.maxGapMs, Ms(now - last));
    last = now;
  });
  const auto start = std::chrono::steady_clock::now();
  last = start;
  tick.start();
  // The command returns at once; the walk runs in slices from the loop.
  frame.action(command)->trigger();
  while (frame.walkRunner().busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const auto end = std::chrono::steady_clock::now();
  tick.stop();
  times.maxGapMs = std::max(times.maxGapMs, Ms(end - last));
  times.windowMs += Ms(end - start);
  times.steps += frame.walkRunner().steps() - stepsBefore;
  times.stepMs += Ms(frame.walkRunner().stepTime() - stepTimeBefore);
  return end - start;
}

void Report(benchmark::State& state, const WalkTimes& times) {
  const double n = static_cast<double>(state.iterations());
  state.counters["headless_ms"] = times.headlessMs / n;
  state.counters["window_ms"] = times.windowMs / n;
  state.counters["ratio"] = times.windowMs / times.headlessMs;
  state.counters["max_tick_gap_ms"] = times.maxGapMs;
  state.counters["steps"] = static_cast<double>(times.steps) / n;
  state.counters["step_ms"] = times.stepMs / n;
}

// A window and a headless document over the same sites.
struct Fixture {
  QTemporaryDir temp;
  std::vector<std::shared_ptr<CFTPSite>> sites = MakeSites();
  IDocumentHost quiet;
  std::unique_ptr<COrvaneDoc> headless;
  std::unique_ptr<CMainFrame> frame;

  Fixture() {
    const std::filesystem::path windowDir =
        QFile::encodeName(temp.filePath(QStringLiteral("window"))).toStdString();
    const std::filesystem::path headlessDir =
        QFile::encodeName(temp.filePath(QStringLiteral("headless"))).toStdString();
    std::filesystem::create_directories(windowDir);
    std::filesystem::create_directories(headlessDir);
    headless = std::make_unique<COrvaneDoc>(headlessDir, quiet);
    for (const auto& site : sites) headless->AppendSite(site);
    frame = ShowWindow(windowDir, sites);
  }
  ~Fixture() {
    CDialogSeam::ClearHooks();
    frame->close();
  }
};

void BM_WindowSearchVsHeadless(benchmark::State& state) {
  Fixture fixture;
  WalkTimes times;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    fixture.headless->Search("needle");
    times.headlessMs += Ms(std::chrono::steady_clock::now() - start);
    if (fixture.headless->resultFiles.size() != kExpected) state.SkipWithError("headless results");
    state.SetIterationTime(
        std::chrono::duration<double>(RunWindowWalk(*fixture.frame, kCmdSearch, times)).count());
    if (fixture.frame->fileView().ItemCount() != kExpected) state.SkipWithError("window results");
  }
  Report(state, times);
}
BENCHMARK(BM_WindowSearchVsHeadless)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Every unread entry of every site listed (显示所有未读文件).
void BM_WindowShowAllNewVsHeadless(benchmark::State& state) {
  Fixture fixture;
  WalkTimes times;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    fixture.headless->ShowNewFiles(CDocWalk::kAllSites);
    times.headlessMs += Ms(std::chrono::steady_clock::now() - start);
    const std::size_t listed =
        fixture.headless->resultFiles.size() + fixture.headless->resultDirs.size();
    if (listed < kExpected) state.SkipWithError("headless results");
    state.SetIterationTime(
        std::chrono::duration<double>(RunWindowWalk(*fixture.frame, kCmdShowAllNew, times))
            .count());
    if (static_cast<std::size_t>(fixture.frame->fileView().ItemCount()) != listed) {
      state.SkipWithError("window results");
    }
  }
  Report(state, times);
}
BENCHMARK(BM_WindowShowAllNewVsHeadless)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

// Every mark of every site cleared (设置所有为已读), all 1,000,000 entries
// unread before each run. The sites are not in either data directory's
// site list, so the marks saves that follow write nothing.
void BM_WindowSetAllReadVsHeadless(benchmark::State& state) {
  Fixture fixture;
  WalkTimes times;
  auto unreadAll = [&fixture] {
    for (const auto& site : fixture.sites) MarkAll(*site->rootDir, 1);
  };
  for (auto _ : state) {
    state.PauseTiming();
    unreadAll();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    fixture.headless->SetSitesRead(CDocWalk::kAllSites);
    times.headlessMs += Ms(std::chrono::steady_clock::now() - start);
    state.PauseTiming();
    unreadAll();
    state.ResumeTiming();
    state.SetIterationTime(
        std::chrono::duration<double>(RunWindowWalk(*fixture.frame, kCmdSetAllRead, times))
            .count());
    if (fixture.sites.back()->rootDir->subdirs.back()->files.back()->readState != 0) {
      state.SkipWithError("marks left");
    }
  }
  Report(state, times);
}
BENCHMARK(BM_WindowSetAllReadVsHeadless)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

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
    while (frame->walkRunner().busy()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
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

// The window's periodic marks save for one site of 1,000,000 entries whose
// catalog and marks are on disk, after one mark was cleared: the window's
// thread only hands it to the site store (save_ms, the longest hand-over of
// the runs); the store's worker writes it (store_ms, the longest write).
void BM_WindowMarksSave(benchmark::State& state) {
  QTemporaryDir temp;
  const std::filesystem::path dir = QFile::encodeName(temp.path()).toStdString();
  IDocumentHost quiet;
  COrvaneDoc doc(dir, quiet);
  doc.OnNewDocument();
  std::shared_ptr<CFTPSite> site = MakeSites(1, kTopDirs * kSites).front();
  doc.AppendSite(site);
  if (!doc.SaveSiteList() || site->SaveFiles(dir, true) != CFTPSite::SaveResult::kSaved) {
    state.SkipWithError("catalog not written");
    return;
  }
  CMarksSaver saver(doc, [&state](const QString&) { state.SkipWithError("save failed"); });
  struct Sink : ISiteStoreSink {
    CMarksSaver* saver = nullptr;
    void MarksSaved(const std::shared_ptr<CFTPSite>& saved, CFTPSite::SaveResult result,
                    const std::string& error) override {
      saver->Saved(saved, result, error);
    }
  } sink;
  sink.saver = &saver;
  // No event loop here: the store's results are run after each drain.
  std::mutex postedMutex;
  std::vector<std::function<void()>> posted;
  CSiteStore store(doc, sink, [&](std::function<void()> event) {
    std::lock_guard guard(postedMutex);
    posted.push_back(std::move(event));
  });
  doc.SetSiteStore(&store);
  double worstMs = 0;
  double storeMs = 0;
  int cleared = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // A different unread entry each time, as the user reads on.
    site->rootDir->subdirs[static_cast<std::size_t>(cleared++)]->readState = 0;
    site->stateDirty = true;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    saver.SaveNow();
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    worstMs = std::max(worstMs, Ms(end - start));
    store.Drain();
    storeMs = std::max(storeMs, Ms(std::chrono::steady_clock::now() - start));
    std::vector<std::function<void()>> events;
    {
      std::lock_guard guard(postedMutex);
      events.swap(posted);
    }
    for (auto& event : events) event();
    if (site->stateDirty) state.SkipWithError("still flagged");
  }
  doc.SetSiteStore(nullptr);
  state.counters["save_ms"] = worstMs;
  state.counters["store_ms"] = storeMs;
}
BENCHMARK(BM_WindowMarksSave)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) { return RunOffscreenBenchmarks(argc, argv); }
