// Hostile input to the editor that takes Windows means to set up: another handle that shares
// the character file for reading only or not at all, and DOS device names, which open as
// devices whatever folder and extension they carry. (A byte-range lock is left out: Wine does
// not hold other handles' writes to it.)
#include <windows.h>

#include <string>
#include <vector>

#include "tests/editor/editor_fixture.h"

namespace editortest {
namespace {


// Sharing is decided per handle, so a handle of this process stands for one that another
// process holds: the opens of the change meet the same refusal.
TEST_F(Editor, FileHeldByAnotherHandle) {
  writeTable("00000064\n", 1u);
  const std::string path = characterFilePath("abc");
  writeFile(path, characterBytes(512));
  struct Case {
    const char* name;
    DWORD share;
    Message message;
  } cases[] = {
      {"no sharing", 0, {LOAD_ERROR, path, nullptr}},
      {"shared for reading only", FILE_SHARE_READ, {SAVE_ERROR, path, nullptr}},
      {"shared for reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE, LEVEL_CHANGED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec.messages.clear();
    writeFile(path, characterBytes(512));
    Tree expected = snapshot();
    if (c.message == LEVEL_CHANGED) {
      std::string& bytes = expected[keyOfFile(expected, characterBytes(512))].bytes;
      bytes = withWrites(bytes, {{200, "\0"s}, {332, "\x64\0\0\0"s}});
    }
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, c.share, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    changeCharacterLevel("abc", 0);
    CloseHandle(holder);
    EXPECT_EQ(rec.messages, std::vector<Message>{c.message});
    EXPECT_EQ(treeDifference(expected, snapshot()), "");
  }
}

// Names that Windows maps to devices in any folder: the load error, not a write to the device.
TEST_F(Editor, DeviceNames) {
  writeTable("00000064\n", 1u);
  for (const char* name : {"NUL", "CON", "AUX", "nul"}) {
    SCOPED_TRACE(name);
    rec.messages.clear();
    const std::string path = characterFilePath(name);
    fs::create_directories(fs::path(path).parent_path());
    const Tree before = snapshot();
    changeCharacterLevel(name, 0);
    EXPECT_EQ(rec.messages, (std::vector<Message>{{LOAD_ERROR, path, nullptr}}));
    EXPECT_EQ(treeDifference(before, snapshot()), "");
  }
}

}  // namespace
}  // namespace editortest
