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

}  // namespace orvane
