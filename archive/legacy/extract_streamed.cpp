// Extracting an entry too big to hold in memory: its bytes are read (and
// decoded) block by block and written as they come. What is reported, and
// what is left on disk after a failure, match extracting it whole.
#include <string>
#include <vector>

#include "archive/common/checksum.h"
#include "archive/read/entry_stream.h"
#include "archive/legacy/messages.h"
#include "archive/common/system_copy.h"
#include "archive/legacy/tuk_file.h"

namespace tuk {

// Must match ReadEntryBytes's limit.
static constexpr uint64_t kMaxExpansion = 256;

bool TukFile::IsStreamed(const IndexEntry& entry) const {
  return (mode == kModeStored || mode == kModeSegmented) &&
         (entry.size > kStreamThreshold || entry.storedSize > kStreamThreshold);
}

namespace {

struct ReadOutcome {
  StreamedBytes bytes;
  bool checksumMatches = true;
};

}  // namespace

void TukFile::RemoveEntryFile(const std::string& path, const std::vector<std::string>& made) {
  platform::RemoveFile(path.c_str());
  for (auto directory = made.rbegin(); directory != made.rend(); ++directory) {
    std::string full = extractionRoot;
    if (!full.empty() && full.back() != '/' && full.back() != '\\') full += '/';
    platform::RemoveDir((full + *directory).c_str());
    madeDirectories.erase(*directory);
  }
}

bool TukFile::ExtractStreamed(const IndexEntry& entry, const char* strExtractPath) {
  const uint64_t available = entry.offset < archiveSize ? archiveSize - entry.offset : 0;
  // Payloads that cannot yield the entry's size are refused unread, as
  // ReadEntryBytes refuses them.
  uint32_t refusedCount = 0;
  bool refused = false;
  if (mode == kModeStored) {
    refusedCount = entry.storedSize < available ? entry.storedSize
                                                : static_cast<uint32_t>(available);
    refused = refusedCount != entry.size;
  } else {
    refused = entry.storedSize > available ||
              entry.size > uint64_t{entry.storedSize} * kMaxExpansion || entry.storedSize == 0;
  }
  if (refused) {
    messages.TraceError("ERROR! Extract() fileSize: %u should be: %u\n", refusedCount, entry.size);
    return false;
  }

  const bool verify = checkChecksums && entry.checksum != 0 && ChecksumsAvailable();
  // A whole entry's capacity: the raw buffer grown to hold it and its NUL.
  const uint64_t capacity =
      uint64_t{entry.size} + 1 > rawCapacity ? uint64_t{entry.size} + 1 : rawCapacity;
  auto read = [&](const ByteSink& sink) {
    ReadOutcome outcome;
    ChecksumStream checksum;
    const ByteSink checked = [&](const uint8_t* data, size_t length) {
      if (verify) checksum.Update(data, length);
      return sink(data, length);
    };
    outcome.bytes = mode == kModeStored
                        ? StreamStoredPayload(tukFileStream, entry.offset, entry.size, checked)
                        : StreamSegmentedPayload(tukFileStream, entry.offset, entry.storedSize,
                                                 entry.size, capacity, checked);
    outcome.checksumMatches = !verify || checksum.Digest() == entry.checksum;
    return outcome;
  };
  // Reports a read that did not give the entry's bytes, as Extract does.
  auto reportUnread = [&](const ReadOutcome& outcome) {
    const StreamedBytes& bytes = outcome.bytes;
    if (bytes.error != DecodeError::None && bytes.error != DecodeError::ReservedInstruction &&
        mode == kModeSegmented) {
      messages.TraceError("ERROR! CRASH  Decompression()!\n");
    }
    if (bytes.countRead != entry.size) {
      messages.TraceError("ERROR! Extract() fileSize: %u should be: %u\n", bytes.countRead, entry.size);
      return true;
    }
    if (!outcome.checksumMatches) {
      messages.TraceError("ERROR! Checksum mismatch: %s\n", entry.name);
      return true;
    }
    return false;
  };
  const ByteSink discard = [](const uint8_t*, size_t) { return true; };

  try {
    const bool safe = IsSafeEntryName(entry.name, entry.nameLength);
    std::string path;
    if (safe) {
      path = strExtractPath;
      if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
      path.append(entry.name, entry.nameLength);
    }
    // A damaged entry must leave a file already at its path as it was, and
    // an unsafe name is refused only once the bytes were found sound: in
    // both cases the entry is read through once before anything is written.
    const bool mayFailLate = mode == kModeSegmented || verify;
    if (!safe || (mayFailLate && platform::PathExists(path.c_str()))) {
      if (reportUnread(read(discard))) return false;
      if (!safe) {
        messages.TraceError("ERROR! Unsafe entry name: %s\n", entry.name);
        return false;
      }
    }

    std::vector<std::string> made;
    path = PrepareEntryPath(entry, strExtractPath, &made);
    platform::File out;
    if (!out.Open(path.c_str(), platform::File::Mode::WriteUnbuffered, context.faults)) {
      messages.TraceError("ERROR! Could not write file: %s\n", entry.name);
      return false;
    }
    // A stored payload passes through unchanged: the system copies it
    // (planned faults watch only the block road).
    bool copied = false;
    if (mode == kModeStored && context.faults == nullptr) {
      const SystemCopy copy = CopyInSystem(tukFileStream, entry.offset, entry.size, out, verify);
      copied = copy.copied == int64_t{entry.size} && (!verify || copy.checked);
      if (copied && verify && copy.checksum != entry.checksum) {
        out.Abandon();
        RemoveEntryFile(path, made);
        messages.TraceError("ERROR! Checksum mismatch: %s\n", entry.name);
        return false;
      }
      // Cut short, or not checked: the block road starts over and reports
      // what fails.
      if (!copied && copy.copied > 0 && !(out.Seek(0) && out.Truncate())) out.Abandon();
    }
    if (!copied) {
      const ReadOutcome outcome =
          read([&out](const uint8_t* data, size_t length) { return out.Write(data, length); });
      if (outcome.bytes.sinkStopped) {
        out.Abandon();
        platform::RemoveFile(path.c_str());
        messages.TraceError("ERROR! Could not write: %s\n", entry.name);
        return false;
      }
      if (outcome.bytes.countRead != entry.size || !outcome.checksumMatches) {
        // Found damaged only while writing: nothing of the entry stays, not
        // even the directories made for it.
        out.Abandon();
        RemoveEntryFile(path, made);
        reportUnread(outcome);
        return false;
      }
    }
    if (out.Close()) return true;
    platform::RemoveFile(path.c_str());
  } catch (...) {
  }
  messages.TraceError("ERROR! Could not write: %s\n", entry.name);
  return false;
}

}  // namespace tuk
