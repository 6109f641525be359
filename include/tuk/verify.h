// Checking an archive's structure and payloads without writing anything.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tuk {

// Every problem found in the archive at path, one sentence each; empty for
// a sound archive. It checks the header, the index, that every payload
// lies inside the data area without overlapping another, that every name
// is safe, and decodes every compressed payload; entries with a checksum
// have their bytes compared with it. withoutChecksum, when given, receives
// how many carry none.
std::vector<std::string> VerifyArchive(const std::string& path, size_t* withoutChecksum = nullptr);

}  // namespace tuk
