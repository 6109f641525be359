// The one reader and the one writer of an archive's header and index.
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
// The same through a stream (read in place; its position is left anywhere).
Status ReadIndex(platform::File& file, Index& index);

// A new archive's header, whose index offset and mode are filled in last.
std::vector<uint8_t> PlaceholderHeader();

// Ends an archive whose payloads out holds up to its position: the index
// of entries (each name with prefix in front), the trailer, and then the
// real index offset and mode over the header's first eight bytes. kTooLarge
// when it would pass 4 GiB, kIo when a write or seek fails. end, when
// given, receives the archive's length.
Status WriteIndex(platform::File& out, std::string_view prefix,
                  const std::vector<Entry>& entries, uint32_t mode, uint64_t* end = nullptr);

}  // namespace tuk
