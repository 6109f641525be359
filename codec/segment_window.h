// The bytes a segment stream is made from: the segment, and the bytes
// before it that its matches may copy from (kMaxDistance back at most):
// the run's earlier segments and the window before the run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tuk {

struct SegmentWindow {
  const uint8_t* base;  // the first byte a match of the run may reach
  size_t runStart;      // the run's first byte, counted from base
  size_t start;         // the segment's first byte, counted from base
  size_t end;           // one past the segment's last byte, counted from base
  size_t runEnd;        // one past the run's last byte: nothing beyond is read

  // A run's first segment starts its parser's tables afresh; the next
  // ones go on with them.
  bool FirstOfRun() const { return start == runStart; }
};

}  // namespace tuk
