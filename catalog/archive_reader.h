// Loading direction of the object archive.
//
// The reader pulls bytes from a ByteSource through a 4096-byte buffer. Every
// read returns false on failure and leaves the first error in error(); after a
// failure every further read fails with the same error, so callers may chain
// reads and check once. Nothing is allocated in proportion to a length or count
// field before the bytes it describes have arrived.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "catalog/archive_coding.h"
#include "catalog/archive_types.h"

namespace orvane {

class CArchiveReader {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit CArchiveReader(ByteSource& source,
                          std::span<const ArchiveClass* const> classes = SystemClasses());
  CArchiveReader(const CArchiveReader&) = delete;
  CArchiveReader& operator=(const CArchiveReader&) = delete;

  // The primitives are inline so that a catalog load runs on the buffer
  // without a call per value; everything past the buffer's end goes out of
  // line. On failure `value` is unspecified.
  bool ReadByte(std::uint8_t& value) {
    if (pos_ < end_) {
      value = buffer_[pos_++];
      return true;
    }
    return ReadSmall(&value, 1);
  }
  bool ReadWord(std::uint16_t& value) { return ReadFixed(value); }
  bool ReadDword(std::uint32_t& value) { return ReadFixed(value); }
  bool ReadQword(std::uint64_t& value) { return ReadFixed(value); }
  bool ReadBool(bool& value) {  // any non-zero byte is true
    std::uint8_t byte;
    if (!ReadByte(byte)) return false;
    value = byte != 0;
    return true;
  }
  // Text string, 8-bit or wide; wide text is converted to code page 936.
  bool ReadString(std::string& value) {
    if (pos_ < end_) {
      const std::size_t length = buffer_[pos_];
      if (length < 0xFF && end_ - pos_ > length) {
        value.assign(reinterpret_cast<const char*>(buffer_ + pos_ + 1), length);
        pos_ += length + 1;
        return true;
      }
    }
    return ReadStringSlow(value);
  }
  bool ReadCount(std::uint32_t& value) {
    std::uint16_t word;
    if (!ReadWord(word)) return false;
    if (word != 0xFFFF) {
      value = word;
      return true;
    }
    return ReadDword(value);
  }

  // What an object reference turned out to be.
  struct ObjectRef {
    enum class Kind { kNull, kExisting, kNew } kind = Kind::kNull;
    const ArchiveClass* cls = nullptr;  // kExisting and kNew
    void* object = nullptr;             // kExisting: what BindObject stored
    std::uint32_t index = 0;            // kExisting and kNew
  };

  // Reads one object reference. `expected` may be null (any class). For kNew
  // the object's index is already taken; the caller makes the object, calls
  // BindObject(ref.index, object) and then reads its fields.
  bool ReadObjectRef(const ArchiveClass* expected, ObjectRef& ref);
  void BindObject(std::uint32_t index, void* object);

  // Fails the archive with `error` (used by callers that find bytes they
  // cannot accept, such as a shared object in a catalog). Keeps a first error.
  void Fail(ArchiveError error);

  ArchiveError error() const { return error_; }
  bool ok() const { return error_ == ArchiveError::kNone; }
  // True when every byte of the source has been consumed; false after a
  // failure.
  bool AtEnd();

 private:
  // A failure empties the buffer, so the inline fast paths fall through to
  // the slow paths, which see the stored error.
  template <typename T>
  bool ReadFixed(T& value) {
    if (end_ - pos_ >= sizeof(T)) {
      value = LoadLittleEndian<T>(buffer_ + pos_);
      pos_ += sizeof(T);
      return true;
    }
    unsigned char bytes[sizeof(T)];
    if (!ReadSmall(bytes, sizeof(T))) return false;
    value = LoadLittleEndian<T>(bytes);
    return true;
  }
  // Makes at least `need` (<= kBufferSize) bytes available in the buffer.
  bool Fill(std::size_t need);
  // Reads `size` (<= kBufferSize) bytes through the buffer.
  bool ReadSmall(void* data, std::size_t size);
  bool ReadStringSlow(std::string& value);
  bool ReadStringLength(std::uint64_t& length, bool& wide);
  // Appends `size` bytes to `out`, growing it only as fast as bytes arrive.
  bool AppendBytes(std::string& out, std::uint64_t size);
  bool NewEntry(const ArchiveClass* cls, bool is_class, std::uint32_t& index);
  const ArchiveClass* FindClass(const char* name, std::size_t length) const;

  ByteSource& source_;
  std::span<const ArchiveClass* const> classes_;
  unsigned char buffer_[kBufferSize];
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool source_done_ = false;
  ArchiveError error_ = ArchiveError::kNone;

  // Index 0 is the null entry; each later entry is a class or an object. A
  // class entry's `object` is ClassMarker(), which keeps an entry at two
  // words for catalogs of millions of objects.
  struct Entry {
    const ArchiveClass* cls;  // the class itself, or the object's class
    void* object;             // ClassMarker(), the bound object, or null
    bool is_class() const { return object == ClassMarker(); }
  };
  static void* ClassMarker() {
    static char marker;
    return &marker;
  }
  std::vector<Entry> entries_;
};

}  // namespace orvane
