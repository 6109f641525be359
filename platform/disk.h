// The operations on files by name that the library's readers, writers and
// extraction need, behind one interface, as ninja's DiskInterface: the real
// disk (RealDisk), or in tests the real disk with a plan of operations that
// fail (FaultyDisk, fault_injection.h). A Disk holds no state of its own
// and may be used by any number of threads at once.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/platform.h"

namespace tuk::platform {

class Disk {
 public:
  virtual ~Disk() = default;

  // File::Open; a file opened for writing carries the disk's faults into
  // its writes, flushes, copies and close.
  virtual bool Open(File& file, const char* path, File::Mode mode) const = 0;
  virtual bool CreateDir(const char* path) const = 0;
  virtual bool MoveReplace(const char* from, const char* to) const = 0;
  virtual bool Sync(const char* path) const = 0;
  virtual bool List(const char* pattern, std::vector<DirEntry>& entries) const = 0;
  virtual NewFile WriteNew(const char* path, const void* bytes, size_t size) const = 0;
};

// The operating system's files, unwatched.
const Disk& RealDisk();

}  // namespace tuk::platform
