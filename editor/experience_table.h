// The experience table: one experience string per level, read once from XPHex.txt in the
// current directory. Pairs with character_file.h, which writes the entry of the chosen level.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "editor/message.h"

// Entry k belongs to level k + 1. Each entry is one token of the file exactly as read: any
// bytes but the six whitespace bytes, any length, no conversion and no check.
using ExperienceTable = std::vector<std::string>;

struct ExperienceTableLoad {
  ExperienceTable table;
  // "Can not open file 'XPHex.txt'!" when the file is not a regular file or cannot be opened;
  // the table is then empty, and ending the process is the caller's part.
  std::optional<EditorMessage> failure;
};

// Reads every token of XPHex.txt (none for an empty or whitespace-only file). A read error
// part-way keeps the tokens read until then.
ExperienceTableLoad loadExperienceTable();
