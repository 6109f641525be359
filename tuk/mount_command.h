// tuk mount and tuk unmount: an archive as a read-only file system
// (libfuse3). Built only when libfuse3 is found (TUK_HAVE_MOUNT).
#pragma once

#include <cstdint>
#include <string>

namespace tuk {

struct MountOptions {
  std::string archive;
  std::string directory;
  bool foreground = false;              // serve in this process until unmounted
  uint64_t cacheBytes = 256ull << 20;   // decoded entries of a compressed archive
};

// Opens the archive, refuses it (exit 2, nothing mounted) when its index is
// damaged, mounts it on directory and serves it: in the background once the
// mount is ready (this call then returns 0 at once), or here until it is
// unmounted or interrupted.
int RunMount(const MountOptions& options);

// Unmounts a file system that tuk mount (or any FUSE program) made.
int RunUnmount(const std::string& directory);

}  // namespace tuk
