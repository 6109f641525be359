#include "archive/common/checksum.h"

#if defined(TUK_HAVE_XXHASH)
#if defined(TUK_XXHASH_INLINE)
#define XXH_INLINE_ALL  // the Windows build compiles xxHash in, header only
#endif
#include <xxhash.h>
#endif

namespace tuk {

#if defined(TUK_HAVE_XXHASH)
bool ChecksumsAvailable() { return true; }
uint64_t EntryChecksum(const uint8_t* data, size_t size) {
  return XXH3_64bits(data, size);
}
#else
bool ChecksumsAvailable() { return false; }
uint64_t EntryChecksum(const uint8_t*, size_t) { return 0; }
#endif

#if defined(TUK_HAVE_XXHASH)
struct ChecksumStream::State {
  XXH3_state_t* xxh = XXH3_createState();
  ~State() { XXH3_freeState(xxh); }
};
ChecksumStream::ChecksumStream() : state_(std::make_unique<State>()) {
  if (state_->xxh != nullptr) XXH3_64bits_reset(state_->xxh);
}
void ChecksumStream::Update(const uint8_t* data, size_t size) {
  if (state_->xxh != nullptr) XXH3_64bits_update(state_->xxh, data, size);
}
// A state that could not be made yields 0, which reads as "no checksum".
uint64_t ChecksumStream::Digest() const {
  return state_->xxh != nullptr ? XXH3_64bits_digest(state_->xxh) : 0;
}
#else
struct ChecksumStream::State {};
ChecksumStream::ChecksumStream() = default;
void ChecksumStream::Update(const uint8_t*, size_t) {}
uint64_t ChecksumStream::Digest() const { return 0; }
#endif
ChecksumStream::~ChecksumStream() = default;

}  // namespace tuk
