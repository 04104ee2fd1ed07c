// Tests of the audio output: the conversion, the block fill against a plain model, the
// playback thread's passes over a fake device, and the music start and stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/device.h"
#include "audio/music.h"
#include "audio/output.h"
#include "player/player.h"
#include "tools/xmwriter/xm_writer.h"

namespace {

//-----------------------------------------------------------------------------
// A module that keeps the mixer busy: looping and ping-pong samples, an envelope, full-scale
// chords that saturate, and tempo changes (125, 97 and 150 BPM) so that ticks fall anywhere
// in a block.
//-----------------------------------------------------------------------------

std::vector<std::uint8_t> testModuleBytes() {
  XmModule m;
  m.channelCount = 4;
  m.orders = {0, 1, 0, 1};
  m.patterns.push_back(xmPattern(m, 32));
  m.patterns.push_back(xmPattern(m, 24));
  XmSample sine = xmWaveSample(XmWave::Sine, 200, 50, true);
  sine.loopType = 1;
  sine.loopLength = 200;
  XmSample saw = xmWaveSample(XmWave::Saw, 90, 90, false);
  saw.loopType = 2;
  saw.loopStart = 10;
  saw.loopLength = 80;
  XmInstrument square = xmInstrument(xmWaveSample(XmWave::Square, 3000, 60, false));
  square.volumeEnvelope.points = {{0, 64}, {20, 10}, {40, 50}};
  square.volumeEnvelope.flags = 1;
  const XmInstrument loud = xmInstrument(xmWaveSample(XmWave::Square, 4000, 100, true));
  m.instruments = {xmInstrument(sine), xmInstrument(saw), square, loud};
  xmCell(m, 0, 0, 3) = {0, 0, 0, 0xF, 0x7D};
  for (std::uint16_t row = 0; row < 32; row += 4) {
    xmCell(m, 0, row, 0) = {static_cast<std::uint8_t>(37 + row % 12), 1, 0, 0, 0};
    xmCell(m, 0, row + 2, 1) = {static_cast<std::uint8_t>(49 + row % 7), 2, 0, 0, 0};
  }
  xmCell(m, 0, 5, 2) = {61, 3, 0, 0, 0};
  xmCell(m, 0, 20, 2) = {97, 0, 0, 0, 0};
  xmCell(m, 1, 0, 3) = {0, 0, 0, 0xF, 97};
  xmCell(m, 1, 9, 3) = {0, 0, 0, 0xF, 150};
  for (std::uint16_t row = 0; row < 24; row += 3) {
    for (std::uint16_t channel = 0; channel < 3; ++channel) {
      xmCell(m, 1, row, channel) = {static_cast<std::uint8_t>(30 + row + channel * 5),
                                    static_cast<std::uint8_t>(channel + 1), 0x50, 0, 0};
    }
  }
  for (std::uint16_t channel = 0; channel < 4; ++channel) xmCell(m, 1, 13, channel) = {49, 4, 0, 0, 0};
  return writeXm(m);
}

ModuleImage moduleImage() {
  static const std::vector<std::uint8_t> bytes = testModuleBytes();
  return {bytes.data(), bytes.size()};
}

// Loads the module, resets the player and allocates both buffers; releases them at the end.
struct Rendering {
  Rendering() {
    EXPECT_EQ(loadModule(moduleImage().bytes, moduleImage().byteCount), nullptr);
    resetPlayer();
    writeBlock = 0;
    EXPECT_TRUE(allocateRing() && allocateMixBuffer()) << "buffers for the block fill";
  }
  ~Rendering() {
    releaseMixBuffer();
    releaseRing();
    releaseModule();
    writeBlock = 0;
  }
};

// The block fill written the plain way: a frame clock walks one frame at a time and runs a
// tick whenever the frames of the tick are used up. Frames are handed to the mixer in runs
// that end at every tick and at every block end, because the mixer rounds its ramp gains to
// 24.8 at the end of each call: one frame per call would give other sums. Rounding by
// nearbyint in the default mode (halves to even), independent of roundToInt.
std::vector<std::int16_t> modelRender(std::uint32_t blockCount) {
  const std::uint64_t frameCount = std::uint64_t{blockCount} * BLOCK_FRAMES;
  std::vector<float> mixed(frameCount * 2, 0.0f);
  std::uint64_t runStart = 0;
  std::int64_t tickFramesLeft = 0;
  auto mixRun = [&](std::uint64_t end) {
    if (end > runStart) mixVoices(&mixed[runStart * 2], static_cast<std::uint32_t>(end - runStart));
    runStart = end;
  };
  for (std::uint64_t frame = 0; frame < frameCount; ++frame) {
    if (frame % BLOCK_FRAMES == 0) mixRun(frame);
    if (tickFramesLeft == 0) {
      mixRun(frame);
      playerTick();
      tickFramesLeft = player.samplesPerTick;
    }
    --tickFramesLeft;
  }
  mixRun(frameCount);
  std::vector<std::int16_t> pcm(mixed.size());
  for (std::size_t i = 0; i < mixed.size(); ++i) {
    pcm[i] = static_cast<std::int16_t>(std::clamp(std::nearbyint(double{mixed[i]}), -32768.0, 32767.0));
  }
  return pcm;
}

std::vector<std::int16_t> modelBlocks(std::uint32_t blockCount) {
  Rendering rendering;  // the model needs only the loaded, reset player
  return modelRender(blockCount);
}

bool ringBlockEquals(std::uint32_t ringBlock, const std::vector<std::int16_t>& model, std::uint32_t modelBlock) {
  return std::memcmp(waveRing + ringBlock * BLOCK_BYTES, &model[modelBlock * BLOCK_SAMPLES], BLOCK_BYTES) == 0;
}

//-----------------------------------------------------------------------------
// A fake device whose position the test sets, and thread operations that count.
//-----------------------------------------------------------------------------

struct FakeDevice {
  std::atomic<std::uint64_t> position{0};
  std::atomic<bool> positionReadable{true};
  std::atomic<int> positionQueries{0};
  std::vector<std::string> calls;  // dialog-thread operations, in order
  WaveHeader prepared{};
  std::uint32_t blocksAtSubmit = 0;
} fake;

const AudioDevice fakeDevice = {
    "fake",
    [](const WaveFormat& format) {
      fake.calls.push_back(format.avgBytesPerSec == 176400 && format.blockAlign == 4 ? "open" : "open?");
      return true;
    },
    [](WaveHeader& header) { return fake.prepared = header, fake.calls.push_back("prepare"), true; },
    [] { return fake.blocksAtSubmit = blocksPublished.load(), fake.calls.push_back("submit"), true; },
    [](std::uint64_t* bytesPlayed) {
      ++fake.positionQueries;
      if (fake.positionReadable) *bytesPlayed = fake.position;
      return fake.positionReadable.load();
    },
    [] { fake.calls.push_back("reset"); },
    [](WaveHeader&) { fake.calls.push_back("unprepare"); },
    [] { fake.calls.push_back("close"); },
};

void resetFake() {
  fake.position = 0;
  fake.positionReadable = true;
  fake.positionQueries = 0;
  fake.calls.clear();
}

// One pass of the thread, then the sleep ends the loop: a single pass can be watched.
std::atomic<int> sleeps{0};
int passesBeforeStop = 1;
const ThreadOps onePassOps = {nullptr, nullptr, nullptr, [] {
                                if (++sleeps >= passesBeforeStop) playbackRunning.store(0);
                              }};

// A thread that begins only when it is joined, as if the scheduler had not run it yet.
std::uint32_t (*deferredProc)(void*) = nullptr;
const ThreadOps deferredOps = {
    [](std::uint32_t (*proc)(void*)) -> ThreadHandle {
      deferredProc = proc;
      return &deferredProc;
    },
    [](ThreadHandle) {},
    [](ThreadHandle) { std::thread(deferredProc, nullptr).join(); },
    [] { ++sleeps; },
};

//-----------------------------------------------------------------------------
// Conversion and positions
//-----------------------------------------------------------------------------

TEST(FloatToPcm16, RoundsHalvesToEvenAndSaturates) {
  struct Case { const char* name; float value; std::int16_t expected; };
  const Case cases[] = {
      {"half to even 0", 0.5f, 0},        {"half to even 2", 1.5f, 2},
      {"half down to 2", 2.5f, 2},        {"negative half", -1.5f, -2},
      {"negative half to 0", -0.5f, 0},   {"below top", 32767.4f, 32767},
      {"top half saturates", 32767.5f, 32767}, {"above top", 40000.0f, 32767},
      {"below bottom", -32768.6f, -32768}, {"far below", -40000.0f, -32768},
      {"huge", 3.0e9f, 32767},            {"nearest", -7.75f, -8},
  };
  std::vector<float> source;
  for (const Case& c : cases) source.push_back(c.value);
  std::vector<std::int16_t> destination(source.size() + 1, 0x5555);
  floatToPcm16(destination.data(), source.data(), static_cast<std::uint32_t>(source.size()));
  for (std::size_t i = 0; i < source.size(); ++i) EXPECT_EQ(destination[i], cases[i].expected) << cases[i].name;
  EXPECT_EQ(destination.back(), 0x5555) << "wrote past the count";
}

TEST(BlockAtBytePosition, MapsBytesPlayedOntoTheRing) {
  struct Case { const char* name; std::uint64_t bytes; std::uint32_t block; };
  const Case cases[] = {
      {"start", 0, 0},           {"last byte of block 0", 3535, 0}, {"block 1", 3536, 1},
      {"last byte", 353599, 99}, {"second loop", 353600, 0},        {"later loop", 353600 * 7 + 3536 * 42 + 5, 42},
      // 2^32 bytes are 1073741824 frames, 35424 frames into the ring: block 40
      {"past 32 bits", 0x100000000ull, 40},
  };
  for (const Case& c : cases) EXPECT_EQ(blockAtBytePosition(c.bytes), c.block) << c.name;
}

//-----------------------------------------------------------------------------
// Block fill
//-----------------------------------------------------------------------------

TEST(FillBlock, MatchesThePlainModelOverThirtySeconds) {
  const std::uint32_t blockCount = 30 * 44100 / BLOCK_FRAMES + 1;  // 1497 blocks, 30.008 s
  const std::vector<std::int16_t> model = modelBlocks(blockCount);
  Rendering rendering;
  std::uint32_t firstDifference = blockCount;
  for (std::uint32_t block = 0; block < blockCount; ++block) {
    const std::uint32_t ringBlock = static_cast<std::uint32_t>(writeBlock);
    fillBlock();
    if (!ringBlockEquals(ringBlock, model, block) && firstDifference == blockCount) firstDifference = block;
  }
  EXPECT_EQ(firstDifference, blockCount) << "first block that differs from the model";
  const bool saturated = std::count(model.begin(), model.end(), std::int16_t{32767}) > 0;
  const bool silent = std::all_of(model.begin(), model.end(), [](std::int16_t s) { return s == 0; });
  EXPECT_FALSE(silent) << "the module must be heard for the comparison to mean anything";
  EXPECT_TRUE(saturated) << "the module should drive the conversion into saturation";
}

//-----------------------------------------------------------------------------
// Playback thread passes
//-----------------------------------------------------------------------------

TEST(PlaybackThread, OnePassFillsUpToTheBlockBeforeTheDevice) {
  struct Case {
    const char* name;
    std::int32_t firstBlock;
    std::uint64_t position;
    bool readable;
    int passes, lastBlock;  // lastBlock: writeBlock after the passes
  };
  const Case cases[] = {
      {"device in block 3", 0, 3 * 3536 + 100, true, 1, 3},
      {"device in the block being written", 0, 3535, true, 1, 0},
      {"wraps past block 99", 98, 353600 * 3 + 3536, true, 1, 1},
      {"unreadable position, three passes", 5, 3536 * 50, false, 3, 5},
  };
  useAudioDevice(nullptr);
  for (const Case& c : cases) {
    Rendering rendering;
    resetFake();
    fake.position = c.position;
    fake.positionReadable = c.readable;
    waveDevice = &fakeDevice;
    threadOps = &onePassOps;
    sleeps = 0;
    passesBeforeStop = c.passes;
    std::memset(waveRing, 0x55, RING_BYTES);
    writeBlock = c.firstBlock;
    const std::uint32_t published = blocksPublished.load();
    playbackRunning = 1;
    EXPECT_EQ(playbackThreadProc(nullptr), 0u) << c.name;
    EXPECT_EQ(writeBlock, c.lastBlock) << c.name;
    EXPECT_EQ(sleeps.load(), c.passes) << c.name << ": one sleep per pass, never a spin";
    EXPECT_EQ(fake.positionQueries.load(), c.passes) << c.name;
    const std::uint32_t filled = (c.lastBlock - c.firstBlock + RING_BLOCKS) % RING_BLOCKS;
    EXPECT_EQ(blocksPublished.load() - published, filled) << c.name;
    for (std::uint32_t b = 0; b < RING_BLOCKS; ++b) {
      const bool written = (b - c.firstBlock + RING_BLOCKS) % RING_BLOCKS < filled;
      EXPECT_EQ(waveRing[b * BLOCK_BYTES + 17] == 0x55 && waveRing[b * BLOCK_BYTES + 3535] == 0x55, !written)
          << c.name << ", block " << b;
    }
    EXPECT_EQ(threadAlive.load(), 0) << c.name;
    waveDevice = nullptr;
  }
}

//-----------------------------------------------------------------------------
// Music start and stop
//-----------------------------------------------------------------------------

class Music : public ::testing::Test {
 protected:
  void SetUp() override {
    resetFake();
    sleeps = 0;
    useAudioDevice(&fakeDevice);
  }
  void TearDown() override {
    stopMusic();
    useAudioDevice(nullptr);
    useThreadOps(nullptr);
    useAudioAllocator(nullptr);
  }
  static void expectStopped() {
    EXPECT_EQ(waveRing, nullptr);
    EXPECT_EQ(mixBufferRaw, nullptr);
    EXPECT_EQ(waveDevice, nullptr);
    EXPECT_EQ(writeBlock, 0);
    EXPECT_EQ(playbackRunning.load(), 0);
    EXPECT_EQ(threadAlive.load(), 0);
  }
};

TEST_F(Music, StartPrimesTheRingAndStopRunsWithoutWaitingForAPass) {
  useThreadOps(&deferredOps);
  const std::vector<std::int16_t> model = modelBlocks(RING_BLOCKS);
  const std::uint32_t published = blocksPublished.load();
  deferredProc = nullptr;
  startMusic(moduleImage());
  EXPECT_EQ(deferredProc, &playbackThreadProc) << "the refill thread is created";
  EXPECT_EQ(blocksPublished.load() - published, RING_BLOCKS) << "priming is exactly 100 fills";
  EXPECT_EQ(fake.blocksAtSubmit - published, RING_BLOCKS) << "the ring is full before the submit";
  EXPECT_EQ(writeBlock, 0);
  for (std::uint32_t b = 0; b < RING_BLOCKS; ++b) EXPECT_TRUE(ringBlockEquals(b, model, b)) << "block " << b;
  EXPECT_EQ(fake.prepared.data, waveRing);
  const WaveHeader& h = fake.prepared;
  EXPECT_EQ((std::vector<std::uint64_t>{h.bufferLength, h.bytesRecorded, h.user, h.flags, h.loops}),
            (std::vector<std::uint64_t>{RING_BYTES, 0, 0, 12, 0xFFFFFFFFu}));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(mixBuffer) % 16, 0u);
  EXPECT_LT(reinterpret_cast<std::uintptr_t>(mixBuffer) - reinterpret_cast<std::uintptr_t>(mixBufferRaw), 16u);
  EXPECT_EQ(playbackRunning.load(), 1);

  stopMusic();  // the thread has not run yet: no wait, and it leaves without a pass
  EXPECT_EQ(sleeps.load(), 0);
  EXPECT_EQ(fake.positionQueries.load(), 0);
  EXPECT_EQ(blocksPublished.load() - published, RING_BLOCKS);
  const std::vector<std::string> order = {"open", "prepare", "submit", "reset", "unprepare", "close"};
  EXPECT_EQ(fake.calls, order);
  expectStopped();
}

std::size_t refusedBytes = 0;
void* refuseBytes(std::size_t bytes) { return bytes == refusedBytes ? nullptr : std::calloc(bytes, 1); }

TEST_F(Music, RefusedImageOrMissingMemoryMeansNoMusic) {
  struct Case { const char* name; ModuleImage image; std::size_t refused; std::vector<std::string> calls; };
  static const std::uint8_t notAModule[] = "Extended Module: but nothing else";
  const Case cases[] = {
      {"empty image", {nullptr, 0}, 0, {}},
      {"truncated image", {notAModule, sizeof notAModule}, 0, {}},
      {"no ring", moduleImage(), RING_BYTES, {"open", "reset", "close"}},
      {"no float buffer", moduleImage(), MIX_BUFFER_BYTES, {"open", "prepare", "reset", "unprepare", "close"}},
  };
  useThreadOps(&deferredOps);
  for (const Case& c : cases) {
    resetFake();
    refusedBytes = c.refused;
    useAudioAllocator(refuseBytes);
    deferredProc = nullptr;
    startMusic(c.image);
    EXPECT_EQ(deferredProc, nullptr) << c.name << ": no thread";
    EXPECT_EQ(fake.calls, c.calls) << c.name;
    expectStopped();
    stopMusic();  // the editor's close still stops; nothing is left to release
    expectStopped();
  }
}

TEST_F(Music, WithoutAThreadTheDeviceLoopsThePrimedRing) {
  static const ThreadOps noThread = {[](std::uint32_t (*)(void*)) -> ThreadHandle { return nullptr; },
                                     nullptr, nullptr, [] { ++sleeps; }};
  useThreadOps(&noThread);
  startMusic(moduleImage());
  EXPECT_NE(waveRing, nullptr);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open", "prepare", "submit"}));
  stopMusic();
  EXPECT_EQ(sleeps.load(), 0) << "no thread to wait for";
  expectStopped();
}

TEST_F(Music, StartsAndStopsManyTimesOnTheSilentDevice) {
  useAudioDevice(&silentAudioDevice);
  for (int cycle = 0; cycle < 40; ++cycle) {
    startMusic(moduleImage());
    ASSERT_NE(waveRing, nullptr) << "cycle " << cycle;
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 4 == 0 ? 0 : (cycle * 7) % 31));
    stopMusic();
    expectStopped();
  }
}

TEST(SilentDevice, ChosenByTheEnvironmentAndPacedByTheClock) {
#ifdef _WIN32
  _putenv_s("LEVEL_EDITOR_AUDIO", "silent");
#else
  setenv("LEVEL_EDITOR_AUDIO", "silent", 1);
#endif
  ASSERT_EQ(openChosenDevice(PLAYBACK_FORMAT), &silentAudioDevice);
  using Clock = std::chrono::steady_clock;
  std::uint64_t bytes = 1;
  ASSERT_TRUE(silentAudioDevice.position(&bytes));
  EXPECT_EQ(bytes, 0u) << "nothing plays before the submit";
  const Clock::time_point beforeSubmit = Clock::now();
  silentAudioDevice.submit();
  const Clock::time_point afterSubmit = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  const Clock::time_point beforeQuery = Clock::now();
  ASSERT_TRUE(silentAudioDevice.position(&bytes));
  const Clock::time_point afterQuery = Clock::now();
  silentAudioDevice.reset();
  silentAudioDevice.close();
  auto bytesIn = [](Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count() * 176400 / 1000000;
  };
  EXPECT_EQ(bytes % 4, 0u) << "whole frames";
  EXPECT_GE(static_cast<std::int64_t>(bytes), bytesIn(beforeQuery - afterSubmit) - 4);
  EXPECT_LE(static_cast<std::int64_t>(bytes), bytesIn(afterQuery - beforeSubmit) + 4);
}

}  // namespace
