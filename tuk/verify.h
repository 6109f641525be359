// Checking an archive's structure and payloads without writing anything.
#pragma once

#include <string>
#include <vector>

namespace tuk {

// Every problem found in the archive at path, one sentence each; empty for
// a sound archive. Entries with a checksum have their bytes compared with
// it; withoutChecksum, when given, receives how many carry none.
std::vector<std::string> VerifyArchive(const char* path, size_t* withoutChecksum = nullptr);

}  // namespace tuk
