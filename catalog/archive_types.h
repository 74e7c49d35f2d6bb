// Shared vocabulary of the object archive: error kinds, class descriptions and
// the byte endpoints an archive is layered over. The byte grammar is in
// catalog/archive_format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orvane {

enum class ArchiveError : std::uint8_t {
  kNone = 0,
  kEndOfFile,  // a value, string or class name needs more bytes than remain
  kBadIndex,   // unknown index, class/object confusion, index 0 as class, space exhausted
  kBadClass,   // unknown or over-long class name, or not the expected class
  kBadSchema,  // class record with another schema than the registered one
  kGeneric,    // 64-bit string length above 0x7FFFFFFF
  kNoMemory,   // an object could not be made
  kBadFormat,  // well-formed bytes that no catalog can hold (too deep, shared objects)
  kIo,         // the underlying file failed (read or write error, full disk)
};

// Short English description, for diagnostics and tests.
const char* ArchiveErrorText(ArchiveError error);

// One archivable class. `id` is what the reader hands back so callers can
// switch on it without comparing names.
struct ArchiveClass {
  const char* name;
  std::uint16_t schema;
  int id;
};

enum ArchiveClassId : int { kClassFTPDir = 1, kClassFTPFile = 2, kClassFTPSite = 3 };

inline constexpr ArchiveClass kFTPDirClass{"CFTPDir", 1, kClassFTPDir};
inline constexpr ArchiveClass kFTPFileClass{"CFTPFile", 1, kClassFTPFile};
inline constexpr ArchiveClass kFTPSiteClass{"CFTPSite", 1, kClassFTPSite};

// The registry the system's files are read with.
std::span<const ArchiveClass* const> SystemClasses();

// Where a writer's bytes go. Write returns false on failure; the writer then
// stops writing and reports kIo.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const void* data, std::size_t size) = 0;
};

// Where a reader's bytes come from. Read returns the number of bytes placed in
// `data` (0 at the end), or -1 on an I/O error.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::ptrdiff_t Read(void* data, std::size_t size) = 0;
};

class StringSink final : public ByteSink {
 public:
  bool Write(const void* data, std::size_t size) override {
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* data, std::size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  // Borrows the bytes; they must outlive the source.
  explicit MemorySource(const std::string& bytes) : MemorySource(bytes.data(), bytes.size()) {}
  MemorySource(std::string&&) = delete;
  std::ptrdiff_t Read(void* data, std::size_t size) override;

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Reads an open file descriptor; does not own it.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  std::ptrdiff_t Read(void* data, std::size_t size) override;

 private:
  int fd_;
};

// Writes an open file descriptor; does not own it.
class FdSink final : public ByteSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(const void* data, std::size_t size) override;

 private:
  int fd_;
};

}  // namespace orvane
