// Reads arbitrary bytes as sites.opt and as a site's charset record. What
// the readers accept must survive the writers unchanged; what they refuse
// leaves no record behind; what they accept for a site's access is in the
// form the writer makes.
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
  for (const auto& [key, options] : read.list.sites) {
    const SiteAccess& access = options.access;
    if (NormalStartDirectory(access.startDir) != access.startDir) std::abort();
    if (!access.pin.empty() && !IsKeyFingerprint(access.pin)) std::abort();
    if (!access.keyFile.empty() && access.keyFile.front() != '/') std::abort();
  }
  if (read.ok()) {
    const SiteOptionsRead again = DecodeSiteOptions(EncodeSiteOptions(read.list));
    if (!again.ok() || again.list.sites != read.list.sites) std::abort();
  }
  if (const std::optional<CharsetDecision> decision = DecodeCharsetDecision(bytes)) {
    if (DecodeCharsetDecision(EncodeCharsetDecision(*decision)) != decision) std::abort();
  }
  return 0;
}
