// Hostile XM modules, built with the XM writer: a small module that uses every effect, and
// a table of ways to break it, each with what the player must make of it. Shared by the
// hostile-module tests and the fuzz seed writer (fuzz/make_seeds.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/xmwriter/xm_writer.h"

// 4 channels, orders {0, 1}, two patterns of 16 rows, two instruments: an 8-bit forward loop
// with volume and panning envelopes, auto-vibrato and fade-out, and a 16-bit ping-pong loop.
// Pattern 0 runs through the effects 0..Z and the E commands, pattern 1 through the volume
// column, a pattern loop and a break.
XmModule richModule();

struct HostileCase {
  const char* name;       // also the file name of the module, without .xm
  std::function<void(XmModule&)> change;                   // applied to richModule()
  std::function<void(std::vector<std::uint8_t>&)> patch;  // then to the written bytes; may be empty
  const char* refusal;    // the loader's text (module_load.h), or nullptr: it must play safely
};

const std::vector<HostileCase>& hostileCases();

std::vector<std::uint8_t> hostileImage(const HostileCase& hostile);
