// tuk extract: every entry, or the named ones, into a directory.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tuk/commands.h"
#include "tuk/extract.h"

namespace tuk {
namespace {

int Extract(const std::string& path, const std::string& directory,
            const std::vector<std::string>& names) {
  ArchiveReader reader;
  const Status opened = reader.Open(path);
  if (opened.code() == Errc::kNotFound) {
    PrintError(opened.message());
    return kTukFailed;
  }
  bool failed = !opened.ok();
  if (failed) PrintError(opened.message() + " (only the entries before the damage are used)");

  // A name stands for the entry extraction would leave at its path: of two
  // with one name, the later.
  std::vector<size_t> which;
  for (const std::string& name : names) {
    const std::optional<size_t> entry = reader.index().Lookup(name);
    if (entry) {
      which.push_back(*entry);
    } else {
      PrintError("no entry " + name + " in " + path);
      failed = true;
    }
  }
  if (!names.empty() && which.empty()) return kTukFailed;

  TukObserver observer;
  ExtractOptions options;
  options.directory = directory;
  // Unlike the unpack program, keep going after a failed entry.
  options.stopAtFailure = false;
  options.checkFreeSpace = names.empty();
  options.observer = &observer;
  const Status extracted = Extract(reader, which, options);
  if (!extracted.ok() && extracted.code() != Errc::kDamaged) PrintError(extracted.message());
  return failed || !extracted.ok() ? kTukFailed : kTukDone;
}

CommandRun Define(CLI::App& command) {
  struct Arguments {
    std::string archive, directory = ".";
    std::vector<std::string> names;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->names);
  command.add_option("-C", args->directory)->type_name("DIR")->take_last();
  return [args] { return Extract(args->archive, args->directory, args->names); };
}

}  // namespace

const Command kExtractCommand = {
    "extract",
    "  extract ARCHIVE [-C DIR] [NAME...]\n"
    "                                  extract every entry, or the named ones\n",
    "tuk extract ARCHIVE [-C DIR] [NAME...]\n  Extracts every entry, or the named ones (names match regardless of the\n  case of A-Z; of two entries with one name, the later), into DIR\n  (default: the current directory), which is made when missing.\n",
    Define};

}  // namespace tuk
