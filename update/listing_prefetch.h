// Listing directories ahead of a crawl on extra connections.
//
// A crawl walks the tree depth-first on one connection, one listing at a
// time. CListingPrefetcher keeps up to `extraConnections` more sessions to
// the same server, each on its own thread, which list the directories the
// walk will come to next (the subdirectories of the directories it has
// listed, nearest first) and keep the raw results: the parsed entries, the
// outcome and the count of unreadable lines. It never touches a catalog:
// the walk takes a listing when it reaches its directory and merges it
// itself, in the same order as without prefetching.
//
// The extra connections log in when the first directories are offered, not
// before: a crawl that needs none opens none.
//
// Extra connections are a help, never a cause of failure. A login that is
// refused or fails, or any failure on an extra connection (time-out, drop,
// 421), ends that connection for the rest of the crawl, and the directory
// it was listing goes back to the walk, which lists it on its own
// connection. Only listings that ended complete (kOk) or were refused
// (kRefused: the server's answer for the directory) are kept; one that
// ended incomplete is listed again by the walk, on a connection that goes
// on listing. Paths holding control bytes (entered
// with a quoted CWD) are never offered.
//
// Buffered listings are bounded (kMaxBufferedListings, kMaxBufferedBytes);
// a connection waits while the buffer is full. The destructor closes every
// extra session, joins the threads and throws away what was not taken.
//
// Threads: Offer, Take and the destructor belong to the walk's thread.
// The sessions are handed to `registerSession` before they log in, so that
// whoever closes every session of the site (program exit) breaks their
// blocked calls; a false return (a stop came first) leaves the session
// unused. `unregisterSession` is called before a session is destroyed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "update/ftp_session.h"

namespace orvane {

// One directory's listing as an extra connection fetched it.
struct PrefetchedListing {
  FtpResult result;
  std::vector<ListingEntry> entries;
  std::size_t skippedLines = 0;
  bool usesMlsd = false;
};

class CListingPrefetcher {
 public:
  static constexpr std::size_t kMaxBufferedListings = 10000;
  static constexpr std::size_t kMaxBufferedBytes = std::size_t{64} << 20;

  using SessionHook = std::function<bool(CFtpSession&)>;
  using SessionRelease = std::function<void(CFtpSession&)>;

  CListingPrefetcher(FtpLogin login, FtpTimeouts timeouts, int extraConnections,
                     const std::atomic<bool>& stopRequested, SessionHook registerSession,
                     SessionRelease unregisterSession);
  ~CListingPrefetcher();
  CListingPrefetcher(const CListingPrefetcher&) = delete;
  CListingPrefetcher& operator=(const CListingPrefetcher&) = delete;

  // Queues `paths` (absolute, in the order the walk will reach them) ahead
  // of everything queued before: they come sooner in a depth-first walk.
  void Offer(const std::vector<std::string>& paths);

  // The listing of `path` when an extra connection fetched it (kOk or
  // kRefused). A listing under way is waited for (or until the stop flag is
  // set); a path still queued is withdrawn. Empty: the walk lists `path`
  // itself.
  std::optional<PrefetchedListing> Take(const std::string& path);

  // Extra connections still in use (logged in or logging in).
  int LiveConnections() const;
  // Listings handed to the walk so far.
  std::size_t ListingsTaken() const;
  // The path of the walk's last Take: where the walk is, for whoever
  // watches its progress from another thread.
  std::string LastAsked() const;

 private:
  struct Slot {
    std::unique_ptr<CFtpSession> session;
    bool registered = false;
  };
  void ConnectionMain(Slot* slot);
  bool BufferFullLocked() const;

  FtpLogin login_;
  FtpTimeouts timeouts_;
  const std::atomic<bool>& stop_;
  SessionRelease unregister_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> closing_{false};
  std::deque<std::string> queue_;
  std::unordered_set<std::string> inProgress_;
  std::unordered_map<std::string, PrefetchedListing> done_;
  std::size_t bufferedBytes_ = 0;
  int live_ = 0;
  std::size_t taken_ = 0;
  std::string lastAsked_;

  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<std::thread> threads_;
};

// Whether a path can be listed on an extra connection (no control bytes,
// which only the walk's own quoted CWD can enter).
bool PrefetchablePath(const std::string& path);

}  // namespace orvane
