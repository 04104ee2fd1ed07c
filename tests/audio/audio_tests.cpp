// Tests of the audio output: the conversion against roundToInt, the playback thread's passes
// over a fake device, and the music start and stop, whose primed ring must match a plain model.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/device.h"
#include "audio/music.h"
#include "audio/output.h"
#include "player/player.h"
#include "render.h"

namespace {

// The theme: 20 channels, ticks of 882 frames that fall anywhere in the 884-frame blocks.
ModuleImage moduleImage() { return builtinModuleImage; }

// The block fill the plain way: its stretches (test_support::forEachStretch) mixed by
// mixVoices into one float run of all the blocks, then rounded by nearbyint in the default
// mode (halves to even) and saturated, independent of roundToInt and the vector conversion.
std::vector<std::int16_t> modelBlocks(std::uint32_t blockCount) {
  const test_support::LoadedPlayer loaded(moduleImage().bytes, moduleImage().byteCount);
  std::vector<float> mixed(std::size_t{blockCount} * BLOCK_SAMPLES, 0.0f);
  test_support::forEachStretch(blockCount, [&](std::uint64_t frame, std::uint32_t frameCount) {
    mixVoices(&mixed[2 * frame], frameCount);
  });
  std::vector<std::int16_t> pcm(mixed.size());
  for (std::size_t i = 0; i < mixed.size(); ++i) {
    pcm[i] = static_cast<std::int16_t>(std::clamp(std::nearbyint(double{mixed[i]}), -32768.0, 32767.0));
  }
  return pcm;
}

//-----------------------------------------------------------------------------
// A fake device whose position the test sets, and thread operations that count.
//-----------------------------------------------------------------------------

struct FakeDevice {
  std::atomic<std::uint64_t> position{0};
  std::atomic<bool> positionReadable{true};
  std::atomic<int> positionQueries{0};
  std::vector<std::string> calls;  // dialog-thread operations, in order
  const std::uint8_t* ring = nullptr;
  std::uint32_t ringBytes = 0, blocksAtStart = 0;
} fake;

const AudioDevice fakeDevice = {
    "fake",
    [](const WaveFormat& f) { return fake.calls.push_back(f.avgBytesPerSec == 176400 && f.blockAlign == 4 ? "open" : "open?"), true; },
    [](const std::uint8_t* ring, std::uint32_t ringBytes) {
      fake.ring = ring, fake.ringBytes = ringBytes, fake.blocksAtStart = audioOutput->blocksPublished.load();
      return fake.calls.push_back("start"), true;
    },
    [](std::uint64_t* bytesPlayed) {
      ++fake.positionQueries;
      if (fake.positionReadable) *bytesPlayed = fake.position;
      return fake.positionReadable.load();
    },
    [] { fake.calls.push_back("stop"); },
    [] { fake.calls.push_back("close"); },
};

void resetFake() { fake.position = 0, fake.positionReadable = true, fake.positionQueries = 0, fake.calls.clear(); }

// One pass of the thread, then the sleep ends the loop: a single pass can be watched.
std::atomic<int> sleeps{0};
int passesBeforeStop = 1;
const ThreadOps onePassOps = {nullptr, nullptr, nullptr, [] {
                                if (++sleeps >= passesBeforeStop) audioOutput->playbackRunning.store(0);
                              }};

// A thread that begins only when it is joined, as if the scheduler had not run it yet.
std::uint32_t (*deferredProc)(void*) = nullptr;
const ThreadOps deferredOps = {[](std::uint32_t (*proc)(void*)) -> ThreadHandle { return deferredProc = proc, &deferredProc; },
                               [](ThreadHandle) {}, [](ThreadHandle) { std::thread(deferredProc, nullptr).join(); },
                               [] { ++sleeps; }};

//-----------------------------------------------------------------------------
// Conversion
//-----------------------------------------------------------------------------

// Eight at a time and the tail one at a time, against roundToInt and saturation: floats of
// any bits and halves near the range, in counts that leave a tail of 1 and of 6.
TEST(FloatToPcm16, AgreesWithRoundToIntAndSaturation) {
  std::vector<float> source = {-0.0f, 2.5f, -2.5f, 32767.5f, -32768.5f, 3.0e9f,
                               std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
  std::mt19937 rng(5);
  for (int i = 0; i < 300001; ++i) {
    source.push_back(i % 2 ? std::bit_cast<float>(static_cast<std::uint32_t>(rng()))
                           : static_cast<float>(static_cast<int>(rng() % 80000) - 40000) / 2);
  }
  for (const std::uint32_t offset : {0u, 3u}) {
    const std::uint32_t count = static_cast<std::uint32_t>(source.size()) - offset;
    std::vector<std::int16_t> destination(count + 1, 0x5555);
    floatToPcm16(destination.data(), source.data() + offset, count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const float value = source[offset + i];
      ASSERT_EQ(destination[i], std::clamp(roundToInt(value), -32768, 32767))
          << "float bits 0x" << std::hex << std::bit_cast<std::uint32_t>(value) << " at " << std::dec << i;
    }
    EXPECT_EQ(destination[count], 0x5555) << "wrote past the count";
  }
}

//-----------------------------------------------------------------------------
// Playback thread passes
//-----------------------------------------------------------------------------

TEST(PlaybackThread, OnePassFillsUpToTheBlockBeforeTheDevice) {
  struct Case { const char* name; std::int32_t firstBlock; std::uint64_t position; bool readable; int passes, lastBlock; };
  const Case cases[] = {
      {"device at the first byte of block 3", 0, 3 * 3536, true, 1, 3},
      {"device at the last byte of the block being written", 0, 3535, true, 1, 0},
      {"wraps past block 99", 98, 353600 * 3 + 3536, true, 1, 1},
      // 2^32 bytes are 1073741824 frames, 35424 frames into the ring: block 40
      {"past 32 bits of bytes", 38, 0x100000000ull, true, 1, 40},
      {"unreadable position, three passes", 5, 3536 * 50, false, 3, 5},
  };
  useAudioDevice(nullptr);
  for (const Case& c : cases) {
    const test_support::LoadedPlayer loaded(moduleImage().bytes, moduleImage().byteCount);
    resetFake();
    fake.position = c.position;
    fake.positionReadable = c.readable;
    audioOutput->waveDevice = &fakeDevice;
    audioOutput->threadOps = &onePassOps;
    sleeps = 0;
    passesBeforeStop = c.passes;
    audioOutput->writeBlock = c.firstBlock;
    const std::uint32_t published = audioOutput->blocksPublished.load();
    audioOutput->playbackRunning = 1;
    const std::uint32_t result = playbackThreadProc(nullptr);
    // one sleep per pass, never a spin; the blocks from the first up to the device's filled
    const std::uint32_t filled = (c.lastBlock - c.firstBlock + RING_BLOCKS) % RING_BLOCKS;
    EXPECT_EQ(std::make_tuple(result, audioOutput->writeBlock, sleeps.load(), fake.positionQueries.load(),
                              audioOutput->blocksPublished.load() - published, audioOutput->threadAlive.load()),
              std::make_tuple(0u, c.lastBlock, c.passes, c.passes, filled, 0)) << c.name;
    audioOutput->waveDevice = nullptr;
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
    EXPECT_EQ(std::make_tuple(audioOutput->waveRing, audioOutput->mixBufferRaw, audioOutput->waveDevice, audioOutput->writeBlock, audioOutput->playbackRunning.load(), audioOutput->threadAlive.load()),
              std::make_tuple(nullptr, nullptr, nullptr, 0, 0, 0));
  }
};

TEST_F(Music, StartPrimesTheRingAndStopRunsWithoutWaitingForAPass) {
  useThreadOps(&deferredOps);
  const std::vector<std::int16_t> model = modelBlocks(RING_BLOCKS);
  const std::uint32_t published = audioOutput->blocksPublished.load();
  deferredProc = nullptr;
  startMusic(moduleImage());
  EXPECT_EQ(deferredProc, &playbackThreadProc) << "the refill thread is created";
  // priming is exactly 100 fills, all before the start, which gets the whole ring
  EXPECT_EQ(std::make_tuple(audioOutput->blocksPublished.load() - published, fake.blocksAtStart - published, audioOutput->writeBlock,
                            audioOutput->playbackRunning.load(), fake.ring, fake.ringBytes),
            std::make_tuple(RING_BLOCKS, RING_BLOCKS, 0, 1, audioOutput->waveRing, RING_BYTES));
  EXPECT_EQ(std::memcmp(audioOutput->waveRing, model.data(), RING_BYTES), 0) << "the primed ring against the model";
  EXPECT_GT(std::count_if(model.begin(), model.end(), [](std::int16_t s) { return std::abs(s) > 1000; }), 44100)
      << "the theme must be heard for the comparison to mean anything";
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(audioOutput->mixBuffer) % 16, 0u);
  EXPECT_LT(reinterpret_cast<std::uintptr_t>(audioOutput->mixBuffer) - reinterpret_cast<std::uintptr_t>(audioOutput->mixBufferRaw), 16u);

  stopMusic();  // the thread has not run yet: no wait, and it leaves without a pass
  EXPECT_EQ(std::make_tuple(sleeps.load(), fake.positionQueries.load(), audioOutput->blocksPublished.load() - published),
            std::make_tuple(0, 0, RING_BLOCKS));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open", "start", "stop", "close"}));
  expectStopped();
}

std::size_t refusedBytes = 0;
void* refuseBytes(std::size_t bytes) { return bytes == refusedBytes ? nullptr : std::calloc(bytes, 1); }

// Without a module or the memory there is no music; without a thread the device loops the
// primed ring. Either way no refill thread runs and none is waited for.
TEST_F(Music, WithoutAModuleMemoryOrThreadNothingRefillsTheRing) {
  static const ThreadOps noThread = {[](std::uint32_t (*)(void*)) -> ThreadHandle { return nullptr; },
                                     nullptr, nullptr, [] { ++sleeps; }};
  struct Case { const char* name; ModuleImage image; std::size_t refused; const ThreadOps* ops; std::vector<std::string> calls; };
  static const std::uint8_t notAModule[] = "Extended Module: but nothing else";
  const Case cases[] = {
      {"empty image", {nullptr, 0}, 0, &deferredOps, {}},
      {"truncated image", {notAModule, sizeof notAModule}, 0, &deferredOps, {}},
      {"no ring", moduleImage(), RING_BYTES, &deferredOps, {"open", "stop", "close"}},
      {"no float buffer", moduleImage(), MIX_BUFFER_BYTES, &deferredOps, {"open", "stop", "close"}},
      {"no thread", moduleImage(), 0, &noThread, {"open", "start"}},
  };
  for (const Case& c : cases) {
    resetFake();
    refusedBytes = c.refused;
    useAudioAllocator(refuseBytes);
    useThreadOps(c.ops);
    deferredProc = nullptr;
    startMusic(c.image);
    EXPECT_EQ(deferredProc, nullptr) << c.name << ": no thread";
    EXPECT_EQ(fake.calls, c.calls) << c.name;
    if (c.ops == &noThread) {
      EXPECT_NE(audioOutput->waveRing, nullptr) << "the primed ring plays";
    } else {
      expectStopped();
    }
    stopMusic();  // the editor's close still stops
    EXPECT_EQ(sleeps.load(), 0) << c.name;
    expectStopped();
  }
}

TEST_F(Music, StartsAndStopsManyTimesOnTheSilentDevice) {
  useAudioDevice(&silentAudioDevice);
  for (int cycle = 0; cycle < 40; ++cycle) {
    startMusic(moduleImage());
    ASSERT_NE(audioOutput->waveRing, nullptr) << "cycle " << cycle;
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 4 == 0 ? 0 : (cycle * 7) % 31));
    stopMusic();
    expectStopped();
  }
}

// nullptr unsets it.
void setAudioChoice(const char* value) {
#ifdef _WIN32
  _putenv_s("LEVEL_EDITOR_AUDIO", value != nullptr ? value : "");  // "" removes it
#else
  value != nullptr ? setenv("LEVEL_EDITOR_AUDIO", value, 1) : unsetenv("LEVEL_EDITOR_AUDIO");
#endif
}

TEST(SilentDevice, ChosenByTheEnvironmentAndPacedByTheClock) {
  const char* choice = std::getenv("LEVEL_EDITOR_AUDIO");
  const std::string saved = choice != nullptr ? choice : "";
  setAudioChoice("silent");
  const AudioDevice* chosen = openChosenDevice(PLAYBACK_FORMAT);
  setAudioChoice(choice != nullptr ? saved.c_str() : nullptr);
  ASSERT_EQ(chosen, &silentAudioDevice);
  std::uint64_t beforeStart = 1, bytes = 0;
  silentAudioDevice.position(&beforeStart);
  const auto started = std::chrono::steady_clock::now();
  silentAudioDevice.start(nullptr, 0);  // plays nothing, so reads no ring
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  ASSERT_TRUE(silentAudioDevice.position(&bytes));
  const auto elapsed = std::chrono::steady_clock::now() - started;
  silentAudioDevice.stop();
  silentAudioDevice.close();
  EXPECT_EQ(std::make_pair(beforeStart, bytes % 4), std::make_pair(std::uint64_t{0}, std::uint64_t{0})) << "nothing before the start, then whole frames";
  EXPECT_GE(bytes, 120 * 176400 / 1000 - 4) << "at least the 120 ms slept";
  EXPECT_LE(bytes, std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * 176400 / 1000000 + 4);
}

}  // namespace
