// Tests of loadModule and releaseModule over images built by the XM writer: sample conversion
// and guard frames, seeded round trips (cell codings, pattern and instrument layout), truncated
// images, refusals and failed allocations. Random bytes are fuzz/loader_fuzz.cpp's to try.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>

#include "player/module_load.h"
#include "player/player.h"
#include "tests/support/test_support.h"
#include "tools/xmwriter/xm_writer.h"

namespace {

using std::uint8_t;
using std::uint16_t;
using std::uint32_t;

// Loads from an exactly-sized heap copy of the first byteCount bytes, so that the sanitizer
// build sees any read past the end.
const char* loadBytes(const std::vector<uint8_t>& bytes, std::size_t byteCount) {
  return loadModule(test_support::exactCopy(bytes.data(), byteCount).get(), byteCount);
}
const char* load(const XmModule& module) {
  const std::vector<uint8_t> bytes = writeXm(module);
  return loadBytes(bytes, bytes.size());
}

XmModule smallModule(uint16_t channelCount = 2) {
  XmModule m;
  m.channelCount = channelCount;
  m.orders = {0};
  m.patterns.emplace_back();  // packed size 0: fits any channel count
  return m;
}

void expectNothingLoaded() {
  const Song zero{};
  EXPECT_EQ(0, std::memcmp(&playerContext->song, &zero, sizeof playerContext->song)) << "song not cleared";
  for (const Pattern& p : playerContext->patterns) ASSERT_TRUE(p.cells == nullptr && p.rowCount == 0);
  for (const Instrument& i : playerContext->instruments) ASSERT_TRUE(i.sampleCount == 0 && i.samples[0] == nullptr);
}

// Frame n as the loader must widen it: 8-bit values become the high byte.
std::int16_t widened(const XmSample& s, std::size_t n) {
  return static_cast<std::int16_t>(s.sixteenBit ? s.frames[n] : s.frames[n] * 256);
}

// Every frame of got as frame(n) gives it, but for the guard frame at the loop's end: a forward
// loop's first frame, a ping-pong loop's last, 0 without a loop.
template <class Frame>
void expectFramesAndGuard(const Sample& got, Frame frame) {
  const uint32_t loopEnd = got.loopStart + got.loopLength;
  for (uint32_t n = 0; n < got.length; ++n) {
    if (n == loopEnd) continue;
    ASSERT_EQ(frame(n), got.data[n]) << "frame " << n;
  }
  const int guard = got.loopKind == LOOP_FORWARD    ? frame(got.loopStart)
                    : got.loopKind == LOOP_PINGPONG ? frame(loopEnd - 1)
                                                    : 0;
  EXPECT_EQ(guard, got.data[loopEnd]) << "guard frame";
}

class Loader : public ::testing::Test {
 protected:
  void TearDown() override {
    useModuleAllocator(nullptr);
    releaseModule();
  }
};

//-----------------------------------------------------------------------------
// Samples
//-----------------------------------------------------------------------------

// Header fields that the round trips do not write: a zero length, odd byte counts and loops
// past the sample's end (deltas that wrap come with the round trips' noise). Each stored delta
// is 1, so frame n is (n + 1) x 256 for 8-bit data and n + 1 for 16-bit.
TEST_F(Loader, SampleHeaderConversionAndGuardFrames) {
  struct Case {
    const char* name;
    uint8_t type;  // as in the file, bit 4 = 16-bit
    uint32_t lengthBytes, loopStartBytes, loopLengthBytes;
    uint8_t kind;
    uint32_t length, loopStart, loopLength;
  };
  const Case cases[] = {
      {"zero length", 1, 0, 0, 10, LOOP_NONE, 0, 0, 0},
      {"16-bit halves", 0x11, 1000, 100, 201, LOOP_FORWARD, 500, 50, 100},
      {"16-bit odd length rounds down", 0x10, 1001, 0, 0, LOOP_NONE, 500, 0, 500},
      {"16-bit loop of one byte is no loop", 0x12, 20, 4, 1, LOOP_NONE, 10, 0, 10},
      {"loop past the end is cut", 1, 100, 90, 20, LOOP_FORWARD, 100, 90, 10},
      {"loop starting past the end is dropped", 2, 100, 150, 10, LOOP_NONE, 100, 0, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> deltas(c.lengthBytes, 0);
    for (uint32_t b = 0; b < c.lengthBytes; b += c.type & 0x10 ? 2 : 1) deltas[b] = 1;
    XmSample s;  // written from the raw bytes, its header fields in bytes
    s.sixteenBit = c.type & 0x10, s.loopType = c.type & 3, s.rawData = deltas;
    s.lengthBytesField = c.lengthBytes, s.loopStartBytesField = c.loopStartBytes, s.loopLengthBytesField = c.loopLengthBytes;
    XmModule m = smallModule();
    // A noise sample follows: one of an odd byte count still takes all of its bytes, so the
    // next sample's data are read from where the file has them.
    XmInstrument& in = m.instruments.emplace_back(xmInstrument(s));
    in.samples.push_back(xmWaveSample(XmWave::Noise, 50, 1, false));
    ASSERT_EQ(nullptr, load(m));
    for (int n = 0; n < 50; ++n) ASSERT_EQ(widened(in.samples[1], n), playerContext->instruments[0].samples[1]->data[n]);
    const Sample& got = *playerContext->instruments[0].samples[0];
    EXPECT_EQ(std::make_tuple(c.kind, c.length, c.loopStart, c.loopLength),
              std::make_tuple(got.loopKind, got.length, got.loopStart, got.loopLength));
    EXPECT_EQ(c.length == 0 && !s.sixteenBit ? 8 : 16, got.bits) << "widened when it has data";
    if (c.length == 0) {
      EXPECT_EQ(nullptr, got.data);
      continue;
    }
    const int unit = s.sixteenBit ? 1 : 256;
    expectFramesAndGuard(got, [unit](uint32_t n) { return static_cast<int>((n + 1) * unit); });
    for (uint32_t n = got.length + 1; n < got.length + SAMPLE_PAD_FRAMES; ++n) EXPECT_EQ(0, got.data[n]);
  }
}

//-----------------------------------------------------------------------------
// Round trips of seeded pseudo-random modules: every cell coding, pattern and instrument
// header sizes, and what the samples and envelopes become
//-----------------------------------------------------------------------------

XmModule randomModule(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
  auto byte = [&pick](int high) { return static_cast<uint8_t>(pick(0, high)); };
  XmModule m;
  m.channelCount = static_cast<uint16_t>(pick(1, 32));
  m.flags = byte(1);
  m.defaultTempo = byte(31);
  m.defaultBpm = static_cast<uint16_t>(pick(32, 255));
  for (int o = pick(1, 256); o > 0; --o) m.orders.push_back(byte(255));
  // One in four at or past the song's end, where the song restarts from the top.
  const int songLength = static_cast<int>(m.orders.size());
  m.restartPosition = static_cast<uint16_t>(pick(0, 3) ? pick(0, songLength - 1) : pick(songLength, 300));
  for (int p = pick(1, 6); p > 0; --p) {
    XmPattern& pattern = m.patterns.emplace_back(xmPattern(m, static_cast<uint16_t>(pick(0, 64))));
    pattern.headerBytesField = static_cast<uint32_t>(pick(9, 40));  // still read as 9 bytes
    if (pick(0, 4) == 0) pattern.cells.clear();  // packed size 0: empty cells, no data
    if (!pattern.cells.empty() && pick(0, 4) == 0)
      pattern.packedBytesField = static_cast<uint16_t>(pick(1, 65535));  // only tested for 0
    for (XmCell& cell : pattern.cells) {
      // Notes up to 99: 97 is key-off, 98 and 99 pass through. An empty cell is a mask of 0x80.
      auto field = [&](int high) { return static_cast<uint8_t>(pick(0, 1) ? pick(0, high) : 0); };
      cell = {field(99), field(130), field(255), field(35), field(255)};
      // Auto, unpacked, or a mask that announces every field, with bits 5 and 6 at random.
      const int coding = pick(0, 2);
      if (coding == 1) cell.coding = XM_CODING_UNPACKED;
      if (coding == 2) cell.coding = static_cast<uint8_t>(0x9F | pick(0, 3) << 5);
    }
  }
  for (int i = pick(0, 8); i > 0; --i) {
    XmInstrument& in = m.instruments.emplace_back();
    for (int k = pick(0, 3); k > 0; --k) {
      XmSample& s = in.samples.emplace_back(xmWaveSample(static_cast<XmWave>(pick(0, 3)), byte(255) + byte(60),
                                                         static_cast<uint32_t>(pick(1, 40)), pick(0, 1)));
      const int length = static_cast<int>(s.frames.size());
      s.loopType = byte(3);  // 3 is a ping-pong loop; a loop length of 0 is no loop
      s.loopStart = static_cast<uint32_t>(pick(0, length));
      s.loopLength = static_cast<uint32_t>(pick(0, length - static_cast<int>(s.loopStart)));
      s.volume = byte(64);
      s.finetune = static_cast<std::int8_t>(byte(255));
      s.panning = byte(255);
      s.relativeNote = static_cast<std::int8_t>(byte(255));
    }
    // The next instrument (or the sample headers) begins where the header size says, even
    // below the 33 bytes of an empty instrument or the 241 bytes of the fields read.
    in.headerBytesField = static_cast<uint32_t>(in.samples.empty() ? pick(29, 40) : pick(241, 300));
    if (in.samples.empty()) continue;
    for (uint8_t& slot : in.sampleMap) slot = byte(17);
    for (XmEnvelope* e : {&in.volumeEnvelope, &in.panningEnvelope}) {
      for (int p = pick(0, 12); p > 0; --p) e->points.push_back({static_cast<uint16_t>(pick(0, 65535)), byte(64)});
      *e = {e->points, std::nullopt, byte(11), byte(11), byte(11), byte(7)};
    }
    in.vibratoType = byte(3), in.vibratoSweep = byte(255), in.vibratoDepth = byte(15), in.vibratoRate = byte(63);
    in.fadeout = static_cast<uint16_t>(pick(0, 65535));
  }
  return m;
}

void expectEnvelope(const XmEnvelope& want, const Envelope& got) {
  ASSERT_EQ(want.points.size(), got.pointCount);
  for (std::size_t p = 0; p < want.points.size(); ++p)
    EXPECT_EQ(std::make_tuple(want.points[p].tick, want.points[p].value), std::make_tuple(got.points[p].tick, got.points[p].value));
  EXPECT_EQ(std::make_tuple(want.points.size() < 2 ? 0 : want.flags, want.sustainPoint, want.loopStartPoint, want.loopEndPoint),
            std::make_tuple(got.flags, got.sustainPoint, got.loopStartPoint, got.loopEndPoint));
}

void expectSample(const XmSample& want, const Sample& got) {
  const uint32_t length = static_cast<uint32_t>(want.frames.size());
  uint8_t kind = want.loopType & 2 ? LOOP_PINGPONG : want.loopType & 1 ? LOOP_FORWARD : LOOP_NONE;
  if (want.loopLength == 0) kind = LOOP_NONE;
  ASSERT_EQ(std::make_tuple(kind, length, kind == LOOP_NONE ? 0 : want.loopStart, kind == LOOP_NONE ? length : want.loopLength),
            std::make_tuple(got.loopKind, got.length, got.loopStart, got.loopLength));
  EXPECT_EQ(std::make_tuple(want.volume, want.finetune, want.panning, want.relativeNote),
            std::make_tuple(got.volume, got.finetune, got.panning, got.relativeNote));
  if (length != 0) expectFramesAndGuard(got, [&want](uint32_t n) { return widened(want, n); });
}

TEST_F(Loader, SeededRoundTrips) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    const XmModule m = randomModule(seed);
    ASSERT_EQ(nullptr, load(m));
    const uint16_t restart = m.restartPosition < m.orders.size() ? m.restartPosition : 0;
    EXPECT_EQ(std::make_tuple(m.orders.size(), restart, m.channelCount, m.flags, m.defaultTempo, m.defaultBpm),
              std::make_tuple(playerContext->song.songLength, playerContext->song.restartPosition, playerContext->song.channelCount, playerContext->song.flags,
                              playerContext->song.defaultTempo, playerContext->song.defaultBpm));
    EXPECT_EQ(0, std::memcmp(m.orders.data(), playerContext->song.orderTable, m.orders.size()));
    ASSERT_EQ(m.patterns.size(), playerContext->song.patternCount);
    for (std::size_t p = 0; p < m.patterns.size(); ++p) {
      const XmPattern& want = m.patterns[p];
      ASSERT_EQ(want.rowCount, playerContext->patterns[p].rowCount);
      if (want.rowCount == 0) {
        EXPECT_EQ(nullptr, playerContext->patterns[p].cells) << "no rows, no cells to read";
      }
      for (std::size_t c = 0; c < std::size_t{want.rowCount} * m.channelCount; ++c) {
        const XmCell cell = want.cells.empty() ? XmCell{} : want.cells[c];
        const NoteCell& got = playerContext->patterns[p].cells[c];
        ASSERT_EQ(std::make_tuple(cell.note == 97 ? NOTE_KEY_OFF : cell.note, cell.instrument, cell.volume, cell.effect, cell.effectParam),
                  std::make_tuple(got.note, got.instrument, got.volume, got.effect, got.effectParam))
            << "pattern " << p << " cell " << c;
      }
    }
    ASSERT_EQ(m.instruments.size(), playerContext->song.instrumentCount);
    for (std::size_t i = 0; i < m.instruments.size(); ++i) {
      const XmInstrument& want = m.instruments[i];
      const Instrument& got = playerContext->instruments[i];
      ASSERT_EQ(want.samples.size(), got.sampleCount);
      for (std::size_t k = 0; k < want.samples.size(); ++k) expectSample(want.samples[k], *got.samples[k]);
      for (std::size_t k = want.samples.size(); k < 16; ++k) EXPECT_EQ(&playerContext->emptySample, got.samples[k]);
      if (want.samples.empty()) continue;
      EXPECT_EQ(0, std::memcmp(want.sampleMap.data(), got.sampleMap, 96));
      expectEnvelope(want.volumeEnvelope, got.volumeEnvelope);
      expectEnvelope(want.panningEnvelope, got.panningEnvelope);
      EXPECT_EQ(std::make_tuple(want.vibratoType, want.vibratoSweep, want.vibratoDepth, want.vibratoRate, static_cast<uint16_t>(want.fadeout * 2)),
                std::make_tuple(got.vibratoType, got.vibratoSweep, got.vibratoDepth, got.vibratoRate, got.fadeout));
    }
  }
}

//-----------------------------------------------------------------------------
// Hostile images
//-----------------------------------------------------------------------------

// A small module whose every part can be cut: an empty and a packed pattern, an empty
// instrument, 8- and 16-bit looped samples, and an empty instrument last.
XmModule cuttableModule() {
  XmModule m = smallModule(3);
  m.patterns.push_back(xmPattern(m, 2));
  xmCell(m, 1, 0, 0) = {1, 1, 0, 0, 0};
  xmCell(m, 1, 1, 2) = {97, 2, 3, 4, 5};
  m.instruments.emplace_back();
  XmInstrument& two = m.instruments.emplace_back(xmInstrument(xmWaveSample(XmWave::Sine, 9, 4, false)));
  two.samples[0].loopType = 1, two.samples[0].loopStart = 2, two.samples[0].loopLength = 5;
  XmSample& wide = two.samples.emplace_back(xmWaveSample(XmWave::Saw, 6, 3, true));
  wide.loopType = 2, wide.loopStart = 1, wide.loopLength = 4;
  two.volumeEnvelope.points = {{0, 64}, {10, 0}};
  m.instruments.emplace_back();
  return m;
}

// Cut after every byte, an image is refused with the reason of the part it ends in, or (in the
// last 4 bytes of an instrument without samples, its header past the sample count) loads.
// Where the parts end comes from the writer's records, not from the loader's reading.
TEST_F(Loader, EveryTruncationIsRefusedWithTheReasonOfItsPart) {
  const XmModule m = cuttableModule();
  const std::vector<uint8_t> bytes = writeXm(m);
  XmModule bare = m;
  bare.instruments.clear();
  std::vector<std::pair<std::size_t, const char*>> parts = {{336, LOAD_ENDS_IN_HEADER},
                                                            {writeXm(bare).size(), LOAD_ENDS_IN_PATTERN}};
  for (const XmInstrument& in : m.instruments) {
    const std::size_t at = parts.back().first;
    if (in.samples.empty()) {
      parts.push_back({at + 29, LOAD_ENDS_IN_INSTRUMENT});  // size, name, type, sample count
      parts.push_back({at + 33, &in == &m.instruments.back() ? nullptr : LOAD_ENDS_IN_INSTRUMENT});
      continue;
    }
    std::size_t dataBytes = 0;
    for (const XmSample& sample : in.samples) dataBytes += xmSampleData(sample).size();
    parts.push_back({at + 241, LOAD_ENDS_IN_INSTRUMENT});  // up to and including the fade-out
    parts.push_back({at + 263 + 40 * in.samples.size(), LOAD_ENDS_IN_SAMPLE_HEADER});
    parts.push_back({parts.back().first + dataBytes, LOAD_ENDS_IN_SAMPLE_DATA});
  }
  ASSERT_EQ(parts.back().first, bytes.size()) << "the parts must cover the whole image";
  ASSERT_EQ(nullptr, loadBytes(bytes, bytes.size()));
  std::size_t part = 0;
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    while (cut >= parts[part].first) ++part;
    ASSERT_EQ(parts[part].second, loadBytes(bytes, cut));
    if (parts[part].second != nullptr) expectNothingLoaded();
  }
}

TEST_F(Loader, RefusalsAndLimits) {
  struct Case {
    const char* name;
    void (*edit)(XmModule&);
    const char* refusal;  // nullptr: loads
  };
  const Case cases[] = {
      {"32 channels", [](XmModule& m) { m.channelCount = 32; }, nullptr},
      {"33 channels", [](XmModule& m) { m.channelCount = 33; }, LOAD_TOO_MANY_CHANNELS},
      {"256 patterns", [](XmModule& m) { m.patterns.resize(256); }, nullptr},
      {"257 patterns", [](XmModule& m) { m.patternCountField = 257; }, LOAD_TOO_MANY_PATTERNS},
      {"128 instruments", [](XmModule& m) { m.instruments.resize(128); }, nullptr},
      {"129 instruments", [](XmModule& m) { m.instrumentCountField = 129; }, LOAD_TOO_MANY_INSTRUMENTS},
      {"song length 256", [](XmModule& m) { m.orders.resize(256); }, nullptr},
      {"song length 0", [](XmModule& m) { m.orders.clear(); }, LOAD_BAD_SONG_LENGTH},
      {"song length 257", [](XmModule& m) { m.songLengthField = 257; }, LOAD_BAD_SONG_LENGTH},
      {"BPM 0", [](XmModule& m) { m.defaultBpm = 0; }, LOAD_ZERO_BPM},
      {"16 samples", [](XmModule& m) { m.instruments[1].samples.resize(16); }, nullptr},
      {"17 samples", [](XmModule& m) { m.instruments[1].samples.resize(17); }, LOAD_TOO_MANY_SAMPLES},
      {"12 points", [](XmModule& m) { m.instruments[1].panningEnvelope.pointCountField = 12; }, nullptr},
      {"13 volume points", [](XmModule& m) { m.instruments[1].volumeEnvelope.pointCountField = 13; }, LOAD_TOO_MANY_POINTS},
      {"13 panning points", [](XmModule& m) { m.instruments[1].panningEnvelope.pointCountField = 13; }, LOAD_TOO_MANY_POINTS},
      {"header size past the end", [](XmModule& m) { m.headerBytesField = 0xFFFFFFFF; }, LOAD_ENDS_IN_PATTERN},
      {"65535 rows without their data",
       [](XmModule& m) { m.patterns[0].rowCount = 65535, m.patterns[0].packedBytesField = 1; }, LOAD_ENDS_IN_PATTERN},
      {"instrument header past the end", [](XmModule& m) { m.instruments[1].headerBytesField = 0x7FFFFFFF; },
       LOAD_ENDS_IN_SAMPLE_HEADER},
      {"sample of 4 GB", [](XmModule& m) { m.instruments[1].samples[0].lengthBytesField = 0xFFFFFFFF; },
       LOAD_ENDS_IN_SAMPLE_DATA},
      {"16-bit sample of 4 GB", [](XmModule& m) { m.instruments[1].samples[1].lengthBytesField = 0xFFFFFFFE; },
       LOAD_ENDS_IN_SAMPLE_DATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmModule m = cuttableModule();
    c.edit(m);
    EXPECT_EQ(c.refusal, load(m));
    if (c.refusal) expectNothingLoaded();
  }
  EXPECT_EQ(LOAD_ENDS_IN_HEADER, loadModule(nullptr, 0));
}

// Fails the allocation numbered failAt (0-based) of a load; -1 fails none and only counts.
int allocations = 0;
int failAt = -1;
void* failingCalloc(std::size_t count, std::size_t bytes) {
  return allocations++ == failAt ? nullptr : std::calloc(count, bytes);
}

TEST_F(Loader, FailedAllocationRefusesAndLeavesNothing) {
  const std::vector<uint8_t> bytes = writeXm(cuttableModule());
  useModuleAllocator(failingCalloc);
  allocations = 0;
  failAt = -1;
  ASSERT_EQ(nullptr, loadBytes(bytes, bytes.size()));
  EXPECT_EQ(6, allocations) << "cells of two patterns, two sample records, their two data blocks";
  for (failAt = 0; failAt < 6; ++failAt) {
    SCOPED_TRACE(failAt);
    allocations = 0;
    EXPECT_EQ(LOAD_OUT_OF_MEMORY, loadBytes(bytes, bytes.size()));
    expectNothingLoaded();  // and the leak checker sees every block freed
  }
}

TEST_F(Loader, ReloadAndReleaseAreSafe) {
  const XmModule m = cuttableModule();
  ASSERT_EQ(nullptr, load(m));
  playerContext->emptySample.finetune = 5;     // as a set-finetune effect on a missing sample would
  ASSERT_EQ(nullptr, load(m));  // over a loaded module: the old one is released first
  EXPECT_EQ(0, playerContext->emptySample.finetune);
  releaseModule();
  releaseModule();
  expectNothingLoaded();
}

}  // namespace
