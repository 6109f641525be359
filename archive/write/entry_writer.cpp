#include "archive/write/entry_writer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "archive/common/byte_copy.h"
#include "archive/common/checksum.h"
#include "archive/common/forward.h"
#include "archive/format/layout.h"
#include "archive/write/compress_pipeline.h"
#include "codec/encoder.h"
#include "codec/literal_runs.h"

namespace tuk {
namespace {

// A multiple of the segment size, small enough to stay in the processor's
// cache between the read that fills it and the write that empties it.
constexpr uint32_t kBlockSize = 64 * 1024;
// Pieces of a big file compressed as one job each (one of the encoder's
// runs), with the 32 KiB before them that their matches may reach.
constexpr size_t kPieceSize = kRunSegments * size_t{kSegmentSize};
constexpr size_t kWindow = kSegmentSize - 1;

// The payload of an empty file in mode 1: one segment whose stream is the
// empty literal count and the end marker.
constexpr uint8_t kEmptySegmentedPayload[20] = {
    0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x11, 0x00, 0x00};

Status WriteFailed() { return Status(Errc::kIo, "cannot write the archive"); }

uint32_t SegmentCount(uint32_t size) { return size == 0 ? 0 : ((size - 1) >> kSegmentShift) + 1; }

}  // namespace

// One payload built from bytes fed in order, whatever its size, in the
// archive's form: stored as it is, as segments of one literal run each, or
// compressed in pieces on the pipeline's threads. Memory stays a few
// blocks (and pieces in flight) whatever the size.
class PayloadStream {
 public:
  // writeAhead, when given, writes the payloads queued on the pipeline
  // before this one: all of them just before this payload's first byte,
  // or (untilRoom) only as many as the pipeline needs to take another
  // piece. So the files ahead keep compressing while its pieces are read.
  PayloadStream(platform::File& out, CompressPipeline* pipeline, Entry entry, bool checksum,
                std::function<Status(bool untilRoom)> writeAhead = nullptr)
      : out_(out),
        pipeline_(pipeline),
        entry_(std::move(entry)),
        checksum_(checksum),
        writeAhead_(std::move(writeAhead)) {}

  ~PayloadStream() {
    Recycle(previous_);
    Recycle(spare_);
  }

  // Prepares what comes before the bytes: a segment table, or its room.
  // A compressed payload starts when its first piece is written.
  Status Begin(uint32_t mode) {
    mode_ = mode;
    if (mode_ == kModeSegmented) {
      const uint32_t count = SegmentCount(entry_.size);
      try {
        lengths_.reserve(count);
      } catch (const std::bad_alloc&) {
        return Status(Errc::kNoMemory, "no memory for " + entry_.name);
      }
      stored_ = 4 + uint64_t{count} * kSegmentInfoSize;
      if (pipeline_ != nullptr) return Status();
    }
    return Start();
  }

  // The entry as far as it is known: its offset once it has started.
  const Entry& entry() const { return entry_; }
  // Whether a failure came from writing the payloads ahead, not this one.
  bool AheadFailed() const { return aheadFailed_; }

  Status Feed(const uint8_t* data, size_t length) {
    if (checksum_) checksumStream_.Update(data, length);
    fed_ += length;
    if (mode_ != kModeSegmented) {
      return out_.WriteThrough(data, length) ? Status() : WriteFailed();
    }
    while (length > 0) {
      const size_t capacity = pipeline_ != nullptr ? window_ + kPieceSize : kBlockSize;
      if (piece_.empty()) {
        if (spare_.capacity() >= capacity) {
          piece_.swap(spare_);
          piece_.clear();
        }
        try {
          piece_.reserve(capacity);
        } catch (const std::bad_alloc&) {
          return Status(Errc::kNoMemory, "no memory for " + entry_.name);
        }
        piece_.insert(piece_.end(), windowBytes_.begin(), windowBytes_.end());
      }
      const size_t take = std::min(length, capacity - piece_.size());
      piece_.insert(piece_.end(), data, data + take);
      data += take;
      length -= take;
      if (piece_.size() == capacity) TUK_FORWARD_IF_ERROR(Flush());
    }
    return Status();
  }

  // Feeds the whole file, in pieces the pipeline's workers read from input
  // and compress, so this thread never touches the bytes but to take their
  // checksum. A file found shorter than the entry's size fails, with
  // InputShort(), now or when its pieces are written.
  // The pieces' buffers come from spares, and go back there.
  Status ReadOnWorkers(std::shared_ptr<const platform::RandomAccessFile> input,
                       std::vector<std::vector<uint8_t>>& spares) {
    readByWorkers_ = true;
    spares_ = &spares;
    for (uint64_t offset = 0; offset < entry_.size; offset += kPieceSize) {
      const size_t length =
          static_cast<size_t>(std::min<uint64_t>(kPieceSize, entry_.size - offset));
      const size_t window = offset == 0 ? 0 : kWindow;
      std::vector<uint8_t> buffer;
      if (!spares.empty()) {
        buffer.swap(spares.back());
        spares.pop_back();
      }
      try {
        pipeline_->SubmitPieceOf(input, offset, window, length, std::move(buffer));
        ++queued_;
      } catch (const std::bad_alloc&) {
        return Status(Errc::kNoMemory, "no memory for " + entry_.name);
      }
      TUK_FORWARD_IF_ERROR(MakeRoom());
    }
    fed_ = entry_.size;
    return Status();
  }

  // Whether a file read on the workers turned out shorter than its entry.
  bool InputShort() const { return inputShort_; }

  // Ends the bytes: fails when fewer came than the entry's size. Pieces
  // that follow files ahead on a shared pipeline may still be compressing
  // (Pending); the rest are written here. With mayWait, a payload on a
  // shared pipeline that has not started yet starts only once its first
  // piece is the oldest there: the files ahead of it are written in their
  // turn, while the workers compress what follows, rather than all at
  // once here, which would leave the workers nothing to do.
  Status Close(bool mayWait) {
    if (fed_ != entry_.size) return Status(Errc::kIo, entry_.name + " came short");
    if (!piece_.empty()) TUK_FORWARD_IF_ERROR(Flush());
    if (mayWait && writeAhead_ && queued_ != 0) {
      writeAhead_ = nullptr;  // when it starts, nothing is ahead of it
    } else {
      TUK_FORWARD_IF_ERROR(Start());
      if (pipeline_ != nullptr && !writeAhead_) {
        while (queued_ != 0) TUK_FORWARD_IF_ERROR(WriteOldestPiece());
      }
    }
    windowBytes_ = std::vector<uint8_t>();
    spare_ = std::vector<uint8_t>();
    return Status();
  }

  // Pieces submitted and not yet written.
  bool Pending() const { return queued_ != 0; }

  // Writes the oldest piece on the pipeline, which must be this payload's.
  Status WriteOldestPiece() {
    TUK_FORWARD_IF_ERROR(Start());
    --queued_;
    const size_t before = lengths_.size();
    switch (pipeline_->TakeOldestPiece(streams_, lengths_, &spare_)) {
      case PieceTaken::kEncoded: break;
      case PieceTaken::kNoMemory: return Status(Errc::kNoMemory, "no memory for " + entry_.name);
      case PieceTaken::kInputShort:
        inputShort_ = true;
        return Status(Errc::kIo, entry_.name + " came short");
    }
    if (readByWorkers_) TUK_FORWARD_IF_ERROR(CheckRead(before));
    stored_ += streams_.size();
    TUK_FORWARD_IF_ERROR(Fits());
    return out_.WriteThrough(streams_.data(), streams_.size()) ? Status() : WriteFailed();
  }

  // Appends the entry once nothing is Pending: a compressed payload's table
  // goes over its room first.
  Status Finish(std::vector<Entry>& entries) {
    if (pipeline_ != nullptr) {
      const std::vector<uint8_t> table = SegmentTable(entry_.size, lengths_);
      const int64_t end = out_.Tell();
      if (end < 0 || !out_.Seek(entry_.offset) || !out_.Write(table.data(), table.size()) ||
          !out_.Seek(static_cast<uint64_t>(end))) {
        return WriteFailed();
      }
    }
    entry_.storedSize = mode_ == kModeSegmented ? static_cast<uint32_t>(stored_) : entry_.size;
    if (checksum_) entry_.set_checksum(checksumStream_.Digest());
    entries.push_back(std::move(entry_));
    return Status();
  }

  // Drops the pieces still being compressed, once what is ahead of them is
  // written: the input shrank, or memory ran out for a piece of it. What
  // was written of the payload is taken back from entry().offset.
  Status Abandon() {
    TUK_FORWARD_IF_ERROR(Start());
    if (pipeline_ == nullptr) return Status();
    std::vector<uint8_t> streams;
    std::vector<uint32_t> lengths;
    for (; queued_ != 0; --queued_) pipeline_->TakeOldestPiece(streams, lengths);
    return Status();
  }

 private:
  // Writes what is ahead, takes the payload's offset and writes its table:
  // for literal runs the table itself, known before any byte is read; when
  // compressed only its room, the table going over it at the end, once
  // every stream is known.
  Status Start() {
    if (started_) return Status();
    started_ = true;
    if (writeAhead_) TUK_FORWARD_IF_ERROR(WriteAhead(false));
    const int64_t position = out_.Tell();
    if (position < 0) return WriteFailed();
    entry_.offset = static_cast<uint32_t>(position);
    if (mode_ != kModeSegmented) return Status();
    const uint32_t size = entry_.size;
    const uint32_t count = SegmentCount(size);
    std::vector<uint8_t> table;
    try {
      table.resize(static_cast<size_t>(stored_));
    } catch (const std::bad_alloc&) {
      return Status(Errc::kNoMemory, "no memory for " + entry_.name);
    }
    if (pipeline_ == nullptr) {
      WriteU32LE(table.data(), count);
      uint64_t streamOffset = 0;
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t remaining = size - (i << kSegmentShift);
        const uint32_t length = remaining >= kSegmentSize ? kSegmentSize : remaining;
        const uint32_t packed = LiteralRunStreamLength(length);
        uint8_t* record = table.data() + 4 + size_t{i} * kSegmentInfoSize;
        WriteU32LE(record, packed);
        WriteU32LE(record + 4, length);
        WriteU32LE(record + 8, static_cast<uint32_t>(streamOffset));
        streamOffset += packed;
      }
      stored_ += streamOffset;
      TUK_FORWARD_IF_ERROR(Fits());
    }
    return out_.Write(table.data(), table.size()) ? Status() : WriteFailed();
  }

  // A piece a worker read (in spare_: its window, then its bytes) must
  // carry the bytes its predecessor read as its window: the decoder has
  // only those. Where the file changed in between, it is compressed again
  // here, behind the bytes the decoder will have. Its bytes then go into
  // the checksum, in order.
  Status CheckRead(size_t lengthsBefore) {
    const size_t window = checked_ == 0 ? 0 : kWindow;
    const size_t length =
        static_cast<size_t>(std::min<uint64_t>(kPieceSize, entry_.size - checked_));
    const uint8_t* const expected = previous_.data() + previousEnd_ - window;
    if (window != 0 && std::memcmp(spare_.data(), expected, window) != 0) {
      std::copy(expected, expected + window, spare_.begin());
      spare_.resize(window + length);
      lengths_.resize(lengthsBefore);
      CompressPipeline alone(pipeline_->level(), 1);
      try {
        alone.SubmitPiece(std::move(spare_), window);
      } catch (const std::bad_alloc&) {
        return Status(Errc::kNoMemory, "no memory for " + entry_.name);
      }
      if (alone.TakeOldestPiece(streams_, lengths_, &spare_) != PieceTaken::kEncoded) {
        return Status(Errc::kNoMemory, "no memory for " + entry_.name);
      }
    }
    if (checksum_) checksumStream_.Update(spare_.data() + window, length);
    checked_ += length;
    previousEnd_ = window + length;
    previous_.swap(spare_);
    Recycle(spare_);
    return Status();
  }

  // Hands a piece's buffer on for the next piece read, its pages mapped.
  void Recycle(std::vector<uint8_t>& buffer) {
    if (spares_ == nullptr || buffer.capacity() == 0) return;
    try {
      spares_->push_back(std::move(buffer));
    } catch (const std::bad_alloc&) {
    }
    buffer = std::vector<uint8_t>();
  }

  Status Fits() const {
    return uint64_t{entry_.offset} + stored_ > kMaxArchiveSize
               ? Status(Errc::kTooLarge, "the archive would pass 4 GiB")
               : Status();
  }

  Status WriteAhead(bool untilRoom) {
    const Status ahead = writeAhead_(untilRoom);
    aheadFailed_ = !ahead.ok();
    return ahead;
  }

  // Writes the oldest payloads until the pipeline has room for another
  // piece: before this payload has started, the files ahead of it first,
  // only as many as that takes.
  Status MakeRoom() {
    if (!started_ && writeAhead_ && pipeline_->Full()) TUK_FORWARD_IF_ERROR(WriteAhead(true));
    while (pipeline_->Full()) TUK_FORWARD_IF_ERROR(WriteOldestPiece());
    return Status();
  }

  // Hands on the piece gathered so far.
  Status Flush() {
    if (pipeline_ == nullptr) {
      // Literal runs, one segment at a time: blocks are whole segments.
      const size_t length = piece_.size();
      if (streams_.size() < LiteralRunStreamsBound(kBlockSize)) {
        streams_.resize(LiteralRunStreamsBound(kBlockSize));
      }
      std::vector<uint32_t> ignored;
      const uint32_t written = EncodeLiteralRuns(piece_.data(), static_cast<uint32_t>(length),
                                                 streams_.data(), ignored);
      piece_.clear();
      return out_.WriteThrough(streams_.data(), written) ? Status() : WriteFailed();
    }
    // Each piece carries the 32 KiB before it, which its matches may reach.
    const size_t before = window_;
    try {
      windowBytes_.assign(piece_.end() - static_cast<std::ptrdiff_t>(std::min(kWindow, piece_.size())),
                          piece_.end());
      window_ = windowBytes_.size();
      pipeline_->SubmitPiece(std::move(piece_), before);
      ++queued_;
    } catch (const std::bad_alloc&) {
      return Status(Errc::kNoMemory, "no memory for " + entry_.name);
    }
    piece_ = std::vector<uint8_t>();
    return MakeRoom();
  }

  platform::File& out_;
  CompressPipeline* const pipeline_;
  Entry entry_;
  const bool checksum_;
  uint32_t mode_ = 0;
  std::function<Status(bool untilRoom)> writeAhead_;
  bool started_ = false;
  bool aheadFailed_ = false;
  bool readByWorkers_ = false;
  bool inputShort_ = false;
  ChecksumStream checksumStream_;
  uint64_t fed_ = 0;
  uint64_t stored_ = 0;
  std::vector<uint8_t> piece_;        // bytes gathered for the next block or piece
  std::vector<uint8_t> windowBytes_;  // the 32 KiB before it
  std::vector<uint8_t> spare_;        // a piece's buffer back from the pipeline, for the next
  std::vector<uint8_t> previous_;     // the last piece the workers read, with its window
  size_t previousEnd_ = 0;            // where its bytes end in it
  uint64_t checked_ = 0;              // bytes of the pieces taken so far
  std::vector<std::vector<uint8_t>>* spares_ = nullptr;  // buffers for the workers to read into
  size_t window_ = 0;
  size_t queued_ = 0;                 // pieces on the pipeline
  std::vector<uint8_t> streams_;
  std::vector<uint32_t> lengths_;
};

EntryWriter::EntryWriter(platform::File& out, std::vector<Entry>& entries,
                         const PayloadSettings& settings, const Environment& env)
    : out_(out), entries_(entries), settings_(settings), env_(env) {
  if (Compressing()) {
    pipeline_ = std::make_unique<CompressPipeline>(settings_.level, settings_.threads);
  }
}

EntryWriter::~EntryWriter() = default;

bool EntryWriter::Compressing() const {
  return settings_.mode == kModeSegmented && settings_.level > 0;
}

void EntryWriter::Skip(Event why, const std::string& path, uint64_t value) {
  env_.Tell(why, path, value);
  lastSkip_ = why;
  ++skipped_;
}

bool EntryWriter::NameFits(const std::string& path, const std::string& name) {
  if (settings_.prefix.size() + name.size() <= kMaxNameLength) return true;
  Skip(Event::kInputNameTooLong, path);
  return false;
}

bool EntryWriter::OpenInput(const std::string& path, const std::string& name,
                            platform::File& input, uint32_t& size) {
  if (!input.Open(path.c_str(), platform::File::Mode::Read)) {
    Skip(Event::kInputUnreadable, path);
    return false;
  }
  return Admit(path, name, input.Length(), size);
}

bool EntryWriter::Admit(const std::string& path, const std::string& name, int64_t measured,
                        uint32_t& size) {
  // A size that cannot be taken reads as the largest 32-bit value.
  const uint64_t length = measured < 0 ? 0xFFFFFFFFu : static_cast<uint64_t>(measured);
  if (length >= kMaxInputFileSize) {
    Skip(Event::kInputTooBig, path, length);
    return false;
  }
  if (!NameFits(path, name)) return false;
  size = static_cast<uint32_t>(length);
  return true;
}

Status EntryWriter::StartEntry(Entry& entry) {
  const int64_t position = out_.Tell();
  if (position < 0) return WriteFailed();
  entry.offset = static_cast<uint32_t>(position);
  return Status();
}

Status EntryWriter::Fits(const Entry& entry, uint64_t storedSize) const {
  return uint64_t{entry.offset} + storedSize > kMaxArchiveSize
             ? Status(Errc::kTooLarge, "the archive would pass 4 GiB")
             : Status();
}

void EntryWriter::Appended() { env_.Done(settings_.prefix + entries_.back().name); }

Status EntryWriter::TakeBack(const Entry& entry) {
  return out_.Seek(entry.offset) && out_.Truncate() ? Status() : WriteFailed();
}

Status EntryWriter::AddFile(const std::string& path, const std::string& name,
                            std::optional<uint64_t> scannedSize) {
  if (Compressing()) {
    if (!scannedSize || *scannedSize > kWholeEntryLimit) {
      auto input = std::make_shared<platform::RandomAccessFile>();
      uint32_t size = 0;
      if (!input->Open(path.c_str())) {
        Skip(Event::kInputUnreadable, path);
        return Status();
      }
      if (!Admit(path, name, static_cast<int64_t>(input->Length()), size)) return Status();
      // A big file: the workers read its pieces as well.
      if (size > kWholeEntryLimit) return AddOpened(path, name, std::move(input), size);
      scannedSize = size;
    }
    // A small file: a worker reads it, takes its checksum and compresses
    // it; this thread only writes payloads.
    try {
      pipeline_->SubmitFile(path, name, *scannedSize);
    } catch (const std::bad_alloc&) {
      Skip(Event::kInputNoMemory, path);
      return Status();
    }
    return WriteFinished(Until::kRoom);
  }
  // A small file the scan measured: one open, one read and one close,
  // where measuring it again would cost a call more.
  if (scannedSize && *scannedSize <= kWholeEntryLimit && buffer_.Grow(kWholeEntryLimit + 1)) {
    size_t got = 0;
    if (!platform::ReadFileStart(path.c_str(), buffer_.bytes.get(), *scannedSize + 1, got)) {
      Skip(Event::kInputUnreadable, path);
      return Status();
    }
    // Changed since the scan: measured and read again, as any other file.
    if (got == *scannedSize) {
      if (!NameFits(path, name)) return Status();
      return AddWhole(name, buffer_.bytes.get(), static_cast<uint32_t>(got));
    }
  }

  platform::File input;
  uint32_t size = 0;
  if (!OpenInput(path, name, input, size)) return Status();
  return AddOpened(path, name, input, size);
}

Status EntryWriter::AddOpened(const std::string& path, const std::string& name,
                              std::shared_ptr<const platform::RandomAccessFile> input,
                              uint32_t size) {
  if (!Compressing() || size <= kWholeEntryLimit) {
    return Status(Errc::kInvalidArgument, "only big inputs are read on the workers: " + name);
  }
  Entry entry;
  entry.name = name;
  entry.size = size;
  auto stream = std::make_unique<PayloadStream>(out_, pipeline_.get(), entry, settings_.checksums,
                                                WriteAhead(pipeline_.get()));
  TUK_FORWARD_IF_ERROR(stream->Begin(settings_.mode));
  const Status read = stream->ReadOnWorkers(std::move(input), pieceBuffers_);
  // Only this file's own pieces leave it out; a file ahead that could not
  // be compressed fails the archive, as it would have in its turn.
  if (stream->InputShort()) return LeaveOut(*stream, path, Event::kInputUnreadable);
  if (read.code() == Errc::kNoMemory && !stream->AheadFailed()) {
    return LeaveOut(*stream, path, Event::kInputNoMemory);
  }
  TUK_FORWARD_IF_ERROR(read);
  finishingPath_ = path;
  return EndStream(std::move(stream));
}

Status EntryWriter::LeaveOut(PayloadStream& stream, const std::string& path, Event why) {
  TUK_FORWARD_IF_ERROR(stream.Abandon());
  TUK_FORWARD_IF_ERROR(TakeBack(stream.entry()));
  Skip(why, path);
  return Status();
}

Status EntryWriter::AddOpened(const std::string& path, const std::string& name,
                              platform::File& input, uint32_t size) {
  if (size > kWholeEntryLimit) return AddStreamed(path, name, input, size, pipeline_.get());
  if (Compressing()) {
    std::vector<uint8_t> bytes;
    try {
      bytes.resize(size);
    } catch (const std::bad_alloc&) {
      Skip(Event::kInputNoMemory, path);
      return Status();
    }
    if (size > 0 && input.Read(bytes.data(), size) != size) {
      Skip(Event::kInputUnreadable, path);
      return Status();
    }
    input.Close();
    try {
      pipeline_->Submit(name, std::move(bytes));
    } catch (const std::bad_alloc&) {
      Skip(Event::kInputNoMemory, path);
      return Status();
    }
    return WriteFinished(Until::kRoom);
  }
  if (!buffer_.Grow(uint64_t{size} + 512)) {
    Skip(Event::kInputNoMemory, path);
    return Status();
  }
  if (size > 0 && input.Read(buffer_.bytes.get(), size) != size) {
    Skip(Event::kInputUnreadable, path);
    return Status();
  }
  input.Close();
  return AddWhole(name, buffer_.bytes.get(), size);
}

Status EntryWriter::AddBytes(const std::string& name, const uint8_t* data, size_t size) {
  if (size >= kMaxInputFileSize) return Status(Errc::kTooLarge, name + " is too large");
  if (!Compressing()) return AddWhole(name, data, static_cast<uint32_t>(size));
  try {
    pipeline_->Submit(name, std::vector<uint8_t>(data, data + size));
  } catch (const std::bad_alloc&) {
    return Status(Errc::kNoMemory, "no memory for " + name);
  }
  return WriteFinished(Until::kRoom);
}

Status EntryWriter::AddWhole(const std::string& name, const uint8_t* data, uint32_t size) {
  if (Compressing()) return AddBytes(name, data, size);
  Entry entry;
  entry.name = name;
  entry.size = size;
  TUK_FORWARD_IF_ERROR(StartEntry(entry));
  if (settings_.checksums) entry.set_checksum(EntryChecksum(data, size));

  if (settings_.mode == kModeSegmented && size > 0) {
    const uint32_t count = SegmentCount(size);
    const uint64_t tableBytes = 4 + uint64_t{count} * kSegmentInfoSize;
    const uint64_t streamBytes = LiteralRunStreamsBound(size);
    TUK_FORWARD_IF_ERROR(Fits(entry, tableBytes + streamBytes));
    std::vector<uint32_t> streamLengths;
    std::vector<uint8_t> table;
    uint32_t streamsLength = 0;
    try {
      if (streams_.size() < streamBytes) streams_.resize(static_cast<size_t>(streamBytes));
      streamLengths.reserve(count);
      streamsLength = EncodeLiteralRuns(data, size, streams_.data(), streamLengths);
      table = SegmentTable(size, streamLengths);
    } catch (const std::bad_alloc&) {
      return Status(Errc::kNoMemory, "no memory for " + name);
    }
    if (!out_.Write(table.data(), table.size()) || !out_.Write(streams_.data(), streamsLength)) {
      return WriteFailed();
    }
    entry.storedSize = static_cast<uint32_t>(tableBytes) + streamsLength;
  } else if (settings_.mode == kModeSegmented) {
    TUK_FORWARD_IF_ERROR(Fits(entry, sizeof kEmptySegmentedPayload));
    if (!out_.Write(kEmptySegmentedPayload, sizeof kEmptySegmentedPayload)) return WriteFailed();
    entry.storedSize = sizeof kEmptySegmentedPayload;
  } else {
    TUK_FORWARD_IF_ERROR(Fits(entry, size));
    if (!out_.Write(data, size)) return WriteFailed();
    entry.storedSize = size;
  }
  entries_.push_back(std::move(entry));
  Appended();
  return Status();
}

Status EntryWriter::AddStreamed(const std::string& path, const std::string& name,
                                platform::File& input, uint32_t size,
                                CompressPipeline* pipeline) {
  Entry entry;
  entry.name = name;
  entry.size = size;
  const bool checksum = settings_.checksums;

  if (settings_.mode == kModeStored) {
    TUK_FORWARD_IF_ERROR(StartEntry(entry));
    // A stored file passes through unchanged, copied by the system where it
    // can; its checksum is then read separately, so the copy counts only
    // when the file did not change meanwhile. Otherwise it is taken back
    // and the file read block by block.
    TUK_FORWARD_IF_ERROR(Fits(entry, size));
    int64_t sizeBefore = 0, changedBefore = 0, sizeAfter = 0, changedAfter = 0;
    const bool stamped = input.Stamp(sizeBefore, changedBefore);
    CopyOutcome copy = CopyRange(input, 0, size, out_, checksum);
    if (copy.bySystem && !(stamped && input.Stamp(sizeAfter, changedAfter) &&
                           sizeAfter == sizeBefore && changedAfter == changedBefore)) {
      TUK_FORWARD_IF_ERROR(TakeBack(entry));
      copy = CopyRange(input, 0, size, out_, checksum, false);
    }
    if (copy.writeFailed) return WriteFailed();
    if (!copy.Complete(size)) {
      // The file shrank while it was read: it is left out, and what was
      // written of it is taken back.
      TUK_FORWARD_IF_ERROR(TakeBack(entry));
      Skip(Event::kInputUnreadable, path);
      return Status();
    }
    input.Close();
    entry.storedSize = size;
    if (checksum) entry.set_checksum(copy.checksum);
    entries_.push_back(std::move(entry));
    Appended();
    return Status();
  }

  auto stream = std::make_unique<PayloadStream>(out_, pipeline, entry, checksum, WriteAhead(pipeline));
  PayloadStream& payload = *stream;
  TUK_FORWARD_IF_ERROR(payload.Begin(settings_.mode));
  const AlignedBlock block(kBlockSize);
  bool left = !block.ok();
  Status fed;
  for (uint32_t done = 0; !left && done < size;) {
    const uint32_t piece = size - done < kBlockSize ? size - done : kBlockSize;
    if (input.Read(block.data(), piece) != piece) {
      left = true;
      break;
    }
    fed = payload.Feed(block.data(), piece);
    // Only this file's own pieces leave it out; a file ahead that could not
    // be compressed fails the archive, as it would have in its turn.
    if (fed.code() == Errc::kNoMemory && !payload.AheadFailed()) left = true;
    if (!fed.ok() && !left) return fed;
    done += piece;
  }
  if (left) {
    // Shrank while it was read, or memory could not hold a piece of it:
    // left out, and what was written of it taken back.
    return LeaveOut(payload, path,
                    block.ok() && fed.ok() ? Event::kInputUnreadable : Event::kInputNoMemory);
  }
  input.Close();
  return EndStream(std::move(stream));
}

Status EntryWriter::AddEntryOf(const EntrySource& source, const Entry& old,
                               const std::string& name, bool keepPayload) {
  if (keepPayload && source.mode == settings_.mode) {
    Entry copied;  // the reserved bytes' marker anew, the checksum kept
    copied.name = name;
    copied.storedSize = old.storedSize;
    copied.size = old.size;
    copied.offset = old.offset;
    copied.set_checksum(old.checksum());
    return CopyPayload(source.file, std::move(copied));
  }
  // Bytes that no longer match their checksum must not be given a new one.
  const bool verify = old.checksum() != 0 && ChecksumsAvailable();
  auto mismatch = [&old] {
    return Status(Errc::kDamaged, old.name + ": the bytes do not match the entry's checksum");
  };
  auto unread = [&old] {
    return Status(Errc::kDamaged, old.name + ": the payload does not yield the entry's bytes");
  };
  if (!IsStreamed(source.mode, old)) {
    const RoomFor room = [this](uint64_t need, uint64_t& capacity) -> uint8_t* {
      if (!buffer_.Grow(need)) return nullptr;
      capacity = buffer_.capacity;
      return buffer_.bytes.get();
    };
    std::vector<uint8_t>& payload = streams_;
    const EntryRead read = ReadWhole(source, old, room, payload);
    if (read.noMemory) return Status(Errc::kNoMemory, "no memory for " + old.name);
    if (!read.Complete(old)) return unread();
    if (verify && EntryChecksum(buffer_.bytes.get(), old.size) != old.checksum()) return mismatch();
    return AddBytes(name, buffer_.bytes.get(), old.size);
  }

  Entry entry;
  entry.name = name;
  entry.size = old.size;
  auto stream = std::make_unique<PayloadStream>(out_, pipeline_.get(), entry, settings_.checksums,
                                                WriteAhead(pipeline_.get()));
  PayloadStream& payload = *stream;
  TUK_FORWARD_IF_ERROR(payload.Begin(settings_.mode));
  Status fed;
  ChecksumStream checksum;
  const EntryRead read = ReadInBlocks(source, old, uint64_t{old.size} + 1,
                                      [&](const uint8_t* data, size_t length) {
                                        if (verify) checksum.Update(data, length);
                                        fed = payload.Feed(data, length);
                                        return fed.ok();
                                      });
  if (!fed.ok()) return fed;
  if (!read.Complete(old)) return unread();
  if (verify && checksum.Digest() != old.checksum()) return mismatch();
  return EndStream(std::move(stream));
}

Status EntryWriter::EndStream(std::unique_ptr<PayloadStream> stream) {
  // One payload at a time finishes behind the files that follow it.
  TUK_FORWARD_IF_ERROR(stream->Close(finishing_ == nullptr));
  // The next files go on compressing behind its last pieces: it is
  // finished when they have been written.
  if (stream->Pending()) {
    finishing_ = std::move(stream);
    return Status();
  }
  TUK_FORWARD_IF_ERROR(stream->Finish(entries_));
  Appended();
  return Status();
}

namespace {

template <class Source>
Status CopyPayloadFrom(platform::File& out, Source& source, Entry& entry) {
  const uint64_t from = entry.offset;
  const int64_t position = out.Tell();
  if (position < 0) return WriteFailed();
  if (static_cast<uint64_t>(position) + entry.storedSize > kMaxArchiveSize) {
    return Status(Errc::kTooLarge, "the archive would pass 4 GiB");
  }
  entry.offset = static_cast<uint32_t>(position);
  const CopyOutcome copy = CopyRange(source, from, entry.storedSize, out, false);
  if (copy.writeFailed) return Status(Errc::kIo, entry.name);
  if (!copy.Complete(entry.storedSize)) return Status(Errc::kDamaged, entry.name);
  return Status();
}

}  // namespace

Status EntryWriter::CopyPayload(platform::File& source, Entry entry) {
  TUK_FORWARD_IF_ERROR(Flush());
  TUK_FORWARD_IF_ERROR(CopyPayloadFrom(out_, source, entry));
  entries_.push_back(std::move(entry));
  return Status();
}

Status EntryWriter::CopyPayload(const platform::RandomAccessFile& source, Entry entry) {
  TUK_FORWARD_IF_ERROR(Flush());
  TUK_FORWARD_IF_ERROR(CopyPayloadFrom(out_, source, entry));
  entries_.push_back(std::move(entry));
  return Status();
}

Status EntryWriter::Flush() { return WriteFinished(Until::kEmpty); }

std::function<Status(bool)> EntryWriter::WriteAhead(CompressPipeline* pipeline) {
  // Payloads go in the order of their files. A pipeline of its own holds
  // nothing ahead; without one, nothing is queued.
  if (pipeline == nullptr || pipeline != pipeline_.get()) return nullptr;
  return [this](bool untilRoom) {
    return WriteFinished(untilRoom ? Until::kRoomBeforePiece : Until::kPieceFirst);
  };
}

Status EntryWriter::AddChanged(const std::string& path, const std::string& name) {
  platform::File input;
  uint32_t size = 0;
  if (!OpenInput(path, name, input, size)) return Status();
  if (size <= kWholeEntryLimit) {
    std::vector<uint8_t> bytes(size);
    if (size > 0 && input.Read(bytes.data(), size) != size) {
      Skip(Event::kInputUnreadable, path);
      return Status();
    }
    const std::vector<uint8_t> payload = EncodePayload(bytes.data(), size, settings_.level);
    Entry entry;
    entry.name = name;
    entry.size = size;
    if (settings_.checksums) entry.set_checksum(EntryChecksum(bytes.data(), size));
    return Append(std::move(entry), {payload});
  }
  // The files queued behind it keep the shared pipeline: its pieces are
  // compressed here, in order, with the same bytes.
  CompressPipeline alone(settings_.level, 1);
  return AddStreamed(path, name, input, size, &alone);
}

Status EntryWriter::WriteFinished(Until until) {
  const auto more = [this, until] {
    switch (until) {
      case Until::kRoom: return pipeline_->Full();
      case Until::kPieceFirst:
        return !pipeline_->Empty() && (!pipeline_->OldestIsPiece() || finishing_ != nullptr);
      case Until::kRoomBeforePiece:
        return pipeline_->Full() && (!pipeline_->OldestIsPiece() || finishing_ != nullptr);
      case Until::kEmpty: break;
    }
    return !pipeline_->Empty();
  };
  while (pipeline_ && more()) {
    // While a streamed payload is finishing, the oldest piece queued is
    // its own; the files ahead of it, if it has not started, come first.
    if (finishing_ != nullptr && pipeline_->OldestIsPiece()) {
      const Status wrote = finishing_->WriteOldestPiece();
      if (finishing_->InputShort()) {
        const std::unique_ptr<PayloadStream> shrunk = std::move(finishing_);
        TUK_FORWARD_IF_ERROR(LeaveOut(*shrunk, finishingPath_, Event::kInputUnreadable));
        continue;
      }
      TUK_FORWARD_IF_ERROR(wrote);
      if (!finishing_->Pending()) {
        const std::unique_ptr<PayloadStream> done = std::move(finishing_);
        TUK_FORWARD_IF_ERROR(done->Finish(entries_));
        Appended();
      }
      continue;
    }
    EncodedPayload payload = pipeline_->TakeOldest();
    // What a worker found reading its file is told as this thread would
    // have told it, in the file's turn.
    if (payload.input == InputRead::kUnreadable) {
      Skip(Event::kInputUnreadable, payload.path);
      continue;
    }
    if (payload.input == InputRead::kChanged) {
      TUK_FORWARD_IF_ERROR(AddChanged(payload.path, payload.name));
      continue;
    }
    if (!payload.path.empty() && !NameFits(payload.path, payload.name)) continue;
    if (!payload.complete) return Status(Errc::kNoMemory, "no memory to compress " + payload.name);
    Entry entry;
    entry.name = std::move(payload.name);
    entry.size = payload.size;
    if (settings_.checksums) entry.set_checksum(payload.checksum);
    TUK_FORWARD_IF_ERROR(Append(std::move(entry), payload.pieces));
  }
  return Status();
}

Status EntryWriter::Append(Entry entry, const std::vector<std::vector<uint8_t>>& pieces) {
  TUK_FORWARD_IF_ERROR(StartEntry(entry));
  uint64_t stored = 0;
  for (const std::vector<uint8_t>& piece : pieces) stored += piece.size();
  TUK_FORWARD_IF_ERROR(Fits(entry, stored));
  for (const std::vector<uint8_t>& piece : pieces) {
    if (!out_.Write(piece.data(), piece.size())) return WriteFailed();
  }
  entry.storedSize = static_cast<uint32_t>(stored);
  entries_.push_back(std::move(entry));
  Appended();
  return Status();
}

}  // namespace tuk
