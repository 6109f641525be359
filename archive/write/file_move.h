// Putting a finished file in its final place: renamed where the system
// can, else copied beside the destination, synced, and renamed over it, so
// that a failed copy leaves both files as they were.
#pragma once

#include "archive/common/environment.h"

namespace tuk {

// What MoveIntoPlace did (kelMoveFile's results).
constexpr int kMoved = 1;             // renamed, or copied and the source removed
constexpr int kCopiedSourceKept = 0;  // copied, but the source could not be removed
constexpr int kSourceUnreadable = 2;
constexpr int kDestinationUncreatable = 3;
constexpr int kReadShort = 4;         // a read yielded nothing before the end
constexpr int kWriteShort = 5;        // a write, sync or the final rename failed

// Moves from to to, replacing a file there. Every result but kMoved is
// reported to env's observer as kMoveFailed, with the result as its value
// and as subject the source (kSourceUnreadable) or the destination.
int MoveIntoPlace(const char* from, const char* to, const Environment& env);

}  // namespace tuk
