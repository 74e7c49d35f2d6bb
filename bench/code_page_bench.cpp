// Throughput of the folds and decoders over a name mix like a crawled site's:
// mostly ASCII names, some GBK and some UTF-8 Chinese names.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "catalog/code_page.h"
#include "catalog/name_charset.h"
#include "document/visible_text.h"

namespace {

std::vector<std::string> MakeNames(bool gbk) {
  const std::string chinese =
      gbk ? "\xD6\xD0\xCE\xC4\xC4\xBF\xC2\xBC" : "\xE4\xB8\xAD\xE6\x96\x87\xE7\x9B\xAE\xE5\xBD\x95";
  std::vector<std::string> names;
  for (int i = 0; i < 10000; ++i) {
    std::string name = "Some_Release.Name-" + std::to_string(i);
    if (i % 5 == 0) name += chinese;
    name += i % 3 ? ".TAR.GZ" : ".txt";
    names.push_back(name);
  }
  return names;
}

std::size_t TotalBytes(const std::vector<std::string>& names) {
  std::size_t total = 0;
  for (const auto& name : names) total += name.size();
  return total;
}

void BM_FoldCp936(benchmark::State& state) {
  const auto names = MakeNames(true);
  std::string out;
  out.reserve(256);
  for (auto _ : state) {
    for (const auto& name : names) {
      orvane::FoldCp936(name, out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(names)));
}
BENCHMARK(BM_FoldCp936);

void BM_FoldUtf8(benchmark::State& state) {
  const auto names = MakeNames(false);
  std::string out;
  out.reserve(256);
  for (auto _ : state) {
    for (const auto& name : names) {
      orvane::FoldUtf8(name, out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(names)));
}
BENCHMARK(BM_FoldUtf8);

// A GBK site's names through iconv (GB18030), and a UTF-8 site's.
void BM_DecodeNameGbk(benchmark::State& state) {
  const auto names = MakeNames(true);
  for (auto _ : state) {
    for (const auto& name : names) {
      benchmark::DoNotOptimize(orvane::DecodeName(name, orvane::NameCharset::kGbk));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(names)));
}
BENCHMARK(BM_DecodeNameGbk);

void BM_DecodeNameUtf8(benchmark::State& state) {
  const auto names = MakeNames(false);
  for (auto _ : state) {
    for (const auto& name : names) {
      benchmark::DoNotOptimize(orvane::DecodeName(name, orvane::NameCharset::kUtf8));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(names)));
}
BENCHMARK(BM_DecodeNameUtf8);

// The terminal escape of orvane-cli's plain output over decoded names.
void BM_TerminalText(benchmark::State& state) {
  const auto names = MakeNames(false);
  for (auto _ : state) {
    for (const auto& name : names) benchmark::DoNotOptimize(orvane::TerminalText(name));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(names)));
}
BENCHMARK(BM_TerminalText);

}  // namespace

BENCHMARK_MAIN();
