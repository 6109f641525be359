// Storing one file's bytes as a payload: as they are (mode 0), or as
// segments of one literal run each in the LZO1X stream format (mode 1).
#include <cstring>
#include <new>
#include <vector>

#include "archive/common/checksum.h"
#include "archive/legacy/tuk_file.h"
#include "codec/encoder.h"
#include "codec/literal_runs.h"

namespace tuk {
namespace {

// The payload of an empty file in mode 1: one segment whose stream is the
// empty literal count and the end marker.
constexpr uint8_t kEmptySegmentedPayload[20] = {
    0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x11, 0x00, 0x00};

}  // namespace

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
    const uint64_t streamBytes = LiteralRunStreamsBound(size);
    if (!fits(tableBytes + streamBytes)) return WriteStatus::ArchiveFull;
    if (!GrowPackedBuffer(streamBytes)) return WriteStatus::NoMemory;
    std::vector<uint32_t> streamLengths;
    uint32_t streamsLength = 0;
    std::vector<uint8_t> table;
    try {
      streamLengths.reserve(count);
      streamsLength = EncodeLiteralRuns(rawBuffer.get(), size, packedBuffer.get(), streamLengths);
      table = SegmentTable(size, streamLengths);
    } catch (const std::bad_alloc&) {
      return WriteStatus::NoMemory;
    }
    if (!tukFileStream.Write(table.data(), table.size()) ||
        !tukFileStream.Write(packedBuffer.get(), streamsLength)) {
      return WriteStatus::WriteFailed;
    }
    entry.storedSize = static_cast<uint32_t>(tableBytes) + streamsLength;
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
