#include "platform/disk.h"

#include "platform/fault_injection.h"

namespace tuk::platform {
namespace {

class SystemDisk final : public Disk {
 public:
  bool Open(File& file, const char* path, File::Mode mode) const override {
    return file.Open(path, mode);
  }
  bool CreateDir(const char* path) const override { return platform::CreateDir(path); }
  bool MoveReplace(const char* from, const char* to) const override {
    return MoveFileReplace(from, to);
  }
  bool Sync(const char* path) const override { return SyncToDisk(path); }
  bool List(const char* pattern, std::vector<DirEntry>& entries) const override {
    return ListDirectory(pattern, entries);
  }
  NewFile WriteNew(const char* path, const void* bytes, size_t size) const override {
    return WriteNewFile(path, bytes, size);
  }
};

}  // namespace

const Disk& RealDisk() {
  static const SystemDisk disk;
  return disk;
}

bool FaultyDisk::Open(File& file, const char* path, File::Mode mode) const {
  return file.Open(path, mode, &plan_);
}
bool FaultyDisk::CreateDir(const char* path) const { return platform::CreateDir(path, &plan_); }
bool FaultyDisk::MoveReplace(const char* from, const char* to) const {
  return MoveFileReplace(from, to, &plan_);
}
bool FaultyDisk::Sync(const char* path) const { return SyncToDisk(path, &plan_); }
bool FaultyDisk::List(const char* pattern, std::vector<DirEntry>& entries) const {
  return ListDirectory(pattern, entries, &plan_);
}
NewFile FaultyDisk::WriteNew(const char* path, const void* bytes, size_t size) const {
  return WriteNewFile(path, bytes, size, &plan_);
}

}  // namespace tuk::platform
