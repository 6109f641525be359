// Comparing an archive with a directory tree, as tar -d and diff -r do.
#pragma once

#include <string>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/status.h"

namespace tuk {

struct Difference {
  enum class Kind {
    kMissing,  // an entry whose file is not in the directory
    kExtra,    // a file below the directory that no entry names
    kDiffers,  // an entry whose file has another size or other bytes
  };
  Kind kind;
  std::string name;  // the entry's name, or the file's path below the directory
  std::string why;   // for kDiffers: what differs
};

// Compares the entries of reader with the files below directory, where
// extraction would put them (of two entries with one name, the later). A
// file's bytes are compared with the entry's checksum when it carries one,
// else with the entry's bytes. Entries first, in index order, then the
// extra files in name order. kNotFound when directory is not one; kDamaged
// when an entry cannot be read (the comparison stops); kIo when a file or
// directory below it cannot be read (the comparison goes on without it;
// the first one is named).
Status CompareWithDirectory(const ArchiveReader& reader, const std::string& directory,
                            std::vector<Difference>& differences);

}  // namespace tuk
