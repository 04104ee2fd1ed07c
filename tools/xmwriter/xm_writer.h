// An XM file writer for tests and tools: builds the bytes of an Extended Module from plain
// in-memory records. Pairs with player/module.h, whose loadModule reads these bytes back.
//
// It checks nothing it does not need in order to write bytes, so it writes modules beyond
// the player's limits too (33 channels, 13 envelope points, a loop past its sample): the
// loader's refusals are tested with them. Every field that is a count or a size in the file
// is computed from the records unless its override says otherwise.
//
// A minimal module with one note on one sampled instrument:
//
//   XmModule m;                                  // 4 channels, tempo 6, 125 BPM, linear
//   m.orders = {0};
//   m.patterns.push_back(xmPattern(m, 64));      // 64 empty rows
//   xmCell(m, 0, 0, 0) = {49, 1, 0, 0, 0};       // C-4, instrument 1, on row 0, channel 0
//   m.instruments.push_back(xmInstrument(xmWaveSample(XmWave::Sine, 64, 32, false)));
//   std::vector<std::uint8_t> bytes = writeXm(m);
//   const char* refusal = loadModule(bytes.data(), bytes.size());  // nullptr
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

//-----------------------------------------------------------------------------
// Records
//-----------------------------------------------------------------------------

// Header sizes up to this many bytes are met by zero padding (or by cutting the header);
// a larger size is written into its field only, for images whose header runs past their end.
constexpr std::uint32_t XM_MAX_PADDED_BYTES = 1u << 20;

// How a cell is stored in the packed pattern data.
constexpr std::uint8_t XM_CODING_AUTO = 0;      // mask of the non-zero fields; five plain bytes
                                                 // when all five are set and the note is below 128
constexpr std::uint8_t XM_CODING_UNPACKED = 1;  // five plain bytes, note first (note must be < 128
                                                 // to read back as a note)
// Any value with bit 7 set is written as that mask byte, followed by the fields whose bits
// 0..4 are set; fields of clear bits are dropped, so 0x80 writes an empty one-byte cell and
// 0x9F a six-byte one. Bits 5 and 6 are written as given.

struct XmCell {
  std::uint8_t note = 0;         // 0 none, 1..96 C-0 upward, 97 key-off
  std::uint8_t instrument = 0;   // 1-based, 0 none
  std::uint8_t volume = 0;       // volume-column byte
  std::uint8_t effect = 0;
  std::uint8_t effectParam = 0;
  std::uint8_t coding = XM_CODING_AUTO;  // XM_CODING_*, or a forced mask byte (0x80..0xFF)
};

struct XmPattern {
  std::uint16_t rowCount = 64;
  // rowCount x channelCount cells, row-major. Left empty, the pattern is written with a
  // packed size of 0 and no data, the way trackers store an empty pattern.
  std::vector<XmCell> cells;
  std::uint8_t coding = XM_CODING_AUTO;  // for every cell whose own coding is XM_CODING_AUTO
  std::uint32_t headerBytesField = 9;    // the header is always written as 9 bytes
  std::uint8_t packingType = 0;
  std::optional<std::uint16_t> packedBytesField;  // default: the bytes actually written
};

struct XmEnvelopePoint {
  std::uint16_t tick = 0;
  std::uint16_t value = 0;  // 0..64
};

struct XmEnvelope {
  std::vector<XmEnvelopePoint> points;       // the first 12 are written; the rest are zero
  std::optional<std::uint8_t> pointCountField;  // default: points.size()
  std::uint8_t sustainPoint = 0;
  std::uint8_t loopStartPoint = 0;
  std::uint8_t loopEndPoint = 0;
  std::uint8_t flags = 0;  // bit 0 on, bit 1 sustain, bit 2 loop
};

struct XmSample {
  // Frame values before delta coding. 8-bit samples use -128..127 (the low byte is written),
  // 16-bit samples the whole range.
  std::vector<std::int16_t> frames;
  bool sixteenBit = false;        // type bit 4
  std::uint8_t loopType = 0;      // type bits 0..1 as written: 0 none, 1 forward, 2 ping-pong, 3
  std::uint32_t loopStart = 0;    // frames
  std::uint32_t loopLength = 0;   // frames
  std::uint8_t volume = 64;       // 0..64
  std::int8_t finetune = 0;
  std::uint8_t panning = 128;     // 0..255
  std::int8_t relativeNote = 0;
  std::string name;               // up to 22 characters are written
  // Header fields in bytes as written; defaults are the frame values above, doubled for
  // 16-bit samples.
  std::optional<std::uint32_t> lengthBytesField;
  std::optional<std::uint32_t> loopStartBytesField;
  std::optional<std::uint32_t> loopLengthBytesField;
  // Written verbatim in place of the delta-coded frames (the length field still follows
  // the frames unless lengthBytesField is set).
  std::optional<std::vector<std::uint8_t>> rawData;
};

struct XmInstrument {
  std::string name;                       // up to 22 characters are written
  std::uint8_t type = 0;
  std::vector<XmSample> samples;
  std::optional<std::uint16_t> sampleCountField;  // default: samples.size()
  // Bytes from the instrument's start to its sample headers (or to the next instrument).
  // Default 263 with samples, 33 without. The header is zero-padded up to this size, or cut
  // at it, so that what follows overlaps the fixed fields.
  std::optional<std::uint32_t> headerBytesField;
  std::uint32_t sampleHeaderBytesField = 40;  // sample headers are always written as 40 bytes
  std::array<std::uint8_t, 96> sampleMap{};   // slot per note, C-0 upward
  XmEnvelope volumeEnvelope;
  XmEnvelope panningEnvelope;
  std::uint8_t vibratoType = 0;
  std::uint8_t vibratoSweep = 0;
  std::uint8_t vibratoDepth = 0;
  std::uint8_t vibratoRate = 0;
  std::uint16_t fadeout = 0;  // as in the file; the loader doubles it
};

struct XmModule {
  std::string name;                           // up to 20 characters are written
  std::string trackerName = "xmwriter";       // up to 20 characters
  std::uint16_t version = 0x0104;
  std::uint32_t headerBytesField = 276;       // counted from offset 60; patterns start at 60 + this
  std::uint16_t restartPosition = 0;
  std::uint16_t channelCount = 4;
  std::uint16_t flags = 1;                    // bit 0: linear frequency table
  std::uint16_t defaultTempo = 6;             // ticks per row
  std::uint16_t defaultBpm = 125;
  std::vector<std::uint8_t> orders;           // the first 256 are written
  std::vector<XmPattern> patterns;
  std::vector<XmInstrument> instruments;
  std::optional<std::uint16_t> songLengthField;       // default: orders.size()
  std::optional<std::uint16_t> patternCountField;     // default: patterns.size()
  std::optional<std::uint16_t> instrumentCountField;  // default: instruments.size()
};

//-----------------------------------------------------------------------------
// Writing
//-----------------------------------------------------------------------------

// The whole file: header, patterns, then each instrument with its sample headers and data.
std::vector<std::uint8_t> writeXm(const XmModule& module);

// Writes writeXm(module) to a file; false when the file cannot be written.
bool saveXm(const XmModule& module, const char* path);

// The sample's data as stored: frame deltas modulo 256 (8-bit) or 65536 (16-bit, little-
// endian), or rawData when set.
std::vector<std::uint8_t> xmSampleData(const XmSample& sample);

//-----------------------------------------------------------------------------
// Helpers for building modules
//-----------------------------------------------------------------------------

// A pattern of rowCount rows with every cell of module.channelCount channels present and
// empty (written as one-byte cells, not as a packed size of 0).
XmPattern xmPattern(const XmModule& module, std::uint16_t rowCount);

// The cell of one pattern, row and channel; grows the pattern's cells to rowCount x
// channelCount first if they are missing.
XmCell& xmCell(XmModule& module, std::size_t pattern, std::uint16_t row, std::uint16_t channel);

enum class XmWave { Sine, Square, Saw, Noise };

// frameCount frames of a wave with a period of periodFrames, at full scale of the chosen
// width (amplitude 127 or 32767); Noise is a fixed pseudo-random sequence.
XmSample xmWaveSample(XmWave wave, std::uint32_t frameCount, std::uint32_t periodFrames,
                      bool sixteenBit);

// An instrument of one sample, every note mapped to it.
XmInstrument xmInstrument(XmSample sample);
