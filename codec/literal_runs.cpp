#include "codec/literal_runs.h"

#include <cstring>

#include "codec/segment_format.h"

namespace tuk {
namespace {

constexpr uint8_t kEndMarker[3] = {0x11, 0x00, 0x00};
constexpr uint32_t kMaxHeaderBytes = 130;  // for a run of 32768

}  // namespace

void WriteLiteralRunHeader(uint8_t* out, uint32_t& position, uint32_t literalCount) {
  if (literalCount < 239) {
    out[position++] = static_cast<uint8_t>(literalCount + 17);
    return;
  }
  out[position++] = 0;
  uint32_t rest = literalCount - 18;
  while (rest > 255) {
    out[position++] = 0;
    rest -= 255;
  }
  out[position++] = static_cast<uint8_t>(rest);
}

uint32_t LiteralRunStreamLength(uint32_t length) {
  uint32_t header = 1;
  if (length >= 239) header = 2 + (length - 18 - 1) / 255;
  return header + length + sizeof kEndMarker;
}

uint64_t LiteralRunStreamsBound(uint32_t size) {
  const uint64_t segments = size == 0 ? 0 : ((uint64_t{size} - 1) >> kSegmentShift) + 1;
  return size + segments * (kMaxHeaderBytes + sizeof kEndMarker);
}

uint32_t EncodeLiteralRuns(const uint8_t* data, uint32_t size, uint8_t* out,
                           std::vector<uint32_t>& streamLengths) {
  streamLengths.clear();
  uint32_t position = 0;
  for (uint32_t start = 0; start < size; start += kSegmentSize) {
    const uint32_t length = size - start >= kSegmentSize ? kSegmentSize : size - start;
    const uint32_t origin = position;
    WriteLiteralRunHeader(out, position, length);
    std::memcpy(out + position, data + start, length);
    position += length;
    std::memcpy(out + position, kEndMarker, sizeof kEndMarker);
    position += sizeof kEndMarker;
    streamLengths.push_back(position - origin);
    if (size - start <= kSegmentSize) break;  // start + 32768 could wrap
  }
  return position;
}

}  // namespace tuk
