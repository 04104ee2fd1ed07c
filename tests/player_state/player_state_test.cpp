// Tests of the player records and their reset, the tick length, envelopes, fade-out,
// auto-vibrato, the voice update, the modulation steps and the position and clock effects.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include "player/player.h"

namespace {

using Levels = std::vector<int>;

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
    ch.voice = &voices[5];
  }
  // Raises the flags, runs the voice update and hands back the channel's voice.
  const Voice& update(std::uint8_t flags, const Sample& sample = emptySample) {
    ch.updateFlags = flags;
    updateVoice(ch, sample);
    return *ch.voice;
  }
  Channel& ch = channels[5];
};

Envelope envelope(std::initializer_list<std::pair<int, int>> points, std::uint8_t flags = 0,
                  int sustain = 0, int loopStart = 0, int loopEnd = 0, int count = -1) {
  Envelope e{};
  for (auto [tick, value] : points) e.points[e.pointCount++] = {std::uint16_t(tick), std::uint16_t(value)};
  if (count >= 0) e.pointCount = std::uint8_t(count);
  e.flags = std::uint8_t(ENVELOPE_ON | flags);
  e.sustainPoint = std::uint8_t(sustain);
  e.loopStartPoint = std::uint8_t(loopStart);
  e.loopEndPoint = std::uint8_t(loopEnd);
  return e;
}

// 110250 / bpm to the nearest integer, exact halves to the lower one.
int ticksOracle(int bpm) { return 110250 / bpm + (2 * (110250 % bpm) > bpm ? 1 : 0); }

TEST_F(PlayerState, SetBpm) {
  for (int bpm = 32; bpm <= 255; ++bpm) {
    setBpm(bpm);
    EXPECT_EQ(player.samplesPerTick, ticksOracle(bpm)) << "bpm " << bpm;
  }
  for (auto [bpm, frames] : {std::pair{125, 882}, {100, 1102}, {150, 735}, {60, 1837}, {32, 3445},
                             {255, 432}, {4, 27562}}) {
    setBpm(bpm);
    EXPECT_EQ(player.samplesPerTick, frames) << "bpm " << bpm;
  }
}

TEST_F(PlayerState, ResetPlayer) {
  song = Song{};
  song.channelCount = 40;  // beyond the table: must stay inside it
  song.defaultTempo = 6;
  song.defaultBpm = 125;
  player.row = 9;
  player.globalVolumeSlideSpeed = 7;
  voices[40].volume = channels[31].loopCount = channels[0].fadeoutLevel = 99;
  resetPlayer();
  EXPECT_EQ((std::vector<int>{player.speed, player.samplesPerTick, player.globalVolume,
                              player.nextOrder, player.nextRow, player.row,
                              player.globalVolumeSlideSpeed}),
            (std::vector<int>{6, 882, 64, -1, -1, 0, 0}));
  EXPECT_EQ((std::vector<int>{voices[40].volume, voices[40].index, int(voices[40].stepInt)}),
            (std::vector<int>{0, 40, 1}));
  for (int i = 0; i < MAX_CHANNELS; ++i) EXPECT_EQ(channels[i].voice, &voices[i]) << i;
  EXPECT_EQ(channels[31].loopCount + channels[0].fadeoutLevel, 0);
}

TEST_F(PlayerState, EnvelopeLevels) {
  struct Case { const char* name; Envelope e; int releaseAt; Levels levels; bool done; };
  const Case cases[] = {
      {"two points", envelope({{0, 64}, {4, 0}}), -1, {64, 48, 32, 16, 0, 0}, true},
      {"truncated falling step", envelope({{0, 64}, {3, 0}}), -1, {64, 42, 21, 0}, true},
      {"sustain until key-off", envelope({{0, 0}, {2, 32}, {4, 64}}, ENVELOPE_SUSTAIN, 1), 5,
       {0, 16, 32, 32, 32, 32, 48, 64, 64}, true},
      {"loop end hands on the start's value",
       envelope({{0, 0}, {2, 20}, {4, 40}, {6, 60}}, ENVELOPE_LOOP, 0, 1, 3), -1,
       {0, 10, 20, 30, 40, 50, 20, 30, 40, 50, 20}, false},
      {"loop start == end passes on", envelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_LOOP, 0, 1, 1),
       -1, {0, 10, 20, 30, 40, 40}, true},
      {"last point ends a loop beyond it", envelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_LOOP, 0, 0, 5),
       -1, {0, 10, 20, 30, 40, 40}, true},
      // Hostile descriptions: only the 12 stored points are ever read.
      {"count above 12 is 12",
       envelope({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9},
                 {10, 10}, {11, 11}}, 0, 0, 0, 0, 200),
       -1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11}, true},
      {"sustain beyond the points", envelope({{0, 0}, {2, 20}}, ENVELOPE_SUSTAIN, 7), -1,
       {0, 10, 20, 20}, true},
      {"loop start beyond the points", envelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_LOOP, 0, 30, 1),
       -1, {0, 10, 20, 30, 40, 40}, true},
      {"values above 64 are 64", envelope({{0, 64}, {2, 9000}}), -1, {64, 64, 64}, true},
      {"equal ticks pass on", envelope({{0, 0}, {4, 40}, {4, 60}}), -1, {0, 10, 20, 30, 40, 60, 60}, true},
      {"falling ticks pass on", envelope({{0, 0}, {4, 40}, {2, 20}}), -1, {0, 10, 20, 30, 40, 20}, true},
      {"no points holds the level", envelope({}), -1, {20, 20, 20}, false},
  };
  for (const Case& c : cases) {
    ch = Channel{};
    ch.volEnvLevelFixed = 20 << 16;
    Levels levels;
    for (int t = 0; t < int(c.levels.size()); ++t) {
      ch.keyOff = t >= c.releaseAt && c.releaseAt >= 0;
      ch.updateFlags = 0;
      if (!ch.volEnvDone) {
        stepEnvelope(ch, ch.volEnvTick, ch.volEnvPoint, ch.volEnvLevelFixed, ch.volEnvLevel,
                     ch.volEnvStep, ch.volEnvDone, c.e, UPDATE_VOLUME);
        EXPECT_EQ(ch.updateFlags, UPDATE_VOLUME) << c.name;
      }
      levels.push_back(ch.volEnvLevel);
    }
    EXPECT_EQ(levels, c.levels) << c.name;
    EXPECT_EQ(ch.volEnvDone, c.done) << c.name;
  }
}

TEST_F(PlayerState, FadeoutAfterKeyOff) {
  struct Case { const char* name; std::uint16_t fadeout; std::uint8_t keyOff; int ticks, level; };
  const Case cases[] = {{"4096 reaches 0 in 16 ticks", 4096, 1, 16, 0}, {"stops at 0", 5000, 1, 20, 0}, {"key held", 4096, 0, 5, 65536}};
  Instrument instrument{};
  for (const Case& c : cases) {
    instrument.fadeout = c.fadeout;
    ch.keyOff = c.keyOff;
    ch.fadeoutLevel = 65536;
    for (int t = 0; t < c.ticks; ++t) stepFadeout(ch, instrument);
    EXPECT_EQ(ch.fadeoutLevel, c.level) << c.name;
  }
}

TEST_F(PlayerState, AutoVibrato) {
  Instrument in{};
  in.vibratoType = 1, in.vibratoSweep = 4, in.vibratoDepth = 8, in.vibratoRate = 1;
  Levels offsets;
  for (int t = 0; t < 6; ++t, ch.periodDelta = 0) {
    applyAutoVibrato(ch, in);
    offsets.push_back(ch.periodDelta);
  }
  EXPECT_EQ(offsets, (Levels{0, 2, 4, 6, 8, 8}));
  EXPECT_EQ(ch.updateFlags, UPDATE_FREQUENCY);

  struct Case { const char* name; std::uint8_t type, depth, rate; int pos, delta, nextPos; };
  const Case cases[] = {
      {"sine 64 sin(pi/4) = 45.25", 0, 15, 0, 32, 10, 32}, {"ramp down at 127", 2, 8, 0, 127, -8, 127},
      {"shift rounds down", 2, 1, 0, 1, -1, 1},             {"ramp up at 129", 3, 8, 0, 129, -8, 129},
      {"type 4 adds nothing", 4, 8, 0, 64, 0, 64},          {"phase wraps", 1, 0, 10, 250, 0, 4},
  };
  in.vibratoSweep = 0;
  for (const Case& c : cases) {
    in.vibratoType = c.type, in.vibratoDepth = c.depth, in.vibratoRate = c.rate;
    ch.autoVibratoPos = c.pos;
    ch.periodDelta = 3;  // added to, not replaced
    applyAutoVibrato(ch, in);
    EXPECT_EQ(ch.periodDelta - 3, c.delta) << c.name;
    EXPECT_EQ(ch.autoVibratoPos, c.nextPos) << c.name;
  }
}

TEST_F(PlayerState, VolumeAndPanning) {
  struct Case { const char* name; int volume, delta, env, fade, global, pan, panEnv, v, panning, left, right; };
  const Case cases[] = {
      {"maxima: 127.5 to even", 64, 0, 64, 65536, 64, 0, 32, 128, 0, 128, 0},
      {"382.5 to even", 192, 0, 64, 65536, 64, 0, 32, 382, 0, 382, 0},
      {"volume 255", 255, 0, 64, 65536, 64, 255, 32, 508, 255, 0, 508},
      {"delta added", 40, -8, 64, 65536, 64, 128, 32, 64, 128, 31, 32},
      {"envelope 0", 64, 0, 0, 65536, 64, 0, 32, 0, 0, 0, 0},
      {"fade-out 0", 64, 0, 64, 0, 64, 0, 32, 0, 0, 0, 0},
      {"global 0", 64, 0, 64, 65536, 0, 0, 32, 0, 0, 0, 0},
      {"centre split", 64, 0, 64, 65536, 64, 128, 32, 128, 128, 63, 64},
      {"centre swung right", 64, 0, 64, 65536, 64, 128, 64, 128, 255, 0, 128},
      {"pan 100: factor 3", 64, 0, 64, 65536, 64, 100, 64, 128, 196, 29, 98},
      {"no swing at the edge", 64, 0, 64, 65536, 64, 0, 64, 128, 0, 128, 0},
      {"slid below 0", 64, 0, 64, 65536, 64, -3, 32, 128, 0, 128, 0},
      {"slid above 255", 64, 0, 64, 65536, 64, 300, 32, 128, 255, 0, 128},
  };
  for (const Case& c : cases) {
    ch.volume = c.volume, ch.volumeDelta = c.delta, ch.volEnvLevel = c.env, ch.fadeoutLevel = c.fade;
    player.globalVolume = c.global;
    ch.pan = c.pan, ch.panEnvLevel = c.panEnv;
    const Voice& v = update(UPDATE_VOLUME | UPDATE_PANNING);
    EXPECT_EQ((std::vector<int>{v.volume, v.panning, v.leftGain, v.rightGain}),
              (std::vector<int>{c.v, c.panning, c.left, c.right})) << c.name;
  }
  voices[5].panning = 255;  // a volume change alone splits by the voice's panning
  EXPECT_EQ(update(UPDATE_VOLUME).rightGain, 128);
}

TEST_F(PlayerState, FrequencyAndStep) {
  // stepFrac = ((f mod 44100) << 32) div 44100 for the frequency f in each name.
  struct Case { const char* name; bool linear; int period, delta; std::uint32_t stepInt, stepFrac; };
  const Case cases[] = {
      {"8363 Hz", true, 4608, 0, 0, 814485521},          {"8860 Hz", true, 4544, 0, 0, 862889121},
      {"delta raises, 8860 Hz", true, 4608, 64, 0, 862889121},
      {"66904 Hz", true, 2304, 0, 1, 2220916875u},       {"4181.4999 Hz", true, 5376, 0, 0, 407194064},
      {"ceiling keeps stepInt 255", true, -30000, 0, 255, 4294869904u},
      {"Amiga 1712: 8362 Hz", false, 1712, 0, 0, 814388129},
      {"Amiga delta lowers", false, 1700, 12, 0, 814388129},
      {"Amiga 100119 Hz", false, 143, 0, 2, 1160809868},
      {"negative sum: 100 Hz", false, 10, -30, 0, 9739154},
  };
  for (const Case& c : cases) {
    song.flags = c.linear;
    ch.period = c.period, ch.periodDelta = c.delta;
    const Voice& v = update(UPDATE_FREQUENCY);
    EXPECT_EQ(v.stepInt, c.stepInt) << c.name;
    EXPECT_EQ(v.stepFrac, c.stepFrac) << c.name;
  }
  for (std::uint16_t linear : {0, 1}) {  // a zero sum skips the update in both tables
    song.flags = linear;
    ch.period = 100, ch.periodDelta = -100;
    voices[5].stepInt = 7;
    EXPECT_EQ(update(UPDATE_FREQUENCY).stepInt, 7u);
    EXPECT_EQ(ch.updateFlags, 0);
  }
}

TEST_F(PlayerState, TriggerAlternatesTwinVoices) {
  Sample a{}, b{};
  a.length = b.length = a.loopLength = b.loopLength = 100;
  update(UPDATE_TRIGGER, a);  // idle voice: the note stays on it
  ASSERT_EQ(ch.voice, &voices[5]);
  voices[5].volume = 100, voices[5].leftGain = 60, voices[5].currentLeftGain = 60 * 256;
  voices[5].positionInt = 33, voices[5].stepInt = 2, voices[5].startOffset = 20;
  const Voice& now = update(UPDATE_TRIGGER, b);
  ASSERT_EQ(&now, &voices[37]);
  const Voice& old = voices[5];
  EXPECT_EQ((std::vector<int>{old.index, old.positionInt, old.currentLeftGain, old.volume, old.leftGain}),
            (std::vector<int>{5, 33, 60 * 256, 0, 0}));
  EXPECT_EQ(old.sample, &a);
  EXPECT_EQ((std::vector<int>{now.index, now.positionInt, int(now.startOffset), int(now.stepInt),
                              now.volume, now.leftGain, now.currentLeftGain}),
            (std::vector<int>{37, 20, 0, 2, 100, 60, 0}));
  EXPECT_EQ(now.sample, &b);
  EXPECT_EQ(&update(UPDATE_TRIGGER, a), &voices[5]);
  EXPECT_EQ(voices[5].index, 5);
}

TEST_F(PlayerState, StartOffsetAndRewind) {
  Sample s{};
  s.length = 80, s.loopStart = 10, s.loopLength = 40;
  for (auto [offset, position] : {std::pair{49u, 49}, {50u, 0}, {70u, 0}}) {
    voices[5].sample = nullptr, voices[5].startOffset = offset, voices[5].positionFrac = 77;
    ch.voice = &voices[5];
    const Voice& v = update(UPDATE_TRIGGER, s);
    EXPECT_EQ(v.positionInt, position) << offset;
    EXPECT_EQ(v.positionFrac, 0u) << offset;
  }
  // A ping-pong voice caught going backward plays on forward from frame 0, where going
  // backward it would meet no loop start and read below its sample.
  voices[5].startOffset = 12, voices[5].positionInt = 30, voices[5].positionFrac = 5;
  voices[5].direction = DIRECTION_BACKWARD;
  const Voice& v = update(UPDATE_REWIND);
  EXPECT_EQ((std::vector<int>{v.positionInt, int(v.positionFrac), int(v.startOffset), v.direction}),
            (std::vector<int>{0, 0, 0, DIRECTION_FORWARD}));
  EXPECT_EQ(v.sample, &s);
}

TEST_F(PlayerState, VibratoAndTremolo) {
  struct Case { const char* name; std::uint8_t wave, depth; int pos, delta; };
  const Case vibrato[] = {
      {"sine peak", 0, 8, 16, -64}, {"sine trough", 0, 8, -16, 64}, {"sine 0", 0, 8, 0, 0},
      {"sine -32", 0, 8, -32, 0},   {"sine 181", 0, 15, 8, -84},    {"ramp 255", 1, 8, -32, 60},
      {"ramp 7", 1, 8, -1, 0},      {"ramp 248", 1, 8, 31, -60},    {"square", 2, 15, 0, -116},
      {"3 is square", 3, 15, -5, 116},
  };
  for (const Case& c : vibrato) {
    ch.waveControl = c.wave, ch.vibratoDepth = c.depth, ch.vibratoPos = std::int8_t(c.pos);
    ch.periodDelta = 1000;  // replaced
    applyVibrato(ch);
    EXPECT_EQ(ch.periodDelta, c.delta) << c.name;
    EXPECT_EQ(ch.vibratoPos, c.pos) << c.name;
  }
  struct TremoloCase { const char* name; std::uint8_t wave, depth, speed; int pos, volume, delta, next; };
  const TremoloCase tremolo[] = {
      {"capped at 64", 0, 15, 0, 16, 40, 24, 16}, {"floored at 0", 0, 15, 0, -16, 10, -10, -16},
      {"second half", 0, 4, 1, -16, 60, -16, -15}, {"3 is sine", 3, 4, 0, 16, 0, 16, 16},
      {"ramp", 1, 8, 0, -32, 64, -31, -32},        {"square", 2, 8, 0, 5, 0, 31, 5},
      {"above 64 pulled back", 0, 8, 0, 0, 80, -16, 0}, {"31 + 15 = -18", 0, 0, 15, 31, 0, 0, -18},
      {"30 + 1 = 31", 0, 0, 1, 30, 0, 0, 31},
  };
  for (const TremoloCase& c : tremolo) {
    ch.waveControl = std::uint8_t(c.wave << 4 | 2), ch.tremoloDepth = c.depth, ch.tremoloSpeed = c.speed;
    ch.tremoloPos = std::int8_t(c.pos), ch.volume = c.volume;
    applyTremolo(ch);
    EXPECT_EQ(ch.volumeDelta, c.delta) << c.name;
    EXPECT_EQ(ch.tremoloPos, c.next) << c.name;
  }
  EXPECT_EQ(ch.updateFlags, UPDATE_FREQUENCY | UPDATE_VOLUME);
}

// The tremor is checked tick by tick in the row tests (T11).
TEST_F(PlayerState, TonePortamento) {
  struct Case { int from, target; std::uint8_t speed; Levels periods; };
  for (const Case& c : {Case{1000, 1010, 2, {1008, 1010, 1010}}, Case{1010, 1000, 2, {1002, 1000}},
                        Case{500, 500, 9, {500}}}) {
    ch.period = c.from, ch.portaTarget = c.target, ch.portaSpeed = c.speed, ch.updateFlags = 0;
    Levels periods;
    for (std::size_t i = 0; i < c.periods.size(); ++i, periods.push_back(ch.period)) applyTonePortamento(ch);
    EXPECT_EQ(periods, c.periods) << c.from << " to " << c.target;
    EXPECT_EQ(ch.updateFlags, UPDATE_FREQUENCY);
  }
}

TEST_F(PlayerState, JumpAndBreak) {
  struct Case { const char* name; int orderPos; std::vector<std::pair<char, std::uint8_t>> effects; int order, row; };
  const Case cases[] = {
      {"jump", 1, {{'B', 2}}, 2, 0},                  {"jump past the end", 1, {{'B', 5}}, 0, 0},
      {"D10 is row 10", 1, {{'D', 0x10}}, 2, 10},     {"D1F is row 25", 1, {{'D', 0x1F}}, 2, 25},
      {"D63 is row 63", 1, {{'D', 0x63}}, 2, 63},     {"D64 is row 0", 1, {{'D', 0x64}}, 2, 0},
      {"break on the last order", 4, {{'D', 0x05}}, 0, 5},
      {"B then D", 1, {{'B', 2}, {'D', 0x10}}, 2, 10}, {"D then B", 1, {{'D', 0x10}, {'B', 2}}, 2, 0},
      {"B past the end then D", 1, {{'B', 9}, {'D', 0x10}}, 0, 10},
  };
  for (const Case& c : cases) {
    player.orderPos = c.orderPos, player.nextOrder = player.nextRow = -1, jumpSeen = false;
    for (auto [effect, xy] : c.effects) effect == 'B' ? effectPositionJump(xy) : effectPatternBreak(xy);
    EXPECT_EQ(player.nextOrder, c.order) << c.name;
    EXPECT_EQ(player.nextRow, c.row) << c.name;
  }
}

TEST_F(PlayerState, PatternLoopsPerChannel) {
  // Channel 0: E60 on row 8, E63 on row 15. Channel 1: E60 on row 20, E61 on row 22.
  Levels played, expected;
  for (player.row = 0; player.row < 32 && played.size() < 100;) {
    played.push_back(player.row);
    player.nextRow = -1;
    for (auto [row, channel, y] : {std::tuple{8, 0, 0}, {15, 0, 3}, {20, 1, 0}, {22, 1, 1}})
      if (player.row == row) effectPatternLoop(channels[channel], std::uint8_t(y));
    player.row = player.nextRow >= 0 ? player.nextRow : player.row + 1;
  }
  auto add = [&](int from, int to, int passes) {
    for (int p = 0; p < passes; ++p)
      for (int r = from; r <= to; ++r) expected.push_back(r);
  };
  add(0, 7, 1), add(8, 15, 4), add(16, 19, 1), add(20, 22, 2), add(23, 31, 1);
  EXPECT_EQ(played, expected);
}

TEST_F(PlayerState, ClockAndGlobalVolume) {
  player.speed = 6;
  effectPatternDelay(2);
  effectSetSpeedOrTempo(3);  // the delay keeps the speed it was worked out with
  EXPECT_EQ(player.patternDelay + player.speed, 15);
  effectPatternDelay(0);
  EXPECT_EQ(player.patternDelay, 0);

  struct Case { std::uint8_t xy; int speed, samplesPerTick; };
  for (const Case& c : {Case{0x1F, 31, 1}, Case{0x00, 0, 1}, Case{0x20, 6, 3445}, Case{0xFF, 6, 432}}) {
    player.speed = 6, player.samplesPerTick = 1;
    effectSetSpeedOrTempo(c.xy);
    EXPECT_EQ(player.speed, c.speed) << int(c.xy);
    EXPECT_EQ(player.samplesPerTick, c.samplesPerTick) << int(c.xy);
  }
  for (auto [xy, volume] : {std::pair{0x50, 64}, {0x20, 32}}) {
    ch.updateFlags = 0;
    effectSetGlobalVolume(ch, std::uint8_t(xy));
    EXPECT_EQ(player.globalVolume, volume);
    EXPECT_EQ(ch.updateFlags, UPDATE_VOLUME);
  }
  effectGlobalVolumeSlideMemory(0x23);
  effectGlobalVolumeSlideMemory(0x00);  // another channel's H00 reuses the shared memory
  EXPECT_EQ(player.globalVolumeSlideSpeed, 0x23);
}

}  // namespace
