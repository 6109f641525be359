// One writer at a time per archive: every road that rewrites or creates an
// archive holds this lock from before it reads the old archive until the
// new one is in place. Readers never take it.
#pragma once

#include <string>

#include "archive/common/environment.h"
#include "platform/platform.h"

namespace tuk {

class WriterLock {
 public:
  // Waits for the lock on archivePath (the file archivePath + ".lock"),
  // reporting once (kWaitingForLock) that it waits.
  WriterLock(const std::string& archivePath, const Environment& env);
  // False when the lock file could not be made: writing goes on without
  // the lock, as it would on a filesystem without locks.
  bool held() const { return held_; }

 private:
  platform::ExclusiveLock lock_;
  bool held_ = false;
};

}  // namespace tuk
