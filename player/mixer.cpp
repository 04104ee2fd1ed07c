// The 64 voices and mixVoices: each voice is cut into segments at the frame where it meets
// its loop end (or loop start going backward) and where its gain ramp ends, and each segment
// is mixed by a branch-free frame loop, or first in groups by the loops of mixer_x86.cpp.
// Pairs with mixer.h.
//
// Index
//   [SECTION] Voices and rounding
//   [SECTION] Frame loops
//   [SECTION] The fast loops and the mixer's mode
//   [SECTION] Segments and end handling
//   [SECTION] Voices through a call

#include "player/mixer.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "player/mixer_kernels.h"
#include "player/player.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

//-----------------------------------------------------------------------------
// [SECTION] Voices and rounding
//-----------------------------------------------------------------------------

void resetVoices() {
  Voice* const voices = playerContext->voices;
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
#if defined(__x86_64__) || defined(_M_X64)
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

// The step per output frame, 32.32.
std::uint64_t stepOf(const Voice& voice) {
  return (static_cast<std::uint64_t>(voice.stepInt) << 32) | voice.stepFrac;
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
// [SECTION] The fast loops and the mixer's mode
//-----------------------------------------------------------------------------

// The position that the frame loops reach after frameCount frames (at least 1). Frame k of a
// segment reads (position with bit 0 cleared) + k x (advance with bit 0 cleared): each frame
// clears the bit that the advance before it set, and it never carries into the bits the
// interpolation reads.
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
  bool found = false;
  for (std::size_t i = 0; i < 2 * static_cast<std::size_t>(frameCount); ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, frame + i, sizeof bits);
    found = found || bits == 0x80000000u || (bits & 0x7FFFFFFFu) > 0x7F800000u;
  }
  return found;
}

constexpr MixerKernels PORTABLE_KERNELS = {nullptr, nullptr, holdsNegativeZeroOrNaN};

// The kernels of loops: the group loops of this CPU for the fast ones, none for Portable.
const MixerKernels& kernelsFor(MixerLoops loops) {
#if LE_MIXER_X86
  if (loops != MixerLoops::Portable) return x86Kernels(loops == MixerLoops::Fastest);
#else
  (void)loops;
#endif
  return PORTABLE_KERNELS;
}

// One mixVoices call: its stretch of the block, what the look found there (once per call),
// and the mode it runs in.
enum class StretchLook { NOT_YET, CLEAN, NOT_CLEAN };
struct MixCall {
  const float* out;
  std::uint32_t frameCount;
  StretchLook look;
  MixerMode mode;

  bool silentVoicesMayBeWalked() {
    if (look == StretchLook::NOT_YET) {
      look = mode.kernels->holdsNegativeZeroOrNaN(out, frameCount) ? StretchLook::NOT_CLEAN
                                                                   : StretchLook::CLEAN;
    }
    return look == StretchLook::CLEAN;
  }
};

// Mixes the first frames of a segment in groups (see GroupLoop) and returns how many.
template <bool RAMP>
std::uint32_t mixGroups(const MixCall& call, const GroupRun& run, double* gains) {
  const GroupLoop loop = RAMP ? call.mode.kernels->ramp : call.mode.kernels->steady;
  return loop != nullptr ? loop(run, gains) : 0;
}

// Steady frames (the rules of mixSteady) with the fast loops; no low clamp. length: the
// sample's frames. Built in where it is used: out of line, its eleven arguments cost more
// than its own work on short segments.
__attribute__((always_inline)) inline std::uint64_t mixSteadyFast(
    MixCall& call, const std::int16_t* data, std::uint32_t length, std::uint64_t position,
    std::uint64_t advance, float* frame, std::uint32_t frameCount, double targetLeft,
    double targetRight, double currentLeft, double currentRight) {
  if (frameCount == 0) return position;
  const bool oddLast = (frameCount & 1) != 0;
  if (targetLeft == 0.0 && targetRight == 0.0 &&
      (!oddLast || (currentLeft == 0.0 && currentRight == 0.0)) &&
      call.silentVoicesMayBeWalked()) {
    return positionAfter(position, advance, frameCount);
  }
  // The pairs at the target gains in groups; what is left (the odd frame last) goes through
  // the frame loop, which keeps the parity rule.
  double targets[2] = {targetLeft, targetRight};
  const std::uint32_t grouped = mixGroups<false>(
      call, {data, length, position, advance, frame, frameCount & ~1u, nullptr}, targets);
  if (grouped != 0) {
    position = positionAfter(position, advance, grouped);
    frame += 2 * static_cast<std::size_t>(grouped);
    frameCount -= grouped;
    if (frameCount == 0) return position;
  }
  return mixSteady<false>(data, position, advance, frame, frameCount, targetLeft, targetRight,
                          currentLeft, currentRight);
}

// Ramp frames (the rules of mixRamp) with the fast loops; no low clamp.
std::uint64_t mixRampFast(const MixCall& call, const std::int16_t* data, std::uint32_t length,
                          std::uint64_t position, std::uint64_t advance, float* frame,
                          std::uint32_t frameCount, double& left, double& right,
                          double leftDelta, double rightDelta) {
  double gains[2] = {left, right};
  const double deltas[2] = {leftDelta, rightDelta};
  const std::uint32_t grouped = mixGroups<true>(
      call, {data, length, position, advance, frame, frameCount, deltas}, gains);
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

// Built into each segment loop, as passEnd is: GCC 12 kept both out of line, and the calls,
// one or two per segment of every walk and mix, took 5 to 9 % of the CPU time of the real
// and busy modules, most of it where silent voices walk short loops.
__attribute__((always_inline)) inline Segment measureSegment(const Bounds& bounds, bool forward,
                                                             std::uint64_t position,
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

// A forward loop's wrap: the position moved back by whole loop lengths until it lies below
// the loop end. loopLength is not 0.
__attribute__((always_inline)) inline std::uint64_t wrapForwardLoop(const Bounds& bounds,
                                                                    std::uint32_t loopLength,
                                                                    std::uint64_t position) {
  // The repeat compares signed. The end is found with 24 fraction bits, so a pass may stop
  // up to about 2^-24 frame per frame short of the loop end; on a loop that starts at frame
  // 0 the wrap then gives positionInt -1, which unsigned would read as 4294967295 and repeat
  // the subtraction some 2^32 / loopLength times.
  std::uint32_t integer = static_cast<std::uint32_t>(position >> 32) - loopLength;
  while (static_cast<std::int32_t>(integer) >= static_cast<std::int32_t>(bounds.loopEnd)) {
    integer -= loopLength;
  }
  return (static_cast<std::uint64_t>(integer) << 32) | (position & 0xFFFFFFFFu);
}

// The end handling of a voice that has reached its end: a forward loop moves the position
// back, a ping-pong loop turns it, anything else stops the voice (and then false).
__attribute__((always_inline)) inline bool passEnd(Voice& voice, const Bounds& bounds,
                                                   std::uint64_t& position) {
  const std::uint8_t loopKind = voice.sample->loopKind;
  const std::uint32_t loopLength = bounds.loopEnd - bounds.loopStart;
  // A loop of 0 frames can come only from a record the loader never writes; it would
  // wrap or turn for ever, so such a voice ends like one without a loop.
  if (loopKind == LOOP_FORWARD && loopLength != 0) {
    position = wrapForwardLoop(bounds, loopLength, position);
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
  const std::uint64_t step = stepOf(voice);
  std::uint64_t position = packPosition(voice);
  if (voice.direction == DIRECTION_FORWARD && voice.sample->loopKind == LOOP_FORWARD &&
      bounds.loopEnd != bounds.loopStart) {
    // A forward loop keeps the voice forward: the same segments and wraps, with the
    // direction and the loop kind taken once.
    const std::uint32_t loopLength = bounds.loopEnd - bounds.loopStart;
    for (;;) {
      const Segment segment = measureSegment(bounds, true, position, framesLeft);
      if (segment.frameCount != 0) position = positionAfter(position, step, segment.frameCount);
      if (!segment.reachesEnd) break;
      position = wrapForwardLoop(bounds, loopLength, position);
      framesLeft -= segment.frameCount;
      if (framesLeft == 0) break;
    }
    storePosition(voice, position);
    return;
  }
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

//-----------------------------------------------------------------------------
// [SECTION] Voices through a call
//-----------------------------------------------------------------------------

// The gain ramp of a segment: frames 0 for none, else the frames it has left and the float
// per-frame gain changes (1.0 = gain 255).
struct Ramp {
  std::int32_t frames;
  float leftDelta;
  float rightDelta;
};

// One side's per-frame change from the 24.8 gain reached towards the target (0 where it is
// reached); a side that moves gives the ramp its RAMP_LENGTH frames. >> 8 on the 24.8 gain
// rounds down, also below 0.
float sideRampDelta(std::int32_t target, std::int32_t current24p8, std::int32_t& frames) {
  const std::int32_t diff = target - (current24p8 >> 8);
  if (diff == 0) return 0.0f;
  frames = static_cast<std::int32_t>(RAMP_LENGTH);
  return rampDelta(diff);
}

// Goes on with the running ramp while its targets stand, else sets one up from the gains
// reached towards the targets (none where both are reached).
Ramp rampOf(Voice& voice) {
  if (voice.rampFramesLeft != 0 && voice.leftGain == voice.rampLeftTarget &&
      voice.rightGain == voice.rampRightTarget) {
    return {voice.rampFramesLeft, voice.leftRampDelta, voice.rightRampDelta};
  }
  Ramp ramp{0, 0.0f, 0.0f};
  voice.rampLeftTarget = voice.leftGain;
  ramp.leftDelta = sideRampDelta(voice.leftGain, voice.currentLeftGain, ramp.frames);
  voice.leftRampDelta = ramp.leftDelta;
  voice.rampRightTarget = voice.rightGain;
  ramp.rightDelta = sideRampDelta(voice.rightGain, voice.currentRightGain, ramp.frames);
  voice.rightRampDelta = ramp.rightDelta;
  return ramp;
}

// The frames of one segment for the frame or fast loops.
struct FrameRun {
  const Sample* sample;
  std::uint64_t position;  // 32.32
  std::uint64_t advance;   // the step or its two's complement
  float* frame;
  std::uint32_t frameCount;
  // A frame may read below frame 0: forward only from a start there; backward where n steps
  // (each up to 2^-32 longer for the dropped bit) can pass 0.
  bool clampLow;
};

FrameRun frameRunOf(const Voice& voice, bool forward, std::uint64_t position, float* out,
                    std::uint32_t frameCount) {
  const std::uint64_t step = stepOf(voice);
  const bool clampLow =
      positionIntOf(position) < 0 ||
      (!forward && static_cast<std::int64_t>(position) <
                       static_cast<std::int64_t>(frameCount) * static_cast<std::int64_t>(step + 1));
  return {voice.sample, position, forward ? step : std::uint64_t{0} - step, out, frameCount,
          clampLow};
}

// The gains as floats, 1.0 = 255. Gains below 2^24 convert exactly and 1/256 is a power of
// two, so each float is the exact product rounded once, as if worked in double.
float targetGainOf(std::int32_t gain) { return static_cast<float>(gain) * ONE_OVER_255; }
float currentGainOf(std::int32_t gain24p8) {
  return static_cast<float>(gain24p8) * (1.0f / 256.0f) * ONE_OVER_255;
}

// Mixes a ramp segment and keeps what it reached: the gains, back in 24.8, and the ramp's
// frames; an ended ramp snaps the gains to their targets.
std::uint64_t mixRampSegment(const MixCall& call, Voice& voice, const Ramp& ramp,
                             const FrameRun& run) {
  const std::int16_t* const data = run.sample->data;
  double left = currentGainOf(voice.currentLeftGain);
  double right = currentGainOf(voice.currentRightGain);
  std::uint64_t position;
  if (run.clampLow) {
    position = mixRamp<true>(data, run.position, run.advance, run.frame, run.frameCount, left,
                             right, ramp.leftDelta, ramp.rightDelta);
  } else if (call.mode.fastLoops) {
    position = mixRampFast(call, data, run.sample->length, run.position, run.advance, run.frame,
                           run.frameCount, left, right, ramp.leftDelta, ramp.rightDelta);
  } else {
    position = mixRamp<false>(data, run.position, run.advance, run.frame, run.frameCount, left,
                              right, ramp.leftDelta, ramp.rightDelta);
  }
  // A zero-frame segment has reached nothing new.
  if (run.frameCount > 0) {
    voice.currentLeftGain = roundToInt(left * 255.0 * 256.0);
    voice.currentRightGain = roundToInt(right * 255.0 * 256.0);
  }
  voice.rampFramesLeft = ramp.frames - static_cast<std::int32_t>(run.frameCount);
  if (voice.rampFramesLeft == 0) {
    voice.leftRampDelta = 0.0f;
    voice.rightRampDelta = 0.0f;
    voice.currentLeftGain = voice.leftGain * 256;
    voice.currentRightGain = voice.rightGain * 256;
  }
  return position;
}

std::uint64_t mixSteadySegment(MixCall& call, const Voice& voice, const FrameRun& run) {
  const std::int16_t* const data = run.sample->data;
  const double targetLeft = targetGainOf(voice.leftGain);
  const double targetRight = targetGainOf(voice.rightGain);
  const double currentLeft = currentGainOf(voice.currentLeftGain);
  const double currentRight = currentGainOf(voice.currentRightGain);
  if (run.clampLow) {
    return mixSteady<true>(data, run.position, run.advance, run.frame, run.frameCount,
                           targetLeft, targetRight, currentLeft, currentRight);
  }
  if (call.mode.fastLoops) {
    return mixSteadyFast(call, data, run.sample->length, run.position, run.advance, run.frame,
                         run.frameCount, targetLeft, targetRight, currentLeft, currentRight);
  }
  return mixSteady<false>(data, run.position, run.advance, run.frame, run.frameCount,
                          targetLeft, targetRight, currentLeft, currentRight);
}

// The window loops read up to 8 frames past the highest frame they play; a stretch that plays
// through a loop run keeps its reads this far below the run's end.
constexpr std::uint32_t LOOP_RUN_SLACK = 16;

// A steady voice on a forward loop that has a run (Sample::loopRun), mixed across its wraps
// as one stretch of the run where every wrap of the call is exact; false, with nothing done,
// where one is not. The segments are measured as mixSteadyRest measures them. A wrap is exact
// when the segment's last frame lies below the loop end and the next at most one loop length
// above it: then frame k of the call reads at its position plus the loop lengths wrapped
// before it, whose frames in the run hold the values that the loop's own frames and its
// guard frame give, at the same fraction, so the closed form of the positions (see
// positionAfter) holds across the wraps. A segment cut a hair short of the end or past it
// by the 24-bit step leaves this to the segments. The gains must be the same for every
// frame (the segments' odd last frames take the current gains). Out of line: built into
// mixSteadyRest it cost the voices without a run more than it saved.
__attribute__((noinline)) bool mixAcrossWraps(MixCall& call, Voice& voice, const Bounds& bounds,
                                              std::uint64_t position, Segment segment,
                                              float* out, std::uint32_t framesLeft,
                                              double gainLeft, double gainRight) {
  const std::int32_t loopStart = static_cast<std::int32_t>(bounds.loopStart);
  const std::int32_t loopEnd = static_cast<std::int32_t>(bounds.loopEnd);
  const std::uint32_t loopLength = bounds.loopEnd - bounds.loopStart;
  if (positionIntOf(position) < loopStart || positionIntOf(position) >= loopEnd) return false;
  const std::uint64_t step = stepOf(voice);
  // The run holds the loop from frame 0: the whole call must read below its end.
  const std::uint64_t runStart = position - (static_cast<std::uint64_t>(bounds.loopStart) << 32);
  const std::uint64_t runLast = positionAfter(runStart, step, framesLeft);  // one frame on
  if ((runLast >> 32) + LOOP_RUN_SLACK >= LOOP_RUN_FRAMES) return false;

  std::uint64_t at = position;
  std::uint32_t framesToGo = framesLeft;
  bool wrapped = false;
  for (;;) {
    if (!segment.reachesEnd) {
      at = positionAfter(at, step, framesToGo);
      break;
    }
    const std::uint32_t frameCount = segment.frameCount;
    if (frameCount == 0) return false;
    const std::uint64_t last = frameCount == 1 ? at : positionAfter(at, step, frameCount - 1);
    if (positionIntOf(last) >= loopEnd) return false;
    const std::uint64_t after = positionAfter(at, step, frameCount);
    const std::int32_t wrappedInt = positionIntOf(after) - static_cast<std::int32_t>(loopLength);
    if (wrappedInt < loopStart || wrappedInt >= loopEnd) return false;
    at = after - (static_cast<std::uint64_t>(loopLength) << 32);
    wrapped = true;
    framesToGo -= frameCount;
    if (framesToGo == 0) break;
    segment = measureSegment(bounds, true, at, framesToGo);
  }
  if (!wrapped) return false;
  mixSteadyFast(call, voice.sample->loopRun, LOOP_RUN_FRAMES - LOOP_RUN_SLACK, runStart, step,
                out, framesLeft, gainLeft, gainRight, gainLeft, gainRight);
  storePosition(voice, at);
  return true;
}

// The rest of a call with the fast loops once a segment has no ramp and none is left running:
// no later segment of the call sets one up either (the steady frames change neither the
// gains reached nor the targets, so rampOf would find the same nothing to ramp each time),
// so the gains are converted once for all of them. (A ramp count left over from targets
// that moved to the gains reached would make the next segment a ramp of zero deltas at the
// current gains.) segment: the first of them, measured from position.
void mixSteadyRest(MixCall& call, Voice& voice, const Bounds& bounds, std::uint64_t position,
                   Segment segment, float* out, std::uint32_t framesLeft) {
  const std::int16_t* const data = voice.sample->data;
  const std::uint32_t length = bounds.length;
  const double targetLeft = targetGainOf(voice.leftGain);
  const double targetRight = targetGainOf(voice.rightGain);
  const double currentLeft = currentGainOf(voice.currentLeftGain);
  const double currentRight = currentGainOf(voice.currentRightGain);
  if (voice.sample->loopRun != nullptr && voice.direction == DIRECTION_FORWARD &&
      segment.reachesEnd && currentLeft == targetLeft && currentRight == targetRight &&
      mixAcrossWraps(call, voice, bounds, position, segment, out, framesLeft, targetLeft,
                     targetRight)) {
    return;
  }
  for (;;) {
    const bool forward = voice.direction == DIRECTION_FORWARD;
    const FrameRun run = frameRunOf(voice, forward, position, out, segment.frameCount);
    if (run.clampLow) {
      position = mixSteady<true>(data, run.position, run.advance, run.frame, run.frameCount,
                                 targetLeft, targetRight, currentLeft, currentRight);
    } else {
      position = mixSteadyFast(call, data, length, run.position, run.advance, run.frame,
                               run.frameCount, targetLeft, targetRight, currentLeft, currentRight);
    }
    if (!segment.reachesEnd) break;
    if (!passEnd(voice, bounds, position)) return;
    framesLeft -= segment.frameCount;
    if (framesLeft == 0) break;
    out += 2 * static_cast<std::size_t>(segment.frameCount);
    segment = measureSegment(bounds, voice.direction == DIRECTION_FORWARD, position, framesLeft);
  }
  storePosition(voice, position);
}

// Segment by segment: measure the way to the end, cut it at the end of the ramp, mix it,
// and pass the end where it was reached.
void mixVoice(MixCall& call, Voice& voice, float* out, std::uint32_t framesLeft) {
  const Bounds bounds = boundsOf(voice);
  std::uint64_t position = packPosition(voice);
  for (;;) {
    const bool forward = voice.direction == DIRECTION_FORWARD;
    const Segment segment = measureSegment(bounds, forward, position, framesLeft);
    const Ramp ramp = rampOf(voice);
    if (ramp.frames == 0 && voice.rampFramesLeft == 0 && call.mode.fastLoops) {
      mixSteadyRest(call, voice, bounds, position, segment, out, framesLeft);
      return;
    }
    std::uint32_t frameCount = segment.frameCount;
    if (ramp.frames > 0 && frameCount > static_cast<std::uint32_t>(ramp.frames)) {
      frameCount = static_cast<std::uint32_t>(ramp.frames);
    }
    const FrameRun run = frameRunOf(voice, forward, position, out, frameCount);
    position = ramp.frames > 0 ? mixRampSegment(call, voice, ramp, run)
                               : mixSteadySegment(call, voice, run);
    // A ramp that ends first leaves the end to be measured again from there.
    const bool cutByRamp = frameCount < segment.frameCount;
    if (!cutByRamp && !segment.reachesEnd) break;
    if (!cutByRamp && !passEnd(voice, bounds, position)) return;
    framesLeft -= frameCount;
    if (framesLeft == 0) break;
    out += 2 * static_cast<std::size_t>(frameCount);
  }
  storePosition(voice, position);
}

void mixAllVoices(float* out, std::uint32_t frameCount, StretchLook look) {
  MixCall call{out, frameCount, look, playerContext->mode};
  for (Voice& voice : playerContext->voices) {
    if (voice.sample == nullptr) continue;
    if (call.mode.fastLoops && isSilentThroughout(voice) && call.silentVoicesMayBeWalked()) {
      walkSilentVoice(voice, frameCount);
    } else {
      mixVoice(call, voice, out, frameCount);
    }
  }
}

}  // namespace

MixerMode mixerModeFor(MixerLoops loops) {
  return {loops != MixerLoops::Portable, &kernelsFor(loops)};
}

void useMixerLoops(MixerLoops loops) { playerContext->mode = mixerModeFor(loops); }

void mixVoices(float* out, std::uint32_t frameCount) {
  mixAllVoices(out, frameCount, StretchLook::NOT_YET);
}

void mixVoicesIntoClearedBlock(float* out, std::uint32_t frameCount) {
  mixAllVoices(out, frameCount, StretchLook::CLEAN);
}
