// Packing a source tree into a new archive, or rewriting an existing one
// with new files. Output goes to a temporary file whenever an archive
// already lies at the path, and replaces it only once complete.
#include "archive/legacy/pack.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/write/atomic_output.h"
#include "archive/common/checksum.h"
#include "archive/legacy/extract_all.h"
#include "archive/format/index_format.h"
#include "archive/write/source_scan.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"
#include "archive/write/writer_lock.h"

namespace tuk {

bool TukFile::NameFits(const char* path) {
  const size_t pathLength = std::strlen(path);
  if (pathLength >= basePathLength &&
      prefixLength + (pathLength - basePathLength) <= kMaxNameLength) {
    return true;
  }
  messages.SayError("ERROR! Name too long: %s\n", path);
  ++skippedInputs;
  return false;
}

AddStatus TukFile::OpenInput(const char* path, platform::File& input,
                             uint32_t& size) {
  if (!input.Open(path, platform::File::Mode::Read)) {
    messages.SayError("ERROR! inputFile: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  const int64_t measured = input.Length();
  // A size that cannot be taken reads as the largest 32-bit value.
  const uint64_t length = measured < 0 ? 0xFFFFFFFFu : static_cast<uint64_t>(measured);
  if (length >= kMaxInputFileSize) {
    messages.SayError("ERRROR! input file too big!: %llu\n",
             static_cast<unsigned long long>(length));
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  if (!NameFits(path)) return AddStatus::Skipped;
  size = static_cast<uint32_t>(length);
  return AddStatus::Added;
}

AddStatus TukFile::AddFile(const char* path) {
  platform::File input;
  uint32_t size = 0;
  if (OpenInput(path, input, size) != AddStatus::Added) return AddStatus::Skipped;
  if (size > kStreamThreshold && !(mode == kModeSegmented && compressionLevel > 0)) {
    return AddFileStreamed(path, input, size);
  }
  if (size >= rawCapacity && !GrowRawBuffer(uint64_t{size} + 512)) {
    messages.SayError("ERROR! Not enough memory for: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  currentSize = size;
  if (size > 0 && input.Read(rawBuffer.get(), currentSize) != size) {
    messages.SayError("ERROR! inputFile: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  input.Close();
  return StoreInputFile(path);
}

AddStatus TukFile::StoreInputFile(const char* path) {
  const WriteStatus stored = StoreFilePayload(currentSize, path);
  if (stored == WriteStatus::Ok) return AddStatus::Added;
  if (stored == WriteStatus::NameTooLong) {
    messages.SayError("ERROR! Name too long: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  lastFailure = stored;
  return AddStatus::Failed;
}

AddStatus TukFile::AddFileCompressed(const char* path, CompressPipeline& pipeline) {
  platform::File input;
  uint32_t size = 0;
  if (OpenInput(path, input, size) != AddStatus::Added) return AddStatus::Skipped;
  if (size > kStreamThreshold) return AddFileCompressedStreamed(path, input, size, pipeline);
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    messages.SayError("ERROR! Not enough memory for: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  if (size > 0 && input.Read(bytes.data(), size) != size) {
    messages.SayError("ERROR! inputFile: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  input.Close();
  try {
    pipeline.Submit(path, std::move(bytes));
  } catch (const std::bad_alloc&) {
    messages.SayError("ERROR! Not enough memory for: %s\n", path);
    ++skippedInputs;
    return AddStatus::Skipped;
  }
  return WriteCompressed(pipeline, false);
}

AddStatus TukFile::WriteCompressed(CompressPipeline& pipeline, bool all) {
  while (all ? !pipeline.Empty() : pipeline.Full()) {
    const EncodedPayload payload = pipeline.TakeOldest();
    const WriteStatus stored =
        payload.complete ? AppendEncodedPayload(payload) : WriteStatus::NoMemory;
    if (stored == WriteStatus::NameTooLong) {
      messages.SayError("ERROR! Name too long: %s\n", payload.name.c_str());
      ++skippedInputs;
    } else if (stored != WriteStatus::Ok) {
      lastFailure = stored;
      return AddStatus::Failed;
    }
  }
  return AddStatus::Added;
}

bool TukFile::WriteHeader() {
  const std::vector<uint8_t> header = PlaceholderHeader();
  return tukFileStream.Write(header.data(), header.size());
}

WriteStatus TukFile::FinishArchive() {
  const int64_t position = tukFileStream.Tell();
  if (position < 0) return WriteStatus::WriteFailed;
  indexOffset = static_cast<uint32_t>(position);
  const WriteStatus indexWritten = WriteIndex();
  if (indexWritten != WriteStatus::Ok) return indexWritten;
  if (!tukFileStream.WriteU32(0)) return WriteStatus::WriteFailed;
  const int64_t end = tukFileStream.Tell();
  if (end < 0 || !tukFileStream.Seek(0) || !tukFileStream.WriteU32(indexOffset) ||
      !tukFileStream.WriteU32(mode) || !tukFileStream.Close()) {
    return WriteStatus::WriteFailed;
  }
  archiveSize = static_cast<uint32_t>(end);
  return WriteStatus::Ok;
}

WriteStatus TukFile::WriteIndex() {
  context.ShowStatus("Writing Index...");
  const int64_t position = tukFileStream.Tell();
  if (position < 0) return WriteStatus::WriteFailed;

  uint64_t bytes = 4;
  for (uint32_t i = 0; i < entries.size(); ++i) {
    bytes += kIndexRecordFixedSize + prefixLength + entries.At(i).nameLength;
  }
  if (static_cast<uint64_t>(position) + bytes + kTrailerSize > 0xFFFFFFFFu) {
    return WriteStatus::ArchiveFull;
  }

  // The index goes out in pieces, so its size never matters for memory.
  constexpr size_t kPiece = 64 * 1024;
  std::vector<uint8_t> index(4);
  index.reserve(kPiece + kIndexRecordFixedSize + 2 * kPathBufferSize);
  WriteU32LE(index.data(), entries.size());
  const std::string_view prefixText(prefix != nullptr ? prefix : "", prefixLength);
  for (uint32_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& entry = entries.At(i);
    uint8_t reserved[12];
    std::memcpy(reserved, kReservedBytes, sizeof reserved);
    StoreChecksum(reserved, entry.checksum);
    AppendIndexRecord(index, prefixText, std::string_view(entry.name, entry.nameLength),
                      entry.storedSize, entry.size, entry.offset, reserved);
    if (index.size() >= kPiece) {
      if (!tukFileStream.Write(index.data(), index.size())) return WriteStatus::WriteFailed;
      index.clear();
    }
  }
  return tukFileStream.Write(index.data(), index.size()) ? WriteStatus::Ok
                                                         : WriteStatus::WriteFailed;
}

namespace {

// The directory that receives the archive, for the free-space check: the
// path cut before its last separator, or ".\" when there is none or it
// stands at position 0 or 1.
std::string DestinationDirectory(const char* archivePath) {
  const std::string path(archivePath);
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos || separator <= 1) return ".\\";
  return path.substr(0, separator);
}

void SayPathTooLong(const Messages& messages, const char* path) {
  messages.SayError("ERROR! Path too long: %s\n", path);
}

// Adds the gathered files in ten slices, asking the status receiver
// between slices whether to stop. False when the archive cannot be
// finished.
bool AddGatheredFiles(TukFile& archive, const GatheredFiles& files) {
  std::unique_ptr<CompressPipeline> pipeline;
  if (archive.mode == kModeSegmented && archive.compressionLevel > 0) {
    pipeline = std::make_unique<CompressPipeline>(archive.compressionLevel,
                                                  archive.compressionThreads);
  }
  const bool sizesKnown = files.sizesKept && files.sizes.size() == files.names.Count();
  auto add = [&](uint32_t i) {
    const char* path = files.names.Get(i);
    if (pipeline) return archive.AddFileCompressed(path, *pipeline);
    return sizesKnown ? archive.AddScannedFile(path, files.sizes[i]) : archive.AddFile(path);
  };
  auto finish = [&] {
    return !pipeline || archive.WriteCompressed(*pipeline, true) != AddStatus::Failed;
  };

  const uint32_t n = files.names.Count();
  const uint32_t q = n / 10;
  uint32_t next = 0;
  if (q > 0) {
    char progress[64] = "00 %";
    for (uint32_t slice = 0; slice < 10; ++slice) {
      progress[0] = static_cast<char>('0' + slice);
      archive.context.ShowStatus(progress);
      if (archive.context.IsCancelled()) return finish();
      for (uint32_t i = 0; i < q; ++i, ++next) {
        if (add(next) == AddStatus::Failed) return false;
      }
    }
  }
  if (archive.context.IsCancelled()) return finish();
  for (; next < n; ++next) {
    if (add(next) == AddStatus::Failed) return false;
  }
  if (!finish()) return false;
  archive.context.ShowStatus("100 %");
  return true;
}

void ReportFailure(const Messages& messages, WriteStatus status,
                   const char* archivePath) {
  if (status == WriteStatus::ArchiveFull) {
    messages.SayError("ERROR! .tuk file would exceed 4 GB\n");
  } else if (status == WriteStatus::WriteFailed ||
             status == WriteStatus::NoMemory) {
    messages.SayError("ERROR! Could not write .tuk file: %s\n", archivePath);
  }
  // ReadFailed was reported where the old archive was read.
}

}  // namespace

uint32_t packTukFiles(char* sourceDir, char* PackDirName,
                      const char* archivePath, int32_t update,
                      int32_t compress, PackOutcome* outcome,
                      const PackOptions* options, const Context& context) {
  const Messages& messages = context.messages;
  PackOutcome ignored;
  PackOutcome& result = outcome != nullptr ? *outcome : ignored;
  result = PackOutcome::Failed;
  // Without options new archives store files as they are; with a level
  // they are compressed.
  compress = options != nullptr && options->level > 0 ? 1 : 0;

  context.ShowStatus("Packing...");
  std::unique_ptr<TukFile> archiveObject(new (std::nothrow) TukFile(context));
  std::unique_ptr<GatheredFiles> files(new (std::nothrow) GatheredFiles());
  if (!archiveObject || !files) return 1;
  TukFile& archive = *archiveObject;
  if (options != nullptr) {
    archive.compressionLevel = options->level;
    archive.compressionThreads = options->threads;
    archive.writeChecksums = true;
  }

  for (const char* path : {static_cast<const char*>(sourceDir),
                           static_cast<const char*>(PackDirName), archivePath}) {
    if (std::strlen(path) >= kPathBufferSize) {
      SayPathTooLong(messages, path);
      return 1;
    }
  }

  const size_t sourceLength = std::strlen(sourceDir);
  archive.basePathLength = static_cast<uint32_t>(sourceLength);
  if (sourceLength > 0 && sourceDir[sourceLength - 1] != '/' &&
      sourceDir[sourceLength - 1] != '\\') {
    ++archive.basePathLength;
  }
  for (char* c = sourceDir; *c != '\0'; ++c) {
    if (*c == '\\') *c = '/';
  }

  // An empty PackDirName gives no prefix at all: a lone '/' would make
  // every name absolute.
  size_t prefixLength = std::strlen(PackDirName);
  if (prefixLength > 0 && PackDirName[prefixLength - 1] != '/' &&
      PackDirName[prefixLength - 1] != '\\') {
    PackDirName[prefixLength++] = '/';
    PackDirName[prefixLength] = '\0';
  }
  for (char* c = PackDirName; *c != '\0'; ++c) {
    if (*c == '\\') *c = '/';
  }
  archive.prefix = PackDirName;
  archive.prefixLength = static_cast<uint32_t>(prefixLength);
  std::strcpy(archive.tuk_file_name, archivePath);

  scanDirectory(*files, context, sourceDir);
  const uint32_t names = files->names.Count();
  messages.Say("TotalFiles: %u\n", names);
  messages.Say("  Uncompressed .tuk size (mb): %u\n", files->totalSize >> 20);

  const std::string tmpDestDirLoc = DestinationDirectory(archivePath);
  messages.Say("tmpDestDirLoc: %s\n", tmpDestDirLoc.c_str());

  if (names == 0) {
    context.ShowStatus("No files to pack..");
    return 1;
  }
  archive.entries.Reserve(names);

  // The real sum, not the 32-bit one, decides whether the disk has room.
  const uint64_t needed = (files->totalSize64 >> 20) * 2;
  if (needed > freeDiskSpaceMB(tmpDestDirLoc.c_str())) {
    context.ShowStatus("Not enough free disk space!");
    messages.Say("  Free Disk Space (mb): %u\n", freeDiskSpaceMB(tmpDestDirLoc.c_str()));
    return 1;
  }

  // From before the old archive is read until the new one is in place.
  const WriterLock lock(archivePath, messages);
  platform::File existing;
  if (update == 1 && !existing.Open(archivePath, platform::File::Mode::Read)) {
    update = 0;
  }
  if (update == 1 && !ArchiveIndexReadable(archivePath)) {
    messages.SayError("ERROR! Reading from existing .tuk file: %s\n", archivePath);
    return 1;
  }
  // Whatever lies at the archive path stays untouched until the new archive
  // is complete.
  AtomicOutput target(archivePath, context);
  platform::File output;
  if (!output.Open(target.name().c_str(), platform::File::Mode::Write, context.faults)) {
    char text[kPathBufferSize + 64];
    std::snprintf(text, sizeof text, "Error! Could not create .tuk file: %s",
                  archivePath);
    context.ShowStatus(text);
    return 1;
  }
  archive.tukFileStream = std::move(output);

  // Abandons the output: the stream is dropped, and the partial file goes
  // with target.
  auto fail = [&](WriteStatus status) -> uint32_t {
    ReportFailure(messages, status, archivePath);
    archiveObject.reset();
    return 1;
  };

  if (update == 1) {
    uint8_t modeBytes[4];
    archive.mode = 0;
    if (existing.Seek(4) && existing.Read(modeBytes, 4) == 4) {
      archive.mode = ReadU32LE(modeBytes);
    }
    existing.Seek(0);
    if (archive.mode != kModeStored && archive.mode != kModeSegmented) {
      messages.SayError("ERROR! Unknown .tuk mode: %u\n", archive.mode);
      return fail(WriteStatus::Ok);
    }
  } else {
    archive.mode = static_cast<uint32_t>(compress);
  }

  if (!archive.WriteHeader()) return fail(WriteStatus::WriteFailed);

  if (!AddGatheredFiles(archive, *files)) return fail(archive.lastFailure);

  bool allCarried = true;
  if (update == 1) {
    const WriteStatus merged = archive.MergeOldEntries(existing, allCarried);
    if (merged != WriteStatus::Ok) return fail(merged);
    existing.Close();
  }

  const WriteStatus finished = archive.FinishArchive();
  if (finished != WriteStatus::Ok) return fail(finished);

  const uint32_t entryCount = archive.entries.size();
  const bool complete = files->skipped == 0 && archive.skippedInputs == 0 && allCarried;
  archiveObject.reset();

  // With nothing packed, no archive is left, and whatever lay at the
  // archive path before stays as it was.
  if (entryCount == 0) return 0;
  if (!target.Commit()) {
    messages.SayError("ERROR! Could not write .tuk file: %s\n", archivePath);
    return 1;
  }

  char text[64];
  std::snprintf(text, sizeof text, "Files packed: %u", entryCount);
  context.ShowStatus(text);
  result = complete ? PackOutcome::Complete : PackOutcome::Incomplete;
  return entryCount;
}

uint32_t packByName(const char* name, int32_t compress, PackOutcome* outcome,
                    const Context& context) {
  const Messages& messages = context.messages;
  context.ShowStatus("Packing...");
  const std::string nameText(name);
  std::string sourceDir = "../" + nameText;
  std::string packDirName = nameText;
  const std::string archivePath = nameText + ".tuk";
  if (compress != 0) {
    auto equalsIgnoringCase = [&nameText](const char* word) {
      return nameText.size() == std::strlen(word) &&
             EqualIgnoringAsciiCase(nameText.c_str(), word,
                                    static_cast<uint32_t>(nameText.size()));
    };
    if (equalsIgnoringCase("sound")) {
      compress = 0;
      messages.Say("FORCING sound.tuk uncompressed\n");
    } else if (equalsIgnoringCase("music")) {
      compress = 0;
      messages.Say("FORCING music.tuk uncompressed\n");
    }
  }
  // Room for the '/' that PackDirName gets.
  sourceDir.push_back('\0');
  packDirName.append(2, '\0');
  packTukFiles(&sourceDir[0], &packDirName[0], archivePath.c_str(), 0, compress,
               outcome, nullptr, context);
  return 0;
}

}  // namespace tuk
