// Listing parser tests: the whole sample corpus (tests/data/ftp-listings),
// hostile names, the splitter's chunk and line-length handling, and 64-bit
// sizes.
#include "update/listing_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// Counts heap allocations so that the splitter's promise of no allocation per
// line can be checked.
namespace {
std::atomic<long> gAllocations{0};
}  // namespace

// GCC pairs the free() below with the inlined operator new and warns of a
// mismatch that this replacement pair makes impossible.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace orvane {
namespace {

// ----- a small JSON reader, enough for the corpus file -----

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // strings, and numbers as written
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Find(std::string_view key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return &value;
    }
    return nullptr;
  }
  std::string String(std::string_view key) const {
    const Json* value = Find(key);
    return value != nullptr && value->kind == Kind::kString ? value->text : std::string();
  }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  bool Read(Json& out) {
    if (!Value(out)) return false;
    Blanks();
    return pos_ == text_.size();
  }

 private:
  void Blanks() {
    while (pos_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[pos_]) != std::string_view::npos) {
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  bool String(std::string& out) {
    if (pos_ >= text_.size() || text_[pos_] != '"') return false;
    ++pos_;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c == '\\') {
        if (pos_ >= text_.size()) return false;
        const char e = text_[pos_++];
        switch (e) {
          case 'n':
            c = '\n';
            break;
          case 't':
            c = '\t';
            break;
          case 'r':
            c = '\r';
            break;
          case 'b':
            c = '\b';
            break;
          case 'f':
            c = '\f';
            break;
          case 'u': {
            unsigned code = 0;
            if (pos_ + 4 > text_.size()) return false;
            auto [end, error] =
                std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, code, 16);
            if (error != std::errc() || end != text_.data() + pos_ + 4 || code > 0x7F) return false;
            pos_ += 4;
            c = static_cast<char>(code);
            break;
          }
          default:
            c = e;  // '"', '\\', '/'
        }
      }
      out += c;
    }
    if (pos_ >= text_.size()) return false;
    ++pos_;
    return true;
  }
  bool Value(Json& out) {
    Blanks();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '{') {
      out.kind = Json::Kind::kObject;
      ++pos_;
      Blanks();
      if (pos_ < text_.size() && text_[pos_] == '}') return ++pos_, true;
      for (;;) {
        std::string key;
        Blanks();
        if (!String(key)) return false;
        Blanks();
        if (!Literal(":")) return false;
        Json value;
        if (!Value(value)) return false;
        out.members.emplace_back(std::move(key), std::move(value));
        Blanks();
        if (Literal("}")) return true;
        if (!Literal(",")) return false;
      }
    }
    if (c == '[') {
      out.kind = Json::Kind::kArray;
      ++pos_;
      Blanks();
      if (pos_ < text_.size() && text_[pos_] == ']') return ++pos_, true;
      for (;;) {
        Json value;
        if (!Value(value)) return false;
        out.items.push_back(std::move(value));
        Blanks();
        if (Literal("]")) return true;
        if (!Literal(",")) return false;
      }
    }
    if (c == '"') {
      out.kind = Json::Kind::kString;
      return String(out.text);
    }
    if (Literal("true")) return out.kind = Json::Kind::kBool, out.boolean = true, true;
    if (Literal("false")) return out.kind = Json::Kind::kBool, true;
    if (Literal("null")) return true;
    const std::size_t start = pos_;
    while (pos_ < text_.size() &&
           std::string_view("+-.eE0123456789").find(text_[pos_]) != std::string_view::npos) {
      ++pos_;
    }
    out.kind = Json::Kind::kNumber;
    out.text = std::string(text_.substr(start, pos_ - start));
    return pos_ > start;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// The corpus writes bytes outside 0x20..0x7E, and the backslash, as \xNN.
std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      unsigned byte = 0;
      std::from_chars(s.data() + i + 2, s.data() + i + 4, byte, 16);
      out += static_cast<char>(byte);
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  static const char kHex[] = "0123456789abcdef";
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

std::string Describe(const ListingEntry& e) {
  std::ostringstream out;
  out << '"' << Printable(e.name) << '"' << (e.isDirectory ? " dir" : " file")
      << (e.isLink ? " link" : "") << " size=" << e.size;
  return out.str();
}

std::string Describe(LineResult result, const ListingEntry& e) {
  return result != LineResult::kEntry ? "skip" : Describe(e);
}

// The corpus records what a line says; a crawler records neither "." and
// ".." nor names that cannot name one entry, and keeps 0 for unknown sizes.
std::optional<ListingEntry> Expected(const Json& expect) {
  if (expect.kind != Json::Kind::kObject) return std::nullopt;
  ListingEntry e;
  e.name = Unescape(expect.String("name"));
  if (e.name.empty() || e.name == "." || e.name == ".." ||
      e.name.find_first_of(std::string_view("/\r\n\0", 4)) != std::string::npos) {
    return std::nullopt;
  }
  const Json* dir = expect.Find("dir");
  e.isDirectory = dir != nullptr && dir->boolean;
  e.isLink = expect.String("type") == "symlink";
  if (const Json* size = expect.Find("size");
      size != nullptr && size->kind == Json::Kind::kString) {
    e.size = std::strtoull(size->text.c_str(), nullptr, 10);
  }
  return e;
}

std::vector<std::string> ExpectedListing(const Json& expect) {
  std::vector<std::string> out;
  for (const Json& item : expect.items) {
    if (auto e = Expected(item)) out.push_back(Describe(*e));
  }
  return out;
}

std::vector<std::string> SplitInChunks(std::string_view bytes, std::size_t chunk,
                                       ListingFormat format) {
  std::vector<std::string> out;
  CListingSplitter splitter(format);
  auto collect = [&out](const ListingEntry& e) { out.push_back(Describe(e)); };
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::size_t n = std::min(chunk, bytes.size() - at);
    splitter.Feed(bytes.data() + at, n, collect);
  }
  splitter.Finish(collect);
  return out;
}

class ListingCorpusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* root = std::getenv("ORVANE_SOURCE_DIR");
    const std::string path =
        std::string(root != nullptr ? root : ".") + "/tests/data/ftp-listings/corpus.json";
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    corpus_ = new Json();
    loaded_ = file.good() && JsonReader(text.str()).Read(*corpus_);
  }
  static void TearDownTestSuite() { delete corpus_; }

  const std::vector<Json>& Samples() const {
    static const std::vector<Json> kNone;
    const Json* samples = corpus_->Find("samples");
    return samples != nullptr ? samples->items : kNone;
  }

  static Json* corpus_;
  static bool loaded_;
};

Json* ListingCorpusTest::corpus_ = nullptr;
bool ListingCorpusTest::loaded_ = false;

TEST_F(ListingCorpusTest, CorpusIsComplete) {
  ASSERT_TRUE(loaded_) << "tests/data/ftp-listings/corpus.json missing or unreadable";
  const Json* count = corpus_->Find("count");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(Samples().size(), std::strtoull(count->text.c_str(), nullptr, 10));
  EXPECT_EQ(Samples().size(), 327u);
}

// Where the parser reads a line by its columns and the corpus trims: IIS
// writes exactly ten blanks after "<DIR>", so an eleventh is the name's.
const std::map<std::string, std::string> kColumnReadings = {
    {"dos-014", "\" 10 years and under\" dir size=0"}};

TEST_F(ListingCorpusTest, EveryLineSampleParsesAsExpected) {
  ASSERT_TRUE(loaded_);
  int checked = 0;
  for (const Json& sample : Samples()) {
    if (sample.String("kind") != "line") continue;
    const std::string raw = Unescape(sample.String("raw"));
    const Json* expect = sample.Find("expect");
    ASSERT_NE(expect, nullptr);
    const auto wanted = Expected(*expect);
    ListingEntry entry;
    const LineResult result =
        sample.String("style") == "mlsd" ? ParseMlsdLine(raw, entry) : ParseListLine(raw, entry);
    const auto column = kColumnReadings.find(sample.String("id"));
    EXPECT_EQ(Describe(result, entry), column != kColumnReadings.end() ? column->second
                                       : wanted                        ? Describe(*wanted)
                                                                       : "skip")
        << sample.String("id") << ": " << Printable(raw);
    // The same line as received with its CR, and as the last line of a
    // listing without line end, gives the same result.
    ListingEntry again;
    const LineResult withCr = sample.String("style") == "mlsd" ? ParseMlsdLine(raw + "\r", again)
                                                               : ParseListLine(raw + "\r", again);
    EXPECT_EQ(Describe(withCr, again), Describe(result, entry)) << sample.String("id");
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST_F(ListingCorpusTest, EveryListingSampleParsesAsExpectedInEveryChunkSize) {
  ASSERT_TRUE(loaded_);
  int checked = 0;
  for (const Json& sample : Samples()) {
    if (sample.String("kind") != "listing") continue;
    const std::string raw = Unescape(sample.String("raw"));
    const auto format =
        sample.String("style") == "mlsd" ? ListingFormat::kMlsd : ListingFormat::kList;
    const std::vector<std::string> wanted = ExpectedListing(*sample.Find("expect"));
    ASSERT_FALSE(wanted.empty()) << sample.String("id");
    // libcurl removes the CR of each CR LF in ASCII mode; both must parse alike.
    std::string lfOnly;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) lfOnly += raw[i];
    }
    for (std::size_t chunk = 1; chunk <= raw.size(); ++chunk) {
      ASSERT_EQ(SplitInChunks(raw, chunk, format), wanted)
          << sample.String("id") << " chunk " << chunk;
      ASSERT_EQ(SplitInChunks(lfOnly, chunk, format), wanted)
          << sample.String("id") << " LF, chunk " << chunk;
    }
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

// The line samples of each style, joined into one listing and split in
// several chunk sizes: the splitter hands out exactly what line-by-line
// parsing gives. Unusable lines are left out: in MLSD a line without facts is
// the tail of a broken name and takes the entry before it along.
TEST_F(ListingCorpusTest, JoinedLineSamplesSplitLikeSingleLines) {
  ASSERT_TRUE(loaded_);
  std::vector<std::string> styles;
  for (const Json& sample : Samples()) {
    if (std::find(styles.begin(), styles.end(), sample.String("style")) == styles.end()) {
      styles.push_back(sample.String("style"));
    }
  }
  ASSERT_GE(styles.size(), 11u);
  for (const std::string& style : styles) {
    const auto format = style == "mlsd" ? ListingFormat::kMlsd : ListingFormat::kList;
    std::string listing;
    std::vector<std::string> wanted;
    for (const Json& sample : Samples()) {
      if (sample.String("kind") != "line" || sample.String("style") != style) continue;
      const std::string raw = Unescape(sample.String("raw"));
      ListingEntry e;
      const LineResult result =
          format == ListingFormat::kMlsd ? ParseMlsdLine(raw, e) : ParseListLine(raw, e);
      if (result == LineResult::kUnusable) continue;
      if (result == LineResult::kEntry) wanted.push_back(Describe(e));
      listing += raw;
      listing += "\r\n";
    }
    ASSERT_FALSE(wanted.empty()) << style;
    for (std::size_t chunk : {1, 2, 3, 7, 64, 1000, 16384}) {
      EXPECT_EQ(SplitInChunks(listing, chunk, format), wanted) << style << ", chunk " << chunk;
    }
  }
}

// ----- targeted cases -----

struct LineCase {
  const char* what;
  std::string line;
  std::string expected;  // Describe() text or "skip"
};

void CheckLines(const std::vector<LineCase>& cases, bool mlsd) {
  for (const LineCase& c : cases) {
    ListingEntry e;
    const LineResult r = mlsd ? ParseMlsdLine(c.line, e) : ParseListLine(c.line, e);
    EXPECT_EQ(Describe(r, e), c.expected) << c.what << ": " << Printable(c.line);
  }
}

TEST(ListingParserTest, NamesThatCannotNameOneEntryAreSkipped) {
  using namespace std::string_literals;
  const std::string unixLine = "-rw-r--r--   1 ftp      ftp          12 Mar 03  2019 ";
  const std::string dos = "05-12-21  03:16PM              1048576 ";
  const std::string mlsd = "type=file;size=12; ";
  CheckLines({{"slash", unixLine + "a/b", "skip"},
              {"leading slash", unixLine + "/etc", "skip"},
              {"NUL", unixLine + "a\0b"s, "skip"},
              {"inner CR", unixLine + "evil\rDELE x", "skip"},
              {"LF", unixLine + "evil\nDELE x", "skip"},
              {"dot", unixLine + ".", "skip"},
              {"dot dot", unixLine + "..", "skip"},
              {"link named ..", "lrwxrwxrwx 1 a b 2 Mar 03  2019 .. -> /", "skip"},
              {"dos slash", dos + "x/y", "skip"},
              {"dos NUL", dos + "x\0"s, "skip"},
              {"eplf slash", "+i1.2,m3,r,s5,\tx/y", "skip"},
              {"bare dot dot", "..", "skip"},
              {"two CRs keep one", unixLine + "name\r\r", "skip"},
              {"dots are names", unixLine + "...", "\"...\" file size=12"},
              {"control bytes other than CR/LF/NUL stay", unixLine + "a\x01\x7f",
               "\"a\\x01\\x7f\" file size=12"}},
             false);
  CheckLines({{"slash", mlsd + "a/b", "skip"},
              {"NUL", mlsd + "a\0b"s, "skip"},
              {"CR", mlsd + "a\rb", "skip"},
              {"LF", mlsd + "a\nb", "skip"},
              {"type=dir named ..", "type=dir; ..", "skip"},
              {"empty name", "type=file; ", "skip"},
              {"no facts, slash", " /pub", "skip"}},
             true);
}

TEST(ListingParserTest, SizesAreSixtyFourBit) {
  const std::string unixLine = "-rw-r--r--   1 ftp      ftp ";
  CheckLines(
      {{"4 GiB", unixLine + "4294967296 Mar 03  2019 big", "\"big\" file size=4294967296"},
       {"4 GiB - 1", unixLine + "4294967295 Mar 03  2019 big", "\"big\" file size=4294967295"},
       {"2^63", unixLine + "9223372036854775808 Mar 03  2019 big",
        "\"big\" file size=9223372036854775808"},
       {"2^64 - 1", unixLine + "18446744073709551615 Mar 03 2019 big",
        "\"big\" file size=18446744073709551615"},
       {"2^64 overflows: no size column, no entry",
        unixLine + "18446744073709551616 Mar 03  2019 big", "skip"},
       {"DOS", "05-12-21  03:16PM          6442450944 big", "\"big\" file size=6442450944"},
       {"DOS grouped", "05-12-21  03:16PM       6,442,450,944 big", "\"big\" file size=6442450944"},
       {"EPLF", "+i1.2,m3,r,s8589934592,\tbig", "\"big\" file size=8589934592"},
       {"EPLF overflow", "+r,s99999999999999999999,\tbig", "\"big\" file size=0"},
       {"suffix", unixLine + "1.5G Mar 03  2019 big", "\"big\" file size=1610612736"}},
      false);
  CheckLines(
      {{"size", "type=file;size=6442450944; big", "\"big\" file size=6442450944"},
       {"sizd of a directory", "type=dir;sizd=4096; d", "\"d\" dir size=4096"},
       {"size wins over sizd", "type=dir;sizd=1;size=2; d", "\"d\" dir size=2"},
       {"overflow gives 0", "type=file;size=18446744073709551616; big", "\"big\" file size=0"},
       {"garbage gives 0", "type=file;size=12x; big", "\"big\" file size=0"}},
      true);
}

TEST(ListingParserTest, LinksAreFilesWithTheirOwnNameAndSize) {
  CheckLines({{"target cut off", "lrwxrwxrwx 1 u g 7 Jan 25 00:17 bin -> usr/bin",
               "\"bin\" file link size=7"},
              {"link to ..", "lrwxrwxrwx 1 u g 2 Jan 25 00:17 up -> ..", "\"up\" file link size=2"},
              {"first arrow splits", "lrwxrwxrwx 1 u g 2 Jan 25 00:17 a -> b -> c",
               "\"a\" file link size=2"},
              {"arrow in a file name stays", "-rw-r--r-- 1 u g 5 Jan 25 00:17 a -> b",
               "\"a -> b\" file size=5"}},
             false);
  CheckLines({{"slink", "type=OS.unix=slink:/x;size=3; l", "\"l\" file link size=3"},
              {"symlink, odd case", "TYPE=os.UNIX=SymLink; l", "\"l\" file link size=0"},
              {"device is a plain file", "type=OS.unix=chr-1/3; tty", "\"tty\" file size=0"}},
             true);
}

TEST(ListingParserTest, MlsdFactsAreCaseInsensitiveAndUniqueIsKept) {
  ListingEntry e;
  ASSERT_EQ(ParseMlsdLine("Type=DIR;UNIQUE=801g2f;Size=4096; sub dir", e), LineResult::kEntry);
  EXPECT_EQ(Describe(e), "\"sub dir\" dir size=4096");
  EXPECT_EQ(e.unique, "801g2f");
  ASSERT_EQ(ParseMlsdLine("type=file; plain", e), LineResult::kEntry);
  EXPECT_EQ(e.unique, "") << "a fact of the previous line leaked";
  EXPECT_EQ(ParseMlsdLine("type=CDIR;unique=1; /pub", e), LineResult::kSkip);
  EXPECT_EQ(ParseMlsdLine("type=PDir;unique=1; ..", e), LineResult::kSkip);
  // A fact value with a space cannot end the facts; "; " does.
  ASSERT_EQ(ParseMlsdLine("type=OS.unix=slink:/my dir;size=6; link", e), LineResult::kEntry);
  EXPECT_EQ(Describe(e), "\"link\" file link size=6");
  // Not MLSD at all.
  EXPECT_EQ(ParseMlsdLine("-rw-r--r-- 1 u g 5 Jan 25 00:17 x", e), LineResult::kUnusable);
  EXPECT_EQ(ParseMlsdLine(" no facts", e), LineResult::kUnusable);
  EXPECT_EQ(ParseMlsdLine("", e), LineResult::kUnusable);
}

// Blanks that the layout puts between the columns are padding; any further
// blank is the name's own.
TEST(ListingParserTest, LeadingBlanksStayWhereTheColumnsSayTheyAreTheNames) {
  CheckLines(
      {{"IIS file", "12-07-26  07:39AM                  300  leadfil300.zip",
        "\" leadfil300.zip\" file size=300"},
       {"IIS file, 24-hour clock", "2026-12-07  07:39                  300   two",
        "\"  two\" file size=300"},
       {"IIS directory", "12-07-26  07:39AM       <DIR>           leaddir",
        "\" leaddir\" dir size=0"},
       {"IIS directory, no extra blank", "12-07-26  07:39AM       <DIR>          plain",
        "\"plain\" dir size=0"},
       {"other <DIR> padding", "12-07-26  07:39AM <DIR>   other", "\"other\" dir size=0"},
       {"Unix, time", "-rw-r--r-- 1 ftp ftp 5 Dec  7 08:55  lead", "\" lead\" file size=5"},
       {"Unix, year", "drwxr-xr-x 2 ftp ftp 4096 Dec  7  2019   lead", "\"  lead\" dir size=4096"},
       {"OS/2", "   345      A          10-23-95   13:50   LOGFILE", "\" LOGFILE\" file size=345"},
       {"EPLF", "+i1.2,m3,r,s5,\t lead", "\" lead\" file size=5"}},
      false);
  CheckLines({{"MLSD", "type=file;size=5;  lead", "\" lead\" file size=5"}}, true);
}

TEST(ListingParserTest, NamesUpToTheBoundAreTakenLongerOnesAreUnusable) {
  const std::string unixLine = "-rw-r--r-- 1 ftp ftp 5 Dec  7 08:55 ";
  const std::string mlsd = "type=file;size=5; ";
  for (const std::size_t length : {kMaxNameBytes, kMaxNameBytes + 1}) {
    const std::string name(length, 'n');
    ListingEntry e;
    const LineResult expected =
        length <= kMaxNameBytes ? LineResult::kEntry : LineResult::kUnusable;
    EXPECT_EQ(ParseListLine(unixLine + name, e), expected) << length;
    EXPECT_EQ(ParseMlsdLine(mlsd + name, e), expected) << length;
  }
}

// The name is the rest of the line after the date column, whatever it looks
// like; the leftmost size-and-date pair is the real one.
TEST(ListingParserTest, NamesThatLookLikeColumnsStayWhole) {
  CheckLines({{"date-like name", "-rw-r--r-- 1 ftp ftp 5 Mar 03  2019 Mar 04  2020 notes",
               "\"Mar 04  2020 notes\" file size=5"},
              {"size-and-date-like name", "-rw-r--r-- 1 ftp ftp 5 Mar 03 10:00 7 Jan 1 2000",
               "\"7 Jan 1 2000\" file size=5"},
              {"numeric owner and group", "drwxr-xr-x 12 1000 1000 4096 Dec  7 08:55 12 1000",
               "\"12 1000\" dir size=4096"},
              {"leading dashes and spaces", "-rw-r--r-- 1 ftp ftp 5 Dec  7 08:55   --x-- ",
               "\"  --x-- \" file size=5"},
              {"long-iso", "-rw-r--r-- 1 ftp ftp 5 2019-03-05 10:00 x y", "\"x y\" file size=5"},
              {"full-iso", "-rw-r--r-- 1 ftp ftp 5 2019-03-05 10:00:00.123456789 +0100  x",
               "\" x\" file size=5"},
              {"DOS name like a size", "05-12-21  03:16PM                 12 34 56",
               "\"34 56\" file size=12"}},
             false);
  CheckLines({{"MLSD name like facts", "type=file;size=1; type=dir;size=2; x",
               "\"type=dir;size=2; x\" file size=1"}},
             true);
}

TEST(ListingParserTest, DegenerateLinesNeverGiveEntries) {
  CheckLines({{"empty", "", "skip"},
              {"CR only", "\r", "skip"},
              {"blanks", " \t ", "skip"},
              {"total", "total 1234", "skip"},
              {"mode only", "drwxr-xr-x", "skip"},
              {"truncated", "drwxr-xr-x 2 root", "skip"},
              {"date without name", "drwxr-xr-x 2 root root 4096 Mar 03  2019", "skip"},
              {"date, blank name", "drwxr-xr-x 2 root root 4096 Mar 03  2019 ", "skip"},
              {"EPLF without tab", "+i1,r,s5,name", "skip"},
              {"DOS without name", "05-12-21  03:16PM       <DIR>", "skip"},
              {"VMS header", "DISK$ANONFTP:[ANONYMOUS]", "skip"},
              {"lone VMS name", "LONGNAME.TXT;3", "skip"}},
             false);
}

// ----- splitter -----

std::string UnixListing(int lines, const char* lineEnd) {
  std::string out = std::string("total ") + std::to_string(lines) + lineEnd;
  for (int i = 0; i < lines; ++i) {
    out += (i % 10 == 0) ? "drwxr-xr-x" : "-rw-r--r--";
    out += "   1 ftp      ftp      " + std::to_string(1000 + i) + " Mar 03  2019 entry " +
           std::to_string(i) + lineEnd;
  }
  return out;
}

TEST(ListingSplitterTest, CrLfSplitAnywhereGivesTheSameEntriesAsLf) {
  const std::string crlf = UnixListing(40, "\r\n");
  const std::string lf = UnixListing(40, "\n");
  const auto wanted = SplitInChunks(lf, lf.size(), ListingFormat::kList);
  ASSERT_EQ(wanted.size(), 40u);
  EXPECT_EQ(wanted[3], "\"entry 3\" file size=1003");
  for (std::size_t chunk = 1; chunk <= crlf.size(); ++chunk) {
    ASSERT_EQ(SplitInChunks(crlf, chunk, ListingFormat::kList), wanted) << "chunk " << chunk;
  }
  for (std::size_t chunk = 1; chunk <= lf.size(); chunk += 3) {
    ASSERT_EQ(SplitInChunks(lf, chunk, ListingFormat::kList), wanted) << "chunk " << chunk;
  }
}

TEST(ListingSplitterTest, LastLineWithoutLineEndIsParsedByFinish) {
  CListingSplitter splitter(ListingFormat::kMlsd);
  std::vector<std::string> got;
  auto collect = [&got](const ListingEntry& e) { got.push_back(e.name); };
  const std::string text = "type=file;size=1; a\r\ntype=dir; b\r";
  splitter.Feed(text.data(), text.size(), collect);
  // "a" is held back until a line shows that it was whole.
  EXPECT_TRUE(got.empty());
  splitter.Finish(collect);
  EXPECT_EQ(got, (std::vector<std::string>{"a", "b"}));
  splitter.Finish(collect);  // nothing left
  EXPECT_EQ(got.size(), 2u);
}

TEST(ListingSplitterTest, OverlongLinesAreDroppedAndTheNextLineSurvives) {
  const std::string good = "type=file;size=5; after\n";
  const std::string overlong =
      "type=file;size=5; " + std::string(CListingSplitter::kMaxLineBytes, 'x') + "\n";
  // Long facts, a short name: exactly at the bound.
  const std::string facts = "type=file;size=5;x.pad=";
  const std::string atLimit =
      facts + std::string(CListingSplitter::kMaxLineBytes - facts.size() - 7, 'p') + "; limit\n";
  ASSERT_EQ(atLimit.size(), CListingSplitter::kMaxLineBytes + 1);
  const std::string text = overlong + good + atLimit + good + overlong;
  for (std::size_t chunk : {std::size_t{1000}, std::size_t{16384}, text.size()}) {
    CListingSplitter splitter(ListingFormat::kMlsd);
    std::vector<std::string> names;
    auto collect = [&names](const ListingEntry& e) { names.push_back(e.name); };
    for (std::size_t at = 0; at < text.size(); at += chunk) {
      splitter.Feed(text.data() + at, std::min(chunk, text.size() - at), collect);
    }
    splitter.Finish(collect);
    EXPECT_EQ(names, (std::vector<std::string>{"after", "limit", "after"})) << "chunk " << chunk;
    EXPECT_EQ(splitter.skippedLines(), 2u) << "chunk " << chunk;
  }
}

TEST(ListingSplitterTest, UnterminatedOverlongTailIsDropped) {
  CListingSplitter splitter(ListingFormat::kList);
  const std::string tail(CListingSplitter::kMaxLineBytes + 10, 'y');
  int entries = 0;
  for (int i = 0; i < 3; ++i)
    splitter.Feed(tail.data(), tail.size(), [&](const ListingEntry&) { ++entries; });
  splitter.Finish([&](const ListingEntry&) { ++entries; });
  EXPECT_EQ(entries, 0);
  EXPECT_EQ(splitter.skippedLines(), 1u);
}

TEST(ListingSplitterTest, WrappedVmsEntryIsJoinedAcrossChunks) {
  const std::string text =
      "Directory USER1:[TEMP]\r\n\r\nVERY_LONG_FILE_NAME.TXT;12\r\n"
      "     4/15   24-FEB-2003 13:17:24  [POSTWARE,LP]    (RWED,RWED,RE,)\r\n"
      "ORPHAN.TXT;1\r\nSUB.DIR;1  1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)\r\nLAST.TXT;1\r\n";
  const std::vector<std::string> wanted = {"\"VERY_LONG_FILE_NAME.TXT\" file size=0",
                                           "\"SUB\" dir size=0"};
  for (std::size_t chunk = 1; chunk <= text.size(); ++chunk) {
    ASSERT_EQ(SplitInChunks(text, chunk, ListingFormat::kList), wanted) << "chunk " << chunk;
  }
}

// A name with a line feed reaches the parser as two lines; the one-word tail
// must not become an entry of its own. z/OS member lists, where one-word
// lines are real entries, keep them.
TEST(ListingSplitterTest, OneWordLinesAreNamesOnlyInListingsWithoutColumns) {
  const std::string unixListing =
      "-rw-r--r-- 1 u g 5 Mar 03  2019 evil\nRMD pub\r\n-rw-r--r-- 1 u g 6 Mar 03  2019 next\r\n";
  EXPECT_EQ(SplitInChunks(unixListing, 5, ListingFormat::kList),
            (std::vector<std::string>{"\"evil\" file size=5", "\"next\" file size=6"}));
  const std::string dosListing = "05-26-95  10:57AM  143712 a\nb\r\n";
  EXPECT_EQ(SplitInChunks(dosListing, 3, ListingFormat::kList),
            std::vector<std::string>{"\"a\" file size=143712"});
  const std::string members =
      " Name     VV.MM   Created       Changed      Size  Init   Mod   Id\r\n"
      "SAVE03    01.03 2002/09/12 2002/10/11 09:37    11    11     0 KIL001\r\n"
      "SAVE04                                                              \r\n"
      "SAVE05\r\n";
  EXPECT_EQ(SplitInChunks(members, 4, ListingFormat::kList),
            (std::vector<std::string>{"\"SAVE03\" file size=0", "\"SAVE04\" file size=0",
                                      "\"SAVE05\" file size=0"}));
  // Each listing starts afresh.
  CListingSplitter splitter(ListingFormat::kList);
  std::vector<std::string> got;
  auto collect = [&got](const ListingEntry& e) { got.push_back(e.name); };
  splitter.Feed(unixListing.data(), unixListing.size(), collect);
  splitter.Finish(collect);
  splitter.Feed("MEMBER1\n", 8, collect);
  splitter.Finish(collect);
  EXPECT_EQ(got, (std::vector<std::string>{"evil", "next", "MEMBER1"}));
}

// A name with a line break reaches the splitter as two lines. In MLSD the
// second has no facts, so the first was cut short: neither becomes an entry,
// and the listing reports the loss.
TEST(ListingSplitterTest, MlsdNamesBrokenByLineBreaksGiveNoEntry) {
  struct Case {
    const char* what;
    std::string name;
    std::size_t skipped;
  };
  const std::vector<Case> cases = {{"LF", "lf\ntail", 1},
                                   {"CR LF", "crlf\r\ntail", 1},
                                   {"bare CR", "cr\rtail", 1},
                                   {"trailing LF", "end\n", 1},
                                   {"tail with blanks", "lf\nsome tail words", 1},
                                   {"two LFs", "a\nb\nc", 2},
                                   {"tail that starts with a blank", "lf\n tail", 1}};
  for (const Case& c : cases) {
    const std::string text =
        "type=file;size=1; before\r\ntype=file;size=7; " + c.name + "\r\ntype=dir; after\r\n";
    for (std::size_t chunk : {std::size_t{1}, std::size_t{5}, text.size()}) {
      CListingSplitter splitter(ListingFormat::kMlsd);
      std::vector<std::string> got;
      auto collect = [&got](const ListingEntry& e) { got.push_back(e.name); };
      for (std::size_t at = 0; at < text.size(); at += chunk) {
        splitter.Feed(text.data() + at, std::min(chunk, text.size() - at), collect);
      }
      splitter.Finish(collect);
      EXPECT_EQ(got, (std::vector<std::string>{"before", "after"})) << c.what << ", " << chunk;
      EXPECT_EQ(splitter.skippedLines(), c.skipped) << c.what << ", " << chunk;
    }
  }
}

TEST(ListingSplitterTest, ResetForgetsAPartialLine) {
  CListingSplitter splitter(ListingFormat::kList);
  std::vector<std::string> got;
  auto collect = [&got](const ListingEntry& e) { got.push_back(e.name); };
  const std::string half = "-rw-r--r-- 1 u g 5 Mar 03  2019 hal";
  splitter.Feed(half.data(), half.size(), collect);
  splitter.Reset(ListingFormat::kMlsd);
  const std::string mlsd = "type=file; whole\n";
  splitter.Feed(mlsd.data(), mlsd.size(), collect);
  splitter.Finish(collect);
  EXPECT_EQ(got, std::vector<std::string>{"whole"});
}

TEST(ListingSplitterTest, SteadyStateFeedAllocatesNothingPerLine) {
  const std::string listing = UnixListing(2000, "\r\n");
  CListingSplitter splitter(ListingFormat::kList);
  std::size_t entries = 0;
  auto count = [&entries](const ListingEntry&) { ++entries; };
  // The first pass grows the reused buffers to their working size.
  for (std::size_t at = 0; at < listing.size(); at += 16384) {
    splitter.Feed(listing.data() + at, std::min<std::size_t>(16384, listing.size() - at), count);
  }
  splitter.Finish(count);
  const long before = gAllocations.load();
  for (std::size_t at = 0; at < listing.size(); at += 16384) {
    splitter.Feed(listing.data() + at, std::min<std::size_t>(16384, listing.size() - at), count);
  }
  splitter.Finish(count);
  EXPECT_EQ(gAllocations.load() - before, 0);
  EXPECT_EQ(entries, 4000u);
}

}  // namespace
}  // namespace orvane
