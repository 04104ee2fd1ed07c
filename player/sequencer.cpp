// The sequencer: the player's clock and song position. One playerTick per samplesPerTick
// frames; a row's first tick applies the pending position and processes the row, the later
// ticks run the per-tick effects. Pairs with row.cpp and tick_effects.cpp.

#include "player/rows.h"

namespace {

std::int32_t currentRowCount() {
  const Pattern* pattern = currentPattern();
  return pattern == nullptr ? 0 : pattern->rowCount;
}

}  // namespace

void playerTick() {
  PlayerContext& c = *playerContext;
  Player& player = c.player;
  if (player.tick == 0) {
    if (player.nextOrder >= 0) player.orderPos = player.nextOrder;
    if (player.nextRow >= 0) player.row = player.nextRow;
    // A break row (up to 63) or a loop row recorded in a longer pattern can lie past the end
    // of the pattern that play has moved to: that pattern then plays from its row 0, as a
    // break beyond row 63 does. A pattern without cells keeps its row; it plays as one
    // empty row whatever the row is.
    const std::int32_t rowCount = currentRowCount();
    if (rowCount > 0 && player.row >= rowCount) player.row = 0;

    processRow();  // clears the pending position; the row's effects may set it again

    if (player.nextRow < 0) {
      player.nextRow = player.row + 1;
      if (player.nextRow >= rowCount) {
        // Off the end of the last order the song goes on at its restart position; jumps and
        // breaks past it have already wrapped to order 0.
        player.nextOrder = player.orderPos + 1 >= c.song.songLength ? c.song.restartPosition
                                                                    : player.orderPos + 1;
        player.nextRow = 0;
      }
    }
  } else {
    processTickEffects();
  }
  // A row lasts speed + patternDelay ticks and at least one: at speed 0 every tick is a
  // row's first.
  player.tick += 1;
  if (player.tick >= player.speed + player.patternDelay) {
    player.tick = 0;
    player.patternDelay = 0;
  }
}
