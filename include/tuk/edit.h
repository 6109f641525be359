// Changing an archive in place: replacing, adding, deleting or recoding its
// entries. Each change is written to a new file beside the archive, under
// the writer lock, and put in place only when complete: whatever fails, the
// archive stays as it was.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tuk/archive_writer.h"
#include "tuk/events.h"
#include "tuk/index.h"
#include "tuk/status.h"

namespace tuk {

struct EditOptions {
  int level = WriterOptions::kDefault;  // for what is compressed anew
  unsigned threads = 0;                 // 0: every core
  Observer* observer = nullptr;
  const Environment* environment = nullptr;
};

// Replaces the bytes of the entry name stands for (Index::Lookup) with the
// file's, or adds the entry behind the others when there is none; in a
// compressed archive the file is compressed at options.level. The file is
// read block by block, so memory stays bounded whatever its size.
Status ReplaceEntry(const std::string& archive, const std::string& name,
                    const std::string& file, const EditOptions& options = EditOptions());

// Rewrites the archive without the entries selected says to delete, the
// others' payloads copied as they are. deleted receives how many went.
Status DeleteEntries(const std::string& archive,
                     const std::function<bool(const Entry& entry)>& selected,
                     const EditOptions& options = EditOptions(), size_t* deleted = nullptr);

// Rewrites the archive with every entry stored as it is (level 0) or
// compressed at options.level; names, bytes and order stay. An entry whose
// bytes cannot be read, or do not match their checksum, fails the whole
// run.
Status Recompress(const std::string& archive, const EditOptions& options = EditOptions());

}  // namespace tuk
