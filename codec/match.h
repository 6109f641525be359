// A match a finder reports: copy `length` bytes from `distance` back.
#pragma once

#include <cstdint>

namespace tuk {

struct Match {
  uint32_t length = 0;  // 0: none
  uint32_t distance = 0;
};

}  // namespace tuk
