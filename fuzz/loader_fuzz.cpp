// libFuzzer target for loadModule: any byte string is loaded from the exactly-sized heap copy
// libFuzzer (or replay.cpp) hands over, so that AddressSanitizer reports any read past the
// image. A refused image must leave nothing loaded; an accepted one must satisfy every shape
// and guard-frame rule the player relies on. LeakSanitizer reports any block a refusal or the
// release leaves behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/player_checks.h"
#include "player/module.h"
#include "player/module_load.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "loader_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  useModuleAllocator(AllocationBudget::calloc);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t byteCount) {
  AllocationBudget::usedBytes = 0;
  if (loadModule(data, byteCount) != nullptr) {
    if (playerContext->song.songLength != 0 || playerContext->song.patternCount != 0 || playerContext->song.instrumentCount != 0)
      fail("a refused module left a song behind");
  } else if (const char* broken = checkLoadedModule()) {
    fail(broken);
  }
  releaseModule();
  return 0;
}
