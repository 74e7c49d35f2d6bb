#include "catalog/name_charset.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstddef>

namespace orvane {
namespace {

struct CharsetInfo {
  NameCharset charset;
  std::string_view name;
  const char* iconvName;  // null: decoded here
};

constexpr CharsetInfo kCharsets[] = {
    {NameCharset::kAuto, "auto", nullptr},
    {NameCharset::kUtf8, "utf-8", nullptr},
    {NameCharset::kGbk, "gbk", "GB18030"},
    {NameCharset::kBig5, "big5", "BIG5"},
    {NameCharset::kShiftJis, "shift_jis", "SHIFT_JIS"},
    {NameCharset::kEucJp, "euc-jp", "EUC-JP"},
    {NameCharset::kEucKr, "euc-kr", "EUC-KR"},
    {NameCharset::kWindows1251, "windows-1251", "CP1251"},
    {NameCharset::kWindows1252, "windows-1252", "CP1252"},
};
static_assert(std::size(kCharsets) == std::size(kAllNameCharsets));

const CharsetInfo& InfoOf(NameCharset charset) {
  const auto index = static_cast<std::size_t>(charset);
  return index < std::size(kCharsets) ? kCharsets[index] : kCharsets[0];
}

// One conversion descriptor per charset and thread, opened at first use:
// opening one costs far more than a name's conversion.
class IconvCache {
 public:
  IconvCache() { handles_.fill(reinterpret_cast<iconv_t>(-1)); }
  ~IconvCache() {
    for (iconv_t handle : handles_) {
      if (handle != reinterpret_cast<iconv_t>(-1)) iconv_close(handle);
    }
  }
  IconvCache(const IconvCache&) = delete;
  IconvCache& operator=(const IconvCache&) = delete;

  iconv_t Get(NameCharset charset) {
    iconv_t& handle = handles_[static_cast<std::size_t>(charset)];
    if (handle == reinterpret_cast<iconv_t>(-1)) {
      handle = iconv_open("UTF-8", InfoOf(charset).iconvName);
    }
    return handle;
  }

 private:
  std::array<iconv_t, std::size(kCharsets)> handles_;
};

std::string DecodeUtf8Name(std::string_view bytes, InvalidBytes invalid) {
  if (invalid == InvalidBytes::kEscape && IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      out.push_back(static_cast<char>(p[i++]));
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8Char(p + i, n - i, cp);
    if (length == 0) {
      AppendInvalidByte(out, p[i++], invalid);
      continue;
    }
    out.append(bytes.substr(i, length));
    i += length;
  }
  return out;
}

std::string DecodeWithIconv(std::string_view bytes, NameCharset charset, InvalidBytes invalid) {
  thread_local IconvCache cache;
  const iconv_t handle = cache.Get(charset);
  if (handle == reinterpret_cast<iconv_t>(-1)) {
    // No converter on this system: every non-ASCII byte stays apart.
    std::string out;
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        out.push_back(c);
      } else {
        AppendInvalidByte(out, byte, invalid);
      }
    }
    return out;
  }
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
  // A byte gives at most three bytes of UTF-8 (or of an escape), four-byte
  // sequences at most four.
  std::string out(bytes.size() * 3 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  std::size_t done = 0;
  while (inLeft > 0) {
    char* to = out.data() + done;
    std::size_t outLeft = out.size() - done;
    const std::size_t result = iconv(handle, &in, &inLeft, &to, &outLeft);
    done = static_cast<std::size_t>(to - out.data());
    if (result != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or EINVAL (cut short at the end): the byte there starts no
    // character; the next one is tried on its own.
    std::string escape;
    AppendInvalidByte(escape, static_cast<unsigned char>(*in), invalid);
    if (out.size() - done < escape.size() + 16) out.resize(out.size() * 2 + escape.size());
    out.replace(done, escape.size(), escape);
    done += escape.size();
    ++in;
    --inLeft;
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(done);
  return out;
}

// How a two-byte UTF-8 character reads in a name.
enum class Script { kSign, kLatin, kGreek, kCyrillic, kArmenian, kHebrew, kArabic, kRare };

Script ScriptOf(char32_t c) {
  if (c < 0xA0) return Script::kRare;  // C1 controls
  if (c < 0xC0) return Script::kSign;  // no-break space, ©, °, ½ ...
  if (c == 0xD7 || c == 0xF7) return Script::kSign;
  if (c < 0x100) return Script::kLatin;
  // Latin Extended-A, without the letters almost no name holds (ĸ, Ŀ, ŀ,
  // ŉ, ſ), and the Romanian comma letters of Extended-B.
  if (c < 0x180) {
    return c == 0x138 || c == 0x13F || c == 0x140 || c == 0x149 || c == 0x17F ? Script::kRare
                                                                            : Script::kLatin;
  }
  if (c >= 0x218 && c <= 0x21B) return Script::kLatin;
  if (c == 0x386 || (c >= 0x388 && c <= 0x38A) || c == 0x38C || (c >= 0x38E && c <= 0x3A1) ||
      (c >= 0x3A3 && c <= 0x3CE)) {
    return Script::kGreek;
  }
  if (c <= 0x45F && c >= 0x400) return Script::kCyrillic;
  if (c == 0x490 || c == 0x491) return Script::kCyrillic;
  if ((c >= 0x531 && c <= 0x556) || (c >= 0x561 && c <= 0x587)) return Script::kArmenian;
  if (c >= 0x5D0 && c <= 0x5EA) return Script::kHebrew;
  if (c >= 0x621 && c <= 0x64A) return Script::kArabic;
  // Latin Extended-B, IPA, modifier letters, combining marks, archaic
  // Greek and Cyrillic, Syriac, Thaana, N'Ko ...
  return Script::kRare;
}

// A valid UTF-8 name whose characters are all one or two bytes long: does
// its UTF-8 reading look like a name someone wrote? Letters of one script
// only, no rare signs, and no sign glued to a non-ASCII letter (GBK's 目录
// reads as "Ŀ¼").
bool ReadsAsWritten(std::string_view name) {
  const auto* p = reinterpret_cast<const unsigned char*>(name.data());
  const std::size_t n = name.size();
  Script script = Script::kSign;
  bool previousLetter = false;
  bool previousSign = false;
  for (std::size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      previousLetter = previousSign = false;
      ++i;
      continue;
    }
    char32_t c = 0;
    i += DecodeUtf8Char(p + i, n - i, c);
    const Script here = ScriptOf(c);
    if (here == Script::kRare) return false;
    if (here == Script::kSign) {
      if (previousLetter) return false;
      previousSign = true;
      previousLetter = false;
      continue;
    }
    if (previousSign) return false;
    if (script != Script::kSign && script != here) return false;
    script = here;
    previousLetter = true;
  }
  return true;
}

}  // namespace

std::string_view CharsetName(NameCharset charset) { return InfoOf(charset).name; }

std::optional<NameCharset> ParseCharsetName(std::string_view name) {
  for (const CharsetInfo& info : kCharsets) {
    if (info.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      same = c == info.name[i];
    }
    if (same) return info.charset;
  }
  return std::nullopt;
}

std::string DecodeSiteText(std::string_view bytes, InvalidBytes invalid) {
  if (IsAscii(bytes)) return std::string(bytes);
  return Cp936ToUtf8(bytes, invalid);
}

std::string DecodeName(std::string_view bytes, NameCharset charset, InvalidBytes invalid) {
  // Every charset here reads ASCII as ASCII, and most names are ASCII.
  if (IsAscii(bytes)) return std::string(bytes);
  if (InfoOf(charset).iconvName == nullptr) return DecodeUtf8Name(bytes, invalid);
  return DecodeWithIconv(bytes, charset, invalid);
}

void CCharsetDecider::AddName(std::string_view name) {
  if (IsAscii(name)) return;
  if (!IsValidUtf8(name)) {
    ++legacy_;
    return;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(name.data());
  for (std::size_t i = 0; i < name.size(); ++i) {
    // A lead byte of a three- or four-byte character.
    if (p[i] >= 0xE0) {
      ++utf8_;
      return;
    }
  }
  if (!IsDefinedCp936(name)) {
    ++utf8_;
  } else if (ReadsAsWritten(name)) {
    ++open_;
  } else {
    ++legacy_;
  }
}

NameCharset CCharsetDecider::Decide(ServerUtf8 server) const {
  if (legacy_ != utf8_) return legacy_ > utf8_ ? NameCharset::kGbk : NameCharset::kUtf8;
  // A tie of telling names is broken by the server's word; names that read
  // well both ways are shown as the UTF-8 they are valid as.
  if (legacy_ > 0 && server == ServerUtf8::kNotClaimed) return NameCharset::kGbk;
  return NameCharset::kUtf8;
}

}  // namespace orvane
