#include "tuk/archive_writer.h"

#include <vector>

#include "archive/common/environment.h"
#include "archive/format/index_io.h"
#include "archive/format/layout.h"
#include "archive/read/reader_access.h"
#include "archive/write/atomic_output.h"
#include "archive/write/entry_writer.h"
#include "archive/write/writer_lock.h"
#include "platform/platform.h"

namespace tuk {

struct ArchiveWriter::State {
  Environment env;
  std::unique_ptr<WriterLock> lock;  // held from Create until Finish
  std::unique_ptr<AtomicOutput> target;
  platform::File out;
  std::vector<Entry> entries;
  std::unique_ptr<EntryWriter> writer;
  Status failure;  // the first one; later calls repeat it

  Status Fail(Status status) {
    if (failure.ok()) failure = std::move(status);
    return failure;
  }

  Status Check(const std::string& name, uint64_t size) {
    if (!failure.ok()) return failure;
    if (!writer) return Status(Errc::kInvalidArgument, "the writer has no archive open");
    if (name.empty() || name.size() > kMaxNameLength || !IsSafeName(name)) {
      return Status(Errc::kUnsafeName, "not a usable entry name: " + name);
    }
    if (size >= kMaxInputFileSize) return Status(Errc::kTooLarge, name + " is too large");
    return Status();
  }

  // A failure of the archive ends the writer; one of a single input does not.
  Status Track(Status status) {
    if (status.ok() || status.code() == Errc::kNotFound || status.code() == Errc::kUnsafeName) {
      return status;
    }
    return Fail(std::move(status));
  }
};

ArchiveWriter::ArchiveWriter() : state_(std::make_unique<State>()) {}
ArchiveWriter::~ArchiveWriter() = default;
ArchiveWriter::ArchiveWriter(ArchiveWriter&&) noexcept = default;
ArchiveWriter& ArchiveWriter::operator=(ArchiveWriter&&) noexcept = default;

Status ArchiveWriter::Create(const std::string& path, const WriterOptions& options) {
  if (options.level < WriterOptions::kStore || options.level > WriterOptions::kSmallest) {
    return Status(Errc::kInvalidArgument, "levels run from 0 to 9");
  }
  state_ = std::make_unique<State>();
  State& s = *state_;
  s.env = EnvironmentFor(options.environment, options.observer);
  s.lock = std::make_unique<WriterLock>(path, s.env);
  s.target = std::make_unique<AtomicOutput>(path, s.env);
  const std::vector<uint8_t> header = PlaceholderHeader();
  if (!s.env.disk->Open(s.out, s.target->name().c_str(), platform::File::Mode::Write) ||
      !s.out.Write(header.data(), header.size())) {
    s.out.Abandon();
    s.target.reset();
    s.lock.reset();  // a writer that could not start holds no lock
    return Status(Errc::kIo, "cannot create " + path);
  }
  PayloadSettings settings;
  settings.mode = options.level > 0 ? kModeSegmented : kModeStored;
  settings.level = options.level;
  settings.threads = options.threads;
  settings.checksums = true;
  s.writer = std::make_unique<EntryWriter>(s.out, s.entries, settings, s.env);
  return Status();
}

Status ArchiveWriter::AddBytes(const std::string& name, const uint8_t* data, size_t size) {
  State& s = *state_;
  const Status checked = s.Check(name, size);
  if (!checked.ok()) return checked;
  return s.Track(s.writer->AddBytes(name, data, size));
}

Status ArchiveWriter::AddFile(const std::string& name, const std::string& path) {
  State& s = *state_;
  const Status checked = s.Check(name, 0);
  if (!checked.ok()) return checked;
  const uint32_t skipped = s.writer->skipped();
  const Status added = s.writer->AddFile(path, name);
  if (!added.ok()) return s.Track(added);
  if (s.writer->skipped() == skipped) return Status();
  switch (s.writer->lastSkip()) {
    case Event::kInputTooBig: return Status(Errc::kTooLarge, path + " is too large");
    case Event::kInputNoMemory: return Status(Errc::kNoMemory, "no memory for " + path);
    default: return Status(Errc::kNotFound, "cannot read " + path);
  }
}

Status ArchiveWriter::AddEntryOf(const ArchiveReader& reader, size_t i) {
  if (i >= reader.index().size()) return Status(Errc::kNotFound, "no such entry");
  State& s = *state_;
  const Entry& source = reader.index()[i];
  const Status checked = s.Check(source.name, source.size);
  if (!checked.ok()) return checked;
  const Status added = s.writer->AddEntryOf(SourceOf(reader), source, source.name);
  // A source entry that cannot be read is that entry's failure, not the
  // archive's.
  return added.code() == Errc::kDamaged ? added : s.Track(added);
}

Status ArchiveWriter::Finish() {
  State& s = *state_;
  if (!s.target) return Status(Errc::kInvalidArgument, "the writer has no archive open");
  Status done = s.failure.ok() ? s.writer->Flush() : s.failure;
  if (done.ok()) done = WriteIndex(s.out, "", s.entries, s.writer->settings().mode);
  if (done.ok() && !s.out.Close()) done = Status(Errc::kIo, "cannot write " + s.target->name());
  if (done.ok()) done = s.target->Commit();
  s.out.Abandon();
  s.writer.reset();
  s.target.reset();  // removes the output unless it was committed
  s.lock.reset();
  return done;
}

}  // namespace tuk
