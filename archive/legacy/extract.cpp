// Extracting one entry: read (and decode) its payload, check its size,
// make its directories and write its file.
#include <cstring>

#include "archive/common/checksum.h"
#include "archive/legacy/decompression.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"

namespace tuk {

// A segmented payload yields at most 255 bytes per payload byte (the
// longest match an extended length can describe), so an entry claiming
// more cannot decode to its size and is refused before any allocation.
static constexpr uint64_t kMaxExpansion = 256;

bool TukFile::ReadEntryBytes(const IndexEntry& entry, uint32_t& countRead) {
  countRead = 0;
  const uint64_t available =
      entry.offset < archiveSize ? archiveSize - entry.offset : 0;

  if (mode == kModeStored) {
    // Up to storedSize bytes are read; a payload that cannot hold exactly
    // size bytes fails the size check without being read.
    const uint32_t readable = entry.storedSize < available
                                  ? entry.storedSize
                                  : static_cast<uint32_t>(available);
    if (readable != entry.size) {
      countRead = readable;
      return true;
    }
    if (!GrowRawBuffer(static_cast<uint64_t>(entry.size) + 1)) return false;
    rawBuffer[entry.size] = 0;
    if (tukFileStream.Seek(entry.offset)) {
      countRead = static_cast<uint32_t>(
          tukFileStream.Read(rawBuffer.get(), entry.size));
    }
    return true;
  }

  if (mode == kModeSegmented) {
    if (entry.storedSize > available ||
        entry.size > entry.storedSize * kMaxExpansion) {
      return true;
    }
    if (!GrowPackedBuffer(entry.storedSize) ||
        !GrowRawBuffer(static_cast<uint64_t>(entry.size) + 1)) {
      return false;
    }
    rawBuffer[entry.size] = 0;
    if (entry.storedSize == 0 || !tukFileStream.Seek(entry.offset)) return true;
    const size_t got = tukFileStream.Read(packedBuffer.get(), entry.storedSize);
    countRead = Decompression(packedBuffer.get(), static_cast<uint32_t>(got),
                              rawBuffer.get(), rawCapacity, messages);
    return true;
  }

  return true;  // no other mode defines a payload: nothing is read
}

std::string TukFile::PrepareEntryPath(const IndexEntry& entry, const char* strExtractPath,
                                      std::vector<std::string>* made) {
  const char* name = entry.name;
  if (extractionRoot != strExtractPath) {
    extractionRoot = strExtractPath;
    madeDirectories.clear();
  }
  // Paths are joined to the extraction directory rather than opened from
  // it as the working directory, which extraction never touches.
  std::string path = extractionRoot;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  const size_t rootLength = path.size();
  path.append(name, entry.nameLength);

  // Every '/' ends a directory of the entry's path; each is made once
  // per run, parents first.
  for (uint32_t i = 0; i < entry.nameLength; ++i) {
    if (name[i] != '/') continue;
    std::string directory(name, i);
    if (madeDirectories.insert(directory).second &&
        platform::CreateDir(path.substr(0, rootLength + i).c_str(), context.faults) &&
        made != nullptr) {
      made->push_back(std::move(directory));
    }
  }
  return path;
}

ExtractedWrite WriteExtractedFile(const std::string& path, const uint8_t* bytes,
                                  uint32_t size, platform::FaultPlan* faults) {
  platform::File out;
  if (!out.Open(path.c_str(), platform::File::Mode::WriteUnbuffered, faults)) {
    return ExtractedWrite::OpenFailed;
  }
  const bool written = out.Write(bytes, size);
  const bool closed = out.Close();
  if (written && closed) return ExtractedWrite::Written;
  // A file cut short must not pass for the entry.
  platform::RemoveFile(path.c_str());
  return ExtractedWrite::WriteFailed;
}

void ReportExtractedWrite(const Messages& messages, ExtractedWrite result, const char* name) {
  if (result == ExtractedWrite::OpenFailed) {
    messages.TraceError("ERROR! Could not write file: %s\n", name);
  } else if (result == ExtractedWrite::WriteFailed) {
    messages.TraceError("ERROR! Could not write: %s\n", name);
  }
}

bool TukFile::WriteEntryFile(const IndexEntry& entry,
                             const char* strExtractPath) {
  ExtractedWrite result = ExtractedWrite::WriteFailed;
  try {
    result = WriteExtractedFile(PrepareEntryPath(entry, strExtractPath), rawBuffer.get(),
                                entry.size, context.faults);
  } catch (...) {
  }
  ReportExtractedWrite(messages, result, entry.name);
  return result == ExtractedWrite::Written;
}

const IndexEntry* TukFile::EntryToExtract(uint32_t index) {
  if (index >= entries.size()) {
    messages.TraceError("ERROR! item out of range to extract! %u\n", index);
    return nullptr;
  }
  if (tukFileStream.IsOpen() && tukFileStream.Tell() < 0) {
    tukFileStream.Abandon();
  }
  if (!tukFileStream.IsOpen() && tukFileStream_openFail() != 0) {
    messages.TraceError("ERROR! Extract(), .tuk file not open!\n");
    return nullptr;
  }
  const IndexEntry& entry = entries.At(index);
  currentSize = entry.size;
  currentStoredSize = entry.storedSize;
  return &entry;
}

bool TukFile::ReadCheckedEntry(const IndexEntry& entry, bool checkChecksum) {
  uint32_t countRead = 0;
  if (!ReadEntryBytes(entry, countRead)) {
    messages.TraceError("ERROR! Not enough memory to extract: %s\n", entry.name);
    return false;
  }
  if (countRead != entry.size) {
    messages.TraceError("ERROR! Extract() fileSize: %u should be: %u\n", countRead,
               entry.size);
    return false;
  }
  if (checkChecksum && !ChecksumMatches(entry, rawBuffer.get())) {
    messages.TraceError("ERROR! Checksum mismatch: %s\n", entry.name);
    return false;
  }
  return true;
}

bool TukFile::ChecksumMatches(const IndexEntry& entry, const uint8_t* bytes) const {
  return !checkChecksums || entry.checksum == 0 || !ChecksumsAvailable() ||
         EntryChecksum(bytes, entry.size) == entry.checksum;
}

uint8_t* TukFile::Extract(uint32_t index, const char* strExtractPath) {
  const IndexEntry* found = EntryToExtract(index);
  if (found == nullptr) return nullptr;
  const IndexEntry& entry = *found;
  if (strExtractPath != nullptr && IsStreamed(entry)) {
    return ExtractStreamed(entry, strExtractPath) ? rawBuffer.get() : nullptr;
  }
  if (!ReadCheckedEntry(entry, true)) return nullptr;
  if (strExtractPath == nullptr) return rawBuffer.get();

  if (!IsSafeEntryName(entry.name, entry.nameLength)) {
    messages.TraceError("ERROR! Unsafe entry name: %s\n", entry.name);
    return nullptr;
  }
  if (!WriteEntryFile(entry, strExtractPath)) return nullptr;
  return rawBuffer.get();
}

uint8_t* TukFile::ExtractByName(const char* name, const char* strExtractPath) {
  messages.Trace("EXTRACTING BY NAME: %s\n", name);
  const uint32_t length = static_cast<uint32_t>(std::strlen(name));
  const uint32_t index = FindEntryByName(entries, name, length);
  if (index < entries.size()) return Extract(index, strExtractPath);
  messages.TraceError("  ERROR! Could not ExtractByName: %s\n\tName Not found!\n", name);
  return nullptr;
}

}  // namespace tuk
