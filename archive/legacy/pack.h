// Packing a directory tree into an archive, new or updated.
#pragma once

#include <cstdint>

#include "archive/legacy/context.h"

namespace tuk {

// How a packing ended, for callers that need more than the entry count.
enum class PackOutcome {
  Complete,    // the archive holds every gathered file (and kept old entry)
  Incomplete,  // the archive was written, but an input file, a directory or
               // an old entry had to be left out
  Failed,      // nothing was written, or the partial output was removed;
               // an existing archive is as it was
};

// How the front end packs: the mode-1 encoder's level (0 stores files as
// they are in a new archive, and writes literal runs into a mode-1 archive
// being updated) and the threads it compresses on. Without options, the
// legacy behaviour holds: new archives store, updates write literal runs.
struct PackOptions {
  int level = 0;
  unsigned threads = 1;
};

// Packs every file below sourceDir into archivePath, each named
// PackDirName + '/' + its path below sourceDir. With update == 1 an
// existing archive is rewritten: its entries that were not packed again are
// carried over. sourceDir and PackDirName are normalised in place ('\' to
// '/'; PackDirName gets a trailing '/', so it needs room for one more
// character). compress is ignored: options decide the mode of a new archive.
// Returns the number of entries written, or 1 when packing stopped early.
uint32_t packTukFiles(char* sourceDir, char* PackDirName,
                      const char* archivePath, int32_t update,
                      int32_t compress, PackOutcome* outcome = nullptr,
                      const PackOptions* options = nullptr,
                      const Context& context = Context());

// Packs ../name into name.tuk with the prefix name/. Returns 0.
uint32_t packByName(const char* name, int32_t compress,
                    PackOutcome* outcome = nullptr,
                    const Context& context = Context());

}  // namespace tuk
