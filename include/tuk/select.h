// Choosing entries or files by name: shell-style patterns, as tar's
// --wildcards and 7z's -i!/-x! take them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tuk/index.h"

namespace tuk {

// Whether name matches pattern: '*' stands for any run of characters but
// '/', '**' for any run at all (so "**/x" also matches "x"), '?' for one
// character but '/', "[abc]", "[a-z]" and "[!abc]" for one of (or none of)
// a set; '\' makes the next character stand for itself. With ignoreCase,
// A-Z and a-z match alike, as names are looked up.
bool MatchesGlob(std::string_view pattern, std::string_view name, bool ignoreCase = false);

// Whether an entry's name matches a selection pattern: one without '/'
// is matched against the name's last part, so "*.png" takes every .png
// in every directory (as tar's --exclude and rsync's patterns do); one
// with '/' against the whole name. A-Z and a-z match alike, as names are
// looked up.
bool MatchesEntry(std::string_view pattern, std::string_view name);

// The order the library walks a directory in, on every system: bytes
// compared with a-z taken as A-Z (names equal but for case in a fixed
// order all the same).
bool NameBefore(std::string_view a, std::string_view b);

// What a command is to take: names given exactly (each must match an
// entry), and patterns to include or exclude.
struct Selection {
  std::vector<std::string> include;  // globs; none: every name
  std::vector<std::string> exclude;  // globs
  bool Empty() const { return include.empty() && exclude.empty(); }
  // Whether a name passes: it matches (MatchesEntry) some include pattern
  // (or there are none) and no exclude pattern.
  bool Takes(std::string_view name) const;
};

}  // namespace tuk
