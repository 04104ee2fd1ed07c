// libFuzzer target for loadModule: any byte string is loaded from an exactly-sized copy and
// released again. Built by clang only (see CMakeLists.txt); AddressSanitizer reports any read
// outside the image and LeakSanitizer any block a refusal leaves behind.
#include <cstdint>
#include <cstring>
#include <memory>

#include "player/module.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t byteCount) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[byteCount]);
  if (byteCount) std::memcpy(copy.get(), data, byteCount);
  if (loadModule(copy.get(), byteCount) != nullptr && song.songLength != 0) __builtin_trap();
  releaseModule();
  return 0;
}
