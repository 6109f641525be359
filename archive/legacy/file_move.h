// The legacy programs' move of a finished file into place, with its lines.
#pragma once

#include "archive/legacy/context.h"

namespace tuk {

// Moves existingFileName to newFileName, replacing a file there: renamed
// when the platform can, else copied beside the destination and moved over
// it once complete, and the source deleted (see write/file_move.h).
// Returns 1 when moved; 0 when copied but the source could not be deleted;
// 2 source not readable; 3 destination not creatable; 4 a read yielded
// nothing; 5 a write (or the final replacement) did not complete.
int kelMoveFile(const char* existingFileName, const char* newFileName,
                const Context& context = Context());

}  // namespace tuk
