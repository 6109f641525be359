#include "tuk/decoded_cache.h"

#include <new>
#include <utility>

namespace tuk {

Status DecodedCache::Get(size_t key, const Decode& decode, std::shared_ptr<const Bytes>& bytes) {
  std::shared_ptr<Pending> pending;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (const auto found = kept_.find(key); found != kept_.end()) {
      uses_.splice(uses_.begin(), uses_, found->second.use);
      bytes = found->second.bytes;
      return Status();
    }
    if (const auto running = pending_.find(key); running != pending_.end()) {
      const std::shared_ptr<Pending> other = running->second;
      finished_.wait(lock, [&] { return other->done; });
      bytes = other->bytes;
      return other->status;
    }
    pending = std::make_shared<Pending>();
    pending_.emplace(key, pending);
    ++decodings_;
  }

  Status status;
  std::shared_ptr<Bytes> decoded;
  try {
    decoded = std::make_shared<Bytes>();
    status = decode(*decoded);
  } catch (const std::bad_alloc&) {
    status = Status(Errc::kNoMemory, "no memory for a decoded entry");
  }
  if (!status.ok()) decoded.reset();

  {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending->done = true;
    pending->status = status;
    pending->bytes = decoded;
    pending_.erase(key);
    if (decoded) KeepLocked(key, decoded);
  }
  finished_.notify_all();
  bytes = std::move(decoded);
  return status;
}

void DecodedCache::KeepLocked(size_t key, const std::shared_ptr<const Bytes>& bytes) {
  const uint64_t size = bytes->size();
  if (size > capacity_) return;
  while (keptBytes_ + size > capacity_ && !uses_.empty()) {
    const auto oldest = kept_.find(uses_.back());
    keptBytes_ -= oldest->second.bytes->size();
    kept_.erase(oldest);
    uses_.pop_back();
  }
  try {
    uses_.push_front(key);
    kept_.emplace(key, Kept{bytes, uses_.begin()});
    keptBytes_ += size;
  } catch (const std::bad_alloc&) {
    if (!uses_.empty() && uses_.front() == key && kept_.count(key) == 0) uses_.pop_front();
  }
}

uint64_t DecodedCache::KeptBytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return keptBytes_;
}

size_t DecodedCache::KeptEntries() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return kept_.size();
}

size_t DecodedCache::Decodings() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return decodings_;
}

}  // namespace tuk
