// The user's watch words: keywords or patterns that pick out, among the
// entries an update added, the ones the user is waiting for.
//
// A word without `*` or `?` is a keyword and matches as the search does
// (CNameMatcher: contained in the name, either encoding, case folded). A
// word with them is a pattern over the whole name: `*` any run of bytes,
// `?` one character (a double-byte code page character or a UTF-8
// sequence counts as one), ASCII letters compared without case. Only the
// entry's own name is tested, not the directories above it, so a watch
// word for "iso" does not light up every file below a directory "iso".
//
// Words arrive as the user typed them (UTF-8); blank words are dropped.
// A set serves one thread: its matchers reuse their buffers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/change_journal.h"
#include "document/name_matcher.h"

namespace orvane {

class CWatchWords {
 public:
  CWatchWords() = default;
  explicit CWatchWords(const std::vector<std::string>& words);

  bool Empty() const { return keywords_.empty() && patterns_.empty(); }

  // Whether any word matches the last component of `path` (a server path
  // "/a/b" or a bare name).
  bool Matches(std::string_view path);

  // The record's added entries that match a word. A first crawl's summary
  // record lists no entries and so counts none.
  std::size_t CountMatches(const JournalRecord& record);

 private:
  std::vector<CNameMatcher> keywords_;
  // Patterns folded to lower case, in UTF-8 and in code page 936 where the
  // word has such a form.
  std::vector<std::string> patterns_;
};

// The last component of a server path: "/a/b.iso" -> "b.iso".
std::string_view LastPathComponent(std::string_view path);

}  // namespace orvane
