// Levels 8 and 9: a cost-based parse. For every position of the segment it
// keeps the cheapest known way to encode the bytes before it, in bytes of
// stream, and extends it by a literal or by each match the finder reports;
// the cheapest way to the segment's end is then written out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/chain_match_finder.h"
#include "codec/segment_window.h"

namespace tuk {

struct OptimalParams {
  int depth;          // chain candidates per position
  size_t niceLength;  // a match this long is taken without weighing others
  size_t skipLength;  // inside a match this long, only its last bytes are searched (0: never)
  size_t primeBytes;  // window bytes entered before the segment
};

class OptimalParser {
 public:
  OptimalParser();

  // Writes the stream at out; 0 when it would reach limit.
  size_t Encode(ChainMatchFinder& finder, const SegmentWindow& window,
                const OptimalParams& params, uint8_t* out, uint8_t* limit);

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

  std::unique_ptr<Node[]> nodes_;
  std::vector<Step> steps_;
};

}  // namespace tuk
