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
#include <string_view>
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
  // Like ReadString without the copy: `value` points into the buffer, or
  // into `scratch` for text that is wide or runs past the buffer's end, and
  // is valid only until the next read.
  bool ReadStringView(std::string_view& value, std::string& scratch) {
    if (pos_ < end_) {
      const std::size_t length = buffer_[pos_];
      if (length < 0xFF && end_ - pos_ > length) {
        value = std::string_view(reinterpret_cast<const char*>(buffer_ + pos_ + 1), length);
        pos_ += length + 1;
        return true;
      }
    }
    if (!ReadStringSlow(scratch)) return false;
    value = scratch;
    return true;
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
  bool ReadObjectRef(const ArchiveClass* expected, ObjectRef& ref) {
    // The bulk of a catalog: a new object whose class was introduced
    // earlier, as a short class back-reference to the expected class, with
    // room left in the index table.
    if (end_ - pos_ >= 2 && expected != nullptr) {
      const auto tag = LoadLittleEndian<std::uint16_t>(buffer_ + pos_);
      const std::uint32_t j = tag & 0x7FFFu;
      if ((tag & 0x8000u) != 0 && tag != 0xFFFF && j != 0 && j < entries_.size() &&
          (entries_[j] & kClassEntry) != 0 && kinds_[(entries_[j] & kKindMask) - 1] == expected &&
          entries_.size() < entries_.capacity() && entries_.size() < kIndexLimit) {
        pos_ += 2;
        entries_.push_back(static_cast<std::uint8_t>(entries_[j] & kKindMask));
        ref.kind = ObjectRef::Kind::kNew;
        ref.cls = expected;
        ref.object = nullptr;
        ref.index = static_cast<std::uint32_t>(entries_.size() - 1);
        return true;
      }
    }
    return ReadObjectRefSlow(expected, ref);
  }
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
  // Indices at or above this are refused on both sides of the archive, so
  // that a class back-reference (index | 0x80000000) can never be mistaken
  // for the escape tags.
  static constexpr std::uint32_t kIndexLimit = 0x3FFFFFFE;

  bool ReadObjectRefSlow(const ArchiveClass* expected, ObjectRef& ref);
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

  // One byte per index, so that a catalog of millions of objects costs a
  // byte per object here: 0 for the null entry at index 0, else the kind k
  // (1-based position of the entry's class in kinds_), with kClassEntry set
  // for a class record. Objects given to BindObject are kept in bound_, by
  // index, which grows only as far as the highest index bound.
  static constexpr std::uint8_t kClassEntry = 0x80;
  static constexpr std::uint8_t kKindMask = 0x7F;
  std::vector<std::uint8_t> entries_;
  std::vector<const ArchiveClass*> kinds_;  // the distinct classes met so far
  std::vector<void*> bound_;
};

}  // namespace orvane
