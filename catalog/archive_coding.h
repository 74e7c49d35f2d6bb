// Little-endian fixed-width encode/decode on raw byte pointers. The archive's
// values have no alignment, so these go through memcpy, which compilers turn
// into single unaligned loads and stores.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace orvane {

template <typename T>
inline T LoadLittleEndian(const unsigned char* p) {
  T value;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, p, sizeof value);
  } else {
    unsigned char bytes[sizeof value];
    std::reverse_copy(p, p + sizeof value, bytes);
    std::memcpy(&value, bytes, sizeof value);
  }
  return value;
}

template <typename T>
inline void StoreLittleEndian(unsigned char* p, T value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &value, sizeof value);
  } else {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    std::reverse_copy(bytes, bytes + sizeof value, p);
  }
}

}  // namespace orvane
