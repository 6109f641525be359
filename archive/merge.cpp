// Carrying an old archive's entries over into the archive being written.
#include <cstring>
#include <string>

#include "archive/messages.h"
#include "archive/tuk_file.h"

namespace tuk {
namespace {

bool ReadU32(platform::File& file, uint32_t& value) {
  uint8_t bytes[4];
  if (file.Read(bytes, 4) != 4) return false;
  value = ReadU32LE(bytes);
  return true;
}

}  // namespace

// Copies length bytes from the old archive's position to the stream's,
// through the packed buffer. 0 when done, 1 on a short read, 2 on a failed
// write.
static int CopyPayload(platform::File& from, platform::File& to,
                       uint8_t* buffer, uint32_t capacity, uint32_t length) {
  while (length > 0) {
    const uint32_t piece = length < capacity ? length : capacity;
    if (from.Read(buffer, piece) != piece) return 1;
    if (!to.Write(buffer, piece)) return 2;
    length -= piece;
  }
  return 0;
}

WriteStatus TukFile::MergeOldEntries(platform::File& existing,
                                     bool& allCarried) {
  allCarried = true;
  uint32_t oldIndexOffset = 0;
  uint32_t count = 0;
  if (!existing.Seek(0) || !ReadU32(existing, oldIndexOffset) ||
      !existing.Seek(oldIndexOffset) || !ReadU32(existing, count)) {
    SayError("ERROR! Reading from existing .tuk file: %s\n", tuk_file_name);
    return WriteStatus::ReadFailed;
  }
  const int64_t existingLength = existing.Length();
  if (existingLength < 0) return WriteStatus::ReadFailed;
  if (!packedBuffer && !GrowPackedBuffer(kInitialPackedCapacity)) {
    return WriteStatus::NoMemory;
  }

  // Only the files packed now replace old entries: an old name listed
  // twice is carried over twice.
  const uint32_t packedCount = entries.count;
  std::string name;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length = 0;
    IndexEntry candidate;
    // An index that cannot be read to its end would lose the entries
    // behind the damage: the update stops instead.
    const int64_t here = existing.Tell();
    if (!ReadU32(existing, length) || here < 0 ||
        static_cast<uint64_t>(here) + 4 + length >
            static_cast<uint64_t>(existingLength)) {
      SayError("ERROR! Reading from existing .tuk file: %s\n", tuk_file_name);
      return WriteStatus::ReadFailed;
    }
    name.resize(length);
    if (existing.Read(&name[0], length) != length ||
        !ReadU32(existing, candidate.storedSize) ||
        !ReadU32(existing, candidate.size) ||
        !ReadU32(existing, candidate.offset) ||
        !existing.SeekFromCurrent(kReservedSize)) {
      SayError("ERROR! Reading from existing .tuk file: %s\n", tuk_file_name);
      return WriteStatus::ReadFailed;
    }

    if (length < prefixLength ||
        !SetEntryName(candidate, name.c_str() + prefixLength,
                      length - prefixLength)) {
      SayError("ERROR! Could not carry over: %s\n", name.c_str());
      allCarried = false;
      continue;
    }
    if (FindEntryByName(entries, candidate.name, candidate.nameLength) <
        packedCount) {
      continue;  // packed again: the new file replaces it
    }

    const int64_t nextRecord = existing.Tell();
    const int64_t position = tukFileStream.Tell();
    if (nextRecord < 0 || position < 0) return WriteStatus::WriteFailed;
    if (static_cast<uint64_t>(position) + candidate.storedSize > 0xFFFFFFFFu) {
      return WriteStatus::ArchiveFull;
    }
    const uint32_t oldOffset = candidate.offset;
    candidate.offset = static_cast<uint32_t>(position);
    const int copied =
        existing.Seek(oldOffset)
            ? CopyPayload(existing, tukFileStream, packedBuffer.get(),
                          packedCapacity, candidate.storedSize)
            : 1;
    if (copied == 1) {
      SayError("ERROR! Reading from existing .tuk file: %s\n", candidate.name);
      return WriteStatus::ReadFailed;
    }
    if (copied == 2) {
      SayError("ERROR! Writing to existing .tuk file: %s\n", candidate.name);
      return WriteStatus::WriteFailed;
    }
    entries.Append(candidate);
    if (!existing.Seek(static_cast<uint64_t>(nextRecord))) {
      return WriteStatus::ReadFailed;
    }
  }
  return WriteStatus::Ok;
}

}  // namespace tuk
