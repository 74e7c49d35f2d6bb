// A loopback port that was free a moment ago, for servers that cannot
// report the one they bound: another process may take it before the server
// binds it, so a caller tries again with another port when the server
// cannot start. 0 when none could be found.
#pragma once

#include <cstdint>

namespace orvane::test {

std::uint16_t FreeLoopbackPort();

}  // namespace orvane::test
