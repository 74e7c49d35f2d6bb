#include "catalog/archive_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "catalog/code_page.h"

namespace orvane {

namespace {

constexpr std::uint16_t kBigIndexTag = 0x7FFF;
constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint32_t kClassTagBit = 0x80000000;
constexpr std::size_t kMaxClassNameLength = 63;

bool SameClass(const ArchiveClass* a, const ArchiveClass* b) {
  return a == b || (a->id == b->id && std::strcmp(a->name, b->name) == 0);
}

}  // namespace

CArchiveReader::CArchiveReader(ByteSource& source, std::span<const ArchiveClass* const> classes)
    : source_(source), classes_(classes) {
  entries_.push_back(0);
}

void CArchiveReader::Fail(ArchiveError error) {
  if (error_ == ArchiveError::kNone) error_ = error;
  // An empty buffer sends every inline read to the slow path, which reports
  // the stored error.
  pos_ = end_ = 0;
}

bool CArchiveReader::Fill(std::size_t need) {
  if (!ok()) return false;
  if (end_ - pos_ >= need) return true;
  if (pos_ > 0) {
    std::memmove(buffer_, buffer_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  while (end_ < need) {
    if (source_done_) {
      Fail(ArchiveError::kEndOfFile);
      return false;
    }
    const std::ptrdiff_t n = source_.Read(buffer_ + end_, kBufferSize - end_);
    if (n < 0) {
      Fail(ArchiveError::kIo);
      return false;
    }
    if (n == 0) {
      source_done_ = true;
    } else {
      end_ += static_cast<std::size_t>(n);
    }
  }
  return true;
}

bool CArchiveReader::ReadSmall(void* data, std::size_t size) {
  if (!Fill(size)) return false;
  std::memcpy(data, buffer_ + pos_, size);
  pos_ += size;
  return true;
}

bool CArchiveReader::AtEnd() {
  if (!ok()) return false;
  if (pos_ < end_) return false;
  if (source_done_) return true;
  pos_ = end_ = 0;
  const std::ptrdiff_t n = source_.Read(buffer_, kBufferSize);
  if (n < 0) {
    Fail(ArchiveError::kIo);
    return false;
  }
  if (n == 0) {
    source_done_ = true;
    return true;
  }
  end_ = static_cast<std::size_t>(n);
  return false;
}

bool CArchiveReader::ReadStringLength(std::uint64_t& length, bool& wide) {
  wide = false;
  std::uint8_t byte;
  if (!ReadByte(byte)) return false;
  if (byte < 0xFF) {
    length = byte;
    return true;
  }
  std::uint16_t word;
  if (!ReadWord(word)) return false;
  if (word == 0xFFFE) {
    // Wide marker; the length prefix starts over. A second 0xFFFE here is a
    // plain length, not another marker.
    wide = true;
    if (!ReadByte(byte)) return false;
    if (byte < 0xFF) {
      length = byte;
      return true;
    }
    if (!ReadWord(word)) return false;
  }
  if (word < 0xFFFF) {
    length = word;
    return true;
  }
  std::uint32_t dword;
  if (!ReadDword(dword)) return false;
  if (dword < 0xFFFFFFFF) {
    length = dword;
    return true;
  }
  std::uint64_t qword;
  if (!ReadQword(qword)) return false;
  if (qword > 0x7FFFFFFF) {
    Fail(ArchiveError::kGeneric);
    return false;
  }
  length = qword;
  return true;
}

bool CArchiveReader::AppendBytes(std::string& out, std::uint64_t size) {
  try {
    // The declared size is untrusted: reserve it only when it is small, and
    // otherwise let the string grow with the bytes that actually arrive.
    if (size <= kBufferSize) out.reserve(out.size() + static_cast<std::size_t>(size));
    while (size > 0) {
      if (pos_ < end_) {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, end_ - pos_));
        out.append(reinterpret_cast<const char*>(buffer_ + pos_), take);
        pos_ += take;
        size -= take;
        continue;
      }
      if (size < kBufferSize || source_done_ || !ok()) {
        if (!Fill(1)) return false;
        continue;
      }
      // Large remainder: read straight into the string instead of through the
      // buffer, at most doubling what has arrived so far.
      const std::size_t old_size = out.size();
      const std::size_t chunk =
          static_cast<std::size_t>(std::min<std::uint64_t>(size, std::max(kBufferSize, old_size)));
      out.resize(old_size + chunk);
      std::size_t got = 0;
      while (got < chunk) {
        const std::ptrdiff_t n = source_.Read(out.data() + old_size + got, chunk - got);
        if (n <= 0) {
          out.resize(old_size + got);
          if (n == 0) source_done_ = true;
          Fail(n == 0 ? ArchiveError::kEndOfFile : ArchiveError::kIo);
          return false;
        }
        got += static_cast<std::size_t>(n);
      }
      size -= chunk;
    }
  } catch (const std::bad_alloc&) {
    Fail(ArchiveError::kNoMemory);
    return false;
  }
  return true;
}

bool CArchiveReader::ReadStringSlow(std::string& value) {
  std::uint64_t length;
  bool wide;
  if (!ReadStringLength(length, wide)) return false;
  value.clear();
  if (!wide) return AppendBytes(value, length);

  std::string raw;
  if (!AppendBytes(raw, length * 2)) return false;
  try {
    std::u16string units(static_cast<std::size_t>(length), u'\0');
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = LoadLittleEndian<char16_t>(bytes + 2 * i);
    }
    value = Utf16ToCp936(units);
  } catch (const std::bad_alloc&) {
    Fail(ArchiveError::kNoMemory);
    return false;
  }
  return true;
}

const ArchiveClass* CArchiveReader::FindClass(const char* name, std::size_t length) const {
  for (const ArchiveClass* cls : classes_) {
    if (std::strlen(cls->name) == length && std::memcmp(cls->name, name, length) == 0) return cls;
  }
  return nullptr;
}

bool CArchiveReader::NewEntry(const ArchiveClass* cls, bool is_class, std::uint32_t& index) {
  if (entries_.size() >= kIndexLimit) {
    Fail(ArchiveError::kBadIndex);
    return false;
  }
  try {
    std::size_t kind = 0;
    while (kind < kinds_.size() && kinds_[kind] != cls) ++kind;
    if (kind == kinds_.size()) {
      // Only registered classes get here, and registries are small.
      if (kinds_.size() == kKindMask) {
        Fail(ArchiveError::kBadClass);
        return false;
      }
      kinds_.push_back(cls);
    }
    const auto byte = static_cast<std::uint8_t>(kind + 1);
    entries_.push_back(is_class ? static_cast<std::uint8_t>(byte | kClassEntry) : byte);
  } catch (const std::bad_alloc&) {
    Fail(ArchiveError::kNoMemory);
    return false;
  }
  index = static_cast<std::uint32_t>(entries_.size() - 1);
  return true;
}

bool CArchiveReader::ReadObjectRefSlow(const ArchiveClass* expected, ObjectRef& ref) {
  ref = ObjectRef{};
  std::uint16_t tag;
  if (!ReadWord(tag)) return false;
  std::uint32_t t;
  if (tag == kBigIndexTag) {
    if (!ReadDword(t)) return false;
  } else {
    t = (static_cast<std::uint32_t>(tag & 0x8000) << 16) | (tag & 0x7FFFu);
  }

  if ((t & kClassTagBit) == 0) {
    if (t == 0) return true;
    if (t >= entries_.size() || (entries_[t] & kClassEntry) != 0) {
      Fail(ArchiveError::kBadIndex);
      return false;
    }
    const ArchiveClass* cls = kinds_[entries_[t] - 1];
    if (expected != nullptr && !SameClass(cls, expected)) {
      Fail(ArchiveError::kBadClass);
      return false;
    }
    ref.kind = ObjectRef::Kind::kExisting;
    ref.cls = cls;
    ref.object = t < bound_.size() ? bound_[t] : nullptr;
    ref.index = t;
    return true;
  }

  const ArchiveClass* cls;
  if (tag == kNewClassTag) {
    std::uint16_t schema;
    std::uint16_t length;
    if (!ReadWord(schema) || !ReadWord(length)) return false;
    if (length > kMaxClassNameLength) {
      Fail(ArchiveError::kBadClass);
      return false;
    }
    char name[kMaxClassNameLength];
    if (!ReadSmall(name, length)) return false;
    cls = FindClass(name, length);
    if (cls == nullptr) {
      Fail(ArchiveError::kBadClass);
      return false;
    }
    if (cls->schema != schema) {
      Fail(ArchiveError::kBadSchema);
      return false;
    }
    std::uint32_t class_index;
    if (!NewEntry(cls, true, class_index)) return false;
  } else {
    const std::uint32_t j = t & ~kClassTagBit;
    if (j == 0 || j >= entries_.size() || (entries_[j] & kClassEntry) == 0) {
      Fail(ArchiveError::kBadIndex);
      return false;
    }
    cls = kinds_[(entries_[j] & kKindMask) - 1];
  }

  if (expected != nullptr && !SameClass(cls, expected)) {
    Fail(ArchiveError::kBadClass);
    return false;
  }
  std::uint32_t index;
  if (!NewEntry(cls, false, index)) return false;
  ref.kind = ObjectRef::Kind::kNew;
  ref.cls = cls;
  ref.index = index;
  return true;
}

void CArchiveReader::BindObject(std::uint32_t index, void* object) {
  if (index == 0 || index >= entries_.size() || (entries_[index] & kClassEntry) != 0) return;
  try {
    if (bound_.size() <= index) bound_.resize(index + 1, nullptr);
    bound_[index] = object;
  } catch (const std::bad_alloc&) {
    Fail(ArchiveError::kNoMemory);
  }
}

}  // namespace orvane
