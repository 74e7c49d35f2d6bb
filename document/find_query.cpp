#include "document/find_query.h"

#include <re2/re2.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "document/search_fold.h"

namespace orvane {

struct CFindQuery::Node {
  enum class Kind {
    kAnd,
    kOr,
    kNot,
    kWord,
    kGlob,
    kRegex,
    kExt,
    kSize,
    kDir,
    kFile,
    kNew,
    kSite,
    kPath,
    kJournal,
  };
  explicit Node(Kind k) : kind(k) {}
  Kind kind;
  std::vector<std::unique_ptr<Node>> children;
  std::string text;
  std::vector<std::string> exts;
  std::uint64_t low = 0;
  std::uint64_t high = std::numeric_limits<std::uint64_t>::max();
  std::unique_ptr<re2::RE2> regex;
  FindSubject::Journal journal = FindSubject::Journal::kAdded;
  std::int64_t after = std::numeric_limits<std::int64_t>::min();
  std::int64_t before = std::numeric_limits<std::int64_t>::max();
  // kSite: the answer for the site texts last seen.
  mutable bool siteKnown = false;
  mutable std::string siteSeen;
  mutable bool siteMatches = false;
};

namespace {

using Node = CFindQuery::Node;
using Kind = Node::Kind;

std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  std::size_t length = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  return std::min(length, text.size() - at);
}

// Calls `each` with every text of joined search texts; stops at true.
template <typename F>
bool AnyText(std::string_view texts, F&& each) {
  for (;;) {
    const std::size_t cut = texts.find(kTextSeparator);
    if (each(texts.substr(0, cut))) return true;
    if (cut == std::string_view::npos) return false;
    texts.remove_prefix(cut + 1);
  }
}

// The non-ASCII characters of a pattern folded, the ASCII ones left alone:
// RE2 folds ASCII case itself, and "\W" or "\D" must stay what they are.
std::string FoldPattern(std::string_view pattern) {
  std::string out;
  std::size_t i = 0;
  while (i < pattern.size()) {
    std::size_t j = i;
    while (j < pattern.size() && static_cast<unsigned char>(pattern[j]) < 0x80) ++j;
    out.append(pattern.substr(i, j - i));
    i = j;
    while (j < pattern.size() && static_cast<unsigned char>(pattern[j]) >= 0x80) ++j;
    AppendSearchFold(pattern.substr(i, j - i), out);
    i = j;
  }
  return out;
}

struct Token {
  enum class Type { kEnd, kOpen, kClose, kOr, kNot, kWord, kPhrase, kRegex, kFilter };
  Type type = Type::kEnd;
  std::size_t at = 0;  // byte offset in the query
  std::string text;    // word, phrase, regex, or the filter's value
  std::string name;    // the filter's name
};

constexpr std::string_view kFilters[] = {"ext",  "size", "dir",   "file",    "new",
                                         "site", "path", "added", "removed", "changed"};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class Parser {
 public:
  Parser(std::string_view text, std::int64_t now, CFindQuery::Error& error)
      : text_(text), now_(now), error_(error) {}

  bool Tokenize() {
    std::size_t i = 0;
    const std::size_t n = text_.size();
    while (true) {
      while (i < n && IsSpace(text_[i])) ++i;
      Token token;
      token.at = i;
      if (i == n) {
        tokens_.push_back(token);
        return true;
      }
      const char c = text_[i];
      if (c == '(' || c == ')' || c == '|') {
        token.type = c == '('   ? Token::Type::kOpen
                     : c == ')' ? Token::Type::kClose
                                : Token::Type::kOr;
        ++i;
      } else if (c == '-' && i + 1 < n && !IsSpace(text_[i + 1])) {
        token.type = Token::Type::kNot;
        ++i;
      } else if (c == '"') {
        token.type = Token::Type::kPhrase;
        if (!Quoted(i, token.text, i)) return false;
      } else if (c == '/') {
        token.type = Token::Type::kRegex;
        std::size_t j = i + 1;
        while (j < n && text_[j] != '/') j += text_[j] == '\\' && j + 1 < n ? 2 : 1;
        if (j >= n) return Fail(i, "unterminated regular expression");
        token.text = std::string(text_.substr(i + 1, j - i - 1));
        i = j + 1;
      } else {
        std::size_t j = i;
        while (j < n && !IsSpace(text_[j]) && text_[j] != '(' && text_[j] != ')' &&
               text_[j] != '|' && text_[j] != '"') {
          ++j;
        }
        const std::string_view word = text_.substr(i, j - i);
        const std::size_t colon = word.find(':');
        const std::string name =
            colon == std::string_view::npos ? std::string() : SearchFold(word.substr(0, colon));
        if (colon != std::string_view::npos &&
            std::find(std::begin(kFilters), std::end(kFilters), name) != std::end(kFilters)) {
          token.type = Token::Type::kFilter;
          token.name = name;
          token.text = std::string(word.substr(colon + 1));
          if (token.text.empty() && j < n && text_[j] == '"') {
            if (!Quoted(j, token.text, i)) return false;
          } else {
            i = j;
          }
        } else {
          token.type = Token::Type::kWord;
          token.text = std::string(word);
          i = j;
        }
      }
      tokens_.push_back(std::move(token));
    }
  }

  std::unique_ptr<Node> Query() {
    if (tokens_.front().type == Token::Type::kEnd) return nullptr;
    auto root = Or();
    if (!root) return nullptr;
    if (Peek().type == Token::Type::kClose) {
      Fail(Peek().at, "unmatched ')'");
      return nullptr;
    }
    return root;
  }

  bool failed() const { return failed_; }

 private:
  // The quoted text starting at the quote at `at`; `next` goes past it.
  bool Quoted(std::size_t at, std::string& out, std::size_t& next) {
    const std::size_t close = text_.find('"', at + 1);
    if (close == std::string_view::npos) return Fail(at, "unterminated quote");
    out = std::string(text_.substr(at + 1, close - at - 1));
    next = close + 1;
    return true;
  }

  bool Fail(std::size_t at, std::string message) {
    if (!failed_) {
      failed_ = true;
      std::size_t column = 1;
      for (std::size_t i = 0; i < at && i < text_.size(); i += Utf8Length(text_, i)) ++column;
      error_.column = column;
      error_.message = std::move(message);
    }
    return false;
  }

  const Token& Peek() const { return tokens_[pos_]; }

  std::unique_ptr<Node> Or() {
    auto first = And();
    if (!first) return nullptr;
    if (Peek().type != Token::Type::kOr) return first;
    auto node = std::make_unique<Node>(Kind::kOr);
    node->children.push_back(std::move(first));
    while (Peek().type == Token::Type::kOr) {
      ++pos_;
      auto next = And();
      if (!next) return nullptr;
      node->children.push_back(std::move(next));
    }
    return node;
  }

  std::unique_ptr<Node> And() {
    std::vector<std::unique_ptr<Node>> parts;
    while (Peek().type != Token::Type::kEnd && Peek().type != Token::Type::kClose &&
           Peek().type != Token::Type::kOr) {
      auto part = Unary();
      if (!part) return nullptr;
      parts.push_back(std::move(part));
    }
    if (parts.empty()) {
      Fail(Peek().at, Peek().type == Token::Type::kEnd ? "the query ends where a word is expected"
                                                       : "a word is expected here");
      return nullptr;
    }
    if (parts.size() == 1) return std::move(parts.front());
    auto node = std::make_unique<Node>(Kind::kAnd);
    node->children = std::move(parts);
    return node;
  }

  std::unique_ptr<Node> Unary() {
    const Token& token = tokens_[pos_];
    switch (token.type) {
      case Token::Type::kNot: {
        ++pos_;
        const Token::Type next = Peek().type;
        if (next == Token::Type::kEnd || next == Token::Type::kClose || next == Token::Type::kOr) {
          Fail(token.at, "'-' needs something to exclude");
          return nullptr;
        }
        auto child = Unary();
        if (!child) return nullptr;
        auto node = std::make_unique<Node>(Kind::kNot);
        node->children.push_back(std::move(child));
        return node;
      }
      case Token::Type::kOpen: {
        ++pos_;
        auto inner = Or();
        if (!inner) return nullptr;
        if (Peek().type != Token::Type::kClose) {
          Fail(token.at, "unmatched '('");
          return nullptr;
        }
        ++pos_;
        return inner;
      }
      default:
        ++pos_;
        return Term(token);
    }
  }

  std::unique_ptr<Node> Word(std::string_view text, bool literal) {
    std::string folded = SearchFold(text);
    const bool glob = !literal && folded.find_first_of("*?") != std::string::npos;
    auto node = std::make_unique<Node>(glob ? Kind::kGlob : Kind::kWord);
    node->text = std::move(folded);
    return node;
  }

  std::unique_ptr<Node> Term(const Token& token) {
    switch (token.type) {
      case Token::Type::kWord:
        return Word(token.text, false);
      case Token::Type::kPhrase:
        if (token.text.empty()) {
          Fail(token.at, "empty quotes");
          return nullptr;
        }
        return Word(token.text, true);
      case Token::Type::kRegex: {
        auto node = std::make_unique<Node>(Kind::kRegex);
        re2::RE2::Options options;
        options.set_case_sensitive(false);
        options.set_log_errors(false);
        node->regex = std::make_unique<re2::RE2>(FoldPattern(token.text), options);
        if (!node->regex->ok()) {
          Fail(token.at, "invalid regular expression: " + node->regex->error());
          return nullptr;
        }
        return node;
      }
      case Token::Type::kFilter:
        return Filter(token);
      default:
        Fail(token.at, "a word is expected here");
        return nullptr;
    }
  }

  // A number with an optional unit of k, M, G or T (powers of 1024, any
  // case, an optional "B" after it); fractions allowed ("1.5G").
  static bool ParseSize(std::string_view text, std::uint64_t& value) {
    if (text.empty()) return false;
    std::size_t digits = 0;
    while (digits < text.size() &&
           ((text[digits] >= '0' && text[digits] <= '9') || text[digits] == '.')) {
      ++digits;
    }
    if (digits == 0) return false;
    double number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + digits, number);
    if (ec != std::errc() || end != text.data() + digits) return false;
    std::string_view unit = text.substr(digits);
    if (!unit.empty() && (unit.back() == 'b' || unit.back() == 'B')) unit.remove_suffix(1);
    double scale = 1;
    if (unit.size() == 1) {
      switch (unit[0] | 0x20) {
        case 'k':
          scale = 1024.0;
          break;
        case 'm':
          scale = 1024.0 * 1024;
          break;
        case 'g':
          scale = 1024.0 * 1024 * 1024;
          break;
        case 't':
          scale = 1024.0 * 1024 * 1024 * 1024;
          break;
        default:
          return false;
      }
    } else if (!unit.empty()) {
      return false;
    }
    const double bytes = number * scale;
    if (bytes >= 1.8e19) return false;
    value = static_cast<std::uint64_t>(bytes);
    return true;
  }

  static bool ParseAge(std::string_view text, std::int64_t& seconds) {
    if (text.size() < 2) return false;
    std::int64_t scale = 0;
    switch (text.back()) {
      case 's':
        scale = 1;
        break;
      case 'm':
        scale = 60;
        break;
      case 'h':
        scale = 3600;
        break;
      case 'd':
        scale = 86400;
        break;
      case 'w':
        scale = 7 * 86400;
        break;
      default:
        return false;
    }
    std::int64_t number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size() - 1, number);
    if (ec != std::errc() || end != text.data() + text.size() - 1 || number < 0 ||
        number > 1'000'000'000) {
      return false;
    }
    seconds = number * scale;
    return true;
  }

  // "<", "<=", ">", ">=" or nothing at the start of `text`, removed.
  static std::string_view Comparison(std::string_view& text) {
    for (const std::string_view op : {"<=", ">=", "<", ">"}) {
      if (text.substr(0, op.size()) == op) {
        text.remove_prefix(op.size());
        return op;
      }
    }
    return {};
  }

  std::unique_ptr<Node> Filter(const Token& token) {
    const std::string& name = token.name;
    std::string_view value = token.text;
    // Where the value starts, for errors about it.
    const std::size_t valueAt = token.at + name.size() + 1;
    if (name == "dir" || name == "file" || name == "new") {
      auto node = std::make_unique<Node>(name == "dir"    ? Kind::kDir
                                         : name == "file" ? Kind::kFile
                                                          : Kind::kNew);
      if (value.empty()) return node;
      auto both = std::make_unique<Node>(Kind::kAnd);
      both->children.push_back(std::move(node));
      both->children.push_back(Word(value, false));
      return both;
    }
    if (value.empty()) {
      Fail(valueAt, name + ": needs a value");
      return nullptr;
    }
    if (name == "ext") {
      auto node = std::make_unique<Node>(Kind::kExt);
      std::size_t from = 0;
      while (from <= value.size()) {
        std::size_t comma = value.find(',', from);
        if (comma == std::string_view::npos) comma = value.size();
        std::string_view ext = value.substr(from, comma - from);
        if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
        if (!ext.empty()) node->exts.push_back(SearchFold(ext));
        from = comma + 1;
      }
      if (node->exts.empty()) {
        Fail(valueAt, "ext: needs extensions");
        return nullptr;
      }
      return node;
    }
    if (name == "site" || name == "path") {
      auto node = std::make_unique<Node>(name == "site" ? Kind::kSite : Kind::kPath);
      node->text = SearchFold(value);
      return node;
    }
    if (name == "size") {
      auto node = std::make_unique<Node>(Kind::kSize);
      const std::size_t dots = value.find("..");
      std::uint64_t number = 0;
      if (dots != std::string_view::npos) {
        const std::string_view low = value.substr(0, dots);
        const std::string_view high = value.substr(dots + 2);
        if ((low.empty() && high.empty()) || (!low.empty() && !ParseSize(low, node->low)) ||
            (!high.empty() && !ParseSize(high, node->high))) {
          Fail(valueAt, "size: needs N..M with sizes such as 10M or 2G");
          return nullptr;
        }
        return node;
      }
      const std::string_view op = Comparison(value);
      if (!ParseSize(value, number)) {
        Fail(valueAt, "size: needs a size such as 4k, >1G or 10M..2G");
        return nullptr;
      }
      if (op == "<") {
        if (number == 0) node->low = 1;  // nothing is below 0: an empty range
        node->high = number ? number - 1 : 0;
      } else if (op == "<=") {
        node->high = number;
      } else if (op == ">") {
        node->low = number + 1;
      } else if (op == ">=") {
        node->low = number;
      } else {
        node->low = node->high = number;
      }
      return node;
    }
    // added:, removed:, changed:
    auto node = std::make_unique<Node>(Kind::kJournal);
    node->journal = name == "added"     ? FindSubject::Journal::kAdded
                    : name == "removed" ? FindSubject::Journal::kRemoved
                                        : FindSubject::Journal::kChanged;
    const std::string_view op = Comparison(value);
    std::int64_t age = 0;
    if (!ParseAge(value, age)) {
      Fail(valueAt, name + ": needs an age such as <7d (s, m, h, d or w)");
      return nullptr;
    }
    const std::int64_t at = now_ - age;
    if (op == ">") {
      node->before = at - 1;
    } else if (op == ">=") {
      node->before = at;
    } else if (op == "<=") {
      node->after = at;
    } else {
      node->after = at + 1;
    }
    return node;
  }

  std::string_view text_;
  std::int64_t now_;
  CFindQuery::Error& error_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

bool Eval(const Node& node, FindSubject& subject) {
  switch (node.kind) {
    case Kind::kAnd:
      for (const auto& child : node.children) {
        if (!Eval(*child, subject)) return false;
      }
      return true;
    case Kind::kOr:
      for (const auto& child : node.children) {
        if (Eval(*child, subject)) return true;
      }
      return false;
    case Kind::kNot:
      return !Eval(*node.children.front(), subject);
    case Kind::kWord:
      return subject.Texts().find(node.text) != std::string_view::npos;
    case Kind::kGlob:
      return AnyText(subject.Texts(), [&](std::string_view t) { return GlobMatch(node.text, t); });
    case Kind::kRegex:
      return AnyText(subject.Texts(),
                     [&](std::string_view t) { return re2::RE2::PartialMatch(t, *node.regex); });
    case Kind::kExt:
      if (subject.IsDir()) return false;
      return AnyText(subject.Texts(), [&](std::string_view t) {
        const std::size_t dot = t.rfind('.');
        if (dot == std::string_view::npos || dot == 0) return false;
        const std::string_view ext = t.substr(dot + 1);
        return std::find(node.exts.begin(), node.exts.end(), ext) != node.exts.end();
      });
    case Kind::kSize: {
      if (subject.IsDir()) return false;
      const std::uint64_t size = subject.Size();
      return size >= node.low && size <= node.high;
    }
    case Kind::kDir:
      return subject.IsDir();
    case Kind::kFile:
      return !subject.IsDir();
    case Kind::kNew:
      return subject.IsNew();
    case Kind::kSite: {
      // Every entry of a site has the same site texts: tested once a site.
      const std::string_view texts = subject.SiteTexts();
      if (!node.siteKnown || texts != node.siteSeen) {
        node.siteKnown = true;
        node.siteSeen.assign(texts);
        node.siteMatches =
            AnyText(texts, [&](std::string_view t) { return GlobMatch(node.text, t); });
      }
      return node.siteMatches;
    }
    case Kind::kPath:
      return GlobMatch(node.text, subject.Path());
    case Kind::kJournal: {
      const std::int64_t time = subject.JournalTime(node.journal);
      return time != 0 && time >= node.after && time <= node.before;
    }
  }
  return false;
}

// Whether the node or one below it is a journal filter; only removed:
// with `removedOnly`.
bool MentionsJournal(const Node& node, bool removedOnly) {
  if (node.kind == Kind::kJournal &&
      (!removedOnly || node.journal == FindSubject::Journal::kRemoved)) {
    return true;
  }
  return std::any_of(node.children.begin(), node.children.end(),
                     [&](const auto& child) { return MentionsJournal(*child, removedOnly); });
}

// The longest run of a glob without wildcards.
std::string LongestLiteral(std::string_view glob) {
  std::string_view best;
  std::size_t from = 0;
  while (from < glob.size()) {
    std::size_t cut = glob.find_first_of("*?", from);
    if (cut == std::string_view::npos) cut = glob.size();
    if (cut - from > best.size()) best = glob.substr(from, cut - from);
    from = cut + 1;
  }
  return std::string(best);
}

// Literals of which every entry the node holds for contains at least one;
// empty when there are none to say.
std::vector<std::string> Required(const Node& node) {
  switch (node.kind) {
    case Kind::kWord:
      return {node.text};
    case Kind::kGlob: {
      std::string literal = LongestLiteral(node.text);
      if (literal.empty()) return {};
      return {std::move(literal)};
    }
    case Kind::kExt: {
      std::vector<std::string> dotted;
      for (const std::string& ext : node.exts) dotted.push_back("." + ext);
      return dotted;
    }
    case Kind::kOr: {
      std::vector<std::string> any;
      for (const auto& child : node.children) {
        std::vector<std::string> part = Required(*child);
        if (part.empty()) return {};
        any.insert(any.end(), part.begin(), part.end());
      }
      return any;
    }
    case Kind::kAnd: {
      // The most telling child: the one whose shortest literal is longest,
      // then the one with fewer literals.
      std::vector<std::string> best;
      std::size_t bestShortest = 0;
      for (const auto& child : node.children) {
        std::vector<std::string> part = Required(*child);
        if (part.empty()) continue;
        std::size_t shortest = part.front().size();
        for (const std::string& literal : part) shortest = std::min(shortest, literal.size());
        if (best.empty() || shortest > bestShortest ||
            (shortest == bestShortest && part.size() < best.size())) {
          best = std::move(part);
          bestShortest = shortest;
        }
      }
      return best;
    }
    default:
      return {};
  }
}

}  // namespace

std::string CFindQuery::Error::Text() const {
  return "column " + std::to_string(column) + ": " + message;
}

CFindQuery::~CFindQuery() = default;

std::unique_ptr<CFindQuery> CFindQuery::Parse(std::string_view text, std::int64_t now,
                                              Error& error) {
  Parser parser(text, now, error);
  if (!parser.Tokenize()) return nullptr;
  std::unique_ptr<CFindQuery> query(new CFindQuery);
  query->root_ = parser.Query();
  if (parser.failed()) return nullptr;
  if (query->root_) {
    query->wantsRemoved_ = MentionsJournal(*query->root_, true);
    query->usesJournal_ = MentionsJournal(*query->root_, false);
    query->required_ = Required(*query->root_);
    query->singleWord_ = query->root_->kind == Kind::kWord;
  }
  return query;
}

bool CFindQuery::Matches(FindSubject& subject) const { return root_ && Eval(*root_, subject); }

bool CFindQuery::SiteMayMatch(std::string_view siteTexts) const {
  if (!root_) return false;
  const auto rulesOut = [&](const Node& node) {
    return node.kind == Kind::kSite &&
           !AnyText(siteTexts, [&](std::string_view t) { return GlobMatch(node.text, t); });
  };
  if (rulesOut(*root_)) return false;
  if (root_->kind == Kind::kAnd) {
    for (const auto& child : root_->children) {
      if (rulesOut(*child)) return false;
    }
  }
  return true;
}

bool GlobMatch(std::string_view glob, std::string_view text) {
  if (glob.find('?') == std::string_view::npos) {
    // Stars only (most globs typed: "*.iso", "/pub/*"): the part before the
    // first star starts the text, the part after the last ends it, and the
    // parts between follow in order, each taken where it first occurs. In
    // valid UTF-8 a match of bytes is a match of characters.
    const std::size_t firstStar = glob.find('*');
    if (firstStar == std::string_view::npos) return glob == text;
    const std::size_t lastStar = glob.rfind('*');
    const std::string_view head = glob.substr(0, firstStar);
    const std::string_view tail = glob.substr(lastStar + 1);
    if (text.size() < head.size() + tail.size() || !text.starts_with(head) ||
        !text.ends_with(tail)) {
      return false;
    }
    std::size_t at = head.size();
    const std::size_t end = text.size() - tail.size();
    std::size_t from = firstStar + 1;
    while (from < lastStar) {
      std::size_t cut = glob.find('*', from);
      const std::string_view part = glob.substr(from, cut - from);
      from = cut + 1;
      if (part.empty()) continue;
      const std::size_t found = text.substr(0, end).find(part, at);
      if (found == std::string_view::npos) return false;
      at = found + part.size();
    }
    return true;
  }
  std::size_t g = 0;
  std::size_t t = 0;
  std::size_t starGlob = std::string_view::npos;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (g < glob.size() && glob[g] == '*') {
      starGlob = g++;
      starText = t;
    } else if (g < glob.size() && glob[g] == '?') {
      ++g;
      t += Utf8Length(text, t);
    } else if (g < glob.size() && glob[g] == text[t]) {
      ++g;
      ++t;
    } else if (starGlob != std::string_view::npos) {
      // The last star takes one more character and the rest is tried again.
      g = starGlob + 1;
      starText += Utf8Length(text, starText);
      t = starText;
    } else {
      return false;
    }
  }
  while (g < glob.size() && glob[g] == '*') ++g;
  return g == glob.size();
}

}  // namespace orvane
