#include "catalog/change_journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "catalog/atomic_file.h"

namespace orvane {

namespace {

// "ORVJ", the format version, three bytes kept zero.
constexpr std::string_view kHeader{"ORVJ\x01\0\0\0", 8};
constexpr std::size_t kFrameHeader = 8;
// Far beyond any record the writer makes; a length above it is damage,
// not a reason to look for gigabytes.
constexpr std::size_t kMaxPayload = std::size_t{1} << 30;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// Slicing by eight: table k gives the CRC of a byte followed by k zero
// bytes, so eight bytes take eight lookups with no chain between them. A
// full journal is checked whole at every save and every `changes`, and
// this runs several times faster than a byte at a time.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeSlicedTables() {
  std::array<std::array<std::uint32_t, 256>, 8> tables{};
  tables[0] = kCrcTable;
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      const std::uint32_t previous = tables[k - 1][i];
      tables[k][i] = kCrcTable[previous & 0xFF] ^ (previous >> 8);
    }
  }
  return tables;
}
constexpr auto kSlicedTables = MakeSlicedTables();

void PutFixed32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetFixed32(const char* p) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  return value;
}

void PutVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

bool GetVarint(std::string_view& in, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && !in.empty(); shift += 7) {
    const auto byte = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    // The tenth byte may carry only the top bit of the value.
    if (shift == 63 && byte > 1) return false;
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

bool GetByte(std::string_view& in, std::uint8_t& value) {
  if (in.empty()) return false;
  value = static_cast<std::uint8_t>(in.front());
  in.remove_prefix(1);
  return true;
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
  std::uint32_t c = 0xFFFFFFFFu;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t size = bytes.size();
  const auto& t = kSlicedTables;
  while (size >= 8) {
    // Little-endian by construction, whatever the machine's order.
    const std::uint32_t low = c ^ (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
                                   std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    data += 8;
    size -= 8;
  }
  for (; size > 0; --size, ++data) c = kCrcTable[(c ^ *data) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string EncodeJournalRecord(const JournalRecord& record) {
  std::string payload;
  PutVarint(payload, static_cast<std::uint64_t>(record.startTime));
  PutVarint(payload, static_cast<std::uint64_t>(record.endTime));
  payload.push_back(static_cast<char>(record.outcome));
  payload.push_back(record.summary ? 1 : 0);
  PutVarint(payload, record.added);
  PutVarint(payload, record.removed);
  PutVarint(payload, record.resized);
  PutVarint(payload, record.entries.size());
  for (const JournalEntry& entry : record.entries) {
    payload.push_back(static_cast<char>(entry.kind));
    payload.push_back(entry.isDirectory ? 1 : 0);
    PutVarint(payload, entry.path.size());
    payload.append(entry.path);
    PutVarint(payload, entry.size);
    if (entry.kind == JournalEntry::Kind::kResized) PutVarint(payload, entry.oldSize);
    if (entry.kind == JournalEntry::Kind::kRemoved) PutVarint(payload, entry.below);
  }
  std::string frame;
  frame.reserve(kFrameHeader + payload.size());
  PutFixed32(frame, static_cast<std::uint32_t>(payload.size()));
  PutFixed32(frame, Crc32(payload));
  frame.append(payload);
  return frame;
}

JournalFrames ScanJournal(std::string_view bytes) {
  JournalFrames result;
  if (bytes.empty()) return result;
  if (bytes.substr(0, kHeader.size()) != kHeader) {
    result.damaged = true;
    return result;
  }
  std::size_t at = kHeader.size();
  while (bytes.size() - at >= kFrameHeader) {
    const std::uint32_t length = GetFixed32(bytes.data() + at);
    const std::uint32_t crc = GetFixed32(bytes.data() + at + 4);
    if (length > kMaxPayload || length > bytes.size() - at - kFrameHeader) break;
    if (Crc32(bytes.substr(at + kFrameHeader, length)) != crc) break;
    result.frames.push_back({at, kFrameHeader + length});
    at += kFrameHeader + length;
  }
  result.validBytes = at;
  result.damaged = at != bytes.size();
  return result;
}

bool DecodeJournalRecord(std::string_view frame, JournalRecord& record) {
  if (frame.size() < kFrameHeader) return false;
  std::string_view in = frame.substr(kFrameHeader);
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint8_t outcome = 0;
  std::uint8_t flags = 0;
  std::uint64_t count = 0;
  if (!GetVarint(in, start) || !GetVarint(in, end) || !GetByte(in, outcome) ||
      !GetByte(in, flags) || !GetVarint(in, record.added) || !GetVarint(in, record.removed) ||
      !GetVarint(in, record.resized) || !GetVarint(in, count)) {
    return false;
  }
  if (outcome < 1 || outcome > 4 || flags > 1) return false;
  record.startTime = static_cast<std::int64_t>(start);
  record.endTime = static_cast<std::int64_t>(end);
  record.outcome = static_cast<JournalRecord::Outcome>(outcome);
  record.summary = flags != 0;
  record.entries.clear();
  // Every entry takes at least four bytes: a count beyond that is a lie,
  // and is not allowed to reserve memory.
  if (count > in.size() / 4) return false;
  record.entries.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    JournalEntry entry;
    std::uint8_t kind = 0;
    std::uint8_t isDirectory = 0;
    std::uint64_t pathSize = 0;
    if (!GetByte(in, kind) || !GetByte(in, isDirectory) || !GetVarint(in, pathSize)) return false;
    if (kind < 1 || kind > 3 || isDirectory > 1 || pathSize > in.size()) return false;
    entry.kind = static_cast<JournalEntry::Kind>(kind);
    entry.isDirectory = isDirectory != 0;
    entry.path.assign(in.substr(0, pathSize));
    in.remove_prefix(pathSize);
    if (!GetVarint(in, entry.size)) return false;
    if (entry.kind == JournalEntry::Kind::kResized && !GetVarint(in, entry.oldSize)) return false;
    if (entry.kind == JournalEntry::Kind::kRemoved && !GetVarint(in, entry.below)) return false;
    record.entries.push_back(std::move(entry));
  }
  return in.empty();
}

NameCharset JournalCharset(NameCharset charset, const std::vector<JournalRecord>& records) {
  if (charset != NameCharset::kAuto) return charset;
  CCharsetDecider decider;
  for (const JournalRecord& record : records) {
    for (const JournalEntry& entry : record.entries) decider.AddName(entry.path);
  }
  return decider.Decide(ServerUtf8::kUnknown);
}

std::vector<JournalRecord> ReadJournal(std::string_view bytes, bool* damaged) {
  const JournalFrames scan = ScanJournal(bytes);
  bool bad = scan.damaged;
  std::vector<JournalRecord> records;
  records.reserve(scan.frames.size());
  for (const JournalFrames::Frame& frame : scan.frames) {
    JournalRecord record;
    if (DecodeJournalRecord(bytes.substr(frame.offset, frame.size), record)) {
      records.push_back(std::move(record));
    } else {
      bad = true;
    }
  }
  if (damaged) *damaged = bad;
  return records;
}

std::vector<std::string_view> RewriteJournalParts(std::string_view oldBytes,
                                                  const std::vector<std::string>& added,
                                                  const JournalLimits& limits) {
  const JournalFrames scan = ScanJournal(oldBytes);
  // Newest first: the frames to keep are the longest tail within the limits.
  std::size_t bytes = kHeader.size();
  std::size_t count = 0;
  const auto fits = [&](std::size_t size) {
    // The newest record is kept whatever its size.
    return count == 0 || (count < limits.maxUpdates && bytes + size <= limits.maxBytes);
  };
  std::size_t freshCount = 0;
  for (auto it = added.rbegin(); it != added.rend() && fits(it->size()); ++it) {
    bytes += it->size();
    ++count;
    ++freshCount;
  }
  // The whole old frames form one run of bytes: the ones kept are its tail.
  std::size_t keptFrom = scan.validBytes;
  if (freshCount == added.size()) {
    for (auto it = scan.frames.rbegin(); it != scan.frames.rend() && fits(it->size); ++it) {
      keptFrom = it->offset;
      bytes += it->size;
      ++count;
    }
  }
  std::vector<std::string_view> parts;
  parts.reserve(2 + freshCount);
  parts.push_back(kHeader);
  if (keptFrom < scan.validBytes)
    parts.push_back(oldBytes.substr(keptFrom, scan.validBytes - keptFrom));
  for (std::size_t i = added.size() - freshCount; i < added.size(); ++i) parts.push_back(added[i]);
  return parts;
}

std::string RewriteJournal(std::string_view oldBytes, const std::vector<std::string>& added,
                           const JournalLimits& limits) {
  const std::vector<std::string_view> parts = RewriteJournalParts(oldBytes, added, limits);
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (std::string_view part : parts) out.append(part);
  return out;
}

bool ScanJournalFile(const std::filesystem::path& path, JournalShape& shape) {
  shape = JournalShape{};
  const int fd = OpenRegularForReading(path);
  if (fd < 0) return errno == ENOENT;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  char header[kFrameHeader];
  const auto readAt = [fd](char* into, std::size_t length, std::uint64_t at) {
    std::size_t done = 0;
    while (done < length) {
      const ssize_t got = ::pread(fd, into + done, length - done, static_cast<off_t>(at + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  };
  if (size < kHeader.size() || !readAt(header, kHeader.size(), 0) ||
      std::string_view(header, kHeader.size()) != kHeader) {
    ::close(fd);
    return true;
  }
  std::uint64_t at = kHeader.size();
  std::uint64_t last = at;
  std::size_t frames = 0;
  while (at + kFrameHeader <= size && readAt(header, kFrameHeader, at)) {
    const std::uint32_t length = GetFixed32(header);
    if (length > kMaxPayload || at + kFrameHeader + length > size) break;
    last = at;
    at += kFrameHeader + length;
    ++frames;
  }
  // Only the last frame is read whole: it is the one an interrupted write
  // could have left torn. One that fails its checksum goes with what
  // follows it.
  if (frames > 0) {
    std::string frame(static_cast<std::size_t>(at - last), '\0');
    if (!readAt(frame.data(), frame.size(), last) ||
        Crc32(std::string_view(frame).substr(kFrameHeader)) != GetFixed32(frame.data() + 4)) {
      at = last;
      --frames;
    }
  }
  ::close(fd);
  shape.frames = frames;
  shape.validBytes = at;
  return true;
}

JournalLimits TrimmedLimits(const JournalLimits& limits) {
  return {std::max<std::size_t>(1, limits.maxUpdates - limits.maxUpdates / 8),
          limits.maxBytes - limits.maxBytes / 8};
}

bool ReadJournalFile(const std::filesystem::path& path, std::string& bytes) {
  bytes.clear();
  if (ReadWholeFile(path, bytes)) return true;
  return errno == ENOENT;
}

}  // namespace orvane
