// The one size that decides how bytes travel.
#pragma once

#include <cstdint>

namespace tuk {

// Entries, payloads and input files up to this size are read, decoded,
// copied and written whole, in one call each; larger ones pass through in
// blocks (or are copied by the system), so memory stays bounded whatever
// their size. Measured: below it the calls a block loop or a system copy
// adds cost more than the copies they save; above it, blocks that stay in
// the processor's cache copy faster than one buffer that does not.
constexpr uint32_t kWholeEntryLimit = 256 * 1024;

}  // namespace tuk
