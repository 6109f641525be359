// Compressing files into segmented payloads on worker threads while one
// caller hands the files over and takes the payloads back in the same
// order. A file is cut into runs of segments at fixed points; each run is
// one job, and every segment may still look back into the bytes before its
// run, so the payloads are the same for any number of threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "archive/common/thread_pool.h"
#include "codec/encoder.h"

namespace tuk {

namespace platform {
class RandomAccessFile;
}

// How reading a file a worker read went.
enum class InputRead {
  kRead,
  kUnreadable,  // it could not be opened
  kChanged,     // its size is not what the scan measured: read it again another way
};

// How a piece of a big file came back.
enum class PieceTaken {
  kEncoded,
  kNoMemory,    // memory ran out while compressing it
  kInputShort,  // read by a worker, the file ended before the piece did
};

// One file's payload in pieces: the segment table, then the streams.
struct EncodedPayload {
  std::string name;
  std::string path;   // the file a worker read; empty for bytes handed in
  uint32_t size = 0;  // the file's bytes
  std::vector<std::vector<uint8_t>> pieces;
  bool complete = true;  // false when memory ran out while compressing
  uint64_t checksum = 0; // of the file's bytes, when checksums are built in
  InputRead input = InputRead::kRead;
  uint64_t StoredSize() const;
};

class CompressPipeline {
 public:
  // threads 0 or 1 compresses on the caller's thread, inside Submit; more
  // start threads - 1 workers, and the caller compresses queued runs
  // whenever it would wait for a payload.
  CompressPipeline(int level, unsigned threads);
  // Waits for every job still running.
  ~CompressPipeline();
  CompressPipeline(const CompressPipeline&) = delete;
  CompressPipeline& operator=(const CompressPipeline&) = delete;

  // Starts compressing one file's bytes (at most 4 GiB less one byte).
  // Throws std::bad_alloc when the file cannot be queued.
  void Submit(std::string name, std::vector<uint8_t> bytes);
  // Starts reading the file at path (about expected bytes, at most
  // kWholeEntryLimit) on a worker, taking its checksum there and
  // compressing it: the caller's thread only hands files over and writes
  // payloads. TakeOldest tells how reading it went.
  void SubmitFile(std::string path, std::string name, uint64_t expected);
  // Starts compressing a piece of a file too big to hold whole: bytes
  // holds the 32 KiB of the file before the piece (window bytes; fewer at
  // its start), then the piece, which starts a segment. Taken back with
  // TakeOldestPiece.
  void SubmitPiece(std::vector<uint8_t> bytes, size_t window);
  // SubmitPiece for a piece a worker reads from input: the length bytes at
  // offset, after the window bytes before them, read into buffer (reused
  // when it is a piece's buffer back from the pipeline).
  void SubmitPieceOf(std::shared_ptr<const platform::RandomAccessFile> input, uint64_t offset,
                     size_t window, size_t length, std::vector<uint8_t> buffer);
  // True when the oldest file must be taken back before another is
  // submitted: this keeps a few files per thread in memory, never a tree.
  bool Full() const;
  bool Empty() const { return files_.empty(); }
  // Whether the oldest submitted is a piece (taken with TakeOldestPiece)
  // rather than a file (TakeOldest). Not when Empty().
  bool OldestIsPiece() const;
  // Waits for the oldest submitted file and hands its payload over.
  EncodedPayload TakeOldest();
  // Waits for the oldest submitted piece and hands its segment streams
  // over, appending each stream's length to lengths. With spent, the
  // piece's own buffer comes back too, starting with its window and its
  // bytes (a buffer a worker read into may hold more after them), to
  // check them and to gather the next piece in (its pages already mapped).
  PieceTaken TakeOldestPiece(std::vector<uint8_t>& streams, std::vector<uint32_t>& lengths,
                             std::vector<uint8_t>* spent = nullptr);
  int level() const { return level_; }

 private:
  struct File;
  void Queue(std::shared_ptr<File> file);
  std::shared_ptr<File> WaitForOldest();
  // Buffers each thread reuses from job to job.
  struct Scratch {
    std::vector<uint8_t> input;   // a file the job reads
    std::vector<uint8_t> output;  // a run's streams at their largest
  };
  void RunJob(File& file, size_t run, unsigned worker);
  static void ReadInput(File& file, std::vector<uint8_t>& buffer);
  static void ReadPiece(File& file);
  static void EncodeRun(File& file, size_t run, SegmentEncoder& encoder, const uint8_t* data,
                        std::vector<uint8_t>& scratch);

  const int level_;
  std::vector<std::unique_ptr<SegmentEncoder>> encoders_;  // one per thread, the caller's last
  std::vector<Scratch> scratch_;                           // likewise
  std::deque<std::shared_ptr<File>> files_;
  uint64_t bytesInFlight_ = 0;
  std::mutex mutex_;
  std::condition_variable finished_;
  // Last, so its threads are joined before anything they use goes away.
  ThreadPool pool_;
};

}  // namespace tuk
