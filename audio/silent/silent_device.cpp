// The silent device: plays nothing, but its position runs at the real rate from the start,
// so the playback thread paces itself as on a sound card. Pairs with device.h.
#include <atomic>
#include <chrono>

#include "audio/device.h"

namespace {

using Clock = std::chrono::steady_clock;

// Ticks of the steady clock at the start; 0 until then (the position is then 0). Read by
// the playback thread, written on the dialog's thread before the thread exists.
std::atomic<Clock::rep> startTicks{0};
std::atomic<bool> playing{false};

bool silentOpen(const WaveFormat&) { return true; }

bool silentStart(const std::uint8_t*, std::uint32_t) {
  startTicks.store(Clock::now().time_since_epoch().count());
  playing.store(true);
  return true;
}

bool silentPosition(std::uint64_t* bytesPlayed) {
  if (!playing.load()) {
    *bytesPlayed = 0;
    return true;
  }
  const auto elapsed = Clock::now() - Clock::time_point(Clock::duration(startTicks.load()));
  const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  // Whole frames only, rounded down: 44100 frames per 10^6 us. The product stays below 2^64
  // for 13 years of play.
  const std::uint64_t frames =
      static_cast<std::uint64_t>(microseconds) * PLAYBACK_FORMAT.samplesPerSec / 1000000u;
  *bytesPlayed = frames * FRAME_BYTES;
  return true;
}

void silentStop() { playing.store(false); }
void silentClose() { playing.store(false); }

}  // namespace

const AudioDevice silentAudioDevice = {
    "silent", silentOpen, silentStart, silentPosition, silentStop, silentClose,
};
