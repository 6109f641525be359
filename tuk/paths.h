// Paths as the tuk program hands them on.
#pragma once

#include <string>

namespace tuk {

// path made absolute against the working directory (as it is when that
// cannot be taken).
std::string AbsolutePath(const std::string& path);

}  // namespace tuk
