// The byte layout of a .tuk archive:
//   header (156 bytes: u32 indexOffset, u32 mode, 148-byte fixed block)
//   data area (the payloads back to back)
//   index (u32 count, then per entry: u32 nameLength, name bytes,
//          u32 storedSize, u32 size, u32 offset, 12 reserved bytes)
//   trailer (u32 0)
// Every number is an unsigned 32-bit little-endian integer.
#pragma once

#include <cstdint>

// Also the segment size, the SegmentInfo size and the u32 readers.
#include "archive/common/limits.h"
#include "codec/segment_format.h"
#include "tuk/index.h"

namespace tuk {

constexpr uint32_t kHeaderSize = 156;
constexpr uint32_t kFixedBlockSize = 148;
// Bytes of an index record besides its name.
constexpr uint32_t kIndexRecordFixedSize = 28;
constexpr uint32_t kReservedMarker = 1253856;  // 0x001321E0
constexpr uint32_t kReservedSize = 12;
constexpr uint32_t kTrailerSize = 4;

// The header's mode field for each Mode (the field may hold other values).
constexpr uint32_t kModeStored = static_cast<uint32_t>(Mode::kStored);
constexpr uint32_t kModeSegmented = static_cast<uint32_t>(Mode::kSegmented);

// An entry name in memory holds at most 259 characters and its NUL.
constexpr uint32_t kNameFieldSize = 260;
constexpr uint32_t kMaxNameLength = kNameFieldSize - 1;
// Paths live in buffers of this size: at most 511 characters.
constexpr uint32_t kPathBufferSize = 512;

// Files this large or larger cannot be stored: their size plus the raw
// buffer's margin would not fit 32 bits.
constexpr uint64_t kMaxInputFileSize = 4294966784u;
// Every offset is 32-bit: nothing of an archive lies at or past 4 GiB.
constexpr uint64_t kMaxArchiveSize = 0xFFFFFFFFu;

// A segmented payload yields at most 255 bytes per payload byte (the
// longest match an extended length can describe), so an entry claiming
// more cannot decode to its size and is refused before any allocation.
constexpr uint64_t kMaxExpansion = 256;

// Whether a segmented payload of storedSize bytes can decode to size bytes.
constexpr bool PayloadCanHold(uint64_t storedSize, uint64_t size) {
  return size <= storedSize * kMaxExpansion;
}

// The constant block every new archive carries in header bytes 8-155.
extern const uint8_t kFixedBlock[kFixedBlockSize];

// One record of a segmented payload's table.
struct SegmentInfo {
  uint32_t packedSize = 0;  // length of the segment's stream
  uint32_t size = 0;        // bytes the segment decodes to
  uint32_t offset = 0;      // stream start, from the start of the stream area
};

}  // namespace tuk
