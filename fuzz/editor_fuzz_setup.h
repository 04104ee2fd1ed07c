// What the editor's fuzz targets (xphex_fuzz, charfile_fuzz) run in: a private temporary
// folder that is the process's current directory for the whole run, and a front end with no
// dialog behind it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "app/frontend.h"

// The folder that enterPrivateFolder made; removed when the process exits.
inline std::filesystem::path privateFolder;

// Makes a fresh TMPDIR/<prefix>.<random number>, makes it the current directory and removes
// it with all it holds at exit. False when no such folder can be made. (MinGW has no mkdtemp.)
inline bool enterPrivateFolder(const char* prefix) {
  namespace fs = std::filesystem;
  std::random_device random;
  std::error_code error;
  for (int attempt = 0; attempt < 100 && privateFolder.empty(); ++attempt) {
    const fs::path folder = fs::temp_directory_path() / (std::string(prefix) + "." + std::to_string(random()));
    if (fs::create_directory(folder, error)) privateFolder = folder;
  }
  if (privateFolder.empty()) return false;
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
