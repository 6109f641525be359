// Levels 6 and 7: lazy parsing over hash chains. Before taking a
// match the parser looks one or more positions further, and moves on when
// a later match saves more bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/chain_match_finder.h"
#include "codec/segment_window.h"

namespace tuk {

struct LazyParams {
  int depth;          // chain candidates per search
  size_t niceLength;  // a match this long is taken at once
  int lookAhead;      // positions tried after a match is found (0: greedy)
  size_t primeBytes;  // window bytes entered before a run
  size_t primeStep;   // 1: every window position entered, 2: every other...
  size_t maxInsert;   // positions inside a longer match are not entered
};

// Writes the stream at out; 0 when it would reach limit.
size_t LazyParse(ChainMatchFinder& finder, const SegmentWindow& window, const LazyParams& params,
                 uint8_t* out, uint8_t* limit);

}  // namespace tuk
