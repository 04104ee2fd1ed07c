// Row processing, per-tick effects and the sequencer, tick by tick on small written modules:
// channel, player and voice fields after chosen ticks. Pairs with rows_play_test.cpp.

#include "rows_fixture.h"

#include "player/rows.h"

namespace rows {
namespace {

//-----------------------------------------------------------------------------
// Periods
//-----------------------------------------------------------------------------

TEST(Periods, BothTables) {
  struct Case { std::uint8_t note; std::int8_t finetune; std::int32_t amiga, linear; };
  const Case cases[] = {
      {48, 0, 1712, 4608},   {48, 64, 1664, 4576}, {48, -64, 1763, 4640},
      {48, 127, 1617, 4545}, {48, -128, 1814, 4672}, {48, -3, 1714, 4609},
      {0, 0, 27392, 7680},   {95, 0, 113, 1600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "note " << int(c.note) << " finetune " << int(c.finetune));
    EXPECT_EQ(amigaPeriod(c.note, c.finetune), c.amiga);
    EXPECT_EQ(linearPeriod(c.note, c.finetune), c.linear);
  }
}

//-----------------------------------------------------------------------------
// Notes, instruments and key-off on the first tick
//-----------------------------------------------------------------------------

TEST_F(RowsTest, NoteWithInstrumentStartsItWithTheSampleDefaults) {
  XmModule m = testSong();
  at(m, 0) = {C4, OTHER};
  start(m);
  playRowStart(0);
  const Channel& ch = channels[0];
  EXPECT_EQ(ch.voice->sample, instruments[1].samples[0]);
  EXPECT_EQ(ch.realNote, 60);  // relative note +12
  EXPECT_EQ(ch.period, 7680 - 64 * 60);
  EXPECT_EQ(ch.volume, 20);
  EXPECT_EQ(ch.pan, 200);
  EXPECT_EQ(ch.fadeoutLevel, 65536);
  EXPECT_EQ(ch.volEnvLevel, 64);
  EXPECT_TRUE(ch.updateFlags & UPDATE_TRIGGER);
}

TEST_F(RowsTest, InstrumentWithoutNoteResetsButDoesNotTrigger) {
  XmModule m = testSong();
  at(m, 0) = {C4, PLAIN, 0x20};
  at(m, 1) = {0, OTHER};
  start(m);
  playRowStart(1);
  const Channel& ch = channels[0];
  EXPECT_EQ(ch.voice, &voices[0]);
  EXPECT_EQ(ch.voice->sample, instruments[0].samples[0]) << "the voice keeps its sample";
  EXPECT_FALSE(ch.updateFlags & UPDATE_TRIGGER);
  EXPECT_EQ(ch.instrumentIndex, 1);
  EXPECT_EQ(ch.volume, 20);
  EXPECT_EQ(ch.pan, 200);
}

TEST_F(RowsTest, NoteWithoutInstrumentKeepsVolumeFadeAndKeyOff) {
  XmModule m = testSong();
  at(m, 0) = {C4, PLAIN, 0x20};
  at(m, 1) = {0, 0, 0, fx::KEY_OFF, 0};
  at(m, 2) = {D4};
  start(m);
  playRowStart(2);
  const Channel& ch = channels[0];
  EXPECT_EQ(ch.voice, &voices[32]) << "the new note moves to the twin voice";
  EXPECT_EQ(ch.voice->sample, instruments[0].samples[0]);
  EXPECT_EQ(ch.period, 4480);
  EXPECT_EQ(ch.volume, 16);
  EXPECT_EQ(ch.keyOff, 1);
  EXPECT_EQ(ch.fadeoutLevel, 65536 - 7 * 1024) << "six ticks of row 1, one of row 2";
}

TEST_F(RowsTest, KeyOff) {
  struct Case {
    const char* name;
    std::uint8_t instrument;  // played on row 0
    XmCell release;           // row 1
    std::int32_t volEnvLevel, fadeoutLevel, voiceVolume;
  };
  const Case cases[] = {
      {"note, no envelope: silent at once", PLAIN, {KEY_OFF_NOTE}, 0, 65536 - 1024, 0},
      // The envelope held at its sustain point (32) leaves it on the key-off tick.
      {"note, envelope passes sustain", ENVELOPED, {KEY_OFF_NOTE}, 32, 65536 - 2048, 62},
      {"note and instrument: reset, then released", ENVELOPED, {KEY_OFF_NOTE, ENVELOPED}, 64,
       65536 - 2048, 124},
      {"K00", PLAIN, {0, 0, 0, fx::KEY_OFF, 0x00}, 0, 65536 - 1024, 0},
      {"K1F", PLAIN, {0, 0, 0, fx::KEY_OFF, 0x1F}, 0, 65536 - 1024, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong();
    at(m, 0) = {C4, c.instrument};
    at(m, 1) = c.release;
    start(m);
    playRowStart(1);
    EXPECT_EQ(channels[0].keyOff, 1);
    EXPECT_EQ(channels[0].volEnvLevel, c.volEnvLevel);
    EXPECT_EQ(channels[0].fadeoutLevel, c.fadeoutLevel);
    EXPECT_EQ(channels[0].voice->volume, c.voiceVolume);
    playThrough(1, 1);
    if (c.instrument == ENVELOPED) {
      EXPECT_EQ(channels[0].volEnvLevel, c.volEnvLevel - 8);
    }
    releaseModule();
  }
}

TEST_F(RowsTest, TonePortamentoWithNoteAndInstrumentOnlySetsTheTarget) {
  XmModule m = testSong();
  at(m, 0) = {C4, PLAIN, 0x20};
  at(m, 1) = {E4, OTHER, 0, fx::TONE_PORTA, 0x10};
  start(m);
  playRowStart(1);
  const Channel& ch = channels[0];
  EXPECT_EQ(ch.note, 48);
  EXPECT_EQ(ch.instrumentIndex, 0);
  // E-4 with PLAIN's relative note 0, not OTHER's +12.
  EXPECT_EQ(ch.notePeriod, 4352);
  EXPECT_EQ(ch.portaTarget, 4352);
  EXPECT_EQ(ch.period, 4608);
  EXPECT_EQ(ch.volume, 40) << "the reset applies the old note's sample";
  EXPECT_EQ(ch.voice, &voices[0]);
  EXPECT_FALSE(ch.updateFlags & UPDATE_TRIGGER);
  playThrough(1, 3);
  EXPECT_EQ(ch.period, 4608 - 3 * 64);
  playThrough(1, 5);
  EXPECT_EQ(ch.period, 4352);
}

TEST_F(RowsTest, CellsThatChangeNoNote) {
  // Volume column Fx beside another effect: the new period at once, no trigger, no slide.
  // Notes 98..254 are no note at all: the instrument beside them only resets.
  struct Case {
    const char* name; XmCell cell; std::uint8_t note; std::int32_t period, volume;
  };
  const Case cases[] = {
      {"volume column F2 with A01", {E4, 0, 0xF2, fx::VOLUME_SLIDE, 0x01}, 52, 4352, 40 - 5},
      {"note 100 with an instrument", {100, OTHER, 0, 0, 0, 0x83}, 48, 4608, 20},
      {"note 200 with an instrument", {200, OTHER, 0, 0, 0, 0x83}, 48, 4608, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong();
    at(m, 0) = {C4, PLAIN};
    at(m, 1) = c.cell;
    start(m);
    playRowStart(1);
    EXPECT_EQ(patterns[0].cells[2].note, c.cell.note) << "the loader kept the note";
    EXPECT_EQ(channels[0].note, c.note);
    EXPECT_EQ(channels[0].voice, &voices[0]);
    EXPECT_FALSE(channels[0].updateFlags & UPDATE_TRIGGER);
    EXPECT_EQ(channels[0].period, c.period);
    playThrough(1, 5);
    EXPECT_EQ(channels[0].period, c.period);
    EXPECT_EQ(channels[0].volume, c.volume);
    releaseModule();
  }
}

//-----------------------------------------------------------------------------
// Volume column
//-----------------------------------------------------------------------------

TEST_F(RowsTest, VolumeColumnOverARow) {
  struct Case { std::uint8_t volumeByte; std::int32_t volume, pan; };
  // From PLAIN's volume 40 and pan 64, after all six ticks of the row.
  const Case cases[] = {
      {0x30, 32, 64}, {0x63, 40 - 18, 64}, {0x83, 40 - 3, 64}, {0x73, 40 + 18, 64},
      {0x93, 40 + 3, 64}, {0x6F, 0, 64}, {0x55, 40, 64}, {0xC3, 40, 48},
      {0xD5, 40, 64 - 30}, {0xE5, 40, 64 + 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "volume byte " << std::hex << int(c.volumeByte));
    XmModule m = testSong();
    at(m, 0) = {C4, PLAIN};
    at(m, 1) = {0, 0, c.volumeByte};
    start(m);
    playThrough(1, 5);
    EXPECT_EQ(channels[0].volume, c.volume);
    EXPECT_EQ(channels[0].pan, c.pan);
    releaseModule();
  }
}

//-----------------------------------------------------------------------------
// First-tick effects and their memories
//-----------------------------------------------------------------------------

TEST_F(RowsTest, FineSlidesReuseTheirLastParameter) {
  struct Case { const char* name; std::uint8_t effect, param; std::int32_t periodStep, volumeStep; };
  const Case cases[] = {
      {"E1y", fx::EXTENDED, 0x12, -8, 0}, {"E2y", fx::EXTENDED, 0x23, 12, 0},
      {"X1y", fx::EXTRA_FINE_PORTA, 0x12, -2, 0}, {"X2y", fx::EXTRA_FINE_PORTA, 0x23, 3, 0},
      {"EAy", fx::EXTENDED, 0xA3, 0, 3}, {"EBy", fx::EXTENDED, 0xB3, 0, -3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong();
    at(m, 0) = {C4, PLAIN};
    at(m, 1) = {0, 0, 0, c.effect, c.param};
    at(m, 2) = {0, 0, 0, c.effect, static_cast<std::uint8_t>(c.param & 0xF0)};
    start(m);
    playThrough(2, 5);
    EXPECT_EQ(channels[0].period, 4608 + 2 * c.periodStep);
    EXPECT_EQ(channels[0].volume, 40 + 2 * c.volumeStep);
    releaseModule();
  }
}

TEST_F(RowsTest, SampleOffsetWaitsForTheNextTriggerAndRewindsPastTheLoop) {
  XmModule m = testSong();
  at(m, 0) = {C4, LONG};
  at(m, 1) = {0, 0, 0, fx::SAMPLE_OFFSET, 0x02};
  at(m, 2) = {C4};
  at(m, 3) = {C4, 0, 0, fx::SAMPLE_OFFSET, 0x00};
  at(m, 4) = {C4, 0, 0, fx::SAMPLE_OFFSET, 0x04};  // 1024: the loop ends at 1024
  start(m);
  playRowStart(1);
  EXPECT_EQ(channels[0].voice->startOffset, 512u);
  EXPECT_EQ(channels[0].voice->positionInt, 0);
  playRowStart(2);
  EXPECT_EQ(channels[0].voice->positionInt, 512);
  channels[0].voice->positionInt = 700;
  playRowStart(3);
  EXPECT_EQ(channels[0].voice->positionInt, 512) << "900 reuses the last offset";
  Voice* playing = channels[0].voice;
  playing->positionInt = 700;
  playRowStart(4);
  EXPECT_EQ(channels[0].voice, playing) << "no trigger";
  EXPECT_EQ(playing->positionInt, 0);
  EXPECT_TRUE(channels[0].updateFlags & UPDATE_REWIND);
}

TEST_F(RowsTest, SetFinetuneChangesTheSampleForLaterNotes) {
  XmModule m = testSong(16, 2);
  at(m, 0) = {C4, PLAIN, 0, fx::EXTENDED, 0x57};
  at(m, 0, 1) = {C4, 9, 0, fx::EXTENDED, 0x57};  // no instrument 9: plays emptySample
  at(m, 1, 1) = {C4, PLAIN};
  start(m);
  playRowStart(0);
  EXPECT_EQ(channels[0].period, 4608);
  EXPECT_EQ(instruments[0].samples[0]->finetune, 7);
  EXPECT_EQ(emptySample.finetune, 0) << "the shared empty sample stays all zero";
  playRowStart(1);
  EXPECT_EQ(channels[1].period, 4608 - 3);
}

TEST_F(RowsTest, NoteDelay) {
  struct Case { std::uint8_t param; std::int32_t startTick; };  // -1: never starts
  const Case cases[] = {{0xD3, 3}, {0xD2, 2}, {0xD0, -1}, {0xD6, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "ED" << (c.param & 15));
    XmModule m = testSong();
    at(m, 0) = {C4, PLAIN, 0x20};
    at(m, 1) = {E4, ENVELOPED, 0, fx::EXTENDED, c.param};
    start(m);
    playRowStart(1);
    EXPECT_EQ(channels[0].period, 4608);
    EXPECT_EQ(channels[0].volume, 16);
    EXPECT_EQ(channels[0].pan, 64);
    for (std::int32_t tick = 1; tick < 6; ++tick) {
      playThrough(1, tick);
      const bool started = c.startTick >= 0 && tick >= c.startTick;
      EXPECT_EQ(channels[0].voice, started ? &voices[32] : &voices[0]) << "tick " << tick;
      if (tick == c.startTick) {
        EXPECT_EQ(channels[0].period, 4352);
        EXPECT_EQ(channels[0].volume, 64);
        EXPECT_EQ(channels[0].volEnvLevel, 64) << "stepped to 56, 48, ... before the reset";
        EXPECT_EQ(channels[0].panEnvLevel, 32);
      }
    }
    releaseModule();
  }
}

TEST_F(RowsTest, SetEnvelopePosition) {
  struct Case { const char* name; std::uint8_t instrument, position; std::int32_t levels[2]; };
  const Case cases[] = {
      // Step (16 - 64) x 65536 / 10 = -314572; 64 x 65536 + 3 x step is 49.6 in 16.16,
      // taken as 49; one step later 44.8, taken as 44.
      {"inside a segment", ENDS_HIGH, 3, {49, 44}},
      {"past the last point", ENDS_HIGH, 0x20, {16, 16}},
      {"envelope off", PLAIN, 5, {64, 64}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong();
    at(m, 0) = {C4, c.instrument, 0, fx::SET_ENVELOPE_POSITION, c.position};
    start(m);
    playRowStart(0);
    EXPECT_EQ(channels[0].volEnvLevel, c.levels[0]);
    playThrough(0, 1);
    EXPECT_EQ(channels[0].volEnvLevel, c.levels[1]);
    releaseModule();
  }
}

//-----------------------------------------------------------------------------
// Per-tick effects
//-----------------------------------------------------------------------------

// periodDelta (or another channel field) on ticks 0..5 of row 1, after row 0 played C-4 on
// PLAIN with cell0 and row 1 carries cell1.
struct TickCase {
  const char* name;
  XmCell cell0, cell1;
  std::int32_t Channel::*field;
  std::int32_t values[6];
  bool amiga = false;
  std::int32_t startPeriod = 0;  // when not 0, the period after row 0's first tick
};

TEST_F(RowsTest, EffectsTickByTick) {
  const TickCase cases[] = {
      {"arpeggio 37", {C4, PLAIN}, {0, 0, 0, fx::ARPEGGIO, 0x37}, &Channel::periodDelta,
       {0, 192, 448, 0, 192, 448}},
      {"arpeggio 0C", {C4, PLAIN}, {0, 0, 0, fx::ARPEGGIO, 0x0C}, &Channel::periodDelta,
       {0, 0, 768, 0, 0, 768}},
      // Amiga table, the sample's finetune 64: periods 1664 at C-4, 1400 three semitones up,
      // 1111 seven up.
      {"Amiga arpeggio 37", {C4, PLAIN}, {0, 0, 0, fx::ARPEGGIO, 0x37}, &Channel::periodDelta,
       {0, -264, -553, 0, -264, -553}, true},
      {"portamento up floors at 56", {C4, PLAIN}, {0, 0, 0, fx::PORTA_UP, 0x02}, &Channel::period,
       {60, 56, 56, 56, 56, 56}, false, 60},
      {"portamento down", {C4, PLAIN}, {0, 0, 0, fx::PORTA_DOWN, 0x40}, &Channel::period,
       {4608, 4864, 5120, 5376, 5632, 5888}},
      {"portamento down stops at 2^24", {C4, PLAIN}, {0, 0, 0, fx::PORTA_DOWN, 0x40},
       &Channel::period, {(1 << 24) - 300, (1 << 24) - 44, 1 << 24, 1 << 24, 1 << 24, 1 << 24},
       false, (1 << 24) - 300},
      {"volume slide 53 at 40", {C4, PLAIN}, {0, 0, 0, fx::VOLUME_SLIDE, 0x53}, &Channel::volume,
       {40, 45, 50, 55, 60, 64}},
      {"volume slide 03", {C4, PLAIN}, {0, 0, 0, fx::VOLUME_SLIDE, 0x03}, &Channel::volume,
       {40, 37, 34, 31, 28, 25}},
      {"note cut EC3", {C4, PLAIN}, {0, 0, 0, fx::EXTENDED, 0xC3}, &Channel::volume,
       {40, 40, 40, 0, 0, 0}},
      {"note cut EC0", {C4, PLAIN}, {0, 0, 0, fx::EXTENDED, 0xC0}, &Channel::volume,
       {40, 40, 40, 40, 40, 40}},
      {"retrigger mode 6", {C4, PLAIN, 0x50}, {0, 0, 0, fx::MULTI_RETRIGGER, 0x62},
       &Channel::volume, {64, 64, 42, 42, 28, 28}},
      {"retrigger mode 14", {C4, PLAIN, 0x42}, {0, 0, 0, fx::MULTI_RETRIGGER, 0xE1},
       &Channel::volume, {50, 64, 64, 64, 64, 64}},
      {"retrigger mode 8", {C4, PLAIN}, {0, 0, 0, fx::MULTI_RETRIGGER, 0x81}, &Channel::volume,
       {40, 40, 40, 40, 40, 40}},
      {"set volume C50, not limited", {C4, PLAIN}, {0, 0, 0, fx::SET_VOLUME, 0x50},
       &Channel::volume, {80, 80, 80, 80, 80, 80}},
      // Tremor on 2, off 2: the first tick counts too.
      {"tremor T11", {C4, PLAIN}, {0, 0, 0, fx::TREMOR, 0x11}, &Channel::volumeDelta,
       {0, 0, -40, -40, 0, 0}},
      // Effect P clamps to 0..255; the volume column's slides do not.
      {"panning slide P0F from 10", {C4, PLAIN, 0, fx::SET_PANNING, 10},
       {0, 0, 0, fx::PANNING_SLIDE, 0x0F}, &Channel::pan, {10, 0, 0, 0, 0, 0}},
      {"volume column D5 from 2", {C4, PLAIN, 0, fx::SET_PANNING, 2}, {0, 0, 0xD5},
       &Channel::pan, {-3, -8, -13, -18, -23, -28}},
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
      EXPECT_EQ(channels[0].*c.field, c.values[tick]) << "tick " << tick;
    }
    releaseModule();
  }
}

TEST_F(RowsTest, RetriggersMoveTheNoteToAFreshVoice) {
  struct Case { XmCell cell; std::uint8_t triggerTicks; };  // bit t: a trigger on tick t
  const Case cases[] = {
      {{0, 0, 0, fx::EXTENDED, 0x93}, 0b001000},
      {{0, 0, 0, fx::EXTENDED, 0x91}, 0b111110},
      {{0, 0, 0, fx::EXTENDED, 0x90}, 0},
      {{0, 0, 0, fx::MULTI_RETRIGGER, 0x82}, 0b010100},
      {{0, 0, 0, fx::MULTI_RETRIGGER, 0x60}, 0},  // interval 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "effect " << int(c.cell.effect) << " " << std::hex
                                    << int(c.cell.effectParam));
    XmModule m = testSong();
    at(m, 0) = {C4, PLAIN};
    at(m, 1) = c.cell;
    start(m);
    playRowStart(0);
    for (std::int32_t tick = 0; tick < 6; ++tick) {
      const Voice* before = channels[0].voice;
      playThrough(1, tick);
      EXPECT_EQ(channels[0].voice != before, ((c.triggerTicks >> tick) & 1) != 0) << "tick " << tick;
    }
    releaseModule();
  }
}

TEST_F(RowsTest, GlobalVolumeSlideReachesVoicesAtTheirNextVolumeUpdate) {
  XmModule m = testSong();
  at(m, 0) = {C4, PLAIN, 0, fx::SET_GLOBAL_VOLUME, 0x20};
  at(m, 1, 1) = {0, 0, 0, fx::GLOBAL_VOLUME_SLIDE, 0x20};
  start(m);
  playRowStart(1);
  const std::int32_t voiceVolume = channels[0].voice->volume;
  for (std::int32_t tick = 1; tick < 6; ++tick) {
    playThrough(1, tick);
    EXPECT_EQ(player.globalVolume, 32 + 2 * tick);
  }
  EXPECT_EQ(channels[0].voice->volume, voiceVolume);
  playRowStart(2);
  EXPECT_EQ(channels[0].voice->volume, 52);  // 40 x 42 x 255 / 8192 = 52.3
}

TEST_F(RowsTest, VibratoPhase) {
  struct Case { const char* name; XmCell cell; std::int8_t phases[6]; bool noOffset; };
  const Case cases[] = {
      {"speed 15 wraps", {0, 0, 0, fx::VIBRATO, 0xF1}, {0, 15, 30, -19, -4, 11}, false},
      // Volume column B adds a second step to 4 and 6; 1 cancels its offset.
      {"B with 4", {0, 0, 0xB4, fx::VIBRATO, 0x84}, {0, 16, -32, -16, 0, 16}, false},
      {"B with 6", {0, 0, 0xB4, fx::VIBRATO_VOLUME_SLIDE, 0x01}, {0, 16, -32, -16, 0, 16}, false},
      {"B with 1", {0, 0, 0xB4, fx::PORTA_UP, 0x01}, {0, 8, 16, 24, -32, -24}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong();
    at(m, 0) = {C4, PLAIN, 0xA8};  // vibrato speed 8 for the cases without their own
    at(m, 1) = c.cell;
    start(m);
    for (std::int32_t tick = 0; tick < 6; ++tick) {
      playThrough(1, tick);
      EXPECT_EQ(channels[0].vibratoPos, c.phases[tick]) << "tick " << tick;
      if (c.noOffset && tick > 0) {
        EXPECT_EQ(channels[0].periodDelta, 0) << "tick " << tick;
      }
    }
    releaseModule();
  }
}

TEST_F(RowsTest, TremoloOffsetStaysWhenTheTremoloEnds) {
  XmModule m = testSong();
  at(m, 0) = {C4, PLAIN};
  at(m, 1) = {0, 0, 0, fx::TREMOLO, 0x4F};
  at(m, 2) = {0, 0, 0, fx::TREMOLO, 0x00};
  at(m, 3) = {0, 0, 0, fx::VOLUME_SLIDE, 0x00};
  start(m);
  playThrough(2, 0);
  EXPECT_EQ(channels[0].volume, 40) << "tremolo goes on: nothing folded";
  playThrough(2, 5);
  const std::int32_t lastDelta = channels[0].volumeDelta;
  ASSERT_NE(lastDelta, 0);
  playRowStart(3);
  EXPECT_EQ(channels[0].volume, 40 + lastDelta);
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

TEST_F(RowsTest, SongLoopsAndSkipsMissingPatterns) {
  // Patterns 0 and 1 have 64 rows; pattern 7 does not exist. Rows 62 and 63 of the last
  // order in play, then the next two rows.
  struct Case { const char* name; std::vector<std::uint8_t> orders; std::uint16_t restart;
                std::int32_t skipRows; std::vector<RowStart> expected; };
  const Case cases[] = {
      {"one order of 64 rows", {0}, 0, 62, {{0, 62, 0}, {0, 63, 0}, {0, 0, 0}, {0, 1, 0}}},
      {"off the last order to the restart position", {0, 1, 0}, 1, 2 * 64 + 62,
       {{2, 62, 0}, {2, 63, 0}, {1, 0, 0}, {1, 1, 0}}},
      {"missing pattern: one empty row", {0, 7, 0}, 0, 62,
       {{0, 62, 0}, {0, 63, 0}, {1, 0, 0}, {2, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong(64, 1);
    m.patterns.push_back(xmPattern(m, 64));
    m.orders = c.orders;
    m.restartPosition = c.restart;
    at(m, 2, 0, 0) = {C4, PLAIN};
    at(m, 63, 0, 0) = {0, 0, 0, fx::VOLUME_SLIDE, 0x01};
    start(m);
    rowStarts(c.skipRows * 6);
    const std::int32_t volume = channels[0].volume;
    const std::vector<RowStart> s = rowStarts(4 * 6);
    ASSERT_EQ(s.size(), c.expected.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
      EXPECT_EQ(s[i].order, c.expected[i].order) << i;
      EXPECT_EQ(s[i].row, c.expected[i].row) << i;
    }
    // The A01 of row 63 slid on its five later ticks only, not on the empty row's.
    EXPECT_EQ(channels[0].volume, volume - 5);
    releaseModule();
  }
}

TEST_F(RowsTest, TargetsPastTheEndOfAPatternPlayItsRowZero) {
  // Order 0 has 16 rows and sets a loop start on row 10; order 1 has 8 rows.
  struct Case { const char* name; std::size_t pattern; std::int32_t row; XmCell jump;
                std::vector<std::pair<std::int32_t, std::int32_t>> played; };
  const Case cases[] = {
      {"break to row 12", 0, 4, {0, 0, 0, fx::PATTERN_BREAK, 0x12}, {{0, 4}, {1, 0}, {1, 1}}},
      {"loop to row 10", 1, 3, {0, 0, 0, fx::EXTENDED, 0x61},
       {{1, 3}, {1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = testSong(16, 1);
    m.patterns.push_back(xmPattern(m, 8));
    m.orders = {0, 1};
    at(m, 10, 0, 0) = {0, 0, 0, fx::EXTENDED, 0x60};
    at(m, c.row, 0, c.pattern) = c.jump;
    start(m);
    const std::vector<RowStart> s = rowStarts(32 * 6);
    const auto first = std::find_if(s.begin(), s.end(), [&](const RowStart& r) {
      return r.order == c.played[0].first && r.row == c.played[0].second;
    });
    ASSERT_LE(first + c.played.size(), s.end());
    for (std::size_t i = 0; i < c.played.size(); ++i) {
      EXPECT_EQ(first[i].order, c.played[i].first) << i;
      EXPECT_EQ(first[i].row, c.played[i].second) << i;
    }
    releaseModule();
  }
}

}  // namespace
}  // namespace rows
