// Internal to the platform layer: turns a path as the library spells it
// into the form the operating system's calls take.
#pragma once

#include <string>

namespace tuk::platform {

std::string NativePath(const char* path);

}  // namespace tuk::platform
