#include "archive/format/entry_list.h"

#include <cstring>

namespace tuk {

bool SetEntryName(IndexEntry& entry, const char* text, uint32_t length) {
  if (length > kMaxNameLength) return false;
  std::memcpy(entry.name, text, length);
  entry.name[length] = '\0';
  entry.nameLength = length;
  return true;
}

bool IsSafeEntryName(const char* name, uint32_t length) {
  if (length == 0) return true;
  // The system would see the name only up to a NUL: what it opened would
  // not be the name that was checked.
  if (std::memchr(name, '\0', length) != nullptr) return false;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (length >= 2 && name[1] == ':') return false;
  uint32_t componentStart = 0;
  for (uint32_t i = 0; i <= length; ++i) {
    if (i == length || name[i] == '/' || name[i] == '\\') {
      if (i - componentStart == 2 && name[componentStart] == '.' &&
          name[componentStart + 1] == '.') {
        return false;
      }
      componentStart = i + 1;
    }
  }
  return true;
}

bool EqualIgnoringAsciiCase(const char* a, const char* b, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

uint32_t FindEntryByName(const EntryList& entries, const char* name,
                         uint32_t nameLength) {
  for (uint32_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& entry = entries.At(i);
    if (entry.nameLength == nameLength &&
        EqualIgnoringAsciiCase(entry.name, name, nameLength)) {
      return i;
    }
  }
  return entries.size();
}

}  // namespace tuk
