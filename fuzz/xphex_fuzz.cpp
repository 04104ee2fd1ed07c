// libFuzzer target for the experience table reader: the input becomes XPHex.txt in a private
// temporary folder (the process's current directory for the whole run), and the table read
// from it must be exactly the input split at the six whitespace bytes, with no failure.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "editor/experience_table.h"
#include "tests/support/tree_snapshot.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "xphex_fuzz: %s\n", what);
  std::abort();
}

// The plain reading: a token is a maximal run of bytes other than the six whitespace bytes.
std::vector<std::string> tokensOf(const std::uint8_t* data, std::size_t byteCount) {
  std::vector<std::string> tokens;
  std::string token;
  for (std::size_t i = 0; i < byteCount; ++i) {
    const std::uint8_t c = data[i];
    if (c == ' ' || (c >= '\t' && c <= '\r')) {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token.push_back(static_cast<char>(c));
    }
  }
  if (!token.empty()) tokens.push_back(token);
  return tokens;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The current directory for the whole run; removed at exit.
  static const auto folder = std::make_unique<test_support::ScratchFolder>("xphex_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t byteCount) {
  std::FILE* file = std::fopen("XPHex.txt", "wb");
  if (file == nullptr) fail("cannot write XPHex.txt");
  if (byteCount != 0 && std::fwrite(data, 1, byteCount, file) != byteCount) fail("cannot write XPHex.txt");
  if (std::fclose(file) != 0) fail("cannot write XPHex.txt");

  const ExperienceTableLoad load = loadExperienceTable();
  if (load.failure) fail("an existing XPHex.txt was not read");
  if (load.table != tokensOf(data, byteCount)) fail("the table is not the file's tokens");
  return 0;
}
