// Code page 936 (GBK) and UTF-8 helpers.
//
// Names are bytes everywhere in the core. These functions are the only places
// where bytes meet Unicode: wide strings found in archives, text shown to the
// user, text typed by the user, and the case folding of the search.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane {

// UTF-16LE code units (as read from a wide archive string) to code page 936
// bytes. Characters the code page lacks become '?'.
std::string Utf16ToCp936(std::u16string_view text);

// What a decoder writes for a byte that starts no character: U+FFFD, or
// the byte's surrogate escape, U+DC80 + (byte - 0x80) written in UTF-8's
// form (ED B2 80 to ED B3 BF; Python's "surrogateescape"). No valid UTF-8
// holds such a sequence, so escaped text keeps every byte apart: the
// terminal escape (document/visible_text.h) writes it as "\xFF".
enum class InvalidBytes { kReplace, kEscape };
void AppendInvalidByte(std::string& out, unsigned char byte, InvalidBytes invalid);
// The byte a surrogate escape at p (n bytes available) stands for, or -1.
int EscapedByteAt(const unsigned char* p, std::size_t n);

// Code page 936 bytes to UTF-8. Bytes that are not a valid GBK sequence become
// U+FFFD (or their escape); never fails.
std::string Cp936ToUtf8(std::string_view bytes, InvalidBytes invalid = InvalidBytes::kReplace);

// UTF-8 to code page 936; characters the code page lacks become '?'.
std::string Utf8ToCp936(std::string_view text);

// Strict UTF-8 validation (no overlongs, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// The longest prefix of at most `limit` bytes that does not end inside a
// UTF-8 sequence (status texts that carry error messages stay decodable).
std::string_view TruncateUtf8(std::string_view text, std::size_t limit);
bool IsAscii(std::string_view bytes);
// Whether every byte belongs to a character code page 936 defines: no
// lone or undefined double-byte sequence, no 0xFF.
bool IsDefinedCp936(std::string_view bytes);

// Length (2-4) of the well-formed multi-byte UTF-8 sequence at p (n bytes
// available), storing its code point; 0 when the bytes are not one
// (overlongs, surrogates and values above U+10FFFF are not).
std::size_t DecodeUtf8Char(const unsigned char* p, std::size_t n, char32_t& cp);
void AppendUtf8Char(std::string& out, char32_t cp);

// Length of the code page 936 character starting at p: 2 for a lead byte
// (0x81-0xFE) followed by a trail byte (0x40-0x7E, 0x80-0xFE), else 1.
// `remaining` >= 1 is the number of bytes available from p.
inline std::size_t Cp936CharLength(const unsigned char* p, std::size_t remaining) {
  if (p[0] >= 0x81 && p[0] <= 0xFE && remaining >= 2) {
    const unsigned char t = p[1];
    if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE)) return 2;
  }
  return 1;
}

// Lower-case fold of code page 936 text as the search uses it: A-Z become
// a-z; a double-byte character with a lower-case form in the code page
// (full-width Latin, Greek, Cyrillic capitals) becomes that form; everything
// else, including invalid bytes, is copied unchanged. The result has the same
// length and the same character boundaries as the input.
void FoldCp936(std::string_view text, std::string& out);

// Lower-case fold of UTF-8 text with the same mapping, for names that arrived
// as UTF-8. Characters keep their byte length.
void FoldUtf8(std::string_view text, std::string& out);

}  // namespace orvane
