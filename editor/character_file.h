// A character's file under Dataserver\userdata\ and the level change written into it. Reads
// the experience table (experience_table.h) that it is given; reports what the operator is told.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "editor/experience_table.h"
#include "editor/message.h"

// Sum of the name's bytes, 'a'..'z' counted as their upper-case letter, modulo 256. Bytes from
// 0x80 up count as themselves. The case folding touches the sum only, never the path.
std::uint8_t characterBucket(std::string_view name);

// "Dataserver\userdata\" + bucket in "%d" + "\" + name + ".dat", with backslashes and the
// name as typed.
std::string characterFilePath(std::string_view name);

// path with each backslash turned into this platform's separator ('/' on POSIX); the form that
// is opened and shown in the file messages.
std::string platformFilePath(std::string_view path);

// False for a name that holds '\' or '/' (it would leave its bucket folder), ':' (a drive or
// an alternate stream on Windows) or a byte below 0x20. Everything else, the empty name
// included, is valid.
bool isValidCharacterName(std::string_view name);

// Writes levelIndex (the level minus 1) at byte 200 (and 201 from 256 up) and the experience
// string of that level in table at 332..335 and 404 onward, and yields the message for the
// outcome. Nothing is written for an invalid name, a levelIndex outside the table or above
// 65535 (two bytes), or a path that is not a readable regular file. No file is open on return.
EditorMessage changeCharacterLevel(std::string_view name, std::int32_t levelIndex,
                                   const ExperienceTable& table);
