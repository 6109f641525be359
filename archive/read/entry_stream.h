// Reading an entry's bytes in blocks, so that an entry of any size passes
// through a few fixed buffers instead of one buffer of its own size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "codec/decoder.h"
#include "platform/platform.h"

namespace tuk {

// Receives the entry's bytes in order; false stops the reading.
using ByteSink = std::function<bool(const uint8_t* data, size_t length)>;

struct StreamedBytes {
  // What reading the entry whole would have yielded: the bytes read (mode
  // 0) or decoded (mode 1), and 0 after any decoding failure.
  uint32_t countRead = 0;
  DecodeError error = DecodeError::None;
  bool sinkStopped = false;  // the sink refused a block
};

// Reads the mode-0 payload of length bytes at offset and hands it to sink.
// Nothing beyond the payload is read.
StreamedBytes StreamStoredPayload(platform::File& archive, uint64_t offset,
                                  uint32_t length, const ByteSink& sink);

// Decodes the mode-1 payload of storedSize bytes at offset segment by
// segment, keeping only the last 32 KiB of output for matches to reach
// into, and hands sink at most size bytes. The payload decodes as it would
// whole into a buffer of capacity bytes: output past capacity is an output
// overrun. A segment stream longer than 512 KiB, or one segment decoding to
// more than 256 KiB (eight times what a segment holds), counts as damaged.
StreamedBytes StreamSegmentedPayload(platform::File& archive, uint64_t offset,
                                     uint32_t storedSize, uint32_t size,
                                     uint64_t capacity, const ByteSink& sink);

}  // namespace tuk
