// The mixer's group loops for x86-64: AVX2 with FMA, chosen at run time, else SSE2; and the
// look for -0.0 and NaN in SSE2. Built only for x86-64; pairs with mixer_kernels.h.
//
// The frames of one segment, four at a time, with the same double operations on every
// output float as the frame loops in mixer.cpp and in the same order: a + f x (b - a), times
// the gain, plus the frame, rounded once to float.
//
// The positions have a closed form. Once a frame has cleared the lowest fraction bit and
// added the advance, that bit is the advance's own lowest bit, and the next frame clears it
// again; it never carries into the bits the interpolation reads. So frame k reads
// base + k x stride, where base is the segment's start and stride the advance, both with
// bit 0 cleared, all modulo 2^64 (backward voices add the two's complement of the step).

#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#include "player/mixer_kernels.h"

namespace {

// A ramp's gains in closed form. The frame loop grows them by one add per frame, and each
// sum is exact where the gains and deltas are multiples of 2^-39 (as every float of at least
// 2^-16 in size is, and so every gain and delta that the voice update and the segments
// make) and no sum reaches 2^14: then it is a multiple of 2^-39 with at most 53 significant
// bits. So frame k's gain is gain + k x delta, which one FMA gives, its product exact; the
// chain of adds, one per frame at 3 cycles each, had bound the ramp loops. mixGroupsAvx2
// checks the condition (rampSumsExact) and leaves other ramps to the frame loops.
struct RampGains {
  __m256d start;  // (left, right, left, right) of the loop's first frame
  __m256d delta;  // the per-frame changes, likewise
  __m256d frame;  // (k, k, k + 1, k + 1) for frame k of the loop, the next group's first
};

__attribute__((target("avx2,fma"))) inline RampGains rampGainsOf(const double* gains,
                                                                 const double* deltas) {
  return {_mm256_setr_pd(gains[0], gains[1], gains[0], gains[1]),
          _mm256_setr_pd(deltas[0], deltas[1], deltas[0], deltas[1]),
          _mm256_setr_pd(0.0, 0.0, 1.0, 1.0)};
}

// The gains of the next four frames, (L0, R0, L1, R1) and (L2, R2, L3, R3).
__attribute__((target("avx2,fma"))) inline void nextRampGains(RampGains& ramp, __m256d& gain01,
                                                              __m256d& gain23) {
  gain01 = _mm256_fmadd_pd(ramp.frame, ramp.delta, ramp.start);
  gain23 = _mm256_fmadd_pd(_mm256_add_pd(ramp.frame, _mm256_set1_pd(2.0)), ramp.delta,
                           ramp.start);
  ramp.frame = _mm256_add_pd(ramp.frame, _mm256_set1_pd(4.0));
}

// The gains after frameCount frames of the ramp at gains, into gains: exact sums, as above.
inline void endRampGains(double* gains, const double* deltas, std::uint32_t frameCount) {
  gains[0] += frameCount * deltas[0];
  gains[1] += frameCount * deltas[1];
}

// Adds four frames, whose values stand in the order (v0, v2, v1, v3), at the gains
// (L0, R0, L1, R1) and (L2, R2, L3, R3).
__attribute__((target("avx2,fma"))) inline void addFourFrames(float* out, __m256d value,
                                                              __m256d gain01, __m256d gain23) {
  const __m256d out01 = _mm256_cvtps_pd(_mm_loadu_ps(out));
  const __m256d out23 = _mm256_cvtps_pd(_mm_loadu_ps(out + 4));
  const __m256d add01 = _mm256_mul_pd(_mm256_unpacklo_pd(value, value), gain01);
  const __m256d add23 = _mm256_mul_pd(_mm256_unpackhi_pd(value, value), gain23);
  _mm_storeu_ps(out, _mm256_cvtpd_ps(_mm256_add_pd(out01, add01)));
  _mm_storeu_ps(out + 4, _mm256_cvtpd_ps(_mm256_add_pd(out23, add23)));
}

// frameCount / 4 groups of four frames. gains holds the (left, right) gains as doubles.
// Steady (RAMP false): the same pair for every frame. RAMP: the gains of the first frame,
// grown by the pair at deltas after every frame, as mixRamp grows them (in closed form: see
// RampGains); gains holds the gains after the last frame on return. The frames need no low
// clamp: every index is at least 0. Frames a and b of a position are read as one 32-bit
// word (a in the low half) by plain loads: an AVX2 gather of the four words was half as fast
// on the AMD EPYC measured. Steps of 2 frames or more take this loop; smaller ones the
// eight-frame loop below.
template <bool RAMP>
__attribute__((target("avx2,fma"))) void mixQuadsAvx2(const std::int16_t* data, std::uint64_t base,
                                                       std::uint64_t stride, float* frame,
                                                       std::uint32_t frameCount, double* gains,
                                                       const double* deltas) {
  const __m256d gain = _mm256_setr_pd(gains[0], gains[1], gains[0], gains[1]);
  RampGains ramp = RAMP ? rampGainsOf(gains, deltas) : RampGains{};
  const auto pairAt = [data](std::uint64_t at) {
    std::int32_t word;
    std::memcpy(&word, data + static_cast<std::int32_t>(at >> 32), sizeof word);
    return word;
  };
  // The interpolation fraction f = (fraction / 2, rounded down) x 2^-31. With bit 0 of the
  // position clear the halving is exact, so f is the fraction word times 2^-32. The word
  // becomes a double exactly by standing as the low half of the double 2^52 + word; times
  // 2^-32 less 2^20 is exact, so FMA's one rounding changes nothing. No value is carried
  // from group to group but the positions. The lanes hold the frames in the order
  // (0, 2, 1, 3), as in the eight-frame loop, for addFourFrames.
  const auto lane = [](std::uint64_t value) { return static_cast<long long>(value); };
  __m256i position = _mm256_setr_epi64x(lane(base), lane(base + 2 * stride), lane(base + stride),
                                        lane(base + 3 * stride));
  const __m256i advance4 = _mm256_set1_epi64x(lane(4 * stride));
  const __m256i twoPow52Bits = _mm256_set1_epi64x(0x4330000000000000);
  const __m256d twoPowMinus32 = _mm256_set1_pd(1.0 / 4294967296.0);
  const __m256d minusTwoPow20 = _mm256_set1_pd(-1048576.0);
  const __m128i firstOfPair = _mm_set1_epi32(1);                   // int16 pairs (1, 0)
  const __m128i secondMinusFirst = _mm_set1_epi32(0x0001FFFF);     // int16 pairs (-1, 1)
  const std::uint64_t stride2 = 2 * stride;
  const std::uint64_t stride3 = 3 * stride;
  const std::uint64_t stride4 = 4 * stride;

  std::uint64_t first = base;
#pragma GCC unroll 4
  for (std::uint32_t quads = frameCount >> 2; quads != 0; --quads) {
    const __m128i pair = _mm_setr_epi32(pairAt(first), pairAt(first + stride2),
                                        pairAt(first + stride), pairAt(first + stride3));
    first += stride4;
    const __m256d f = _mm256_fmadd_pd(
        _mm256_castsi256_pd(_mm256_blend_epi32(position, twoPow52Bits, 0xAA)), twoPowMinus32,
        minusTwoPow20);
    position = _mm256_add_epi64(position, advance4);
    // a x 1 + b x 0 and a x -1 + b x 1, each exact in 32 bits; a + f x (b - a) is exact
    // (see sampleAt), so FMA gives it too
    const __m128i a = _mm_madd_epi16(pair, firstOfPair);
    const __m128i difference = _mm_madd_epi16(pair, secondMinusFirst);
    const __m256d value =
        _mm256_fmadd_pd(f, _mm256_cvtepi32_pd(difference), _mm256_cvtepi32_pd(a));
    __m256d gain01 = gain;
    __m256d gain23 = gain;
    if constexpr (RAMP) nextRampGains(ramp, gain01, gain23);
    addFourFrames(frame, value, gain01, gain23);
    frame += 8;
  }
  if constexpr (RAMP) endRampGains(gains, deltas, frameCount & ~3u);
}

constexpr char Z = -128;  // a shuffle control byte that yields 0

// The shuffle control that picks sample a of four frames out of a 16-byte window (adding
// 0x0202 to each lane picks sample b): byte 4 of each 64-bit lane of position is the frame's
// offset into the window (0..6), doubled it is the byte of a; lowBytes fills the rest of
// each lane.
__attribute__((target("avx2,fma"))) inline __m256i sampleControl(__m256i position,
                                                                 __m256i lowBytes) {
  const __m256i offsetBytes = _mm256_setr_epi8(4, 4, Z, Z, Z, Z, Z, Z, 12, 12, Z, Z, Z, Z, Z, Z,
                                               4, 4, Z, Z, Z, Z, Z, Z, 12, 12, Z, Z, Z, Z, Z, Z);
  const __m256i offsets = _mm256_shuffle_epi8(position, offsetBytes);
  return _mm256_add_epi8(_mm256_add_epi8(offsets, offsets), lowBytes);
}

// a + f x (b - a) of four frames, from a and b as the doubles 2^52 + 2^15 + sample and the
// fraction words in the low halves of position. FMA appears only where its product is exact,
// so its one rounding is the rounding of the plain sum: (2^52 + word) x 2^-32 - 2^20 is the
// fraction times 2^-32, and f x (b - a) + a is exact (at most 47 significant bits, as in
// sampleAt).
__attribute__((target("avx2,fma"))) inline __m256d interpolate(__m256d a, __m256d b,
                                                               __m256i position) {
  const __m256i fractionBits = _mm256_set1_epi64x(0x4330000000000000);  // 2^52
  const __m256d sampleBias = _mm256_set1_pd(4503599627370496.0 + 32768.0);
  const __m256d word = _mm256_castsi256_pd(_mm256_blend_epi32(position, fractionBits, 0xAA));
  const __m256d f =
      _mm256_fmadd_pd(word, _mm256_set1_pd(1.0 / 4294967296.0), _mm256_set1_pd(-1048576.0));
  return _mm256_fmadd_pd(f, _mm256_sub_pd(b, a), _mm256_sub_pd(a, sampleBias));
}

// The 8 samples from first, in both halves.
__attribute__((target("avx2,fma"))) inline __m256i windowAt(const std::int16_t* first) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first)));
}

// The values (v0, v2, v1, v3) of four frames from the 9 samples that start at their lowest
// frame; position as in sampleControl, with the fraction words in the low halves. Sample b
// is picked with the same control as sample a, from the window one frame further on: a load
// is cheaper than the byte adds of a second control. The shuffles put each int16 in the low
// bits of a zeroed 64-bit word; flipping its sign bit and setting the high bits makes it the
// double 2^52 + 2^15 + sample.
__attribute__((target("avx2,fma"))) inline __m256d fourValues(const std::int16_t* samples,
                                                              __m256i position) {
  const __m256i bytesOfA = _mm256_setr_epi8(0, 1, Z, Z, Z, Z, Z, Z, 0, 1, Z, Z, Z, Z, Z, Z,
                                            0, 1, Z, Z, Z, Z, Z, Z, 0, 1, Z, Z, Z, Z, Z, Z);
  const __m256i sampleBits = _mm256_set1_epi64x(0x4330000000008000);  // 2^52 + 2^15, sign flip
  const __m256i control = sampleControl(position, bytesOfA);
  const __m256d a = _mm256_castsi256_pd(
      _mm256_xor_si256(_mm256_shuffle_epi8(windowAt(samples), control), sampleBits));
  const __m256d b = _mm256_castsi256_pd(
      _mm256_xor_si256(_mm256_shuffle_epi8(windowAt(samples + 1), control), sampleBits));
  return interpolate(a, b, position);
}

// The same from a window whose samples' sign bits are flipped and whose last frame holds the
// high bytes of 2^52 (oneWindow): the shuffles then build the doubles in one step. The four
// frames must read within the window's first 6 frames.
__attribute__((target("avx2,fma"))) inline __m256d fourValuesFromWindow(__m256i window,
                                                                        __m256i position) {
  // the two bytes of the sample, zeros, and the window's bytes 14 and 15
  const __m256i bytesOfA = _mm256_setr_epi8(0, 1, Z, Z, Z, Z, 14, 15, 0, 1, Z, Z, Z, Z, 14, 15,
                                            0, 1, Z, Z, Z, Z, 14, 15, 0, 1, Z, Z, Z, Z, 14, 15);
  const __m256i controlA = sampleControl(position, bytesOfA);
  const __m256i controlB = _mm256_add_epi8(controlA, _mm256_set1_epi64x(0x0202));
  const __m256d a = _mm256_castsi256_pd(_mm256_shuffle_epi8(window, controlA));
  const __m256d b = _mm256_castsi256_pd(_mm256_shuffle_epi8(window, controlB));
  return interpolate(a, b, position);
}

__attribute__((target("avx2,fma"))) inline __m256i oneWindow(const std::int16_t* samples) {
  const __m128i signs = _mm_setr_epi16(-32768, -32768, -32768, -32768, -32768, -32768, 0, 0);
  const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
  return _mm256_broadcastsi128_si256(
      _mm_blend_epi16(_mm_xor_si128(loaded, signs), _mm_set1_epi16(0x4330), 0x80));
}

// The fraction word of a 32.32 position in the low half of each 64-bit lane.
__attribute__((target("avx2,fma"))) inline __m256i fractionWords(std::uint64_t position) {
  return _mm256_set1_epi64x(static_cast<long long>(position & 0xFFFFFFFFu));
}

// Eight frames at a time for steps below 2 frames either way, with the same values, products
// and sums as mixQuadsAvx2 and the frame loops, but no integer-to-double conversions: on the
// AMD EPYC measured they all share one unit, and without them a voice-frame took 25 to 30 %
// less time.
//
// Four consecutive frames of such a step read their pairs within 8 sample frames (the last
// pair starts at most 6 frames after the lowest), so each half of the group loads one
// 16-byte window from its lowest frame and picks its samples out of it with byte shuffles.
// ONE_WINDOW, for steps below half a frame: all eight frames read within the first 6 frames
// of one window (the last pair starts at most 4 frames after the lowest), which is prepared
// once per group (oneWindow). A window reads at most 7 frames past a frame that the voice
// plays, which lies below the end of its loop or sample: the guard frame and the zero frames
// after it cover the rest. Without ONE_WINDOW each half also reads the window one frame on,
// 8 frames past its lowest frame; at 0.5 frame a step or more that frame lies at least one
// whole frame below the highest of the four, so again at most 7 past a played frame.
//
// The lanes hold the frames in the order (0, 2, 1, 3): unpacking the values against
// themselves then gives (v0, v0, v1, v1) and (v2, v2, v3, v3), to meet (L, R, L, R) frame
// pairs, without a lane-crossing permute. BACKWARD: the stride is negative (two's
// complement), and the lowest frame of a window is its last.
template <bool RAMP, bool BACKWARD, bool ONE_WINDOW>
__attribute__((target("avx2,fma"))) void mixOctetsAvx2(const std::int16_t* data, std::uint64_t base,
                                                       std::uint64_t stride, float* frame,
                                                       std::uint32_t frameCount, double* gains,
                                                       const double* deltas) {
  const auto lane = [](std::uint64_t value) { return static_cast<long long>(value); };
  // the frames a window serves, and how far frame k of them lies above the lowest: 32.32,
  // below 7 frames
  constexpr std::uint64_t WINDOW_FRAMES = ONE_WINDOW ? 8 : 4;
  const auto above = [stride](std::uint64_t k) {
    return BACKWARD ? (WINDOW_FRAMES - 1 - k) * (std::uint64_t{0} - stride) : k * stride;
  };
  const __m256i aboveLow =
      _mm256_setr_epi64x(lane(above(0)), lane(above(2)), lane(above(1)), lane(above(3)));
  const __m256i aboveHigh =
      ONE_WINDOW
          ? _mm256_setr_epi64x(lane(above(4)), lane(above(6)), lane(above(5)), lane(above(7)))
          : aboveLow;

  const __m256d gain = _mm256_setr_pd(gains[0], gains[1], gains[0], gains[1]);
  RampGains ramp = RAMP ? rampGainsOf(gains, deltas) : RampGains{};
  // the position of the lowest frame of the group's first window
  std::uint64_t lowest = base + (BACKWARD ? (WINDOW_FRAMES - 1) * stride : 0);
  const auto samplesAt = [data](std::uint64_t position) {
    return data + static_cast<std::int32_t>(position >> 32);
  };
  // The fraction words of the two windows' lowest frames, kept in the vector unit: a 32-bit
  // add wraps within the low half of each lane as the fraction does, and leaves the high
  // half 0. The scalar position still gives the windows' first frames.
  const __m256i groupAdvance = fractionWords(8 * stride);
  __m256i fraction = fractionWords(lowest);
  const __m256i halfAdvance = fractionWords(4 * stride);  // from the low window to the high one
#pragma GCC unroll 2
  for (std::uint32_t groups = frameCount >> 3; groups != 0; --groups) {
    __m256d valueLow, valueHigh;
    if constexpr (ONE_WINDOW) {
      const __m256i window = oneWindow(samplesAt(lowest));
      valueLow = fourValuesFromWindow(window, _mm256_add_epi64(fraction, aboveLow));
      valueHigh = fourValuesFromWindow(window, _mm256_add_epi64(fraction, aboveHigh));
    } else {
      const std::uint64_t lowestHigh = lowest + 4 * stride;
      valueLow = fourValues(samplesAt(lowest), _mm256_add_epi64(fraction, aboveLow));
      valueHigh = fourValues(samplesAt(lowestHigh),
                             _mm256_add_epi64(_mm256_add_epi32(fraction, halfAdvance), aboveHigh));
    }
    fraction = _mm256_add_epi32(fraction, groupAdvance);
    lowest += 8 * stride;
    __m256d gain01 = gain, gain23 = gain, gain45 = gain, gain67 = gain;
    if constexpr (RAMP) {
      nextRampGains(ramp, gain01, gain23);
      nextRampGains(ramp, gain45, gain67);
    }
    addFourFrames(frame, valueLow, gain01, gain23);
    addFourFrames(frame + 8, valueHigh, gain45, gain67);
    frame += 16;
  }
  if constexpr (RAMP) endRampGains(gains, deltas, frameCount & ~7u);
}

// The same for x86-64 CPUs without AVX2: frameCount / 2 pairs of frames in SSE2 registers,
// with the same operations on every output float in the same order.
template <bool RAMP>
void mixPairsSse2(const std::int16_t* data, std::uint64_t base, std::uint64_t stride,
                  float* frame, std::uint32_t frameCount, double* gains, const double* deltas) {
  const __m128d gain = _mm_loadu_pd(gains);
  __m128d running = gain;  // RAMP: (left, right) of the next frame
  const __m128d delta = RAMP ? _mm_loadu_pd(deltas) : _mm_setzero_pd();
  const __m128d fractionScale = _mm_set1_pd(TWO_POW_MINUS_31);
  const __m128i firstOfPair = _mm_set1_epi32(1);                // int16 pairs (1, 0)
  const __m128i secondMinusFirst = _mm_set1_epi32(0x0001FFFF);  // int16 pairs (-1, 1)
  const auto pairAt = [data](std::uint64_t at) {
    std::int32_t word;
    std::memcpy(&word, data + static_cast<std::int32_t>(at >> 32), sizeof word);
    return word;
  };
  // the top 31 bits of the fraction, as a non-negative int32
  const auto fraction31 = [](std::uint64_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(at) >> 1);
  };

  std::uint64_t first = base;
  for (std::uint32_t pairs = frameCount >> 1; pairs != 0; --pairs) {
    const std::uint64_t second = first + stride;
    const __m128i pair = _mm_setr_epi32(pairAt(first), pairAt(second), 0, 0);
    const __m128d f = _mm_mul_pd(
        _mm_cvtepi32_pd(_mm_setr_epi32(fraction31(first), fraction31(second), 0, 0)), fractionScale);
    first = second + stride;
    const __m128d value = _mm_add_pd(
        _mm_cvtepi32_pd(_mm_madd_epi16(pair, firstOfPair)),
        _mm_mul_pd(f, _mm_cvtepi32_pd(_mm_madd_epi16(pair, secondMinusFirst))));
    __m128d gain0 = gain;
    __m128d gain1 = gain;
    if constexpr (RAMP) {
      gain0 = running;
      gain1 = _mm_add_pd(running, delta);
      running = _mm_add_pd(gain1, delta);
    }
    // (left, right) of each frame as two floats, widened to doubles
    const __m128d out0 = _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(frame))));
    const __m128d out1 = _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(frame + 2))));
    const __m128 sum0 = _mm_cvtpd_ps(_mm_add_pd(out0, _mm_mul_pd(_mm_unpacklo_pd(value, value), gain0)));
    const __m128 sum1 = _mm_cvtpd_ps(_mm_add_pd(out1, _mm_mul_pd(_mm_unpackhi_pd(value, value), gain1)));
    _mm_storeu_ps(frame, _mm_movelh_ps(sum0, sum1));
    frame += 4;
  }
  if constexpr (RAMP) _mm_storeu_pd(gains, running);
}

bool cpuHasAvx2AndFma() {
  __builtin_cpu_init();  // may run before the constructors that would otherwise do it
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

constexpr std::uint64_t EVEN = ~std::uint64_t{1};

// Whether every gain of a ramp of frameCount frames at gains is exact in double: see
// RampGains. The bound is kept at 2^13, clear of the rounding of the test itself.
bool rampSumsExact(const double* gains, const double* deltas, std::uint32_t frameCount) {
  const auto multipleOf2PowMinus39 = [](double value) {
    const double scaled = value * 549755813888.0;  // x 2^39, exact
    return std::fabs(scaled) < 4503599627370496.0 &&
           scaled == static_cast<double>(static_cast<std::int64_t>(scaled));
  };
  for (int side = 0; side < 2; ++side) {
    if (!multipleOf2PowMinus39(gains[side]) || !multipleOf2PowMinus39(deltas[side])) return false;
    if (std::fabs(gains[side]) + frameCount * std::fabs(deltas[side]) >= 8192.0) return false;
  }
  return true;
}

template <bool RAMP>
std::uint32_t mixGroupsAvx2(const GroupRun& run, double* gains) {
  const std::uint64_t base = run.position & EVEN;
  const std::uint64_t stride = run.advance & EVEN;
  const std::uint32_t groupLimit = run.groupLimit;
  if (RAMP && !rampSumsExact(gains, run.deltas, groupLimit)) return 0;
  // Steps below 2 frames either way take the windowed eight-frame loop, then at most one
  // group of four.
  const bool backward = (stride >> 63) != 0;
  const bool narrow = (backward ? std::uint64_t{0} - stride : stride) < (std::uint64_t{2} << 32);
  std::uint32_t octetFrames = narrow ? groupLimit & ~7u : 0;
  // Each window reads 8 frames from a frame at most the highest one played (or, one frame
  // on, from a frame below it: see mixOctetsAvx2), so that frame must not lie past the
  // sample's last frame. A voice normally keeps below its end, but one whose step is below
  // 2^-24 frame measures its end with the zero step's stand-in, turns too early and can
  // wander past it; the frame loops, which read 2 frames, take such stretches.
  if (octetFrames != 0) {
    const std::uint64_t highest = backward ? base : base + (octetFrames - 1) * stride;
    if (positionIntOf(highest) > static_cast<std::int64_t>(run.length)) octetFrames = 0;
  }
  const std::int16_t* const data = run.data;
  float* const frame = run.frame;
  const double* const deltas = run.deltas;
  if (octetFrames != 0) {
    const bool slow = (backward ? std::uint64_t{0} - stride : stride) < (std::uint64_t{1} << 31);
    if (slow && backward) {
      mixOctetsAvx2<RAMP, true, true>(data, base, stride, frame, octetFrames, gains, deltas);
    } else if (slow) {
      mixOctetsAvx2<RAMP, false, true>(data, base, stride, frame, octetFrames, gains, deltas);
    } else if (backward) {
      mixOctetsAvx2<RAMP, true, false>(data, base, stride, frame, octetFrames, gains, deltas);
    } else {
      mixOctetsAvx2<RAMP, false, false>(data, base, stride, frame, octetFrames, gains, deltas);
    }
  }
  const std::uint32_t quadFrames = (groupLimit - octetFrames) & ~3u;
  if (quadFrames != 0) {
    float* const quadFrame = frame + 2 * static_cast<std::size_t>(octetFrames);
    mixQuadsAvx2<RAMP>(data, base + octetFrames * stride, stride, quadFrame, quadFrames, gains,
                       deltas);
  }
  return octetFrames + quadFrames;
}

template <bool RAMP>
std::uint32_t mixGroupsSse2(const GroupRun& run, double* gains) {
  const std::uint32_t frameCount = run.groupLimit & ~1u;
  if (frameCount != 0) {
    mixPairsSse2<RAMP>(run.data, run.position & EVEN, run.advance & EVEN, run.frame, frameCount,
                       gains, run.deltas);
  }
  return frameCount;
}

// Four floats at a time, then the rest one by one.
bool holdsNegativeZeroOrNaNSse2(const float* frame, std::uint32_t frameCount) {
  const std::size_t floatCount = 2 * static_cast<std::size_t>(frameCount);
  std::size_t i = 0;
  const __m128i negativeZero = _mm_set1_epi32(static_cast<int>(0x80000000u));
  __m128i any = _mm_setzero_si128();
  for (; i + 4 <= floatCount; i += 4) {
    const __m128 x = _mm_loadu_ps(frame + i);
    any = _mm_or_si128(any, _mm_cmpeq_epi32(_mm_castps_si128(x), negativeZero));
    any = _mm_or_si128(any, _mm_castps_si128(_mm_cmpunord_ps(x, x)));
  }
  bool found = _mm_movemask_epi8(any) != 0;
  for (; i < floatCount; ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, frame + i, sizeof bits);
    found = found || bits == 0x80000000u || (bits & 0x7FFFFFFFu) > 0x7F800000u;
  }
  return found;
}

constexpr MixerKernels AVX2_KERNELS = {mixGroupsAvx2<false>, mixGroupsAvx2<true>,
                                       holdsNegativeZeroOrNaNSse2};
constexpr MixerKernels SSE2_KERNELS = {mixGroupsSse2<false>, mixGroupsSse2<true>,
                                       holdsNegativeZeroOrNaNSse2};

}  // namespace

const MixerKernels& x86Kernels(bool avx2Allowed) {
  return avx2Allowed && cpuHasAvx2AndFma() ? AVX2_KERNELS : SSE2_KERNELS;
}
