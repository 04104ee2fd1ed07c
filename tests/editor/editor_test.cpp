// The editor's tests, as tables over one table of 65,537 levels: the bytes a level change
// writes by entry, level and file size; the levels refused; the paths that are no plain file
// and the writes that fail, with this platform's own rows; then every name byte. The dialog
// logic over a front end that records every call: the list, the level read from it, the
// owners, and a table that is a folder. Each test runs in a fresh folder and checks each
// outcome against a snapshot of the whole tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/dialog.h"
#include "app/resource.h"
#include "audio/device.h"
#include "audio/music.h"
#include "editor/character_file.h"
#include "editor/experience_table.h"
#include "tree_snapshot.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace test_support;
using Writes = std::map<std::size_t, std::string>;  // offset -> bytes; every other byte is kept

// [SECTION] Recording front end

struct Message { std::string text, caption; DialogHandle owner; bool operator==(const Message&) const = default; };
void PrintTo(const Message& m, std::ostream* out) { *out << m.text << " | " << m.caption << (m.owner ? " | owned" : ""); }

struct Recording {
  std::vector<Message> messages;
  // The list's entries; front-end and device calls in order: "open", "icon", "message", "exit 0", "close", "end 0".
  std::vector<std::string> listEntries, events;
  std::string nameText, levelText;  // the name field; the level list's text, "" when none is chosen
} rec;
DialogHandle const DIALOG = &rec;

// The name cut as GetDlgItemTextA cuts it: at most bufferBytes - 1 characters and the terminator.
const FrontEnd recordingFrontEnd = {
    [](DialogHandle, int id, char* buffer, int bytes) { buffer[id == IDC_NAME ? rec.nameText.copy(buffer, std::size_t(bytes - 1)) : 0] = '\0'; },
    [](DialogHandle, int id, std::int32_t* value) { return id == IDC_LEVEL && !rec.levelText.empty() && (*value = std::stoi(rec.levelText), true); },
    [](DialogHandle dialog, int id, const char* text) { rec.listEntries.push_back(dialog == DIALOG && id == IDC_LEVEL ? text : "?"); },
    [](DialogHandle) { rec.events.push_back("icon"); },
    [](DialogHandle owner, const char* text, const char* caption) { rec.messages.push_back({text, caption, owner}), rec.events.push_back("message"); },
    [](DialogHandle, int result) { rec.events.push_back("end " + std::to_string(result)); },
    [](int code) { rec.events.push_back("exit " + std::to_string(code)); },
};

const char* const LOAD_ERROR = "Error Loading User Data! Path not found or Access denied!";
const char* const SAVE_ERROR = "Error Saving User Data! File is read-only or Access denied!";
const char* const LEVEL_ERROR = "Error In Getting Level Data!";
const Message LEVEL_CHANGED = {"Level Changed", "Succeeded", nullptr};
const Writes LEVEL_1_WRITES = {{200, "\0"s}, {332, "\x64\0\0\0"s}};  // of entry 00000064

// [SECTION] Files

// The path of name's file as this platform opens it and shows it in the file messages.
std::string pathOf(const std::string& name) {
  std::string path = characterFilePath(name);
  return std::replace(path.begin(), path.end(), '\\', char(fs::path::preferred_separator)), path;
}

// byteCount bytes, none 0 and each unlike its neighbours, so a stray or missing write shows.
std::string characterBytes(std::size_t byteCount) {
  std::string bytes(byteCount, '\0');
  for (std::size_t i = 0; i < byteCount; ++i) bytes[i] = char(0x80 | (i * 37 % 127));
  return bytes;
}

// Bytes from..to of 6000 (byte i = i * 151 + 7), as the change writes them, least significant
// first; as digits, an entry that writes them all, most significant first and in mixed case.
// Longer than the stream's 4 KiB buffer, so that their fwrite goes straight to the file.
std::string big(std::size_t from, std::size_t to, bool asDigits = false) {
  std::string bytes;
  char pair[3];
  for (std::size_t i = from; i < to; ++i) {
    const unsigned byte = ((asDigits ? 5999 - i : i) * 151 + 7) & 0xFF;
    std::snprintf(pair, sizeof pair, i % 2 ? "%02x" : "%02X", byte);
    bytes += asDigits ? pair : std::string(1, char(byte));
  }
  return bytes;
}

// Runs change, which must yield exactly message and leave the tree as it was but for the writes
// into the one file that held original (found by its bytes: a narrow name on Windows need not
// map one to one onto its key).
void expectOutcome(const std::function<Message()>& change, const Message& message, const std::string& original, const Writes& writes) {
  Tree expected = snapshot();
  const auto file = std::find_if(expected.begin(), expected.end(), [&](auto& e) { return e.second == TreeEntry{'f', original}; });
  if (!writes.empty() && file != expected.end()) file->second.bytes = withWrites(original, writes);
  EXPECT_EQ(change(), message);
  EXPECT_EQ(treeDifference(expected, snapshot()), "");
}
Message unowned(const EditorMessage& message) { return {message.text, message.caption, nullptr}; }

// The one message that the dialog shows for a command of id.
Message command(int id, int notification = 0) {
  rec.messages.clear();
  dispatchDialogMessage(DIALOG, MESSAGE_COMMAND, std::uintptr_t(notification) << 16 | id, 0);
  EXPECT_EQ(rec.messages.size(), 1u);
  return rec.messages.empty() ? Message{} : rec.messages.back();
}

// [SECTION] Rows

// What stands at the character path of name, and what the change of level gives with it: the
// load error when it is no readable plain file, the save error when it cannot be written whole
// (with the writes that reached the file before the failure, and no more), else the writes.
using Make = std::function<std::string(const std::string& path)>;  // the bytes of the file made
using Around = std::function<void(const std::function<void()>& change)>;
void plainly(const std::function<void()>& change) { change(); }
struct Row {
  std::int32_t levelIndex;  // the level minus 1
  Make make;
  const char* error;  // nullptr: "Level Changed"; a file's error is captioned with its path
  Writes writes;
  Around around = plainly;
  std::string name = "abc";
};
Make sized(std::size_t byteCount) { return [=](auto& path) { return writeFile(path, characterBytes(byteCount)), characterBytes(byteCount); }; }
const Make file = sized(512);
std::string bucket(const std::string& path) { return fs::create_directories(fs::path(path).parent_path()), ""; }

#ifdef _WIN32
void watchdog(unsigned) {}
// Another handle to the file, held through the change, that shares it as share says. Sharing is
// decided per handle, so one of this process stands for one that another process holds.
Around heldSharing(DWORD share) {
  return [share](const std::function<void()>& change) {
    HANDLE holder = CreateFileA(pathOf("abc").c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(holder, INVALID_HANDLE_VALUE);
    change();
    CloseHandle(holder);
  };
}
const Row platformRows[] = {
    {0, bucket, LOAD_ERROR, {}, plainly, "NUL"},  // device names open as devices in any folder
    {0, file, LOAD_ERROR, {}, heldSharing(0)},
    {0, file, SAVE_ERROR, {}, heldSharing(FILE_SHARE_READ)},
    {0, file, nullptr, LEVEL_1_WRITES, heldSharing(FILE_SHARE_READ | FILE_SHARE_WRITE)},
};
#else
void watchdog(unsigned seconds) { alarm(seconds); }  // a read that blocks or never ends fails the test
// Files opened as nobody (65534), so that the mode bits apply as to any user; root has its
// rights back after. A user other than root is bound by them already.
void asNobody(const std::function<void()>& change) {
  const bool root = geteuid() == 0;
  if (root) setfsgid(65534), setfsuid(65534);
  change();
  if (root) setfsuid(0), setfsgid(0);
}
// Writes that reach past limit bytes of a file fail (EFBIG) instead of raising SIGXFSZ; no root
// needed. The limit and the signal's handling are restored after.
Around fileSizeLimit(rlim_t limit) {
  return [limit](const std::function<void()>& change) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit lowered = {limit, old.rlim_max};
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);  // prints only when it failed and no limit holds
    change();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
  };
}
const Row platformRows[] = {
    {0, [](auto& path) { return bucket(path), mkfifo(path.c_str(), 0644), ""s; }, LOAD_ERROR, {}},
    {0, [](auto& path) { return bucket(path), fs::create_symlink("/dev/null", path), ""s; }, LOAD_ERROR, {}},
    {0, [](auto& path) { return bucket(path), fs::create_symlink("../../elsewhere", path), file("Dataserver/elsewhere"); },
     nullptr, LEVEL_1_WRITES},
    {0, [](auto& path) { const auto bytes = file(path); return fs::permissions(path, fs::perms(0444)), bytes; }, SAVE_ERROR, {}, asNobody},
    {0, [](auto& path) { const auto bytes = file(path); return fs::permissions(path, fs::perms(0)), bytes; }, LOAD_ERROR, {}, asNobody},
    // Byte 200 reaches the file when the seek to 332 flushes it; the bytes after it fail in
    // fclose's flush, in the seek to 404, in an fwrite too long for the stream's buffer, in
    // one that the limit cuts after 2 of its bytes.
    {0, file, SAVE_ERROR, {{200, "\0"s}}, fileSizeLimit(300)},
    {1, file, SAVE_ERROR, {{200, "\x01"s}}, fileSizeLimit(300)},
    {7, file, SAVE_ERROR, {{200, "\x07"s}, {332, big(0, 4)}}, fileSizeLimit(400)},
    {7, file, SAVE_ERROR, {{200, "\x07"s}, {332, big(0, 4)}, {404, big(4, 6)}}, fileSizeLimit(406)},
};
#endif

class Editor : public testing::Test {
  void SetUp() override {
    rec = Recording{};
    setFrontEnd(&recordingFrontEnd);
    // The silent device with its open and close recorded: where the music starts and stops.
    static AudioDevice device = silentAudioDevice;
    device.open = [](const WaveFormat& format) { return rec.events.push_back("open"), silentAudioDevice.open(format); };
    device.close = [] { rec.events.push_back("close"), silentAudioDevice.close(); };
    useAudioDevice(&device);
    watchdog(60);
  }
  void TearDown() override {
    watchdog(0);
    stopMusic();  // a test that opens the dialog without closing it leaves the music playing
    useAudioDevice(nullptr);
  }
  ScratchFolder folder{"le-editor"};  // the current directory from before SetUp to after TearDown
};

// [SECTION] Tests

TEST_F(Editor, BucketAndPath) {
  // Only 'a'..'z' fold: '`' and '{' beside them and bytes from 0x80 up count as they are.
  const std::pair<std::string, int> cases[] = {{"abc", 198}, {"ABC", 198}, {"\xC4\xE3\xBA\xC3", 36}, {"", 0},
                                               {"`z{", (0x60 + 0x5A + 0x7B) % 256}, {"\x80\xE1\xFF", (0x80 + 0xE1 + 0xFF) % 256}};
  for (const auto& [name, bucket] : cases) {
    EXPECT_EQ(characterBucket(name), bucket) << name;
    EXPECT_EQ(characterFilePath(name), "Dataserver\\userdata\\" + std::to_string(bucket) + "\\" + name + ".dat");
  }
}

// One table load of 65,537 levels: level k + 1 is written as levelIndex k with entry k + 1, up
// to level 65536; 65537, which two bytes cannot hold, and levels outside the table are refused
// with nothing written. Entry i is i in decimal, read as hexadecimal digits, but for the first
// ones, not all hexadecimal: each pair converts as strtol base 16 does. Entries end in each of
// the six whitespace bytes, alone or followed by another.
TEST_F(Editor, Levels) {
  const std::string firstEntries[] = {"00000064", "0123456789ABCDEF", "00000000000A", "deadbeef", "A",
                                      "123456789", "-1-1-1-1", big(0, 6000, true), "x\x1A\0y"s};
  std::string text;
  for (int i = 0; i < 65537; ++i)
    text += (i < int(std::size(firstEntries)) ? firstEntries[i] : std::to_string(i)) + " \t\n\v\f\r"s.substr(i % 6, 1 + i % 2);
  writeFile("XPHex.txt", text);
  const ExperienceTableLoad load = loadExperienceTable();
  EXPECT_FALSE(load.failure);
  ASSERT_EQ(load.table.size(), 65537u);
  EXPECT_EQ(load.table[8], "x\x1A\0y"s);  // read as bytes: no end of file at 1A
  EXPECT_EQ(load.table[65536], "65536");

  const Writes digits16 = {{200, "\x01"s}, {332, "\xEF\xCD\xAB\x89"s}, {404, "\x67\x45\x23\x01"s}};
  std::vector<Row> rows = {
      {0, file, nullptr, LEVEL_1_WRITES},
      {0, sized(0), nullptr, LEVEL_1_WRITES},  // grows to 336, the gaps zero
      {0, sized(335), nullptr, LEVEL_1_WRITES},
      {1, file, nullptr, digits16},
      {1, sized(405), nullptr, digits16},
      {2, file, nullptr, {{200, "\x02"s}, {332, "\x0A\0\0\0"s}, {404, "\0\0"s}}},  // 0A stays one byte
      {3, file, nullptr, {{200, "\x03"s}, {332, "\xEF\xBE\xAD\xDE"s}}},
      {4, file, nullptr, {{200, "\x04"s}, {332, "\x0A\0\0\0"s}}},                    // padded on the left to 8
      {5, file, nullptr, {{200, "\x05"s}, {332, "\x89\x67\x45\x23"s}, {404, "\x01"s}}},  // and to an even length
      {6, file, nullptr, {{200, "\x06"s}, {332, "\xFF\xFF\xFF\xFF"s}}},
      {7, sized(100), nullptr, {{200, "\x07"s}, {332, big(0, 4)}, {404, big(4, 6000)}}},
      {255, file, nullptr, {{200, "\xFF"s}, {332, "\x55\x02\0\0"s}}},  // byte 201 kept below level 257
      {256, file, nullptr, {{200, "\x00\x01"s}, {332, "\x56\x02\0\0"s}}},
      {65535, file, nullptr, {{200, "\xFF\xFF"s}, {332, "\x35\x55\x06\0"s}}},
      {65536, file, "Level Too High! A character file holds levels up to 65536.", {}},
      {65537, file, LEVEL_ERROR, {}},
      {-1, file, LEVEL_ERROR, {}},
      {0, [](auto&) { return ""s; }, LOAD_ERROR, {}},  // no bucket folder
      {0, bucket, LOAD_ERROR, {}},
      {0, [](auto& path) { return fs::create_directories(fs::path(path) / "abc.dat"), ""s; }, LOAD_ERROR, {}},
      {0, file, nullptr, LEVEL_1_WRITES, plainly, ""},
  };
  rows.insert(rows.end(), std::begin(platformRows), std::end(platformRows));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i) + ", index " + std::to_string(row.levelIndex));
    fs::remove_all("Dataserver");
    const std::string original = row.make(pathOf(row.name));
    const std::string caption = row.error == LOAD_ERROR || row.error == SAVE_ERROR ? pathOf(row.name) : "Error";
    Message outcome;
    expectOutcome([&] { return row.around([&] { outcome = unowned(changeCharacterLevel(row.name, row.levelIndex, load.table)); }), outcome; },
                  row.error ? Message{row.error, caption, nullptr} : LEVEL_CHANGED, original, row.writes);
  }
}

// "a" + byte + "z" for every byte from 01 to FF, with the file that it would reach made where
// the platform allows: '\', '/', ':' and the bytes below 20 are refused and nothing changes;
// any other byte is used as typed, and only that file changes (where the platform cannot hold
// such a name, '*' or '?' on Windows, the file is reported missing).
TEST_F(Editor, EveryNameByte) {
  const ExperienceTable table = {"00000064"};
  const std::string original = characterBytes(512);
  for (int byte = 0x01; byte <= 0xFF; ++byte) {
    SCOPED_TRACE("byte " + std::to_string(byte));
    const std::string name = "a"s + char(byte) + "z", path = pathOf(name);
    fs::remove_all("Dataserver");
    bucket(path);
    // Made with fopen, which maps the name as the editor's does; not "a:z.dat" on Windows, a
    // stream of a file "a".
    std::FILE* made = fs::path::preferred_separator == '\\' && byte == ':' ? nullptr : std::fopen(path.c_str(), "wb");
    if (made != nullptr) std::fwrite(original.data(), 1, original.size(), made), std::fclose(made);
    const bool refused = byte < 0x20 || byte == '\\' || byte == '/' || byte == ':';
    const Message message = refused ? Message{"Invalid Character Name!", "Error", nullptr} : made ? LEVEL_CHANGED : Message{LOAD_ERROR, path, nullptr};
    expectOutcome([&] { return unowned(changeCharacterLevel(name, 0, table)); }, message, original, message == LEVEL_CHANGED ? LEVEL_1_WRITES : Writes{});
  }
}

// The dialog over a table of two levels: the list gets both in order; the chosen level goes on
// as its index (level 2 writes entry 2), the name as its first 98 characters; no level chosen
// is the dialog's own error, owned by it; only IDC_CHANGE acts, with any notification (click,
// Enter, Alt+C); the music starts before the icon is set and stops before the dialog ends.
TEST_F(Editor, Dialog) {
  writeFile("XPHex.txt", "00000064\r\n0123456789ABCDEF");
  EXPECT_EQ(dispatchDialogMessage(DIALOG, MESSAGE_INITDIALOG, 0, 0), 1);
  EXPECT_EQ(rec.listEntries, (std::vector{"1"s, "2"s}));
  EXPECT_TRUE(rec.messages.empty());

  rec.nameText = "abc";
  const std::string original = file(pathOf("abc"));
  const std::pair<std::string, Message> levels[] = {{"", {LEVEL_ERROR, "Error", DIALOG}}, {"-2147483648", {LEVEL_ERROR, "Error", nullptr}}};
  for (const auto& [level, message] : levels) {
    rec.levelText = level;
    expectOutcome([] { return command(IDC_CHANGE); }, message, original, {});
  }
  rec.levelText = "2";
  expectOutcome([] { return command(IDC_CHANGE, 1); }, LEVEL_CHANGED, original, {{200, "\x01"s}, {332, "\xEF\xCD\xAB\x89"s}, {404, "\x67\x45\x23\x01"s}});

  rec.nameText = std::string(120, 'n');
  expectOutcome([] {
    for (const int id : {1, 2, IDC_NAME, IDC_LEVEL}) dispatchDialogMessage(DIALOG, MESSAGE_COMMAND, std::uintptr_t(id), 0);
    EXPECT_EQ(dispatchDialogMessage(DIALOG, 0x0002, 0, 0), 0);
    return command(IDC_CHANGE);
  }, {LOAD_ERROR, pathOf(std::string(98, 'n')), nullptr}, "", {});
  EXPECT_EQ(dispatchDialogMessage(DIALOG, MESSAGE_CLOSE, 0, 0), 0);
  EXPECT_EQ(std::vector(rec.events.begin(), rec.events.begin() + 2), (std::vector{"open"s, "icon"s}));
  EXPECT_EQ(std::vector(rec.events.end() - 2, rec.events.end()), (std::vector{"close"s, "end 0"s}));
}

// XPHex.txt a folder, which opens for reading on Linux, and so no table: its error, unowned,
// and the end of the process while the music plays, with no list. (A missing file fails the
// same check first.)
TEST_F(Editor, NoTable) {
  fs::create_directories("XPHex.txt");
  EXPECT_EQ(dispatchDialogMessage(DIALOG, MESSAGE_INITDIALOG, 0, 0), 1);
  EXPECT_EQ(rec.messages, (std::vector<Message>{{"Can not open file 'XPHex.txt'!", "Error", nullptr}}));
  EXPECT_EQ(rec.events, (std::vector{"open"s, "icon"s, "message"s, "exit 0"s}));
  EXPECT_TRUE(rec.listEntries.empty());
}

}  // namespace
