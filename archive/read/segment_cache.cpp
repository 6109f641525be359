#include "archive/read/segment_cache.h"

#include <algorithm>

namespace tuk {
namespace {

constexpr uint64_t kLeastCapacity = 1 << 20;

uint64_t Key(size_t entry, uint32_t segment) { return uint64_t{entry} << 32 | segment; }

}  // namespace

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
