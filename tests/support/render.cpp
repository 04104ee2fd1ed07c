#include "render.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "audio/output.h"
#include "player/module.h"
#include "player/player.h"

namespace test_support {

LoadedPlayer::LoadedPlayer(const std::uint8_t* bytes, std::size_t byteCount) {
  EXPECT_EQ(loadModule(bytes, byteCount), nullptr) << "the module to render";
  resetPlayer();
  audioOutput->writeBlock = 0;
  EXPECT_TRUE(allocateRing() && allocateMixBuffer()) << "buffers for the block fill";
}

LoadedPlayer::~LoadedPlayer() {
  releaseMixBuffer();
  releaseRing();
  releaseModule();
  audioOutput->writeBlock = 0;
}

void forEachStretch(std::uint32_t blockCount,
                    const std::function<void(std::uint64_t frame, std::uint32_t frameCount)>& stretch) {
  std::uint32_t tickFramesLeft = 0;
  for (std::uint64_t block = 0; block < blockCount; ++block) {
    for (std::uint32_t done = 0; done < BLOCK_FRAMES;) {
      if (tickFramesLeft == 0) {
        playerTick();
        tickFramesLeft = static_cast<std::uint32_t>(playerContext->player.samplesPerTick);
      }
      const std::uint32_t frameCount = std::min(tickFramesLeft, BLOCK_FRAMES - done);
      stretch(block * BLOCK_FRAMES + done, frameCount);
      done += frameCount;
      tickFramesLeft -= frameCount;
    }
  }
}

}  // namespace test_support
