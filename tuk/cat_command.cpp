// tuk cat: entries' bytes to standard output, as tar -O and unzip -p.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/commands.h"

namespace tuk {
namespace {

int Cat(const std::string& archive, const std::vector<std::string>& names) {
  ArchiveReader reader;
  const Status opened = reader.Open(archive);
  if (!opened.ok() && opened.code() != Errc::kDamaged) {
    PrintError(opened.message());
    return kTukFailed;
  }
  bool failed = !opened.ok();
  if (failed) PrintError(opened.message() + " (only the entries before the damage are read)");

  SetBinaryMode(stdout);
  bool writeFailed = false;
  const ArchiveReader::Sink toOutput = [&](const uint8_t* data, size_t length) {
    if (std::fwrite(data, 1, length, stdout) != length) {
      writeFailed = true;
      return Status(Errc::kIo, "cannot write to standard output");
    }
    return Status();
  };
  for (const std::string& name : names) {
    // Of two entries with one name, the later, as extraction leaves it.
    const std::optional<size_t> entry = reader.index().Lookup(name);
    if (!entry) {
      PrintError("no entry " + name + " in " + archive);
      failed = true;
      continue;
    }
    const Status read = reader.Read(*entry, toOutput);
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
  struct Arguments {
    std::string archive;
    std::vector<std::string> names;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->names)->required();
  return [args] { return Cat(args->archive, args->names); };
}

}  // namespace

const Command kCatCommand = {
    "cat",
    "  cat ARCHIVE NAME...             write entries' bytes to standard output\n",
    "tuk cat ARCHIVE NAME...\n  Writes the bytes of each named entry to standard output, in the order\n  given (names match regardless of the case of A-Z; of two entries with\n  one name, the later). Exits 2 when a name has no entry or an entry does\n  not decode.\n",
    Define};

}  // namespace tuk
