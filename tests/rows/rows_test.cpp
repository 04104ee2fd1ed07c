// Row processing, per-tick effects and the sequencer, tick by tick on small written modules:
// channel, player and voice fields after chosen ticks. Pairs with rows_play_test.cpp.

#include "rows_fixture.h"

#include <string>

#include "player/rows.h"

namespace rows {
namespace {

TEST(Periods, BothTables) {
  struct Case { std::uint8_t note; std::int8_t finetune; std::int32_t amiga, linear; };
  const Case cases[] = {{48, 0, 1712, 4608},   {48, 64, 1664, 4576},  {48, -64, 1763, 4640},
                        {48, 127, 1617, 4545}, {48, -128, 1814, 4672}, {48, -3, 1714, 4609},
                        {0, 0, 27392, 7680},   {95, 0, 113, 1600}};
  for (const Case& c : cases) {
    EXPECT_EQ(amigaPeriod(c.note, c.finetune), c.amiga) << int(c.note) << " " << int(c.finetune);
    EXPECT_EQ(linearPeriod(c.note, c.finetune), c.linear) << int(c.note) << " " << int(c.finetune);
  }
}

//-----------------------------------------------------------------------------
// Channel 0's state at chosen ticks of a song of a few rows
//-----------------------------------------------------------------------------

// A field of channel 0, of its voice or of the player, with its name for failure messages.
struct Field {
  const char* name;
  std::int32_t (*read)(const Channel& c);
};
constexpr Field VOICE{"voice", [](const Channel& c) { return c.voice->index; }};
// 1-based, as in cells; 0 for any other sample.
constexpr Field SAMPLE_OF{"instrument of the voice's sample", [](const Channel& c) {
  for (int i = 0; i < song.instrumentCount; ++i)
    if (c.voice->sample == instruments[i].samples[0]) return i + 1;
  return 0;
}};
constexpr Field TRIGGER{"trigger", [](const Channel& c) { return int((c.updateFlags & UPDATE_TRIGGER) != 0); }};
constexpr Field REWIND{"rewind", [](const Channel& c) { return int((c.updateFlags & UPDATE_REWIND) != 0); }};
constexpr Field NOTE{"note", [](const Channel& c) { return std::int32_t(c.note); }};
constexpr Field REAL_NOTE{"realNote", [](const Channel& c) { return std::int32_t(c.realNote); }};
constexpr Field INSTRUMENT{"instrumentIndex", [](const Channel& c) { return std::int32_t(c.instrumentIndex); }};
constexpr Field PERIOD{"period", [](const Channel& c) { return std::int32_t(c.period); }};
constexpr Field NOTE_PERIOD{"notePeriod", [](const Channel& c) { return std::int32_t(c.notePeriod); }};
constexpr Field PORTA_TARGET{"portaTarget", [](const Channel& c) { return std::int32_t(c.portaTarget); }};
constexpr Field PERIOD_DELTA{"periodDelta", [](const Channel& c) { return std::int32_t(c.periodDelta); }};
constexpr Field VOLUME{"volume", [](const Channel& c) { return std::int32_t(c.volume); }};
constexpr Field VOLUME_DELTA{"volumeDelta", [](const Channel& c) { return std::int32_t(c.volumeDelta); }};
constexpr Field VOICE_VOLUME{"voice volume", [](const Channel& c) { return std::int32_t(c.voice->volume); }};
constexpr Field PAN{"pan", [](const Channel& c) { return std::int32_t(c.pan); }};
constexpr Field KEY_OFF{"keyOff", [](const Channel& c) { return std::int32_t(c.keyOff); }};
constexpr Field FADEOUT{"fadeoutLevel", [](const Channel& c) { return std::int32_t(c.fadeoutLevel); }};
constexpr Field VOL_ENV{"volEnvLevel", [](const Channel& c) { return std::int32_t(c.volEnvLevel); }};
constexpr Field PAN_ENV{"panEnvLevel", [](const Channel& c) { return std::int32_t(c.panEnvLevel); }};
constexpr Field VIBRATO_POS{"vibratoPos", [](const Channel& c) { return std::int32_t(c.vibratoPos); }};
constexpr Field START_OFFSET{"voice startOffset", [](const Channel& c) { return std::int32_t(c.voice->startOffset); }};
constexpr Field POSITION{"voice positionInt", [](const Channel& c) { return std::int32_t(c.voice->positionInt); }};
constexpr Field GLOBAL_VOLUME{"globalVolume", [](const Channel&) { return std::int32_t(player.globalVolume); }};
constexpr Field FINETUNE{"finetune of the voice's sample",
                         [](const Channel& c) { return std::int32_t(c.voice->sample->finetune); }};

struct Check {
  std::int32_t row, tick;
  std::vector<std::pair<Field, std::int32_t>> values;
};
struct Scenario {
  std::string name;
  std::vector<XmCell> rows;  // channel 0 from row 0 on
  std::vector<Check> checks;
};

class RowsScenario : public RowsTest {
 protected:
  void run(const Scenario& s) {
    SCOPED_TRACE(s.name);
    XmModule m = testSong();
    for (std::size_t r = 0; r < s.rows.size(); ++r) at(m, static_cast<std::uint16_t>(r)) = s.rows[r];
    start(m);
    for (const Check& check : s.checks) {
      playThrough(check.row, check.tick);
      for (auto [field, value] : check.values)
        EXPECT_EQ(field.read(channels[0]), value) << field.name << " on row " << check.row << " tick " << check.tick;
    }
  }
};

constexpr std::int32_t FULL = 65536;  // fadeoutLevel without fade

TEST_F(RowsScenario, NotesInstrumentsAndKeyOff) {
  const Scenario scenarios[] = {
      {"note and instrument: the sample's defaults, relative note +12", {{C4, OTHER}},
       {{0, 0, {{SAMPLE_OF, OTHER}, {REAL_NOTE, 60}, {PERIOD, 7680 - 64 * 60}, {VOLUME, 20},
                {PAN, 200}, {FADEOUT, FULL}, {VOL_ENV, 64}, {TRIGGER, 1}}}}},
      {"instrument without note resets, no trigger", {{C4, PLAIN, 0x20}, {0, OTHER}},
       {{1, 0, {{VOICE, 0}, {SAMPLE_OF, PLAIN}, {TRIGGER, 0}, {INSTRUMENT, 1}, {VOLUME, 20}, {PAN, 200}}}}},
      // The new note moves to the twin; fade-out over six ticks of row 1 and one of row 2.
      {"note without instrument keeps volume, fade and key-off",
       {{C4, PLAIN, 0x20}, {0, 0, 0, fx::KEY_OFF, 0}, {D4}},
       {{2, 0, {{VOICE, 32}, {SAMPLE_OF, PLAIN}, {PERIOD, 4480}, {VOLUME, 16}, {KEY_OFF, 1},
                {FADEOUT, FULL - 7 * 1024}}}}},
      {"key-off without envelope: silent at once", {{C4, PLAIN}, {KEY_OFF_NOTE}},
       {{1, 0, {{KEY_OFF, 1}, {VOL_ENV, 0}, {FADEOUT, FULL - 1024}, {VOICE_VOLUME, 0}}}}},
      {"K00", {{C4, PLAIN}, {0, 0, 0, fx::KEY_OFF, 0x00}},
       {{1, 0, {{KEY_OFF, 1}, {VOL_ENV, 0}, {FADEOUT, FULL - 1024}, {VOICE_VOLUME, 0}}}}},
      {"K1F", {{C4, PLAIN}, {0, 0, 0, fx::KEY_OFF, 0x1F}},
       {{1, 0, {{KEY_OFF, 1}, {VOL_ENV, 0}, {FADEOUT, FULL - 1024}, {VOICE_VOLUME, 0}}}}},
      // The envelope held at its sustain point (32) leaves it on the key-off tick.
      {"key-off passes the sustain", {{C4, ENVELOPED}, {KEY_OFF_NOTE}},
       {{1, 0, {{KEY_OFF, 1}, {VOL_ENV, 32}, {FADEOUT, FULL - 2048}, {VOICE_VOLUME, 62}}},
        {1, 1, {{VOL_ENV, 24}}}}},
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
      {"note 100 is no note", {{C4, PLAIN}, {100, OTHER, 0, 0, 0, 0x83}},
       {{1, 0, {{NOTE, 48}, {VOICE, 0}, {TRIGGER, 0}, {PERIOD, 4608}}}, {1, 5, {{PERIOD, 4608}, {VOLUME, 20}}}}},
      {"note 200 is no note", {{C4, PLAIN}, {200, OTHER, 0, 0, 0, 0x83}},
       {{1, 0, {{NOTE, 48}, {VOICE, 0}, {TRIGGER, 0}, {PERIOD, 4608}}}, {1, 5, {{PERIOD, 4608}, {VOLUME, 20}}}}},
  };
  for (const Scenario& s : scenarios) run(s);
}

TEST_F(RowsScenario, VolumeColumnAndFirstTickEffects) {
  // From PLAIN's volume 40 and pan 64, after all six ticks of row 1.
  auto volumeColumn = [](std::uint8_t byte, std::int32_t volume, std::int32_t pan) {
    return Scenario{"volume column " + std::to_string(byte), {{C4, PLAIN}, {0, 0, byte}},
                    {{1, 5, {{VOLUME, volume}, {PAN, pan}}}}};
  };
  // Row 2 repeats the effect with a zero low nibble: the memory gives the same step again.
  auto fineSlide = [](const char* name, std::uint8_t effect, std::uint8_t xy, std::int32_t periodStep,
                      std::int32_t volumeStep) {
    return Scenario{name, {{C4, PLAIN}, {0, 0, 0, effect, xy}, {0, 0, 0, effect, std::uint8_t(xy & 0xF0)}},
                    {{2, 5, {{PERIOD, 4608 + 2 * periodStep}, {VOLUME, 40 + 2 * volumeStep}}}}};
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
      fineSlide("E1y", fx::EXTENDED, 0x12, -8, 0),         fineSlide("E2y", fx::EXTENDED, 0x23, 12, 0),
      fineSlide("X1y", fx::EXTRA_FINE_PORTA, 0x12, -2, 0), fineSlide("X2y", fx::EXTRA_FINE_PORTA, 0x23, 3, 0),
      fineSlide("EAy", fx::EXTENDED, 0xA3, 0, 3),          fineSlide("EBy", fx::EXTENDED, 0xB3, 0, -3),
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
      // LONG loops 512..1023: 9x02 waits on the voice for the next note, 9x00 reuses it, and
      // 9x04 (1024) rewinds the playing voice instead of starting the note.
      {"sample offset", {{C4, LONG}, {0, 0, 0, fx::SAMPLE_OFFSET, 2}, {C4}, {C4, 0, 0, fx::SAMPLE_OFFSET, 0},
                         {C4, 0, 0, fx::SAMPLE_OFFSET, 4}},
       {{1, 0, {{START_OFFSET, 512}, {POSITION, 0}}}, {2, 0, {{VOICE, 32}, {POSITION, 512}}},
        {3, 0, {{VOICE, 0}, {POSITION, 512}}}, {4, 0, {{VOICE, 0}, {TRIGGER, 0}, {REWIND, 1}, {POSITION, 0}}}}},
      // H raises no flag: the voice keeps 40 x 32 x 255 / 8192 = 39.8 until row 2's update
      // gives 40 x 42 x 255 / 8192 = 52.3.
      {"H20 over a row", {{C4, PLAIN, 0, fx::SET_GLOBAL_VOLUME, 0x20}, {0, 0, 0, fx::GLOBAL_VOLUME_SLIDE, 0x20}},
       {{1, 1, {{GLOBAL_VOLUME, 34}}}, {1, 3, {{GLOBAL_VOLUME, 38}}}, {1, 5, {{GLOBAL_VOLUME, 42}, {VOICE_VOLUME, 40}}},
        {2, 0, {{VOICE_VOLUME, 52}}}}},
      // E5y writes the shared sample record: the next note from it is 3 units higher. On a
      // missing instrument (9) it leaves the shared empty sample all zero.
      {"set finetune", {{C4, PLAIN, 0, fx::EXTENDED, 0x57}, {C4}, {C4, 9, 0, fx::EXTENDED, 0x57}},
       {{0, 0, {{PERIOD, 4608}, {FINETUNE, 7}}}, {1, 0, {{PERIOD, 4608 - 3}}}, {2, 0, {{FINETUNE, 0}}}}},
  };
  for (const Scenario& s : scenarios) run(s);
}

// ED on row 1 (E-4 on ENVELOPED after C-4 on PLAIN at volume 16): nothing changes until tick
// y, where the note starts on the twin voice with fresh levels (the envelope had stepped).
TEST_F(RowsScenario, NoteDelay) {
  const std::vector<std::pair<Field, std::int32_t>> before = {{PERIOD, 4608}, {VOLUME, 16}, {PAN, 64}};
  const std::vector<std::pair<Field, std::int32_t>> started = {
      {VOICE, 32}, {PERIOD, 4352}, {VOLUME, 64}, {VOL_ENV, 64}, {PAN_ENV, 32}};
  const XmCell row0 = {C4, PLAIN, 0x20};
  const Scenario scenarios[] = {
      {"ED3", {row0, {E4, ENVELOPED, 0, fx::EXTENDED, 0xD3}},
       {{1, 0, before}, {1, 2, {{VOICE, 0}}}, {1, 3, started}, {1, 4, {{VOICE, 32}}}}},
      {"ED2", {row0, {E4, ENVELOPED, 0, fx::EXTENDED, 0xD2}},
       {{1, 0, before}, {1, 1, {{VOICE, 0}}}, {1, 2, started}, {1, 5, {{VOICE, 32}}}}},
      {"ED0 never starts", {row0, {E4, ENVELOPED, 0, fx::EXTENDED, 0xD0}}, {{1, 0, before}, {1, 5, {{VOICE, 0}}}}},
      {"ED6 never starts", {row0, {E4, ENVELOPED, 0, fx::EXTENDED, 0xD6}}, {{1, 0, before}, {1, 5, {{VOICE, 0}}}}},
  };
  for (const Scenario& s : scenarios) run(s);
}

//-----------------------------------------------------------------------------
// Per-tick effects: one field on ticks 0..5 of row 1
//-----------------------------------------------------------------------------

struct TickCase {
  const char* name;
  XmCell cell0, cell1;
  Field field;
  std::int32_t values[6];
  bool amiga = false;
  std::int32_t startPeriod = 0;  // when not 0, the period after row 0's first tick
};

TEST_F(RowsTest, EffectsTickByTick) {
  const TickCase cases[] = {
      {"arpeggio 37", {C4, PLAIN}, {0, 0, 0, fx::ARPEGGIO, 0x37}, PERIOD_DELTA, {0, 192, 448, 0, 192, 448}},
      {"arpeggio 0C", {C4, PLAIN}, {0, 0, 0, fx::ARPEGGIO, 0x0C}, PERIOD_DELTA, {0, 0, 768, 0, 0, 768}},
      // Finetune 64: periods 1664 at C-4, 1400 three semitones up, 1111 seven up.
      {"Amiga arpeggio 37", {C4, PLAIN}, {0, 0, 0, fx::ARPEGGIO, 0x37}, PERIOD_DELTA,
       {0, -264, -553, 0, -264, -553}, true},
      {"portamento up floors at 56", {C4, PLAIN}, {0, 0, 0, fx::PORTA_UP, 0x02}, PERIOD,
       {60, 56, 56, 56, 56, 56}, false, 60},
      {"portamento down", {C4, PLAIN}, {0, 0, 0, fx::PORTA_DOWN, 0x40}, PERIOD,
       {4608, 4864, 5120, 5376, 5632, 5888}},
      {"portamento down stops at 2^24", {C4, PLAIN}, {0, 0, 0, fx::PORTA_DOWN, 0x40}, PERIOD,
       {(1 << 24) - 300, (1 << 24) - 44, 1 << 24, 1 << 24, 1 << 24, 1 << 24}, false, (1 << 24) - 300},
      {"volume slide 53: the high nibble wins", {C4, PLAIN}, {0, 0, 0, fx::VOLUME_SLIDE, 0x53}, VOLUME,
       {40, 45, 50, 55, 60, 64}},
      {"volume slide 03", {C4, PLAIN}, {0, 0, 0, fx::VOLUME_SLIDE, 0x03}, VOLUME, {40, 37, 34, 31, 28, 25}},
      {"note cut EC3", {C4, PLAIN}, {0, 0, 0, fx::EXTENDED, 0xC3}, VOLUME, {40, 40, 40, 0, 0, 0}},
      {"note cut EC0", {C4, PLAIN}, {0, 0, 0, fx::EXTENDED, 0xC0}, VOLUME, {40, 40, 40, 40, 40, 40}},
      {"retrigger mode 6", {C4, PLAIN, 0x50}, {0, 0, 0, fx::MULTI_RETRIGGER, 0x62}, VOLUME,
       {64, 64, 42, 42, 28, 28}},
      {"retrigger mode 14", {C4, PLAIN, 0x42}, {0, 0, 0, fx::MULTI_RETRIGGER, 0xE1}, VOLUME,
       {50, 64, 64, 64, 64, 64}},
      {"retrigger mode 8", {C4, PLAIN}, {0, 0, 0, fx::MULTI_RETRIGGER, 0x81}, VOLUME, {40, 40, 40, 40, 40, 40}},
      {"set volume C50, not limited", {C4, PLAIN}, {0, 0, 0, fx::SET_VOLUME, 0x50}, VOLUME, {80, 80, 80, 80, 80, 80}},
      // Tremor on 2, off 2: the first tick counts too.
      {"tremor T11", {C4, PLAIN}, {0, 0, 0, fx::TREMOR, 0x11}, VOLUME_DELTA, {0, 0, -40, -40, 0, 0}},
      // Effect P clamps to 0..255; the volume column's slides do not.
      {"panning slide P0F from 10", {C4, PLAIN, 0, fx::SET_PANNING, 10}, {0, 0, 0, fx::PANNING_SLIDE, 0x0F},
       PAN, {10, 0, 0, 0, 0, 0}},
      {"volume column D5 from 2", {C4, PLAIN, 0, fx::SET_PANNING, 2}, {0, 0, 0xD5}, PAN, {-3, -8, -13, -18, -23, -28}},
      // The phase runs over -32..31. Volume column B adds a second step beside effects 4
      // and 6 (speed 8 from row 0's A8); beside 1 it gives no offset.
      {"vibrato speed 15 wraps", {C4, PLAIN, 0xA8}, {0, 0, 0, fx::VIBRATO, 0xF1}, VIBRATO_POS,
       {0, 15, 30, -19, -4, 11}},
      {"B with 4", {C4, PLAIN, 0xA8}, {0, 0, 0xB4, fx::VIBRATO, 0x84}, VIBRATO_POS, {0, 16, -32, -16, 0, 16}},
      {"B with 6", {C4, PLAIN, 0xA8}, {0, 0, 0xB4, fx::VIBRATO_VOLUME_SLIDE, 0x01}, VIBRATO_POS,
       {0, 16, -32, -16, 0, 16}},
      {"B with 1", {C4, PLAIN, 0xA8}, {0, 0, 0xB4, fx::PORTA_UP, 0x01}, VIBRATO_POS, {0, 8, 16, 24, -32, -24}},
      {"B with 1: no offset", {C4, PLAIN, 0xA8}, {0, 0, 0xB4, fx::PORTA_UP, 0x01}, PERIOD_DELTA, {0, 0, 0, 0, 0, 0}},
      // Every retrigger moves the note to the other voice of the pair.
      {"E93", {C4, PLAIN}, {0, 0, 0, fx::EXTENDED, 0x93}, VOICE, {0, 0, 0, 32, 32, 32}},
      {"E91", {C4, PLAIN}, {0, 0, 0, fx::EXTENDED, 0x91}, VOICE, {0, 32, 0, 32, 0, 32}},
      {"E90", {C4, PLAIN}, {0, 0, 0, fx::EXTENDED, 0x90}, VOICE, {0, 0, 0, 0, 0, 0}},
      {"R82", {C4, PLAIN}, {0, 0, 0, fx::MULTI_RETRIGGER, 0x82}, VOICE, {0, 0, 32, 32, 0, 0}},
      {"R60: interval 0", {C4, PLAIN}, {0, 0, 0, fx::MULTI_RETRIGGER, 0x60}, VOICE, {0, 0, 0, 0, 0, 0}},
  };
  for (const TickCase& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong();
    m.flags = c.amiga ? 0 : 1;
    if (c.amiga) m.instruments[0].samples[0].finetune = 64;
    at(m, 0) = c.cell0;
    at(m, 1) = c.cell1;
    start(m);
    if (c.startPeriod != 0) {
      playRowStart(0);
      channels[0].period = c.startPeriod;
    }
    for (std::int32_t tick = 0; tick < 6; ++tick) {
      playThrough(1, tick);
      EXPECT_EQ(c.field.read(channels[0]), c.values[tick]) << c.field.name << " on tick " << tick;
    }
  }
}

//-----------------------------------------------------------------------------
// Sequencer
//-----------------------------------------------------------------------------

// (order, row) of each row's first tick, and the frames from the start to it.
struct RowStart { std::int32_t order, row, frame; };

std::vector<RowStart> rowStarts(int ticks) {
  std::vector<RowStart> starts;
  std::int32_t frame = 0;
  for (int i = 0; i < ticks; ++i) {
    const bool first = player.tick == 0;
    playerTick();
    if (first) starts.push_back({player.orderPos, player.row, frame});
    frame += player.samplesPerTick;
  }
  return starts;
}

TEST_F(RowsTest, RowLengthFollowsSpeedTempoAndDelay) {
  XmModule m = testSong(8);
  at(m, 1) = {0, 0, 0, fx::SPEED_TEMPO, 0x03};
  at(m, 2) = {0, 0, 0, fx::SPEED_TEMPO, 0xA0};  // 160 BPM: 689 frames a tick
  at(m, 3) = {0, 0, 0, fx::EXTENDED, 0xE2};
  at(m, 4) = {0, 0, 0, fx::SPEED_TEMPO, 0x00};
  start(m);
  const std::vector<RowStart> s = rowStarts(6 + 3 + 3 + 9 + 4);
  ASSERT_GE(s.size(), 8u);
  EXPECT_EQ(s[1].frame - s[0].frame, 6 * 882);
  EXPECT_EQ(s[2].frame - s[1].frame, 3 * 882) << "the speed counts from its own row";
  EXPECT_EQ(s[3].frame - s[2].frame, 3 * 689) << "the tempo from its own tick";
  EXPECT_EQ(s[4].frame - s[3].frame, 9 * 689) << "EE2: speed + 2 x speed";
  for (int i = 5; i < 8; ++i) EXPECT_EQ(s[i].frame - s[i - 1].frame, 689) << "speed 0";
  EXPECT_EQ(s[7].row, 7);
}

// From the first row of `from` on: the (order, row) pairs of the next rows played.
TEST_F(RowsTest, OrdersLoopsAndTargetsPastThePatternEnd) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> orders;
    std::uint16_t restart;
    std::vector<std::uint16_t> rowCounts;  // of patterns 0, 1, ...; pattern 7 does not exist
    XmCell jump;                           // at jumpRow of the pattern jumpPattern
    std::size_t jumpPattern;
    std::uint16_t jumpRow;
    std::vector<std::pair<std::int32_t, std::int32_t>> played;
  };
  const XmCell none{};
  const Case cases[] = {
      {"one order of 64 rows loops", {0}, 0, {64}, none, 0, 0, {{0, 62}, {0, 63}, {0, 0}, {0, 1}}},
      {"off the last order to the restart position", {0, 1, 0}, 1, {64, 64}, none, 0, 0,
       {{2, 62}, {2, 63}, {1, 0}, {1, 1}}},
      {"missing pattern: one empty row", {0, 7, 0}, 0, {64}, none, 0, 0, {{0, 62}, {0, 63}, {1, 0}, {2, 0}}},
      // Order 0 sets a loop start on row 10; order 1 has only 8 rows.
      {"break to row 12 of a pattern of 8", {0, 1}, 0, {16, 8}, {0, 0, 0, fx::PATTERN_BREAK, 0x12}, 0, 4,
       {{0, 4}, {1, 0}, {1, 1}}},
      {"loop to row 10 in a pattern of 8", {0, 1}, 0, {16, 8}, {0, 0, 0, fx::EXTENDED, 0x61}, 1, 3,
       {{1, 3}, {1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong(c.rowCounts[0], 1);
    for (std::size_t p = 1; p < c.rowCounts.size(); ++p) m.patterns.push_back(xmPattern(m, c.rowCounts[p]));
    m.orders = c.orders;
    m.restartPosition = c.restart;
    if (c.rowCounts[0] == 16) at(m, 10) = {0, 0, 0, fx::EXTENDED, 0x60};
    if (c.jump.effect != 0) at(m, c.jumpRow, 0, c.jumpPattern) = c.jump;
    start(m);
    const std::vector<RowStart> s = rowStarts(200 * 6);
    const auto first = std::find_if(s.begin(), s.end(), [&](const RowStart& r) {
      return r.order == c.played[0].first && r.row == c.played[0].second;
    });
    ASSERT_LE(first + c.played.size(), s.end());
    for (std::size_t i = 0; i < c.played.size(); ++i)
      EXPECT_EQ(std::make_pair(first[i].order, first[i].row), c.played[i]) << i;
  }
}

// The A01 on the last row of a pattern slides on its five later ticks only, not on the
// ticks of the empty row that a missing pattern plays next.
TEST_F(RowsTest, MissingPatternRunsNoEffects) {
  XmModule m = testSong(64, 1);
  m.orders = {0, 7, 0};
  at(m, 2) = {C4, PLAIN};
  at(m, 63) = {0, 0, 0, fx::VOLUME_SLIDE, 0x01};
  start(m);
  playThrough(62, 5);
  const std::int32_t volume = channels[0].volume;
  rowStarts(2 * 6);  // row 63 of order 0, then order 1
  EXPECT_EQ(player.orderPos, 1);
  EXPECT_EQ(channels[0].volume, volume - 5);
}

}  // namespace
}  // namespace rows
