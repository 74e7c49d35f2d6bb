// Reads arbitrary bytes as orvane.conf. The settings read are always in
// their ranges, and a save of them over the same bytes reads back as the
// same settings and saves to the same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "document/user_settings.h"

namespace {

using namespace orvane;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const UserSettings settings = UserSettings::Parse(bytes);
  Check(settings == settings.Clamped());
  const std::string saved = settings.Format(bytes);
  Check(UserSettings::Parse(saved) == settings);
  Check(settings.Format(saved) == saved);
  return 0;
}
