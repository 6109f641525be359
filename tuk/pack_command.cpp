// tuk pack: a directory tree into a compressed archive, or an update of one.
#include <memory>
#include <string>

#include "tuk/commands.h"
#include "tuk/pack.h"

namespace tuk {
namespace {

struct Arguments {
  std::string source, prefix, archive;
  bool update = false;
  Compression compression;
};

int Pack(const Arguments& args) {
  TukObserver observer;
  PackOptions options;
  options.source = args.source;
  options.prefix = args.prefix;
  options.archive = args.archive;
  options.update = args.update;
  options.level = args.compression.level;
  options.threads = args.compression.threads;
  options.observer = &observer;
  PackSummary summary;
  const Status packed = Pack(options, &summary);
  if (!packed.ok()) {
    if (!observer.reported() || packed.code() == Errc::kInvalidArgument) {
      PrintError(packed.message());
    }
    PrintError("packing failed: " + args.archive);
    return kTukFailed;
  }
  if (summary.leftOut > 0) {
    PrintError("some files were left out of " + args.archive);
    return kTukFailed;
  }
  return kTukDone;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("SRC", args->source)->required();
  command.add_option("PREFIX", args->prefix)->required();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_flag("--update", args->update);
  AddCompressionOptions(command, args->compression, true);
  return [args] { return Pack(*args); };
}

}  // namespace

const Command kPackCommand = {
    "pack",
    "  pack SRC PREFIX ARCHIVE [--update] [-0..-9] [-j N]\n"
    "                                  pack a directory tree (or update ARCHIVE)\n",
    "tuk pack SRC PREFIX ARCHIVE [--update] [-0..-9 | --level N | --fast | --best] [-j N]\n  Packs every file below SRC, naming each PREFIX/path, compressed at level 5\n  unless told otherwise (-0 stores files as they are, -1 is fastest, -9\n  smallest) on N threads (default: every core). With --update, entries of\n  ARCHIVE that are not packed again are kept, and ARCHIVE keeps its mode.\n  Refuses an ARCHIVE inside SRC.\n",
    Define};

}  // namespace tuk
