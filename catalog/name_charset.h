// How stored bytes become text: the site list's own texts, and the names a
// server sent, by the character set of their site.
//
// Names are bytes, stored, compared and sent back exactly as received. A
// site's names are decoded by one rule for the whole site, never guessed
// name by name: the character set chosen for the site, or, for "auto", the
// one decided once from evidence over the site's whole catalog (and the
// server's FEAT answer) and recorded with the catalog. The site list's own
// texts (nickname, remarks, user, host, password) are code page 936, the
// encoding the program writes them in.
//
// Decoding uses glibc's iconv for the legacy character sets; UTF-8 and the
// site list's code page 936 are decoded here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/code_page.h"

namespace orvane {

enum class NameCharset : std::uint8_t {
  kAuto,  // decided from evidence (a site's setting; never a decoding)
  kUtf8,
  kGbk,  // read as GB18030, GBK's superset
  kBig5,
  kShiftJis,
  kEucJp,
  kEucKr,
  kWindows1251,
  kWindows1252,
};

inline constexpr NameCharset kAllNameCharsets[] = {
    NameCharset::kAuto,   NameCharset::kUtf8,        NameCharset::kGbk,
    NameCharset::kBig5,   NameCharset::kShiftJis,    NameCharset::kEucJp,
    NameCharset::kEucKr,  NameCharset::kWindows1251, NameCharset::kWindows1252,
};

// "auto", "utf-8", "gbk", "big5", "shift_jis", "euc-jp", "euc-kr",
// "windows-1251", "windows-1252": the names the command line, the side
// file and the JSON output use.
std::string_view CharsetName(NameCharset charset);
// The charset of a name CharsetName gives (any letter case); nothing for
// another text.
std::optional<NameCharset> ParseCharsetName(std::string_view name);

// Text the site list holds (code page 936) as UTF-8.
std::string DecodeSiteText(std::string_view bytes, InvalidBytes invalid = InvalidBytes::kReplace);

// A server's name (or a "/"-separated path of names) decoded by `charset`
// to UTF-8; kAuto reads as UTF-8. Each byte that starts no character of the
// charset becomes U+FFFD, or with InvalidBytes::kEscape its surrogate
// escape (see code_page.h), so that different bytes stay different.
std::string DecodeName(std::string_view bytes, NameCharset charset,
                       InvalidBytes invalid = InvalidBytes::kReplace);

// What the server said about UTF-8 in its FEAT reply.
enum class ServerUtf8 : std::uint8_t { kUnknown, kNotClaimed, kClaimed };

// The decision of "auto" for one site, from its names. Feed it every name
// of the catalog; Decide() gives a concrete charset.
//
// The evidence, strongest first: a name that is not valid UTF-8 cannot be
// UTF-8; a valid UTF-8 name with three- or four-byte characters (CJK
// takes three) is UTF-8; a valid UTF-8 name whose characters are all two
// bytes long and that is also whole GBK is GBK when its UTF-8 reading is
// implausible (a mix of scripts - Latin Extended, IPA, Greek, Cyrillic,
// Armenian... - in one word, or signs no name uses), and open when it reads
// as one script (a Russian or French name). Names of the first two kinds
// vote, a GBK-like name counting for GBK; the majority wins. The server's
// FEAT answer is weak evidence (servers claim UTF8 and serve raw bytes): it
// only breaks a tie. Names that read well both ways, or none that tell,
// are UTF-8.
class CCharsetDecider {
 public:
  void AddName(std::string_view name);
  NameCharset Decide(ServerUtf8 server) const;
  // Whether any name was not plain ASCII.
  bool SawNonAscii() const { return legacy_ + utf8_ + open_ > 0; }

 private:
  std::uint64_t legacy_ = 0;  // names that point to GBK
  std::uint64_t utf8_ = 0;    // names that point to UTF-8
  std::uint64_t open_ = 0;    // non-ASCII names that read well both ways
};

// A site's effective charset: the chosen one, else the decided one, else
// UTF-8 (nothing known yet).
inline NameCharset EffectiveCharset(NameCharset chosen, NameCharset decided) {
  if (chosen != NameCharset::kAuto) return chosen;
  return decided != NameCharset::kAuto ? decided : NameCharset::kUtf8;
}

}  // namespace orvane
