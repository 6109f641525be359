// Reading part of an entry: stored ones in place, compressed ones decoded
// a segment at a time as far as the part needs, each segment from the one
// before it.
#include <algorithm>
#include <cstring>
#include <new>

#include "archive/common/checksum.h"
#include "archive/format/layout.h"
#include "archive/read/reader_access.h"
#include "archive/read/segment_cache.h"
#include "codec/decoder.h"
#include "tuk/archive_reader.h"

namespace tuk {
namespace {

// A segment stream longer than this is taken for damage.
constexpr uint32_t kLongestStream = 512 * 1024;

Status Damaged(const Entry& entry, const char* what) {
  return Status(Errc::kDamaged, entry.name + ": " + what);
}
Status Gone(const Entry& entry) {
  return Status(Errc::kIo, entry.name + ": the file no longer holds its payload");
}

Status ReadTable(const platform::RandomAccessFile& file, const Entry& entry,
                 SegmentTable& table) {
  if (uint64_t{entry.offset} + entry.storedSize > file.Length() || entry.storedSize < 4 ||
      !PayloadCanHold(entry.storedSize, entry.size)) {
    return Damaged(entry, "the payload cannot hold the entry");
  }
  uint8_t countBytes[4];
  if (file.ReadAt(entry.offset, countBytes, 4) != 4) return Gone(entry);
  const uint32_t count = ReadU32LE(countBytes);
  table.streamArea = 4 + uint64_t{count} * kSegmentInfoSize;
  if (table.streamArea > entry.storedSize) return Damaged(entry, "the segment table is cut");
  std::vector<uint8_t> records(static_cast<size_t>(table.streamArea - 4));
  if (file.ReadAt(entry.offset + 4, records.data(), records.size()) != records.size()) {
    return Gone(entry);
  }
  table.records.resize(count);
  uint64_t total = 0;
  table.regular = count == (entry.size == 0 ? 1 : (uint64_t{entry.size} - 1) / kSegmentSize + 1);
  for (uint32_t s = 0; s < count; ++s) {
    SegmentRecord& record = table.records[s];
    const uint8_t* at = records.data() + size_t{s} * kSegmentInfoSize;
    record.packedSize = ReadU32LE(at);
    record.size = ReadU32LE(at + 4);
    record.offset = ReadU32LE(at + 8);
    total += record.size;
    if (s + 1 < count && record.size != kSegmentSize) table.regular = false;
  }
  if (total != entry.size) table.regular = false;
  return Status();
}

// Decodes segment s of entry into a buffer of pool, window being the
// segment before it (null for the first).
Status DecodeOne(const platform::RandomAccessFile& file, const Entry& entry,
                 const SegmentTable& table, uint32_t s, const SegmentBytes& window,
                 const std::shared_ptr<SegmentPool>& pool, SegmentBytes& bytes) {
  const SegmentRecord& record = table.records[s];
  const uint64_t start = table.streamArea + record.offset;
  if (start >= entry.storedSize) return Damaged(entry, "a segment starts past the payload");
  const uint64_t left = entry.storedSize - start;
  const uint32_t windowLength = window ? static_cast<uint32_t>(window->size()) : 0;
  std::vector<uint8_t> stream, out;
  try {
    out.resize(size_t{windowLength} + record.size + 1);
  } catch (const std::bad_alloc&) {
    return Status(Errc::kNoMemory, entry.name + ": no memory to decode it");
  }
  if (window) std::memcpy(out.data(), window->data(), windowLength);
  // The record's length says how much to read; a stream that turns out
  // longer (only its end marker ends it) is read again, further.
  uint64_t ask = std::min<uint64_t>(std::max<uint32_t>(record.packedSize, 3), left);
  for (;;) {
    stream.resize(static_cast<size_t>(ask));
    if (file.ReadAt(entry.offset + start, stream.data(), stream.size()) != stream.size()) {
      return Gone(entry);
    }
    const DecodeOutcome decoded =
        DecodeSegment(stream.data(), static_cast<uint32_t>(stream.size()), out.data(),
                      windowLength, static_cast<uint32_t>(out.size()));
    if (decoded.error == DecodeError::InputOverrun && ask < std::min<uint64_t>(left, kLongestStream)) {
      ask = std::min<uint64_t>(left, kLongestStream);
      continue;
    }
    if (decoded.error != DecodeError::None || decoded.length != record.size) {
      return Damaged(entry, "the payload does not decode to the entry's size");
    }
    break;
  }
  std::unique_ptr<std::vector<uint8_t>> buffer = pool->Take();
  try {
    if (buffer) buffer->assign(out.begin() + windowLength, out.end() - 1);
  } catch (const std::bad_alloc&) {
    buffer.reset();
  }
  if (buffer) bytes = SegmentPool::Share(pool, std::move(buffer));
  if (!bytes) return Status(Errc::kNoMemory, entry.name + ": no memory to decode it");
  return Status();
}

}  // namespace

Status ArchiveReader::ReadAt(size_t i, uint64_t offset, uint8_t* buffer, size_t length,
                             size_t& got, SegmentCache* cache) const {
  got = 0;
  if (i >= index().size()) return Status(Errc::kNotFound, "no entry " + std::to_string(i));
  const uint32_t mode = index().mode();
  if (mode == kModeStored) return ReadStoredAt(i, offset, buffer, length, got);
  const Entry& entry = index()[i];
  if (mode != kModeSegmented) return Damaged(entry, "the archive's mode has no payload form");
  if (offset >= entry.size || length == 0) return Status();
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(length, entry.size - offset));
  const platform::RandomAccessFile& file = ReaderAccess::File(*this);
  const uint64_t expected = ChecksumsAvailable() ? entry.checksum() : 0;

  // Without a cache every read decodes from the entry's start.
  SegmentCache own(0);
  SegmentCache::State& kept = *(cache != nullptr ? cache : &own)->state_;
  if (kept.Damaged(i)) return Damaged(entry, "the bytes do not match the entry's checksum");
  std::shared_ptr<const SegmentTable> table = kept.Table(i);
  if (!table) {
    auto read = std::make_shared<SegmentTable>();
    const Status status = ReadTable(file, entry, *read);
    if (!status.ok()) return status;
    table = read;
    kept.KeepTable(i, table);
  }
  if (!table->regular) {
    // Segments of other sizes: the bytes are read from the start, and only
    // the asked ones kept.
    uint64_t at = 0;
    const EntryRead read = ReadInBlocks(SourceOf(*this), entry, uint64_t{entry.size} + 1,
                                        [&](const uint8_t* data, size_t size) {
                                          const uint64_t end = at + size;
                                          if (end > offset) {
                                            const uint64_t from = std::max(at, offset);
                                            const size_t take = static_cast<size_t>(
                                                std::min<uint64_t>(end, offset + wanted) - from);
                                            std::memcpy(buffer + got, data + (from - at), take);
                                            got += take;
                                          }
                                          at = end;
                                          return got < wanted;
                                        });
    if (got == wanted) return Status();
    got = 0;
    return read.noMemory ? Status(Errc::kNoMemory, entry.name + ": no memory to read it")
                         : Damaged(entry, "the payload does not decode to the entry's size");
  }

  const uint32_t count = static_cast<uint32_t>(table->records.size());
  const uint32_t first = static_cast<uint32_t>(offset >> kSegmentShift);
  const uint32_t last = static_cast<uint32_t>((offset + wanted - 1) >> kSegmentShift);
  // Decoding starts behind the nearest kept segment before the part, or at
  // the entry's start.
  SegmentBytes previous;
  uint32_t from = first;
  while (from > 0 && !(previous = kept.Get(i, from - 1))) --from;
  for (uint32_t s = from; s <= last; ++s) {
    SegmentBytes bytes = s >= first ? kept.Get(i, s) : nullptr;
    if (!bytes) {
      const Status decoded = DecodeOne(file, entry, *table, s, previous, kept.pool, bytes);
      if (!decoded.ok()) {
        got = 0;
        return decoded;
      }
      if (!kept.Keep(i, s, bytes, count, expected)) {
        got = 0;
        return Damaged(entry, "the bytes do not match the entry's checksum");
      }
    }
    if (s >= first) {
      const uint64_t segmentStart = uint64_t{s} << kSegmentShift;
      const uint64_t from64 = std::max<uint64_t>(segmentStart, offset);
      const uint64_t to = std::min<uint64_t>(segmentStart + bytes->size(), offset + wanted);
      std::memcpy(buffer + got, bytes->data() + (from64 - segmentStart),
                  static_cast<size_t>(to - from64));
      got += static_cast<size_t>(to - from64);
    }
    previous = std::move(bytes);
  }
  return Status();
}

}  // namespace tuk
