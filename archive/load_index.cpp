// Reading an archive's header and index into the archive object.
#include <cstring>
#include <new>

#include "archive/messages.h"
#include "archive/tuk_file.h"

namespace tuk {
namespace {

// Reads the index through the archive stream, never past the end the file
// had when it was opened.
class IndexReader {
 public:
  IndexReader(platform::File& file, uint64_t position, uint64_t end)
      : file_(file), position_(position), end_(end) {}

  uint64_t Remaining() const { return end_ - position_; }

  bool ReadU32(uint32_t& value) {
    uint8_t bytes[4];
    if (!ReadBytes(bytes, sizeof bytes)) return false;
    value = ReadU32LE(bytes);
    return true;
  }

  bool ReadBytes(void* to, uint32_t length) {
    if (length > Remaining()) return false;
    if (file_.Read(to, length) != length) return false;
    position_ += length;
    return true;
  }

  bool Skip(uint64_t length) {
    if (length > Remaining() ||
        !file_.SeekFromCurrent(static_cast<int64_t>(length))) {
      return false;
    }
    position_ += length;
    return true;
  }

 private:
  platform::File& file_;
  uint64_t position_;
  const uint64_t end_;
};

}  // namespace

bool ArchiveIndexReadable(platform::File& file) {
  const int64_t length = file.Length();
  uint8_t header[8];
  if (length < kHeaderSize || !file.Seek(0) || file.Read(header, 8) != 8) {
    return false;
  }
  const uint64_t fileLength = static_cast<uint64_t>(length);
  const uint32_t offset = ReadU32LE(header);
  if (offset < kHeaderSize || offset >= fileLength || !file.Seek(offset)) {
    return false;
  }
  IndexReader reader(file, offset, fileLength);
  uint32_t count = 0;
  if (!reader.ReadU32(count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t nameLength = 0;
    if (!reader.ReadU32(nameLength) ||
        !reader.Skip(uint64_t{nameLength} + kIndexRecordFixedSize - 4)) {
      return false;
    }
  }
  return true;
}

uint32_t TukFile::tukFileStream_openFail() {
  tukFileStream.Abandon();
  return tukFileStream.Open(tuk_file_name, platform::File::Mode::Read) ? 0 : 2;
}

void TukFile::LoadIndex(const char* archivePath) {
  Trace("LoadIndex( \"%s\" )\n", archivePath != nullptr ? archivePath : "");
  if (archivePath != nullptr) {
    Trace("tuk_file_name: %s <- %s\n", tuk_file_name, archivePath);
    std::strncpy(tuk_file_name, archivePath, kPathBufferSize - 1);
    tuk_file_name[kPathBufferSize - 1] = '\0';
  }
  if (tukFileStream_openFail() != 0) {
    Trace("tukFileStream_openFail() \n");
    return;
  }

  const int64_t length = tukFileStream.Length();
  const uint64_t fileLength = length > 0 ? static_cast<uint64_t>(length) : 0;
  archiveSize = static_cast<uint32_t>(fileLength);
  indexDamaged = false;

  // A sound archive holds its header and, behind it inside the file, at
  // least the index's count and the trailer, even with no entries; a file
  // cut short, never finished or of another kind is damaged, never an
  // empty archive.
  uint8_t header[8];
  const bool headerRead = fileLength >= kHeaderSize && tukFileStream.Seek(0) &&
                          tukFileStream.Read(header, 8) == 8;
  if (headerRead) {
    indexOffset = ReadU32LE(header);
    mode = ReadU32LE(header + 4);
  }
  if (!headerRead || indexOffset < kHeaderSize || indexOffset >= fileLength) {
    indexDamaged = true;
  }

  totalSize = 0;
  uint32_t loaded = 0;
  if (!indexDamaged && tukFileStream.Seek(indexOffset)) {
    IndexReader reader(tukFileStream, indexOffset, fileLength);
    uint32_t count = 0;
    if (!reader.ReadU32(count)) {
      indexDamaged = true;
    } else {
      // Every record takes at least 28 bytes, so the file bounds how many
      // there can be, whatever the count claims; the array grows only with
      // the records actually read.
      const uint64_t possible = reader.Remaining() / kIndexRecordFixedSize;
      const uint32_t expected =
          count < possible ? count : static_cast<uint32_t>(possible);
      try {
        entries.Resize(0);
        while (loaded < expected) {
          entries.Resize(loaded + 1);
          IndexEntry& entry = entries.At(loaded);
          uint32_t nameLength = 0;
          if (!reader.ReadU32(nameLength) || nameLength > kMaxNameLength ||
              !reader.ReadBytes(entry.name, nameLength)) {
            break;
          }
          entry.name[nameLength] = '\0';
          entry.nameLength = nameLength;
          if (!reader.ReadU32(entry.storedSize) || !reader.ReadU32(entry.size) ||
              !reader.ReadU32(entry.offset) || !reader.Skip(kReservedSize)) {
            break;
          }
          totalSize += entry.size;
          ++loaded;
        }
      } catch (const std::bad_alloc&) {
        // An index too large for memory keeps what fitted, as damage does.
      }
      if (loaded < count) indexDamaged = true;
      // Keep one default entry behind the last, as the array always has.
      try {
        entries.Resize(loaded + 1);
        entries.At(loaded) = IndexEntry();
      } catch (const std::bad_alloc&) {
      }
    }
  }
  entries.count = loaded;
  if (indexDamaged) TraceError("ERROR! Damaged index in %s\n", tuk_file_name);
  tukFileStream.Abandon();
}

}  // namespace tuk
