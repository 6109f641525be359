#include "tuk/archive_reader.h"

#include <algorithm>
#include <new>

#include "archive/common/checksum.h"
#include "archive/format/index_io.h"
#include "archive/format/layout.h"
#include "archive/read/reader_access.h"
#include "platform/platform.h"

namespace tuk {
namespace {

Status EntryFault(const Entry& entry, const char* what) {
  return Status(Errc::kDamaged, entry.name + ": " + what);
}

// Why a read of entry did not yield its bytes.
Status ReadFailure(const EntrySource& source, const Entry& entry, const EntryRead& read) {
  if (read.noMemory) return Status(Errc::kNoMemory, entry.name + ": no memory to read it");
  if (source.mode != kModeStored && source.mode != kModeSegmented) {
    return EntryFault(entry, "the archive's mode has no payload form");
  }
  if (uint64_t{entry.offset} + entry.storedSize > source.file.Length()) {
    return EntryFault(entry, "the payload runs past the end of the file");
  }
  if (source.mode == kModeStored && entry.storedSize != entry.size) {
    return EntryFault(entry, "the stored size differs from the size");
  }
  if (source.mode == kModeSegmented && !PayloadCanHold(entry.storedSize, entry.size)) {
    return EntryFault(entry, "the payload cannot hold the entry's size");
  }
  if (source.mode == kModeStored) return Status(Errc::kIo, entry.name + ": the payload cannot be read");
  return EntryFault(entry, "the payload does not decode to the entry's size");
}

Status ChecksumFault(const Entry& entry) {
  return EntryFault(entry, "the bytes do not match the entry's checksum");
}

}  // namespace

struct ArchiveReader::State {
  platform::RandomAccessFile file;
  Index index;
  std::string path;
};

const platform::RandomAccessFile& ReaderAccess::File(const ArchiveReader& reader) {
  return reader.state_->file;
}

ArchiveReader::ArchiveReader() : state_(std::make_unique<State>()) {}
ArchiveReader::~ArchiveReader() = default;
ArchiveReader::ArchiveReader(ArchiveReader&&) noexcept = default;
ArchiveReader& ArchiveReader::operator=(ArchiveReader&&) noexcept = default;

Status ArchiveReader::Open(const std::string& path) {
  state_ = std::make_unique<State>();
  state_->path = path;
  if (!state_->file.Open(path.c_str())) {
    return Status(Errc::kNotFound, "cannot open " + path);
  }
  const Status read = ReadIndex(state_->file, state_->index);
  if (!read.ok()) return Status(read.code(), path + ": " + read.message());
  return Status();
}

const Index& ArchiveReader::index() const { return state_->index; }

uint64_t ArchiveReader::FileSize() const { return state_->file.Length(); }

const std::string& ArchiveReader::path() const { return state_->path; }

Status ArchiveReader::ReadPayload(size_t i, std::vector<uint8_t>& payload) const {
  if (i >= state_->index.size()) return Status(Errc::kNotFound, "no entry " + std::to_string(i));
  const Entry& entry = state_->index[i];
  if (uint64_t{entry.offset} + entry.storedSize > state_->file.Length()) {
    return EntryFault(entry, "the payload runs past the end of the file");
  }
  try {
    payload.resize(entry.storedSize);
  } catch (const std::bad_alloc&) {
    return Status(Errc::kNoMemory, entry.name + ": no memory for its payload");
  }
  if (state_->file.ReadAt(entry.offset, payload.data(), payload.size()) != payload.size()) {
    return Status(Errc::kIo, entry.name + ": the payload cannot be read");
  }
  return Status();
}

Status ArchiveReader::ReadStoredAt(size_t i, uint64_t offset, uint8_t* buffer, size_t length,
                                  size_t& got) const {
  got = 0;
  if (i >= state_->index.size()) return Status(Errc::kNotFound, "no entry " + std::to_string(i));
  const Entry& entry = state_->index[i];
  if (state_->index.mode() != kModeStored) {
    return Status(Errc::kInvalidArgument, entry.name + ": not stored as it is");
  }
  if (entry.storedSize != entry.size) {
    return EntryFault(entry, "the stored size differs from the size");
  }
  if (offset >= entry.size) return Status();
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(length, entry.size - offset));
  if (state_->file.ReadAt(entry.offset + offset, buffer, wanted) != wanted) {
    return Status(Errc::kIo, entry.name + ": the payload cannot be read");
  }
  got = wanted;
  return Status();
}

Status ArchiveReader::Read(size_t i, std::vector<uint8_t>& bytes) const {
  const Status read = ReadUnverified(i, bytes);
  if (!read.ok()) return read;
  const uint64_t expected = state_->index[i].checksum();
  if (expected != 0 && ChecksumsAvailable() &&
      EntryChecksum(bytes.data(), bytes.size()) != expected) {
    bytes.clear();
    return ChecksumFault(state_->index[i]);
  }
  return Status();
}

Status ArchiveReader::ReadUnverified(size_t i, std::vector<uint8_t>& bytes) const {
  if (i >= state_->index.size()) return Status(Errc::kNotFound, "no entry " + std::to_string(i));
  const Entry& entry = state_->index[i];
  const EntrySource source = SourceOf(*this);
  // Sized only for a payload that can yield the entry: a claimed size
  // costs nothing until then.
  std::vector<uint8_t> payload;
  const RoomFor room = [&bytes](uint64_t need, uint64_t& capacity) -> uint8_t* {
    try {
      bytes.resize(static_cast<size_t>(need));  // room for the decoder's last scratch byte
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    capacity = bytes.size();
    return bytes.data();
  };
  const EntryRead read = ReadWhole(source, entry, room, payload);
  if (!read.Complete(entry)) {
    bytes.clear();
    return ReadFailure(source, entry, read);
  }
  bytes.resize(entry.size);
  return Status();
}

Status ArchiveReader::Read(size_t i, const Sink& sink) const {
  if (i >= state_->index.size()) return Status(Errc::kNotFound, "no entry " + std::to_string(i));
  const Entry& entry = state_->index[i];
  const EntrySource source = SourceOf(*this);
  if (!IsStreamed(source.mode, entry)) {
    std::vector<uint8_t> bytes;
    const Status read = Read(i, bytes);
    if (!read.ok()) return read;
    return bytes.empty() ? Status() : sink(bytes.data(), bytes.size());
  }
  // Checked as the bytes go by: a mismatch is known, and told, only at the
  // end, after the sink has had them.
  const bool verify = entry.checksum() != 0 && ChecksumsAvailable();
  ChecksumStream checksum;
  Status refused;
  const EntryRead read = ReadInBlocks(source, entry, uint64_t{entry.size} + 1,
                                      [&](const uint8_t* data, size_t length) {
                                        if (verify) checksum.Update(data, length);
                                        refused = sink(data, length);
                                        return refused.ok();
                                      });
  if (read.sinkStopped) return refused;
  if (!read.Complete(entry)) return ReadFailure(source, entry, read);
  if (verify && checksum.Digest() != entry.checksum()) return ChecksumFault(entry);
  return Status();
}

}  // namespace tuk
