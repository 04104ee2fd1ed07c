// Tests of the experience table, the character file update and the dialog logic, over a
// front end that records every operation, on real files in a fresh folder per test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <share.h>
#else
#include <unistd.h>
#endif

#include "app/dialog.h"
#include "app/frontend.h"
#include "app/resource.h"
#include "audio/device.h"
#include "audio/music.h"
#include "editor/character_file.h"
#include "editor/experience_table.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// [SECTION] Recording front end

struct Message {
  std::string text, caption;
  DialogHandle owner;
  bool operator==(const Message&) const = default;
};

struct Recording {
  std::vector<Message> messages;
  std::vector<std::string> levelEntries;
  std::vector<int> endResults, exitCodes;
  int iconCalls = 0;
  std::string nameText;   // the name field
  std::string levelText;  // the level list's current text; empty when nothing is selected
  // Front-end and audio-device calls in order: "open", "icon", "message", "exit", "close", "end".
  std::vector<std::string> events;
};
Recording rec;

DialogHandle const DIALOG = &rec;

const FrontEnd recordingFrontEnd = {
    // Like GetDlgItemTextA: at most bufferBytes - 1 characters and the terminator.
    [](DialogHandle, int id, char* buffer, int bufferBytes) {
      EXPECT_EQ(id, IDC_NAME);
      const std::size_t count = std::min(rec.nameText.size(), std::size_t(bufferBytes - 1));
      rec.nameText.copy(buffer, count);
      buffer[count] = '\0';
    },
    [](DialogHandle, int id, std::int32_t* value) {
      EXPECT_EQ(id, IDC_LEVEL);
      if (rec.levelText.empty()) return false;
      *value = std::stoi(rec.levelText);
      return true;
    },
    [](DialogHandle dialog, int id, const char* text) {
      EXPECT_EQ(dialog, DIALOG);
      EXPECT_EQ(id, IDC_LEVEL);
      rec.levelEntries.push_back(text);
    },
    [](DialogHandle) {
      ++rec.iconCalls;
      rec.events.push_back("icon");
    },
    [](DialogHandle owner, const char* text, const char* caption) {
      rec.messages.push_back({text, caption, owner});
      rec.events.push_back("message");
    },
    [](DialogHandle, int result) {
      rec.endResults.push_back(result);
      rec.events.push_back("end");
    },
    [](int code) {
      rec.exitCodes.push_back(code);
      rec.events.push_back("exit");
    },
};

// The silent device, with its open and close recorded: the music's start and stop in order.
const AudioDevice recordingDevice = {
    "recording",
    [](const WaveFormat& format) {
      rec.events.push_back("open");
      return silentAudioDevice.open(format);
    },
    [](WaveHeader& header) { return silentAudioDevice.prepare(header); },
    [] { return silentAudioDevice.submit(); },
    [](std::uint64_t* bytesPlayed) { return silentAudioDevice.position(bytesPlayed); },
    [] { silentAudioDevice.reset(); },
    [](WaveHeader& header) { silentAudioDevice.unprepare(header); },
    [] {
      rec.events.push_back("close");
      silentAudioDevice.close();
    },
};

// [SECTION] Files

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path().empty() ? "." : path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The path as this platform opens it and shows it in the file messages.
std::string openedPath(const std::string& backslashed) {
#ifdef _WIN32
  return backslashed;
#else
  std::string path = backslashed;
  for (char& c : path) c = c == '\\' ? '/' : c;
  return path;
#endif
}

// A character file of byteCount bytes where no byte is 0 and each differs from its neighbours,
// so any stray or missing write shows in a whole-file comparison.
std::string characterBytes(std::size_t byteCount) {
  std::string bytes(byteCount, '\0');
  for (std::size_t i = 0; i < byteCount; ++i) bytes[i] = char(0x80 | (i * 37 % 127));
  return bytes;
}

// A table of levelIndex + 1 entries whose last entry is experience.
void loadTableEndingWith(std::int32_t levelIndex, const std::string& experience) {
  std::string text;
  for (std::int32_t i = 0; i < levelIndex; ++i) text += "00000000\r\n";
  writeFile("XPHex.txt", text + experience + "\r\n");
  ASSERT_EQ(loadExperienceTable(), std::size_t(levelIndex) + 1);
}

const Message LEVEL_CHANGED = {"Level Changed", "Succeeded", nullptr};
const char* const SAVE_ERROR = "Error Saving User Data! File is read-only or Access denied!";

class Editor : public testing::Test {
 protected:
  void SetUp() override {
    rec = Recording{};
    setFrontEnd(&recordingFrontEnd);
    useAudioDevice(&recordingDevice);
    home = fs::current_path();
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    folder = fs::temp_directory_path() /
             ("le-editor-" + std::string(info->name()) + "-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    fs::current_path(folder);
  }
  void TearDown() override {
    stopMusic();  // a test that opens the dialog without closing it leaves the music playing
    useAudioDevice(nullptr);
    fs::current_path(home);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  fs::path home, folder;
};

// [SECTION] Experience table

TEST_F(Editor, TableTokens) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string forty(40, 'F');
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::string> entries;
  } cases[] = {
      {"CR LF lines", "0000000A\r\n00000064\r\n", {"0000000A", "00000064"}},
      {"two on one line", "00000010 00000020", {"00000010", "00000020"}},
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
      {"Abc", 198},
      {"ABC", 198},
      {"Warrior", 38},
      {"warrior", 38},
      {"Hero123", 196},
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
  EXPECT_EQ(characterFilePath("abc"), "Dataserver\\userdata\\198\\abc.dat");
  EXPECT_EQ(characterFilePath(""), "Dataserver\\userdata\\0\\.dat");
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
    std::size_t fileBytes = 512;
  } cases[] = {
      // clang-format off
      {"level 1", 0, "00000064", {{200, "\x00"s}, {332, "\x64\0\0\0"s}}},
      {"level 256", 255, "00000064", {{200, "\xFF"s}, {332, "\x64\0\0\0"s}}},
      {"level 257", 256, "00000064", {{200, "\x00\x01"s}, {332, "\x64\0\0\0"s}}},
      {"level 301", 300, "00000064", {{200, "\x2C\x01"s}, {332, "\x64\0\0\0"s}}},
      {"16 digits", 0, "0123456789ABCDEF",
       {{200, "\0"s}, {332, "\xEF\xCD\xAB\x89"s}, {404, "\x67\x45\x23\x01"s}}},
      {"12 digits, 0A stays one byte", 0, "00000000000A",
       {{200, "\0"s}, {332, "\x0A\0\0\0"s}, {404, "\0\0"s}}},
      {"lower-case digits", 0, "deadbeef", {{200, "\0"s}, {332, "\xEF\xBE\xAD\xDE"s}}},
      // Pairs from the end: -1 FF, g1 00, 1F 1F, 1g 01, +7 07, 0x 00.
      {"strtol pair rules", 0, "0x+71g1Fg1-1",
       {{200, "\0"s}, {332, "\xFF\x00\x1F\x01"s}, {404, "\x07\x00"s}}},
      {"short string padded to 8", 0, "A", {{200, "\0"s}, {332, "\x0A\0\0\0"s}}},
      {"odd length padded to even", 0, "123456789",
       {{200, "\0"s}, {332, "\x89\x67\x45\x23"s}, {404, "\x01"s}}},
      {"short file grows with zeros", 0, "0123456789ABCDEF",
       {{200, "\0"s}, {332, "\xEF\xCD\xAB\x89"s}, {404, "\x67\x45\x23\x01"s}}, 10},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec.messages.clear();
    loadTableEndingWith(c.levelIndex, c.experience);
    const fs::path path = openedPath(characterFilePath("Hero123"));
    writeFile(path, characterBytes(c.fileBytes));
    std::string expected = readFile(path);
    for (const auto& [offset, bytes] : c.writes) {
      if (expected.size() < offset + bytes.size()) expected.resize(offset + bytes.size(), '\0');
      expected.replace(offset, bytes.size(), bytes);
    }
    changeCharacterLevel("Hero123", c.levelIndex);
    EXPECT_EQ(readFile(path), expected);
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

TEST_F(Editor, RefusedBeforeAnyFileIsTouched) {
  writeFile("XPHex.txt", "00000064\n00000065\n");
  ASSERT_EQ(loadExperienceTable(), 2u);
  const Message invalidName = {"Invalid Character Name!", "Error", nullptr};
  const Message badLevel = {"Error In Getting Level Data!", "Error", nullptr};
  struct Case {
    std::string name;
    std::int32_t levelIndex;
    Message message;
    bool makeFile = true;  // false: on Windows the file would be a stream, not a file
  } cases[] = {
      {"a\\b", 0, invalidName},      {"a/b", 0, invalidName},  {"C:b", 0, invalidName, false},
      {"tab\tname", 0, invalidName}, {"\x1F", 0, invalidName}, {"abc", -1, badLevel},
      {"abc", 2, badLevel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec.messages.clear();
    // Where this platform can make the file the name would reach, it must stay unchanged.
    const fs::path path = platformFilePath(characterFilePath(c.name));
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (c.makeFile) std::ofstream(path, std::ios::binary) << characterBytes(512);
    changeCharacterLevel(c.name, c.levelIndex);
    EXPECT_EQ(rec.messages, std::vector<Message>{c.message});
    if (fs::exists(path, error)) {
      EXPECT_EQ(readFile(path), characterBytes(512));
    }
  }
}

TEST_F(Editor, FileMessages) {
  writeFile("XPHex.txt", "00000064\n");
  ASSERT_EQ(loadExperienceTable(), 1u);
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

// Makes path readable but not writable for this process while it lives. Root writes through
// any mode bits, so on POSIX the process also takes nobody's effective ids; on Windows another
// handle that denies shared writing makes every open for update fail with a sharing violation.
class WriteBlock {
 public:
  explicit WriteBlock(const std::string& path) {
#ifdef _WIN32
    holder = _fsopen(path.c_str(), "rb", _SH_DENYWR);
#else
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    dropped = geteuid() == 0;
    if (dropped) {
      EXPECT_EQ(setegid(65534) | seteuid(65534), 0) << "cannot take nobody's ids";
    }
#endif
  }
  ~WriteBlock() {
#ifdef _WIN32
    if (holder != nullptr) std::fclose(holder);
#else
    if (dropped) {
      EXPECT_EQ(seteuid(0) | setegid(0), 0) << "cannot take back root's ids";
    }
#endif
  }

 private:
  std::FILE* holder = nullptr;
  bool dropped = false;
};

bool opens(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file != nullptr) std::fclose(file);
  return file != nullptr;
}

TEST_F(Editor, ReadOnlyFileIsReported) {
  writeFile("XPHex.txt", "00000064\n");
  ASSERT_EQ(loadExperienceTable(), 1u);
  const std::string path = openedPath(characterFilePath("abc"));
  writeFile(path, characterBytes(512));
  bool blocked = false;
  {
    WriteBlock block(path);
    blocked = opens(path, "rb") && !opens(path, "r+b");
    if (blocked) changeCharacterLevel("abc", 0);
  }
  if (!blocked) GTEST_SKIP() << "no way to make a readable file unwritable on this machine";
  EXPECT_EQ(rec.messages, (std::vector<Message>{{SAVE_ERROR, path, nullptr}}));
  EXPECT_EQ(readFile(path), characterBytes(512));
}

// /dev/full opens and seeks but fails every write: the failure shows when the bytes are flushed.
TEST_F(Editor, FailedWriteIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this platform";
  writeFile("XPHex.txt", "00000064\n");
  ASSERT_EQ(loadExperienceTable(), 1u);
  const std::string path = openedPath(characterFilePath("abc"));
  fs::create_directories(fs::path(path).parent_path());
  fs::create_symlink("/dev/full", path);
  changeCharacterLevel("abc", 0);
  EXPECT_EQ(rec.messages, (std::vector<Message>{{SAVE_ERROR, path, nullptr}}));
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

TEST_F(Editor, InitWithoutTableExits) {
  EXPECT_EQ(onInitDialog(DIALOG), 1);
  EXPECT_EQ(rec.messages,
            (std::vector<Message>{{"Can not open file 'XPHex.txt'!", "Error", nullptr}}));
  EXPECT_EQ(rec.exitCodes, std::vector<int>{0});
  EXPECT_TRUE(rec.levelEntries.empty());
  // The music plays while the message shows and is not stopped before the exit.
  EXPECT_EQ(rec.events, (std::vector<std::string>{"open", "icon", "message", "exit"}));
}

TEST_F(Editor, ChangeWithoutLevel) {
  writeFile("XPHex.txt", "");
  onInitDialog(DIALOG);
  EXPECT_TRUE(rec.levelEntries.empty());
  for (const char* name : {"", "Hero123"}) {
    rec.messages.clear();
    rec.nameText = name;
    onCommand(DIALOG, IDC_CHANGE, 0);
    EXPECT_EQ(rec.messages,
              (std::vector<Message>{{"Error In Getting Level Data!", "Error", DIALOG}}));
  }
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

}  // namespace
