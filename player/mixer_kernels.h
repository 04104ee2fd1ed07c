// The table between the mixer (mixer.cpp: voices, segments, ends, the frame loops) and its
// group loops for x86-64 (mixer_x86.cpp, built only there). Private to the mixer.
#pragma once

#include <cstdint>

// The integer part of a 32.32 position, which may stand a hair below 0 (-1).
inline std::int32_t positionIntOf(std::uint64_t position) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(position >> 32));
}

constexpr double TWO_POW_MINUS_31 = 1.0 / 2147483648.0;

// The first frames of a segment, for a group loop.
struct GroupRun {
  const std::int16_t* data;
  std::uint32_t length;      // the sample's frames, after which the loader leaves 8 more
  std::uint64_t position;    // 32.32, of the first frame
  std::uint64_t advance;     // the step or, backward, its two's complement
  float* frame;              // the first frame's (left, right)
  std::uint32_t groupLimit;  // frames at most
  const double* deltas;      // ramp loops: the per-frame gain change (left, right)
};

// Mixes the first frames of run in groups and returns how many it mixed: a multiple of the
// group size, at most groupLimit, with the same double operations on every output float as
// the frame loops and in the same order. gains is (left, right); a ramp loop grows it as the
// frame loop does and leaves in it the gains after the last mixed frame.
using GroupLoop = std::uint32_t (*)(const GroupRun& run, double* gains);

// Whether 2 x frameCount floats hold a -0.0 or a NaN.
using StretchLookLoop = bool (*)(const float* frame, std::uint32_t frameCount);

struct MixerKernels {
  GroupLoop steady;  // null: the frame loops mix every frame
  GroupLoop ramp;
  StretchLookLoop holdsNegativeZeroOrNaN;
};

// The x86-64 kernels: AVX2 with FMA where avx2Allowed and the CPU has both, else SSE2.
const MixerKernels& x86Kernels(bool avx2Allowed);
