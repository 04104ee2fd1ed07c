// The one instance of the player's context (player.h). Built into the mixer's library, the
// one that every other part of the player links, so that the mixer alone (its benchmark) and
// the loader alone (its test) find it too.
#include "player/player.h"

namespace {

PlayerContext context;

}  // namespace

PlayerContext* const playerContext = &context;
