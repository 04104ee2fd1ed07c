// The 64 voices and mixVoices: each voice is cut into segments at the frame where it meets
// its loop end (or loop start going backward) and where its gain ramp ends, and each segment
// is mixed by a branch-free frame loop. Pairs with mixer.h.
//
// Index
//   [SECTION] Voices and rounding
//   [SECTION] Frame loops
//   [SECTION] Segments and end handling

#include "player/mixer.h"

#include <cmath>
#include <limits>

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
  // nearbyint rounds in the current mode, which nothing in the program changes from
  // round-to-nearest-even. NaN has no nearest integer and gives 0.
  const double rounded = std::nearbyint(value);
  if (rounded >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (rounded <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  if (rounded != rounded) return 0;
  return static_cast<std::int32_t>(rounded);
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

void mixVoice(Voice& voice, float* out, std::uint32_t framesLeft) {
  const Sample& sample = *voice.sample;
  const std::int16_t* const data = sample.data;
  const std::uint32_t loopStart = sample.loopStart;
  const std::uint32_t loopEnd = loopStart + sample.loopLength;
  const std::uint64_t step = (static_cast<std::uint64_t>(voice.stepInt) << 32) | voice.stepFrac;

  // The step with 24 fraction bits, modulo 2^32 (8.24 fixed point). A step below 2^-24
  // frame, not only the zero step, would give 0 here and divide by zero below; all of them
  // count as the zero step's stand-in.
  std::uint32_t step24 = (voice.stepInt << 24) + (voice.stepFrac >> 8);
  if (step24 == 0) step24 = ZERO_STEP_FRAC >> 8;

  std::uint64_t position = packPosition(voice);

  for (;;) {
    const bool forward = voice.direction == DIRECTION_FORWARD;

    // Frames to the end: the distance in 32.32; beyond 2^24 frames no stretch can reach it.
    std::uint32_t frameCount = framesLeft;
    bool reachesEnd = false;
    std::uint64_t distance;
    if (forward) {
      std::uint32_t end = loopEnd;
      if (positionIntOf(position) > static_cast<std::int32_t>(end)) end = sample.length;
      distance = (static_cast<std::uint64_t>(end) << 32) - position;
    } else {
      distance = position - (static_cast<std::uint64_t>(loopStart) << 32);
    }
    if ((distance >> 32) < (std::uint64_t{1} << 24)) {
      // 24 fraction bits on both sides; distance >> 8 is below 2^48, so the rounded-up
      // quotient needs no more than 64 bits even for the smallest step.
      const std::uint64_t distance24 = distance >> 8;
      const std::uint64_t framesToEnd = distance24 / step24 + (distance24 % step24 != 0 ? 1 : 0);
      if (framesToEnd <= frameCount) {
        frameCount = static_cast<std::uint32_t>(framesToEnd);
        reachesEnd = true;
      }
    }

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
      position = clampLow ? mixRamp<true>(data, position, advance, out, frameCount, left, right,
                                          leftDelta, rightDelta)
                          : mixRamp<false>(data, position, advance, out, frameCount, left,
                                           right, leftDelta, rightDelta);
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
      position = clampLow ? mixSteady<true>(data, position, advance, out, frameCount,
                                            targetLeft, targetRight, currentLeft, currentRight)
                          : mixSteady<false>(data, position, advance, out, frameCount,
                                             targetLeft, targetRight, currentLeft, currentRight);
    }

    if (!reachesEnd) break;

    // A loop of 0 frames can come only from a record the loader never writes; it would
    // wrap or turn for ever, so such a voice ends like one without a loop.
    if (sample.loopKind == LOOP_FORWARD && sample.loopLength != 0) {
      // The repeat compares signed. The end is found with 24 fraction bits, so a pass may
      // stop up to about 2^-24 frame per frame short of the loop end; on a loop that starts
      // at frame 0 the wrap then gives positionInt -1, which unsigned would read as
      // 4294967295 and repeat the subtraction some 2^32 / loopLength times.
      std::uint32_t integer = static_cast<std::uint32_t>(position >> 32) - sample.loopLength;
      while (static_cast<std::int32_t>(integer) >= static_cast<std::int32_t>(loopEnd)) {
        integer -= sample.loopLength;
      }
      position = (static_cast<std::uint64_t>(integer) << 32) | (position & 0xFFFFFFFFu);
    } else if (sample.loopKind == LOOP_PINGPONG && sample.loopLength != 0) {
      position = turnPingPong(voice, position, loopStart, loopEnd);
    } else {
      voice.sample = nullptr;
      voice.positionInt = 0;
      voice.positionFrac = 0;
      return;
    }

    framesLeft -= frameCount;
    if (framesLeft == 0) break;
    out += 2 * static_cast<std::size_t>(frameCount);
  }
  storePosition(voice, position);
}

}  // namespace

void mixVoices(float* out, std::uint32_t frameCount) {
  for (Voice& voice : voices) {
    if (voice.sample == nullptr) continue;
    mixVoice(voice, out, frameCount);
  }
}
