// The reset of the player's playback records and the tempo-to-tick conversion. Pairs with
// player.h; the voices it resets are the mixer's (mixer.cpp).
#include <algorithm>

#include "player/player.h"

namespace {

// Single-precision constants widened to double: 0.4000000059604645 and 44.099998474121094.
// Their error puts the exact halves of 110250 / bpm just below .5, so those round down
// (bpm 100: 1102.49999... gives 1102).
constexpr double BPM_TICK_FACTOR = static_cast<double>(0.4f);
constexpr double FRAMES_PER_MILLISECOND = static_cast<double>(44.1f);

}  // namespace

void setBpm(std::int32_t bpm) {
  // One tick lasts 2.5 / bpm seconds; the division and the products stay in this order.
  // A bpm of 0 gives an infinite quotient, which roundToInt saturates: the tick never ends
  // and nothing crashes (the loader refuses such a song anyway).
  const double millisecondsPerTick = 1000.0 / (static_cast<double>(bpm) * BPM_TICK_FACTOR);
  playerContext->player.samplesPerTick = roundToInt(millisecondsPerTick * FRAMES_PER_MILLISECOND);
}

void resetPlayer() {
  resetVoices();

  PlayerContext& c = *playerContext;
  Player& player = c.player;
  player = Player{};
  player.nextOrder = -1;
  player.nextRow = -1;
  player.speed = c.song.defaultTempo;
  player.globalVolume = 64;
  setBpm(c.song.defaultBpm);

  // The table holds 32 channels, each paired with voices i and i + 32; a larger count in a
  // song that slipped past the loader must not write beyond it.
  const int channelCount = std::min<int>(c.song.channelCount, MAX_CHANNELS);
  for (int i = 0; i < channelCount; ++i) {
    c.channels[i] = Channel{};
    c.channels[i].voice = &c.voices[i];
  }
}
