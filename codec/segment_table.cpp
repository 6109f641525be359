#include <algorithm>

#include "codec/encoder.h"
#include "codec/segment_format.h"

namespace tuk {

std::vector<uint8_t> SegmentTable(uint64_t fileSize, const std::vector<uint32_t>& streamLengths) {
  const size_t count = streamLengths.size();
  std::vector<uint8_t> table(4 + count * kSegmentInfoSize);
  WriteU32LE(table.data(), static_cast<uint32_t>(count));
  uint32_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t segmentStart = static_cast<uint64_t>(i) * kSegmentSize;
    const uint64_t left = fileSize > segmentStart ? fileSize - segmentStart : 0;
    uint8_t* record = table.data() + 4 + i * kSegmentInfoSize;
    WriteU32LE(record, streamLengths[i]);
    WriteU32LE(record + 4, static_cast<uint32_t>(std::min<uint64_t>(left, kSegmentSize)));
    WriteU32LE(record + 8, offset);
    offset += streamLengths[i];
  }
  return table;
}

}  // namespace tuk
