// Replacing one entry of a loaded archive, or adding one, by rewriting the
// archive into a temporary file.
#include <cstring>
#include <string>

#include "archive/file_move.h"
#include "archive/status_sink.h"
#include "archive/tuk_file.h"

namespace tuk {
namespace {

// Copies length bytes from the current positions, in pieces of the buffer's
// capacity. False on a short read or a failed write.
bool CopyRange(platform::File& from, platform::File& to, uint8_t* buffer,
               uint32_t capacity, uint64_t length) {
  while (length > 0) {
    const uint32_t piece =
        length < capacity ? static_cast<uint32_t>(length) : capacity;
    if (from.Read(buffer, piece) != piece || !to.Write(buffer, piece)) {
      return false;
    }
    length -= piece;
  }
  return true;
}

}  // namespace

int32_t TukFile::AddReplaceFile(uint32_t index, uint32_t size,
                                const char* newName) {
  Status().ShowStatus("AddReplaceFile()");
  const bool adding = index == entries.count;
  if (index > entries.count || (adding && newName == nullptr) ||
      (mode != kModeStored && mode != kModeSegmented)) {
    return 1;
  }
  if (!packedBuffer && !GrowPackedBuffer(kInitialPackedCapacity)) return 1;
  currentSize = size;

  const std::string tempName = std::string(tuk_file_name) + ".tmp";
  platform::File temp;
  if (!temp.Open(tempName.c_str(), platform::File::Mode::Write)) {
    Status().ShowStatus("Error! Could not create Temp .tuk File!");
    return 1;
  }
  platform::File archive;
  if (!archive.Open(tuk_file_name, platform::File::Mode::Read)) {
    Status().ShowStatus("Error! Could not open .tuk File!");
    temp.Abandon();
    platform::RemoveFile(tempName.c_str());
    return 1;
  }

  // Everything changed in memory is put back unless the archive is replaced.
  const EntryList savedEntries = entries;
  const uint32_t savedIndexOffset = indexOffset;
  const uint32_t savedArchiveSize = archiveSize;
  const uint32_t savedBasePath = basePathLength;
  const uint32_t savedPrefixLength = prefixLength;
  const char* savedPrefix = prefix;
  basePathLength = 0;
  prefixLength = 0;
  prefix = "";

  auto fail = [&]() -> int32_t {
    tukFileStream.Abandon();
    archive.Abandon();
    platform::RemoveFile(tempName.c_str());
    entries = savedEntries;
    indexOffset = savedIndexOffset;
    archiveSize = savedArchiveSize;
    basePathLength = savedBasePath;
    prefixLength = savedPrefixLength;
    prefix = savedPrefix;
    return 1;
  };

  // The payload goes where the old one began, or, for a new entry, where
  // the index began.
  const uint32_t oldOffset = adding ? indexOffset : entries.At(index).offset;
  const uint32_t oldStored = adding ? 0 : entries.At(index).storedSize;
  const uint64_t oldEnd = static_cast<uint64_t>(oldOffset) + oldStored;
  if (oldOffset < kHeaderSize || oldEnd > indexOffset) return fail();

  Status().ShowStatus("  Please wait...");
  if (!archive.Seek(0) ||
      !CopyRange(archive, temp, packedBuffer.get(), packedCapacity, oldOffset)) {
    return fail();
  }

  Status().ShowStatus("  Inserting New File...");
  tukFileStream = std::move(temp);
  const char* name = adding ? newName : entries.At(index).name;
  const std::string nameCopy(name);
  if (StoreFilePayload(size, nameCopy.c_str()) != WriteStatus::Ok) return fail();
  const IndexEntry stored = entries.At(entries.Length() - 1);
  entries.PopBack();
  --entries.count;

  Status().ShowStatus("  Appending Remaining archives...");
  if (!archive.Seek(oldEnd) ||
      !CopyRange(archive, tukFileStream, packedBuffer.get(), packedCapacity,
                 indexOffset - oldEnd)) {
    return fail();
  }

  Status().ShowStatus("  Writing Index...");
  const uint32_t delta = stored.storedSize - oldStored;  // wraps when shorter
  if (adding) {
    entries.Resize(entries.count);
    entries.Append(stored);
  } else {
    // Every payload that began at or behind the old one's end has moved by
    // delta. That includes a payload starting where an empty replaced entry
    // stood: its bytes follow the new payload now.
    for (uint32_t i = 0; i < entries.count; ++i) {
      IndexEntry& entry = entries.At(i);
      if (i != index && entry.offset >= oldEnd) entry.offset += delta;
    }
    IndexEntry& replaced = entries.At(index);
    replaced.offset = stored.offset;
    replaced.size = stored.size;
    replaced.storedSize = stored.storedSize;
  }

  if (FinishArchive() != WriteStatus::Ok) return fail();
  archive.Close();

  Status().ShowStatus("  Moving file...");
  const int moved = kelMoveFile(tempName.c_str(), tuk_file_name);
  if (moved != 1 && moved != 0) {
    Status().ShowStatus("ERROR! Could not update .tuk!");
    return fail();
  }
  basePathLength = savedBasePath;
  prefixLength = savedPrefixLength;
  prefix = savedPrefix;
  totalSize = totalSize - (adding ? 0 : savedEntries.At(index).size) + size;
  Status().ShowStatus(".tuk was updated.");
  return 0;
}

}  // namespace tuk
