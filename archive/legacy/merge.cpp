// Carrying an old archive's entries over into the archive being written.
#include <cstring>
#include <string>

#include "archive/common/checksum.h"
#include "archive/common/copy_bytes.h"
#include "archive/format/index_format.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"

namespace tuk {
WriteStatus TukFile::MergeOldEntries(platform::File& existing,
                                     bool& allCarried) {
  allCarried = true;
  // An index that cannot be read to its end would lose the entries behind
  // the damage: the update stops instead.
  platform::RandomAccessFile file;
  Index old;
  if (!file.Open(tuk_file_name) || !ReadIndex(file, old).ok()) {
    messages.SayError("ERROR! Reading from existing .tuk file: %s\n", tuk_file_name);
    return WriteStatus::ReadFailed;
  }
  if (!packedBuffer && !GrowPackedBuffer(kInitialPackedCapacity)) {
    return WriteStatus::NoMemory;
  }

  // Only the files packed now replace old entries: an old name listed
  // twice is carried over twice.
  const uint32_t packedCount = entries.size();
  for (const Entry& source : old.entries()) {
    const std::string& name = source.name;
    const uint32_t length = static_cast<uint32_t>(name.size());
    IndexEntry candidate;
    candidate.storedSize = source.storedSize;
    candidate.size = source.size;
    candidate.offset = source.offset;
    candidate.checksum = source.checksum();
    if (length < prefixLength ||
        !SetEntryName(candidate, name.c_str() + prefixLength,
                      length - prefixLength)) {
      messages.SayError("ERROR! Could not carry over: %s\n", name.c_str());
      allCarried = false;
      continue;
    }
    if (FindEntryByName(entries, candidate.name, candidate.nameLength) <
        packedCount) {
      continue;  // packed again: the new file replaces it
    }

    const int64_t position = tukFileStream.Tell();
    if (position < 0) return WriteStatus::WriteFailed;
    if (static_cast<uint64_t>(position) + candidate.storedSize > 0xFFFFFFFFu) {
      return WriteStatus::ArchiveFull;
    }
    const uint32_t oldOffset = candidate.offset;
    candidate.offset = static_cast<uint32_t>(position);
    const CopyResult copied =
        existing.Seek(oldOffset)
            ? CopyBytes(existing, tukFileStream, candidate.storedSize, packedBuffer.get(),
                        packedCapacity)
            : CopyResult::kShortRead;
    if (copied == CopyResult::kShortRead) {
      messages.SayError("ERROR! Reading from existing .tuk file: %s\n", candidate.name);
      return WriteStatus::ReadFailed;
    }
    if (copied == CopyResult::kWriteFailed) {
      messages.SayError("ERROR! Writing to existing .tuk file: %s\n", candidate.name);
      return WriteStatus::WriteFailed;
    }
    entries.Append(candidate);
  }
  return WriteStatus::Ok;
}

}  // namespace tuk
