// The bytes a segment stream is made from: the segment, and up to
// kMaxDistance bytes before it that its matches may copy from.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tuk {

struct SegmentWindow {
  const uint8_t* base;  // the window's first byte
  size_t start;         // the segment's first byte, counted from base
  size_t end;           // one past the segment's last byte, counted from base
};

}  // namespace tuk
