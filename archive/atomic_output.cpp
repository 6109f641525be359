#include "archive/atomic_output.h"

#include "archive/file_move.h"
#include "platform/platform.h"

namespace tuk {

AtomicOutput::AtomicOutput(std::string path, Road road) : path_(std::move(path)) {
  const bool taken = platform::File().Open(path_.c_str(), platform::File::Mode::Read);
  name_ = road == Road::kAlwaysTemporary || taken ? path_ + ".tmp" : path_;
}

AtomicOutput::~AtomicOutput() {
  if (!done_) platform::RemoveFile(name_.c_str());
}

// The bytes reach the disk before the rename, and the rename after it, so
// that a power cut leaves the old archive or the new one, never a file
// named like the new one with some of its bytes missing.
bool AtomicOutput::Commit() {
  if (!platform::SyncToDisk(name_.c_str())) return false;  // the destructor removes it
  if (viaTemporary()) {
    const int moved = kelMoveFile(name_.c_str(), path_.c_str());
    if (moved != 1 && moved != 0) return false;
    done_ = true;  // nothing is left at the temporary name
  }
  if (!platform::SyncToDisk(platform::ParentDirectory(path_).c_str())) return false;
  done_ = true;
  return true;
}

}  // namespace tuk
