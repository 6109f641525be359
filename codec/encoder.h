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

// Largest stream EncodeNext can write for a segment of `length` bytes.
size_t SegmentStreamBound(size_t length);

// Segments encoded as one run: the encoder's tables carry from one segment
// of a run to the next instead of being built again from the window.
// Runs start every kRunSegments segments from a file's start, whatever
// the number of threads, so a file's payload is the same on every road.
constexpr size_t kRunSegments = 16;

// Reusable per-thread context: hash tables, match tree and parse scratch.
// Not shared between threads.
class SegmentEncoder {
 public:
  explicit SegmentEncoder(int level);  // level clamped to 1..9
  ~SegmentEncoder();
  SegmentEncoder(const SegmentEncoder&) = delete;
  SegmentEncoder& operator=(const SegmentEncoder&) = delete;

  int level() const { return level_; }

  // Starts a run of segments at data[start, start + length) (length up to
  // kRunSegments * 32768 bytes); matches may also reach back into
  // data[start - min(start, 32767), start). The bytes of every segment of
  // the run depend only on those bytes and the level, never on what the
  // context encoded before.
  void StartRun(const uint8_t* data, size_t start, size_t length);

  // Encodes the run's next segment of `length` bytes (1..32768, within the
  // run) into out, which holds at least SegmentStreamBound(length) bytes;
  // returns the stream's length.
  size_t EncodeNext(size_t length, uint8_t* out);

 private:
  struct Parsers;
  int level_;
  std::unique_ptr<Parsers> parsers_;
  const uint8_t* runBase_ = nullptr;  // the run's window's first byte
  size_t windowLength_ = 0;           // bytes before the run that matches may reach
  size_t next_ = 0;                   // the next segment's start, counted from runBase_
  size_t runEnd_ = 0;
};

// The u32 count and SegmentInfo table for a file of fileSize bytes whose
// segment streams have the given lengths, in order (4 + 12 * N bytes).
std::vector<uint8_t> SegmentTable(uint64_t fileSize, const std::vector<uint32_t>& streamLengths);

// Whole file to payload on one thread (the empty file: the fixed 20 bytes).
std::vector<uint8_t> EncodePayload(const uint8_t* data, size_t size, int level);

}  // namespace tuk
