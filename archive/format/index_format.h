// The one reader and writer of an archive's header and index.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tuk/index.h"
#include "tuk/status.h"

namespace tuk {

// Reads the header and index of an open archive. kDamaged when the file is
// too short for a header, its index offset lies outside the data, or the
// index cannot be read to its last record; index then holds the entries
// before the damage (none when the header was at fault). Names of any
// length are kept: what a caller can use is for it to decide.
Status ReadIndex(const platform::RandomAccessFile& file, Index& index);

// Appends one index record: prefix and name as the entry's name, then its
// sizes, offset and reserved bytes.
void AppendIndexRecord(std::vector<uint8_t>& out, std::string_view prefix,
                       std::string_view name, uint32_t storedSize, uint32_t size,
                       uint32_t offset, const uint8_t (&reserved)[12]);

// The reserved bytes every writer puts in a record.
extern const uint8_t kReservedBytes[12];

// A new archive's header, whose index offset and mode are filled in last.
std::vector<uint8_t> PlaceholderHeader();

}  // namespace tuk
