#include "document/visible_text.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

struct Case {
  const char* name;
  std::string in;
  std::string shown;
};

TEST(VisibleText, FormatCharactersAreWrittenOutOthersStay) {
  const Case cases[] = {
      {"plain", "readme.txt", "readme.txt"},
      {"cjk", "\xE6\x96\x87\xE6\xA1\xA3", "\xE6\x96\x87\xE6\xA1\xA3"},
      {"rtl override", "rtl\xE2\x80\xAEtxt.exe", "rtl<U+202E>txt.exe"},
      {"marks",
       "\xE2\x80\x8E"
       "a\xE2\x80\x8F",
       "<U+200E>a<U+200F>"},
      {"isolates", "\xE2\x81\xA6x\xE2\x81\xA9", "<U+2066>x<U+2069>"},
      {"arabic letter mark", "\xD8\x9C", "<U+061C>"},
      {"zero width space",
       "a\xE2\x80\x8B"
       "b",
       "a<U+200B>b"},
      {"byte-order mark", "\xEF\xBB\xBFname", "<U+FEFF>name"},
      {"tag", "\xF3\xA0\x80\x81", "<U+E0001>"},
      {"emoji stays", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"invalid bytes pass", "\xC4\xE3\xE2\x80", "\xC4\xE3\xE2\x80"},
      {"overlong is not a mark", "\xE0\x80\xAE", "\xE0\x80\xAE"},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeFormatCharsVisible(c.in), c.shown) << c.name;
}

TEST(VisibleText, TerminalTextEscapesWhatCouldDriveOrFoolATerminal) {
  const Case cases[] = {
      {"ascii as it is", "readme.txt", "readme.txt"},
      {"c0 and backslash", "a\tb\nc\rd\x1b[2J\\e\x7f", "a\\tb\\nc\\rd\\x1b[2J\\\\e\\x7f"},
      {"c1 csi", "x\xC2\x9B" "31m", "x<U+009B>31m"},
      {"format char", "rtl\xE2\x80\xAEtxt", "rtl<U+202E>txt"},
      {"no-break space stays", "a\xC2\xA0" "b", "a\xC2\xA0" "b"},
      {"cjk stays", "\xE6\x96\x87", "\xE6\x96\x87"},
      {"invalid bytes apart", "\xFF\xFE.bin", "\\xff\\xfe.bin"},
      {"swapped", "\xFE\xFF.bin", "\\xfe\\xff.bin"},
      {"continuation and overlong lead", "\x80\xC1" "a", "\\x80\\xc1" "a"},
      {"cut sequence", "\xE6\x96" "a", "\\xe6\\x96" "a"},
      {"surrogate escape", "\xED\xB3\xBF\xED\xB2\x80", "\\xff\\x80"},
      {"encoded surrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalText(c.in), c.shown) << c.name;
}

TEST(VisibleText, RangeEdgesOfTheTable) {
  EXPECT_TRUE(IsFormatChar(0x202A));
  EXPECT_TRUE(IsFormatChar(0x202E));
  EXPECT_FALSE(IsFormatChar(0x202F));
  EXPECT_FALSE(IsFormatChar(0x2065));
  EXPECT_TRUE(IsFormatChar(0xE007F));
  EXPECT_FALSE(IsFormatChar(0xE0080));
  EXPECT_FALSE(IsFormatChar(0));
}

}  // namespace
}  // namespace orvane
