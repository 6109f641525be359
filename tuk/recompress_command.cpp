// tuk recompress: an archive rewritten stored or at another level.
#include <memory>
#include <string>

#include "tuk/commands.h"
#include "tuk/edit.h"

namespace tuk {
namespace {

struct Arguments {
  std::string archive;
  Compression compression;
  Verbosity verbosity = Verbosity::kNormal;
};

int Recompress(const Arguments& args) {
  TukObserver observer(args.verbosity);
  EditOptions options;
  options.level = args.compression.level;
  options.threads = args.compression.threads;
  options.observer = &observer;
  const Status recompressed = Recompress(args.archive, options);
  if (!recompressed.ok()) {
    PrintError(recompressed.message());
    PrintError("could not recompress " + args.archive + " (it is unchanged)");
    return kTukFailed;
  }
  return kTukDone;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  AddCompressionOptions(command, args->compression, true);
  AddVerbosityOptions(command, args->verbosity);
  return [args] { return Recompress(*args); };
}

}  // namespace

const Command kRecompressCommand = {
    "recompress",
    "  recompress ARCHIVE [-0..-9] [-j N]\n"
    "                                  rewrite ARCHIVE stored or at another level\n",
    "tuk recompress ARCHIVE [-0..-9 | --level N | --fast | --best] [-j N] [-v | -q]\n  Rewrites ARCHIVE with every entry stored as it is (-0) or compressed at\n  the level (default 5); names, bytes and order stay. All or nothing. -v\n  lists each entry as it is done, -q prints errors only.\n",
    Define};

}  // namespace tuk
