// The mixer's voices and mixVoices, which renders the 64 of the player's context (player.h)
// into a float stereo block with linear interpolation and 128-frame gain ramps. Pairs with
// module.h (the Sample data it reads) and voice_update.cpp (which starts voices and sets
// their steps and gains).
#pragma once

#include <cstdint>

#include "player/module.h"

constexpr int VOICE_COUNT = 64;  // channel i plays on voice i or its twin i + 32

constexpr std::uint32_t RAMP_LENGTH = 128;      // frames
constexpr float RAMP_STEP = 1.0f / 128.0f;

constexpr std::int32_t DIRECTION_FORWARD = 1;
constexpr std::int32_t DIRECTION_BACKWARD = 2;  // every value other than 1 plays backward

struct Voice {
  std::int32_t index;            // the voice's own number, 0..63
  std::int32_t volume;           // final volume from the voice update; 128 at full scale
  std::int32_t panning;          // 0 left .. 255 right
  std::uint32_t startOffset;     // frame at which the next start begins
  const Sample* sample;          // null = idle, not mixed
  std::int32_t leftGain;         // target gain of the left float; 255 = 1.0
  std::int32_t rightGain;        // target gain of the right float; 255 = 1.0
  std::int32_t positionInt;      // play position, 32.32 fixed point in sample frames: integer part
  std::uint32_t positionFrac;    //   fraction, in units of 2^-32 frame
  std::uint32_t stepFrac;        // step per output frame, 32.32: fraction
  std::uint32_t stepInt;         //   integer part, below 256
  std::int32_t direction;        // DIRECTION_FORWARD or DIRECTION_BACKWARD
  std::int32_t rampLeftTarget;   // leftGain for which the running ramp was set up
  std::int32_t rampRightTarget;  // rightGain for which the running ramp was set up
  std::int32_t currentLeftGain;  // gain reached so far, 24.8 fixed point (gain x 256)
  std::int32_t currentRightGain;
  float leftRampDelta;           // per-frame gain change of the running ramp; 1.0 = gain 255
  float rightRampDelta;
  std::int32_t rampFramesLeft;   // 0 = no ramp
};

// Clears every voice, then numbers it and gives it a step of 1.0. Part of the player reset.
void resetVoices();

// Adds frameCount stereo frames (1..884 from the block fill) of every sounding voice to out,
// which holds frameCount x 2 floats, left first. Never overwrites, never clips; the values
// are in 16-bit sample units. Runs on the thread that fills blocks.
void mixVoices(float* out, std::uint32_t frameCount);

// mixVoices for a stretch of a block that was cleared to +0.0 and since then only mixed into,
// as every stretch of the block fill is. Mixing never makes -0.0 or NaN, so such a stretch
// holds neither, and voices that are silent for the whole call are walked without first
// looking at it. The same results as mixVoices.
void mixVoicesIntoClearedBlock(float* out, std::uint32_t frameCount);

// The frame loops that mixVoices runs: Fastest (the default) mixes frames in groups, with
// AVX2 and FMA where the CPU has them and SSE2 on any other x86-64, and walks voices whose
// gains are 0 without mixing them; Sse2 is the same with SSE2 even where AVX2 is there;
// Portable is the plain frame loops everywhere. All give the same bits; tests and benchmarks
// compare them.
// Call it while no mixVoices runs.
enum class MixerLoops { Fastest, Sse2, Portable };
void useMixerLoops(MixerLoops loops);

// What useMixerLoops chose, kept in the player's context. fastLoops: the group loops, and
// segments of a silent voice walked without mixing; off for the portable loops.
struct MixerKernels;  // the loops themselves, private to the mixer
struct MixerMode {
  bool fastLoops;
  const MixerKernels* kernels;
};
MixerMode mixerModeFor(MixerLoops loops);

// The player's one conversion from floating point to a signed 32-bit integer: to the nearest
// integer, halves to the even one (127.5 gives 128, 126.5 gives 126). Saturates outside the
// 32-bit range.
std::int32_t roundToInt(double value);
