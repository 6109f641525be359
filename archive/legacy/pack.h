// Packing a directory tree into an archive, new or updated: the legacy
// entry points, with their lines, around the engine's packing.
#pragma once

#include <cstdint>

#include "archive/legacy/context.h"
#include "archive/jobs/pack_job.h"

namespace tuk {

// Packs every file below sourceDir into archivePath, each named
// PackDirName + '/' + its path below sourceDir. With update == 1 an
// existing archive is rewritten: its entries that were not packed again are
// carried over. sourceDir and PackDirName are normalised in place ('\' to
// '/'; PackDirName gets a trailing '/', so it needs room for one more
// character). compress is the legacy programs' request, which decides
// nothing: a new archive is stored (mode 0) unless payloads say otherwise,
// and an update keeps the old archive's mode (payloads still give the
// level and threads of what it compresses).
// Returns the number of entries the archive written holds: 0 when none was
// written (nothing to pack, a failure, or no input could be added).
// result, when given, says how the packing ended.
uint32_t packTukFiles(char* sourceDir, char* PackDirName, const char* archivePath,
                      int32_t update, int32_t compress, PackResult* result = nullptr,
                      const PayloadSettings* payloads = nullptr,
                      const Context& context = Context());

// Packs ../name into name.tuk with the prefix name/. Returns 0.
uint32_t packByName(const char* name, int32_t compress, PackResult* result = nullptr,
                    const Context& context = Context());

}  // namespace tuk
