// What loadModule can say when it refuses an image, and its one allocation function, which
// tests replace to make an allocation fail. Pairs with module.h and module.cpp.
#pragma once

#include <cstddef>

// The texts loadModule returns; compare by address or by text.
inline constexpr char LOAD_ENDS_IN_HEADER[] = "The module ends inside its file header.";
inline constexpr char LOAD_TOO_MANY_CHANNELS[] = "The module has more than 32 channels.";
inline constexpr char LOAD_TOO_MANY_PATTERNS[] = "The module has more than 256 patterns.";
inline constexpr char LOAD_TOO_MANY_INSTRUMENTS[] = "The module has more than 128 instruments.";
inline constexpr char LOAD_BAD_SONG_LENGTH[] = "The module's song length is 0 or above 256.";
inline constexpr char LOAD_ZERO_BPM[] = "The module's default BPM is 0.";
inline constexpr char LOAD_ENDS_IN_PATTERN[] = "The module ends inside a pattern.";
inline constexpr char LOAD_ENDS_IN_INSTRUMENT[] = "The module ends inside an instrument header.";
inline constexpr char LOAD_TOO_MANY_SAMPLES[] = "An instrument of the module has more than 16 samples.";
inline constexpr char LOAD_TOO_MANY_POINTS[] = "An envelope of the module has more than 12 points.";
inline constexpr char LOAD_ENDS_IN_SAMPLE_HEADER[] = "The module ends inside a sample header.";
inline constexpr char LOAD_ENDS_IN_SAMPLE_DATA[] = "The module ends inside sample data.";
inline constexpr char LOAD_OUT_OF_MEMORY[] = "Not enough memory to load the module.";

// Replaces std::calloc for every block the loader allocates, so that tests can refuse an
// allocation: zero-filled, count x bytes, null on failure. nullptr restores std::calloc.
// Every block goes back through std::free.
void useModuleAllocator(void* (*allocateZeroed)(std::size_t count, std::size_t bytes));
