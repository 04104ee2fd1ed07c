// Hostile input to the editor, on every platform: a huge table, a huge entry, entries that are
// not hexadecimal, every byte in a name, a folder at the character path and short files. Each
// case compares the whole server tree before and after.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/editor/editor_fixture.h"

namespace editortest {
namespace {

const Message LEVEL_TOO_HIGH = {"Level Too High! A character file holds levels up to 65536.",
                                "Error", nullptr};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// [SECTION] Table size

// 100 000 levels: the list gets every entry in order, levels up to 65536 are written as two
// bytes, and the ones above, which two bytes cannot hold, are refused with nothing written.
TEST_F(Editor, HundredThousandLevels) {
  constexpr int LEVELS = 100000;
  std::string text;
  char line[16];
  for (int level = 1; level <= LEVELS; ++level) {
    std::snprintf(line, sizeof line, "%08X\r\n", level * 16);
    text += line;
  }
  writeFile("XPHex.txt", text);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dispatchDialogMessage(DIALOG, MESSAGE_INITDIALOG, 0, 0), 1);
  const double initSeconds = secondsSince(start);
  std::printf("[ TIMING   ] table read and %d list entries added in %.3f s\n", LEVELS,
              initSeconds);
  ASSERT_EQ(rec.levelEntries.size(), std::size_t(LEVELS));
  int misplaced = 0;
  for (int i = 0; i < LEVELS; ++i) misplaced += rec.levelEntries[i] != std::to_string(i + 1);
  EXPECT_EQ(misplaced, 0);
  EXPECT_TRUE(rec.messages.empty());

  writeFile(openedPath(characterFilePath("Hero123")), characterBytes(512));
  rec.nameText = "Hero123";
  const auto change = [] { onCommand(DIALOG, IDC_CHANGE, 0); };
  rec.levelText = "65537";
  expectOutcome(change, LEVEL_TOO_HIGH);
  // Entry 65536 is 00100000: 00 00 10 00 at 332.
  rec.levelText = "65536";
  expectOutcome(change, LEVEL_CHANGED, "Dataserver/userdata/196/Hero123.dat",
                {{200, "\xFF\xFF"s}, {332, "\x00\x00\x10\x00"s}});
}

// [SECTION] Entry content

// A 1 MiB entry is kept whole and written whole: its last 8 digits at 332, and the 524 284
// pairs before them from 404 on, so the file grows to 404 + 524 284 bytes. The digits are the
// hexadecimal form of random bytes, most significant first, so the expected file is those
// bytes in reverse order.
TEST_F(Editor, MegabyteEntry) {
  constexpr std::size_t VALUE_BYTES = 512 * 1024;
  std::mt19937 random(20240501);
  std::string value(VALUE_BYTES, '\0');
  for (char& byte : value) byte = char(random());
  std::string digits;
  char pair[3];
  for (const char byte : value) {
    std::snprintf(pair, sizeof pair, (random() & 1) ? "%02X" : "%02x", unsigned(std::uint8_t(byte)));
    digits += pair;
  }
  ASSERT_EQ(digits.size(), std::size_t(1024 * 1024));
  writeTable("00000001\r\n" + digits + "\r\n00000002\r\n", 3u);
  EXPECT_TRUE(experienceTable()[1] == digits) << "the entry was not kept whole";

  writeFile(openedPath(characterFilePath("abc")), characterBytes(512));
  const std::string reversed(value.rbegin(), value.rend());
  expectOutcome([] { changeCharacterLevel("abc", 1); }, LEVEL_CHANGED, "Dataserver/userdata/198/abc.dat",
                {{200, "\x01"s}, {332, reversed.substr(0, 4)}, {404, reversed.substr(4)}});
  EXPECT_EQ(fs::file_size(openedPath(characterFilePath("abc"))), 404u + 524284u);
}

// Entries that are not hexadecimal are stored as read; each pair converts as strtol base 16
// does: optional sign, optional 0x, digits up to the first other byte, 0 without a digit.
TEST_F(Editor, EntriesThatAreNotHexadecimal) {
  struct Case {
    const char* name;
    std::string entry;
    std::string at332, at404;  // at404 empty: 404 onward keep their bytes
  } cases[] = {
      {"letters", "xyzXYZgG", "\0\0\0\0"s, ""},
      {"short, padded with 0 on the left: 0x of 00000xyz gives 0", "xyz", "\0\0\0\0"s, ""},
      {"minus ones", "-1-1-1-1", "\xFF\xFF\xFF\xFF"s, ""},
      {"signs and prefixes", "+F-F0x0X", "\0\0\xF1\x0F"s, ""},
      {"negative digits before the last 8", "-7-8-9-A12345678", "\x78\x56\x34\x12"s,
       "\xF6\xF7\xF8\xF9"s},
      {"UTF-8 full-width digits are no digits", "\xEF\xBC\x91\xEF\xBC\x92" "AB", "\xAB\0\0\0"s, ""},
      {"a NUL byte ends a pair", "0A0B0C\0D"s, "\0\x0C\x0B\x0A"s, ""},
      {"byte-order mark, odd length", "\xEF\xBB\xBF" "00000064", "\x64\0\0\0"s, "\0\0"s},
  };
  std::string text;
  std::vector<std::string> entries;
  for (const Case& c : cases) {
    text += c.entry + "\n";
    entries.push_back(c.entry);
  }
  writeTable(text, std::size(cases));
  EXPECT_EQ(experienceTable(), entries);

  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    writeFile(openedPath(characterFilePath("Warrior")), characterBytes(512));
    std::map<std::size_t, std::string> writes = {{200, std::string(1, char(i))}, {332, c.at332}};
    if (!c.at404.empty()) writes[404] = c.at404;
    expectOutcome([i] { changeCharacterLevel("Warrior", std::int32_t(i)); }, LEVEL_CHANGED,
                  "Dataserver/userdata/38/Warrior.dat", writes);
  }
}

// [SECTION] Names

// "a" + byte + "z" for every byte from 01 to FF. '\', '/', ':' and the bytes below 20 are
// refused, and the file that such a name would reach, made here where the platform allows it,
// stays as it was. Every other byte is used as typed: the file in the name's bucket changes
// and nothing else; where the platform cannot hold such a file name ('*' or '?' on Windows),
// the file is reported missing and nothing is created.
TEST_F(Editor, EveryNameByte) {
  writeTable("0000ABCD\n", 1u);
  const std::string original = characterBytes(512);
  const std::string bystander(600, 'B');
  for (int byte = 0x01; byte <= 0xFF; ++byte) {
    const std::string name = "a"s + char(byte) + "z";
    SCOPED_TRACE("byte " + std::to_string(byte));
    std::error_code ignored;
    fs::remove_all("Dataserver", ignored);
    const std::string bucketFolder = openedPath("Dataserver\\userdata\\" +
                                                std::to_string(characterBucket(name)));
    writeFile(fs::path(bucketFolder) / "bystander.dat", bystander);
    writeFile(openedPath("Dataserver\\userdata\\bystander.dat"), bystander);
    // Made with fopen, which maps the name as the editor's fopen does. Not "a:z.dat" on
    // Windows, where it would name a stream of a file "a" (and Wine leaves a file that it then
    // cannot remove).
    const bool windows = fs::path::preferred_separator == '\\';
    const std::string path = platformFilePath(characterFilePath(name));
    fs::create_directories(fs::path(path).parent_path(), ignored);
    std::FILE* file = windows && byte == ':' ? nullptr : std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
      std::fwrite(original.data(), 1, original.size(), file);
      std::fclose(file);
    }
    const bool refused = byte < 0x20 || byte == '\\' || byte == '/' || byte == ':';
    const Message message = refused           ? Message{"Invalid Character Name!", "Error", nullptr}
                            : file == nullptr ? Message{LOAD_ERROR, path, nullptr}
                                              : LEVEL_CHANGED;
    expectOutcome([&] { changeCharacterLevel(name, 0); }, message,
                  message == LEVEL_CHANGED ? keyOfFile(snapshot(), original) : "",
                  {{200, "\0"s}, {332, "\xCD\xAB\0\0"s}});
  }
}

// [SECTION] A folder at the path

// A folder where the character file should be, which opens for reading on Linux: the load
// error, not the save error, and nothing created or changed.
TEST_F(Editor, FolderAtTheCharacterPath) {
  writeTable("00000064\n", 1u);
  const std::string path = openedPath(characterFilePath("abc"));
  writeFile(fs::path(path) / "abc.dat", characterBytes(512));
  expectOutcome([] { changeCharacterLevel("abc", 0); }, {LOAD_ERROR, path, nullptr});
}

// [SECTION] Short files

// A file shorter than a byte written grows to take it, and the gap reads as zero: an empty
// file becomes 336 bytes, or 408 with a 16-digit entry; a file that already reaches past the
// last byte written keeps its size.
TEST_F(Editor, ShortFilesGrow) {
  writeTable("00000064\n0123456789ABCDEF\n", 2u);
  const std::string key = "Dataserver/userdata/198/abc.dat";
  const std::map<std::size_t, std::string> writes[2] = {
      LEVEL_1_WRITES,
      {{200, "\x01"s}, {332, "\xEF\xCD\xAB\x89"s}, {404, "\x67\x45\x23\x01"s}}};
  for (const std::size_t fileBytes : {0, 200, 335, 405, 408}) {
    for (int levelIndex : {0, 1}) {
      SCOPED_TRACE(std::to_string(fileBytes) + " bytes, level " + std::to_string(levelIndex + 1));
      writeFile(openedPath(characterFilePath("abc")), characterBytes(fileBytes));
      expectOutcome([=] { changeCharacterLevel("abc", levelIndex); }, LEVEL_CHANGED, key, writes[levelIndex]);
      EXPECT_EQ(fs::file_size(openedPath(characterFilePath("abc"))),
                std::max<std::size_t>(fileBytes, levelIndex == 0 ? 336 : 408));
    }
  }
  // The gap spelled out once, for an empty file and the 16-digit entry.
  writeFile(openedPath(characterFilePath("abc")), "");
  changeCharacterLevel("abc", 1);
  EXPECT_EQ(readFile(openedPath(characterFilePath("abc"))),
            std::string(200, '\0') + "\x01"s + std::string(131, '\0') + "\xEF\xCD\xAB\x89"s +
                std::string(68, '\0') + "\x67\x45\x23\x01"s);
}

}  // namespace
}  // namespace editortest
