// Hash chains over a segment's window. Every position is entered under the
// hash of its first four bytes, linked to the previous position with the
// same hash, so a search walks candidates from the nearest outwards.
// Shorter matches pay off only close by, so for three bytes (and, on
// request, two) only the nearest earlier position is kept. Used by the
// lazy and the optimal parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "codec/segment_window.h"

namespace tuk {

struct Match {
  uint32_t length = 0;  // 0: none
  uint32_t distance = 0;
};

class ChainMatchFinder {
 public:
  static constexpr size_t kMinLength = 3;

  ChainMatchFinder();

  // Starts on a new segment, with every primeStep-th of the window's last
  // primeBytes positions already entered. withPairs: also keep the nearest
  // two-byte match.
  void Reset(const SegmentWindow& window, size_t primeBytes, size_t primeStep, bool withPairs);

  // Leaves the positions before `position` out: the fast levels do not
  // enter every position inside a long match.
  void SkipTo(size_t position) {
    if (next_ < position) next_ = position;
  }

  // Enters every position before `position` (counted from the window's
  // base) not entered yet.
  void InsertUpTo(size_t position) { InsertEvery(position, 1); }

  void InsertEvery(size_t position, size_t step) {
    for (; next_ < position && next_ < insertEnd_; next_ += step) {
      const uint8_t* p = base_ + next_;
      const uint16_t at = static_cast<uint16_t>(next_);
      const uint32_t h = Hash4(p);
      prev_[next_] = head4_[h];
      head4_[h] = at;
      head3_[Hash3(p)] = at;
      if (withPairs_) head2_[Pair(p)] = at;
    }
    if (next_ > position) next_ = position;
    // The last positions start no four-byte match but may start shorter ones.
    for (; next_ < position && next_ + 2 <= end_; ++next_) {
      const uint8_t* p = base_ + next_;
      if (next_ + 3 <= end_) head3_[Hash3(p)] = static_cast<uint16_t>(next_);
      if (withPairs_) head2_[Pair(p)] = static_cast<uint16_t>(next_);
    }
  }

  // The longest match at position among at most `depth` candidates; the
  // search stops early at niceLength.
  Match Longest(size_t position, int depth, size_t niceLength) const;

  // The matches at position that each reach further than the one before,
  // nearest first, at least 3 bytes long; at most `capacity` are written to
  // out. Returns how many.
  size_t All(size_t position, int depth, size_t niceLength, Match* out, size_t capacity) const;

  // The distance back to the nearest earlier position whose two bytes are
  // those at position, or 0. Only after Reset with withPairs.
  uint32_t NearestPair(size_t position) const;

 private:
  static constexpr int kMaxHashBits = 15;
  static constexpr int kHash3Bits = 14;
  static constexpr int kPairBits = 12;
  static constexpr uint16_t kEmpty = 0xFFFF;  // positions stay below it

  uint32_t Hash4(const uint8_t* p) const {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - bits_);
  }
  static uint32_t Hash3(const uint8_t* p) {
    const uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                       static_cast<uint32_t>(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHash3Bits);
  }
  static uint32_t Pair(const uint8_t* p) {
    const uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
    return (v * 2654435761u) >> (32 - kPairBits);
  }

  // The nearest candidate for three bytes, as a first match (length 0 if
  // none).
  Match Nearest3(size_t position) const;

  const uint8_t* base_ = nullptr;
  size_t end_ = 0;
  size_t insertEnd_ = 0;  // positions from here on have fewer than 4 bytes
  size_t next_ = 0;       // the next position to enter
  int bits_ = kMaxHashBits;
  bool withPairs_ = false;
  std::unique_ptr<uint16_t[]> head4_;  // newest position per 4-byte hash
  std::unique_ptr<uint16_t[]> prev_;   // the position entered before, same hash
  std::unique_ptr<uint16_t[]> head3_;  // newest position per 3-byte hash
  std::unique_ptr<uint16_t[]> head2_;  // newest position per two-byte hash
};

}  // namespace tuk
