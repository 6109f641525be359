// Extracting an archive's entries into a directory tree.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/events.h"
#include "tuk/status.h"

namespace tuk {

struct Environment;  // the library's own (its tests' failing disk)

struct ExtractOptions {
  std::string directory = ".";  // made, with its parents, when missing
  // Stop at the first entry that fails (the rest are not tried); otherwise
  // every entry is tried and the failures counted.
  bool stopAtFailure = false;
  // Refuse entries whose bytes do not match the checksum they carry.
  bool verifyChecksums = true;
  // Refuse the whole run unless the entries' total size and 16 MiB are
  // free in the directory.
  bool checkFreeSpace = true;
  // Threads that write files; 0: as many as pay on this machine.
  unsigned workers = 0;
  // A file already where an entry goes: replaced (kOverwrite), left as it
  // is (kKeep), or replaced only when it is older than the archive file
  // (kNewer: the archive's time is every entry's). Kept files are reported
  // (kEntryKept) and counted, not failures.
  enum class Overwrite { kOverwrite, kKeep, kNewer } overwrite = Overwrite::kOverwrite;
  // A directory, a link or anything but a file where a file goes, or
  // anything but a directory where one of its directories goes, fails the
  // entry (kEntryInTheWay): nothing is written through a link.
  bool noFollow = true;
  // Leading components dropped from every name ("a/b/c" with 1 is "b/c");
  // an entry with nothing left is skipped, reported (kEntryNameStripped)
  // and counted.
  size_t stripComponents = 0;
  Observer* observer = nullptr;  // hears each failed entry (kEntry... events)
  const Environment* environment = nullptr;
};

struct ExtractSummary {
  size_t extracted = 0;
  size_t failed = 0;
  size_t kept = 0;     // existing files left as they were
  size_t stripped = 0; // entries with no name left to extract them as
};

// Extracts the entries of reader listed in which (indices, in that order;
// every entry in index order when empty) below options.directory. Names
// that are absolute or step outside it are refused; nothing is written
// outside it. kIo when the directory cannot be made, kTooLarge when it
// lacks the room, kDamaged when an entry failed (each one reported).
Status Extract(const ArchiveReader& reader, const std::vector<size_t>& which,
               const ExtractOptions& options, ExtractSummary* summary = nullptr);

}  // namespace tuk
