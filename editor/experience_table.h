// The experience table: one experience string per level, read once from XPHex.txt in the
// current directory. Pairs with character_file.h, which writes the entry of the chosen level.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Entry k belongs to level k + 1. Each entry is one token of the file exactly as read: any
// bytes but the six whitespace bytes, any length, no conversion and no check.
using ExperienceTable = std::vector<std::string>;

// The process-wide table; dialog's thread only.
const ExperienceTable& experienceTable();

// Reads every token of XPHex.txt into the table and yields their count (0 for an empty or
// whitespace-only file). A read error part-way keeps the tokens read until then. If the file
// is not a regular file or cannot be opened, shows "Can not open file 'XPHex.txt'!" with no owner, leaves the table
// empty and yields nothing; ending the process is the caller's part.
// The program calls it once; each call starts from an empty table.
std::optional<std::size_t> loadExperienceTable();
