// The payload encoder. A file becomes a u32 segment count N, N SegmentInfo
// records and N segment streams that codec/decoder.h reads back. Each
// segment is encoded on its own from its bytes and the window before it,
// so segments may be encoded on any thread, in any order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tuk {

constexpr int kFastestLevel = 1, kSmallestLevel = 9, kDefaultLevel = 5;

// Largest stream EncodeSegment can write for a segment of `length` bytes.
size_t SegmentStreamBound(size_t length);

// Reusable per-thread context: hash tables and parse scratch. Not shared
// between threads.
class SegmentEncoder {
 public:
  explicit SegmentEncoder(int level);  // level clamped to 1..9
  ~SegmentEncoder();
  SegmentEncoder(const SegmentEncoder&) = delete;
  SegmentEncoder& operator=(const SegmentEncoder&) = delete;

  int level() const { return level_; }

  // Encodes data[start, start + length) (length 1..32768) as one segment
  // stream into out, which holds at least SegmentStreamBound(length) bytes;
  // returns the stream's length. Matches may reach back into
  // data[start - min(start, 32767), start). The bytes written depend only
  // on those bytes and the level, never on what the context encoded before.
  size_t EncodeSegment(const uint8_t* data, size_t start, size_t length, uint8_t* out);

 private:
  struct Parsers;
  int level_;
  std::unique_ptr<Parsers> parsers_;
};

// The u32 count and SegmentInfo table for a file of fileSize bytes whose
// segment streams have the given lengths, in order (4 + 12 * N bytes).
std::vector<uint8_t> SegmentTable(uint64_t fileSize, const std::vector<uint32_t>& streamLengths);

// Whole file to payload on one thread (the empty file: the fixed 20 bytes).
std::vector<uint8_t> EncodePayload(const uint8_t* data, size_t size, int level);

}  // namespace tuk
