// The music start and stop, and the choice of the output device. Pairs with music.h; the
// ring and the thread body are output.cpp's, the device and thread operations device.h's.
#include "audio/music.h"

#include <cstdlib>
#include <cstring>

#include "audio/device.h"
#include "audio/output.h"
#include "player/player.h"

namespace {

const AudioDevice* forcedDevice = nullptr;
const ThreadOps* forcedThreadOps = nullptr;
ThreadHandle playbackThread = nullptr;

}  // namespace

void useAudioDevice(const AudioDevice* device) { forcedDevice = device; }
void useThreadOps(const ThreadOps* ops) { forcedThreadOps = ops; }

const AudioDevice* openChosenDevice(const WaveFormat& format) {
  // LEVEL_EDITOR_AUDIO=silent: play at the real rate without sound, for machines and tests
  // where a real device would be missing, shared or slow to open.
  const char* choice = std::getenv("LEVEL_EDITOR_AUDIO");
  const bool silentOnly = choice != nullptr && std::strcmp(choice, "silent") == 0;
  if (!silentOnly) {
    const AudioDevice& device = platformAudioDevice();
    if (device.open(format)) return &device;
  }
  // A machine without a sound device keeps its editor and its paced thread; nothing is said.
  return silentAudioDevice.open(format) ? &silentAudioDevice : nullptr;
}

void startMusic(const ModuleImage& image) {
  if (waveDevice != nullptr || playbackRunning.load() != 0) return;  // already playing

  // A refused image leaves nothing allocated: no device, no thread, no music.
  if (loadModule(image.bytes, image.byteCount) != nullptr) return;
  resetPlayer();

  threadOps = forcedThreadOps != nullptr ? forcedThreadOps : &platformThreadOps();
  if (forcedDevice != nullptr) {
    waveDevice = forcedDevice->open(PLAYBACK_FORMAT) ? forcedDevice : nullptr;
  } else {
    waveDevice = openChosenDevice(PLAYBACK_FORMAT);
  }
  if (waveDevice == nullptr) {
    stopMusic();
    return;
  }

  if (!allocateRing() || !allocateMixBuffer()) {
    stopMusic();
    return;
  }

  // Priming: from block 0 round to block 0 again, 100 blocks, the whole ring.
  do {
    fillBlock();
  } while (writeBlock != 0);

  waveDevice->start(waveRing, RING_BYTES);
  playbackRunning.store(1);
  playbackThread = threadOps->create(playbackThreadProc);
  // Without a thread nothing refills the ring; the device loops the two primed seconds.
  if (playbackThread != nullptr) threadOps->raisePriority(playbackThread);
}

void stopMusic() {
  playbackRunning.store(0);
  if (playbackThread != nullptr) {
    while (threadAlive.load() != 0) threadOps->sleepPollInterval();
    // A thread that had not yet begun when the flag fell leaves at once; joining it keeps it
    // from outliving this stop and then seeing the flag of a later start.
    threadOps->join(playbackThread);
    playbackThread = nullptr;
  }

  if (waveDevice != nullptr) {
    waveDevice->stop();
    waveDevice->close();
  }
  releaseMixBuffer();
  releaseRing();
  waveDevice = nullptr;
  writeBlock = 0;
  releaseModule();
}
