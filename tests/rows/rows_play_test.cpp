// A small written song played from end to end without a device: ticks from playerTick,
// frames from mixVoices, in 884-frame blocks as the block fill runs them. Checks what a
// listener would notice: when notes start, their pitch, the envelope's level and the loop
// back to the restart position. Pairs with rows_test.cpp.

#include <cmath>

#include "rows_fixture.h"

#include "player/rows.h"

namespace rows {
namespace {

constexpr std::int32_t BLOCK_FRAMES = 884;
constexpr std::int32_t ROW_FRAMES = 6 * 882;  // speed 6 at 125 BPM
constexpr std::uint8_t A4 = 58, E5 = 65;

// Stereo frames, left first, mixed in stretches that end where a tick falls due.
std::vector<float> render(std::int32_t blocks) {
  std::vector<float> out(static_cast<std::size_t>(blocks) * BLOCK_FRAMES * 2, 0.0f);
  for (std::int32_t b = 0; b < blocks; ++b) {
    float* block = out.data() + static_cast<std::size_t>(b) * BLOCK_FRAMES * 2;
    std::int32_t done = 0;
    while (done < BLOCK_FRAMES) {
      if (player.tickSamplesLeft == 0) {
        playerTick();
        player.tickSamplesLeft = player.samplesPerTick;
      }
      const std::int32_t frames = std::min(player.tickSamplesLeft, BLOCK_FRAMES - done);
      mixVoices(block + 2 * done, static_cast<std::uint32_t>(frames));
      done += frames;
      player.tickSamplesLeft -= frames;
    }
  }
  return out;
}

float left(const std::vector<float>& out, std::int32_t frame) { return out[2 * frame]; }

// Frames where sound begins after at least 64 frames of exact silence.
std::vector<std::int32_t> onsets(const std::vector<float>& out) {
  std::vector<std::int32_t> found;
  std::int32_t silent = 64;
  for (std::int32_t f = 0; f < static_cast<std::int32_t>(out.size() / 2); ++f) {
    const bool sound = out[2 * f] != 0.0f || out[2 * f + 1] != 0.0f;
    if (sound && silent >= 64) found.push_back(f);
    silent = sound ? 0 : silent + 1;
  }
  return found;
}

// Pitch in Hz from the first and last rising zero crossings in [from, to), each placed
// between its two frames by linear interpolation.
double pitch(const std::vector<float>& out, std::int32_t from, std::int32_t to) {
  double first = -1.0, last = -1.0;
  int cycles = -1;
  for (std::int32_t f = from + 1; f < to; ++f) {
    const float a = left(out, f - 1), b = left(out, f);
    if (a < 0.0f && b >= 0.0f) {
      last = (f - 1) + a / (a - b);
      if (first < 0.0) first = last;
      ++cycles;
    }
  }
  return cycles > 0 ? cycles * 44100.0 / (last - first) : 0.0;
}

double peak(const std::vector<float>& out, std::int32_t from, std::int32_t to) {
  double p = 0.0;
  for (std::int32_t f = from; f < to; ++f) p = std::max(p, std::fabs(double(left(out, f))));
  return p;
}

// Order 0 (16 rows): A-4 on a sine from row 4, released on row 10; a square with a falling
// volume envelope from row 12, cut on row 15. Order 1 (4 rows), the restart position: E-5
// on row 0, released on row 2. So the song plays order 0 once, then order 1 for ever.
XmModule playedSong() {
  XmModule m = testSong(16, 1);
  // numbered after the instruments every test song carries
  const auto FALLING = static_cast<std::uint8_t>(m.instruments.size() + 1);
  const auto SINE = static_cast<std::uint8_t>(FALLING + 1);
  XmInstrument falling = xmInstrument(loopedWave(XmWave::Square, 64, 32, 64, 128));
  falling.volumeEnvelope = volumeEnvelope({{0, 64}, {18, 16}}, -1);
  m.instruments.push_back(falling);
  m.instruments.push_back(xmInstrument(loopedWave(XmWave::Sine, 256, 32, 64, 128)));
  m.patterns.push_back(xmPattern(m, 4));
  m.orders = {0, 1};
  m.restartPosition = 1;
  at(m, 4) = {A4, SINE};
  at(m, 10) = {KEY_OFF_NOTE};
  at(m, 12) = {C4, FALLING};
  at(m, 15) = {0, 0, 0, fx::SET_VOLUME, 0};
  at(m, 0, 0, 1) = {E5, SINE};
  at(m, 2, 0, 1) = {KEY_OFF_NOTE};
  return m;
}

TEST_F(RowsTest, PlayedSongSoundsAsWritten) {
  start(playedSong());
  const std::vector<float> out = render(190);  // 3.8 s, 31.7 rows
  ASSERT_EQ(player.samplesPerTick, 882);

  // Note starts: order 0 rows 4 and 12, then order 1 every four rows (rows 16, 20, ...).
  const std::vector<std::int32_t> expected = {4, 12, 16, 20, 24, 28};
  const std::vector<std::int32_t> found = onsets(out);
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    // The sine starts at 0 and the gain ramps up from 0: the first sound may come a frame
    // or two after the tick.
    EXPECT_GE(found[i], expected[i] * ROW_FRAMES) << "note " << i;
    EXPECT_LE(found[i], expected[i] * ROW_FRAMES + 2) << "note " << i;
  }

  // The sample holds 32 frames a cycle at 8363 Hz for C-4: A-4 is 9 semitones up, E-5 16.
  const double a4 = 8363.0 * std::pow(2.0, 9 / 12.0) / 32;
  const double e5 = 8363.0 * std::pow(2.0, 16 / 12.0) / 32;
  EXPECT_NEAR(pitch(out, 4 * ROW_FRAMES + 200, 10 * ROW_FRAMES), a4, a4 * 5e-4);
  for (std::int32_t row : {16, 20, 24, 28}) {
    EXPECT_NEAR(pitch(out, row * ROW_FRAMES + 200, (row + 2) * ROW_FRAMES), e5, e5 * 5e-4)
        << "row " << row << ": order 1 again, not order 0";
  }

  // The envelope falls from 64 to 16 over 18 ticks: each tick's level (past the 128-frame
  // ramp to it) follows the envelope.
  const double full = peak(out, 12 * ROW_FRAMES + 200, 12 * ROW_FRAMES + 882);
  ASSERT_GT(full, 1000.0);
  for (std::int32_t t = 1; t < 18; ++t) {
    const std::int32_t tickStart = 12 * ROW_FRAMES + t * 882;
    const double level = (64 * 65536 + t * ((16 - 64) * 65536 / 18)) >> 16;
    EXPECT_NEAR(peak(out, tickStart + 200, tickStart + 882) / full, level / 64, 0.03)
        << "tick " << t;
  }
}

}  // namespace
}  // namespace rows
