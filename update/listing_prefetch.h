// Listing directories ahead of a crawl on extra connections.
//
// A crawl walks the tree depth-first and merges one listing at a time.
// CListingPrefetcher keeps up to `extraConnections` more sessions to the
// same server, each on its own thread, that list directories ahead of the
// walk and keep the raw results: the parsed entries, the outcome and the
// count of unreadable lines. It never touches a catalog: the walk takes a
// listing when it reaches its directory and merges it itself, in the same
// order as without prefetching.
//
// What is listed ahead is a frontier: the directories the walk offers (the
// subdirectories of those it merged), and the subdirectories that the
// listings fetched here show, so the frontier grows as fast as the
// connections list, not as fast as the walk merges. The connections take
// the frontier in the walk's order (depth-first, names in byte order, as a
// new site's catalog stores them), so what the walk needs next is fetched
// first. A directory whose MLSD `unique` fact equals one of its ancestors'
// is not listed ahead (a server that follows a link to ".."), nor one
// beyond the crawl's depth and path bounds, nor a path excluded because
// another source (a recursive listing) covers it.
//
// While the walk waits for a listing under way on another connection, its
// own session (Take's `helper`) lists the next directory of the frontier,
// so every connection lists.
//
// The extra connections log in when the first directories are offered, or
// when LogInNow asks, not before: a crawl that needs none opens none. The
// crawl asks at its start when the directory has subdirectories or may have
// (a new site's root), also before a recursive listing, whose reply hands
// over the directories it cannot stand for while it still comes: logins
// that only began then would add their round trips to the crawl's.
//
// Extra connections are a help, never a cause of failure. A login that is
// refused or fails, or any failure on an extra connection (time-out, drop,
// 421), ends that connection for the rest of the crawl, and the directory
// it was listing goes back to the walk, which lists it on its own
// connection. Only listings that ended complete (kOk) or were refused
// (kRefused: the server's answer for the directory) are kept; one that
// ended incomplete is listed again by the walk, on a connection that goes
// on listing.
//
// Buffered listings are bounded by their entries and bytes
// (kMaxBufferedEntries, kMaxBufferedBytes), not by their number; a
// connection waits while the buffer is full. The destructor closes every
// extra session, joins the threads and throws away what was not taken.
//
// Threads: Offer, Exclude, Take and the destructor belong to the walk's
// thread. The sessions are handed to `registerSession` before they log in,
// so that whoever closes every session of the site (program exit) breaks
// their blocked calls; a false return (a stop came first) leaves the
// session unused. `unregisterSession` is called before a session is
// destroyed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "update/listing_session.h"

namespace orvane {

class CCrawlTrace;

// One directory's listing as an extra connection fetched it.
struct PrefetchedListing {
  FtpResult result;
  std::vector<ListingEntry> entries;
  std::size_t skippedLines = 0;
  SkippedNames skippedNames;
  bool usesMlsd = false;
};

class CListingPrefetcher {
 public:
  static constexpr std::size_t kMaxBufferedEntries = 1000000;
  static constexpr std::size_t kMaxBufferedBytes = std::size_t{64} << 20;

  using SessionHook = std::function<bool(CListingSession&)>;
  using SessionRelease = std::function<void(CListingSession&)>;

  CListingPrefetcher(FtpLogin login, FtpTimeouts timeouts, int extraConnections,
                     const std::atomic<bool>& stopRequested, SessionHook registerSession,
                     SessionRelease unregisterSession);
  ~CListingPrefetcher();
  CListingPrefetcher(const CListingPrefetcher&) = delete;
  CListingPrefetcher& operator=(const CListingPrefetcher&) = delete;

  // Adds `paths` (absolute) to the frontier, unless they were offered,
  // listed or excluded before.
  void Offer(const std::vector<std::string>& paths);
  // Has the extra connections log in now rather than with the first
  // offer, for a crawl that will need them (the login then overlaps the
  // walk's first listing).
  void LogInNow();
  // The `unique` fact (MLSD) of `path` as the walk knows it: a directory
  // below `path` that shows it again is a link back up and is not listed
  // ahead. Empty: nothing known.
  void Known(const std::string& path, const std::string& unique);
  // Never lists `paths` ahead: the walk has their listings from elsewhere.
  void Exclude(const std::vector<std::string>& paths);
  // Depth (from the root, the root is 0) and path length beyond which the
  // walk lists nothing; nothing deeper is listed ahead either.
  // A listing longer than `maxListingEntries` entries, or than
  // kMaxBufferedBytes, is given up here (the walk lists it itself, within
  // its own bounds), so that no listing held here grows without end.
  void SetBounds(std::size_t maxDepth, std::size_t maxPathBytes,
                 std::uint64_t maxListingEntries = UINT64_MAX);

  // The listing of `path` when a connection here fetched it (kOk or
  // kRefused). A listing under way is waited for (or until the stop flag is
  // set), with `helper`, when given, listing the frontier meanwhile; a path
  // not yet listed is withdrawn. Empty: the walk lists `path` itself.
  // `helper` is the walk's own session, used only from inside this call.
  std::optional<PrefetchedListing> Take(const std::string& path, CListingSession* helper = nullptr);

  // Records what each extra connection does (connections 1..N) from now
  // on; null stops that. Kept until the destructor, also by a connection
  // that is listing when it is replaced.
  void SetTrace(std::shared_ptr<CCrawlTrace> trace);

  // Extra connections still in use (logged in or logging in).
  int LiveConnections() const;
  // Listings handed to the walk so far.
  std::size_t ListingsTaken() const;
  // The path of the walk's last Take: where the walk is, for whoever
  // watches its progress from another thread.
  std::string LastAsked() const;

 private:
  struct Slot {
    std::unique_ptr<CListingSession> session;
    bool registered = false;
    int number = 0;  // 1.. in the trace
  };
  // Depth-first order of paths: "/" sorts before every other byte, so a
  // directory's subtree comes right after it.
  struct WalkOrder {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  void ConnectionMain(Slot* slot);
  bool BufferFullLocked() const;
  // Takes the first directory of the frontier (the caller holds the lock
  // and has checked there is one).
  std::string NextLocked();
  // The frontier's last directory in walk order, marked in progress.
  std::string FarthestLocked();
  PrefetchedListing ListOn(CListingSession& session, const std::string& path, int number);
  // Keeps a listing for the walk and adds the subdirectories it shows to
  // the frontier. False: the listing is not kept (the walk lists the
  // directory itself).
  bool KeepLocked(std::string path, PrefetchedListing listing);
  void DiscoverLocked(const std::string& path, const PrefetchedListing& listing);

  FtpLogin login_;
  FtpTimeouts timeouts_;
  const std::atomic<bool>& stop_;
  SessionRelease unregister_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> closing_{false};
  std::set<std::string, WalkOrder> frontier_;
  // Every path offered, found, excluded or asked for by the walk: none is
  // listed twice.
  std::unordered_set<std::string> known_;
  // The `unique` fact of each directory found in a listing here (MLSD).
  std::unordered_map<std::string, std::string> uniques_;
  std::unordered_set<std::string> inProgress_;
  std::unordered_map<std::string, PrefetchedListing> done_;
  std::size_t bufferedBytes_ = 0;
  std::size_t bufferedEntries_ = 0;
  std::size_t maxDepth_ = SIZE_MAX;
  std::size_t maxPathBytes_ = SIZE_MAX;
  std::uint64_t maxListingEntries_ = UINT64_MAX;
  int live_ = 0;
  bool logInNow_ = false;
  std::size_t taken_ = 0;
  std::string lastAsked_;
  std::shared_ptr<CCrawlTrace> trace_;

  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<std::thread> threads_;
};

// Whether a path can be listed at all: absolute, and no byte a session
// refuses to send (NUL, CR, LF). Other control bytes are entered with a
// quoted CWD, on an extra connection as on the walk's.
bool PrefetchablePath(const std::string& path);

}  // namespace orvane
