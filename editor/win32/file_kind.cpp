// Handle-based kind check of a character path. Pairs with editor/file_kind.h.
#include "editor/file_kind.h"

#include <windows.h>

bool isRegularFile(const char* path) {
  // The ANSI call, so the name maps to the same file that fopen opens. No access rights are
  // asked, so a handle that another process holds without sharing does not refuse this one;
  // the opens that follow meet that refusal. Backup semantics let a folder open, to be told
  // apart below; DOS device names (NUL, CON, ...) open as character devices.
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool regular = GetFileType(file) == FILE_TYPE_DISK &&
                       GetFileInformationByHandle(file, &information) != 0 &&
                       (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(file);
  return regular;
}
