// Decoder of segmented payloads: a u32 segment count N, N SegmentInfo
// records, then N LZO1X-format instruction streams, each ending in the
// bytes 17, 0, 0. The output runs on from one segment into the next, so a
// match may reach back into an earlier segment's output.
//
// Safety: the decoder never reads outside input[0, inputLength) and never
// writes outside output[0, outputCapacity), whatever the payload holds. It
// may write scratch bytes past the end of the decoded data, but only
// inside the output buffer.
#pragma once

#include <cstdint>

namespace tuk {

enum class DecodeError {
  None,
  InputOverrun,         // a read would pass the end of the payload
  OutputOverrun,        // a write would pass the end of the output buffer
  LookBehindOverrun,    // a match would start before the output's start
  ReservedInstruction,  // an instruction byte from 24 to 31
};

struct DecodeOutcome {
  uint32_t length = 0;  // bytes written to the output
  DecodeError error = DecodeError::None;
};

// Tells every failure apart; length is what was decoded before it. A thin
// loop over DecodeSegment, the whole output being each segment's window.
DecodeOutcome DecodePayload(const uint8_t* input, uint32_t inputLength,
                            uint8_t* output, uint32_t outputCapacity);

// Decodes the one segment stream that starts at stream (its end marker
// ends it; streamLength bounds every read) into output from windowLength
// on. output[0, windowLength) holds the bytes before the segment, which its
// matches may reach back into (at most 32767 of them), so a file can be
// decoded segment by segment in a buffer of 32 KiB + 32 KiB. length is the
// number of bytes this segment wrote.
DecodeOutcome DecodeSegment(const uint8_t* stream, uint32_t streamLength, uint8_t* output,
                            uint32_t windowLength, uint32_t outputCapacity);

// Returned by the literal-count readers when the count runs past the input.
constexpr int64_t kCountOverrun = INT64_MIN;

// The count that opens a segment stream: b0 - 17 for b0 != 0 (so 1 to 16
// read as a negative count, which copies nothing), or a long count
// 18 + 255 * zeros + r after a 0. Advances position past it.
int64_t ReadFirstLiteralCount(const uint8_t* input, uint32_t inputLength,
                              uint32_t& position);
// The literal count after a match, read from the byte at position (the
// instruction byte for M1 and M2, the first distance byte for M3 and M4).
int64_t ReadNextLiteralCount(const uint8_t* input, uint32_t inputLength,
                             uint32_t& position);

}  // namespace tuk
