// Per-function cases of the player: the tick length, envelopes, auto-vibrato, the voice
// update, the modulation steps and the position effects. Each case gives the records the
// state it needs, calls one function and checks the fields; how a row uses them is pinned by
// the row tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "player/player.h"

namespace {

using Levels = std::vector<int>;

class PlayerState : public ::testing::Test {
 protected:
  void SetUp() override {
    playerContext->song = Song{}, playerContext->song.channelCount = 8, playerContext->song.songLength = 5, playerContext->song.flags = 1;  // linear table
    playerContext->player = Player{}, playerContext->player.globalVolume = 64;
    for (Channel& c : playerContext->channels) c = Channel{};
    resetVoices(), playerContext->jumpSeen = false;
    ch.voice = &playerContext->voices[5];
  }
  // Raises the flags, runs the voice update and hands back the channel's voice.
  const Voice& update(std::uint8_t flags, const Sample& sample = playerContext->emptySample) {
    ch.updateFlags = flags;
    updateVoice(ch, sample);
    return *ch.voice;
  }
  Channel& ch = playerContext->channels[5];
};

Envelope envelope(std::initializer_list<std::pair<int, int>> points, std::uint8_t flags = 0,
                  int sustain = 0, int loopStart = 0, int loopEnd = 0, int count = -1) {
  Envelope e{};
  for (auto [tick, value] : points) e.points[e.pointCount++] = {std::uint16_t(tick), std::uint16_t(value)};
  if (count >= 0) e.pointCount = std::uint8_t(count);
  e.flags = std::uint8_t(ENVELOPE_ON | flags), e.sustainPoint = std::uint8_t(sustain);
  e.loopStartPoint = std::uint8_t(loopStart), e.loopEndPoint = std::uint8_t(loopEnd);
  return e;
}

// 110250 / bpm to the nearest integer, exact halves to the lower one (bpm 100: 1102).
TEST_F(PlayerState, SetBpm) {
  for (int bpm = 1; bpm <= 255; ++bpm) {
    setBpm(bpm);
    EXPECT_EQ(playerContext->player.samplesPerTick, 110250 / bpm + (2 * (110250 % bpm) > bpm ? 1 : 0)) << "bpm " << bpm;
  }
}

TEST_F(PlayerState, EnvelopeLevels) {
  struct Case { const char* name; Envelope e; int releaseAt; Levels levels; bool done; };
  const Case cases[] = {
      // Steps of +-43690.67 in 16.16, truncated toward zero: 3 x 43690 falls short of 2 on the
      // way up, 4 - 3 x 43690 stays above 2 on the way down.
      {"truncated steps", envelope({{0, 0}, {6, 4}, {12, 0}}), -1, {0, 0, 1, 1, 2, 3, 4, 3, 2, 2, 1, 0, 0}, true},
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
    ch = Channel{}, ch.volumeEnvelope.levelFixed = 20 << 16;
    Levels levels;
    for (int t = 0; t < int(c.levels.size()); ++t, levels.push_back(ch.volumeEnvelope.level)) {
      ch.keyOff = c.releaseAt >= 0 && t >= c.releaseAt, ch.updateFlags = 0;
      if (ch.volumeEnvelope.done) continue;
      // The volume fields, with the panning flag: the flag given is the one raised.
      stepEnvelope(ch, ch.volumeEnvelope, c.e, UPDATE_PANNING);
      EXPECT_EQ(ch.updateFlags, UPDATE_PANNING) << c.name;
    }
    EXPECT_EQ(levels, c.levels) << c.name;
    EXPECT_EQ(ch.volumeEnvelope.done, c.done) << c.name;
  }
}

TEST_F(PlayerState, AutoVibrato) {
  Instrument in{};
  in.vibratoType = 1, in.vibratoSweep = 4, in.vibratoDepth = 8, in.vibratoRate = 1;
  Levels offsets;  // the sweep grows the square's depth of 8 from the second tick on
  for (int t = 0; t < 6; ++t, offsets.push_back(ch.periodDelta), ch.periodDelta = 0) applyAutoVibrato(ch, in);
  EXPECT_EQ(offsets, (Levels{0, 2, 4, 6, 8, 8}));
  EXPECT_EQ(ch.updateFlags, UPDATE_FREQUENCY);

  // At depth 64 the offset is the waveform's value, -64..64.
  struct Case { const char* name; std::uint8_t type, depth, rate; int pos, delta, nextPos; };
  const Case cases[] = {
      {"sine at 64", 0, 64, 0, 64, 64, 64},         {"sine at 192", 0, 64, 0, 192, -64, 192},
      {"square at 127", 1, 64, 0, 127, 64, 127},    {"square at 128", 1, 64, 0, 128, -64, 128},
      {"ramp down at 0", 2, 64, 0, 0, 0, 0},        {"ramp down at 127", 2, 64, 0, 127, -64, 127},
      {"ramp down at 128", 2, 64, 0, 128, 64, 128}, {"ramp up at 129", 3, 64, 0, 129, -64, 129},
      {"-1 x 1 / 64 rounds down", 2, 1, 0, 1, -1, 1}, {"type 4 adds nothing", 4, 64, 0, 64, 0, 64},
      {"phase 245 + 10 is 255", 1, 0, 10, 245, 0, 255}, {"phase 250 + 10 wraps to 4", 1, 0, 10, 250, 0, 4},
  };
  for (const Case& c : cases) {
    in.vibratoType = c.type, in.vibratoDepth = c.depth, in.vibratoRate = c.rate, in.vibratoSweep = 0;
    ch.autoVibratoPos = c.pos, ch.periodDelta = 3;  // added to, not replaced
    applyAutoVibrato(ch, in);
    EXPECT_EQ(std::pair(ch.periodDelta - 3, ch.autoVibratoPos), std::pair(c.delta, c.nextPos)) << c.name;
  }
}

TEST_F(PlayerState, VolumeAndPanning) {
  struct Case { const char* name; int volume, delta, pan, panEnv, v, panning, left, right; };
  const Case cases[] = {
      {"maxima: 127.5 to even", 64, 0, 0, 32, 128, 0, 128, 0}, {"382.5 to even", 192, 0, 0, 32, 382, 0, 382, 0},
      {"volume 255", 255, 0, 255, 32, 508, 255, 0, 508},      {"delta added", 40, -8, 128, 32, 64, 128, 31, 32},
      {"centre swung right", 64, 0, 128, 64, 128, 255, 0, 128},
      // (128 - |pan - 128|) / 32 truncates: pan 95 swings by a factor of 2, 95 + 2 x 32.
      {"pan 95: factor 2", 64, 0, 95, 64, 128, 159, 48, 79},
      {"no swing at the edge", 64, 0, 0, 64, 128, 0, 128, 0},   {"slid below 0", 64, 0, -3, 32, 128, 0, 128, 0},
      {"slid above 255", 64, 0, 300, 32, 128, 255, 0, 128},
  };
  for (const Case& c : cases) {
    ch.volume = c.volume, ch.volumeDelta = c.delta, ch.volumeEnvelope.level = 64, ch.fadeoutLevel = 65536;
    ch.pan = c.pan, ch.panningEnvelope.level = c.panEnv;
    const Voice& v = update(UPDATE_VOLUME | UPDATE_PANNING);
    EXPECT_EQ((std::vector<int>{v.volume, v.panning, v.leftGain, v.rightGain}),
              (std::vector<int>{c.v, c.panning, c.left, c.right})) << c.name;
  }
  playerContext->voices[5].panning = 255;  // a volume change alone splits by the voice's panning
  EXPECT_EQ(update(UPDATE_VOLUME).rightGain, 128);
}

TEST_F(PlayerState, FrequencyAndStep) {
  // stepFrac = ((f mod 44100) << 32) div 44100 for the frequency f in each name.
  struct Case { const char* name; bool linear; int period, delta; std::uint32_t stepInt, stepFrac; };
  const Case cases[] = {
      {"8363 Hz", true, 4608, 0, 0, 814485521},       {"14476.96 Hz to 14477", true, 4000, 0, 0, 1409937449},
      {"delta raises, 8860 Hz", true, 4608, 64, 0, 862889121}, {"66904 Hz", true, 2304, 0, 1, 2220916875u},
      {"4181.4999 Hz", true, 5376, 0, 0, 407194064}, {"ceiling keeps stepInt 255", true, -30000, 0, 255, 4294869904u},
      {"Amiga 1712: 8362 Hz", false, 1712, 0, 0, 814388129}, {"Amiga delta lowers", false, 1700, 12, 0, 814388129},
      {"Amiga 100119 Hz", false, 143, 0, 2, 1160809868},    {"negative sum: 100 Hz", false, 10, -30, 0, 9739154},
  };
  for (const Case& c : cases) {
    playerContext->song.flags = c.linear, ch.period = c.period, ch.periodDelta = c.delta;
    const Voice& v = update(UPDATE_FREQUENCY);
    EXPECT_EQ(std::pair(v.stepInt, v.stepFrac), std::pair(c.stepInt, c.stepFrac)) << c.name;
  }
  playerContext->song.flags = 0, ch.period = 100, ch.periodDelta = -100, playerContext->voices[5].stepInt = 7;
  EXPECT_EQ(update(UPDATE_FREQUENCY).stepInt, 7u) << "a zero sum skips the update (no division by 0)";
}

TEST_F(PlayerState, TriggerAlternatesTwinVoices) {
  Sample a{}, b{};
  a.length = b.length = a.loopLength = b.loopLength = 100;
  update(UPDATE_TRIGGER, a);  // idle voice: the note stays on it
  ASSERT_EQ(ch.voice, &playerContext->voices[5]);
  playerContext->voices[5].volume = 100, playerContext->voices[5].leftGain = 60, playerContext->voices[5].currentLeftGain = 60 * 256;
  playerContext->voices[5].positionInt = 33, playerContext->voices[5].stepInt = 2, playerContext->voices[5].startOffset = 20;
  const Voice& now = update(UPDATE_TRIGGER, b);
  ASSERT_EQ(&now, &playerContext->voices[37]);
  const Voice& old = playerContext->voices[5];
  EXPECT_EQ((std::vector<int>{old.index, old.positionInt, old.currentLeftGain, old.volume, old.leftGain}),
            (std::vector<int>{5, 33, 60 * 256, 0, 0}));
  EXPECT_EQ(old.sample, &a);
  EXPECT_EQ((std::vector<int>{now.index, now.positionInt, int(now.startOffset), int(now.stepInt),
                              now.volume, now.leftGain, now.currentLeftGain}),
            (std::vector<int>{37, 20, 0, 2, 100, 60, 0}));
  EXPECT_EQ(now.sample, &b);
  // The left twin is released only once its ramp to silence has run out.
  update(0);
  EXPECT_EQ(old.sample, &a);
  playerContext->voices[5].currentLeftGain = 0;
  EXPECT_EQ(update(0).sample, &b);
  EXPECT_EQ(old.sample, nullptr);
  EXPECT_EQ(&update(UPDATE_TRIGGER, a), &playerContext->voices[5]);
}

TEST_F(PlayerState, StartOffsetAndRewind) {
  Sample s{};
  s.length = 80, s.loopStart = 10, s.loopLength = 40;
  for (auto [offset, position] : {std::pair{49u, 49}, {50u, 0}}) {  // 50 is the loop end
    playerContext->voices[5].sample = nullptr, playerContext->voices[5].startOffset = offset, playerContext->voices[5].positionFrac = 77;
    const Voice& v = update(UPDATE_TRIGGER, s);
    EXPECT_EQ(std::pair(v.positionInt, v.positionFrac), std::pair(position, 0u)) << offset;
  }
  // A ping-pong voice caught going backward plays on forward from frame 0, where going
  // backward it would meet no loop start and read below its sample.
  playerContext->voices[5].startOffset = 12, playerContext->voices[5].positionInt = 30, playerContext->voices[5].positionFrac = 5;
  playerContext->voices[5].direction = DIRECTION_BACKWARD;
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
    EXPECT_EQ(std::pair(ch.periodDelta, int(ch.vibratoPos)), std::pair(c.delta, c.pos)) << c.name;
  }
  struct TremoloCase { const char* name; std::uint8_t wave, depth, speed; int pos, volume, delta, next; };
  const TremoloCase tremolo[] = {
      {"capped at 64", 0, 15, 0, 16, 40, 24, 16}, {"floored at 0", 0, 15, 0, -16, 10, -10, -16},
      {"second half", 0, 4, 1, -16, 60, -16, -15}, {"3 is sine", 3, 4, 0, 16, 0, 16, 16},
      {"ramp", 1, 8, 0, -32, 64, -31, -32},        {"square", 2, 8, 0, 5, 0, 31, 5},
      {"above 64 pulled back", 0, 8, 0, 0, 80, -16, 0}, {"31 + 15 = -18", 0, 0, 15, 31, 0, 0, -18},
      {"30 + 1 = 31", 0, 0, 1, 30, 0, 0, 31},     {"31 + 1 = -32", 0, 0, 1, 31, 0, 0, -32},
  };
  for (const TremoloCase& c : tremolo) {
    ch.waveControl = std::uint8_t(c.wave << 4 | 2), ch.tremoloDepth = c.depth, ch.tremoloSpeed = c.speed;
    ch.tremoloPos = std::int8_t(c.pos), ch.volume = c.volume;
    applyTremolo(ch);
    EXPECT_EQ(std::pair(ch.volumeDelta, int(ch.tremoloPos)), std::pair(c.delta, c.next)) << c.name;
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
  playerContext->song.restartPosition = 3;  // a jump past the end goes to order 0 all the same
  for (const Case& c : cases) {
    playerContext->player.orderPos = c.orderPos, playerContext->player.nextOrder = playerContext->player.nextRow = -1, playerContext->jumpSeen = false;
    for (auto [effect, xy] : c.effects) effect == 'B' ? effectPositionJump(xy) : effectPatternBreak(xy);
    EXPECT_EQ(std::pair(playerContext->player.nextOrder, playerContext->player.nextRow), std::pair(c.order, c.row)) << c.name;
  }
}

}  // namespace
