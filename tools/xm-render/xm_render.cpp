// xm-render: renders an XM module, or the built-in theme, through the player's own load,
// reset and block fill into a 16-bit stereo 44100 Hz WAV file. Pairs with audio/output.h.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/output.h"
#include "player/module.h"
#include "player/player.h"

namespace {

constexpr double DEFAULT_SECONDS = 30.0;
// A WAV data chunk holds at most 2^32 - 1 bytes: 24347 s at 176400 bytes per second.
constexpr double MAX_SECONDS = 24000.0;

const char* const HELP =
    "Usage: xm-render [--seconds S] [IN.xm] OUT.wav\n"
    "\n"
    "Renders the XM module IN.xm, or the built-in theme when no IN.xm is given, into OUT.wav:\n"
    "PCM, 16-bit signed, stereo, 44100 Hz. The module goes through the same load, player\n"
    "reset and block fill as the music of Level Editor, so the file holds the bytes that the\n"
    "editor hands to its sound device, from the first frame on.\n"
    "\n"
    "  --seconds S   length to render, in seconds (decimal, above 0, at most 24000);\n"
    "                default 30. The song loops, so any length can be rendered.\n"
    "  --help        this text.\n"
    "\n"
    "Examples:\n"
    "  xm-render theme.wav                       the built-in theme, 30 s\n"
    "  xm-render --seconds 300 song.xm song.wav  five minutes of song.xm\n"
    "\n"
    "Prints nothing when it succeeds (exit code 0). A module the loader refuses gives its\n"
    "reason on stderr and exit code 1, as does a file that cannot be read or written (a\n"
    "partly written OUT.wav is removed); a wrong command line gives exit code 2.\n";

int usageError(const char* what) {
  std::fprintf(stderr, "xm-render: %s\n(xm-render --help tells how to use it)\n", what);
  return 2;
}

// Modules hold their samples, so they can be large; anything past this is no module and is
// refused before it takes the memory (/dev/zero would otherwise grow the vector until it dies).
constexpr std::size_t MAX_MODULE_BYTES = std::size_t{128} << 20;

enum class ReadResult { Ok, CannotRead, TooLarge };

ReadResult readFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return ReadResult::CannotRead;
  ReadResult result = ReadResult::Ok;
  // A regular file tells its size: one allocation of it and one read straight into it, with
  // no growing vector and no copy through the chunk. Whatever else comes (a device, a file
  // that grew meanwhile) is read in chunks after it.
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) size = -1;
  if (size > static_cast<long>(MAX_MODULE_BYTES)) {
    std::fclose(file);
    return ReadResult::TooLarge;
  }
  if (size > 0) {
    bytes.resize(static_cast<std::size_t>(size));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  }
  std::uint8_t chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes.size() + got > MAX_MODULE_BYTES) {
      result = ReadResult::TooLarge;
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  if (result == ReadResult::Ok && std::ferror(file) != 0) result = ReadResult::CannotRead;
  std::fclose(file);
  return result;
}

void putLittleEndian(std::uint8_t* at, std::uint32_t value, int byteCount) {
  for (int i = 0; i < byteCount; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The 44-byte header of a canonical PCM WAV file with dataBytes bytes of samples.
void wavHeader(std::uint8_t header[44], std::uint32_t dataBytes) {
  std::memcpy(header, "RIFF\0\0\0\0WAVEfmt \0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0data\0\0\0\0", 44);
  putLittleEndian(header + 4, 36 + dataBytes, 4);
  putLittleEndian(header + 16, 16, 4);
  putLittleEndian(header + 20, PLAYBACK_FORMAT.formatTag, 2);
  putLittleEndian(header + 22, PLAYBACK_FORMAT.channels, 2);
  putLittleEndian(header + 24, PLAYBACK_FORMAT.samplesPerSec, 4);
  putLittleEndian(header + 28, PLAYBACK_FORMAT.avgBytesPerSec, 4);
  putLittleEndian(header + 32, PLAYBACK_FORMAT.blockAlign, 2);
  putLittleEndian(header + 34, PLAYBACK_FORMAT.bitsPerSample, 2);
  putLittleEndian(header + 40, dataBytes, 4);
}

// Fills blocks until frameCount frames are written; false when the file refuses a write.
// The ring is the output buffer: its blocks are filled in order and each run of them, up to
// the whole ring (2 s of audio, 353600 bytes), goes to the file in one unbuffered write,
// straight from the ring. The last run is cut to the frames still wanted.
bool renderFrames(std::FILE* out, std::uint64_t frameCount) {
  std::uint64_t framesLeft = frameCount;
  while (framesLeft > 0) {
    const std::uint32_t firstBlock = static_cast<std::uint32_t>(audioOutput->writeBlock);
    std::uint64_t framesFilled = 0;
    do {
      fillBlock();
      framesFilled += BLOCK_FRAMES;
    } while (audioOutput->writeBlock != 0 && framesFilled < framesLeft);
    const std::size_t frames = static_cast<std::size_t>(framesFilled < framesLeft ? framesFilled : framesLeft);
    if (std::fwrite(audioOutput->waveRing + firstBlock * BLOCK_BYTES, FRAME_BYTES, frames, out) != frames) return false;
    framesLeft -= frames;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = DEFAULT_SECONDS;
  std::vector<const char*> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(HELP, stdout);
      return 0;
    }
    if (argument == "--seconds") {
      if (i + 1 >= argc) return usageError("--seconds needs a number");
      char* end = nullptr;
      errno = 0;
      seconds = std::strtod(argv[++i], &end);
      if (errno != 0 || end == argv[i] || *end != '\0' || !(seconds > 0.0) || seconds > MAX_SECONDS) {
        return usageError("--seconds takes a number of seconds above 0 and at most 24000");
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      return usageError(("unknown option " + argument).c_str());
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.empty() || paths.size() > 2) return usageError("give an output file, and at most one module before it");
  const char* inputPath = paths.size() == 2 ? paths[0] : nullptr;
  const char* outputPath = paths.back();
  const char* moduleName = inputPath != nullptr ? inputPath : "built-in theme";

  std::vector<std::uint8_t> fileBytes;
  ModuleImage image = builtinModuleImage;
  if (inputPath != nullptr) {
    const ReadResult read = readFile(inputPath, fileBytes);
    if (read == ReadResult::CannotRead) {
      std::fprintf(stderr, "xm-render: cannot read %s: %s\n", inputPath, std::strerror(errno));
      return 1;
    }
    if (read == ReadResult::TooLarge) {
      std::fprintf(stderr, "xm-render: %s: not played: larger than %zu MiB, no module\n", inputPath,
                   MAX_MODULE_BYTES >> 20);
      return 1;
    }
    image = {fileBytes.data(), fileBytes.size()};
  }
  if (const char* refusal = loadModule(image.bytes, image.byteCount)) {
    std::fprintf(stderr, "xm-render: %s: not played: %s\n", moduleName, refusal);
    return 1;
  }
  resetPlayer();

  int status = 0;
  const std::uint64_t frameCount = static_cast<std::uint64_t>(std::llround(seconds * PLAYBACK_FORMAT.samplesPerSec));
  std::FILE* out = nullptr;
  if (!allocateRing() || !allocateMixBuffer()) {
    std::fprintf(stderr, "xm-render: out of memory for the audio buffers\n");
    status = 1;
  } else if ((out = std::fopen(outputPath, "wb")) == nullptr) {
    std::fprintf(stderr, "xm-render: cannot write %s: %s\n", outputPath, std::strerror(errno));
    status = 1;
  } else {
    // No stdio buffer: every write below is already one large block.
    std::setvbuf(out, nullptr, _IONBF, 0);
    std::uint8_t header[44];
    wavHeader(header, static_cast<std::uint32_t>(frameCount * FRAME_BYTES));
    const bool written = std::fwrite(header, 1, sizeof header, out) == sizeof header && renderFrames(out, frameCount);
    if (std::fclose(out) != 0 || !written) {
      std::fprintf(stderr, "xm-render: cannot write %s\n", outputPath);
      std::remove(outputPath);
      status = 1;
    }
  }
  releaseMixBuffer();
  releaseRing();
  releaseModule();
  return status;
}
