// Entry names: the one case rule every lookup follows (A-Z and a-z are the
// same letter, every other byte is itself, as Windows compares names), and
// which names may be extracted (IsSafeName, declared in tuk/index.h).
#pragma once

#include <string>
#include <string_view>

#include "tuk/index.h"

namespace tuk {

inline char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The name with A-Z as a-z: names that are equal by the rule fold alike.
std::string Folded(std::string_view name);

}  // namespace tuk
