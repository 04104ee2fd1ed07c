// The first-tick effects that steer the song position and the clock: B, D, E6x, EEx, F, G
// and the memory of H. They only write the pending position, which the sequencer applies at
// the next row. Pairs with player.h and sequencer.cpp.
#include <algorithm>

#include "player/player.h"

// Within one row the last writer of nextOrder and nextRow wins, except that a break leaves
// the order named by an earlier channel's jump alone: B02 then D10 continues at order 2,
// row 10; D10 then B02 at order 2, row 0.

void effectPositionJump(std::uint8_t xy) {
  PlayerContext& c = *playerContext;
  // Past the last order play goes to order 0, not to the song's restart position.
  c.player.nextOrder = xy < c.song.songLength ? xy : 0;
  c.player.nextRow = 0;
  c.jumpSeen = true;
}

void effectPatternBreak(std::uint8_t xy) {
  // Two decimal digits, however written: D1F names row 10 + 15 = 25. Only rows 0..63.
  PlayerContext& c = *playerContext;
  Player& player = c.player;
  const std::int32_t row = 10 * (xy >> 4) + (xy & 15);
  player.nextRow = row > 63 ? 0 : row;
  if (!c.jumpSeen) player.nextOrder = player.orderPos + 1;
  if (player.nextOrder >= c.song.songLength) player.nextOrder = 0;
}

void effectPatternLoop(Channel& channel, std::uint8_t y) {
  Player& player = playerContext->player;
  if (y == 0) {
    channel.loopRow = player.row;
    return;
  }
  // loopCount counts the repetitions still to come: E63 plays its stretch four times.
  if (channel.loopCount == 0) {
    channel.loopCount = y;
  } else {
    --channel.loopCount;
  }
  // nextOrder stays as it is, so play remains in this pattern.
  if (channel.loopCount != 0) player.nextRow = channel.loopRow;
}

void effectPatternDelay(std::uint8_t y) {
  // With the speed in force now: a later Fxx on the same row does not change the delay.
  Player& player = playerContext->player;
  player.patternDelay = player.speed * y;
}

void effectSetSpeedOrTempo(std::uint8_t xy) {
  if (xy < 32) {
    playerContext->player.speed = xy;  // ticks per row; 0 makes every tick a row's first
  } else {
    setBpm(xy);
  }
}

void effectSetGlobalVolume(Channel& channel, std::uint8_t xy) {
  playerContext->player.globalVolume = std::min<std::int32_t>(xy, 64);
  channel.updateFlags |= UPDATE_VOLUME;
}

void effectGlobalVolumeSlideMemory(std::uint8_t xy) {
  if (xy != 0) playerContext->player.globalVolumeSlideSpeed = xy;  // one memory for all channels
}
