// The one road stored bytes take from one file into another: extracting
// stored entries, packing files as they are, carrying payloads over into a
// rewritten archive, and the move that copies when it cannot rename.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tuk {

struct CopyOutcome {
  uint64_t copied = 0;       // bytes that reached the destination
  bool sourceShort = false;  // the source ended, or could not be read, first
  bool writeFailed = false;  // the destination did not take every byte
  uint64_t checksum = 0;     // of the bytes copied, when one was asked for
  bool bySystem = false;     // the system copied them (a checksum was read apart)

  bool Complete(uint64_t length) const {
    return copied == length && !sourceShort && !writeFailed;
  }
};

// Copies length bytes of source from offset on to the destination's
// position (a stream source is read through its buffer and left behind
// the bytes; a random-access one is read in place). Runs longer than
// kWholeEntryLimit are copied inside the system where it can
// (copy_file_range), with a checksum, when one is asked for, taken on a
// second thread a piece behind the copy for runs of 16 MiB and more;
// everything else, and what the system could not copy, goes through a
// 64 KiB block. A system copy that fell short is taken back
// before the block road starts over, so the destination never holds a
// byte twice.
// system false keeps to the block road.
CopyOutcome CopyRange(platform::File& source, uint64_t offset, uint64_t length,
                      platform::File& destination, bool checksum, bool system = true);
CopyOutcome CopyRange(const platform::RandomAccessFile& source, uint64_t offset,
                      uint64_t length, platform::File& destination, bool checksum,
                      bool system = true);

}  // namespace tuk
