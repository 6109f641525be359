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

// The spelling of each piece of a stream, as functions of the write
// position. The fast parsers' loops keep that position in a register and
// call these directly: StreamWriter keeps it in memory, where any byte
// store may change it as far as the compiler knows, and writing through it
// took level 1 more instructions than its search. StreamWriter strings the
// same functions together for the other parsers. Each returns the position
// behind what it wrote.

// A count of zeros worth 255 each and a closing byte 1..255.
inline uint8_t* PutExtension(uint8_t* op, size_t value) {
  while (value > 255) {
    *op++ = 0;
    value -= 255;
  }
  *op++ = static_cast<uint8_t>(value);
  return op;
}

// The count of a segment's first run: always there, 17 for none.
inline uint8_t* PutFirstCount(uint8_t* op, size_t n) {
  if (n <= 238) {
    *op++ = static_cast<uint8_t>(17 + n);
    return op;
  }
  *op++ = 0;
  return PutExtension(op, n - 18);
}

// The count of a run after a match. A run of 1..3 rides in the low two
// bits of op[-2], which in every match form is the byte that carries them.
// Up to 18 it is written without a branch to mispredict: the byte at op is
// written either way and kept only for 4..18. So op[0] must be writable.
inline uint8_t* PutLaterCount(uint8_t* op, size_t n) {
  if (n <= 18) {
    op[-2] |= static_cast<uint8_t>(n <= 3 ? n : 0);
    op[0] = static_cast<uint8_t>(n - 3);
    return op + (n > 3);
  }
  *op++ = 0;
  return PutExtension(op, n - 18);
}

// A run's bytes. Short runs dominate; where the caller allows 16 bytes to
// be read at literals and written at op, a fixed 16-byte copy is one move.
inline uint8_t* PutLiterals(uint8_t* op, const uint8_t* literals, size_t n, bool wide) {
  if (n <= 16 && wide) {
    std::memcpy(op, literals, 16);
  } else if (n != 0) {
    std::memcpy(op, literals, n);
  }
  return op + n;
}

// The two-byte M1 form, where ShortFormAllowed says it may stand.
inline uint8_t* PutShortMatch(uint8_t* op, size_t length, uint32_t distance) {
  const uint32_t d = distance - (length == 2 ? 1 : 2049);
  op[0] = static_cast<uint8_t>((d & 3) << 2);
  op[1] = static_cast<uint8_t>(d >> 2);
  return op + 2;
}

// A match of 3..32768 bytes at distance 1..32767 in the M2, M3 or M4 form.
// M3 reaches 1..16384. M4 takes only 16385..32767: at 16384 its length-3
// form would read as the end marker.
inline uint8_t* PutMatch(uint8_t* op, size_t length, uint32_t distance) {
  const bool near = distance <= 16384;
  const uint32_t d = near ? distance - 1 : distance - 16384;
  const uint32_t marker = near ? 32 : 16;
  if (length <= (near ? 33u : 9u)) {
    // No extension: M2 or the three-byte form, chosen without a branch,
    // since which one comes next is as good as random. Three bytes are
    // written either way; M2 keeps two.
    const uint32_t two = static_cast<uint32_t>(length - 1) << 5 | (d & 7) << 2 | (d >> 3) << 8;
    const uint32_t three =
        marker | static_cast<uint32_t>(length - 2) | (d & 63) << 10 | (d >> 6) << 16;
    const uint32_t isTwo = length <= 8 && distance <= 2048;
    const uint32_t pick = 0 - isTwo;
    const uint32_t word = (two & pick) | (three & ~pick);
    op[0] = static_cast<uint8_t>(word);
    op[1] = static_cast<uint8_t>(word >> 8);
    op[2] = static_cast<uint8_t>(word >> 16);
    return op + 3 - isTwo;
  }
  *op++ = static_cast<uint8_t>(marker);
  op = PutExtension(op, length - (near ? 33 : 9));
  op[0] = static_cast<uint8_t>((d & 63) << 2);
  op[1] = static_cast<uint8_t>(d >> 6);
  return op + 2;
}

inline uint8_t* PutEnd(uint8_t* op) {
  op[0] = 17;
  op[1] = 0;
  op[2] = 0;
  return op + 3;
}

// The fast parsers' loops write every match through PutSequence. Left to
// itself, the compiler calls it there rather than inlining it; inlined,
// level 1 runs 1-2% faster.
#if defined(__GNUC__)
#define TUK_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define TUK_ALWAYS_INLINE inline
#endif

// A run of n literals and a match of length 2..32768 at distance
// 1..32767, written at op in the stream that starts at start; null, with
// nothing written that counts, when it would reach limit. Literals may be
// read up to sourceEnd.
TUK_ALWAYS_INLINE uint8_t* PutSequence(uint8_t* start, uint8_t* op, uint8_t* limit,
                                       const uint8_t* literals, size_t n,
                                       const uint8_t* sourceEnd, size_t length,
                                       uint32_t distance) {
  // (n + length) >> 7 bounds both extensions' bytes: each takes one per 255.
  if (static_cast<size_t>(limit - op) < n + ((n + length) >> 7) + 11) return nullptr;
  // The stream is empty until its first match.
  const bool atStart = op == start;
  op = atStart ? PutFirstCount(op, n) : PutLaterCount(op, n);
  op = PutLiterals(op, literals, n, sourceEnd - literals >= 16 && limit - op >= 16);
  return length <= 3 && ShortFormAllowed(length, distance, n, atStart)
             ? PutShortMatch(op, length, distance)
             : PutMatch(op, length, distance);
}

// Room PutLaterSequence needs beyond n + ((n + length) >> 7): the counts,
// the match form and a short run's fixed 16-byte copy.
constexpr size_t kLaterSequenceRoom = 27;

// PutSequence with fewer checks, for level 1's loop: a run after the
// stream's first match and a match of 4 bytes or more. The caller has
// checked the room and that 16 bytes may be read at literals.
TUK_ALWAYS_INLINE uint8_t* PutLaterSequence(uint8_t* op, const uint8_t* literals, size_t n,
                                            size_t length, uint32_t distance) {
  op = PutLaterCount(op, n);
  op = PutLiterals(op, literals, n, true);
  return PutMatch(op, length, distance);
}

// Writes a stream piece by piece, checking the room for each.
class StreamWriter {
 public:
  // Writes at out, never at or past limit. Literals are read from a buffer
  // that may be read up to sourceEnd.
  StreamWriter(uint8_t* out, uint8_t* limit, const uint8_t* sourceEnd)
      : StreamWriter(out, out, limit, sourceEnd) {}

  // Goes on with a stream that a parser's own loop wrote from out to op.
  StreamWriter(uint8_t* out, uint8_t* op, uint8_t* limit, const uint8_t* sourceEnd)
      : start_(out), op_(op), limit_(limit), sourceEnd_(sourceEnd) {}

  // A run of literals followed by a match of length 2..32768 at distance
  // 1..32767. False, writing nothing more, when the limit would be passed.
  bool Sequence(const uint8_t* literals, size_t n, size_t length, uint32_t distance) {
    uint8_t* const op = PutSequence(start_, op_, limit_, literals, n, sourceEnd_, length, distance);
    if (op == nullptr) return false;
    op_ = op;
    return true;
  }

  // The last run (possibly empty) and the end marker.
  bool Finish(const uint8_t* literals, size_t n) {
    if (static_cast<size_t>(limit_ - op_) < SequenceBound(n, 0)) return false;
    uint8_t* op = op_ == start_ ? PutFirstCount(op_, n) : PutLaterCount(op_, n);
    op = PutLiterals(op, literals, n, false);
    op_ = PutEnd(op);
    return true;
  }

  size_t Length() const { return static_cast<size_t>(op_ - start_); }

 private:
  uint8_t* const start_;
  uint8_t* op_;
  uint8_t* const limit_;
  const uint8_t* const sourceEnd_;
};

}  // namespace tuk
