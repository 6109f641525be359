#include "tuk/convert_command.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/archive_writer.h"
#include "tuk/tuk_command.h"

namespace tuk {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsTuk(const std::string& path) { return EndsWith(Lower(path), ".tuk"); }

struct OutputFormat {
  const char* extension;
  int (*format)(struct archive*);
  int (*filter)(struct archive*);  // nullptr: none
};

// Longer extensions first, so that ".tar.gz" is not taken for ".gz".
const OutputFormat kOutputFormats[] = {
    {".tar.gz", archive_write_set_format_pax_restricted, archive_write_add_filter_gzip},
    {".tar.bz2", archive_write_set_format_pax_restricted, archive_write_add_filter_bzip2},
    {".tar.xz", archive_write_set_format_pax_restricted, archive_write_add_filter_xz},
    {".tar.zst", archive_write_set_format_pax_restricted, archive_write_add_filter_zstd},
    {".tgz", archive_write_set_format_pax_restricted, archive_write_add_filter_gzip},
    {".tbz2", archive_write_set_format_pax_restricted, archive_write_add_filter_bzip2},
    {".txz", archive_write_set_format_pax_restricted, archive_write_add_filter_xz},
    {".tzst", archive_write_set_format_pax_restricted, archive_write_add_filter_zstd},
    {".tar", archive_write_set_format_pax_restricted, nullptr},
    {".zip", archive_write_set_format_zip, nullptr},
    {".7z", archive_write_set_format_7zip, nullptr},
    {".cpio", archive_write_set_format_cpio_newc, nullptr},
};

const OutputFormat* FormatOf(const std::string& path) {
  const std::string lower = Lower(path);
  for (const OutputFormat& format : kOutputFormats) {
    if (EndsWith(lower, format.extension)) return &format;
  }
  return nullptr;
}

// Names of other archives' entries are taken in the user's locale, and as
// UTF-8 where that is plain C, so that zip's UTF-8 names come over as they
// are.
void ChooseLocale() {
  const char* chosen = std::setlocale(LC_CTYPE, "");
  if (chosen == nullptr || std::strcmp(chosen, "C") == 0 || std::strcmp(chosen, "POSIX") == 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
}

std::string Plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The output at OUTPUT.tmp until it is complete: synced, then renamed over
// OUTPUT, and the directory synced; removed on every other way out. (A .tuk
// output takes the same road inside ArchiveWriter.)
class TemporaryOutput {
 public:
  explicit TemporaryOutput(std::string path)
      : path_(std::move(path)), temporary_(path_ + ".tmp") {}
  ~TemporaryOutput() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(temporary_.c_str());
  }
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;

  bool Open() {
    fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0;
  }
  int fd() const { return fd_; }
  const std::string& name() const { return temporary_; }

  bool Commit() {
    const bool synced = fsync(fd_) == 0;
    const bool closed = close(fd_) == 0;
    fd_ = -1;
    if (!synced || !closed || rename(temporary_.c_str(), path_.c_str()) != 0) return false;
    committed_ = true;
    const size_t slash = path_.rfind('/');
    const std::string directory =
        slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool durable = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return durable;
  }

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool committed_ = false;
};

struct ReadArchive {
  struct archive* handle = archive_read_new();
  ~ReadArchive() { archive_read_free(handle); }
  std::string Message() const {
    const char* text = archive_error_string(handle);
    return text != nullptr ? text : "unknown error";
  }
};

struct WriteArchive {
  struct archive* handle = archive_write_new();
  ~WriteArchive() { archive_write_free(handle); }
  std::string Message() const {
    const char* text = archive_error_string(handle);
    return text != nullptr ? text : "unknown error";
  }
};

// An entry name as it goes into a .tuk: leading "./" components dropped.
std::string WithoutLeadingDots(std::string name) {
  while (name.compare(0, 2, "./") == 0) {
    name.erase(0, 2);
    while (!name.empty() && name[0] == '/') name.erase(0, 1);  // ".//a" is "./a"
  }
  return name;
}

int IntoTuk(const ConvertOptions& options) {
  ReadArchive in;
  archive_read_support_filter_all(in.handle);
  archive_read_support_format_all(in.handle);
  if (archive_read_open_filename(in.handle, options.input.c_str(), 1 << 16) != ARCHIVE_OK) {
    PrintError(options.input + ": " + in.Message());
    return kTukFailed;
  }
  ArchiveWriter writer;
  const Status created = writer.Create(options.output, {options.level, options.threads});
  if (!created.ok()) {
    PrintError(created.message());
    return kTukFailed;
  }

  size_t directories = 0, links = 0, others = 0;
  bool leftOut = false;
  std::vector<uint8_t> bytes;
  for (;;) {
    struct archive_entry* entry = nullptr;
    const int next = archive_read_next_header(in.handle, &entry);
    if (next == ARCHIVE_EOF) break;
    if (next == ARCHIVE_WARN) PrintError(options.input + ": " + in.Message());
    if (next < ARCHIVE_WARN) {
      PrintError(options.input + ": " + in.Message() + " (nothing written)");
      return kTukFailed;  // the writer, dropped unfinished, leaves nothing behind
    }
    const char* raw = archive_entry_pathname(entry);
    if (raw == nullptr) raw = archive_entry_pathname_utf8(entry);
    const std::string original = raw != nullptr ? raw : "";
    const mode_t type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) != nullptr || type == AE_IFLNK) {
      ++links;
      continue;
    }
    if (type == AE_IFDIR) {
      ++directories;
      continue;
    }
    if (type != AE_IFREG) {
      ++others;
      continue;
    }
    std::string name = WithoutLeadingDots(original);
    if (name.empty() || !IsSafeName(name) || name[0] == '/') {
      PrintError("refused " + (original.empty() ? std::string("an entry without a name") : original) +
            ": absolute, or with a \"..\" component (left out)");
      leftOut = true;
      continue;
    }
    if (archive_entry_is_data_encrypted(entry)) {
      PrintError(original + ": encrypted (left out)");
      leftOut = true;
      continue;
    }
    bytes.clear();
    try {
      if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0 &&
          archive_entry_size(entry) < (int64_t{1} << 32)) {
        bytes.reserve(static_cast<size_t>(archive_entry_size(entry)));
      }
      uint8_t block[1 << 16];
      la_ssize_t got = 0;
      while ((got = archive_read_data(in.handle, block, sizeof block)) > 0) {
        if (bytes.size() + static_cast<size_t>(got) >= (uint64_t{1} << 32)) {
          got = ARCHIVE_FAILED;
          break;
        }
        bytes.insert(bytes.end(), block, block + got);
      }
      if (got < 0) {
        if (got == ARCHIVE_FATAL) {
          PrintError(options.input + ": " + original + ": " + in.Message() + " (nothing written)");
          return kTukFailed;
        }
        PrintError(original + ": " + (bytes.size() >= (uint64_t{1} << 32) ? "too large"
                                                                       : in.Message()) +
              " (left out)");
        leftOut = true;
        continue;
      }
    } catch (const std::bad_alloc&) {
      PrintError(original + ": no memory for its bytes (left out)");
      leftOut = true;
      continue;
    }
    if (!options.prefix.empty()) name = options.prefix + "/" + name;
    const Status added = writer.AddBytes(name, bytes.data(), bytes.size());
    if (added.code() == Errc::kUnsafeName || added.code() == Errc::kTooLarge) {
      PrintError(added.message() + " (left out)");
      leftOut = true;
    } else if (!added.ok()) {
      PrintError(added.message() + " (nothing written)");
      return kTukFailed;
    }
  }

  if (directories + links + others > 0) {
    std::string line = "skipped";
    const char* separator = " ";
    for (const std::string& part :
         {directories > 0 ? Plural(directories, "directory", "directories") : "",
          links > 0 ? Plural(links, "link", "links") : "",
          others > 0 ? Plural(others, "other entry", "other entries") : ""}) {
      if (part.empty()) continue;
      line += separator + part;
      separator = ", ";
    }
    PrintError(line + " of " + options.input + ": a .tuk holds files only");
  }
  if (links + others > 0) leftOut = true;
  const Status finished = writer.Finish();
  if (!finished.ok()) {
    PrintError(finished.message());
    return kTukFailed;
  }
  if (leftOut) PrintError("some files were left out of " + options.output);
  return leftOut ? kTukFailed : kTukDone;
}

int OutOfTuk(const ConvertOptions& options, const OutputFormat& format) {
  ArchiveReader reader;
  const Status opened = reader.Open(options.input);
  if (!opened.ok()) {
    PrintError(opened.message() + " (nothing written)");
    return kTukFailed;
  }
  struct stat inputStat = {};
  stat(options.input.c_str(), &inputStat);

  WriteArchive out;
  if (format.format(out.handle) != ARCHIVE_OK ||
      (format.filter != nullptr && format.filter(out.handle) != ARCHIVE_OK)) {
    PrintError(options.output + ": " + out.Message());
    return kTukFailed;
  }
  TemporaryOutput target(options.output);
  if (!target.Open()) {
    PrintError("cannot create " + target.name() + ": " + std::strerror(errno));
    return kTukFailed;
  }
  if (archive_write_open_fd(out.handle, target.fd()) != ARCHIVE_OK) {
    PrintError(options.output + ": " + out.Message());
    return kTukFailed;
  }

  bool leftOut = false;
  std::vector<uint8_t> bytes;
  const Index& index = reader.index();
  for (size_t i = 0; i < index.size(); ++i) {
    const std::string& name = index[i].name;
    if (!IsSafeName(name)) {
      PrintError("refused " + name + ": absolute, or with a \"..\" component (left out)");
      leftOut = true;
      continue;
    }
    const Status read = reader.Read(i, bytes);
    if (!read.ok()) {
      PrintError(read.message() + " (left out)");
      leftOut = true;
      continue;
    }
    std::unique_ptr<struct archive_entry, void (*)(struct archive_entry*)> entry(
        archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(bytes.size()));
    archive_entry_set_mtime(entry.get(), inputStat.st_mtime, 0);
    const int header = archive_write_header(out.handle, entry.get());
    if (header == ARCHIVE_WARN) PrintError(name + ": " + out.Message());
    if (header < ARCHIVE_WARN) {
      PrintError(name + ": " + out.Message() + (header == ARCHIVE_FATAL ? " (nothing written)"
                                                                   : " (left out)"));
      if (header == ARCHIVE_FATAL) return kTukFailed;
      leftOut = true;
      continue;
    }
    size_t at = 0;
    while (at < bytes.size()) {
      const la_ssize_t wrote = archive_write_data(out.handle, bytes.data() + at, bytes.size() - at);
      if (wrote <= 0) {
        PrintError(options.output + ": " + out.Message() + " (nothing written)");
        return kTukFailed;
      }
      at += static_cast<size_t>(wrote);
    }
  }
  if (archive_write_close(out.handle) != ARCHIVE_OK) {
    PrintError(options.output + ": " + out.Message() + " (nothing written)");
    return kTukFailed;
  }
  if (!target.Commit()) {
    PrintError("cannot write " + options.output);
    return kTukFailed;
  }
  if (leftOut) PrintError("some entries were left out of " + options.output);
  return leftOut ? kTukFailed : kTukDone;
}

}  // namespace

const char* ConvertFormats() {
  return ".tar, .tar.gz, .tgz, .tar.bz2, .tar.xz, .tar.zst, .zip, .7z, .cpio";
}

int RunConvert(const ConvertOptions& options) {
  const bool fromTuk = IsTuk(options.input);
  const bool toTuk = IsTuk(options.output);
  if (fromTuk == toTuk) {
    PrintError(fromTuk ? "both are .tuk archives (tuk recompress rewrites one)"
                  : "one of INPUT and OUTPUT must be a .tuk archive");
    return kTukUsage;
  }
  ChooseLocale();
  if (toTuk) {
    std::string prefix = options.prefix;
    while (!prefix.empty() && (prefix.back() == '/' || prefix.back() == '\\')) prefix.pop_back();
    if (!options.prefix.empty() && (prefix.empty() || !IsSafeName(prefix))) {
      PrintError("not a usable prefix: " + options.prefix);
      return kTukUsage;
    }
    ConvertOptions into = options;
    into.prefix = prefix;
    return IntoTuk(into);
  }
  if (!options.prefix.empty()) {
    PrintError("--prefix names entries going into a .tuk");
    return kTukUsage;
  }
  const OutputFormat* format = FormatOf(options.output);
  if (format == nullptr) {
    PrintError("cannot tell the format of " + options.output + " from its name (" +
          ConvertFormats() + ")");
    return kTukUsage;
  }
  return OutOfTuk(options, *format);
}

}  // namespace tuk
