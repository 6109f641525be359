#include "archive/read/entry_bytes.h"

#include <cstring>
#include <memory>
#include <new>

#include "archive/common/aligned_block.h"
#include "archive/format/layout.h"
#include "codec/segment_format.h"

namespace tuk {
namespace {

// A stored payload is copied in blocks small enough to stay in the
// processor's cache between the read and the write.
constexpr size_t kCopyBlockSize = 64 * 1024;
// Decoded output is handed on in larger blocks, so that keeping the 32 KiB
// window costs little; the payload is read ahead as far.
constexpr size_t kBlockSize = 512 * 1024;
// How far back a match may reach.
constexpr uint32_t kWindowSize = 32 * 1024;
// Segment records read at a time from a payload's table.
constexpr uint32_t kRecordsPerRead = 4096;

std::unique_ptr<uint8_t[]> Buffer(size_t bytes) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

EntryRead StreamStored(const platform::RandomAccessFile& archive, uint64_t offset,
                       uint32_t length, const ByteSink& sink) {
  EntryRead result;
  const AlignedBlock block(kCopyBlockSize);
  if (!block.ok()) {
    result.noMemory = true;
    return result;
  }
  while (result.countRead < length) {
    const uint32_t left = length - result.countRead;
    const size_t want = left < kCopyBlockSize ? left : kCopyBlockSize;
    const size_t got = archive.ReadAt(offset + result.countRead, block.data(), want);
    result.countRead += static_cast<uint32_t>(got);
    if (got > 0 && !sink(block.data(), got)) {
      result.sinkStopped = true;
      return result;
    }
    if (got != want) break;
  }
  return result;
}

// The payload's bytes, read ahead in blocks; segments that follow each
// other in the file are read once, in order.
class PayloadWindow {
 public:
  PayloadWindow(const platform::RandomAccessFile& archive, uint64_t offset, uint32_t length)
      : archive_(archive), offset_(offset), length_(length), bytes_(kBlockSize) {}

  bool ok() const { return bytes_.ok(); }
  uint32_t length() const { return length_; }

  // Makes [start, start + wanted) available when the payload holds it (or
  // as much of it as the payload holds); returns the bytes from start on
  // that are at hand, and how many.
  const uint8_t* At(uint32_t start, uint32_t wanted, uint32_t& available) {
    const uint64_t end = uint64_t{start} + wanted;
    if (start < begin_ || end > begin_ + held_) {
      const uint32_t rest = length_ - start;
      const size_t want = rest < kBlockSize ? rest : kBlockSize;
      held_ = static_cast<uint32_t>(archive_.ReadAt(offset_ + start, bytes_.data(), want));
      begin_ = start;
      // A payload the file cannot hold whole ends where the file does.
      if (held_ < want) length_ = start + held_;
    }
    available = begin_ + held_ - start;
    return bytes_.data() + (start - begin_);
  }

  // Whether the bytes at hand from start on reach the payload's end.
  bool ReachesEnd(uint32_t start, uint32_t available) const {
    return uint64_t{start} + available >= length_;
  }
  // Whether a whole block from start on is at hand: a stream not ended
  // within it is longer than any this reader takes.
  bool FullFrom(uint32_t start) const { return begin_ == start && held_ == kBlockSize; }

 private:
  const platform::RandomAccessFile& archive_;
  const uint64_t offset_;
  uint32_t length_;
  const AlignedBlock bytes_;
  uint32_t begin_ = 0;
  uint32_t held_ = 0;
};

// Decoded output: the last kWindowSize bytes already handed on, then the
// bytes not yet handed on.
class OutputWindow {
 public:
  OutputWindow(uint32_t limit, const ByteSink& sink)
      : bytes_(kCapacity), limit_(limit), sink_(sink) {}

  bool ok() const { return bytes_.ok(); }

  // Hands on the pending bytes (at most limit in all) and keeps the
  // window, so that half a block is free: eight segments' worth.
  bool MakeRoom() {
    if (kCapacity - used_ >= kBlockSize / 2) return true;
    if (!Flush()) return false;
    const uint32_t keep = used_ < kWindowSize ? used_ : kWindowSize;
    std::memmove(bytes_.data(), bytes_.data() + used_ - keep, keep);
    used_ = keep;
    pending_ = keep;
    return true;
  }

  bool Flush() {
    uint32_t length = used_ - pending_;
    if (length > limit_ - handed_) length = limit_ - handed_;
    if (length > 0 && !sink_(bytes_.data() + pending_, length)) return false;
    handed_ += length;
    pending_ = used_;
    return true;
  }

  uint8_t* data() { return bytes_.data(); }
  uint32_t used() const { return used_; }
  uint32_t room() const { return kCapacity - used_; }
  void Grow(uint32_t length) { used_ += length; }

 private:
  static constexpr uint32_t kCapacity = static_cast<uint32_t>(kBlockSize) + kWindowSize;
  const AlignedBlock bytes_;
  uint32_t used_ = 0;
  uint32_t pending_ = 0;
  uint32_t handed_ = 0;
  const uint32_t limit_;
  const ByteSink& sink_;
};

EntryRead StreamSegmented(const platform::RandomAccessFile& archive, uint64_t offset,
                          uint32_t storedSize, uint32_t size, uint64_t capacity,
                          const ByteSink& sink) {
  EntryRead result;
  auto fail = [&result](DecodeError error) {
    result.error = error;
    result.countRead = 0;
    return result;
  };

  PayloadWindow payload(archive, offset, storedSize);
  OutputWindow output(size, sink);
  const std::unique_ptr<uint8_t[]> records = Buffer(size_t{kRecordsPerRead} * kSegmentInfoSize);
  if (!payload.ok() || !output.ok() || !records) {
    result.noMemory = true;
    return result;
  }

  uint8_t countBytes[4];
  if (payload.length() < 4 || archive.ReadAt(offset, countBytes, 4) != 4) {
    return fail(DecodeError::InputOverrun);
  }
  const uint32_t segmentCount = ReadU32LE(countBytes);
  const uint64_t streamArea = 4 + uint64_t{segmentCount} * kSegmentInfoSize;
  if (streamArea > payload.length()) return fail(DecodeError::InputOverrun);

  uint64_t decoded = 0;
  for (uint32_t first = 0; first < segmentCount; first += kRecordsPerRead) {
    const uint32_t batch =
        segmentCount - first < kRecordsPerRead ? segmentCount - first : kRecordsPerRead;
    const size_t tableBytes = size_t{batch} * kSegmentInfoSize;
    if (archive.ReadAt(offset + 4 + uint64_t{first} * kSegmentInfoSize, records.get(),
                       tableBytes) != tableBytes) {
      return fail(DecodeError::InputOverrun);
    }
    for (uint32_t i = 0; i < batch; ++i) {
      // As in a whole decode, only the stream's start is taken from the
      // record; its length only says how much to read ahead.
      const uint8_t* record = records.get() + size_t{i} * kSegmentInfoSize;
      const uint64_t start = streamArea + ReadU32LE(record + 8);
      if (start >= payload.length()) return fail(DecodeError::InputOverrun);
      if (!output.MakeRoom()) {
        result.sinkStopped = true;
        return result;
      }
      // The whole decode's buffer ends at capacity; this one may end sooner.
      const uint64_t left = capacity > decoded ? capacity - decoded : 0;
      const uint32_t room =
          left < output.room() ? static_cast<uint32_t>(left) : output.room();

      const uint32_t at = static_cast<uint32_t>(start);
      const uint32_t hint = ReadU32LE(record);
      uint32_t available = 0;
      const uint8_t* stream =
          payload.At(at, hint > 0 ? hint : 1, available);
      DecodeOutcome segment =
          DecodeSegment(stream, available, output.data(), output.used(), output.used() + room);
      // A stream longer than its record says: read it again from its start.
      if (segment.error == DecodeError::InputOverrun && !payload.ReachesEnd(at, available) &&
          !payload.FullFrom(at)) {
        stream = payload.At(at, static_cast<uint32_t>(kBlockSize), available);
        segment = DecodeSegment(stream, available, output.data(), output.used(),
                                output.used() + room);
      }
      if (segment.error != DecodeError::None) return fail(segment.error);
      output.Grow(segment.length);
      decoded += segment.length;
    }
  }
  if (!output.Flush()) {
    result.sinkStopped = true;
    return result;
  }
  result.countRead = static_cast<uint32_t>(decoded);
  return result;
}

}  // namespace

bool IsStreamed(uint32_t mode, const Entry& entry) {
  return (mode == kModeStored || mode == kModeSegmented) &&
         (entry.size > kWholeEntryLimit || entry.storedSize > kWholeEntryLimit);
}

namespace {

uint64_t Available(const EntrySource& source, const Entry& entry) {
  const uint64_t length = source.file.Length();
  return entry.offset < length ? length - entry.offset : 0;
}

// A stored payload gives the bytes it holds up to its stored size, and is
// read only when that is the entry's size.
uint32_t StoredReadable(const EntrySource& source, const Entry& entry) {
  const uint64_t available = Available(source, entry);
  return entry.storedSize < available ? entry.storedSize : static_cast<uint32_t>(available);
}

// Whether a segmented payload can yield the entry's size at all.
bool SegmentedPossible(const EntrySource& source, const Entry& entry) {
  return entry.storedSize <= Available(source, entry) &&
         PayloadCanHold(entry.storedSize, entry.size);
}

}  // namespace

bool CannotYield(const EntrySource& source, const Entry& entry, uint32_t& countRead) {
  countRead = 0;
  if (source.mode == kModeStored) {
    countRead = StoredReadable(source, entry);
    return countRead != entry.size;
  }
  return source.mode != kModeSegmented || !SegmentedPossible(source, entry);
}

EntryRead ReadWhole(const EntrySource& source, const Entry& entry, const RoomFor& room,
                    std::vector<uint8_t>& payload) {
  EntryRead result;
  if (CannotYield(source, entry, result.countRead)) return result;
  const bool stored = source.mode == kModeStored;
  uint64_t capacity = 0;
  uint8_t* bytes = room(uint64_t{entry.size} + 1, capacity);
  if (bytes == nullptr) {
    result.noMemory = true;
    return result;
  }
  bytes[entry.size] = 0;
  if (stored) {
    result.countRead = static_cast<uint32_t>(source.file.ReadAt(entry.offset, bytes, entry.size));
    return result;
  }
  try {
    if (payload.size() < entry.storedSize) payload.resize(entry.storedSize);
  } catch (const std::bad_alloc&) {
    result.noMemory = true;
    return result;
  }
  if (entry.storedSize == 0) return result;
  const size_t got = source.file.ReadAt(entry.offset, payload.data(), entry.storedSize);
  const uint32_t limit = capacity > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(capacity);
  const DecodeOutcome decoded =
      DecodePayload(payload.data(), static_cast<uint32_t>(got), bytes, limit);
  result.error = decoded.error;
  result.countRead = decoded.error == DecodeError::None ? decoded.length : 0;
  return result;
}

EntryRead ReadInBlocks(const EntrySource& source, const Entry& entry, uint64_t capacity,
                       const ByteSink& sink) {
  EntryRead result;
  if (CannotYield(source, entry, result.countRead)) return result;
  if (source.mode == kModeStored) return StreamStored(source.file, entry.offset, entry.size, sink);
  if (entry.storedSize == 0) return result;
  return StreamSegmented(source.file, entry.offset, entry.storedSize, entry.size, capacity, sink);
}

}  // namespace tuk
