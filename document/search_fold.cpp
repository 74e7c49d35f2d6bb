#include "document/search_fold.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "catalog/code_page.h"
#include "catalog/ftp_site.h"

namespace orvane {
namespace {

struct SearchFoldEntry {
  char32_t codePoint;
  const char* fold;
};

#include "document/search_fold_table.inc"

constexpr std::size_t kTableSize = sizeof kSearchFoldTable / sizeof kSearchFoldTable[0];
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// The table entry of each BMP code point (index + 1; 0: folds to itself),
// so the common case is one load. Built on first use: a few microseconds.
struct BmpIndex {
  std::array<std::uint16_t, 0x10000> slot{};
  BmpIndex() {
    static_assert(kTableSize < 0xFFFF);
    for (std::size_t i = 0; i < kTableSize; ++i) {
      if (kSearchFoldTable[i].codePoint < 0x10000) {
        slot[kSearchFoldTable[i].codePoint] = static_cast<std::uint16_t>(i + 1);
      }
    }
  }
};

const BmpIndex& Bmp() {
  static const auto* index = new BmpIndex;
  return *index;
}

const char* FoldOf(char32_t c) {
  if (c < 0x10000) {
    const std::uint16_t slot = Bmp().slot[c];
    return slot ? kSearchFoldTable[slot - 1].fold : nullptr;
  }
  const auto* end = kSearchFoldTable + kTableSize;
  const auto* it = std::lower_bound(
      kSearchFoldTable, end, c,
      [](const SearchFoldEntry& entry, char32_t value) { return entry.codePoint < value; });
  return it != end && it->codePoint == c ? it->fold : nullptr;
}

// Length of the valid UTF-8 sequence at p (0 when there is none) and its
// code point.
std::size_t DecodeUtf8(const unsigned char* p, std::size_t n, char32_t& c) {
  const unsigned char b = p[0];
  if (b >= 0xC2 && b <= 0xDF) {
    if (n < 2 || (p[1] & 0xC0) != 0x80) return 0;
    c = ((b & 0x1Fu) << 6) | (p[1] & 0x3Fu);
    return 2;
  }
  if (b >= 0xE0 && b <= 0xEF) {
    if (n < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return 0;
    c = ((b & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
    if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (n < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80) {
      return 0;
    }
    c = ((b & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
    if (c < 0x10000 || c > 0x10FFFF) return 0;
    return 4;
  }
  return 0;
}

}  // namespace

std::string DecodeForSearch(const CFTPSite& site, std::string_view bytes) {
  return DecodeName(bytes, site.NameCharsetInUse());
}

void AppendSearchFold(std::string_view text, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  // The run of plain ASCII at the start (most names are nothing else),
  // lower-cased straight into place.
  std::size_t i = 0;
  while (i < n && p[i] >= 0x02 && p[i] < 0x80) ++i;
  if (i) {
    const std::size_t at = out.size();
    out.resize(at + i);
    char* dst = out.data() + at;
    std::size_t k = 0;
    // Eight bytes at a time: a byte is a capital when adding 0x3F carries
    // it into the top bit and adding 0x25 does not; its 0x20 bit is set.
    for (; k + 8 <= i; k += 8) {
      std::uint64_t word;
      std::memcpy(&word, p + k, 8);
      const std::uint64_t atLeastA = word + 0x3F3F3F3F3F3F3F3FULL;
      const std::uint64_t aboveZ = word + 0x2525252525252525ULL;
      word |= ((atLeastA ^ aboveZ) & 0x8080808080808080ULL) >> 2;
      std::memcpy(dst + k, &word, 8);
    }
    for (; k < i; ++k) {
      const unsigned char b = p[k];
      dst[k] = static_cast<char>(static_cast<unsigned>(b - 'A') < 26u ? b + 32 : b);
    }
  }
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      if (b <= 0x01) {
        out += kReplacement;
      } else {
        out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
      }
      ++i;
      continue;
    }
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(p + i, n - i, c);
    if (length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (const char* fold = FoldOf(c)) {
      out += fold;
    } else {
      out.append(text.data() + i, length);
    }
    i += length;
  }
}

std::string SearchFold(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendSearchFold(text, out);
  return out;
}

std::uint32_t SearchFoldVersion() {
  static const std::uint32_t version = [] {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    const auto mix = [&hash](std::uint32_t byte) { hash = (hash ^ byte) * 16777619u; };
    for (const SearchFoldEntry& entry : kSearchFoldTable) {
      for (int shift = 0; shift < 32; shift += 8) mix((entry.codePoint >> shift) & 0xFF);
      for (const char* p = entry.fold; *p; ++p) mix(static_cast<unsigned char>(*p));
      mix(0);
    }
    return hash;
  }();
  return version;
}

void AppendSearchTexts(const CFTPSite& site, std::string_view bytes, std::string& out) {
  AppendSearchTexts(site.NameCharsetInUse(), bytes, out);
}

void AppendSearchTexts(NameCharset charset, std::string_view bytes, std::string& out) {
  // Most names are ASCII, which every character set a site can have reads
  // the same: no decoding, one text.
  if (IsAscii(bytes)) {
    AppendSearchFold(bytes, out);
    return;
  }
  const std::string decoded = DecodeName(bytes, charset);
  AppendSearchFold(decoded, out);
  if (decoded != bytes && IsValidUtf8(bytes)) {
    out.push_back(kTextSeparator);
    AppendSearchFold(bytes, out);
  }
}

}  // namespace orvane
