// tuk cat: entries' bytes to standard output, as tar -O and unzip -p.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/archive_stream.h"
#include "tuk/commands.h"
#include "tuk/selection.h"

namespace tuk {
namespace {

struct Arguments {
  std::string archive;
  std::vector<std::string> names;
  SelectionArguments selection;
};

int Cat(const Arguments& args) {
  if (!OneUseOfStandardInput(args.archive, args.selection)) return kTukUsage;
  std::vector<std::string> names = args.names;
  if (!ReadNameList(args.selection, names)) return kTukFailed;
  if (names.empty() && args.selection.globs.include.empty()) {
    PrintError("cat: name the entries to write (NAME, --include or --files-from)");
    return kTukUsage;
  }
  ArchiveInput input;
  ArchiveReader reader;
  bool failed = false;
  if (!input.OpenUsable(args.archive, reader, "read", failed)) return kTukFailed;

  // Of two entries with one name, the later, as extraction leaves it.
  std::vector<size_t> which;
  if (!SelectEntries(reader.index(), names, args.selection, ArchiveInput::Shown(args.archive),
                     which, true)) {
    failed = true;
  }
  SetBinaryMode(stdout);
  bool writeFailed = false;
  const ArchiveReader::Sink toOutput = [&](const uint8_t* data, size_t length) {
    if (std::fwrite(data, 1, length, stdout) != length) {
      writeFailed = true;
      return Status(Errc::kIo, "cannot write to standard output");
    }
    return Status();
  };
  for (size_t entry : which) {
    const Status read = reader.Read(entry, toOutput);
    if (!read.ok()) {
      PrintError(read.message());
      failed = true;
      if (writeFailed) break;
    }
  }
  if (std::fflush(stdout) != 0 && !writeFailed) {
    PrintError("cannot write to standard output");
    failed = true;
  }
  return failed ? kTukFailed : kTukDone;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->names);
  AddSelectionOptions(command, args->selection);
  return [args] { return Cat(*args); };
}

}  // namespace

const Command kCatCommand = {
    "cat",
    "  cat ARCHIVE NAME...             write entries' bytes to standard output\n",
    "tuk cat ARCHIVE NAME... [--include GLOB] [--exclude GLOB] [--files-from FILE [--null]]\n"
    "  Writes the bytes of each named entry to standard output, in the order\n"
    "  given (names match regardless of the case of A-Z; of two entries with\n"
    "  one name, the later), then those an --include pattern matches, in\n"
    "  index order, as in tuk extract. Exits 2 when a name or pattern matches\n"
    "  no entry or an entry does not decode. ARCHIVE - reads the archive from\n"
    "  standard input.\n",
    Define};

}  // namespace tuk
