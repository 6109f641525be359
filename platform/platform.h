// The operating-system layer: files, directories, listing, moving, free
// space and time. One interface, a POSIX and a Win32 implementation.
//
// Every path handed to this layer may use '\' as well as '/' between its
// components, as Windows allows; the POSIX side treats both alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tuk::platform {

class FaultPlan;  // fault_injection.h: a test's plan of failing operations
class RandomAccessFile;

// The operations below that take a FaultPlan are those a Disk (disk.h)
// reaches: the library calls them through its Disk, which hands in the plan
// of a FaultyDisk and none otherwise.

// ---- Files ---------------------------------------------------------------

// An owned byte stream over a file. Reads, writes and positioning never
// translate line ends. Every outcome is a value to look at; Close() reports
// whether buffered data reached the file.
class File {
 public:
  enum class Mode {
    Read,      // existing file, read only
    Write,     // created, or truncated if it exists
    ReadText,  // existing file, read line by line
    // Write, with every Write going to the system as it is: for a file
    // written in one piece, which a buffer would only copy.
    WriteUnbuffered,
  };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // A fault plan, when given, watches this file's opening for writing, its
  // writes, copies, flushes and closing.
  bool Open(const char* path, Mode mode, FaultPlan* faults = nullptr);
  bool IsOpen() const { return handle_ != nullptr; }

  // Returns the number of bytes read; fewer than asked at the end of the
  // file or on an error.
  size_t Read(void* buffer, size_t length);
  // Read of a large block at an offset, straight from the system rather
  // than through the stream's buffer. The stream's position afterwards is
  // where it was (POSIX) or behind the block (Windows).
  size_t ReadAt(uint64_t offset, void* buffer, size_t length);
  // True only when every byte was handed on.
  bool Write(const void* buffer, size_t length);
  // Write for large blocks: the stream's buffer is flushed and the block
  // goes to the system as it is, instead of being copied through the
  // buffer. Counts as a Write for fault injection.
  bool WriteThrough(const void* buffer, size_t length);

  bool Seek(uint64_t position);
  bool SeekToEnd();
  // -1 when the position cannot be taken.
  int64_t Tell();
  // Length of the file, leaving the position where it was; -1 on failure.
  int64_t Length();

  // Reads one line of at most capacity - 1 characters, keeping its line
  // break; false at the end of the file.
  bool ReadLine(char* buffer, int capacity);

  bool Flush();
  // Cuts the file at the current position, dropping whatever lies beyond.
  bool Truncate();
  // Copies length bytes of source, from offset on, to this file's
  // position, inside the system where it can do that (Linux), which saves
  // passing every byte through a buffer; this file's position moves past
  // what was copied, source's stays. The bytes copied, fewer on an error;
  // -1 when the system cannot copy between these files at all. A fault
  // plan counts the copy as one write; one that fails copies half the
  // bytes, as a disk that fills up midway.
  int64_t CopyFrom(File& source, uint64_t offset, uint64_t length);
  int64_t CopyFrom(const RandomAccessFile& source, uint64_t offset, uint64_t length);
  // Whether CopyFrom can copy at all on this system.
  static bool CanCopyInSystem();
  // The file's size and last change, to tell whether it changed between
  // two looks; false when they cannot be taken.
  bool Stamp(int64_t& size, int64_t& changedNs);
  // Flushes and closes; false when either failed. The file is closed in
  // every case.
  bool Close();
  // Closes without caring for the outcome (the stream is being dropped).
  void Abandon();

 private:
  std::FILE* handle_ = nullptr;
  bool writable_ = false;
  FaultPlan* faults_ = nullptr;
  std::string faultKey_;  // the path, for the plan; empty without one
  // Copies from the descriptor sourceFd; see CopyFrom.
  int64_t CopyFromDescriptor(intptr_t sourceFd, uint64_t offset, uint64_t length);
  // The stream's buffer (the C runtime would pick a small one of its own,
  // and ask the system for the file's block size to do so).
  std::unique_ptr<char[]> buffer_;
  // The position as far as this object has moved it; -1 when it must be
  // asked for (asking costs a system call).
  int64_t position_ = -1;
};

// A file opened for reading at any offset. Reads do not move a shared
// position, so any number of threads may read one file at once.
class RandomAccessFile {
 public:
  RandomAccessFile() = default;
  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  bool Open(const char* path);
  bool IsOpen() const { return handle_ != kClosed; }
  // The file's length when it was opened.
  uint64_t Length() const { return length_; }
  // Reads up to length bytes at offset; returns how many were read, fewer
  // only at the end of the file or on an error.
  size_t ReadAt(uint64_t offset, void* buffer, size_t length) const;

 private:
  friend class File;  // File::CopyFrom reads this file's descriptor
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;  // a descriptor, or a Windows HANDLE
  uint64_t length_ = 0;
};

// A lock that one process at a time may hold, named by a file. Whoever
// holds it removes the file on release; the system drops the lock of a
// process that dies, so a file a killed process left never blocks anyone.
class ExclusiveLock {
 public:
  ExclusiveLock() = default;
  ~ExclusiveLock() { Release(); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  // Blocks until the lock is held; onWait runs once if another holds it
  // first. False when the lock file cannot be made.
  bool Acquire(const std::string& path,
               const std::function<void(const char* path)>& onWait);
  void Release();

 private:
  std::string path_;
  intptr_t handle_ = -1;  // a descriptor, or a Windows HANDLE
};

// Reads the start of a file into buffer in as few calls as it takes to
// fill it or meet the end: got is what was read. False when the file
// cannot be opened. Meant for files whose size is known: asking one byte
// more than that tells in one call whether it still has that size.
bool ReadFileStart(const char* path, void* buffer, size_t capacity, size_t& got);

// What WriteNewFile did.
enum class NewFile {
  Written,  // created and written whole
  Exists,   // something already stands at the path; it was not touched
  Failed,   // not created, or created and removed again after a failed write
};
// Creates a file at path only when nothing stands there yet, and writes
// size bytes to it. It can therefore never replace or follow anything
// already there, which lets a worker thread write ahead of its turn.
NewFile WriteNewFile(const char* path, const void* bytes, size_t size,
                     FaultPlan* faults = nullptr);

// ---- Directories and files by name ---------------------------------------

bool GetCurrentDir(std::string& path);
bool SetCurrentDir(const char* path);
// False when the directory could not be created, also when it exists.
bool CreateDir(const char* path, FaultPlan* faults = nullptr);
bool IsDirectory(const char* path);
bool RemoveFile(const char* path);
// Removes an empty directory.
bool RemoveDir(const char* path);
// Whether anything (a file, a directory, a link) stands at path.
bool PathExists(const char* path);
// What stands at path, the last component not followed when it is a link.
enum class PathKind { kNone, kFile, kDirectory, kLink, kOther };
PathKind KindOf(const char* path);
// When the file or directory at path last changed, in nanoseconds since
// 1970; false when that cannot be told.
bool ModifiedNs(const char* path, int64_t& ns);
// Renames, replacing an existing destination. Fails across volumes.
bool MoveFileReplace(const char* from, const char* to,
                     FaultPlan* faults = nullptr);
// Makes a closed file's bytes, or a directory's entries (a rename into
// it), durable: on the disk before this returns. False when the system
// could not say so.
bool SyncToDisk(const char* path, FaultPlan* faults = nullptr);
// The directory a path lies in: "." for a bare name.
std::string ParentDirectory(const std::string& path);
// Bytes the calling user may still write on the volume holding path.
bool FreeSpaceBytes(const char* path, uint64_t& bytes);
// Whether a stream is an interactive terminal.
bool IsTerminal(std::FILE* stream);
// Makes a stream pass bytes as they are (Windows: no "\n" to "\r\n").
void SetBinaryMode(std::FILE* stream);
// Wall-clock time in milliseconds since an arbitrary fixed origin.
uint64_t SystemTimeMs();

// ---- Listing ---------------------------------------------------------------

struct DirEntry {
  std::string name;
  bool isDirectory = false;
  // Neither a file with bytes to read nor a directory: a link whose target
  // is missing, a pipe, a socket or a device.
  bool isSpecial = false;
  uint64_t size = 0;
};

// Lists the entries that match a wildcard pattern such as "dir/*" or
// "dir/*.tuk" ('*' and '?' in the last component; letters match regardless
// of case, as on Windows). "." and ".." are listed like any other entry when
// the pattern matches them. The result is sorted by name, comparing bytes
// after folding a-z to A-Z, so a tree lists in the same order everywhere.
// A link to a directory is not listed, so a walk can never loop; a link to
// a file is listed as that file; anything else is listed as special. False
// when the directory cannot be read.
bool ListDirectory(const char* pattern, std::vector<DirEntry>& entries,
                   FaultPlan* faults = nullptr);

// The order ListDirectory sorts by.
bool NameLess(const std::string& a, const std::string& b);

}  // namespace tuk::platform
