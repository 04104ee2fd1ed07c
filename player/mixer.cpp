// The 64 voices and mixVoices: each voice is cut into segments at the frame where it meets
// its loop end (or loop start going backward) and where its gain ramp ends, and each segment
// is mixed by a branch-free frame loop. Pairs with mixer.h.
//
// Index
//   [SECTION] Voices and rounding
//   [SECTION] Frame loops
//   [SECTION] Vector frame loops (x86-64: AVX2 with FMA chosen at run time, else SSE2)
//   [SECTION] Segments and end handling

#include "player/mixer.h"

#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define LE_MIXER_X86 1
#endif

//-----------------------------------------------------------------------------
// [SECTION] Voices and rounding
//-----------------------------------------------------------------------------

Voice voices[VOICE_COUNT];

void resetVoices() {
  for (int k = 0; k < VOICE_COUNT; ++k) {
    voices[k] = Voice{};
    voices[k].index = k;
    voices[k].stepInt = 1;
  }
}

std::int32_t roundToInt(double value) {
  // Saturate first: between -2^31 and 2^31 - 1 the nearest integer always fits 32 bits. NaN
  // fails both comparisons and has no nearest integer: it gives 0.
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  if (value != value) return 0;
#if LE_MIXER_X86
  // cvtsd2si rounds in the current mode, as nearbyint does, without a call into libm; nothing
  // in the program changes it from round-to-nearest-even.
  return _mm_cvtsd_si32(_mm_set_sd(value));
#else
  return static_cast<std::int32_t>(std::nearbyint(value));
#endif
}

namespace {

// The single-precision value nearest to 1/255 (0.003921569): the gains of 0..255 scale to
// floats through it.
constexpr float ONE_OVER_255 = 1.0f / 255.0f;

constexpr double TWO_POW_MINUS_31 = 1.0 / 2147483648.0;

// A step of 0 stands in, for the end calculation only, as 256/44100 frame: 24932236 x 2^-32,
// rounded down. Like every step it is then cut to 24 fraction bits: 97391 x 2^-24.
constexpr std::uint32_t ZERO_STEP_FRAC = 24932236;

std::uint64_t packPosition(const Voice& voice) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(voice.positionInt)) << 32) |
         voice.positionFrac;
}

void storePosition(Voice& voice, std::uint64_t position) {
  voice.positionInt = static_cast<std::int32_t>(static_cast<std::uint32_t>(position >> 32));
  voice.positionFrac = static_cast<std::uint32_t>(position);
}

std::int32_t positionIntOf(std::uint64_t position) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(position >> 32));
}

//-----------------------------------------------------------------------------
// [SECTION] Frame loops
//-----------------------------------------------------------------------------

// The interpolated sample at a 32.32 position, using 31 bits of the fraction. The result is
// exact in double: f x (b - a) has at most 31 + 17 significant bits and a + f x (b - a) at
// most 47, so any arrangement of this sum gives the same value.
//
// CLAMP_LOW reads frames below 0 as frame 0. A voice whose loop starts at frame 0 can sit a
// hair below it: a ping-pong turn that lands exactly on the loop start leaves the position
// at -2^-32 (positionInt -1), and a pass that stops up to 2^-24 frame short of a forward loop
// end wraps to just under the loop start. Reading data[-1] there would read outside the
// sample's block; frame 0 is what that position sounds like. Only segments that can reach
// below 0 take this variant, so the usual loop carries no extra test.
template <bool CLAMP_LOW>
inline double sampleAt(const std::int16_t* data, std::uint64_t position) {
  std::int32_t first = positionIntOf(position);
  std::int32_t second = first + 1;
  if constexpr (CLAMP_LOW) {
    first = first < 0 ? 0 : first;
    second = second < 0 ? 0 : second;
  }
  const std::int32_t a = data[first];
  const std::int32_t b = data[second];
  const double f = static_cast<double>(static_cast<std::uint32_t>(position) >> 1) * TWO_POW_MINUS_31;
  return a + f * (b - a);  // b - a in integers: exact, and one conversion fewer
}

// Each sum is formed in double and stored as float, so every frame rounds twice: the
// product value x gain to double, the sum to float.
inline void addFrame(float* frame, double value, double leftGain, double rightGain) {
  frame[0] = static_cast<float>(static_cast<double>(frame[0]) + value * leftGain);
  frame[1] = static_cast<float>(static_cast<double>(frame[1]) + value * rightGain);
}

// The fraction's lowest bit is dropped before each step: the interpolation used 31 bits of
// it. advance is the step or its two's complement, so one 64-bit add moves either way.
inline std::uint64_t advancePosition(std::uint64_t position, std::uint64_t advance) {
  return (position & ~std::uint64_t{1}) + advance;
}

// Frames without a ramp: pairs at the target gains; an odd last frame at the current gains,
// which differ from the targets only when no ramp has snapped them (a target change of less
// than one whole unit leaves the 24.8 fraction in place).
template <bool CLAMP_LOW>
std::uint64_t mixSteady(const std::int16_t* data, std::uint64_t position, std::uint64_t advance,
                        float* frame, std::uint32_t frameCount, double targetLeft,
                        double targetRight, double currentLeft, double currentRight) {
  for (std::uint32_t pairs = frameCount >> 1; pairs != 0; --pairs) {
    const double first = sampleAt<CLAMP_LOW>(data, position);
    position = advancePosition(position, advance);
    const double second = sampleAt<CLAMP_LOW>(data, position);
    position = advancePosition(position, advance);
    addFrame(frame, first, targetLeft, targetRight);
    addFrame(frame + 2, second, targetLeft, targetRight);
    frame += 4;
  }
  if (frameCount & 1) {
    addFrame(frame, sampleAt<CLAMP_LOW>(data, position), currentLeft, currentRight);
    position = advancePosition(position, advance);
  }
  return position;
}

// Ramp frames: the gains start from the float current gains and grow by the float deltas
// after every frame, carried in double across the segment.
template <bool CLAMP_LOW>
std::uint64_t mixRamp(const std::int16_t* data, std::uint64_t position, std::uint64_t advance,
                      float* frame, std::uint32_t frameCount, double& left, double& right,
                      double leftDelta, double rightDelta) {
  double l = left;
  double r = right;
  for (std::uint32_t i = 0; i < frameCount; ++i) {
    addFrame(frame, sampleAt<CLAMP_LOW>(data, position), l, r);
    l += leftDelta;
    r += rightDelta;
    position = advancePosition(position, advance);
    frame += 2;
  }
  left = l;
  right = r;
  return position;
}

//-----------------------------------------------------------------------------
// [SECTION] Vector frame loops (x86-64: AVX2 with FMA chosen at run time, else SSE2)
//-----------------------------------------------------------------------------
// The frames of one segment, four at a time, with the same double operations on every
// output float as the frame loops above and in the same order: a + f x (b - a), times the
// gain, plus the frame, rounded once to float.
//
// The positions have a closed form. Once a frame has cleared the lowest fraction bit and
// added the advance, that bit is the advance's own lowest bit, and the next frame clears it
// again; it never carries into the bits the interpolation reads. So frame k reads
// base + k x stride, where base is the segment's start and stride the advance, both with
// bit 0 cleared, all modulo 2^64 (backward voices add the two's complement of the step).

// The position that the frame loops reach after frameCount frames (at least 1).
std::uint64_t positionAfter(std::uint64_t position, std::uint64_t advance, std::uint64_t frameCount) {
  const std::uint64_t even = ~std::uint64_t{1};
  return (position & even) + frameCount * (advance & even) + (advance & 1);
}

// Adding 0 x value to a frame leaves it as it was, unless the frame holds -0.0 (it becomes
// +0.0 when the product is +0.0) or a NaN (a signalling one comes back quiet). So a voice
// whose gains are all 0 is only walked, not mixed, when its stretch holds neither.
//
// One look per call is enough: mixing never makes either. A NaN needs a NaN or inf - inf,
// and every product here is finite. A sum rounds to -0.0 only from -0.0 + -0.0 or from a
// negative sum below 2^-150, and there is none: a sample value is a multiple of 2^-31 and
// the gains that the voice update and the ramps make are multiples of 2^-39 (the ulp of the
// least current gain, 1/256 x (1/255) as a float; the ramp deltas and the doubles summed
// from them are coarser), so a non-zero product is at least 2^-70 and a multiple of 2^-122,
// and a float plus such a product is 0 or at least 2^-149 in size. The block fill's cleared
// block holds neither, so there the look always finds the stretch clean.
bool holdsNegativeZeroOrNaN(const float* frame, std::uint32_t frameCount) {
  const std::size_t floatCount = 2 * static_cast<std::size_t>(frameCount);
  std::size_t i = 0;
  bool found = false;
#if LE_MIXER_X86
  const __m128i negativeZero = _mm_set1_epi32(static_cast<int>(0x80000000u));
  __m128i any = _mm_setzero_si128();
  for (; i + 4 <= floatCount; i += 4) {
    const __m128 x = _mm_loadu_ps(frame + i);
    any = _mm_or_si128(any, _mm_cmpeq_epi32(_mm_castps_si128(x), negativeZero));
    any = _mm_or_si128(any, _mm_castps_si128(_mm_cmpunord_ps(x, x)));
  }
  found = _mm_movemask_epi8(any) != 0;
#endif
  for (; i < floatCount; ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, frame + i, sizeof bits);
    found = found || bits == 0x80000000u || (bits & 0x7FFFFFFFu) > 0x7F800000u;
  }
  return found;
}

// The stretch of the running mixVoices call, and what the look found in it.
enum class StretchLook { NOT_YET, CLEAN, NOT_CLEAN };
const float* callOut = nullptr;
std::uint32_t callFrameCount = 0;
StretchLook callLook = StretchLook::NOT_YET;

bool silentVoicesMayBeWalked() {
  if (callLook == StretchLook::NOT_YET) {
    callLook = holdsNegativeZeroOrNaN(callOut, callFrameCount) ? StretchLook::NOT_CLEAN
                                                              : StretchLook::CLEAN;
  }
  return callLook == StretchLook::CLEAN;
}

#if LE_MIXER_X86
// The ramp gains of the next four frames, grown one frame after another as mixRamp grows
// them; running holds (left, right) of the next frame.
__attribute__((target("avx2"))) inline void nextRampGains(__m128d& running, __m128d delta,
                                                         __m256d& gain01, __m256d& gain23) {
  const __m128d gain1 = _mm_add_pd(running, delta);
  const __m128d gain2 = _mm_add_pd(gain1, delta);
  const __m128d gain3 = _mm_add_pd(gain2, delta);
  gain01 = _mm256_set_m128d(gain1, running);
  gain23 = _mm256_set_m128d(gain3, gain2);
  running = _mm_add_pd(gain3, delta);
}

// frameCount / 4 groups of four frames. gains holds the (left, right) gains as doubles.
// Steady (RAMP false): the same pair for every frame. RAMP: the gains of the first frame,
// grown by the pair at deltas after every frame, as mixRamp grows them, one frame after
// another; gains holds the gains after the last frame on return. The frames need no low
// clamp: every index is at least 0. Frames a and b of a position are read as one 32-bit
// word (a in the low half) by plain loads: an AVX2 gather of the four words was half as fast
// on the AMD EPYC measured. Steps of 2 frames or more take this loop; smaller ones the
// eight-frame loop below.
template <bool RAMP>
__attribute__((target("avx2"))) void mixQuadsAvx2(const std::int16_t* data, std::uint64_t base,
                                                  std::uint64_t stride, float* frame,
                                                  std::uint32_t frameCount, double* gains,
                                                  const double* deltas) {
  const __m256d gain = _mm256_setr_pd(gains[0], gains[1], gains[0], gains[1]);
  __m128d running = _mm_loadu_pd(gains);  // RAMP: (left, right) of the next frame
  const __m128d delta = RAMP ? _mm_loadu_pd(deltas) : _mm_setzero_pd();
  const auto pairAt = [data](std::uint64_t at) {
    std::int32_t word;
    std::memcpy(&word, data + static_cast<std::int32_t>(at >> 32), sizeof word);
    return word;
  };
  // The interpolation fraction f = (fraction / 2, rounded down) x 2^-31. With bit 0 of the
  // position clear the halving is exact, so f is the fraction word times 2^-32. The word
  // becomes a double exactly by standing as the low half of the double 2^52 + word, from
  // which 2^52 is then taken. No value is carried from group to group but the positions.
  const auto lane = [](std::uint64_t value) { return static_cast<long long>(value); };
  __m256i position = _mm256_setr_epi64x(lane(base), lane(base + stride), lane(base + 2 * stride),
                                        lane(base + 3 * stride));
  const __m256i advance4 = _mm256_set1_epi64x(lane(4 * stride));
  const __m256i twoPow52Bits = _mm256_set1_epi64x(0x4330000000000000);
  const __m256d twoPow52 = _mm256_set1_pd(4503599627370496.0);
  const __m256d twoPowMinus32 = _mm256_set1_pd(1.0 / 4294967296.0);
  const __m128i firstOfPair = _mm_set1_epi32(1);                   // int16 pairs (1, 0)
  const __m128i secondMinusFirst = _mm_set1_epi32(0x0001FFFF);     // int16 pairs (-1, 1)
  const std::uint64_t stride2 = 2 * stride;
  const std::uint64_t stride3 = 3 * stride;
  const std::uint64_t stride4 = 4 * stride;

  std::uint64_t first = base;
  for (std::uint32_t quads = frameCount >> 2; quads != 0; --quads) {
    const __m128i pair = _mm_setr_epi32(pairAt(first), pairAt(first + stride),
                                        pairAt(first + stride2), pairAt(first + stride3));
    first += stride4;
    const __m256d f = _mm256_mul_pd(
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_blend_epi32(position, twoPow52Bits, 0xAA)),
                      twoPow52),
        twoPowMinus32);
    position = _mm256_add_epi64(position, advance4);
    // a x 1 + b x 0 and a x -1 + b x 1, each exact in 32 bits
    const __m128i a = _mm_madd_epi16(pair, firstOfPair);
    const __m128i difference = _mm_madd_epi16(pair, secondMinusFirst);
    const __m256d value = _mm256_add_pd(_mm256_cvtepi32_pd(a),
                                        _mm256_mul_pd(f, _mm256_cvtepi32_pd(difference)));

    // (v0, v0, v1, v1) and (v2, v2, v3, v3) against (L0, R0, L1, R1) and (L2, R2, L3, R3)
    const __m256d value01 = _mm256_permute4x64_pd(value, 0x50);
    const __m256d value23 = _mm256_permute4x64_pd(value, 0xFA);
    __m256d gain01 = gain;
    __m256d gain23 = gain;
    if constexpr (RAMP) nextRampGains(running, delta, gain01, gain23);
    const __m256d out01 = _mm256_cvtps_pd(_mm_loadu_ps(frame));
    const __m256d out23 = _mm256_cvtps_pd(_mm_loadu_ps(frame + 4));
    _mm_storeu_ps(frame, _mm256_cvtpd_ps(_mm256_add_pd(out01, _mm256_mul_pd(value01, gain01))));
    _mm_storeu_ps(frame + 4, _mm256_cvtpd_ps(_mm256_add_pd(out23, _mm256_mul_pd(value23, gain23))));
    frame += 8;
  }
  if constexpr (RAMP) _mm_storeu_pd(gains, running);
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

constexpr char Z = -128;  // a shuffle control byte that yields 0

// The shuffle controls that pick sample a and sample b of four frames out of a 16-byte window:
// byte 4 of each 64-bit lane of position is the frame's offset into the window (0..6),
// doubled it is the byte of a; lowBytes fills the rest of each lane.
__attribute__((target("avx2,fma"))) inline void sampleControls(__m256i position,
                                                               __m256i lowBytes,
                                                               __m256i& controlA,
                                                               __m256i& controlB) {
  const __m256i offsetBytes = _mm256_setr_epi8(4, 4, Z, Z, Z, Z, Z, Z, 12, 12, Z, Z, Z, Z, Z, Z,
                                               4, 4, Z, Z, Z, Z, Z, Z, 12, 12, Z, Z, Z, Z, Z, Z);
  const __m256i offsets = _mm256_shuffle_epi8(position, offsetBytes);
  controlA = _mm256_add_epi8(_mm256_add_epi8(offsets, offsets), lowBytes);
  controlB = _mm256_add_epi8(controlA, _mm256_set1_epi64x(0x0202));
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

// The values (v0, v2, v1, v3) of four frames from the 8 samples that start at their lowest
// frame; position as in sampleControls, with the fraction words in the low halves. The
// shuffles put each int16 in the low bits of a zeroed 64-bit word; flipping its sign bit and
// setting the high bits makes it the double 2^52 + 2^15 + sample.
__attribute__((target("avx2,fma"))) inline __m256d fourValues(const std::int16_t* samples,
                                                              __m256i position) {
  const __m256i bytesOfA = _mm256_setr_epi8(0, 1, Z, Z, Z, Z, Z, Z, 0, 1, Z, Z, Z, Z, Z, Z,
                                            0, 1, Z, Z, Z, Z, Z, Z, 0, 1, Z, Z, Z, Z, Z, Z);
  const __m256i sampleBits = _mm256_set1_epi64x(0x4330000000008000);  // 2^52 + 2^15, sign flip
  const __m256i window =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(samples)));
  __m256i controlA, controlB;
  sampleControls(position, bytesOfA, controlA, controlB);
  const __m256d a =
      _mm256_castsi256_pd(_mm256_xor_si256(_mm256_shuffle_epi8(window, controlA), sampleBits));
  const __m256d b =
      _mm256_castsi256_pd(_mm256_xor_si256(_mm256_shuffle_epi8(window, controlB), sampleBits));
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
  __m256i controlA, controlB;
  sampleControls(position, bytesOfA, controlA, controlB);
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
// after it cover the rest.
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
  __m128d running = _mm_loadu_pd(gains);  // RAMP: (left, right) of the next frame
  const __m128d delta = RAMP ? _mm_loadu_pd(deltas) : _mm_setzero_pd();
  // the position of the lowest frame of the group's first window
  std::uint64_t lowest = base + (BACKWARD ? (WINDOW_FRAMES - 1) * stride : 0);
  const auto samplesAt = [data](std::uint64_t position) {
    return data + static_cast<std::int32_t>(position >> 32);
  };
  for (std::uint32_t groups = frameCount >> 3; groups != 0; --groups) {
    __m256d valueLow, valueHigh;
    if constexpr (ONE_WINDOW) {
      const __m256i window = oneWindow(samplesAt(lowest));
      const __m256i fraction = fractionWords(lowest);
      valueLow = fourValuesFromWindow(window, _mm256_add_epi64(fraction, aboveLow));
      valueHigh = fourValuesFromWindow(window, _mm256_add_epi64(fraction, aboveHigh));
    } else {
      const std::uint64_t lowestHigh = lowest + 4 * stride;
      valueLow = fourValues(samplesAt(lowest), _mm256_add_epi64(fractionWords(lowest), aboveLow));
      valueHigh =
          fourValues(samplesAt(lowestHigh), _mm256_add_epi64(fractionWords(lowestHigh), aboveHigh));
    }
    lowest += 8 * stride;
    __m256d gain01 = gain, gain23 = gain, gain45 = gain, gain67 = gain;
    if constexpr (RAMP) {
      nextRampGains(running, delta, gain01, gain23);
      nextRampGains(running, delta, gain45, gain67);
    }
    addFourFrames(frame, valueLow, gain01, gain23);
    addFourFrames(frame + 8, valueHigh, gain45, gain67);
    frame += 16;
  }
  if constexpr (RAMP) _mm_storeu_pd(gains, running);
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

#endif

// The group loops in use: none (the frame loops), SSE2 pairs or AVX2 quads.
enum class GroupLoops { NONE, SSE2, AVX2 };

GroupLoops bestGroupLoops() {
#if LE_MIXER_X86
  return cpuHasAvx2AndFma() ? GroupLoops::AVX2 : GroupLoops::SSE2;
#else
  return GroupLoops::NONE;
#endif
}

GroupLoops groupLoops = bestGroupLoops();
// Silent segments walked without mixing; off for the portable loops.
bool fastLoops = true;

// Mixes the first frames of a segment in groups and returns how many it mixed: a multiple
// of the group size, at most groupLimit. gains is (left, right); RAMP grows it as mixRamp
// does and leaves the gains after the last mixed frame in it. length: the sample's frames,
// after which the loader leaves 8 more.
template <bool RAMP>
std::uint32_t mixGroups(const std::int16_t* data, std::uint32_t length, std::uint64_t position,
                        std::uint64_t advance, float* frame, std::uint32_t groupLimit,
                        double* gains, const double* deltas) {
  const std::uint64_t even = ~std::uint64_t{1};
  std::uint32_t frameCount = 0;
#if LE_MIXER_X86
  if (groupLoops == GroupLoops::AVX2) {
    const std::uint64_t base = position & even;
    const std::uint64_t stride = advance & even;
    // Steps below 2 frames either way take the windowed eight-frame loop, then at most one
    // group of four.
    const bool backward = (stride >> 63) != 0;
    const bool narrow = (backward ? std::uint64_t{0} - stride : stride) < (std::uint64_t{2} << 32);
    std::uint32_t octetFrames = narrow ? groupLimit & ~7u : 0;
    // Each window reads 8 frames from a frame at most the highest one played, so that frame
    // must not lie past the sample's last frame. A voice normally keeps below its end, but
    // one whose step is below 2^-24 frame measures its end with the zero step's stand-in,
    // turns too early and can wander past it; the frame loops, which read 2 frames, take
    // such stretches.
    if (octetFrames != 0) {
      const std::uint64_t highest = backward ? base : base + (octetFrames - 1) * stride;
      if (positionIntOf(highest) > static_cast<std::int64_t>(length)) octetFrames = 0;
    }
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
    frameCount = octetFrames + quadFrames;
  } else if (groupLoops == GroupLoops::SSE2) {
    frameCount = groupLimit & ~1u;
    if (frameCount != 0) {
      mixPairsSse2<RAMP>(data, position & even, advance & even, frame, frameCount, gains, deltas);
    }
  }
#else
  (void)data, (void)length, (void)position, (void)advance, (void)frame, (void)groupLimit,
      (void)gains, (void)deltas, (void)even;
#endif
  return frameCount;
}

// Steady frames (the rules of mixSteady) with the fast loops; no low clamp.
std::uint64_t mixSteadyFast(const std::int16_t* data, std::uint32_t length, std::uint64_t position,
                            std::uint64_t advance, float* frame, std::uint32_t frameCount,
                            double targetLeft, double targetRight, double currentLeft,
                            double currentRight) {
  if (frameCount == 0) return position;
  const bool oddLast = (frameCount & 1) != 0;
  if (targetLeft == 0.0 && targetRight == 0.0 &&
      (!oddLast || (currentLeft == 0.0 && currentRight == 0.0)) && silentVoicesMayBeWalked()) {
    return positionAfter(position, advance, frameCount);
  }
  // The pairs at the target gains in groups; what is left (the odd frame last) goes through
  // the frame loop, which keeps the parity rule.
  double targets[2] = {targetLeft, targetRight};
  const std::uint32_t grouped =
      mixGroups<false>(data, length, position, advance, frame, frameCount & ~1u, targets, nullptr);
  if (grouped != 0) {
    position = positionAfter(position, advance, grouped);
    frame += 2 * static_cast<std::size_t>(grouped);
    frameCount -= grouped;
  }
  return mixSteady<false>(data, position, advance, frame, frameCount, targetLeft, targetRight,
                          currentLeft, currentRight);
}

// Ramp frames (the rules of mixRamp) with the fast loops; no low clamp.
std::uint64_t mixRampFast(const std::int16_t* data, std::uint32_t length, std::uint64_t position,
                          std::uint64_t advance, float* frame, std::uint32_t frameCount,
                          double& left, double& right, double leftDelta, double rightDelta) {
  double gains[2] = {left, right};
  const double deltas[2] = {leftDelta, rightDelta};
  const std::uint32_t grouped =
      mixGroups<true>(data, length, position, advance, frame, frameCount, gains, deltas);
  if (grouped != 0) {
    left = gains[0];
    right = gains[1];
    position = positionAfter(position, advance, grouped);
    frame += 2 * static_cast<std::size_t>(grouped);
    frameCount -= grouped;
  }
  return mixRamp<false>(data, position, advance, frame, frameCount, left, right, leftDelta,
                        rightDelta);
}

//-----------------------------------------------------------------------------
// [SECTION] Segments and end handling
//-----------------------------------------------------------------------------

// Per-frame gain change for a ramp of diff whole units over RAMP_LENGTH frames. Worked in
// double, diff x (1/255) would be exact (at most 9 + 24 bits for any gain the voice update
// gives) and RAMP_STEP is a power of two, so the one rounding is the store to float; the
// float product below rounds the same exact value once, to the same float.
//
// The gains are worked in float for a second reason: GCC 12 at -O2 vectorised a
// double -> float -> double round trip of the two current gains and dropped the float
// rounding (1.0000000591 reached the frame loop instead of 1.0f). Float arithmetic leaves it
// no such round trip to drop.
float rampDelta(std::int32_t diff) {
  return static_cast<float>(diff) * ONE_OVER_255 * RAMP_STEP;
}

// Turns a ping-pong voice that has reached its loop end (forward) or loop start (backward)
// until its position lies in the loop again. Each turn mirrors the 32.32 position about the
// loop boundary, one 2^-32 short: 2 x boundary - position - 2^-32.
std::uint64_t turnPingPong(Voice& voice, std::uint64_t position, std::uint32_t loopStart,
                           std::uint32_t loopEnd) {
  const std::uint64_t startTwice = static_cast<std::uint64_t>(loopStart) << 33;
  const std::uint64_t endTwice = static_cast<std::uint64_t>(loopEnd) << 33;
  bool forward = voice.direction == DIRECTION_FORWARD;
  for (;;) {
    if (forward) {
      position = endTwice - position - 1;
      forward = false;
      if (positionIntOf(position) >= static_cast<std::int32_t>(loopStart)) break;
    } else {
      position = startTwice - position - 1;
      forward = true;
      if (positionIntOf(position) < static_cast<std::int32_t>(loopEnd)) break;
    }
  }
  voice.direction = forward ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
  return position;
}

// The voice's loop or sample as the segments see it.
struct Bounds {
  std::uint32_t loopStart;
  std::uint32_t loopEnd;  // loopStart + loopLength
  std::uint32_t length;
  std::uint32_t step24;   // the step with 24 fraction bits, 8.24; never 0
};

Bounds boundsOf(const Voice& voice) {
  const Sample& sample = *voice.sample;
  // The step with 24 fraction bits, modulo 2^32 (8.24 fixed point). A step below 2^-24
  // frame, not only the zero step, would give 0 here and divide by zero below; all of them
  // count as the zero step's stand-in.
  std::uint32_t step24 = (voice.stepInt << 24) + (voice.stepFrac >> 8);
  if (step24 == 0) step24 = ZERO_STEP_FRAC >> 8;
  return {sample.loopStart, sample.loopStart + sample.loopLength, sample.length, step24};
}

// The frames of the next segment, at most framesLeft, and whether the voice reaches its end
// (the loop end, the loop start going backward, or the sample's end) after them.
struct Segment {
  std::uint32_t frameCount;
  bool reachesEnd;
};

Segment measureSegment(const Bounds& bounds, bool forward, std::uint64_t position,
                       std::uint32_t framesLeft) {
  // The distance in 32.32; beyond 2^24 frames no stretch can reach the end.
  Segment segment{framesLeft, false};
  std::uint64_t distance;
  if (forward) {
    std::uint32_t end = bounds.loopEnd;
    if (positionIntOf(position) > static_cast<std::int32_t>(end)) end = bounds.length;
    distance = (static_cast<std::uint64_t>(end) << 32) - position;
  } else {
    distance = position - (static_cast<std::uint64_t>(bounds.loopStart) << 32);
  }
  // Already past the end: the frame count of the last stretch came from the step cut to 24
  // fraction bits, so a stretch that stopped short of the end by that count can still cross
  // it by up to frames x (stepFrac & 255) x 2^-32. The end is then handled at once; without
  // this the negative distance would wrap to a huge one and the voice would run on past its
  // data for good.
  if (static_cast<std::int64_t>(distance) < 0) distance = 0;
  if ((distance >> 32) < (std::uint64_t{1} << 24)) {
    // 24 fraction bits on both sides; distance >> 8 is below 2^48, so the rounded-up
    // quotient needs no more than 64 bits even for the smallest step. It is at most
    // framesLeft exactly when the distance is at most framesLeft steps (a product below
    // 2^64), so the division is only made for an end within the stretch.
    const std::uint64_t distance24 = distance >> 8;
    const std::uint32_t step24 = bounds.step24;
    if (distance24 <= static_cast<std::uint64_t>(framesLeft) * step24) {
      segment.frameCount =
          static_cast<std::uint32_t>(distance24 / step24 + (distance24 % step24 != 0 ? 1 : 0));
      segment.reachesEnd = true;
    }
  }
  return segment;
}

// The end handling of a voice that has reached its end: a forward loop moves the position
// back, a ping-pong loop turns it, anything else stops the voice (and then false).
bool passEnd(Voice& voice, const Bounds& bounds, std::uint64_t& position) {
  const std::uint8_t loopKind = voice.sample->loopKind;
  const std::uint32_t loopLength = bounds.loopEnd - bounds.loopStart;
  // A loop of 0 frames can come only from a record the loader never writes; it would
  // wrap or turn for ever, so such a voice ends like one without a loop.
  if (loopKind == LOOP_FORWARD && loopLength != 0) {
    // The repeat compares signed. The end is found with 24 fraction bits, so a pass may
    // stop up to about 2^-24 frame per frame short of the loop end; on a loop that starts
    // at frame 0 the wrap then gives positionInt -1, which unsigned would read as
    // 4294967295 and repeat the subtraction some 2^32 / loopLength times.
    std::uint32_t integer = static_cast<std::uint32_t>(position >> 32) - loopLength;
    while (static_cast<std::int32_t>(integer) >= static_cast<std::int32_t>(bounds.loopEnd)) {
      integer -= loopLength;
    }
    position = (static_cast<std::uint64_t>(integer) << 32) | (position & 0xFFFFFFFFu);
    return true;
  }
  if (loopKind == LOOP_PINGPONG && loopLength != 0) {
    position = turnPingPong(voice, position, bounds.loopStart, bounds.loopEnd);
    return true;
  }
  voice.sample = nullptr;
  voice.positionInt = 0;
  voice.positionFrac = 0;
  return false;
}

// A voice that is silent for the whole call: its targets and the gains it has reached are 0
// and no ramp runs, so no segment sets one up and every frame would add 0 x value. Where the
// stretch is clean, that changes no float (see holdsNegativeZeroOrNaN), so the voice is only
// walked: segment by segment, as mixVoice cuts them, without the gains or the mixing.
bool isSilentThroughout(const Voice& voice) {
  return voice.leftGain == 0 && voice.rightGain == 0 && voice.currentLeftGain == 0 &&
         voice.currentRightGain == 0 && voice.rampFramesLeft == 0;
}

void walkSilentVoice(Voice& voice, std::uint32_t framesLeft) {
  // what each segment's ramp set-up would write
  voice.rampLeftTarget = 0;
  voice.rampRightTarget = 0;
  voice.leftRampDelta = 0.0f;
  voice.rightRampDelta = 0.0f;
  const Bounds bounds = boundsOf(voice);
  const std::uint64_t step = (static_cast<std::uint64_t>(voice.stepInt) << 32) | voice.stepFrac;
  std::uint64_t position = packPosition(voice);
  for (;;) {
    const bool forward = voice.direction == DIRECTION_FORWARD;
    const Segment segment = measureSegment(bounds, forward, position, framesLeft);
    if (segment.frameCount != 0) {
      const std::uint64_t advance = forward ? step : std::uint64_t{0} - step;
      position = positionAfter(position, advance, segment.frameCount);
    }
    if (!segment.reachesEnd) break;
    if (!passEnd(voice, bounds, position)) return;
    framesLeft -= segment.frameCount;
    if (framesLeft == 0) break;
  }
  storePosition(voice, position);
}

void mixVoice(Voice& voice, float* out, std::uint32_t framesLeft) {
  const Sample& sample = *voice.sample;
  const std::int16_t* const data = sample.data;
  const Bounds bounds = boundsOf(voice);
  const std::uint64_t step = (static_cast<std::uint64_t>(voice.stepInt) << 32) | voice.stepFrac;
  std::uint64_t position = packPosition(voice);

  for (;;) {
    const bool forward = voice.direction == DIRECTION_FORWARD;

    const Segment segment = measureSegment(bounds, forward, position, framesLeft);
    std::uint32_t frameCount = segment.frameCount;
    const bool reachesEnd = segment.reachesEnd;

    // The ramp: go on with the running one while its targets stand, else set one up.
    const std::uint32_t unrampedFrames = frameCount;
    std::int32_t rampFrames = 0;
    float leftDelta = 0.0f;
    float rightDelta = 0.0f;
    if (voice.rampFramesLeft != 0 && voice.leftGain == voice.rampLeftTarget &&
        voice.rightGain == voice.rampRightTarget) {
      rampFrames = voice.rampFramesLeft;
      leftDelta = voice.leftRampDelta;
      rightDelta = voice.rightRampDelta;
    } else {
      // >> 8 on the 24.8 gain rounds down, also below 0.
      voice.rampLeftTarget = voice.leftGain;
      const std::int32_t leftDiff = voice.leftGain - (voice.currentLeftGain >> 8);
      if (leftDiff != 0) {
        leftDelta = rampDelta(leftDiff);
        rampFrames = static_cast<std::int32_t>(RAMP_LENGTH);
      }
      voice.leftRampDelta = leftDelta;
      voice.rampRightTarget = voice.rightGain;
      const std::int32_t rightDiff = voice.rightGain - (voice.currentRightGain >> 8);
      if (rightDiff != 0) {
        rightDelta = rampDelta(rightDiff);
        rampFrames = static_cast<std::int32_t>(RAMP_LENGTH);
      }
      voice.rightRampDelta = rightDelta;
    }
    if (rampFrames > 0) {
      voice.rampFramesLeft = rampFrames;
      if (frameCount > static_cast<std::uint32_t>(rampFrames)) {
        frameCount = static_cast<std::uint32_t>(rampFrames);
      }
    }

    // Gains as floats, 1.0 = 255. Gains below 2^24 convert exactly and 1/256 is a power of
    // two, so each float is the exact product rounded once, as if worked in double.
    const float targetLeft = static_cast<float>(voice.leftGain) * ONE_OVER_255;
    const float targetRight = static_cast<float>(voice.rightGain) * ONE_OVER_255;
    const float currentLeft =
        static_cast<float>(voice.currentLeftGain) * (1.0f / 256.0f) * ONE_OVER_255;
    const float currentRight =
        static_cast<float>(voice.currentRightGain) * (1.0f / 256.0f) * ONE_OVER_255;

    const std::uint64_t advance = forward ? step : std::uint64_t{0} - step;
    // Can a frame of this segment read below frame 0? Forward, only if it starts there;
    // backward, if n steps (each up to 2^-32 longer for the dropped bit) can pass 0.
    const bool clampLow =
        positionIntOf(position) < 0 ||
        (!forward && static_cast<std::int64_t>(position) <
                         static_cast<std::int64_t>(frameCount) *
                             static_cast<std::int64_t>(step + 1));

    if (rampFrames > 0) {
      double left = currentLeft;
      double right = currentRight;
      if (clampLow) {
        position = mixRamp<true>(data, position, advance, out, frameCount, left, right,
                                 leftDelta, rightDelta);
      } else if (fastLoops) {
        position = mixRampFast(data, sample.length, position, advance, out, frameCount, left,
                               right, leftDelta, rightDelta);
      } else {
        position = mixRamp<false>(data, position, advance, out, frameCount, left, right,
                                  leftDelta, rightDelta);
      }
      // The reached gains back to 24.8; a zero-frame segment has reached nothing new.
      if (frameCount > 0) {
        voice.currentLeftGain = roundToInt(left * 255.0 * 256.0);
        voice.currentRightGain = roundToInt(right * 255.0 * 256.0);
      }
      voice.rampFramesLeft = rampFrames - static_cast<std::int32_t>(frameCount);
      if (voice.rampFramesLeft == 0) {
        voice.leftRampDelta = 0.0f;
        voice.rightRampDelta = 0.0f;
        voice.currentLeftGain = voice.leftGain * 256;
        voice.currentRightGain = voice.rightGain * 256;
        if (frameCount < unrampedFrames) {
          // The ramp ended before the end: the end is measured again from here.
          framesLeft -= frameCount;
          out += 2 * static_cast<std::size_t>(frameCount);
          continue;
        }
      }
    } else {
      if (clampLow) {
        position = mixSteady<true>(data, position, advance, out, frameCount, targetLeft,
                                   targetRight, currentLeft, currentRight);
      } else if (fastLoops) {
        position = mixSteadyFast(data, sample.length, position, advance, out, frameCount,
                                 targetLeft, targetRight, currentLeft, currentRight);
      } else {
        position = mixSteady<false>(data, position, advance, out, frameCount, targetLeft,
                                    targetRight, currentLeft, currentRight);
      }
    }

    if (!reachesEnd) break;

    if (!passEnd(voice, bounds, position)) return;

    framesLeft -= frameCount;
    if (framesLeft == 0) break;
    out += 2 * static_cast<std::size_t>(frameCount);
  }
  storePosition(voice, position);
}

}  // namespace

void useMixerLoops(MixerLoops loops) {
  fastLoops = loops != MixerLoops::Portable;
  switch (loops) {
    case MixerLoops::Fastest: groupLoops = bestGroupLoops(); break;
#if LE_MIXER_X86
    case MixerLoops::Sse2: groupLoops = GroupLoops::SSE2; break;
#else
    case MixerLoops::Sse2: groupLoops = GroupLoops::NONE; break;
#endif
    case MixerLoops::Portable: groupLoops = GroupLoops::NONE; break;
  }
}

namespace {

void mixAllVoices(float* out, std::uint32_t frameCount, StretchLook look) {
  callOut = out;
  callFrameCount = frameCount;
  callLook = look;
  for (Voice& voice : voices) {
    if (voice.sample == nullptr) continue;
    if (fastLoops && isSilentThroughout(voice) && silentVoicesMayBeWalked()) {
      walkSilentVoice(voice, frameCount);
    } else {
      mixVoice(voice, out, frameCount);
    }
  }
}

}  // namespace

void mixVoices(float* out, std::uint32_t frameCount) {
  mixAllVoices(out, frameCount, StretchLook::NOT_YET);
}

void mixVoicesIntoClearedBlock(float* out, std::uint32_t frameCount) {
  mixAllVoices(out, frameCount, StretchLook::CLEAN);
}
