#include "archive/write/atomic_output.h"

#include "archive/write/file_move.h"
#include "platform/platform.h"

namespace tuk {

AtomicOutput::AtomicOutput(std::string path, const Environment& env)
    : path_(std::move(path)), name_(path_ + ".tmp"), env_(env) {}

AtomicOutput::~AtomicOutput() {
  if (!done_) platform::RemoveFile(name_.c_str());
}

// The bytes reach the disk before the rename, and the rename after it, so
// that a power cut leaves the old archive or the new one, never a file
// named like the new one with some of its bytes missing.
Status AtomicOutput::Commit() {
  const Status failed(Errc::kIo, "cannot put " + path_ + " in place");
  if (!env_.disk->Sync(name_.c_str())) return failed;  // the destructor removes it
  const int moved = MoveIntoPlace(name_.c_str(), path_.c_str(), env_);
  if (moved != kMoved && moved != kCopiedSourceKept) return failed;
  done_ = true;  // nothing is left at the temporary name
  return env_.disk->Sync(platform::ParentDirectory(path_).c_str()) ? Status() : failed;
}

}  // namespace tuk
