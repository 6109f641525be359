// Hash chains over a run's bytes, for the lazy levels. Every position is
// entered under the hash of its first four bytes, linked to the previous
// position with the same hash, so a search walks candidates from the
// nearest outwards. Three-byte matches pay off only close by, so for them
// only the nearest earlier position is kept. The chains carry from one
// segment of a run to the next, so only a run's first segment enters its
// window first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/match.h"
#include "codec/segment_window.h"

namespace tuk {

class ChainMatchFinder {
 public:
  static constexpr size_t kMinLength = 3;

  ChainMatchFinder();

  // Goes on to a segment. The first of a run starts the chains afresh,
  // with every primeStep-th of the window's last primeBytes positions
  // entered.
  void Begin(const SegmentWindow& window, size_t primeBytes, size_t primeStep);

  // Leaves the positions before `position` out: positions inside a long
  // match are not all entered.
  void SkipTo(size_t position) {
    if (next_ < position) next_ = position;
  }

  // Enters every position before `position` (counted from the window's
  // base) not entered yet.
  void InsertUpTo(size_t position) { InsertEvery(position, 1); }

  // The longest match at position, none past the segment's end, among at
  // most `depth` candidates; the search stops early at niceLength.
  Match Longest(size_t position, int depth, size_t niceLength) const;

 private:
  static constexpr int kMaxHashBits = 15;
  static constexpr int kHash3Bits = 14;
  static constexpr size_t kCycle = size_t{1} << 16;  // more positions than a match reaches

  void InsertEvery(size_t position, size_t step);

  // The nearest candidate for three bytes, as a first match (length 0 if
  // none).
  Match Nearest3(size_t position) const;

  const uint8_t* base_ = nullptr;
  size_t segmentEnd_ = 0;
  size_t insertEnd_ = 0;  // positions from here on have fewer than 4 bytes in the run
  size_t runEnd_ = 0;
  size_t next_ = 0;       // the next position to enter
  int bits_ = kMaxHashBits;
  std::unique_ptr<uint32_t[]> head4_;  // newest position per 4-byte hash
  std::unique_ptr<uint32_t[]> prev_;   // per position (cyclic): the one entered before, same hash
  std::unique_ptr<uint32_t[]> head3_;  // newest position per 3-byte hash
};

}  // namespace tuk
