// The modules that the benchmarks and the exactness test render: the built-in theme and
// busy modules of 4 to 32 channels made with the XM writer. Pairs with tools/xmwriter.
#pragma once

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

// The default set: the theme, then busy modules of 4, 8, 16, 20 and 32 channels.
std::vector<BenchModule> defaultBenchModules();
