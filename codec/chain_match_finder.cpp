#include "codec/chain_match_finder.h"

#include <algorithm>

#include "codec/match_length.h"
#include "codec/stream_writer.h"

namespace tuk {
namespace {

// Marks an empty table entry: always out of reach.
constexpr uint32_t kEmpty = UINT32_MAX;

inline bool InReach(size_t position, uint32_t candidate) {
  return position - size_t{candidate} <= kMaxDistance;
}

inline uint32_t Hash4(const uint8_t* p, int bits) { return (Read32(p) * 2654435761u) >> (32 - bits); }

// Reads three bytes only: a run's last three positions have no fourth.
inline uint32_t Hash3(const uint8_t* p, int bits) {
  const uint32_t v = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                     static_cast<uint32_t>(p[2]) << 24;
  return (v * 2654435761u) >> (32 - bits);
}

}  // namespace

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
  std::fill_n(head4_.get(), size_t{1} << bits_, kEmpty);
  std::fill_n(head3_.get(), size_t{1} << kHash3Bits, kEmpty);
  InsertEvery(window.start, primeStep);
}

void ChainMatchFinder::InsertEvery(size_t position, size_t step) {
  for (; next_ < position && next_ < insertEnd_; next_ += step) {
    const uint8_t* p = base_ + next_;
    const uint32_t at = static_cast<uint32_t>(next_);
    uint32_t& head = head4_[Hash4(p, bits_)];
    prev_[next_ & (kCycle - 1)] = head;
    head = at;
    head3_[Hash3(p, kHash3Bits)] = at;
  }
  if (next_ > position) next_ = position;
  // The last positions start no four-byte match but may start shorter ones.
  for (; next_ < position && next_ + 3 <= runEnd_; ++next_) {
    head3_[Hash3(base_ + next_, kHash3Bits)] = static_cast<uint32_t>(next_);
  }
}

Match ChainMatchFinder::Nearest3(size_t position) const {
  Match match;
  if (segmentEnd_ - position < 3) return match;
  const uint8_t* const here = base_ + position;
  const uint32_t candidate = head3_[Hash3(here, kHash3Bits)];
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
  for (uint32_t candidate = head4_[Hash4(here, bits_)];
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
