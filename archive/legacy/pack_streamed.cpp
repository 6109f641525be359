// Storing an input file too big to hold whole: it is read in blocks and
// written as it comes, as it is (mode 0) or as segments of one literal run
// each (mode 1), giving the same payload as storing it whole.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "archive/common/aligned_block.h"
#include "archive/common/checksum.h"
#include "archive/legacy/messages.h"
#include "archive/common/system_copy.h"
#include "archive/legacy/tuk_file.h"
#include "codec/encoder.h"

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

AddStatus TukFile::StartInputEntry(IndexEntry& entry, const char* path) {
  const WriteStatus started = StartEntry(entry, path);
  if (started == WriteStatus::Ok) return AddStatus::Added;
  if (started == WriteStatus::NameTooLong) {
    messages.SayError("ERROR! Name too long: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  lastFailure = started;
  return AddStatus::Failed;
}

AddStatus TukFile::AddFileStreamed(const char* path, platform::File& input, uint32_t size) {
  IndexEntry entry;
  const AddStatus started = StartInputEntry(entry, path);
  if (started != AddStatus::Added) return started;
  auto failed = [this](WriteStatus status) {
    lastFailure = status;
    return AddStatus::Failed;
  };
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

AddStatus TukFile::AddFileCompressedStreamed(const char* path, platform::File& input,
                                             uint32_t size, CompressPipeline& pipeline) {
  // Payloads go in the order of their files: those queued before this one
  // are written first.
  if (WriteCompressed(pipeline, true) == AddStatus::Failed) return AddStatus::Failed;
  IndexEntry entry;
  const AddStatus started = StartInputEntry(entry, path);
  if (started != AddStatus::Added) return started;
  auto failed = [this](WriteStatus status) {
    lastFailure = status;
    return AddStatus::Failed;
  };

  // The segment table comes first but is known only once every stream is:
  // its room is written now and the table over it at the end.
  const uint32_t count = ((size - 1) >> kSegmentShift) + 1;
  std::vector<uint8_t> table(4 + size_t{count} * kSegmentInfoSize);
  if (!tukFileStream.Write(table.data(), table.size())) return failed(WriteStatus::WriteFailed);
  uint64_t storedSize = table.size();
  std::vector<uint32_t> lengths;
  lengths.reserve(count);
  std::vector<uint8_t> streams;
  auto writeOldest = [&] {
    if (!pipeline.TakeOldestPiece(streams, lengths)) return WriteStatus::NoMemory;
    storedSize += streams.size();
    // Offsets are 32-bit: a payload must end below 4 GiB.
    if (uint64_t{entry.offset} + storedSize > 0xFFFFFFFFu) return WriteStatus::ArchiveFull;
    return tukFileStream.WriteThrough(streams.data(), streams.size()) ? WriteStatus::Ok
                                                                       : WriteStatus::WriteFailed;
  };
  // A file that shrank while it was read, or that memory could not hold a
  // piece of, is left out, and what was written of it taken back.
  auto leaveOut = [&](const char* line) {
    while (!pipeline.Empty()) pipeline.TakeOldestPiece(streams, lengths);
    if (!tukFileStream.Seek(entry.offset) || !tukFileStream.Truncate()) {
      return failed(WriteStatus::WriteFailed);
    }
    messages.SayError(line, path);
    ++skippedInputs;
    return AddStatus::Skipped;
  };

  // Each piece carries the 32 KiB before it, which its matches may reach.
  constexpr size_t kWindow = kSegmentSize - 1;
  constexpr size_t kPiece = 16 * size_t{kSegmentSize};
  ChecksumStream checksum;
  std::vector<uint8_t> window;
  for (uint32_t done = 0; done < size;) {
    const uint32_t piece = size - done < kPiece ? size - done : static_cast<uint32_t>(kPiece);
    std::vector<uint8_t> bytes;
    try {
      bytes.resize(window.size() + piece);
      std::copy(window.begin(), window.end(), bytes.begin());
      if (input.Read(bytes.data() + window.size(), piece) != piece) {
        return leaveOut("ERROR! inputFile: %s\n");
      }
      if (writeChecksums) checksum.Update(bytes.data() + window.size(), piece);
      window.assign(bytes.end() - static_cast<std::ptrdiff_t>(std::min(kWindow, bytes.size())),
                    bytes.end());
      const size_t before = bytes.size() - piece;
      pipeline.SubmitPiece(std::move(bytes), before);
    } catch (const std::bad_alloc&) {
      return leaveOut("ERROR! Not enough memory for: %s\n");
    }
    done += piece;
    while (pipeline.Full()) {
      const WriteStatus written = writeOldest();
      if (written != WriteStatus::Ok) return failed(written);
    }
  }
  while (!pipeline.Empty()) {
    const WriteStatus written = writeOldest();
    if (written != WriteStatus::Ok) return failed(written);
  }
  input.Close();

  table = SegmentTable(size, lengths);
  const int64_t end = tukFileStream.Tell();
  if (end < 0 || !tukFileStream.Seek(entry.offset) ||
      !tukFileStream.Write(table.data(), table.size()) ||
      !tukFileStream.Seek(static_cast<uint64_t>(end))) {
    return failed(WriteStatus::WriteFailed);
  }
  entry.size = size;
  entry.storedSize = static_cast<uint32_t>(storedSize);
  if (writeChecksums) entry.checksum = checksum.Digest();
  entries.Append(entry);
  return AddStatus::Added;
}

}  // namespace tuk
