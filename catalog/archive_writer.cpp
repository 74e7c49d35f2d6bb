#include "catalog/archive_writer.h"

#include <algorithm>

namespace orvane {

namespace {

constexpr std::uint32_t kBigIndex = 0x7FFF;  // first index that needs the escape form
constexpr std::uint16_t kBigIndexTag = 0x7FFF;
constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint32_t kClassTagBit = 0x80000000;

}  // namespace

CArchiveWriter::CArchiveWriter(ByteSink& sink) : sink_(sink) {}

void CArchiveWriter::FlushBuffer() {
  if (!failed_ && used_ > 0 && !sink_.Write(buffer_, used_)) failed_ = true;
  used_ = 0;
}

void CArchiveWriter::PutSlow(const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  const std::size_t head = kBufferSize - used_;
  std::memcpy(buffer_ + used_, p, head);
  used_ = kBufferSize;
  p += head;
  size -= head;
  FlushBuffer();
  if (size >= kBufferSize) {
    // Long runs skip the buffer; copying them through it would only add work.
    if (!failed_ && !sink_.Write(p, size)) failed_ = true;
    return;
  }
  std::memcpy(buffer_, p, size);
  used_ = size;
}

void CArchiveWriter::WriteStringSlow(std::string_view text) {
  const std::uint64_t n = text.size();
  if (n < 0xFF) {
    WriteByte(static_cast<std::uint8_t>(n));
  } else if (n < 0xFFFE) {
    // 0xFFFE in the word would read back as the wide-text marker.
    WriteByte(0xFF);
    WriteWord(static_cast<std::uint16_t>(n));
  } else if (n < 0xFFFFFFFF) {
    WriteByte(0xFF);
    WriteWord(0xFFFF);
    WriteDword(static_cast<std::uint32_t>(n));
  } else {
    WriteByte(0xFF);
    WriteWord(0xFFFF);
    WriteDword(0xFFFFFFFF);
    WriteQword(n);
  }
  Put(text.data(), text.size());
}

std::uint32_t CArchiveWriter::WriteNewObjectSlow(const ArchiveClass& cls) {
  const auto known = std::find_if(class_index_.begin(), class_index_.end(),
                                  [&cls](const auto& entry) { return entry.first == &cls; });
  if (known != class_index_.end()) {
    const std::uint32_t j = known->second;
    if (j < kBigIndex) {
      WriteWord(static_cast<std::uint16_t>(0x8000 | j));
    } else {
      WriteWord(kBigIndexTag);
      WriteDword(kClassTagBit | j);
    }
  } else {
    const std::size_t length = std::strlen(cls.name);
    WriteWord(kNewClassTag);
    WriteWord(cls.schema);
    WriteWord(static_cast<std::uint16_t>(length));
    Put(cls.name, length);
    class_index_.emplace_back(&cls, next_index_++);
  }
  return next_index_++;
}

void CArchiveWriter::WriteNullRef() { WriteWord(0); }

void CArchiveWriter::WriteObjectBackRef(std::uint32_t index) {
  if (index < kBigIndex) {
    WriteWord(static_cast<std::uint16_t>(index));
  } else {
    WriteWord(kBigIndexTag);
    WriteDword(index);
  }
}

ArchiveError CArchiveWriter::Close() {
  FlushBuffer();
  return failed_ ? ArchiveError::kIo : ArchiveError::kNone;
}

}  // namespace orvane
