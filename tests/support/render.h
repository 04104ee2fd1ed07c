// Test support for the programs that play modules: a loaded player with the block fill's
// buffers, and the block fill's stretches for tests that mix them their own way. Pairs with
// render.cpp (library le_test_render).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace test_support {

// Loads the image (a refusal fails the test), resets the player, allocates the ring and the
// float buffer and starts at ring block 0; releases all of them and the module at the end.
class LoadedPlayer {
 public:
  LoadedPlayer(const std::uint8_t* bytes, std::size_t byteCount);
  explicit LoadedPlayer(const std::vector<std::uint8_t>& bytes) : LoadedPlayer(bytes.data(), bytes.size()) {}
  ~LoadedPlayer();
  LoadedPlayer(const LoadedPlayer&) = delete;
  LoadedPlayer& operator=(const LoadedPlayer&) = delete;
};

// The stretches into which the block fill cuts blockCount blocks, from the player's present
// state: a tick whenever the frames of the last one are used up, and a cut at every tick and
// every block end. stretch gets the first frame (counted from the first block) and the count.
void forEachStretch(std::uint32_t blockCount,
                    const std::function<void(std::uint64_t frame, std::uint32_t frameCount)>& stretch);

}  // namespace test_support
