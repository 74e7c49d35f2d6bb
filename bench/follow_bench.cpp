// Following a finished update in the open views: the window-thread time from
// the update's final status to views that show the catalog (the tree's
// shown items and the list's rows taken again in place), as
// CCatalogFollower::CatalogChanged does it.
//
// Target: a site of 100,000 entries (90,000 files in the listed directory,
// 10,000 subdirectories expanded in the tree) <= 50 ms, for an update that
// appended a few entries and changed every size.
#include <benchmark/benchmark.h>

#include <memory>
#include <mutex>
#include <string>

#include "bench/offscreen_main.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/catalog_reload.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "tests/support/temp_tree.h"
#include "views/dir_tree_model.h"
#include "views/dir_view.h"
#include "views/orvane_view.h"

namespace orvane {
namespace {

constexpr int kFiles = 90000;
constexpr int kSubdirs = 10000;

void BM_FollowUpdateOf100kEntrySite(benchmark::State& state) {
  test::CTempTree data;
  IDocumentHost host;
  COrvaneDoc doc(data.path(), host);
  auto owned = std::make_shared<CFTPSite>();
  owned->host = "bench.example";
  owned->password = std::string(kAnonymousPassword);
  owned->loadState = kLoaded;
  CFTPSite& site = *owned;
  CFTPDir* big = site.rootDir->AddSubdir(std::make_unique<CFTPDir>("big"));
  for (int i = 0; i < kFiles; ++i) {
    big->AddFile(CFTPFile::Make("file" + std::to_string(i) + ".bin", 4099));
  }
  CFTPDir* wide = site.rootDir->AddSubdir(std::make_unique<CFTPDir>("wide"));
  for (int i = 0; i < kSubdirs; ++i) {
    wide->AddSubdir(std::make_unique<CFTPDir>("dir" + std::to_string(i)));
  }
  doc.AppendSite(std::move(owned));

  CDirView tree(doc);
  tree.ReloadSites();
  tree.resize(300, 700);
  tree.show();
  const QModelIndex siteItem = tree.treeModel()->index(0, 0);
  tree.expand(siteItem);
  tree.expand(tree.treeModel()->index(1, 0, siteItem));
  COrvaneView list(doc);
  list.resize(1000, 700);
  list.show();
  doc.RecordStep(big);
  doc.ShowDirectory(big);
  list.ShowBrowse();
  list.selectionModel()->select(list.model()->index(kFiles / 2, 0),
                                QItemSelectionModel::Select | QItemSelectionModel::Rows);

  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      // What an update merged: every size, and a few new entries.
      std::lock_guard guard(site.lock);
      for (const auto& file : big->files) file->size.fetch_add(1);
      for (int i = 0; i < 10; ++i) {
        const std::string name = "new" + std::to_string(round) + "_" + std::to_string(i);
        big->AddFile(CFTPFile::Make(name + ".bin", 1, 1));
        wide->AddSubdir(std::make_unique<CFTPDir>(name, 1));
      }
    }
    ++round;
    state.ResumeTiming();
    tree.FollowCatalog(&site);
    doc.ShowDirectory(big);
    list.FollowBrowse();
  }
  state.counters["rows"] = list.ItemCount();
  state.counters["treeItems"] = tree.treeModel()->rowCount(tree.treeModel()->index(1, 0, siteItem));
}
BENCHMARK(BM_FollowUpdateOf100kEntrySite)->Unit(benchmark::kMillisecond)->Iterations(30);

// Taking over another process's commit of the same site: the window
// thread's part, the merge of the files (read beside it) into the loaded
// catalog, before the views follow. Target <= 50 ms with the above.
void BM_ReloadCommitOf100kEntrySite(benchmark::State& state) {
  test::CTempTree data;
  IDocumentHost quiet;
  COrvaneDoc other(data.path(), quiet);
  auto theirs = std::make_shared<CFTPSite>();
  theirs->host = "bench.example";
  theirs->userName = "anonymous";
  theirs->password = std::string(kAnonymousPassword);
  other.AppendSite(theirs);
  if (!other.SaveSiteList()) state.SkipWithError("site.ds");
  CFTPDir* big = theirs->rootDir->AddSubdir(std::make_unique<CFTPDir>("big"));
  for (int i = 0; i < kFiles; ++i) {
    big->AddFile(CFTPFile::Make("file" + std::to_string(i) + ".bin", 4099));
  }
  CFTPDir* wide = theirs->rootDir->AddSubdir(std::make_unique<CFTPDir>("wide"));
  for (int i = 0; i < kSubdirs; ++i) {
    wide->AddSubdir(std::make_unique<CFTPDir>("dir" + std::to_string(i)));
  }
  if (!theirs->SaveCatalogAndState(data.path())) state.SkipWithError("content.ct");
  COrvaneDoc mine(data.path(), quiet);
  mine.OnNewDocument();
  CFTPSite& site = *mine.sites().front();
  mine.EnsureCatalogLoaded(site);
  for (auto _ : state) {
    state.PauseTiming();
    big->files.front()->size.fetch_add(1);
    if (!theirs->SaveCatalogAndState(data.path())) state.SkipWithError("content.ct");
    // Read on a thread of its own in the window; only the merge is timed.
    const std::unique_ptr<CFTPSite> fresh = ReadCatalogFiles(data.path(), SiteSettings::Of(site));
    if (!fresh) state.SkipWithError("read");
    state.ResumeTiming();
    if (MergeCatalogFiles(mine, site, *fresh) != CatalogReload::kReloaded) {
      state.SkipWithError("merge");
    }
  }
}
BENCHMARK(BM_ReloadCommitOf100kEntrySite)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace orvane

int main(int argc, char** argv) { return RunOffscreenBenchmarks(argc, argv); }
