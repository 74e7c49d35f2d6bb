// The views' costs on the offscreen platform.
//
// Targets: showing a directory of 100,000 files (the list refilled and
// painted) <= 100 ms and >= 10x faster than filling a QStandardItemModel
// with the same rows; expanding a directory with 10,000 subdirectories
// (filled and painted) <= 50 ms; the list's memory beyond the catalog <= 32
// bytes per row.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeView>
#include <memory>
#include <string>

#include "bench/offscreen_main.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "tests/support/temp_tree.h"
#include "views/dir_tree_model.h"
#include "views/dir_view.h"
#include "views/display_text.h"
#include "views/file_list_model.h"
#include "views/orvane_view.h"
#include "views/state_icons.h"

namespace orvane {
namespace {

constexpr int kFiles = 100000;
constexpr int kSubdirs = 10000;

// One site: /big with 100,000 files of a dozen kinds, /wide with 10,000
// subdirectories (each with one subdirectory of its own).
struct Catalog {
  Catalog() : doc(data.path(), host) {
    auto site = std::make_shared<CFTPSite>();
    site->host = "bench.example";
    site->password = std::string(kAnonymousPassword);
    site->loadState = kLoaded;
    CFTPDir* root = site->rootDir.get();
    big = root->AddSubdir(std::make_unique<CFTPDir>("big"));
    static const char* const kinds[] = {"txt",    "zip", "iso",  "mp3", "png", "pdf",
                                        "tar.gz", "exe", "html", "c",   "jpg", "rar"};
    for (int i = 0; i < kFiles; ++i) {
      big->AddFile(CFTPFile::Make("file" + std::to_string(i) + "." + kinds[i % 12],
                                  static_cast<std::uint64_t>(i) * 4099, i % 7 == 0));
    }
    wide = root->AddSubdir(std::make_unique<CFTPDir>("wide"));
    for (int i = 0; i < kSubdirs; ++i) {
      CFTPDir* sub = wide->AddSubdir(std::make_unique<CFTPDir>("dir" + std::to_string(i)));
      sub->AddSubdir(std::make_unique<CFTPDir>("inner"));
    }
    doc.AppendSite(std::move(site));
  }

  test::CTempTree data;
  IDocumentHost host;
  COrvaneDoc doc;
  CFTPDir* big = nullptr;
  CFTPDir* wide = nullptr;
};

Catalog& SharedCatalog() {
  static Catalog catalog;
  return catalog;
}

void BM_ShowDirectory100kFiles(benchmark::State& state) {
  Catalog& catalog = SharedCatalog();
  COrvaneView view(catalog.doc);
  view.resize(1000, 700);
  view.show();
  for (auto _ : state) {
    catalog.doc.ShowDirectory(catalog.big);
    view.ShowBrowse();
    benchmark::DoNotOptimize(view.grab());
  }
  state.counters["rows"] = view.ItemCount();
}
BENCHMARK(BM_ShowDirectory100kFiles)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// What a list of one QStandardItem per cell costs for the same rows.
void BM_ShowDirectory100kFilesStandardItemModel(benchmark::State& state) {
  Catalog& catalog = SharedCatalog();
  QTreeView view;
  view.setUniformRowHeights(true);
  view.setRootIsDecorated(false);
  view.resize(1000, 700);
  view.show();
  for (auto _ : state) {
    catalog.doc.ShowDirectory(catalog.big);
    auto model = std::make_unique<QStandardItemModel>(0, 3);
    for (const CFTPFile* file : catalog.doc.browseFiles) {
      QList<QStandardItem*> row;
      row << new QStandardItem(CStateIcons::FileIcon(file->name()), NameText(file->name(), NameCharset::kUtf8))
          << new QStandardItem(CFileListModel::FormatSize(file->size))
          << new QStandardItem(DisplayPath(file->GetDisplayPath(), NameCharset::kUtf8));
      if (file->readState) row[0]->setBackground(CFileListModel::NewRowColor());
      model->appendRow(row);
    }
    view.setModel(model.get());
    benchmark::DoNotOptimize(view.grab());
    view.setModel(nullptr);
  }
}
BENCHMARK(BM_ShowDirectory100kFilesStandardItemModel)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Expand10kSubdirs(benchmark::State& state) {
  Catalog& catalog = SharedCatalog();
  CDirView view(catalog.doc);
  view.resize(300, 700);
  view.show();
  CDirTreeModel* model = view.treeModel();
  const QModelIndex site = model->index(0, 0);
  view.expand(site);
  const QModelIndex wide = model->index(1, 0, site);
  int shown = 0;
  for (auto _ : state) {
    view.expand(wide);
    benchmark::DoNotOptimize(view.grab());
    state.PauseTiming();
    shown = model->rowCount(wide);
    view.collapse(wide);
    state.ResumeTiming();
  }
  state.counters["children"] = shown;
}
BENCHMARK(BM_Expand10kSubdirs)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The list model's own bytes per row, and the heap the list (model and
// view together) takes beyond the catalog for 100,000 rows.
void BM_ListBytesPerRow(benchmark::State& state) {
  Catalog& catalog = SharedCatalog();
  double modelBytes = 0;
  double heapBytes = 0;
  for (auto _ : state) {
    COrvaneView view(catalog.doc);
    view.resize(1000, 700);
    view.show();
    catalog.doc.ShowDirectory(catalog.big);
    view.grab();  // the empty list's own allocations come first
    malloc_trim(0);
    const std::size_t before = mallinfo2().uordblks;
    view.ShowBrowse();
    benchmark::DoNotOptimize(view.grab());
    const std::size_t after = mallinfo2().uordblks;
    modelBytes = static_cast<double>(view.listModel()->RowBytes()) / view.ItemCount();
    heapBytes = static_cast<double>(after - before) / view.ItemCount();
  }
  state.counters["model_bytes_per_row"] = modelBytes;
  state.counters["list_heap_bytes_per_row"] = heapBytes;
}
BENCHMARK(BM_ListBytesPerRow)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace orvane

int main(int argc, char** argv) { return RunOffscreenBenchmarks(argc, argv); }
