// Decoded entries of a compressed archive, kept in memory up to a bound in
// bytes, least recently used out. Each entry is decoded once however many
// threads ask for it at the same time; different entries are decoded side
// by side (the lock is never held while decoding).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "tuk/status.h"

namespace tuk {

class DecodedCache {
 public:
  using Bytes = std::vector<uint8_t>;
  using Decode = std::function<Status(Bytes& bytes)>;

  explicit DecodedCache(uint64_t capacityBytes) : capacity_(capacityBytes) {}

  // Entry key's bytes: kept ones, or those decode makes now. A decoded
  // entry is kept (older ones going out until the total fits) unless it is
  // larger than the whole bound; what is handed out stays valid as long as
  // the caller holds it, kept or not. A failure is handed to every thread
  // that waited for the same decoding and is not kept: the next call tries
  // again.
  Status Get(size_t key, const Decode& decode, std::shared_ptr<const Bytes>& bytes);

  uint64_t capacity() const { return capacity_; }
  // What is kept now, and how many decodings ran (for tests and statistics).
  uint64_t KeptBytes() const;
  size_t KeptEntries() const;
  size_t Decodings() const;

 private:
  struct Kept {
    std::shared_ptr<const Bytes> bytes;
    std::list<size_t>::iterator use;  // its place in uses_
  };
  struct Pending {
    bool done = false;
    Status status;
    std::shared_ptr<const Bytes> bytes;
  };

  void KeepLocked(size_t key, const std::shared_ptr<const Bytes>& bytes);

  const uint64_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable finished_;
  std::unordered_map<size_t, Kept> kept_;
  std::list<size_t> uses_;  // most recently used first
  std::unordered_map<size_t, std::shared_ptr<Pending>> pending_;
  uint64_t keptBytes_ = 0;
  size_t decodings_ = 0;
};

}  // namespace tuk
