#include "archive/format/index_format.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/format/format.h"

namespace tuk {
namespace {

// Reads forward through a file in large pieces, never past its end.
class ForwardReader {
 public:
  ForwardReader(const platform::RandomAccessFile& file, uint64_t position)
      : file_(file), position_(position) {}

  uint64_t Remaining() const { return file_.Length() - position_; }

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
  const platform::RandomAccessFile& file_;
  uint64_t position_;
  std::vector<uint8_t> buffer_;
  size_t next_ = 0;
};

}  // namespace

const uint8_t kReservedBytes[12] = {0xE0, 0x21, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0};

Status ReadIndex(const platform::RandomAccessFile& file, Index& index) {
  index = Index();
  const uint64_t length = file.Length();
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

  ForwardReader reader(file, indexOffset);
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

void AppendIndexRecord(std::vector<uint8_t>& out, std::string_view prefix,
                       std::string_view name, uint32_t storedSize, uint32_t size,
                       uint32_t offset, const uint8_t (&reserved)[12]) {
  auto put32 = [&out](uint32_t value) {
    uint8_t le[4];
    WriteU32LE(le, value);
    out.insert(out.end(), le, le + 4);
  };
  put32(static_cast<uint32_t>(prefix.size() + name.size()));
  out.insert(out.end(), prefix.begin(), prefix.end());
  out.insert(out.end(), name.begin(), name.end());
  put32(storedSize);
  put32(size);
  put32(offset);
  out.insert(out.end(), reserved, reserved + 12);
}

std::vector<uint8_t> PlaceholderHeader() {
  std::vector<uint8_t> header(kHeaderSize);
  WriteU32LE(header.data(), 0);
  WriteU32LE(header.data() + 4, 1);  // the real mode comes with the index
  std::memcpy(header.data() + 8, kFixedBlock, kFixedBlockSize);
  return header;
}

}  // namespace tuk
