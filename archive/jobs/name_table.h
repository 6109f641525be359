// The source paths gathered for packing: all names in one character buffer,
// with per-name offsets and lengths.
#pragma once

#include <cstdint>
#include <memory>

namespace tuk {

// A growable array whose capacity runs 0, 2, 6, 14, 30, ... as elements are
// appended one by one: (count * 2) + 2 whenever it is full.
template <typename T>
class GrowableArray {
 public:
  bool Append(const T& value) {
    if (count_ == capacity_ && !Grow(count_ * 2 + 2)) return false;
    data_[count_++] = value;
    return true;
  }
  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }
  const T* Data() const { return data_.get(); }
  T operator[](uint32_t i) const { return data_[i]; }

 private:
  bool Grow(uint32_t wanted) {
    if (wanted < 2) wanted = 2;
    if (wanted <= count_) return false;  // the capacity would wrap
    std::unique_ptr<T[]> bigger(new (std::nothrow) T[wanted]);
    if (!bigger) return false;
    for (uint32_t i = 0; i < count_; ++i) bigger[i] = data_[i];
    data_ = std::move(bigger);
    capacity_ = wanted;
    return true;
  }

  std::unique_ptr<T[]> data_;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
};

class NameTable {
 public:
  // Returns the number of names after the addition, or 0 when memory ran
  // out (nothing is added then).
  uint32_t Add(const char* name);
  uint32_t Count() const { return offsets_.Count(); }
  // The NUL-terminated name i, valid until the next Add; null past the end.
  const char* Get(uint32_t i) const;
  uint32_t Length(uint32_t i) const { return lengths_[i]; }

  uint32_t ByteCapacity() const { return bytes_.Capacity(); }
  uint32_t OffsetCapacity() const { return offsets_.Capacity(); }

 private:
  GrowableArray<char> bytes_;
  GrowableArray<uint32_t> offsets_;
  GrowableArray<uint32_t> lengths_;
};

}  // namespace tuk
