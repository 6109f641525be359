// Levels 8 and 9: the segment parsed for the fewest stream bytes. Walking
// forward, every position holds the cheapest known way to encode the
// bytes before it, priced in bytes of stream by the format's own rules
// (the M1 to M4 forms, literal counts riding in a match's low bits), and
// extends it by one more literal and by every match the tree finder
// reports, at every length it covers. The cheapest way to the segment's
// end is then written out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/segment_window.h"
#include "codec/tree_match_finder.h"

namespace tuk {

struct OptimalParams {
  int depth;          // tree nodes visited per position
  size_t niceLength;  // a match this long is taken at once, the positions it covers unsearched
  size_t primeBytes;  // window bytes entered before a run
};

class OptimalParser {
 public:
  OptimalParser();

  // Writes the stream at out; 0 when it would reach limit.
  size_t Encode(const SegmentWindow& window, const OptimalParams& params, uint8_t* out,
                uint8_t* limit);

 private:
  // The cheapest known way to reach one position; eight bytes, so the
  // segment's nodes stay in cache.
  struct Node {
    uint32_t price;   // stream bytes so far, the last run's count included
    uint16_t length;  // the match ending here, or 0 after a literal
    uint16_t value;   // the match's distance, or after a literal the run's length so far
  };
  struct Step {
    uint32_t literals;
    uint32_t length;
    uint32_t distance;
  };

  TreeMatchFinder finder_;
  std::unique_ptr<Node[]> nodes_;
  std::vector<Step> steps_;
};

}  // namespace tuk
