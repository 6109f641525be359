// Reading an archive's header and index into the archive object.
#include <cstring>
#include <new>

#include "archive/common/checksum.h"
#include "archive/format/index_format.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"

namespace tuk {

bool ArchiveIndexReadable(const char* path) {
  platform::RandomAccessFile file;
  Index index;
  return file.Open(path) && ReadIndex(file, index).ok();
}

uint32_t TukFile::tukFileStream_openFail() {
  tukFileStream.Abandon();
  return tukFileStream.Open(tuk_file_name, platform::File::Mode::Read) ? 0 : 2;
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
  tukFileStream.Abandon();

  platform::RandomAccessFile file;
  Index index;
  indexDamaged = !file.Open(tuk_file_name) || !ReadIndex(file, index).ok();
  archiveSize = static_cast<uint32_t>(file.Length());
  if (file.Length() >= 8) {
    indexOffset = index.indexOffset();
    mode = index.mode();
  }

  // Entries are kept up to the first that does not fit the name field,
  // which counts as damage like a record cut short.
  totalSize = 0;
  try {
    entries.Clear();
    entries.Reserve(static_cast<uint32_t>(index.size()));
    for (const Entry& source : index.entries()) {
      IndexEntry entry;
      if (!SetEntryName(entry, source.name.data(), static_cast<uint32_t>(source.name.size()))) {
        indexDamaged = true;
        break;
      }
      entry.storedSize = source.storedSize;
      entry.size = source.size;
      entry.offset = source.offset;
      entry.checksum = source.checksum();
      entries.Append(entry);
      totalSize += entry.size;
    }
  } catch (const std::bad_alloc&) {
    indexDamaged = true;
  }
  if (indexDamaged) messages.TraceError("ERROR! Damaged index in %s\n", tuk_file_name);
}

}  // namespace tuk
