#include "catalog/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
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
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool CAtomicFile::WriteOut(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
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

bool CAtomicFile::Commit() {
  if (fd_ < 0 || committed_) return false;
  if (!Flush()) return false;
  if (::fsync(fd_) != 0) return Fail(errno);
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) return Fail(errno);
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return Fail(errno);
  committed_ = true;
  // Make the rename itself durable.
  std::filesystem::path dir = target_.parent_path();
  if (dir.empty()) dir = ".";
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
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
