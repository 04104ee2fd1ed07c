// Row processing, per-tick effects and the sequencer, tick by tick on small written modules:
// channel, player and voice fields after chosen ticks.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "player/rows.h"  // and player.h
#include "tools/xmwriter/xm_writer.h"

namespace {

// Cell notes: C-4 is 49 in a cell (realNote 48, linear period 4608 at finetune 0).
constexpr std::uint8_t C4 = 49, D4 = 51, E4 = 53;
constexpr std::uint8_t KEY_OFF_NOTE = 97;  // the loader turns it into NOTE_KEY_OFF

// The instruments every test song carries (1-based, as written in cells).
enum : std::uint8_t {
  PLAIN = 1,       // looped square, volume 40, pan 64, fade-out 1024 once loaded, no envelope
  OTHER = 2,       // looped sine, volume 20, pan 200, relative note +12
  ENVELOPED = 3,   // volume envelope (0,64) (4,32) (8,0), sustain at point 1; fade-out 2048;
                   // panning envelope (0,0) (4,64)
  LONG = 4,        // 2048 frames, loop 512..1023
  ENDS_HIGH = 5,   // volume envelope (0,64) (10,16), no sustain
  LATE_START = 6,  // volume envelope (10,0) (20,64): its first point is not at tick 0;
                   // square auto-vibrato, depth 8, rate 0: +8 period units on every tick
};

XmInstrument instrument(XmWave wave, std::uint32_t frames, std::uint8_t volume, std::uint8_t pan) {
  XmSample sample = xmWaveSample(wave, frames, 32, false);
  sample.loopType = 1, sample.loopLength = frames;
  sample.volume = volume, sample.panning = pan;
  return xmInstrument(sample);
}

XmEnvelope envelope(std::vector<XmEnvelopePoint> points, int sustainPoint = -1) {
  const auto flags = std::uint8_t(sustainPoint >= 0 ? 3 : 1);  // on, and sustain
  return {std::move(points), {}, std::uint8_t(std::max(sustainPoint, 0)), 0, 0, flags};
}

// A song of one order and one pattern of 16 rows on 2 channels at tempo 6 and 125 BPM.
XmModule testSong() {
  XmModule m;
  m.channelCount = 2;
  m.orders = {0};
  m.patterns.push_back(xmPattern(m, 16));
  m.instruments = {instrument(XmWave::Square, 64, 40, 64), instrument(XmWave::Sine, 128, 20, 200)};
  m.instruments[0].fadeout = 512, m.instruments[1].samples[0].relativeNote = 12;
  XmInstrument& enveloped = m.instruments.emplace_back(instrument(XmWave::Square, 64, 64, 128));
  enveloped.volumeEnvelope = envelope({{0, 64}, {4, 32}, {8, 0}}, 1);
  enveloped.panningEnvelope = envelope({{0, 0}, {4, 64}});
  enveloped.fadeout = 1024;
  XmInstrument& longOne = m.instruments.emplace_back(instrument(XmWave::Saw, 2048, 64, 128));
  longOne.samples[0].loopStart = 512, longOne.samples[0].loopLength = 512;
  m.instruments.push_back(instrument(XmWave::Square, 64, 64, 128));
  m.instruments.back().volumeEnvelope = envelope({{0, 64}, {10, 16}});
  XmInstrument& lateStart = m.instruments.emplace_back(instrument(XmWave::Square, 64, 64, 128));
  lateStart.volumeEnvelope = envelope({{10, 0}, {20, 64}});
  lateStart.vibratoType = 1, lateStart.vibratoDepth = 8;
  return m;
}

TEST(Periods, BothTables) {
  struct Case { std::uint8_t note; std::int8_t finetune; std::int32_t amiga, linear; };
  for (const Case& c : {Case{48, 0, 1712, 4608}, {48, 64, 1664, 4576}, {48, -64, 1763, 4640},
                        {48, 127, 1617, 4545}, {48, -128, 1814, 4672}, {48, -3, 1714, 4609},
                        {0, 0, 27392, 7680}, {95, 0, 113, 1600},
                        // Note 0 has no note below: a negative finetune reaches toward note 1.
                        // 24403.5 x (1 + 2^-25) rounds up with the widened single-precision 1/12.
                        {0, -64, 28160, 7712}, {2, 0, 24404, 7552}}) {
    EXPECT_EQ(amigaPeriod(c.note, c.finetune), c.amiga) << int(c.note) << " " << int(c.finetune);
    EXPECT_EQ(linearPeriod(c.note, c.finetune), c.linear) << int(c.note) << " " << int(c.finetune);
  }
}

//-----------------------------------------------------------------------------
// Channel 0's state at chosen ticks of a song of a few rows
//-----------------------------------------------------------------------------

std::int32_t ticksPlayed;  // since the song started, counted by Rows::playThrough

// A field of channel 0, of its voice or of the player, with its name for failure messages.
struct Field { const char* name; std::int32_t (*read)(const Channel& c); };
#define CHANNEL_FIELD(f) Field{#f, [](const Channel& c) { return std::int32_t(c.f); }}
#define FLAG_FIELD(flag) Field{#flag, [](const Channel& c) { return std::int32_t((c.updateFlags & flag) != 0); }}
#define PLAYER_FIELD(f) Field{#f, [](const Channel&) { return std::int32_t(playerContext->player.f); }}
constexpr Field NOTE = CHANNEL_FIELD(note), REAL_NOTE = CHANNEL_FIELD(realNote), PERIOD = CHANNEL_FIELD(period),
    INSTRUMENT = CHANNEL_FIELD(instrumentIndex), NOTE_PERIOD = CHANNEL_FIELD(notePeriod),
    PORTA_TARGET = CHANNEL_FIELD(portaTarget), PERIOD_DELTA = CHANNEL_FIELD(periodDelta),
    VOLUME = CHANNEL_FIELD(volume), VOLUME_DELTA = CHANNEL_FIELD(volumeDelta), PAN = CHANNEL_FIELD(pan),
    KEY_OFF = CHANNEL_FIELD(keyOff), FADEOUT = CHANNEL_FIELD(fadeoutLevel), VOL_ENV = CHANNEL_FIELD(volumeEnvelope.level),
    PAN_ENV = CHANNEL_FIELD(panningEnvelope.level), VIBRATO_POS = CHANNEL_FIELD(vibratoPos), VOICE = CHANNEL_FIELD(voice->index),
    VOICE_VOLUME = CHANNEL_FIELD(voice->volume), START_OFFSET = CHANNEL_FIELD(voice->startOffset),
    POSITION = CHANNEL_FIELD(voice->positionInt), FINETUNE = CHANNEL_FIELD(voice->sample->finetune),
    SAMPLE_VOLUME = CHANNEL_FIELD(voice->sample->volume),  // tells PLAIN (40) from OTHER (20)
    TRIGGER = FLAG_FIELD(UPDATE_TRIGGER), REWIND = FLAG_FIELD(UPDATE_REWIND), ORDER = PLAYER_FIELD(orderPos),
    GLOBAL_VOLUME = PLAYER_FIELD(globalVolume), SAMPLES_PER_TICK = PLAYER_FIELD(samplesPerTick),
    TICK_INDEX{"ticks before this one", [](const Channel&) { return ticksPlayed - 1; }};
constexpr std::int32_t FULL = 65536;  // fadeoutLevel without fade

using Values = std::vector<std::pair<Field, std::int32_t>>;
struct Check { std::int32_t row, tick; Values values; };
struct Scenario {
  std::string name;
  std::vector<XmCell> rows;  // channel 0 from row 0 on
  std::vector<Check> checks;
  void (*edit)(XmModule& m) = nullptr;  // changes to testSong() before the rows are written
  std::int32_t startPeriod = 0;         // when not 0, the period after row 0's first tick
};

// One field on ticks 0..5 of row 1.
Scenario ticks(const char* name, XmCell row0, XmCell row1, Field field, std::array<std::int32_t, 6> values,
               void (*edit)(XmModule& m) = nullptr, std::int32_t startPeriod = 0) {
  Scenario s{name, {row0, row1}, {}, edit, startPeriod};
  for (int t = 0; t < 6; ++t) s.checks.push_back({1, t, {{field, values[t]}}});
  return s;
}

class Rows : public ::testing::Test {
 protected:
  void TearDown() override { releaseModule(); }

  // Plays every tick up to and including tick `tick` of row `row` (the next time play gets there).
  void playThrough(std::int32_t row, std::int32_t tick) {
    for (int guard = 0; guard < 100000; ++guard) {
      const std::int32_t t = playerContext->player.tick;
      playerTick();  // a row's first tick sets player.row
      ++ticksPlayed;
      if (playerContext->player.row == row && t == tick) return;
    }
    FAIL() << "row " << row << " tick " << tick << " never played";
  }

  void run(const Scenario& s) {
    SCOPED_TRACE(s.name);
    XmModule m = testSong();
    if (s.edit != nullptr) s.edit(m);
    for (std::size_t r = 0; r < s.rows.size(); ++r) xmCell(m, 0, static_cast<std::uint16_t>(r), 0) = s.rows[r];
    bytes_ = writeXm(m);
    const char* refusal = loadModule(bytes_.data(), bytes_.size());
    ASSERT_EQ(refusal, nullptr) << refusal;
    resetPlayer();
    ticksPlayed = 0;
    if (s.startPeriod != 0) {
      playThrough(0, 0);
      playerContext->channels[0].period = s.startPeriod;
    }
    for (const Check& check : s.checks) {
      playThrough(check.row, check.tick);
      for (auto [field, value] : check.values)
        EXPECT_EQ(field.read(playerContext->channels[0]), value) << field.name << ", row " << check.row << " tick " << check.tick;
    }
  }

  std::vector<std::uint8_t> bytes_;
};

TEST_F(Rows, NotesInstrumentsAndKeyOff) {
  const Values off = {{KEY_OFF, 1}, {VOL_ENV, 0}, {FADEOUT, FULL - 1024}, {VOICE_VOLUME, 0}};
  const Scenario scenarios[] = {
      {"note and instrument: the sample's defaults, relative note +12", {{C4, OTHER}},
       {{0, 0, {{SAMPLE_VOLUME, 20}, {REAL_NOTE, 60}, {PERIOD, 7680 - 64 * 60}, {VOLUME, 20},
                {PAN, 200}, {FADEOUT, FULL}, {VOL_ENV, 64}, {TRIGGER, 1}}}}},
      {"instrument without note resets, no trigger", {{C4, PLAIN, 0x20}, {0, OTHER}},
       {{1, 0, {{VOICE, 0}, {SAMPLE_VOLUME, 40}, {TRIGGER, 0}, {INSTRUMENT, 1}, {VOLUME, 20}, {PAN, 200}}}}},
      // The new note moves to the twin; fade-out over six ticks of row 1 and one of row 2.
      {"note without instrument keeps volume, fade and key-off",
       {{C4, PLAIN, 0x20}, {0, 0, 0, fx::KEY_OFF, 0}, {D4}},
       {{2, 0, {{VOICE, 32}, {SAMPLE_VOLUME, 40}, {PERIOD, 4480}, {VOLUME, 16}, {KEY_OFF, 1},
                {FADEOUT, FULL - 7 * 1024}}}}},
      {"key-off note, K00 and K1F without envelope: silent at once; a note with instrument ends it",
       {{C4, PLAIN}, {KEY_OFF_NOTE}, {C4, PLAIN}, {0, 0, 0, fx::KEY_OFF, 0x00}, {C4, PLAIN},
        {0, 0, 0, fx::KEY_OFF, 0x1F}},
       {{1, 0, off}, {2, 0, {{KEY_OFF, 0}, {FADEOUT, FULL}, {VOL_ENV, 64}}}, {3, 0, off}, {5, 0, off}}},
      // The envelope held at its sustain point (32) leaves it on the key-off tick; the fade-out
      // of 2048 a tick reaches 0 on row 6 and stays there.
      {"key-off passes the sustain", {{C4, ENVELOPED}, {KEY_OFF_NOTE}},
       {{0, 1, {{PAN_ENV, 16}}}, {0, 4, {{PAN_ENV, 64}}},
        {1, 0, {{KEY_OFF, 1}, {VOL_ENV, 32}, {FADEOUT, FULL - 2048}, {VOICE_VOLUME, 62}}},
        {1, 1, {{VOL_ENV, 24}}}, {7, 0, {{FADEOUT, 0}, {VOICE_VOLUME, 0}}}}},
      {"key-off with instrument: reset, then released", {{C4, ENVELOPED}, {KEY_OFF_NOTE, ENVELOPED}},
       {{1, 0, {{KEY_OFF, 1}, {VOL_ENV, 64}, {FADEOUT, FULL - 2048}, {VOICE_VOLUME, 124}}},
        {1, 1, {{VOL_ENV, 56}}}}},
      // E-4 with PLAIN's relative note 0, not OTHER's +12; the reset takes PLAIN's volume.
      {"3xx with note and instrument only sets the target",
       {{C4, PLAIN, 0x20}, {E4, OTHER, 0, fx::TONE_PORTA, 0x10}},
       {{1, 0, {{NOTE, 48}, {INSTRUMENT, 0}, {NOTE_PERIOD, 4352}, {PORTA_TARGET, 4352},
                {PERIOD, 4608}, {VOLUME, 40}, {VOICE, 0}, {TRIGGER, 0}}},
        {1, 3, {{PERIOD, 4608 - 3 * 64}}}, {1, 5, {{PERIOD, 4352}}}}},
      // Volume column Fx beside another effect: the new period at once, no trigger, no slide.
      {"volume column F2 with A01", {{C4, PLAIN}, {E4, 0, 0xF2, fx::VOLUME_SLIDE, 0x01}},
       {{1, 0, {{NOTE, 52}, {VOICE, 0}, {TRIGGER, 0}, {PERIOD, 4352}}}, {1, 5, {{PERIOD, 4352}, {VOLUME, 35}}}}},
      // Notes 98..254 are no note: the instrument beside them only resets.
      {"notes 100 and 200 are no note", {{C4, PLAIN}, {100, OTHER, 0, 0, 0, 0x83}, {200, PLAIN, 0, 0, 0, 0x83}},
       {{1, 0, {{NOTE, 48}, {VOICE, 0}, {TRIGGER, 0}, {PERIOD, 4608}}}, {1, 5, {{PERIOD, 4608}, {VOLUME, 20}}},
        {2, 0, {{NOTE, 48}, {TRIGGER, 0}, {VOLUME, 40}}}}},
  };
  for (const Scenario& s : scenarios) run(s);
}

TEST_F(Rows, VolumeColumnAndFirstTickEffects) {
  // From PLAIN's volume 40 and pan 64, after all six ticks of row 1.
  auto volumeColumn = [](std::uint8_t byte, std::int32_t volume, std::int32_t pan) {
    return Scenario{"volume column " + std::to_string(byte), {{C4, PLAIN}, {0, 0, byte}},
                    {{1, 5, {{VOLUME, volume}, {PAN, pan}}}}};
  };
  // Row 2 repeats the effect with a zero low nibble: the memory gives the same step again.
  auto fineSlide = [](const char* name, std::uint8_t effect, std::uint8_t xy, std::int32_t period,
                      std::int32_t volume) {
    return Scenario{name, {{C4, PLAIN}, {0, 0, 0, effect, xy}, {0, 0, 0, effect, std::uint8_t(xy & 0xF0)}},
                    {{2, 5, {{PERIOD, period}, {VOLUME, volume}}}}};
  };
  // Lxy on ENDS_HIGH: step (16 - 64) x 65536 / 10 = -314572; 64 x 65536 + 3 steps is 49.6 in
  // 16.16, taken as 49, one step later 44.8, taken as 44.
  auto envelopePosition = [](const char* name, std::uint8_t instrument, std::uint8_t p, std::int32_t at0,
                             std::int32_t at1) {
    return Scenario{name, {{C4, instrument, 0, fx::SET_ENVELOPE_POSITION, p}},
                    {{0, 0, {{VOL_ENV, at0}}}, {0, 1, {{VOL_ENV, at1}}}}};
  };
  const Scenario scenarios[] = {
      volumeColumn(0x30, 32, 64),      volumeColumn(0x63, 40 - 18, 64), volumeColumn(0x83, 40 - 3, 64),
      volumeColumn(0x73, 40 + 18, 64), volumeColumn(0x93, 40 + 3, 64),  volumeColumn(0x6F, 0, 64),
      volumeColumn(0x55, 40, 64),      volumeColumn(0xC3, 40, 48),      volumeColumn(0xD5, 40, 64 - 30),
      volumeColumn(0xE5, 40, 64 + 30),
      fineSlide("E1y", fx::EXTENDED, 0x12, 4608 - 2 * 8, 40),
      fineSlide("E2y", fx::EXTENDED, 0x23, 4608 + 2 * 12, 40),
      fineSlide("X1y", fx::EXTRA_FINE_PORTA, 0x12, 4608 - 2 * 2, 40),
      fineSlide("X2y", fx::EXTRA_FINE_PORTA, 0x23, 4608 + 2 * 3, 40),
      fineSlide("EAy stops at 64", fx::EXTENDED, 0xAF, 4608, 64),
      fineSlide("EBy", fx::EXTENDED, 0xB3, 4608, 40 - 2 * 3),
      envelopePosition("L inside a segment", ENDS_HIGH, 3, 49, 44),
      envelopePosition("L past the last point", ENDS_HIGH, 0x20, 16, 16),
      envelopePosition("L on an envelope that is off", PLAIN, 5, 64, 64),
      // L0 ten ticks before the first point: the line through the points gives -64 and,
      // stepping, -58; the level stays at 0 instead of turning the voice's volume negative.
      envelopePosition("L before the first point", LATE_START, 0, 0, 0),
      // The tremolo's offsets on row 2's later ticks (sine, depth 15, from phase 20) are
      // +24, +24, +22, 0, -22; the last one stays in the volume when row 3 has another effect.
      {"tremolo offset kept when the tremolo ends",
       {{C4, PLAIN}, {0, 0, 0, fx::TREMOLO, 0x4F}, {0, 0, 0, fx::TREMOLO, 0x00}, {0, 0, 0, fx::VOLUME_SLIDE, 0}},
       {{2, 0, {{VOLUME, 40}}}, {2, 5, {{VOLUME_DELTA, -22}}}, {3, 0, {{VOLUME, 18}}}}},
      {"a new note restarts the vibrato", {{C4, PLAIN, 0, fx::VIBRATO, 0x84}, {C4, PLAIN}},
       {{0, 5, {{VIBRATO_POS, -24}}}, {1, 0, {{VIBRATO_POS, 0}}}}},
      // LONG loops 512..1023: 9x02 waits on the voice for the next note, 9x00 reuses it, and
      // 9x04 (1024) rewinds the playing voice instead of starting the note.
      {"sample offset", {{C4, LONG}, {0, 0, 0, fx::SAMPLE_OFFSET, 2}, {C4}, {C4, 0, 0, fx::SAMPLE_OFFSET, 0},
                         {C4, 0, 0, fx::SAMPLE_OFFSET, 4}},
       {{1, 0, {{START_OFFSET, 512}, {POSITION, 0}}}, {2, 0, {{VOICE, 32}, {POSITION, 512}}},
        {3, 0, {{VOICE, 0}, {POSITION, 512}}}, {4, 0, {{VOICE, 0}, {TRIGGER, 0}, {REWIND, 1}, {POSITION, 0}}}}},
      // G30, then H21: the high nibble wins, 48 + 5 x 2. H raises no flag: the voice keeps
      // 40 x 48 x 255 / 8192 = 59.8 over the row. H00 goes on with the memory of all channels
      // and stops at 64; G50 sets 64, which gives the voice 40 x 64 x 255 / 8192 = 79.7.
      {"G and H", {{C4, PLAIN, 0, fx::SET_GLOBAL_VOLUME, 0x30}, {0, 0, 0, fx::GLOBAL_VOLUME_SLIDE, 0x21},
                   {0, 0, 0, fx::GLOBAL_VOLUME_SLIDE, 0}, {0, 0, 0, fx::SET_GLOBAL_VOLUME, 0x50}},
       {{1, 5, {{GLOBAL_VOLUME, 58}, {VOICE_VOLUME, 60}}}, {2, 5, {{GLOBAL_VOLUME, 64}}},
        {3, 0, {{GLOBAL_VOLUME, 64}, {VOICE_VOLUME, 80}}}}},
      // E5y writes the shared sample record: the next note from it is 3 units higher. On a
      // missing instrument (9) it leaves the shared empty sample all zero.
      {"set finetune", {{C4, PLAIN, 0, fx::EXTENDED, 0x57}, {C4}, {C4, 9, 0, fx::EXTENDED, 0x57}},
       {{0, 0, {{PERIOD, 4608}, {FINETUNE, 7}}}, {1, 0, {{PERIOD, 4608 - 3}}}, {2, 0, {{FINETUNE, 0}}}}},
      // The A01 on the last row of a pattern slides on its five later ticks only, not on the
      // ticks of the one empty row that a missing pattern (7) plays next.
      {"a missing pattern runs no effects", {{C4, PLAIN}, {0, 0, 0, fx::VOLUME_SLIDE, 0x01}},
       {{1, 5, {{VOLUME, 35}}}, {0, 5, {{ORDER, 1}, {VOLUME, 35}}}, {0, 0, {{ORDER, 2}, {TICK_INDEX, 3 * 6}}}},
       [](XmModule& m) { m.orders = {0, 7, 0}, m.patterns[0] = xmPattern(m, 2); }},
  };
  for (const Scenario& s : scenarios) run(s);
}

TEST_F(Rows, EffectsTickByTick) {
  // ED on row 1 (E-4 on ENVELOPED with volume 32 after C-4 on PLAIN at volume 16): nothing changes
  // until tick y, where the note starts on the twin voice with fresh levels (the envelope had
  // stepped).
  const Values before = {{PERIOD, 4608}, {VOLUME, 16}, {PAN, 64}};
  const Values started = {{VOICE, 32}, {PERIOD, 4352}, {VOLUME, 32}, {VOL_ENV, 64}, {PAN_ENV, 32}};
  auto delayed = [](std::uint8_t xy) {
    return std::vector<XmCell>{{C4, PLAIN, 0x20}, {E4, ENVELOPED, 0x30, fx::EXTENDED, xy}};
  };
  const XmCell c4{C4, PLAIN};
  const XmCell a8{C4, PLAIN, 0xA8};  // vibrato speed 8
  // An effect without a note, with a volume-column byte.
  auto e = [](std::uint8_t number, std::uint8_t xy, std::uint8_t vol = 0) { return XmCell{0, 0, vol, number, xy}; };
  const Scenario scenarios[] = {
      ticks("arpeggio 37", c4, e(fx::ARPEGGIO, 0x37), PERIOD_DELTA, {0, 192, 448, 0, 192, 448}),
      ticks("arpeggio 0C", c4, e(fx::ARPEGGIO, 0x0C), PERIOD_DELTA, {0, 0, 768, 0, 0, 768}),
      // Finetune 64: periods 1664 at C-4, 1400 three semitones up, 1111 seven up.
      ticks("Amiga arpeggio 37", c4, e(fx::ARPEGGIO, 0x37), PERIOD_DELTA, {0, -264, -553, 0, -264, -553},
            [](XmModule& m) { m.flags = 0, m.instruments[0].samples[0].finetune = 64; }),
      // Row 0 slides 4608 down by 1020 a tick to 528, then stops at 56; 100 reuses FF.
      ticks("portamento up stops at 56", {C4, PLAIN, 0, fx::PORTA_UP, 0xFF}, e(fx::PORTA_UP, 0), PERIOD,
            {56, 56, 56, 56, 56, 56}),
      ticks("portamento down", c4, e(fx::PORTA_DOWN, 0x40), PERIOD, {4608, 4864, 5120, 5376, 5632, 5888}),
      ticks("portamento down stops at 2^24", c4, e(fx::PORTA_DOWN, 0x40), PERIOD,
            {(1 << 24) - 300, (1 << 24) - 44, 1 << 24, 1 << 24, 1 << 24, 1 << 24}, nullptr, (1 << 24) - 300),
      ticks("volume slide 53: the high nibble wins", c4, e(fx::VOLUME_SLIDE, 0x53), VOLUME, {40, 45, 50, 55, 60, 64}),
      ticks("volume slide 0F", c4, e(fx::VOLUME_SLIDE, 0x0F), VOLUME, {40, 25, 10, 0, 0, 0}),
      ticks("5xy slides the volume", c4, e(fx::TONE_PORTA_VOLUME_SLIDE, 0x03), VOLUME, {40, 37, 34, 31, 28, 25}),
      ticks("note cut EC3", c4, e(fx::EXTENDED, 0xC3), VOLUME, {40, 40, 40, 0, 0, 0}),
      ticks("note cut EC0", c4, e(fx::EXTENDED, 0xC0), VOLUME, {40, 40, 40, 40, 40, 40}),
      // 64 x 2 / 3 = 42.7 and 21 x 3 / 2 = 31.5 both truncate.
      ticks("retrigger mode 6", {C4, PLAIN, 0x50}, e(fx::MULTI_RETRIGGER, 0x62), VOLUME, {64, 64, 42, 42, 28, 28}),
      ticks("retrigger mode 14", {C4, PLAIN, 0x25}, e(fx::MULTI_RETRIGGER, 0xE1), VOLUME, {21, 31, 46, 64, 64, 64}),
      ticks("retrigger mode 8", c4, e(fx::MULTI_RETRIGGER, 0x81), VOLUME, {40, 40, 40, 40, 40, 40}),
      ticks("set volume C50, not limited", c4, e(fx::SET_VOLUME, 0x50), VOLUME, {80, 80, 80, 80, 80, 80}),
      // Tremor on 2, off 2: the first tick counts too.
      ticks("tremor T11", c4, e(fx::TREMOR, 0x11), VOLUME_DELTA, {0, 0, -40, -40, 0, 0}),
      // Effect P clamps to 0..255; the volume column's slides do not.
      ticks("panning slide P0F from 10", {C4, PLAIN, 0, fx::SET_PANNING, 10}, e(fx::PANNING_SLIDE, 0x0F), PAN,
            {10, 0, 0, 0, 0, 0}),
      ticks("panning slide PF0 from 250", {C4, PLAIN, 0, fx::SET_PANNING, 250}, e(fx::PANNING_SLIDE, 0xF0), PAN,
            {250, 255, 255, 255, 255, 255}),
      ticks("volume column D5 from 2", {C4, PLAIN, 0, fx::SET_PANNING, 2}, {0, 0, 0xD5}, PAN,
            {-3, -8, -13, -18, -23, -28}),
      // The fine slides of the volume column clamp on the first tick.
      ticks("volume column 7F from 60", {C4, PLAIN, 0x4C}, {0, 0, 0x7F}, VOLUME, {64, 64, 64, 64, 64, 64}),
      ticks("volume column 8F from 10", {C4, PLAIN, 0x1A}, {0, 0, 0x8F}, VOLUME, {0, 0, 0, 0, 0, 0}),
      ticks("E85", c4, e(fx::EXTENDED, 0x85), PAN, {80, 80, 80, 80, 80, 80}),
      // The phase runs over -32..31. Volume column B adds a second step beside effects 4
      // and 6 (speed 8 from row 0's A8); beside 1 it gives no offset; beside A its own,
      // 4 x sine(phase) / 32 without the low two bits, from the phase before its step.
      ticks("vibrato speed 15 wraps", a8, e(fx::VIBRATO, 0xF1), VIBRATO_POS, {0, 15, 30, -19, -4, 11}),
      ticks("B with 4", a8, e(fx::VIBRATO, 0x84, 0xB4), VIBRATO_POS, {0, 16, -32, -16, 0, 16}),
      ticks("B with 6", a8, e(fx::VIBRATO_VOLUME_SLIDE, 0x01, 0xB4), VIBRATO_POS,
            {0, 16, -32, -16, 0, 16}),
      ticks("B with 1: no offset", a8, e(fx::PORTA_UP, 0x01, 0xB4), PERIOD_DELTA, {0, 0, 0, 0, 0, 0}),
      ticks("B with A", a8, e(fx::VOLUME_SLIDE, 0, 0xB4), PERIOD_DELTA, {0, 0, -20, -32, -20, 0}),
      ticks("auto-vibrato on every tick", {C4, LATE_START}, {}, PERIOD_DELTA, {8, 8, 8, 8, 8, 8}),
      // Every retrigger moves the note to the other voice of the pair.
      ticks("E93", c4, e(fx::EXTENDED, 0x93), VOICE, {0, 0, 0, 32, 32, 32}),
      ticks("E91", c4, e(fx::EXTENDED, 0x91), VOICE, {0, 32, 0, 32, 0, 32}),
      ticks("E90", c4, e(fx::EXTENDED, 0x90), VOICE, {0, 0, 0, 0, 0, 0}),
      ticks("R82", c4, e(fx::MULTI_RETRIGGER, 0x82), VOICE, {0, 0, 32, 32, 0, 0}),
      ticks("R60: interval 0", c4, e(fx::MULTI_RETRIGGER, 0x60), VOICE, {0, 0, 0, 0, 0, 0}),
      {"ED3", delayed(0xD3), {{1, 0, before}, {1, 2, {{VOICE, 0}}}, {1, 3, started}, {1, 4, {{VOICE, 32}}}}},
      {"ED2", delayed(0xD2), {{1, 0, before}, {1, 1, {{VOICE, 0}}}, {1, 2, started}, {1, 5, {{VOICE, 32}}}}},
      {"ED0 never starts", delayed(0xD0), {{1, 0, before}, {1, 5, {{VOICE, 0}}}}},
      {"ED6 never starts", delayed(0xD6), {{1, 0, before}, {1, 5, {{VOICE, 0}}}}},
  };
  for (const Scenario& s : scenarios) run(s);
}

//-----------------------------------------------------------------------------
// Sequencer
//-----------------------------------------------------------------------------

TEST_F(Rows, OrdersLoopsSpeedAndTempo) {
  const Scenario scenarios[] = {
      // Each check is the next time play reaches that row's first tick: the tick index says
      // that no row came between.
      {"speed and tempo count from their own row; EE2 is speed + 2 x speed; speed 0 is one tick",
       {{}, {0, 0, 0, fx::SPEED_TEMPO, 0x03}, {0, 0, 0, fx::SPEED_TEMPO, 0x20}, {0, 0, 0, fx::EXTENDED, 0xE2},
        {0, 0, 0, fx::SPEED_TEMPO, 0x00}},
       {{1, 0, {{TICK_INDEX, 6}, {SAMPLES_PER_TICK, 882}}}, {2, 0, {{TICK_INDEX, 9}, {SAMPLES_PER_TICK, 3445}}},
        {3, 0, {{TICK_INDEX, 12}}}, {4, 0, {{TICK_INDEX, 21}}}, {7, 0, {{TICK_INDEX, 24}}}}},
      {"one order loops", {}, {{15, 0, {{ORDER, 0}}}, {0, 0, {{ORDER, 0}, {TICK_INDEX, 16 * 6}}}}},
      {"off the last order to the restart position", {},
       {{0, 0, {{ORDER, 0}}}, {0, 0, {{ORDER, 1}}}, {0, 0, {{ORDER, 2}}},
        {0, 0, {{ORDER, 1}, {TICK_INDEX, 3 * 16 * 6}}}},
       [](XmModule& m) {
         m.orders = {0, 1, 0}, m.restartPosition = 1;
         m.patterns.push_back(xmPattern(m, 16));
       }},
      // Order 1 has 8 rows: row 12 of it, and the loop start recorded on row 10 of order 0,
      // are its row 0.
      {"break to row 12 of a pattern of 8", {{}, {}, {}, {}, {0, 0, 0, fx::PATTERN_BREAK, 0x12}},
       {{4, 0, {{ORDER, 0}}}, {0, 0, {{ORDER, 1}, {TICK_INDEX, 5 * 6}}}},
       [](XmModule& m) { m.orders = {0, 1}, m.patterns.push_back(xmPattern(m, 8)); }},
      // Order 0 plays rows 10..12 three times (E60, E62), order 1 rows 0..3 twice (E61).
      {"loops, one to row 10 in a pattern of 8", {},
       {{3, 0, {{ORDER, 0}}}, {3, 0, {{ORDER, 1}}}, {0, 0, {{ORDER, 1}}},
        {4, 0, {{ORDER, 1}, {TICK_INDEX, (16 + 2 * 3 + 8) * 6}}}},
       [](XmModule& m) {
         m.orders = {0, 1}, m.patterns.push_back(xmPattern(m, 8));
         xmCell(m, 0, 10, 0) = {0, 0, 0, fx::EXTENDED, 0x60}, xmCell(m, 0, 12, 0) = {0, 0, 0, fx::EXTENDED, 0x62};
         xmCell(m, 1, 3, 0) = {0, 0, 0, fx::EXTENDED, 0x61};
       }},
  };
  for (const Scenario& s : scenarios) run(s);
}

}  // namespace
