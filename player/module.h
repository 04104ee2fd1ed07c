// The runtime form of an Extended Module (XM): song, patterns, instruments, envelopes and
// samples, and the loader that unpacks a module image into them. Pairs with mixer.h (which
// plays the Sample data) and player.h (which reads everything else).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int MAX_CHANNELS = 32;
constexpr int MAX_PATTERNS = 256;
constexpr int MAX_INSTRUMENTS = 128;
constexpr int MAX_SAMPLES_PER_INSTRUMENT = 16;
constexpr int MAX_ENVELOPE_POINTS = 12;
constexpr int MAX_ORDERS = 256;
constexpr int NOTE_MAP_SIZE = 96;  // one sample slot per note, C-0 upward

constexpr std::uint8_t NOTE_KEY_OFF = 255;

// Sample::loopKind
constexpr std::uint8_t LOOP_NONE = 1;
constexpr std::uint8_t LOOP_FORWARD = 2;
constexpr std::uint8_t LOOP_PINGPONG = 4;

// Envelope::flags
constexpr std::uint8_t ENVELOPE_ON = 1;
constexpr std::uint8_t ENVELOPE_SUSTAIN = 2;
constexpr std::uint8_t ENVELOPE_LOOP = 4;

// Frames after the last stored frame of every sample's data: the interpolation guard frame
// and 7 zero frames.
constexpr std::uint32_t SAMPLE_PAD_FRAMES = 8;

// A forward loop of at most LOOP_RUN_MAX_LOOP frames is also stored repeated over
// LOOP_RUN_FRAMES frames from its start (Sample::loopRun), so that the mixer can play a voice
// across its wraps in one stretch: a voice at 1/4 frame a step on a loop of 64 frames wraps
// 3 times in one block.
constexpr std::uint32_t LOOP_RUN_MAX_LOOP = 1024;
constexpr std::uint32_t LOOP_RUN_FRAMES = 4096;

#pragma pack(push, 1)
// Bytes 64..335 of the file header, taken over as one block: these fields in this order and
// width, little-endian as in the file.
struct Song {
  std::uint16_t songLength;       // order positions in use, 1..256
  std::uint16_t restartPosition;  // below songLength once loaded
  std::uint16_t channelCount;     // cells per row, at most 32
  std::uint16_t patternCount;     // at most 256
  std::uint16_t instrumentCount;  // at most 128
  std::uint16_t flags;            // bit 0: linear frequency table; clear: Amiga periods
  std::uint16_t defaultTempo;     // ticks per row at start
  std::uint16_t defaultBpm;       // beats per minute at start, not 0 once loaded
  std::uint8_t orderTable[MAX_ORDERS];
};

struct NoteCell {
  std::uint8_t note;        // 0 none, 1..96 C-0 upward, NOTE_KEY_OFF; other file values pass through
  std::uint8_t instrument;  // 1-based, 0 none
  std::uint8_t volume;      // volume-column byte
  std::uint8_t effect;
  std::uint8_t effectParam;
};
#pragma pack(pop)
static_assert(sizeof(Song) == 272, "Song must mirror header bytes 64..335");
static_assert(sizeof(NoteCell) == 5, "NoteCell is 5 packed bytes");

struct Pattern {
  NoteCell* cells;         // rowCount x channelCount, row-major; null when not loaded
  std::uint16_t rowCount;
};

struct EnvelopePoint {
  std::uint16_t tick;
  std::uint16_t value;  // 0..64 in a well-formed module
};

struct Envelope {
  EnvelopePoint points[MAX_ENVELOPE_POINTS];
  std::uint8_t pointCount;  // at most 12 once loaded
  std::uint8_t sustainPoint;
  std::uint8_t loopStartPoint;
  std::uint8_t loopEndPoint;
  std::uint8_t flags;  // ENVELOPE_*; 0 when pointCount is below 2
};

struct Sample {
  std::uint32_t length;      // in frames
  std::uint32_t loopStart;   // first frame of the loop
  std::uint32_t loopLength;  // frames; 0 only when length is 0; loopStart + loopLength <= length
  std::uint8_t volume;       // 0..64
  std::int8_t finetune;
  std::uint8_t panning;      // 0..255
  std::int8_t relativeNote;
  std::uint8_t loopKind;     // LOOP_*; 0 only in emptySample
  std::uint8_t bits;         // 16 once the data are widened
  std::int16_t* data;        // length + SAMPLE_PAD_FRAMES mono frames; null when length is 0
  // LOOP_RUN_FRAMES frames, frame k the loop's frame k modulo loopLength, in the block of
  // data after its pad; null where the loader made none (see LOOP_RUN_MAX_LOOP)
  const std::int16_t* loopRun = nullptr;
};

struct Instrument {
  Sample* samples[MAX_SAMPLES_PER_INSTRUMENT];  // never null after the load: emptySample pads
  std::uint16_t sampleCount;
  std::uint8_t sampleMap[NOTE_MAP_SIZE];  // slot per note; 16 or more selects emptySample
  Envelope volumeEnvelope;
  Envelope panningEnvelope;
  std::uint8_t vibratoType;
  std::uint8_t vibratoSweep;
  std::uint8_t vibratoDepth;
  std::uint8_t vibratoRate;
  std::uint16_t fadeout;  // twice the file's value, in 16 bits
};

// The module the program carries in its data (assets/theme.xm, built in at build time).
struct ModuleImage {
  const std::uint8_t* bytes;
  std::size_t byteCount;
};
extern const ModuleImage builtinModuleImage;

// Unpacks the image into the module records of the player's context (player.h). Reads only
// inside [image, image + imageBytes). Returns nullptr on success, or a static text saying why
// the image was refused; after a refusal nothing is allocated and song is all zero, so nothing
// of it can be played. A module still loaded from an earlier call is released first.
// Called on the dialog's thread before the playback thread exists.
const char* loadModule(const std::uint8_t* image, std::size_t imageBytes);

// Releases what loadModule allocated: per instrument, the data and the record of each real
// sample, then the cells of each pattern; then clears song, patterns and instruments, so a
// second call frees nothing twice. Safe to call when nothing is loaded.
void releaseModule();
