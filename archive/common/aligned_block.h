// Buffers for file bytes that start on a page boundary.
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

// A buffer of a size chosen at run time, uninitialised on purpose: pages
// of a large one cost memory only once they are written. Null when memory
// ran out (or for 0 or more than 4 GiB bytes).
struct PageAlignedDelete {
  void operator()(uint8_t* bytes) const { ::operator delete[](bytes, std::align_val_t{4096}); }
};
using PageBuffer = std::unique_ptr<uint8_t[], PageAlignedDelete>;

inline PageBuffer AllocatePageBuffer(uint64_t bytes) {
  if (bytes == 0 || bytes > 0xFFFFFFFFu) return nullptr;
  return PageBuffer(static_cast<uint8_t*>(
      ::operator new[](static_cast<size_t>(bytes), std::align_val_t{4096}, std::nothrow)));
}

// A PageBuffer with its capacity, grown (never shrunk) on demand.
struct GrowingBuffer {
  PageBuffer bytes;
  uint32_t capacity = 0;

  // False, with the buffer unchanged, when memory ran out.
  bool Grow(uint64_t wanted) {
    if (wanted <= capacity && bytes) return true;
    PageBuffer bigger = AllocatePageBuffer(wanted);
    if (!bigger) return false;
    bytes = std::move(bigger);
    capacity = static_cast<uint32_t>(wanted);
    return true;
  }
};

}  // namespace tuk
