// The player's playback state (one Player, 32 Channels) and the tick machinery that changes
// it: the sequencer, row processing, per-tick effects, the modulation steps, the position and
// clock effects, envelopes, auto-vibrato and the voice update. Pairs with module.h (what is
// played) and mixer.h (the voices that the voice update drives).
//
// Index
//   [SECTION] Records and update flags      (player_state.cpp)
//   [SECTION] Sequencer                     (sequencer.cpp)
//   [SECTION] Row processing                (row.cpp)
//   [SECTION] Per-tick effects              (tick_effects.cpp)
//     helpers the three above share       (rows.h, rows.cpp)
//   [SECTION] Voice update, envelopes       (voice_update.cpp)
//   [SECTION] Modulation steps              (modulation.cpp)
//   [SECTION] Position and clock effects    (position_effects.cpp)
//
// Everything here runs on one thread at a time: the dialog's thread while the ring is primed,
// then only the playback thread. Nothing allocates.
#pragma once

#include <cstdint>

#include "player/mixer.h"
#include "player/module.h"

//-----------------------------------------------------------------------------
// [SECTION] Records and update flags
//-----------------------------------------------------------------------------

constexpr int OUTPUT_RATE = 44100;  // frames per second

struct Player {
  std::int32_t globalVolume;       // 0..64, start 64
  std::int32_t speed;              // ticks per row; 0 is accepted
  std::int32_t row;                // row being played
  std::int32_t orderPos;           // index into song.orderTable
  std::int32_t nextOrder;          // applied at the next row's first tick; -1 = none
  std::int32_t nextRow;            // applied at the next row's first tick; -1 = none
  std::int32_t tickSamplesLeft;    // frames still to render before the next tick; kept by fillBlock
  std::int32_t tick;               // tick within the row; 0 = first tick
  std::int32_t patternDelay;       // extra ticks of this row (EEx), 0 when the row ends
  std::int32_t samplesPerTick;     // frames per tick at 44100 Hz, from setBpm
  std::uint8_t globalVolumeSlideSpeed;  // last non-zero Hxy, one memory for all channels
};

// Update flags: the work a channel asks of the voice update on this tick.
constexpr std::uint8_t UPDATE_FREQUENCY = 0x01;
constexpr std::uint8_t UPDATE_VOLUME = 0x02;
constexpr std::uint8_t UPDATE_PANNING = 0x04;
constexpr std::uint8_t UPDATE_TRIGGER = 0x08;
constexpr std::uint8_t UPDATE_REWIND = 0x20;

// Where one envelope of a channel stands; Channel holds one for volume and one for panning.
struct EnvelopeState {
  std::int32_t tick;             // envelope position in ticks
  std::int32_t point;            // point being approached
  std::int32_t levelFixed;       // signed 16.16
  std::int32_t level;            // 0..64
  std::int32_t step;             // signed 16.16 per tick
  std::uint8_t done;             // 1 once the last point is reached; the level then holds
};

struct Channel {
  std::uint8_t note;             // last note, 0-based (C-0 = 0); selects the sample via sampleMap
  std::uint8_t updateFlags;      // UPDATE_*
  std::uint8_t keyOff;           // 1 once released
  Voice* voice;                  // voice i or its twin i + 32
  std::int32_t period;           // linear: 64 per semitone; Amiga: a period
  std::int32_t volume;           // 0..64 (effect C may store more)
  std::int32_t pan;              // 0 left, 128 centre, 255 right; volume-column slides leave it unclamped
  std::int32_t volumeDelta;      // this tick's tremolo/tremor offset
  std::int32_t periodDelta;      // this tick's vibrato/arpeggio/auto-vibrato offset
  EnvelopeState volumeEnvelope;  // level 64 after an instrument reset
  EnvelopeState panningEnvelope; // level 32 (centre) after an instrument reset
  std::int32_t fadeoutLevel;     // 0..65536, 65536 = no fade
  std::int32_t autoVibratoPos;   // 0..255
  std::int32_t autoVibratoSweep; // ticks since the instrument reset, capped at vibratoSweep
  std::uint8_t instrumentIndex;  // 0-based; at or above instrumentCount selects emptyInstrument
  std::uint8_t realNote;         // note + relativeNote, 0-based (C-4 = 48), modulo 256
  std::int32_t portaTarget;
  std::uint8_t portaSpeed;       // period moves 4 x portaSpeed per tick
  std::uint8_t portaDownSpeed;
  std::uint8_t portaUpSpeed;
  std::uint8_t panSlideSpeed;
  std::uint8_t effect;           // effect of the row being played
  std::uint8_t retrigVolumeMode;
  std::uint8_t retrigInterval;
  std::uint8_t waveControl;      // low nibble vibrato waveform, high nibble tremolo waveform
  std::uint8_t extraFinePortaDown;
  std::uint8_t extraFinePortaUp;
  std::uint8_t volumeSlideSpeed; // shared by A, 5 and 6
  std::int8_t vibratoPos;        // -32..31
  std::uint8_t vibratoSpeed;
  std::uint8_t vibratoDepth;
  std::int8_t tremoloPos;        // -32..31
  std::uint8_t tremoloSpeed;
  std::uint8_t tremoloDepth;
  std::uint8_t tremorCount;
  std::uint8_t tremorOnTicks;
  std::uint8_t tremorOffTicks;
  std::uint8_t fineVolumeSlideSpeed;
  std::uint8_t finePortaUpSpeed;
  std::uint8_t finePortaDownSpeed;
  std::int32_t notePeriod;       // period of the last note before any slide
  std::int32_t sampleOffset;     // last non-zero 9xx, in units of 256 frames
  std::int32_t loopRow;          // row recorded by E60
  std::int32_t loopCount;        // pattern-loop repetitions still to come
};

// The player's whole state: the module records that the loader fills, the playback records,
// the voices and the mixer's mode. One instance (context.cpp), reached through
// playerContext; the functions of module.h, this header and mixer.h work on it. Besides it
// the player keeps from call to call only the loader's allocator (a test seam) and caches of
// values that follow from constants alone.
struct PlayerContext {
  Song song;
  Pattern patterns[MAX_PATTERNS];
  Instrument instruments[MAX_INSTRUMENTS];
  Instrument emptyInstrument;
  Sample emptySample;
  Player player;
  Channel channels[MAX_CHANNELS];
  bool jumpSeen;               // a Bxx was seen on the row being processed
  Voice voices[VOICE_COUNT];
  MixerMode mode = mixerModeFor(MixerLoops::Fastest);  // set by useMixerLoops
};

extern PlayerContext* const playerContext;

// Start values: voices cleared and numbered, position 0, tempo from the song, the first
// channelCount channels zeroed and given voice i. Run once after loadModule.
void resetPlayer();

// samplesPerTick = roundToInt((1000 / (bpm x 0.4f)) x 44.1f), the two constants single
// precision widened to double: 125 BPM gives 882.
void setBpm(std::int32_t bpm);

//-----------------------------------------------------------------------------
// [SECTION] Sequencer
//-----------------------------------------------------------------------------

// One tick: a row's first tick processes the row, later ticks run the per-tick effects.
void playerTick();

//-----------------------------------------------------------------------------
// [SECTION] Row processing and per-tick effects
//-----------------------------------------------------------------------------

void processRow();
void processTickEffects();

//-----------------------------------------------------------------------------
// [SECTION] Voice update, envelopes and auto-vibrato
//-----------------------------------------------------------------------------

// One tick of one envelope. state is the channel's volumeEnvelope or panningEnvelope; flag
// (UPDATE_VOLUME or UPDATE_PANNING) is raised on every call.
void stepEnvelope(Channel& channel, EnvelopeState& state, const Envelope& envelope,
                  std::uint8_t flag);

// A point's value as the envelopes use it: capped at 64, so a hostile module cannot lift a
// level above 64 (nor overflow its 16.16 form).
std::int32_t envelopePointValue(const EnvelopePoint& point);

// The level of a 16.16 envelope level: its high half (an arithmetic shift, toward minus
// infinity), held to 0..64. An envelope whose points start at tick 0 and rise in tick never
// leaves that range; an effect L before the first point of one that starts later, or points
// out of order, would extrapolate past it, down to negative volumes.
std::int32_t envelopeLevel(std::int32_t levelFixed);

// One tick of fade-out after key-off: fadeoutLevel falls by the instrument's fadeout, not below 0.
void stepFadeout(Channel& channel, const Instrument& instrument);

void applyAutoVibrato(Channel& channel, const Instrument& instrument);
void updateVoice(Channel& channel, const Sample& sample);

//-----------------------------------------------------------------------------
// [SECTION] Modulation steps
//-----------------------------------------------------------------------------

void applyVibrato(Channel& channel);
void applyTremolo(Channel& channel);
void applyTremor(Channel& channel);
void applyTonePortamento(Channel& channel);

//-----------------------------------------------------------------------------
// [SECTION] Position and clock effects (first tick; xy is the effect parameter)
//-----------------------------------------------------------------------------

void effectPositionJump(std::uint8_t xy);                       // B
void effectPatternBreak(std::uint8_t xy);                       // D
void effectPatternLoop(Channel& channel, std::uint8_t y);       // E6y
void effectPatternDelay(std::uint8_t y);                        // EEy
void effectSetSpeedOrTempo(std::uint8_t xy);                    // F
void effectSetGlobalVolume(Channel& channel, std::uint8_t xy);  // G
void effectGlobalVolumeSlideMemory(std::uint8_t xy);            // H, first tick
