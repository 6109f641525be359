// POSIX side of the platform layer.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/fault_injection.h"
#include "platform/native_path.h"
#include "platform/platform.h"

namespace tuk::platform {

std::string NativePath(const char* path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

bool GetCurrentDir(std::string& path) {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return false;
  path = buffer;
  return true;
}

bool SetCurrentDir(const char* path) {
  return chdir(NativePath(path).c_str()) == 0;
}

bool CreateDir(const char* path, FaultPlan* faults) {
  if (ShouldFail(faults, faults::Op::CreateDir, faults != nullptr ? path : "")) return false;
  return mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool IsDirectory(const char* path) {
  struct stat st;
  return stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const char* path) {
  return unlink(NativePath(path).c_str()) == 0;
}

bool RemoveDir(const char* path) { return rmdir(NativePath(path).c_str()) == 0; }

bool PathExists(const char* path) {
  struct stat st;
  return lstat(NativePath(path).c_str(), &st) == 0;
}

PathKind KindOf(const char* path) {
  struct stat st;
  if (lstat(NativePath(path).c_str(), &st) != 0) return PathKind::kNone;
  if (S_ISLNK(st.st_mode)) return PathKind::kLink;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return S_ISREG(st.st_mode) ? PathKind::kFile : PathKind::kOther;
}

bool ModifiedNs(const char* path, int64_t& ns) {
  struct stat st;
  if (stat(NativePath(path).c_str(), &st) != 0) return false;
  ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

bool MoveFileReplace(const char* from, const char* to, FaultPlan* faults) {
  if (ShouldFail(faults, faults::Op::Rename, faults != nullptr ? std::string(from) + "\n" + to : "")) return false;
  return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool SyncToDisk(const char* path, FaultPlan* faults) {
  if (ShouldFail(faults, faults::Op::Sync, faults != nullptr ? path : "")) return false;
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

bool FreeSpaceBytes(const char* path, uint64_t& bytes) {
  struct statvfs vfs;
  if (statvfs(NativePath(path).c_str(), &vfs) != 0) return false;
  bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void SetBinaryMode(std::FILE*) {}

uint64_t SystemTimeMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u +
         static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

RandomAccessFile::~RandomAccessFile() {
  if (IsOpen()) close(static_cast<int>(handle_));
}

bool RandomAccessFile::Open(const char* path) {
  if (IsOpen()) close(static_cast<int>(handle_));
  handle_ = kClosed;
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  handle_ = fd;
  length_ = static_cast<uint64_t>(st.st_size);
  return true;
}

size_t RandomAccessFile::ReadAt(uint64_t offset, void* buffer, size_t length) const {
  size_t done = 0;
  while (done < length && IsOpen()) {
    const ssize_t got = pread(static_cast<int>(handle_), static_cast<char*>(buffer) + done,
                              length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

// flock() locks belong to the open file, so a holder that dies frees
// them. The name may be unlinked between one process opening the file and
// locking it, so the lock only counts once it is on the file the name still
// names.
bool ExclusiveLock::Acquire(const std::string& path,
                            const std::function<void(const char*)>& onWait) {
  Release();
  const std::string native = NativePath(path.c_str());
  bool told = false;
  for (;;) {
    const int fd = open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (!told && onWait) onWait(path.c_str());
      told = true;
      while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
          close(fd);
          return false;
        }
      }
    }
    struct stat held;
    struct stat named;
    if (fstat(fd, &held) == 0 && stat(native.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      handle_ = fd;
      path_ = native;
      return true;
    }
    close(fd);  // released and removed meanwhile: take the new one
  }
}

void ExclusiveLock::Release() {
  if (handle_ < 0) return;
  unlink(path_.c_str());
  close(static_cast<int>(handle_));
  handle_ = -1;
}

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool ListDirectory(const char* pattern, std::vector<DirEntry>& entries,
                   FaultPlan* faults) {
  entries.clear();
  const std::string native = NativePath(pattern);
  const size_t slash = native.rfind('/');
  std::string directory;
  std::string wildcard;
  if (slash == std::string::npos) {
    directory = ".";
    wildcard = native;
  } else {
    directory = slash == 0 ? "/" : native.substr(0, slash);
    wildcard = native.substr(slash + 1);
  }

  std::unique_ptr<DIR, DirCloser> dir(opendir(directory.c_str()));
  if (!dir) return false;
  const int dirFd = dirfd(dir.get());

  while (const dirent* item = readdir(dir.get())) {
    if (fnmatch(wildcard.c_str(), item->d_name, FNM_CASEFOLD) != 0) continue;
    DirEntry entry;
    entry.name = item->d_name;
    const unsigned type = faults != nullptr && faults->EntryTypesHidden()
                              ? static_cast<unsigned>(DT_UNKNOWN)
                              : static_cast<unsigned>(item->d_type);
    if (type == DT_DIR) {
      entry.isDirectory = true;
    } else {
      // Regular files need their size; links are judged by what they lead
      // to, and an unknown type by what the name itself is first.
      struct stat st;
      if (fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      const bool link = S_ISLNK(st.st_mode);
      if (link && fstatat(dirFd, item->d_name, &st, 0) != 0) {
        entry.isSpecial = true;  // its target is missing
      } else if (S_ISDIR(st.st_mode)) {
        if (link) continue;  // never walk through a link into a directory
        entry.isDirectory = true;
      } else if (S_ISREG(st.st_mode)) {
        entry.size = static_cast<uint64_t>(st.st_size);
      } else {
        entry.isSpecial = true;  // a pipe, socket or device: no bytes to pack
      }
    }
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) {
              return NameLess(a.name, b.name);
            });
  return true;
}

}  // namespace tuk::platform
