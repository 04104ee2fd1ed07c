// Benchmark of mixVoices: 884-frame blocks with 0 to 64 sounding voices on looping samples,
// steps from 0.2 to 4, either steady or starting a new gain ramp in every block, with the
// portable, the SSE2 or the fastest frame loops. Reports output frames per second, seconds per
// voice-frame and the CPU time per second of audio (idle voices: the row of 0 voices). Then 8
// voices at one step each, 0.3, 1.5 and 3 frames, with the fastest loops.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "player/mixer.h"
#include "player/player.h"

namespace {

constexpr std::uint32_t BLOCK_FRAMES = 884;

struct BenchSample {
  std::vector<std::int16_t> frames;
  Sample sample{};
};

// A sample laid out as the loader leaves it: the loop's guard frame, then zero frames.
void makeSample(BenchSample& s, std::mt19937& rng, std::uint8_t loopKind, std::uint32_t length,
                std::uint32_t loopStart) {
  s.frames.assign(length + SAMPLE_PAD_FRAMES, 0);
  std::uniform_int_distribution<int> value(-32768, 32767);
  for (std::uint32_t i = 0; i < length; ++i) s.frames[i] = static_cast<std::int16_t>(value(rng));
  const std::uint32_t loopLength = length - loopStart;
  s.frames[length] = loopKind == LOOP_FORWARD ? s.frames[loopStart] : s.frames[length - 1];
  s.sample = Sample{length, loopStart, loopLength, 64, 0, 128, 0, loopKind, 16, s.frames.data()};
}

void mixBlocks(benchmark::State& state) {
  const int sounding = static_cast<int>(state.range(0));
  const bool ramps = state.range(1) != 0;
  const MixerLoops loops[] = {MixerLoops::Portable, MixerLoops::Sse2, MixerLoops::Fastest};
  useMixerLoops(loops[state.range(2)]);

  std::mt19937 rng(7);
  BenchSample samples[4];
  makeSample(samples[0], rng, LOOP_FORWARD, 4000, 1000);
  makeSample(samples[1], rng, LOOP_PINGPONG, 2500, 0);
  makeSample(samples[2], rng, LOOP_FORWARD, 64, 0);  // a short chip loop: many segments
  makeSample(samples[3], rng, LOOP_PINGPONG, 12000, 6000);

  resetVoices();
  for (int k = 0; k < sounding; ++k) {
    Voice& v = playerContext->voices[k];
    const Sample& s = samples[k % 4].sample;
    v.sample = &s;
    v.direction = DIRECTION_FORWARD;
    v.positionInt = static_cast<std::int32_t>(rng() % s.length);
    // steps spread over 0.2 .. 4 frames per output frame
    const std::uint64_t step = static_cast<std::uint64_t>((0.2 + 3.8 * k / 64.0) * 4294967296.0);
    v.stepInt = static_cast<std::uint32_t>(step >> 32);
    v.stepFrac = static_cast<std::uint32_t>(step);
    v.leftGain = v.rampLeftTarget = 40 + k;
    v.rightGain = v.rampRightTarget = 100 - k;
    v.currentLeftGain = v.leftGain * 256;
    v.currentRightGain = v.rightGain * 256;
  }

  std::vector<float> block(2 * BLOCK_FRAMES, 0.0f);
  for (auto _ : state) {
    if (ramps) {
      for (int k = 0; k < sounding; ++k) playerContext->voices[k].leftGain ^= 16;  // a new target each block
    }
    mixVoices(block.data(), BLOCK_FRAMES);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }

  useMixerLoops(MixerLoops::Fastest);

  const double frames = static_cast<double>(state.iterations()) * BLOCK_FRAMES;
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  // CPU seconds per second of audio at 44100 frames per second: shown with u or m
  state.counters["s/audio-s"] = benchmark::Counter(
      frames / 44100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  if (sounding > 0) {
    // seconds per voice-frame: shown with an SI prefix, n for nanoseconds
    state.counters["s/voice-frame"] = benchmark::Counter(
        frames * sounding, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
}

// 8 voices on the long forward loop, all at one step (in hundredths of a frame): the frame
// loops differ by step, below 1/2, below 2 and from 2 on.
void mixAtStep(benchmark::State& state) {
  const double step = static_cast<double>(state.range(0)) / 100.0;
  std::mt19937 rng(11);
  BenchSample sample;
  makeSample(sample, rng, LOOP_FORWARD, 40000, 1000);
  resetVoices();
  constexpr int SOUNDING = 8;
  for (int k = 0; k < SOUNDING; ++k) {
    Voice& v = playerContext->voices[k];
    v.sample = &sample.sample;
    v.direction = DIRECTION_FORWARD;
    v.positionInt = static_cast<std::int32_t>(1000 + rng() % 30000);
    const auto fixed = static_cast<std::uint64_t>(step * 4294967296.0);
    v.stepInt = static_cast<std::uint32_t>(fixed >> 32);
    v.stepFrac = static_cast<std::uint32_t>(fixed) | 0x1357;  // not a round fraction
    v.leftGain = v.rampLeftTarget = 60;
    v.rightGain = v.rampRightTarget = 90;
    v.currentLeftGain = v.leftGain * 256;
    v.currentRightGain = v.rightGain * 256;
  }
  std::vector<float> block(2 * BLOCK_FRAMES, 0.0f);
  for (auto _ : state) {
    mixVoices(block.data(), BLOCK_FRAMES);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * BLOCK_FRAMES;
  state.counters["s/voice-frame"] = benchmark::Counter(
      frames * SOUNDING, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(mixAtStep)->ArgName("step%")->Arg(30)->Arg(150)->Arg(300);

BENCHMARK(mixBlocks)
    ->ArgNames({"voices", "ramps", "loops"})  // loops: 0 portable, 1 SSE2, 2 fastest
    ->ArgsProduct({{0, 1, 8, 20, 32, 64}, {0, 1}, {0, 1, 2}});

}  // namespace
