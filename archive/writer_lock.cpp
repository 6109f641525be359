#include "archive/writer_lock.h"

#include "archive/messages.h"

namespace tuk {
namespace {

void SayWaiting(const char* lockPath) {
  Notice("Waiting for another program writing the archive (%s)\n", lockPath);
}

}  // namespace

WriterLock::WriterLock(const std::string& archivePath)
    : held_(lock_.Acquire(archivePath + ".lock", SayWaiting)) {}

}  // namespace tuk
