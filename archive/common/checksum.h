// The checksum tuk's writers keep in the last eight reserved bytes of an
// index record: XXH3-64 of the entry's original bytes. Zero means none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tuk {

// False when the build has no xxHash: checksums are then neither written
// nor checked.
bool ChecksumsAvailable();
// XXH3-64 of the bytes; 0 when checksums are not available.
uint64_t EntryChecksum(const uint8_t* data, size_t size);

// EntryChecksum of bytes that arrive in pieces: Digest() after Update()
// with every piece equals EntryChecksum of them all.
class ChecksumStream {
 public:
  ChecksumStream();
  ~ChecksumStream();
  ChecksumStream(const ChecksumStream&) = delete;
  ChecksumStream& operator=(const ChecksumStream&) = delete;

  void Update(const uint8_t* data, size_t size);
  uint64_t Digest() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tuk
