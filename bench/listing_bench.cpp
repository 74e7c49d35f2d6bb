// Listing parse throughput: a 40,000-line listing fed to the splitter in the
// 16 KiB chunks libcurl delivers, in the LIST forms a crawl meets most and in
// MLSD. Items per second are lines per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "update/listing_parser.h"

namespace {

constexpr int kLines = 40000;
constexpr std::size_t kChunk = 16384;

std::string UnixListing() {
  std::string out = "total 160000\r\n";
  for (int i = 0; i < kLines; ++i) {
    const bool dir = i % 20 == 0;
    out +=
        dir ? "drwxr-xr-x    2 ftp      ftp          4096 " : "-rw-r--r--    1 ftp      ftp      ";
    if (!dir) out += std::to_string(1000 + static_cast<long long>(i) * 7919);
    out += i % 3 == 0 ? " Mar 05  2019 " : " Dec  7 08:55 ";
    out += dir ? "directory " : "file name ";
    out += std::to_string(i);
    out += i % 2 == 0 ? ".tar.gz\r\n" : ".txt\r\n";
  }
  return out;
}

std::string DosListing() {
  std::string out;
  for (int i = 0; i < kLines; ++i) {
    out += "05-26-95  10:57AM       ";
    out += i % 20 == 0 ? "<DIR>          " : "        143712 ";
    out += "entry " + std::to_string(i) + ".dat\r\n";
  }
  return out;
}

std::string MlsdListing() {
  std::string out = "type=cdir;modify=20190305100000;perm=el;unique=fe00g1; /pub\r\n";
  for (int i = 0; i < kLines; ++i) {
    const bool dir = i % 20 == 0;
    out += "modify=20190305100000;perm=";
    out += dir ? "el;size=4096;type=dir" : "r;size=" + std::to_string(1000 + i) + ";type=file";
    out += ";unique=fe00ga" + std::to_string(i) + "; entry " + std::to_string(i) + "\r\n";
  }
  return out;
}

void Split(benchmark::State& state, const std::string& listing, orvane::ListingFormat format) {
  orvane::CListingSplitter splitter(format);
  std::uint64_t total = 0;
  std::size_t entries = 0;
  for (auto _ : state) {
    entries = 0;
    auto onEntry = [&](const orvane::ListingEntry& e) {
      total += e.size + e.name.size();
      ++entries;
    };
    for (std::size_t at = 0; at < listing.size(); at += kChunk) {
      splitter.Feed(listing.data() + at, std::min(kChunk, listing.size() - at), onEntry);
    }
    splitter.Finish(onEntry);
    benchmark::DoNotOptimize(total);
  }
  if (entries != static_cast<std::size_t>(kLines)) state.SkipWithError("wrong entry count");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kLines);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * listing.size()));
}

void BM_SplitUnixListing(benchmark::State& state) {
  static const std::string listing = UnixListing();
  Split(state, listing, orvane::ListingFormat::kList);
}
BENCHMARK(BM_SplitUnixListing)->Unit(benchmark::kMillisecond);

void BM_SplitDosListing(benchmark::State& state) {
  static const std::string listing = DosListing();
  Split(state, listing, orvane::ListingFormat::kList);
}
BENCHMARK(BM_SplitDosListing)->Unit(benchmark::kMillisecond);

void BM_SplitMlsdListing(benchmark::State& state) {
  static const std::string listing = MlsdListing();
  Split(state, listing, orvane::ListingFormat::kMlsd);
}
BENCHMARK(BM_SplitMlsdListing)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
