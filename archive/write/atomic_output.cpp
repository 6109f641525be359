#include "archive/write/atomic_output.h"

#include "archive/write/file_move.h"
#include "platform/platform.h"

namespace tuk {

AtomicOutput::AtomicOutput(std::string path, const Context& context)
    : path_(std::move(path)), name_(path_ + ".tmp"), context_(context) {}

AtomicOutput::~AtomicOutput() {
  if (!done_) platform::RemoveFile(name_.c_str());
}

// The bytes reach the disk before the rename, and the rename after it, so
// that a power cut leaves the old archive or the new one, never a file
// named like the new one with some of its bytes missing.
bool AtomicOutput::Commit() {
  if (!platform::SyncToDisk(name_.c_str(), context_.faults)) return false;  // the destructor removes it
  const int moved = kelMoveFile(name_.c_str(), path_.c_str(), context_);
  if (moved != 1 && moved != 0) return false;
  done_ = true;  // nothing is left at the temporary name
  return platform::SyncToDisk(platform::ParentDirectory(path_).c_str(),
                              context_.faults);
}

}  // namespace tuk
