// The editor tests' shared parts: a front end and an audio device that record every call,
// file helpers, a snapshot of the whole temporary server tree, and the fixture that gives each
// test a fresh folder as its current directory. Used by every test file of this folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/dialog.h"
#include "app/frontend.h"
#include "app/resource.h"
#include "audio/device.h"
#include "audio/music.h"
#include "editor/character_file.h"
#include "editor/experience_table.h"

namespace editortest {

namespace fs = std::filesystem;
using namespace std::string_literals;

// [SECTION] Recording front end

struct Message {
  std::string text, caption;
  DialogHandle owner;
  bool operator==(const Message&) const = default;
};

inline void PrintTo(const Message& m, std::ostream* out) {
  *out << '"' << m.text << "\" captioned \"" << m.caption << '"' << (m.owner ? " owned" : "");
}

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
inline Recording rec;

inline DialogHandle const DIALOG = &rec;

inline const FrontEnd recordingFrontEnd = {
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
inline const AudioDevice recordingDevice = {
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

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path().empty() ? "." : path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The path as this platform opens it and shows it in the file messages.
inline std::string openedPath(const std::string& backslashed) {
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
inline std::string characterBytes(std::size_t byteCount) {
  std::string bytes(byteCount, '\0');
  for (std::size_t i = 0; i < byteCount; ++i) bytes[i] = char(0x80 | (i * 37 % 127));
  return bytes;
}

// XPHex.txt written and read; the count read must be entries.
inline void writeTable(const std::string& text, std::size_t entries) {
  writeFile("XPHex.txt", text);
  ASSERT_EQ(loadExperienceTable(), entries);
}

// A table of levelIndex + 1 entries whose last entry is experience.
inline void loadTableEndingWith(std::int32_t levelIndex, const std::string& experience) {
  std::string text;
  for (std::int32_t i = 0; i < levelIndex; ++i) text += "00000000\r\n";
  writeTable(text + experience + "\r\n", std::size_t(levelIndex) + 1);
}

inline const Message LEVEL_CHANGED = {"Level Changed", "Succeeded", nullptr};
inline const char* const SAVE_ERROR = "Error Saving User Data! File is read-only or Access denied!";
inline const char* const LOAD_ERROR = "Error Loading User Data! Path not found or Access denied!";

// [SECTION] Tree snapshots

// One entry of the server tree: kind ('d' folder, 'f' file, 'l' link, 'o' other), permission
// bits, and a file's bytes or a link's target.
struct TreeEntry {
  char kind;
  fs::perms perms;
  std::string bytes;
  bool operator==(const TreeEntry&) const = default;
};
// Keyed by the path relative to the root, '/'-separated, in UTF-8.
using Tree = std::map<std::string, TreeEntry>;

inline std::string treeKey(const fs::path& relative) {
  const std::u8string key = relative.generic_u8string();
  return std::string(key.begin(), key.end());
}

// Every entry under root, links not followed.
inline Tree snapshot(const fs::path& root = fs::current_path()) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::file_status status = entry.symlink_status();
    TreeEntry& item = tree[treeKey(entry.path().lexically_relative(root))];
    item.perms = status.permissions();
    switch (status.type()) {
      case fs::file_type::directory:
        item.kind = 'd';
        break;
      case fs::file_type::regular:
        item.kind = 'f';
        item.bytes = readFile(entry.path());
        break;
      case fs::file_type::symlink:
        item.kind = 'l';
        item.bytes = fs::read_symlink(entry.path()).string();
        break;
      default:
        item.kind = 'o';
    }
  }
  return tree;
}

// Empty when the trees are equal; else what differs, each file by its size and first differing
// byte, so a mismatch of megabyte files stays readable.
inline std::string treeDifference(const Tree& expected, const Tree& actual) {
  std::string report;
  for (const auto& [path, want] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      report += "missing: " + path + "\n";
      continue;
    }
    const TreeEntry& got = found->second;
    if (got.kind != want.kind || got.perms != want.perms) report += "kind or mode: " + path + "\n";
    if (got.bytes == want.bytes) continue;
    const auto mismatch = std::mismatch(want.bytes.begin(), want.bytes.end(), got.bytes.begin(),
                                        got.bytes.end());
    report += "bytes: " + path + " of " + std::to_string(got.bytes.size()) + " bytes, " +
              std::to_string(want.bytes.size()) + " expected, first difference at " +
              std::to_string(mismatch.first - want.bytes.begin()) + "\n";
  }
  for (const auto& entry : actual) {
    if (!expected.contains(entry.first)) report += "new: " + entry.first + "\n";
  }
  return report;
}

// bytes with the writes applied, offset -> bytes; a write past the end grows it with zeros.
inline std::string withWrites(std::string bytes,
                              const std::map<std::size_t, std::string>& writes) {
  for (const auto& [offset, written] : writes) {
    if (bytes.size() < offset + written.size()) bytes.resize(offset + written.size(), '\0');
    bytes.replace(offset, written.size(), written);
  }
  return bytes;
}

// The key of the one regular file in tree whose bytes are bytes; found by content because on
// Windows a narrow name and its UTF-8 key need not map one to one.
inline std::string keyOfFile(const Tree& tree, const std::string& bytes) {
  std::string key;
  for (const auto& [path, entry] : tree) {
    if (entry.kind != 'f' || entry.bytes != bytes) continue;
    EXPECT_TRUE(key.empty()) << "two files hold the same bytes: " << key << ", " << path;
    key = path;
  }
  EXPECT_FALSE(key.empty()) << "no file holds the bytes looked for";
  return key;
}

// What a level change to a table whose entry is 00000064 writes into a file for level 1.
inline const std::map<std::size_t, std::string> LEVEL_1_WRITES = {{200, "\0"s}, {332, "\x64\0\0\0"s}};

// Runs change, which must show exactly message and leave the whole tree as it was but for the
// writes (offset -> bytes) into the regular file at key; key "" when nothing may change.
inline void expectOutcome(const std::function<void()>& change, const Message& message,
                          const std::string& key = "", const std::map<std::size_t, std::string>& writes = {}) {
  rec.messages.clear();
  Tree expected = snapshot();
  if (!key.empty()) expected[key].bytes = withWrites(expected[key].bytes, writes);
  change();
  EXPECT_EQ(rec.messages, std::vector<Message>{message});
  EXPECT_EQ(treeDifference(expected, snapshot()), "");
}

// [SECTION] Fixture

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
    // A test may leave folders that nobody may enter or change.
    for (auto it = fs::recursive_directory_iterator(folder, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(folder, ignored);
  }
  fs::path home, folder;
};

}  // namespace editortest
