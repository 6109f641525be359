// Win32 side of the platform layer. Paths are narrow strings in the
// process's ANSI code page, as the *A calls take them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <string>

#include "platform/fault_injection.h"
#include "platform/native_path.h"
#include "platform/platform.h"

namespace tuk::platform {

// Windows takes '/' too, but not everywhere (not after a "\\?\" prefix),
// so every path reaches the system with '\' only.
std::string NativePath(const char* path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '/', '\\');
  return native;
}

RandomAccessFile::~RandomAccessFile() {
  if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool RandomAccessFile::Open(const char* path) {
  if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kClosed;
  const HANDLE file = CreateFileA(NativePath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size) == 0) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  length_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

// An OVERLAPPED offset makes each read positional, whatever other threads
// read at the same time.
size_t RandomAccessFile::ReadAt(uint64_t offset, void* buffer, size_t length) const {
  size_t done = 0;
  while (done < length && IsOpen()) {
    const uint64_t at = offset + done;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const size_t rest = length - done;
    const DWORD ask = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
    DWORD got = 0;
    if (ReadFile(reinterpret_cast<HANDLE>(handle_), static_cast<char*>(buffer) + done, ask,
                 &got, &where) == 0 ||
        got == 0) {
      break;
    }
    done += got;
  }
  return done;
}

// Opened without sharing, the file is the lock; FILE_FLAG_DELETE_ON_CLOSE
// removes it when the handle closes, also when its process dies.
bool ExclusiveLock::Acquire(const std::string& path,
                            const std::function<void(const char*)>& onWait) {
  Release();
  const std::string native = NativePath(path.c_str());
  bool told = false;
  int denials = 0;
  for (;;) {
    const HANDLE file =
        CreateFileA(native.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(file);
      path_ = native;
      return true;
    }
    // A file being deleted answers "access denied" for a moment; one that
    // keeps answering so is a real refusal.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && ++denials > 500) return false;
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
    if (!told && onWait) onWait(path.c_str());
    told = true;
    Sleep(20);
  }
}

void ExclusiveLock::Release() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

bool GetCurrentDir(std::string& path) {
  // The first call tells the length with its terminating zero; the
  // directory may change in between, hence the loop.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), &buffer[0]);
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      path = std::move(buffer);
      return true;
    }
    buffer.assign(length, '\0');
  }
}

bool SetCurrentDir(const char* path) {
  return SetCurrentDirectoryA(NativePath(path).c_str()) != 0;
}

bool CreateDir(const char* path, FaultPlan* faults) {
  if (ShouldFail(faults, faults::Op::CreateDir, faults != nullptr ? path : "")) return false;
  return CreateDirectoryA(NativePath(path).c_str(), nullptr) != 0;
}

bool IsDirectory(const char* path) {
  const DWORD attributes = GetFileAttributesA(NativePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const char* path) {
  return DeleteFileA(NativePath(path).c_str()) != 0;
}

bool RemoveDir(const char* path) {
  return RemoveDirectoryA(NativePath(path).c_str()) != 0;
}

bool PathExists(const char* path) {
  return GetFileAttributesA(NativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

PathKind KindOf(const char* path) {
  const DWORD attributes = GetFileAttributesA(NativePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNone;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kDirectory : PathKind::kFile;
}

bool ModifiedNs(const char* path, int64_t& ns) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(NativePath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  // 100-nanosecond steps since 1601.
  const uint64_t ticks = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  ns = static_cast<int64_t>((ticks - 116444736000000000ull) * 100);
  return true;
}

bool MoveFileReplace(const char* from, const char* to, FaultPlan* faults) {
  if (ShouldFail(faults, faults::Op::Rename, faults != nullptr ? std::string(from) + "\n" + to : "")) return false;
  // Without MOVEFILE_COPY_ALLOWED a move to another volume fails, as
  // rename() does, instead of turning into a copy that is not atomic.
  // Write-through: the move is on the disk when the call returns.
  return MoveFileExA(NativePath(from).c_str(), NativePath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool SyncToDisk(const char* path, FaultPlan* faults) {
  if (ShouldFail(faults, faults::Op::Sync, faults != nullptr ? path : "")) return false;
  if (IsDirectory(path)) return true;  // renames into it are written through
  const HANDLE file = CreateFileA(NativePath(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != 0;
  return CloseHandle(file) != 0 && flushed;
}

bool FreeSpaceBytes(const char* path, uint64_t& bytes) {
  ULARGE_INTEGER available;
  if (GetDiskFreeSpaceExA(NativePath(path).c_str(), &available, nullptr,
                          nullptr) == 0) {
    return false;
  }
  bytes = available.QuadPart;
  return true;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void SetBinaryMode(std::FILE* stream) {
  std::fflush(stream);
  _setmode(_fileno(stream), _O_BINARY);
}

uint64_t SystemTimeMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks =
      (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10000u;  // 100-nanosecond units
}

namespace {

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (valid()) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

char FoldCase(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// '*' and '?' against a whole name, letters regardless of case. The system
// also matches a name's generated 8.3 alias ("*.tuk" finds "a.tukx" through
// "A~1.TUK") and gives "*.*" and a trailing '.' meanings of their own; only
// names that match by themselves are kept, so both platforms list alike.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* starAt = nullptr;  // the last '*' met, to backtrack to
  const char* resumeAt = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      starAt = pattern++;
      resumeAt = name;
    } else if (*pattern != '\0' &&
               (*pattern == '?' || FoldCase(*pattern) == FoldCase(*name))) {
      ++pattern;
      ++name;
    } else if (starAt != nullptr) {
      pattern = starAt + 1;
      name = ++resumeAt;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// A file reached through a link is judged by its target: its size, and
// whether it is a directory after all. False when the target is missing.
bool ResolveLinkedFile(const std::string& path, DirEntry& entry) {
  // FILE_FLAG_BACKUP_SEMANTICS lets the call open directories as well.
  const FileHandle file(CreateFileA(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file.get(), &info) == 0) return false;
  entry.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
               info.nFileSizeLow;
  return true;
}

}  // namespace

bool ListDirectory(const char* pattern, std::vector<DirEntry>& entries,
                   FaultPlan* /*faults*/) {
  entries.clear();
  const std::string native = NativePath(pattern);
  const size_t separator = native.find_last_of("\\:");
  const std::string directory =
      separator == std::string::npos ? std::string() : native.substr(0, separator + 1);
  const std::string wildcard =
      separator == std::string::npos ? native : native.substr(separator + 1);

  WIN32_FIND_DATAA found;
  const FindHandle search(FindFirstFileA(native.c_str(), &found));
  if (!search.valid()) {
    // A readable directory with nothing that matches is an empty listing;
    // a missing or unreadable one is a failure.
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
  }
  do {
    if (!WildcardMatch(wildcard.c_str(), found.cFileName)) continue;
    DirEntry entry;
    entry.name = found.cFileName;
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      // A junction or a link to a directory could lead back up the tree.
      if (entry.isDirectory) continue;
      if (!ResolveLinkedFile(directory + entry.name, entry)) {
        entry.isSpecial = true;  // its target is missing
      } else if (entry.isDirectory) {
        continue;
      }
    } else if (!entry.isDirectory) {
      entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) |
                   found.nFileSizeLow;
    }
    entries.push_back(std::move(entry));
  } while (FindNextFileA(search.get(), &found) != 0);
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    entries.clear();
    return false;
  }

  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) {
              return NameLess(a.name, b.name);
            });
  return true;
}

}  // namespace tuk::platform
