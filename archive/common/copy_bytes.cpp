#include "archive/common/copy_bytes.h"

namespace tuk {

CopyResult CopyBytes(platform::File& from, platform::File& to, uint64_t length,
                     uint8_t* buffer, size_t capacity) {
  while (length > 0) {
    const size_t piece = length < capacity ? static_cast<size_t>(length) : capacity;
    if (from.Read(buffer, piece) != piece) return CopyResult::kShortRead;
    if (!to.Write(buffer, piece)) return CopyResult::kWriteFailed;
    length -= piece;
  }
  return CopyResult::kDone;
}

}  // namespace tuk
