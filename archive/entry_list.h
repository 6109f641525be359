// The in-memory index: one IndexEntry per archived file.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/format.h"

namespace tuk {

struct IndexEntry {
  uint32_t nameLength = 0;
  char name[kNameFieldSize] = {};  // NUL-terminated
  uint32_t storedSize = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
  uint64_t checksum = 0;  // of the original bytes; 0: none
};

// The array may hold more elements than count (LoadIndex leaves one default
// entry behind the last); readers go by count.
class EntryList {
 public:
  // Stores a copy behind the last element the array holds, not at count.
  void Append(const IndexEntry& entry) {
    elements_.push_back(entry);
    ++count;
  }
  IndexEntry& At(uint32_t i) { return elements_[i]; }
  const IndexEntry& At(uint32_t i) const { return elements_[i]; }
  // Makes the array hold exactly n elements; count is left alone.
  void Resize(uint32_t n) { elements_.resize(n); }
  void Reserve(uint32_t n) { elements_.reserve(n); }
  // Drops the last element the array holds.
  void PopBack() { elements_.pop_back(); }
  uint32_t Length() const { return static_cast<uint32_t>(elements_.size()); }

  uint32_t count = 0;

 private:
  std::vector<IndexEntry> elements_;
};

// Sets an entry's name from length bytes of text; false (entry untouched)
// when it does not fit the name field.
bool SetEntryName(IndexEntry& entry, const char* text, uint32_t length);

// The name-matching rule of every lookup: equal length, then equal bytes
// with A-Z taken as a-z. The lowest index among the first count wins;
// count when there is no match.
uint32_t FindEntryByName(const EntryList& entries, const char* name,
                         uint32_t nameLength);

// False for a name that would reach outside the directory it is extracted
// into: an absolute name ('/' or '\' first, or a drive letter and ':') or
// one with a ".." component, with '/' and '\' both taken as separators, or one
// holding a NUL (the system would open a shorter name than was checked).
bool IsSafeEntryName(const char* name, uint32_t length);

// Equal bytes with ASCII letters compared regardless of case.
bool EqualIgnoringAsciiCase(const char* a, const char* b, uint32_t length);

}  // namespace tuk
