// Prints what the platform layer lists for each pattern on the command
// line, one entry a line, so the Windows build's listing can be compared
// with the Linux one. Built for Windows only, by tests/run_windows_e2e.sh.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::vector<tuk::platform::DirEntry> entries;
    const bool listed = tuk::platform::ListDirectory(argv[i], entries);
    std::printf("%s %s\n", listed ? "listed" : "failed", argv[i]);
    for (const tuk::platform::DirEntry& entry : entries) {
      std::printf("  %s %s %llu\n", entry.isDirectory ? "d" : "f",
                  entry.name.c_str(),
                  static_cast<unsigned long long>(entry.size));
    }
  }
  return 0;
}
