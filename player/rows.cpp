// Helpers that row processing and the per-tick effects share: the two period tables, which
// instrument and sample a channel plays, the instrument reset, the volume column and where
// the current row's cells are. Calls nothing in row.cpp, tick_effects.cpp or sequencer.cpp.
// Pairs with rows.h.
//
// Index
//   [SECTION] Periods
//   [SECTION] Instrument and sample selection
//   [SECTION] Instrument reset and volume column
//   [SECTION] Current row

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "player/rows.h"

//-----------------------------------------------------------------------------
// [SECTION] Periods
//-----------------------------------------------------------------------------

std::int32_t linearPeriod(std::uint8_t realNote, std::int8_t finetune) {
  return 7680 - 64 * realNote - finetune / 2;
}

namespace {

// 1/12 as the nearest single-precision value, widened: 0.0833333358168602.
constexpr double ONE_TWELFTH = static_cast<double>(1.0f / 12.0f);

// The untuned Amiga period of note k (C-4 = 48 gives 1712): 13.375 x 2^((132 - k) / 12),
// rounded to nearest with halves to even. k may be -1..256 (a neighbour of notes 0..255).
std::int32_t untunedAmigaPeriod(int k) {
  return roundToInt(std::pow(2.0, (132 - k) * ONE_TWELFTH) * 13.375);
}

}  // namespace

// A finetune moves the period part of the way toward the neighbouring semitone: 128 would be
// a whole semitone. Both divisions truncate toward zero, so (48, 64) gives
// 1712 + (96 x 64) / -128 = 1664 and (48, -64) gives 1712 + (102 x 64) / 128 = 1763.
std::int32_t amigaPeriod(std::uint8_t note, std::int8_t finetune) {
  const std::int32_t here = untunedAmigaPeriod(note);
  if (finetune < 0 && note != 0) {
    const std::int32_t below = untunedAmigaPeriod(note - 1);
    return here + ((here - below) * std::abs(finetune)) / -128;
  }
  const std::int32_t above = untunedAmigaPeriod(note + 1);
  return here + ((here - above) * finetune) / -128;
}

std::int32_t slideWithoutLimit(std::int32_t value, std::int32_t delta) {
  constexpr std::int64_t LIMIT = std::int64_t{1} << 24;
  const std::int64_t sum = std::int64_t{value} + delta;
  return static_cast<std::int32_t>(std::clamp(sum, -LIMIT, LIMIT));
}

void slidePanning(Channel& channel, std::int32_t delta) {
  channel.pan = slideWithoutLimit(channel.pan, delta);
  channel.updateFlags |= UPDATE_PANNING;
}

std::int32_t notePeriodOf(std::uint8_t realNote, std::int8_t finetune) {
  if (playerContext->song.flags & 1) return linearPeriod(realNote, finetune);
  return amigaPeriod(realNote, finetune);
}

//-----------------------------------------------------------------------------
// [SECTION] Instrument and sample selection
//-----------------------------------------------------------------------------

ChannelSelection selectInstrumentAndSample(const Channel& channel) {
  PlayerContext& c = *playerContext;
  const int index = channel.instrumentIndex;
  if (index >= c.song.instrumentCount || index >= MAX_INSTRUMENTS) {
    return {&c.emptyInstrument, &c.emptySample};
  }
  Instrument& instrument = c.instruments[index];
  // channel.note only ever holds a cell note - 1 (0..95); the check keeps a stray value
  // from reading past the map.
  if (channel.note >= NOTE_MAP_SIZE) return {&instrument, &c.emptySample};
  const std::uint8_t slot = instrument.sampleMap[channel.note];
  if (slot >= MAX_SAMPLES_PER_INSTRUMENT || instrument.samples[slot] == nullptr) {
    return {&instrument, &c.emptySample};
  }
  return {&instrument, instrument.samples[slot]};
}

//-----------------------------------------------------------------------------
// [SECTION] Instrument reset and volume column
//-----------------------------------------------------------------------------

void resetInstrumentState(Channel& channel, const Sample& sample) {
  channel.volume = sample.volume;
  channel.pan = sample.panning;
  // The fixed-point levels stay: the first envelope step sets them again at point 0.
  channel.volumeEnvelope.level = 64;
  channel.volumeEnvelope.point = 0;
  channel.volumeEnvelope.tick = 0;
  channel.volumeEnvelope.step = 0;
  channel.panningEnvelope.level = 32;
  channel.panningEnvelope.point = 0;
  channel.panningEnvelope.tick = 0;
  channel.panningEnvelope.step = 0;
  channel.keyOff = 0;
  channel.fadeoutLevel = 65536;
  channel.volumeEnvelope.done = 0;
  channel.panningEnvelope.done = 0;
  channel.autoVibratoSweep = 0;
  channel.autoVibratoPos = 0;
  // A waveform nibble of 4 or more asks to keep the phase across notes.
  if ((channel.waveControl & 0x0F) < 4) channel.vibratoPos = 0;
  if ((channel.waveControl >> 4) < 4) channel.tremoloPos = 0;
  channel.updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
  channel.tremorCount = 0;
}

// First tick only. The later ticks repeat 6x, 7x, Bx, Dx, Ex and Fx (tick_effects.cpp), so
// 6x/7x slide on every tick of the row while 8x/9x act once.
void applyVolumeColumn(Channel& channel, std::uint8_t volumeByte) {
  const std::int32_t y = volumeByte & 0x0F;
  if (volumeByte >= 0x10 && volumeByte <= 0x50) {
    channel.volume = volumeByte - 0x10;
    channel.updateFlags |= UPDATE_VOLUME;
    return;
  }
  switch (volumeByte >> 4) {
    case 0x6:
    case 0x8:
      channel.volume = channel.volume - y < 0 ? 0 : channel.volume - y;
      channel.updateFlags |= UPDATE_VOLUME;
      break;
    case 0x7:
    case 0x9:
      channel.volume = channel.volume + y > 64 ? 64 : channel.volume + y;
      channel.updateFlags |= UPDATE_VOLUME;
      break;
    case 0xA:
      channel.vibratoSpeed = static_cast<std::uint8_t>(y);
      break;
    case 0xB:
      channel.vibratoDepth = static_cast<std::uint8_t>(y);
      break;
    case 0xC:
      channel.pan = 16 * y;
      channel.updateFlags |= UPDATE_PANNING;
      break;
    case 0xD:
      slidePanning(channel, -y);
      break;
    case 0xE:
      slidePanning(channel, y);
      break;
    case 0xF:
      if (y != 0) channel.portaSpeed = static_cast<std::uint8_t>(16 * y);
      channel.portaTarget = channel.notePeriod;
      channel.updateFlags &= static_cast<std::uint8_t>(~UPDATE_TRIGGER);
      break;
    default:  // 0x01..0x0F, 0x51..0x5F
      break;
  }
}

//-----------------------------------------------------------------------------
// [SECTION] Current row
//-----------------------------------------------------------------------------

const Pattern* currentPattern() {
  const PlayerContext& c = *playerContext;
  const Player& player = c.player;
  if (player.orderPos < 0 || player.orderPos >= MAX_ORDERS) return nullptr;
  return &c.patterns[c.song.orderTable[player.orderPos]];
}

int activeChannelCount() {
  const Song& song = playerContext->song;
  return song.channelCount > MAX_CHANNELS ? MAX_CHANNELS : song.channelCount;
}

const NoteCell* currentRowCells() {
  const Song& song = playerContext->song;
  const Player& player = playerContext->player;
  const Pattern* pattern = currentPattern();
  if (pattern == nullptr || pattern->cells == nullptr || song.channelCount == 0) return nullptr;
  if (player.row < 0 || player.row >= pattern->rowCount) return nullptr;
  return pattern->cells + static_cast<std::size_t>(player.row) * song.channelCount;
}
