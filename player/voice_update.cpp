// The shared end of every channel's tick: envelope steps, fade-out, auto-vibrato and the
// voice update that turns a Channel into the step, gains and note starts of its Voice.
// Pairs with player.h (the records) and mixer.cpp (which plays the voices).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "player/player.h"

namespace {

// The nearest single-precision values, widened to double where they are used:
// 2 pi / 256 = 0.02454368770122528 (auto-vibrato phase to radians) and
// 1 / 768 = 0.0013020833721384406 (linear period units to octaves, 768 per octave).
constexpr double AUTO_VIBRATO_RADIANS_PER_STEP = static_cast<double>(0.024543688f);
constexpr double OCTAVES_PER_PERIOD_UNIT = static_cast<double>(1.0f / 768.0f);

// 255 x 2^-35, exact in single precision (0x1.FEp-28 = 7.4214767664670944e-09). Scales the
// product volume (0..64) x envelope (0..64) x fade-out (0..65536) x global volume (0..64),
// at most 2^34, to a voice volume of 0..127.5, which rounds to 128.
constexpr double FINAL_VOLUME_SCALE = static_cast<double>(0x1.FEp-28f);

constexpr std::int32_t LINEAR_BASE_PERIOD = 4608;          // C-4 in the linear table
constexpr double LINEAR_BASE_FREQUENCY = 8363.0;           // Hz at LINEAR_BASE_PERIOD
constexpr std::int64_t AMIGA_FREQUENCY_DIVIDEND = 14317056;  // Hz x period
constexpr std::int32_t MIN_FREQUENCY = 100;                // Hz
// The mixer needs a step below 256 frames per output frame; 11289599 Hz is the highest
// frequency that keeps stepInt at 255. No audible note comes near it.
constexpr std::int32_t MAX_FREQUENCY = 256 * OUTPUT_RATE - 1;

constexpr std::int32_t ENVELOPE_MAX_VALUE = 64;

// Hostile envelopes: the loader refuses a pointCount above 12 but checks no point index, so
//  - a pointCount above 12 (in a record not made by the loader) counts as 12, and only those
//    points are ever read;
//  - a point index at or beyond the count never matches: such a sustain point never holds,
//    such a loop end never loops, and a loop whose start lies beyond the points is ignored;
//  - a point value above 64 counts as 64, so levels stay 0..64 and x 65536 fits 32 bits;
//  - a point is reached once the tick is at or past it. With rising ticks the tick meets
//    every point exactly, so this changes nothing; a point whose tick is not after the
//    previous one is reached on the next tick instead of never, so the fixed-point level
//    cannot run away along a segment that has no end.
std::int32_t storedPointCount(const Envelope& envelope) {
  return std::min<std::int32_t>(envelope.pointCount, MAX_ENVELOPE_POINTS);
}


// The tick only moves on while an envelope runs; saturating keeps an envelope stuck
// without points (pointCount 0 but ENVELOPE_ON) from overflowing after years of play.
std::int32_t nextTick(std::int32_t tick) {
  return tick < INT32_MAX ? tick + 1 : tick;
}

// roundToInt(8363 x 2^(units / 768)), the frequency in Hz of a linear-table period, before
// the clamp. The pow is costly beside the rest of a tick and a voice asks for the same few
// units tick after tick (a held note, a vibrato's cycle), so each result of the units near
// the notes' range is kept once worked out: the same call on the same argument, the same
// bits. Filled by the thread that plays, the only one that runs the player.
constexpr std::int64_t MEMO_LOWEST_UNITS = -8192;
// -8192..8191: every note's period with its finetune gives about -3100..4600, and vibratos and
// slides seldom go far beyond; the units outside are worked out each time.
constexpr std::int64_t MEMO_UNITS = 16384;
std::int32_t linearFrequencyMemo[MEMO_UNITS];
bool linearFrequencyMemoValid[MEMO_UNITS];

std::int32_t linearFrequency(std::int64_t units) {
  const auto work = [units] {
    return roundToInt(LINEAR_BASE_FREQUENCY * std::pow(2.0, static_cast<double>(units) * OCTAVES_PER_PERIOD_UNIT));
  };
  const std::int64_t index = units - MEMO_LOWEST_UNITS;
  if (index < 0 || index >= MEMO_UNITS) return work();
  if (!linearFrequencyMemoValid[index]) {
    linearFrequencyMemo[index] = work();
    linearFrequencyMemoValid[index] = true;
  }
  return linearFrequencyMemo[index];
}

std::int32_t autoVibratoSine(std::int32_t phase) {
  return roundToInt(std::sin(static_cast<double>(phase) * AUTO_VIBRATO_RADIANS_PER_STEP) * 64.0);
}

// The sine of the 256 phases, worked out once at start-up by the same expression.
struct AutoVibratoSineTable {
  std::int32_t wave[256];
  AutoVibratoSineTable() {
    for (std::int32_t phase = 0; phase < 256; ++phase) wave[phase] = autoVibratoSine(phase);
  }
};
const AutoVibratoSineTable autoVibratoSineTable;

std::int32_t autoVibratoWave(std::uint8_t type, std::int32_t phase) {
  switch (type) {
    case 0:
      return phase >= 0 && phase < 256 ? autoVibratoSineTable.wave[phase] : autoVibratoSine(phase);
    case 1:
      return phase < 128 ? 64 : -64;
    case 2:  // ramp down: 0 at phase 0 to -64 at 127, +64 at 128 down to 0 at 255
      return (128 - ((phase + 128) & 255)) >> 1;
    case 3:  // ramp up: 0 at phase 0 to 63 at 127, 64 at 128, -64 at 129 up to -1 at 255
      return (128 - ((384 - phase) & 255)) >> 1;
    default:
      return 0;  // no waveform: the auto-vibrato adds nothing
  }
}

// V x share / 255 with the share 0..255 (the final panning or its complement), truncating
// toward zero; the product is taken in 64 bits so that no volume can overflow it.
std::int32_t panGain(std::int32_t volume, std::int64_t share) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(volume) * share / 255);
}

// Channel i plays on voice i or on its twin i + 32.
std::int32_t twinOf(std::int32_t voiceIndex) { return voiceIndex < 32 ? voiceIndex + 32 : voiceIndex - 32; }

}  // namespace

std::int32_t envelopePointValue(const EnvelopePoint& point) {
  return std::min<std::int32_t>(point.value, ENVELOPE_MAX_VALUE);
}

std::int32_t envelopeLevel(std::int32_t levelFixed) {
  return std::clamp<std::int32_t>(levelFixed >> 16, 0, ENVELOPE_MAX_VALUE);
}

void stepEnvelope(Channel& channel, EnvelopeState& state, const Envelope& envelope,
                  std::uint8_t flag) {
  channel.updateFlags |= flag;
  const EnvelopePoint* points = envelope.points;
  const std::int32_t pointCount = storedPointCount(envelope);
  std::int32_t point = state.point;

  // Past the points (an effect L beyond the last one, or a count of 0): hold the level.
  if (point < 0 || point >= pointCount) {
    state.level = envelopeLevel(state.levelFixed);
    state.tick = nextTick(state.tick);
    return;
  }

  // Between points: the level moves by the truncated 16.16 step; its high half, taken with
  // an arithmetic shift, rounds toward minus infinity. The sum wraps instead of overflowing
  // should an effect L have put the level far out of range.
  if (state.tick < points[point].tick) {
    state.levelFixed = static_cast<std::int32_t>(static_cast<std::uint32_t>(state.levelFixed) +
                                                 static_cast<std::uint32_t>(state.step));
    state.level = envelopeLevel(state.levelFixed);
    state.tick = nextTick(state.tick);
    return;
  }

  // Point reached. The loop end hands on the loop start's value, never its own.
  if ((envelope.flags & ENVELOPE_LOOP) != 0 && point == envelope.loopEndPoint &&
      envelope.loopStartPoint < pointCount) {
    point = envelope.loopStartPoint;
    state.point = point;
    state.tick = points[point].tick;
  }

  // The last point ends the envelope, even when a loop end is set beyond it. Tick and
  // fixed-point level stay as they are.
  if (point == pointCount - 1) {
    state.level = envelopePointValue(points[point]);
    state.done = 1;
    return;
  }

  // Sustain: hold here without moving the tick until the key is released.
  if ((envelope.flags & ENVELOPE_SUSTAIN) != 0 && point == envelope.sustainPoint &&
      channel.keyOff == 0) {
    state.level = envelopePointValue(points[point]);
    return;
  }

  const std::int32_t from = envelopePointValue(points[point]) * 65536;
  const std::int32_t to = envelopePointValue(points[point + 1]) * 65536;
  const std::int32_t ticks = points[point + 1].tick - points[point].tick;
  state.step = ticks != 0 ? (to - from) / ticks : 0;  // truncates toward zero
  state.levelFixed = from;
  state.level = from >> 16;
  state.point = point + 1;
  state.tick = nextTick(state.tick);
}

void stepFadeout(Channel& channel, const Instrument& instrument) {
  // Runs only after key-off, so the callers may call it on every tick.
  if (channel.keyOff == 0) return;
  channel.fadeoutLevel = std::max(channel.fadeoutLevel - instrument.fadeout, 0);
  channel.updateFlags |= UPDATE_VOLUME;
}

void applyAutoVibrato(Channel& channel, const Instrument& instrument) {
  const std::int32_t wave = autoVibratoWave(instrument.vibratoType, channel.autoVibratoPos);
  std::int32_t depth = instrument.vibratoDepth * wave;  // -16320..16320
  // The sweep counter is read before it grows: the first tick after a reset adds nothing.
  if (instrument.vibratoSweep != 0) depth = channel.autoVibratoSweep * depth / instrument.vibratoSweep;
  channel.periodDelta += depth >> 6;  // rounds toward minus infinity

  channel.autoVibratoSweep = std::min<std::int32_t>(channel.autoVibratoSweep + 1,
                                                    instrument.vibratoSweep);
  channel.autoVibratoPos += instrument.vibratoRate;
  if (channel.autoVibratoPos > 255) channel.autoVibratoPos -= 256;
  channel.updateFlags |= UPDATE_FREQUENCY;
}

void updateVoice(Channel& channel, const Sample& sample) {
  Voice* voice = channel.voice;
  if (voice == nullptr) return;  // a channel beyond the song's count has no voice

  // The twin that this channel left at a note is silent for good once its ramp to gain 0 has
  // run out: only a later note moves onto it again, and that note overwrites all of it. So it
  // is released, and the mixer no longer walks it through its loops.
  Voice& left = playerContext->voices[twinOf(voice->index)];
  if (left.sample != nullptr && left.rampFramesLeft == 0 && left.leftGain == 0 && left.rightGain == 0 &&
      left.currentLeftGain == 0 && left.currentRightGain == 0)
    left.sample = nullptr;

  // 64-bit so that a period driven far by an unlimited portamento cannot overflow here.
  const std::int64_t periodSum =
      static_cast<std::int64_t>(channel.period) + channel.periodDelta;
  if (periodSum == 0) channel.updateFlags &= static_cast<std::uint8_t>(~UPDATE_FREQUENCY);

  if ((channel.updateFlags & UPDATE_TRIGGER) != 0) {
    if (voice->sample != nullptr) {
      // Still sounding: the new note takes over the twin with the whole state of this voice
      // (volume, panning, gains, step, pending start offset); this one keeps playing with
      // target gains 0, so the mixer ramps it out over 128 frames.
      const std::int32_t twin = twinOf(voice->index);
      Voice* const voices = playerContext->voices;
      voices[twin] = *voice;
      voices[twin].index = twin;
      voice->volume = 0;
      voice->leftGain = 0;
      voice->rightGain = 0;
      voice = &voices[twin];
      channel.voice = voice;
    }
    voice->sample = &sample;
    // For a sample without a loop the loop end is its length. Summed in 64 bits so that a
    // loop end past 2^32 cannot wrap to a small limit.
    const std::uint64_t loopEnd = static_cast<std::uint64_t>(sample.loopStart) + sample.loopLength;
    if (voice->startOffset >= loopEnd) voice->startOffset = 0;
    voice->positionInt = static_cast<std::int32_t>(voice->startOffset);
    voice->positionFrac = 0;
    voice->direction = DIRECTION_FORWARD;
    voice->startOffset = 0;
    voice->currentLeftGain = 0;  // the new note fades in from silence
    voice->currentRightGain = 0;
    voice->rampFramesLeft = 0;
  }

  if ((channel.updateFlags & UPDATE_VOLUME) != 0) {
    // Four integer factors, exact as a double product, then one scaling; ties go to even,
    // so the maxima (127.5) give 128.
    const double product = static_cast<double>(static_cast<std::int64_t>(channel.volume) +
                                                channel.volumeDelta) *
                           static_cast<double>(channel.volumeEnvelope.level) *
                           static_cast<double>(channel.fadeoutLevel) *
                           static_cast<double>(playerContext->player.globalVolume);
    voice->volume = roundToInt(product * FINAL_VOLUME_SCALE);
    voice->leftGain = panGain(voice->volume, 255 - voice->panning);
    voice->rightGain = panGain(voice->volume, voice->panning);
  }

  if ((channel.updateFlags & UPDATE_PANNING) != 0) {
    // The envelope's swing (-32..32) is scaled by a whole factor 0..4 that shrinks toward
    // the edges: the division by 32 truncates before the product (pan 100: factor 3).
    const std::int64_t pan = channel.pan;
    const std::int64_t swingFactor = (128 - std::llabs(pan - 128)) / 32;
    const std::int64_t finalPanning =
        std::clamp<std::int64_t>(pan + swingFactor * (channel.panningEnvelope.level - 32), 0, 255);
    voice->panning = static_cast<std::int32_t>(finalPanning);
    voice->leftGain = panGain(voice->volume, 255 - finalPanning);
    voice->rightGain = panGain(voice->volume, finalPanning);
  }

  if ((channel.updateFlags & UPDATE_FREQUENCY) != 0) {
    std::int64_t frequency;
    if ((playerContext->song.flags & 1) != 0) {
      // Linear table: 768 units per octave above C-4; a positive periodDelta raises the pitch.
      const std::int64_t units = LINEAR_BASE_PERIOD - static_cast<std::int64_t>(channel.period) +
                                 channel.periodDelta;
      frequency = linearFrequency(units);
    } else {
      // Amiga table: a period divides the clock, truncating (1712 gives 8362 Hz).
      frequency = AMIGA_FREQUENCY_DIVIDEND / periodSum;
    }
    frequency = std::clamp<std::int64_t>(frequency, MIN_FREQUENCY, MAX_FREQUENCY);
    // The step f / 44100 in 32.32 fixed point: whole frames, then the remainder scaled by
    // 2^32 in 64 bits and truncated.
    const auto hertz = static_cast<std::uint64_t>(frequency);
    voice->stepInt = static_cast<std::uint32_t>(hertz / OUTPUT_RATE);
    voice->stepFrac = static_cast<std::uint32_t>(((hertz % OUTPUT_RATE) << 32) / OUTPUT_RATE);
  }

  if ((channel.updateFlags & UPDATE_REWIND) != 0) {
    // A sample offset past the loop end: play on from the start of the sample already held.
    // Forward: a ping-pong voice caught going backward would otherwise run down from frame 0,
    // where no loop start lies ahead of it, and read below its sample.
    voice->positionInt = 0;
    voice->positionFrac = 0;
    voice->startOffset = 0;
    voice->direction = DIRECTION_FORWARD;
  }
}
