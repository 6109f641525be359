// Levels 1 to 5: a greedy parse over a small hash table of four-byte
// sequences, in the spirit of LZO1X-1 and LZ4. Level 1 hashes five bytes,
// keeps one position per hash, takes the first match it sees and skips
// ahead faster the longer it finds none, so incompressible data costs
// little; the next levels use a larger table, keep two positions per hash
// or look one byte further before taking a match. The table carries
// through a run; a table that fits the processor's first cache (2^12
// four-byte entries) is worth more speed than the matches a larger one
// finds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/segment_window.h"

namespace tuk {

struct FastParams {
  int hashBits;         // the table holds 2^hashBits buckets (10..14)
  size_t primeStep;     // every how many of a run's window positions are entered first
  int skipShift;        // 2^skipShift misses make the step one byte longer
  int ways;             // positions kept per hash: 1 or 2
  bool lookAhead;       // try the next position before taking a match shorter than 16
  bool single = false;  // level 1's loop: one way, no look ahead; primeStep 0 primes nothing
};

class FastParser {
 public:
  FastParser();  // room for 2 << 14 positions

  // Writes the stream at out; 0 when it would reach limit.
  size_t Encode(const SegmentWindow& window, const FastParams& params, uint8_t* out,
                uint8_t* limit);

 private:
  std::unique_ptr<uint32_t[]> table_;  // positions last seen per hash, newest first; carried through a run
};

}  // namespace tuk
