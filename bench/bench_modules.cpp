// The benchmark modules: the built-in theme and the busy modules of the XM writer.
// Pairs with bench_modules.h.
#include "bench/bench_modules.h"

#include <cstdio>
#include <string>
#include <utility>

#include "player/module.h"
#include "tools/xmwriter/xm_writer.h"

namespace {

// xorshift32: the same cells on every machine and every run.
struct Cells {
  std::uint32_t state;
  std::uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }
};

XmSample looped(XmSample sample, std::uint8_t loopType, std::uint32_t loopStart) {
  sample.loopType = loopType;
  sample.loopStart = loopStart;
  sample.loopLength = static_cast<std::uint32_t>(sample.frames.size()) - loopStart;
  return sample;
}

std::vector<XmInstrument> benchInstruments() {
  std::vector<XmInstrument> instruments;
  // 1: chip square, 32 frames of 8 bits looped whole: a segment every few frames.
  instruments.push_back(xmInstrument(looped(xmWaveSample(XmWave::Square, 32, 32, false), 1, 0)));

  // 2: pad, 16-bit saw with a long loop, a sustained volume envelope, fade-out, auto-vibrato.
  XmInstrument pad = xmInstrument(looped(xmWaveSample(XmWave::Saw, 30000, 100, true), 1, 4000));
  pad.volumeEnvelope.points = {{0, 0}, {8, 64}, {30, 40}, {60, 48}};
  pad.volumeEnvelope.sustainPoint = 2;
  pad.volumeEnvelope.flags = 1 | 2;
  pad.fadeout = 400;
  pad.vibratoType = 0;
  pad.vibratoSweep = 20;
  pad.vibratoDepth = 6;
  pad.vibratoRate = 12;
  instruments.push_back(pad);

  // 3: 8-bit sine with a ping-pong loop over its last three quarters.
  instruments.push_back(xmInstrument(looped(xmWaveSample(XmWave::Sine, 2000, 200, false), 2, 500)));

  // 4: drum, a 16-bit noise one-shot with a falling envelope.
  XmInstrument drum = xmInstrument(xmWaveSample(XmWave::Noise, 5000, 1, true));
  drum.volumeEnvelope.points = {{0, 64}, {4, 30}, {12, 0}};
  drum.volumeEnvelope.flags = 1;
  instruments.push_back(drum);

  // 5: bass, a 16-bit sine of 512 frames looped whole.
  instruments.push_back(xmInstrument(looped(xmWaveSample(XmWave::Sine, 512, 64, true), 1, 0)));

  // 6: lead, 8-bit saw, ping-pong loop, looping panning envelope.
  XmInstrument lead = xmInstrument(looped(xmWaveSample(XmWave::Saw, 8000, 50, false), 2, 1000));
  lead.panningEnvelope.points = {{0, 10}, {16, 54}, {32, 10}};
  lead.panningEnvelope.loopStartPoint = 0;
  lead.panningEnvelope.loopEndPoint = 2;
  lead.panningEnvelope.flags = 1 | 4;
  instruments.push_back(lead);

  // 7: hat, a short 8-bit noise one-shot.
  instruments.push_back(xmInstrument(xmWaveSample(XmWave::Noise, 1500, 1, false)));

  // 8: strings, 16-bit square with a long ping-pong loop, slow attack, fade-out.
  XmInstrument strings =
      xmInstrument(looped(xmWaveSample(XmWave::Square, 20000, 150, true), 2, 100));
  strings.volumeEnvelope.points = {{0, 16}, {20, 64}, {40, 56}};
  strings.volumeEnvelope.sustainPoint = 2;
  strings.volumeEnvelope.flags = 1 | 2;
  strings.fadeout = 1000;
  instruments.push_back(strings);
  return instruments;
}

// One cell of a busy row: a note on about half the cells, a volume byte now and then, and an
// effect on about a third.
XmCell busyCell(Cells& cells, int channel) {
  XmCell cell;
  const std::uint32_t roll = cells.below(100);
  if (roll < 50) {
    cell.note = static_cast<std::uint8_t>(25 + cells.below(60));  // C-2 .. B-6
    cell.instrument = static_cast<std::uint8_t>(1 + (channel + cells.below(3)) % 8);
  } else if (roll < 54) {
    cell.note = 97;  // key-off
  }
  if (cells.below(100) < 25) cell.volume = static_cast<std::uint8_t>(0x10 + cells.below(65));
  if (cells.below(100) < 35) {
    switch (cells.below(10)) {
      case 0: cell.effect = 0x0, cell.effectParam = 0x37; break;  // arpeggio
      case 1: cell.effect = 0x1, cell.effectParam = 0x04; break;  // slide up
      case 2: cell.effect = 0x2, cell.effectParam = 0x03; break;  // slide down
      case 3: cell.effect = 0x3, cell.effectParam = 0x10; break;  // tone portamento
      case 4: cell.effect = 0x4, cell.effectParam = 0x46; break;  // vibrato
      case 5: cell.effect = 0xA, cell.effectParam = 0x0F; break;  // volume slide down
      case 6: cell.effect = 0x8, cell.effectParam = static_cast<std::uint8_t>(cells.below(256)); break;
      case 7: cell.effect = 0x9, cell.effectParam = 0x02; break;  // offset 512 frames
      case 8: cell.effect = 0xE, cell.effectParam = 0x93; break;  // retrigger every 3 ticks
      default: cell.effect = 0xE, cell.effectParam = 0xC4; break; // cut at tick 4
    }
  }
  return cell;
}

}  // namespace

std::vector<std::uint8_t> busyModuleBytes(int channelCount) {
  XmModule m;
  m.name = "busy " + std::to_string(channelCount);
  m.channelCount = static_cast<std::uint16_t>(channelCount);
  m.defaultTempo = 6;
  m.defaultBpm = 125;
  m.orders = {0, 1, 2, 3, 1, 2};
  m.instruments = benchInstruments();
  Cells cells{0x9E3779B9u ^ static_cast<std::uint32_t>(channelCount)};
  for (std::size_t p = 0; p < 4; ++p) {
    m.patterns.push_back(xmPattern(m, 64));
    for (std::uint16_t row = 0; row < 64; ++row) {
      for (std::uint16_t channel = 0; channel < channelCount; ++channel) {
        xmCell(m, p, row, channel) = busyCell(cells, channel);
      }
    }
  }
  // Tempo changes put the ticks at other places in the blocks: 143 BPM (771 frames a tick)
  // in pattern 2, back to 125 in pattern 3.
  xmCell(m, 2, 0, 0).effect = 0xF;
  xmCell(m, 2, 0, 0).effectParam = 143;
  xmCell(m, 3, 0, 0).effect = 0xF;
  xmCell(m, 3, 0, 0).effectParam = 125;
  return writeXm(m);
}

std::vector<BenchModule> defaultBenchModules() {
  std::vector<BenchModule> modules;
  modules.push_back({"theme", std::vector<std::uint8_t>(builtinModuleImage.bytes,
                                                        builtinModuleImage.bytes +
                                                            builtinModuleImage.byteCount)});
  for (int channels : {4, 8, 16, 20, 32}) {
    modules.push_back({"busy-" + std::to_string(channels) + "ch", busyModuleBytes(channels)});
  }
  return modules;
}

// None of these was written for this program. Channels, frequency table and samples as the
// files' headers give them.
const RealModule REAL_MODULES[] = {
    // 10 channels, Amiga table, 12 8-bit samples, 2 ping-pong
    {"/usr/share/games/heroes/mod/heroes02.xm", "heroes-sound-tracks", "GPL-2+"},
    // 10 channels, linear, tempo 2, one 16-bit sample among 17
    {"/usr/share/games/heroes/mod/heroes08.xm", "heroes-sound-tracks", "GPL-2+"},
    // 8 channels, Amiga table, tempo 8 (an XM despite its extension)
    {"/usr/share/games/powermanga/sounds/music_menu.zik", "powermanga-data", "GPL-3+"},
    // 18 channels, linear, 11 8-bit samples, 5 ping-pong
    {"/usr/share/games/powermanga/sounds/music_congratulations.zik", "powermanga-data", "GPL-3+"},
    // 24 channels, linear, tempo 2, 117 samples (6 of 16 bits), 21 ping-pong
    {"/usr/share/games/rafkill/music/song3.xm", "rafkill-data", "LGPL-2"},
    // 28 channels, linear, 33 samples (15 of 16 bits), 7 ping-pong
    {"/usr/share/games/rafkill/music/song5.xm", "rafkill-data", "LGPL-2"},
    // 32 channels, linear, 45 samples (2 of 16 bits), 9 ping-pong
    {"/usr/share/games/rafkill/music/song2.xm", "rafkill-data", "LGPL-2"},
};
const std::size_t REAL_MODULE_COUNT = sizeof REAL_MODULES / sizeof REAL_MODULES[0];

std::vector<BenchModule> realBenchModules(std::vector<std::string>& missing) {
  std::vector<BenchModule> modules;
  for (std::size_t i = 0; i < REAL_MODULE_COUNT; ++i) {
    const std::string path = REAL_MODULES[i].path;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      missing.push_back(path);
      continue;
    }
    BenchModule module{path.substr(path.rfind('/') + 1), {}};
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      module.bytes.insert(module.bytes.end(), chunk, chunk + got);
    }
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    if (read) {
      modules.push_back(std::move(module));
    } else {
      missing.push_back(path);
    }
  }
  return modules;
}
