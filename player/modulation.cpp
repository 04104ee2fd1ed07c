// The modulation steps that row processing and the per-tick effects share: vibrato, tremolo,
// tremor and tone portamento on one Channel. Pairs with player.h.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "player/player.h"

namespace {

// A double constant (not a widened float): 2 x 0.049087375 is 2 pi / 64, so a phase of
// -32..31 spans one cycle and |sin| peaks at phase +-16.
constexpr double HALF_RADIANS_PER_PHASE = 0.049087375;

// Waveform magnitude 0..255 (the sine reaches 256 at its peaks) for a phase of -32..31.
// The sign is applied by the caller from the phase.
std::int32_t workSineWave(std::int32_t phase) {
  return roundToInt(std::fabs(std::sin(2.0 * phase * HALF_RADIANS_PER_PHASE)) * 256.0);
}

// The 64 magnitudes, worked out once at start-up by the same expression: a vibrato or a
// tremolo asks for one on every tick of every channel that runs it.
struct SineTable {
  std::int32_t magnitude[64];
  SineTable() {
    for (std::int32_t phase = -32; phase < 32; ++phase) magnitude[phase + 32] = workSineWave(phase);
  }
};
const SineTable sineTable;

std::int32_t sineWave(std::int32_t phase) {
  return phase >= -32 && phase < 32 ? sineTable.magnitude[phase + 32] : workSineWave(phase);
}

std::int32_t rampWave(std::int32_t phase) {
  return phase >= 0 ? phase * 8 : 255 - (phase + 32) * 8;  // 0..248, then 255 down to 7
}

}  // namespace

void applyVibrato(Channel& channel) {
  const std::int32_t phase = channel.vibratoPos;
  std::int32_t wave;
  switch (channel.waveControl & 3) {
    case 0: wave = sineWave(phase); break;
    case 1: wave = rampWave(phase); break;
    default: wave = 255; break;  // 2 and 3: square
  }
  // Period units; the two low bits cleared, so the offset is a multiple of 4.
  const std::int32_t delta = ((channel.vibratoDepth * wave) >> 5) & ~3;
  // The first half of the cycle lowers the period. The offset replaces any earlier one.
  channel.periodDelta = phase >= 0 ? -delta : delta;
  channel.updateFlags |= UPDATE_FREQUENCY;
}

void applyTremolo(Channel& channel) {
  const std::int32_t phase = channel.tremoloPos;
  std::int32_t wave;
  switch ((channel.waveControl >> 4) & 3) {
    case 1: wave = rampWave(phase); break;
    case 2: wave = 255; break;
    default: wave = sineWave(phase); break;  // 0 and 3: sine, unlike the vibrato
  }
  const std::int32_t delta = (channel.tremoloDepth * wave) >> 6;
  // volume + volumeDelta stays within 0..64.
  if (phase >= 0) {
    channel.volumeDelta = channel.volume + delta > 64 ? 64 - channel.volume : delta;
  } else {
    channel.volumeDelta = delta > channel.volume ? -channel.volume : -delta;
  }
  // Advance in 8 bits, then fold back into -32..31 (31 + 15 gives -18).
  auto next = static_cast<std::int8_t>(static_cast<std::uint8_t>(channel.tremoloPos + channel.tremoloSpeed));
  if (next > 31) next = static_cast<std::int8_t>(next - 64);
  channel.tremoloPos = next;
  channel.updateFlags |= UPDATE_VOLUME;
}

void applyTremor(Channel& channel) {
  // The counter runs over on + off ticks: audible while below on, silent after.
  if (channel.tremorCount >= channel.tremorOnTicks) channel.volumeDelta = -channel.volume;
  ++channel.tremorCount;
  if (channel.tremorCount >= channel.tremorOnTicks + channel.tremorOffTicks) channel.tremorCount = 0;
  channel.updateFlags |= UPDATE_VOLUME;
}

void applyTonePortamento(Channel& channel) {
  // 64 bits: a period that an unlimited portamento down pushed near the top of the range
  // must not overflow on its way back.
  const std::int64_t period = channel.period;
  const std::int64_t target = channel.portaTarget;
  const std::int64_t speed = 4 * channel.portaSpeed;
  if (period < target) {
    channel.period = static_cast<std::int32_t>(std::min(period + speed, target));
  } else if (period > target) {
    channel.period = static_cast<std::int32_t>(std::max(period - speed, target));
  }
  channel.updateFlags |= UPDATE_FREQUENCY;
}
