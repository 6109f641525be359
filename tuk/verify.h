// Checking an archive's structure and payloads without writing anything.
#pragma once

#include <string>
#include <vector>

namespace tuk {

// Every problem found in the archive at path, one sentence each; empty for
// a sound archive.
std::vector<std::string> VerifyArchive(const char* path);

}  // namespace tuk
