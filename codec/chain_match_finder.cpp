#include "codec/chain_match_finder.h"

#include <algorithm>

#include "codec/position_table.h"

namespace tuk {

ChainMatchFinder::ChainMatchFinder()
    : head4_(new uint32_t[size_t{1} << kMaxHashBits]),
      prev_(new uint32_t[kCycle]),
      head3_(new uint32_t[size_t{1} << kHash3Bits]) {}

void ChainMatchFinder::Begin(const SegmentWindow& window, size_t primeBytes, size_t primeStep) {
  segmentEnd_ = window.end;
  if (!window.FirstOfRun()) return;
  base_ = window.base;
  runEnd_ = window.runEnd;
  insertEnd_ = runEnd_ >= 4 ? runEnd_ - 3 : 0;
  next_ = window.start - std::min(window.start, primeBytes);
  // A short run gets a smaller table: clearing it costs less. The tables
  // are cleared for every run, so nothing before it shows through.
  bits_ = 10;
  while (bits_ < kMaxHashBits && (size_t{1} << bits_) < runEnd_ - next_) ++bits_;
  std::fill_n(head4_.get(), size_t{1} << bits_, kEmptyPosition);
  std::fill_n(head3_.get(), size_t{1} << kHash3Bits, kEmptyPosition);
  InsertEvery(window.start, primeStep);
}

void ChainMatchFinder::InsertEvery(size_t position, size_t step) {
  for (; next_ < position && next_ < insertEnd_; next_ += step) {
    const uint8_t* p = base_ + next_;
    const uint32_t at = static_cast<uint32_t>(next_);
    uint32_t& head = head4_[HashOf4(p, bits_)];
    prev_[next_ & (kCycle - 1)] = head;
    head = at;
    head3_[HashOf3(p, kHash3Bits)] = at;
  }
  if (next_ > position) next_ = position;
  // The last positions start no four-byte match but may start shorter ones.
  for (; next_ < position && next_ + 3 <= runEnd_; ++next_) {
    head3_[HashOf3(base_ + next_, kHash3Bits)] = static_cast<uint32_t>(next_);
  }
}

Match ChainMatchFinder::Nearest3(size_t position) const {
  Match match;
  if (segmentEnd_ - position < 3) return match;
  const uint8_t* const here = base_ + position;
  const uint32_t candidate = head3_[HashOf3(here, kHash3Bits)];
  if (!InReach(position, candidate)) return match;
  const size_t length = CommonLength(here, base_ + candidate, base_ + segmentEnd_);
  if (length >= 3) {
    match.length = static_cast<uint32_t>(length);
    match.distance = static_cast<uint32_t>(position - candidate);
  }
  return match;
}

Match ChainMatchFinder::Longest(size_t position, int depth, size_t niceLength) const {
  Match best = Nearest3(position);
  const size_t maxLength = segmentEnd_ - position;
  if (maxLength < 4 || best.length >= niceLength || best.length == maxLength) return best;
  const uint8_t* const here = base_ + position;
  const uint8_t* const end = base_ + segmentEnd_;
  size_t bestLength = std::max<size_t>(best.length, 3);
  for (uint32_t candidate = head4_[HashOf4(here, bits_)];
       depth-- > 0 && InReach(position, candidate);
       candidate = prev_[candidate & (kCycle - 1)]) {
    const uint8_t* const there = base_ + candidate;
    if (there[bestLength] != here[bestLength]) continue;
    const size_t length = CommonLength(here, there, end);
    if (length > bestLength) {
      bestLength = length;
      best.length = static_cast<uint32_t>(length);
      best.distance = static_cast<uint32_t>(position - candidate);
      if (length >= niceLength || length == maxLength) break;
    }
  }
  return best;
}

}  // namespace tuk
