#include "tuk/index.h"

namespace tuk {

uint64_t Index::TotalSize() const {
  uint64_t total = 0;
  for (const Entry& entry : entries_) total += entry.size;
  return total;
}

uint64_t Index::TotalStoredSize() const {
  uint64_t total = 0;
  for (const Entry& entry : entries_) total += entry.storedSize;
  return total;
}

std::optional<size_t> Index::Find(std::string_view name) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (NamesEqual(entries_[i].name, name)) return i;
  }
  return std::nullopt;
}

std::optional<size_t> Index::Lookup(std::string_view name) const {
  std::optional<size_t> caseless;
  for (size_t i = entries_.size(); i-- > 0;) {
    if (entries_[i].name == name) return i;
    if (!caseless && NamesEqual(entries_[i].name, name)) caseless = i;
  }
  return caseless;
}

}  // namespace tuk
