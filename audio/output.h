// The audio output core: the looping ring of 16-bit PCM blocks, the float mix buffer beside
// it, the block fill and the playback thread's body. Portable: the platform pieces sit behind
// device.h. Pairs with music.cpp (start and stop) and tools/xm-render (renders without a device).
//
// Index
//   [SECTION] Format and sizes
//   [SECTION] Output state
//   [SECTION] Block fill
//   [SECTION] Playback thread
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct AudioDevice;
struct ThreadOps;
using ThreadHandle = void*;  // a thread made by ThreadOps::create (device.h)

//-----------------------------------------------------------------------------
// [SECTION] Format and sizes
//-----------------------------------------------------------------------------

// The fields of a wave-out format record, in its order; the wave-out device copies them
// into a WAVEFORMATEX, the other devices read the rate and the sample width from it.
struct WaveFormat {
  std::uint16_t formatTag;       // = 1, PCM
  std::uint16_t channels;        // = 2, left sample first
  std::uint32_t samplesPerSec;   // = 44100, frames per second
  std::uint32_t avgBytesPerSec;  // = 176400
  std::uint16_t blockAlign;      // = 4, bytes per frame
  std::uint16_t bitsPerSample;   // = 16, signed little-endian
  std::uint16_t extraSize;       // = 0
};

constexpr WaveFormat PLAYBACK_FORMAT = {1, 2, 44100, 176400, 4, 16, 0};

constexpr std::uint32_t FRAME_BYTES = 4;                              // two signed 16-bit samples
constexpr std::uint32_t BLOCK_FRAMES = 884;                           // about 20.05 ms
constexpr std::uint32_t RING_BLOCKS = 100;                            // about 2.0045 s
constexpr std::uint32_t BLOCK_BYTES = BLOCK_FRAMES * FRAME_BYTES;     // 3536
constexpr std::uint32_t BLOCK_SAMPLES = BLOCK_FRAMES * 2;             // 1768 floats or PCM samples
constexpr std::uint32_t RING_FRAMES = RING_BLOCKS * BLOCK_FRAMES;     // 88400
constexpr std::uint32_t RING_BYTES = RING_FRAMES * FRAME_BYTES;       // 353600
constexpr std::uint32_t MIX_BUFFER_BYTES = 707456;  // 707200 used, the rest absorbs the alignment
constexpr std::uint32_t MIX_BUFFER_ALIGNMENT = 16;
constexpr std::uint32_t POLL_INTERVAL_MS = 5;
static_assert(RING_FRAMES * 2 * sizeof(float) + MIX_BUFFER_ALIGNMENT <= MIX_BUFFER_BYTES,
              "the float ring and its alignment slack must fit the allocation");

//-----------------------------------------------------------------------------
// [SECTION] Output state
//-----------------------------------------------------------------------------

// The audio output's whole state, one instance (output.cpp) reached through audioOutput.
// Written by the dialog's thread while stopped or priming, then only by the playback thread
// until stopMusic has seen threadAlive fall to 0.
struct AudioOutput {
  std::uint8_t* waveRing = nullptr;  // RING_BYTES, interleaved 16-bit stereo; null when stopped
  void* mixBufferRaw = nullptr;      // the allocation that is released; null when stopped
  float* mixBuffer = nullptr;        // first 16-byte-aligned address in mixBufferRaw:
                                     // RING_FRAMES x 2 floats
  const AudioDevice* waveDevice = nullptr;  // the open device; null when none
  std::int32_t writeBlock = 0;              // 0..RING_BLOCKS-1, the next block to fill

  // 1 while the thread shall go on: set by startMusic before the thread exists, cleared by
  // stopMusic. Sequentially consistent, as is threadAlive: stopMusic's clear-then-read and
  // the thread's set-then-read must not pass each other, or stopMusic could release the
  // buffers while the thread is inside a pass.
  std::atomic<std::int32_t> playbackRunning{0};
  // 1 from the thread's first step to its last; written by the thread only.
  std::atomic<std::int32_t> threadAlive{0};

  // Counts finished blocks with release order. A device whose ring reader runs on a thread
  // of its own (PortAudio's callback) loads it with acquire order before copying, so that
  // what the playback thread wrote happens before what the reader reads.
  std::atomic<std::uint32_t> blocksPublished{0};

  const ThreadOps* threadOps = nullptr;  // set by startMusic before the thread exists
  ThreadHandle playbackThread = nullptr;  // startMusic's thread; null when none runs
};

extern AudioOutput* const audioOutput;

// Allocates the zero-filled ring or float buffer; false (and nothing kept) when the memory
// cannot be had. releaseMixBuffer and releaseRing accept a buffer that was never allocated.
bool allocateRing();
bool allocateMixBuffer();
void releaseMixBuffer();
void releaseRing();

// Replaces calloc for the two buffers, so that tests can refuse an allocation; nullptr
// restores calloc. Whatever it returns is released with free.
void useAudioAllocator(void* (*allocateZeroed)(std::size_t bytes));

//-----------------------------------------------------------------------------
// [SECTION] Block fill
//-----------------------------------------------------------------------------

// Renders block writeBlock: clears its 884 float frames, mixes them in stretches cut at every
// tick (player.tickSamplesLeft carries the tick's remaining frames across blocks), converts
// them into the ring and advances writeBlock, wrapping after block 99. Needs the ring, the
// float buffer and a loaded, reset player. Runs on the dialog's thread while priming, then
// only on the playback thread; xm-render calls it with no device at all.
void fillBlock();

// Rounds each float to the nearest integer (halves to the even one: 2.5 gives 2, -1.5 gives
// -2), saturates it to -32768..32767 and stores it. No scaling: the mixer works in 16-bit
// sample units.
void floatToPcm16(std::int16_t* destination, const float* source, std::uint32_t sampleCount);

// The ring block that holds byte bytesPlayed of an endless replay of the ring.
std::uint32_t blockAtBytePosition(std::uint64_t bytesPlayed);

//-----------------------------------------------------------------------------
// [SECTION] Playback thread
//-----------------------------------------------------------------------------

// The thread body. Every POLL_INTERVAL_MS it asks waveDevice how far it has played and fills
// every block from writeBlock up to the one before the block being played. A position that
// cannot be read skips the pass's fills, never the sleep. The sleep comes from threadOps.
// Returns 0.
std::uint32_t playbackThreadProc(void* ignored);
