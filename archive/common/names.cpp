#include "archive/common/names.h"

#include <cstring>

namespace tuk {

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool IsSafeName(std::string_view name) {
  if (name.empty()) return true;
  // The system would see the name only up to a NUL: what it opened would
  // not be the name that was checked.
  if (name.find('\0') != std::string_view::npos) return false;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  size_t componentStart = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (name.substr(componentStart, i - componentStart) == "..") return false;
      componentStart = i + 1;
    }
  }
  return true;
}

}  // namespace tuk
