// Reading an archive: its index, and any entry's bytes. One reader may be
// used by any number of threads at once: every read is positional and uses
// only the caller's buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tuk/index.h"
#include "tuk/segment_cache.h"
#include "tuk/status.h"

namespace tuk {

class ArchiveReader {
 public:
  ArchiveReader();
  ~ArchiveReader();
  ArchiveReader(ArchiveReader&&) noexcept;
  ArchiveReader& operator=(ArchiveReader&&) noexcept;

  // Opens the archive and reads its index. kDamaged when the file is not a
  // whole archive; the entries before a damaged place are still readable.
  Status Open(const std::string& path);
  const Index& index() const;
  // The archive file's length when it was opened, and its path.
  uint64_t FileSize() const;
  const std::string& path() const;

  // Reads entry i's bytes, decoded, into bytes (replacing what it held).
  // kDamaged when they do not match the checksum the entry carries.
  Status Read(size_t i, std::vector<uint8_t>& bytes) const;
  // The same without comparing the checksum, for tools that tell a payload
  // that cannot be decoded from bytes that changed.
  Status ReadUnverified(size_t i, std::vector<uint8_t>& bytes) const;
  // The same, handing the bytes to sink piece by piece in order, through a
  // few fixed buffers whatever the entry's size; a sink that returns a
  // failure stops the read with it. A checksum mismatch is known, and
  // returned, only at the end, after the sink has had the bytes.
  using Sink = std::function<Status(const uint8_t* data, size_t length)>;
  Status Read(size_t i, const Sink& sink) const;
  // Entry i's payload as it is stored.
  Status ReadPayload(size_t i, std::vector<uint8_t>& payload) const;
  // Up to length bytes of entry i from offset within it, read in place with
  // one positional read; got says how many (fewer only past the entry's
  // end). Stored (mode-0) archives only: kInvalidArgument in any other, whose
  // entries are read whole with Read. No checksum is compared; kIo when the
  // file no longer holds the bytes its index promised.
  Status ReadStoredAt(size_t i, uint64_t offset, uint8_t* buffer, size_t length,
                      size_t& got) const;
  // Up to length bytes of entry i from offset within it, in an archive of
  // either mode; got says how many (fewer only past the entry's end).
  // Stored entries are read in place. A compressed entry is decoded only
  // as far as the range needs: the segments it covers, each from the one
  // before it, which cache supplies when it holds it (without a cache,
  // from the entry's start). Its checksum is compared once cache has seen
  // every segment decoded in order: a mismatch fails that read and every
  // later one through the cache. kDamaged when the payload does not yield
  // the bytes; kIo when the file no longer holds them.
  Status ReadAt(size_t i, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
                SegmentCache* cache = nullptr) const;

 private:
  friend struct ReaderAccess;  // the library's own code reads through the same file
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tuk
