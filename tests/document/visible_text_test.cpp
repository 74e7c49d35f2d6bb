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
