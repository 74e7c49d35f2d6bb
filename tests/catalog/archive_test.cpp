// Byte-exact tests of the object archive: prefix forms, object references,
// every failure kind, buffer and sink/source failures.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <initializer_list>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "tests/support/wait_until.h"

// Counting allocator: lets tests prove that a read allocates nothing in
// proportion to a declared length, and nothing beyond the string it fills.
namespace {
std::atomic<bool> g_count_allocations{false};
std::atomic<std::size_t> g_allocation_count{0};
std::atomic<std::size_t> g_largest_allocation{0};
}  // namespace

void* operator new(std::size_t size) {
  if (g_count_allocations.load(std::memory_order_relaxed)) {
    g_allocation_count.fetch_add(1, std::memory_order_relaxed);
    std::size_t largest = g_largest_allocation.load(std::memory_order_relaxed);
    while (size > largest && !g_largest_allocation.compare_exchange_weak(largest, size)) {
    }
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// Out of line, or the compiler sees free() meet a new-expression's pointer.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace orvane {
namespace {

class AllocationCounter {
 public:
  AllocationCounter() {
    g_allocation_count = 0;
    g_largest_allocation = 0;
    g_count_allocations = true;
  }
  ~AllocationCounter() { g_count_allocations = false; }
  std::size_t count() const { return g_allocation_count; }
  std::size_t largest() const { return g_largest_allocation; }
};

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Pattern(std::size_t size, int seed = 0) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return out;
}

template <typename Fn>
std::string Written(Fn&& fn) {
  StringSink sink;
  CArchiveWriter writer(sink);
  fn(writer);
  EXPECT_EQ(writer.Close(), ArchiveError::kNone);
  return sink.bytes;
}

// Delivers at most `chunk` bytes per call, to move every value across buffer
// refills.
class ChunkedSource final : public ByteSource {
 public:
  ChunkedSource(std::string bytes, std::size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  std::ptrdiff_t Read(void* data, std::size_t size) override {
    const std::size_t n = std::min({size, chunk_, bytes_.size() - pos_});
    std::memcpy(data, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// Accepts `limit` bytes in total; the write that would pass it fails, as a
// full disk does.
class FailingSink final : public ByteSink {
 public:
  explicit FailingSink(std::size_t limit) : limit_(limit) {}
  bool Write(const void* data, std::size_t size) override {
    if (failed) ++calls_after_failure;
    if (failed || bytes.size() + size > limit_) {
      failed = true;
      return false;
    }
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
  bool failed = false;
  int calls_after_failure = 0;

 private:
  std::size_t limit_;
};

constexpr ArchiveClass kNodeClass{"CNode", 1, 101};
constexpr ArchiveClass kLeafClass{"CLeaf", 3, 102};
constexpr ArchiveClass kLongNameClass{
    "C12345678901234567890123456789012345678901234567890123456789012", 1, 103};
const ArchiveClass* const kTestClasses[] = {&kNodeClass, &kLeafClass, &kLongNameClass,
                                            &kFTPDirClass};

// ---------------------------------------------------------------------------
// Primitives

TEST(ArchivePrimitives, LittleEndianWithoutPadding) {
  const std::string bytes = Written([](CArchiveWriter& w) {
    w.WriteByte(0xAB);
    w.WriteWord(0x1234);
    w.WriteDword(0x89ABCDEF);
    w.WriteDword(static_cast<std::uint32_t>(-2));
    w.WriteQword(0x0102030405060708);
    w.WriteBool(true);
    w.WriteBool(false);
  });
  EXPECT_EQ(Hex(bytes), "AB 34 12 EF CD AB 89 FE FF FF FF 08 07 06 05 04 03 02 01 01 00");

  MemorySource source(bytes);
  CArchiveReader reader(source);
  std::uint8_t b;
  std::uint16_t w;
  std::uint32_t d1, d2;
  std::uint64_t q;
  bool t, f;
  ASSERT_TRUE(reader.ReadByte(b) && reader.ReadWord(w) && reader.ReadDword(d1) &&
              reader.ReadDword(d2) && reader.ReadQword(q) && reader.ReadBool(t) &&
              reader.ReadBool(f));
  EXPECT_EQ(b, 0xAB);
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(d1, 0x89ABCDEFu);
  EXPECT_EQ(static_cast<std::int32_t>(d2), -2);
  EXPECT_EQ(q, 0x0102030405060708u);
  EXPECT_TRUE(t);
  EXPECT_FALSE(f);
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ArchivePrimitives, AnyNonZeroByteReadsAsTrue) {
  const std::string input = Bytes({0x02, 0xFF, 0x00});
  MemorySource source(input);
  CArchiveReader reader(source);
  bool a, b, c;
  ASSERT_TRUE(reader.ReadBool(a) && reader.ReadBool(b) && reader.ReadBool(c));
  EXPECT_TRUE(a);
  EXPECT_TRUE(b);
  EXPECT_FALSE(c);
}

TEST(ArchivePrimitives, ValuesStraddlingTheBufferEdgeReadWhole) {
  // Values placed so that each crosses a 4096-byte refill boundary, and the
  // source trickles so that refills happen mid-value too.
  const std::string filler = Pattern(CArchiveReader::kBufferSize - 3);
  const std::string bytes = Written([&](CArchiveWriter& w) {
    w.WriteString(filler.substr(0, filler.size() - 3));  // prefix FF + word: 3 bytes
    w.WriteQword(0x1122334455667788);
    w.WriteString(Pattern(200, 1));
    w.WriteDword(0xCAFEBABE);
  });
  for (std::size_t chunk : {1, 3, 4096, 100000}) {
    SCOPED_TRACE(chunk);
    ChunkedSource source(bytes, chunk);
    CArchiveReader reader(source);
    std::string s1, s2;
    std::uint64_t q;
    std::uint32_t d;
    ASSERT_TRUE(reader.ReadString(s1) && reader.ReadQword(q) && reader.ReadString(s2) &&
                reader.ReadDword(d));
    EXPECT_EQ(s1, filler.substr(0, filler.size() - 3));
    EXPECT_EQ(q, 0x1122334455667788u);
    EXPECT_EQ(s2, Pattern(200, 1));
    EXPECT_EQ(d, 0xCAFEBABEu);
    EXPECT_TRUE(reader.AtEnd());
  }
}

TEST(ArchivePrimitives, EveryTruncationFailsWithEndOfFileAndStaysFailed) {
  const std::string bytes = Written([](CArchiveWriter& w) {
    w.WriteWord(1);
    w.WriteDword(2);
    w.WriteQword(3);
    w.WriteString("four");
    w.WriteCount(0x12345);
  });
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    MemorySource source(bytes.data(), cut);
    CArchiveReader reader(source);
    std::uint16_t w;
    std::uint32_t d, count;
    std::uint64_t q;
    std::string s;
    EXPECT_FALSE(reader.ReadWord(w) && reader.ReadDword(d) && reader.ReadQword(q) &&
                 reader.ReadString(s) && reader.ReadCount(count));
    EXPECT_EQ(reader.error(), ArchiveError::kEndOfFile);
    // Sticky: nothing reads after a failure, and the first error is kept.
    reader.Fail(ArchiveError::kBadClass);
    std::uint8_t b;
    EXPECT_FALSE(reader.ReadByte(b));
    EXPECT_EQ(reader.error(), ArchiveError::kEndOfFile);
    EXPECT_FALSE(reader.AtEnd());
  }
}

TEST(ArchivePrimitives, SourceErrorIsIo) {
  class BrokenSource final : public ByteSource {
   public:
    std::ptrdiff_t Read(void*, std::size_t) override { return -1; }
  } source;
  CArchiveReader reader(source);
  std::uint16_t w;
  EXPECT_FALSE(reader.ReadWord(w));
  EXPECT_EQ(reader.error(), ArchiveError::kIo);
}

// ---------------------------------------------------------------------------
// Strings

struct PrefixCase {
  std::size_t length;
  std::string prefix;
};

TEST(ArchiveStrings, PrefixFormsAtEachBoundary) {
  const PrefixCase cases[] = {
      {0, Bytes({0x00})},
      {254, Bytes({0xFE})},
      {255, Bytes({0xFF, 0xFF, 0x00})},
      {0xFFFD, Bytes({0xFF, 0xFD, 0xFF})},
      {0xFFFE, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
      {0xFFFF, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00})},
      {0x10000, Bytes({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00})},
  };
  for (const PrefixCase& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string text = Pattern(c.length);
    const std::string bytes = Written([&](CArchiveWriter& w) { w.WriteString(text); });
    ASSERT_EQ(bytes.size(), c.prefix.size() + c.length);
    EXPECT_EQ(Hex(bytes.substr(0, c.prefix.size())), Hex(c.prefix));
    EXPECT_EQ(bytes.substr(c.prefix.size()), text);
  }
}

TEST(ArchiveStrings, RoundTripOverEveryLengthBoundary) {
  std::vector<std::size_t> lengths;
  for (std::size_t base :
       {std::size_t{0}, std::size_t{0xFF}, std::size_t{0xFFFE}, CArchiveReader::kBufferSize}) {
    for (std::size_t n = base < 3 ? 0 : base - 3; n <= base + 2; ++n) lengths.push_back(n);
  }
  lengths.push_back(100000);  // several buffers, read past the buffer
  const std::string bytes = Written([&](CArchiveWriter& w) {
    for (std::size_t i = 0; i < lengths.size(); ++i)
      w.WriteString(Pattern(lengths[i], static_cast<int>(i)));
    w.WriteByte(0x5A);
  });
  for (std::size_t chunk : {1, 4095, 1 << 20}) {
    SCOPED_TRACE(chunk);
    ChunkedSource source(bytes, chunk);
    CArchiveReader reader(source);
    std::string value;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      ASSERT_TRUE(reader.ReadString(value)) << lengths[i];
      ASSERT_EQ(value, Pattern(lengths[i], static_cast<int>(i))) << lengths[i];
    }
    std::uint8_t tail;
    ASSERT_TRUE(reader.ReadByte(tail));
    EXPECT_EQ(tail, 0x5A);
    EXPECT_TRUE(reader.AtEnd());
  }
}

TEST(ArchiveStrings, LongerPrefixFormsThanNeededAreAccepted) {
  // Other writers may spend a wider prefix on a short string.
  const std::string bytes =
      Bytes({0xFF, 0x03, 0x00, 'a', 'b', 'c'}) +
      Bytes({0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 'd', 'e'}) +
      Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0, 'f'});
  MemorySource source(bytes);
  CArchiveReader reader(source);
  std::string a, b, c;
  ASSERT_TRUE(reader.ReadString(a) && reader.ReadString(b) && reader.ReadString(c));
  EXPECT_EQ(a, "abc");
  EXPECT_EQ(b, "de");
  EXPECT_EQ(c, "f");
}

TEST(ArchiveStrings, WideFormsReadAsCodePage936) {
  // "中a" in UTF-16LE; 中 is D6 D0 in code page 936.
  const std::string units = Bytes({0x2D, 0x4E, 'a', 0x00});
  const std::string bytes = Bytes({0xFF, 0xFE, 0xFF, 0x02}) + units +              // byte length
                            Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0x02, 0x00}) + units +  // word length
                            Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0}) +
                            units +                           // dword length
                            Bytes({0xFF, 0xFE, 0xFF, 0x00});  // empty
  MemorySource source(bytes);
  CArchiveReader reader(source);
  for (int i = 0; i < 3; ++i) {
    std::string value;
    ASSERT_TRUE(reader.ReadString(value)) << i;
    EXPECT_EQ(Hex(value), "D6 D0 61") << i;
  }
  std::string empty = "x";
  ASSERT_TRUE(reader.ReadString(empty));
  EXPECT_EQ(empty, "");
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ArchiveStrings, WideLengthFFFEIsALengthNotASecondMarker) {
  std::string bytes = Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF});
  for (int i = 0; i < 0xFFFE; ++i) bytes += Bytes({'w', 0});
  MemorySource source(bytes);
  CArchiveReader reader(source);
  std::string value;
  ASSERT_TRUE(reader.ReadString(value));
  EXPECT_EQ(value, std::string(0xFFFE, 'w'));
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ArchiveStrings, WideTextIsWrittenBackInTheEightBitForm) {
  const std::string input = Bytes({0xFF, 0xFE, 0xFF, 0x03, 'a', 0, 'b', 0, 'c', 0});
  MemorySource source(input);
  CArchiveReader reader(source);
  std::string value;
  ASSERT_TRUE(reader.ReadString(value));
  EXPECT_EQ(Hex(Written([&](CArchiveWriter& w) { w.WriteString(value); })), "03 61 62 63");
}

TEST(ArchiveStrings, MalformedLengthsFail) {
  struct Case {
    const char* name;
    std::string bytes;
    ArchiveError error;
  };
  const Case cases[] = {
      {"64-bit length above 0x7FFFFFFF",
       Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80, 0, 0, 0, 0}),
       ArchiveError::kGeneric},
      {"64-bit length with high dword set",
       Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 1, 0, 0, 0}),
       ArchiveError::kGeneric},
      {"wide 64-bit length above 0x7FFFFFFF",
       Bytes(
           {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80, 0, 0, 0, 0}),
       ArchiveError::kGeneric},
      {"64-bit length 0x7FFFFFFF, few bytes",
       Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 'x'}),
       ArchiveError::kEndOfFile},
      {"inside the characters", Bytes({0x05, 'a', 'b'}), ArchiveError::kEndOfFile},
      {"inside the word prefix", Bytes({0xFF, 0x00}), ArchiveError::kEndOfFile},
      {"inside the dword prefix", Bytes({0xFF, 0xFF, 0xFF, 0x01, 0x00}), ArchiveError::kEndOfFile},
      {"after the wide marker", Bytes({0xFF, 0xFE, 0xFF}), ArchiveError::kEndOfFile},
      {"half a wide character", Bytes({0xFF, 0xFE, 0xFF, 0x01, 'a'}), ArchiveError::kEndOfFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource source(c.bytes);
    CArchiveReader reader(source);
    std::string value;
    EXPECT_FALSE(reader.ReadString(value));
    EXPECT_EQ(reader.error(), c.error);
  }
}

TEST(ArchiveStrings, HugeDeclaredLengthFailsWithoutAllocatingIt) {
  // 12 bytes each, claiming about four billion bytes (or units).
  const std::string inputs[] = {
      Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c', 'd', 'e'}),
      Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 0}),
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(Hex(input));
    ASSERT_EQ(input.size(), 12u);
    MemorySource source(input);
    CArchiveReader reader(source);
    std::string value;
    AllocationCounter allocations;
    EXPECT_FALSE(reader.ReadString(value));
    EXPECT_EQ(reader.error(), ArchiveError::kEndOfFile);
    EXPECT_LE(allocations.largest(), 2 * CArchiveReader::kBufferSize);
  }
}

TEST(ArchiveStrings, LongDeclaredLengthGrowsOnlyWithArrivingBytes) {
  // A 0x7FFFFFFE-byte claim followed by 1 MiB: the string may grow to a small
  // multiple of what arrived, never toward the claim.
  std::string input = Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0x7F}) + Pattern(1 << 20);
  ChunkedSource source(std::move(input), 1 << 16);
  CArchiveReader reader(source);
  std::string value;
  AllocationCounter allocations;
  EXPECT_FALSE(reader.ReadString(value));
  EXPECT_EQ(reader.error(), ArchiveError::kEndOfFile);
  EXPECT_LE(allocations.largest(), std::size_t{4} << 20);
}

TEST(ArchiveStrings, ShortStringsAllocateNothingButTheString) {
  // The 128-byte string sits across the buffer edge, so it takes the slow
  // path: into a string with room it allocates nothing, into an empty one once.
  const std::string bytes = Written([](CArchiveWriter& w) {
    w.WriteString(Pattern(CArchiveReader::kBufferSize - 64));
    w.WriteString(Pattern(128, 3));
  });
  for (bool roomy : {true, false}) {
    SCOPED_TRACE(roomy);
    ChunkedSource source(bytes, CArchiveReader::kBufferSize);
    CArchiveReader reader(source);
    std::string value;
    ASSERT_TRUE(reader.ReadString(value));
    std::string target;
    if (roomy) target.reserve(128);
    std::size_t count;
    bool ok;
    {
      AllocationCounter allocations;
      ok = reader.ReadString(target);
      count = allocations.count();
    }
    ASSERT_TRUE(ok);
    EXPECT_EQ(count, roomy ? 0u : 1u);
    EXPECT_EQ(target, Pattern(128, 3));
  }
}

// ---------------------------------------------------------------------------
// Counts

TEST(ArchiveCounts, ShortAndEscapedForms) {
  const std::pair<std::uint32_t, std::string> cases[] = {
      {0, Bytes({0x00, 0x00})},
      {0xFFFE, Bytes({0xFE, 0xFF})},
      {0xFFFF, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00})},
      {0xFFFFFFFF, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const auto& [count, expected] : cases) {
    SCOPED_TRACE(count);
    const std::string bytes = Written([&](CArchiveWriter& w) { w.WriteCount(count); });
    EXPECT_EQ(Hex(bytes), Hex(expected));
    MemorySource source(bytes);
    CArchiveReader reader(source);
    std::uint32_t value;
    ASSERT_TRUE(reader.ReadCount(value));
    EXPECT_EQ(value, count);
  }
}

TEST(ArchiveCounts, TruncatedEscapeIsEndOfFile) {
  const std::string input = Bytes({0xFF, 0xFF, 0x01, 0x00});
  MemorySource source(input);
  CArchiveReader reader(source);
  std::uint32_t value;
  EXPECT_FALSE(reader.ReadCount(value));
  EXPECT_EQ(reader.error(), ArchiveError::kEndOfFile);
}

TEST(ArchiveCounts, FourBillionElementsInTwelveBytesFailAtOnce) {
  const std::string input = Bytes({0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0});
  MemorySource source(input);
  CArchiveReader reader(source);
  AllocationCounter allocations;
  std::uint32_t count;
  ASSERT_TRUE(reader.ReadCount(count));
  EXPECT_EQ(count, 0xFFFFFFFEu);
  std::uint32_t read = 0;
  CArchiveReader::ObjectRef ref;
  while (read < count && reader.ReadObjectRef(nullptr, ref)) ++read;
  EXPECT_EQ(read, 3u);  // three null references, then the end
  EXPECT_EQ(reader.error(), ArchiveError::kEndOfFile);
  EXPECT_EQ(allocations.count(), 0u);
}

// ---------------------------------------------------------------------------
// Object references

TEST(ArchiveObjects, TwoObjectListOfANewClass) {
  std::uint32_t first = 0, second = 0;
  const std::string bytes = Written([&](CArchiveWriter& w) {
    w.WriteCount(2);
    first = w.WriteNewObject(kNodeClass);
    w.WriteString("a");
    second = w.WriteNewObject(kNodeClass);
    w.WriteString("b");
  });
  EXPECT_EQ(first, 2u);
  EXPECT_EQ(second, 3u);
  EXPECT_EQ(Hex(bytes), Hex(Bytes({0x02, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00, 'C', 'N', 'o',
                                   'd', 'e', 0x01, 'a', 0x01, 0x80, 0x01, 'b'})));

  MemorySource source(bytes);
  CArchiveReader reader(source, kTestClasses);
  std::uint32_t count;
  ASSERT_TRUE(reader.ReadCount(count));
  ASSERT_EQ(count, 2u);
  for (std::uint32_t i = 0; i < count; ++i) {
    CArchiveReader::ObjectRef ref;
    std::string name;
    ASSERT_TRUE(reader.ReadObjectRef(nullptr, ref));
    EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kNew);
    EXPECT_EQ(ref.cls, &kNodeClass);
    EXPECT_EQ(ref.index, 2 + i);
    ASSERT_TRUE(reader.ReadString(name));
    EXPECT_EQ(name, i == 0 ? "a" : "b");
  }
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ArchiveObjects, SystemClassesAreTheDefaultRegistry) {
  const std::string bytes = Written([](CArchiveWriter& w) {
    w.WriteNewObject(kFTPDirClass);
    w.WriteNewObject(kFTPFileClass);
    w.WriteNewObject(kFTPSiteClass);
  });
  EXPECT_EQ(bytes.substr(0, 13),
            Bytes({0xFF, 0xFF, 0x01, 0x00, 0x07, 0x00, 'C', 'F', 'T', 'P', 'D', 'i', 'r'}));
  MemorySource source(bytes);
  CArchiveReader reader(source);
  for (const ArchiveClass* expected : {&kFTPDirClass, &kFTPFileClass, &kFTPSiteClass}) {
    CArchiveReader::ObjectRef ref;
    ASSERT_TRUE(reader.ReadObjectRef(expected, ref));
    EXPECT_EQ(ref.cls->id, expected->id);
  }
}

TEST(ArchiveObjects, NullAndBackReferences) {
  std::uint32_t index = 0;
  const std::string bytes = Written([&](CArchiveWriter& w) {
    index = w.WriteNewObject(kLeafClass);
    w.WriteNullRef();
    w.WriteObjectBackRef(index);
  });
  EXPECT_EQ(Hex(bytes), Hex(Bytes({0xFF, 0xFF, 0x03, 0x00, 0x05, 0x00, 'C', 'L', 'e', 'a', 'f',
                                   0x00, 0x00, 0x02, 0x00})));
  MemorySource source(bytes);
  CArchiveReader reader(source, kTestClasses);
  int object = 0;
  CArchiveReader::ObjectRef ref;
  ASSERT_TRUE(reader.ReadObjectRef(&kLeafClass, ref));
  reader.BindObject(ref.index, &object);
  ASSERT_TRUE(reader.ReadObjectRef(&kLeafClass, ref));
  EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kNull);
  ASSERT_TRUE(reader.ReadObjectRef(&kLeafClass, ref));
  EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kExisting);
  EXPECT_EQ(ref.object, &object);
  EXPECT_EQ(ref.cls, &kLeafClass);
  EXPECT_EQ(ref.index, index);
}

TEST(ArchiveObjects, LongestAcceptedClassNameIs63Bytes) {
  ASSERT_EQ(std::strlen(kLongNameClass.name), 63u);
  const std::string bytes = Written([](CArchiveWriter& w) { w.WriteNewObject(kLongNameClass); });
  MemorySource source(bytes);
  CArchiveReader reader(source, kTestClasses);
  CArchiveReader::ObjectRef ref;
  ASSERT_TRUE(reader.ReadObjectRef(nullptr, ref));
  EXPECT_EQ(ref.cls, &kLongNameClass);
}

TEST(ArchiveObjects, EscapedFormsOfSmallIndicesAreAccepted) {
  const std::string bytes = Bytes({0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00, 'C', 'N', 'o', 'd', 'e'}) +
                            Bytes({0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}) +  // class 1, object 3
                            Bytes({0xFF, 0x7F, 0x03, 0x00, 0x00, 0x00});   // object 3
  MemorySource source(bytes);
  CArchiveReader reader(source, kTestClasses);
  CArchiveReader::ObjectRef ref;
  ASSERT_TRUE(reader.ReadObjectRef(nullptr, ref));
  ASSERT_TRUE(reader.ReadObjectRef(nullptr, ref));
  EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kNew);
  EXPECT_EQ(ref.index, 3u);
  ASSERT_TRUE(reader.ReadObjectRef(nullptr, ref));
  EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kExisting);
  EXPECT_EQ(ref.index, 3u);
}

struct RefErrorCase {
  const char* name;
  std::string bytes;
  const ArchiveClass* expected;
  ArchiveError error;
};

TEST(ArchiveObjects, EveryMalformedReferenceFailsWithItsKind) {
  const std::string node = Bytes({0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00, 'C', 'N', 'o', 'd', 'e'});
  const RefErrorCase cases[] = {
      {"unknown class", Bytes({0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00, 'C', 'X', 'Y', 'Z'}), nullptr,
       ArchiveError::kBadClass},
      {"class name differs in case",
       Bytes({0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00, 'C', 'n', 'o', 'd', 'e'}), nullptr,
       ArchiveError::kBadClass},
      {"class name is a prefix", Bytes({0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00, 'C', 'N', 'o', 'd'}),
       nullptr, ArchiveError::kBadClass},
      {"class name of 64 bytes", Bytes({0xFF, 0xFF, 0x01, 0x00, 0x40, 0x00}) + Pattern(64), nullptr,
       ArchiveError::kBadClass},
      {"CFTPDir with schema 2",
       Bytes({0xFF, 0xFF, 0x02, 0x00, 0x07, 0x00, 'C', 'F', 'T', 'P', 'D', 'i', 'r'}), nullptr,
       ArchiveError::kBadSchema},
      {"end inside the class name", Bytes({0xFF, 0xFF, 0x01, 0x00, 0x07, 0x00, 'C', 'F', 'T'}),
       nullptr, ArchiveError::kEndOfFile},
      {"end inside the schema", Bytes({0xFF, 0xFF, 0x01}), nullptr, ArchiveError::kEndOfFile},
      {"end inside the tag", Bytes({0x01}), nullptr, ArchiveError::kEndOfFile},
      {"end inside the escaped index", Bytes({0xFF, 0x7F, 0x01, 0x00}), nullptr,
       ArchiveError::kEndOfFile},
      {"object index not yet defined", Bytes({0x01, 0x00}), nullptr, ArchiveError::kBadIndex},
      {"object index names a class", node + Bytes({0x01, 0x00}), nullptr, ArchiveError::kBadIndex},
      {"class index names an object", node + Bytes({0x02, 0x80}), nullptr, ArchiveError::kBadIndex},
      {"class index not yet defined", node + Bytes({0x03, 0x80}), nullptr, ArchiveError::kBadIndex},
      {"class index 0", Bytes({0x00, 0x80}), nullptr, ArchiveError::kBadIndex},
      {"escaped class index 0", Bytes({0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80}), nullptr,
       ArchiveError::kBadIndex},
      {"escaped object index not yet defined", Bytes({0xFF, 0x7F, 0x00, 0x00, 0x01, 0x00}), nullptr,
       ArchiveError::kBadIndex},
      {"escaped index with every bit set", node + Bytes({0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}),
       nullptr, ArchiveError::kBadIndex},
      {"new class other than expected", node, &kLeafClass, ArchiveError::kBadClass},
  };
  for (const RefErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource source(c.bytes);
    CArchiveReader reader(source, kTestClasses);
    CArchiveReader::ObjectRef ref;
    bool ok = true;
    while (ok && !reader.AtEnd()) ok = reader.ReadObjectRef(c.expected, ref);
    EXPECT_FALSE(ok);
    EXPECT_EQ(reader.error(), c.error);
  }
}

TEST(ArchiveObjects, BackReferencesToAnotherClassThanExpectedAreRejected) {
  const std::string node = Bytes({0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00, 'C', 'N', 'o', 'd', 'e'});
  for (const std::string& later : {Bytes({0x01, 0x80}), Bytes({0x02, 0x00})}) {
    SCOPED_TRACE(Hex(later));
    const std::string input = node + later;
    MemorySource source(input);
    CArchiveReader reader(source, kTestClasses);
    CArchiveReader::ObjectRef ref;
    ASSERT_TRUE(reader.ReadObjectRef(&kNodeClass, ref));
    EXPECT_FALSE(reader.ReadObjectRef(&kLeafClass, ref));
    EXPECT_EQ(reader.error(), ArchiveError::kBadClass);
  }
}

// More than 0x7FFE objects: indices above 0x7FFE need the 0x7FFF escape, for
// object back-references and (with the top bit) for class back-references.
TEST(ArchiveObjects, BigIndexEscapeIsWrittenAndReadBack) {
  constexpr std::uint32_t kNodes = 0x7FFC;  // indices 2 .. 0x7FFD
  std::vector<std::uint32_t> indices;
  const std::string bytes = Written([&](CArchiveWriter& w) {
    for (std::uint32_t i = 0; i < kNodes; ++i) {
      indices.push_back(w.WriteNewObject(kNodeClass));
      w.WriteDword(i);
    }
    indices.push_back(w.WriteNewObject(kLeafClass));      // class 0x7FFE, object 0x7FFF
    indices.push_back(w.WriteNewObject(kLongNameClass));  // class 0x8000, object 0x8001
    indices.push_back(w.WriteNewObject(kLeafClass));      // class ref 0x7FFE: plain word
    indices.push_back(w.WriteNewObject(kLongNameClass));  // class ref 0x8000: escaped
    indices.push_back(w.WriteNewObject(kNodeClass));      // class ref 1
    w.WriteObjectBackRef(0x7FFD);
    w.WriteObjectBackRef(0x7FFF);
    w.WriteObjectBackRef(0x8003);
  });
  ASSERT_EQ(indices.size(), kNodes + 5);
  EXPECT_EQ(indices[kNodes - 1], 0x7FFDu);
  EXPECT_EQ(indices[kNodes], 0x7FFFu);
  EXPECT_EQ(indices[kNodes + 1], 0x8001u);
  EXPECT_EQ(indices[kNodes + 4], 0x8004u);

  const std::size_t tail_offset = 11 + 4 + (kNodes - 1) * 6;
  const std::string expected_tail =
      Bytes({0xFF, 0xFF, 0x03, 0x00, 0x05, 0x00, 'C', 'L', 'e', 'a', 'f'}) +
      Bytes({0xFF, 0xFF, 0x01, 0x00, 0x3F, 0x00}) + kLongNameClass.name +
      Bytes({0xFE, 0xFF}) +                          // 0x8000 | 0x7FFE
      Bytes({0xFF, 0x7F, 0x00, 0x80, 0x00, 0x80}) +  // escape, 0x80000000 | 0x8000
      Bytes({0x01, 0x80}) +                          //
      Bytes({0xFD, 0x7F}) +                          // object 0x7FFD
      Bytes({0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x00}) +  // object 0x7FFF, escaped
      Bytes({0xFF, 0x7F, 0x03, 0x80, 0x00, 0x00});   // object 0x8003, escaped
  ASSERT_EQ(bytes.size(), tail_offset + expected_tail.size());
  EXPECT_EQ(Hex(bytes.substr(tail_offset)), Hex(expected_tail));

  MemorySource source(bytes);
  CArchiveReader reader(source, kTestClasses);
  std::vector<std::uint32_t> objects(0x8005);  // bound per index; value is the index
  CArchiveReader::ObjectRef ref;
  for (std::uint32_t i = 0; i < kNodes; ++i) {
    std::uint32_t field;
    ASSERT_TRUE(reader.ReadObjectRef(&kNodeClass, ref));
    ASSERT_EQ(ref.index, indices[i]);
    objects[ref.index] = ref.index;
    reader.BindObject(ref.index, &objects[ref.index]);
    ASSERT_TRUE(reader.ReadDword(field));
    ASSERT_EQ(field, i);
  }
  const ArchiveClass* const classes[] = {&kLeafClass, &kLongNameClass, &kLeafClass, &kLongNameClass,
                                         &kNodeClass};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(reader.ReadObjectRef(classes[i], ref)) << i;
    EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kNew);
    EXPECT_EQ(ref.index, indices[kNodes + i]);
    objects[ref.index] = ref.index;
    reader.BindObject(ref.index, &objects[ref.index]);
  }
  for (std::uint32_t index : {0x7FFDu, 0x7FFFu, 0x8003u}) {
    ASSERT_TRUE(reader.ReadObjectRef(nullptr, ref));
    EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kExisting);
    ASSERT_NE(ref.object, nullptr);
    EXPECT_EQ(*static_cast<std::uint32_t*>(ref.object), index);
  }
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ArchiveObjects, IndexBoundaryBetweenWordAndEscape) {
  const std::string bytes = Written([](CArchiveWriter& w) {
    for (int i = 0; i < 0x7FFD; ++i) w.WriteNewObject(kNodeClass);  // objects 2 .. 0x7FFE
    EXPECT_EQ(w.WriteNewObject(kLeafClass), 0x8000u);               // class 0x7FFF
    w.WriteNewObject(kLeafClass);
    w.WriteObjectBackRef(0x7FFE);
  });
  EXPECT_EQ(Hex(bytes.substr(bytes.size() - 8)), "FF 7F FF 7F 00 80 FE 7F");
  MemorySource source(bytes);
  CArchiveReader reader(source, kTestClasses);
  CArchiveReader::ObjectRef ref;
  for (int i = 0; i < 0x7FFD; ++i) ASSERT_TRUE(reader.ReadObjectRef(&kNodeClass, ref));
  ASSERT_TRUE(reader.ReadObjectRef(&kLeafClass, ref));
  ASSERT_TRUE(reader.ReadObjectRef(&kLeafClass, ref));
  EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kNew);
  EXPECT_EQ(ref.index, 0x8001u);
  ASSERT_TRUE(reader.ReadObjectRef(&kNodeClass, ref));
  EXPECT_EQ(ref.kind, CArchiveReader::ObjectRef::Kind::kExisting);
  EXPECT_EQ(ref.index, 0x7FFEu);
  EXPECT_TRUE(reader.AtEnd());
}

// ---------------------------------------------------------------------------
// Writer failures and file endpoints

TEST(ArchiveWriter, SinkFailureIsReportedAndStopsWriting) {
  const auto write_all = [](CArchiveWriter& w) {
    for (int i = 0; i < 50; ++i) w.WriteString(Pattern(300 + i * 100, i));
  };
  const std::string good = Written(write_all);
  for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4096},
                            std::size_t{4097}, good.size() / 2, good.size() - 1}) {
    SCOPED_TRACE(limit);
    FailingSink sink(limit);
    CArchiveWriter writer(sink);
    write_all(writer);
    EXPECT_EQ(writer.Close(), ArchiveError::kIo);
    EXPECT_FALSE(writer.ok());
    EXPECT_TRUE(sink.failed);
    EXPECT_EQ(sink.calls_after_failure, 0);
    EXPECT_EQ(sink.bytes, good.substr(0, sink.bytes.size()));
  }
  FailingSink roomy(good.size());
  CArchiveWriter writer(roomy);
  write_all(writer);
  EXPECT_EQ(writer.Close(), ArchiveError::kNone);
  EXPECT_EQ(roomy.bytes, good);
}

TEST(ArchiveWriter, FullDiskIsIo) {
  const int fd = ::open("/dev/full", O_WRONLY);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  FdSink sink(fd);
  CArchiveWriter writer(sink);
  writer.WriteString("x");
  EXPECT_EQ(writer.Close(), ArchiveError::kIo);
  ::close(fd);
}

// Whether thread `tid` of this process sits in a read() of `fd`; true when
// the kernel does not tell (then there is nothing to wait for).
bool BlockedInRead(pid_t tid, int fd) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  std::string argument;
  if (!(in >> number)) return true;
  if (!(in >> argument)) return false;  // "running"
  return number == SYS_read && std::strtol(argument.c_str(), nullptr, 16) == fd;
}

// Signals without SA_RESTART make blocking pipe calls return EINTR or short
// counts; the file endpoints must carry on regardless. Each side closes its
// end when it stops, so a broken endpoint fails the test instead of hanging it.
TEST(ArchiveFileEndpoints, InterruptedReadsAndShortWritesCarryOn) {
  struct sigaction action {};
  action.sa_handler = [](int) {};
  struct sigaction old_usr1 {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction old_pipe {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &old_usr1), 0);  // no SA_RESTART
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old_pipe), 0);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);

  const std::string payload = Pattern(1 << 20);
  const int capacity = ::fcntl(fds[1], F_GETPIPE_SZ);
  std::atomic<pid_t> reader_tid{0};
  std::promise<void> finished;
  std::future<void> reader_done = finished.get_future();
  std::atomic<bool> stop{false};
  std::string received;
  bool read_ok = false;
  bool at_end = false;
  std::thread reader_thread([&] {
    reader_tid = static_cast<pid_t>(::syscall(SYS_gettid));
    FdSource source(fds[0]);
    CArchiveReader reader(source);
    std::string greeting;
    read_ok = reader.ReadString(greeting) && greeting == "hello";  // blocks on an empty pipe
    // Until the pipe is full, so that the writer blocks on it.
    test::WaitUntil([&] {
      int queued = 0;
      return ::ioctl(fds[0], FIONREAD, &queued) != 0 || queued >= capacity - 4096;
    });
    read_ok = read_ok && reader.ReadString(received);
    at_end = reader.AtEnd();
    ::close(fds[0]);
    finished.set_value();
  });
  const pthread_t writer_thread = ::pthread_self();
  std::thread interrupter([&] {
    while (!stop) {
      ::pthread_kill(reader_thread.native_handle(), SIGUSR1);
      ::pthread_kill(writer_thread, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  // The reader blocks first.
  test::WaitUntil([&] { return reader_tid != 0 && BlockedInRead(reader_tid, fds[0]); });
  FdSink sink(fds[1]);
  CArchiveWriter greeting_writer(sink);
  greeting_writer.WriteString("hello");
  const ArchiveError greeted = greeting_writer.Close();
  CArchiveWriter writer(sink);
  writer.WriteString(payload);
  const ArchiveError written = writer.Close();
  ::close(fds[1]);
  reader_done.wait();
  stop = true;
  interrupter.join();  // before the reader's thread goes away
  reader_thread.join();
  ::sigaction(SIGUSR1, &old_usr1, nullptr);
  ::sigaction(SIGPIPE, &old_pipe, nullptr);
  EXPECT_EQ(greeted, ArchiveError::kNone);
  EXPECT_EQ(written, ArchiveError::kNone);
  EXPECT_TRUE(read_ok);
  EXPECT_TRUE(at_end);
  EXPECT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload);
}

}  // namespace
}  // namespace orvane
