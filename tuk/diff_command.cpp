// tuk diff: an archive against a directory tree, as tar -d and diff -r.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tuk/archive_stream.h"
#include "tuk/commands.h"
#include "tuk/compare.h"

namespace tuk {
namespace {

int Diff(const std::string& archive, const std::string& directory) {
  ArchiveInput input;
  ArchiveReader reader;
  const Status opened = input.Open(archive, reader);
  if (!opened.ok()) {
    PrintError(opened.message());
    return kTukFailed;
  }
  std::vector<Difference> differences;
  const Status compared = CompareWithDirectory(reader, directory, differences);
  for (const Difference& d : differences) {
    switch (d.kind) {
      case Difference::Kind::kMissing: std::printf("missing: %s\n", d.name.c_str()); break;
      case Difference::Kind::kExtra: std::printf("extra: %s\n", d.name.c_str()); break;
      case Difference::Kind::kDiffers:
        std::printf("differs: %s (%s)\n", d.name.c_str(), d.why.c_str());
        break;
    }
  }
  if (!compared.ok()) {
    PrintError(compared.message());
    return kTukFailed;
  }
  return differences.empty() ? kTukDone : kTukDiffers;
}

CommandRun Define(CLI::App& command) {
  struct Arguments {
    std::string archive, directory;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("DIR", args->directory)->required();
  return [args] { return Diff(args->archive, args->directory); };
}

}  // namespace

const Command kDiffCommand = {
    "diff",
    "  diff ARCHIVE DIR                compare ARCHIVE with the files below DIR\n",
    "tuk diff ARCHIVE DIR\n"
    "  Compares each entry with the file at DIR/name, where extraction would put\n"
    "  it (of two entries with one name, the later): prints \"missing: NAME\" for\n"
    "  an entry with no file, \"differs: NAME (what)\" for one whose file has\n"
    "  another size or other bytes (compared with its checksum when it has one),\n"
    "  and \"extra: PATH\" for each file below DIR no entry names. Exits 0 when\n"
    "  they agree, 1 when they differ, 2 on trouble (as diff does). ARCHIVE -\n"
    "  reads the archive from standard input.\n",
    Define};

}  // namespace tuk
