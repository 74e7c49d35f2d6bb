// Locks that let several processes (the window, orvane-cli from cron) share
// one data directory.
//
// Each lock is an flock(2) on a file under <data directory>/locks, so it
// ends with the process that holds it: a crash leaves no stale lock. The
// lock files themselves are never removed (removing a locked file would let
// a second process lock a new file of the same name).
//
//   site list      held while site.ds is re-read, changed and rewritten
//   site files     held while a site's content.ct / state.st are replaced or
//                  deleted, or its data directory is moved (short)
//   site update    held for the whole update of a site, so that a second
//                  updater of the same site skips it instead of writing
//                  over the first one's catalog
//   window         held by the window for its whole life: one window per
//                  data directory
//   settings       held while orvane.conf is re-read, changed and rewritten
//   known hosts    held while the known-hosts file is re-read, changed and
//                  rewritten
//
// flock locks belong to an open file, so two holders in one process
// exclude each other as two processes do. Move-only; the destructor unlocks.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orvane {

// Identity of a stored file when it was last read or written: a writer
// compares it with the file on disk before replacing it, to find out
// whether another process replaced the file meanwhile.
struct FileIdentity {
  bool exists = false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  long long size = 0;
  long long mtimeNs = 0;

  // The identity of the file at `path` now (exists false when missing).
  static FileIdentity Of(const std::filesystem::path& path);
  static FileIdentity OfOpen(int fd);
  bool operator==(const FileIdentity&) const = default;
};

class CDataDirLock {
 public:
  enum class Kind { kSiteList, kSiteFiles, kSiteUpdate, kWindow, kSettings, kKnownHosts };

  CDataDirLock() = default;
  ~CDataDirLock();
  CDataDirLock(CDataDirLock&& other) noexcept;
  CDataDirLock& operator=(CDataDirLock&& other) noexcept;
  CDataDirLock(const CDataDirLock&) = delete;
  CDataDirLock& operator=(const CDataDirLock&) = delete;

  // Waits for the lock. `key` is the site key (ignored for kSiteList). Not
  // held when the lock file cannot be made or locked; error() says why.
  static CDataDirLock Acquire(const std::filesystem::path& programDir, Kind kind,
                              std::string_view key = {});
  // Takes the lock only when nobody holds it; busy() tells that case apart
  // from a failure.
  static CDataDirLock TryAcquire(const std::filesystem::path& programDir, Kind kind,
                                 std::string_view key = {});
  // The lock file's path.
  static std::filesystem::path PathOf(const std::filesystem::path& programDir, Kind kind,
                                      std::string_view key = {});

  bool held() const { return fd_ >= 0; }
  bool busy() const { return busy_; }
  // "<lock file>: <reason>" when the lock could not be taken.
  const std::string& error() const { return error_; }
  void Release();

 private:
  static CDataDirLock Take(const std::filesystem::path& programDir, Kind kind, std::string_view key,
                           bool wait);

  int fd_ = -1;
  bool busy_ = false;
  std::string error_;
};

}  // namespace orvane
