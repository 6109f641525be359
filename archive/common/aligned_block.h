// A buffer for copying file bytes in blocks, starting on a page boundary.
// Where a buffer starts matters to the copies the system makes into and
// out of it: one just past a page boundary (as large allocations come)
// makes them far slower, as its stores alias the loads from the page
// being copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace tuk {

class AlignedBlock {
 public:
  static constexpr size_t kAlignment = 4096;

  explicit AlignedBlock(size_t size)
      : storage_(new (std::nothrow) uint8_t[size + kAlignment]), size_(size) {
    if (storage_) {
      const uintptr_t at = reinterpret_cast<uintptr_t>(storage_.get());
      data_ = storage_.get() + (kAlignment - at % kAlignment) % kAlignment;
    }
  }

  bool ok() const { return data_ != nullptr; }
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> storage_;
  uint8_t* data_ = nullptr;
  size_t size_;
};

}  // namespace tuk
