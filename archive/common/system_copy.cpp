#include "archive/common/system_copy.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "archive/common/aligned_block.h"
#include "archive/common/checksum.h"

namespace tuk {
namespace {

// The copy goes in pieces and the checksum follows a piece behind: it
// starts soon after the copy and ends soon after it, reading only bytes
// the copy has passed.
constexpr uint64_t kCopyPiece = 2 << 20;
// Below this, reading the bytes once through a buffer, checksumming them
// there and writing them out costs less than a copy and a second read.
constexpr uint64_t kCheckedCopyMinimum = 16 << 20;
constexpr size_t kReadBlock = 64 * 1024;

// Checksums length bytes of source at offset as they are copied: copied
// says how far the copy got, and done that it stopped.
class TrailingChecksum {
 public:
  TrailingChecksum(platform::File& source, uint64_t offset, uint64_t length)
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
    const AlignedBlock block(kReadBlock);
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
      for (; hashed < copied;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(copied - hashed, kReadBlock));
        // Positional reads leave source's position to the copy.
        if (source_.ReadAt(offset_ + hashed, block.data(), piece) != piece) return false;
        stream.Update(block.data(), piece);
        hashed += piece;
      }
    }
    checksum = stream.Digest();
    return true;
  }

 private:
  platform::File& source_;
  const uint64_t offset_, length_;
  std::mutex mutex_;
  std::condition_variable moved_;
  uint64_t copied_ = 0;
  bool done_ = false;
};

}  // namespace

SystemCopy CopyInSystem(platform::File& source, uint64_t offset, uint64_t length,
                        platform::File& destination, bool checksum) {
  SystemCopy result;
  if (!platform::File::CanCopyInSystem()) return result;
  if (!checksum) {
    result.copied = destination.CopyFrom(source, offset, length);
    return result;
  }
  if (length < kCheckedCopyMinimum) return result;
  TrailingChecksum trailing(source, offset, length);
  std::thread reader;
  try {
    reader = std::thread([&] {
      try {
        result.checked = trailing.Run(result.checksum);
      } catch (...) {
      }
    });
  } catch (...) {
    return result;  // no thread: the caller copies the usual way
  }
  uint64_t copied = 0;
  while (copied < length) {
    const uint64_t piece = std::min(length - copied, kCopyPiece);
    const int64_t got = destination.CopyFrom(source, offset + copied, piece);
    if (got < 0 && copied == 0) {
      result.copied = -1;
      break;
    }
    if (got > 0) copied += static_cast<uint64_t>(got);
    result.copied = static_cast<int64_t>(copied);
    if (got != static_cast<int64_t>(piece)) break;
    trailing.CopiedUpTo(copied, false);
  }
  trailing.CopiedUpTo(copied, true);
  reader.join();
  return result;
}

}  // namespace tuk
