#include "archive/write/writer_lock.h"

#include "archive/legacy/messages.h"

namespace tuk {
WriterLock::WriterLock(const std::string& archivePath, const Messages& messages)
    : held_(lock_.Acquire(archivePath + ".lock", [&messages](const char* lockPath) {
        messages.Notice("Waiting for another program writing the archive (%s)\n",
                        lockPath);
      })) {}

}  // namespace tuk
