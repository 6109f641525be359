#include "tuk/index.h"

#include "archive/format/entry_list.h"

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
    const std::string& candidate = entries_[i].name;
    if (candidate.size() == name.size() &&
        EqualIgnoringAsciiCase(candidate.data(), name.data(),
                               static_cast<uint32_t>(name.size()))) {
      return i;
    }
  }
  return std::nullopt;
}

bool IsSafeName(std::string_view name) {
  return name.size() <= 0xFFFFFFFFu &&
         IsSafeEntryName(name.data(), static_cast<uint32_t>(name.size()));
}

}  // namespace tuk
