// Feeds arbitrary bytes, as a server's reply to "LIST -R" would come, to
// CRecursiveListing, and checks what the crawler relies on: the result does
// not depend on how the bytes were chunked, every listing taken lies in the
// listed subtree under a directory that a section listed, holds only entries
// that name one entry each, and no directory is both taken and doubtful.
//
// Input: the first byte picks whether the reply ended complete (bit 0) and
// a chunk size (the other bits); the rest is the reply, for the directory
// "/base".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "update/recursive_listing.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Result {
  std::map<std::string, std::vector<std::string>> usable;
  std::set<std::string> doubtful;
  bool ambiguous;
  bool operator==(const Result&) const = default;
};

Result Split(std::string_view bytes, std::size_t chunk, bool complete) {
  orvane::CRecursiveListing listing("/base");
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    listing.Feed(bytes.substr(at, chunk));
  }
  listing.Finish(complete);
  std::unordered_map<std::string, std::vector<orvane::ListingEntry>> usable;
  std::unordered_set<std::string> doubtful;
  listing.TakeResults(usable, doubtful);
  Result result{{}, {doubtful.begin(), doubtful.end()}, listing.ambiguous()};
  for (const auto& [path, entries] : usable) {
    std::vector<std::string>& names = result.usable[path];
    for (const orvane::ListingEntry& e : entries) {
      Check(!e.name.empty() && e.name != "." && e.name != "..");
      Check(e.name.find_first_of(std::string_view("/\r\n\0", 4)) == std::string::npos);
      Check(!e.isLink);
      names.push_back(e.name + (e.isDirectory ? "/" : ""));
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool complete = (data[0] & 1) != 0;
  const std::size_t chunk = 1 + (data[0] >> 1);
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const Result whole = Split(bytes, bytes.size() + 1, complete);
  Check(Split(bytes, chunk, complete) == whole);
  if (whole.ambiguous) Check(whole.usable.empty() && whole.doubtful.empty());
  for (const auto& [path, names] : whole.usable) {
    Check(!whole.doubtful.contains(path));
    Check(orvane::RecursiveListingCovers(path));
    if (path == "/base") continue;
    Check(path.starts_with("/base/"));
    const std::string parent = path.substr(0, path.rfind('/'));
    Check(whole.usable.contains(parent) || whole.doubtful.contains(parent));
  }
  return 0;
}
