// The modules that the benchmarks and the exactness test render: the built-in theme, busy
// modules of 4 to 32 channels made with the XM writer, and real music from free games that
// Debian packages (installed by scripts/setup.sh). Pairs with tools/xmwriter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct BenchModule {
  std::string name;                // e.g. "theme", "busy-16ch"
  std::vector<std::uint8_t> bytes; // the whole XM file
};

// A module of channelCount channels (1..32) that keeps most of them sounding: eight
// instruments over 8- and 16-bit samples with short and long forward loops, ping-pong loops
// and one-shots, volume and panning envelopes, fade-out and auto-vibrato; four 64-row
// patterns with notes on about half the cells of every row, volume-column bytes, and
// arpeggio, slides, vibrato, tone portamento, panning, sample offsets, retriggers, note
// cuts, key-offs and two tempo changes. The same channelCount always gives the same bytes.
std::vector<std::uint8_t> busyModuleBytes(int channelCount);

// The theme, then busy modules of 4, 8, 16, 20 and 32 channels.
std::vector<BenchModule> defaultBenchModules();

// One real module: where its package installs it, the package, and the licence that the
// package's copyright file gives for it.
struct RealModule {
  const char* path;
  const char* package;
  const char* licence;
};

// The real modules, 8 to 32 channels: linear and Amiga frequency tables, 8- and 16-bit
// samples, many short samples, forward and ping-pong loops.
extern const RealModule REAL_MODULES[];
extern const std::size_t REAL_MODULE_COUNT;

// The real modules read from their installed paths, named by file name (e.g. "song2.xm").
// The path of each file that cannot be read goes to missing, and the module is left out.
std::vector<BenchModule> realBenchModules(std::vector<std::string>& missing);
