#include "document/watch_words.h"

#include <algorithm>

#include "catalog/code_page.h"

namespace orvane {
namespace {

std::size_t Utf8CharLength(const unsigned char* p, std::size_t remaining) {
  const unsigned char lead = p[0];
  std::size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  return length <= remaining ? length : 1;
}

// Glob match with backtracking to the last `*` only: linear in practice and
// never worse than pattern length times name length.
template <typename CharLength>
bool GlobMatch(std::string_view pattern, std::string_view name, CharLength charLength) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starN = 0;
  auto length = [&](std::size_t at) {
    return charLength(reinterpret_cast<const unsigned char*>(name.data()) + at, name.size() - at);
  };
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += length(n);
      continue;
    }
    const std::size_t charSize = length(n);
    if (p < pattern.size() && pattern.substr(p, charSize) == name.substr(n, charSize)) {
      p += charSize;
      n += charSize;
      continue;
    }
    if (starP == std::string_view::npos) return false;
    p = starP;
    starN += length(starN);
    n = starN;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsBlank(std::string_view word) {
  return word.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

std::string_view LastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

CWatchWords::CWatchWords(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (IsBlank(word)) continue;
    if (word.find_first_of("*?") == std::string::npos) {
      keywords_.emplace_back(FoldKeyword(word));
      continue;
    }
    std::string folded;
    if (IsValidUtf8(word)) {
      FoldUtf8(word, folded);
      patterns_.push_back(folded);
      const std::string gbk = Utf8ToCp936(word);
      // A '?' that was not in the word stands for a character the code page
      // lacks: that form could match names the user never meant.
      if (gbk != word &&
          std::count(gbk.begin(), gbk.end(), '?') == std::count(word.begin(), word.end(), '?')) {
        FoldCp936(gbk, folded);
        patterns_.push_back(folded);
      }
    } else {
      FoldCp936(word, folded);
      patterns_.push_back(folded);
    }
  }
}

bool CWatchWords::Matches(std::string_view path) {
  const std::string_view name = LastPathComponent(path);
  for (CNameMatcher& keyword : keywords_) {
    if (keyword.Contains(name)) return true;
  }
  if (patterns_.empty()) return false;
  const bool utf8 = IsValidUtf8(name);
  std::string folded;
  if (utf8) {
    FoldUtf8(name, folded);
  } else {
    FoldCp936(name, folded);
  }
  for (const std::string& pattern : patterns_) {
    const bool hit = utf8 ? GlobMatch(pattern, folded, Utf8CharLength)
                          : GlobMatch(pattern, folded, Cp936CharLength);
    if (hit) return true;
  }
  return false;
}

std::size_t CWatchWords::CountMatches(const JournalRecord& record) {
  if (Empty()) return 0;
  std::size_t count = 0;
  for (const JournalEntry& entry : record.entries) {
    if (entry.kind == JournalEntry::Kind::kAdded && Matches(entry.path)) ++count;
  }
  return count;
}

}  // namespace orvane
