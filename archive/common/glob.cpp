#include "tuk/select.h"

#include "archive/common/names.h"
#include "platform/platform.h"

namespace tuk {
namespace {

char Fold(char c, bool ignoreCase) { return ignoreCase ? FoldAscii(c) : c; }

// Matches a set "[...]" at pattern[p] (just past '[') against c; sets p
// behind the set. False when the set is not closed: '[' then stands for
// itself.
bool MatchSet(std::string_view pattern, size_t& p, char c, bool ignoreCase, bool& matched) {
  size_t i = p;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  bool found = false;
  bool first = true;
  for (; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
    char low = pattern[i];
    if (low == '\\' && i + 1 < pattern.size()) low = pattern[++i];
    char high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      high = pattern[i + 2];
      i += 2;
    }
    ++i;
    const char x = Fold(c, ignoreCase);
    if (Fold(low, ignoreCase) <= x && x <= Fold(high, ignoreCase)) found = true;
  }
  if (i >= pattern.size()) return false;
  p = i + 1;
  matched = found != negated && c != '/';
  return true;
}

bool Match(std::string_view pattern, size_t p, std::string_view name, size_t n,
           bool ignoreCase) {
  while (p < pattern.size()) {
    const char c = pattern[p];
    if (c == '*') {
      const bool any = p + 1 < pattern.size() && pattern[p + 1] == '*';
      size_t next = p + (any ? 2 : 1);
      // "**/" also stands for no directory at all.
      if (any && next < pattern.size() && pattern[next] == '/' &&
          Match(pattern, next + 1, name, n, ignoreCase)) {
        return true;
      }
      for (size_t k = n;; ++k) {
        if (Match(pattern, next, name, k, ignoreCase)) return true;
        if (k == name.size() || (!any && name[k] == '/')) return false;
      }
    }
    if (n == name.size()) return false;
    if (c == '?') {
      if (name[n] == '/') return false;
      ++p;
    } else if (c == '[') {
      size_t after = p + 1;
      bool matched = false;
      if (MatchSet(pattern, after, name[n], ignoreCase, matched)) {
        if (!matched) return false;
        p = after;
      } else {
        if (name[n] != '[') return false;
        ++p;
      }
    } else {
      char literal = c;
      if (c == '\\' && p + 1 < pattern.size()) literal = pattern[++p];
      if (Fold(literal, ignoreCase) != Fold(name[n], ignoreCase)) return false;
      ++p;
    }
    ++n;
  }
  return n == name.size();
}

}  // namespace

bool MatchesGlob(std::string_view pattern, std::string_view name, bool ignoreCase) {
  return Match(pattern, 0, name, 0, ignoreCase);
}

bool NameBefore(std::string_view a, std::string_view b) {
  return platform::NameLess(std::string(a), std::string(b));
}

bool MatchesEntry(std::string_view pattern, std::string_view name) {
  if (pattern.find('/') == std::string_view::npos) {
    const size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  }
  return MatchesGlob(pattern, name, true);
}

bool Selection::Takes(std::string_view name) const {
  bool taken = include.empty();
  for (const std::string& pattern : include) {
    if (MatchesEntry(pattern, name)) taken = true;
  }
  for (const std::string& pattern : exclude) {
    if (MatchesEntry(pattern, name)) return false;
  }
  return taken;
}

}  // namespace tuk
