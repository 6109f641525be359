// Adding a file whose size the directory scan already took: one open, one
// read and one close, where measuring it again would cost a call more.
#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"

namespace tuk {

AddStatus TukFile::AddScannedFile(const char* path, uint64_t scannedSize) {
  if (scannedSize > kStreamThreshold || !rawBuffer || scannedSize + 1 > rawCapacity) {
    return AddFile(path);
  }
  size_t got = 0;
  if (!platform::ReadFileStart(path, rawBuffer.get(), scannedSize + 1, got)) {
    messages.SayError("ERROR! inputFile: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  // Changed since the scan: measured and read again, as any other file.
  if (got != scannedSize) return AddFile(path);

  if (!NameFits(path)) return AddStatus::Skipped;
  currentSize = static_cast<uint32_t>(got);
  return StoreInputFile(path);
}

}  // namespace tuk
