// Validating a pack request's paths before anything is written.
#pragma once

#include <cstdint>

#include "archive/legacy/messages.h"

namespace tuk {

// 0 when both paths are acceptable; 2 when the archive lies inside the
// source directory (the lower-cased source path is a leading part of the
// lower-cased archive path); 3 when either path holds an illegal character.
// Both strings are rewritten in place ('\' to '/'; strDirSource also lower
// case). Paths of 512 characters or more are refused with 3 (strTukName
// with "ERROR! Path too long: ").
uint32_t checkPackPaths(char* strDirSource, char* strTukName,
                        const Messages& messages = Messages());

}  // namespace tuk
