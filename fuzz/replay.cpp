// A main() for a fuzz target without libFuzzer, so that GCC and MinGW builds run the target's
// checks over its committed seeds: every file given, and every file of every folder given, in
// name order, each from an exactly-sized heap copy as libFuzzer hands it over. Arguments that
// begin with "--" are the target's own; libFuzzer ignores them, and the target's
// LLVMFuzzerInitialize sees them either way. A broken check aborts the process.
//   <target>_replay [--option=value...] FILE|FOLDER...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t byteCount);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  // Absolute before the initialisation, which may change the current directory.
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).starts_with("--")) continue;
    const fs::path given = fs::absolute(argv[i]);
    if (!fs::is_directory(given)) inputs.push_back(given);
    else
      for (const fs::directory_entry& entry : fs::directory_iterator(given))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "replay: no inputs\nusage: %s [--option=value...] FILE|FOLDER...\n", argv[0]);
    return 2;
  }
  LLVMFuzzerInitialize(&argc, &argv);
  for (const fs::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "replay: cannot open %s\n", input.string().c_str());
      return 1;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::printf("%s: %zu bytes\n", input.filename().string().c_str(), bytes.size());
    std::fflush(stdout);  // so that the input a check aborts on is the last one printed
    LLVMFuzzerTestOneInput(test_support::exactCopy(bytes.data(), bytes.size()).get(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
