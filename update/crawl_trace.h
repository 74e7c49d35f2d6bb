// An opt-in timeline of one crawl: what each connection did and when.
//
// With ORVANE_CRAWL_TRACE=FILE in the environment, every crawl appends its
// timeline to FILE when it ends; without it no trace is made and the crawl
// pays nothing. One line per span, tab-separated:
//
//     crawl <pid>.<n> <connection> <kind> <start ms> <end ms> <path>
//
// (<pid>.<n>: the n-th crawl of process pid).
// Times are milliseconds from the start of that crawl (steady clock).
// Connection 0 is the walk's own, 1.. the extra ones (CListingPrefetcher).
// Kinds:
//   login    an extra connection logging in
//   list     one directory listed on this connection
//   listR    a recursive listing ("LIST -R") on the walk's connection
//   facts    an MLST for a directory's `unique` fact
//   wait     the walk waiting for a listing another connection is fetching
// The time of a connection between spans is idle (or, for the walk, spent
// merging). tools/crawl_trace_summary.py turns a trace into per-connection
// figures.
//
// Threads: Span may be called from any thread; the lines are kept in memory
// and written once, by the destructor, so that tracing does not slow the
// crawl it measures.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace orvane {

class CCrawlTrace {
 public:
  using Clock = std::chrono::steady_clock;

  // A trace when ORVANE_CRAWL_TRACE names a file, else null.
  static std::shared_ptr<CCrawlTrace> FromEnvironment();

  explicit CCrawlTrace(std::string file);
  ~CCrawlTrace();
  CCrawlTrace(const CCrawlTrace&) = delete;
  CCrawlTrace& operator=(const CCrawlTrace&) = delete;

  void Span(int connection, std::string_view kind, std::string_view path, Clock::time_point begin,
            Clock::time_point end);

 private:
  std::string file_;
  Clock::time_point start_;
  unsigned id_;
  std::mutex mutex_;
  std::string lines_;
};

// Records one span from its construction to its destruction; does nothing
// without a trace.
class CTraceSpan {
 public:
  CTraceSpan(CCrawlTrace* trace, int connection, std::string_view kind, std::string_view path)
      : trace_(trace), connection_(connection), kind_(kind), path_(trace ? path : "") {
    if (trace_) begin_ = CCrawlTrace::Clock::now();
  }
  ~CTraceSpan() {
    if (trace_) trace_->Span(connection_, kind_, path_, begin_, CCrawlTrace::Clock::now());
  }
  CTraceSpan(const CTraceSpan&) = delete;
  CTraceSpan& operator=(const CTraceSpan&) = delete;

 private:
  CCrawlTrace* trace_;
  int connection_;
  std::string_view kind_;
  std::string_view path_;
  CCrawlTrace::Clock::time_point begin_;
};

}  // namespace orvane
