// tuk replace: one entry's bytes replaced, or the entry added.
#include <memory>
#include <string>

#include "tuk/commands.h"
#include "tuk/edit.h"

namespace tuk {
namespace {

struct Arguments {
  std::string archive, name, file;
  Compression compression;
};

int Replace(const Arguments& args) {
  TukObserver observer;
  EditOptions options;
  options.level = args.compression.level;
  options.threads = args.compression.threads;
  options.observer = &observer;
  const Status replaced = ReplaceEntry(args.archive, args.name, args.file, options);
  if (!replaced.ok()) {
    PrintError(replaced.message());
    PrintError("could not update " + args.archive + " (it is unchanged)");
    return kTukFailed;
  }
  return kTukDone;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->name)->required();
  command.add_option("FILE", args->file)->required();
  AddCompressionOptions(command, args->compression, true);
  return [args] { return Replace(*args); };
}

}  // namespace

const Command kReplaceCommand = {
    "replace",
    "  replace ARCHIVE NAME FILE [-0..-9]\n"
    "                                  replace or add one entry\n",
    "tuk replace ARCHIVE NAME FILE [-0..-9 | --level N | --fast | --best] [-j N]\n  Replaces the entry NAME with FILE's bytes, or adds it when there is none;\n  in a compressed archive FILE is compressed at the level (default 5).\n",
    Define};

}  // namespace tuk
