#include "archive/write/writer_lock.h"

namespace tuk {

WriterLock::WriterLock(const std::string& archivePath, const Environment& env)
    : held_(lock_.Acquire(archivePath + ".lock", [&env](const char* lockPath) {
        env.Tell(Event::kWaitingForLock, lockPath);
      })) {}

}  // namespace tuk
