// tuk pack: a directory tree into a compressed archive, or an update of one.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tuk/archive_stream.h"
#include "tuk/commands.h"
#include "tuk/pack.h"
#include "tuk/selection.h"

namespace tuk {
namespace {

struct Arguments {
  std::string source, prefix, archive;
  bool update = false;
  bool dryRun = false;
  Compression compression;
  SelectionArguments selection;
  Verbosity verbosity = Verbosity::kNormal;
};

// Lists what packing would do, one line an entry.
int DryRun(const PackOptions& options) {
  std::vector<PlannedEntry> plan;
  const Status planned = PlanPack(options, plan);
  if (!planned.ok()) {
    PrintError(planned.message());
    return kTukFailed;
  }
  for (const PlannedEntry& entry : plan) {
    const char* action = entry.action == PlannedEntry::Action::kAdd       ? "add"
                         : entry.action == PlannedEntry::Action::kReplace ? "replace"
                                                                          : "keep";
    std::printf("%s %s\n", action, entry.name.c_str());
  }
  return kTukDone;
}

int Pack(const Arguments& args) {
  if (args.archive == "-" && args.update) {
    PrintError("--update needs an archive file, not standard output");
    return kTukUsage;
  }
  ArchiveOutput output(args.archive);
  PackOptions options;
  options.source = args.source;
  options.prefix = args.prefix;
  options.update = args.update;
  options.level = args.compression.level;
  options.threads = args.compression.threads;
  options.selection = args.selection.globs;
  if (!ReadNameList(args.selection, options.only)) return kTukFailed;
  if (args.dryRun) {
    options.archive = args.archive;
    return DryRun(options);
  }
  options.archive = output.Path();
  if (options.archive.empty()) return kTukFailed;
  // Packed to standard output, the verbose list goes to standard error.
  TukObserver observer(args.verbosity, output.ToStream() ? stderr : stdout);
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
  if (!output.Deliver()) return kTukFailed;
  if (summary.leftOut > 0) {
    PrintError("some files were left out of " + (output.ToStream() ? "the archive" : args.archive));
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
  command.add_flag("--dry-run", args->dryRun);
  AddCompressionOptions(command, args->compression, true);
  AddSelectionOptions(command, args->selection);
  AddVerbosityOptions(command, args->verbosity);
  return [args] { return Pack(*args); };
}

}  // namespace

const Command kPackCommand = {
    "pack",
    "  pack SRC PREFIX ARCHIVE [--update] [-0..-9] [-j N]\n"
    "                                  pack a directory tree (or update ARCHIVE)\n",
    "tuk pack SRC PREFIX ARCHIVE [--update] [--dry-run] [-0..-9 | --level N | --fast | --best]\n"
    "         [-j N] [--include GLOB] [--exclude GLOB] [--files-from FILE [--null]] [-v | -q]\n"
    "  Packs every file below SRC, naming each PREFIX/path, compressed at level 5\n"
    "  unless told otherwise (-0 stores files as they are, -1 is fastest, -9\n"
    "  smallest) on N threads (default: every core). With --update, entries of\n"
    "  ARCHIVE that are not packed again are kept, and ARCHIVE keeps its mode;\n"
    "  --dry-run lists what would be added, replaced and kept, and writes\n"
    "  nothing. --include and --exclude take or leave files by their entry\n"
    "  names (PREFIX/path, patterns as in tuk extract); --files-from FILE packs\n"
    "  only the paths below SRC it lists (a directory: all below it). -v lists\n"
    "  each entry packed, -q prints errors only. ARCHIVE - writes the archive\n"
    "  to standard output once it is complete (it is made in a temporary\n"
    "  directory first: its header holds where its index lies). Refuses an\n"
    "  ARCHIVE inside SRC.\n",
    Define};

}  // namespace tuk
