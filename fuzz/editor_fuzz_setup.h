// What the editor's fuzz targets (xphex_fuzz, charfile_fuzz) run in: a private temporary
// folder that is the process's current directory for the whole run.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

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
