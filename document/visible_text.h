// Names that cannot pose as other names.
//
// A server chooses its names freely, and some characters change how a name
// looks without being seen: a right-to-left override turns "rtl\u202etxt.exe"
// into "rtlexe.txt" on screen, a zero-width space makes two names look the
// same. Every front end shows names through MakeFormatCharsVisible, which
// writes each format character (Unicode general category Cf: the direction
// marks, embeddings, overrides and isolates, zero-width characters, the
// byte-order mark, tags and the like) as "<U+XXXX>". Only what is shown
// changes; stored names, addresses and JSON output keep the exact bytes.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// Whether the code point is of general category Cf (Unicode 15).
bool IsFormatChar(char32_t c);

// `utf8` with every format character written as "<U+XXXX>" (at least four
// upper-case hex digits). Bytes that are not valid UTF-8 pass unchanged.
std::string MakeFormatCharsVisible(std::string_view utf8);

// Decoded text (UTF-8, with surrogate escapes for undecodable bytes, see
// catalog/code_page.h) for a terminal or a line-oriented reader, so that
// no two different names print alike and none drives the terminal: TAB,
// LF and CR as \t, \n, \r, a backslash as \\, other C0 controls and DEL
// as \x1b; each byte that is not part of valid UTF-8, and each surrogate
// escape, as \xff (the byte); C1 controls and format characters as
// <U+009B>. Printable ASCII passes as it is.
std::string TerminalText(std::string_view text);

}  // namespace orvane
