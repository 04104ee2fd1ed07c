// The plain model of one mixer voice, a frame at a time, and the helpers that compare the
// mixer with it (mixer_test.cpp).
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "player/mixer.h"
#include "player/module.h"

namespace mixer_model {

//-----------------------------------------------------------------------------
// The model: one frame at a time, the position as two words with explicit carries
//-----------------------------------------------------------------------------

constexpr std::int64_t ONE_FRAME = std::int64_t{1} << 32;

// Frames below 0 read as frame 0 (the mixer's guard for loops that start at frame 0).
inline double frameAt(const Sample& s, std::int64_t index) { return s.data[index < 0 ? 0 : index]; }

inline std::int64_t modelPosition(const Voice& v) { return v.positionInt * ONE_FRAME + v.positionFrac; }

inline void setModelPosition(Voice& v, std::int64_t p) {
  v.positionInt = static_cast<std::int32_t>(p >> 32);
  v.positionFrac = static_cast<std::uint32_t>(p & 0xFFFFFFFF);
}

inline void modelAdvance(Voice& v) {
  std::uint64_t frac = v.positionFrac & ~1u;
  if (v.direction == DIRECTION_FORWARD) {
    frac += v.stepFrac;
    v.positionInt += static_cast<std::int32_t>(v.stepInt + (frac >> 32));
  } else {
    const bool borrow = frac < v.stepFrac;
    frac = frac + (borrow ? ONE_FRAME : 0) - v.stepFrac;
    v.positionInt -= static_cast<std::int32_t>(v.stepInt + (borrow ? 1 : 0));
  }
  v.positionFrac = static_cast<std::uint32_t>(frac);
}

// A double rounded to float through memory. GCC 12.2 at -O2 vectorised this model's
// double -> float -> double round trips of the left and right gains and dropped the
// rounding, so 255 x (1/255) reached the frames as 1.0000000591 instead of 1.0f.
inline float narrow(double value) {
  volatile float stored = static_cast<float>(value);
  return stored;
}

inline void modelMixVoice(Voice& v, float* out, std::uint32_t frameCount) {
  const double one255 = 1.0f / 255.0f;  // the float nearest 1/255, widened
  std::uint32_t done = 0;
  while (v.sample != nullptr && done < frameCount) {
    const Sample& s = *v.sample;
    const std::int64_t loopEnd = std::int64_t{s.loopStart} + s.loopLength;
    const bool forward = v.direction == DIRECTION_FORWARD;

    std::uint32_t n = frameCount - done;
    bool ends = false;
    const std::int64_t end = forward && v.positionInt > loopEnd ? s.length : loopEnd;
    std::int64_t distance = forward ? end * ONE_FRAME - modelPosition(v)
                                    : modelPosition(v) - s.loopStart * ONE_FRAME;
    // A position already past its end (crossed by a step whose low 8 fraction bits the frame
    // count did not see) is at its end: handled at once.
    if (distance < 0) distance = 0;
    if (distance < (std::int64_t{1} << 56)) {
      // both to 24 fraction bits; a step that truncates to 0 counts as 24932236 x 2^-32
      std::uint64_t step24 = ((std::uint64_t{v.stepInt} << 32 | v.stepFrac) >> 8) & 0xFFFFFFFF;
      if (step24 == 0) step24 = 24932236 / 256;
      const std::uint64_t d = static_cast<std::uint64_t>(distance) / 256;
      std::uint64_t k = d / step24;
      if (k * step24 < d) ++k;
      if (k <= n) n = static_cast<std::uint32_t>(k), ends = true;
    }

    const std::uint32_t n0 = n;
    std::int32_t r = 0;
    float dL = 0.0f, dR = 0.0f;
    if (v.rampFramesLeft != 0 && v.leftGain == v.rampLeftTarget &&
        v.rightGain == v.rampRightTarget) {
      r = v.rampFramesLeft;
      dL = v.leftRampDelta;
      dR = v.rightRampDelta;
    } else {
      v.rampLeftTarget = v.leftGain;
      v.rampRightTarget = v.rightGain;
      const std::int32_t diffL = v.leftGain - static_cast<std::int32_t>(
                                                  std::floor(v.currentLeftGain / 256.0));
      const std::int32_t diffR = v.rightGain - static_cast<std::int32_t>(
                                                   std::floor(v.currentRightGain / 256.0));
      if (diffL != 0) dL = narrow(diffL * one255 * double{RAMP_STEP}), r = 128;
      if (diffR != 0) dR = narrow(diffR * one255 * double{RAMP_STEP}), r = 128;
      v.leftRampDelta = dL;
      v.rightRampDelta = dR;
    }
    if (r > 0) {
      v.rampFramesLeft = r;
      n = std::min(n, static_cast<std::uint32_t>(r));
    }

    // worked in double, stored as float
    const float gL = narrow(v.leftGain * one255);
    const float gR = narrow(v.rightGain * one255);
    const float cL = narrow(v.currentLeftGain * (1.0 / 256.0) * one255);
    const float cR = narrow(v.currentRightGain * (1.0 / 256.0) * one255);
    double rampL = cL, rampR = cR;
    for (std::uint32_t i = 0; i < n; ++i) {
      const double f = std::ldexp(static_cast<double>(v.positionFrac >> 1), -31);
      const double a = frameAt(s, v.positionInt);
      const double b = frameAt(s, std::int64_t{v.positionInt} + 1);
      const double value = a + f * (b - a);
      // ramp frames at the running gains; an odd last frame without a ramp at the current ones
      const bool oddLast = r == 0 && n % 2 == 1 && i == n - 1;
      const double wL = r > 0 ? rampL : oddLast ? cL : gL;
      const double wR = r > 0 ? rampR : oddLast ? cR : gR;
      float* frame = out + 2 * (done + i);
      frame[0] = static_cast<float>(static_cast<double>(frame[0]) + value * wL);
      frame[1] = static_cast<float>(static_cast<double>(frame[1]) + value * wR);
      if (r > 0) rampL += dL, rampR += dR;
      modelAdvance(v);
    }
    if (r > 0) {
      if (n > 0) {
        v.currentLeftGain = static_cast<std::int32_t>(std::lrint(rampL * 255 * 256));
        v.currentRightGain = static_cast<std::int32_t>(std::lrint(rampR * 255 * 256));
      }
      v.rampFramesLeft = r - static_cast<std::int32_t>(n);
      if (v.rampFramesLeft == 0) {
        v.leftRampDelta = v.rightRampDelta = 0.0f;
        v.currentLeftGain = v.leftGain * 256;
        v.currentRightGain = v.rightGain * 256;
        if (n < n0) {
          done += n;
          continue;
        }
      }
    }
    if (!ends) return;
    if (s.loopKind == LOOP_FORWARD && s.loopLength > 0) {
      std::int64_t whole = v.positionInt - std::int64_t{s.loopLength};
      while (whole >= loopEnd) whole -= s.loopLength;
      v.positionInt = static_cast<std::int32_t>(whole);
    } else if (s.loopKind == LOOP_PINGPONG && s.loopLength > 0) {
      std::int64_t p = modelPosition(v);
      for (;;) {
        if (v.direction != DIRECTION_FORWARD) {
          p = 2 * s.loopStart * ONE_FRAME - p - 1;
          v.direction = DIRECTION_FORWARD;
          if ((p >> 32) < loopEnd) break;
        } else {
          p = 2 * loopEnd * ONE_FRAME - p - 1;
          v.direction = DIRECTION_BACKWARD;
          if ((p >> 32) >= s.loopStart) break;
        }
      }
      setModelPosition(v, p);
    } else {
      v.sample = nullptr;
      v.positionInt = 0;
      v.positionFrac = 0;
      return;
    }
    done += n;
  }
}

//-----------------------------------------------------------------------------
// Comparison helpers
//-----------------------------------------------------------------------------

// Names the first field of the voice that differs; floats are compared by bit pattern.
inline std::string voiceDifference(const Voice& a, const Voice& b) {
#define LE_FIELD(f) \
  if (std::memcmp(&a.f, &b.f, sizeof a.f) != 0) return #f;
  LE_FIELD(index) LE_FIELD(volume) LE_FIELD(panning) LE_FIELD(startOffset) LE_FIELD(sample)
  LE_FIELD(leftGain) LE_FIELD(rightGain) LE_FIELD(positionInt) LE_FIELD(positionFrac)
  LE_FIELD(stepFrac) LE_FIELD(stepInt) LE_FIELD(direction) LE_FIELD(rampLeftTarget)
  LE_FIELD(rampRightTarget) LE_FIELD(currentLeftGain) LE_FIELD(currentRightGain)
  LE_FIELD(leftRampDelta) LE_FIELD(rightRampDelta) LE_FIELD(rampFramesLeft)
#undef LE_FIELD
  return "";
}

// Index of the first float whose bits differ, or -1.
inline long firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
  const auto same = [](float x, float y) { return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y); };
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), same).first;
  return at == a.end() ? -1 : static_cast<long>(at - a.begin());
}

}  // namespace mixer_model
