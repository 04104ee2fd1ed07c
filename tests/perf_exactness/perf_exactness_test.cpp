// The fast paths against their plain definitions: every mixVoices stretch of long renders of
// the benchmark modules against the frame-at-a-time model (each kind of loops), silent voices
// over buffers that hold -0.0 or NaN, and the vectorised float-to-PCM conversion against
// roundToInt and saturation.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "audio/output.h"
#include "bench/bench_modules.h"
#include "player/mixer.h"
#include "player/player.h"
#include "tests/mixer/mixer_model.h"

namespace {

using mixer_model::modelMixVoice;
using mixer_model::voiceDifference;

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

//-----------------------------------------------------------------------------
// Long renders: each stretch of the block fill, mixed by mixVoices and by the model from the
// same voices. Seconds, not frames: positions and ramps carry across thousands of calls.
//-----------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double RENDER_SECONDS = 4.0;  // a sanitizer looks for bad reads, not for drift
#else
constexpr double RENDER_SECONDS = 20.0;
#endif

struct LongRun {
  std::string module;
  MixerLoops loops;
};

const char* loopsName(MixerLoops loops) {
  switch (loops) {
    case MixerLoops::Fastest: return "fastest";
    case MixerLoops::Sse2: return "sse2";
    case MixerLoops::Portable: return "portable";
  }
  return "?";
}

void PrintTo(const LongRun& run, std::ostream* out) { *out << run.module << ", " << loopsName(run.loops) << " loops"; }

class LongRunTest : public ::testing::TestWithParam<LongRun> {
 protected:
  void TearDown() override {
    useMixerLoops(MixerLoops::Fastest);
    releaseModule();
  }
};

TEST_P(LongRunTest, EveryStretchMatchesTheModel) {
  const LongRun& run = GetParam();
  std::vector<std::uint8_t> bytes;
  for (const BenchModule& m : defaultBenchModules()) {
    if (m.name == run.module) bytes = m.bytes;
  }
  ASSERT_FALSE(bytes.empty()) << "no module " << run.module;
  ASSERT_EQ(loadModule(bytes.data(), bytes.size()), nullptr);
  resetPlayer();
  useMixerLoops(run.loops);

  const std::uint32_t blockCount = static_cast<std::uint32_t>(RENDER_SECONDS * OUTPUT_RATE / BLOCK_FRAMES);
  std::vector<float> real(BLOCK_SAMPLES);
  std::vector<float> expected(BLOCK_SAMPLES);
  std::vector<Voice> model(VOICE_COUNT);
  std::uint32_t tickFramesLeft = 0;
  std::uint64_t voiceFrames = 0;
  float loudest = 0.0f;
  for (std::uint32_t block = 0; block < blockCount; ++block) {
    std::fill(real.begin(), real.end(), 0.0f);
    std::fill(expected.begin(), expected.end(), 0.0f);
    std::uint32_t done = 0;
    while (done < BLOCK_FRAMES) {
      if (tickFramesLeft == 0) {
        playerTick();
        tickFramesLeft = static_cast<std::uint32_t>(player.samplesPerTick);
      }
      const std::uint32_t frames = std::min(tickFramesLeft, BLOCK_FRAMES - done);
      model.assign(voices, voices + VOICE_COUNT);
      mixVoicesIntoClearedBlock(&real[2 * done], frames);  // the block fill's call
      for (Voice& v : model) {
        if (v.sample == nullptr) continue;
        voiceFrames += frames;
        modelMixVoice(v, &expected[2 * done], frames);
      }
      for (std::uint32_t i = 2 * done; i < 2 * (done + frames); ++i) {
        ASSERT_TRUE(sameBits(real[i], expected[i]))
            << "block " << block << ", frame " << i / 2 << ": " << real[i] << " against the model's "
            << expected[i];
        loudest = std::max(loudest, std::fabs(real[i]));
      }
      for (int k = 0; k < VOICE_COUNT; ++k) {
        ASSERT_EQ(voiceDifference(voices[k], model[k]), "") << "block " << block << ", voice " << k;
      }
      done += frames;
      tickFramesLeft -= frames;
    }
  }
  // The run must have played something: a few voices on average, at an audible level.
  EXPECT_GT(voiceFrames, 3u * OUTPUT_RATE * static_cast<std::uint64_t>(RENDER_SECONDS));
  EXPECT_GT(loudest, 1000.0f);
}

std::vector<LongRun> longRuns() {
  std::vector<LongRun> runs;
  for (const BenchModule& m : defaultBenchModules()) {
    for (const MixerLoops loops : {MixerLoops::Fastest, MixerLoops::Sse2, MixerLoops::Portable}) {
      runs.push_back({m.name, loops});
    }
  }
  return runs;
}

INSTANTIATE_TEST_SUITE_P(BenchModules, LongRunTest, ::testing::ValuesIn(longRuns()),
                         [](const ::testing::TestParamInfo<LongRun>& info) {
                           std::string name = info.param.module;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name + "_" + loopsName(info.param.loops);
                         });

//-----------------------------------------------------------------------------
// Silent voices: walked without mixing only where adding 0 would change nothing
//-----------------------------------------------------------------------------

TEST(SilentVoices, MatchTheModelOverNegativeZeroAndNaN) {
  const float signallingNaN = std::numeric_limits<float>::signaling_NaN();
  const float quietNaN = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    float odd;                 // written into one float of the stretch
    std::uint32_t oddAt;       // which float
    bool soundingVoiceFirst;   // a voice with gain mixes before the silent one
  };
  const Case cases[] = {
      {"clean stretch", 0.0f, 0, false},
      {"-0.0 in the first frame", -0.0f, 0, false},
      {"-0.0 in the last frame", -0.0f, 2 * 99 + 1, false},
      {"signalling NaN", signallingNaN, 37, false},
      {"quiet NaN", quietNaN, 38, false},
      {"-0.0 after a sounding voice", -0.0f, 51, true},
      {"NaN after a sounding voice", signallingNaN, 52, true},
  };
  // Positive values: a product with a gain of +0 is +0.0, which turns -0.0 into +0.0.
  std::vector<std::int16_t> frames(300 + SAMPLE_PAD_FRAMES);
  for (std::size_t i = 0; i < 300; ++i) frames[i] = static_cast<std::int16_t>(1000 + 7 * static_cast<int>(i));
  frames[300] = frames[0];
  const Sample sample{300, 0, 300, 64, 0, 128, 0, LOOP_FORWARD, 16, frames.data()};

  for (const MixerLoops loops : {MixerLoops::Fastest, MixerLoops::Sse2, MixerLoops::Portable}) {
    useMixerLoops(loops);
    for (const Case& c : cases) {
      resetVoices();
      for (int k = 0; k < 2; ++k) {
        Voice& v = voices[k];
        v.sample = &sample;
        v.direction = DIRECTION_FORWARD;
        v.positionInt = 10 * k;
        v.stepInt = 1;
        v.stepFrac = 0x40000000u;
      }
      voices[0].sample = c.soundingVoiceFirst ? &sample : nullptr;
      voices[0].leftGain = voices[0].rampLeftTarget = 30;
      voices[0].currentLeftGain = 30 * 256;
      std::vector<float> real(2 * 100, 0.0f);
      real[c.oddAt] = c.odd;
      std::vector<float> expected = real;
      std::vector<Voice> model(voices, voices + VOICE_COUNT);

      mixVoices(real.data(), 100);
      for (Voice& v : model) {
        if (v.sample != nullptr) modelMixVoice(v, expected.data(), 100);
      }
      for (std::size_t i = 0; i < real.size(); ++i) {
        ASSERT_TRUE(sameBits(real[i], expected[i])) << c.name << ", float " << i;
      }
      EXPECT_EQ(voiceDifference(voices[1], model[1]), "") << c.name;
    }
  }
  useMixerLoops(MixerLoops::Fastest);
}

//-----------------------------------------------------------------------------
// Conversion: eight at a time against roundToInt and saturation, one float at a time
//-----------------------------------------------------------------------------

std::int16_t plainPcm16(float value) {
  const std::int32_t rounded = roundToInt(static_cast<double>(value));
  return static_cast<std::int16_t>(std::clamp(rounded, -32768, 32767));
}

TEST(FloatToPcm16, AgreesWithRoundToIntOnEveryKindOfFloat) {
  std::vector<float> source = {
      -0.0f, 0.5f, -0.5f, 1.5f, 2.5f, -2.5f, 32766.5f, 32767.5f, 32768.0f, -32767.5f,
      -32768.5f, -32769.0f, 1.0e-45f, -1.0e-45f, 8388607.5f, 2147483648.0f, -2147483904.0f,
      std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
      std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
      std::numeric_limits<float>::signaling_NaN(), std::numeric_limits<float>::max(),
      std::numeric_limits<float>::lowest()};
  // Then every bit pattern class at random: near the range, halves, anything at all.
  std::mt19937 rng(5);
  for (int i = 0; i < 600000; ++i) {
    switch (i % 3) {
      case 0: source.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(rng()))); break;
      case 1: source.push_back(static_cast<float>(static_cast<int>(rng() % 80000) - 40000) + 0.5f); break;
      default: source.push_back(std::ldexp(static_cast<float>(rng() % 16777216), -8) - 32768.0f); break;
    }
  }
  // Odd counts and offsets reach the one-at-a-time tail as well.
  for (const std::uint32_t offset : {0u, 1u, 3u}) {
    const std::uint32_t count = static_cast<std::uint32_t>(source.size()) - offset;
    std::vector<std::int16_t> destination(count + 1, 0x5555);
    floatToPcm16(destination.data(), source.data() + offset, count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const float value = source[offset + i];
      ASSERT_EQ(destination[i], plainPcm16(value))
          << "float bits 0x" << std::hex << std::bit_cast<std::uint32_t>(value) << std::dec
          << " (" << value << ") at " << i;
    }
    EXPECT_EQ(destination[count], 0x5555) << "wrote past the count";
  }
}

}  // namespace
