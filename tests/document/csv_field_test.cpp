#include "document/csv_field.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

TEST(CsvField, QuotesSeparatorsAndNeutralisesFormulaStarts) {
  struct Case {
    std::string text;
    std::string field;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"plain.txt", "plain.txt"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\rhere", "\"cr\rhere\""},
      {"=1+2*3", "'=1+2*3"},
      {"+1", "'+1"},
      {"-1", "'-1"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx"},
      {"\rx", "\"'\rx\""},  // a formula start that is also a line end
      {"=1,2", "\"'=1,2\""},
      {"x=1+2", "x=1+2"},  // only the first character starts a formula
      {"'quoted", "'quoted"},
      {"\xE4\xBD\xA0\xE5\xA5\xBD,=1", "\"\xE4\xBD\xA0\xE5\xA5\xBD,=1\""},
  };
  for (const Case& c : cases) EXPECT_EQ(CsvField(c.text), c.field) << c.text;
}

TEST(CsvField, RecordJoinsFieldsAndEndsWithCrLf) {
  std::string out = "head\r\n";
  AppendCsvRecord(out, {"ftp://h/x,=1+2*3", "", "-5"});
  EXPECT_EQ(out, "head\r\n\"ftp://h/x,=1+2*3\",,'-5\r\n");
}

}  // namespace
}  // namespace orvane
