// Moving bytes from one open file to another through a caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace tuk {

enum class CopyResult {
  kDone,
  kShortRead,    // the source ended or failed before length bytes
  kWriteFailed,  // the destination did not take every byte
};

// Copies length bytes from from's position to to's, in pieces of at most
// capacity bytes.
CopyResult CopyBytes(platform::File& from, platform::File& to, uint64_t length,
                     uint8_t* buffer, size_t capacity);

}  // namespace tuk
