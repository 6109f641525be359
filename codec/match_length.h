// How far two positions of the same buffer agree: the match finders' inner
// loop, eight bytes at a time where the byte order allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tuk {

inline uint32_t Read32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint64_t Read64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// The number of equal bytes at a and b, counting no byte at or past aEnd
// (b lies before a, so it stays inside too).
inline size_t CommonLength(const uint8_t* a, const uint8_t* b, const uint8_t* aEnd) {
  const uint8_t* const aStart = a;
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (aEnd - a >= 8) {
    uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return static_cast<size_t>(a - aStart) + (__builtin_ctzll(x ^ y) >> 3);
    a += 8;
    b += 8;
  }
#endif
  while (a < aEnd && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<size_t>(a - aStart);
}

}  // namespace tuk
