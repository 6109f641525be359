// Bulk extraction helpers beside TukFile::ExtractAll.
#pragma once

#include <cstdint>

#include "archive/legacy/context.h"

namespace tuk {

class TukFile;

// Loads and extracts every archive matching tukPattern (a wildcard path
// such as "dir/*.tuk"; '\' before the first '*' is rewritten to '/' in
// place) into strExtractPath. Uses archive, or an object of its own when it
// is null. Returns 0 when every archive found was extracted, else the first
// failing ExtractAll result, or 2.
int unpackTukFiles(char* tukPattern, TukFile* archive,
                   const char* strExtractPath,
                   const Context& context = Context());

// Whole MiB the caller may still write on the volume of path (the low 32
// bits of bytes >> 20); 0 when the query fails.
uint32_t freeDiskSpaceMB(const char* path);

}  // namespace tuk
