// Putting a finished file in its final place.
#pragma once

#include "archive/legacy/context.h"

namespace tuk {

// Moves existingFileName to newFileName, replacing a file there. Renames
// when the platform can; otherwise copies in 64 KiB chunks and deletes the
// source. The copy goes to a file beside the destination first and replaces
// the destination only once it is complete, so a failed copy leaves both
// files as they were.
// Returns 1 when moved; 0 when copied but the source could not be deleted;
// 2 source not readable; 3 destination not creatable; 4 a read yielded
// nothing; 5 a write (or the final replacement) did not complete; 6 no copy
// buffer.
int kelMoveFile(const char* existingFileName, const char* newFileName,
                const Context& context = Context());

}  // namespace tuk
