// Extracting whole archives.
#include "archive/legacy/extract_all.h"

#include <cstring>
#include <memory>
#include <vector>

#include "archive/legacy/messages.h"
#include "archive/legacy/report_lines.h"
#include "archive/legacy/tuk_file.h"
#include "archive/extract/extractor.h"

namespace tuk {

// Room on the destination on top of the archive's contents.
static constexpr uint32_t kFreeSpaceMarginMB = 16;

uint32_t freeDiskSpaceMB(const char* path) {
  uint64_t bytes = 0;
  if (!platform::FreeSpaceBytes(path, bytes)) return 0;
  return static_cast<uint32_t>(bytes >> 20);
}

uint32_t TukFile::ExtractAll(const char* strExtractPath) {
  if (strExtractPath == nullptr) return 2;
  if (!archiveFile_.IsOpen() && tukFileStream_openFail() != 0) {
    messages.TraceError("ERROR! Could not open .tuk file\n");
    return 3;
  }
  const uint32_t unpackedSize_MB = totalSize >> 20;
  messages.Trace("unpackedSize_MB: %u\n", unpackedSize_MB);
  const uint32_t required = unpackedSize_MB + kFreeSpaceMarginMB;
  if (required > freeDiskSpaceMB(strExtractPath)) {
    messages.TraceError("ERROR! Not enough free disk space. Requires:%u has free: %u\n",
               required, freeDiskSpaceMB(strExtractPath));
    return 7;
  }

  bool extracted = true;
  {
    Extractor& run = ExtractorFor(strExtractPath, Extractor::DefaultWorkers());
    for (uint32_t i = 0; i < entries.size() && extracted; ++i) {
      context.ShowStatus(entries[i].name.c_str());
      extracted = run.Extract(entries[i]);
    }
    extracted = run.Finish() && extracted;
  }
  extractor_.reset();
  uint32_t result = 0;
  if (!extracted) {
    messages.TraceError("ERROR! Could not extract file!\n");
    result = 5;
  }
  return result;
}

int unpackTukFiles(char* tukPattern, TukFile* archive,
                   const char* strExtractPath, const Context& context) {
  const Messages& messages = archive != nullptr ? archive->messages : context.messages;
  const char* star = std::strchr(tukPattern, '*');
  if (star == nullptr ||
      static_cast<size_t>(star - tukPattern) >= kPathBufferSize) {
    messages.TraceError("ERROR! unpackTukFiles() pattern has no '*'\n");
    return 2;
  }

  std::unique_ptr<TukFile> ownArchive;
  if (archive == nullptr) {
    ownArchive.reset(new (std::nothrow) TukFile(context));
    if (!ownArchive) return 2;
    archive = ownArchive.get();
  }

  // tmpPath holds the directory part; each archive's name goes in behind it.
  char tmpPath[kPathBufferSize] = {};
  const size_t insertionPoint = static_cast<size_t>(star - tukPattern);
  for (size_t i = 0; i < insertionPoint; ++i) {
    if (tukPattern[i] == '\\') tukPattern[i] = '/';
    tmpPath[i] = tukPattern[i];
  }
  tmpPath[insertionPoint] = '\0';

  messages.Trace("*** unpackTukFiles() tmpPath: %s\n", tmpPath);
  messages.Trace("         %s\n", tukPattern);

  int result = 0;
  try {
    std::vector<platform::DirEntry> found;
    const LegacyEnvironment environment(archive->context);
    environment.env().disk->List(tukPattern, found);
    for (const platform::DirEntry& item : found) {
      if (item.isDirectory || item.isSpecial) continue;
      if (insertionPoint + item.name.size() >= kPathBufferSize) {
        messages.TraceError("ERROR! Path too long: %s%s\n", tmpPath, item.name.c_str());
        result = 2;
        break;
      }
      std::memcpy(tmpPath + insertionPoint, item.name.c_str(),
                  item.name.size() + 1);
      archive->LoadIndex(tmpPath);
      const uint32_t extracted = archive->ExtractAll(strExtractPath);
      if (extracted != 0) {
        result = static_cast<int>(extracted);
        break;
      }
      if (archive->indexDamaged) {  // reported by LoadIndex
        result = 2;
        break;
      }
    }
  } catch (...) {
    result = 2;
    messages.TraceError("ERROR! unpackTukFiles() catch()\n");
  }

  ownArchive.reset();
  messages.Trace("END unpackTukFiles()%s\n", tukPattern);
  return result;
}

}  // namespace tuk
