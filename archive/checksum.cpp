#include "archive/checksum.h"

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

void StoreChecksum(uint8_t (&reserved)[12], uint64_t checksum) {
  for (int i = 4; i < 12; ++i, checksum >>= 8) reserved[i] = static_cast<uint8_t>(checksum);
}

}  // namespace tuk
