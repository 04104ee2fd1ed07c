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
    writeFile(path, characterBytes(512));
    const auto changeWhileHeld = [&] {
      HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, c.share, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      EXPECT_NE(holder, INVALID_HANDLE_VALUE);
      changeCharacterLevel("abc", 0);
      CloseHandle(holder);
    };
    expectOutcome(changeWhileHeld, c.message,
                  c.message == LEVEL_CHANGED ? keyOfFile(snapshot(), characterBytes(512)) : "", LEVEL_1_WRITES);
  }
}

// Names that Windows maps to devices in any folder: the load error, not a write to the device.
TEST_F(Editor, DeviceNames) {
  writeTable("00000064\n", 1u);
  for (const char* name : {"NUL", "CON", "AUX", "nul"}) {
    SCOPED_TRACE(name);
    const std::string path = characterFilePath(name);
    fs::create_directories(fs::path(path).parent_path());
    expectOutcome([name] { changeCharacterLevel(name, 0); }, {LOAD_ERROR, path, nullptr});
  }
}

}  // namespace
}  // namespace editortest
