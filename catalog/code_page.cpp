#include "catalog/code_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace orvane {
namespace {

#include "catalog/cp936_table.inc"

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

bool IsTrail(unsigned char t) { return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE); }

// Unicode of the double-byte character lead/trail (both in range), 0 if the
// code page does not define it.
char16_t DecodeDoubleByte(unsigned char lead, unsigned char trail) {
  return kCp936ToUnicode[(lead - 0x81) * kCp936RowLength + (trail - 0x40)];
}

// Code page bytes of a non-ASCII code point: lead << 8 | trail, a single byte
// (only 0x80), or 0 if the code page lacks it.
std::uint16_t EncodeUnit(char32_t cp) {
  if (cp > 0xFFFF) return 0;
  return kUnicodeToCp936Pages[kUnicodeToCp936Index[cp >> 8]][cp & 0xFF];
}

void AppendCp936(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
    return;
  }
  const std::uint16_t code = EncodeUnit(cp);
  if (code == 0) {
    out.push_back('?');
  } else if (code < 0x100) {
    out.push_back(static_cast<char>(code));
  } else {
    out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length (2-4) of the well-formed multi-byte UTF-8 sequence at p, storing its
// code point, or 0 if the bytes are not one. The second byte's range depends on
// the first so that overlongs, surrogates and values above U+10FFFF fail.
std::size_t DecodeUtf8(const unsigned char* p, std::size_t n, char32_t& cp) {
  const unsigned char c = p[0];
  if (c >= 0xC2 && c <= 0xDF) {
    if (n < 2 || !IsContinuation(p[1])) return 0;
    cp = (char32_t{c} & 0x1F) << 6 | (p[1] & 0x3F);
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF) {
    if (n < 3) return 0;
    const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = c == 0xED ? 0x9F : 0xBF;
    if (p[1] < lo || p[1] > hi || !IsContinuation(p[2])) return 0;
    cp = (char32_t{c} & 0x0F) << 12 | (char32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (n < 4) return 0;
    const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < lo || p[1] > hi || !IsContinuation(p[2]) || !IsContinuation(p[3])) return 0;
    cp = (char32_t{c} & 0x07) << 18 | (char32_t{p[1]} & 0x3F) << 12 | (char32_t{p[2]} & 0x3F) << 6 |
         (p[3] & 0x3F);
    return 4;
  }
  return 0;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Lower-cases A-Z in eight ASCII bytes at once: a byte gets 0x20 added when
// it is >= 'A' and not > 'Z'. No byte has its high bit set, so the additions
// cannot carry into the next byte.
std::uint64_t FoldAsciiWord(std::uint64_t word) {
  const std::uint64_t ge_a = word + 0x3F3F3F3F3F3F3F3FULL;  // 0x80 set if byte >= 0x41
  const std::uint64_t gt_z = word + 0x2525252525252525ULL;  // 0x80 set if byte > 0x5A
  const std::uint64_t upper = ge_a & ~gt_z & kHighBits;
  return word | (upper >> 2);
}

struct AsciiLowerTable {
  unsigned char map[128];
  constexpr AsciiLowerTable() : map() {
    for (int c = 0; c < 128; ++c)
      map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
};
constexpr AsciiLowerTable kAsciiLower;

// Folds the ASCII run starting at in[i] into out[i], returning the index of the
// first non-ASCII byte (or n). Shared by both folds, whose ASCII is identical.
std::size_t FoldAsciiRun(const unsigned char* in, unsigned char* out, std::size_t i,
                         std::size_t n) {
  while (i + 8 <= n) {
    const std::uint64_t word = Load64(in + i);
    if (word & kHighBits) break;
    const std::uint64_t folded = FoldAsciiWord(word);
    std::memcpy(out + i, &folded, sizeof folded);
    i += 8;
  }
  while (i < n && in[i] < 0x80) {
    out[i] = kAsciiLower.map[in[i]];
    ++i;
  }
  return i;
}

char16_t FoldUnicode(char32_t cp) {
  constexpr char32_t kFirst = kUnicodeFoldPairs[0].upper;
  constexpr char32_t kLast = kUnicodeFoldPairs[std::size(kUnicodeFoldPairs) - 1].upper;
  if (cp < kFirst || cp > kLast) return 0;
  const auto it =
      std::lower_bound(std::begin(kUnicodeFoldPairs), std::end(kUnicodeFoldPairs), cp,
                       [](const FoldPair& pair, char32_t value) { return pair.upper < value; });
  if (it == std::end(kUnicodeFoldPairs) || it->upper != cp) return 0;
  return it->lower;
}

}  // namespace

std::string Utf16ToCp936(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // Characters beyond the BMP are not in the code page: a pair becomes one
      // '?', as does a lone half.
      if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
        ++i;
      out.push_back('?');
      continue;
    }
    AppendCp936(out, unit);
  }
  return out;
}

void AppendInvalidByte(std::string& out, unsigned char byte, InvalidBytes invalid) {
  if (invalid == InvalidBytes::kReplace) {
    out.append(kReplacementUtf8);
    return;
  }
  // U+DC00 + byte, as UTF-8 would write it if it allowed surrogates.
  out.push_back(static_cast<char>(0xED));
  out.push_back(static_cast<char>(0xB0 | (byte >> 6)));
  out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

int EscapedByteAt(const unsigned char* p, std::size_t n) {
  if (n < 3 || p[0] != 0xED || (p[1] != 0xB2 && p[1] != 0xB3) || !IsContinuation(p[2])) return -1;
  return ((p[1] & 0x03) << 6) | (p[2] & 0x3F);
}

std::size_t DecodeUtf8Char(const unsigned char* p, std::size_t n, char32_t& cp) {
  return DecodeUtf8(p, n, cp);
}

void AppendUtf8Char(std::string& out, char32_t cp) { AppendUtf8(out, cp); }

std::string Cp936ToUtf8(std::string_view bytes, InvalidBytes invalid) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
    } else if (c == 0x80) {
      AppendUtf8(out, 0x20AC);
      ++i;
    } else if (Cp936CharLength(p + i, n - i) == 2) {
      const char16_t unit = DecodeDoubleByte(c, p[i + 1]);
      if (unit != 0) {
        AppendUtf8(out, unit);
        i += 2;
      } else {
        // An undefined pair whose second byte is ASCII gives that byte back,
        // so a stray lead byte does not swallow a letter of the name.
        const bool asciiTrail = p[i + 1] < 0x80;
        AppendInvalidByte(out, c, invalid);
        if (!asciiTrail && invalid == InvalidBytes::kEscape) {
          AppendInvalidByte(out, p[i + 1], invalid);
        }
        i += asciiTrail ? 1 : 2;
      }
    } else {
      AppendInvalidByte(out, c, invalid);
      ++i;
    }
  }
  return out;
}

std::string Utf8ToCp936(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      out.push_back(static_cast<char>(p[i]));
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(p + i, n - i, cp);
    if (len == 0) {
      out.push_back('?');
      ++i;
      continue;
    }
    AppendCp936(out, cp);
    i += len;
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n && (Load64(p + i) & kHighBits) == 0) {
      i += 8;
      continue;
    }
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(p + i, n - i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

bool IsAscii(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  std::uint64_t any = 0;
  for (; i + 8 <= n; i += 8) any |= Load64(p + i);
  if (any & kHighBits) return false;
  for (; i < n; ++i)
    if (p[i] >= 0x80) return false;
  return true;
}

bool IsDefinedCp936(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c <= 0x80) {
      ++i;
      continue;
    }
    if (Cp936CharLength(p + i, n - i) != 2 || DecodeDoubleByte(c, p[i + 1]) == 0) return false;
    i += 2;
  }
  return true;
}

void FoldCp936(std::string_view text, std::string& out) {
  const std::size_t n = text.size();
  // Resizing within capacity does not allocate; when text is out's own
  // contents the size is unchanged and each character is read before it is
  // written, so folding in place works.
  out.resize(n);
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  auto* dst = reinterpret_cast<unsigned char*>(out.data());
  std::size_t i = 0;
  while (i < n) {
    i = FoldAsciiRun(in, dst, i, n);
    if (i >= n) break;
    const unsigned char lead = in[i];
    if (lead >= 0x81 && lead <= 0xFE && i + 1 < n && IsTrail(in[i + 1])) {
      const unsigned char trail = in[i + 1];
      const std::uint8_t row = kCp936FoldIndex[lead - 0x81];
      const std::uint16_t lower = row != 0 ? kCp936FoldRows[row][trail - 0x40] : 0;
      if (lower != 0) {
        dst[i] = static_cast<unsigned char>(lower >> 8);
        dst[i + 1] = static_cast<unsigned char>(lower & 0xFF);
      } else {
        dst[i] = lead;
        dst[i + 1] = trail;
      }
      i += 2;
    } else {
      dst[i] = lead;
      ++i;
    }
  }
}

void FoldUtf8(std::string_view text, std::string& out) {
  const std::size_t n = text.size();
  out.resize(n);
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  auto* dst = reinterpret_cast<unsigned char*>(out.data());
  std::size_t i = 0;
  while (i < n) {
    i = FoldAsciiRun(in, dst, i, n);
    if (i >= n) break;
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(in + i, n - i, cp);
    if (len == 0) {
      dst[i] = in[i];
      ++i;
      continue;
    }
    const char16_t lower = FoldUnicode(cp);
    unsigned char buf[3];
    std::size_t k = 0;
    if (lower >= 0x80 && lower < 0x800) {
      buf[k++] = static_cast<unsigned char>(0xC0 | (lower >> 6));
    } else if (lower >= 0x800) {
      buf[k++] = static_cast<unsigned char>(0xE0 | (lower >> 12));
      buf[k++] = static_cast<unsigned char>(0x80 | ((lower >> 6) & 0x3F));
    }
    // The table only holds pairs of equal UTF-8 length; the check keeps a
    // mistaken entry from changing the length of the text.
    if (k + 1 == len) {
      buf[k] = static_cast<unsigned char>(0x80 | (lower & 0x3F));
      std::memcpy(dst + i, buf, len);
    } else {
      std::memmove(dst + i, in + i, len);
    }
    i += len;
  }
}

std::string_view TruncateUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace orvane
