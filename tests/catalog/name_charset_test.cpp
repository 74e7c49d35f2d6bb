#include "catalog/name_charset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/site_options.h"

namespace orvane {
namespace {

// GBK words whose bytes are also valid two-byte UTF-8 (图片, 系统, 学习,
// 小说, 目录), GBK that is not UTF-8 (文档), and the same words in UTF-8.
const std::vector<std::string> kGbkAlsoUtf8 = {"\xCD\xBC\xC6\xAC", "\xCF\xB5\xCD\xB3",
                                               "\xD1\xA7\xCF\xB0", "\xD0\xA1\xCB\xB5",
                                               "\xC4\xBF\xC2\xBC"};
const std::vector<std::string> kUtf8Words = {"\xE5\x9B\xBE\xE7\x89\x87", "\xE7\xB3\xBB\xE7\xBB\x9F",
                                             "\xE5\xAD\xA6\xE4\xB9\xA0", "\xE5\xB0\x8F\xE8\xAF\xB4",
                                             "\xE7\x9B\xAE\xE5\xBD\x95"};
constexpr char kDocGbk[] = "\xCE\xC4\xB5\xB5";
constexpr char kDocUtf8[] = "\xE6\x96\x87\xE6\xA1\xA3";

TEST(NameCharset, EachCharsetDecodesItsOwnBytes) {
  struct Case {
    NameCharset charset;
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {NameCharset::kGbk, kGbkAlsoUtf8[0] + ".jpg", kUtf8Words[0] + ".jpg"},
      {NameCharset::kGbk, kDocGbk, kDocUtf8},
      // The same bytes read as UTF-8: what the users saw.
      {NameCharset::kUtf8, kGbkAlsoUtf8[0], "\xCD\xBC\xC6\xAC"},
      {NameCharset::kUtf8, kUtf8Words[1], kUtf8Words[1]},
      {NameCharset::kAuto, kUtf8Words[1], kUtf8Words[1]},
      {NameCharset::kBig5, "\xA4\xA4\xA4\xE5", "\xE4\xB8\xAD\xE6\x96\x87"},           // 中文
      {NameCharset::kShiftJis, "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},       // 日本
      {NameCharset::kEucJp, "\xC6\xFC\xCB\xDC", "\xE6\x97\xA5\xE6\x9C\xAC"},          // 日本
      {NameCharset::kEucKr, "\xC7\xD1\xB1\xB9", "\xED\x95\x9C\xEA\xB5\xAD"},          // 한국
      {NameCharset::kWindows1251, "\xCF\xF0\xE8", "\xD0\x9F\xD1\x80\xD0\xB8"},        // При
      {NameCharset::kWindows1252, "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},        // café €
      {NameCharset::kGbk, "pub/" + kGbkAlsoUtf8[4] + "/a", "pub/" + kUtf8Words[4] + "/a"},
      {NameCharset::kShiftJis, "plain.txt", "plain.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeName(c.bytes, c.charset), c.text) << CharsetName(c.charset) << " " << c.bytes;
  }
}

TEST(NameCharset, UndecodableBytesStayApart) {
  for (const NameCharset charset : kAllNameCharsets) {
    const std::string a = DecodeName("\xFF\xFE.bin", charset, InvalidBytes::kEscape);
    const std::string b = DecodeName("\xFE\xFF.bin", charset, InvalidBytes::kEscape);
    EXPECT_NE(a, b) << CharsetName(charset);
    const std::string shown = DecodeName("x\xFF", charset);
    EXPECT_TRUE(IsValidUtf8(shown)) << CharsetName(charset);
  }
  EXPECT_EQ(DecodeName("a\xFFz", NameCharset::kUtf8), "a\xEF\xBF\xBDz");
  EXPECT_EQ(DecodeName("a\xFFz", NameCharset::kGbk, InvalidBytes::kEscape), "a\xED\xB3\xBFz");
  EXPECT_EQ(DecodeSiteText("\xFF", InvalidBytes::kEscape), "\xED\xB3\xBF");
}

TEST(NameCharset, SiteTextIsAlwaysCodePage936) {
  // 小站 as the dialog stores it: valid UTF-8 too ("Сվ"), never read so.
  EXPECT_EQ(DecodeSiteText("\xD0\xA1\xD5\xBE"), "\xE5\xB0\x8F\xE7\xAB\x99");
  EXPECT_EQ(DecodeSiteText("ftp.example"), "ftp.example");
}

TEST(NameCharset, NamesRoundTrip) {
  for (const NameCharset charset : kAllNameCharsets) {
    EXPECT_EQ(ParseCharsetName(CharsetName(charset)), charset);
  }
  EXPECT_EQ(ParseCharsetName("GBK"), NameCharset::kGbk);
  EXPECT_EQ(ParseCharsetName("Shift_JIS"), NameCharset::kShiftJis);
  EXPECT_FALSE(ParseCharsetName("latin1"));
  EXPECT_FALSE(ParseCharsetName(""));
}

TEST(NameCharset, AutoDecidesOncePerCatalog) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    ServerUtf8 server;
    NameCharset decided;
  };
  std::vector<std::string> gbkMix = kGbkAlsoUtf8;
  gbkMix.push_back(kDocGbk);
  std::vector<std::string> mostlyUtf8 = kUtf8Words;
  mostlyUtf8.push_back(kDocGbk);
  std::vector<std::string> mostlyGbk = gbkMix;
  mostlyGbk.push_back(kUtf8Words[0]);
  const Case cases[] = {
      // vsftpd claims UTF8 and serves the bytes it has.
      {"gbk that is also utf-8", kGbkAlsoUtf8, ServerUtf8::kClaimed, NameCharset::kGbk},
      {"gbk, some not utf-8", gbkMix, ServerUtf8::kClaimed, NameCharset::kGbk},
      {"utf-8 chinese", kUtf8Words, ServerUtf8::kNotClaimed, NameCharset::kUtf8},
      {"mixed, utf-8 most", mostlyUtf8, ServerUtf8::kUnknown, NameCharset::kUtf8},
      {"mixed, gbk most", mostlyGbk, ServerUtf8::kUnknown, NameCharset::kGbk},
      {"tie, server claims", {kDocGbk, kUtf8Words[0]}, ServerUtf8::kClaimed, NameCharset::kUtf8},
      {"tie, server does not", {kDocGbk, kUtf8Words[0]}, ServerUtf8::kNotClaimed,
       NameCharset::kGbk},
      {"russian utf-8", {"\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82"},
       ServerUtf8::kNotClaimed, NameCharset::kUtf8},
      {"french utf-8", {"caf\xC3\xA9.txt", "r\xC3\xA9sum\xC3\xA9"}, ServerUtf8::kUnknown,
       NameCharset::kUtf8},
      // 小站: Cyrillic next to Armenian.
      {"script mix", {"\xD0\xA1\xD5\xBE"}, ServerUtf8::kUnknown, NameCharset::kGbk},
      {"ascii only", {"readme.txt", "pub"}, ServerUtf8::kNotClaimed, NameCharset::kUtf8},
      {"nothing", {}, ServerUtf8::kUnknown, NameCharset::kUtf8},
  };
  for (const Case& c : cases) {
    CCharsetDecider decider;
    for (const std::string& name : c.names) decider.AddName(name);
    EXPECT_EQ(decider.Decide(c.server), c.decided) << c.what;
  }
}

TEST(SiteOptions, RecordsRoundTripAndKeepUnknownKeys) {
  SiteOptionsList list;
  SiteOptions gbk;
  gbk.charset = NameCharset::kGbk;
  gbk.other = {{"later-setting", "x%\n"}};
  list.sites.emplace_back("\xC0\xFD.example@bob=1", gbk);
  list.sites.emplace_back("h", SiteOptions{});
  const std::string bytes = EncodeSiteOptions(list);
  const SiteOptionsRead read = DecodeSiteOptions(bytes);
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.list.sites, list.sites);
  EXPECT_EQ(EncodeSiteOptions(read.list), bytes);
  EXPECT_TRUE(DecodeSiteOptions("orvane-site-options 1\nend\n").ok());
}

TEST(SiteOptions, ReaderTakesOnlyWholeValidFiles) {
  const char* const bad[] = {
      "",
      "orvane-site-options 2\nend\n",
      "orvane-site-options 1\n",
      "orvane-site-options 1\nsite=h\ncharset=gbk\n",
      "orvane-site-options 1\nsite=h\ncharset=gbk\nend",
      "orvane-site-options 1\nend\nsite=h\n",
      "orvane-site-options 1\ncharset=gbk\nend\n",
      "orvane-site-options 1\nsite=h\nsite=h\nend\n",
      "orvane-site-options 1\nsite=\nend\n",
      "orvane-site-options 1\nsite=h\ncharset=gbk\ncharset=gbk\nend\n",
      "orvane-site-options 1\nsite=h\ncharset=koi8-r\nend\n",
      "orvane-site-options 1\nsite=h\ncharset=GBK\nend\n",
      "orvane-site-options 1\nsite=h\ncharset=gbk\r\nend\n",
      "orvane-site-options 1\nsite=h%41\nend\n",
      "orvane-site-options 1\nsite=h\nNote=x\nend\n",
      "orvane-site-options 1\nsite=h\nnote\nend\n",
  };
  for (const char* bytes : bad) {
    const SiteOptionsRead read = DecodeSiteOptions(bytes);
    EXPECT_FALSE(read.ok()) << bytes;
    EXPECT_TRUE(read.list.sites.empty()) << bytes;
  }
}

TEST(SiteOptions, DecisionRecordAndFeatures) {
  const CharsetDecision decision{NameCharset::kGbk, ServerUtf8::kClaimed};
  EXPECT_EQ(DecodeCharsetDecision(EncodeCharsetDecision(decision)), decision);
  EXPECT_FALSE(DecodeCharsetDecision("orvane-charset 1\ndecided=auto\nserver-utf8=claimed\nend\n"));
  EXPECT_FALSE(DecodeCharsetDecision("orvane-charset 1\ndecided=gbk\nend\n"));
  EXPECT_EQ(ServerUtf8FromFeatures("MDTM\nUTF8\nSIZE\n"), ServerUtf8::kClaimed);
  EXPECT_EQ(ServerUtf8FromFeatures("MLST size*;\nUTF8x\n"), ServerUtf8::kNotClaimed);
}

}  // namespace
}  // namespace orvane
