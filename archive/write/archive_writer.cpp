#include "tuk/archive_writer.h"

#include <new>
#include <vector>

#include "archive/write/atomic_output.h"
#include "archive/common/checksum.h"
#include "archive/write/compress_pipeline.h"
#include "archive/format/format.h"
#include "archive/format/index_format.h"
#include "archive/write/writer_lock.h"
#include "platform/platform.h"

namespace tuk {

struct ArchiveWriter::State {
  WriterOptions options;
  std::unique_ptr<WriterLock> lock;  // held from Create until Finish
  std::unique_ptr<AtomicOutput> target;
  platform::File out;
  uint64_t position = 0;
  std::vector<Entry> entries;
  std::unique_ptr<CompressPipeline> pipeline;  // when compressing
  Status failure;                              // the first one; later calls repeat it

  uint32_t mode() const { return options.level > 0 ? kModeSegmented : kModeStored; }

  Status Fail(Status status) {
    if (failure.ok()) failure = std::move(status);
    return failure;
  }

  // Writes one payload behind the others and records its entry.
  Status Append(Entry entry, const std::vector<std::vector<uint8_t>>& pieces) {
    uint64_t stored = 0;
    for (const std::vector<uint8_t>& piece : pieces) stored += piece.size();
    if (position + stored > 0xFFFFFFFFu) {
      return Fail(Status(Errc::kTooLarge, "the archive would pass 4 GiB"));
    }
    for (const std::vector<uint8_t>& piece : pieces) {
      if (!out.Write(piece.data(), piece.size())) {
        return Fail(Status(Errc::kIo, "cannot write " + target->name()));
      }
    }
    entry.offset = static_cast<uint32_t>(position);
    entry.storedSize = static_cast<uint32_t>(stored);
    position += stored;
    entries.push_back(std::move(entry));
    return Status();
  }

  // Writes the pipeline's finished payloads: all, or while it is full.
  Status Drain(bool all) {
    while (pipeline && (all ? !pipeline->Empty() : pipeline->Full())) {
      EncodedPayload payload = pipeline->TakeOldest();
      if (!payload.complete) {
        return Fail(Status(Errc::kNoMemory, "no memory to compress " + payload.name));
      }
      Entry entry;
      entry.name = std::move(payload.name);
      entry.size = payload.size;
      std::copy(kReservedBytes, kReservedBytes + 12, entry.reserved);
      StoreChecksum(entry.reserved, payload.checksum);
      const Status appended = Append(std::move(entry), payload.pieces);
      if (!appended.ok()) return appended;
    }
    return Status();
  }

  Status Check(const std::string& name, uint64_t size) {
    if (!failure.ok()) return failure;
    if (!target) return Status(Errc::kInvalidArgument, "the writer has no archive open");
    if (name.empty() || name.size() > kMaxNameLength || !IsSafeName(name)) {
      return Status(Errc::kUnsafeName, "not a usable entry name: " + name);
    }
    if (size >= kMaxInputFileSize) return Status(Errc::kTooLarge, name + " is too large");
    return Status();
  }

  Status AddOwned(const std::string& name, std::vector<uint8_t> bytes) {
    if (pipeline) {
      pipeline->Submit(name, std::move(bytes));
      return Drain(false);
    }
    Entry entry;
    entry.name = name;
    entry.size = static_cast<uint32_t>(bytes.size());
    std::copy(kReservedBytes, kReservedBytes + 12, entry.reserved);
    StoreChecksum(entry.reserved, EntryChecksum(bytes.data(), bytes.size()));
    std::vector<std::vector<uint8_t>> pieces;
    pieces.push_back(std::move(bytes));
    return Append(std::move(entry), pieces);
  }
};

ArchiveWriter::ArchiveWriter() : state_(std::make_unique<State>()) {}
ArchiveWriter::~ArchiveWriter() = default;
ArchiveWriter::ArchiveWriter(ArchiveWriter&&) noexcept = default;
ArchiveWriter& ArchiveWriter::operator=(ArchiveWriter&&) noexcept = default;

Status ArchiveWriter::Create(const std::string& path, const WriterOptions& options) {
  if (options.level < 0 || options.level > 9) {
    return Status(Errc::kInvalidArgument, "levels run from 0 to 9");
  }
  state_ = std::make_unique<State>();
  state_->options = options;
  state_->options.context = nullptr;  // the caller's, used only here
  Context context;
  if (options.context != nullptr) {
    context = *options.context;
  } else {
    context.messages = Messages(MessageSet::ErrorsOnly, stderr);
  }
  state_->lock = std::make_unique<WriterLock>(path, context.messages);
  state_->target = std::make_unique<AtomicOutput>(path, context);
  const std::vector<uint8_t> header = PlaceholderHeader();
  if (!state_->out.Open(state_->target->name().c_str(), platform::File::Mode::Write,
                        context.faults) ||
      !state_->out.Write(header.data(), header.size())) {
    state_->out.Abandon();
    state_->target.reset();
    state_->lock.reset();  // a writer that could not start holds no lock
    return Status(Errc::kIo, "cannot create " + path);
  }
  state_->position = header.size();
  if (options.level > 0) {
    state_->pipeline = std::make_unique<CompressPipeline>(options.level, options.threads);
  }
  return Status();
}

Status ArchiveWriter::AddBytes(const std::string& name, const uint8_t* data, size_t size) {
  const Status checked = state_->Check(name, size);
  if (!checked.ok()) return checked;
  try {
    return state_->AddOwned(name, std::vector<uint8_t>(data, data + size));
  } catch (const std::bad_alloc&) {
    return Status(Errc::kNoMemory, "no memory for " + name);
  }
}

Status ArchiveWriter::AddFile(const std::string& name, const std::string& path) {
  platform::File input;
  if (!input.Open(path.c_str(), platform::File::Mode::Read)) {
    return Status(Errc::kNotFound, "cannot open " + path);
  }
  const int64_t length = input.Length();
  if (length < 0) return Status(Errc::kIo, "cannot measure " + path);
  const Status checked = state_->Check(name, static_cast<uint64_t>(length));
  if (!checked.ok()) return checked;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    return Status(Errc::kNoMemory, "no memory for " + path);
  }
  if (input.Read(bytes.data(), bytes.size()) != bytes.size()) {
    return Status(Errc::kIo, "cannot read " + path);
  }
  try {
    return state_->AddOwned(name, std::move(bytes));
  } catch (const std::bad_alloc&) {
    return Status(Errc::kNoMemory, "no memory for " + path);
  }
}

Status ArchiveWriter::AddEntryOf(const ArchiveReader& reader, size_t i) {
  if (i >= reader.index().size()) return Status(Errc::kNotFound, "no such entry");
  const Entry& source = reader.index()[i];
  const Status checked = state_->Check(source.name, source.size);
  if (!checked.ok()) return checked;
  if (reader.index().mode() != state_->mode()) {
    std::vector<uint8_t> bytes;
    const Status read = reader.Read(i, bytes);
    if (!read.ok()) return read;
    return state_->AddOwned(source.name, std::move(bytes));
  }
  // The same form: the payload goes over as it is, behind what is queued.
  const Status drained = state_->Drain(true);
  if (!drained.ok()) return drained;
  std::vector<std::vector<uint8_t>> pieces(1);
  const Status read = reader.ReadPayload(i, pieces[0]);
  if (!read.ok()) return read;
  Entry entry = source;
  return state_->Append(std::move(entry), pieces);
}

Status ArchiveWriter::Finish() {
  State& s = *state_;
  if (!s.target) return Status(Errc::kInvalidArgument, "the writer has no archive open");
  Status done = s.failure.ok() ? s.Drain(true) : s.failure;
  if (done.ok()) {
    std::vector<uint8_t> index(4);
    WriteU32LE(index.data(), static_cast<uint32_t>(s.entries.size()));
    for (const Entry& entry : s.entries) {
      AppendIndexRecord(index, "", entry.name, entry.storedSize, entry.size, entry.offset,
                        entry.reserved);
    }
    index.insert(index.end(), 4, 0);  // the trailer
    uint8_t patch[8];
    WriteU32LE(patch, static_cast<uint32_t>(s.position));
    WriteU32LE(patch + 4, s.mode());
    if (s.position + index.size() > 0xFFFFFFFFu) {
      done = Status(Errc::kTooLarge, "the archive would pass 4 GiB");
    } else if (!s.out.Write(index.data(), index.size()) || !s.out.Seek(0) ||
               !s.out.Write(patch, sizeof patch) || !s.out.Close()) {
      done = Status(Errc::kIo, "cannot write " + s.target->name());
    } else if (!s.target->Commit()) {
      done = Status(Errc::kIo, "cannot move the archive into place");
    }
  }
  s.out.Abandon();
  s.pipeline.reset();
  s.target.reset();  // removes the output unless it was committed
  s.lock.reset();
  return done;
}

}  // namespace tuk
