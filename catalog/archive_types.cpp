#include "catalog/archive_types.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace orvane {

const char* ArchiveErrorText(ArchiveError error) {
  switch (error) {
    case ArchiveError::kNone:
      return "no error";
    case ArchiveError::kEndOfFile:
      return "unexpected end of file";
    case ArchiveError::kBadIndex:
      return "bad object or class index";
    case ArchiveError::kBadClass:
      return "unknown or unexpected class";
    case ArchiveError::kBadSchema:
      return "unsupported class schema";
    case ArchiveError::kGeneric:
      return "invalid archive";
    case ArchiveError::kNoMemory:
      return "out of memory";
    case ArchiveError::kBadFormat:
      return "archive structure not supported";
    case ArchiveError::kIo:
      return "read or write error";
  }
  return "unknown archive error";
}

std::span<const ArchiveClass* const> SystemClasses() {
  static constexpr const ArchiveClass* kClasses[] = {&kFTPDirClass, &kFTPFileClass, &kFTPSiteClass};
  return kClasses;
}

std::ptrdiff_t MemorySource::Read(void* data, std::size_t size) {
  const std::size_t n = std::min(size, size_ - pos_);
  if (n > 0) std::memcpy(data, data_ + pos_, n);
  pos_ += n;
  return static_cast<std::ptrdiff_t>(n);
}

std::ptrdiff_t FdSource::Read(void* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_, data, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

bool FdSink::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // A regular file only writes nothing when it cannot grow; retrying would
    // spin.
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace orvane
