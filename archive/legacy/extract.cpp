// Extracting one entry: the legacy checks and lines around the engine's
// extraction.
#include <cstring>

#include "archive/legacy/report_lines.h"
#include "archive/legacy/tuk_file.h"
#include "archive/extract/extractor.h"

namespace tuk {

Extractor& TukFile::ExtractorFor(const char* root, unsigned workers) {
  if (!extractor_ || extractor_->settings().root != root ||
      extractor_->settings().workers != workers ||
      extractor_->settings().verifyChecksums != checkChecksums) {
    // Directories already made below a root are made once per run.
    extractor_.reset();
    ExtractSettings settings;
    settings.root = root;
    settings.verifyChecksums = checkChecksums;
    settings.workers = workers;
    extractor_ = std::make_unique<Extractor>(EntrySource{archiveFile_, mode}, settings,
                                             Env());
  }
  return *extractor_;
}

const Entry* TukFile::EntryToExtract(uint32_t index) {
  if (index >= entries.size()) {
    messages.TraceError("ERROR! item out of range to extract! %u\n", index);
    return nullptr;
  }
  if (!archiveFile_.IsOpen() && tukFileStream_openFail() != 0) {
    messages.TraceError("ERROR! Extract(), .tuk file not open!\n");
    return nullptr;
  }
  const Entry& entry = entries[index];
  currentSize = entry.size;
  currentStoredSize = entry.storedSize;
  return &entry;
}

uint8_t* TukFile::Extract(uint32_t index, const char* strExtractPath) {
  const Entry* entry = EntryToExtract(index);
  if (entry == nullptr) return nullptr;
  if (strExtractPath != nullptr) {
    return ExtractorFor(strExtractPath, 0).Extract(*entry) ? rawBuffer.get() : nullptr;
  }
  GrowingBuffer buffer{std::move(rawBuffer), rawCapacity};
  const bool read = Extractor::ReadChecked(EntrySource{archiveFile_, mode}, *entry, buffer,
                                           payload_, checkChecksums, Env());
  rawBuffer = std::move(buffer.bytes);
  rawCapacity = buffer.capacity;
  return read ? rawBuffer.get() : nullptr;
}

uint8_t* TukFile::ExtractByName(const char* name, const char* strExtractPath) {
  messages.Trace("EXTRACTING BY NAME: %s\n", name);
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (NamesEqual(entries[i].name, name)) return Extract(i, strExtractPath);
  }
  messages.TraceError("  ERROR! Could not ExtractByName: %s\n\tName Not found!\n", name);
  return nullptr;
}

}  // namespace tuk
