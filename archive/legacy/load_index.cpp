// Reading an archive's header and index into the archive object.
#include <cstring>

#include "archive/format/index_io.h"
#include "archive/legacy/tuk_file.h"
#include "archive/extract/extractor.h"

namespace tuk {

uint32_t TukFile::tukFileStream_openFail() {
  extractor_.reset();  // it reads the file being closed
  return archiveFile_.Open(tuk_file_name) ? 0 : 2;
}

void TukFile::LoadIndex(const char* archivePath) {
  messages.Trace("LoadIndex( \"%s\" )\n", archivePath != nullptr ? archivePath : "");
  if (archivePath != nullptr) {
    messages.Trace("tuk_file_name: %s <- %s\n", tuk_file_name, archivePath);
    std::strncpy(tuk_file_name, archivePath, kPathBufferSize - 1);
    tuk_file_name[kPathBufferSize - 1] = '\0';
  }
  if (tukFileStream_openFail() != 0) {
    messages.Trace("tukFileStream_openFail() \n");
    return;
  }

  // The file stays open for the extractions that follow.
  Index index;
  indexDamaged = !ReadIndex(archiveFile_, index).ok();
  archiveSize = static_cast<uint32_t>(archiveFile_.Length());
  if (archiveFile_.Length() >= 8) {
    indexOffset = index.indexOffset();
    mode = index.mode();
  }
  // Entries are kept up to the first whose name passes 259 characters,
  // which counts as damage like a record cut short.
  totalSize = 0;
  entries.clear();
  for (const Entry& entry : index.entries()) {
    if (entry.name.size() > kMaxNameLength) {
      indexDamaged = true;
      break;
    }
    entries.push_back(entry);
    totalSize += entry.size;
  }
  if (indexDamaged) messages.TraceError("ERROR! Damaged index in %s\n", tuk_file_name);
}

}  // namespace tuk
