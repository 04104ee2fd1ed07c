// Writes the committed seed corpora of the fuzz targets into the folder given: modules/ (the
// rich module and the hostile modules below, for loader_fuzz and play_fuzz) and charfile/
// (experience tables and level changes, for charfile_fuzz), each emptied first. The replay of
// these seeds in the ordinary test stages is where the hostile modules are checked; how the
// loader refuses an image, and why, is tests/loader's.
//   make_seeds fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/xmwriter/xm_writer.h"

namespace fs = std::filesystem;

namespace {

// Effect numbers as stored in the cells: 0-9, then A = 10 ... Z = 35.
constexpr std::uint8_t fxE = 0x0E;
constexpr std::uint8_t C4 = 49;  // C-4 in the file's numbering, 1 = C-0
constexpr std::uint8_t KEY_OFF_NOTE = 97;

XmEnvelope envelope(std::vector<XmEnvelopePoint> points, std::uint8_t flags) {
  XmEnvelope result;
  result.points = std::move(points);
  result.flags = flags;
  return result;
}

// 4 channels, orders {0, 1}, two patterns of 16 rows, two instruments: an 8-bit forward loop
// with volume and panning envelopes, auto-vibrato and fade-out, and a 16-bit ping-pong loop.
// Pattern 0 runs through the effects 0..Z and the E commands, pattern 1 through the volume
// column, a pattern loop and a break.
XmModule richModule() {
  XmModule m;
  m.orders = {0, 1};
  m.patterns.push_back(xmPattern(m, 16));
  m.patterns.push_back(xmPattern(m, 16));

  XmSample sine = xmWaveSample(XmWave::Sine, 64, 32, false);
  sine.loopType = 1, sine.loopStart = 0, sine.loopLength = 64;
  XmInstrument lead = xmInstrument(sine);
  lead.volumeEnvelope = envelope({{0, 64}, {10, 32}, {20, 48}, {40, 0}}, 7);
  lead.volumeEnvelope.sustainPoint = lead.volumeEnvelope.loopStartPoint = 1, lead.volumeEnvelope.loopEndPoint = 2;
  lead.panningEnvelope = envelope({{0, 32}, {20, 0}, {40, 64}}, 1);
  lead.vibratoSweep = 4, lead.vibratoDepth = 8, lead.vibratoRate = 20, lead.fadeout = 512;
  m.instruments.push_back(lead);

  XmSample square = xmWaveSample(XmWave::Square, 48, 16, true);
  square.loopType = 2, square.loopStart = 8, square.loopLength = 32;
  XmInstrument bass = xmInstrument(square);
  bass.volumeEnvelope = envelope({{0, 0}, {4, 64}}, 1);
  bass.fadeout = 1024;
  m.instruments.push_back(bass);

  // Pattern 0: channel 0 the effects 0..L, channel 1 P..X and the E commands, channel 2 notes
  // and a key-off, channel 3 the clock.
  const std::uint8_t lead0[16][2] = {{0x00, 0x37}, {0x01, 0x10}, {0x02, 0x08}, {0x03, 0x20},
                                     {0x04, 0x48}, {0x05, 0x02}, {0x06, 0x20}, {0x07, 0x46},
                                     {0x08, 0x40}, {0x09, 0x01}, {0x0A, 0x0F}, {0x0C, 0x30},
                                     {16, 0x30},   {17, 0x01},   {20, 0x00},   {21, 0x05}};
  const std::uint8_t bass0[16][2] = {{25, 0x0F},  {27, 0x32},  {29, 0x21},  {33, 0x12},
                                     {33, 0x22},  {fxE, 0x11}, {fxE, 0x22}, {fxE, 0x41},
                                     {fxE, 0x58}, {fxE, 0x72}, {fxE, 0x84}, {fxE, 0x92},
                                     {fxE, 0xA2}, {fxE, 0xB2}, {fxE, 0xC3}, {fxE, 0xD2}};
  for (std::uint16_t row = 0; row < 16; ++row) {
    xmCell(m, 0, row, 0) = {static_cast<std::uint8_t>(C4 + row % 5), 1, 0, lead0[row][0], lead0[row][1]};
    xmCell(m, 0, row, 1) = {static_cast<std::uint8_t>(C4 - 12 + row % 3), 2, 0, bass0[row][0], bass0[row][1]};
  }
  xmCell(m, 0, 0, 2) = {C4 + 7, 1, 0, 0, 0};
  xmCell(m, 0, 8, 2) = {KEY_OFF_NOTE, 0, 0, 0, 0};
  xmCell(m, 0, 0, 3) = {0, 0, 0, 0x0F, 0x03};
  xmCell(m, 0, 1, 3) = {0, 0, 0, 0x0F, 0x7D};
  xmCell(m, 0, 4, 3) = {0, 0, 0, fxE, 0xE1};

  // Pattern 1: the volume column, a tone portamento, a pattern loop and a break.
  const std::uint8_t volumes[16] = {0x10, 0x50, 0x65, 0x75, 0x85, 0x95, 0xA3, 0xB4,
                                    0xC8, 0xD2, 0xE2, 0xF3, 0x40, 0x30, 0x20, 0x00};
  for (std::uint16_t row = 0; row < 16; ++row) {
    xmCell(m, 1, row, 0) = {static_cast<std::uint8_t>(row % 4 == 0 ? C4 : 0), 1, volumes[row], 0, 0};
  }
  xmCell(m, 1, 2, 1) = {0, 0, 0, fxE, 0x60};
  xmCell(m, 1, 6, 1) = {0, 0, 0, fxE, 0x62};
  xmCell(m, 1, 0, 2) = {C4, 2, 0, 0, 0};
  xmCell(m, 1, 3, 2) = {C4 + 12, 0, 0xF4, 0x03, 0x00};
  xmCell(m, 1, 12, 3) = {0, 0, 0, 0x0D, 0x04};
  return m;
}

// Ways to break the rich module that the loader must accept and the player must play safely:
// each is a change to richModule(), and its name is the seed's file name without .xm.
const std::pair<const char*, void (*)(XmModule&)> HOSTILE_MODULES[] = {
    // Envelopes whose indexes and points make no sense: the volume envelope's past its points,
    // the panning envelope's loop running backward.
    {"envelope-indexes-wrong",
     [](XmModule& m) {
       XmEnvelope &e = m.instruments[0].volumeEnvelope, &p = m.instruments[0].panningEnvelope;
       e.sustainPoint = 200, e.loopStartPoint = 20, e.loopEndPoint = 30;
       p.flags = 5, p.loopStartPoint = 2, p.loopEndPoint = 1;
     }},
    {"envelope-points-disordered",
     [](XmModule& m) {
       m.instruments[0].volumeEnvelope = envelope({{0, 64}, {50, 65535}, {10, 0}, {10, 32}, {65535, 64}}, 5);
       m.instruments[0].volumeEnvelope.loopStartPoint = 1, m.instruments[0].volumeEnvelope.loopEndPoint = 3;
       m.instruments[1].panningEnvelope = envelope({{65535, 0}, {0, 65535}}, 3);
     }},
    // Lead's L05 lands five ticks before the first point: the line through the points would
    // give the level -16.
    {"envelope-starts-late", [](XmModule& m) { m.instruments[0].volumeEnvelope = envelope({{10, 0}, {30, 64}}, 1); }},
    {"envelope-count-0-on",
     [](XmModule& m) {
       m.instruments[0].volumeEnvelope.pointCountField = 0;
       m.instruments[1].panningEnvelope = envelope({{0, 64}}, 7);
     }},
    // Loops that run past their sample, one with fields whose 32-bit sum wraps.
    {"loop-length-past-end",
     [](XmModule& m) {
       m.instruments[0].samples[0].loopStart = 10, m.instruments[0].samples[0].loopLength = 0xFFFFFF;
       m.instruments[1].samples[0].loopStartBytesField = 0xFFFFFFF0u, m.instruments[1].samples[0].loopLengthBytesField = 0xFFFFFFFFu;
     }},
    // The sequencer: rows, orders, restart, tempo. A packed size of 0 gives empty cells from
    // the 9 header bytes alone, 65535 x 4 of them.
    {"rows-65535", [](XmModule& m) { m.patterns[1].rowCount = 65535, m.patterns[1].cells.clear(); }},
    {"rows-0", [](XmModule& m) { m.patterns[1].rowCount = 0, m.patterns[1].cells.clear(); }},
    {"restart-past-end", [](XmModule& m) { m.restartPosition = 300; }},
    {"order-names-missing-pattern", [](XmModule& m) { m.orders = {0, 200, 1, 255}; }},
    {"break-and-jump-past-ends",
     [](XmModule& m) {
       xmCell(m, 0, 3, 3) = {0, 0, 0, 0x0D, 0x63};  // row 63 of a 16-row pattern
       xmCell(m, 1, 5, 3) = {0, 0, 0, 0x0D, 0x99};  // row 99: not a row a break reaches
       xmCell(m, 1, 9, 3) = {0, 0, 0, 0x0B, 0xFF};  // order 255 of 2
       xmCell(m, 0, 1, 2) = {0, 0, 0, fxE, 0x60};   // a loop row ...
       m.patterns[0].rowCount = 64;
       m.patterns[0].cells.resize(64 * 4);
       xmCell(m, 0, 50, 2) = {0, 0, 0, fxE, 0x60};  // ... at row 50, then looped to from a 16-row pattern
       xmCell(m, 1, 7, 2) = {0, 0, 0, fxE, 0x6F};
     }},
    {"speed-0-bpm-65535",
     [](XmModule& m) {
       m.defaultTempo = 0, m.defaultBpm = 65535;
       xmCell(m, 0, 0, 3) = {0, 0, 0, 0x0F, 0x00};
     }},
    {"bpm-1-speed-65535", [](XmModule& m) { m.defaultBpm = 1, m.defaultTempo = 65535; }},
    // A pattern of 0 channels has no data to skip: rows without cells.
    {"channels-0",
     [](XmModule& m) {
       m.channelCount = 0;
       for (XmPattern& pattern : m.patterns) pattern.cells.clear();
     }},
    // Cells and maps that name nothing: notes past 96, instruments past 128, samples past 16.
    {"notes-and-instruments-out-of-range",
     [](XmModule& m) {
       for (std::uint16_t row = 0; row < 16; ++row) {
         xmCell(m, 1, row, 1) = {static_cast<std::uint8_t>(98 + row * 10), static_cast<std::uint8_t>(200 + row),
                                 static_cast<std::uint8_t>(row * 16 + row), static_cast<std::uint8_t>(row * 3 + 1), 0xFF};
       }
       m.instruments[0].sampleMap.fill(200);
     }},
    // A sample offset past the loop end rewinds the voice without a new start: a voice of a
    // ping-pong loop that is playing backward is rewound to frame 0 below its loop start.
    {"offset-past-loop-rewinds-backward-voice",
     [](XmModule& m) {
       m.patterns[0] = xmPattern(m, 16);
       for (std::uint16_t row = 0; row < 16; ++row) xmCell(m, 0, row, 0) = {C4 + 24, 2, 0, 0x09, 0xFF};
       xmCell(m, 0, 0, 0).effect = 0;
     }},
    {"amiga-slides-without-end",
     [](XmModule& m) {
       m.flags = 0;
       for (std::uint16_t row = 0; row < 16; ++row) {
         xmCell(m, 1, row, 0) = {static_cast<std::uint8_t>(row == 0 ? 96 : 0), 1, 0, 0x01, 0xFF};
         xmCell(m, 1, row, 1) = {static_cast<std::uint8_t>(row == 0 ? 1 : 0), 2, 0, 0x02, 0xFF};
       }
     }},
};

// Seeds stay small so that libFuzzer's length limit, taken from the largest seed, stays small.
constexpr std::size_t MAX_SEED_BYTES = 16384;

// One input of charfile_fuzz: flags, level index (big-endian), file length (big-endian), name
// length, name, table text.
std::string charfileInput(std::uint8_t flags, const std::string& name, std::uint32_t levelIndex,
                          std::uint16_t fileBytes, const std::string& table) {
  std::string input{static_cast<char>(flags)};
  for (int shift = 24; shift >= 0; shift -= 8) input += static_cast<char>(levelIndex >> shift);
  input += {static_cast<char>(fileBytes >> 8), static_cast<char>(fileBytes), static_cast<char>(name.size())};
  return input + name + table;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const fs::path root = argv[1];
  // Emptied first, so that no seed outlives the case that wrote it.
  for (const char* sub : {"modules", "charfile"}) fs::remove_all(root / sub), fs::create_directories(root / sub);
  bool ok = true;
  auto seed = [&](const std::string& path, const std::string& bytes) {
    std::ofstream out(root / path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out || bytes.size() > MAX_SEED_BYTES) std::fprintf(stderr, "make_seeds: %s not written or too large\n", path.c_str());
    ok &= out && bytes.size() <= MAX_SEED_BYTES;
  };
  auto module = [&](const std::string& name, void (*change)(XmModule&)) {
    XmModule m = richModule();
    if (change != nullptr) change(m);
    const std::vector<std::uint8_t> bytes = writeXm(m);
    seed("modules/" + name + ".xm", std::string(bytes.begin(), bytes.end()));
  };
  module("rich", nullptr);
  for (const auto& [name, change] : HOSTILE_MODULES) module(name, change);

  const std::string tables[][2] = {
      {"crlf", "0000000A\r\n00000064\r\n"},
      {"one-line", "00000010 00000020"},
      {"no-final-line-end", "00000001\n00000002\n0123456789ABCDEF"},
      {"blank-lines-and-tabs", "\n\n\t00000005\v\f\r\n\n  00000006  \n"},
      {"bom-and-junk", "\xEF\xBB\xBF" "0000000A\nxyz\n-1-1-1-1\n0x0x0x0x\n"},
      {"long-token", "0123456789012345678901234567890123456789\n"},
      {"empty", ""},
  };
  for (const auto& [name, text] : tables) seed("charfile/table-" + name, charfileInput(1, "abc", 0, 500, text));

  const std::string table = "00000000\n000000FF\n0123456789ABCDEF\n00000000000A\n1g\n-1\n0x123456789\n";
  seed("charfile/changed", charfileInput(1, "abc", 2, 500, table));
  seed("charfile/short-file-grows", charfileInput(1, "Hero123", 3, 10, table));
  seed("charfile/odd-and-short-entries", charfileInput(1, "\xC4\xE3\xBA\xC3", 5, 420, table));
  seed("charfile/missing-file", charfileInput(0, "Warrior", 0, 500, table));
  seed("charfile/missing-bucket", charfileInput(5, "warrior", 1, 500, table));
  seed("charfile/file-is-a-folder", charfileInput(2, "", 1, 0, table));
  seed("charfile/name-leaves-bucket", charfileInput(1, "..\\..\\XPHex", 1, 500, table));
  seed("charfile/index-past-table", charfileInput(9, "abc", 0x80000000u, 500, table));
  std::string levels;
  for (int i = 0; i < 300; ++i) levels += "0000000000000001\n";
  seed("charfile/level-300", charfileInput(1, "ABC", 299, 600, levels));
  return ok ? 0 : 1;
}
