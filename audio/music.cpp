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
  AudioOutput& o = *audioOutput;
  if (o.waveDevice != nullptr || o.playbackRunning.load() != 0) return;  // already playing

  // A refused image leaves nothing allocated: no device, no thread, no music.
  if (loadModule(image.bytes, image.byteCount) != nullptr) return;
  resetPlayer();

  o.threadOps = forcedThreadOps != nullptr ? forcedThreadOps : &platformThreadOps();
  if (forcedDevice != nullptr) {
    o.waveDevice = forcedDevice->open(PLAYBACK_FORMAT) ? forcedDevice : nullptr;
  } else {
    o.waveDevice = openChosenDevice(PLAYBACK_FORMAT);
  }
  if (o.waveDevice == nullptr) {
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
  } while (o.writeBlock != 0);

  o.waveDevice->start(o.waveRing, RING_BYTES);
  o.playbackRunning.store(1);
  o.playbackThread = o.threadOps->create(playbackThreadProc);
  // Without a thread nothing refills the ring; the device loops the two primed seconds.
  if (o.playbackThread != nullptr) o.threadOps->raisePriority(o.playbackThread);
}

void stopMusic() {
  AudioOutput& o = *audioOutput;
  o.playbackRunning.store(0);
  if (o.playbackThread != nullptr) {
    while (o.threadAlive.load() != 0) o.threadOps->sleepPollInterval();
    // A thread that had not yet begun when the flag fell leaves at once; joining it keeps it
    // from outliving this stop and then seeing the flag of a later start.
    o.threadOps->join(o.playbackThread);
    o.playbackThread = nullptr;
  }

  if (o.waveDevice != nullptr) {
    o.waveDevice->stop();
    o.waveDevice->close();
  }
  releaseMixBuffer();
  releaseRing();
  o.waveDevice = nullptr;
  o.writeBlock = 0;
  releaseModule();
}
