// What the match finders' tables share: positions counted from a run's
// window, an empty entry that is never within reach, and the hashes of
// the first two, three or four bytes at a position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/match_length.h"
#include "codec/stream_writer.h"

namespace tuk {

// Marks an empty table entry: always out of reach.
constexpr uint32_t kEmptyPosition = UINT32_MAX;

// Whether a table entry (kEmptyPosition included) lies within a match's
// reach of position.
inline bool InReach(size_t position, uint32_t candidate) {
  return position - size_t{candidate} <= kMaxDistance;
}

inline uint32_t HashOf4(const uint8_t* p, int bits) {
  return (Read32(p) * 2654435761u) >> (32 - bits);
}

// Reads three bytes only: a run's last three positions have no fourth.
inline uint32_t HashOf3(const uint8_t* p, int bits) {
  const uint32_t v = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                     static_cast<uint32_t>(p[2]) << 24;
  return (v * 2654435761u) >> (32 - bits);
}

inline uint32_t HashOf2(const uint8_t* p, int bits) {
  const uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 24;
  return (v * 2654435761u) >> (32 - bits);
}

}  // namespace tuk
