// Test support: what several test programs need alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace test_support {

// An exactly-sized heap copy of bytes, so that the sanitizer builds see any read past its end
// (a vector's spare capacity could hide one). Never null, also for 0 bytes.
inline std::unique_ptr<std::uint8_t[]> exactCopy(const std::uint8_t* bytes, std::size_t byteCount) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[byteCount > 0 ? byteCount : 1]);
  if (byteCount > 0) std::memcpy(copy.get(), bytes, byteCount);
  return copy;
}

}  // namespace test_support
