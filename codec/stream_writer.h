// Writes one segment stream: a first literal count, then literal runs and
// matches, then the end marker 17, 0, 0. The parsers decide what to write;
// this file alone knows how each choice is spelled in bytes, and what it
// costs (the optimal parser prices its choices with the same rules).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tuk {

// Matches never reach further back than this.
constexpr uint32_t kMaxDistance = 32767;

// Bytes of an extended count: zeros worth 255 each, then a byte 1..255.
inline size_t ExtensionCost(size_t value) { return 1 + (value - 1) / 255; }

// Bytes spent on a run of n literals, its count included. The first run of
// a segment always has a count byte (17 for none); later runs of 1..3 ride
// in the low bits of the match before them.
inline size_t RunCost(size_t n, bool first) {
  if (n == 0) return first ? 1 : 0;
  if (first) return n <= 238 ? n + 1 : n + 1 + ExtensionCost(n - 18);
  if (n <= 3) return n;
  if (n <= 18) return n + 1;
  return n + 1 + ExtensionCost(n - 18);
}

// Whether the two-byte M1 form may carry a match after `literals` literals:
// length 2 at distance 1..1024 follows 1..3 literals, or none at the very
// start; length 3 at 2049..3072 follows 4 or more.
inline bool ShortFormAllowed(size_t length, uint32_t distance, size_t literals,
                             bool atStart) {
  if (length == 2) {
    return distance <= 1024 && ((literals >= 1 && literals <= 3) || (atStart && literals == 0));
  }
  return length == 3 && literals >= 4 && distance >= 2049 && distance <= 3072;
}

// Bytes of a match instruction (the literal count after it is priced with
// the next run). Length 2 is only valid where ShortFormAllowed says so.
inline size_t MatchCost(size_t length, uint32_t distance, size_t literals,
                        bool atStart) {
  if (length <= 3 && ShortFormAllowed(length, distance, literals, atStart)) return 2;
  if (length <= 8 && distance <= 2048) return 2;
  if (distance <= 16384) return length <= 33 ? 3 : 3 + ExtensionCost(length - 33);
  return length <= 9 ? 3 : 3 + ExtensionCost(length - 9);
}

// Upper bound on the bytes one literal run and one match take.
inline size_t SequenceBound(size_t literals, size_t length) {
  return literals + literals / 255 + length / 255 + 8;
}

// Every byte store below goes through a local pointer: a store through
// uint8_t* may alias the writer's own members, so writing through op_
// itself would make the compiler reload them after every byte.
class StreamWriter {
 public:
  // Writes at out, never at or past limit. Literals are read from a buffer
  // that may be read up to sourceEnd.
  StreamWriter(uint8_t* out, uint8_t* limit, const uint8_t* sourceEnd)
      : start_(out), op_(out), limit_(limit), sourceEnd_(sourceEnd) {}

  // A run of literals followed by a match of length 2..32768 at distance
  // 1..32767. False, writing nothing more, when the limit would be passed.
  bool Sequence(const uint8_t* literals, size_t n, size_t length, uint32_t distance) {
    // (n + length) >> 7 bounds both extensions' bytes: each takes one per 255.
    if (static_cast<size_t>(limit_ - op_) < n + ((n + length) >> 7) + 11) return false;
    uint8_t* op = op_;
    uint8_t* lowBits = lowBits_;
    const bool atStart = lowBits == nullptr;
    op = Run(op, lowBits, literals, n);
    op_ = Match(op, lowBits, length, distance, n, atStart);
    lowBits_ = lowBits;
    return true;
  }

  // The last run (possibly empty) and the end marker.
  bool Finish(const uint8_t* literals, size_t n) {
    if (static_cast<size_t>(limit_ - op_) < SequenceBound(n, 0)) return false;
    uint8_t* op = Run(op_, lowBits_, literals, n);
    op[0] = 17;
    op[1] = 0;
    op[2] = 0;
    op_ = op + 3;
    return true;
  }

  size_t Length() const { return static_cast<size_t>(op_ - start_); }

 private:
  static uint8_t* Extension(uint8_t* op, size_t value) {
    while (value > 255) {
      *op++ = 0;
      value -= 255;
    }
    *op++ = static_cast<uint8_t>(value);
    return op;
  }

  uint8_t* Run(uint8_t* op, uint8_t* lowBits, const uint8_t* literals, size_t n) const {
    if (lowBits == nullptr) {
      if (n <= 238) {
        *op++ = static_cast<uint8_t>(17 + n);
      } else {
        *op++ = 0;
        op = Extension(op, n - 18);
      }
    } else if (n == 0) {
      return op;
    } else if (n <= 3) {
      *lowBits |= static_cast<uint8_t>(n);
    } else if (n <= 18) {
      *op++ = static_cast<uint8_t>(n - 3);
    } else {
      *op++ = 0;
      op = Extension(op, n - 18);
    }
    // Short runs dominate; a fixed 16-byte copy is one move.
    if (n <= 16 && sourceEnd_ - literals >= 16 && limit_ - op >= 16) {
      std::memcpy(op, literals, 16);
    } else if (n != 0) {
      std::memcpy(op, literals, n);
    }
    return op + n;
  }

  // Writes the match; lowBits comes back pointing at the byte whose low two
  // bits carry the next run's count.
  static uint8_t* Match(uint8_t* op, uint8_t*& lowBits, size_t length, uint32_t distance,
                        size_t literals, bool atStart) {
    if (length <= 3 && ShortFormAllowed(length, distance, literals, atStart)) {  // M1
      const uint32_t d = distance - (length == 2 ? 1 : 2049);
      lowBits = op;
      op[0] = static_cast<uint8_t>((d & 3) << 2);
      op[1] = static_cast<uint8_t>(d >> 2);
      return op + 2;
    }
    if (length <= 8 && distance <= 2048) {  // M2
      const uint32_t d = distance - 1;
      lowBits = op;
      op[0] = static_cast<uint8_t>(((length - 1) << 5) | ((d & 7) << 2));
      op[1] = static_cast<uint8_t>(d >> 3);
      return op + 2;
    }
    // M3 reaches 1..16384. M4 takes only 16385..32767: at 16384 its
    // length-3 form would read as the end marker.
    uint32_t d;
    if (distance <= 16384) {
      d = distance - 1;
      if (length <= 33) {
        *op++ = static_cast<uint8_t>(32 | (length - 2));
      } else {
        *op++ = 32;
        op = Extension(op, length - 33);
      }
    } else {
      d = distance - 16384;
      if (length <= 9) {
        *op++ = static_cast<uint8_t>(16 | (length - 2));
      } else {
        *op++ = 16;
        op = Extension(op, length - 9);
      }
    }
    lowBits = op;
    op[0] = static_cast<uint8_t>((d & 63) << 2);
    op[1] = static_cast<uint8_t>(d >> 6);
    return op + 2;
  }

  uint8_t* const start_;
  uint8_t* op_;
  uint8_t* const limit_;
  const uint8_t* const sourceEnd_;
  // The byte whose low two bits carry the next run's count; null before
  // the first match.
  uint8_t* lowBits_ = nullptr;
};

}  // namespace tuk
