// Runs a fuzz target's entry point over files, as an ordinary program:
// every file named on the command line, and every file inside a directory
// named there (in name order). Without libFuzzer this replays a corpus as
// a test; a failing input stops the program with the target's own check.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path given(argv[i]);
    if (fs::is_directory(given)) {
      std::vector<fs::path> found;
      for (const fs::directory_entry& item : fs::directory_iterator(given)) {
        if (item.is_regular_file()) found.push_back(item.path());
      }
      std::sort(found.begin(), found.end());
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(given)) {
      inputs.push_back(given);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 2;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs\n");
    return 2;
  }
  for (const fs::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
      return 2;
    }
    // An exact-size heap copy, so reads past the input's end are caught by
    // AddressSanitizer in sanitized builds, as under libFuzzer.
    const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.string().c_str(),
                 bytes.size());
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return 0;
}
