// The built-in theme: the committed asset is what compose-theme writes, and one whole pass
// through the block fill sounds like music: no long silence, almost no clipping, and every
// sampled instrument heard.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "audio/output.h"
#include "player/module.h"
#include "player/player.h"
#include "render.h"
#include "tools/compose-theme/theme.h"

namespace {

TEST(Theme, BuiltInImageIsWhatTheComposerWrites) {
  const std::vector<std::uint8_t> composed = writeXm(composeTheme());
  ASSERT_EQ(composed.size(), builtinModuleImage.byteCount)
      << "assets/theme.xm is stale: run compose-theme assets/theme.xm";
  EXPECT_EQ(0, std::memcmp(composed.data(), builtinModuleImage.bytes, composed.size()));
}

// Index of the sampled instrument whose sample a voice plays, or -1.
int instrumentOf(const Sample* sample) {
  for (int i = 0; i < playerContext->song.instrumentCount; ++i)
    if (playerContext->instruments[i].sampleCount > 0 && playerContext->instruments[i].samples[0] == sample) return i;
  return -1;
}

TEST(Theme, OnePassThroughTheBlockFillSoundsLikeMusic) {
  const test_support::LoadedPlayer loaded(builtinModuleImage.bytes, builtinModuleImage.byteCount);
  // One pass ends when play comes back from the last order to the restart position.
  bool reachedLastOrder = false;
  std::uint64_t frames = 0, clipped = 0, silentFrames = 0, longestSilence = 0;
  std::set<int> heard;
  constexpr std::uint64_t MAX_FRAMES = 44100ull * 300;
  while (frames < MAX_FRAMES && !(reachedLastOrder && playerContext->player.orderPos == playerContext->song.restartPosition)) {
    const auto* pcm = reinterpret_cast<const std::int16_t*>(audioOutput->waveRing + audioOutput->writeBlock * BLOCK_BYTES);
    fillBlock();
    for (std::uint32_t f = 0; f < BLOCK_FRAMES; ++f) {
      const int left = pcm[2 * f], right = pcm[2 * f + 1];
      clipped += (left >= 32767 || left <= -32768) + (right >= 32767 || right <= -32768);
      // Silence: both sides within 1/1000 of full scale.
      silentFrames = std::abs(left) < 33 && std::abs(right) < 33 ? silentFrames + 1 : 0;
      longestSilence = std::max(longestSilence, silentFrames);
    }
    frames += BLOCK_FRAMES;
    for (const Voice& v : playerContext->voices)
      if (v.sample != nullptr && (v.leftGain > 0 || v.rightGain > 0)) heard.insert(instrumentOf(v.sample));
    reachedLastOrder = reachedLastOrder || playerContext->player.orderPos == playerContext->song.songLength - 1;
  }
  ASSERT_LT(frames, MAX_FRAMES) << "the song never came back to its restart position";
  EXPECT_LT(longestSilence, 2u * 44100) << "a silence of " << longestSilence << " frames";
  EXPECT_LT(clipped * 10000, frames * 2) << clipped << " samples at full scale in " << frames * 2;
  for (int i = 0; i < playerContext->song.instrumentCount; ++i)
    EXPECT_TRUE(playerContext->instruments[i].sampleCount == 0 || heard.count(i)) << "instrument " << i + 1 << " is never heard";
}

}  // namespace
