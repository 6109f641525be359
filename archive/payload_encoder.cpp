// Storing one file's bytes as a payload: as they are (mode 0), or as
// segments of one literal run each in the LZO1X stream format (mode 1).
#include <cstring>
#include <new>
#include <vector>

#include "archive/checksum.h"
#include "archive/tuk_file.h"

namespace tuk {
namespace {

constexpr uint8_t kEndMarker[3] = {0x11, 0x00, 0x00};

// The payload of an empty file in mode 1: one segment whose stream is the
// empty literal count and the end marker.
constexpr uint8_t kEmptySegmentedPayload[20] = {
    0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x11, 0x00, 0x00};

// Bytes a literal count of L takes: one below 239, else a 0, one 0 for every
// further 255 and a closing byte.
constexpr uint32_t kMaxCountBytes = 130;  // for L = 32768

}  // namespace

void TukFile::WriteLiteralRunHeader(uint32_t& position, uint32_t literalCount) {
  uint8_t* out = packedBuffer.get();
  if (literalCount < 239) {
    out[position++] = static_cast<uint8_t>(literalCount + 17);
    return;
  }
  out[position++] = 0;
  uint32_t rest = literalCount - 18;
  while (rest > 255) {
    out[position++] = 0;
    rest -= 255;
  }
  out[position++] = static_cast<uint8_t>(rest);
}

uint32_t TukFile::CompressSegment(uint32_t segmentIndex) {
  segmentStart = segmentIndex << kSegmentShift;
  const uint32_t origin = packedPosition;
  const uint32_t length = segments[segmentIndex].size;
  WriteLiteralRunHeader(packedPosition, length);
  std::memcpy(packedBuffer.get() + packedPosition, rawBuffer.get() + segmentStart,
              length);
  packedPosition += length;
  std::memcpy(packedBuffer.get() + packedPosition, kEndMarker, sizeof kEndMarker);
  packedPosition += sizeof kEndMarker;
  return packedPosition - origin;
}

// Names the entry (name without its first basePath characters) and places
// it at the stream's position.
WriteStatus TukFile::StartEntry(IndexEntry& entry, const char* name) {
  const size_t nameLength = std::strlen(name);
  if (nameLength < basePathLength ||
      !SetEntryName(entry, name + basePathLength,
                    static_cast<uint32_t>(nameLength - basePathLength))) {
    return WriteStatus::NameTooLong;
  }
  const int64_t position = tukFileStream.Tell();
  if (position < 0) return WriteStatus::WriteFailed;
  entry.offset = static_cast<uint32_t>(position);
  return WriteStatus::Ok;
}

WriteStatus TukFile::AppendEncodedPayload(const EncodedPayload& payload) {
  IndexEntry entry;
  const WriteStatus started = StartEntry(entry, payload.name.c_str());
  if (started != WriteStatus::Ok) return started;
  const uint64_t storedSize = payload.StoredSize();
  // Offsets are 32-bit: a payload must end below 4 GiB.
  if (uint64_t{entry.offset} + storedSize > 0xFFFFFFFFu) return WriteStatus::ArchiveFull;
  for (const std::vector<uint8_t>& piece : payload.pieces) {
    if (!tukFileStream.Write(piece.data(), piece.size())) return WriteStatus::WriteFailed;
  }
  entry.size = payload.size;
  entry.storedSize = static_cast<uint32_t>(storedSize);
  if (writeChecksums) entry.checksum = payload.checksum;
  entries.Append(entry);
  return WriteStatus::Ok;
}

WriteStatus TukFile::StoreFilePayload(uint32_t size, const char* name) {
  if (mode == kModeSegmented && compressionLevel > 0) {
    try {
      CompressPipeline pipeline(compressionLevel, compressionThreads);
      pipeline.Submit(name, std::vector<uint8_t>(rawBuffer.get(), rawBuffer.get() + size));
      const EncodedPayload payload = pipeline.TakeOldest();
      return payload.complete ? AppendEncodedPayload(payload) : WriteStatus::NoMemory;
    } catch (const std::bad_alloc&) {
      return WriteStatus::NoMemory;
    }
  }
  IndexEntry entry;
  const WriteStatus started = StartEntry(entry, name);
  if (started != WriteStatus::Ok) return started;
  entry.size = currentSize;
  if (writeChecksums) entry.checksum = EntryChecksum(rawBuffer.get(), size);
  const uint64_t position = entry.offset;
  // Offsets are 32-bit: a payload must end below 4 GiB.
  auto fits = [position](uint64_t storedSize) {
    return position + storedSize <= 0xFFFFFFFFu;
  };

  if (mode == kModeSegmented && size > 0) {
    const uint32_t count = ((size - 1) >> kSegmentShift) + 1;
    const uint64_t tableBytes = 4 + static_cast<uint64_t>(count) * kSegmentInfoSize;
    const uint64_t streamBytes =
        size + static_cast<uint64_t>(count) * (kMaxCountBytes + sizeof kEndMarker);
    if (!fits(tableBytes + streamBytes)) return WriteStatus::ArchiveFull;
    if (!GrowPackedBuffer(streamBytes)) return WriteStatus::NoMemory;
    segments.reset(new (std::nothrow) SegmentInfo[count]);
    if (!segments) return WriteStatus::NoMemory;
    segmentCount = count;
    packedPosition = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t remaining = size - (i << kSegmentShift);
      segments[i].size = remaining >= kSegmentSize ? kSegmentSize : remaining;
      segments[i].offset = packedPosition;
      segments[i].packedSize = CompressSegment(i);
    }
    std::vector<uint8_t> table(static_cast<size_t>(tableBytes));
    WriteU32LE(table.data(), count);
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t* record = table.data() + 4 + static_cast<size_t>(i) * kSegmentInfoSize;
      WriteU32LE(record, segments[i].packedSize);
      WriteU32LE(record + 4, segments[i].size);
      WriteU32LE(record + 8, segments[i].offset);
    }
    segments.reset();
    if (!tukFileStream.Write(table.data(), table.size()) ||
        !tukFileStream.Write(packedBuffer.get(), packedPosition)) {
      return WriteStatus::WriteFailed;
    }
    entry.storedSize = static_cast<uint32_t>(tableBytes) + packedPosition;
  } else if (mode == kModeSegmented) {
    if (!fits(sizeof kEmptySegmentedPayload)) return WriteStatus::ArchiveFull;
    if (!tukFileStream.Write(kEmptySegmentedPayload,
                             sizeof kEmptySegmentedPayload)) {
      return WriteStatus::WriteFailed;
    }
    entry.storedSize = sizeof kEmptySegmentedPayload;
  } else {
    if (!fits(size)) return WriteStatus::ArchiveFull;
    if (!tukFileStream.Write(rawBuffer.get(), size)) {
      return WriteStatus::WriteFailed;
    }
    entry.storedSize = size;
  }

  entries.Append(entry);
  return WriteStatus::Ok;
}

}  // namespace tuk
