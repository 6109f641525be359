// Packing a directory tree into an archive, or updating one with it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tuk/archive_writer.h"
#include "tuk/events.h"
#include "tuk/select.h"
#include "tuk/status.h"

namespace tuk {

struct PackOptions {
  std::string source;   // the directory packed
  std::string prefix;   // in front of every name, with a '/' after it (empty: none)
  std::string archive;
  // Keep the entries of an existing archive that are not packed again (and
  // its mode); without one, a new archive is written.
  bool update = false;
  int level = WriterOptions::kDefault;  // 0 stores the files as they are
  unsigned threads = 0;                 // threads that compress; 0: every core
  // Which files: those whose entry names (the prefix included) the
  // selection takes, and, when only lists any, only those paths below
  // source (a directory stands for every file below it).
  Selection selection;
  std::vector<std::string> only;
  Observer* observer = nullptr;         // inputs left out, progress, stopping
  const Environment* environment = nullptr;
};

struct PackSummary {
  size_t entries = 0;  // entries of the archive written
  size_t leftOut = 0;  // inputs (and old entries) left out, each reported
  bool updated = false;
};

// Packs every file below options.source, depth first (a directory's files,
// then its subdirectories), each directory in name order with a-z folded
// to A-Z, so a tree always packs to the same bytes. Refuses an archive
// that lies inside the source (kInvalidArgument), a tree with no files
// (kNotFound) and a disk without room for twice its size (kTooLarge). An
// input that cannot be read is left out and reported; the archive is then
// written all the same, and summary says so. On any failure what lay at
// the archive's path stays as it was. A path of only that names no file is
// kNotFound, and a selection that leaves nothing is one too.
Status Pack(const PackOptions& options, PackSummary* summary = nullptr);

// What Pack would do, with nothing written: every file it would add, and
// in an update every old entry it would replace or keep, in the order the
// archive would hold them. A path of only that names no file is
// kNotFound.
struct PlannedEntry {
  enum class Action { kAdd, kReplace, kKeep } action;
  std::string name;
};
Status PlanPack(const PackOptions& options, std::vector<PlannedEntry>& plan);

}  // namespace tuk
