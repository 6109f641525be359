// tuk convert: .tuk to and from the formats libarchive reads and writes.

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
#include <thread>
#include <utility>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/archive_writer.h"
#include "tuk/commands.h"
#include "tuk/libarchive_loader.h"
#include "tuk/output_file.h"

namespace tuk {
namespace {

struct ConvertOptions {
  std::string input;
  std::string output;
  std::string prefix;    // into a .tuk: put in front of every name, as PREFIX/name
  int level = 5;         // into a .tuk: 0 stores files as they are, 1-9 compress
  unsigned threads = 1;  // into a .tuk: threads that compress
};

// Extensions are matched as names are: A-Z and a-z alike.
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() > end.size() && NamesEqual(text.substr(text.size() - end.size()), end);
}

bool IsTuk(const std::string& path) { return EndsWith(path, ".tuk"); }

// A libarchive function that sets a format or filter up, in LibArchive.
using Setter = int (*LibArchive::*)(struct archive*);

struct OutputFormat {
  const char* extension;
  Setter format;
  Setter filter;  // nullptr: none
};

constexpr Setter kPax = &LibArchive::archive_write_set_format_pax_restricted;
constexpr Setter kGzip = &LibArchive::archive_write_add_filter_gzip;
constexpr Setter kBzip2 = &LibArchive::archive_write_add_filter_bzip2;
constexpr Setter kXz = &LibArchive::archive_write_add_filter_xz;
constexpr Setter kZstd = &LibArchive::archive_write_add_filter_zstd;

// Longer extensions first, so that ".tar.gz" is not taken for ".gz".
const OutputFormat kOutputFormats[] = {
    {".tar.gz", kPax, kGzip},
    {".tar.bz2", kPax, kBzip2},
    {".tar.xz", kPax, kXz},
    {".tar.zst", kPax, kZstd},
    {".tgz", kPax, kGzip},
    {".tbz2", kPax, kBzip2},
    {".txz", kPax, kXz},
    {".tzst", kPax, kZstd},
    {".tar", kPax, nullptr},
    {".zip", &LibArchive::archive_write_set_format_zip, nullptr},
    {".7z", &LibArchive::archive_write_set_format_7zip, nullptr},
    {".cpio", &LibArchive::archive_write_set_format_cpio_newc, nullptr},
};

const OutputFormat* FormatOf(const std::string& path) {
  for (const OutputFormat& format : kOutputFormats) {
    if (EndsWith(path, format.extension)) return &format;
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

// A libarchive handle, for reading or for writing, freed with it.
struct ArchiveHandle {
  using Make = struct archive* (*LibArchive::*)();
  using Free = int (*LibArchive::*)(struct archive*);
  ArchiveHandle(const LibArchive& library, Make make, Free free)
      : la(library), release(free), handle((la.*make)()) {}
  ~ArchiveHandle() { (la.*release)(handle); }
  ArchiveHandle(const ArchiveHandle&) = delete;
  ArchiveHandle& operator=(const ArchiveHandle&) = delete;
  std::string Message() const {
    const char* text = la.archive_error_string(handle);
    return text != nullptr ? text : "unknown error";
  }
  const LibArchive& la;
  const Free release;
  struct archive* const handle;
};

// An entry name as it goes into a .tuk: leading "./" components dropped.
std::string WithoutLeadingDots(std::string name) {
  while (name.compare(0, 2, "./") == 0) {
    name.erase(0, 2);
    while (!name.empty() && name[0] == '/') name.erase(0, 1);  // ".//a" is "./a"
  }
  return name;
}

int IntoTuk(const LibArchive& la, const ConvertOptions& options) {
  ArchiveHandle in(la, &LibArchive::archive_read_new, &LibArchive::archive_read_free);
  la.archive_read_support_filter_all(in.handle);
  la.archive_read_support_format_all(in.handle);
  if (la.archive_read_open_filename(in.handle, options.input.c_str(), 1 << 16) != ARCHIVE_OK) {
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
    const int next = la.archive_read_next_header(in.handle, &entry);
    if (next == ARCHIVE_EOF) break;
    if (next == ARCHIVE_WARN) PrintError(options.input + ": " + in.Message());
    if (next < ARCHIVE_WARN) {
      PrintError(options.input + ": " + in.Message() + " (nothing written)");
      return kTukFailed;  // the writer, dropped unfinished, leaves nothing behind
    }
    const char* raw = la.archive_entry_pathname(entry);
    if (raw == nullptr) raw = la.archive_entry_pathname_utf8(entry);
    const std::string original = raw != nullptr ? raw : "";
    const mode_t type = la.archive_entry_filetype(entry);
    if (la.archive_entry_hardlink(entry) != nullptr || type == AE_IFLNK) {
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
    if (la.archive_entry_is_data_encrypted(entry)) {
      PrintError(original + ": encrypted (left out)");
      leftOut = true;
      continue;
    }
    bytes.clear();
    try {
      if (la.archive_entry_size_is_set(entry) && la.archive_entry_size(entry) > 0 &&
          la.archive_entry_size(entry) < (int64_t{1} << 32)) {
        bytes.reserve(static_cast<size_t>(la.archive_entry_size(entry)));
      }
      uint8_t block[1 << 16];
      la_ssize_t got = 0;
      while ((got = la.archive_read_data(in.handle, block, sizeof block)) > 0) {
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

int OutOfTuk(const LibArchive& la, const ConvertOptions& options, const OutputFormat& format) {
  ArchiveReader reader;
  const Status opened = reader.Open(options.input);
  if (!opened.ok()) {
    PrintError(opened.message() + " (nothing written)");
    return kTukFailed;
  }
  struct stat inputStat = {};
  stat(options.input.c_str(), &inputStat);

  ArchiveHandle out(la, &LibArchive::archive_write_new, &LibArchive::archive_write_free);
  if ((la.*format.format)(out.handle) != ARCHIVE_OK ||
      (format.filter != nullptr && (la.*format.filter)(out.handle) != ARCHIVE_OK)) {
    PrintError(options.output + ": " + out.Message());
    return kTukFailed;
  }
  OutputFile target(options.output);
  const Status created = target.Open();
  if (!created.ok()) {
    PrintError(created.message() + ": " + std::strerror(errno));
    return kTukFailed;
  }
  // libarchive writes through the output file, which is moved into place
  // only when complete; a file needs no padding to a whole block.
  la.archive_write_set_bytes_in_last_block(out.handle, 1);
  const auto write = [](struct archive*, void* file, const void* data, size_t length) {
    return static_cast<OutputFile*>(file)->Write(data, length).ok()
               ? static_cast<la_ssize_t>(length)
               : static_cast<la_ssize_t>(-1);
  };
  if (la.archive_write_open(out.handle, &target, nullptr, write, nullptr) != ARCHIVE_OK) {
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
        la.archive_entry_new(), la.archive_entry_free);
    la.archive_entry_set_pathname(entry.get(), name.c_str());
    la.archive_entry_set_filetype(entry.get(), AE_IFREG);
    la.archive_entry_set_perm(entry.get(), 0644);
    la.archive_entry_set_size(entry.get(), static_cast<la_int64_t>(bytes.size()));
    la.archive_entry_set_mtime(entry.get(), inputStat.st_mtime, 0);
    const int header = la.archive_write_header(out.handle, entry.get());
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
      const la_ssize_t wrote =
          la.archive_write_data(out.handle, bytes.data() + at, bytes.size() - at);
      if (wrote <= 0) {
        PrintError(options.output + ": " + out.Message() + " (nothing written)");
        return kTukFailed;
      }
      at += static_cast<size_t>(wrote);
    }
  }
  if (la.archive_write_close(out.handle) != ARCHIVE_OK) {
    PrintError(options.output + ": " + out.Message() + " (nothing written)");
    return kTukFailed;
  }
  const Status committed = target.Commit();
  if (!committed.ok()) {
    PrintError(committed.message());
    return kTukFailed;
  }
  if (leftOut) PrintError("some entries were left out of " + options.output);
  return leftOut ? kTukFailed : kTukDone;
}

const char* ConvertFormats() {
  return ".tar, .tar.gz, .tgz, .tar.bz2, .tar.xz, .tar.zst, .zip, .7z, .cpio";
}

const LibArchive* Load() {
  std::string why;
  const LibArchive* la = LoadLibArchive(why);
  if (la == nullptr) PrintError("tuk convert needs libarchive: " + why + " (nothing written)");
  return la;
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
    const LibArchive* la = Load();
    return la != nullptr ? IntoTuk(*la, into) : kTukFailed;
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
  const LibArchive* la = Load();
  return la != nullptr ? OutOfTuk(*la, options, *format) : kTukFailed;
}

CommandRun Define(CLI::App& command) {
  struct Arguments {
    ConvertOptions options;
    Compression compression;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("INPUT", args->options.input)->required();
  command.add_option("OUTPUT", args->options.output)->required();
  command.add_option("--prefix", args->options.prefix)->type_name("NAME")->take_last();
  AddCompressionOptions(command, args->compression, true);
  return [args] {
    args->options.level = args->compression.level;
    args->options.threads = args->compression.threads != 0 ? args->compression.threads
                                                           : std::thread::hardware_concurrency();
    return RunConvert(args->options);
  };
}

}  // namespace

const Command kConvertCommand = {
    "convert",
    "  convert INPUT OUTPUT [--prefix NAME] [-0..-9] [-j N]\n"
    "                                  between .tuk and tar, zip, 7z and more\n",
    "tuk convert INPUT OUTPUT [--prefix NAME] [-0..-9 | --level N | --fast | --best] [-j N]\n  Converts any archive libarchive reads (tar and its compressed forms,\n  zip, 7z, cpio, ...) into a .tuk, or a .tuk into the format OUTPUT's\n  extension names (.tar, .tar.gz, .tgz, .tar.bz2, .tar.xz, .tar.zst, .zip,\n  .7z, .cpio). Into a .tuk: --prefix NAME puts NAME/ in front of every\n  name, and the levels are those of tuk pack; directories, links and other\n  non-files are skipped and counted, unsafe names refused.\n",
    Define};

}  // namespace tuk
