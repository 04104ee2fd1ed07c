// Tests of the player records and their reset, the tick length, the envelope, fade-out,
// auto-vibrato and voice update, the modulation steps and the position and clock effects.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "player/player.h"

namespace {

class PlayerState : public ::testing::Test {
 protected:
  void SetUp() override {
    song = Song{};
    song.channelCount = 8;
    song.songLength = 5;
    song.flags = 1;
    player = Player{};
    player.globalVolume = 64;
    for (Channel& c : channels) c = Channel{};
    resetVoices();
    jumpSeen = false;
    channel.voice = &voices[5];
  }
  Channel& channel = channels[5];
};

Envelope makeEnvelope(std::initializer_list<std::pair<int, int>> points, std::uint8_t flags,
                      int sustain = 0, int loopStart = 0, int loopEnd = 0, int count = -1) {
  Envelope e{};
  int i = 0;
  for (auto [tick, value] : points) {
    e.points[i].tick = static_cast<std::uint16_t>(tick);
    e.points[i].value = static_cast<std::uint16_t>(value);
    ++i;
  }
  e.pointCount = static_cast<std::uint8_t>(count < 0 ? i : count);
  e.flags = static_cast<std::uint8_t>(ENVELOPE_ON | flags);
  e.sustainPoint = static_cast<std::uint8_t>(sustain);
  e.loopStartPoint = static_cast<std::uint8_t>(loopStart);
  e.loopEndPoint = static_cast<std::uint8_t>(loopEnd);
  return e;
}

// Steps the volume envelope as the passes do (not once it is done) and returns the level
// after each tick; releases the key before tick releaseAt.
std::vector<int> runEnvelope(Channel& c, const Envelope& e, int ticks, int releaseAt = -1) {
  c.volEnvTick = c.volEnvPoint = c.volEnvStep = 0;
  c.volEnvLevel = 64;
  c.volEnvDone = 0;
  std::vector<int> levels;
  for (int t = 0; t < ticks; ++t) {
    if (t == releaseAt) c.keyOff = 1;
    c.updateFlags = 0;
    if (!c.volEnvDone) {
      stepEnvelope(c, c.volEnvTick, c.volEnvPoint, c.volEnvLevelFixed, c.volEnvLevel,
                   c.volEnvStep, c.volEnvDone, e, UPDATE_VOLUME);
      EXPECT_EQ(c.updateFlags, UPDATE_VOLUME);
    }
    levels.push_back(c.volEnvLevel);
  }
  return levels;
}

// 110250 / bpm to the nearest integer, exact halves to the lower one.
int expectedSamplesPerTick(int bpm) {
  const int quotient = 110250 / bpm, twiceRemainder = 2 * (110250 % bpm);
  return quotient + (twiceRemainder > bpm ? 1 : 0);
}

TEST_F(PlayerState, SetBpmMatchesTheRoundedTickLength) {
  for (int bpm = 32; bpm <= 255; ++bpm) {
    setBpm(bpm);
    EXPECT_EQ(player.samplesPerTick, expectedSamplesPerTick(bpm)) << "bpm " << bpm;
  }
  for (auto [bpm, frames] : {std::pair{125, 882}, {100, 1102}, {150, 735}, {60, 1837},
                             {32, 3445}, {255, 432}, {4, 27562}, {36, 3062}}) {
    setBpm(bpm);
    EXPECT_EQ(player.samplesPerTick, frames) << "bpm " << bpm;
  }
}

TEST_F(PlayerState, ResetGivesStartValuesAndVoices) {
  song.channelCount = 40;  // more than the table holds: must stay inside it
  song.defaultTempo = 6;
  song.defaultBpm = 125;
  player.row = 9;
  player.globalVolumeSlideSpeed = 7;
  voices[40].volume = 99;
  channels[31].volume = 12;
  channels[31].loopCount = 3;
  channels[0].fadeoutLevel = 65536;
  resetPlayer();
  EXPECT_EQ(player.speed, 6);
  EXPECT_EQ(player.samplesPerTick, 882);
  EXPECT_EQ(player.globalVolume, 64);
  EXPECT_EQ(player.nextOrder, -1);
  EXPECT_EQ(player.nextRow, -1);
  EXPECT_EQ(player.row, 0);
  EXPECT_EQ(player.globalVolumeSlideSpeed, 0);
  EXPECT_EQ(voices[40].volume, 0);
  EXPECT_EQ(voices[40].index, 40);
  EXPECT_EQ(voices[40].stepInt, 1u);
  for (int i = 0; i < MAX_CHANNELS; ++i) EXPECT_EQ(channels[i].voice, &voices[i]) << i;
  EXPECT_EQ(channels[31].volume, 0);
  EXPECT_EQ(channels[31].loopCount, 0);
  EXPECT_EQ(channels[0].fadeoutLevel, 0);
}

TEST_F(PlayerState, EnvelopeLevels) {
  struct Case {
    const char* name;
    Envelope envelope;
    int releaseAt;
    std::vector<int> levels;
    bool done = true;
  };
  const Case cases[] = {
      {"two points", makeEnvelope({{0, 64}, {4, 0}}, 0), -1, {64, 48, 32, 16, 0, 0}},
      {"falling, truncated step", makeEnvelope({{0, 64}, {3, 0}}, 0), -1, {64, 42, 21, 0}},
      {"sustain held until key-off",
       makeEnvelope({{0, 0}, {2, 32}, {4, 64}}, ENVELOPE_SUSTAIN, 1), 5,
       {0, 16, 32, 32, 32, 32, 48, 64, 64}},
      {"loop hands on the start's value",
       makeEnvelope({{0, 0}, {2, 20}, {4, 40}, {6, 60}}, ENVELOPE_LOOP, 0, 1, 3), -1,
       {0, 10, 20, 30, 40, 50, 20, 30, 40, 50, 20}, false},
      {"loop start == end passes on", makeEnvelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_LOOP, 0, 1, 1),
       -1, {0, 10, 20, 30, 40, 40}},
      {"last point ends a loop set beyond it",
       makeEnvelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_LOOP, 0, 0, 5), -1, {0, 10, 20, 30, 40, 40}},
      // Hostile descriptions: nothing outside the 12 points is read.
      {"point count above 12 counts as 12",
       makeEnvelope({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8},
                     {9, 9}, {10, 10}, {11, 11}}, 0, 0, 0, 0, 200),
       -1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11}},
      {"sustain beyond the points never holds",
       makeEnvelope({{0, 0}, {2, 20}}, ENVELOPE_SUSTAIN, 7), -1, {0, 10, 20, 20}},
      {"loop start beyond the points is ignored",
       makeEnvelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_LOOP, 0, 30, 1), -1, {0, 10, 20, 30, 40, 40}},
      {"values above 64 count as 64", makeEnvelope({{0, 64}, {2, 9000}}, 0), -1, {64, 64, 64}},
      {"equal ticks pass on", makeEnvelope({{0, 0}, {4, 40}, {4, 60}}, 0), -1, {0, 10, 20, 30, 40, 60, 60}},
      {"falling ticks pass on", makeEnvelope({{0, 0}, {4, 40}, {2, 20}}, 0), -1, {0, 10, 20, 30, 40, 20}},
  };
  for (const Case& c : cases) {
    channel.keyOff = 0;
    channel.volEnvLevelFixed = 0;
    EXPECT_EQ(runEnvelope(channel, c.envelope, static_cast<int>(c.levels.size()), c.releaseAt), c.levels)
        << c.name;
    EXPECT_EQ(channel.volEnvDone, c.done ? 1 : 0) << c.name;
  }
}

TEST_F(PlayerState, EnvelopeWithoutPointsHoldsItsLevel) {
  const Envelope none = makeEnvelope({}, 0);
  channel.volEnvLevelFixed = 20 << 16;
  EXPECT_EQ(runEnvelope(channel, none, 3), (std::vector<int>{20, 20, 20}));
  EXPECT_EQ(channel.volEnvDone, 0);
  EXPECT_EQ(channel.volEnvTick, 3);
}

TEST_F(PlayerState, FadeoutAfterKeyOff) {
  Instrument instrument{};
  struct Case { const char* name; std::uint16_t fadeout; std::uint8_t keyOff; int ticks; int level; };
  const Case cases[] = {
      {"4096 per tick reaches 0 after 16", 4096, 1, 16, 0},
      {"one tick short of it", 4096, 1, 15, 4096},
      {"stops at 0", 5000, 1, 20, 0},
      {"fade-out 0 keeps the level", 0, 1, 5, 65536},
      {"held key does not fade", 4096, 0, 5, 65536},
  };
  for (const Case& c : cases) {
    instrument.fadeout = c.fadeout;
    channel.keyOff = c.keyOff;
    channel.fadeoutLevel = 65536;
    for (int t = 0; t < c.ticks; ++t) stepFadeout(channel, instrument);
    EXPECT_EQ(channel.fadeoutLevel, c.level) << c.name;
  }
}

TEST_F(PlayerState, AutoVibratoOffsets) {
  Instrument instrument{};
  instrument.vibratoType = 1;
  instrument.vibratoSweep = 4;
  instrument.vibratoDepth = 8;
  instrument.vibratoRate = 1;
  std::vector<int> offsets;
  for (int t = 0; t < 6; ++t) {
    channel.periodDelta = 0;
    channel.updateFlags = 0;
    applyAutoVibrato(channel, instrument);
    EXPECT_EQ(channel.updateFlags, UPDATE_FREQUENCY);
    offsets.push_back(channel.periodDelta);
  }
  EXPECT_EQ(offsets, (std::vector<int>{0, 2, 4, 6, 8, 8}));
  EXPECT_EQ(channel.autoVibratoPos, 6);

  struct Case { const char* name; std::uint8_t type, depth; int pos, rate, delta, nextPos; };
  const Case cases[] = {
      {"sine at 1/8 cycle: 64 sin(pi/4) = 45.25", 0, 15, 32, 0, 10, 32},
      {"ramp down at 127", 2, 8, 127, 0, -8, 127},
      {"ramp down rounds toward minus infinity", 2, 1, 1, 0, -1, 1},
      {"ramp up at 128", 3, 8, 128, 0, 8, 128},
      {"ramp up at 129", 3, 8, 129, 0, -8, 129},
      {"square second half", 1, 8, 200, 0, -8, 200},
      {"type 4 adds nothing", 4, 8, 64, 0, 0, 64},
      {"phase wraps past 255", 1, 0, 250, 10, 0, 4},
  };
  instrument.vibratoSweep = 0;
  for (const Case& c : cases) {
    instrument.vibratoType = c.type;
    instrument.vibratoDepth = c.depth;
    instrument.vibratoRate = static_cast<std::uint8_t>(c.rate);
    channel.autoVibratoPos = c.pos;
    channel.periodDelta = 3;  // added to, not replaced
    applyAutoVibrato(channel, instrument);
    EXPECT_EQ(channel.periodDelta, 3 + c.delta) << c.name;
    EXPECT_EQ(channel.autoVibratoPos, c.nextPos) << c.name;
  }
}

TEST_F(PlayerState, FinalVolumeAndGains) {
  struct Case {
    const char* name;
    int volume, volumeDelta, envelope, fadeout, global, panning;
    int finalVolume, left, right;
  };
  const Case cases[] = {
      {"maxima, 127.5 to even", 64, 0, 64, 65536, 64, 0, 128, 128, 0},
      {"panned right", 64, 0, 64, 65536, 64, 255, 128, 0, 128},
      {"centre", 64, 0, 64, 65536, 64, 128, 128, 63, 64},
      {"channel volume 255", 255, 0, 64, 65536, 64, 0, 508, 508, 0},
      {"delta is added", 40, -8, 64, 65536, 64, 0, 64, 64, 0},
      {"delta cancels volume", 40, -40, 64, 65536, 64, 0, 0, 0, 0},
      {"envelope 0", 64, 0, 0, 65536, 64, 0, 0, 0, 0},
      {"fade-out 0", 64, 0, 64, 0, 64, 0, 0, 0, 0},
      {"global volume 0", 64, 0, 64, 65536, 0, 0, 0, 0, 0},
      {"382.5 to even", 192, 0, 64, 65536, 64, 0, 382, 382, 0},
  };
  for (const Case& c : cases) {
    channel.volume = c.volume;
    channel.volumeDelta = c.volumeDelta;
    channel.volEnvLevel = c.envelope;
    channel.fadeoutLevel = c.fadeout;
    player.globalVolume = c.global;
    voices[5].panning = c.panning;
    channel.updateFlags = UPDATE_VOLUME;
    updateVoice(channel, emptySample);
    EXPECT_EQ(voices[5].volume, c.finalVolume) << c.name;
    EXPECT_EQ(voices[5].leftGain, c.left) << c.name;
    EXPECT_EQ(voices[5].rightGain, c.right) << c.name;
  }
}

TEST_F(PlayerState, FinalPanning) {
  struct Case { const char* name; int pan, envelope, panning, left, right; };
  const Case cases[] = {
      {"centre swung right, clamped", 128, 64, 255, 0, 128},
      {"factor 3 at pan 100", 100, 64, 196, 29, 98},
      {"centre swung left", 128, 0, 0, 128, 0},
      {"no swing at the edge", 0, 64, 0, 128, 0},
      {"envelope off is plain pan", 77, 32, 77, 89, 38},
      {"slid below 0", -3, 32, 0, 128, 0},
      {"slid above 255", 300, 32, 255, 0, 128},
  };
  voices[5].volume = 128;
  for (const Case& c : cases) {
    channel.pan = c.pan;
    channel.panEnvLevel = c.envelope;
    channel.updateFlags = UPDATE_PANNING;
    updateVoice(channel, emptySample);
    EXPECT_EQ(voices[5].panning, c.panning) << c.name;
    EXPECT_EQ(voices[5].leftGain, c.left) << c.name;
    EXPECT_EQ(voices[5].rightGain, c.right) << c.name;
  }
}

TEST_F(PlayerState, FrequencyAndStep) {
  struct Case { const char* name; bool linear; int period, delta; std::uint32_t stepInt, stepFrac; };
  // stepFrac = ((f mod 44100) << 32) div 44100 for the frequency f named in each case.
  const Case cases[] = {
      {"linear C-4, 8363 Hz", true, 4608, 0, 0, 814485521},
      {"one semitone up, 8860 Hz", true, 4544, 0, 0, 862889121},
      {"positive delta raises, 8860 Hz", true, 4608, 64, 0, 862889121},
      {"octave up, 16726 Hz", true, 3840, 0, 0, 1628971042},
      {"three octaves up, 66904 Hz", true, 2304, 0, 1, 2220916875u},
      {"octave down, 4181.4999 Hz", true, 5376, 0, 0, 407194064},
      {"linear ceiling, stepInt 255", true, -30000, 0, 255, 4294869904u},
      {"Amiga 1712 truncates to 8362 Hz", false, 1712, 0, 0, 814388129},
      {"Amiga delta lowers, 8362 Hz", false, 1700, 12, 0, 814388129},
      {"Amiga 143, 100119 Hz", false, 143, 0, 2, 1160809868},
      {"Amiga negative sum floors at 100 Hz", false, 10, -30, 0, 9739154},
      {"Amiga huge period floors at 100 Hz", false, 200000, 0, 0, 9739154},
  };
  for (const Case& c : cases) {
    song.flags = c.linear ? 1 : 0;
    channel.period = c.period;
    channel.periodDelta = c.delta;
    channel.updateFlags = UPDATE_FREQUENCY;
    updateVoice(channel, emptySample);
    EXPECT_EQ(voices[5].stepInt, c.stepInt) << c.name;
    EXPECT_EQ(voices[5].stepFrac, c.stepFrac) << c.name;
  }
  for (bool linear : {false, true}) {  // a zero sum leaves the step alone in both tables
    song.flags = linear ? 1 : 0;
    voices[5].stepInt = 7;
    voices[5].stepFrac = 9;
    channel.period = 100;
    channel.periodDelta = -100;
    channel.updateFlags = UPDATE_FREQUENCY;
    updateVoice(channel, emptySample);
    EXPECT_EQ(voices[5].stepInt, 7u);
    EXPECT_EQ(voices[5].stepFrac, 9u);
    EXPECT_EQ(channel.updateFlags, 0);
  }
}

TEST_F(PlayerState, TriggerMovesASoundingNoteToTheTwin) {
  Sample a{}, b{};
  a.length = b.length = 100;
  a.loopLength = b.loopLength = 100;
  channel.updateFlags = UPDATE_TRIGGER;
  updateVoice(channel, a);  // idle voice: stays put
  EXPECT_EQ(channel.voice, &voices[5]);
  EXPECT_EQ(voices[5].sample, &a);

  voices[5].volume = 100;
  voices[5].leftGain = 60;
  voices[5].rightGain = 40;
  voices[5].currentLeftGain = 60 * 256;
  voices[5].positionInt = 33;
  voices[5].stepInt = 2;
  voices[5].startOffset = 20;
  channel.updateFlags = UPDATE_TRIGGER;
  updateVoice(channel, b);
  ASSERT_EQ(channel.voice, &voices[37]);
  const Voice& old = voices[5];
  const Voice& now = voices[37];
  EXPECT_EQ(old.index, 5);
  EXPECT_EQ(old.sample, &a);
  EXPECT_EQ(old.positionInt, 33);
  EXPECT_EQ(old.currentLeftGain, 60 * 256);
  EXPECT_EQ(old.volume + old.leftGain + old.rightGain, 0);
  EXPECT_EQ(now.index, 37);
  EXPECT_EQ(now.sample, &b);
  EXPECT_EQ(now.positionInt, 20);  // the pending offset travels with the copy
  EXPECT_EQ(now.startOffset, 0u);
  EXPECT_EQ(now.stepInt, 2u);
  EXPECT_EQ(now.volume, 100);
  EXPECT_EQ(now.leftGain, 60);
  EXPECT_EQ(now.currentLeftGain, 0);
  EXPECT_EQ(now.direction, DIRECTION_FORWARD);

  channel.updateFlags = UPDATE_TRIGGER;
  updateVoice(channel, a);
  EXPECT_EQ(channel.voice, &voices[5]);
  EXPECT_EQ(voices[5].index, 5);
  EXPECT_EQ(voices[37].sample, &b);
}

TEST_F(PlayerState, StartOffsetAndRewind) {
  Sample s{};
  s.length = 80;
  s.loopStart = 10;
  s.loopLength = 40;
  struct Case { const char* name; std::uint32_t offset; int position; };
  const Case cases[] = {{"inside the loop", 49, 49}, {"at the loop end", 50, 0}, {"past it", 70, 0}};
  for (const Case& c : cases) {
    voices[5] = Voice{};
    voices[5].index = 5;
    voices[5].startOffset = c.offset;
    voices[5].positionFrac = 77;
    channel.voice = &voices[5];
    channel.updateFlags = UPDATE_TRIGGER;
    updateVoice(channel, s);
    EXPECT_EQ(voices[5].positionInt, c.position) << c.name;
    EXPECT_EQ(voices[5].positionFrac, 0u) << c.name;
  }
  voices[5].positionInt = 30;
  voices[5].startOffset = 12;
  channel.updateFlags = UPDATE_REWIND;
  updateVoice(channel, emptySample);
  EXPECT_EQ(voices[5].positionInt, 0);
  EXPECT_EQ(voices[5].startOffset, 0u);
  EXPECT_EQ(voices[5].sample, &s);  // no new sample
}

TEST_F(PlayerState, Vibrato) {
  struct Case { const char* name; std::uint8_t wave, depth; int pos, delta; };
  const Case cases[] = {
      {"sine peak lowers", 0, 8, 16, -64},   {"sine trough raises", 0, 8, -16, 64},
      {"sine at 0", 0, 8, 0, 0},             {"sine at -32", 0, 8, -32, 0},
      {"sine 181 at 8", 0, 15, 8, -84},      {"ramp at -32: 255", 1, 8, -32, 60},
      {"ramp at -1: 7", 1, 8, -1, 0},        {"ramp at 31: 248", 1, 8, 31, -60},
      {"square, low bits cleared", 2, 15, 0, -116}, {"waveform 3 is square", 3, 15, -5, 116},
  };
  for (const Case& c : cases) {
    channel.waveControl = c.wave;
    channel.vibratoDepth = c.depth;
    channel.vibratoPos = static_cast<std::int8_t>(c.pos);
    channel.periodDelta = 1000;  // replaced
    channel.updateFlags = 0;
    applyVibrato(channel);
    EXPECT_EQ(channel.periodDelta, c.delta) << c.name;
    EXPECT_EQ(channel.vibratoPos, c.pos) << c.name;
    EXPECT_EQ(channel.updateFlags, UPDATE_FREQUENCY) << c.name;
  }
}

TEST_F(PlayerState, Tremolo) {
  struct Case { const char* name; std::uint8_t wave, depth, speed; int pos, volume, delta, nextPos; };
  const Case cases[] = {
      {"sine peak capped at 64", 0, 15, 0, 16, 40, 24, 16},
      {"second half floored at 0", 0, 15, 0, -16, 10, -10, -16},
      {"second half", 0, 4, 1, -16, 60, -16, -15},
      {"waveform 3 is sine", 3, 4, 0, 16, 0, 16, 16},
      {"ramp at -32", 1, 8, 0, -32, 64, -31, -32},
      {"square", 2, 8, 0, 5, 0, 31, 5},
      {"volume above 64 pulled back", 0, 8, 0, 0, 80, -16, 0},
      {"phase folds: 31 + 15 = -18", 0, 0, 15, 31, 0, 0, -18},
  };
  for (const Case& c : cases) {
    channel.waveControl = static_cast<std::uint8_t>(c.wave << 4 | 2);  // vibrato nibble ignored
    channel.tremoloDepth = c.depth;
    channel.tremoloSpeed = c.speed;
    channel.tremoloPos = static_cast<std::int8_t>(c.pos);
    channel.volume = c.volume;
    channel.updateFlags = 0;
    applyTremolo(channel);
    EXPECT_EQ(channel.volumeDelta, c.delta) << c.name;
    EXPECT_EQ(channel.tremoloPos, c.nextPos) << c.name;
    EXPECT_EQ(channel.updateFlags, UPDATE_VOLUME) << c.name;
  }
}

TEST_F(PlayerState, TremorAndTonePortamento) {
  channel.tremorOnTicks = 2;  // T11
  channel.tremorOffTicks = 2;
  channel.volume = 40;
  std::vector<int> deltas, counts;
  for (int call = 0; call < 6; ++call) {
    channel.volumeDelta = 0;
    applyTremor(channel);
    deltas.push_back(channel.volumeDelta);
    counts.push_back(channel.tremorCount);
  }
  EXPECT_EQ(deltas, (std::vector<int>{0, 0, -40, -40, 0, 0}));
  EXPECT_EQ(counts, (std::vector<int>{1, 2, 3, 0, 1, 2}));

  struct Case { const char* name; int from, target; std::uint8_t speed; std::vector<int> periods; };
  const Case cases[] = {
      {"up, lands on target", 1000, 1010, 2, {1008, 1010, 1010}},
      {"down, lands on target", 1010, 1000, 2, {1002, 1000, 1000}},
      {"at target", 500, 500, 9, {500}},
  };
  for (const Case& c : cases) {
    channel.period = c.from;
    channel.portaTarget = c.target;
    channel.portaSpeed = c.speed;
    std::vector<int> periods;
    for (std::size_t i = 0; i < c.periods.size(); ++i) {
      channel.updateFlags = 0;
      applyTonePortamento(channel);
      EXPECT_EQ(channel.updateFlags, UPDATE_FREQUENCY) << c.name;
      periods.push_back(channel.period);
    }
    EXPECT_EQ(periods, c.periods) << c.name;
  }
}

TEST_F(PlayerState, JumpAndBreak) {
  struct Step { char effect; std::uint8_t xy; };
  struct Case { const char* name; int orderPos; std::vector<Step> steps; int nextOrder, nextRow; };
  const Case cases[] = {
      {"jump", 1, {{'B', 2}}, 2, 0},
      {"jump past the last order", 1, {{'B', 5}}, 0, 0},
      {"break: decimal digits", 1, {{'D', 0x10}}, 2, 10},
      {"break D1F is row 25", 1, {{'D', 0x1F}}, 2, 25},
      {"break D63 is row 63", 1, {{'D', 0x63}}, 2, 63},
      {"break D64 is row 0", 1, {{'D', 0x64}}, 2, 0},
      {"break on the last order", 4, {{'D', 0x05}}, 0, 5},
      {"jump then break", 1, {{'B', 2}, {'D', 0x10}}, 2, 10},
      {"break then jump", 1, {{'D', 0x10}, {'B', 2}}, 2, 0},
      {"jump past the end then break", 1, {{'B', 9}, {'D', 0x10}}, 0, 10},
      {"two breaks, last wins", 1, {{'D', 0x10}, {'D', 0x20}}, 2, 20},
  };
  for (const Case& c : cases) {
    player.orderPos = c.orderPos;
    player.nextOrder = player.nextRow = -1;
    jumpSeen = false;
    for (const Step& s : c.steps) {
      if (s.effect == 'B') effectPositionJump(s.xy); else effectPatternBreak(s.xy);
    }
    EXPECT_EQ(player.nextOrder, c.nextOrder) << c.name;
    EXPECT_EQ(player.nextRow, c.nextRow) << c.name;
  }
}

TEST_F(PlayerState, PatternLoopsPerChannel) {
  // Channel 0: E60 on row 8, E63 on row 15. Channel 1: E60 on row 20, E61 on row 22.
  // Rows advance as the sequencer does: to nextRow when set, else to the next row.
  std::vector<int> played;
  player.row = 0;
  while (player.row < 32 && played.size() < 100) {
    played.push_back(player.row);
    player.nextRow = -1;
    if (player.row == 8) effectPatternLoop(channels[0], 0);
    if (player.row == 15) effectPatternLoop(channels[0], 3);
    if (player.row == 20) effectPatternLoop(channels[1], 0);
    if (player.row == 22) effectPatternLoop(channels[1], 1);
    player.row = player.nextRow >= 0 ? player.nextRow : player.row + 1;
  }
  std::vector<int> expected;
  for (int r = 0; r < 8; ++r) expected.push_back(r);
  for (int pass = 0; pass < 4; ++pass)
    for (int r = 8; r <= 15; ++r) expected.push_back(r);
  for (int r = 16; r < 20; ++r) expected.push_back(r);
  for (int pass = 0; pass < 2; ++pass)
    for (int r = 20; r <= 22; ++r) expected.push_back(r);
  for (int r = 23; r < 32; ++r) expected.push_back(r);
  EXPECT_EQ(played, expected);
  EXPECT_EQ(channels[0].loopRow, 8);
  EXPECT_EQ(channels[1].loopRow, 20);
  EXPECT_EQ(channels[0].loopCount + channels[1].loopCount, 0);
}

TEST_F(PlayerState, ClockAndGlobalVolume) {
  player.speed = 6;
  effectPatternDelay(2);
  effectSetSpeedOrTempo(3);  // a later F does not change the delay worked out before it
  EXPECT_EQ(player.patternDelay, 12);
  EXPECT_EQ(player.speed, 3);
  effectPatternDelay(0);
  EXPECT_EQ(player.patternDelay, 0);

  struct Case { const char* name; std::uint8_t xy; int speed, samplesPerTick; };
  const Case cases[] = {
      {"F1F sets speed 31", 0x1F, 31, 1}, {"F00 sets speed 0", 0x00, 0, 1},
      {"F20 sets 32 BPM", 0x20, 6, 3445}, {"FFF sets 255 BPM", 0xFF, 6, 432},
  };
  for (const Case& c : cases) {
    player.speed = 6;
    player.samplesPerTick = 1;
    effectSetSpeedOrTempo(c.xy);
    EXPECT_EQ(player.speed, c.speed) << c.name;
    EXPECT_EQ(player.samplesPerTick, c.samplesPerTick) << c.name;
  }

  for (auto [xy, volume] : {std::pair{0x50, 64}, {0x20, 32}, {0x00, 0}}) {
    channel.updateFlags = 0;
    effectSetGlobalVolume(channel, static_cast<std::uint8_t>(xy));
    EXPECT_EQ(player.globalVolume, volume) << xy;
    EXPECT_EQ(channel.updateFlags, UPDATE_VOLUME) << xy;
  }

  effectGlobalVolumeSlideMemory(0x23);
  effectGlobalVolumeSlideMemory(0x00);  // another channel's H00 reuses the shared memory
  EXPECT_EQ(player.globalVolumeSlideSpeed, 0x23);
  effectGlobalVolumeSlideMemory(0x04);
  EXPECT_EQ(player.globalVolumeSlideSpeed, 0x04);
}

}  // namespace
