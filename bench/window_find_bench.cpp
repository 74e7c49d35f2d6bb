// The window's find bar over a data directory made by find_bench
// (ORVANE_FIND_BENCH_DIR, 1,000,000 entries by default; with
// ORVANE_FIND_BENCH_SCALE=10 as find_bench made it, 10,000,000): each keystroke
// typed into the bar with a real key event, timed from the key press to the
// list holding that keystroke's hits (parse, the worker's search, result
// lists, model), as the 50th and 95th percentile and the longest. The window's painting
// of the rows that show comes after and is not counted.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/offscreen_main.h"
#include "bench/percentiles.h"
#include "frame/find_bar.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"

namespace {

using namespace orvane;

CMainFrame& Frame() {
  static CMainFrame* frame = [] {
    const char* dir = std::getenv("ORVANE_FIND_BENCH_DIR");
    auto* made = new CMainFrame(dir ? dir : "/tmp/orvane-find-bench");
    made->OpenDocument();
    made->show();
    if (!QTest::qWaitForWindowActive(made)) std::abort();
    QTest::keyClick(made, Qt::Key_K, Qt::ControlModifier);
    // Every catalog read and indexed before the first keystroke.
    const auto begun = std::chrono::steady_clock::now();
    const char* scale = std::getenv("ORVANE_FIND_BENCH_SCALE");
    const std::size_t entries = 1'000'000 * std::size_t(scale ? std::max(1, std::atoi(scale)) : 1);
    while (made->findBar()->index().EntryCount() < entries &&
           std::chrono::steady_clock::now() - begun < std::chrono::minutes(10)) {
      QTest::qWait(20);
    }
    return made;
  }();
  return *frame;
}

void Type(benchmark::State& state, const std::vector<QString>& queries) {
  CMainFrame& frame = Frame();
  auto* edit = frame.findChild<QLineEdit*>(QStringLiteral("findEdit"));
  std::vector<double> times;
  for (auto _ : state) {
    for (const QString& query : queries) {
      edit->clear();
      for (const QChar c : query) {
        const auto start = std::chrono::steady_clock::now();
        QTest::keyClick(edit, c.toLatin1());
        // Answered on a worker: until its hits are in the list.
        while (frame.findBar()->answering()) {
          QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (std::getenv("ORVANE_FIND_BENCH_TRACE")) {
          auto* status = frame.findChild<QLabel*>(QStringLiteral("findStatus"));
          std::fprintf(stderr, "%8.2f ms  %s  [%s]\n", times.back(), qPrintable(edit->text()),
                       qPrintable(status->text()));
        }
      }
    }
  }
  bench::ReportPercentiles(state, times);
  state.counters["rows"] = frame.fileView().model()->rowCount();
}

void BM_BarWords(benchmark::State& state) {
  Type(state, {QStringLiteral("needle"), QStringLiteral("linux kernel"),
               QStringLiteral("release -src"), QStringLiteral("\"music-video\"")});
}
BENCHMARK(BM_BarWords)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BarFilters(benchmark::State& state) {
  Type(state, {QStringLiteral("ext:iso"), QStringLiteral("size:>1G"), QStringLiteral("new:"),
               QStringLiteral("site:site3.example")});
}
BENCHMARK(BM_BarFilters)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BarMixed(benchmark::State& state) {
  Type(state, {QStringLiteral("linux ext:iso size:>1M"), QStringLiteral("(photo | video) -zip"),
               QStringLiteral("*.pdf site:site1.*")});
}
BENCHMARK(BM_BarMixed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) { return RunOffscreenBenchmarks(argc, argv); }
