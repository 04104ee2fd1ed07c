// The rich module and the hostile cases of hostile_modules.h.
#include "tests/hostile/hostile_modules.h"

#include "player/module_load.h"

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

}  // namespace

XmModule richModule() {
  XmModule m;
  m.orders = {0, 1};
  m.patterns.push_back(xmPattern(m, 16));
  m.patterns.push_back(xmPattern(m, 16));

  XmSample sine = xmWaveSample(XmWave::Sine, 64, 32, false);
  sine.loopType = 1;
  sine.loopStart = 0;
  sine.loopLength = 64;
  XmInstrument lead = xmInstrument(sine);
  lead.volumeEnvelope = envelope({{0, 64}, {10, 32}, {20, 48}, {40, 0}}, 7);
  lead.volumeEnvelope.sustainPoint = 1;
  lead.volumeEnvelope.loopStartPoint = 1;
  lead.volumeEnvelope.loopEndPoint = 2;
  lead.panningEnvelope = envelope({{0, 32}, {20, 0}, {40, 64}}, 1);
  lead.vibratoSweep = 4;
  lead.vibratoDepth = 8;
  lead.vibratoRate = 20;
  lead.fadeout = 512;
  m.instruments.push_back(lead);

  XmSample square = xmWaveSample(XmWave::Square, 48, 16, true);
  square.loopType = 2;
  square.loopStart = 8;
  square.loopLength = 32;
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

const std::vector<HostileCase>& hostileCases() {
  using Bytes = std::vector<std::uint8_t>;
  static const std::vector<HostileCase> cases = {
      // The loader's refusals are its own tests' to list; here one from the header and one
      // from the end, through the player and xm-render.
      {"bpm-0", [](XmModule& m) { m.defaultBpm = 0; }, {}, LOAD_ZERO_BPM},
      {"last-byte-missing", {}, [](Bytes& b) { b.pop_back(); }, LOAD_ENDS_IN_SAMPLE_DATA},
      // Envelopes whose indexes and points make no sense.
      {"envelope-indexes-out-of-range",
       [](XmModule& m) {
         XmEnvelope& e = m.instruments[0].volumeEnvelope;
         e.sustainPoint = 200;
         e.loopStartPoint = 20;
         e.loopEndPoint = 30;
         XmEnvelope& p = m.instruments[0].panningEnvelope;
         p.flags = 7;
         p.sustainPoint = 2;
         p.loopStartPoint = 255;
         p.loopEndPoint = 1;
       },
       {}, nullptr},
      {"envelope-loop-backwards",
       [](XmModule& m) {
         XmEnvelope& e = m.instruments[0].volumeEnvelope;
         e.flags = 5;
         e.loopStartPoint = 3;
         e.loopEndPoint = 1;
       },
       {}, nullptr},
      {"envelope-points-disordered",
       [](XmModule& m) {
         m.instruments[0].volumeEnvelope = envelope({{0, 64}, {50, 65535}, {10, 0}, {10, 32}, {65535, 64}}, 5);
         m.instruments[0].volumeEnvelope.loopStartPoint = 1;
         m.instruments[0].volumeEnvelope.loopEndPoint = 3;
         m.instruments[1].panningEnvelope = envelope({{65535, 0}, {0, 65535}}, 3);
       },
       {}, nullptr},
      // Lead's L05 lands five ticks before the first point: the line through the points
      // would give the level -16.
      {"envelope-starts-late",
       [](XmModule& m) { m.instruments[0].volumeEnvelope = envelope({{10, 0}, {30, 64}}, 1); },
       {}, nullptr},
      {"envelope-count-0-on",
       [](XmModule& m) {
         m.instruments[0].volumeEnvelope.pointCountField = 0;
         m.instruments[1].panningEnvelope = envelope({{0, 64}}, 7);
       },
       {}, nullptr},
      // Sample loops past the sample.
      {"loop-start-past-end",
       [](XmModule& m) {
         m.instruments[0].samples[0].loopStart = 1000;
         m.instruments[0].samples[0].loopLength = 10;
       },
       {}, nullptr},
      {"loop-length-past-end",
       [](XmModule& m) {
         m.instruments[0].samples[0].loopStart = 10;
         m.instruments[0].samples[0].loopLength = 0xFFFFFF;
         m.instruments[1].samples[0].loopStartBytesField = 0xFFFFFFF0u;
         m.instruments[1].samples[0].loopLengthBytesField = 0xFFFFFFFFu;
       },
       {}, nullptr},
      {"odd-16-bit-length", [](XmModule& m) { m.instruments[1].samples[0].lengthBytesField = 95; }, {}, nullptr},
      // The sequencer: rows, orders, restart, tempo.
      {"rows-65535",
       [](XmModule& m) {
         m.patterns[0] = xmPattern(m, 65535);
         xmCell(m, 0, 65534, 0) = {C4, 1, 0, 0x0D, 0x00};
         m.patterns[1].rowCount = 65535;
         m.patterns[1].cells.clear();  // packed size 0: 65535 x 4 empty cells from 9 bytes
       },
       {}, nullptr},
      {"rows-0", [](XmModule& m) { m.patterns[1].rowCount = 0, m.patterns[1].cells.clear(); }, {}, nullptr},
      {"restart-past-end", [](XmModule& m) { m.restartPosition = 300; }, {}, nullptr},
      {"order-names-missing-pattern", [](XmModule& m) { m.orders = {0, 200, 1, 255}; }, {}, nullptr},
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
       },
       {}, nullptr},
      {"speed-0-bpm-65535",
       [](XmModule& m) {
         m.defaultTempo = 0;
         m.defaultBpm = 65535;
         xmCell(m, 0, 0, 3) = {0, 0, 0, 0x0F, 0x00};
       },
       {}, nullptr},
      {"bpm-1-speed-65535", [](XmModule& m) { m.defaultBpm = 1, m.defaultTempo = 65535; }, {}, nullptr},
      {"channels-0",
       [](XmModule& m) {
         m.channelCount = 0;  // rows without cells: a pattern of 0 channels has no data to skip
         for (XmPattern& pattern : m.patterns) pattern.cells.clear();
       },
       {}, nullptr},
      // Cells and maps that name nothing.
      {"notes-and-instruments-out-of-range",
       [](XmModule& m) {
         for (std::uint16_t row = 0; row < 16; ++row) {
           xmCell(m, 1, row, 1) = {static_cast<std::uint8_t>(98 + row * 10), static_cast<std::uint8_t>(200 + row),
                                   static_cast<std::uint8_t>(row * 16 + row), static_cast<std::uint8_t>(row * 3 + 1),
                                   0xFF};
         }
         m.instruments[0].sampleMap.fill(200);
       },
       {}, nullptr},
      // A sample offset past the loop end rewinds the voice without a new start: a voice of
      // a ping-pong loop that is playing backward is rewound to frame 0 below its loop start.
      {"offset-past-loop-rewinds-backward-voice",
       [](XmModule& m) {
         m.patterns[0] = xmPattern(m, 16);
         for (std::uint16_t row = 0; row < 16; ++row) xmCell(m, 0, row, 0) = {C4 + 24, 2, 0, 0x09, 0xFF};
         xmCell(m, 0, 0, 0).effect = 0;
       },
       {}, nullptr},
      {"amiga-slides-without-end",
       [](XmModule& m) {
         m.flags = 0;
         for (std::uint16_t row = 0; row < 16; ++row) {
           xmCell(m, 1, row, 0) = {static_cast<std::uint8_t>(row == 0 ? 96 : 0), 1, 0, 0x01, 0xFF};
           xmCell(m, 1, row, 1) = {static_cast<std::uint8_t>(row == 0 ? 1 : 0), 2, 0, 0x02, 0xFF};
         }
       },
       {}, nullptr},
  };
  return cases;
}

std::vector<std::uint8_t> hostileImage(const HostileCase& hostile) {
  XmModule module = richModule();
  if (hostile.change) hostile.change(module);
  std::vector<std::uint8_t> bytes = writeXm(module);
  if (hostile.patch) hostile.patch(bytes);
  return bytes;
}
