// tuk verify: every problem of an archive's structure and payloads.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tuk/commands.h"
#include "tuk/verify.h"

namespace tuk {
namespace {

int Verify(const std::string& path) {
  size_t withoutChecksum = 0;
  const std::vector<std::string> problems = VerifyArchive(path, &withoutChecksum);
  for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
  if (problems.empty()) {
    if (withoutChecksum == 0) {
      std::printf("%s: OK\n", path.c_str());
    } else {
      std::printf("%s: OK (%zu entr%s without a checksum)\n", path.c_str(), withoutChecksum,
                  withoutChecksum == 1 ? "y" : "ies");
    }
    return kTukDone;
  }
  std::printf("%s: %zu problem%s\n", path.c_str(), problems.size(),
              problems.size() == 1 ? "" : "s");
  return kTukFailed;
}

CommandRun Define(CLI::App& command) {
  auto path = std::make_shared<std::string>();
  command.add_option("ARCHIVE", *path)->required();
  return [path] { return Verify(*path); };
}

}  // namespace

const Command kVerifyCommand = {
    "verify",
    "  verify ARCHIVE                  check structure and payloads\n",
    "tuk verify ARCHIVE\n  Checks the header, the index, that every payload lies inside the data\n  area without overlapping another, that every name is safe, and decodes\n  every compressed payload. Prints each problem; exits 0 only when sound.\n",
    Define};

}  // namespace tuk
