// Reading one entry's bytes out of an archive file, whole or block by
// block, with what the read yielded told apart the way extraction reports
// it. Every road that reads entries (the reader, extraction, copying and
// recoding entries into another archive) reads them here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "codec/decoder.h"
#include "platform/platform.h"
#include "tuk/index.h"

namespace tuk {

// Receives an entry's bytes in order; false stops the reading.
using ByteSink = std::function<bool(const uint8_t* data, size_t length)>;

// Where entries are read from: the archive's file and its mode field.
struct EntrySource {
  const platform::RandomAccessFile& file;
  uint32_t mode;
};

struct EntryRead {
  // What reading the entry whole yields: the bytes read (mode 0) or
  // decoded (mode 1), 0 after a failed decode. A payload that cannot yield
  // the entry's size is refused unread: a stored one with the bytes it can
  // give, a segmented one with 0.
  uint32_t countRead = 0;
  DecodeError error = DecodeError::None;
  bool noMemory = false;
  bool sinkStopped = false;  // the sink refused a block

  bool Complete(const Entry& entry) const {
    return !noMemory && !sinkStopped && countRead == entry.size;
  }
  // The payload's instructions reached outside its buffers (an instruction
  // the format reserves is a failure of its own, without this).
  bool DecodeFault() const {
    return error != DecodeError::None && error != DecodeError::ReservedInstruction;
  }
};

// Whether the payload cannot yield the entry's size, so that it is refused
// unread; countRead is then what reading it yields (see EntryRead).
bool CannotYield(const EntrySource& source, const Entry& entry, uint32_t& countRead);

// Whether an entry is read block by block rather than whole: stored or
// segmented entries, or payloads, larger than kWholeEntryLimit.
bool IsStreamed(uint32_t mode, const Entry& entry);

// Where a whole entry is read to: a buffer of at least need bytes, its
// capacity said in capacity; null when memory ran out. Asked only for an
// entry its payload can yield.
using RoomFor = std::function<uint8_t*(uint64_t need, uint64_t& capacity)>;

// Reads the entry whole into room(size + 1): a segmented payload decodes as
// into a buffer of the capacity room gives. payload is scratch that keeps
// its room between calls.
EntryRead ReadWhole(const EntrySource& source, const Entry& entry, const RoomFor& room,
                    std::vector<uint8_t>& payload);

// Hands the entry's bytes to sink in blocks, through a few fixed buffers
// whatever its size. A segmented payload is decoded segment by segment,
// keeping the last 32 KiB of output for matches to reach into, and yields
// what a whole decode into a buffer of capacity bytes would; sink gets at
// most the entry's size. A segment stream longer than 512 KiB, or one
// segment decoding to more than 256 KiB (eight times what a segment
// holds), counts as damaged.
EntryRead ReadInBlocks(const EntrySource& source, const Entry& entry, uint64_t capacity,
                       const ByteSink& sink);

}  // namespace tuk
