// libFuzzer target for the experience table and the level change: a name, the text of
// XPHex.txt, a level index and the state of the character file come from the input; all runs
// in a private temporary folder (the process's current directory for the whole run). The
// table read must be exactly the text split at the six whitespace bytes. The tree of files
// is compared before and after the change: no file but the character's own may change, appear or
// vanish, and in that file only byte 200 (201 from index 256 up), 332..335 and the experience
// bytes from 404 on may change; the message is "Level Changed" only when the file was written.
//
// Input: flags, 4 bytes of level index, 2 bytes of file length, name length, name, then the
// text of XPHex.txt.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "editor/character_file.h"
#include "editor/experience_table.h"
#include "tests/support/tree_snapshot.h"

namespace fs = std::filesystem;
using namespace test_support;

namespace {

std::string message;  // of the change being checked

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "charfile_fuzz: %s\n  message: %s\n", what, message.c_str());
  std::abort();
}

// The current directory for the whole run; removed at exit.
std::unique_ptr<ScratchFolder> folder;

// The plain reading of a table: a token is a maximal run of bytes other than the six
// whitespace bytes.
std::vector<std::string> tokensOf(const std::string& text) {
  std::vector<std::string> tokens(1);
  for (const char c : text) {
    if (c != ' ' && (c < '\t' || c > '\r')) tokens.back().push_back(c);
    else if (!tokens.back().empty()) tokens.emplace_back();
  }
  if (tokens.back().empty()) tokens.pop_back();
  return tokens;
}

// A file's bytes before the change: a pattern that no written byte is likely to keep equal
// everywhere.
std::string fileBytes(std::size_t byteCount) {
  std::string bytes(byteCount, '\0');
  for (std::size_t i = 0; i < byteCount; ++i) bytes[i] = static_cast<char>(i * 37 + 11);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  folder = std::make_unique<ScratchFolder>("charfile_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t byteCount) {
  // A fixed header (zeros past the input's end), then the name and the table text.
  std::uint8_t header[8] = {};
  const std::size_t headerBytes = std::min<std::size_t>(byteCount, sizeof header);
  std::memcpy(header, data, headerBytes);
  const std::uint8_t flags = header[0];
  const std::uint32_t rawIndex = std::uint32_t{header[1]} << 24 | header[2] << 16 | header[3] << 8 | header[4];
  const std::size_t fileLength = (header[5] << 8 | header[6]) % 700;
  const std::string rest(reinterpret_cast<const char*>(data) + headerBytes, byteCount - headerBytes);
  const std::string name = rest.substr(0, header[7] % 99);  // 0..98 bytes, as the dialog allows
  const std::string tableText = rest.substr(name.size());

  // The tree: the table, the character's bucket folder (unless flag 4), decoys in the bucket,
  // in the next bucket under the same name and beside the buckets, and the character's file
  // as a file (flag 1) or a folder (flag 2), or missing.
  std::error_code ignored;
  fs::remove_all("Dataserver", ignored);
  writeFile("XPHex.txt", tableText);
  const bool validName = isValidCharacterName(name);
  const std::uint8_t bucket = characterBucket(name);
  const fs::path userdata = fs::path("Dataserver") / "userdata";
  const fs::path bucketFolder = userdata / std::to_string(bucket);
  const fs::path target = bucketFolder / (name + ".dat");
  fs::create_directories(userdata);
  writeFile(userdata / "decoy.dat", fileBytes(500));
  if (validName) {
    fs::create_directories(userdata / std::to_string((bucket + 1) % 256));
    writeFile(userdata / std::to_string((bucket + 1) % 256) / (name + ".dat"), fileBytes(500));
  }
  if ((flags & 4) == 0) {
    fs::create_directories(bucketFolder);
    if (name != "decoy") writeFile(bucketFolder / "decoy.dat", fileBytes(500));
    if (validName && (flags & 3) == 1) writeFile(target, fileBytes(fileLength));
    if (validName && (flags & 3) == 2) fs::create_directories(target);
  }

  message.clear();
  const ExperienceTableLoad load = loadExperienceTable();
  if (load.failure) fail("the table was not read");
  if (load.table != tokensOf(tableText)) fail("the table is not the file's tokens");
  const std::size_t levelCount = load.table.size();
  // Mostly an index inside the table or just past it; with flag 8, any 32-bit value.
  const std::int32_t levelIndex = (flags & 8) != 0 ? static_cast<std::int32_t>(rawIndex)
                                                   : static_cast<std::int32_t>(rawIndex % (levelCount + 2));

  const Tree before = snapshot();
  message = changeCharacterLevel(name, levelIndex, load.table).text;
  const Tree after = snapshot();

  const bool changed = message == "Level Changed";
  // Bytes 200 and 201 hold 16 bits: index 65535 (level 65536) is the highest written.
  const bool canChange = validName && levelIndex >= 0 && levelIndex <= 0xFFFF &&
                         static_cast<std::size_t>(levelIndex) < levelCount &&
                         (flags & 4) == 0 && (flags & 3) == 1;
  if (changed != canChange) fail("the outcome does not follow from the name, the index and the file");

  // Bytes the change may write: 200 (and 201), 332..335, and one byte from 404 on for every
  // pair of digits before the last 8 (a short or odd entry counts as padded to an even
  // length of at least 8).
  std::size_t digits = 0;
  if (canChange) digits = load.table[static_cast<std::size_t>(levelIndex)].size();
  digits = digits < 8 ? 8 : digits + digits % 2;
  const std::size_t highEnd = 404 + (digits - 8) / 2;
  const std::size_t levelEnd = levelIndex >= 256 ? 202 : 201;
  auto mayWrite = [&](std::size_t offset) {
    return (offset >= 200 && offset < levelEnd) || (offset >= 332 && offset < 336) ||
           (offset >= 404 && offset < highEnd);
  };

  if (before.size() != after.size()) fail("an entry of the tree appeared or vanished");
  const std::u8string targetKey = target.generic_u8string();
  const std::string targetName(targetKey.begin(), targetKey.end());
  for (const auto& [path, entry] : before) {
    const auto found = after.find(path);
    if (found == after.end()) fail("an entry of the tree was renamed");
    if (found->second.kind != entry.kind) fail("an entry of the tree changed its kind");
    const std::string &bytes = entry.bytes, &now = found->second.bytes;
    if (now == bytes) continue;
    if (!changed || path != targetName) fail("a file other than the character's changed");
    if (now.size() < bytes.size()) fail("the character's file was cut");
    for (std::size_t i = 0; i < now.size(); ++i) {
      const char old = i < bytes.size() ? bytes[i] : '\0';
      if (now[i] != old && !mayWrite(i)) fail("a byte outside the level and the experience changed");
    }
    // Grown only as far as the bytes written.
    if (now.size() > bytes.size() && !mayWrite(now.size() - 1)) fail("the file grew past the bytes written");
    if (static_cast<std::uint8_t>(now[200]) != (levelIndex & 0xFF)) fail("byte 200 is not the level index");
    if (levelIndex >= 256 && static_cast<std::uint8_t>(now[201]) != ((levelIndex >> 8) & 0xFF))
      fail("byte 201 is not the level index's high byte");
  }
  if (changed && before.at(targetName).bytes.size() < 336 && after.at(targetName).bytes.size() < 336)
    fail("a short file did not grow to take the experience");
  return 0;
}
