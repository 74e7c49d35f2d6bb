// The system calls that change stored files, behind one replaceable object.
//
// Everything that writes, renames or removes a stored file or directory
// (CAtomicFile, the site files commit, site deletes and renames) goes
// through FileSystem(), so that a test can make any one of those calls fail,
// or end the process at it, and check what a fresh reader then finds. The
// default object calls the system directly; nothing else ever replaces it.
//
// Each call has the system call's contract: a result of -1 sets errno.
// Install and read from any thread; a test installs its object before it
// starts saving and removes it when it is done.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace orvane {

class CFileSystem {
 public:
  virtual ~CFileSystem() = default;

  // mkostemp(3) with O_CLOEXEC: replaces the trailing XXXXXX of `pattern`.
  virtual int MakeTemp(char* pattern);
  virtual ssize_t Write(int fd, const void* data, std::size_t size);
  virtual int Fsync(int fd);
  virtual int Rename(const char* from, const char* to);
  virtual int Unlink(const char* path);
  virtual int Mkdir(const char* path, mode_t mode);
  virtual int Rmdir(const char* path);
};

// The object in use.
CFileSystem& FileSystem();

// Puts `fs` in place of the system's calls until the guard ends.
class CFileSystemOverride {
 public:
  explicit CFileSystemOverride(CFileSystem& fs);
  ~CFileSystemOverride();
  CFileSystemOverride(const CFileSystemOverride&) = delete;
  CFileSystemOverride& operator=(const CFileSystemOverride&) = delete;

 private:
  CFileSystem* previous_;
};

}  // namespace orvane
