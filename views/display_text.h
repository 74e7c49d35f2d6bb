// Where stored bytes meet QString.
//
// Names and paths in catalogs and the site list are bytes, stored and
// compared exactly as received. The window decodes them only to show them
// and encodes only what the user types; every such conversion goes through
// these functions so that no stored byte is ever changed by showing it.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace orvane {

// The display rule: bytes that are valid UTF-8 with non-ASCII characters
// are shown as UTF-8, everything else is decoded as code page 936. Format
// characters (direction overrides, zero-width characters) are written out
// as "<U+XXXX>" (document/visible_text.h), so no name can pose as another.
QString DisplayName(std::string_view bytes);

// A display path ("ftp://key/a/b") decoded one "/"-separated component at a
// time, so a catalog that mixes UTF-8 and code page 936 names shows each
// name right. No code page 936 character contains the byte "/".
QString DisplayPath(std::string_view bytes);

// The same decoding without writing out format characters: for text that
// leaves the program (the clipboard), which must keep every character.
QString DecodedPath(std::string_view bytes);

// Text typed by the user, as the code page 936 bytes the stored files hold.
// Characters the code page lacks become "?".
std::string EncodeTyped(const QString& text);

}  // namespace orvane
