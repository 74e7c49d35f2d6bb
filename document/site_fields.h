// The rules a site's fields must meet before a site is made or changed, one
// set for every place that does it: orvane-cli add and edit, the window's
// site dialog, and the import of ftp:// lists.
//
// A field is refused when it cannot reach a server or the disk as it is:
//  - a host that is not a host name, an IPv4 address or an IPv6 address
//    (stored without brackets; "%zone" allowed);
//  - CR, LF or NUL in host, user name or password: USER and PASS carry the
//    login as it is, and a line break would end the command and start one
//    the text chose;
//  - a site key whose data directory name (and the lock files named after
//    it) would not fit one file name on this system;
//  - typed text with a character that code page 936, the encoding site.ds
//    keeps, has no form for: it would be stored as "?".
// The checks return values; each front end builds its own message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane {

struct SiteSettings;

enum class SiteField { kHost, kUserName, kPassword, kNickname, kRemarks };

struct SiteFieldProblem {
  enum class Kind {
    kNone,
    kEmptyHost,
    kBadHost,     // not a host name, IPv4 or IPv6 address
    kLineBreak,   // CR, LF or NUL in host, user name or password
    kKeyTooLong,  // the key cannot name the site's data directory
    kNoGbkForm,   // `characters` cannot be stored
  };
  Kind kind = Kind::kNone;
  SiteField field = SiteField::kHost;
  // kNoGbkForm: the characters (UTF-8), each once, in order of appearance.
  std::string characters;

  bool ok() const { return kind == Kind::kNone; }
};

// Longest data directory name a site key may map to (DataDirName): room is
// left within NAME_MAX for the suffixes of the files named after it.
std::size_t MaxDataDirNameBytes();

// Host syntax, on the stored bytes: a DNS name (labels of letters, digits,
// "-" and "_", or non-ASCII bytes for an internationalised name; at most 63
// bytes a label and 253 in all; one trailing dot allowed), a dotted-quad
// IPv4 address, or an IPv6 address without brackets, with an optional
// "%zone".
bool IsHostName(std::string_view host);
// Whether `text` can go out in one FTP command: no CR, LF or NUL.
bool IsSendableInCommand(std::string_view text);
// The characters of typed UTF-8 text that code page 936 has no form for,
// each once, as UTF-8; empty when all can be stored. Bytes that are not
// valid UTF-8 are not typed text and are not looked at.
std::string CharactersWithoutGbkForm(std::string_view typed);

// The bytes site.ds keeps for typed text: valid UTF-8 becomes code page 936
// (as the window's dialog stores it); anything else is taken as the bytes
// it already is. Check CharactersWithoutGbkForm first: a character the
// code page lacks would become "?".
std::string StoredSiteText(std::string_view typed);

// Typed text (UTF-8) for `field`, before it is converted for storing.
SiteFieldProblem CheckTypedField(SiteField field, std::string_view typed);
// The settings as they would be stored; the first problem found. With
// `before` (an edit), a field that keeps its stored value, and a key that
// stays, pass as they are: a site kept from older days can still have its
// nickname changed.
SiteFieldProblem CheckSiteSettings(const SiteSettings& settings,
                                   const SiteSettings* before = nullptr);

}  // namespace orvane
