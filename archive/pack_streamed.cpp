// Storing an input file too big to hold whole: it is read in blocks and
// written as it comes, as it is (mode 0) or as segments of one literal run
// each (mode 1), giving the same payload as storing it whole.
#include <cstring>
#include <vector>

#include "archive/aligned_block.h"
#include "archive/checksum.h"
#include "archive/messages.h"
#include "archive/system_copy.h"
#include "archive/tuk_file.h"

namespace tuk {
namespace {

// A multiple of kSegmentSize, small enough to stay in the processor's
// cache between the read that fills it and the write that empties it.
constexpr uint32_t kBlockSize = 64 * 1024;
constexpr uint8_t kEndMarker[3] = {0x11, 0x00, 0x00};

// The count that opens a segment of literalCount literals, as
// WriteLiteralRunHeader writes it; returns its length. With out null, only
// the length.
uint32_t LiteralRunHeader(uint8_t* out, uint32_t literalCount) {
  uint32_t position = 0;
  auto put = [&](uint32_t value) {
    if (out != nullptr) out[position] = static_cast<uint8_t>(value);
    ++position;
  };
  if (literalCount < 239) {
    put(literalCount + 17);
    return position;
  }
  put(0);
  uint32_t rest = literalCount - 18;
  for (; rest > 255; rest -= 255) put(0);
  put(rest);
  return position;
}

}  // namespace

AddStatus TukFile::AddFileStreamed(const char* path, platform::File& input, uint32_t size) {
  IndexEntry entry;
  const WriteStatus started = StartEntry(entry, path);
  if (started == WriteStatus::NameTooLong) {
    messages.SayError("ERROR! Name too long: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  auto failed = [this](WriteStatus status) {
    lastFailure = status;
    return AddStatus::Failed;
  };
  if (started != WriteStatus::Ok) return failed(started);
  // The block read, and the segments it becomes in mode 1 (each segment
  // gains a count of at most 130 bytes and the 3-byte end marker).
  const AlignedBlock block(kBlockSize);
  const AlignedBlock segmented(mode == kModeSegmented ? kBlockSize + kBlockSize / 8 : 0);
  if (!block.ok() || !segmented.ok()) {
    messages.SayError("ERROR! Not enough memory for: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  entry.size = size;

  // The segment table of a mode-1 payload, known before any byte is read.
  std::vector<uint8_t> table;
  uint64_t storedSize = size;
  if (mode == kModeSegmented) {
    const uint32_t count = ((size - 1) >> kSegmentShift) + 1;
    try {
      table.resize(4 + size_t{count} * kSegmentInfoSize);
    } catch (const std::bad_alloc&) {
      return failed(WriteStatus::NoMemory);
    }
    WriteU32LE(table.data(), count);
    uint64_t streamOffset = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t remaining = size - (i << kSegmentShift);
      const uint32_t length = remaining >= kSegmentSize ? kSegmentSize : remaining;
      const uint32_t packed = LiteralRunHeader(nullptr, length) + length + sizeof kEndMarker;
      uint8_t* record = table.data() + 4 + size_t{i} * kSegmentInfoSize;
      WriteU32LE(record, packed);
      WriteU32LE(record + 4, length);
      WriteU32LE(record + 8, static_cast<uint32_t>(streamOffset));
      streamOffset += packed;
    }
    storedSize = table.size() + streamOffset;
  }
  // Offsets are 32-bit: a payload must end below 4 GiB.
  if (uint64_t{entry.offset} + storedSize > 0xFFFFFFFFu) return failed(WriteStatus::ArchiveFull);
  if (!table.empty() && !tukFileStream.Write(table.data(), table.size())) {
    return failed(WriteStatus::WriteFailed);
  }

  // A stored file passes through unchanged: the system copies it (planned
  // faults watch only the block road). Its checksum is read separately, so
  // the copy counts only when the file did not change meanwhile; otherwise
  // it is taken back and the file read block by block.
  uint64_t checksumValue = 0;
  bool copied = false;
  int64_t sizeBefore = 0, changedBefore = 0, sizeAfter = 0, changedAfter = 0;
  if (mode == kModeStored && context.faults == nullptr &&
      input.Stamp(sizeBefore, changedBefore)) {
    const SystemCopy copy = CopyInSystem(input, 0, size, tukFileStream, writeChecksums);
    copied = copy.copied == int64_t{size} && (!writeChecksums || copy.checked) &&
             input.Stamp(sizeAfter, changedAfter) && sizeAfter == sizeBefore &&
             changedAfter == changedBefore;
    checksumValue = copy.checksum;
    if (!copied && copy.copied > 0 &&
        !(tukFileStream.Seek(entry.offset) && tukFileStream.Truncate())) {
      return failed(WriteStatus::WriteFailed);
    }
  }
  if (!copied) {
    ChecksumStream checksum;
    for (uint32_t done = 0; done < size;) {
      const uint32_t piece = size - done < kBlockSize ? size - done : kBlockSize;
      if (input.Read(block.data(), piece) != piece) {
        // The file shrank while it was read: it is left out, and what was
        // written of it is taken back.
        if (!tukFileStream.Seek(entry.offset) || !tukFileStream.Truncate()) {
          return failed(WriteStatus::WriteFailed);
        }
        messages.SayError("ERROR! inputFile: %s\n", path);
        ++skippedInputs;
        return AddStatus::Skipped;
      }
      if (writeChecksums) checksum.Update(block.data(), piece);
      const uint8_t* out = block.data();
      uint32_t outLength = piece;
      if (mode == kModeSegmented) {
        uint32_t position = 0;
        for (uint32_t at = 0; at < piece; at += kSegmentSize) {
          const uint32_t length = piece - at < kSegmentSize ? piece - at : kSegmentSize;
          position += LiteralRunHeader(segmented.data() + position, length);
          std::memcpy(segmented.data() + position, block.data() + at, length);
          position += length;
          std::memcpy(segmented.data() + position, kEndMarker, sizeof kEndMarker);
          position += sizeof kEndMarker;
        }
        out = segmented.data();
        outLength = position;
      }
      if (!tukFileStream.WriteThrough(out, outLength)) return failed(WriteStatus::WriteFailed);
      done += piece;
    }
    if (writeChecksums) checksumValue = checksum.Digest();
  }
  input.Close();

  entry.storedSize = static_cast<uint32_t>(storedSize);
  if (writeChecksums) entry.checksum = checksumValue;
  entries.Append(entry);
  return AddStatus::Added;
}

}  // namespace tuk
