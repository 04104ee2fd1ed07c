// Tests of mixVoices and roundToInt: a plain frame-at-a-time model of a voice compared bit
// for bit with the mixer over random voices and stretches, then the worked cases.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <random>
#include <vector>

#include "player/mixer.h"
#include "player/module.h"
#include "tests/mixer/mixer_model.h"

namespace {

//-----------------------------------------------------------------------------
// Samples as the loader lays them out, behind frames that no read may reach
//-----------------------------------------------------------------------------

constexpr std::size_t FRONT_FRAMES = 16;
constexpr std::int16_t FRONT_VALUE = 12345;  // would show in the sums if a read landed there

struct TestSample {
  std::vector<std::int16_t> frames;  // FRONT_FRAMES, then length + 8
  Sample sample{};
};

// stored holds the length frames; the guard frame and 7 zero frames follow as loaded.
Sample* addSample(std::deque<TestSample>& store, std::uint8_t loopKind, std::uint32_t loopStart,
                  std::uint32_t loopLength, const std::vector<std::int16_t>& stored) {
  TestSample& t = store.emplace_back();
  const std::uint32_t length = static_cast<std::uint32_t>(stored.size());
  t.frames.assign(FRONT_FRAMES + length + SAMPLE_PAD_FRAMES, 0);
  std::fill_n(t.frames.begin(), FRONT_FRAMES, FRONT_VALUE);
  std::copy(stored.begin(), stored.end(), t.frames.begin() + FRONT_FRAMES);
  std::int16_t* data = t.frames.data() + FRONT_FRAMES;
  if (loopKind == LOOP_NONE) {
    loopStart = 0;
    loopLength = length;
  }
  if (loopKind == LOOP_FORWARD) data[loopStart + loopLength] = data[loopStart];
  if (loopKind == LOOP_PINGPONG) data[loopStart + loopLength] = data[loopStart + loopLength - 1];
  t.sample = Sample{length, loopStart, loopLength, 64, 0, 128, 0, loopKind, 16, data};
  return &t.sample;
}

using namespace mixer_model;

//-----------------------------------------------------------------------------
// Random voices against the model
//-----------------------------------------------------------------------------

struct Rng {
  std::mt19937_64 engine;
  std::uint64_t below(std::uint64_t n) { return engine() % n; }
  bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
};

std::vector<std::int16_t> randomFrames(Rng& rng, std::uint32_t count) {
  std::vector<std::int16_t> frames(count);
  for (auto& f : frames) {
    f = rng.chance(10) ? (rng.chance(50) ? 32767 : -32768)
                       : static_cast<std::int16_t>(rng.below(65536) - 32768);
  }
  return frames;
}

void setRandomStep(Voice& v, Rng& rng) {
  const std::uint32_t whole = static_cast<std::uint32_t>(rng.below(8));
  const std::uint32_t frac = static_cast<std::uint32_t>(rng.engine());
  switch (rng.below(7)) {
    case 0: v.stepInt = 0, v.stepFrac = 0; break;                                // zero step
    case 1: v.stepInt = 0, v.stepFrac = 1 + frac % 255; break;                   // below 2^-24
    case 2: v.stepInt = 1 + whole, v.stepFrac = 0; break;                        // whole frames
    case 3: v.stepInt = whole, v.stepFrac = 0x80000000u; break;                  // halves
    case 4: v.stepInt = whole, v.stepFrac = frac & 0xFFFFFF00u; break;           // 24 bits exact
    case 5: v.stepInt = 0, v.stepFrac = std::max(frac, 9773437u); break;         // 100 Hz and up
    default: v.stepInt = whole % 2, v.stepFrac = frac; break;
  }
}

void setRandomGains(Voice& v, Rng& rng) {
  switch (rng.below(4)) {
    case 0: v.leftGain = v.rightGain = 0; break;
    case 1: v.leftGain = v.currentLeftGain >> 8, v.rightGain = v.currentRightGain >> 8; break;
    case 2: v.leftGain += 1, v.rightGain -= 1; break;
    default:
      v.leftGain = static_cast<std::int32_t>(rng.below(300));
      v.rightGain = static_cast<std::int32_t>(rng.below(300));
  }
}

// A start as the voice update makes one, now and then with a ramp already under way.
void startRandomVoice(Voice& v, const Sample* s, Rng& rng) {
  const std::uint32_t loopEnd = s->loopStart + s->loopLength;
  v.sample = s;
  v.direction = DIRECTION_FORWARD;
  v.positionInt = static_cast<std::int32_t>(rng.below(loopEnd == 0 ? 1 : loopEnd));
  if (rng.chance(25) && loopEnd > 0) v.positionInt = static_cast<std::int32_t>(loopEnd - 1);
  // past the loop end (measured to the sample's end); one frame past it at least, since a
  // forward voice between the loop end and the next frame would measure a negative distance
  if (rng.chance(10) && s->length > loopEnd + 1 && s->loopKind != LOOP_NONE) {
    v.positionInt = static_cast<std::int32_t>(loopEnd + 1 + rng.below(s->length - loopEnd - 1));
  }
  const std::uint32_t fracs[] = {0, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFF01u,
                                 static_cast<std::uint32_t>(rng.engine())};
  v.positionFrac = loopEnd == 0 ? 0 : fracs[rng.below(5)];  // a sample of 0 frames has no 0.5
  if (s->loopKind == LOOP_PINGPONG && v.positionInt >= static_cast<std::int32_t>(s->loopStart) &&
      static_cast<std::uint32_t>(v.positionInt) < loopEnd && rng.chance(50)) {
    v.direction = rng.chance(50) ? DIRECTION_BACKWARD : 7;
  }
  setRandomStep(v, rng);
  v.currentLeftGain = v.currentRightGain = 0;
  v.rampFramesLeft = 0;
  setRandomGains(v, rng);
  if (rng.chance(30)) {
    // below 0 as well, where the whole units reached round down: -100 is unit -1
    v.currentLeftGain = static_cast<std::int32_t>(rng.below(400 * 256)) - 100 * 256;
    v.currentRightGain = static_cast<std::int32_t>(rng.below(400 * 256)) - 100 * 256;
    v.rampFramesLeft = static_cast<std::int32_t>(1 + rng.below(RAMP_LENGTH));
    v.rampLeftTarget = v.leftGain;
    v.rampRightTarget = v.rightGain;
    v.leftRampDelta = static_cast<float>(rng.below(2001)) * 1e-5f - 0.01f;
    v.rightRampDelta = rng.chance(50) ? 0.0f : v.leftRampDelta;
  }
}

TEST(MixerModel, RandomVoicesMatchTheModelBitForBit) {
  for (std::uint64_t seed = 1; seed <= 40; ++seed) {
    Rng rng{std::mt19937_64(seed)};
    std::deque<TestSample> store;
    std::vector<const Sample*> samples;
    const std::uint32_t noLoop[] = {1, 2, 10, 700, 5000};
    for (std::uint32_t length : noLoop) {
      samples.push_back(addSample(store, LOOP_NONE, 0, 0, randomFrames(rng, length)));
    }
    struct Loop { std::uint8_t kind; std::uint32_t start, frames, length; };
    const Loop loops[] = {{LOOP_FORWARD, 0, 1, 1},      {LOOP_FORWARD, 0, 2, 2},
                          {LOOP_FORWARD, 3, 3, 9},      {LOOP_FORWARD, 7, 1, 20},
                          {LOOP_FORWARD, 0, 64, 64},    {LOOP_FORWARD, 100, 900, 1500},
                          {LOOP_PINGPONG, 0, 1, 1},     {LOOP_PINGPONG, 0, 2, 5},
                          {LOOP_PINGPONG, 4, 3, 7},     {LOOP_PINGPONG, 0, 50, 50},
                          {LOOP_PINGPONG, 20, 600, 900}};
    for (const Loop& l : loops) {
      samples.push_back(addSample(store, l.kind, l.start, l.frames, randomFrames(rng, l.length)));
    }
    Sample silent{};  // like emptySample: no frames, no data, loop kind 0
    samples.push_back(&silent);

    resetVoices();
    const int sounding = 1 + static_cast<int>(rng.below(8));
    for (int i = 0; i < sounding; ++i) {
      Voice& v = voices[rng.below(VOICE_COUNT)];
      startRandomVoice(v, samples[rng.below(samples.size())], rng);
    }
    std::vector<Voice> model(voices, voices + VOICE_COUNT);

    for (int call = 0; call < 120; ++call) {
      const std::uint32_t lengths[] = {1, 2, 3, 127, 128, 129, 883, 884};
      const std::uint32_t frameCount = rng.chance(30)
                                           ? lengths[rng.below(8)]
                                           : 1 + static_cast<std::uint32_t>(rng.below(884));
      std::vector<float> real(2 * frameCount);
      for (float& f : real) f = rng.chance(50) ? 0.0f : static_cast<float>(rng.engine() % 80001) - 40000.25f;
      std::vector<float> expected = real;

      mixVoices(real.data(), frameCount);
      for (Voice& v : model) modelMixVoice(v, expected.data(), frameCount);

      const long at = firstDifference(real, expected);
      ASSERT_EQ(at, -1) << "seed " << seed << ", call " << call << ", float " << at << ": "
                        << real[at] << " against the model's " << expected[at];
      for (int k = 0; k < VOICE_COUNT; ++k) {
        ASSERT_EQ(voiceDifference(voices[k], model[k]), "")
            << "seed " << seed << ", call " << call << ", voice " << k;
      }

      // What the tick processing does between two calls: new targets, new steps, new notes.
      for (int k = 0; k < VOICE_COUNT; ++k) {
        if (voices[k].sample == nullptr && !rng.chance(3)) continue;
        if (rng.chance(30)) setRandomGains(voices[k], rng);
        if (rng.chance(10)) setRandomStep(voices[k], rng);
        if (rng.chance(5)) startRandomVoice(voices[k], samples[rng.below(samples.size())], rng);
        model[k] = voices[k];
      }
    }
  }
}

//-----------------------------------------------------------------------------
// Worked cases
//-----------------------------------------------------------------------------

class MixerCase : public ::testing::Test {
 protected:
  void SetUp() override { resetVoices(); }

  // Voice 0 at the given position and step, its gains already standing at their targets.
  Voice& steadyVoice(const Sample* s, std::int32_t gain, std::int32_t positionInt,
                     std::uint32_t positionFrac, std::uint32_t stepInt, std::uint32_t stepFrac) {
    Voice& v = voices[0];
    v = Voice{};
    v.sample = s;
    v.direction = DIRECTION_FORWARD;
    v.positionInt = positionInt;
    v.positionFrac = positionFrac;
    v.stepInt = stepInt;
    v.stepFrac = stepFrac;
    v.leftGain = v.rightGain = v.rampLeftTarget = v.rampRightTarget = gain;
    v.currentLeftGain = v.currentRightGain = gain * 256;
    return v;
  }

  // frameCount stereo frames mixed onto `fill`.
  static std::vector<float> mix(std::uint32_t frameCount, float fill = 0.0f) {
    std::vector<float> out(2 * frameCount, fill);
    mixVoices(out.data(), frameCount);
    return out;
  }

  std::deque<TestSample> store;
};

// frame i holds 2 i: interpolated values are exact halves, and gain 255 is the float 1.0.
std::vector<std::int16_t> ramp(std::uint32_t length) {
  std::vector<std::int16_t> frames(length);
  for (std::uint32_t i = 0; i < length; ++i) frames[i] = static_cast<std::int16_t>(2 * i);
  return frames;
}

TEST_F(MixerCase, SegmentEndsAtTheLoopEndAndReadsTheGuardFrame) {
  const Sample* s = addSample(store, LOOP_FORWARD, 60, 50, ramp(200));  // loop end 110
  steadyVoice(s, 255, 100, 0x80000000u, 1, 0x80000000u);
  const std::vector<float> out = mix(9);
  // positions 100.5, 102, ..., 109.5 (between frame 109 and the guard, a copy of frame 60),
  // then 111 wraps to 61 and 62.5
  const float left[] = {201, 204, 207, 210, 213, 216, (218 + 120) / 2.0f, 122, 125};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(out[2 * i], left[i]) << "frame " << i;
  EXPECT_EQ(std::make_pair(voices[0].positionInt, voices[0].positionFrac), std::make_pair(64, 0u));
}

TEST_F(MixerCase, SampleWithoutLoopStopsAtItsEnd) {
  steadyVoice(addSample(store, LOOP_NONE, 0, 0, ramp(50)), 255, 40, 0, 1, 0);
  const std::vector<float> out = mix(100, -1.0f);
  // frames 40 to 49 added to the -1 already there, then nothing
  for (int i = 0; i < 100; ++i) EXPECT_EQ(out[2 * i], i < 10 ? 79.0f + 2 * i : -1.0f) << i;
  EXPECT_EQ(voices[0].sample, nullptr);
  EXPECT_EQ(std::make_pair(voices[0].positionInt, voices[0].positionFrac), std::make_pair(0, 0u));
}

TEST_F(MixerCase, DistanceBelowTwoToTheMinus24IsAZeroFrameSegment) {
  std::vector<std::int16_t> frames = ramp(12);
  frames[3] = -1000;
  frames[11] = 5000;
  const Sample* forward = addSample(store, LOOP_FORWARD, 4, 8, frames);  // guard: frame 4 = 8
  const Sample* none = addSample(store, LOOP_NONE, 0, 0, frames);
  // The voice stands distanceUnits x 2^-32 short of frame 12; one frame at step 1. The right
  // gain is steady at 1.0, so the right float is the interpolated value itself. A left ramp
  // is set up (from 100 / 256): a zero-frame segment keeps that gain and all 128 frames.
  struct Row { const char* name; const Sample* sample; std::int64_t distanceUnits; float right;
               std::int32_t positionInt, rampFramesLeft; std::uint32_t positionFrac; };
  const Row rows[] = {
      // wraps first, then mixes 3.99999994, between frames 3 and 4
      {"forward loop, 255", forward, 255, static_cast<float>(8 - 1008 * 0x1p-24), 4, 127, 0xFFFFFF00u},
      // mixes 11.99999994, between frame 11 and the guard, then wraps
      {"forward loop, 256", forward, 256, static_cast<float>(8 + 4992 * 0x1p-24), 4, 127, 0xFFFFFF00u},
      {"no loop, 255: stops", none, 255, 0.0f, 0, 128, 0},
  };
  for (const Row& row : rows) {
    Voice& v = steadyVoice(row.sample, 255, 11, static_cast<std::uint32_t>(ONE_FRAME - row.distanceUnits), 1, 0);
    v.currentLeftGain = 100;
    EXPECT_EQ(mix(1)[1], row.right) << row.name;
    EXPECT_EQ(std::make_tuple(v.positionInt, v.positionFrac, v.rampFramesLeft),
              std::make_tuple(row.positionInt, row.positionFrac, row.rampFramesLeft)) << row.name;
    if (row.sample == none) {
      EXPECT_EQ(v.sample, nullptr);
      EXPECT_EQ(v.currentLeftGain, 100);
    }
  }
}

TEST_F(MixerCase, DistancesNearTwoToThe24FramesNeedAll64Bits) {
  Sample* s = addSample(store, LOOP_FORWARD, 0, 1000, std::vector<std::int16_t>(1000, 7));
  for (std::uint32_t loopEnd : {(1u << 24) - 1, 1u << 24, (1u << 24) + 1000}) {
    // the loop end lies beyond the data; no frame near it may be read
    s->loopLength = s->length = loopEnd;
    Voice& v = steadyVoice(s, 255, 0, 0x80000000u, 1, 0);
    EXPECT_EQ(mix(884)[2 * 883], 7.0f) << loopEnd;
    EXPECT_EQ(v.positionInt, 884) << loopEnd;
  }
}

TEST_F(MixerCase, StartedVoiceRampsFromSilenceAndAnInterruptionRampsAgain) {
  const Sample* s = addSample(store, LOOP_FORWARD, 0, 64, std::vector<std::int16_t>(64, 1000));
  Voice& v = steadyVoice(s, 255, 0, 0, 1, 0);
  v.currentLeftGain = v.currentRightGain = 0;  // a start, as the voice update makes it
  v.rightGain = 51;
  std::vector<float> out = mix(131);
  EXPECT_EQ(std::make_pair(out[0], out[1]), std::make_pair(0.0f, 0.0f)) << "the first frame adds nothing";
  EXPECT_NEAR(out[2 * 64], 500.0f, 0.01f);
  for (int i = 128; i < 131; ++i) EXPECT_EQ(out[2 * i], 1000.0f) << i;  // the targets themselves
  // 51 x the float nearest 1/255 is 0.20000001788f, not 0.2f; 1000 times it rounds up
  EXPECT_EQ(out[2 * 130 + 1], 200.0000152587890625f);
  EXPECT_EQ(v.currentLeftGain, 255 * 256);

  // a new target half-way through a ramp down starts 128 frames from the gain reached
  v.leftGain = 0;
  mix(64);
  EXPECT_NEAR(v.currentLeftGain, 255 * 128, 1);
  v.leftGain = 200;
  mix(1);
  EXPECT_EQ(v.rampFramesLeft, 127);
  // from 127 whole units reached: 73 units over 128 frames; the right side stands
  EXPECT_EQ(v.leftRampDelta, static_cast<float>(73 * static_cast<double>(1.0f / 255.0f) / 128));
  EXPECT_EQ(v.rightRampDelta, 0.0f);
  mix(127);
  EXPECT_EQ(std::make_pair(v.currentLeftGain, v.rampFramesLeft), std::make_pair(200 * 256, 0));
}

TEST_F(MixerCase, FullScaleVoicesSumWithoutClipping) {
  for (std::int16_t value : {32767, -32768}) {
    const Sample* s = addSample(store, LOOP_FORWARD, 0, 4, std::vector<std::int16_t>(4, value));
    for (int k : {5, 40}) {
      voices[k] = steadyVoice(s, 255, 0, 0, 1, 0);
      voices[k].index = k;
    }
    voices[0] = Voice{};
    for (float f : mix(16)) EXPECT_EQ(f, 2.0f * value);
  }
}

// Loops that start at frame 0 can leave the position a hair below it.
TEST_F(MixerCase, PositionsJustBelowFrameZeroReadFrameZero) {
  // backward from 2.0 lands exactly on frame 0 and turns to -2^-32
  Voice& v = steadyVoice(addSample(store, LOOP_PINGPONG, 0, 4, ramp(4)), 255, 2, 0, 1, 0);
  v.direction = DIRECTION_BACKWARD;
  std::vector<float> out = mix(4);
  EXPECT_EQ(out[2 * 2], 0.0f);  // frame 0, not towards the frame before the block
  EXPECT_EQ(out[2 * 3], 2.0f);

  // 2^-31 short of frame 3, step 1: the frame ends 2 units short of the loop end, which the
  // wrap takes to -1 + 0xFFFFFFFE units (and must not repeat some 2^30 times)
  steadyVoice(addSample(store, LOOP_FORWARD, 0, 4, ramp(4)), 255, 2, 0xFFFFFFFEu, 1, 0);
  mix(1);
  EXPECT_EQ(std::make_pair(voices[0].positionInt, voices[0].positionFrac), std::make_pair(-1, 0xFFFFFFFEu));
  EXPECT_EQ(mix(2)[0], 0.0f);
  EXPECT_EQ(voices[0].positionInt, 1);
}

TEST(RoundToInt, NearestWithHalvesToEvenAndSaturation) {
  struct Row { double value; std::int32_t expected; };
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {{127.5, 128},  {126.5, 126},      {-0.5, 0},        {-1.5, -2},
                      {2.4999999, 2}, {-2.5000001, -3}, {2147483646.5, 2147483646},
                      {2147483647.5, 2147483647},       {-2147483648.5, -2147483647 - 1},
                      {1e300, 2147483647}, {-inf, -2147483647 - 1}, {inf, 2147483647}, {std::nan(""), 0}};
  for (const Row& row : rows) EXPECT_EQ(roundToInt(row.value), row.expected) << row.value;
}

}  // namespace
