// The layout shared by the payload encoder and decoder: a file is cut into
// segments of kSegmentSize bytes, and the payload opens with a u32 segment
// count and one kSegmentInfoSize-byte record per segment. Every number is an
// unsigned 32-bit little-endian integer.
#pragma once

#include <cstdint>

namespace tuk {

constexpr uint32_t kSegmentSize = 32768;
constexpr uint32_t kSegmentShift = 15;
constexpr uint32_t kSegmentInfoSize = 12;

inline uint32_t ReadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void WriteU32LE(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace tuk
