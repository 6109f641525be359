// Changing an existing archive: always by writing a new one beside it
// (AtomicOutput) and putting it in place only when complete. The caller
// holds the writer lock and has read the index it hands in under it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/common/environment.h"
#include "archive/read/entry_bytes.h"
#include "archive/write/atomic_output.h"
#include "archive/write/entry_writer.h"
#include "tuk/index.h"
#include "tuk/status.h"

namespace tuk {

// Adds one entry's new payload through the writer it is handed.
using AddPayload = std::function<Status(EntryWriter& writer, const std::string& name)>;

// Replaces the payload of entries[index] (or, with index == entries.size(),
// adds an entry named name behind the others) in the archive at path,
// whose mode and index offset are given: the bytes before the payload and
// those after it up to the index are copied as they are, the new payload
// is written between them, and the entries behind it are moved by the
// difference. entries and indexOffset hold the new index once it
// succeeds. Failures are reported only where the move into place reports
// its own.
Status ReplaceInPlace(const std::string& path, uint32_t mode, uint32_t& indexOffset,
                      std::vector<Entry>& entries, size_t index, const std::string& name,
                      const AddPayload& addNew, const PayloadSettings& settings,
                      const Environment& env);

// Writes to target the archive read through source with the entries kept
// says to keep, in index order, behind a new header: their payloads copied
// as they are when settings keep the mode and keepPayloads is set, else
// their bytes (checked against their checksums) encoded anew. removed, when
// given, receives how many entries were left out. The caller commits
// target once it has closed the archive source reads (Windows does not
// move a file over one that is open).
Status RewriteKeeping(const AtomicOutput& target, const EntrySource& source, const Index& index,
                      const std::function<bool(size_t)>& kept, const PayloadSettings& settings,
                      bool keepPayloads, const Environment& env, size_t* removed = nullptr);

}  // namespace tuk
