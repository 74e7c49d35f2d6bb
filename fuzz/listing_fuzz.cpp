// Feeds arbitrary bytes, as a server's data connection would, to the LIST and
// MLSD line parsers and to the splitter, and checks what the crawler relies
// on: every entry names exactly one entry, and the split does not depend on
// how the bytes were chunked.
//
// Input: the first byte picks the format (bit 0) and a chunk size (the other
// bits); the rest is the listing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "update/listing_parser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckEntry(const orvane::ListingEntry& e) {
  Check(!e.name.empty());
  Check(e.name != "." && e.name != "..");
  Check(e.name.find_first_of(std::string_view("/\r\n\0", 4)) == std::string::npos);
  Check(!(e.isLink && e.isDirectory));
}

struct Collected {
  std::string name;
  bool isDirectory;
  bool isLink;
  std::uint64_t size;
  bool operator==(const Collected&) const = default;
};

std::vector<Collected> Split(std::string_view bytes, std::size_t chunk,
                             orvane::ListingFormat format) {
  std::vector<Collected> out;
  orvane::CListingSplitter splitter(format);
  auto collect = [&out](const orvane::ListingEntry& e) {
    CheckEntry(e);
    out.push_back({e.name, e.isDirectory, e.isLink, e.size});
  };
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    splitter.Feed(bytes.data() + at, std::min(chunk, bytes.size() - at), collect);
  }
  splitter.Finish(collect);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvane;
  if (size == 0) return 0;
  const auto format = (data[0] & 1) != 0 ? ListingFormat::kMlsd : ListingFormat::kList;
  const std::size_t chunk = 1 + (data[0] >> 1);
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  // Every line through both parsers; the same line with a CR gives the same.
  std::size_t start = 0;
  std::vector<Collected> lineByLine;
  std::size_t unusable = 0;
  while (start <= bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    ListingEntry list, mlsd;
    const LineResult listResult = ParseListLine(line, list);
    const LineResult mlsdResult = ParseMlsdLine(line, mlsd);
    if (listResult == LineResult::kEntry) CheckEntry(list);
    if (mlsdResult == LineResult::kUnusable && format == ListingFormat::kMlsd) ++unusable;
    if (mlsdResult == LineResult::kEntry) {
      CheckEntry(mlsd);
      if (format == ListingFormat::kMlsd) {
        lineByLine.push_back({mlsd.name, mlsd.isDirectory, mlsd.isLink, mlsd.size});
      }
    }
    if (line.empty() || line.back() != '\r') {
      const std::string withCr = std::string(line) + '\r';
      ListingEntry again;
      Check(ParseListLine(withCr, again) == listResult);
      if (listResult == LineResult::kEntry)
        Check(again.name == list.name && again.size == list.size);
      Check(ParseMlsdLine(withCr, again) == mlsdResult);
      if (mlsdResult == LineResult::kEntry)
        Check(again.name == mlsd.name && again.unique == mlsd.unique);
    }
    start = end + 1;
  }

  // Chunking never changes the result. MLSD splits like the lines, except
  // that an unusable line (the fragment of a broken name) may take the entry
  // before it along.
  const std::vector<Collected> whole = Split(bytes, bytes.size() + 1, format);
  Check(Split(bytes, chunk, format) == whole);
  if (format == ListingFormat::kMlsd) {
    Check(whole.size() <= lineByLine.size() && lineByLine.size() - whole.size() <= unusable);
    std::size_t next = 0;
    for (const Collected& entry : lineByLine) {
      if (next < whole.size() && whole[next] == entry) ++next;
    }
    Check(next == whole.size());
  }
  return 0;
}
