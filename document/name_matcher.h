// The name test of the search: does a catalog name contain the keyword?
//
// Names are bytes as the server sent them. Every name is read as code page
// 936 text, as it always was: lower-cased with the code page's rules (A-Z,
// and the double-byte capitals that have small forms) and searched with a
// substring search that never matches from the second byte of a double-byte
// character. Bytes that are not a valid code page character never match and
// never stop the search. A name that is valid UTF-8 with non-ASCII
// characters (which is how it is shown) is read as UTF-8 as well, lower-cased
// with the same mapping and searched on character boundaries; it matches
// when either reading holds the keyword. The keyword is kept in both
// encodings, so a user who types 文档 finds a file whether its name arrived
// as GBK or as UTF-8.
//
// A name is read by its site's character set once the walk says which
// (UseCharset): code page 936 (GBK sites, the search described above), UTF-8,
// or any other set decoded to UTF-8 first; so a keyword typed in Chinese
// finds a GBK site's name and a UTF-8 site's name alike, and only where the
// name shows it. Without a charset (kAuto) a name is read both ways, as
// above.
//
// The reserved keyword "#new" tests new marks instead of names.
//
// A matcher keeps a fold buffer that it reuses for every name, so testing a
// name does not allocate; one matcher serves one walk on one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/name_charset.h"

namespace orvane {

// The keyword that lists new entries instead of matching names.
inline constexpr std::string_view kNewKeyword = "#new";

// Lower-cases what the user typed the way names are lower-cased: text that is
// valid UTF-8 (what the front ends pass) with the UTF-8 fold, anything else
// as code page 936 bytes. "#NEW" becomes the reserved "#new".
std::string FoldKeyword(std::string_view typed);

class CNameMatcher {
 public:
  // `keyword` as FoldKeyword returns it (folding again changes nothing), in
  // UTF-8 or in code page 936.
  explicit CNameMatcher(std::string_view keyword);

  bool IsNewKeyword() const { return newKeyword_; }
  // The charset of the names tested from now on (a site's NameCharsetInUse).
  void UseCharset(NameCharset charset) { charset_ = charset; }

  // The entry test of the walks: the new mark for "#new", else the name.
  // Inline: the walks call it once per entry.
  bool MatchName(const CFTPDir& dir) {
    if (newKeyword_) return dir.readState.load(std::memory_order_relaxed) != 0;
    return Contains(dir.name());
  }
  bool MatchName(const CFTPFile& file) {
    if (newKeyword_) return file.readState.load(std::memory_order_relaxed) != 0;
    return Contains(file.name());
  }

  // Whether the keyword occurs in `name`. An empty keyword occurs in every
  // name.
  bool Contains(std::string_view name) { return matchAll_ || Search(name); }

 private:
  enum class AsciiScan { kFound, kAbsent, kNotAscii };

  bool Search(std::string_view name);
  AsciiScan FindAscii(std::string_view name) const;
  bool ContainsCp936(std::string_view name);
  bool ContainsUtf8(std::string_view name);
  bool ContainsDecoded(std::string_view name);

  bool newKeyword_ = false;
  bool matchAll_ = false;
  bool asciiKeyword_ = false;
  // For an ASCII keyword: its first byte in every byte lane, and the case
  // bit to set in each lane of a name before comparing (0 for a non-letter).
  std::uint64_t firstBytes_ = 0;
  std::uint64_t firstCaseBits_ = 0;
  // The folded keyword in each encoding; a form is unusable when the keyword
  // has characters that encoding cannot hold (no such name can contain it).
  std::string cp936Keyword_;
  std::string utf8Keyword_;
  bool cp936Usable_ = false;
  bool utf8Usable_ = false;
  std::string fold_;
  NameCharset charset_ = NameCharset::kAuto;
};

}  // namespace orvane
