// Rewriting a whole archive in another mode or at another level.
#pragma once

#include "archive/legacy/tuk_file.h"

namespace tuk {

// Rewrites the loaded archive (its index read by LoadIndex, not damaged)
// with every entry's bytes and name unchanged and in the same order: in
// mode 0 when level is 0, else in mode 1 compressed at that level on
// threads. The new archive goes to tuk_file_name + ".tmp" and replaces the
// old one only when complete; on any failure the old one stays as it was.
// False (reported) on failure.
bool RecompressArchive(TukFile& archive, int level, unsigned threads);

}  // namespace tuk
