// Gathering the files of a source tree, in the order they will be packed:
// depth first (a directory's files, then its subdirectories), each
// directory in the listing's order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/common/environment.h"
#include "archive/jobs/name_table.h"

namespace tuk {

struct GatheredFiles {
  NameTable names;
  uint32_t totalSize = 0;    // the 32-bit wrapping sum the pack program prints
  uint64_t totalSize64 = 0;  // the real sum, for the free-space check
  uint32_t skipped = 0;      // inputs left out, each reported
  // The size the scan found for each gathered file, in name order, so
  // packing need not measure it again; left empty when it could not be
  // kept for every file.
  std::vector<uint64_t> sizes;
  bool sizesKept = true;
};

// Gathers every file below directory into files. A source directory that
// cannot be listed gathers nothing, silently; a subdirectory that cannot
// be listed, a path too long and anything that is neither file nor
// directory are reported (kDirectoryUnlisted, kInputPathTooLong,
// kInputUnreadable) and counted as left out. With threads, that many
// threads take the listings ahead of the walk; what is gathered and told
// is the same.
void scanDirectory(GatheredFiles& files, const Environment& env, const char* directory,
                   unsigned threads = 1);

// Whether path is directory itself or lies below it, comparing whole
// components of both paths once resolved (links, "." and ".." followed as
// far as the paths exist; A-Z against a-z on Windows, as its file names do).
bool PathIsInside(const std::string& path, const std::string& directory);

}  // namespace tuk
