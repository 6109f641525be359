#include "codec/chain_match_finder.h"

#include <algorithm>

#include "codec/match_length.h"
#include "codec/stream_writer.h"

namespace tuk {

ChainMatchFinder::ChainMatchFinder()
    : head4_(new uint16_t[size_t{1} << kMaxHashBits]),
      prev_(new uint16_t[size_t{1} << 16]),
      head3_(new uint16_t[size_t{1} << kHash3Bits]),
      head2_(new uint16_t[size_t{1} << kPairBits]) {}

void ChainMatchFinder::Reset(const SegmentWindow& window, size_t primeBytes, size_t primeStep,
                             bool withPairs) {
  base_ = window.base;
  end_ = window.end;
  insertEnd_ = end_ >= 4 ? end_ - 3 : 0;
  next_ = window.start - std::min(window.start, primeBytes);
  withPairs_ = withPairs;
  // A short segment gets a smaller table: clearing it costs less. The
  // tables are cleared every time, so no earlier segment shows through.
  bits_ = 10;
  while (bits_ < kMaxHashBits && (size_t{1} << bits_) < end_ - next_) ++bits_;
  std::fill_n(head4_.get(), size_t{1} << bits_, kEmpty);
  std::fill_n(head3_.get(), size_t{1} << kHash3Bits, kEmpty);
  if (withPairs_) std::fill_n(head2_.get(), size_t{1} << kPairBits, kEmpty);
  InsertEvery(window.start, primeStep);
}

Match ChainMatchFinder::Nearest3(size_t position) const {
  Match match;
  if (end_ - position < 3) return match;
  const uint8_t* const here = base_ + position;
  const size_t candidate = head3_[Hash3(here)];
  if (candidate == kEmpty || position - candidate > kMaxDistance) return match;
  const size_t length = CommonLength(here, base_ + candidate, base_ + end_);
  if (length >= 3) {
    match.length = static_cast<uint32_t>(length);
    match.distance = static_cast<uint32_t>(position - candidate);
  }
  return match;
}

uint32_t ChainMatchFinder::NearestPair(size_t position) const {
  if (end_ - position < 2) return 0;
  const uint8_t* const here = base_ + position;
  const size_t candidate = head2_[Pair(here)];
  if (candidate == kEmpty || position - candidate > kMaxDistance) return 0;
  const uint8_t* const there = base_ + candidate;
  if (there[0] != here[0] || there[1] != here[1]) return 0;
  return static_cast<uint32_t>(position - candidate);
}

Match ChainMatchFinder::Longest(size_t position, int depth, size_t niceLength) const {
  Match best = Nearest3(position);
  const size_t maxLength = end_ - position;
  if (maxLength < 4 || best.length >= niceLength || best.length == maxLength) return best;
  const uint8_t* const here = base_ + position;
  const uint8_t* const end = base_ + end_;
  size_t bestLength = std::max<size_t>(best.length, 3);
  for (size_t candidate = head4_[Hash4(here)]; candidate != kEmpty && depth-- > 0;
       candidate = prev_[candidate]) {
    const size_t distance = position - candidate;
    if (distance > kMaxDistance) break;
    const uint8_t* const there = base_ + candidate;
    if (there[bestLength] != here[bestLength]) continue;
    const size_t length = CommonLength(here, there, end);
    if (length > bestLength) {
      bestLength = length;
      best.length = static_cast<uint32_t>(length);
      best.distance = static_cast<uint32_t>(distance);
      if (length >= niceLength || length == maxLength) break;
    }
  }
  return best;
}

size_t ChainMatchFinder::All(size_t position, int depth, size_t niceLength, Match* out,
                             size_t capacity) const {
  size_t count = 0;
  const Match nearest = Nearest3(position);
  if (nearest.length != 0) out[count++] = nearest;
  const size_t maxLength = end_ - position;
  if (maxLength < 4 || nearest.length >= niceLength || nearest.length == maxLength) return count;
  const uint8_t* const here = base_ + position;
  const uint8_t* const end = base_ + end_;
  size_t bestLength = std::max<size_t>(nearest.length, 3);
  for (size_t candidate = head4_[Hash4(here)]; candidate != kEmpty && depth-- > 0;
       candidate = prev_[candidate]) {
    const size_t distance = position - candidate;
    if (distance > kMaxDistance) break;
    const uint8_t* const there = base_ + candidate;
    if (there[bestLength] != here[bestLength]) continue;
    const size_t length = CommonLength(here, there, end);
    if (length > bestLength) {
      bestLength = length;
      out[count].length = static_cast<uint32_t>(length);
      out[count].distance = static_cast<uint32_t>(distance);
      if (++count == capacity || length >= niceLength || length == maxLength) break;
    }
  }
  return count;
}

}  // namespace tuk
