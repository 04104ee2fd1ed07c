#include "test_support.h"

#include <cstring>

namespace test_support {

ExactCopy::ExactCopy(const std::uint8_t* bytes, std::size_t byteCount)
    : bytes_(new std::uint8_t[byteCount > 0 ? byteCount : 1]), byteCount_(byteCount) {
  if (byteCount > 0) std::memcpy(bytes_.get(), bytes, byteCount);
}

std::uint16_t readLe16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

std::uint32_t readLe32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace test_support
