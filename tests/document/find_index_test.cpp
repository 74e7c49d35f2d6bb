// The find index and its query language: every answer of the index equals
// a plain scan over the catalogs, on a generated tree that mixes GBK and
// UTF-8 names, case twins and Simplified/Traditional twins; the grammar's
// meaning on a small tree; parse errors with their positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "catalog/change_journal.h"
#include "catalog/code_page.h"
#include "catalog/name_charset.h"
#include "document/find_index.h"
#include "document/find_query.h"
#include "document/search_fold.h"
#include "walk_test_support.h"

namespace orvane {
namespace {

using doc_test::AddDir;
using doc_test::AddFile;
using doc_test::AddSite;
using doc_test::DocumentTest;

constexpr std::int64_t kNow = 1'800'000'000;

// What one entry is to a query, worked out from the catalog directly.
class ScanSubject final : public FindSubject {
 public:
  std::string texts;
  bool dir = false;
  std::uint64_t size = 0;
  bool isNew = false;
  std::string siteTexts;
  std::string path;
  std::int64_t added = 0, changed = 0, removed = 0;
  std::string_view Texts() override { return texts; }
  bool IsDir() override { return dir; }
  std::uint64_t Size() override { return size; }
  bool IsNew() override { return isNew; }
  std::string_view SiteTexts() override { return siteTexts; }
  std::string_view Path() override { return path; }
  std::int64_t JournalTime(Journal kind) override {
    return kind == Journal::kAdded ? added : kind == Journal::kChanged ? changed : removed;
  }
};

// The plain scan: every entry of every site, decoded and folded on the
// spot, its journal times looked up by its path. Hits as "key:rawpath",
// removed ones with a "-" in front.
std::multiset<std::string> Scan(const COrvaneDoc& doc, const CFindQuery& query) {
  std::multiset<std::string> hits;
  for (const auto& site : doc.sites()) {
    std::string journal;
    ReadJournalFile(site->DataDirectory(doc.GetProgramDir()) / kJournalFileName, journal);
    const std::vector<JournalRecord> records = ReadJournal(journal);
    const auto latest = [&](JournalEntry::Kind kind, const std::string& path) {
      std::int64_t time = 0;
      for (const auto& record : records) {
        for (const auto& entry : record.entries) {
          if (entry.kind == kind && entry.path == path) time = record.endTime;
        }
      }
      return time;
    };
    ScanSubject subject;
    subject.siteTexts = SearchFold(DecodeSiteText(site->siteKey()));
    if (!site->nickname.empty()) {
      subject.siteTexts += kTextSeparator + SearchFold(DecodeSiteText(site->nickname));
    }
    const auto foldedPath = [&](const std::string& raw) {
      std::string path;
      std::size_t from = 1;
      while (from <= raw.size()) {
        std::size_t cut = raw.find('/', from);
        if (cut == std::string::npos) cut = raw.size();
        path +=
            '/' + SearchFold(DecodeName(raw.substr(from, cut - from), site->NameCharsetInUse()));
        from = cut + 1;
      }
      return path;
    };
    const auto test = [&](std::string_view name, const std::string& raw, bool dir,
                          std::uint64_t size, bool isNew, std::string_view mark) {
      subject.texts.clear();
      AppendSearchTexts(*site, name, subject.texts);
      subject.dir = dir;
      subject.size = size;
      subject.isNew = isNew;
      subject.path = foldedPath(raw);
      const bool ghost = mark == "-";
      subject.added = ghost ? 0 : latest(JournalEntry::Kind::kAdded, raw);
      subject.changed = ghost ? 0 : latest(JournalEntry::Kind::kResized, raw);
      if (query.Matches(subject)) hits.insert(std::string(mark) + site->siteKey() + ":" + raw);
    };
    const std::function<void(const CFTPDir&, const std::string&)> walk =
        [&](const CFTPDir& dir, const std::string& path) {
          for (const auto& sub : dir.subdirs) {
            const std::string raw = path + "/" + std::string(sub->name());
            test(sub->name(), raw, true, 0, sub->readState != 0, "");
            walk(*sub, raw);
          }
          for (const auto& file : dir.files) {
            test(file->name(), path + "/" + std::string(file->name()), false, file->size,
                 file->readState != 0, "");
          }
        };
    walk(*site->rootDir, "");
    if (!query.WantsRemoved()) continue;
    for (const auto& record : records) {
      for (const auto& entry : record.entries) {
        if (entry.kind != JournalEntry::Kind::kRemoved) continue;
        subject.removed = record.endTime;
        test(entry.path.substr(entry.path.rfind('/') + 1), entry.path, entry.isDirectory,
             entry.size, false, "-");
        subject.removed = 0;
      }
    }
  }
  return hits;
}

std::multiset<std::string> IndexHits(const CFindIndex& index, const CFindQuery& query) {
  std::multiset<std::string> hits;
  index.Find(query, [&](const FindHit& hit) {
    hits.insert((hit.ghost ? "-" : "") + hit.site->siteKey() + ":" + FindHitRawPath(hit));
    return true;
  });
  return hits;
}

std::unique_ptr<CFindQuery> MustParse(std::string_view text) {
  CFindQuery::Error error;
  auto query = CFindQuery::Parse(text, kNow, error);
  EXPECT_TRUE(query) << text << ": " << error.Text();
  return query;
}

// Names that come in twins the fold must bring together.
const char* const kStems[] = {"Report",  "REPORT",   "电影", "電影",   "档案",   "檔案",  "Straße",
                              "STRASSE", "ｆｕｌｌ", "FULL", "música", "MÚSICA", "movie", "data"};
const char* const kExts[] = {".iso", ".mkv", ".txt", ".PDF", "", ".tar.gz"};

void WriteJournal(const std::filesystem::path& dataDir, const std::vector<JournalRecord>& records) {
  std::vector<std::string> frames;
  for (const auto& record : records) frames.push_back(EncodeJournalRecord(record));
  std::filesystem::create_directories(dataDir);
  const std::string bytes = RewriteJournal({}, frames, JournalLimits{});
  std::ofstream(dataDir / kJournalFileName, std::ios::binary) << bytes;
}

// Each query, and whether the generated tree has hits for it (so that an
// index that loses everything cannot pass).
const struct {
  const char* query;
  bool someHits;
} kScanCases[] = {
    {"report", true},
    {"REPORT 1", true},
    {"电影", true},
    {"電影", true},
    {"檔", true},
    {"strasse", true},
    {"STRAßE", true},
    {"full", true},
    {"MUSICA", false},
    {"música", true},
    {"\"report 1\"", true},
    {"report -pdf", true},
    {"movie | data", true},
    {"(movie | 电影) ext:iso,mkv", true},
    {"*.iso", true},
    {"re?ort*", true},
    {"*影?1*", true},
    {"ext:pdf", true},
    {"ext:gz", true},
    {"size:>1G", true},
    {"size:10M..2G", true},
    {"size:<=4k", true},
    {"size:1", true},
    {"dir:", true},
    {"file: 影", true},
    {"dir:report", true},
    {"new:", true},
    {"new: -file:", true},
    {"site:gbk.*", true},
    {"site:影视站 movie", true},
    {"site:nowhere", false},
    {"path:/*影*/*", true},
    {"path:*/data*/*.txt", true},
    {"added:<7d", true},
    {"added:<3h", true},
    {"added:>7d", true},
    {"changed:<1d", true},
    {"removed:<30d", true},
    {"removed:<3h gone", true},
    {"/^report \\d+\\.iso$/", true},
    {"/電影 1/", true},
    {"-report -电影 -data", true},
    {"((report))", true},
    {"zzzzzz", false},
};
class FindIndexTest : public DocumentTest {
 protected:
  // Two sites, one with GBK names and one with UTF-8 names, a few
  // thousand entries in nested directories, and a journal each.
  void Generate() {
    std::uint32_t seed = 12345;
    const auto next = [&](std::uint32_t bound) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) % bound;
    };
    for (const bool gbk : {true, false}) {
      auto site = AddSite(doc, gbk ? "gbk.example" : "utf8.example");
      if (gbk) site->nickname = Utf8ToCp936("影视站");
      const auto encode = [gbk](std::string utf8) { return gbk ? Utf8ToCp936(utf8) : utf8; };
      std::vector<CFTPDir*> dirs{site->rootDir.get()};
      std::vector<JournalEntry> added, resized, removed;
      for (int i = 0; i < 1500; ++i) {
        CFTPDir* parent = dirs[next(static_cast<std::uint32_t>(dirs.size()))];
        const std::string stem = kStems[next(std::size(kStems))];
        const std::string name = stem + " " + std::to_string(i);
        const std::string parentPath = parent->parent ? parent->GetPath() : "";
        if (next(6) == 0) {
          CFTPDir* dir = AddDir(parent, encode(name), next(4) == 0);
          dirs.push_back(dir);
          if (next(5) == 0) added.push_back({JournalEntry::Kind::kAdded, true, dir->GetPath()});
        } else {
          const std::string fileName = encode(name + kExts[next(std::size(kExts))]);
          const std::uint64_t size = std::uint64_t{1} << next(42);
          AddFile(parent, fileName, next(5) == 0, size);
          const std::string path = parentPath + "/" + fileName;
          if (next(7) == 0) added.push_back({JournalEntry::Kind::kAdded, false, path, size});
          if (next(9) == 0) resized.push_back({JournalEntry::Kind::kResized, false, path, size});
          if (next(11) == 0) {
            removed.push_back({JournalEntry::Kind::kRemoved, false,
                               parentPath + "/" + encode("gone " + name), 7});
          }
        }
      }
      // Three updates: ten days ago, two days ago, an hour ago.
      std::vector<JournalRecord> records(3);
      const std::int64_t ages[] = {10 * 86400, 2 * 86400, 3600};
      for (std::size_t r = 0; r < 3; ++r) {
        records[r].endTime = kNow - ages[r];
        for (std::size_t k = r; k < added.size(); k += 3) records[r].entries.push_back(added[k]);
        for (std::size_t k = r; k < resized.size(); k += 3) {
          records[r].entries.push_back(resized[k]);
        }
        for (std::size_t k = r; k < removed.size(); k += 3) {
          records[r].entries.push_back(removed[k]);
        }
      }
      WriteJournal(site->DataDirectory(doc.GetProgramDir()), records);
    }
    for (const auto& site : doc.sites()) index.Build(site, doc.GetProgramDir());
  }

  CFindIndex index;
};

TEST_F(FindIndexTest, EveryQueryAnswersAsAPlainScan) {
  Generate();
  for (const auto& c : kScanCases) {
    SCOPED_TRACE(c.query);
    auto query = MustParse(c.query);
    ASSERT_TRUE(query);
    const auto scanned = Scan(doc, *query);
    EXPECT_EQ(IndexHits(index, *query), scanned);
    EXPECT_EQ(!scanned.empty(), c.someHits);
  }
}

// Every hit with what is printed of it: kind, size and new mark too.
std::vector<std::string> DetailedHits(const CFindIndex& index, const CFindQuery& query) {
  std::vector<std::string> hits;
  index.Find(query, [&](const FindHit& hit) {
    hits.push_back(hit.site->siteKey() + ":" + FindHitRawPath(hit) +
                   (FindHitIsDir(hit) ? "/" : "") + " " + std::to_string(FindHitSize(hit)) +
                   (FindHitIsNew(hit) ? " new" : ""));
    return true;
  });
  return hits;
}

// The find file each commit writes answers as the catalog does, in the
// same order, with the marks state.st holds now.
TEST_F(FindIndexTest, FindFilesAnswerAsTheirCatalogs) {
  Generate();
  for (const auto& site : doc.sites()) {
    // What loading the catalog decides; the find file decides the same.
    site->decidedCharset.store(site->DecideCharset(ServerUtf8::kUnknown));
    ASSERT_TRUE(site->SaveCatalogAndState(doc.GetProgramDir()));
    // Owner-only, as every file beside the catalog.
    EXPECT_EQ(std::filesystem::status(site->DataDirectory(doc.GetProgramDir()) / "find.idx")
                  .permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    index.Build(site, doc.GetProgramDir());
  }
  // Marks cleared and saved after the commit do not make the file stale.
  for (const auto& site : doc.sites()) {
    for (auto& file : site->rootDir->files) file->readState = 0;
    ASSERT_TRUE(site->SaveState(doc.GetProgramDir()));
  }
  // The window's index over the catalogs read back from disk takes the
  // texts from the find files: little more than a pointer per entry.
  CFindIndex loaded;
  std::vector<std::shared_ptr<CFTPSite>> reread;
  for (const auto& site : doc.sites()) {
    auto copy = std::make_shared<CFTPSite>();
    copy->host = site->host;
    copy->userName = site->userName;
    copy->password = site->password;
    copy->nickname = site->nickname;
    ASSERT_EQ(copy->LoadFiles(doc.GetProgramDir()), ArchiveError::kNone);
    copy->loadState = kLoaded;
    loaded.Build(copy, doc.GetProgramDir());
    reread.push_back(std::move(copy));
  }
  // (Both hold the journals' times and removed entries.)
  EXPECT_LT(loaded.MemoryBytes() + loaded.EntryCount() * 16, index.MemoryBytes());
  CFindIndex stored;
  for (const auto& site : doc.sites()) {
    ASSERT_TRUE(stored.Open(site, doc.GetProgramDir()));
    // A reader that knows nothing of the charset takes the names' decision.
    const NameCharset decided = site->decidedCharset.exchange(NameCharset::kAuto);
    CFindIndex fresh;
    ASSERT_TRUE(fresh.Open(site, doc.GetProgramDir()));
    EXPECT_EQ(site->decidedCharset.load(), decided);
  }
  int compared = 0;
  for (const auto& c : kScanCases) {
    SCOPED_TRACE(c.query);
    auto query = MustParse(c.query);
    ASSERT_TRUE(query);
    // The journal is not in the file: such queries read the catalogs.
    if (query->UsesJournal()) continue;
    const auto hits = DetailedHits(stored, *query);
    EXPECT_EQ(hits, DetailedHits(index, *query));
    EXPECT_EQ(hits, DetailedHits(loaded, *query));
    EXPECT_EQ(hits.size(), Scan(doc, *query).size());
    ++compared;
  }
  EXPECT_GT(compared, 30);
}

// A find file is used only while it describes the catalog on disk as the
// site is read now; anything else is answered from the catalog.
TEST_F(FindIndexTest, StaleOrDamagedFindFilesAreNotUsed) {
  int made = 0;
  const auto make = [&] {
    auto site = AddSite(doc, "h" + std::to_string(++made));
    CFTPDir* pub = AddDir(site->rootDir.get(), "pub");
    AddFile(pub, "one.iso", 1, 10);
    AddFile(site->rootDir.get(), "two.txt", 0, 20);
    EXPECT_TRUE(site->SaveCatalogAndState(doc.GetProgramDir()));
    return site;
  };
  const auto rewrite = [](const std::filesystem::path& path,
                          const std::function<void(std::string&)>& change) {
    std::string bytes;
    {
      std::ifstream in(path, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    change(bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  };
  using Spoil = std::function<void(CFTPSite&, const std::filesystem::path&)>;
  const auto edit = [&](std::function<void(std::string&)> change) -> Spoil {
    return
        [&rewrite, change](CFTPSite&, const std::filesystem::path& file) { rewrite(file, change); };
  };
  // Three entries: four records, then the texts' offsets; the third
  // entry's texts made to start where the second's do.
  const auto textsBackwards = [](std::string& b) {
    std::memcpy(b.data() + 80 + 4 * 16 + 2 * 4, b.data() + 80 + 4 * 16 + 1 * 4, 4);
  };
  // The third record (two.txt) made to name itself as its parent.
  const auto ownParent = [](std::string& b) {
    const std::uint32_t self = 2;
    std::memcpy(b.data() + 80 + 2 * 16 + 8, &self, 4);
  };
  const struct {
    const char* what;
    Spoil spoil;
  } cases[] = {
      {"current", [](CFTPSite&, const std::filesystem::path&) {}},
      {"missing",
       [](CFTPSite&, const std::filesystem::path& file) { std::filesystem::remove(file); }},
      {"another catalog committed without it",
       [&](CFTPSite& site, const std::filesystem::path& file) {
         const std::string kept = file.string() + ".kept";
         std::filesystem::rename(file, kept);
         AddFile(site.rootDir.get(), "three.iso");
         ASSERT_TRUE(site.SaveCatalogAndState(doc.GetProgramDir()));
         std::filesystem::rename(kept, file);
       }},
      {"charset chosen since",
       [](CFTPSite& site, const std::filesystem::path&) {
         site.charset.store(NameCharset::kBig5);
       }},
      {"a commit not finished",
       [](CFTPSite&, const std::filesystem::path& file) {
         std::ofstream(file.parent_path() / "commit.pending") << "x";
       }},
      {"empty", edit([](std::string& b) { b.clear(); })},
      {"cut short", edit([](std::string& b) { b.pop_back(); })},
      {"longer", edit([](std::string& b) { b.push_back('\0'); })},
      {"another magic", edit([](std::string& b) { b[0] ^= 1; })},
      {"texts cut back to front", edit(textsBackwards)},
      // Used: no match may run into the byte that ends an entry's texts.
      {"a terminator overwritten",
       edit([](std::string& b) { b[b.find(std::string("two.txt\0", 8)) + 7] = 'z'; })},
      {"a parent after its child", edit(ownParent)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto site = make();
    c.spoil(*site, site->DataDirectory(doc.GetProgramDir()) / "find.idx");
    CFindIndex stored;
    const bool current = std::string_view(c.what) == "current" ||
                         std::string_view(c.what) == "a terminator overwritten";
    EXPECT_EQ(stored.Open(site, doc.GetProgramDir()), current);
    if (current) {
      EXPECT_TRUE(DetailedHits(stored, *MustParse("z")).empty());
      const std::string key = site->siteKey();
      EXPECT_EQ(DetailedHits(stored, *MustParse("u | o")),
                (std::vector<std::string>{key + ":/pub/ 0", key + ":/pub/one.iso 10 new",
                                          key + ":/two.txt 20"}));
    }
  }
}

TEST_F(FindIndexTest, RebuildTakesInWhatTheCatalogGainedAndLost) {
  auto site = AddSite(doc, "h");
  CFTPDir* pub = AddDir(site->rootDir.get(), "pub");
  AddFile(pub, "old.iso");
  index.Build(site, doc.GetProgramDir());
  AddFile(pub, "fresh.iso");
  site->rootDir->subdirs.front()->files.erase(site->rootDir->subdirs.front()->files.begin());
  index.Build(site, doc.GetProgramDir());
  auto query = MustParse("ext:iso");
  EXPECT_EQ(IndexHits(index, *query), std::multiset<std::string>{"h:/pub/fresh.iso"});
  index.Drop(site.get());
  EXPECT_TRUE(IndexHits(index, *query).empty());
}

// What the grammar means, on names chosen to tell its parts apart.
TEST_F(FindIndexTest, GrammarMeansWhatItSays) {
  auto site = AddSite(doc, "h");
  for (const char* name : {"Alpha Beta.iso", "alpha.mkv", "beta gamma.txt", "Ärger.txt",
                           "ärger 2.TXT", "簡體.doc", "简体.doc", "a*b.txt", "x(1).txt"}) {
    AddFile(site->rootDir.get(), name, 0, 100);
  }
  AddDir(site->rootDir.get(), "alpha dir");
  index.Build(site, doc.GetProgramDir());
  const struct {
    const char* query;
    std::set<std::string> names;
  } cases[] = {
      {"alpha beta", {"Alpha Beta.iso"}},
      {"\"alpha beta\"", {"Alpha Beta.iso"}},
      {"\"beta alpha\"", {}},
      {"alpha -beta", {"alpha.mkv", "alpha dir"}},
      {"alpha | gamma", {"Alpha Beta.iso", "alpha.mkv", "beta gamma.txt", "alpha dir"}},
      {"(alpha | gamma) -dir:", {"Alpha Beta.iso", "alpha.mkv", "beta gamma.txt"}},
      {"alpha*", {"Alpha Beta.iso", "alpha.mkv", "alpha dir"}},
      {"alpha?mkv", {"alpha.mkv"}},
      {"*.txt", {"beta gamma.txt", "Ärger.txt", "ärger 2.TXT", "a*b.txt", "x(1).txt"}},
      {"ärger", {"Ärger.txt", "ärger 2.TXT"}},
      {"ÄRGER 2", {"ärger 2.TXT"}},
      {"简体", {"簡體.doc", "简体.doc"}},
      {"簡", {"簡體.doc", "简体.doc"}},
      {"\"a*b\"", {"a*b.txt"}},
      {"\"x(1)\"", {"x(1).txt"}},
      {"ext:iso,MKV", {"Alpha Beta.iso", "alpha.mkv"}},
      {"dir:", {"alpha dir"}},
      {"file: alpha", {"Alpha Beta.iso", "alpha.mkv"}},
      {"size:100",
       {"Alpha Beta.iso", "alpha.mkv", "beta gamma.txt", "Ärger.txt", "ärger 2.TXT", "簡體.doc",
        "简体.doc", "a*b.txt", "x(1).txt"}},
      {"size:>100", {}},
      {"/^A.*iso$/", {"Alpha Beta.iso"}},
      {"/體/", {"簡體.doc", "简体.doc"}},
      {"", {}},
      {"   ", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    auto query = MustParse(c.query);
    ASSERT_TRUE(query);
    std::set<std::string> names;
    index.Find(*query, [&](const FindHit& hit) {
      names.insert(std::string(hit.file ? hit.file->name() : hit.dir->name()));
      return true;
    });
    EXPECT_EQ(names, c.names);
  }
}

TEST(FindQueryTest, GlobsMatchWholeTexts) {
  const struct {
    const char* glob;
    const char* text;
    bool matches;
  } cases[] = {
      {"*", "", true},           {"*", "abc", true},        {"**", "abc", true},
      {"abc", "abc", true},      {"abc", "abcd", false},    {"a*", "abc", true},
      {"*c", "abc", true},       {"*b", "abc", false},      {"a*c", "ac", true},
      {"a*a", "a", false},       {"a*b*c", "axbyc", true},  {"a*b*c", "acb", false},
      {"*aa*aa*", "aaa", false}, {"*aa*aa*", "aaaa", true}, {"*.iso", "x.iso.txt", false},
      {"*影*", "电影", true},    {"?影", "电影", true},     {"a?c", "ac", false},
      {"*?", "", false},         {"*a?", "xab", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GlobMatch(c.glob, c.text), c.matches) << c.glob << " / " << c.text;
  }
}

TEST(FindQueryTest, ParseErrorsNameTheirPosition) {
  const struct {
    const char* query;
    std::size_t column;
    const char* message;
  } cases[] = {
      {"(alpha", 1, "unmatched '('"},
      {"alpha)", 6, "unmatched ')'"},
      {"alpha \"beta", 7, "unterminated quote"},
      {"a /b", 3, "unterminated regular expression"},
      {"电影 /(/", 4, "invalid regular expression"},
      {"a |", 4, "the query ends"},
      {"| a", 1, "a word is expected"},
      {"a ()", 4, "a word is expected"},
      {"size:lots", 6, "size:"},
      {"size:1X", 6, "size:"},
      {"added:7", 7, "added:"},
      {"ext:", 5, "ext: needs"},
      {"site:", 6, "site: needs"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    CFindQuery::Error error;
    EXPECT_FALSE(CFindQuery::Parse(c.query, kNow, error));
    EXPECT_EQ(error.column, c.column);
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
  }
}

}  // namespace
}  // namespace orvane
