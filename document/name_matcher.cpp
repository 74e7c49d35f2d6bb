#include "document/name_matcher.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "catalog/code_page.h"
#include "catalog/name_charset.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"

namespace orvane {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Whether every byte starts a whole code page character: no lone lead byte,
// no 0xFF. A keyword with such bytes cannot be found in any code page name.
bool IsWholeCp936(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    if (p[i] == 0xFF) return false;
    const std::size_t length = Cp936CharLength(p + i, n - i);
    if (p[i] >= 0x81 && length != 2) return false;
    i += length;
  }
  return true;
}

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
// Byte lanes are numbered from the low end: lane k is the name's byte i + k.
static_assert(std::endian::native == std::endian::little);

struct AsciiFold {
  unsigned char map[256];
  constexpr AsciiFold() : map() {
    for (int c = 0; c < 256; ++c) {
      map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
  }
};
constexpr AsciiFold kAsciiFold;

std::uint64_t Load64(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

}  // namespace

std::string FoldKeyword(std::string_view typed) {
  std::string folded;
  if (IsValidUtf8(typed)) {
    FoldUtf8(typed, folded);
  } else {
    FoldCp936(typed, folded);
  }
  return folded;
}

CNameMatcher::CNameMatcher(std::string_view keyword) {
  const std::string folded = FoldKeyword(keyword);
  newKeyword_ = folded == kNewKeyword;
  matchAll_ = folded.empty();
  asciiKeyword_ = IsAscii(folded);
  if (asciiKeyword_ && !matchAll_) {
    const auto first = static_cast<unsigned char>(folded[0]);
    // A letter is looked for in both cases by setting the case bit of every
    // byte first; that makes a few other bytes look alike ("@" and "`"),
    // which the full comparison then turns down.
    const bool letter = first >= 'a' && first <= 'z';
    firstCaseBits_ = letter ? 0x20 * kOnes : 0;
    firstBytes_ = first * kOnes;
  }
  if (asciiKeyword_) {
    cp936Keyword_ = folded;
    utf8Keyword_ = folded;
    cp936Usable_ = utf8Usable_ = true;
  } else if (IsValidUtf8(folded)) {
    utf8Keyword_ = folded;
    utf8Usable_ = true;
    // Characters the code page lacks come back as '?', which the round trip
    // catches: such a keyword is in no code page name.
    const std::string encoded = Utf8ToCp936(folded);
    if (Cp936ToUtf8(encoded) == folded) {
      FoldCp936(encoded, cp936Keyword_);
      cp936Usable_ = true;
    }
  } else {
    cp936Keyword_ = folded;
    cp936Usable_ = IsWholeCp936(folded);
    if (cp936Usable_) {
      const std::string decoded = Cp936ToUtf8(folded);
      if (Utf8ToCp936(decoded) == folded) {
        FoldUtf8(decoded, utf8Keyword_);
        utf8Usable_ = true;
      }
    }
  }
}

bool CNameMatcher::Search(std::string_view name) {
  if (asciiKeyword_) {
    switch (FindAscii(name)) {
      case AsciiScan::kFound:
        return true;
      case AsciiScan::kAbsent:
        return false;
      case AsciiScan::kNotAscii:
        break;
    }
  } else if (IsAscii(name)) {
    // Both readings of an ASCII name agree, and a keyword with other
    // characters cannot be in it.
    return false;
  }
  switch (charset_) {
    case NameCharset::kUtf8:
      return ContainsUtf8(name);
    case NameCharset::kGbk:
      return ContainsCp936(name);
    case NameCharset::kAuto:
      // No site told: a name is searched both ways, so that what either
      // reading finds stays found.
      if (IsValidUtf8(name) && ContainsUtf8(name)) return true;
      return ContainsCp936(name);
    default:
      return ContainsDecoded(name);
  }
}

bool CNameMatcher::ContainsDecoded(std::string_view name) {
  if (!utf8Usable_) return false;
  const std::string decoded = DecodeName(name, charset_);
  FoldUtf8(decoded, fold_);
  return std::string_view(fold_.data(), decoded.size()).find(utf8Keyword_) !=
         std::string_view::npos;
}

// Looks for the ASCII keyword eight bytes at a time without copying the
// name: candidates are the bytes equal to the keyword's first byte in
// either case, each then compared in full. An occurrence found before the
// first non-ASCII byte holds for every reading of the name (everything
// before it is single-byte characters); once a non-ASCII byte turns up
// first, the caller reads the name properly.
CNameMatcher::AsciiScan CNameMatcher::FindAscii(std::string_view name) const {
  const char* p = name.data();
  const std::size_t n = name.size();
  const std::size_t m = cp936Keyword_.size();
  // Both forms of an ASCII keyword have the same length.
  if (m > n) return AsciiScan::kAbsent;
  const auto* keyword = reinterpret_cast<const unsigned char*>(cp936Keyword_.data());
  const auto matchesAt = [&](std::size_t at) {
    if (at + m > n) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(p + at);
    for (std::size_t j = 0; j < m; ++j) {
      if (kAsciiFold.map[bytes[j]] != keyword[j]) return false;
    }
    return true;
  };
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t word = Load64(p + i);
    if (word & kHighBits) return AsciiScan::kNotAscii;
    const std::uint64_t diff = (word | firstCaseBits_) ^ firstBytes_;
    // High bit set in each byte of `diff` that is zero (and, after a zero
    // byte, possibly in others: those fail the comparison).
    std::uint64_t zeros = (diff - kOnes) & ~diff & kHighBits;
    while (zeros) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctzll(zeros) >> 3);
      if (matchesAt(at)) return AsciiScan::kFound;
      zeros &= zeros - 1;
    }
  }
  if (i == n) return AsciiScan::kAbsent;
  // The rest: the name's last eight bytes with the lanes already scanned
  // masked out, or a short name padded with zero bytes (a keyword never
  // starts with one, and matchesAt turns down anything past the end).
  std::uint64_t word = 0;
  std::size_t base = 0;
  if (n >= 8) {
    base = n - 8;
    word = Load64(p + base);
  } else {
    std::memcpy(&word, p, n);
  }
  std::uint64_t lanes = ~std::uint64_t{0} << (8 * (i - base));
  if (n - base < 8) lanes &= (std::uint64_t{1} << (8 * (n - base))) - 1;
  if (word & kHighBits & lanes) return AsciiScan::kNotAscii;
  const std::uint64_t diff = (word | firstCaseBits_) ^ firstBytes_;
  std::uint64_t zeros = (diff - kOnes) & ~diff & kHighBits & lanes;
  while (zeros) {
    const std::size_t at = base + static_cast<std::size_t>(__builtin_ctzll(zeros) >> 3);
    if (matchesAt(at)) return AsciiScan::kFound;
    zeros &= zeros - 1;
  }
  return AsciiScan::kAbsent;
}

bool CNameMatcher::ContainsUtf8(std::string_view name) {
  if (!utf8Usable_) return false;
  // Resizing within the capacity the buffer already has does not allocate.
  FoldUtf8(name, fold_);
  // A UTF-8 keyword starts with a leading byte and ends with a whole
  // character, so every occurrence lies on character boundaries.
  return std::string_view(fold_.data(), name.size()).find(utf8Keyword_) != std::string_view::npos;
}

bool CNameMatcher::ContainsCp936(std::string_view name) {
  if (!cp936Usable_) return false;
  FoldCp936(name, fold_);
  const std::string_view folded(fold_.data(), name.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(folded.data());
  const std::size_t n = folded.size();
  // Folding keeps character boundaries, so the folded text is walked in
  // step with each candidate: an occurrence counts only where a character
  // starts. The keyword is whole characters, so an occurrence that starts on
  // a boundary never takes in a byte that is not a valid character.
  std::size_t boundary = 0;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = folded.find(cp936Keyword_, from);
    if (at == std::string_view::npos) return false;
    while (boundary < at) boundary += Cp936CharLength(bytes + boundary, n - boundary);
    if (boundary == at) return true;
    from = boundary;
  }
}

}  // namespace orvane
