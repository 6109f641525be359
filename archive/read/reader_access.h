// What the library's own code may reach inside an ArchiveReader: its open
// file, so that extraction, copying entries into another archive and
// verifying read through the same file and index.
#pragma once

#include "archive/read/entry_bytes.h"
#include "tuk/archive_reader.h"

namespace tuk {

struct ReaderAccess {
  static const platform::RandomAccessFile& File(const ArchiveReader& reader);
};

inline EntrySource SourceOf(const ArchiveReader& reader) {
  return EntrySource{ReaderAccess::File(reader), reader.index().mode()};
}

}  // namespace tuk
