#include "catalog/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/file_system.h"

namespace orvane {

namespace {

// The archive hands over 4 KiB at a time; a catalog of millions of entries
// would otherwise cost thousands of system calls.
constexpr std::size_t kBufferSize = 256 * 1024;
// How much is written before the kernel is asked to start writing it back.
constexpr std::uint64_t kWritebackStep = 2 * 1024 * 1024;

}  // namespace

CAtomicFile::CAtomicFile(std::filesystem::path target, mode_t mode) : target_(std::move(target)) {
  std::string pattern = target_.string() + ".tmpXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = FileSystem().MakeTemp(name.data());
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  temp_ = name.data();
  if (::fchmod(fd_, mode) != 0) Fail(errno);
}

bool CAtomicFile::Fail(int error) {
  if (error_ == 0) error_ = error;
  failed_ = true;
  return false;
}

CAtomicFile::~CAtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !keepTemp_ && !temp_.empty()) FileSystem().Unlink(temp_.c_str());
}

bool CAtomicFile::WriteOut(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = FileSystem().Write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    // A regular file only writes nothing when it cannot grow; retrying would
    // spin.
    if (n == 0) return Fail(ENOSPC);
    data += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<std::uint64_t>(n);
  }
  if (written_ - writebackStarted_ >= kWritebackStep) {
    // Only a hint: Commit's fsync is what makes the data durable.
    ::sync_file_range(fd_, static_cast<off_t>(writebackStarted_),
                      static_cast<off_t>(written_ - writebackStarted_), SYNC_FILE_RANGE_WRITE);
    writebackStarted_ = written_;
  }
  return true;
}

bool CAtomicFile::Flush() {
  if (used_ == 0) return !failed_;
  if (!failed_) WriteOut(buffer_.get(), used_);
  used_ = 0;
  return !failed_;
}

bool CAtomicFile::Append(const void* data, std::size_t size) {
  if (fd_ < 0 || failed_) return false;
  if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferSize);
  if (size > kBufferSize - used_) {
    if (!Flush()) return false;
    if (size >= kBufferSize) {
      return WriteOut(static_cast<const char*>(data), size);
    }
  }
  std::memcpy(buffer_.get() + used_, data, size);
  used_ += size;
  return true;
}

bool CAtomicFile::Commit() { return Stage() && Publish(); }

bool CAtomicFile::Stage() {
  if (staged_) return true;
  if (fd_ < 0 || committed_) return false;
  if (!Flush()) return false;
  if (FileSystem().Fsync(fd_) != 0) return Fail(errno);
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) return Fail(errno);
  staged_ = true;
  return true;
}

bool CAtomicFile::Publish() {
  if (!staged_ || committed_) return false;
  if (FileSystem().Rename(temp_.c_str(), target_.c_str()) != 0) return Fail(errno);
  committed_ = true;
  // The rename is durable only with the directory; a failure here cannot
  // undo it, so it is not reported.
  std::filesystem::path dir = target_.parent_path();
  SyncDirectory(dir.empty() ? std::filesystem::path(".") : dir);
  return true;
}

bool SyncDirectory(const std::filesystem::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = FileSystem().Fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return synced;
}

bool MakeDirectoryDurably(const std::filesystem::path& dir, mode_t mode) {
  if (FileSystem().Mkdir(dir.c_str(), mode) != 0) return errno == EEXIST;
  std::filesystem::path parent = dir.parent_path();
  SyncDirectory(parent.empty() ? std::filesystem::path(".") : parent);
  return true;
}

bool IsTemporaryOf(std::string_view entry, std::string_view target) {
  constexpr std::string_view kSuffix = ".tmp";
  return entry.size() == target.size() + kSuffix.size() + 6 &&
         entry.substr(0, target.size()) == target &&
         entry.substr(target.size(), kSuffix.size()) == kSuffix;
}

int OpenRegularForReading(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  // Reads of a regular file never wait anyway; the flag goes for clarity.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
  const int fd = OpenRegularForReading(path);
  if (fd < 0) return false;
  bytes.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return true;
}

}  // namespace orvane
