// The ring, the float buffer, the block fill and the playback thread's body. Pairs with
// output.h; the device and the thread come from device.h.
#include "audio/output.h"

#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define LE_OUTPUT_AVX2 1
#endif

#include "audio/device.h"
#include "player/mixer.h"
#include "player/player.h"

static_assert(std::endian::native == std::endian::little,
              "the ring holds little-endian samples and is written as native int16");

namespace {

AudioOutput output;

void* (*allocateZeroedBytes)(std::size_t bytes) = nullptr;

void* allocateZeroed(std::size_t bytes) {
  return allocateZeroedBytes != nullptr ? allocateZeroedBytes(bytes) : std::calloc(bytes, 1);
}

}  // namespace

AudioOutput* const audioOutput = &output;

void useAudioAllocator(void* (*allocate)(std::size_t bytes)) { allocateZeroedBytes = allocate; }

bool allocateRing() {
  AudioOutput& o = *audioOutput;
  o.waveRing = static_cast<std::uint8_t*>(allocateZeroed(RING_BYTES));
  return o.waveRing != nullptr;
}

bool allocateMixBuffer() {
  AudioOutput& o = *audioOutput;
  o.mixBufferRaw = allocateZeroed(MIX_BUFFER_BYTES);
  if (o.mixBufferRaw == nullptr) return false;
  const std::uintptr_t raw = reinterpret_cast<std::uintptr_t>(o.mixBufferRaw);
  const std::uintptr_t aligned = (raw + (MIX_BUFFER_ALIGNMENT - 1)) & ~std::uintptr_t{MIX_BUFFER_ALIGNMENT - 1};
  o.mixBuffer = reinterpret_cast<float*>(aligned);
  return true;
}

void releaseMixBuffer() {
  AudioOutput& o = *audioOutput;
  std::free(o.mixBufferRaw);
  o.mixBufferRaw = nullptr;
  o.mixBuffer = nullptr;
}

void releaseRing() {
  std::free(audioOutput->waveRing);
  audioOutput->waveRing = nullptr;
}

//-----------------------------------------------------------------------------
// [SECTION] Block fill
//-----------------------------------------------------------------------------

#if LE_OUTPUT_AVX2
namespace {

bool cpuHasAvx2() {
  __builtin_cpu_init();  // may run before the constructors that would otherwise do it
  return __builtin_cpu_supports("avx2");
}

// Before its initialiser has run this reads false, and the SSE2 loop alone does the work.
const bool outputHasAvx2 = cpuHasAvx2();

// The SSE2 loop of floatToPcm16 below, sixteen at a time in 256-bit registers, with the
// same operations on every sample; returns how many it converted. The pack works within
// each 128-bit half, so the two middle quarters are swapped back after it.
__attribute__((target("avx2"))) inline __m256i roundedClamped(const float* source) {
  const __m256 x = _mm256_loadu_ps(source);
  const __m256 ordered = _mm256_and_ps(x, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
  return _mm256_cvtps_epi32(
      _mm256_min_ps(_mm256_max_ps(ordered, _mm256_set1_ps(-32768.0f)), _mm256_set1_ps(32767.0f)));
}

__attribute__((target("avx2"))) std::uint32_t floatToPcm16Avx2(std::int16_t* destination,
                                                               const float* source,
                                                               std::uint32_t sampleCount) {
  std::uint32_t i = 0;
  for (; i + 16 <= sampleCount; i += 16) {
    const __m256i first = roundedClamped(source + i);
    const __m256i second = roundedClamped(source + i + 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i),
                        _mm256_permute4x64_epi64(_mm256_packs_epi32(first, second), 0xD8));
  }
  return i;
}

}  // namespace
#endif

void floatToPcm16(std::int16_t* destination, const float* source, std::uint32_t sampleCount) {
  std::uint32_t i = 0;
#if LE_OUTPUT_AVX2
  if (outputHasAvx2) i = floatToPcm16Avx2(destination, source, sampleCount);
#endif
#if defined(__SSE2__)
  // Eight at a time, with the same results as roundToInt and the saturation below. A float
  // widens to double exactly, so rounding it as a float in the same mode (nearest, halves to
  // even) gives the same integer. Clamping to -32768..32767 first keeps the conversion
  // within 32 bits and changes nothing that saturation would not: 32767.5 rounds to 32768
  // and saturates to 32767, clamped it rounds to 32767. NaN is cleared to 0 first, as
  // roundToInt makes it 0.
  const __m128 low = _mm_set1_ps(-32768.0f);
  const __m128 high = _mm_set1_ps(32767.0f);
  const auto clamp = [&](__m128 x) {
    x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
    return _mm_min_ps(_mm_max_ps(x, low), high);
  };
  for (; i + 8 <= sampleCount; i += 8) {
    const __m128i first = _mm_cvtps_epi32(clamp(_mm_loadu_ps(source + i)));
    const __m128i second = _mm_cvtps_epi32(clamp(_mm_loadu_ps(source + i + 4)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), _mm_packs_epi32(first, second));
  }
#endif
  for (; i < sampleCount; ++i) {
    std::int32_t value = roundToInt(static_cast<double>(source[i]));
    if (value > 32767) value = 32767;
    if (value < -32768) value = -32768;
    destination[i] = static_cast<std::int16_t>(value);
  }
}

void fillBlock() {
  AudioOutput& o = *audioOutput;
  assert(o.waveRing != nullptr && o.mixBuffer != nullptr && "fillBlock needs the ring and the float buffer");
  const std::uint32_t block = static_cast<std::uint32_t>(o.writeBlock);
  float* frames = o.mixBuffer + block * BLOCK_SAMPLES;
  std::memset(frames, 0, BLOCK_SAMPLES * sizeof(float));

  // Unsigned, so that a stretch can never be negative; done + framesLeft never exceeds
  // BLOCK_FRAMES, so the limit below is written as a difference that cannot wrap.
  Player& player = playerContext->player;
  std::uint32_t tickFramesLeft = static_cast<std::uint32_t>(player.tickSamplesLeft);
  std::uint32_t framesDone = 0;
  do {
    if (tickFramesLeft == 0) {
      playerTick();
      tickFramesLeft = static_cast<std::uint32_t>(player.samplesPerTick);
      assert(tickFramesLeft != 0 && "a tick of 0 frames would never let the block end");
    }
    std::uint32_t stretchFrames = tickFramesLeft;
    if (stretchFrames > BLOCK_FRAMES - framesDone) stretchFrames = BLOCK_FRAMES - framesDone;
    mixVoicesIntoClearedBlock(frames + framesDone * 2, stretchFrames);
    framesDone += stretchFrames;
    tickFramesLeft -= stretchFrames;
  } while (framesDone < BLOCK_FRAMES);
  player.tickSamplesLeft = static_cast<std::int32_t>(tickFramesLeft);

  floatToPcm16(reinterpret_cast<std::int16_t*>(o.waveRing + block * BLOCK_BYTES), frames, BLOCK_SAMPLES);
  o.writeBlock = static_cast<std::int32_t>(block + 1 >= RING_BLOCKS ? 0 : block + 1);
  o.blocksPublished.fetch_add(1, std::memory_order_release);
}

std::uint32_t blockAtBytePosition(std::uint64_t bytesPlayed) {
  return static_cast<std::uint32_t>(((bytesPlayed / FRAME_BYTES) % RING_FRAMES) / BLOCK_FRAMES);
}

//-----------------------------------------------------------------------------
// [SECTION] Playback thread
//-----------------------------------------------------------------------------

std::uint32_t playbackThreadProc(void*) {
  AudioOutput& o = *audioOutput;
  o.threadAlive.store(1);
  while (o.playbackRunning.load() != 0) {
    std::uint64_t bytesPlayed = 0;
    if (o.waveDevice->position(&bytesPlayed)) {
      // Computed once per pass: the block being played is never written, so the writer stops
      // at the block before it, about 1.98 s ahead of what is heard.
      const std::int32_t playingBlock = static_cast<std::int32_t>(blockAtBytePosition(bytesPlayed));
      while (o.writeBlock != playingBlock) fillBlock();
    }
    o.threadOps->sleepPollInterval();
  }
  o.threadAlive.store(0);
  return 0;
}
