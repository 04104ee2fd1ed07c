#include "tree_snapshot.h"

#include <chrono>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace test_support {

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

// Named by the clock, and made anew until the name is free, so that test programs running at
// once, in other work trees too, never share one.
ScratchFolder::ScratchFolder(const std::string& prefix) : home_(fs::current_path()) {
  do {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = fs::temp_directory_path() / (prefix + "-" + std::to_string(now));
  } while (!fs::create_directory(folder_));
  fs::current_path(folder_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::current_path(home_, ignored);
  fs::remove_all(folder_, ignored);
}

void writeFile(const fs::path& path, const std::string& bytes) {
  if (!path.parent_path().empty()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

Tree snapshot(const fs::path& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::u8string key = entry.path().lexically_relative(root).generic_u8string();
    TreeEntry& item = tree[std::string(key.begin(), key.end())];
    const fs::file_type type = entry.symlink_status().type();
    item = type == fs::file_type::directory ? TreeEntry{'d', ""}
           : type == fs::file_type::regular ? TreeEntry{'f', readFile(entry.path())}
           : type == fs::file_type::symlink ? TreeEntry{'l', fs::read_symlink(entry.path()).string()}
                                            : TreeEntry{'o', ""};
  }
  return tree;
}

std::string treeDifference(const Tree& expected, const Tree& actual) {
  std::string report;
  for (const auto& [path, entry] : expected)
    if (!actual.contains(path) || actual.at(path) != entry) report += "changed or missing: " + path + "\n";
  for (const auto& entry : actual)
    if (!expected.contains(entry.first)) report += "new: " + entry.first + "\n";
  return report;
}

std::string withWrites(std::string bytes, const std::map<std::size_t, std::string>& writes) {
  for (const auto& [offset, written] : writes) {
    if (bytes.size() < offset + written.size()) bytes.resize(offset + written.size(), '\0');
    bytes.replace(offset, written.size(), written);
  }
  return bytes;
}

}  // namespace test_support
