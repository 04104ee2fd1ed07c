// Test support: what several test programs need alike. Pairs with test_support.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace test_support {

// A heap copy of exactly the first byteCount bytes of an image, so that the sanitizer build
// reports any read past its end.
class ExactCopy {
 public:
  ExactCopy(const std::uint8_t* bytes, std::size_t byteCount);
  explicit ExactCopy(const std::vector<std::uint8_t>& bytes) : ExactCopy(bytes.data(), bytes.size()) {}
  const std::uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return byteCount_; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t byteCount_;
};

std::uint16_t readLe16(const std::uint8_t* at);
std::uint32_t readLe32(const std::uint8_t* at);

}  // namespace test_support
