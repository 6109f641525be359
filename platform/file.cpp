// File over the C runtime's buffered streams, which both platforms share.
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "platform/fault_injection.h"
#include "platform/native_path.h"
#include "platform/platform.h"

namespace tuk::platform {
namespace {

// Large blocks bypass the buffer; a 64 KiB one keeps small files and the
// many small index fields to few system calls.
constexpr size_t kBufferSize = 64 * 1024;

int SeekRaw(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence);
#else
  return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

// The size of the file behind an open stream, in one system call.
int64_t SizeRaw(std::FILE* f) {
#ifdef _WIN32
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
#else
  struct stat st;
  if (fstat(fileno(f), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
#endif
}

int64_t TellRaw(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

}  // namespace

File::~File() { Abandon(); }

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      writable_(other.writable_),
      faults_(other.faults_),
      faultKey_(std::move(other.faultKey_)),
      buffer_(std::move(other.buffer_)),
      position_(other.position_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Abandon();
    handle_ = std::exchange(other.handle_, nullptr);
    writable_ = other.writable_;
    faults_ = other.faults_;
    faultKey_ = std::move(other.faultKey_);
    buffer_ = std::move(other.buffer_);
    position_ = other.position_;
  }
  return *this;
}

bool File::Open(const char* path, Mode mode, FaultPlan* faults) {
  Abandon();
  faults_ = faults;
  if (faults_ != nullptr) faultKey_ = path;
  const char* fopenMode = "rb";
  if (mode == Mode::Write || mode == Mode::WriteUnbuffered) {
    if (ShouldFail(faults_, faults::Op::OpenWrite, faultKey_)) return false;
    fopenMode = "wb";
  } else if (mode == Mode::ReadText) {
    fopenMode = "r";
  }
  handle_ = std::fopen(NativePath(path).c_str(), fopenMode);
  writable_ = mode == Mode::Write || mode == Mode::WriteUnbuffered;
  position_ = 0;
  if (handle_ == nullptr) return false;
  if (mode == Mode::WriteUnbuffered) {
    std::setvbuf(handle_, nullptr, _IONBF, 0);
    return true;
  }
  if (!buffer_) buffer_.reset(new (std::nothrow) char[kBufferSize]);
  if (buffer_) std::setvbuf(handle_, buffer_.get(), _IOFBF, kBufferSize);
  return true;
}

size_t File::Read(void* buffer, size_t length) {
  if (handle_ == nullptr || length == 0) return 0;
  const size_t got = std::fread(buffer, 1, length, handle_);
  if (position_ >= 0) position_ += static_cast<int64_t>(got);
  return got;
}

size_t File::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (handle_ == nullptr || length == 0) return 0;
#ifdef _WIN32
  return Seek(offset) ? Read(buffer, length) : 0;
#else
  // pread leaves the descriptor's offset, and so the stream, as they are.
  size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(fileno(handle_), static_cast<char*>(buffer) + done,
                              length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
#endif
}

bool File::Write(const void* buffer, size_t length) {
  if (handle_ == nullptr) return false;
  if (ShouldFail(faults_, faults::Op::Write, faultKey_)) return false;
  if (length == 0) return true;
  if (std::fwrite(buffer, 1, length, handle_) != length) {
    position_ = -1;
    return false;
  }
  if (position_ >= 0) position_ += static_cast<int64_t>(length);
  return true;
}

bool File::WriteThrough(const void* buffer, size_t length) {
  if (handle_ == nullptr) return false;
  if (ShouldFail(faults_, faults::Op::Write, faultKey_)) return false;
  if (length == 0) return true;
  const int64_t at = Tell();
  if (at < 0 || std::fflush(handle_) != 0) {
    position_ = -1;
    return false;
  }
#ifdef _WIN32
  const int fd = _fileno(handle_);
#else
  const int fd = fileno(handle_);
#endif
  const char* bytes = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < length) {
    const size_t want = length - done < (1u << 30) ? length - done : (1u << 30);
#ifdef _WIN32
    const int n = _write(fd, bytes + done, static_cast<unsigned>(want));
#else
    const ssize_t n = write(fd, bytes + done, want);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // The stream keeps its own idea of the file position: set it anew.
  const int64_t end = at + static_cast<int64_t>(done);
  const bool moved = SeekRaw(handle_, end, SEEK_SET) == 0;
  position_ = moved ? end : -1;
  return done == length && moved;
}

bool File::Seek(uint64_t position) {
  if (handle_ == nullptr || position > static_cast<uint64_t>(INT64_MAX)) {
    return false;
  }
  // Reading payloads in order seeks to where the stream already stands.
  if (position_ >= 0 && static_cast<uint64_t>(position_) == position && !writable_) {
    return true;
  }
  const bool moved = SeekRaw(handle_, static_cast<int64_t>(position), SEEK_SET) == 0;
  position_ = moved ? static_cast<int64_t>(position) : -1;
  return moved;
}

bool File::SeekToEnd() {
  position_ = -1;
  return handle_ != nullptr && SeekRaw(handle_, 0, SEEK_END) == 0;
}

int64_t File::Tell() {
  if (handle_ == nullptr) return -1;
  if (position_ < 0) position_ = TellRaw(handle_);
  return position_;
}

int64_t File::Length() {
  if (handle_ == nullptr) return -1;
  // A stream being written may hold bytes the file does not have yet.
  if (!writable_) return SizeRaw(handle_);
  const int64_t here = Tell();
  if (here < 0 || !SeekToEnd()) return -1;
  const int64_t end = Tell();
  if (!Seek(static_cast<uint64_t>(here))) return -1;
  return end;
}

bool File::ReadLine(char* buffer, int capacity) {
  position_ = -1;  // text mode may translate line ends
  return handle_ != nullptr && std::fgets(buffer, capacity, handle_) != nullptr;
}

bool File::Flush() {
  if (handle_ == nullptr) return false;
  if (ShouldFail(faults_, faults::Op::Flush, faultKey_)) return false;
  return std::fflush(handle_) == 0;
}

bool File::CanCopyInSystem() {
#if defined(__linux__) && defined(SYS_copy_file_range)
  return true;
#else
  return false;
#endif
}

int64_t File::CopyFrom(File& source, uint64_t offset, uint64_t length) {
#ifdef _WIN32
  (void)source;
  (void)offset;
  (void)length;
  return -1;
#else
  if (source.handle_ == nullptr) return -1;
  return CopyFromDescriptor(fileno(source.handle_), offset, length);
#endif
}

int64_t File::CopyFrom(const RandomAccessFile& source, uint64_t offset, uint64_t length) {
  return CopyFromDescriptor(source.handle_, offset, length);
}

int64_t File::CopyFromDescriptor(intptr_t sourceFd, uint64_t offset, uint64_t length) {
#if defined(__linux__) && defined(SYS_copy_file_range)
  if (handle_ == nullptr || sourceFd < 0 || std::fflush(handle_) != 0) return -1;
  const int64_t start = Tell();
  if (start < 0) return -1;
  // A planned failure copies half the bytes, as a disk that fills up midway.
  if (ShouldFail(faults_, faults::Op::Write, faultKey_)) length /= 2;
  // Through syscall(): the C library's wrapper may emulate the call with
  // a read and write loop where the kernel lacks it.
  loff_t from = static_cast<loff_t>(offset);
  loff_t to = static_cast<loff_t>(start);
  uint64_t done = 0;
  while (done < length) {
    const uint64_t left = length - done;
    const size_t chunk = left < (1u << 30) ? static_cast<size_t>(left) : (1u << 30);
    const long copied = syscall(SYS_copy_file_range, static_cast<int>(sourceFd), &from,
                                fileno(handle_), &to, chunk, 0u);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0 && done == 0 &&
        (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)) {
      return -1;
    }
    if (copied <= 0) break;
    done += static_cast<uint64_t>(copied);
  }
  // The stream's own position follows the bytes written past it.
  if (!Seek(static_cast<uint64_t>(start) + done)) return 0;
  return static_cast<int64_t>(done);
#else
  (void)sourceFd;
  (void)offset;
  (void)length;
  return -1;
#endif
}

bool File::Stamp(int64_t& size, int64_t& changedNs) {
  if (handle_ == nullptr) return false;
#ifdef _WIN32
  struct _stat64 st;
  if (_fstat64(_fileno(handle_), &st) != 0) return false;
  changedNs = static_cast<int64_t>(st.st_mtime) * 1000000000;
#else
  struct stat st;
  if (fstat(fileno(handle_), &st) != 0) return false;
  changedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool File::Truncate() {
  if (handle_ == nullptr) return false;
  const int64_t at = Tell();
  if (at < 0 || std::fflush(handle_) != 0) return false;
#ifdef _WIN32
  return _chsize_s(_fileno(handle_), at) == 0;
#else
  return ftruncate(fileno(handle_), static_cast<off_t>(at)) == 0;
#endif
}

bool File::Close() {
  if (handle_ == nullptr) return false;
  bool ok = true;
  if (writable_ && ShouldFail(faults_, faults::Op::Close, faultKey_)) ok = false;
  if (std::fclose(std::exchange(handle_, nullptr)) != 0) ok = false;
  position_ = -1;
  return ok;
}

void File::Abandon() {
  if (handle_ != nullptr) std::fclose(std::exchange(handle_, nullptr));
  position_ = -1;
}

bool ReadFileStart(const char* path, void* buffer, size_t capacity, size_t& got) {
  got = 0;
#ifdef _WIN32
  const int fd = _open(NativePath(path).c_str(), _O_RDONLY | _O_BINARY);
#else
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
#endif
  if (fd < 0) return false;
  while (got < capacity) {
    const size_t want = capacity - got < (1u << 30) ? capacity - got : (1u << 30);
#ifdef _WIN32
    const int n = _read(fd, static_cast<char*>(buffer) + got, static_cast<unsigned>(want));
#else
    const ssize_t n = read(fd, static_cast<char*>(buffer) + got, want);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) break;
    got += static_cast<size_t>(n);
    // A regular file gives less than asked only at its end.
    if (static_cast<size_t>(n) < want) break;
  }
#ifdef _WIN32
  _close(fd);
#else
  close(fd);
#endif
  return true;
}

NewFile WriteNewFile(const char* path, const void* bytes, size_t size, FaultPlan* faults) {
  const std::string key = faults != nullptr ? path : "";
  if (ShouldFail(faults, faults::Op::OpenWrite, key)) return NewFile::Failed;
#ifdef _WIN32
  const int fd = _open(NativePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                       _S_IREAD | _S_IWRITE);
#else
  const int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
  if (fd < 0) return errno == EEXIST ? NewFile::Exists : NewFile::Failed;
  bool ok = !ShouldFail(faults, faults::Op::Write, key);
  size_t done = 0;
  while (ok && done < size) {
    const size_t want = size - done < (1u << 30) ? size - done : (1u << 30);
#ifdef _WIN32
    const int n = _write(fd, static_cast<const char*>(bytes) + done, static_cast<unsigned>(want));
#else
    const ssize_t n = write(fd, static_cast<const char*>(bytes) + done, want);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ShouldFail(faults, faults::Op::Close, key)) ok = false;
#ifdef _WIN32
  if (_close(fd) != 0) ok = false;
#else
  if (close(fd) != 0) ok = false;
#endif
  if (ok) return NewFile::Written;
  RemoveFile(path);
  return NewFile::Failed;
}

std::string ParentDirectory(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) return ".";
  if (separator == 0) return path.substr(0, 1);
  return path.substr(0, separator);
}

bool NameLess(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names equal but for case: a fixed order all the same
}

}  // namespace tuk::platform
