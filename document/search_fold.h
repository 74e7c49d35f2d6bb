// The text a find query matches names in.
//
// Every name is decoded once by its site's rule (DecodeForSearch, the one
// place the find index and query decode names) and folded: full Unicode
// case folding, then Traditional Chinese characters mapped to their
// Simplified forms, one character at a time (ICU's "Traditional-
// Simplified" rules, turned into a table at build time by
// tools/gen_search_fold.cpp). So "ÄRGER", "ärger", "檔案" and "档案" each
// fold to the same text as their twins. Query words go through the same
// fold, which is what makes matching case- and script-insensitive.
//
// A name's search texts are its folded decoded text and, when its raw
// bytes are valid UTF-8 that decodes differently (a site whose names are
// read in another character set), those bytes folded too, joined by
// kTextSeparator. Bytes 0x00 and 0x01 of a name fold to U+FFFD, so the
// separators never occur inside a text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "catalog/name_charset.h"

namespace orvane {

class CFTPSite;

inline constexpr char kTextSeparator = '\x01';

// The decoded (UTF-8) text of a name or path component of `site`.
std::string DecodeForSearch(const CFTPSite& site, std::string_view bytes);

// Appends the fold of UTF-8 `text` to `out`. Invalid sequences become
// U+FFFD.
void AppendSearchFold(std::string_view text, std::string& out);
std::string SearchFold(std::string_view text);

// A fingerprint of the fold's table: texts stored by a program that folds
// differently (another table) are stale.
std::uint32_t SearchFoldVersion();

// Appends the search texts of the name `bytes` of `site` to `out`.
void AppendSearchTexts(const CFTPSite& site, std::string_view bytes, std::string& out);
// The same for a site whose names are decoded by `charset`.
void AppendSearchTexts(NameCharset charset, std::string_view bytes, std::string& out);

}  // namespace orvane
