// The module loader: unpacks an XM image into the song, pattern, instrument and sample records
// of the player's context, and releases them. Refusal texts and the allocation hook are in
// module_load.h.
//
// Index
//   [SECTION] Allocation
//   [SECTION] Bounds-checked image view
//   [SECTION] Header and patterns
//   [SECTION] Instruments and samples
//   [SECTION] Load and release
#include "player/module.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "player/module_load.h"
#include "player/player.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

// The Song is filled by copying its 272 bytes out of the image.
static_assert(std::endian::native == std::endian::little, "Song is copied as little-endian bytes");

//-----------------------------------------------------------------------------
// [SECTION] Allocation
//-----------------------------------------------------------------------------

namespace {
void* systemCalloc(std::size_t count, std::size_t bytes) { return std::calloc(count, bytes); }
void* (*moduleCalloc)(std::size_t count, std::size_t bytes) = systemCalloc;
}  // namespace

void useModuleAllocator(void* (*allocateZeroed)(std::size_t count, std::size_t bytes)) {
  moduleCalloc = allocateZeroed != nullptr ? allocateZeroed : systemCalloc;
}

namespace {

//-----------------------------------------------------------------------------
// [SECTION] Bounds-checked image view
//-----------------------------------------------------------------------------

// Offsets are 64-bit so that a position plus a 32-bit size from the file cannot wrap. Every
// read is preceded by a holds() over the span it reads; the readers themselves trust it.
struct ImageView {
  const std::uint8_t* bytes;
  std::uint64_t byteCount;

  bool holds(std::uint64_t offset, std::uint64_t count) const {
    return offset <= byteCount && count <= byteCount - offset;
  }
  std::uint8_t u8(std::uint64_t offset) const { return bytes[offset]; }
  std::uint16_t u16(std::uint64_t offset) const {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
  }
  std::uint32_t u32(std::uint64_t offset) const {
    return static_cast<std::uint32_t>(u16(offset)) | static_cast<std::uint32_t>(u16(offset + 2)) << 16;
  }
};

constexpr std::uint64_t SONG_OFFSET = 64;
constexpr std::uint64_t FILE_HEADER_BYTES = SONG_OFFSET + sizeof(Song);  // 336
constexpr std::uint64_t PATTERN_HEADER_BYTES = 9;       // whatever its length field says
constexpr std::uint64_t EMPTY_INSTRUMENT_FIELDS_BYTES = 29;  // size, name, type, sample count
constexpr std::uint64_t INSTRUMENT_FIELDS_BYTES = 241;  // up to and including the fade-out
constexpr std::uint64_t SAMPLE_HEADER_BYTES = 40;       // whatever the instrument says

//-----------------------------------------------------------------------------
// [SECTION] Header and patterns
//-----------------------------------------------------------------------------

const char* readSong(const ImageView& image, std::uint64_t& position) {
  if (!image.bytes || !image.holds(0, FILE_HEADER_BYTES)) return LOAD_ENDS_IN_HEADER;
  Song header;
  std::memcpy(&header, image.bytes + SONG_OFFSET, sizeof header);
  if (header.channelCount > MAX_CHANNELS) return LOAD_TOO_MANY_CHANNELS;
  if (header.patternCount > MAX_PATTERNS) return LOAD_TOO_MANY_PATTERNS;
  if (header.instrumentCount > MAX_INSTRUMENTS) return LOAD_TOO_MANY_INSTRUMENTS;
  if (header.songLength == 0 || header.songLength > MAX_ORDERS) return LOAD_BAD_SONG_LENGTH;
  if (header.defaultBpm == 0) return LOAD_ZERO_BPM;
  // The sequencer restarts at this order when the song runs off its end; one that does not
  // exist restarts the song from the top.
  if (header.restartPosition >= header.songLength) header.restartPosition = 0;
  playerContext->song = header;
  position = 60 + static_cast<std::uint64_t>(image.u32(60));
  return nullptr;
}

// One cell at position: a mask byte (bit 7 set) and the fields it announces, or five plain
// bytes whose first is the note.
bool readCell(const ImageView& image, std::uint64_t& position, NoteCell& cell) {
  if (!image.holds(position, 1)) return false;
  const std::uint8_t* const at = image.bytes + position;
  const std::uint8_t first = at[0];
  if (first == 0x80) {  // most packed cells: the lone mask byte of an empty cell
    cell = {};
    position += 1;
    return true;
  }
  // The whole cell's length from its first byte, so that one look covers all its reads: the
  // mask byte and one byte for each of bits 0 to 4, or five plain bytes.
  const std::uint64_t cellBytes =
      first & 0x80 ? 1u + (first & 1u) + (first >> 1 & 1u) + (first >> 2 & 1u) + (first >> 3 & 1u) +
                         (first >> 4 & 1u)
                   : 5;
  if (!image.holds(position, cellBytes)) return false;
  if (first & 0x80) {
    const std::uint8_t* field = at + 1;
    const auto next = [&field, first](unsigned bit) -> std::uint8_t {
      return (first & bit) != 0 ? *field++ : 0;
    };
    cell.note = next(1);
    cell.instrument = next(2);
    cell.volume = next(4);
    cell.effect = next(8);
    cell.effectParam = next(16);
  } else {
    cell = {at[0], at[1], at[2], at[3], at[4]};
  }
  position += cellBytes;
  if (cell.note == 97) cell.note = NOTE_KEY_OFF;
  return true;
}

const char* readPatterns(const ImageView& image, std::uint64_t& position) {
  const Song& song = playerContext->song;
  Pattern* const patterns = playerContext->patterns;
  for (int p = 0; p < song.patternCount; ++p) {
    if (!image.holds(position, PATTERN_HEADER_BYTES)) return LOAD_ENDS_IN_PATTERN;
    const std::uint16_t rowCount = image.u16(position + 5);
    const std::uint16_t packedBytes = image.u16(position + 7);
    position += PATTERN_HEADER_BYTES;
    patterns[p].rowCount = rowCount;
    const std::size_t cellCount = static_cast<std::size_t>(rowCount) * song.channelCount;
    // A pattern without cells (0 rows or 0 channels) keeps null cells, like a pattern number
    // beyond patternCount, so no reader can take row 0 of it for a row that exists.
    if (cellCount == 0) continue;
    // Every packed cell takes at least one byte: refuse before allocating for cells that
    // cannot be there.
    if (packedBytes != 0 && !image.holds(position, cellCount)) return LOAD_ENDS_IN_PATTERN;
    NoteCell* cells = static_cast<NoteCell*>(moduleCalloc(cellCount, sizeof(NoteCell)));
    if (!cells) return LOAD_OUT_OF_MEMORY;
    patterns[p].cells = cells;
    if (packedBytes == 0) continue;  // all cells empty, no data follows
    for (std::size_t c = 0; c < cellCount; ++c)
      if (!readCell(image, position, cells[c])) return LOAD_ENDS_IN_PATTERN;
  }
  return nullptr;
}

//-----------------------------------------------------------------------------
// [SECTION] Instruments and samples
//-----------------------------------------------------------------------------

// points at `offset`: 12 x (u16 tick, u16 value).
void readEnvelopePoints(const ImageView& image, std::uint64_t offset, Envelope& envelope) {
  for (int i = 0; i < MAX_ENVELOPE_POINTS; ++i)
    envelope.points[i] = {image.u16(offset + 4 * i), image.u16(offset + 4 * i + 2)};
}

// The fields at their fixed offsets from h, whatever the header size says.
const char* readInstrumentFields(const ImageView& image, std::uint64_t h, Instrument& instrument) {
  if (!image.holds(h, INSTRUMENT_FIELDS_BYTES)) return LOAD_ENDS_IN_INSTRUMENT;
  std::memcpy(instrument.sampleMap, image.bytes + h + 33, NOTE_MAP_SIZE);
  Envelope& volume = instrument.volumeEnvelope;
  Envelope& panning = instrument.panningEnvelope;
  readEnvelopePoints(image, h + 129, volume);
  readEnvelopePoints(image, h + 177, panning);
  volume.pointCount = image.u8(h + 225);
  panning.pointCount = image.u8(h + 226);
  if (volume.pointCount > MAX_ENVELOPE_POINTS || panning.pointCount > MAX_ENVELOPE_POINTS)
    return LOAD_TOO_MANY_POINTS;
  volume.sustainPoint = image.u8(h + 227);
  volume.loopStartPoint = image.u8(h + 228);
  volume.loopEndPoint = image.u8(h + 229);
  panning.sustainPoint = image.u8(h + 230);
  panning.loopStartPoint = image.u8(h + 231);
  panning.loopEndPoint = image.u8(h + 232);
  volume.flags = image.u8(h + 233);
  panning.flags = image.u8(h + 234);
  instrument.vibratoType = image.u8(h + 235);
  instrument.vibratoSweep = image.u8(h + 236);
  instrument.vibratoDepth = image.u8(h + 237);
  instrument.vibratoRate = image.u8(h + 238);
  // Doubled in 16 bits: a file value of 32768 or more loses its top bit (40000 gives 14464).
  instrument.fadeout = static_cast<std::uint16_t>(image.u16(h + 239) * 2);
  if (volume.pointCount < 2) volume.flags = 0;
  if (panning.pointCount < 2) panning.flags = 0;
  return nullptr;
}

// The 40-byte header at `offset`, converted from byte counts to frames.
void readSampleHeader(const ImageView& image, std::uint64_t offset, Sample& sample) {
  sample.length = image.u32(offset);
  sample.loopStart = image.u32(offset + 4);
  sample.loopLength = image.u32(offset + 8);
  sample.volume = image.u8(offset + 12);
  sample.finetune = static_cast<std::int8_t>(image.u8(offset + 13));
  const std::uint8_t type = image.u8(offset + 14);
  sample.panning = image.u8(offset + 15);
  sample.relativeNote = static_cast<std::int8_t>(image.u8(offset + 16));

  sample.loopKind = LOOP_NONE;
  sample.bits = 8;
  if (type & 0x01) sample.loopKind = LOOP_FORWARD;
  if (type & 0x02) sample.loopKind = LOOP_PINGPONG;  // so type 3 is ping-pong too
  if (sample.loopKind == LOOP_NONE) {
    sample.loopStart = 0;
    sample.loopLength = sample.length;
  }
  if (type & 0x10) {
    // Byte counts to 16-bit frames; an odd count rounds down.
    sample.length >>= 1;
    sample.loopStart >>= 1;
    sample.loopLength >>= 1;
    sample.bits = 16;
  }
  // A loop that ends past the sample is cut at its end: the start is clamped to the length,
  // then the loop to what is left (length 100, start 90, loop 20 gives a loop of 90..99).
  sample.loopStart = std::min(sample.loopStart, sample.length);
  sample.loopLength = std::min(sample.loopLength, sample.length - sample.loopStart);
  if (sample.loopLength == 0) {
    sample.loopStart = 0;
    sample.loopLength = sample.length;
    sample.loopKind = LOOP_NONE;
  }
}

#if defined(__x86_64__) || defined(_M_X64)
// The running sums of a register's lanes, each lane plus all below it: log2(lanes) shifted
// adds, which wrap per lane as the scalar sums do.
inline __m128i prefixSumBytes(__m128i x) {
  x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
  x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
  x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
  return _mm_add_epi8(x, _mm_slli_si128(x, 8));
}
inline __m128i prefixSumWords(__m128i x) {
  x = _mm_add_epi16(x, _mm_slli_si128(x, 2));
  x = _mm_add_epi16(x, _mm_slli_si128(x, 4));
  return _mm_add_epi16(x, _mm_slli_si128(x, 8));
}
// Word 7 of x in all eight words.
inline __m128i broadcastLastWord(__m128i x) {
  const __m128i high = _mm_shufflehi_epi16(x, 0xFF);
  return _mm_unpackhi_epi64(high, high);
}

// The 8-bit deltas 16 at a time, as long as 16 are left; returns how many were decoded and
// leaves the last frame in value. An 8-bit delta only ever moves the high byte and the low
// byte stays 0, so the sums are formed on bytes (modulo 256, as the high byte wraps) and
// then widened with a zero low byte.
std::uint32_t decodeDeltas8(const std::uint8_t* deltas, std::uint32_t length, std::int16_t* data,
                            std::uint16_t& value) {
  const __m128i zero = _mm_setzero_si128();
  __m128i carry = zero;  // the last frame's high byte in every byte
  std::uint32_t n = 0;
  for (; length - n >= 16; n += 16) {
    const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(deltas + n));
    const __m128i sums = _mm_add_epi8(prefixSumBytes(loaded), carry);
    const __m128i high = _mm_unpackhi_epi8(zero, sums);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + n), _mm_unpacklo_epi8(zero, sums));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + n + 8), high);
    carry = broadcastLastWord(_mm_unpackhi_epi8(sums, sums));
  }
  if (n != 0) value = static_cast<std::uint16_t>(data[n - 1]);
  return n;
}

// The 16-bit deltas (little-endian, as the image and x86 store them) 8 at a time; as above.
std::uint32_t decodeDeltas16(const std::uint8_t* deltas, std::uint32_t length, std::int16_t* data,
                             std::uint16_t& value) {
  __m128i carry = _mm_setzero_si128();  // the last frame in every word
  std::uint32_t n = 0;
  for (; length - n >= 8; n += 8) {
    const __m128i loaded =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(deltas + 2 * std::size_t{n}));
    const __m128i sums = _mm_add_epi16(prefixSumWords(loaded), carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + n), sums);
    carry = broadcastLastWord(sums);
  }
  if (n != 0) value = static_cast<std::uint16_t>(data[n - 1]);
  return n;
}
#endif

bool hasLoopRun(const Sample& sample) {
  return sample.loopKind == LOOP_FORWARD && sample.loopLength != 0 &&
         sample.loopLength <= LOOP_RUN_MAX_LOOP;
}

// Widens and delta-decodes `sample.length` frames at `offset` into sample.data (length + 8
// frames, zero-filled), then writes the loop's guard frame and a short forward loop's run
// (Sample::loopRun). Sums wrap modulo 65536, so an
// 8-bit delta lands in the high byte: deltas 10, 246 give 2560, 0.
void decodeSampleData(const ImageView& image, std::uint64_t offset, Sample& sample) {
  std::uint16_t value = 0;
  std::uint32_t n = 0;
  if (sample.bits == 8) {
#if defined(__x86_64__) || defined(_M_X64)
    n = decodeDeltas8(image.bytes + offset, sample.length, sample.data, value);
#endif
    for (; n < sample.length; ++n) {
      value = static_cast<std::uint16_t>(value + (image.u8(offset + n) << 8));
      sample.data[n] = static_cast<std::int16_t>(value);
    }
    sample.bits = 16;
  } else {
#if defined(__x86_64__) || defined(_M_X64)
    n = decodeDeltas16(image.bytes + offset, sample.length, sample.data, value);
#endif
    for (; n < sample.length; ++n) {
      value = static_cast<std::uint16_t>(value + image.u16(offset + 2 * std::uint64_t{n}));
      sample.data[n] = static_cast<std::int16_t>(value);
    }
  }
  const std::uint32_t loopEnd = sample.loopStart + sample.loopLength;  // <= length
  if (sample.loopKind == LOOP_PINGPONG) sample.data[loopEnd] = sample.data[loopEnd - 1];
  if (sample.loopKind == LOOP_FORWARD) sample.data[loopEnd] = sample.data[sample.loopStart];
  if (hasLoopRun(sample)) {
    // The loop once, then the frames so far copied after themselves, doubling each time.
    std::int16_t* const run = sample.data + sample.length + SAMPLE_PAD_FRAMES;
    std::memcpy(run, sample.data + sample.loopStart, sample.loopLength * sizeof(std::int16_t));
    for (std::uint32_t filled = sample.loopLength; filled < LOOP_RUN_FRAMES; filled *= 2) {
      std::memcpy(run + filled, run,
                  std::min(filled, LOOP_RUN_FRAMES - filled) * sizeof(std::int16_t));
    }
    sample.loopRun = run;
  }
}

const char* readInstrument(const ImageView& image, std::uint64_t& position, Instrument& instrument) {
  const std::uint64_t h = position;
  if (!image.holds(h, EMPTY_INSTRUMENT_FIELDS_BYTES)) return LOAD_ENDS_IN_INSTRUMENT;
  const std::uint16_t sampleCount = image.u16(h + 27);
  const std::uint64_t next = h + image.u32(h);
  Sample* const emptySample = &playerContext->emptySample;
  if (sampleCount == 0) {
    std::fill(std::begin(instrument.samples), std::end(instrument.samples), emptySample);
    position = next;
    return nullptr;
  }
  if (sampleCount > MAX_SAMPLES_PER_INSTRUMENT) return LOAD_TOO_MANY_SAMPLES;
  if (const char* refusal = readInstrumentFields(image, h, instrument)) return refusal;

  position = next;
  if (!image.holds(position, SAMPLE_HEADER_BYTES * sampleCount)) return LOAD_ENDS_IN_SAMPLE_HEADER;
  // Bytes of data each sample takes in the image, as its header says. For 16-bit data this
  // is the byte count before halving, so an odd count still moves to the next sample's data.
  std::uint32_t dataBytes[MAX_SAMPLES_PER_INSTRUMENT] = {};
  for (int k = 0; k < sampleCount; ++k) {
    Sample* sample = static_cast<Sample*>(moduleCalloc(1, sizeof(Sample)));
    if (!sample) return LOAD_OUT_OF_MEMORY;
    instrument.samples[k] = sample;
    instrument.sampleCount = static_cast<std::uint16_t>(k + 1);  // what a release must free
    dataBytes[k] = image.u32(position);
    readSampleHeader(image, position, *sample);
    position += SAMPLE_HEADER_BYTES;
  }
  std::fill(instrument.samples + sampleCount, std::end(instrument.samples), emptySample);

  for (int k = 0; k < sampleCount; ++k) {
    Sample& sample = *instrument.samples[k];
    if (!image.holds(position, dataBytes[k])) return LOAD_ENDS_IN_SAMPLE_DATA;
    if (sample.length != 0) {
      const std::size_t runFrames = hasLoopRun(sample) ? LOOP_RUN_FRAMES : 0;
      sample.data = static_cast<std::int16_t*>(moduleCalloc(
          std::size_t{sample.length} + SAMPLE_PAD_FRAMES + runFrames, sizeof(std::int16_t)));
      if (!sample.data) return LOAD_OUT_OF_MEMORY;
      decodeSampleData(image, position, sample);
    }
    position += dataBytes[k];
  }
  return nullptr;
}

const char* readInstruments(const ImageView& image, std::uint64_t& position) {
  PlayerContext& c = *playerContext;
  for (int i = 0; i < c.song.instrumentCount; ++i)
    if (const char* refusal = readInstrument(image, position, c.instruments[i])) return refusal;
  return nullptr;
}

}  // namespace

//-----------------------------------------------------------------------------
// [SECTION] Load and release
//-----------------------------------------------------------------------------

const char* loadModule(const std::uint8_t* image, std::size_t imageBytes) {
  releaseModule();
  // The set-finetune effect may have written into these during the last run.
  playerContext->emptyInstrument = {};
  playerContext->emptySample = {};

  const ImageView view{image, imageBytes};
  std::uint64_t position = 0;
  const char* refusal = readSong(view, position);
  if (!refusal) refusal = readPatterns(view, position);
  if (!refusal) refusal = readInstruments(view, position);
  if (refusal) releaseModule();
  return refusal;
}

void releaseModule() {
  PlayerContext& c = *playerContext;
  const int instrumentCount = std::min<int>(c.song.instrumentCount, MAX_INSTRUMENTS);
  for (int i = 0; i < instrumentCount; ++i) {
    Instrument& instrument = c.instruments[i];
    const int sampleCount = std::min<int>(instrument.sampleCount, MAX_SAMPLES_PER_INSTRUMENT);
    for (int k = 0; k < sampleCount; ++k) {
      Sample* sample = instrument.samples[k];
      if (!sample || sample == &c.emptySample) continue;
      std::free(sample->data);
      std::free(sample);
    }
  }
  const int patternCount = std::min<int>(c.song.patternCount, MAX_PATTERNS);
  for (int p = 0; p < patternCount; ++p) std::free(c.patterns[p].cells);

  // Cleared so that a second release, or a load after it, finds nothing to free twice.
  std::fill(std::begin(c.instruments), std::end(c.instruments), Instrument{});
  std::fill(std::begin(c.patterns), std::end(c.patterns), Pattern{});
  c.song = {};
}
