// One FTP site: its stored settings, its catalog and the run-time state the
// update engine and the front ends share.
//
// Ownership: the record owns its catalog root (`rootDir`). The document owns
// the records; the update engine holds a shared reference while a job for the
// site exists, so a site deleted during its update stays alive until the
// worker is done with it.
//
// Threads: the catalog is changed only under `lock`, which is never held
// across a network call or a message pump. The run-time flags are atomics.
// The status (outcome, error text, crawl counts and, with them, updateState)
// is read and written through its accessors, under its own lock, so a
// reader always sees one consistent value. The stored settings (host, login, texts) are changed
// only by the front end's thread while no update of the site runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/archive_types.h"
#include "catalog/change_journal.h"
#include "catalog/data_dir_lock.h"
#include "catalog/ftp_dir.h"
#include "catalog/name_charset.h"
#include "catalog/site_protocol.h"

namespace orvane {

class CArchiveReader;
class CArchiveWriter;

// Password stored for, sent by and identifying anonymous sites.
inline constexpr std::string_view kAnonymousPassword = "orvane@ftp.cn";
static_assert(kAnonymousPassword.size() == 13);

// Outcome of the site's last update in this run.
enum UpdateState : int {
  kNeverUpdated = 0,
  kUpdateFailed = 1,
  kUpdateSucceeded = 2,
  kUpdateStopped = 3,
  kUpdateRunning = 4,  // waiting or running
};

// What an update could not fetch. A crawl that reports "更新成功" may still
// have had to leave parts of the tree as they were stored; these counts say
// how much, so a front end can show that a catalog is incomplete. All zero
// after a complete crawl.
struct CrawlCounts {
  // Directories the server would not let us enter or list (stored subtree
  // kept), including those beyond the crawl's depth and path limits.
  std::uint32_t dirsNotEntered = 0;
  // Listings that ended early or incomplete (cut short, truncated, refused
  // for now): merged, never swept.
  std::uint32_t listingsIncomplete = 0;
  // Listing lines that could not be used (too long, not a valid entry).
  std::uint32_t namesSkipped = 0;

  bool any() const { return dirsNotEntered || listingsIncomplete || namesSkipped; }
  bool operator==(const CrawlCounts&) const = default;
};

// What a server presented that neither the system nor the site trusts
// (SiteStatus::Failure::kUntrusted): what a front end shows the user, and
// what accepting it pins.
struct PresentedKey {
  // "SHA256:<base64>" of the public key.
  std::string fingerprint;
  // The fingerprint pinned for the site before, when the server's key
  // changed from it; empty on a first use.
  std::string pinned;
  // One fact a line (subject, issuer, validity; or the SSH key's type),
  // and why it is not trusted. Server bytes: escaped before display.
  std::string details;
  std::string problem;
  // SSH: the host key as a known-hosts line holds it ("TYPE BASE64").
  std::string sshKey;
  bool operator==(const PresentedKey&) const = default;
};

// The status of a site's last (or running) update as a value. Front ends
// build their texts from it (see update/status_text.h); nothing decides by
// reading a text.
struct SiteStatus {
  enum class Outcome : int {
    kNone,           // never updated in this run
    kWaiting,        // queued
    kConnecting,     // a worker has begun
    kConnected,      // logged in, crawling
    kSucceeded,      // the crawl handled the whole tree
    kFailed,         // connection or login failed (errorText), or no worker could start
    kNoSession,      // the FTP session could not be created
    kStopped,        // a running update was stopped
    kStoppedQueued,  // a queued update was stopped before it began
    kBrokenOff,      // a transient failure broke the crawl off (errorText)
    kResuming,       // broken off (errorText), and queued again to continue
  };

  UpdateState state = kNeverUpdated;
  Outcome outcome = Outcome::kNone;
  // The server's or the system's error text (kFailed, kBrokenOff,
  // kResuming); empty otherwise.
  std::string errorText;
  // What kind of failure errorText tells of, so that a front end can say it
  // in its user's language and keep errorText (often the server's own
  // reply) as the detail.
  enum class Failure : int {
    kNone,
    kRefused,        // nothing accepts connections at the host and port
    kTimedOut,       // the server did not answer in time
    kLoginRefused,   // the server refused the user name or password
    kHostNotFound,   // the host name does not resolve
    kClosed,         // the server closed or reset the connection
    kServerError,    // the server refused a command or replied nonsense
    kBusyElsewhere,  // another process is updating the site
    kOther,
    // The server's certificate or host key is not trusted: `presented`
    // says what it was, for the user to accept or not.
    kUntrusted,
  };
  Failure failure = Failure::kNone;
  PresentedKey presented;
  CrawlCounts counts;

  bool operator==(const SiteStatus&) const = default;
};

// Catalog load state: 0 not read yet, 2 being read, 1 read (or nothing to read).
enum LoadState : int { kNotLoaded = 0, kLoaded = 1, kLoading = 2 };

class CFTPSite {
 public:
  CFTPSite();
  ~CFTPSite();
  CFTPSite(const CFTPSite&) = delete;
  CFTPSite& operator=(const CFTPSite&) = delete;

  // The host, or host "@" user name when the password is not the anonymous
  // placeholder. Names the data directory and starts every display path.
  std::string siteKey() const;
  bool IsAnonymous() const { return password == kAnonymousPassword; }

  // site.ds record: host, password, userName, port, anonymousUpdate,
  // nickname, remarks.
  ArchiveError Serialize(CArchiveReader& archive);
  void Serialize(CArchiveWriter& archive) const;

  // Directory that holds this site's files: programDir/Data/<key>, where a
  // key that is not one safe path component is mapped to one (DataDirName).
  std::filesystem::path DataDirectory(const std::filesystem::path& programDir) const;

  // Reads content.ct into the (empty) catalog. A missing or empty file
  // leaves the catalog as it is; on damage the entries before it stay. The
  // result says what stopped the read (kNone when it completed, kIo when
  // the file is there but cannot be read, e.g. no regular file). The file
  // is parsed into a tree no other thread can see, and `lock` is held only
  // to link that tree's entries under the root, so a reader of the catalog
  // never waits for the parse.
  ArchiveError LoadCatalog(const std::filesystem::path& path);
  // LoadCatalog, with state.st read into the same unseen tree before it is
  // linked (a missing state file leaves every mark 0). The catalog's result.
  ArchiveError LoadCatalogAndState(const std::filesystem::path& content,
                                   const std::filesystem::path& state);
  // What the last load found in the site's data directory. kMissing: no
  // content.ct (a site never updated); kDamaged: content.ct could not be
  // parsed to its end (the entries before the damage are kept);
  // kUnreadable: content.ct or state.st is there but cannot be read (no
  // regular file, no permission, I/O error). `reason` is "<path>: <why>"
  // for the last two.
  struct LoadResult {
    enum Kind { kOk, kMissing, kDamaged, kUnreadable };
    Kind kind = kOk;
    std::string reason;
  };
  // The load the catalog loader runs: content.ct and state.st of the
  // site's data directory as one commit (see catalog/site_files_commit.md).
  // An interrupted save found there is finished, or its leftovers removed,
  // under the site's files lock first; a pair that another process
  // replaced while it was read is read again under that lock. Sets
  // GetLoadResult(). The catalog file's result.
  ArchiveError LoadFiles(const std::filesystem::path& programDir);
  LoadResult GetLoadResult() const;
  // Reads state.st against the loaded tree. False when the file could not
  // be opened. Short files leave the rest at 0; extra values are ignored.
  bool LoadState(const std::filesystem::path& path, ArchiveError* error = nullptr);
  // Replace content.ct / state.st atomically, creating Data and the data
  // directory as needed (0700, files 0600). False when the file was not
  // written; the old file is then left intact. Nothing is written while
  // `filesIncomplete` is set. The caller must be the only thread that
  // changes this catalog while it runs.
  // `error`, when given, gets "<path>: <reason>" for a failed write.
  bool SaveCatalog(const std::filesystem::path& programDir, std::string* error = nullptr) const;
  bool SaveState(const std::filesystem::path& programDir, std::string* error = nullptr) const;
  // Both files in one walk of the catalog (a quarter faster for a large
  // one), replaced as one commit (CSiteFilesCommit): true when both were,
  // false with both old files in place.
  // With `journal` (encoded records), changes.jn gets them in the same
  // commit. `decided`, when given, says whether the commit was decided
  // (the new files and records win, see CSiteFilesCommit::decided()) even
  // when the result is false.
  bool SaveCatalogAndState(const std::filesystem::path& programDir, std::string* error = nullptr,
                           const std::vector<std::string>* journal = nullptr,
                           bool* decided = nullptr) const;

  // The save that other processes on the same data directory can live
  // with; what the update worker (withCatalog) and the closing document
  // (state only) use. Under the site's files lock (in-process and flock):
  //  - a site deleted meanwhile (`removed`, or gone from site.ds, or its
  //    catalog removed by another process) is not written again;
  //  - when another process replaced state.st since this one read it, the
  //    marks that process cleared are cleared here too before writing;
  //  - when another process replaced content.ct (it updated the site), a
  //    state-only save clears the marks this process cleared on the fresh
  //    files and writes that state, instead of writing its old view back;
  //  - a state-only save of a tree that merges changed since its catalog
  //    was last written (`catalogUnsaved`, e.g. after an update's save
  //    failed) writes both files, and one with no catalog on disk writes
  //    nothing;
  //  - an interrupted earlier save is finished or cleaned up first.
  // The caller must not hold `lock`; with `withCatalog` it must be the only
  // thread that changes the catalog.
  enum class SaveResult { kSaved, kSkipped, kFailed };
  SaveResult SaveFiles(const std::filesystem::path& programDir, bool withCatalog,
                       std::string* error = nullptr);

  // The status as one value, updateState included.
  SiteStatus Status() const;
  // A new outcome; the first form keeps updateState, the second stores it
  // with the outcome. The crawl counts stay as they are.
  void SetOutcome(SiteStatus::Outcome outcome, std::string errorText = {});
  void SetOutcome(SiteStatus::Outcome outcome, UpdateState state, std::string errorText = {},
                  SiteStatus::Failure failure = SiteStatus::Failure::kNone);
  // Failed, since the server's key is not trusted (Failure::kUntrusted).
  void SetUntrusted(PresentedKey presented, std::string errorText);
  // What the site's last (or running) update could not fetch.
  CrawlCounts GetCrawlCounts() const;
  void SetCrawlCounts(const CrawlCounts& counts);
  // "<path>: <reason>" of the last save of the site's files that failed;
  // empty after a save that worked.
  std::string SaveError() const;
  void SetSaveError(std::string text);

  // Stored settings.
  std::string host;
  std::string userName;
  std::string password;
  std::uint32_t port = 21;
  std::string nickname;
  std::string remarks;
  bool anonymousUpdate = false;
  // Protocol, start directory, key file and pin, kept in sites.opt. Set by
  // the front end's thread; read by any (an update reads it as it begins).
  SiteAccess Access() const;
  void SetAccess(SiteAccess access);
  SiteProtocol Protocol() const;
  // The port the site connects to (ConnectPort).
  std::uint16_t ConnectionPort() const { return ConnectPort(Protocol(), port); }
  // The character set of the server's names, as chosen (kAuto: decided
  // from evidence). Kept in sites.opt (catalog/site_options.h); written by
  // the front end's thread, read by any.
  std::atomic<NameCharset> charset{NameCharset::kAuto};
  // What "auto" decided for this catalog (kAuto: nothing yet): read from
  // Data/KEY/charset.txt or from the names when the catalog is loaded, and
  // decided again when an update succeeds. Shown with the site.
  std::atomic<NameCharset> decidedCharset{NameCharset::kAuto};
  // What the server's FEAT reply said about UTF-8 in this process's last
  // connection (the evidence recorded with the decision).
  std::atomic<ServerUtf8> serverUtf8{ServerUtf8::kUnknown};
  // The charset the site's names are decoded by now.
  NameCharset NameCharsetInUse() const {
    return EffectiveCharset(charset.load(std::memory_order_relaxed),
                            decidedCharset.load(std::memory_order_relaxed));
  }
  // The chosen charset, else the decided one; kAuto while nothing is
  // decided (a catalog from before decisions were recorded, not read yet).
  NameCharset KnownCharset() const {
    const NameCharset chosen = charset.load(std::memory_order_relaxed);
    return chosen != NameCharset::kAuto ? chosen : decidedCharset.load(std::memory_order_relaxed);
  }
  // The "auto" decision over the whole catalog (read under `lock`).
  NameCharset DecideCharset(ServerUtf8 server) const;

  // Catalog.
  std::unique_ptr<CFTPDir> rootDir;
  mutable std::mutex lock;
  // Held while the site's files are written or deleted, so that a save that
  // has seen `removed` clear cannot write files after a delete removed them.
  mutable std::mutex filesLock;

  // Run-time state.
  std::atomic<bool> hasNewEntries{false};
  std::atomic<bool> stateDirty{false};
  std::atomic<int> loadState{kNotLoaded};
  std::atomic<int> updateState{kNeverUpdated};
  std::atomic<int> resumePending{0};
  CFTPDir* resumeDir = nullptr;  // engine-only; never dereferenced by readers
  std::atomic<int> retryCount{0};
  // Progress of the running (or last) crawl, for front ends that show it
  // while it runs: listings read and entries they gave. A resumed crawl
  // adds to what the one that broke off counted, as the crawl counts do.
  std::atomic<std::uint64_t> dirsListed{0};
  std::atomic<std::uint64_t> entriesListed{0};
  // Set when the site leaves the document's list while a job still holds
  // it: the engine then neither saves its files nor queues it again.
  std::atomic<bool> removed{false};
  // Set by the loads when content.ct was there but could not be read in
  // full (damaged, cut short, too deep, no readable regular file), or
  // state.st could not be read (short is fine). The catalog in memory then
  // lacks what the file holds: saving it, or a state walked over it, would
  // replace the fuller file, so both files are left alone until an update
  // has listed the whole tree again (the update engine clears the flag).
  std::atomic<bool> filesIncomplete{false};

  // Set by every listing merge into the catalog and cleared by a save of
  // both files: while set, the marks in memory are positions in a tree
  // that content.ct does not hold, and are never written without it.
  std::atomic<bool> catalogUnsaved{false};

  // The changes of the running update, collected by its merges under
  // `lock` while `active`; the record is closed by EndChanges.
  struct ChangeCollector {
    bool active = false;
    JournalRecord record;
    // The counts of the last record closed, for front ends.
    std::uint64_t lastAdded = 0;
    std::uint64_t lastRemoved = 0;
    std::uint64_t lastResized = 0;
  };
  ChangeCollector changes;
  // Starts collecting: a catalog that is empty now makes the update a
  // first crawl, recorded as counts only. Takes `lock`.
  void BeginChanges();
  // Closes the running update's record and queues it for the next save of
  // the catalog. Takes `lock`.
  void EndChanges(JournalRecord::Outcome outcome);
  // Whether an update's record is open (begun and not yet ended). Takes
  // `lock`.
  bool CollectingChanges() const;
  // Records of updates whose catalog is not saved yet, oldest first, each
  // one encoded frame; written with the catalog and dropped by that
  // commit, so none is lost to a failed save. Under `lock`.
  std::vector<std::string> journalPending;
  // How much of its history the journal keeps; the document sets them from
  // the user's settings while updates may be saving. maxUpdates 0 keeps no
  // journal at all: updates then collect no changes (for measuring what
  // the journal costs; the settings never go below 1).
  JournalLimits GetJournalLimits() const {
    return {journalMaxUpdates_.load(std::memory_order_relaxed),
            journalMaxBytes_.load(std::memory_order_relaxed)};
  }
  void SetJournalLimits(const JournalLimits& limits) {
    journalMaxUpdates_.store(limits.maxUpdates, std::memory_order_relaxed);
    journalMaxBytes_.store(limits.maxBytes, std::memory_order_relaxed);
  }

  // Set while the site is in the site list on disk as this process knows
  // it (read from or written to site.ds): only then does a save look there
  // for whether another process deleted it.
  std::atomic<bool> listed{false};
  // What content.ct was when this process last read or wrote it, and the
  // bytes of state.st then: SaveFiles compares them with the files on disk
  // to find another process's changes, and the old marks tell which ones
  // were cleared since. Written by the load (before loadState becomes 1)
  // and under filesLock.
  FileIdentity contentOnDisk;
  std::string stateAtLoad;

 private:
  mutable std::mutex accessLock_;
  SiteAccess access_;
  mutable std::mutex statusLock_;
  SiteStatus::Outcome outcome_ = SiteStatus::Outcome::kNone;
  std::string errorText_;
  SiteStatus::Failure failure_ = SiteStatus::Failure::kNone;
  CrawlCounts crawlCounts_;
  PresentedKey presented_;
  std::string saveError_;
  LoadResult loadResult_;
  // The journal as this process last wrote it (identity and layout), so
  // that the next save appends without walking its frames again. Used by
  // the saves only, which run one at a time.
  mutable FileIdentity journalIdentity_;
  mutable JournalShape journalShape_;
  std::atomic<std::size_t> journalMaxUpdates_{JournalLimits{}.maxUpdates};
  std::atomic<std::size_t> journalMaxBytes_{JournalLimits{}.maxBytes};
};

// Whether a site may hold this host: not empty, and no blank, "/", "@",
// control byte or DEL, none of which any host name or address has (and "@"
// and "/" would make the site key or an ftp:// address ambiguous).
bool IsUsableSiteHost(std::string_view host);
// Ports a site may hold; the record keeps 32 bits, but no other port connects.
inline constexpr std::uint32_t kMinSitePort = 1;
inline constexpr std::uint32_t kMaxSitePort = 65535;

// The data directory name for a site key. Keys that are one safe path
// component (not empty, not "." or "..", no "/" or NUL, not starting with
// "%") are used unchanged, so existing catalogs are found; any other key
// becomes "%" followed by the key with "%", "/" and NUL percent-encoded. The
// two sets cannot meet, so the mapping is injective and never leaves Data.
std::string DataDirName(std::string_view key);

// Whether the site list at `siteList` holds a site with this key. True
// also when the file is missing or cannot be read: only a list that says
// otherwise means the site was deleted.
bool SiteListHasKey(const std::filesystem::path& siteList, std::string_view key);

// Gives `decider` every name of `root`'s tree; takes no lock (the caller
// keeps the tree unchanged).
void AddTreeNames(const CFTPDir& root, CCharsetDecider& decider);

// What runs after each commit of a site's catalog (SaveCatalogAndState),
// on the committing thread while the catalog is still as it was stored,
// with the site and its data directory: files derived from the catalog and
// kept beside it (document/find_file.h) are refreshed by it. The layer
// that makes them sets it; none by default.
using CatalogCommittedHook = void (*)(const CFTPSite& site, const std::filesystem::path& dir);
void SetCatalogCommittedHook(CatalogCommittedHook hook);

// Removes the site's files, any commit record and temporaries a crash left
// beside them, and then its data directory if nothing else is in it, under
// the site's files lock. False (with "<path>: <reason>" in `failure`) when
// a file that is there could not be removed.
bool DeleteDataDirectory(const std::filesystem::path& programDir, std::string_view key,
                         std::string* failure = nullptr);
// Moves the data directory of `oldKey` to the name of `newKey`, durably.
// An empty directory of the new name is replaced; one with anything in it
// never is. False (with "<path>: <reason>") when there was nothing to move
// or the move failed.
bool RenameDataDirectory(const std::filesystem::path& programDir, std::string_view oldKey,
                         std::string_view newKey, std::string* failure = nullptr);

}  // namespace orvane
