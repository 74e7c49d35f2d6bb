// The Changes view's costs on the offscreen platform.
//
// Target: 100,000 change rows (100 updates of 1,000 entries, every update
// expanded) shown in at most 100 ms: the model takes the updates, the tree
// expands them and paints. Also: a kind filter over the same rows, and the
// reader's parse of a journal of that size (off the window's thread).
#include <benchmark/benchmark.h>

#include <QTreeView>
#include <string>
#include <vector>

#include "bench/offscreen_main.h"
#include "catalog/change_journal.h"
#include "document/watch_words.h"
#include "frame/changes_model.h"

namespace orvane {
namespace {

constexpr int kUpdates = 100;
constexpr int kEntriesPerUpdate = 1000;

std::vector<ChangeUpdate> MakeUpdates() {
  std::vector<ChangeUpdate> updates;
  for (int u = 0; u < kUpdates; ++u) {
    ChangeUpdate update;
    update.siteKey = "site" + std::to_string(u % 8) + ".example";
    update.siteLabel = QString::fromStdString(update.siteKey);
    update.record.endTime = 1'700'000'000 - u * 3600;
    update.record.startTime = update.record.endTime - 60;
    for (int e = 0; e < kEntriesPerUpdate; ++e) {
      JournalEntry entry;
      entry.kind = static_cast<JournalEntry::Kind>(1 + e % 3);
      entry.path = "/pub/releases/dir" + std::to_string(e / 50) + "/file" + std::to_string(e) +
                   (e % 2 ? ".iso" : ".tar.gz");
      entry.size = static_cast<std::uint64_t>(e) * 4099;
      entry.oldSize = entry.size / 2;
      update.record.entries.push_back(std::move(entry));
    }
    update.record.added = update.record.removed = update.record.resized = kEntriesPerUpdate / 3;
    update.watched.assign(kEntriesPerUpdate, false);
    for (int e = 0; e < kEntriesPerUpdate; e += 30)
      update.watched[static_cast<std::size_t>(e)] = true;
    update.watchMatches = kEntriesPerUpdate / 30;
    updates.push_back(std::move(update));
  }
  return updates;
}

void BM_ShowChanges100kRows(benchmark::State& state) {
  const std::vector<ChangeUpdate> updates = MakeUpdates();
  CChangesModel model;
  QTreeView view;
  view.setUniformRowHeights(true);
  view.setModel(&model);
  view.resize(1000, 700);
  view.show();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<ChangeUpdate> copy = updates;
    model.SetUpdates({});
    state.ResumeTiming();
    model.SetUpdates(std::move(copy));
    view.expandAll();
    benchmark::DoNotOptimize(view.grab());
  }
  state.counters["rows"] = static_cast<double>(model.EntryRowCount());
}
BENCHMARK(BM_ShowChanges100kRows)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FilterChanges100kRows(benchmark::State& state) {
  CChangesModel model;
  model.SetUpdates(MakeUpdates());
  QTreeView view;
  view.setUniformRowHeights(true);
  view.setModel(&model);
  view.resize(1000, 700);
  view.show();
  CChangesModel::Filter filter;
  for (auto _ : state) {
    filter.removed = !filter.removed;
    model.SetFilter(filter);
    view.expandAll();
    benchmark::DoNotOptimize(view.grab());
  }
}
BENCHMARK(BM_FilterChanges100kRows)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The reader's share: a journal of 100 updates of 1,000 entries parsed and
// its added entries matched against three watch words.
void BM_ReadJournal100kEntries(benchmark::State& state) {
  std::vector<std::string> frames;
  for (ChangeUpdate& update : MakeUpdates()) frames.push_back(EncodeJournalRecord(update.record));
  const std::string bytes = RewriteJournal({}, frames, {});
  for (auto _ : state) {
    CWatchWords words({"file7", "*.iso", "dir1?"});
    std::size_t matches = 0;
    for (const JournalRecord& record : ReadJournal(bytes)) matches += words.CountMatches(record);
    benchmark::DoNotOptimize(matches);
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ReadJournal100kEntries)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace orvane

int main(int argc, char** argv) { return RunOffscreenBenchmarks(argc, argv); }
