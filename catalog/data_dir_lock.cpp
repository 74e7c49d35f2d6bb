#include "catalog/data_dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "catalog/ftp_site.h"

namespace orvane {

namespace {

FileIdentity FromStat(const struct stat& info) {
  FileIdentity identity;
  identity.exists = true;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = info.st_size;
  identity.mtimeNs =
      static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec;
  return identity;
}

}  // namespace

FileIdentity FileIdentity::Of(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return FromStat(info);
}

FileIdentity FileIdentity::OfOpen(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return {};
  return FromStat(info);
}

CDataDirLock::~CDataDirLock() { Release(); }

CDataDirLock::CDataDirLock(CDataDirLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), busy_(other.busy_), error_(std::move(other.error_)) {}

CDataDirLock& CDataDirLock::operator=(CDataDirLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    busy_ = other.busy_;
    error_ = std::move(other.error_);
  }
  return *this;
}

void CDataDirLock::Release() {
  // Closing the only descriptor of the open file ends its flock.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::filesystem::path CDataDirLock::PathOf(const std::filesystem::path& programDir, Kind kind,
                                           std::string_view key) {
  const std::filesystem::path dir = programDir / "locks";
  switch (kind) {
    case Kind::kSiteList:
      return dir / "site.ds";
    case Kind::kSiteFiles:
      return dir / (DataDirName(key) + ".files");
    case Kind::kWindow:
      return dir / "window";
    case Kind::kSettings:
      return dir / "orvane.conf";
    case Kind::kKnownHosts:
      return dir / "known_hosts";
    case Kind::kSiteUpdate:
      break;
  }
  return dir / (DataDirName(key) + ".update");
}

CDataDirLock CDataDirLock::Acquire(const std::filesystem::path& programDir, Kind kind,
                                   std::string_view key) {
  return Take(programDir, kind, key, true);
}

CDataDirLock CDataDirLock::TryAcquire(const std::filesystem::path& programDir, Kind kind,
                                      std::string_view key) {
  return Take(programDir, kind, key, false);
}

CDataDirLock CDataDirLock::Take(const std::filesystem::path& programDir, Kind kind,
                                std::string_view key, bool wait) {
  CDataDirLock lock;
  const std::filesystem::path path = PathOf(programDir, kind, key);
  if (::mkdir(path.parent_path().c_str(), 0700) != 0 && errno != EEXIST) {
    lock.error_ = path.parent_path().string() + ": " + std::strerror(errno);
    return lock;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    lock.error_ = path.string() + ": " + std::strerror(errno);
    return lock;
  }
  for (;;) {
    if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      lock.busy_ = true;
    } else {
      lock.error_ = path.string() + ": " + std::strerror(errno);
    }
    ::close(fd);
    return lock;
  }
  lock.fd_ = fd;
  return lock;
}

}  // namespace orvane
