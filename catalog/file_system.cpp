#include "catalog/file_system.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace orvane {

namespace {

CFileSystem& Direct() {
  static CFileSystem direct;
  return direct;
}

std::atomic<CFileSystem*>& Current() {
  static std::atomic<CFileSystem*> current{&Direct()};
  return current;
}

}  // namespace

int CFileSystem::MakeTemp(char* pattern) { return ::mkostemp(pattern, O_CLOEXEC); }

ssize_t CFileSystem::Write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

int CFileSystem::Fsync(int fd) { return ::fsync(fd); }

int CFileSystem::Rename(const char* from, const char* to) { return std::rename(from, to); }

int CFileSystem::Unlink(const char* path) { return ::unlink(path); }

int CFileSystem::Mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }

int CFileSystem::Rmdir(const char* path) { return ::rmdir(path); }

CFileSystem& FileSystem() { return *Current().load(std::memory_order_acquire); }

CFileSystemOverride::CFileSystemOverride(CFileSystem& fs)
    : previous_(Current().exchange(&fs, std::memory_order_acq_rel)) {}

CFileSystemOverride::~CFileSystemOverride() {
  Current().store(previous_, std::memory_order_release);
}

}  // namespace orvane
