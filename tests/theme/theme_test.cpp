// The built-in theme: the committed asset is what compose-theme writes, it has the shape the
// player is built for, and one whole pass through the block fill sounds like music: no long
// silence, almost no clipping, and every instrument heard.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "audio/output.h"
#include "player/module.h"
#include "player/player.h"
#include "tools/compose-theme/theme.h"

namespace {

std::uint32_t readU32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24; }
std::uint16_t readU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

TEST(Theme, BuiltInImageIsWhatTheComposerWrites) {
  const std::vector<std::uint8_t> composed = writeXm(composeTheme());
  ASSERT_EQ(composed.size(), builtinModuleImage.byteCount)
      << "assets/theme.xm is stale: run compose-theme assets/theme.xm";
  EXPECT_EQ(0, std::memcmp(composed.data(), builtinModuleImage.bytes, composed.size()));
}

// The file-level shape: walks the image the way the loader does and reads the fields the
// loaded records no longer show (header sizes, sample widths).
TEST(Theme, ImageHasTheShapeThePlayerIsBuiltFor) {
  const std::uint8_t* image = builtinModuleImage.bytes;
  const std::size_t imageBytes = builtinModuleImage.byteCount;
  ASSERT_EQ(nullptr, loadModule(image, imageBytes));

  EXPECT_EQ(std::vector<int>({song.channelCount, song.patternCount, song.instrumentCount, song.songLength,
                              song.flags & 1, song.defaultTempo, song.defaultBpm}),
            std::vector<int>({20, 4, 47, 9, 1, 6, 125}));
  EXPECT_LT(song.restartPosition, song.songLength);
  EXPECT_NE(song.restartPosition, 0) << "the restart should skip the intro";
  for (int p = 0; p < 4; ++p) EXPECT_EQ(patterns[p].rowCount, 64) << "pattern " << p;

  std::size_t at = 60 + readU32(image + 60);
  for (int p = 0; p < song.patternCount; ++p) at += 9 + readU16(image + at + 7);
  int sampled = 0, empty = 0;
  for (int i = 0; i < song.instrumentCount; ++i) {
    const std::uint32_t headerBytes = readU32(image + at);
    const std::uint16_t sampleCount = readU16(image + at + 27);
    if (sampleCount == 0) {
      ++empty;
      EXPECT_EQ(headerBytes, 33u) << "instrument " << i;
      at += headerBytes;
      continue;
    }
    ++sampled;
    EXPECT_EQ(sampleCount, 1) << "instrument " << i;
    EXPECT_EQ(headerBytes, 263u) << "instrument " << i;
    const std::uint8_t* sampleHeader = image + at + headerBytes;
    EXPECT_EQ(sampleHeader[14] & 0x10, 0) << "instrument " << i << " must hold 8-bit data";
    at += headerBytes + 40 + readU32(sampleHeader);
  }
  EXPECT_EQ(sampled, 12);
  EXPECT_EQ(empty, 35);
  EXPECT_EQ(at, imageBytes) << "the image ends after the last sample's data";
  releaseModule();
}

// Index of the sampled instrument whose sample a voice plays, or -1.
int instrumentOf(const Sample* sample) {
  for (int i = 0; i < song.instrumentCount; ++i)
    if (instruments[i].sampleCount > 0 && instruments[i].samples[0] == sample) return i;
  return -1;
}

TEST(Theme, OnePassThroughTheBlockFillSoundsLikeMusic) {
  ASSERT_EQ(nullptr, loadModule(builtinModuleImage.bytes, builtinModuleImage.byteCount));
  resetPlayer();
  ASSERT_TRUE(allocateRing());
  ASSERT_TRUE(allocateMixBuffer());
  writeBlock = 0;

  // One pass ends when play comes back from the last order to the restart position.
  const std::int32_t lastOrder = song.songLength - 1;
  bool reachedLastOrder = false;
  std::uint64_t frames = 0, clipped = 0, silentFrames = 0, longestSilence = 0;
  std::set<int> heard;
  constexpr std::uint64_t MAX_FRAMES = 44100ull * 300;
  while (frames < MAX_FRAMES) {
    const std::int32_t block = writeBlock;
    fillBlock();
    const auto* pcm = reinterpret_cast<const std::int16_t*>(waveRing + block * BLOCK_BYTES);
    for (std::uint32_t f = 0; f < BLOCK_FRAMES; ++f) {
      const int left = pcm[2 * f], right = pcm[2 * f + 1];
      clipped += (left >= 32767 || left <= -32768) + (right >= 32767 || right <= -32768);
      // Silence: both sides within 1/1000 of full scale.
      const bool quiet = std::abs(left) < 33 && std::abs(right) < 33;
      silentFrames = quiet ? silentFrames + 1 : 0;
      if (silentFrames > longestSilence) longestSilence = silentFrames;
    }
    frames += BLOCK_FRAMES;
    for (const Voice& v : voices)
      if (v.sample != nullptr && (v.leftGain > 0 || v.rightGain > 0)) heard.insert(instrumentOf(v.sample));
    if (player.orderPos == lastOrder) reachedLastOrder = true;
    if (reachedLastOrder && player.orderPos == song.restartPosition) break;
  }
  ASSERT_LT(frames, MAX_FRAMES) << "the song never came back to its restart position";

  EXPECT_LT(longestSilence, 2u * 44100) << "a silence of " << longestSilence << " frames";
  EXPECT_LT(clipped * 10000, frames * 2) << clipped << " samples at full scale in " << frames * 2;
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(heard.count(i)) << "instrument " << i + 1 << " is never heard";

  releaseMixBuffer();
  releaseRing();
  releaseModule();
}

}  // namespace
