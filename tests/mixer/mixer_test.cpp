// Tests of mixVoices: the plain frame-at-a-time model (mixer_model.h) compared bit for bit
// with every call of the mixer, under each kind of frame loops, over random voices and calls
// and over long block-fill renders of real modules.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_modules.h"
#include "player/mixer.h"
#include "player/player.h"
#include "render.h"
#include "tests/mixer/mixer_model.h"

namespace {

using namespace mixer_model;

constexpr MixerLoops ALL_LOOPS[] = {MixerLoops::Fastest, MixerLoops::Sse2, MixerLoops::Portable};

std::string loopsName(MixerLoops loops) {
  return loops == MixerLoops::Fastest ? "fastest" : loops == MixerLoops::Sse2 ? "sse2" : "portable";
}

//-----------------------------------------------------------------------------
// One call against the model
//-----------------------------------------------------------------------------

// What a stretch holds before a call. Adding 0 x value turns -0.0 into +0.0 and a signalling
// NaN into a quiet one, so the voices that the fast loops only walk must meet both. fill % 4:
// 0 the block fill's cleared stretch (mixed as the block fill mixes it), 1 -0.0 throughout,
// 2 +0.0 with a signalling NaN, a quiet NaN and a -0.0 somewhere, 3 sums of earlier voices.
void prefill(std::vector<float>& out, std::uint64_t fill) {
  std::mt19937_64 r(fill);
  for (float& f : out) f = fill % 4 == 1 ? -0.0f : fill % 4 == 3 ? static_cast<float>(r() % 80001) - 40000.25f : 0.0f;
  if (fill % 4 == 2) {
    out[r() % out.size()] = std::numeric_limits<float>::signaling_NaN();
    out[r() % out.size()] = std::numeric_limits<float>::quiet_NaN();
    out[r() % out.size()] = -0.0f;
  }
}

// Mixes frameCount frames of the voices as they stand, and the model from the same voices;
// names the first float or voice field that differs, or gives "".
std::string mixAgainstTheModel(std::uint32_t frameCount, std::uint64_t fill) {
  std::vector<float> real(2 * frameCount);
  prefill(real, fill);
  std::vector<float> expected = real;
  std::vector<Voice> model(playerContext->voices, playerContext->voices + VOICE_COUNT);
  (fill % 4 == 0 ? mixVoicesIntoClearedBlock : mixVoices)(real.data(), frameCount);
  for (Voice& v : model) modelMixVoice(v, expected.data(), frameCount);
  if (const long at = firstDifference(real, expected); at >= 0) {
    return "float " + std::to_string(at) + " (fill " + std::to_string(fill % 4) + "): " +
           std::to_string(real[at]) + " against the model's " + std::to_string(expected[at]);
  }
  for (int k = 0; k < VOICE_COUNT; ++k) {
    if (const std::string field = voiceDifference(playerContext->voices[k], model[k]); !field.empty()) return "voice " + std::to_string(k) + ": " + field;
  }
  return "";
}

//-----------------------------------------------------------------------------
// Samples as the loader lays them out, behind frames that no read may reach
//-----------------------------------------------------------------------------

constexpr std::size_t FRONT_FRAMES = 16;
constexpr std::int16_t FRONT_VALUE = 12345;  // would show in the sums if a read landed there

struct TestSample {
  std::vector<std::int16_t> frames;  // FRONT_FRAMES, then length + 8
  std::vector<std::int16_t> run;     // a short forward loop repeated, apart, so reads past it show
  Sample sample{};
};

// stored holds the length frames; the guard frame and 7 zero frames follow, and a short
// forward loop's run is made, as loaded.
Sample* addSample(std::deque<TestSample>& store, std::uint8_t loopKind, std::uint32_t loopStart,
                  std::uint32_t loopLength, const std::vector<std::int16_t>& stored) {
  TestSample& t = store.emplace_back();
  const std::uint32_t length = static_cast<std::uint32_t>(stored.size());
  t.frames.assign(FRONT_FRAMES + length + SAMPLE_PAD_FRAMES, 0);
  std::fill_n(t.frames.begin(), FRONT_FRAMES, FRONT_VALUE);
  std::copy(stored.begin(), stored.end(), t.frames.begin() + FRONT_FRAMES);
  std::int16_t* data = t.frames.data() + FRONT_FRAMES;
  if (loopKind == LOOP_NONE) loopStart = 0, loopLength = length;
  if (loopKind == LOOP_FORWARD) data[loopStart + loopLength] = data[loopStart];
  if (loopKind == LOOP_PINGPONG) data[loopStart + loopLength] = data[loopStart + loopLength - 1];
  t.sample = Sample{length, loopStart, loopLength, 64, 0, 128, 0, loopKind, 16, data};
  if (loopKind == LOOP_FORWARD && loopLength <= LOOP_RUN_MAX_LOOP) {
    for (std::uint32_t k = 0; k < LOOP_RUN_FRAMES; ++k) t.run.push_back(data[loopStart + k % loopLength]);
    t.sample.loopRun = t.run.data();
  }
  return &t.sample;
}

//-----------------------------------------------------------------------------
// Random voices and calls
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
  // at or past the loop end (then measured to the sample's end), where a call whose frame
  // count did not see the step's low 8 fraction bits can leave a voice
  if (rng.chance(10) && s->length > 0) {
    v.positionInt = static_cast<std::int32_t>(loopEnd + rng.below(s->length - loopEnd + 1));
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
  // a fraction of a unit reached, which targets less than a unit away leave standing
  if (rng.chance(10)) v.currentLeftGain = v.currentRightGain = static_cast<std::int32_t>(rng.below(256));
  if (rng.chance(30)) {
    // below 0 as well, where the whole units reached round down: -100 is unit -1
    v.currentLeftGain = static_cast<std::int32_t>(rng.below(400 * 256)) - 100 * 256;
    v.currentRightGain = static_cast<std::int32_t>(rng.below(400 * 256)) - 100 * 256;
    v.rampFramesLeft = static_cast<std::int32_t>(1 + rng.below(RAMP_LENGTH));
    if (rng.chance(10)) v.leftGain = v.rightGain = v.currentLeftGain = v.currentRightGain = 0;
    v.rampLeftTarget = v.leftGain;
    v.rampRightTarget = v.rightGain;
    v.leftRampDelta = static_cast<float>(rng.below(2001)) * 1e-5f - 0.01f;
    v.rightRampDelta = rng.chance(50) ? 0.0f : v.leftRampDelta;
  }
}

class Loops : public ::testing::TestWithParam<MixerLoops> {
 protected:
  void TearDown() override { useMixerLoops(MixerLoops::Fastest); }
};

TEST_P(Loops, RandomVoicesAndCallsMatchTheModelBitForBit) {
  useMixerLoops(GetParam());
  for (std::uint64_t seed = 1; seed <= 40; ++seed) {
    Rng rng{std::mt19937_64(seed)};
    std::deque<TestSample> store;
    std::vector<const Sample*> samples;
    for (std::uint32_t length : {1, 2, 10, 700, 5000}) samples.push_back(addSample(store, LOOP_NONE, 0, 0, randomFrames(rng, length)));
    struct Loop { std::uint8_t kind; std::uint32_t start, frames, length; };
    const Loop loops[] = {{LOOP_FORWARD, 0, 1, 1}, {LOOP_FORWARD, 0, 2, 2}, {LOOP_FORWARD, 3, 3, 9},
                          {LOOP_FORWARD, 7, 1, 20}, {LOOP_FORWARD, 0, 64, 64}, {LOOP_FORWARD, 100, 900, 1500},
                          {LOOP_PINGPONG, 0, 1, 1}, {LOOP_PINGPONG, 0, 2, 5}, {LOOP_PINGPONG, 4, 3, 7},
                          {LOOP_PINGPONG, 0, 50, 50}, {LOOP_PINGPONG, 20, 600, 900}};
    for (const Loop& l : loops) samples.push_back(addSample(store, l.kind, l.start, l.frames, randomFrames(rng, l.length)));
    Sample silent{};  // like emptySample: no frames, no data, loop kind 0
    samples.push_back(&silent);

    resetVoices();
    for (int i = 1 + static_cast<int>(rng.below(8)); i > 0; --i) {
      startRandomVoice(playerContext->voices[rng.below(VOICE_COUNT)], samples[rng.below(samples.size())], rng);
    }
    for (int call = 0; call < 120; ++call) {
      const std::uint32_t lengths[] = {1, 2, 3, 127, 128, 129, 883, 884};
      const std::uint32_t frameCount = rng.chance(30) ? lengths[rng.below(8)]
                                                      : 1 + static_cast<std::uint32_t>(rng.below(884));
      ASSERT_EQ(mixAgainstTheModel(frameCount, rng.engine()), "") << "seed " << seed << ", call " << call;
      // What the tick processing does between two calls: new targets, new steps, new notes.
      for (Voice& v : playerContext->voices) {
        if (v.sample == nullptr && !rng.chance(3)) continue;
        if (rng.chance(30)) setRandomGains(v, rng);
        if (rng.chance(10)) setRandomStep(v, rng);
        if (rng.chance(5)) startRandomVoice(v, samples[rng.below(samples.size())], rng);
      }
    }
  }
}

//-----------------------------------------------------------------------------
// Long renders: every call of the block fill, seconds long, since positions and ramps carry
// across thousands of calls
//-----------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::uint32_t RENDER_BLOCKS = 4 * 44100 / 884;  // a sanitizer looks for bad reads, not drift
#else
constexpr std::uint32_t RENDER_BLOCKS = 20 * 44100 / 884;
#endif

// The benchmark modules, our own and the real ones; a real one that is not installed fails.
TEST_P(Loops, LongRendersMatchTheModelInEveryCall) {
  useMixerLoops(GetParam());
  std::vector<BenchModule> modules = defaultBenchModules();
  const std::size_t ownModules = modules.size();
  std::vector<std::string> missing;
  for (BenchModule& m : realBenchModules(missing)) modules.push_back(std::move(m));
  EXPECT_EQ(missing, std::vector<std::string>{}) << "scripts/setup.sh installs the real modules";
  for (std::size_t i = 0; i < modules.size(); ++i) {
    const BenchModule& m = modules[i];
    const test_support::LoadedPlayer loaded(m.bytes);
    std::string difference;
    std::uint64_t calls = 0, audibleVoiceFrames = 0;
    test_support::forEachStretch(RENDER_BLOCKS, [&](std::uint64_t frame, std::uint32_t frameCount) {
      if (!difference.empty()) return;
      for (const Voice& v : playerContext->voices) audibleVoiceFrames += v.sample != nullptr && v.leftGain + v.rightGain > 0 ? frameCount : 0;
      difference = mixAgainstTheModel(frameCount, calls++);
      if (!difference.empty()) difference += ", at frame " + std::to_string(frame);
    });
    EXPECT_EQ(difference, "") << m.name;
    // Voices heard, or the comparison would mean little: a few on average in our busy modules,
    // one in the real ones, some of which open quietly.
    EXPECT_GT(audibleVoiceFrames, (i < ownModules ? 3u : 1u) * RENDER_BLOCKS * 884) << m.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Mixer, Loops, ::testing::ValuesIn(ALL_LOOPS),
                         [](const auto& info) { return loopsName(info.param); });

}  // namespace
