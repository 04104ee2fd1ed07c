// Test support: a scratch folder to work in, and whole-tree snapshots of it, to show that a
// change touched exactly the bytes it should and nothing else. Pairs with tree_snapshot.cpp.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>

namespace test_support {

// A fresh folder under the temporary folder, the current directory while the object lives;
// the previous one is restored and the folder removed with all it holds at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

 private:
  std::filesystem::path home_, folder_;
};

// Writes bytes, making the folders on the way.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// One entry of a tree: kind ('d' folder, 'f' file, 'l' link, 'o' other) and a file's bytes or
// a link's target. Keyed by the path relative to the root, '/'-separated, in UTF-8 (so that a
// narrow name on Windows need not map one to one onto a key).
struct TreeEntry {
  char kind;
  std::string bytes;
  bool operator==(const TreeEntry&) const = default;
};
using Tree = std::map<std::string, TreeEntry>;

// Every entry under root, links not followed.
Tree snapshot(const std::filesystem::path& root = std::filesystem::current_path());

// Empty when the trees are equal; else one line per path that differs, so that a mismatch of
// large files stays readable.
std::string treeDifference(const Tree& expected, const Tree& actual);

// bytes with the writes (offset -> bytes) applied; a write past the end grows it with zeros.
std::string withWrites(std::string bytes, const std::map<std::size_t, std::string>& writes);

}  // namespace test_support
