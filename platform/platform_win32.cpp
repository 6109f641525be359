// Win32 side of the platform layer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>

#include "platform/fault_injection.h"
#include "platform/native_path.h"
#include "platform/platform.h"

namespace tuk::platform {

// Windows takes '/' and '\' alike.
std::string NativePath(const char* path) { return std::string(path); }

bool GetCurrentDir(std::string& path) {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return false;
  path.assign(buffer, length);
  return true;
}

bool SetCurrentDir(const char* path) {
  return SetCurrentDirectoryA(path) != 0;
}

bool CreateDir(const char* path) {
  if (faults::ShouldFail(faults::Op::CreateDir)) return false;
  return CreateDirectoryA(path, nullptr) != 0;
}

bool IsDirectory(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

bool MoveFileReplace(const char* from, const char* to) {
  if (faults::ShouldFail(faults::Op::Rename)) return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FreeSpaceBytes(const char* path, uint64_t& bytes) {
  ULARGE_INTEGER available;
  ULARGE_INTEGER total;
  ULARGE_INTEGER totalFree;
  if (GetDiskFreeSpaceExA(path, &available, &total, &totalFree) == 0) {
    return false;
  }
  bytes = available.QuadPart;
  return true;
}

uint64_t SystemTimeMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks =
      (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10000u;  // 100-nanosecond units
}

bool ListDirectory(const char* pattern, std::vector<DirEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    DirEntry entry;
    entry.name = found.cFileName;
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool reparse =
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (entry.isDirectory && reparse) continue;  // junctions could loop
    if (!entry.isDirectory) {
      entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) |
                   found.nFileSizeLow;
    }
    entries.push_back(std::move(entry));
  } while (FindNextFileA(search, &found) != 0);
  FindClose(search);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) {
              return NameLess(a.name, b.name);
            });
  return true;
}

}  // namespace tuk::platform
