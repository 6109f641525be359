#include "codec/decoder.h"

#include <cstring>

#include "codec/segment_format.h"

namespace tuk {
namespace {

// Reads the zero bytes and the closing byte of an extended count: each
// zero adds 255, the first non-zero byte is added. ip ends past that byte.
// 64-bit arithmetic cannot wrap: every zero consumes an input byte.
inline bool ReadExtension(const uint8_t*& ip, const uint8_t* ipEnd,
                          uint64_t& value) {
  while (ip < ipEnd && *ip == 0) {
    value += 255;
    ++ip;
  }
  if (ip >= ipEnd) return false;
  value += *ip++;
  return true;
}

// The count that opens a segment stream; ip ends past it.
inline bool FirstCount(const uint8_t*& ip, const uint8_t* ipEnd, int64_t& t) {
  if (ip >= ipEnd) return false;
  if (*ip != 0) {
    t = static_cast<int64_t>(*ip++) - 17;
    return true;
  }
  ++ip;
  uint64_t count = 18;
  if (!ReadExtension(ip, ipEnd, count)) return false;
  t = static_cast<int64_t>(count);
  return true;
}

// The literal count after a match: the low two bits of the instruction's
// last byte, or, when they are 0, a count of its own at ip (which stands
// behind the instruction).
inline bool NextCount(const uint8_t*& ip, const uint8_t* ipEnd, uint32_t low,
                      int64_t& t) {
  if (low != 0) {
    t = low;
    return true;
  }
  if (ip >= ipEnd) return false;
  const uint32_t c = *ip;
  if (c >= 16) {
    t = 0;  // c is the next instruction
  } else if (c != 0) {
    t = c + 3;
    ++ip;
  } else {
    ++ip;
    uint64_t count = 18;
    if (!ReadExtension(ip, ipEnd, count)) return false;
    t = static_cast<int64_t>(count);
  }
  return true;
}

// M3 and M4: the instruction's low bits hold length - 2 (0 starts an
// extended length), followed by two distance bytes whose low two bits are
// the next literal count. ip stands on the instruction and ends past it.
inline bool LongMatch(const uint8_t*& ip, const uint8_t* ipEnd,
                      uint32_t lengthMask, uint32_t distanceBase,
                      uint64_t& length, uint32_t& distance,
                      uint32_t& nextLiterals) {
  length = *ip++ & lengthMask;
  if (length == 0) {
    length = lengthMask;
    if (!ReadExtension(ip, ipEnd, length)) return false;
  }
  length += 2;
  if (ipEnd - ip < 2) return false;
  distance = (ip[0] >> 2) + (static_cast<uint32_t>(ip[1]) << 6) + distanceBase;
  nextLiterals = ip[0] & 3;
  ip += 2;
  return true;
}

inline void Copy8(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }

class SegmentDecoder {
 public:
  // Output goes from output + windowLength on; matches may reach back to
  // output itself.
  SegmentDecoder(const uint8_t* input, uint32_t inputLength, uint8_t* output,
                 uint32_t windowLength, uint32_t outputCapacity)
      : ipEnd_(input + inputLength),
        opStart_(output),
        op_(output + windowLength),
        opEnd_(output + outputCapacity) {}

  uint32_t Written() const { return static_cast<uint32_t>(op_ - opStart_); }

  DecodeError Decode(const uint8_t* ip);

 private:
  const uint8_t* const ipEnd_;
  uint8_t* const opStart_;
  uint8_t* op_;
  uint8_t* const opEnd_;
};

DecodeError SegmentDecoder::Decode(const uint8_t* ip) {
  uint8_t* op = op_;
  const uint8_t* const ipEnd = ipEnd_;
  uint8_t* const opEnd = opEnd_;
  DecodeError error = DecodeError::None;

  // The literal count in force; negative counts copy nothing.
  int64_t t;
  if (!FirstCount(ip, ipEnd, t)) {
    error = DecodeError::InputOverrun;
    goto done;
  }

  for (;;) {
    if (t > 0) {
      const uint64_t n = static_cast<uint64_t>(t);
      if (n > static_cast<uint64_t>(ipEnd - ip)) {
        error = DecodeError::InputOverrun;
        goto done;
      }
      if (n > static_cast<uint64_t>(opEnd - op)) {
        error = DecodeError::OutputOverrun;
        goto done;
      }
      // Short runs dominate; a fixed 16-byte copy is one or two moves.
      if (n <= 16 && ipEnd - ip >= 16 && opEnd - op >= 16) {
        std::memcpy(op, ip, 16);
      } else {
        std::memcpy(op, ip, static_cast<size_t>(n));
      }
      op += n;
      ip += n;
    }

    if (ip >= ipEnd) {
      error = DecodeError::InputOverrun;
      goto done;
    }
    const uint32_t b = *ip;
    uint64_t length;
    uint32_t distance;
    uint32_t nextLiterals;  // low two bits of the instruction's last byte

    if (b >= 64) {  // M2
      if (ipEnd - ip < 2) {
        error = DecodeError::InputOverrun;
        goto done;
      }
      length = (b >> 5) + 1;
      distance = ((b >> 2) & 7) + (static_cast<uint32_t>(ip[1]) << 3) + 1;
      nextLiterals = b & 3;
      ip += 2;
    } else if (b >= 32) {  // M3
      if (!LongMatch(ip, ipEnd, 31, 1, length, distance, nextLiterals)) {
        error = DecodeError::InputOverrun;
        goto done;
      }
    } else if (b >= 16) {
      if (b == 17 && ipEnd - ip >= 3 && ip[1] == 0 && ip[2] == 0) {
        break;  // end of segment
      }
      if (b > 23) {
        error = DecodeError::ReservedInstruction;
        goto done;
      }
      if (!LongMatch(ip, ipEnd, 7, 16384, length, distance, nextLiterals)) {  // M4
        error = DecodeError::InputOverrun;
        goto done;
      }
    } else {  // M1: its meaning depends on the literal run before it
      if (ipEnd - ip < 2) {
        error = DecodeError::InputOverrun;
        goto done;
      }
      if (t > 3) {
        length = 3;
        distance = (b >> 2) + (static_cast<uint32_t>(ip[1]) << 2) + 2049;
      } else {
        length = 2;
        distance = (b >> 2) + (static_cast<uint32_t>(ip[1]) << 2) + 1;
      }
      nextLiterals = b & 3;
      ip += 2;
    }

    if (!NextCount(ip, ipEnd, nextLiterals, t)) {
      error = DecodeError::InputOverrun;
      goto done;
    }

    // Copy the match. Byte by byte it repeats a pattern shorter than the
    // match; 8-byte steps give the same result once the distance is at
    // least 8, as long as the buffer has room for the last step.
    if (distance > static_cast<uint64_t>(op - opStart_)) {
      error = DecodeError::LookBehindOverrun;
      goto done;
    }
    if (length > static_cast<uint64_t>(opEnd - op)) {
      error = DecodeError::OutputOverrun;
      goto done;
    }
    const uint8_t* from = op - distance;
    uint8_t* const stop = op + length;
    if (distance >= 8 && static_cast<uint64_t>(opEnd - op) >= length + 8) {
      do {
        Copy8(op, from);
        op += 8;
        from += 8;
      } while (op < stop);
      op = stop;
    } else if (distance == 1) {
      std::memset(op, *from, static_cast<size_t>(length));
      op = stop;
    } else {
      while (op < stop) *op++ = *from++;
    }
  }

done:
  op_ = op;
  return error;
}

}  // namespace

DecodeOutcome DecodePayload(const uint8_t* input, uint32_t inputLength,
                            uint8_t* output, uint32_t outputCapacity) {
  DecodeOutcome outcome;
  if (inputLength < 4) {
    outcome.error = DecodeError::InputOverrun;
    return outcome;
  }
  const uint32_t segmentCount = ReadU32LE(input);
  const uint64_t streamArea =
      4 + static_cast<uint64_t>(segmentCount) * kSegmentInfoSize;
  if (streamArea > inputLength) {
    outcome.error = DecodeError::InputOverrun;
    return outcome;
  }

  for (uint32_t i = 0; i < segmentCount; ++i) {
    // Only the stream's start is taken from the record: a segment ends at
    // its end marker, and its decoded size is not compared.
    const uint8_t* record = input + 4 + static_cast<uint64_t>(i) * kSegmentInfoSize;
    const uint64_t start = streamArea + ReadU32LE(record + 8);
    if (start >= inputLength) {
      outcome.error = DecodeError::InputOverrun;
      break;
    }
    const DecodeOutcome segment =
        DecodeSegment(input + start, inputLength - static_cast<uint32_t>(start), output,
                      outcome.length, outputCapacity);
    outcome.length += segment.length;
    outcome.error = segment.error;
    if (outcome.error != DecodeError::None) break;
  }
  return outcome;
}

DecodeOutcome DecodeSegment(const uint8_t* stream, uint32_t streamLength, uint8_t* output,
                            uint32_t windowLength, uint32_t outputCapacity) {
  DecodeOutcome outcome;
  if (windowLength > outputCapacity) {
    outcome.error = DecodeError::OutputOverrun;
    return outcome;
  }
  SegmentDecoder decoder(stream, streamLength, output, windowLength, outputCapacity);
  outcome.error = decoder.Decode(stream);
  outcome.length = decoder.Written() - windowLength;
  return outcome;
}

int64_t ReadFirstLiteralCount(const uint8_t* input, uint32_t inputLength,
                              uint32_t& position) {
  if (position >= inputLength) return kCountOverrun;
  const uint8_t* ip = input + position;
  int64_t t;
  if (!FirstCount(ip, input + inputLength, t)) return kCountOverrun;
  position = static_cast<uint32_t>(ip - input);
  return t;
}

int64_t ReadNextLiteralCount(const uint8_t* input, uint32_t inputLength,
                             uint32_t& position) {
  if (position >= inputLength || inputLength - position < 2) {
    return kCountOverrun;
  }
  const uint8_t* ip = input + position + 2;
  int64_t t;
  if (!NextCount(ip, input + inputLength, input[position] & 3, t)) {
    return kCountOverrun;
  }
  position = static_cast<uint32_t>(ip - input);
  return t;
}

}  // namespace tuk
