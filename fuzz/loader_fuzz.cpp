// libFuzzer target for loadModule: any byte string is loaded from an exactly-sized heap copy,
// so that AddressSanitizer reports any read past the image. A refused image must leave
// nothing loaded; an accepted one must satisfy every shape and guard-frame rule the player
// relies on. LeakSanitizer reports any block a refusal or the release leaves behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/player_checks.h"
#include "player/module.h"
#include "player/module_load.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "loader_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t byteCount) {
  moduleCalloc = AllocationBudget::calloc;
  AllocationBudget::usedBytes = 0;
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[byteCount]);
  if (byteCount != 0) std::memcpy(copy.get(), data, byteCount);

  const char* refusal = loadModule(copy.get(), byteCount);
  if (refusal != nullptr) {
    if (song.songLength != 0 || song.patternCount != 0 || song.instrumentCount != 0)
      fail("a refused module left a song behind");
  } else if (const char* broken = checkLoadedModule()) {
    fail(broken);
  }
  releaseModule();
  return 0;
}
