// What the editor's fuzz targets (xphex_fuzz, charfile_fuzz) run in: a private temporary
// folder that is the process's current directory for the whole run, and a front end with no
// dialog behind it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/frontend.h"

// The folder that enterPrivateFolder made; removed when the process exits.
inline std::filesystem::path privateFolder;

// Makes TMPDIR/<prefix>.XXXXXX, makes it the current directory and removes it with all it
// holds at exit. False when the folder cannot be made.
inline bool enterPrivateFolder(const char* prefix) {
  namespace fs = std::filesystem;
  std::string name = (fs::temp_directory_path() / (std::string(prefix) + ".XXXXXX")).string();
  if (mkdtemp(name.data()) == nullptr) return false;
  privateFolder = name;
  fs::current_path(privateFolder);
  // Registered after privateFolder was constructed, so it runs before the path is destroyed.
  std::atexit([] {
    std::error_code ignored;
    fs::current_path(privateFolder.parent_path(), ignored);
    fs::remove_all(privateFolder, ignored);
  });
  return true;
}

// The editor reports only through message boxes; every other operation belongs to the dialog,
// which the targets never start, so those do nothing. Ending the process is a fault in every
// target, so exitProcess is each target's own failure report.
constexpr FrontEnd dialogFreeFrontEnd(void (*messageBox)(DialogHandle, const char*, const char*),
                                      void (*exitProcess)(int)) {
  return {
      [](DialogHandle, int, char* buffer, int) { buffer[0] = '\0'; },
      [](DialogHandle, int, std::int32_t*) { return false; },
      [](DialogHandle, int, const char*) {},
      [](DialogHandle) {},
      messageBox,
      [](DialogHandle, int) {},
      exitProcess,
  };
}
