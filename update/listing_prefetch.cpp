#include "update/listing_prefetch.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <string_view>
#include <utility>

#include "update/crawl_trace.h"

namespace orvane {

namespace {

// How often a wait looks at the stop flag, which nobody signals.
constexpr std::chrono::milliseconds kStopPoll{50};

// The walk skips these names (update/crawler.cpp); nothing below them is
// listed ahead.
bool IsUnusableName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return true;
  return name.find_first_of(std::string_view("/\0\r\n", 4)) != std::string_view::npos;
}

std::size_t DepthOf(const std::string& path) {
  return path == "/" ? 0 : static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

std::size_t BytesOf(const PrefetchedListing& listing) {
  std::size_t bytes = sizeof(PrefetchedListing);
  for (const ListingEntry& entry : listing.entries) {
    bytes += sizeof(ListingEntry) + entry.name.size() + entry.unique.size();
  }
  return bytes;
}

}  // namespace

bool PrefetchablePath(const std::string& path) {
  return path.starts_with('/') &&
         path.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos;
}

CListingPrefetcher::CListingPrefetcher(FtpLogin login, FtpTimeouts timeouts, int extraConnections,
                                       const std::atomic<bool>& stopRequested,
                                       SessionHook registerSession,
                                       SessionRelease unregisterSession)
    : login_(std::move(login)),
      timeouts_(timeouts),
      stop_(stopRequested),
      unregister_(std::move(unregisterSession)) {
  for (int i = 0; i < extraConnections; ++i) {
    auto slot = std::make_unique<Slot>();
    slot->session = MakeListingSession(login_.protocol);
    if (!slot->session) break;
    // Registered here, on the walk's thread, so that a close of every
    // session that comes after the constructor reaches each of these.
    slot->number = i + 1;
    slot->registered = registerSession(*slot->session);
    if (!slot->registered) break;
    slots_.push_back(std::move(slot));
  }
  live_ = static_cast<int>(slots_.size());
  for (auto& slot : slots_)
    threads_.emplace_back(&CListingPrefetcher::ConnectionMain, this, slot.get());
}

CListingPrefetcher::~CListingPrefetcher() {
  {
    std::lock_guard lock(mutex_);
    closing_.store(true);
  }
  changed_.notify_all();
  for (auto& slot : slots_) slot->session->Close();
  for (std::thread& thread : threads_) thread.join();
  for (auto& slot : slots_) {
    if (slot->registered) unregister_(*slot->session);
  }
}

bool CListingPrefetcher::WalkOrder::operator()(const std::string& a, const std::string& b) const {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    if (a[i] == '/') return true;
    if (b[i] == '/') return false;
    return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

bool CListingPrefetcher::BufferFullLocked() const {
  return bufferedEntries_ >= kMaxBufferedEntries || bufferedBytes_ >= kMaxBufferedBytes;
}

void CListingPrefetcher::SetBounds(std::size_t maxDepth, std::size_t maxPathBytes,
                                   std::uint64_t maxListingEntries) {
  std::lock_guard lock(mutex_);
  maxDepth_ = maxDepth;
  maxPathBytes_ = maxPathBytes;
  maxListingEntries_ = maxListingEntries;
}

void CListingPrefetcher::Offer(const std::vector<std::string>& paths) {
  if (slots_.empty() || paths.empty()) return;
  bool queued = false;
  {
    std::lock_guard lock(mutex_);
    if (live_ == 0) return;
    for (const std::string& path : paths) {
      if (!PrefetchablePath(path) || DepthOf(path) > maxDepth_ || path.size() > maxPathBytes_ ||
          !known_.insert(path).second)
        continue;
      frontier_.insert(path);
      queued = true;
    }
  }
  // Waking every connection for nothing costs a context switch each, per
  // directory of the walk.
  if (queued) changed_.notify_all();
}

void CListingPrefetcher::LogInNow() {
  {
    std::lock_guard lock(mutex_);
    logInNow_ = true;
  }
  changed_.notify_all();
}

void CListingPrefetcher::Known(const std::string& path, const std::string& unique) {
  if (slots_.empty() || unique.empty()) return;
  std::lock_guard lock(mutex_);
  uniques_.insert_or_assign(path, unique);
}

void CListingPrefetcher::Exclude(const std::vector<std::string>& paths) {
  if (slots_.empty()) return;
  std::lock_guard lock(mutex_);
  for (const std::string& path : paths) {
    known_.insert(path);
    frontier_.erase(path);
  }
}

std::string CListingPrefetcher::NextLocked() {
  std::string path = std::move(frontier_.extract(frontier_.begin()).value());
  inProgress_.insert(path);
  return path;
}

std::string CListingPrefetcher::FarthestLocked() {
  std::string path = std::move(frontier_.extract(std::prev(frontier_.end())).value());
  inProgress_.insert(path);
  return path;
}

void CListingPrefetcher::DiscoverLocked(const std::string& path, const PrefetchedListing& listing) {
  if (!listing.result.ok()) return;
  const std::size_t depth = DepthOf(path) + 1;
  if (depth > maxDepth_) return;
  // The `unique` facts of `path` and the directories above it, as far as
  // listings here gave them.
  std::vector<const std::string*> above;
  for (std::string up = path;; up = ParentOf(up)) {
    if (auto found = uniques_.find(up); found != uniques_.end()) above.push_back(&found->second);
    if (up == "/") break;
  }
  for (const ListingEntry& entry : listing.entries) {
    if (!entry.isDirectory || entry.isLink || IsUnusableName(entry.name)) continue;
    if (!entry.unique.empty() && std::any_of(above.begin(), above.end(), [&](const std::string* u) {
          return *u == entry.unique;
        }))
      continue;
    std::string child = path;
    if (child.back() != '/') child.push_back('/');
    child.append(entry.name);
    if (child.size() > maxPathBytes_ || !PrefetchablePath(child) || known_.contains(child))
      continue;
    if (!entry.unique.empty()) uniques_.emplace(child, entry.unique);
    known_.insert(child);
    frontier_.insert(std::move(child));
  }
}

bool CListingPrefetcher::KeepLocked(std::string path, PrefetchedListing listing) {
  inProgress_.erase(path);
  // A refusal is the server's answer for the directory, whichever
  // connection asked: listing it again would only ask twice.
  if (!listing.result.ok() && listing.result.outcome != FtpOutcome::kRefused) return false;
  DiscoverLocked(path, listing);
  bufferedBytes_ += BytesOf(listing);
  bufferedEntries_ += listing.entries.size();
  done_.insert_or_assign(std::move(path), std::move(listing));
  return true;
}

PrefetchedListing CListingPrefetcher::ListOn(CListingSession& session, const std::string& path,
                                             int number) {
  std::shared_ptr<CCrawlTrace> trace;
  std::uint64_t maxEntries;
  {
    std::lock_guard lock(mutex_);
    trace = trace_;
    maxEntries = maxListingEntries_;
  }
  CTraceSpan span(trace.get(), number, "list", path);
  PrefetchedListing listing;
  listing.usesMlsd = session.usesMlsd();
  std::size_t bytes = 0;
  listing.result = session.ListDirectory(path, [&](std::span<const ListingEntry> entries) {
    if (closing_.load() || stop_.load()) return false;
    // Beyond a bound the listing is abandoned, and with it dropped.
    if (listing.entries.size() + entries.size() > maxEntries) return false;
    for (const ListingEntry& entry : entries) bytes += sizeof entry + entry.name.size();
    if (bytes > kMaxBufferedBytes) return false;
    listing.entries.insert(listing.entries.end(), entries.begin(), entries.end());
    return true;
  });
  listing.skippedLines = session.skippedLines();
  listing.skippedNames = session.skippedNames();
  return listing;
}

std::optional<PrefetchedListing> CListingPrefetcher::Take(const std::string& path,
                                                          CListingSession* helper) {
  if (slots_.empty()) return std::nullopt;
  std::unique_lock lock(mutex_);
  lastAsked_ = path;
  // Whatever happens below, the walk has this directory now.
  known_.insert(path);
  std::optional<CTraceSpan> waiting;
  for (;;) {
    if (auto found = done_.find(path); found != done_.end()) {
      PrefetchedListing listing = std::move(found->second);
      done_.erase(found);
      bufferedBytes_ -= std::min(bufferedBytes_, BytesOf(listing));
      bufferedEntries_ -= std::min(bufferedEntries_, listing.entries.size());
      ++taken_;
      lock.unlock();
      changed_.notify_all();
      return listing;
    }
    // Not listed yet: the walk is there first and lists it itself.
    if (frontier_.erase(path) > 0 || !inProgress_.contains(path) || stop_.load()) {
      return std::nullopt;
    }
    if (helper != nullptr && !frontier_.empty() && !BufferFullLocked()) {
      // Another connection is listing it: rather than wait, the walk's
      // own connection lists ahead, from the far end of the frontier. The
      // walk is stuck until that listing ends, so it takes the directory
      // the walk needs last: the near ones stay with the extra connections,
      // and a slow one among them never holds the walk before its turn.
      waiting.reset();
      std::string next = FarthestLocked();
      lock.unlock();
      PrefetchedListing listing = ListOn(*helper, next, 0);
      lock.lock();
      const FtpOutcome outcome = listing.result.outcome;
      if (!KeepLocked(next, std::move(listing)) &&
          (outcome == FtpOutcome::kTransient || outcome == FtpOutcome::kCancelled)) {
        // The walk's connection failed: its next listing of its own finds
        // that out and ends the crawl the way a failure there does.
        helper = nullptr;
      }
      lock.unlock();
      changed_.notify_all();
      lock.lock();
      continue;
    }
    if (!waiting) waiting.emplace(trace_.get(), 0, "wait", path);
    changed_.wait_for(lock, kStopPoll);
  }
}

int CListingPrefetcher::LiveConnections() const {
  std::lock_guard lock(mutex_);
  return live_;
}

std::size_t CListingPrefetcher::ListingsTaken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

std::string CListingPrefetcher::LastAsked() const {
  std::lock_guard lock(mutex_);
  return lastAsked_;
}

void CListingPrefetcher::SetTrace(std::shared_ptr<CCrawlTrace> trace) {
  std::lock_guard lock(mutex_);
  trace_ = std::move(trace);
}

void CListingPrefetcher::ConnectionMain(Slot* slot) {
  CListingSession& session = *slot->session;
  {
    // No login before there is something to list, or the crawl says that
    // there will be (LogInNow).
    std::unique_lock lock(mutex_);
    while (!closing_.load() && !stop_.load() && frontier_.empty() && !logInNow_) {
      changed_.wait_for(lock, kStopPoll);
    }
  }
  // A refused login (servers limit connections per client) or any other
  // failure only leaves the walk with fewer helpers.
  bool usable = false;
  if (!closing_.load() && !stop_.load()) {
    std::shared_ptr<CCrawlTrace> trace;
    {
      std::lock_guard lock(mutex_);
      trace = trace_;
    }
    CTraceSpan span(trace.get(), slot->number, "login", "");
    usable = session.Open(login_, timeouts_).ok();
  }
  while (usable) {
    std::string path;
    {
      std::unique_lock lock(mutex_);
      while (!closing_.load() && !stop_.load() && (frontier_.empty() || BufferFullLocked())) {
        changed_.wait_for(lock, kStopPoll);
      }
      if (closing_.load() || stop_.load()) break;
      path = NextLocked();
    }
    PrefetchedListing listing = ListOn(session, path, slot->number);
    {
      std::lock_guard lock(mutex_);
      const FtpOutcome outcome = listing.result.outcome;
      if (!KeepLocked(std::move(path), std::move(listing))) {
        // Whatever went wrong here, the walk lists the directory itself. A
        // connection that failed (time-out, drop, 421) is not used again.
        usable = outcome != FtpOutcome::kTransient && outcome != FtpOutcome::kCancelled;
      }
    }
    changed_.notify_all();
  }
  session.Close();
  {
    std::lock_guard lock(mutex_);
    --live_;
  }
  changed_.notify_all();
}

}  // namespace orvane
