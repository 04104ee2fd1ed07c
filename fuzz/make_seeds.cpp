// Writes the committed seed corpora of the fuzz targets into the folder given: modules/ (the
// rich module and the hostile modules of tests/hostile, for the loader and the player),
// xphex/ (experience tables) and charfile/ (inputs of the level-change target).
//   make_seeds fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/hostile/hostile_modules.h"

namespace fs = std::filesystem;

namespace {

// Seeds stay small so that libFuzzer's length limit, taken from the largest seed, stays small.
constexpr std::size_t MAX_SEED_BYTES = 16384;

bool writeSeed(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// One input of charfile_fuzz: flags, name length, name, level index (big-endian), file length
// (big-endian), table text.
std::string charfileInput(std::uint8_t flags, const std::string& name, std::uint32_t levelIndex,
                          std::uint16_t fileBytes, const std::string& table) {
  std::string input;
  input += static_cast<char>(flags);
  input += static_cast<char>(name.size());
  input += name;
  for (int shift = 24; shift >= 0; shift -= 8) input += static_cast<char>(levelIndex >> shift);
  input += static_cast<char>(fileBytes >> 8);
  input += static_cast<char>(fileBytes);
  input += table;
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* sub : {"modules", "xphex", "charfile"}) fs::create_directories(root / sub);
  bool ok = true;

  auto module = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() <= MAX_SEED_BYTES) ok &= writeSeed(root / "modules" / (name + ".xm"), std::string(bytes.begin(), bytes.end()));
  };
  module("rich", writeXm(richModule()));
  for (const HostileCase& hostile : hostileCases()) module(hostile.name, hostileImage(hostile));

  const std::string tables[][2] = {
      {"crlf", "0000000A\r\n00000064\r\n"},
      {"one-line", "00000010 00000020"},
      {"no-final-line-end", "00000001\n00000002\n0123456789ABCDEF"},
      {"blank-lines-and-tabs", "\n\n\t00000005\v\f\r\n\n  00000006  \n"},
      {"bom-and-junk", "\xEF\xBB\xBF" "0000000A\nxyz\n-1-1-1-1\n0x0x0x0x\n"},
      {"long-token", "0123456789012345678901234567890123456789\n"},
      {"empty", ""},
  };
  for (const auto& [name, text] : tables) ok &= writeSeed(root / "xphex" / name, text);

  const std::string table = "00000000\n000000FF\n0123456789ABCDEF\n00000000000A\n1g\n-1\n0x123456789\n";
  ok &= writeSeed(root / "charfile" / "changed", charfileInput(1, "abc", 2, 500, table));
  ok &= writeSeed(root / "charfile" / "short-file-grows", charfileInput(1, "Hero123", 3, 10, table));
  ok &= writeSeed(root / "charfile" / "odd-and-short-entries", charfileInput(1, "\xC4\xE3\xBA\xC3", 5, 420, table));
  ok &= writeSeed(root / "charfile" / "missing-file", charfileInput(0, "Warrior", 0, 500, table));
  ok &= writeSeed(root / "charfile" / "missing-bucket", charfileInput(5, "warrior", 1, 500, table));
  ok &= writeSeed(root / "charfile" / "file-is-a-folder", charfileInput(2, "", 1, 0, table));
  ok &= writeSeed(root / "charfile" / "name-leaves-bucket", charfileInput(1, "..\\..\\XPHex", 1, 500, table));
  ok &= writeSeed(root / "charfile" / "index-past-table", charfileInput(9, "abc", 0x80000000u, 500, table));
  std::string levels;
  for (int i = 0; i < 300; ++i) levels += "0000000000000001\n";
  ok &= writeSeed(root / "charfile" / "level-300", charfileInput(1, "ABC", 299, 600, levels));
  if (!ok) std::fprintf(stderr, "make_seeds: a seed could not be written\n");
  return ok ? 0 : 1;
}
