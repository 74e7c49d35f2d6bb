// find: the find query language (document/find_query.h) over every stored
// catalog, answered from an index built as the catalogs are read.
//
// Plain output is one line per hit: the site's key, the size ("<DIR>" for
// a directory), the mark ("*" new, "-" removed by an update, " " neither)
// and the decoded server path, tab-separated and escaped for a terminal.
// Lines are written in large blocks, not one write per line. --json
// streams one array of entries with the members of `changes --json`
// ("path", "rawPath" when the bytes differ) straight to stdout, so memory
// stays flat however many hits there are.
#include <algorithm>
#include <charconv>
#include <ctime>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/name_charset.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "document/find_file.h"
#include "document/find_index.h"
#include "document/find_json.h"
#include "document/find_query.h"
#include "document/orvane_doc.h"

namespace orvane {

namespace {

// Output gathered into blocks of this size before each write.
constexpr std::size_t kBlock = 1 << 16;

struct Row {
  FindHit hit;
  std::uint64_t size = 0;
  std::string sortKey;
};

// Writes hits' plain lines. Hits come a directory at a time, so each
// directory's escaped path and each site's escaped key are made once and
// only the name is decoded and escaped per hit.
class LinePrinter {
 public:
  void Append(const FindHit& hit, std::string& out) {
    if (hit.site != site_) {
      site_ = hit.site;
      siteText_ = CliContext::Plain(hit.site->siteKey());
      charset_ = hit.site->NameCharsetInUse();
      dirKey_ = nullptr;
    }
    out += siteText_;
    out.push_back('\t');
    if (FindHitIsDir(hit) && !hit.ghost) {
      out += "<DIR>";
    } else {
      char digits[24];
      const auto end = std::to_chars(digits, digits + sizeof digits, FindHitSize(hit)).ptr;
      out.append(digits, end);
    }
    out.push_back('\t');
    out.push_back(hit.ghost ? '-' : FindHitIsNew(hit) ? '*' : ' ');
    out.push_back('\t');
    if (hit.ghost) {
      out += Shown(hit.ghost->path);
    } else {
      if (hit.stored) {
        // The find file keeps every name as shown here.
        const std::uint32_t parent = hit.stored->Parent(hit.entry);
        if (dirKey_ != hit.stored || parent != dirEntry_) {
          dirKey_ = hit.stored;
          dirEntry_ = parent;
          dirText_ =
              parent == CFindFile::kNoParent ? std::string() : hit.stored->TerminalPath(parent);
        }
        out += dirText_;
        out.push_back('/');
        out += hit.stored->TerminalName(hit.entry);
      } else {
        const CFTPDir* parent = hit.file ? hit.file->parent : hit.dir->parent;
        if (dirKey_ != parent) {
          dirKey_ = parent;
          dirText_ = !parent || !parent->parent ? std::string() : Shown(parent->GetPath());
        }
        const std::string_view name = hit.file ? hit.file->name() : hit.dir->name();
        out += dirText_;
        out.push_back('/');
        if (IsPlainAscii(name)) {
          out += name;
        } else {
          out += CliContext::Escaped(DecodeName(name, charset_, InvalidBytes::kEscape));
        }
      }
    }
    out.push_back('\n');
  }

 private:
  // Printable ASCII without "\\": shown and escaped as it is.
  static bool IsPlainAscii(std::string_view text) {
    for (const char c : text) {
      if (c < 0x20 || c >= 0x7F || c == '\\') return false;
    }
    return true;
  }
  std::string Shown(std::string_view rawPath) const {
    return CliContext::Escaped(FindShownPath(rawPath, charset_, InvalidBytes::kEscape));
  }

  const CFTPSite* site_ = nullptr;
  std::string siteText_;
  NameCharset charset_ = NameCharset::kGbk;
  const void* dirKey_ = nullptr;
  std::uint32_t dirEntry_ = 0;
  std::string dirText_;
};

}  // namespace

int RunFind(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"sort", "limit"}, {}, parsed, error)) {
    return context.UsageError("find", error);
  }
  if (parsed.positional.empty()) return context.UsageError("find", "give a QUERY");
  std::string sort;
  if (const std::string* value = parsed.Value("sort")) {
    sort = *value;
    if (sort != "name" && sort != "size" && sort != "site" && sort != "path") {
      return context.UsageError("find", "--sort takes name, size, site or path");
    }
  }
  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
  if (const std::string* value = parsed.Value("limit")) {
    if (!ParseNumber(*value, 0, limit, limit)) {
      return context.UsageError("find", "--limit takes a number");
    }
  }
  // The words of the command line are one query; text typed on a terminal
  // in another encoding is read as code page 936, as typed site texts are.
  std::string typed;
  for (const std::string& word : parsed.positional) {
    if (!typed.empty()) typed.push_back(' ');
    typed += word;
  }
  if (!IsValidUtf8(typed)) typed = DecodeName(typed, NameCharset::kGbk);
  CFindQuery::Error parseError;
  const std::unique_ptr<CFindQuery> query =
      CFindQuery::Parse(typed, static_cast<std::int64_t>(std::time(nullptr)), parseError);
  if (!query) return context.Fail(kExitUsage, "orvane-cli find: " + parseError.Text());

  // Sites whose find file is current are answered from it, their
  // catalogs never read.
  CFindIndex index;
  IndexEveryCatalog(context.doc, index, query.get());

  std::vector<Row> rows;
  std::uint64_t count = 0;
  std::string block;
  LinePrinter lines;
  bool firstJson = true;
  // Streamed, unless main must wrap it in the error of a damaged site list.
  std::ostream& out =
      context.json && context.host.loadErrorCount() == 0 ? context.StreamJson() : context.out;
  const auto flush = [&] {
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    block.clear();
  };
  const auto print = [&](const FindHit& hit) {
    if (context.json) {
      // Each entry through a writer of its own, opened as the outermost
      // array so that it is laid out as a whole document's element would be.
      JsonWriter json;
      WriteFindHit(json.BeginArray(), hit);
      if (firstJson) {
        block += json.Text();
      } else {
        block.push_back(',');
        block.append(json.Text(), 1);
      }
      firstJson = false;
    } else {
      lines.Append(hit, block);
    }
    if (block.size() >= kBlock) flush();
  };

  if (sort.empty()) {
    index.Find(*query, [&](const FindHit& hit) {
      if (count >= limit) return false;
      ++count;
      print(hit);
      return true;
    });
  } else {
    index.Find(*query, [&](const FindHit& hit) {
      Row row{hit, FindHitSize(hit), {}};
      if (sort == "name") {
        const std::string raw = FindHitRawPath(hit);
        row.sortKey = CliContext::ShownName(raw.substr(raw.rfind('/') + 1), hit.site);
      } else if (sort == "path") {
        row.sortKey = FindShownPath(FindHitRawPath(hit), hit.site->NameCharsetInUse());
      } else if (sort == "site") {
        row.sortKey = CliContext::Shown(hit.site->siteKey()) + '\n' +
                      FindShownPath(FindHitRawPath(hit), hit.site->NameCharsetInUse());
      }
      rows.push_back(std::move(row));
      return true;
    });
    const auto less = [&](const Row& a, const Row& b) {
      // Largest first: what a person sorting by size looks for.
      if (sort == "size") return a.size > b.size;
      return a.sortKey < b.sortKey;
    };
    if (limit < rows.size()) {
      std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(limit), rows.end(),
                        less);
      rows.resize(limit);
    } else {
      std::stable_sort(rows.begin(), rows.end(), less);
    }
    for (const Row& row : rows) {
      ++count;
      print(row.hit);
    }
  }
  if (context.json) block += firstJson ? "[]\n" : "\n]\n";
  flush();
  out.flush();
  return count ? kExitSuccess : kExitNothing;
}

}  // namespace orvane
