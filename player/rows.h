// Helpers shared by the sequencer, row processing and the per-tick effects (sequencer.cpp,
// row.cpp, tick_effects.cpp): where the current row's cells are, which instrument and sample
// a channel plays, the instrument reset, the volume column and the period of a note. Private
// to the player; defined in rows.cpp, which calls none of the three. Pairs with player.h.
#pragma once

#include <cstdint>

#include "player/player.h"

// The pattern that the order table names at orderPos, or nullptr when orderPos lies outside
// the order table.
const Pattern* currentPattern();

// The cells of row player.row, channelCount of them, or nullptr when that row has no cells:
// a pattern that was not loaded, a row at or beyond rowCount, or a song without channels.
const NoteCell* currentRowCells();

// Channels in use: the song's channelCount, never more than the channel table holds.
int activeChannelCount();

// What a channel plays: the instrument at instrumentIndex (emptyInstrument at or above
// instrumentCount) and the sample its sampleMap gives for note (emptySample for a slot of 16
// or more, or a note outside the map). Non-const: E5y writes the sample's finetune.
struct ChannelSelection {
  Instrument* instrument;
  Sample* sample;
};
ChannelSelection selectInstrumentAndSample(const Channel& channel);

void resetInstrumentState(Channel& channel, const Sample& sample);
void applyVolumeColumn(Channel& channel, std::uint8_t volumeByte);  // volumeByte != 0

// Takes back update flags raised earlier in the tick, as tone portamento takes the trigger.
inline void clearFlags(Channel& channel, std::uint8_t flags) {
  channel.updateFlags &= static_cast<std::uint8_t>(~flags);
}

// 7680 - 64 x realNote - finetune / 2, the division truncated toward zero: 64 units per
// semitone, 4608 at C-4 (realNote 48).
std::int32_t linearPeriod(std::uint8_t realNote, std::int8_t finetune);

std::int32_t amigaPeriod(std::uint8_t note, std::int8_t finetune);

// The period of realNote with finetune in the table that bit 0 of song.flags selects.
std::int32_t notePeriodOf(std::uint8_t realNote, std::int8_t finetune);

// value + delta for the slides that have no musical limit (portamento down, the fine and
// extra fine portamentos, the volume column's panning slides), held within +-2^24 so that a
// slide kept up for days cannot overflow. Nothing audible changes: both tables sit at the
// voice update's 100 Hz floor from a period of about 9500 (linear) or 143171 (Amiga) on, and
// the voice update clamps the panning to 0..255.
std::int32_t slideWithoutLimit(std::int32_t value, std::int32_t delta);

// The volume column's panning slide (Dx left, Ex right), on the first tick and the later ones
// alike: the pan stays unclamped, the voice update clamps what it derives.
void slidePanning(Channel& channel, std::int32_t delta);

// Effect numbers as they are stored in the cells (0-9, then A = 10 ... Z = 35).
namespace fx {
constexpr std::uint8_t ARPEGGIO = 0x00;
constexpr std::uint8_t PORTA_UP = 0x01;
constexpr std::uint8_t PORTA_DOWN = 0x02;
constexpr std::uint8_t TONE_PORTA = 0x03;
constexpr std::uint8_t VIBRATO = 0x04;
constexpr std::uint8_t TONE_PORTA_VOLUME_SLIDE = 0x05;
constexpr std::uint8_t VIBRATO_VOLUME_SLIDE = 0x06;
constexpr std::uint8_t TREMOLO = 0x07;
constexpr std::uint8_t SET_PANNING = 0x08;
constexpr std::uint8_t SAMPLE_OFFSET = 0x09;
constexpr std::uint8_t VOLUME_SLIDE = 0x0A;
constexpr std::uint8_t POSITION_JUMP = 0x0B;
constexpr std::uint8_t SET_VOLUME = 0x0C;
constexpr std::uint8_t PATTERN_BREAK = 0x0D;
constexpr std::uint8_t EXTENDED = 0x0E;
constexpr std::uint8_t SPEED_TEMPO = 0x0F;
constexpr std::uint8_t SET_GLOBAL_VOLUME = 16;  // G
constexpr std::uint8_t GLOBAL_VOLUME_SLIDE = 17;  // H
constexpr std::uint8_t KEY_OFF = 20;  // K
constexpr std::uint8_t SET_ENVELOPE_POSITION = 21;  // L
constexpr std::uint8_t PANNING_SLIDE = 25;  // P
constexpr std::uint8_t MULTI_RETRIGGER = 27;  // R
constexpr std::uint8_t TREMOR = 29;  // T
constexpr std::uint8_t EXTRA_FINE_PORTA = 33;  // X

// E commands, by the high nibble of the parameter.
constexpr std::uint8_t E_FINE_PORTA_UP = 0x1;
constexpr std::uint8_t E_FINE_PORTA_DOWN = 0x2;
constexpr std::uint8_t E_VIBRATO_WAVEFORM = 0x4;
constexpr std::uint8_t E_SET_FINETUNE = 0x5;
constexpr std::uint8_t E_PATTERN_LOOP = 0x6;
constexpr std::uint8_t E_TREMOLO_WAVEFORM = 0x7;
constexpr std::uint8_t E_SET_PANNING = 0x8;
constexpr std::uint8_t E_RETRIGGER = 0x9;
constexpr std::uint8_t E_FINE_VOLUME_UP = 0xA;
constexpr std::uint8_t E_FINE_VOLUME_DOWN = 0xB;
constexpr std::uint8_t E_NOTE_CUT = 0xC;
constexpr std::uint8_t E_NOTE_DELAY = 0xD;
constexpr std::uint8_t E_PATTERN_DELAY = 0xE;
}  // namespace fx
