#include "archive/common/byte_copy.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "archive/common/aligned_block.h"
#include "archive/common/checksum.h"
#include "archive/common/limits.h"

namespace tuk {
namespace {

// The block road: small enough to stay in the processor's cache between
// the read that fills it and the write that empties it.
constexpr size_t kBlockSize = 64 * 1024;
// A checked system copy goes in pieces and the checksum follows a piece
// behind: it starts soon after the copy and ends soon after it, reading
// only bytes the copy has passed.
constexpr uint64_t kCopyPiece = 2 << 20;
// Below this, reading the bytes once through a block, checksumming them
// there and writing them out costs less than a copy and a second read.
constexpr uint64_t kCheckedCopyMinimum = 16 << 20;

// A stream is read in order through its buffer, which serves runs of
// small copies from one file (an archive's payloads carried over) with
// few calls; a random-access file by positional reads.
size_t ReadAt(platform::File& file, uint64_t offset, void* buffer, size_t length) {
  return file.Seek(offset) ? file.Read(buffer, length) : 0;
}
size_t ReadAt(const platform::RandomAccessFile& file, uint64_t offset, void* buffer,
              size_t length) {
  return file.ReadAt(offset, buffer, length);
}

template <class Source>
CopyOutcome CopyInBlocks(Source& source, uint64_t offset, uint64_t length,
                         platform::File& destination, bool checksum) {
  CopyOutcome outcome;
  const AlignedBlock block(kBlockSize);
  if (!block.ok()) {
    outcome.sourceShort = true;
    return outcome;
  }
  ChecksumStream stream;
  while (outcome.copied < length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length - outcome.copied, kBlockSize));
    const size_t got = ReadAt(source, offset + outcome.copied, block.data(), want);
    if (got > 0) {
      if (checksum) stream.Update(block.data(), got);
      if (!destination.Write(block.data(), got)) {
        outcome.writeFailed = true;
        return outcome;
      }
      outcome.copied += got;
    }
    if (got != want) {
      outcome.sourceShort = true;
      return outcome;
    }
  }
  if (checksum) outcome.checksum = stream.Digest();
  return outcome;
}

// Checksums length bytes of source at offset as they are copied: copied
// says how far the copy got, and done that it stopped.
template <class Source>
class TrailingChecksum {
 public:
  TrailingChecksum(Source& source, uint64_t offset, uint64_t length)
      : source_(source), offset_(offset), length_(length) {}

  void CopiedUpTo(uint64_t copied, bool done) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      copied_ = copied;
      done_ = done;
    }
    moved_.notify_one();
  }

  // The reading thread's work; false when it fell short.
  bool Run(uint64_t& checksum) {
    const AlignedBlock block(kBlockSize);
    if (!block.ok()) return false;
    ChecksumStream stream;
    for (uint64_t hashed = 0; hashed < length_;) {
      uint64_t copied;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        moved_.wait(lock, [&] { return copied_ > hashed || done_; });
        copied = copied_;
      }
      if (copied <= hashed) return false;  // the copy stopped short
      while (hashed < copied) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(copied - hashed, kBlockSize));
        if (ReadAt(source_, offset_ + hashed, block.data(), piece) != piece) return false;
        stream.Update(block.data(), piece);
        hashed += piece;
      }
    }
    checksum = stream.Digest();
    return true;
  }

 private:
  Source& source_;
  const uint64_t offset_, length_;
  std::mutex mutex_;
  std::condition_variable moved_;
  uint64_t copied_ = 0;
  bool done_ = false;
};

// The system's copy; copied is -1 where it cannot copy at all.
template <class Source>
int64_t CopyInSystem(Source& source, uint64_t offset, uint64_t length,
                     platform::File& destination, bool checksum, bool& checked,
                     uint64_t& digest) {
  checked = false;
  if (length <= kWholeEntryLimit || !platform::File::CanCopyInSystem()) return -1;
  if (!checksum) return destination.CopyFrom(source, offset, length);
  if (length < kCheckedCopyMinimum) return -1;
  TrailingChecksum<Source> trailing(source, offset, length);
  std::thread reader;
  try {
    reader = std::thread([&] {
      try {
        checked = trailing.Run(digest);
      } catch (...) {
      }
    });
  } catch (...) {
    return -1;  // no thread: the block road checksums as it goes
  }
  int64_t result = 0;
  uint64_t copied = 0;
  while (copied < length) {
    const uint64_t piece = std::min(length - copied, kCopyPiece);
    const int64_t got = destination.CopyFrom(source, offset + copied, piece);
    if (got < 0 && copied == 0) {
      result = -1;
      break;
    }
    if (got > 0) copied += static_cast<uint64_t>(got);
    result = static_cast<int64_t>(copied);
    if (got != static_cast<int64_t>(piece)) break;
    trailing.CopiedUpTo(copied, false);
  }
  trailing.CopiedUpTo(copied, true);
  reader.join();
  return result;
}

template <class Source>
CopyOutcome Copy(Source& source, uint64_t offset, uint64_t length, platform::File& destination,
                 bool checksum, bool system) {
  if (!system) return CopyInBlocks(source, offset, length, destination, checksum);
  const int64_t start = destination.Tell();
  if (start < 0) {
    CopyOutcome failed;
    failed.writeFailed = true;
    return failed;
  }
  bool checked = false;
  uint64_t digest = 0;
  const int64_t copied =
      CopyInSystem(source, offset, length, destination, checksum, checked, digest);
  if (copied == static_cast<int64_t>(length) && (!checksum || checked)) {
    CopyOutcome outcome;
    outcome.copied = length;
    outcome.checksum = digest;
    outcome.bySystem = true;
    return outcome;
  }
  // Cut short, or not checked: the block road starts over and tells what
  // fails.
  if (copied > 0 && !(destination.Seek(static_cast<uint64_t>(start)) && destination.Truncate())) {
    CopyOutcome failed;
    failed.writeFailed = true;
    return failed;
  }
  return CopyInBlocks(source, offset, length, destination, checksum);
}

}  // namespace

CopyOutcome CopyRange(platform::File& source, uint64_t offset, uint64_t length,
                      platform::File& destination, bool checksum, bool system) {
  return Copy(source, offset, length, destination, checksum, system);
}

CopyOutcome CopyRange(const platform::RandomAccessFile& source, uint64_t offset,
                      uint64_t length, platform::File& destination, bool checksum,
                      bool system) {
  return Copy(source, offset, length, destination, checksum, system);
}

}  // namespace tuk
