// The seam between the portable audio core (output.cpp, music.cpp) and the platform: an
// output device that loops a caller-owned ring, and the thread operations. The device folders
// (waveout/, portaudio/, silent/) each fill an AudioDevice; threads/win32/ and threads/posix/
// fill the ThreadOps.
#pragma once

#include <cstdint>

#include "audio/output.h"

// One output device: it plays a ring of bytes that the caller owns, round and round, and says
// how far it has got. Every operation is called on the dialog's thread, except position,
// which the playback thread calls. One stream at a time.
struct AudioDevice {
  const char* name;
  // Opens a stream of this format. False when there is no such device; nothing stays open.
  bool (*open)(const WaveFormat& format);
  // Starts the endless replay of the ring's ringBytes from its byte 0. The caller keeps the
  // ring until stop has returned. False when nothing plays.
  bool (*start)(const std::uint8_t* ring, std::uint32_t ringBytes);
  // Bytes played since start, running on across the ring's loops. False when it cannot be
  // told; *bytesPlayed is then left alone.
  bool (*position)(std::uint64_t* bytesPlayed);
  // Stops playback at once: the ring is no longer read when it returns. Does nothing when
  // nothing was started.
  void (*stop)();
  void (*close)();
};

// A device without sound that plays at the real rate: its position advances with the steady
// clock, 176400 bytes per second from the start. It never fails to open.
extern const AudioDevice silentAudioDevice;

// This platform's real device: wave-out on Windows, PortAudio elsewhere.
const AudioDevice& platformAudioDevice();

struct ThreadOps {
  // Starts proc(nullptr) at once with the default stack size; nullptr when no thread could
  // be made.
  ThreadHandle (*create)(std::uint32_t (*proc)(void*));
  // Raises the thread to the highest priority the system grants; keeps the normal one when
  // none is granted.
  void (*raisePriority)(ThreadHandle thread);
  // Waits for the thread's return and releases the handle.
  void (*join)(ThreadHandle thread);
  // Sleeps about POLL_INTERVAL_MS.
  void (*sleepPollInterval)();
};

const ThreadOps& platformThreadOps();

// Test seams: a device and thread operations that startMusic uses instead of its own choice;
// nullptr restores the choice. Called while the music is stopped.
void useAudioDevice(const AudioDevice* device);
void useThreadOps(const ThreadOps* ops);

// startMusic's choice when no device is forced: the silent device when the environment
// variable LEVEL_EDITOR_AUDIO is "silent", otherwise the platform's device, falling back to
// the silent one when that does not open. Returns the device that is open.
const AudioDevice* openChosenDevice(const WaveFormat& format);
