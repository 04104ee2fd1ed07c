// Tests of the experience table, the character file update and the dialog logic, over a
// front end that records every operation, on real files in a fresh folder per test.
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/editor/editor_fixture.h"

namespace editortest {

// [SECTION] Experience table

TEST_F(Editor, TableTokens) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string forty(40, 'F');
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::string> entries;
  } cases[] = {
      {"no final line end, blank lines", "\n\n1\n\r\n\n2", {"1", "2"}},
      {"six whitespace bytes", " \t\n\v\f\rA \t\n\v\f\rB\v", {"A", "B"}},
      {"other bytes are token bytes",
       std::string("x\x01\x1A\0\x85y", 6) + "\txyz",
       {std::string("x\x01\x1A\0\x85y", 6), "xyz"}},
      {"byte-order mark starts the first entry", bom + "00000001\r\n", {bom + "00000001"}},
      {"40-character token", forty + "\n", {forty}},
      {"empty file", "", {}},
      {"whitespace only", " \r\n\t\r\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile("XPHex.txt", c.file);
    EXPECT_EQ(loadExperienceTable(), c.entries.size());
    EXPECT_EQ(experienceTable(), c.entries);
  }
  EXPECT_TRUE(rec.messages.empty());
}

// [SECTION] Bucket and path

TEST_F(Editor, BucketAndPath) {
  struct Case {
    std::string name;
    int bucket;
  } cases[] = {
      {"abc", 198},
      {"ABC", 198},
      {"\xC4\xE3\xBA\xC3", 36},
      {"", 0},
      // Only 'a'..'z' fold: '`' and '{' next to them and bytes from 0x80 up count as they are.
      {"`{", 0x60 + 0x7B},
      {"\x80\xE1\xFF", (0x80 + 0xE1 + 0xFF) % 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(characterBucket(c.name), c.bucket);
    EXPECT_EQ(characterFilePath(c.name),
              "Dataserver\\userdata\\" + std::to_string(c.bucket) + "\\" + c.name + ".dat");
  }
  EXPECT_EQ(platformFilePath("Dataserver\\userdata\\198\\abc.dat"),
            openedPath("Dataserver\\userdata\\198\\abc.dat"));
}

// [SECTION] Bytes written

TEST_F(Editor, BytesWritten) {
  struct Case {
    const char* name;
    std::int32_t levelIndex;
    std::string experience;
    std::map<std::size_t, std::string> writes;  // offset -> bytes; every other byte is kept
  } cases[] = {
      // clang-format off
      {"level 1", 0, "00000064", {{200, "\x00"s}, {332, "\x64\0\0\0"s}}},
      {"level 256", 255, "00000064", {{200, "\xFF"s}, {332, "\x64\0\0\0"s}}},
      {"level 257", 256, "00000064", {{200, "\x00\x01"s}, {332, "\x64\0\0\0"s}}},
      {"16 digits", 0, "0123456789ABCDEF",
       {{200, "\0"s}, {332, "\xEF\xCD\xAB\x89"s}, {404, "\x67\x45\x23\x01"s}}},
      {"12 digits, 0A stays one byte", 0, "00000000000A",
       {{200, "\0"s}, {332, "\x0A\0\0\0"s}, {404, "\0\0"s}}},
      {"lower-case digits", 0, "deadbeef", {{200, "\0"s}, {332, "\xEF\xBE\xAD\xDE"s}}},
      {"short string padded to 8", 0, "A", {{200, "\0"s}, {332, "\x0A\0\0\0"s}}},
      {"odd length padded to even", 0, "123456789",
       {{200, "\0"s}, {332, "\x89\x67\x45\x23"s}, {404, "\x01"s}}},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec.messages.clear();
    loadTableEndingWith(c.levelIndex, c.experience);
    const fs::path path = openedPath(characterFilePath("Hero123"));
    writeFile(path, characterBytes(512));
    changeCharacterLevel("Hero123", c.levelIndex);
    EXPECT_EQ(readFile(path), withWrites(characterBytes(512), c.writes));
    EXPECT_EQ(rec.messages, std::vector<Message>{LEVEL_CHANGED});
  }
}

TEST_F(Editor, LowerLevelKeepsByte201) {
  loadTableEndingWith(300, "00000064");
  const fs::path path = openedPath(characterFilePath("Warrior"));
  writeFile(path, characterBytes(408));
  changeCharacterLevel("Warrior", 300);
  changeCharacterLevel("Warrior", 4);
  const std::string bytes = readFile(path);
  EXPECT_EQ(bytes.substr(200, 2), "\x04\x01"s);
  EXPECT_EQ(rec.messages, std::vector<Message>(2, LEVEL_CHANGED));
}

// [SECTION] Refusals and failures

// Names are refused byte by byte in EveryNameByte; here the indexes the table does not hold.
TEST_F(Editor, LevelOutsideTableIsRefused) {
  writeTable("00000064\n00000065\n", 2u);
  const fs::path path = openedPath(characterFilePath("abc"));
  writeFile(path, characterBytes(512));
  for (const std::int32_t levelIndex : {-1, 2, INT32_MAX}) {
    SCOPED_TRACE(levelIndex);
    rec.messages.clear();
    changeCharacterLevel("abc", levelIndex);
    EXPECT_EQ(rec.messages,
              (std::vector<Message>{{"Error In Getting Level Data!", "Error", nullptr}}));
    EXPECT_EQ(readFile(path), characterBytes(512));
  }
}

TEST_F(Editor, FileMessages) {
  writeTable("00000064\n", 1u);
  const std::string korean = "\xC4\xE3\xBA\xC3";
  writeFile(openedPath("Dataserver\\userdata\\0\\.dat"), characterBytes(512));
  writeFile(openedPath("Dataserver\\userdata\\36\\" + korean + ".dat"), characterBytes(512));
  struct Case {
    std::string name;
    Message message;
  } cases[] = {
      {"Nobody",
       {"Error Loading User Data! Path not found or Access denied!",
        openedPath("Dataserver\\userdata\\203\\Nobody.dat"), nullptr}},
      {"", LEVEL_CHANGED},
      {korean, LEVEL_CHANGED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec.messages.clear();
    changeCharacterLevel(c.name, 0);
    EXPECT_EQ(rec.messages, std::vector<Message>{c.message});
  }
  EXPECT_FALSE(fs::exists(openedPath("Dataserver\\userdata\\203\\Nobody.dat")));
}

// [SECTION] Dialog

std::uintptr_t command(int id, int notification) { return std::uintptr_t(notification) << 16 | id; }

TEST_F(Editor, InitFillsListInOrder) {
  std::string text;
  for (int i = 1; i <= 12; ++i) text += "0000000" + std::string(1, "0123456789ABC"[i]) + "\n";
  writeFile("XPHex.txt", text);
  EXPECT_EQ(dispatchDialogMessage(DIALOG, MESSAGE_INITDIALOG, 0, 0), 1);
  EXPECT_EQ(rec.levelEntries, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9",
                                                        "10", "11", "12"}));
  EXPECT_EQ(rec.iconCalls, 1);
  EXPECT_TRUE(rec.messages.empty());
  EXPECT_TRUE(rec.exitCodes.empty());

  // Level n reaches the file as levelIndex n - 1, whatever the notification code.
  const fs::path path = openedPath(characterFilePath("Hero123"));
  writeFile(path, characterBytes(512));
  rec.nameText = "Hero123";
  for (const auto& [level, notification] : {std::pair{"1", 0}, std::pair{"12", 1}}) {
    rec.levelText = level;
    dispatchDialogMessage(DIALOG, MESSAGE_COMMAND, command(IDC_CHANGE, notification), 0);
    EXPECT_EQ(std::uint8_t(readFile(path)[200]), std::stoi(level) - 1);
  }
  EXPECT_EQ(rec.messages, std::vector<Message>(2, LEVEL_CHANGED));

  // Only IDC_CHANGE acts: not IDOK, not IDCANCEL (Escape), not the other controls.
  rec.messages.clear();
  const std::string before = readFile(path);
  for (int id : {1, 2, IDC_NAME, IDC_LEVEL}) {
    dispatchDialogMessage(DIALOG, MESSAGE_COMMAND, command(id, 0), 0);
  }
  EXPECT_EQ(dispatchDialogMessage(DIALOG, 0x0002, 0, 0), 0);
  EXPECT_TRUE(rec.messages.empty());
  EXPECT_EQ(readFile(path), before);

  EXPECT_EQ(dispatchDialogMessage(DIALOG, MESSAGE_CLOSE, 0, 0), 0);
  EXPECT_EQ(rec.endResults, std::vector<int>{0});
  // The music starts before the icon is set and stops before the dialog ends.
  EXPECT_EQ(rec.events.front(), "open");
  EXPECT_EQ(rec.events[1], "icon");
  EXPECT_EQ(std::vector<std::string>(rec.events.end() - 2, rec.events.end()),
            (std::vector<std::string>{"close", "end"}));
}

// No XPHex.txt, or a folder of that name (which opens for reading on Linux): the table's
// error and the end of the process, with no list.
TEST_F(Editor, InitWithoutTableExits) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "folder" : "missing");
    stopMusic();
    rec = Recording{};
    if (folder) fs::create_directories("XPHex.txt");
    EXPECT_EQ(onInitDialog(DIALOG), 1);
    EXPECT_EQ(rec.messages,
              (std::vector<Message>{{"Can not open file 'XPHex.txt'!", "Error", nullptr}}));
    EXPECT_EQ(rec.exitCodes, std::vector<int>{0});
    EXPECT_TRUE(rec.levelEntries.empty());
    // The music plays while the message shows and is not stopped before the exit.
    EXPECT_EQ(rec.events, (std::vector<std::string>{"open", "icon", "message", "exit"}));
  }
}

TEST_F(Editor, ChangeWithoutLevel) {
  writeFile("XPHex.txt", "");
  onInitDialog(DIALOG);
  EXPECT_TRUE(rec.levelEntries.empty());
  rec.nameText = "Hero123";
  onCommand(DIALOG, IDC_CHANGE, 0);
  EXPECT_EQ(rec.messages,
            (std::vector<Message>{{"Error In Getting Level Data!", "Error", DIALOG}}));
  // A level that the list never offers reaches the level change, which refuses it unowned.
  for (const char* level : {"0", "-2147483648"}) {
    rec.messages.clear();
    rec.levelText = level;
    onCommand(DIALOG, IDC_CHANGE, 0);
    EXPECT_EQ(rec.messages,
              (std::vector<Message>{{"Error In Getting Level Data!", "Error", nullptr}}));
  }
}

TEST_F(Editor, LongNameIsCutTo98) {
  writeFile("XPHex.txt", "00000064\n");
  onInitDialog(DIALOG);
  rec.nameText = std::string(120, 'n');
  rec.levelText = "1";
  onCommand(DIALOG, IDC_CHANGE, 0);
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].caption, openedPath(characterFilePath(std::string(98, 'n'))));
}

// [SECTION] Example server

// The generator's character files sit in the bucket folders of their names.
TEST_F(Editor, ExampleServerIsConsistent) {
  const fs::path server = EXAMPLE_SERVER_DIR;
  if (!fs::exists(server)) GTEST_SKIP() << "the source tree is not reachable from here";
  int characters = 0;
  for (const auto& entry : fs::recursive_directory_iterator(server / "Dataserver" / "userdata")) {
    if (!entry.is_regular_file()) continue;
    ++characters;
    const std::string name = entry.path().stem().string();
    EXPECT_EQ(entry.path().parent_path().filename().string(),
              std::to_string(characterBucket(name)));
    EXPECT_GE(entry.file_size(), 408u) << name;
  }
  EXPECT_GE(characters, 3);
}

}  // namespace editortest
