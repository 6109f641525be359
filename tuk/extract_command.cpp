// tuk extract: every entry, or those selected, into a directory.
#include <memory>
#include <string>
#include <vector>

#include "tuk/archive_stream.h"
#include "tuk/commands.h"
#include "tuk/extract.h"
#include "tuk/selection.h"

namespace tuk {
namespace {

struct Arguments {
  std::string archive, directory = ".";
  std::vector<std::string> names;
  SelectionArguments selection;
  size_t strip = 0;
  ExtractOptions::Overwrite overwrite = ExtractOptions::Overwrite::kOverwrite;
  Verbosity verbosity = Verbosity::kNormal;
};

int Extract(const Arguments& args) {
  if (!OneUseOfStandardInput(args.archive, args.selection)) return kTukUsage;
  if (args.archive == "-" && args.overwrite == ExtractOptions::Overwrite::kNewer) {
    // --newer compares files with the archive file's time.
    PrintError("--newer needs an archive file: standard input has no time of its own");
    return kTukUsage;
  }
  ArchiveInput input;
  ArchiveReader reader;
  bool failed = false;
  if (!input.OpenUsable(args.archive, reader, "used", failed)) return kTukFailed;

  std::vector<std::string> names = args.names;
  if (!ReadNameList(args.selection, names)) return kTukFailed;
  // A name stands for the entry extraction would leave at its path: of two
  // with one name, the later. Names and patterns that match nothing are
  // errors, as in tar.
  std::vector<size_t> which;
  const bool selective = !names.empty() || !args.selection.globs.Empty();
  if (!SelectEntries(reader.index(), names, args.selection, ArchiveInput::Shown(args.archive),
                     which)) {
    failed = true;
  }
  if (selective && which.empty()) {
    // Not silent when it was the exclusions that left nothing.
    if (!failed) PrintError("nothing to extract: --exclude leaves out every entry taken");
    return kTukFailed;
  }

  TukObserver observer(args.verbosity);
  ExtractOptions options;
  options.directory = args.directory;
  // Unlike the unpack program, keep going after a failed entry.
  options.stopAtFailure = false;
  options.checkFreeSpace = !selective;
  options.overwrite = args.overwrite;
  options.stripComponents = args.strip;
  options.observer = &observer;
  ExtractSummary summary;
  const Status extracted = Extract(reader, selective ? which : std::vector<size_t>(), options,
                                   &summary);
  if (!extracted.ok() && extracted.code() != Errc::kDamaged) PrintError(extracted.message());
  if (args.verbosity != Verbosity::kQuiet && (summary.kept > 0 || summary.stripped > 0)) {
    PrintError(std::to_string(summary.kept) + " existing files kept, " +
               std::to_string(summary.stripped) + " entries with no name left skipped");
  }
  return failed || !extracted.ok() ? kTukFailed : kTukDone;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->names);
  command.add_option("-C", args->directory)->type_name("DIR")->take_last();
  AddSelectionOptions(command, args->selection);
  command.add_option("--strip-components", args->strip)
      ->type_name("N")
      ->check([](const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos
                   ? std::string()
                   : "not a count of components: " + text;
      })
      ->take_last();
  AddOverwriteOptions(command, args->overwrite);
  AddVerbosityOptions(command, args->verbosity);
  return [args] { return Extract(*args); };
}

}  // namespace

const Command kExtractCommand = {
    "extract",
    "  extract ARCHIVE [-C DIR] [NAME...]\n"
    "                                  extract every entry, or those selected\n",
    "tuk extract ARCHIVE [-C DIR] [NAME...] [--include GLOB] [--exclude GLOB]\n"
    "            [--files-from FILE [--null]] [--strip-components N]\n"
    "            [--keep | --overwrite | --newer] [-v | -q]\n"
    "  Extracts every entry, or the named ones (names match regardless of the\n"
    "  case of A-Z; of two entries with one name, the later) and those an\n"
    "  --include pattern matches, but none an --exclude pattern matches, into\n"
    "  DIR (default: the current directory), which is made when missing.\n"
    "  Patterns take *, ?, [...] and ** (any run of components); a name or\n"
    "  pattern that matches nothing is an error. --files-from FILE names the\n"
    "  entries one a line (NUL-ended with --null; - is standard input).\n"
    "  --strip-components N drops N leading components of every name (an\n"
    "  entry with nothing left is skipped). A file already there is replaced\n"
    "  (--overwrite, the default), kept (--keep) or replaced only when older\n"
    "  than the archive (--newer); a directory or a link where a file goes is\n"
    "  never replaced or followed. -v lists each entry extracted, -q prints\n"
    "  errors only. ARCHIVE - reads the archive from standard input (spooled\n"
    "  to a temporary file first).\n",
    Define};

}  // namespace tuk
