// Counters of a benchmark that times many single events (keystrokes): the
// median, the 95th percentile and the longest, in milliseconds.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace orvane::bench {

inline void ReportPercentiles(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[ms.size() * 95 / 100];
  state.counters["max_ms"] = ms.back();
}

}  // namespace orvane::bench
