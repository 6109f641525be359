#include "archive/write/compress_pipeline.h"

#include <algorithm>
#include <new>

#include "archive/common/checksum.h"
#include "archive/format/layout.h"
#include "platform/platform.h"
#include "codec/segment_format.h"

namespace tuk {
namespace {

// A job is one of the encoder's runs: big enough that it outweighs its
// scheduling, small enough that one big file keeps every thread busy.
constexpr size_t kRunBytes = kRunSegments * kSegmentSize;

// How much may wait in memory: files and bytes per thread.
constexpr size_t kFilesPerThread = 32;
constexpr uint64_t kBytesPerThread = uint64_t{1} << 20;  // two pieces of a big file

}  // namespace

uint64_t EncodedPayload::StoredSize() const {
  uint64_t total = 0;
  for (const std::vector<uint8_t>& piece : pieces) total += piece.size();
  return total;
}

struct CompressPipeline::File {
  std::string name;
  std::string path;  // read by the job: a file's bytes are not handed in
  uint64_t expected = 0;
  InputRead input = InputRead::kRead;
  uint64_t checksum = 0;
  std::vector<uint8_t> bytes;                      // handed in; a file read by its job is not kept
  size_t size = 0;                                 // of the bytes, or of the file its job read
  std::shared_ptr<const platform::RandomAccessFile> source;  // a piece's file, read by its job
  uint64_t readFrom = 0;                           // where in source its window starts
  uint64_t held = 0;                               // bytes it keeps in memory while in flight
  bool piece = false;                              // a piece of a big file
  size_t window = 0;                               // bytes before the first segment
  std::vector<std::vector<uint8_t>> runs;          // each run's streams
  std::vector<std::vector<uint32_t>> runLengths;   // each stream's length
  size_t pending = 0;                              // runs not yet done
  bool failed = false;                             // a run ran out of memory
};

// The caller's thread is one of the threads: it compresses whenever it
// would otherwise wait for a payload, so threads - 1 workers are started.
CompressPipeline::CompressPipeline(int level, unsigned threads)
    : level_(level), pool_(threads > 1 ? threads - 1 : 0) {
  const unsigned contexts = threads > 1 ? threads : 1;
  for (unsigned i = 0; i < contexts; ++i) {
    encoders_.push_back(std::make_unique<SegmentEncoder>(level));
  }
  scratch_.resize(contexts);
}

CompressPipeline::~CompressPipeline() {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [this] {
    for (const std::shared_ptr<File>& file : files_) {
      if (file->pending != 0) return false;
    }
    return true;
  });
}

void CompressPipeline::ReadInput(File& file, std::vector<uint8_t>& buffer) {
  // One byte more than the scan measured tells in the same call whether
  // the file still has that size; one that changed since is measured and
  // read again on the caller's thread, in its turn, as any other file.
  const size_t capacity = static_cast<size_t>(file.expected) + 1;
  if (buffer.size() < capacity) buffer.resize(capacity);
  size_t got = 0;
  if (!platform::ReadFileStart(file.path.c_str(), buffer.data(), capacity, got)) {
    file.input = InputRead::kUnreadable;
  } else if (got != file.expected) {
    file.input = InputRead::kChanged;
  } else {
    file.size = got;
    file.checksum = EntryChecksum(buffer.data(), got);
  }
}

void CompressPipeline::ReadPiece(File& file) {
  // A buffer used before keeps its size, which holds any piece: growing it
  // only where it is too small spares filling it with zeros to read over.
  const size_t length = static_cast<size_t>(file.expected);
  if (file.bytes.size() < length) file.bytes.resize(std::max(length, kSegmentSize - 1 + kRunBytes));
  if (file.source->ReadAt(file.readFrom, file.bytes.data(), length) == length) {
    file.size = length;
  } else {
    file.input = InputRead::kChanged;
  }
}

void CompressPipeline::RunJob(File& file, size_t run, unsigned worker) {
  Scratch& scratch = scratch_[worker];
  bool failed = false;
  try {
    // A file the job reads stays in the worker's buffer, which the next
    // file reuses: no allocation, and no pages to fault in, per file.
    const uint8_t* data = file.bytes.data();
    if (file.source) {
      ReadPiece(file);
      data = file.bytes.data();
    } else if (!file.path.empty()) {
      ReadInput(file, scratch.input);
      data = scratch.input.data();
    }
    if (file.input == InputRead::kRead) {
      EncodeRun(file, run, *encoders_[worker], data, scratch.output);
    }
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    file.failed = file.failed || failed;
    --file.pending;
  }
  finished_.notify_all();
}

void CompressPipeline::EncodeRun(File& file, size_t run, SegmentEncoder& encoder,
                                 const uint8_t* data, std::vector<uint8_t>& scratch) {
  const size_t begin = file.window + run * kRunBytes;
  const size_t end = std::min(file.size, begin + kRunBytes);
  // The streams are written into the worker's buffer, at room for their
  // largest, and only what they take is kept.
  size_t bound = 0;
  for (size_t start = begin; start < end; start += kSegmentSize) {
    bound += SegmentStreamBound(std::min<size_t>(kSegmentSize, end - start));
  }
  if (scratch.size() < bound) scratch.resize(bound);
  std::vector<uint32_t>& lengths = file.runLengths[run];
  size_t used = 0;
  encoder.StartRun(data, begin, end - begin);
  for (size_t start = begin; start < end; start += kSegmentSize) {
    const size_t length = std::min<size_t>(kSegmentSize, end - start);
    const size_t written = encoder.EncodeNext(length, scratch.data() + used);
    lengths.push_back(static_cast<uint32_t>(written));
    used += written;
  }
  file.runs[run].assign(scratch.data(), scratch.data() + used);
}

void CompressPipeline::Submit(std::string name, std::vector<uint8_t> bytes) {
  auto file = std::make_shared<File>();
  file->name = std::move(name);
  file->bytes = std::move(bytes);
  file->size = file->bytes.size();
  Queue(std::move(file));
}

void CompressPipeline::SubmitFile(std::string path, std::string name, uint64_t expected) {
  auto file = std::make_shared<File>();
  file->name = std::move(name);
  file->path = std::move(path);
  file->expected = expected;
  Queue(std::move(file));
}

void CompressPipeline::SubmitPiece(std::vector<uint8_t> bytes, size_t window) {
  auto file = std::make_shared<File>();
  file->bytes = std::move(bytes);
  file->size = file->bytes.size();
  file->window = window;
  file->piece = true;
  Queue(std::move(file));
}

void CompressPipeline::SubmitPieceOf(std::shared_ptr<const platform::RandomAccessFile> input,
                                     uint64_t offset, size_t window, size_t length,
                                     std::vector<uint8_t> buffer) {
  auto file = std::make_shared<File>();
  file->source = std::move(input);
  file->readFrom = offset - window;
  file->expected = window + length;
  file->bytes = std::move(buffer);
  file->window = window;
  file->piece = true;
  Queue(std::move(file));
}

void CompressPipeline::Queue(std::shared_ptr<File> file) {
  // What a job reads is one run: a file of at most kWholeEntryLimit, or a
  // piece of one run.
  const bool read = !file->path.empty() || file->source;
  const size_t runs =
      read ? 1 : (file->bytes.size() - file->window + kRunBytes - 1) / kRunBytes;
  file->runs.resize(runs);
  file->runLengths.resize(runs);
  file->pending = runs;
  file->held = read ? file->expected : file->bytes.size();
  bytesInFlight_ += file->held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    files_.push_back(file);
  }
  for (size_t run = 0; run < runs; ++run) {
    pool_.Submit([this, file, run](unsigned worker) { RunJob(*file, run, worker); });
  }
}

bool CompressPipeline::Full() const {
  const size_t threads = encoders_.size();
  return !files_.empty() &&
         (files_.size() >= kFilesPerThread * threads || bytesInFlight_ >= kBytesPerThread * threads);
}

bool CompressPipeline::OldestIsPiece() const { return files_.front()->piece; }

std::shared_ptr<CompressPipeline::File> CompressPipeline::WaitForOldest() {
  const std::shared_ptr<File> file = files_.front();
  const unsigned caller = pool_.Workers();  // the encoder past the workers'
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (file->pending == 0) break;
    }
    if (pool_.RunOne(caller)) continue;
    // Every job left is running on a worker.
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&file] { return file->pending == 0; });
    break;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    files_.pop_front();
  }
  bytesInFlight_ -= file->held;
  return file;
}

PieceTaken CompressPipeline::TakeOldestPiece(std::vector<uint8_t>& streams,
                                             std::vector<uint32_t>& lengths,
                                             std::vector<uint8_t>* spent) {
  const std::shared_ptr<File> file = WaitForOldest();
  if (spent != nullptr) spent->swap(file->bytes);
  if (file->input != InputRead::kRead) return PieceTaken::kInputShort;
  if (file->failed) return PieceTaken::kNoMemory;
  streams.clear();
  if (file->runs.size() == 1) {
    streams.swap(file->runs[0]);
    lengths.insert(lengths.end(), file->runLengths[0].begin(), file->runLengths[0].end());
    return PieceTaken::kEncoded;
  }
  for (size_t run = 0; run < file->runs.size(); ++run) {
    streams.insert(streams.end(), file->runs[run].begin(), file->runs[run].end());
    lengths.insert(lengths.end(), file->runLengths[run].begin(), file->runLengths[run].end());
  }
  return PieceTaken::kEncoded;
}

EncodedPayload CompressPipeline::TakeOldest() {
  const std::shared_ptr<File> file = WaitForOldest();

  EncodedPayload payload;
  payload.name = std::move(file->name);
  payload.path = std::move(file->path);
  payload.input = file->input;
  payload.size = static_cast<uint32_t>(file->size);
  payload.complete = !file->failed;
  if (!payload.complete || payload.input != InputRead::kRead) return payload;
  payload.checksum = payload.path.empty()
                         ? EntryChecksum(file->bytes.data(), file->bytes.size())
                         : file->checksum;
  if (file->size == 0) {
    payload.pieces.push_back(EncodePayload(nullptr, 0, level_));
    return payload;
  }
  std::vector<uint32_t> lengths;
  for (const std::vector<uint32_t>& run : file->runLengths) {
    lengths.insert(lengths.end(), run.begin(), run.end());
  }
  payload.pieces.push_back(SegmentTable(file->size, lengths));
  for (std::vector<uint8_t>& run : file->runs) payload.pieces.push_back(std::move(run));
  return payload;
}

}  // namespace tuk
