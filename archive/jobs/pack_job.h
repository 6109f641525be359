// Packing gathered files into an archive: a new one, or an update that
// carries over the old archive's entries that were not packed again. The
// archive is written to a temporary file under the writer lock and put in
// place only when complete; whatever fails, what lay at the path stays as
// it was.
#pragma once

#include <cstdint>
#include <string>

#include "archive/common/environment.h"
#include "archive/write/entry_writer.h"
#include "archive/jobs/source_scan.h"
#include "tuk/status.h"

namespace tuk {

struct PackRequest {
  std::string archivePath;
  std::string prefix;         // in front of every name in the index ("menu/")
  size_t basePathLength = 0;  // characters of a gathered path in front of its name
  bool update = false;        // carry over the old archive's other entries
  PayloadSettings payloads;   // mode (for a new archive), level, threads, checksums
};

struct PackResult {
  Status status;            // a failure wrote nothing: the old archive is as it was
  uint32_t entries = 0;     // entries of the archive written (0: none was left)
  uint32_t leftOut = 0;     // inputs and old entries left out, each reported
  bool stopped = false;     // the observer stopped the adding early
  bool updated = false;     // an existing archive was updated
};

// Packs files (their paths as the scan gathered them, in that order) as
// request says. Progress is reported before every file and once finished,
// and the observer may stop the adding there: the archive is then finished
// with the files added so far. An update of a path that holds no file packs
// a new archive; one of a file that is not a whole archive is refused
// (kOldArchiveUnreadable). With nothing to write, no archive is left and
// what lay at the path stays.
PackResult PackFiles(const GatheredFiles& files, const PackRequest& request,
                     const Environment& env);

}  // namespace tuk
