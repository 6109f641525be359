#include "archive/jobs/name_table.h"

#include <cstring>

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

}  // namespace tuk
