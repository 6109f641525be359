#include "tuk/archive_reader.h"

#include <algorithm>
#include <new>

#include "archive/common/checksum.h"
#include "archive/format/format.h"
#include "archive/format/index_format.h"
#include "codec/decoder.h"
#include "platform/platform.h"

namespace tuk {
namespace {

// A segmented payload yields at most 255 bytes per payload byte (the
// longest match an extended length can describe).
constexpr uint64_t kMaxExpansion = 256;

Status EntryFault(const Entry& entry, const char* what) {
  return Status(Errc::kDamaged, entry.name + ": " + what);
}

}  // namespace

struct ArchiveReader::State {
  platform::RandomAccessFile file;
  Index index;
};

ArchiveReader::ArchiveReader() : state_(std::make_unique<State>()) {}
ArchiveReader::~ArchiveReader() = default;
ArchiveReader::ArchiveReader(ArchiveReader&&) noexcept = default;
ArchiveReader& ArchiveReader::operator=(ArchiveReader&&) noexcept = default;

Status ArchiveReader::Open(const std::string& path) {
  state_ = std::make_unique<State>();
  if (!state_->file.Open(path.c_str())) {
    return Status(Errc::kNotFound, "cannot open " + path);
  }
  const Status read = ReadIndex(state_->file, state_->index);
  if (!read.ok()) return Status(read.code(), path + ": " + read.message());
  return Status();
}

const Index& ArchiveReader::index() const { return state_->index; }

uint64_t ArchiveReader::FileSize() const { return state_->file.Length(); }

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
    return EntryFault(state_->index[i], "the bytes do not match the entry's checksum");
  }
  return Status();
}

Status ArchiveReader::ReadUnverified(size_t i, std::vector<uint8_t>& bytes) const {
  if (i >= state_->index.size()) return Status(Errc::kNotFound, "no entry " + std::to_string(i));
  const Entry& entry = state_->index[i];
  const uint32_t mode = state_->index.mode();
  if (mode == kModeStored) {
    if (entry.storedSize != entry.size) {
      return EntryFault(entry, "the stored size differs from the size");
    }
    return ReadPayload(i, bytes);
  }
  if (mode != kModeSegmented) return EntryFault(entry, "the archive's mode has no payload form");
  if (entry.size > uint64_t{entry.storedSize} * kMaxExpansion) {
    return EntryFault(entry, "the payload cannot hold the entry's size");
  }
  std::vector<uint8_t> payload;
  const Status read = ReadPayload(i, payload);
  if (!read.ok()) return read;
  try {
    bytes.resize(size_t{entry.size} + 1);  // room for the decoder's last scratch byte
  } catch (const std::bad_alloc&) {
    return Status(Errc::kNoMemory, entry.name + ": no memory for its bytes");
  }
  const DecodeOutcome outcome =
      DecodePayload(payload.data(), static_cast<uint32_t>(payload.size()), bytes.data(),
                    static_cast<uint32_t>(bytes.size()));
  if (outcome.error != DecodeError::None || outcome.length != entry.size) {
    bytes.clear();
    return EntryFault(entry, "the payload does not decode to the entry's size");
  }
  bytes.resize(entry.size);
  return Status();
}

Status ArchiveReader::Read(size_t i, const Sink& sink) const {
  std::vector<uint8_t> bytes;
  const Status read = Read(i, bytes);
  if (!read.ok()) return read;
  constexpr size_t kPiece = 1 << 20;
  for (size_t at = 0; at < bytes.size(); at += kPiece) {
    const Status taken = sink(bytes.data() + at, std::min(kPiece, bytes.size() - at));
    if (!taken.ok()) return taken;
  }
  return Status();
}

}  // namespace tuk
