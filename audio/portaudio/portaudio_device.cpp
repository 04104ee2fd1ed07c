// The PortAudio output device: PortAudio's callback copies the ring out at a running byte
// count, and that count is the play position. Pairs with device.h.
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "audio/device.h"

namespace {

PaStream* stream = nullptr;
const std::uint8_t* ring = nullptr;  // the caller's ring, read by the callback only while running
std::uint32_t ringBytes = 0;
// Bytes handed to PortAudio since the start; written by the callback's thread, read by the
// playback thread. The ring offset is this count modulo ringBytes.
std::atomic<std::uint64_t> bytesHandedOut{0};

// PortAudio's probing of ALSA and JACK prints dozens of lines on stderr on a machine without a
// sound card, where the editor must carry on quietly with the silent device. While one of
// these lives, fd 2 goes to /dev/null. Only the dialog's thread runs at those moments (start
// and stop), so nothing else is lost.
struct QuietStderr {
  int savedFd = -1;
  QuietStderr() {
    std::fflush(stderr);
    const int nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nullFd < 0) return;
    savedFd = dup(2);
    if (savedFd >= 0) dup2(nullFd, 2);
    close(nullFd);
  }
  ~QuietStderr() {
    if (savedFd < 0) return;
    std::fflush(stderr);
    dup2(savedFd, 2);
    close(savedFd);
  }
};

// Runs on PortAudio's own thread; copies frameCount frames of the ring, wrapping at its end.
int copyFromRing(const void*, void* output, unsigned long frameCount, const PaStreamCallbackTimeInfo*,
                 PaStreamCallbackFlags, void*) {
  audioOutput->blocksPublished.load(std::memory_order_acquire);  // pairs with fillBlock's release
  std::uint8_t* destination = static_cast<std::uint8_t*>(output);
  const std::uint64_t count = bytesHandedOut.load(std::memory_order_relaxed);
  std::uint64_t bytesLeft = static_cast<std::uint64_t>(frameCount) * FRAME_BYTES;
  std::uint32_t offset = static_cast<std::uint32_t>(count % ringBytes);
  while (bytesLeft > 0) {
    std::uint32_t chunkBytes = ringBytes - offset;
    if (chunkBytes > bytesLeft) chunkBytes = static_cast<std::uint32_t>(bytesLeft);
    std::memcpy(destination, ring + offset, chunkBytes);
    destination += chunkBytes;
    bytesLeft -= chunkBytes;
    offset = 0;
  }
  bytesHandedOut.store(count + static_cast<std::uint64_t>(frameCount) * FRAME_BYTES, std::memory_order_release);
  return paContinue;
}

bool portAudioOpen(const WaveFormat& format) {
  const QuietStderr quiet;
  if (Pa_Initialize() != paNoError) return false;
  if (Pa_GetDefaultOutputDevice() == paNoDevice ||
      Pa_OpenDefaultStream(&stream, 0, format.channels, paInt16, format.samplesPerSec,
                           paFramesPerBufferUnspecified, copyFromRing, nullptr) != paNoError) {
    stream = nullptr;
    Pa_Terminate();
    return false;
  }
  return true;
}

bool portAudioStart(const std::uint8_t* ringBytesStart, std::uint32_t byteCount) {
  if (ringBytesStart == nullptr || byteCount == 0) return false;
  ring = ringBytesStart;
  ringBytes = byteCount;
  bytesHandedOut.store(0);
  return Pa_StartStream(stream) == paNoError;
}

bool portAudioPosition(std::uint64_t* bytesPlayed) {
  *bytesPlayed = bytesHandedOut.load(std::memory_order_acquire);
  return true;
}

void portAudioStop() {
  if (Pa_IsStreamStopped(stream) == 0) Pa_AbortStream(stream);
  ring = nullptr;
  ringBytes = 0;
}

void portAudioClose() {
  const QuietStderr quiet;
  Pa_CloseStream(stream);
  stream = nullptr;
  Pa_Terminate();
}

}  // namespace

const AudioDevice portAudioDevice = {
    "portaudio", portAudioOpen, portAudioStart, portAudioPosition, portAudioStop, portAudioClose,
};

const AudioDevice& platformAudioDevice() { return portAudioDevice; }
