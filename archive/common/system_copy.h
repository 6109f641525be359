// Copying stored bytes between two files inside the system (see
// platform::File::CopyFrom), with a checksum of the same bytes taken on a
// second thread meanwhile when one is needed, so the copy waits for it
// only on a machine with a single processor.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tuk {

struct SystemCopy {
  int64_t copied = -1;   // as File::CopyFrom
  bool checked = false;  // checksum is that of the bytes source holds there
  uint64_t checksum = 0;
};

// Copies length bytes of source from offset to destination's position.
// With checksum, source is read there once more on another thread and
// checksummed; checked stays false when that read fell short or the thread
// could not run. copied is -1, with nothing copied, where the system cannot
// copy, and for checksummed runs under 16 MiB, which the caller's own
// read-checksum-write loop moves faster.
SystemCopy CopyInSystem(platform::File& source, uint64_t offset, uint64_t length,
                        platform::File& destination, bool checksum);

}  // namespace tuk
