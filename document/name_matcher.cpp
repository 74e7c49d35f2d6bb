#include "document/name_matcher.h"

#include <cstdint>
#include <cstring>

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"

namespace orvane {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Whether every byte starts a whole code page character: no lone lead byte,
// no 0xFF. A keyword with such bytes cannot be found in any code page name.
bool IsWholeCp936(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    if (p[i] == 0xFF) return false;
    const std::size_t length = Cp936CharLength(p + i, n - i);
    if (p[i] >= 0x81 && length != 2) return false;
    i += length;
  }
  return true;
}

// Lower-cases the ASCII prefix of `name` into `out` (which has room for the
// whole name) and returns its length: name.size() when the name is ASCII.
// Eight bytes at a time: a byte gets 0x20 added when it is >= 'A' and not
// > 'Z'; with no high bit set the additions cannot carry.
std::size_t FoldAsciiPrefix(std::string_view name, char* out) {
  const std::size_t n = name.size();
  const char* in = name.data();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, in + i, sizeof word);
    if (word & kHighBits) break;
    const std::uint64_t atLeastA = word + 0x3F3F3F3F3F3F3F3FULL;
    const std::uint64_t aboveZ = word + 0x2525252525252525ULL;
    word |= (atLeastA & ~aboveZ & kHighBits) >> 2;
    std::memcpy(out + i, &word, sizeof word);
  }
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c >= 0x80) break;
    out[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  return i;
}

}  // namespace

std::string FoldKeyword(std::string_view typed) {
  std::string folded;
  if (IsValidUtf8(typed)) {
    FoldUtf8(typed, folded);
  } else {
    FoldCp936(typed, folded);
  }
  return folded;
}

CNameMatcher::CNameMatcher(std::string_view keyword) {
  const std::string folded = FoldKeyword(keyword);
  newKeyword_ = folded == kNewKeyword;
  asciiKeyword_ = IsAscii(folded);
  if (asciiKeyword_) {
    cp936Keyword_ = folded;
    utf8Keyword_ = folded;
    cp936Usable_ = utf8Usable_ = true;
  } else if (IsValidUtf8(folded)) {
    utf8Keyword_ = folded;
    utf8Usable_ = true;
    // Characters the code page lacks come back as '?', which the round trip
    // catches: such a keyword is in no code page name.
    const std::string encoded = Utf8ToCp936(folded);
    if (Cp936ToUtf8(encoded) == folded) {
      FoldCp936(encoded, cp936Keyword_);
      cp936Usable_ = true;
    }
  } else {
    cp936Keyword_ = folded;
    cp936Usable_ = IsWholeCp936(folded);
    if (cp936Usable_) {
      const std::string decoded = Cp936ToUtf8(folded);
      if (Utf8ToCp936(decoded) == folded) {
        FoldUtf8(decoded, utf8Keyword_);
        utf8Usable_ = true;
      }
    }
  }
}

bool CNameMatcher::MatchName(const CFTPDir& dir) {
  if (newKeyword_) return dir.readState.load(std::memory_order_relaxed) != 0;
  return Contains(dir.name());
}

bool CNameMatcher::MatchName(const CFTPFile& file) {
  if (newKeyword_) return file.readState.load(std::memory_order_relaxed) != 0;
  return Contains(file.name());
}

bool CNameMatcher::Contains(std::string_view name) {
  if (utf8Keyword_.empty() && cp936Keyword_.empty()) return true;
  const std::size_t n = name.size();
  // The buffer only grows, so after the first long names no call allocates.
  if (fold_.size() < n) fold_.resize(n < 64 ? 64 : 2 * n);
  const std::size_t asciiLength = FoldAsciiPrefix(name, fold_.data());
  if (asciiLength == n) {
    // Both readings of an ASCII name agree, and a keyword with other
    // characters cannot be in it.
    return asciiKeyword_ &&
           std::string_view(fold_.data(), n).find(cp936Keyword_) != std::string_view::npos;
  }
  if (IsValidUtf8(name.substr(asciiLength))) return ContainsUtf8(name);
  return ContainsCp936(name);
}

bool CNameMatcher::ContainsUtf8(std::string_view name) {
  if (!utf8Usable_) return false;
  FoldUtf8(name, fold_);
  // A UTF-8 keyword starts with a leading byte and ends with a whole
  // character, so every occurrence lies on character boundaries.
  return std::string_view(fold_.data(), name.size()).find(utf8Keyword_) != std::string_view::npos;
}

bool CNameMatcher::ContainsCp936(std::string_view name) {
  if (!cp936Usable_) return false;
  FoldCp936(name, fold_);
  const std::string_view folded(fold_.data(), name.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(folded.data());
  const std::size_t n = folded.size();
  // Folding keeps character boundaries, so the folded text is walked in
  // step with each candidate: an occurrence counts only where a character
  // starts. The keyword is whole characters, so an occurrence that starts on
  // a boundary never takes in a byte that is not a valid character.
  std::size_t boundary = 0;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = folded.find(cp936Keyword_, from);
    if (at == std::string_view::npos) return false;
    while (boundary < at) boundary += Cp936CharLength(bytes + boundary, n - boundary);
    if (boundary == at) return true;
    from = boundary;
  }
}

}  // namespace orvane
