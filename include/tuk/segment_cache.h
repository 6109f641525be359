// Decoded segments of a compressed archive's entries, kept for readers that
// come back for nearby bytes (ArchiveReader::ReadAt): bounded in bytes,
// least recently used out, shared by any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tuk {

class SegmentCache {
 public:
  // Keeps up to capacityBytes of decoded segments (at least 1 MiB, so a
  // reader going through an entry in order always finds the segment before
  // the one it needs). Besides, each entry read keeps its segment table,
  // 12 bytes per 32 KiB of the entry.
  explicit SegmentCache(uint64_t capacityBytes);
  ~SegmentCache();
  SegmentCache(const SegmentCache&) = delete;
  SegmentCache& operator=(const SegmentCache&) = delete;

  uint64_t capacity() const;
  // What is kept now, and how many segments were decoded (for tests and
  // statistics).
  uint64_t KeptBytes() const;
  size_t Decodings() const;

 private:
  friend class ArchiveReader;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tuk
