#include "catalog/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace orvane {

CAtomicFile::CAtomicFile(std::filesystem::path target, mode_t mode) : target_(std::move(target)) {
  std::string pattern = target_.string() + ".tmpXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) return;
  temp_ = name.data();
  ::fchmod(fd_, mode);
  sink_ = FdSink(fd_);
}

CAtomicFile::~CAtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool CAtomicFile::Commit() {
  if (fd_ < 0 || committed_) return false;
  if (::fsync(fd_) != 0) return false;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) return false;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return false;
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

bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
