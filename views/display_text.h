// Where stored bytes meet QString.
//
// Names and paths in catalogs and the site list are bytes, stored and
// compared exactly as received. The window decodes them only to show them
// and encodes only what the user types; every such conversion goes through
// these functions so that no stored byte is ever changed by showing it.
// Two rules, never a guess: the site list's own texts are code page 936 (as
// the program writes them), a server's names are decoded by their site's
// character set (catalog/name_charset.h).
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "catalog/name_charset.h"

namespace orvane {

class CFTPSite;

// A text of the site list (nickname, remarks, user name, host, key,
// password), decoded as code page 936. Format characters (direction
// overrides, zero-width characters) are written out as "<U+XXXX>"
// (document/visible_text.h), so no text can pose as another.
QString SiteText(std::string_view bytes);

// A server's name (or a path of names) decoded by `charset`, format
// characters written out as SiteText does.
QString NameText(std::string_view bytes, NameCharset charset);

// The charset a site's names are shown in now (UTF-8 without a site).
NameCharset CharsetOf(const CFTPSite* site);

// A display path ("ftp://key/a/b", or a path "/a/b" below a site's root):
// the key as site-list text, the names by `charset`.
QString DisplayPath(std::string_view bytes, NameCharset charset);

// The same decoding without writing out format characters: for text that
// leaves the program (the clipboard), which must keep every character.
QString DecodedPath(std::string_view bytes, NameCharset charset);

// A concrete charset as the world writes it ("GBK (GB18030)",
// "Shift_JIS"); empty for kAuto, which the caller words.
QString CharsetLabel(NameCharset charset);

// Text typed by the user, as the code page 936 bytes the stored files hold.
// Characters the code page lacks become "?".
std::string EncodeTyped(const QString& text);

}  // namespace orvane
