#include "archive/read/segment_cache.h"

#include <algorithm>
#include <new>

namespace tuk {
namespace {

constexpr uint64_t kLeastCapacity = 1 << 20;
// Enough for the server threads decoding at once; more would only sit idle.
constexpr size_t kSpareBuffers = 8;

uint64_t Key(size_t entry, uint32_t segment) { return uint64_t{entry} << 32 | segment; }

}  // namespace

SegmentPool::SegmentPool() { spare_.reserve(kSpareBuffers); }

std::unique_ptr<std::vector<uint8_t>> SegmentPool::Take() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!spare_.empty()) {
      std::unique_ptr<std::vector<uint8_t>> buffer = std::move(spare_.back());
      spare_.pop_back();
      return buffer;
    }
  }
  return std::unique_ptr<std::vector<uint8_t>>(new (std::nothrow) std::vector<uint8_t>());
}

SegmentBytes SegmentPool::Share(const std::shared_ptr<SegmentPool>& pool,
                                std::unique_ptr<std::vector<uint8_t>> buffer) {
  std::vector<uint8_t>* const bytes = buffer.release();
  try {
    // The deleter holds the pool, so a segment outliving its cache still
    // has somewhere to go.
    return SegmentBytes(bytes, [pool](std::vector<uint8_t>* let) { pool->Give(let); });
  } catch (const std::bad_alloc&) {
    return nullptr;  // the constructor handed the buffer to the deleter
  }
}

void SegmentPool::Give(std::vector<uint8_t>* buffer) noexcept {
  std::unique_ptr<std::vector<uint8_t>> owned(buffer);
  const std::lock_guard<std::mutex> lock(mutex_);
  // Room was reserved: keeping one allocates nothing.
  if (spare_.size() < kSpareBuffers) spare_.push_back(std::move(owned));
}

SegmentCache::SegmentCache(uint64_t capacityBytes)
    : state_(std::make_unique<State>(std::max(capacityBytes, kLeastCapacity))) {}
SegmentCache::~SegmentCache() = default;

uint64_t SegmentCache::capacity() const { return state_->capacity; }

uint64_t SegmentCache::KeptBytes() const {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->keptBytes;
}

size_t SegmentCache::Decodings() const {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->decodings;
}

std::shared_ptr<const SegmentTable> SegmentCache::State::Table(size_t entry) {
  const std::lock_guard<std::mutex> lock(mutex);
  const auto found = tables.find(entry);
  return found != tables.end() ? found->second : nullptr;
}

void SegmentCache::State::KeepTable(size_t entry, std::shared_ptr<const SegmentTable> table) {
  const std::lock_guard<std::mutex> lock(mutex);
  tables.emplace(entry, std::move(table));
}

SegmentBytes SegmentCache::State::Get(size_t entry, uint32_t segment) {
  const std::lock_guard<std::mutex> lock(mutex);
  const auto found = kept.find(Key(entry, segment));
  if (found == kept.end()) return nullptr;
  uses.splice(uses.begin(), uses, found->second.use);
  return found->second.bytes;
}

bool SegmentCache::State::Damaged(size_t entry) {
  const std::lock_guard<std::mutex> lock(mutex);
  const auto found = checked.find(entry);
  return found != checked.end() && found->second.damaged;
}

bool SegmentCache::State::Keep(size_t entry, uint32_t segment, const SegmentBytes& bytes,
                               uint32_t count, uint64_t expected) {
  const std::lock_guard<std::mutex> lock(mutex);
  ++decodings;
  Checked& check = checked[entry];
  // The checksum goes on only with the segment it has come to, and with
  // those behind it that are still kept.
  if (expected != 0 && segment == check.next) {
    check.checksum->Update(bytes->data(), bytes->size());
    ++check.next;
    for (auto next = kept.find(Key(entry, check.next)); next != kept.end() && check.next < count;
         next = kept.find(Key(entry, check.next))) {
      check.checksum->Update(next->second.bytes->data(), next->second.bytes->size());
      ++check.next;
    }
    if (check.next == count && check.checksum->Digest() != expected) check.damaged = true;
  }
  const uint64_t key = Key(entry, segment);
  if (kept.count(key) == 0) {
    while (keptBytes + bytes->size() > capacity && !uses.empty()) {
      const auto oldest = kept.find(uses.back());
      keptBytes -= oldest->second.bytes->size();
      kept.erase(oldest);
      uses.pop_back();
    }
    uses.push_front(key);
    kept.emplace(key, Kept{bytes, uses.begin()});
    keptBytes += bytes->size();
  }
  return !check.damaged;
}

}  // namespace tuk
