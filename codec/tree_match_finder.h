// A binary tree over a run's bytes, as LZMA's bt4 and zstd's btopt keep
// one: under each hash of four bytes, the positions form a search tree
// ordered by the bytes that follow them, every node older than its parent.
// Entering a position walks from the root down the path its bytes take and
// makes the position the new root; on the way it meets, among the nodes it
// passes, the nearest position for every match length it finds, so one
// walk hands the optimal parser every useful candidate. Three-byte and
// two-byte matches (worth taking only close by) come from tables of the
// nearest position. The tree carries from one segment of a run to the
// next, so only a run's first segment enters its window first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/match.h"
#include "codec/segment_window.h"

namespace tuk {

class TreeMatchFinder {
 public:
  // Room for every match length a walk can report.
  static constexpr size_t kMaxMatches = 64;

  TreeMatchFinder();

  // Goes on to a segment. The first of a run starts the tree afresh with
  // the run's window's last primeBytes positions; a walk visits at most
  // `depth` nodes, and a match of niceLength bytes ends it.
  void Begin(const SegmentWindow& window, size_t primeBytes, int depth, size_t niceLength);

  // The matches at `position`, each longer than the one before and each at
  // the nearest distance the walk saw for its length, at least 3 bytes and
  // none past the segment's end; enters the position. Positions must be
  // visited in order, each by Find or Skip. Returns how many were written
  // to out (kMaxMatches room).
  size_t Find(size_t position, Match* out);

  // Enters every position before `position` not entered yet, reporting
  // nothing.
  void Skip(size_t position);

  // The distance to the nearest earlier position whose two bytes are those
  // at `position` (0: none in reach); valid after Find(position).
  uint32_t NearestPair() const { return pairDistance_; }

 private:
  static constexpr int kMaxHashBits = 16;
  static constexpr size_t kCycle = size_t{1} << 16;  // more positions than a match reaches

  // The walk: enters `position`, and when out is given writes the matches
  // longer than `longest` to it; returns how many.
  size_t Walk(size_t position, size_t longest, Match* out);

  const uint8_t* base_ = nullptr;
  size_t segmentEnd_ = 0;
  size_t runEnd_ = 0;
  size_t next_ = 0;  // the next position to enter
  int bits_ = kMaxHashBits;
  int depth_ = 0;
  size_t niceLength_ = 0;
  uint32_t pairDistance_ = 0;
  std::unique_ptr<uint32_t[]> head_;   // root per 4-byte hash
  std::unique_ptr<uint32_t[]> head3_;  // newest position per 3-byte hash
  std::unique_ptr<uint32_t[]> head2_;  // newest position per two-byte hash
  std::unique_ptr<uint32_t[]> sons_;   // per position (cyclic): the smaller, then the larger subtree
};

}  // namespace tuk
