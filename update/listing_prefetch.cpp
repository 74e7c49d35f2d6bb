#include "update/listing_prefetch.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <utility>

namespace orvane {

namespace {

// How often a wait looks at the stop flag, which nobody signals.
constexpr std::chrono::milliseconds kStopPoll{50};

std::size_t BytesOf(const PrefetchedListing& listing) {
  std::size_t bytes = sizeof(PrefetchedListing);
  for (const ListingEntry& entry : listing.entries) {
    bytes += sizeof(ListingEntry) + entry.name.size() + entry.unique.size();
  }
  return bytes;
}

}  // namespace

bool PrefetchablePath(const std::string& path) {
  return std::none_of(path.begin(), path.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x01 && byte < 0x20;
  });
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
    slot->session = std::make_unique<CFtpSession>();
    // Registered here, on the walk's thread, so that a close of every
    // session that comes after the constructor reaches each of these.
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

bool CListingPrefetcher::BufferFullLocked() const {
  return done_.size() >= kMaxBufferedListings || bufferedBytes_ >= kMaxBufferedBytes;
}

void CListingPrefetcher::Offer(const std::vector<std::string>& paths) {
  if (slots_.empty() || paths.empty()) return;
  bool queued = false;
  {
    std::lock_guard lock(mutex_);
    if (live_ == 0) return;
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
      if (!PrefetchablePath(*it) || inProgress_.contains(*it) || done_.contains(*it)) continue;
      queue_.push_front(*it);
      queued = true;
    }
  }
  // Waking every connection for nothing costs a context switch each, per
  // directory of the walk.
  if (queued) changed_.notify_all();
}

std::optional<PrefetchedListing> CListingPrefetcher::Take(const std::string& path) {
  if (slots_.empty()) return std::nullopt;
  std::unique_lock lock(mutex_);
  lastAsked_ = path;
  while (inProgress_.contains(path) && !stop_.load()) changed_.wait_for(lock, kStopPoll);
  if (auto found = done_.find(path); found != done_.end()) {
    PrefetchedListing listing = std::move(found->second);
    done_.erase(found);
    bufferedBytes_ -= std::min(bufferedBytes_, BytesOf(listing));
    ++taken_;
    lock.unlock();
    changed_.notify_all();
    return listing;
  }
  // Still queued: the walk is there first and lists it itself.
  if (auto queued = std::find(queue_.begin(), queue_.end(), path); queued != queue_.end()) {
    queue_.erase(queued);
  }
  return std::nullopt;
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

void CListingPrefetcher::ConnectionMain(Slot* slot) {
  CFtpSession& session = *slot->session;
  {
    // No login before there is something to list: a crawl that one
    // recursive listing covers never needs the extra connections.
    std::unique_lock lock(mutex_);
    while (!closing_.load() && !stop_.load() && queue_.empty()) changed_.wait_for(lock, kStopPoll);
  }
  // A refused login (servers limit connections per client) or any other
  // failure only leaves the walk with fewer helpers.
  bool usable = !closing_.load() && !stop_.load() && session.Open(login_, timeouts_).ok();
  while (usable) {
    std::string path;
    {
      std::unique_lock lock(mutex_);
      while (!closing_.load() && !stop_.load() && (queue_.empty() || BufferFullLocked())) {
        changed_.wait_for(lock, kStopPoll);
      }
      if (closing_.load() || stop_.load()) break;
      path = std::move(queue_.front());
      queue_.pop_front();
      inProgress_.insert(path);
    }
    PrefetchedListing listing;
    listing.usesMlsd = session.usesMlsd();
    listing.result = session.ListDirectory(path, [&](std::span<const ListingEntry> entries) {
      if (closing_.load() || stop_.load()) return false;
      listing.entries.insert(listing.entries.end(), entries.begin(), entries.end());
      return true;
    });
    listing.skippedLines = session.skippedLines();
    {
      std::lock_guard lock(mutex_);
      inProgress_.erase(path);
      // A refusal is the server's answer for the directory, whichever
      // connection asked: listing it again would only ask twice.
      if (listing.result.ok() || listing.result.outcome == FtpOutcome::kRefused) {
        bufferedBytes_ += BytesOf(listing);
        done_.insert_or_assign(std::move(path), std::move(listing));
      } else {
        // Whatever went wrong here, the walk lists the directory itself. A
        // connection that failed (time-out, drop, 421) is not used again.
        const FtpOutcome outcome = listing.result.outcome;
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
