// The find query language, shared by the window's find bar and
// `orvane-cli find`.
//
//   query    := or
//   or       := and ( "|" and )*
//   and      := unary+                     every part must hold
//   unary    := "-" unary | "(" or ")" | term
//   term     := word | "\"" phrase "\"" | "/" regex "/" | filter
//   filter   := ext:A,B | size:RANGE | dir: | file: | new: | site:GLOB
//             | path:GLOB | added:AGE | removed:AGE | changed:AGE
//   RANGE    := [<|<=|>|>=]N | N..M | N.. | ..M     N: number with k, M, G, T (1024s)
//   AGE      := [<|<=|>|>=]N(s|m|h|d|w)           "<7d": less than 7 days ago
//
// A word matches a name that contains it; a word with "*" or "?" is a
// glob over the whole name. Both are matched in the folded search texts
// (document/search_fold.h), so case and Simplified/Traditional forms do
// not matter. A regex is RE2 syntax, matched case-insensitively against
// each folded text. A filter value may be quoted; "dir:x" is "dir: x".
// A name:value whose name is no filter is a word. site: matches the site's
// key or nickname, path: the entry's full decoded server path ("/pub/a").
// added: and changed: test the newest journal record that added or resized
// the entry; removed: lists entries that updates removed (ghosts), and only
// a query naming removed: lists them.
//
// A query that cannot be parsed gives an error naming its position (a
// character column from 1). An empty query matches nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// What the query asks of one entry; the index and a plain scan each
// provide it. Texts are search texts (document/search_fold.h).
class FindSubject {
 public:
  enum class Journal { kAdded, kRemoved, kChanged };
  virtual ~FindSubject() = default;
  // The name's search texts.
  virtual std::string_view Texts() = 0;
  virtual bool IsDir() = 0;
  virtual std::uint64_t Size() = 0;
  virtual bool IsNew() = 0;
  // Folded site key and nickname, separated by kTextSeparator.
  virtual std::string_view SiteTexts() = 0;
  // The folded decoded server path, "/a/b".
  virtual std::string_view Path() = 0;
  // Seconds since the epoch of the newest journal record of this kind for
  // the entry; 0 when there is none.
  virtual std::int64_t JournalTime(Journal kind) = 0;
};

class CFindQuery {
 public:
  struct Error {
    std::size_t column = 0;  // from 1
    std::string message;
    std::string Text() const;  // "column 4: unmatched ')'"
  };

  // `now`: the time added:/removed:/changed: count back from.
  static std::unique_ptr<CFindQuery> Parse(std::string_view text, std::int64_t now, Error& error);
  ~CFindQuery();

  bool Empty() const { return root_ == nullptr; }
  // Whether removed entries (journal ghosts) are to be tested.
  bool WantsRemoved() const { return wantsRemoved_; }
  // Whether any part asks the journal (added:, changed:, removed:).
  bool UsesJournal() const { return usesJournal_; }
  // Literals (folded) of which every hit's texts contain at least one, for
  // an index to narrow the candidates; empty when there are none.
  const std::vector<std::string>& RequiredLiterals() const { return required_; }
  // Whether the query can only hold for an entry of a site whose texts are
  // these: a site: filter at the top that no entry of it can pass. False
  // rules the site out.
  bool SiteMayMatch(std::string_view siteTexts) const;

  bool Matches(FindSubject& subject) const;
  // Whether the query is one word and nothing else: an entry whose texts
  // contain RequiredLiterals().front() matches, no more testing needed.
  bool IsSingleWord() const { return singleWord_; }

  struct Node;

 private:
  CFindQuery() = default;
  std::unique_ptr<Node> root_;
  bool wantsRemoved_ = false;
  bool usesJournal_ = false;
  bool singleWord_ = false;
  std::vector<std::string> required_;
};

// Whether UTF-8 `text` matches `glob` as a whole ("*": any run of
// characters, "?": one character; no escapes).
bool GlobMatch(std::string_view glob, std::string_view text);

}  // namespace orvane
