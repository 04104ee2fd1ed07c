// Small modules for the row and sequencer tests: a song of a few written cells on a fixed set
// of instruments, loaded and reset, and ways to play it tick by tick or frame by frame.
// Shared by rows_test.cpp and rows_play_test.cpp.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "player/player.h"
#include "tools/xmwriter/xm_writer.h"

namespace rows {

// Cell notes: C-4 is 49 in a cell (realNote 48, linear period 4608 at finetune 0).
constexpr std::uint8_t C4 = 49;
constexpr std::uint8_t D4 = 51;
constexpr std::uint8_t E4 = 53;
constexpr std::uint8_t KEY_OFF_NOTE = 97;  // the loader turns it into NOTE_KEY_OFF

// The instruments every test song carries (1-based, as written in cells).
enum : std::uint8_t {
  PLAIN = 1,       // looped square, volume 40, pan 64, fade-out 1024 once loaded, no envelope
  OTHER = 2,       // looped sine, volume 20, pan 200, relative note +12
  ENVELOPED = 3,   // volume envelope (0,64) (4,32) (8,0), sustain at point 1; fade-out 2048
  LONG = 4,        // 2048 frames, loop 512..1023
  ENDS_HIGH = 5,   // volume envelope (0,64) (10,16), no sustain
  LATE_START = 6,  // volume envelope (10,0) (20,64): its first point is not at tick 0
};

inline XmSample loopedWave(XmWave wave, std::uint32_t frames, std::uint32_t periodFrames,
                           std::uint8_t volume, std::uint8_t pan) {
  XmSample sample = xmWaveSample(wave, frames, periodFrames, false);
  sample.loopType = 1;
  sample.loopLength = frames;
  sample.volume = volume;
  sample.panning = pan;
  return sample;
}

inline XmEnvelope volumeEnvelope(std::vector<XmEnvelopePoint> points, int sustainPoint) {
  XmEnvelope envelope;
  envelope.points = std::move(points);
  envelope.flags = sustainPoint >= 0 ? 3 : 1;
  envelope.sustainPoint = static_cast<std::uint8_t>(sustainPoint < 0 ? 0 : sustainPoint);
  return envelope;
}

// A song of one order and one pattern of rowCount rows at tempo 6 and 125 BPM.
inline XmModule testSong(std::uint16_t rowCount = 16, std::uint16_t channelCount = 2) {
  XmModule m;
  m.channelCount = channelCount;
  m.orders = {0};
  m.patterns.push_back(xmPattern(m, rowCount));

  XmInstrument plain = xmInstrument(loopedWave(XmWave::Square, 64, 32, 40, 64));
  plain.fadeout = 512;
  XmInstrument other = xmInstrument(loopedWave(XmWave::Sine, 128, 32, 20, 200));
  other.samples[0].relativeNote = 12;
  XmInstrument enveloped = xmInstrument(loopedWave(XmWave::Square, 64, 32, 64, 128));
  enveloped.volumeEnvelope = volumeEnvelope({{0, 64}, {4, 32}, {8, 0}}, 1);
  enveloped.fadeout = 1024;
  XmInstrument longOne = xmInstrument(loopedWave(XmWave::Saw, 2048, 64, 64, 128));
  longOne.samples[0].loopStart = 512;
  longOne.samples[0].loopLength = 512;
  XmInstrument endsHigh = xmInstrument(loopedWave(XmWave::Square, 64, 32, 64, 128));
  endsHigh.volumeEnvelope = volumeEnvelope({{0, 64}, {10, 16}}, -1);
  XmInstrument lateStart = xmInstrument(loopedWave(XmWave::Square, 64, 32, 64, 128));
  lateStart.volumeEnvelope = volumeEnvelope({{10, 0}, {20, 64}}, -1);
  m.instruments = {plain, other, enveloped, longOne, endsHigh, lateStart};
  return m;
}

inline XmCell& at(XmModule& m, std::uint16_t row, std::uint16_t channel = 0,
                  std::size_t pattern = 0) {
  return xmCell(m, pattern, row, channel);
}

class RowsTest : public ::testing::Test {
 protected:
  void TearDown() override { releaseModule(); }

  void start(const XmModule& m) {
    bytes_ = writeXm(m);
    const char* refusal = loadModule(bytes_.data(), bytes_.size());
    ASSERT_EQ(refusal, nullptr) << refusal;
    resetPlayer();
  }

  // Plays every tick up to and including tick `tick` of row `row` (the next time play gets
  // there).
  void playThrough(std::int32_t row, std::int32_t tick) {
    for (int guard = 0; guard < 100000; ++guard) {
      const std::int32_t r = player.tick == 0 && player.nextRow >= 0 ? player.nextRow : player.row;
      const std::int32_t t = player.tick;
      playerTick();
      if (r == row && t == tick) return;
    }
    FAIL() << "row " << row << " tick " << tick << " never played";
  }

  // The row's first tick, after which the row's cells have been taken in.
  void playRowStart(std::int32_t row) { playThrough(row, 0); }

  std::vector<std::uint8_t> bytes_;
};

}  // namespace rows
