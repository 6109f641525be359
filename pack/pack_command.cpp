#include "pack/pack_command.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/legacy/pack.h"
#include "platform/platform.h"

namespace tuk {
namespace {

void Print(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// A writable copy with room for the '/' that packing may append.
std::vector<char> WritableCopy(const char* text) {
  std::vector<char> copy(std::strlen(text) + 2, '\0');
  std::memcpy(copy.data(), text, copy.size() - 2);
  return copy;
}

// Done only when the archive was written and holds every input.
int ExitCode(const PackResult& result) {
  return result.status.ok() && result.entries > 0 && result.leftOut == 0 ? kPackDone
                                                                           : kPackFailed;
}

}  // namespace

int RunPack(int argc, char** argv, const Context& context) {
  const uint64_t start = platform::SystemTimeMs();
  Print("-- TUK Pack 1.5 --\n");
  const int words = argc - 1;
  PackResult outcome;

  if (words >= 3) {
    std::vector<char> sourceDir = WritableCopy(argv[1]);
    std::vector<char> packDirName = WritableCopy(argv[2]);
    const bool update = words >= 4 && std::strncmp(argv[4], "-u", 2) == 0;
    if (update) Print("Updating existing .tuk!\n");
    packTukFiles(sourceDir.data(), packDirName.data(), argv[3], update ? 1 : 0,
                 1, &outcome, nullptr, context);
    std::printf(" TimeTaken: %llu\n",
                static_cast<unsigned long long>(platform::SystemTimeMs() - start));
    std::fflush(stdout);
    return ExitCode(outcome);
  }
  if (words == 1) {
    packByName(argv[1], 1, &outcome, context);
    return ExitCode(outcome);
  }
  Print("ERROR! Not enough command line arguments\n"
        " Usage examples: \n"
        "   ProgramName [sourceDir] [PackDirName] [Archive.tuk] [ -u update existing .tuk ]\n"
        "   TukPack.exe d:/menu menu menu.tuk\n"
        "   TukPack.exe d:/menu menu menu.tuk -u\n");
  return kPackUsage;
}

}  // namespace tuk
