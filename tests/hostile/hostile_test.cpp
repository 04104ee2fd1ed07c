// Hostile modules against the loader, the player and xm-render: each is refused with its
// reason or plays with every voice inside its sample and every float finite; a module cut
// short anywhere is refused with the reason of the part it ends in; the built-in theme plays
// ten minutes of audio under the same checks. Modules come from hostile_modules.h.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "audio/output.h"
#include "fuzz/player_checks.h"
#include "player/module.h"
#include "player/module_load.h"
#include "player/player.h"
#include "tests/hostile/hostile_modules.h"

namespace fs = std::filesystem;

// The case's name in test output, instead of its bytes.
void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

namespace {

//-----------------------------------------------------------------------------
// In-process play
//-----------------------------------------------------------------------------

// Owns the two audio buffers and releases them and the module at the end.
struct Buffers {
  Buffers() { EXPECT_TRUE(allocateRing() && allocateMixBuffer()) << "buffers for the block fill"; }
  ~Buffers() {
    releaseMixBuffer();
    releaseRing();
    releaseModule();
  }
};

// Renders blockCount blocks of the loaded module from the player's reset, checking the voices
// and the floats after every block; the first broken rule stops it.
::testing::AssertionResult playsSafely(std::uint32_t blockCount) {
  resetPlayer();
  writeBlock = 0;
  for (std::uint32_t block = 0; block < blockCount; ++block) {
    const std::int32_t filled = writeBlock;
    fillBlock();
    const char* broken = checkVoices();
    if (broken == nullptr) broken = checkFinite(mixBuffer + filled * BLOCK_SAMPLES, BLOCK_SAMPLES);
    if (broken != nullptr) return ::testing::AssertionFailure() << "block " << block << ": " << broken;
  }
  return ::testing::AssertionSuccess();
}

constexpr std::uint32_t blocksOf(double seconds) {
  return static_cast<std::uint32_t>(seconds * OUTPUT_RATE / BLOCK_FRAMES) + 1;
}

// Loads from an exactly-sized heap copy, so that the sanitizer build sees a read past the end.
const char* loadCopy(const std::vector<std::uint8_t>& bytes, std::size_t byteCount) {
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(byteCount));
  return loadModule(copy.data(), copy.size());
}

//-----------------------------------------------------------------------------
// xm-render
//-----------------------------------------------------------------------------

#ifndef _WIN32
struct RenderRun {
  int exitCode = -1;
  std::string errorText;
  std::string wav;  // the output file's bytes; empty when none was written
};

fs::path scratchFolder() {
  const fs::path folder = fs::temp_directory_path() / ("hostile_test." + std::to_string(::getpid()));
  fs::create_directories(folder);
  return folder;
}

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the module to NAME.xm and renders seconds of it with the real xm-render.
RenderRun renderWithTool(const std::string& name, const std::vector<std::uint8_t>& bytes, const char* seconds) {
  const fs::path folder = scratchFolder();
  const fs::path module = folder / (name + ".xm");
  const fs::path wav = folder / (name + ".wav");
  const fs::path errors = folder / (name + ".err");
  std::ofstream(module, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
  fs::remove(wav);
  const std::string command = std::string("'") + XM_RENDER_PATH + "' --seconds " + seconds + " '" + module.string() +
                              "' '" + wav.string() + "' >/dev/null 2>'" + errors.string() + "'";
  const int status = std::system(command.c_str());
  RenderRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.errorText = readBytes(errors);
  if (fs::exists(wav)) run.wav = readBytes(wav);
  fs::remove_all(folder);
  return run;
}

std::uint32_t littleEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// exit 1 and "not played: <refusal>" on stderr, or exit 0 and a WAV of exactly frameCount
// stereo 16-bit frames whose RIFF and data sizes say so.
::testing::AssertionResult renderedAsExpected(const RenderRun& run, const char* refusal, std::uint32_t frameCount) {
  if (refusal != nullptr) {
    if (run.exitCode != 1) return ::testing::AssertionFailure() << "exit code " << run.exitCode << ", stderr: " << run.errorText;
    if (run.errorText.find(std::string("not played: ") + refusal) == std::string::npos)
      return ::testing::AssertionFailure() << "stderr lacks the reason: " << run.errorText;
    if (!run.wav.empty()) return ::testing::AssertionFailure() << "a WAV file for a refused module";
    return ::testing::AssertionSuccess();
  }
  if (run.exitCode != 0) return ::testing::AssertionFailure() << "exit code " << run.exitCode << ", stderr: " << run.errorText;
  const std::uint32_t dataBytes = frameCount * FRAME_BYTES;
  if (run.wav.size() != 44 + std::size_t{dataBytes}) return ::testing::AssertionFailure() << "WAV of " << run.wav.size() << " bytes";
  if (littleEndian32(run.wav, 4) != 36 + dataBytes || littleEndian32(run.wav, 40) != dataBytes)
    return ::testing::AssertionFailure() << "WAV sizes in the header do not match the file";
  return ::testing::AssertionSuccess();
}
#endif

//-----------------------------------------------------------------------------
// Hostile modules: refused with the reason, or played safely
//-----------------------------------------------------------------------------

class HostileModule : public ::testing::TestWithParam<HostileCase> {};

std::string caseName(const ::testing::TestParamInfo<HostileCase>& info) {
  std::string name = info.param.name;
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

TEST_P(HostileModule, IsRefusedWithItsReasonOrPlaysSafely) {
  const std::vector<std::uint8_t> bytes = hostileImage(GetParam());
  Buffers buffers;
  const char* refusal = loadCopy(bytes, bytes.size());
  if (GetParam().refusal == nullptr) {
    ASSERT_EQ(refusal, nullptr) << "refused: " << refusal;
    ASSERT_EQ(checkLoadedModule(), nullptr) << checkLoadedModule();
    EXPECT_TRUE(playsSafely(blocksOf(10.0)));
  } else {
    ASSERT_NE(refusal, nullptr) << "loaded a module that must be refused";
    EXPECT_STREQ(refusal, GetParam().refusal);
    EXPECT_EQ(song.songLength, 0) << "a refused module left a song to play";
  }
}

TEST_P(HostileModule, ThroughXmRender) {
#ifdef _WIN32
  GTEST_SKIP() << "xm-render's own tests run the .exe under Wine; here it runs natively only";
#else
  const RenderRun run = renderWithTool(GetParam().name, hostileImage(GetParam()), "2");
  EXPECT_TRUE(renderedAsExpected(run, GetParam().refusal, 2 * OUTPUT_RATE));
#endif
}

INSTANTIATE_TEST_SUITE_P(Table, HostileModule, ::testing::ValuesIn(hostileCases()), caseName);

//-----------------------------------------------------------------------------
// A module cut short anywhere
//-----------------------------------------------------------------------------

// Where each part of the rich module ends, from the writer's records rather than from the
// loader's reading: the file header, the patterns, and per instrument its fixed fields, its
// sample headers and its sample data.
struct Part {
  std::size_t endByte;  // first byte after the part
  const char* refusal;  // for a module that ends inside it
};

std::vector<Part> partsOf(const XmModule& module) {
  XmModule withoutInstruments = module;
  withoutInstruments.instruments.clear();
  std::vector<Part> parts = {{336, LOAD_ENDS_IN_HEADER},
                             {writeXm(withoutInstruments).size(), LOAD_ENDS_IN_PATTERN}};
  std::size_t at = parts.back().endByte;
  for (const XmInstrument& instrument : module.instruments) {
    EXPECT_FALSE(instrument.samples.empty()) << "every instrument of the rich module has samples";
    const std::size_t headerBytes = instrument.headerBytesField.value_or(263);
    parts.push_back({at + 241, LOAD_ENDS_IN_INSTRUMENT});  // up to and including the fade-out
    parts.push_back({at + headerBytes + 40 * instrument.samples.size(), LOAD_ENDS_IN_SAMPLE_HEADER});
    at = parts.back().endByte;
    for (const XmSample& sample : instrument.samples) at += xmSampleData(sample).size();
    parts.push_back({at, LOAD_ENDS_IN_SAMPLE_DATA});
  }
  return parts;
}

TEST(TruncatedModule, EveryCutIsRefusedWithTheReasonOfItsPart) {
  const XmModule module = richModule();
  const std::vector<std::uint8_t> bytes = writeXm(module);
  const std::vector<Part> parts = partsOf(module);
  ASSERT_EQ(parts.back().endByte, bytes.size()) << "the parts must cover the whole module";
  std::size_t part = 0;
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    while (cut >= parts[part].endByte) ++part;
    const char* refusal = loadCopy(bytes, cut);
    ASSERT_NE(refusal, nullptr) << "a module cut after " << cut << " bytes loaded";
    ASSERT_STREQ(refusal, parts[part].refusal) << "cut after " << cut << " bytes";
    ASSERT_EQ(song.songLength, 0) << "cut after " << cut << " bytes left a song to play";
  }
  ASSERT_EQ(loadCopy(bytes, bytes.size()), nullptr) << "the whole module loads";
  releaseModule();
}

//-----------------------------------------------------------------------------
// A voice past its end
//-----------------------------------------------------------------------------

// A step whose low fraction byte the frame count cannot see: 500 frames stop short of the end
// by that count but cross it in truth. The next call must meet the end at once and stop the
// voice, not take the crossed end for one far away and read on past the sample's data.
TEST(Overshoot, AVoicePastItsEndByTheLostStepBitsStops) {
  constexpr std::uint32_t LENGTH = 100;
  std::vector<std::int16_t> data(LENGTH + SAMPLE_PAD_FRAMES, 1000);
  Sample sample{};
  sample.length = LENGTH;
  sample.loopLength = LENGTH;
  sample.loopKind = LOOP_NONE;
  sample.bits = 16;
  sample.data = data.data();
  resetVoices();
  Voice& voice = voices[0];
  voice.sample = &sample;
  voice.leftGain = voice.rightGain = 255;
  voice.currentLeftGain = voice.currentRightGain = 255 * 256;  // no ramp to cut the stretch
  voice.direction = DIRECTION_FORWARD;
  voice.stepInt = 0;
  voice.stepFrac = (38100u << 8) | 255u;
  const std::uint64_t start = (std::uint64_t{LENGTH} << 32) - 4876800256u;
  voice.positionInt = static_cast<std::int32_t>(start >> 32);
  voice.positionFrac = static_cast<std::uint32_t>(start);
  std::vector<float> block(2 * BLOCK_FRAMES);
  mixVoices(block.data(), 500);
  ASSERT_NE(voice.sample, nullptr) << "the first stretch ends short of the end by its count";
  EXPECT_EQ(voice.positionInt, static_cast<std::int32_t>(LENGTH)) << "and crosses it in truth";
  mixVoices(block.data(), BLOCK_FRAMES);
  EXPECT_EQ(voice.sample, nullptr) << "a voice past the end of a sample without a loop stops";
  resetVoices();
}

//-----------------------------------------------------------------------------
// Long play
//-----------------------------------------------------------------------------

// Ten minutes of the built-in theme, faster than real time: positions and floats are checked
// after each of the 29,932 blocks, and the song must have come round to its start more than
// once (the theme lasts well under ten minutes).
TEST(LongPlay, TheThemeForTenMinutes) {
  Buffers buffers;
  ASSERT_EQ(loadModule(builtinModuleImage.bytes, builtinModuleImage.byteCount), nullptr);
  resetPlayer();
  writeBlock = 0;
  int songStarts = 0;
  std::int32_t lastOrder = 0;
  double sumOfSquares = 0;
  for (std::uint32_t block = 0; block < blocksOf(600.0) - 1; ++block) {
    const std::int32_t filled = writeBlock;
    fillBlock();
    const float* floats = mixBuffer + filled * BLOCK_SAMPLES;
    const char* broken = checkVoices();
    if (broken == nullptr) broken = checkFinite(floats, BLOCK_SAMPLES);
    ASSERT_EQ(broken, nullptr) << "block " << block << ": " << broken;
    if (player.orderPos < lastOrder) ++songStarts;
    lastOrder = player.orderPos;
    for (std::uint32_t i = 0; i < BLOCK_SAMPLES; ++i) sumOfSquares += double{floats[i]} * floats[i];
  }
  EXPECT_GE(songStarts, 2) << "the song did not loop";
  EXPECT_GT(sumOfSquares, 0.0) << "ten minutes of silence";
}

}  // namespace
