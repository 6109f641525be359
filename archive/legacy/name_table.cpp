#include "archive/legacy/name_table.h"

#include <cstring>

#include "archive/format/entry_list.h"

namespace tuk {

uint32_t NameTable::Add(const char* name) {
  const size_t length = std::strlen(name);
  if (length >= 0xFFFFFFFFu - bytes_.Count()) return 0;
  if (!offsets_.Append(bytes_.Count())) return 0;
  if (!lengths_.Append(static_cast<uint32_t>(length))) return 0;
  for (size_t i = 0; i <= length; ++i) {
    if (!bytes_.Append(name[i])) return 0;
  }
  return Count();
}

const char* NameTable::Get(uint32_t i) const {
  if (i >= Count()) return nullptr;
  return bytes_.Data() + offsets_[i];
}

uint32_t NameTable::Find(const char* name, int ignoreCase) const {
  const size_t length = std::strlen(name);
  for (uint32_t i = 0; i < Count(); ++i) {
    if (lengths_[i] != length) continue;
    const char* stored = Get(i);
    const bool equal =
        ignoreCase != 0
            ? EqualIgnoringAsciiCase(stored, name, lengths_[i])
            : std::memcmp(stored, name, length) == 0;
    if (equal) return i;
  }
  return kNotFound;
}

}  // namespace tuk
