#include "codec/tree_match_finder.h"

#include <algorithm>
#include <cstring>

#include "codec/position_table.h"

namespace tuk {

TreeMatchFinder::TreeMatchFinder()
    : head_(new uint32_t[size_t{1} << kMaxHashBits]),
      head3_(new uint32_t[size_t{1} << kMaxHashBits]),
      head2_(new uint32_t[size_t{1} << kMaxHashBits]),
      sons_(new uint32_t[2 * kCycle]) {}

void TreeMatchFinder::Begin(const SegmentWindow& window, size_t primeBytes, int depth,
                            size_t niceLength) {
  segmentEnd_ = window.end;
  if (!window.FirstOfRun()) return;
  base_ = window.base;
  runEnd_ = window.runEnd;
  next_ = window.start - std::min(window.start, primeBytes);
  depth_ = depth;
  niceLength_ = niceLength;
  // A short run gets smaller tables: clearing them costs less. They are
  // cleared for every run, so nothing before it shows through.
  bits_ = 10;
  while (bits_ < kMaxHashBits && (size_t{1} << bits_) < runEnd_ - next_) ++bits_;
  const size_t entries = size_t{1} << bits_;
  std::fill_n(head_.get(), entries, kEmptyPosition);
  std::fill_n(head3_.get(), entries, kEmptyPosition);
  std::fill_n(head2_.get(), entries, kEmptyPosition);
  Skip(window.start);
}

size_t TreeMatchFinder::Walk(size_t position, size_t longest, Match* out) {
  const uint8_t* const here = base_ + position;
  // The tree is ordered by the run's bytes; what is reported stops at the
  // segment's end.
  const size_t limit = std::min(niceLength_, runEnd_ - position);
  const size_t reportLimit = segmentEnd_ - position;
  // Where the next node found smaller, or larger, than here is hung.
  uint32_t* smaller = &sons_[2 * (position & (kCycle - 1))];
  uint32_t* larger = smaller + 1;
  // Bytes every node on that side is known to share with here.
  size_t smallerLength = 0, largerLength = 0;
  const uint32_t h = HashOf4(here, bits_);
  uint32_t candidate = head_[h];
  head_[h] = static_cast<uint32_t>(position);
  size_t count = 0;
  for (int depth = depth_; depth > 0 && InReach(position, candidate); --depth) {
    // Nodes below are older still, so one out of reach ends the walk.
    const uint8_t* const there = base_ + candidate;
    uint32_t* const sons = &sons_[2 * (candidate & (kCycle - 1))];
    size_t length = std::min(smallerLength, largerLength);
    length += CommonLength(here + length, there + length, here + limit);
    const size_t reported = std::min(length, reportLimit);
    if (reported > longest) {
      longest = reported;
      if (out != nullptr) {
        // Full: the longer match takes the last place.
        if (count == kMaxMatches - 1) --count;
        out[count].length = static_cast<uint32_t>(reported);
        out[count].distance = static_cast<uint32_t>(position - candidate);
        ++count;
      }
    }
    if (length >= limit) {
      // Equal as far as any search looks: here takes the node's place, and
      // the older node, never nearer, leaves the tree.
      *smaller = sons[0];
      *larger = sons[1];
      return count;
    }
    if (there[length] < here[length]) {
      *smaller = candidate;
      smaller = sons + 1;
      smallerLength = length;
      candidate = *smaller;
    } else {
      *larger = candidate;
      larger = sons;
      largerLength = length;
      candidate = *larger;
    }
  }
  *smaller = kEmptyPosition;
  *larger = kEmptyPosition;
  return count;
}

size_t TreeMatchFinder::Find(size_t position, Match* out) {
  Skip(position);
  next_ = position + 1;
  pairDistance_ = 0;
  // Positions are entered as far as the run goes; matches are cut at the
  // segment's end.
  const size_t runLeft = runEnd_ - position;
  const size_t left = segmentEnd_ - position;
  if (runLeft < 2) return 0;
  const uint8_t* const here = base_ + position;
  uint32_t& pair = head2_[HashOf2(here, bits_)];
  if (left >= 2 && InReach(position, pair) && base_[pair] == here[0] &&
      base_[pair + 1] == here[1]) {
    pairDistance_ = static_cast<uint32_t>(position - pair);
  }
  pair = static_cast<uint32_t>(position);
  if (runLeft < 3) return 0;
  size_t count = 0;
  size_t longest = 2;
  uint32_t& nearest = head3_[HashOf3(here, bits_)];
  if (left >= 3 && InReach(position, nearest)) {
    const size_t length = CommonLength(here, base_ + nearest, here + std::min(left, niceLength_));
    if (length >= 3) {
      out[0].length = static_cast<uint32_t>(length);
      out[0].distance = static_cast<uint32_t>(position - nearest);
      longest = length;
      count = 1;
    }
  }
  nearest = static_cast<uint32_t>(position);
  if (runLeft < 4) return count;
  const size_t found = Walk(position, longest, out + count);
  // A three-byte entry lost to a hash collision may stand farther than a
  // longer match the tree found: the nearer one serves every length then.
  if (count == 1 && found > 0 && out[1].distance <= out[0].distance) {
    std::memmove(out, out + 1, found * sizeof(Match));
    count = 0;
  }
  count += found;
  // The walk looks no further than the nice length; the match it stopped
  // at may run on.
  if (count > 0) {
    Match& last = out[count - 1];
    if (last.length == niceLength_) {
      last.length += static_cast<uint32_t>(CommonLength(
          here + last.length, here + last.length - last.distance, base_ + segmentEnd_));
    }
  }
  return count;
}

void TreeMatchFinder::Skip(size_t position) {
  for (; next_ < position; ++next_) {
    const size_t left = runEnd_ - next_;
    if (left < 2) continue;
    const uint8_t* const here = base_ + next_;
    head2_[HashOf2(here, bits_)] = static_cast<uint32_t>(next_);
    if (left < 3) continue;
    head3_[HashOf3(here, bits_)] = static_cast<uint32_t>(next_);
    if (left >= 4) Walk(next_, SIZE_MAX, nullptr);
  }
}

}  // namespace tuk
