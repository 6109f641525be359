// What a SegmentCache holds (see tuk/segment_cache.h): decoded segments by
// entry and number, each entry's segment table, how far each entry's
// checksum has been taken over its segments in order, and a few buffers
// that segments no one holds any more left for the next ones.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "archive/common/checksum.h"
#include "tuk/segment_cache.h"

namespace tuk {

// A decoded segment. When the last holder lets it go, its buffer goes back
// to the pool of the cache it was decoded for.
using SegmentBytes = std::shared_ptr<const std::vector<uint8_t>>;

// Buffers for segments to be decoded into. Once a cache is full, segments
// are decoded into the buffers of those it let go rather than into new
// allocations: freed on one server thread and allocated on another, 32 KiB
// blocks would sit idle in one thread's heap while another's grew, and the
// process would hold far more than the cache's capacity.
class SegmentPool {
 public:
  SegmentPool();
  // A buffer to fill (assign replaces what a segment left in it), or a new
  // one; null when memory ran out.
  std::unique_ptr<std::vector<uint8_t>> Take();
  // Shares a filled buffer as a segment that comes back here when let go;
  // null when memory ran out (the buffer is back here then).
  static SegmentBytes Share(const std::shared_ptr<SegmentPool>& pool,
                            std::unique_ptr<std::vector<uint8_t>> buffer);

 private:
  void Give(std::vector<uint8_t>* buffer) noexcept;

  std::mutex mutex_;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> spare_;
};

struct SegmentRecord {
  uint32_t packedSize = 0;
  uint32_t size = 0;
  uint32_t offset = 0;  // from the stream area's start
};

// One entry's table, read once.
struct SegmentTable {
  std::vector<SegmentRecord> records;
  uint64_t streamArea = 0;  // payload offset of the first stream
  // Every segment but the last holds 32768 bytes and together they hold
  // the entry: each segment's window is the one segment before it.
  bool regular = false;
};

struct SegmentCache::State {
  explicit State(uint64_t bytes) : capacity(bytes) {}

  // The table of entry, or null.
  std::shared_ptr<const SegmentTable> Table(size_t entry);
  void KeepTable(size_t entry, std::shared_ptr<const SegmentTable> table);
  SegmentBytes Get(size_t entry, uint32_t segment);
  // Keeps a segment just decoded; takes the entry's checksum as far as its
  // segments have come in order. False once that checksum, taken over the
  // whole entry, did not match expected (0: none to match).
  bool Keep(size_t entry, uint32_t segment, const SegmentBytes& bytes, uint32_t count,
            uint64_t expected);
  bool Damaged(size_t entry);

  const uint64_t capacity;
  const std::shared_ptr<SegmentPool> pool = std::make_shared<SegmentPool>();
  mutable std::mutex mutex;
  struct Kept {
    SegmentBytes bytes;
    std::list<uint64_t>::iterator use;
  };
  std::unordered_map<uint64_t, Kept> kept;  // key: entry << 32 | segment
  std::list<uint64_t> uses;                 // most recently used first
  uint64_t keptBytes = 0;
  size_t decodings = 0;
  struct Checked {
    std::unique_ptr<ChecksumStream> checksum = std::make_unique<ChecksumStream>();
    uint32_t next = 0;  // the next segment its checksum takes
    bool damaged = false;
  };
  std::unordered_map<size_t, std::shared_ptr<const SegmentTable>> tables;
  std::unordered_map<size_t, Checked> checked;
};

}  // namespace tuk
