// An archive's index: its mode and its entries in index order. Immutable
// once read; copies are cheap to share between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tuk {

// Payload modes.
enum class Mode : uint32_t {
  kStored = 0,      // the files' bytes as they are
  kSegmented = 1,   // segments of up to 32768 bytes in the LZO1X stream format
};

struct Entry {
  std::string name;  // '/' between components, as stored
  uint32_t storedSize = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
  // What this library writes: a marker, four zeros and the checksum (0:
  // none); read from an archive, whatever its writer put there.
  uint8_t reserved[12] = {0xE0, 0x21, 0x13, 0x00};

  // The XXH3-64 of the entry's bytes that tuk's writers keep in the last
  // eight reserved bytes; 0 when the entry carries none.
  uint64_t checksum() const {
    uint64_t value = 0;
    for (int i = 11; i >= 4; --i) value = value << 8 | reserved[i];
    return value;
  }
  void set_checksum(uint64_t value) {
    for (int i = 4; i < 12; ++i, value >>= 8) reserved[i] = static_cast<uint8_t>(value);
  }
};

class Index {
 public:
  Index() = default;
  Index(uint32_t mode, uint32_t indexOffset, std::vector<Entry> entries, bool complete)
      : mode_(mode), indexOffset_(indexOffset), entries_(std::move(entries)),
        complete_(complete) {}

  // The header's mode field, which may hold a value no payload form has.
  uint32_t mode() const { return mode_; }
  uint32_t indexOffset() const { return indexOffset_; }
  const std::vector<Entry>& entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  const Entry& operator[](size_t i) const { return entries_[i]; }
  // False when the index was damaged: the entries before the damage are
  // all there is.
  bool complete() const { return complete_; }

  uint64_t TotalSize() const;
  uint64_t TotalStoredSize() const;
  // The first entry whose name equals name by NamesEqual.
  std::optional<size_t> Find(std::string_view name) const;
  // The entry a name stands for where extraction leaves one file per name:
  // the last spelled exactly so, else the last equal by NamesEqual (the
  // later of two entries with one name is the one extracted last).
  std::optional<size_t> Lookup(std::string_view name) const;

 private:
  uint32_t mode_ = 0;
  uint32_t indexOffset_ = 0;
  std::vector<Entry> entries_;
  bool complete_ = true;
};

// The rule every lookup by name follows: equal length, and equal bytes
// with A-Z taken as a-z.
bool NamesEqual(std::string_view a, std::string_view b);

// Whether name stays inside the directory it is extracted into: not
// absolute ('/' or '\' first, or a drive letter and ':'), no ".."
// component ('/' and '\' both separate), and no NUL.
bool IsSafeName(std::string_view name);

}  // namespace tuk
