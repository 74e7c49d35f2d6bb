#include "document/name_matcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"

namespace orvane {
namespace {

// 文档 and 文 in both encodings.
constexpr std::string_view kDocUtf8 = "\xE6\x96\x87\xE6\xA1\xA3";
constexpr std::string_view kDocGbk = "\xCE\xC4\xB5\xB5";
constexpr std::string_view kWenUtf8 = "\xE6\x96\x87";

bool Finds(std::string_view typed, std::string_view name) {
  CNameMatcher matcher(FoldKeyword(typed));
  return matcher.Contains(name);
}

TEST(NameMatcher, CapitalKeywordFindsAnyMixOfCases) {
  CNameMatcher matcher(FoldKeyword("ABC"));
  EXPECT_TRUE(matcher.Contains("xABCx.txt"));
  EXPECT_TRUE(matcher.Contains("Abc"));
  EXPECT_TRUE(matcher.Contains("zabcz"));
  EXPECT_TRUE(matcher.Contains("aBc"));
  EXPECT_FALSE(matcher.Contains("ab c"));
  EXPECT_FALSE(matcher.Contains("ab"));
  EXPECT_FALSE(matcher.Contains(""));
  // Letters beyond Z and the bytes next to A-Z are not folded.
  EXPECT_FALSE(Finds("[", "{"));
  EXPECT_FALSE(Finds("@", "`"));
}

TEST(NameMatcher, FindsKeywordInLongNames) {
  std::string name(5000, 'x');
  name += "NeedLE";
  EXPECT_TRUE(Finds("needle", name));
  name.back() = 'x';
  EXPECT_FALSE(Finds("needle", name));
  // The fold buffer grown by a long name still serves short ones.
  CNameMatcher matcher(FoldKeyword("ab"));
  EXPECT_TRUE(matcher.Contains(std::string(300, 'Q') + "AB"));
  EXPECT_TRUE(matcher.Contains("AB"));
  EXPECT_FALSE(matcher.Contains("A"));
}

TEST(NameMatcher, EmptyKeywordMatchesEveryName) {
  CNameMatcher matcher(FoldKeyword(""));
  EXPECT_FALSE(matcher.IsNewKeyword());
  EXPECT_TRUE(matcher.Contains(""));
  EXPECT_TRUE(matcher.Contains("a"));
  EXPECT_TRUE(matcher.Contains(kDocGbk));
  EXPECT_TRUE(matcher.Contains("\xFF\x81"));
}

TEST(NameMatcher, NewKeywordTestsMarksNotNames) {
  EXPECT_EQ(FoldKeyword("#NEW"), "#new");
  CNameMatcher matcher(FoldKeyword("#NeW"));
  ASSERT_TRUE(matcher.IsNewKeyword());

  CFTPDir plainDir("#new");
  CFTPDir newDir("old", 1);
  auto plainFile = CFTPFile::Make("#new.txt", 1, 0);
  auto newFile = CFTPFile::Make("a.txt", 1, 7);
  EXPECT_FALSE(matcher.MatchName(plainDir));
  EXPECT_TRUE(matcher.MatchName(newDir));
  EXPECT_FALSE(matcher.MatchName(*plainFile));
  EXPECT_TRUE(matcher.MatchName(*newFile));

  // Anything else is a name search, even when it starts with "#new".
  CNameMatcher longer(FoldKeyword("#newer"));
  EXPECT_FALSE(longer.IsNewKeyword());
  auto named = CFTPFile::Make("x#NEWER", 1, 0);
  EXPECT_TRUE(longer.MatchName(*named));
  EXPECT_FALSE(longer.MatchName(*newFile));
}

TEST(NameMatcher, NeverMatchesFromTheSecondByteOfADoubleByteCharacter) {
  // B5 CE | C4 B5: the bytes of 文 (CE C4) straddle two characters.
  EXPECT_FALSE(Finds(kWenUtf8, "\xB5\xCE\xC4\xB5"));
  // The same bytes again, the second time on a character boundary.
  EXPECT_TRUE(Finds(kWenUtf8, "\xB5\xCE\xC4\xB5\xCE\xC4"));
  // An ASCII letter that is the trail byte of a double-byte character is not
  // a letter of the name.
  EXPECT_FALSE(Finds("abc",
                     "\x81"
                     "abc"));
  EXPECT_TRUE(Finds("bc",
                    "\x81"
                    "abc"));
  EXPECT_FALSE(Finds("a", "\xB5\x61"));
  EXPECT_TRUE(Finds("a",
                    "\xB5\x61"
                    "A"));
}

TEST(NameMatcher, InvalidCodePageBytesNeverMatchAndNeverStopTheSearch) {
  // 0xFF and lone lead bytes (at the end, or before a byte that cannot
  // trail) are not characters.
  EXPECT_TRUE(Finds("abc", "\xFF\x81 abc\x81"));
  EXPECT_TRUE(Finds(" ", "\x81 "));
  EXPECT_FALSE(Finds("a", "\x81"));
  EXPECT_FALSE(Finds("a", "\xFF\xFE"));
  // A keyword that is itself no whole code page text (a lone lead byte)
  // finds nothing, not even the same bytes.
  EXPECT_FALSE(Finds("\x81", "\x81"));
  EXPECT_FALSE(Finds("\xFF", "x\xFF"));
  // The euro byte 0x80 is a character of its own.
  EXPECT_TRUE(Finds("\x80", "price\x80"));
}

TEST(NameMatcher, DoubleByteCapitalsFold) {
  // Full-width A (A3 C1) and a (A3 E1); Greek Alpha (A6 A1) and alpha (A6 C1).
  EXPECT_TRUE(Finds("\xEF\xBD\x81", "\xA3\xC1"));      // typed full-width a
  EXPECT_TRUE(Finds("\xEF\xBC\xA1", "x\xA3\xE1y"));    // typed full-width A
  EXPECT_TRUE(Finds("\xCE\xB1", "\xA6\xA1"));          // typed alpha
  EXPECT_TRUE(Finds("\xD0\x94", "\xA7\xA5\xA7\xD5"));  // typed De; De, de
  EXPECT_FALSE(Finds("\xEF\xBD\x81", "A"));            // full-width is not ASCII
}

TEST(NameMatcher, FindsChineseKeywordInGbkAndUtf8Names) {
  const std::string keyword = FoldKeyword(kDocUtf8);
  CNameMatcher matcher(keyword);
  EXPECT_TRUE(matcher.Contains(std::string(kDocGbk) + ".txt"));
  EXPECT_TRUE(matcher.Contains(std::string(kDocUtf8) + ".txt"));
  EXPECT_TRUE(matcher.Contains("my" + std::string(kDocUtf8)));
  EXPECT_FALSE(matcher.Contains("\xCE\xC4"));
  EXPECT_FALSE(matcher.Contains(kWenUtf8));

  // A keyword typed in the code page finds both as well.
  CNameMatcher gbk(FoldKeyword(kDocGbk));
  EXPECT_TRUE(gbk.Contains(kDocGbk));
  EXPECT_TRUE(gbk.Contains(kDocUtf8));
}

TEST(NameMatcher, CodePageNamesThatLookLikeUtf8AreStillFound) {
  // 目录 in GBK (C4 BF C2 BC) is also valid UTF-8 (Ŀ¼).
  constexpr std::string_view kDirGbk = "\xC4\xBF\xC2\xBC";
  EXPECT_TRUE(Finds("\xE7\x9B\xAE\xE5\xBD\x95", kDirGbk));  // typed 目录
  EXPECT_TRUE(Finds("\xC4\xBF", kDirGbk));                  // typed Ŀ
}

TEST(NameMatcher, Utf8NamesFoldAndMatchOnCharacterBoundaries) {
  // ΑΒΓ (Greek capitals) in UTF-8 found by αβγ.
  EXPECT_TRUE(Finds("\xCE\xB1\xCE\xB2\xCE\xB3", "\xCE\x91\xCE\x92\xCE\x93.TXT"));
  // ASCII keyword in a UTF-8 name: "résumé ABC".
  EXPECT_TRUE(Finds("abc", "r\xC3\xA9sum\xC3\xA9 ABC"));
  EXPECT_FALSE(Finds("abd", "r\xC3\xA9sum\xC3\xA9 ABC"));
  // é (C3 A9) is not found inside 쩍 (EC A9 8D).
  EXPECT_FALSE(Finds("\xC3\xA9", "\xEC\xA9\x8D"));
}

TEST(NameMatcher, KeywordOutsideTheCodePageFindsOnlyUtf8Names) {
  // U+1F600 has no code page form; the code page's stand-in '?' must not
  // turn it into a question mark search.
  constexpr std::string_view kEmoji = "\xF0\x9F\x98\x80";
  EXPECT_FALSE(Finds(kEmoji, "what?"));
  EXPECT_TRUE(Finds(kEmoji, std::string("smile") + std::string(kEmoji)));
  // A typed question mark is a question mark.
  EXPECT_TRUE(Finds("?", "what?"));
}

TEST(NameMatcher, NonAsciiKeywordIsNotInAsciiNames) {
  EXPECT_FALSE(Finds(kDocUtf8, "plain ascii name"));
  EXPECT_FALSE(Finds("\xC3\xA9", "e"));
}

// The rule written out plainly: the name read as code page 936, and, when
// it is valid UTF-8 with non-ASCII characters, also as UTF-8; both sides
// folded; an occurrence counts where a character starts.
bool ReadingContains(std::string_view typedUtf8, std::string_view name, bool utf8) {
  std::string keyword;
  std::string folded;
  if (utf8) {
    FoldUtf8(typedUtf8, keyword);
    FoldUtf8(name, folded);
  } else {
    const std::string encoded = Utf8ToCp936(typedUtf8);
    if (Cp936ToUtf8(encoded) != typedUtf8) return false;  // not in the code page
    FoldCp936(encoded, keyword);
    FoldCp936(name, folded);
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
  for (std::size_t at = 0;;) {
    if (at + keyword.size() <= folded.size() && folded.compare(at, keyword.size(), keyword) == 0)
      return true;
    if (at >= name.size()) return false;
    if (utf8) {
      do ++at;
      while (at < name.size() && (bytes[at] & 0xC0) == 0x80);
    } else {
      at += Cp936CharLength(bytes + at, name.size() - at);
    }
  }
}

bool ReferenceContains(std::string_view typedUtf8, std::string_view name) {
  if (ReadingContains(typedUtf8, name, false)) return true;
  return IsValidUtf8(name) && !IsAscii(name) && ReadingContains(typedUtf8, name, true);
}

TEST(NameMatcher, AgreesWithThePlainRuleOnRandomNames) {
  // Letters in both cases, bytes next to them, lead and trail bytes of both
  // encodings, and bytes that are no character at all.
  const std::string_view alphabet[] = {
      "a",    "A",    "n",    "N",    "e",    "@",    "`",    "_",        " ",           "\x81",
      "\xCE", "\xC4", "\xE6", "\x96", "\x87", "\xFF", "\x80", "\xA3\xC1", "\xE6\x96\x87"};
  const std::string_view keywords[] = {
      "n",         "an",           "N_A",           "@",           "`a", "nan", "e n",
      "aaaaaaaaa", "\xE6\x96\x87", "a\xE6\x96\x87", "\xEF\xBD\x81"};
  std::mt19937 rng(7);
  for (std::string_view keyword : keywords) {
    CNameMatcher matcher(FoldKeyword(keyword));
    for (int round = 0; round < 4000; ++round) {
      std::string name;
      const int pieces = static_cast<int>(rng() % 22);
      for (int k = 0; k < pieces; ++k) name += alphabet[rng() % std::size(alphabet)];
      ASSERT_EQ(matcher.Contains(name), ReferenceContains(keyword, name))
          << "keyword " << ::testing::PrintToString(std::string(keyword)) << " name "
          << ::testing::PrintToString(name);
    }
  }
}

}  // namespace
}  // namespace orvane
