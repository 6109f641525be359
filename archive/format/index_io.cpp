#include "archive/format/index_io.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/format/layout.h"

namespace tuk {
namespace {

// Reads forward through a file in large pieces, never past its end.
template <class File>
class ForwardReader {
 public:
  ForwardReader(File& file, uint64_t length, uint64_t position)
      : file_(file), length_(length), position_(position) {}

  uint64_t Remaining() const { return length_ - position_; }

  bool Read(void* to, uint64_t length) {
    uint8_t* out = static_cast<uint8_t*>(to);
    while (length > 0) {
      if (next_ == buffer_.size()) {
        const uint64_t ask = std::min<uint64_t>(kPiece, Remaining());
        if (ask == 0) return false;
        buffer_.resize(static_cast<size_t>(ask));
        if (file_.ReadAt(position_, buffer_.data(), buffer_.size()) != buffer_.size()) {
          return false;
        }
        position_ += ask;
        next_ = 0;
      }
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, buffer_.size() - next_));
      std::memcpy(out, buffer_.data() + next_, piece);
      next_ += piece;
      out += piece;
      length -= piece;
    }
    return true;
  }

  bool ReadU32(uint32_t& value) {
    uint8_t bytes[4];
    if (!Read(bytes, 4)) return false;
    value = ReadU32LE(bytes);
    return true;
  }

  uint64_t Unread() const { return Remaining() + (buffer_.size() - next_); }

 private:
  static constexpr uint64_t kPiece = 64 * 1024;
  File& file_;
  const uint64_t length_;
  uint64_t position_;
  std::vector<uint8_t> buffer_;
  size_t next_ = 0;
};

template <class File>
Status ReadIndexOf(File& file, uint64_t length, Index& index) {
  index = Index();
  uint8_t header[8];
  if (length < 8 || file.ReadAt(0, header, 8) != 8) {
    return Status(Errc::kDamaged, "shorter than an archive's header");
  }
  // The two fields are kept as they stand even when the rest is damaged.
  const uint32_t indexOffset = ReadU32LE(header);
  const uint32_t mode = ReadU32LE(header + 4);
  if (length < kHeaderSize) {
    index = Index(mode, indexOffset, {}, false);
    return Status(Errc::kDamaged, "shorter than an archive's header");
  }
  if (indexOffset < kHeaderSize || indexOffset >= length) {
    index = Index(mode, indexOffset, {}, false);
    return Status(Errc::kDamaged, "the index offset lies outside the file");
  }

  ForwardReader<File> reader(file, length, indexOffset);
  std::vector<Entry> entries;
  uint32_t count = 0;
  bool complete = reader.ReadU32(count);
  try {
    // Every record takes at least 28 bytes, so the file bounds how many
    // there can be, whatever the count claims.
    const uint64_t possible = reader.Unread() / kIndexRecordFixedSize;
    entries.reserve(static_cast<size_t>(std::min<uint64_t>({count, possible, 1u << 16})));
    for (uint32_t i = 0; complete && i < count; ++i) {
      Entry entry;
      uint32_t nameLength = 0;
      complete = reader.ReadU32(nameLength) && nameLength <= reader.Unread();
      if (!complete) break;
      entry.name.resize(nameLength);
      complete = reader.Read(&entry.name[0], nameLength) && reader.ReadU32(entry.storedSize) &&
                 reader.ReadU32(entry.size) && reader.ReadU32(entry.offset) &&
                 reader.Read(entry.reserved, sizeof entry.reserved);
      if (complete) entries.push_back(std::move(entry));
    }
  } catch (const std::bad_alloc&) {
    complete = false;  // an index too large for memory keeps what fitted
  }
  index = Index(mode, indexOffset, std::move(entries), complete);
  if (!complete) return Status(Errc::kDamaged, "the index cannot be read to its end");
  return Status();
}

}  // namespace

Status ReadIndex(const platform::RandomAccessFile& file, Index& index) {
  return ReadIndexOf(file, file.Length(), index);
}

Status ReadIndex(platform::File& file, Index& index) {
  const int64_t length = file.Length();
  return ReadIndexOf(file, length < 0 ? 0 : static_cast<uint64_t>(length), index);
}

std::vector<uint8_t> PlaceholderHeader() {
  std::vector<uint8_t> header(kHeaderSize);
  WriteU32LE(header.data(), 0);
  WriteU32LE(header.data() + 4, 1);  // the real mode comes with the index
  std::memcpy(header.data() + 8, kFixedBlock, kFixedBlockSize);
  return header;
}

Status WriteIndex(platform::File& out, std::string_view prefix,
                  const std::vector<Entry>& entries, uint32_t mode, uint64_t* end) {
  const int64_t position = out.Tell();
  if (position < 0) return Status(Errc::kIo, "cannot tell where the index goes");
  uint64_t bytes = 4 + kTrailerSize;
  for (const Entry& entry : entries) bytes += kIndexRecordFixedSize + prefix.size() + entry.name.size();
  if (static_cast<uint64_t>(position) + bytes > kMaxArchiveSize) {
    return Status(Errc::kTooLarge, "the archive would pass 4 GiB");
  }

  // The index goes out in pieces, so its size never matters for memory.
  constexpr size_t kPiece = 64 * 1024;
  std::vector<uint8_t> index;
  index.reserve(kPiece + kIndexRecordFixedSize + 2 * kPathBufferSize);
  auto put32 = [&index](uint32_t value) {
    uint8_t le[4];
    WriteU32LE(le, value);
    index.insert(index.end(), le, le + 4);
  };
  put32(static_cast<uint32_t>(entries.size()));
  for (const Entry& entry : entries) {
    put32(static_cast<uint32_t>(prefix.size() + entry.name.size()));
    index.insert(index.end(), prefix.begin(), prefix.end());
    index.insert(index.end(), entry.name.begin(), entry.name.end());
    put32(entry.storedSize);
    put32(entry.size);
    put32(entry.offset);
    index.insert(index.end(), entry.reserved, entry.reserved + kReservedSize);
    if (index.size() >= kPiece) {
      if (!out.Write(index.data(), index.size())) return Status(Errc::kIo, "cannot write the index");
      index.clear();
    }
  }
  put32(0);  // the trailer
  uint8_t patch[8];
  WriteU32LE(patch, static_cast<uint32_t>(position));
  WriteU32LE(patch + 4, mode);
  if (!out.Write(index.data(), index.size()) || !out.Seek(0) || !out.Write(patch, sizeof patch)) {
    return Status(Errc::kIo, "cannot write the index");
  }
  if (end != nullptr) *end = static_cast<uint64_t>(position) + bytes;
  return Status();
}

}  // namespace tuk
