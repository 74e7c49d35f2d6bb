#include "update/listing_parser.h"

#include <algorithm>
#include <array>

namespace orvane {
namespace {

using Sv = std::string_view;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsHigh(char c) { return static_cast<unsigned char>(c) >= 0x80; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(Sv a, Sv b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(Sv s, Sv prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(Sv s, Sv suffix) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

bool AllDigits(Sv s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return IsDigit(c); });
}

Sv StripCr(Sv line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

Sv TrimLeft(Sv s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

Sv TrimRight(Sv s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Unsigned decimal without sign or separators; false on overflow, so that a
// hostile 30-digit size is rejected rather than wrapped.
bool ParseU64(Sv s, std::uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  std::uint64_t value = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

bool ParseHex64(Sv s, std::uint64_t& out) {
  if (s.empty() || s.size() > 16) return false;
  std::uint64_t value = 0;
  for (char c : s) {
    int digit;
    if (IsDigit(c)) {
      digit = c - '0';
    } else if (Lower(c) >= 'a' && Lower(c) <= 'f') {
      digit = Lower(c) - 'a' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  out = value;
  return true;
}

// Small bounded number (dates, times); -1 when `s` is not 1..maxDigits digits.
int SmallNumber(Sv s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return -1;
  int value = 0;
  for (char c : s) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A size column of a LIST line:
//   digits [ "," digits ]...                       thousands separators, or a device's
//                                                  "major,minor" (the caller zeroes those)
//   digits [ "." digits ] ( k | M | G | T ) [ B ]  a rounded size in binary units
bool ParseListSize(Sv s, std::uint64_t& out) {
  if (s.empty() || !IsDigit(s.front())) return false;
  std::uint64_t whole = 0;
  std::size_t i = 0;
  while (i < s.size() && (IsDigit(s[i]) || s[i] == ',')) {
    if (s[i] != ',') {
      const auto digit = static_cast<std::uint64_t>(s[i] - '0');
      if (whole > (UINT64_MAX - digit) / 10) return false;
      whole = whole * 10 + digit;
    }
    ++i;
  }
  if (s[i - 1] == ',') return false;
  if (i == s.size()) {
    out = whole;
    return true;
  }
  std::uint64_t fraction = 0, scale = 1;
  if (s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i]) && scale < 1000000) {
      fraction = fraction * 10 + static_cast<std::uint64_t>(s[i] - '0');
      scale *= 10;
      ++i;
    }
    if (scale == 1) return false;
  }
  if (i == s.size()) return false;
  int shift;
  switch (Lower(s[i])) {
    case 'k':
      shift = 10;
      break;
    case 'm':
      shift = 20;
      break;
    case 'g':
      shift = 30;
      break;
    case 't':
      shift = 40;
      break;
    default:
      return false;
  }
  ++i;
  if (i < s.size() && Lower(s[i]) == 'b') ++i;
  if (i != s.size() || whole > (UINT64_MAX >> shift) - 1) return false;
  out = (whole << shift) + (fraction << shift) / scale;
  return true;
}

// The whitespace-separated tokens of a line (SP and TAB separate), with their
// positions so that a name can be taken as "the rest of the line" byte for
// byte. Only the first kMax positions are kept; every format finds its name
// within them, and `total` still counts all tokens.
class Tokens {
 public:
  static constexpr int kMax = 48;

  explicit Tokens(Sv line) : line_(line) {
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && IsBlank(line[i])) ++i;
      if (i == line.size()) break;
      const std::size_t start = i;
      while (i < line.size() && !IsBlank(line[i])) ++i;
      if (count_ < kMax) {
        begin_[count_] = start;
        end_[count_] = i;
        ++count_;
      }
      lastBegin_ = start;
      lastEnd_ = i;
      ++total_;
    }
  }

  int count() const { return count_; }
  int total() const { return total_; }
  Sv operator[](int i) const {
    return i < count_ ? line_.substr(begin_[i], end_[i] - begin_[i]) : Sv();
  }
  Sv last() const { return line_.substr(lastBegin_, lastEnd_ - lastBegin_); }
  // From the first byte of token i to the end of the line (leading blanks dropped).
  Sv From(int i) const { return i < count_ ? line_.substr(begin_[i]) : Sv(); }
  // Everything after token i, blanks included.
  Sv Rest(int i) const { return i < count_ ? line_.substr(end_[i]) : Sv(); }
  // Everything after token i and the one separator byte that follows it.
  Sv After(int i) const {
    if (i >= count_ || end_[i] + 1 > line_.size()) return Sv();
    return line_.substr(end_[i] + 1);
  }

 private:
  Sv line_;
  std::array<std::size_t, kMax> begin_{};
  std::array<std::size_t, kMax> end_{};
  int count_ = 0;
  int total_ = 0;
  std::size_t lastBegin_ = 0;
  std::size_t lastEnd_ = 0;
};

// What a LIST reader found; the name is a view into the line. z/VM splits
// names into two columns, joined with a dot.
struct Parsed {
  Sv name;
  Sv extension;
  bool isDirectory = false;
  bool isLink = false;
  std::uint64_t size = 0;
};

// ----- dates and times -------------------------------------------------------

// h:mm or hh:mm, optionally :ss and fractions (".64"); "24:00" occurs.
bool IsTime(Sv s) {
  const std::size_t colon = s.find(':');
  if (colon == Sv::npos || colon == 0 || colon > 2) return false;
  const int hour = SmallNumber(s.substr(0, colon), 2);
  if (hour < 0 || hour > 24 || s.size() < colon + 3) return false;
  const int minute = SmallNumber(s.substr(colon + 1, 2), 2);
  if (minute < 0 || minute > 59) return false;
  Sv rest = s.substr(colon + 3);
  if (rest.empty()) return true;
  if (rest.front() != ':' || rest.size() < 3 || SmallNumber(rest.substr(1, 2), 2) < 0) return false;
  rest.remove_prefix(3);
  return rest.empty() || (rest.front() == '.' && AllDigits(rest.substr(1)));
}

bool IsYear(Sv s) { return s.size() == 4 && AllDigits(s); }

// "+0100", "-0530": the zone `ls --full-time` prints after the time.
bool IsZoneOffset(Sv s) {
  return s.size() == 5 && (s[0] == '+' || s[0] == '-') && AllDigits(s.substr(1));
}

// Day of month, optionally followed by "." (German) or "," (VShell).
int DayOf(Sv s) {
  if (!s.empty() && (s.back() == '.' || s.back() == ',')) s.remove_suffix(1);
  const int day = SmallNumber(s, 2);
  return day >= 1 && day <= 31 ? day : -1;
}

// Month names and abbreviations of the locales servers are seen to use. Bytes
// above 0x7F are UTF-8; ASCII letters compare without regard to case.
constexpr Sv kMonthNames[] = {
    // English
    "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "sept", "oct", "nov", "dec",
    "january", "february", "march", "april", "june", "july", "august", "september", "october",
    "november", "december",
    // German, Dutch, Scandinavian
    "j\xc3\xa4n", "m\xc3\xa4r", "m\xc3\xa4rz", "mrz", "mai", "juni", "juli", "okt", "dez", "mrt",
    "mei", "maj", "maart",
    // French
    "janv", "f\xc3\xa9v", "f\xc3\xa9vr", "fevr", "mars", "avr", "juin", "juil", "ao\xc3\xbbt",
    "aout", "d\xc3\xa9\x63",
    // Spanish, Italian, Portuguese
    "ene", "abr", "ago", "dic", "gen", "mag", "giu", "lug", "set", "ott", "fev", "out",
    // Hungarian
    "febr", "m\xc3\xa1rc", "marc", "\xc3\xa1pr", "m\xc3\xa1j", "j\xc3\xban", "j\xc3\xbal", "szept"};

bool IsMonthName(Sv s) {
  while (!s.empty() && (s.back() == '.' || s.back() == ',')) s.remove_suffix(1);
  if (s.size() < 3 || s.size() > 9) return false;
  for (Sv month : kMonthNames) {
    if (EqualsNoCase(s, month)) return true;
  }
  return false;
}

// A number with an optional suffix that starts with a byte above 0x7F: the
// 月, 日, 年 (or Korean, or Shift_JIS) markers of Asian dates, e.g. "6\xe6\x9c\x88".
// Returns the number, or -1; `suffixed` tells whether a marker followed.
int NumberWithMarker(Sv s, bool& suffixed) {
  std::size_t digits = 0;
  while (digits < s.size() && IsDigit(s[digits])) ++digits;
  if (digits == 0 || digits > 4) return -1;
  suffixed = digits < s.size();
  if (suffixed && !IsHigh(s[digits])) return -1;
  return SmallNumber(s.substr(0, digits), 4);
}

// A date in one token: numeric fields joined by "-", "/" or ".":
// YYYY-MM-DD, DD-MM-YYYY, MM-DD-YY, MM-DD. Returns the number of fields (2 or
// 3), or 0 when `s` is no such date.
int NumericDateFields(Sv s) {
  char separator = 0;
  std::array<Sv, 3> fields;
  int count = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && IsDigit(s[i])) continue;
    if (i < s.size()) {
      if (s[i] != '-' && s[i] != '/' && s[i] != '.') return 0;
      if (separator != 0 && s[i] != separator) return 0;
      separator = s[i];
    }
    if (count == 3 || i == start) return 0;
    fields[static_cast<std::size_t>(count++)] = s.substr(start, i - start);
    start = i + 1;
  }
  if (count < 2) return 0;
  auto value = [&](int index) { return SmallNumber(fields[static_cast<std::size_t>(index)], 4); };
  if (count == 2) {
    if (fields[0].size() > 2 || fields[1].size() > 2) return 0;
    const int a = value(0), b = value(1);
    return a >= 1 && b >= 1 && a <= 31 && b <= 31 && (a <= 12 || b <= 12) ? 2 : 0;
  }
  if (fields[0].size() == 4) {  // YYYY-MM-DD
    return value(1) >= 1 && value(1) <= 12 && value(2) >= 1 && value(2) <= 31 ? 3 : 0;
  }
  // DD-MM-YYYY or MM-DD-YY(YY)
  if (fields[0].size() > 2 || fields[1].size() > 2 || fields[2].size() == 1 ||
      fields[2].size() > 4) {
    return 0;
  }
  const int a = value(0), b = value(1);
  return a >= 1 && b >= 1 && a <= 31 && b <= 31 && (a <= 12 || b <= 12) ? 3 : 0;
}

// "01-jun-99", "6-Apr-07", "2-JUN-1998": day, month letters, year.
bool IsDayMonthYear(Sv s, bool fourDigitYear) {
  const std::size_t first = s.find('-');
  if (first == Sv::npos) return false;
  const std::size_t second = s.find('-', first + 1);
  if (second == Sv::npos) return false;
  if (DayOf(s.substr(0, first)) < 0) return false;
  const Sv month = s.substr(first + 1, second - first - 1);
  if (month.size() < 3 || month.size() > 4 ||
      !std::all_of(month.begin(), month.end(), [](char c) { return IsAsciiLetter(c); })) {
    return false;
  }
  const Sv year = s.substr(second + 1);
  return AllDigits(year) &&
         (fourDigitYear ? year.size() == 4 : year.size() == 2 || year.size() == 4);
}

// Where the date of a Unix line ends. `last` is the index of the date's last
// token; `trimName` is set where the date has neither time nor year column,
// so the server padded the gap to the name.
struct DateEnd {
  int last = -1;
  bool trimName = false;
};

// Recognises the date that starts at token j of a Unix-style line:
//   Mon DD (HH:MM | YYYY)          Aug  8 14:14, Aug 24  2001, szept 26 20:10
//   Mon DD, YYYY HH:MM             Oct 08, 2002 09:47 (VShell)
//   DD[.] Mon[.][,] (HH:MM | YYYY) 29 Jul 02:27, 2. Okt. 2003, 30. Jan., 12:40
//   DD-mon-YY [HH:MM]              01-jun-99
//   numeric [HH:MM[:SS.f] [zone] | YYYY]  2005-04-08 11:22, 09-26 2000, 2004.07.15
//   M D (HH:MM | YYYY)             3 29 03:26
//   M月 D[日] (HH:MM | YYYY[年])   and the Korean and Shift_JIS forms
//   YYYY[年] M月 D[日]
bool MatchUnixDate(const Tokens& t, int j, DateEnd& out) {
  const int n = t.count();
  if (j >= n) return false;
  const Sv a = t[j];
  const Sv b = t[j + 1];
  const Sv c = t[j + 2];
  auto timeOrYear = [](Sv s) { return IsTime(s) || IsYear(s); };
  if (j + 2 < n && IsMonthName(a) && DayOf(b) > 0 && timeOrYear(c)) {
    out.last = j + 2;
    if (b.back() == ',' && IsYear(c) && j + 3 < n && IsTime(t[j + 3])) out.last = j + 3;
    return true;
  }
  if (j + 2 < n && DayOf(a) > 0 && IsMonthName(b) && timeOrYear(c)) {
    out.last = j + 2;
    return true;
  }
  if (IsDayMonthYear(a, false)) {
    out.last = (j + 1 < n && IsTime(b)) ? j + 1 : j;
    return true;
  }
  if (const int fields = NumericDateFields(a); fields > 0) {
    if (j + 1 < n && (IsTime(b) || (fields == 2 && IsYear(b)))) {
      out.last = (IsTime(b) && j + 2 < n && IsZoneOffset(c)) ? j + 2 : j + 1;
    } else {
      out.last = j;
      out.trimName = true;
    }
    return true;
  }
  if (j + 2 >= n) return false;
  const int month = SmallNumber(a, 2);
  if (month >= 1 && month <= 12 && DayOf(b) > 0 && !b.ends_with('.') && !b.ends_with(',') &&
      timeOrYear(c)) {
    out.last = j + 2;
    return true;
  }
  bool suffixA = false, suffixB = false, suffixC = false;
  const int na = NumberWithMarker(a, suffixA);
  const int nb = NumberWithMarker(b, suffixB);
  if (suffixA && na >= 1 && na <= 12 && nb >= 1 && nb <= 31) {
    const int nc = NumberWithMarker(c, suffixC);
    if (IsTime(c) || (nc >= 1000 && c.size() >= 4 && IsDigit(c[3]))) {
      out.last = j + 2;
      return true;
    }
  }
  if (na >= 1000 && a.size() >= 4 && IsDigit(a[3]) && suffixB && nb >= 1 && nb <= 12) {
    const int nc = NumberWithMarker(c, suffixC);
    if (nc >= 1 && nc <= 31) {
      out.last = j + 2;
      return true;
    }
  }
  return false;
}

// ----- Unix family -------------------------------------------------------------

bool IsUnixTypeLetter(char c) {
  switch (c) {
    case '-':
    case 'd':
    case 'l':
    case 'b':
    case 'c':
    case 'p':
    case 's':
    case 'D':
    case 'f':
    case 'n':
      return true;
    default:
      return false;
  }
}

// "drwxr-xr-x", "-rw-r--r--+", "d--S--S--t", "-C--E-----FTP": a type letter
// and nine mode letters; anything may follow (ACL markers, a run-on link count).
bool LooksLikeMode(Sv s) {
  if (s.size() < 10 || !IsUnixTypeLetter(s[0])) return false;
  for (std::size_t i = 1; i < 10; ++i) {
    if (s[i] != '-' && !IsAsciiLetter(s[i])) return false;
  }
  return true;
}

// The trailing digits of a token whose group and size ran together
// ("longgroup123456").
bool TrailingDigitsSize(Sv s, std::uint64_t& out) {
  std::size_t start = s.size();
  while (start > 0 && IsDigit(s[start - 1])) --start;
  if (start == 0 || start == s.size() || !IsAsciiLetter(s[start - 1])) return false;
  return ParseU64(s.substr(start), out);
}

// ls -l and its relatives:
//   mode links owner [group] size date name[ -> target]
//   d [RWCEAFMS] owner size date name                      NetWare (name padded)
//   mode [folder|resource data] size date name             NetPresenz
//   -C--E-----FTP B QUA1I1 records size date name          Connect:Enterprise
// Owners and groups may contain spaces, so the size is found as the number
// that a date follows, leftmost first. Without any date, "mode links owner
// group size name" is accepted.
bool ParseUnix(const Tokens& t, Parsed& p) {
  const Sv mode = t[0];
  const bool netware =
      mode.size() == 1 && (mode[0] == 'd' || mode[0] == '-') && t[1].starts_with('[');
  if (!netware && !LooksLikeMode(mode)) return false;
  const char type = mode[0];
  const int firstSize = netware ? 2 : 1;
  for (int pass = 0; pass < 2; ++pass) {
    for (int j = firstSize + 1; j < t.count(); ++j) {
      const Sv sizeToken = t[j - 1];
      std::uint64_t size = 0;
      if (pass == 0 ? !ParseListSize(sizeToken, size) : !TrailingDigitsSize(sizeToken, size)) {
        continue;
      }
      DateEnd date;
      if (!MatchUnixDate(t, j, date)) continue;
      Sv name = t.After(date.last);
      if (date.trimName || netware) name = TrimLeft(name);
      if (name.empty()) continue;
      if (type == 'b' || type == 'c') {
        // Devices list "major, minor" where files list a size.
        if (sizeToken.find(',') != Sv::npos || (j >= 2 && t[j - 2].ends_with(','))) size = 0;
      }
      p.name = name;
      p.size = size;
      p.isDirectory = type == 'd';
      if (type == 'l') {
        p.isLink = true;
        const std::size_t arrow = name.find(" -> ");
        if (arrow != Sv::npos) p.name = name.substr(0, arrow);
      }
      return true;
    }
  }
  DateEnd date;
  if (!netware && t.count() >= 6 && AllDigits(t[1]) && ParseListSize(t[4], p.size) &&
      !MatchUnixDate(t, 5, date)) {
    p.name = t.After(4);
    p.isDirectory = type == 'd';
    p.isLink = type == 'l';
    return !p.name.empty();
  }
  return false;
}

// Numeric form: octal-mode uid gid size mtime-seconds name
bool ParseUnixNumeric(const Tokens& t, Parsed& p) {
  const Sv mode = t[0];
  if (mode.size() < 6 || mode.size() > 7 || t.count() < 6) return false;
  unsigned bits = 0;
  for (char c : mode) {
    if (c < '0' || c > '7') return false;
    bits = bits * 8 + static_cast<unsigned>(c - '0');
  }
  for (int i = 1; i <= 4; ++i) {
    if (!AllDigits(t[i])) return false;
  }
  if (!ParseU64(t[3], p.size)) return false;
  p.name = t.From(5);
  const unsigned fileType = bits & 0170000u;
  p.isDirectory = fileType == 0040000u;
  p.isLink = fileType == 0120000u;
  return true;
}

// EPLF: "+" facts separated by ",", a TAB, the name. Facts: "/" directory,
// "r" retrievable file, "s<bytes>" size; others are ignored.
bool ParseEplf(Sv line, Parsed& p) {
  if (line.empty() || line[0] != '+') return false;
  const std::size_t tab = line.find('\t');
  if (tab == Sv::npos) return false;
  Sv facts = line.substr(1, tab - 1);
  while (!facts.empty()) {
    const std::size_t comma = facts.find(',');
    const Sv fact = facts.substr(0, comma);
    if (fact == "/") {
      p.isDirectory = true;
    } else if (fact.size() > 1 && fact[0] == 's') {
      if (!ParseU64(fact.substr(1), p.size)) p.size = 0;
    }
    if (comma == Sv::npos) break;
    facts.remove_prefix(comma + 1);
  }
  p.name = line.substr(tab + 1);
  return true;
}

// ----- MS-DOS / IIS -----------------------------------------------------------

// "10:57AM", "17:03", or "10:57" followed by a separate "AM".
bool IsDosTime(Sv s) {
  if (s.size() > 2 && (EndsWithNoCase(s, "AM") || EndsWithNoCase(s, "PM"))) {
    s.remove_suffix(2);
  }
  return IsTime(s);
}

//   MM-DD-YY[YY] | YYYY-MM-DD   time[AM|PM]   (<DIR> | size)   name
// IIS right-aligns sizes in a 20-byte column and writes "<DIR>" at the left
// of it followed by ten blanks; one blank then separates the column from the
// name. So a file's name starts after exactly one blank, a directory's after
// exactly ten, and blanks beyond those are the name's own. A "<DIR>" followed
// by fewer than ten blanks comes from another layout, whose padding is not
// known: there the name starts at its first non-blank byte.
constexpr std::size_t kIisDirPadding = 10;

bool ParseDos(const Tokens& t, Parsed& p) {
  if (t.count() < 4 || NumericDateFields(t[0]) != 3 || !IsDosTime(t[1])) return false;
  int column = 2;
  if (EqualsNoCase(t[2], "AM") || EqualsNoCase(t[2], "PM")) ++column;
  const Sv what = t[column];
  if (what == "<DIR>") {
    p.isDirectory = true;
    const Sv rest = t.Rest(column);
    std::size_t blanks = 0;
    while (blanks < rest.size() && blanks < kIisDirPadding && rest[blanks] == ' ') ++blanks;
    p.name = blanks == kIisDirPadding ? rest.substr(blanks) : TrimLeft(rest);
  } else if (!ParseListSize(what, p.size) || !IsDigit(what.back())) {
    return false;
  } else {
    p.name = t.After(column);
  }
  return !p.name.empty() && t.count() > column + 1;
}

// ----- OpenVMS ---------------------------------------------------------------

// "NAME.EXT;version": the position of the ";", or npos.
std::size_t VmsVersionStart(Sv token) {
  const std::size_t semicolon = token.rfind(';');
  if (semicolon == Sv::npos || semicolon == 0 || !AllDigits(token.substr(semicolon + 1))) {
    return Sv::npos;
  }
  return semicolon;
}

//   NAME.EXT;version  [owner]  used[/allocated]  D-MON-YYYY [time]  [owner] (protection)
// Columns after the name vary by server; a D-MON-YYYY date among them makes
// the line VMS. Sizes are blocks of unknown byte length, hence 0, except where
// a server writes bytes with a unit ("2KB"). Directories are "NAME.DIR;1".
bool ParseVms(const Tokens& t, Parsed& p) {
  const Sv first = t[0];
  const std::size_t version = VmsVersionStart(first);
  if (version == Sv::npos || t.count() < 2) return false;
  bool dated = false;
  bool sized = false;
  for (int i = 1; i < std::min(t.count(), 7); ++i) {
    const Sv token = t[i];
    if (IsDayMonthYear(token, true)) {
      dated = true;
    } else if (!sized && IsDigit(token[0]) && !IsTime(token)) {
      sized = true;
      std::uint64_t bytes = 0;
      if (IsAsciiLetter(token.back()) && ParseListSize(token, bytes)) p.size = bytes;
    }
  }
  if (!dated) return false;
  p.name = first.substr(0, version);
  if (EndsWithNoCase(p.name, ".DIR")) {
    p.isDirectory = true;
    p.name.remove_suffix(4);
  }
  return true;
}

bool IsVmsNameOnly(Sv line) {
  const Tokens t(line);
  return t.total() == 1 && VmsVersionStart(t[0]) != Sv::npos;
}

bool StartsWithVmsName(Sv line) {
  line = TrimLeft(line);
  return VmsVersionStart(line.substr(0, line.find_first_of(" \t"))) != Sv::npos;
}

// ----- IBM i (OS/400) --------------------------------------------------------

//   owner size date time *TYPE name      (*STMF, *DIR, *FILE, ...; dates dd/mm/yy or dd.mm.yy)
//   owner *MEM FILE.FILE/MEMBER.MBR      (members: no size or date)
// Directories end in "/"; some servers print a full path, of which the last
// part names the entry.
bool ParseAs400(const Tokens& t, Parsed& p) {
  int typeColumn;
  if (t.count() >= 3 && t[1].size() > 1 && t[1][0] == '*') {
    typeColumn = 1;
  } else if (t.count() >= 6 && AllDigits(t[1]) && NumericDateFields(t[2]) == 3 && IsTime(t[3]) &&
             t[4].size() > 1 && t[4][0] == '*') {
    typeColumn = 4;
    if (!ParseU64(t[1], p.size)) return false;
  } else {
    return false;
  }
  const Sv type = t[typeColumn];
  if (!std::all_of(type.begin() + 1, type.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
    return false;
  }
  p.isDirectory = type == "*DIR" || type == "*LIB" || type == "*FLR";
  Sv name = t.From(typeColumn + 1);
  if (name.size() > 1 && name.back() == '/') {
    p.isDirectory = true;
    name.remove_suffix(1);
  }
  if (name.size() > 1 && name.front() == '/') name = name.substr(name.rfind('/') + 1);
  p.name = name;
  return true;
}

// ----- OS/2 ----------------------------------------------------------------------

//   size [attributes] [DIR] MM-DD-YY[Y] HH:MM  name
// Two blanks separate the time from the name; a third belongs to the name.
bool ParseOs2(const Tokens& t, Parsed& p) {
  if (!AllDigits(t[0]) || !ParseU64(t[0], p.size)) return false;
  int column = 1;
  for (; column < std::min(t.count(), 5); ++column) {
    const Sv token = t[column];
    if (!std::all_of(token.begin(), token.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
      break;
    }
    if (token == "DIR") p.isDirectory = true;
  }
  if (column + 2 >= t.count() || NumericDateFields(t[column]) != 3 || !IsTime(t[column + 1])) {
    return false;
  }
  const Sv rest = t.Rest(column + 1);
  p.name = rest.starts_with("  ") ? rest.substr(2) : TrimLeft(rest);
  return true;
}

// ----- size-first forms ----------------------------------------------------------

//   size Mon DD, YYYY HH:MM name[/]              VShell (old)
//   size Mon-DD-YYYY HH:MM:SS name [<DIR>]       VxWorks
bool ParseSizeFirst(const Tokens& t, Parsed& p) {
  if (!AllDigits(t[0]) || !ParseU64(t[0], p.size)) return false;
  Sv name;
  if (t.count() >= 6 && IsMonthName(t[1]) && t[2].ends_with(',') && DayOf(t[2]) > 0 &&
      IsYear(t[3]) && IsTime(t[4])) {
    name = t.After(4);
    if (name.size() > 1 && name.back() == '/') {
      p.isDirectory = true;
      name.remove_suffix(1);
    }
  } else if (t.count() >= 4 && IsTime(t[2])) {
    const Sv date = t[1];
    const std::size_t dash = date.find('-');
    const std::size_t yearDash = date.rfind('-');
    if (dash == Sv::npos || yearDash == dash || !IsMonthName(date.substr(0, dash)) ||
        DayOf(date.substr(dash + 1, yearDash - dash - 1)) < 0 ||
        !IsYear(date.substr(yearDash + 1))) {
      return false;
    }
    name = t.From(3);
    if (name.ends_with("<DIR>")) {
      p.isDirectory = true;
      name = TrimRight(name.substr(0, name.size() - 5));
    }
  } else {
    return false;
  }
  p.name = name;
  return true;
}

// OS-9:  owner.group YY/MM/DD HHMM attributes sector size name
bool ParseOs9(const Tokens& t, Parsed& p) {
  if (t.count() < 7) return false;
  const Sv owner = t[0];
  const std::size_t dot = owner.find('.');
  if (dot == Sv::npos || !AllDigits(owner.substr(0, dot)) || !AllDigits(owner.substr(dot + 1))) {
    return false;
  }
  const Sv attributes = t[3];
  if (NumericDateFields(t[1]) != 3 || t[2].size() != 4 || !AllDigits(t[2]) || attributes.empty() ||
      (attributes[0] != 'd' && attributes[0] != '-') || !AllDigits(t[4]) ||
      !ParseU64(t[5], p.size)) {
    return false;
  }
  p.isDirectory = attributes[0] == 'd';
  p.name = t.After(5);
  return true;
}

// ----- name-first forms ----------------------------------------------------------

//   name code size DD-Mon-YY HH:MM:SS owner "rwep"      HP NonStop (Guardian)
//   name size MM/DD/YY weekday HH:MM:SS                  Nortel wfFtp
//   fname ftype F|V lrecl records blocks YYYY-MM-DD HH:MM:SS owner   z/VM
bool ParseNameFirst(const Tokens& t, Parsed& p) {
  if (t.count() >= 5 && AllDigits(t[1]) && ParseU64(t[2], p.size) && IsDayMonthYear(t[3], false) &&
      IsTime(t[4])) {
    p.name = t[0];
    return true;
  }
  if (t.total() == 5 && ParseU64(t[1], p.size) && NumericDateFields(t[2]) == 3 &&
      std::all_of(t[3].begin(), t[3].end(), [](char c) { return IsAsciiLetter(c) || c == '.'; }) &&
      IsTime(t[4])) {
    p.name = t[0];
    return true;
  }
  if (t.count() >= 8 && (t[2] == "F" || t[2] == "V") && AllDigits(t[3]) && AllDigits(t[4]) &&
      AllDigits(t[5]) && NumericDateFields(t[6]) == 3 && IsTime(t[7])) {
    p.size = 0;  // records of lrecl bytes at most: no byte size
    p.name = t[0];
    p.extension = t[1];
    return true;
  }
  return false;
}

// ----- z/OS (MVS) ------------------------------------------------------------------

//   volume unit referred ext used recfm lrecl blksz dsorg dsname    datasets
//   volume Tape dsname | volume unit VSAM dsname | Migrated dsname
//   ARCIVE Not Direct Access Device dsname
//   member VV.MM created changed time size init mod id             PDS members
//   member size(hex) TTR [alias-of] AC attributes... amode rmode    load library members
// Partitioned datasets (dsorg PO, PO-E) can be entered and are directories.
// Record counts are no byte sizes; load modules give bytes in hexadecimal.
bool ParseMvs(const Tokens& t, Parsed& p) {
  const int total = t.total();
  if (total == 2 && t[0] == "Migrated") {
    p.name = t[1];
    return true;
  }
  if (total == 6 && t[1] == "Not" && t[2] == "Direct" && t[3] == "Access" && t[4] == "Device") {
    p.name = t[5];
    return true;
  }
  if (total == 3 && t[1] == "Tape") {
    p.name = t[2];
    return true;
  }
  const bool unit = t[1].size() == 4 && AllDigits(t[1]);
  if (unit && total == 4 && t[2] == "VSAM") {
    p.name = t[3];
    return true;
  }
  if (unit && total >= 7 && (NumericDateFields(t[2]) == 3 || t[2] == "**NONE**")) {
    p.name = t.last();
    const Sv dsorg = t.total() - 2 < t.count() ? t[t.total() - 2] : Sv();
    p.isDirectory = dsorg == "PO" || dsorg == "PO-E";
    return true;
  }
  const Sv second = t[1];
  if (t.count() >= 5 && second.size() == 5 && second[2] == '.' && AllDigits(second.substr(0, 2)) &&
      AllDigits(second.substr(3)) && NumericDateFields(t[2]) == 3) {
    p.name = t[0];
    return true;
  }
  std::uint64_t ttr = 0;
  if (t.count() >= 4 && t[1].size() == 6 && t[2].size() == 6 && ParseHex64(t[2], ttr) &&
      ParseHex64(t[1], p.size)) {
    p.name = t[0];
    return true;
  }
  return false;
}

// A line of one word: a bare PDS member name, or the name-only output some
// servers give. VMS headers ("DISK$USER:[DIR]") and the first half of a
// wrapped VMS entry are not names.
bool ParseBareName(const Tokens& t, Parsed& p) {
  if (t.total() != 1) return false;
  const Sv word = t[0];
  if (VmsVersionStart(word) != Sv::npos || LooksLikeMode(word) ||
      (word.find(":[") != Sv::npos && word.back() == ']')) {
    return false;
  }
  p.name = word;
  return true;
}

// ----- common ------------------------------------------------------------------------

// "." and ".." are no entries of the directory; any other name that cannot
// name one entry is a name the crawl had to leave out.
LineResult CheckName(Sv name) {
  if (name == "." || name == "..") return LineResult::kSkip;
  if (name.empty() || name.size() > kMaxNameBytes) return LineResult::kUnusable;
  for (char c : name) {
    if (c == '/' || c == '\0' || c == '\r' || c == '\n') return LineResult::kUnusable;
  }
  return LineResult::kEntry;
}

LineResult Store(const Parsed& p, ListingEntry& entry) {
  entry.name.assign(p.name);
  if (!p.extension.empty()) {
    entry.name += '.';
    entry.name.append(p.extension);
  }
  if (const LineResult checked = CheckName(entry.name); checked != LineResult::kEntry) {
    return checked;
  }
  entry.isDirectory = p.isDirectory;
  entry.isLink = p.isLink && !p.isDirectory;
  entry.size = p.size;
  entry.unique.clear();
  return LineResult::kEntry;
}

using Reader = bool (*)(const Tokens&, Parsed&);

// From the most to the least distinctive first column. VMS goes before Unix
// because a VMS name such as "DIRECTORY;1" can look like a mode; its ";"
// never occurs in a mode. The bare-name reader accepts almost anything and
// comes last.
constexpr Reader kListReaders[] = {ParseVms,       ParseUnix, ParseUnixNumeric, ParseDos,
                                   ParseAs400,     ParseOs2,  ParseSizeFirst,   ParseOs9,
                                   ParseNameFirst, ParseMvs,  ParseBareName};

// Which kind of reader took a line: z/OS lists and bare names mix, while a
// listing with columns never has one-word lines.
// kBrokenName: the line is the tail of a name that held a line feed.
enum class ListForm { kNone, kColumns, kMvsOrBare, kBrokenName };

LineResult ParseList(Sv line, ListingEntry& entry, bool bareNames, ListForm& form) {
  form = ListForm::kNone;
  line = StripCr(line);
  if (!line.empty() && line[0] == '+') {
    // No other form starts with "+".
    Parsed eplf;
    if (!ParseEplf(line, eplf)) return LineResult::kSkip;
    form = ListForm::kColumns;
    return Store(eplf, entry);
  }
  const Tokens t(line);
  if (t.total() == 0) return LineResult::kSkip;
  for (Reader reader : kListReaders) {
    if (reader == ParseBareName && !bareNames) {
      // Once a line had columns, a one-word line is the tail of a name that
      // held a line feed: that name was lost.
      Parsed tail;
      if (!ParseBareName(t, tail)) return LineResult::kSkip;
      form = ListForm::kBrokenName;
      return LineResult::kUnusable;
    }
    Parsed p;
    if (reader(t, p)) {
      form =
          reader == ParseMvs || reader == ParseBareName ? ListForm::kMvsOrBare : ListForm::kColumns;
      return Store(p, entry);
    }
  }
  return LineResult::kSkip;
}

}  // namespace

LineResult ParseListLine(std::string_view line, ListingEntry& entry) {
  ListForm form;
  return ParseList(line, entry, true, form);
}

namespace {

// What one MLSD line is. A fragment has no facts in front: it is no entry
// line at all but the rest of a name that held a line break.
enum class MlsdLine { kEntry, kSkip, kUnusable, kFragment };

// True when `facts` holds at least one "key=value" fact.
bool HasFact(Sv facts) {
  while (!facts.empty()) {
    const std::size_t semicolon = facts.find(';');
    const std::size_t equals = facts.substr(0, semicolon).find('=');
    if (equals != Sv::npos && equals != 0) return true;
    if (semicolon == Sv::npos) break;
    facts.remove_prefix(semicolon + 1);
  }
  return false;
}

// MLSD (RFC 3659):  fact=value;fact=value; name
// The facts end at the first "; " (or ";" TAB, which some servers send);
// lines from drafts before the RFC omit the last ";", so then the first blank
// ends them. Everything after the one separator is the name, leading and
// trailing blanks included. Every entry line starts with its facts: a line
// without any (one that starts with a blank, or has no "key=value" before
// its first blank) is a fragment.
MlsdLine ParseMlsd(Sv line, ListingEntry& entry) {
  line = StripCr(line);
  std::size_t end = Sv::npos;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] == ';' && IsBlank(line[i + 1])) {
      end = i + 1;
      break;
    }
  }
  if (end == Sv::npos) end = line.find_first_of(" \t");
  Sv facts = line.substr(0, end);
  if (!HasFact(facts)) return MlsdLine::kFragment;
  // Facts without a name.
  if (end == Sv::npos) {
    entry.name.clear();
    return MlsdLine::kUnusable;
  }
  const Sv name = line.substr(end + 1);
  entry.isDirectory = false;
  entry.isLink = false;
  entry.size = 0;
  entry.unique.clear();
  bool sized = false;
  while (!facts.empty()) {
    const std::size_t semicolon = facts.find(';');
    const Sv fact = TrimRight(facts.substr(0, semicolon));
    facts = semicolon == Sv::npos ? Sv() : facts.substr(semicolon + 1);
    const std::size_t equals = fact.find('=');
    if (equals == Sv::npos || equals == 0) continue;
    const Sv key = fact.substr(0, equals);
    const Sv value = fact.substr(equals + 1);
    if (EqualsNoCase(key, "type")) {
      if (EqualsNoCase(value, "cdir") || EqualsNoCase(value, "pdir")) return MlsdLine::kSkip;
      entry.isDirectory = EqualsNoCase(value, "dir");
      entry.isLink =
          StartsWithNoCase(value, "OS.unix=slink") || StartsWithNoCase(value, "OS.unix=symlink");
    } else if (EqualsNoCase(key, "size")) {
      sized = ParseU64(value, entry.size);
      if (!sized) entry.size = 0;
    } else if (EqualsNoCase(key, "sizd")) {
      if (!sized && !ParseU64(value, entry.size)) entry.size = 0;
    } else if (EqualsNoCase(key, "unique")) {
      entry.unique.assign(value);
    }
  }
  entry.name.assign(name);
  switch (CheckName(name)) {
    case LineResult::kEntry:
      break;
    case LineResult::kSkip:
      return MlsdLine::kSkip;
    case LineResult::kUnusable:
      return MlsdLine::kUnusable;
  }
  return MlsdLine::kEntry;
}

}  // namespace

std::string_view MlsdFact(std::string_view line, std::string_view key) {
  line = StripCr(line);
  const std::size_t separator = line.find("; ");
  Sv facts = line.substr(0, separator == Sv::npos ? line.find_first_of(" \t") : separator);
  while (!facts.empty()) {
    const std::size_t semicolon = facts.find(';');
    const Sv fact = facts.substr(0, semicolon);
    const std::size_t equals = fact.find('=');
    if (equals != Sv::npos && EqualsNoCase(fact.substr(0, equals), key)) {
      return fact.substr(equals + 1);
    }
    if (semicolon == Sv::npos) break;
    facts.remove_prefix(semicolon + 1);
  }
  return {};
}

LineResult ParseMlsdLine(std::string_view line, ListingEntry& entry) {
  switch (ParseMlsd(line, entry)) {
    case MlsdLine::kEntry:
      return LineResult::kEntry;
    case MlsdLine::kSkip:
      return LineResult::kSkip;
    case MlsdLine::kUnusable:
    case MlsdLine::kFragment:
      break;
  }
  return LineResult::kUnusable;
}

// ----- SkippedNames -----------------------------------------------------------------------

bool SkippedNames::CouldBe(std::string_view name) const {
  if (any) return true;
  if (lineBreak && name.find_first_of("\r\n") != std::string_view::npos) return true;
  return std::find(names.begin(), names.end(), name) != names.end();
}

void SkippedNames::Add(std::string_view name) {
  // A listing of many such names is rare; a bounded list keeps a hostile
  // one from costing more than a few lines' worth.
  constexpr std::size_t kMaxNames = 256;
  if (any) return;
  if (names.size() >= kMaxNames) {
    any = true;
    names.clear();
    return;
  }
  names.emplace_back(name);
}

void SkippedNames::Clear() {
  any = false;
  lineBreak = false;
  names.clear();
}

// ----- CListingSplitter ------------------------------------------------------------------

void CListingSplitter::Reset(ListingFormat format) {
  format_ = format;
  partial_.clear();
  overlong_ = false;
  vmsName_.clear();
  bareNames_ = true;
  holding_ = false;
  skipped_ = 0;
  skippedNames_.Clear();
}

void CListingSplitter::Buffer(const char* data, std::size_t size) {
  if (overlong_) return;
  if (partial_.size() + size > kMaxLineBytes) {
    overlong_ = true;
    partial_.clear();
    return;
  }
  partial_.append(data, size);
}

bool CListingSplitter::Drop() {
  ++skipped_;
  skippedNames_.any = true;
  vmsName_.clear();
  return false;
}

bool CListingSplitter::ProcessMlsdLine(std::string_view line) {
  // An entry is held back until the next line shows that it was whole: a
  // name with a line break arrives as an entry line cut short followed by a
  // fragment, and the first half must not become an entry of its own.
  bool emit = false;
  switch (ParseMlsd(line, next_)) {
    case MlsdLine::kEntry:
      emit = holding_;
      if (emit) std::swap(entry_, held_);
      std::swap(held_, next_);
      holding_ = true;
      return emit;
    case MlsdLine::kFragment:
      holding_ = false;
      ++skipped_;
      skippedNames_.lineBreak = true;
      return false;
    case MlsdLine::kUnusable:
      ++skipped_;
      skippedNames_.Add(next_.name);
      break;
    case MlsdLine::kSkip:
      break;
  }
  emit = holding_;
  if (emit) std::swap(entry_, held_);
  holding_ = false;
  return emit;
}

bool CListingSplitter::FlushHeld() {
  if (!holding_) return false;
  std::swap(entry_, held_);
  holding_ = false;
  return true;
}

bool CListingSplitter::ProcessLine(std::string_view line) {
  if (format_ == ListingFormat::kMlsd) return ProcessMlsdLine(line);
  line = StripCr(line);
  // OpenVMS servers put a long name on a line of its own and its columns on
  // the next; the two are parsed as one line. A name without its columns is
  // dropped when the next line is an entry of its own.
  ListForm form;
  if (!vmsName_.empty() && !StartsWithVmsName(line)) {
    joined_.assign(vmsName_);
    joined_ += ' ';
    joined_.append(line);
    if (ParseList(joined_, entry_, false, form) == LineResult::kEntry) {
      vmsName_.clear();
      bareNames_ = false;
      return true;
    }
  }
  vmsName_.clear();
  if (line.find(';') != Sv::npos && IsVmsNameOnly(line)) {
    vmsName_.assign(line);
    return false;
  }
  // Once a line had columns, a one-word line is the tail of a name that
  // contained a line feed, not an entry of its own.
  const LineResult result = ParseList(line, entry_, bareNames_, form);
  if (form == ListForm::kColumns) bareNames_ = false;
  if (result == LineResult::kUnusable) {
    ++skipped_;
    if (form == ListForm::kBrokenName) {
      skippedNames_.lineBreak = true;
    } else {
      skippedNames_.Add(entry_.name);
    }
  }
  return result == LineResult::kEntry;
}

bool CListingSplitter::FinishLine() {
  bool parsed = false;
  if (overlong_) {
    Drop();
  } else if (!partial_.empty()) {
    parsed = ProcessLine(partial_);
  }
  partial_.clear();
  overlong_ = false;
  vmsName_.clear();
  bareNames_ = true;
  return parsed;
}

}  // namespace orvane
