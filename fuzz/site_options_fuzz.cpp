// Reads arbitrary bytes as sites.opt and as a site's charset record. What
// the readers accept must survive the writers unchanged; what they refuse
// leaves no record behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "catalog/site_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvane;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const SiteOptionsRead read = DecodeSiteOptions(bytes);
  if (!read.ok() && !read.list.sites.empty()) std::abort();
  if (read.ok()) {
    const SiteOptionsRead again = DecodeSiteOptions(EncodeSiteOptions(read.list));
    if (!again.ok() || again.list.sites != read.list.sites) std::abort();
  }
  if (const std::optional<CharsetDecision> decision = DecodeCharsetDecision(bytes)) {
    if (DecodeCharsetDecision(EncodeCharsetDecision(*decision)) != decision) std::abort();
  }
  return 0;
}
