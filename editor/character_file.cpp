// The level change: path and bucket of a character's file, and the bytes written into it.
// Pairs with character_file.h.
#include "editor/character_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "editor/file_kind.h"

namespace {

constexpr long LEVEL_OFFSET = 200;            // 1 byte below levelIndex 256, else 2, little-endian
constexpr long EXPERIENCE_LOW_OFFSET = 332;   // last 8 digits as a 32-bit little-endian value
constexpr long EXPERIENCE_HIGH_OFFSET = 404;  // the digits before those, one byte per pair
constexpr std::size_t EXPERIENCE_LOW_BYTES = 4;
// Bytes 200 and 201 hold levelIndex as 16 bits, so level 65536 is the highest a file can take;
// a higher one would be stored modulo 65536 (level 65537 as level 1).
constexpr std::int32_t MAX_LEVEL_INDEX = 0xFFFF;
constexpr std::size_t MIN_EXPERIENCE_DIGITS = 2 * EXPERIENCE_LOW_BYTES;

// The low 8 bits of strtol(pair, base 16) in two's complement: optional sign, optional 0x,
// digits up to the first other character, 0 without a digit. "1F" 1F, "1g" 01, "g1" 00,
// "-1" FF, "0x" 00.
std::uint8_t pairByte(char high, char low) {
  const char pair[3] = {high, low, '\0'};
  return static_cast<std::uint8_t>(static_cast<unsigned long>(std::strtol(pair, nullptr, 16)));
}

// The experience bytes in the order they are written, least significant pair first: the first
// four go to 332..335, the rest to 404 onward. A string shorter than 8 characters or of odd
// length reads as if padded on the left with '0' to an even length of at least 8, so "A" gives
// 0A 00 00 00 and "123456789" gives 89 67 45 23, 01.
std::vector<std::uint8_t> experienceBytes(std::string_view digits) {
  std::size_t paddedLength =
      digits.size() < MIN_EXPERIENCE_DIGITS ? MIN_EXPERIENCE_DIGITS : digits.size();
  paddedLength += paddedLength % 2;
  std::string padded(paddedLength - digits.size(), '0');
  padded.append(digits);
  std::vector<std::uint8_t> bytes;
  for (std::size_t end = paddedLength; end >= 2; end -= 2) {
    bytes.push_back(pairByte(padded[end - 2], padded[end - 1]));
  }
  return bytes;
}

bool writeAt(std::FILE* file, long offset, const std::uint8_t* bytes, std::size_t byteCount) {
  return std::fseek(file, offset, SEEK_SET) == 0 &&
         std::fwrite(bytes, 1, byteCount, file) == byteCount;
}

// Every seek and write checked; false when a byte did not reach the stream. Buffered bytes that
// fail on their way to the disk show at fclose, which the caller checks.
bool writeLevelChange(std::FILE* file, std::int32_t levelIndex, std::string_view experience) {
  const std::uint8_t level[2] = {static_cast<std::uint8_t>(levelIndex & 0xFF),
                                 static_cast<std::uint8_t>((levelIndex >> 8) & 0xFF)};
  // Below 256 only byte 200 is written; byte 201 keeps what it held.
  const std::size_t levelBytes = levelIndex < 256 ? 1 : 2;
  const std::vector<std::uint8_t> bytes = experienceBytes(experience);
  if (!writeAt(file, LEVEL_OFFSET, level, levelBytes)) return false;
  if (!writeAt(file, EXPERIENCE_LOW_OFFSET, bytes.data(), EXPERIENCE_LOW_BYTES)) return false;
  if (bytes.size() > EXPERIENCE_LOW_BYTES &&
      !writeAt(file, EXPERIENCE_HIGH_OFFSET, bytes.data() + EXPERIENCE_LOW_BYTES,
               bytes.size() - EXPERIENCE_LOW_BYTES)) {
    return false;
  }
  return true;
}

}  // namespace

std::uint8_t characterBucket(std::string_view name) {
  unsigned sum = 0;
  for (const char c : name) {
    const unsigned byte = static_cast<unsigned char>(c);
    sum += (byte >= 'a' && byte <= 'z') ? byte - 32 : byte;
  }
  return static_cast<std::uint8_t>(sum);
}

std::string characterFilePath(std::string_view name) {
  std::string path = "Dataserver\\userdata\\";
  path += std::to_string(characterBucket(name));
  path += '\\';
  path += name;
  path += ".dat";
  return path;
}

std::string platformFilePath(std::string_view path) {
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  std::string mapped(path);
  for (char& c : mapped) {
    if (c == '\\') c = separator;
  }
  return mapped;
}

bool isValidCharacterName(std::string_view name) {
  for (const char c : name) {
    if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

EditorMessage changeCharacterLevel(std::string_view name, std::int32_t levelIndex,
                                   const ExperienceTable& table) {
  if (!isValidCharacterName(name)) return {"Invalid Character Name!", "Error"};
  if (levelIndex < 0 || static_cast<std::size_t>(levelIndex) >= table.size()) {
    return {"Error In Getting Level Data!", "Error"};
  }
  if (levelIndex > MAX_LEVEL_INDEX) {
    return {"Level Too High! A character file holds levels up to 65536.", "Error"};
  }
  const std::string path = platformFilePath(characterFilePath(name));

  // A folder, device or FIFO of that name is no character file: it is reported as not found.
  std::FILE* check = isRegularFile(path.c_str()) ? std::fopen(path.c_str(), "rb") : nullptr;
  if (check == nullptr) return {"Error Loading User Data! Path not found or Access denied!", path};
  std::fclose(check);

  // "r+b": the file must exist, is not truncated, and a 0A byte stays one byte on Windows.
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  bool saved = false;
  if (file != nullptr) {
    saved = writeLevelChange(file, levelIndex, table[static_cast<std::size_t>(levelIndex)]);
    saved = (std::fclose(file) == 0) && saved;
  }
  if (!saved) return {"Error Saving User Data! File is read-only or Access denied!", path};
  return {"Level Changed", "Succeeded"};
}
