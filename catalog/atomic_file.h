// Replacing a file atomically.
//
// Bytes are written to a temporary file in the target's directory, named
// "<target>.tmp" and six random characters; Commit() flushes, fsyncs and
// renames it over the target (then fsyncs the directory). Until Commit()
// succeeds the old file is untouched; a writer destroyed without a
// successful Commit() removes its temporary file (a crash leaves it, and the
// next save or load of its directory removes it). A crash or a full disk
// never leaves a half-written file under the target's name.
//
// Commit() is Stage() (flush, fsync, close) and Publish() (the rename); a
// commit of several files (CSiteFilesCommit) stages them all, records them,
// then publishes each, and calls KeepTemporary() once the record names the
// temporary, since from then on only a rename may take it away.
//
// Every call that changes the file system goes through FileSystem().
//
// Writes are gathered into large blocks, and the kernel is asked to start
// writing back each few megabytes as they are written, so that the final
// fsync of a large catalog waits for little more than its tail.
//
// One thread at a time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "catalog/archive_types.h"

namespace orvane {

class CAtomicFile {
 public:
  // Creates the temporary file with `mode` (e.g. 0600).
  CAtomicFile(std::filesystem::path target, mode_t mode);
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  bool is_open() const { return fd_ >= 0; }
  // Sink for the new contents; valid while the object lives. Its Write
  // fails once anything written so far could not be stored.
  ByteSink& sink() { return sink_; }
  // Makes the new contents the target's. False (old file kept) on any failure.
  bool Commit();
  bool Stage();
  bool Publish();
  void KeepTemporary() { keepTemp_ = true; }
  const std::filesystem::path& temporary() const { return temp_; }
  const std::filesystem::path& target() const { return target_; }
  // The errno of the first failure (0 when none).
  int error() const { return error_; }

 private:
  class Sink final : public ByteSink {
   public:
    explicit Sink(CAtomicFile& file) : file_(file) {}
    bool Write(const void* data, std::size_t size) override { return file_.Append(data, size); }

   private:
    CAtomicFile& file_;
  };

  bool Append(const void* data, std::size_t size);
  bool Flush();
  bool WriteOut(const char* data, std::size_t size);
  bool Fail(int error);

  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
  bool failed_ = false;
  bool staged_ = false;
  bool committed_ = false;
  bool keepTemp_ = false;
  int error_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t writebackStarted_ = 0;
  Sink sink_{*this};
};

// fsyncs a directory, so that the names created, renamed or removed in it
// last survive a power loss. False (errno set) when that failed.
bool SyncDirectory(const std::filesystem::path& dir);
// Creates `dir` with `mode` and makes its name durable in its parent. True
// when it exists afterwards (made now or before).
bool MakeDirectoryDurably(const std::filesystem::path& dir, mode_t mode);
// Whether a directory entry is a temporary CAtomicFile made for `target`
// (a file name) and left behind.
bool IsTemporaryOf(std::string_view entry, std::string_view target);

// Opens a stored file for reading: -1 when it cannot be opened, or when it is
// no regular file (errno EINVAL then). The open never blocks, so a FIFO or
// a device in a file's place reads as "cannot be read" instead of holding
// the caller forever.
int OpenRegularForReading(const std::filesystem::path& path);

// Reads a whole small regular file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

}  // namespace orvane
