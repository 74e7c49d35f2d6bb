// Importing a 10,000-line ftp:// list into a site list that already holds
// 1,000 sites, a tenth of the lines repeating a login seen before; site.ds
// is written once at the end, as the command does.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"

namespace orvane {
namespace {

constexpr int kLines = 10000;
constexpr int kExisting = 1000;

void BM_Import(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvane-import-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::filesystem::path dir = pattern;
  const std::filesystem::path list = dir / "list.txt";
  {
    std::ofstream out(list, std::ios::binary);
    for (int i = 0; i < kLines; ++i) {
      // Every tenth line repeats an earlier login with another password.
      const int n = i % 10 == 9 ? i - 9 : i;
      out << "ftp://user" << n << ":pw" << i << "@host" << n % 997 << ".example.com:21"
          << (i % 3 ? "\r\n" : "\n");
    }
  }
  IDocumentHost host;
  std::size_t sites = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto doc = std::make_unique<COrvaneDoc>(dir, host);
    for (int i = 0; i < kExisting; ++i) {
      auto site = std::make_shared<CFTPSite>();
      site->host = "old" + std::to_string(i) + ".example.com";
      site->userName = "anonymous";
      site->password = kAnonymousPassword;
      doc->AppendSite(std::move(site));
    }
    state.ResumeTiming();
    doc->ImportSites(list);
    sites = doc->sites().size();
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.counters["sites"] = static_cast<double>(sites);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_Import)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
