// libFuzzer target for the whole player: whatever the loader accepts is reset and rendered
// through fillBlock for up to 100 blocks (about 2 s of audio; --blocks=N for more), with every
// voice checked to read inside its sample and every float checked to be finite after each
// block. The long run over the built-in theme (fuzz/CMakeLists.txt) catches what accumulates:
// positions, envelope and fade-out counters, and the state carried over the song's loops.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/output.h"
#include "fuzz/player_checks.h"
#include "player/module.h"
#include "player/module_load.h"
#include "player/player.h"

namespace {

int maxBlocks = 100;  // 88400 frames, about 2 s
// Channel passes per input, counted as ticks x channels, 200 per block. A song at 65535 BPM
// ticks every 2 frames, 442 times a block; with 32 channels that would cost some 100 times a
// usual song.
std::int64_t maxChannelTicks() { return std::int64_t{maxBlocks} * 200; }

[[noreturn]] void fail(const char* what, int block) {
  std::fprintf(stderr, "play_fuzz: block %d: %s\n", block, what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i)
    if (const std::string option = (*argv)[i]; option.starts_with("--blocks=")) maxBlocks = std::stoi(option.substr(9));
  // Kept for the whole run, as the music start keeps them while it plays.
  if (!allocateRing() || !allocateMixBuffer()) std::abort();
  useModuleAllocator(AllocationBudget::calloc);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t byteCount) {
  AllocationBudget::usedBytes = 0;
  if (loadModule(data, byteCount) != nullptr) return 0;

  resetPlayer();
  audioOutput->writeBlock = 0;
  std::int64_t channelTicks = 0;
  const std::int64_t channels = playerContext->song.channelCount != 0 ? playerContext->song.channelCount : 1;
  for (int block = 0; block < maxBlocks && channelTicks < maxChannelTicks(); ++block) {
    const std::int32_t filled = audioOutput->writeBlock;
    fillBlock();
    if (const char* broken = checkVoices()) fail(broken, block);
    if (const char* broken = checkFinite(audioOutput->mixBuffer + filled * BLOCK_SAMPLES, BLOCK_SAMPLES)) fail(broken, block);
    const std::int64_t frames = playerContext->player.samplesPerTick > 0 ? playerContext->player.samplesPerTick : 1;
    channelTicks += (BLOCK_FRAMES / frames + 1) * channels;
  }
  releaseModule();
  return 0;
}
