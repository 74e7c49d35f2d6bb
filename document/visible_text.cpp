#include "document/visible_text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "catalog/code_page.h"

namespace orvane {

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// General category Cf of Unicode 15, in order.
constexpr Range kFormatChars[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

// Length of the UTF-8 sequence at `text[i]` and its code point; 0 when the
// bytes there are no well-formed sequence.
std::size_t DecodeAt(std::string_view text, std::size_t i, char32_t& c) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    c = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(k) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool IsFormatChar(char32_t c) {
  const auto* it = std::upper_bound(std::begin(kFormatChars), std::end(kFormatChars), c,
                                    [](char32_t value, const Range& r) { return value < r.first; });
  return it != std::begin(kFormatChars) && c <= std::prev(it)->last;
}

namespace {

// The visible stand-in for a character no name may show as itself.
void AppendCodePointEscape(std::string& out, char32_t c) {
  char escape[16];
  std::snprintf(escape, sizeof escape, "<U+%04X>", static_cast<unsigned>(c));
  out += escape;
}

}  // namespace

std::string MakeFormatCharsVisible(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = DecodeAt(utf8, i, c);
    if (length == 0) {
      out += utf8[i++];
      continue;
    }
    if (IsFormatChar(c)) {
      AppendCodePointEscape(out, c);
    } else {
      out.append(utf8.substr(i, length));
    }
    i += length;
  }
  return out;
}

namespace {

void AppendByteEscape(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

}  // namespace

std::string TerminalText(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  // Most names are printable ASCII without "\\": nothing to do. No format
  // character or C1 control starts below 0xC2.
  std::size_t i = 0;
  while (i < n && p[i] >= 0x20 && p[i] < 0x7F && p[i] != '\\') ++i;
  if (i == n) return std::string(text);
  std::string out;
  out.reserve(n + 16);
  out.append(text.substr(0, i));
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0xC2) {
      ++i;
      if (c >= 0x20 && c < 0x7F) {
        if (c == '\\') out += '\\';
        out += static_cast<char>(c);
      } else if (c == '\t') {
        out += "\\t";
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\r') {
        out += "\\r";
      } else {
        // C0 controls, DEL, and 0x80-0xC1, which start no UTF-8 character.
        AppendByteEscape(out, c);
      }
      continue;
    }
    if (const int escaped = EscapedByteAt(p + i, n - i); escaped >= 0) {
      AppendByteEscape(out, static_cast<unsigned char>(escaped));
      i += 3;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8Char(p + i, n - i, cp);
    if (length == 0) {
      AppendByteEscape(out, c);
      ++i;
      continue;
    }
    if (cp < 0xA0 || IsFormatChar(cp)) {
      AppendCodePointEscape(out, cp);
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

}  // namespace orvane
