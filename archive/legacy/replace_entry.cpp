// Replacing one entry of a loaded archive, or adding one, by rewriting the
// archive into a temporary file.
#include <cstring>
#include <string>

#include "archive/common/copy_bytes.h"
#include "archive/write/atomic_output.h"
#include "archive/legacy/tuk_file.h"

namespace tuk {
int32_t TukFile::AddReplaceFile(uint32_t index, uint32_t size,
                                const char* newName) {
  context.ShowStatus("AddReplaceFile()");
  const bool adding = index == entries.size();
  if (index > entries.size() || (adding && newName == nullptr) ||
      (mode != kModeStored && mode != kModeSegmented)) {
    return 1;
  }
  if (!packedBuffer && !GrowPackedBuffer(kInitialPackedCapacity)) return 1;
  currentSize = size;

  AtomicOutput target(tuk_file_name, context);
  platform::File temp;
  if (!temp.Open(target.name().c_str(), platform::File::Mode::Write, context.faults)) {
    context.ShowStatus("Error! Could not create Temp .tuk File!");
    return 1;
  }
  platform::File archive;
  if (!archive.Open(tuk_file_name, platform::File::Mode::Read)) {
    context.ShowStatus("Error! Could not open .tuk File!");
    temp.Abandon();
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

  context.ShowStatus("  Please wait...");
  if (!archive.Seek(0) ||
      CopyBytes(archive, temp, oldOffset, packedBuffer.get(), packedCapacity) !=
          CopyResult::kDone) {
    return fail();
  }

  context.ShowStatus("  Inserting New File...");
  tukFileStream = std::move(temp);
  const char* name = adding ? newName : entries.At(index).name;
  const std::string nameCopy(name);
  if (StoreFilePayload(size, nameCopy.c_str()) != WriteStatus::Ok) return fail();
  const IndexEntry stored = entries.Back();
  entries.PopBack();

  context.ShowStatus("  Appending Remaining archives...");
  if (!archive.Seek(oldEnd) ||
      CopyBytes(archive, tukFileStream, indexOffset - oldEnd, packedBuffer.get(),
                packedCapacity) != CopyResult::kDone) {
    return fail();
  }

  context.ShowStatus("  Writing Index...");
  const uint32_t delta = stored.storedSize - oldStored;  // wraps when shorter
  if (adding) {
    entries.Append(stored);
  } else {
    // Every payload that began at or behind the old one's end has moved by
    // delta. That includes a payload starting where an empty replaced entry
    // stood: its bytes follow the new payload now.
    for (uint32_t i = 0; i < entries.size(); ++i) {
      IndexEntry& entry = entries.At(i);
      if (i != index && entry.offset >= oldEnd) entry.offset += delta;
    }
    IndexEntry& replaced = entries.At(index);
    replaced.offset = stored.offset;
    replaced.size = stored.size;
    replaced.storedSize = stored.storedSize;
    replaced.checksum = stored.checksum;
  }

  if (FinishArchive() != WriteStatus::Ok) return fail();
  archive.Close();

  context.ShowStatus("  Moving file...");
  if (!target.Commit()) {
    context.ShowStatus("ERROR! Could not update .tuk!");
    return fail();
  }
  basePathLength = savedBasePath;
  prefixLength = savedPrefixLength;
  prefix = savedPrefix;
  totalSize = totalSize - (adding ? 0 : savedEntries.At(index).size) + size;
  context.ShowStatus(".tuk was updated.");
  return 0;
}

}  // namespace tuk
