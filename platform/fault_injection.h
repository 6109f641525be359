// A seam for tests: makes the k-th file operation of a kind fail, so every
// failure path of the library can be driven without special privileges.
// Counting is always on and costs one increment per operation.
#pragma once

#include <cstdint>

namespace tuk::platform::faults {

enum class Op {
  Write,      // File::Write
  Flush,      // File::Flush
  Close,      // File::Close (the flush and close of a written file)
  Rename,     // MoveFileReplace
  CreateDir,  // CreateDir
  OpenWrite,  // File::Open in Mode::Write
  Sync,       // SyncToDisk
  kCount,
};

// Clears every counter and plan.
void Reset();
// The number of operations of this kind since the last Reset().
uint64_t Count(Op op);
// The n-th operation of this kind after the last Reset() (counting from 1)
// fails; 0 disarms.
void FailAt(Op op, uint64_t n);
// Counts one operation and tells whether it is the one to fail.
bool ShouldFail(Op op);

// Makes directory listings report every entry's type as unknown, as some
// filesystems do, so the fallback that finds the type itself is exercised.
// Reset() turns it off.
void HideEntryTypes(bool hidden);
bool EntryTypesHidden();

}  // namespace tuk::platform::faults
