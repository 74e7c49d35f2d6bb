#include "update/crawl_trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <unistd.h>

namespace orvane {

namespace {

std::atomic<unsigned> nextTraceId{1};

}  // namespace

std::shared_ptr<CCrawlTrace> CCrawlTrace::FromEnvironment() {
  const char* file = std::getenv("ORVANE_CRAWL_TRACE");
  if (file == nullptr || *file == '\0') return nullptr;
  return std::make_shared<CCrawlTrace>(file);
}

CCrawlTrace::CCrawlTrace(std::string file)
    : file_(std::move(file)), start_(Clock::now()), id_(nextTraceId.fetch_add(1)) {}

CCrawlTrace::~CCrawlTrace() {
  // Appended in one write, so that crawls of several sites that end at
  // the same time do not interleave their lines.
  std::FILE* out = std::fopen(file_.c_str(), "ab");
  if (out == nullptr) return;
  std::fwrite(lines_.data(), 1, lines_.size(), out);
  std::fclose(out);
}

void CCrawlTrace::Span(int connection, std::string_view kind, std::string_view path,
                       Clock::time_point begin, Clock::time_point end) {
  using Ms = std::chrono::duration<double, std::milli>;
  char head[96];
  const int n =
      std::snprintf(head, sizeof head, "crawl\t%d.%u\t%d\t%.*s\t%.3f\t%.3f\t",
                    static_cast<int>(::getpid()), id_, connection, static_cast<int>(kind.size()),
                    kind.data(), Ms(begin - start_).count(), Ms(end - start_).count());
  std::lock_guard lock(mutex_);
  lines_.append(head, n > 0 ? static_cast<std::size_t>(n) : 0);
  // Names are bytes; a line break in one would split the line.
  for (char c : path) lines_.push_back(c == '\n' || c == '\r' || c == '\t' ? '?' : c);
  lines_.push_back('\n');
}

}  // namespace orvane
