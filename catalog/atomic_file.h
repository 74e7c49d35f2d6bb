// Replacing a file atomically.
//
// Bytes are written to a temporary file in the target's directory; Commit()
// flushes, fsyncs and renames it over the target (then fsyncs the
// directory). Until Commit() succeeds the old file is untouched; a writer
// destroyed without a successful Commit() removes its temporary file. A
// crash or a full disk never leaves a half-written file under the target's
// name.
#pragma once

#include <filesystem>
#include <sys/types.h>

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
  // Sink for the new contents; valid while the object lives and is open.
  ByteSink& sink() { return sink_; }
  // Makes the new contents the target's. False (old file kept) on any failure.
  bool Commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
  FdSink sink_{-1};
  bool committed_ = false;
};

// Reads a whole small file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

}  // namespace orvane
