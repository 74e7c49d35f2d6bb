// Storing direction of the object archive.
//
// Bytes go to a ByteSink through a 4096-byte buffer. A failed sink write makes
// the writer drop everything after it and report kIo from Close(); writes
// after a failure are ignored, so callers may write on and check once.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/archive_coding.h"
#include "catalog/archive_types.h"

namespace orvane {

class CArchiveWriter {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit CArchiveWriter(ByteSink& sink);
  CArchiveWriter(const CArchiveWriter&) = delete;
  CArchiveWriter& operator=(const CArchiveWriter&) = delete;

  // Inline so that a catalog save fills the buffer without a call per value.
  void WriteByte(std::uint8_t value) { Put(&value, 1); }
  void WriteWord(std::uint16_t value) { PutFixed(value); }
  void WriteDword(std::uint32_t value) { PutFixed(value); }
  void WriteQword(std::uint64_t value) { PutFixed(value); }
  void WriteBool(bool value) { WriteByte(value ? 1 : 0); }  // 0 or 1
  // Always the 8-bit form.
  void WriteString(std::string_view text) {
    if (text.size() < 0xFF && text.size() < kBufferSize - used_) {
      buffer_[used_] = static_cast<unsigned char>(text.size());
      std::memcpy(buffer_ + used_ + 1, text.data(), text.size());
      used_ += text.size() + 1;
      return;
    }
    WriteStringSlow(text);
  }
  void WriteCount(std::uint32_t count) {
    if (count < 0xFFFF) {
      WriteWord(static_cast<std::uint16_t>(count));
    } else {
      WriteWord(0xFFFF);
      WriteDword(count);
    }
  }

  // The reference that introduces a new object of class `cls`: the new-class
  // tag and class record on the class's first use, a class back-reference
  // after that. The object takes the next index, which is returned; the
  // caller then writes the object's fields. Objects in the system's files
  // appear once each, so the writer keeps no map of objects.
  std::uint32_t WriteNewObject(const ArchiveClass& cls) {
    // A class already introduced, in the short form: every object after the
    // first of its class.
    for (const auto& [known, j] : class_index_) {
      if (known == &cls && j < 0x7FFF) {
        WriteWord(static_cast<std::uint16_t>(0x8000 | j));
        return next_index_++;
      }
    }
    return WriteNewObjectSlow(cls);
  }
  void WriteNullRef();
  // Reference to an object already written, by the index WriteNewObject gave.
  void WriteObjectBackRef(std::uint32_t index);

  // Flushes the buffer. Returns kNone or kIo.
  ArchiveError Close();
  bool ok() const { return !failed_; }

 private:
  void Put(const void* data, std::size_t size) {
    if (size <= kBufferSize - used_) {
      std::memcpy(buffer_ + used_, data, size);
      used_ += size;
      return;
    }
    PutSlow(data, size);
  }
  template <typename T>
  void PutFixed(T value) {
    unsigned char bytes[sizeof(T)];
    StoreLittleEndian(bytes, value);
    Put(bytes, sizeof(T));
  }
  std::uint32_t WriteNewObjectSlow(const ArchiveClass& cls);
  void PutSlow(const void* data, std::size_t size);
  void WriteStringSlow(std::string_view text);
  void FlushBuffer();

  ByteSink& sink_;
  unsigned char buffer_[kBufferSize];
  std::size_t used_ = 0;
  bool failed_ = false;
  std::uint32_t next_index_ = 1;
  std::vector<std::pair<const ArchiveClass*, std::uint32_t>> class_index_;
};

}  // namespace orvane
