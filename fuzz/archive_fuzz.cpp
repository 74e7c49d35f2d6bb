// Reads arbitrary bytes as a self-describing archive: each value is preceded
// by an op byte that says what to read next. Whatever was read before the
// first failure is written out again and must read back identically (up to
// index numbering) and cleanly, so besides crashes the target catches disagreements between the
// reader and the writer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"

namespace orvane {
namespace {

constexpr ArchiveClass kNodeClass{"CNode", 1, 101};
constexpr ArchiveClass kLeafClass{"CLeaf", 2, 102};
const ArchiveClass* const kClasses[] = {&kNodeClass, &kLeafClass, &kFTPDirClass, &kFTPFileClass,
                                        &kFTPSiteClass};
// What an expecting reference may ask for; null means any class.
const ArchiveClass* const kExpected[] = {nullptr, &kNodeClass, &kLeafClass, &kFTPDirClass};

constexpr int kOpKinds = 9;
constexpr std::size_t kMaxEvents = 1 << 16;

enum OpKind { kByte, kWord, kDword, kQword, kBool, kString, kCount, kAnyRef, kExpectedRef };

struct Event {
  std::uint8_t op;
  std::uint64_t number = 0;
  std::string text;
  CArchiveReader::ObjectRef::Kind ref_kind = CArchiveReader::ObjectRef::Kind::kNull;
  const ArchiveClass* cls = nullptr;
  std::uint32_t index = 0;

  bool operator==(const Event& other) const {
    return op == other.op && number == other.number && text == other.text &&
           ref_kind == other.ref_kind && cls == other.cls && index == other.index;
  }
};

// Hands out bytes in pieces of `chunk`, so values land across buffer refills.
class ChunkedSource final : public ByteSource {
 public:
  ChunkedSource(const std::uint8_t* data, std::size_t size, std::size_t chunk)
      : data_(data), size_(size), chunk_(chunk) {}
  std::ptrdiff_t Read(void* out, std::size_t size) override {
    std::size_t n = size < chunk_ ? size : chunk_;
    if (n > size_ - pos_) n = size_ - pos_;
    if (n > 0) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Reads events until the end or the first failure. Returns true on a clean
// end.
bool ReadEvents(ByteSource& source, std::vector<Event>& events) {
  CArchiveReader reader(source, kClasses);
  std::deque<std::uint32_t> objects;  // stable addresses to bind
  while (events.size() < kMaxEvents && !reader.AtEnd()) {
    Event event;
    if (!reader.ReadByte(event.op)) break;
    bool ok = false;
    switch (event.op % kOpKinds) {
      case kByte: {
        std::uint8_t v;
        ok = reader.ReadByte(v);
        event.number = v;
        break;
      }
      case kWord: {
        std::uint16_t v;
        ok = reader.ReadWord(v);
        event.number = v;
        break;
      }
      case kDword: {
        std::uint32_t v;
        ok = reader.ReadDword(v);
        event.number = v;
        break;
      }
      case kQword:
        ok = reader.ReadQword(event.number);
        break;
      case kBool: {
        bool v;
        ok = reader.ReadBool(v);
        event.number = v ? 1 : 0;
        break;
      }
      case kString:
        ok = reader.ReadString(event.text);
        break;
      case kCount: {
        std::uint32_t v;
        ok = reader.ReadCount(v);
        event.number = v;
        break;
      }
      case kAnyRef:
      case kExpectedRef: {
        const ArchiveClass* expected =
            event.op % kOpKinds == kAnyRef ? nullptr : kExpected[(event.op / kOpKinds) % 4];
        CArchiveReader::ObjectRef ref;
        ok = reader.ReadObjectRef(expected, ref);
        if (!ok) break;
        event.ref_kind = ref.kind;
        event.cls = ref.cls;
        event.index = ref.index;
        Check(expected == nullptr || ref.kind == CArchiveReader::ObjectRef::Kind::kNull ||
              ref.cls == expected);
        if (ref.kind == CArchiveReader::ObjectRef::Kind::kNew) {
          objects.push_back(ref.index);
          reader.BindObject(ref.index, &objects.back());
        } else if (ref.kind == CArchiveReader::ObjectRef::Kind::kExisting) {
          Check(ref.object != nullptr && *static_cast<std::uint32_t*>(ref.object) == ref.index);
        }
        break;
      }
    }
    if (!ok) break;
    events.push_back(std::move(event));
  }
  return reader.ok() && (events.size() == kMaxEvents || reader.AtEnd());
}

// Writes the events and turns their indices into the writer's: a stream may
// repeat a class record, which takes an index on reading, but the writer
// introduces each class once.
std::string WriteEvents(std::vector<Event>& events) {
  StringSink sink;
  CArchiveWriter writer(sink);
  std::unordered_map<std::uint32_t, std::uint32_t> written_index;
  for (Event& event : events) {
    writer.WriteByte(event.op);
    switch (event.op % kOpKinds) {
      case kByte:
        writer.WriteByte(static_cast<std::uint8_t>(event.number));
        break;
      case kWord:
        writer.WriteWord(static_cast<std::uint16_t>(event.number));
        break;
      case kDword:
        writer.WriteDword(static_cast<std::uint32_t>(event.number));
        break;
      case kQword:
        writer.WriteQword(event.number);
        break;
      case kBool:
        writer.WriteBool(event.number != 0);
        break;
      case kString:
        writer.WriteString(event.text);
        break;
      case kCount:
        writer.WriteCount(static_cast<std::uint32_t>(event.number));
        break;
      default:
        switch (event.ref_kind) {
          case CArchiveReader::ObjectRef::Kind::kNull:
            writer.WriteNullRef();
            break;
          case CArchiveReader::ObjectRef::Kind::kExisting:
            event.index = written_index.at(event.index);
            writer.WriteObjectBackRef(event.index);
            break;
          case CArchiveReader::ObjectRef::Kind::kNew: {
            const std::uint32_t index = writer.WriteNewObject(*event.cls);
            Check(index <= event.index);
            written_index[event.index] = index;
            event.index = index;
            break;
          }
        }
    }
  }
  Check(writer.Close() == ArchiveError::kNone);
  return sink.bytes;
}

}  // namespace
}  // namespace orvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvane;
  if (size == 0) return 0;
  static constexpr std::size_t kChunks[] = {1, 3, 4096, SIZE_MAX};
  ChunkedSource source(data + 1, size - 1, kChunks[data[0] % 4]);
  std::vector<Event> events;
  ReadEvents(source, events);

  const std::string rewritten = WriteEvents(events);
  MemorySource again(rewritten);
  std::vector<Event> reread;
  Check(ReadEvents(again, reread));
  Check(reread == events);
  return 0;
}
