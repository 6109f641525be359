// Writing a new archive: entries are appended in order, and Finish puts
// the archive in place. An archive that already lies at the path is
// replaced only by a complete new one: until Finish succeeds, it stays as
// it was, and a writer dropped without Finish leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tuk/archive_reader.h"
#include "tuk/events.h"
#include "tuk/status.h"

namespace tuk {

// The library's own: the disk it writes to (its tests make one that fails
// on purpose).
struct Environment;

struct WriterOptions {
  // Compression levels: 0 stores files as they are (mode 0); 1 (fastest)
  // to 9 (smallest) compress them (mode 1).
  static constexpr int kStore = 0, kFastest = 1, kDefault = 5, kSmallest = 9;

  int level = kDefault;
  // Threads that compress; 0 or 1 compresses on the caller's thread.
  unsigned threads = 1;
  // Hears what the writer reports (that it waits for another writer, a
  // failed move into place); none: nothing is told.
  Observer* observer = nullptr;
  // Left null: the real disk.
  const Environment* environment = nullptr;
};

class ArchiveWriter {
 public:
  ArchiveWriter();
  ~ArchiveWriter();
  ArchiveWriter(ArchiveWriter&&) noexcept;
  ArchiveWriter& operator=(ArchiveWriter&&) noexcept;

  Status Create(const std::string& path, const WriterOptions& options);

  // Appends an entry holding size bytes.
  Status AddBytes(const std::string& name, const uint8_t* data, size_t size);
  // Appends an entry holding a file's bytes, read block by block (memory
  // stays bounded whatever the file's size).
  Status AddFile(const std::string& name, const std::string& path);
  // Appends entry i of another archive under its own name, copying its
  // payload as it is when the modes agree and recoding it when not.
  Status AddEntryOf(const ArchiveReader& reader, size_t i);

  // Writes the index and puts the archive at its path.
  Status Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tuk
