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

bool AtomicOutput::Commit() {
  if (viaTemporary()) {
    const int moved = kelMoveFile(name_.c_str(), path_.c_str());
    if (moved != 1 && moved != 0) return false;  // the destructor removes it
  }
  done_ = true;
  return true;
}

}  // namespace tuk
