#include "catalog/code_page.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvane {
namespace {

// 文档 and 中文目录 in the three encodings.
constexpr std::string_view kDocUtf8 = "\xE6\x96\x87\xE6\xA1\xA3";
constexpr std::u16string_view kDocUtf16 = u"\u6587\u6863";
constexpr std::string_view kDocGbk = "\xCE\xC4\xB5\xB5";
constexpr std::string_view kDirUtf8 = "\xE4\xB8\xAD\xE6\x96\x87\xE7\x9B\xAE\xE5\xBD\x95";
constexpr std::u16string_view kDirUtf16 = u"\u4E2D\u6587\u76EE\u5F55";
constexpr std::string_view kDirGbk = "\xD6\xD0\xCE\xC4\xC4\xBF\xC2\xBC";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

std::string Fold936(std::string_view text) {
  std::string out;
  FoldCp936(text, out);
  return out;
}

std::string Fold8(std::string_view text) {
  std::string out;
  FoldUtf8(text, out);
  return out;
}

// Code units as given, including unpaired surrogates that a literal cannot hold.
std::u16string Units(std::initializer_list<char16_t> units) { return std::u16string(units); }

std::string Utf8Of(char32_t cp) {
  std::string out;
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
  return out;
}

bool InUserDefinedArea(unsigned lead, unsigned trail) {
  return (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1) || (lead >= 0xF8 && trail >= 0xA1) ||
         (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0);
}

// The system's iconv as an independent reference; it knows neither the euro
// byte nor the user-defined areas, which the tests cover separately.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in, or returns false.
  bool Convert(std::string_view in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string src(in);
    char buf[64];
    char* ip = src.data();
    std::size_t il = src.size();
    char* op = buf;
    std::size_t ol = sizeof buf;
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0) return false;
    out.assign(buf, op);
    return true;
  }

 private:
  iconv_t cd_;
};

TEST(CodePageConversion, ChineseTextRoundTripsBetweenAllThreeEncodings) {
  EXPECT_EQ(Utf16ToCp936(kDocUtf16), kDocGbk);
  EXPECT_EQ(Utf16ToCp936(kDirUtf16), kDirGbk);
  EXPECT_EQ(Cp936ToUtf8(kDocGbk), kDocUtf8);
  EXPECT_EQ(Cp936ToUtf8(kDirGbk), kDirUtf8);
  EXPECT_EQ(Utf8ToCp936(kDocUtf8), kDocGbk);
  EXPECT_EQ(Utf8ToCp936(kDirUtf8), kDirGbk);

  const std::string mixed_gbk =
      "pub/" + std::string(kDirGbk) + "/readme_" + std::string(kDocGbk) + ".txt";
  const std::string mixed_utf8 =
      "pub/" + std::string(kDirUtf8) + "/readme_" + std::string(kDocUtf8) + ".txt";
  EXPECT_EQ(Cp936ToUtf8(mixed_gbk), mixed_utf8);
  EXPECT_EQ(Utf8ToCp936(mixed_utf8), mixed_gbk);
  EXPECT_EQ(Utf16ToCp936(u"pub/\u4E2D\u6587\u76EE\u5F55/readme_\u6587\u6863.txt"), mixed_gbk);
}

TEST(CodePageConversion, EuroSignIsSingleByte0x80) {
  EXPECT_EQ(Cp936ToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToCp936("\xE2\x82\xAC"), "\x80");
  EXPECT_EQ(Utf16ToCp936(u"\u20AC5"),
            "\x80"
            "5");
}

TEST(CodePageConversion, UserDefinedAreasMapToPrivateUse) {
  EXPECT_EQ(Cp936ToUtf8("\xAA\xA1"), "\xEE\x80\x80");  // U+E000
  EXPECT_EQ(Utf16ToCp936(u"\uE000"), "\xAA\xA1");
  EXPECT_EQ(Utf16ToCp936(u"\uE234"), "\xF8\xA1");
  EXPECT_EQ(Utf16ToCp936(u"\uE4C6"), "\xA1\x40");
  EXPECT_EQ(Utf16ToCp936(u"\uE765"), "\xA7\xA0");
  EXPECT_EQ(Utf16ToCp936(u"\uE766"), "?");
}

TEST(CodePageConversion, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(Utf16ToCp936(u"a\uD55Cb"), "a?b");             // Hangul
  EXPECT_EQ(Utf16ToCp936(u"\U0001F600.txt"), "?.txt");     // one '?' per pair
  EXPECT_EQ(Utf16ToCp936(Units({0xD83D, u'x'})), "?x");    // lone high half
  EXPECT_EQ(Utf16ToCp936(Units({u'x', 0xDE00})), "x?");    // lone low half
  EXPECT_EQ(Utf16ToCp936(Units({0xD83D})), "?");           // high half at end
  EXPECT_EQ(Utf16ToCp936(Units({0xDE00, 0xD83D})), "??");  // halves in wrong order
  EXPECT_EQ(Utf8ToCp936("\xF0\x9F\x98\x80!"), "?!");
  EXPECT_EQ(Utf8ToCp936("\xED\x95\x9C"), "?");
  // Bytes that are not UTF-8 each give one '?'.
  EXPECT_EQ(Utf8ToCp936("a\xC0\x80z"), "a??z");
  EXPECT_EQ(Utf8ToCp936("\xE6\x96"), "??");
}

TEST(CodePageConversion, InvalidGbkBecomesReplacementCharacters) {
  const std::string r(kReplacement);
  EXPECT_EQ(Cp936ToUtf8("\xCE"), r);  // lead byte at the end
  EXPECT_EQ(Cp936ToUtf8("ab\xCE"), "ab" + r);
  EXPECT_EQ(Cp936ToUtf8("\xCE"
                        "0"),
            r + "0");  // followed by a non-trail byte
  EXPECT_EQ(Cp936ToUtf8("\xCE\x7F"), r + "\x7F");
  EXPECT_EQ(Cp936ToUtf8("\xFF"), r);
  EXPECT_EQ(Cp936ToUtf8("\xFF\xCE\xC4"), r + "\xE6\x96\x87");
  // Undefined pairs: an ASCII second byte is kept, a high one is consumed.
  EXPECT_EQ(Cp936ToUtf8("\xA9\x58"), r + "X");
  EXPECT_EQ(Cp936ToUtf8("\xA2\xAB"), r);
  EXPECT_EQ(Cp936ToUtf8("\xA2\xAB\xCE\xC4"), r + "\xE6\x96\x87");
}

TEST(CodePageConversion, EveryDoubleByteCodeAgreesWithSystemIconv) {
  Iconv to_utf8("UTF-8", "CP936");
  Iconv to_gbk("CP936", "UTF-8");
  if (!to_utf8.ok() || !to_gbk.ok()) GTEST_SKIP() << "iconv lacks CP936";
  int defined = 0;
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string ours = Cp936ToUtf8(bytes);
      std::string theirs;
      if (to_utf8.Convert(bytes, theirs)) {
        ++defined;
        ASSERT_EQ(ours, theirs) << std::hex << lead << ' ' << trail;
        ASSERT_EQ(Utf8ToCp936(ours), bytes) << std::hex << lead << ' ' << trail;
      } else if (InUserDefinedArea(lead, trail)) {
        ASSERT_TRUE(IsValidUtf8(ours));
        ASSERT_EQ(Utf8ToCp936(ours), bytes) << std::hex << lead << ' ' << trail;
      } else {
        ASSERT_EQ(ours.substr(0, 3), kReplacement) << std::hex << lead << ' ' << trail;
      }
    }
  }
  EXPECT_EQ(defined, 21791);

  // The reverse direction over the whole BMP: the encoder knows exactly the
  // characters the reference knows, plus the private-use ones.
  for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string ours = Utf16ToCp936(std::u16string(1, static_cast<char16_t>(cp)));
    const std::string utf8 = Utf8Of(cp);
    std::string theirs;
    if (cp >= 0xE000 && cp <= 0xE765) {
      ASSERT_EQ(ours.size(), 2u) << std::hex << static_cast<unsigned>(cp);
      ASSERT_EQ(Cp936ToUtf8(ours), utf8) << std::hex << static_cast<unsigned>(cp);
    } else if (to_gbk.Convert(utf8, theirs)) {
      ASSERT_EQ(ours, theirs) << std::hex << static_cast<unsigned>(cp);
      ASSERT_EQ(Utf8ToCp936(utf8), theirs) << std::hex << static_cast<unsigned>(cp);
    } else {
      ASSERT_EQ(ours, "?") << std::hex << static_cast<unsigned>(cp);
    }
  }
}

TEST(CodePageUtf8, StrictValidation) {
  for (const std::string_view valid :
       {std::string_view(""), std::string_view("plain ascii"), kDocUtf8,
        std::string_view("\xC2\x80"), std::string_view("\xDF\xBF"),
        std::string_view("\xE0\xA0\x80"), std::string_view("\xED\x9F\xBF"),
        std::string_view("\xEE\x80\x80"), std::string_view("\xEF\xBF\xBF"),
        std::string_view("\xF0\x90\x80\x80"), std::string_view("\xF0\x9F\x98\x80"),
        std::string_view("\xF4\x8F\xBF\xBF"), std::string_view("\0", 1)}) {
    EXPECT_TRUE(IsValidUtf8(valid)) << testing::PrintToString(valid);
  }
  for (const std::string_view invalid : {
           "\x80",              // lone continuation
           "\xC0\x80",          // overlong NUL
           "\xC1\xBF",          // overlong
           "\xE0\x80\x80",      // overlong
           "\xE0\x9F\xBF",      // overlong
           "\xED\xA0\x80",      // high surrogate
           "\xED\xBF\xBF",      // low surrogate
           "\xF0\x80\x80\x80",  // overlong
           "\xF0\x8F\xBF\xBF",  // overlong
           "\xF4\x90\x80\x80",  // above U+10FFFF
           "\xF5\x80\x80\x80",  // never a lead byte
           "\xFF",              // never in UTF-8
           "\xE6\x96",          // truncated
           "\xE6\x96\x87\xE6",  // truncated after a whole character
           "\xC3\x28",          // continuation missing
           "\xE6\x96\x28",      // continuation missing
       }) {
    EXPECT_FALSE(IsValidUtf8(invalid)) << testing::PrintToString(invalid);
  }
}

TEST(CodePageUtf8, FaultFoundAtEveryPositionOfLongText) {
  // The validators take eight ASCII bytes at a time; a bad byte must be seen
  // wherever it sits relative to those blocks.
  for (std::size_t len = 1; len <= 20; ++len) {
    for (std::size_t pos = 0; pos < len; ++pos) {
      std::string text(len, 'x');
      EXPECT_TRUE(IsAscii(text));
      text[pos] = '\x80';
      EXPECT_FALSE(IsAscii(text)) << len << ' ' << pos;
      EXPECT_FALSE(IsValidUtf8(text)) << len << ' ' << pos;
      text[pos] = '\xC3';
      EXPECT_FALSE(IsValidUtf8(text)) << len << ' ' << pos;
      text.insert(pos + 1, 1, '\xA9');
      EXPECT_TRUE(IsValidUtf8(text)) << len << ' ' << pos;
    }
  }
}

TEST(CodePageFold, AsciiLettersOnly) {
  EXPECT_EQ(Fold936("Hello WORLD @[`{ 09 az AZ"), "hello world @[`{ 09 az az");
  std::string all;
  for (int c = 0; c < 128; ++c) all.push_back(static_cast<char>(c));
  // Every alignment of the eight-byte fast path.
  for (std::size_t offset = 0; offset < 9; ++offset) {
    const std::string text = std::string(offset, '-') + all;
    const std::string folded = Fold936(text);
    ASSERT_EQ(folded.size(), text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      ASSERT_EQ(folded[i], c >= 'A' && c <= 'Z' ? c + 32 : c) << offset << ' ' << i;
    }
    ASSERT_EQ(Fold8(text), folded);
  }
}

TEST(CodePageFold, DoubleByteCapitalsFold) {
  EXPECT_EQ(Fold936("\xA3\xC1"), "\xA3\xE1");  // full-width A
  EXPECT_EQ(Fold936("\xA3\xDA"), "\xA3\xFA");  // full-width Z
  EXPECT_EQ(Fold936("\xA6\xA1"), "\xA6\xC1");  // Greek Alpha
  EXPECT_EQ(Fold936("\xA6\xB8"), "\xA6\xD8");  // Greek Omega
  EXPECT_EQ(Fold936("\xA7\xA1"), "\xA7\xD1");  // Cyrillic A
  EXPECT_EQ(Fold936("\xA7\xA7"), "\xA7\xD7");  // Cyrillic Io
  EXPECT_EQ(Fold936("\xA2\xF1"), "\xA2\xA1");  // Roman numeral one
  EXPECT_EQ(Fold936("\xA3\xE1"), "\xA3\xE1");  // already lower
  EXPECT_EQ(Fold936(kDirGbk), kDirGbk);
  EXPECT_EQ(Fold936("X\xA3\xC1y\xA6\xA1Z"), "x\xA3\xE1y\xA6\xC1z");
}

TEST(CodePageFold, RespectsCharacterBoundaries) {
  // Second bytes in 'A'..'Z' belong to the double-byte character.
  EXPECT_EQ(Fold936("\x81\x41"), "\x81\x41");
  EXPECT_EQ(Fold936("\x81\x41\x81\x5A"), "\x81\x41\x81\x5A");
  EXPECT_EQ(Fold936("\xA3"
                    "A"),
            "\xA3"
            "A");
  // B0 A3 is one character, so the following C1 is a lone byte, not the
  // second half of full-width A.
  EXPECT_EQ(Fold936("\xB0\xA3\xC1"), "\xB0\xA3\xC1");
  // A lead byte before a non-trail byte stands alone.
  EXPECT_EQ(Fold936("\xA3"
                    "0A"),
            "\xA3"
            "0a");
  EXPECT_EQ(Fold936("\x80\xFF"
                    "A\xA3"),
            "\x80\xFF"
            "a\xA3");
}

TEST(CodePageFold, NoAllocationWhenCapacitySufficesAndInPlaceWorks) {
  std::string out;
  out.reserve(64);
  const char* buffer = out.data();
  FoldCp936("ABC\xA3\xC1", out);
  EXPECT_EQ(out, "abc\xA3\xE1");
  EXPECT_EQ(out.data(), buffer);
  FoldUtf8("\xEF\xBC\xA1Z", out);
  EXPECT_EQ(out, "\xEF\xBD\x81z");
  EXPECT_EQ(out.data(), buffer);

  std::string text = "MiXeD \xA6\xA1\xA7\xA1 CASE";
  FoldCp936(text, text);
  EXPECT_EQ(text, "mixed \xA6\xC1\xA7\xD1 case");
}

TEST(CodePageFold, Utf8FoldMatchesCodePageFold) {
  EXPECT_EQ(Fold8("\xEF\xBC\xA1"), "\xEF\xBD\x81");  // full-width A
  EXPECT_EQ(Fold8("\xCE\x91"), "\xCE\xB1");          // Greek Alpha
  EXPECT_EQ(Fold8("\xD0\x90"), "\xD0\xB0");          // Cyrillic A
  EXPECT_EQ(Fold8("\xE2\x85\xA0"), "\xE2\x85\xB0");  // Roman numeral one
  EXPECT_EQ(Fold8("ABC\xC3\x80"), "abc\xC3\x80");    // A-grave is not in the code page
  EXPECT_EQ(Fold8("\xC0\x81Q\xCE"), "\xC0\x81q\xCE");

  // Every double-byte character folds the same way in both encodings.
  int folded = 0;
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string lower = Fold936(bytes);
      ASSERT_EQ(lower.size(), 2u);
      ASSERT_EQ(Fold936(lower), lower);
      if (lower != bytes) ++folded;
      const std::string utf8 = Cp936ToUtf8(bytes);
      if (utf8.substr(0, 3) == kReplacement) continue;
      ASSERT_EQ(Fold8(utf8), Cp936ToUtf8(lower)) << std::hex << lead << ' ' << trail;
    }
  }
  EXPECT_EQ(folded, 26 + 24 + 33 + 10);
}

}  // namespace
}  // namespace orvane
