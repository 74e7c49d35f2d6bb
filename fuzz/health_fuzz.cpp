// Reads arbitrary bytes as a site health record (health.txt). Whatever
// the reader accepts must survive the writer unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "catalog/site_health.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<orvane::SiteHealth> health = orvane::DecodeSiteHealth(bytes);
  if (!health) return 0;
  // What was accepted is written so that it reads back the same.
  if (orvane::DecodeSiteHealth(orvane::EncodeSiteHealth(*health)) != health) std::abort();
  return 0;
}
