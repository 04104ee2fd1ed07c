// What must hold of the player's records whatever module was loaded: the loaded module's
// shape and sample guards, the voices' positions after a block and the float block's values.
// Shared by the fuzz targets loader_fuzz and play_fuzz.
//
// Each check returns nullptr when all holds, or a static text naming the first thing that
// does not, so that a fuzz target can abort with it and a test can print it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "player/mixer.h"
#include "player/player.h"

// A zero-filled allocator with a budget, for useModuleAllocator: refuses (returns null) once the
// blocks handed out since the last reset would pass budgetBytes. A 2.6 KB image can ask for
// 256 patterns of 65535 x 32 empty cells, 2.7 GB; under a budget such an image is refused
// as out of memory, which is a path worth running as well.
struct AllocationBudget {
  static inline std::size_t budgetBytes = std::size_t{64} << 20;
  static inline std::size_t usedBytes = 0;

  static void* calloc(std::size_t count, std::size_t bytes) {
    if (bytes != 0 && count > (budgetBytes - usedBytes) / bytes) return nullptr;
    usedBytes += count * bytes;
    return std::calloc(count, bytes);
  }
};

// After a load that returned nullptr.
inline const char* checkLoadedModule() {
  if (playerContext->song.channelCount > MAX_CHANNELS) return "channelCount above 32";
  if (playerContext->song.patternCount > MAX_PATTERNS) return "patternCount above 256";
  if (playerContext->song.instrumentCount > MAX_INSTRUMENTS) return "instrumentCount above 128";
  if (playerContext->song.songLength == 0 || playerContext->song.songLength > MAX_ORDERS) return "songLength outside 1..256";
  if (playerContext->song.restartPosition >= playerContext->song.songLength) return "restartPosition at or past songLength";
  if (playerContext->song.defaultBpm == 0) return "defaultBpm 0";
  for (int p = 0; p < MAX_PATTERNS; ++p) {
    const Pattern& pattern = playerContext->patterns[p];
    const bool hasCells = p < playerContext->song.patternCount && pattern.rowCount != 0 && playerContext->song.channelCount != 0;
    if ((pattern.cells != nullptr) != hasCells) return "pattern cells present where there are none, or missing";
    if (p >= playerContext->song.patternCount && pattern.rowCount != 0) return "rows in a pattern beyond patternCount";
  }
  for (int i = 0; i < MAX_INSTRUMENTS; ++i) {
    const Instrument& instrument = playerContext->instruments[i];
    if (i >= playerContext->song.instrumentCount) {
      if (instrument.sampleCount != 0 || instrument.samples[0] != nullptr) return "instrument beyond instrumentCount set";
      continue;
    }
    if (instrument.sampleCount > MAX_SAMPLES_PER_INSTRUMENT) return "sampleCount above 16";
    for (const Envelope* envelope : {&instrument.volumeEnvelope, &instrument.panningEnvelope}) {
      if (envelope->pointCount > MAX_ENVELOPE_POINTS) return "envelope pointCount above 12";
      if (envelope->pointCount < 2 && envelope->flags != 0) return "envelope of fewer than 2 points is on";
    }
    for (int k = 0; k < MAX_SAMPLES_PER_INSTRUMENT; ++k) {
      const Sample* sample = instrument.samples[k];
      if (sample == nullptr) return "null sample slot";
      if (k >= instrument.sampleCount) {
        if (sample != &playerContext->emptySample) return "slot beyond sampleCount is not emptySample";
        continue;
      }
      if (sample == &playerContext->emptySample) return "real slot points at emptySample";
      const std::uint64_t loopEnd = std::uint64_t{sample->loopStart} + sample->loopLength;
      if (loopEnd > sample->length) return "loop ends past its sample";
      if ((sample->loopLength == 0) != (sample->length == 0)) return "loopLength 0 on a sample with frames";
      if (sample->loopKind != LOOP_NONE && sample->loopKind != LOOP_FORWARD && sample->loopKind != LOOP_PINGPONG)
        return "loopKind not one of the three";
      if ((sample->data == nullptr) != (sample->length == 0)) return "sample data missing or present without frames";
      if (sample->data == nullptr) continue;
      if (sample->bits != 16) return "sample data not widened to 16 bits";
      const std::int16_t* data = sample->data;
      if (sample->loopKind == LOOP_PINGPONG && data[loopEnd] != data[loopEnd - 1]) return "ping-pong guard frame wrong";
      if (sample->loopKind == LOOP_FORWARD && data[loopEnd] != data[sample->loopStart]) return "forward guard frame wrong";
      if (sample->loopKind == LOOP_NONE && data[sample->length] != 0) return "guard frame of a sample without a loop not 0";
      for (std::uint32_t n = sample->length + 1; n < sample->length + SAMPLE_PAD_FRAMES; ++n)
        if (data[n] != 0) return "padding frame after the guard not 0";
    }
  }
  return nullptr;
}

// After each block: every voice that holds a sample reads inside it now, and its volume is one
// a module can ask for. The mixer reads frames positionInt and positionInt + 1 (up to the
// guard frame after the sample); a ping-pong turn onto a loop start of 0 may leave positionInt
// at -1, which it reads as frame 0. A position a little past its end is fine: the frame count
// of a stretch uses the step cut to 24 fraction bits, so a stretch may cross the end by the
// lost low bits, and the next call handles the end at once. The final volume is at most 508:
// channel volume 255 (effect C) with every other factor at its maximum.
inline const char* checkVoices() {
  for (const Voice& voice : playerContext->voices) {
    const Sample* sample = voice.sample;
    if (sample == nullptr) continue;
    if (sample->data == nullptr) return "a voice still holds a sample without data after a block";
    if (voice.positionInt < -1) return "voice position below the sample's start";
    if (static_cast<std::int64_t>(voice.positionInt) > std::int64_t{sample->length}) return "voice position past the sample's end";
    if (voice.stepInt >= 256) return "voice step of 256 frames or more";
    if (voice.volume < 0 || voice.volume > 508) return "voice volume outside 0..508";
  }
  return nullptr;
}

// Every float of the block is a finite value.
inline const char* checkFinite(const float* values, std::size_t valueCount) {
  for (std::size_t i = 0; i < valueCount; ++i)
    if (!std::isfinite(values[i])) return "a NaN or an infinity in the float block";
  return nullptr;
}
