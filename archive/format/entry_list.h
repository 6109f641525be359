// The in-memory index: one IndexEntry per archived file.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/format/format.h"

namespace tuk {

struct IndexEntry {
  uint32_t nameLength = 0;
  char name[kNameFieldSize] = {};  // NUL-terminated
  uint32_t storedSize = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
  uint64_t checksum = 0;  // of the original bytes; 0: none
};

// An archive's entries in index order. An index holds at most 2^32 - 1
// records, so sizes and positions are 32-bit like the format's fields.
class EntryList {
 public:
  uint32_t size() const { return static_cast<uint32_t>(elements_.size()); }
  bool empty() const { return elements_.empty(); }
  IndexEntry& At(uint32_t i) { return elements_[i]; }
  const IndexEntry& At(uint32_t i) const { return elements_[i]; }
  IndexEntry& Back() { return elements_.back(); }
  void Append(const IndexEntry& entry) { elements_.push_back(entry); }
  void PopBack() { elements_.pop_back(); }
  void Reserve(uint32_t n) { elements_.reserve(n); }
  void Clear() { elements_.clear(); }

  std::vector<IndexEntry>::const_iterator begin() const { return elements_.begin(); }
  std::vector<IndexEntry>::const_iterator end() const { return elements_.end(); }

 private:
  std::vector<IndexEntry> elements_;
};

// Sets an entry's name from length bytes of text; false (entry untouched)
// when it does not fit the name field.
bool SetEntryName(IndexEntry& entry, const char* text, uint32_t length);

// The name-matching rule of every lookup: equal length, then equal bytes
// with A-Z taken as a-z. The lowest index wins; entries.size() when there
// is no match.
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
