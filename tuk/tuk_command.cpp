#include "tuk/tuk_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/extract_all.h"
#include "archive/messages.h"
#include "archive/pack.h"
#include "archive/path_checks.h"
#include "archive/recompress.h"
#include "archive/status_sink.h"
#include "archive/thread_pool.h"
#include "archive/tuk_file.h"
#include "archive/writer_lock.h"
#include "codec/encoder.h"
#include "platform/platform.h"
#include "tuk/archive_reader.h"
#include "tuk/cat_command.h"
#include "tuk/verify.h"
#ifdef TUK_HAVE_MOUNT
#include "tuk/mount_command.h"
#endif
#ifdef TUK_HAVE_CONVERT
#include "tuk/convert_command.h"
#endif

namespace tuk {
namespace {

const char kVersion[] = "tuk 1.5\n";

const char kUsage[] =
    "Usage: tuk <command> [arguments]\n"
    "\n"
    "Commands:\n"
    "  list ARCHIVE [--json]           list the entries\n"
    "  verify ARCHIVE                  check structure and payloads\n"
    "  extract ARCHIVE [-C DIR] [NAME...]\n"
    "                                  extract every entry, or the named ones\n"
    "  pack SRC PREFIX ARCHIVE [--update] [-0..-9] [-j N]\n"
    "                                  pack a directory tree (or update ARCHIVE)\n"
    "  replace ARCHIVE NAME FILE [-0..-9]\n"
    "                                  replace or add one entry\n"
    "  recompress ARCHIVE [-0..-9] [-j N]\n"
    "                                  rewrite ARCHIVE stored or at another level\n"
    "  unpack-all PATTERN DIR          extract every archive matching PATTERN\n"
    "  cat ARCHIVE NAME...             write entries' bytes to standard output\n"
#ifdef TUK_HAVE_MOUNT
    "  mount ARCHIVE DIR [-f] [--cache-size MiB]\n"
    "                                  show ARCHIVE at DIR, read-only (FUSE)\n"
    "  unmount DIR                     end a mount\n"
#endif
#ifdef TUK_HAVE_CONVERT
    "  convert INPUT OUTPUT [--prefix NAME] [-0..-9] [-j N]\n"
    "                                  between .tuk and tar, zip, 7z and more\n"
#endif
#if defined(_WIN32)
    "\n"
    "Not in this build: mount and convert (libfuse3 and libarchive are not\n"
    "built for Windows).\n"
#elif !defined(TUK_HAVE_MOUNT) && !defined(TUK_HAVE_CONVERT)
    "\n"
    "Not in this build: mount (needs libfuse3), convert (needs libarchive).\n"
#elif !defined(TUK_HAVE_MOUNT)
    "\n"
    "Not in this build: mount (needs libfuse3).\n"
#elif !defined(TUK_HAVE_CONVERT)
    "\n"
    "Not in this build: convert (needs libarchive).\n"
#endif
    "\n"
    "Options: --help (also after a command), --version\n"
    "Exit codes: 0 done, 1 usage error, 2 failure.\n";

struct Command {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::string>& args);
};

void Error(const std::string& text) {
  std::fprintf(stderr, "tuk: %s\n", text.c_str());
}

// Shows the library's progress texts on one terminal line.
class ProgressLine : public StatusSink {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  ~ProgressLine() override {
    if (shown_ && drawn_) std::fputs("\r\033[K", stderr);
  }
  void ShowStatus(const char* text) override {
    if (!shown_) return;
    std::fprintf(stderr, "\r\033[K%.70s", text);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  bool shown_;
  bool drawn_ = false;
};

// Installs a progress line for the life of a long operation.
class ProgressScope {
 public:
  ProgressScope() : line_(platform::IsTerminal(stderr)) { SetStatusSink(&line_); }
  ~ProgressScope() { SetStatusSink(nullptr); }

 private:
  ProgressLine line_;
};

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\' ||
      (path.size() > 1 && path[1] == ':')) {
    return path;
  }
  std::string cwd;
  platform::GetCurrentDir(cwd);
  return cwd + "/" + path;
}

// Loads an archive's index; false (reported) when it cannot be used.
bool Load(TukFile& archive, const std::string& path) {
  if (path.size() >= kPathBufferSize) {
    Error("path too long: " + path);
    return false;
  }
  if (!platform::File().Open(path.c_str(), platform::File::Mode::Read)) {
    Error("cannot open " + path);
    return false;
  }
  archive.LoadIndex(path.c_str());
  if (archive.indexDamaged) {
    Error("damaged index in " + path + " (only the entries before the damage are used)");
  }
  return true;
}

// The compression choices of pack, replace and recompress.
struct Compression {
  int level = kDefaultLevel;  // 0: store files as they are
  unsigned threads = HardwareThreads();
};

// Reads the options at args[i] that are not compression options into
// words, and those that are into compression. False on a malformed one.
bool SplitOptions(const std::vector<std::string>& args, std::vector<std::string>& words,
                  Compression& compression) {
  auto number = [](const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value >= low && value <= high;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    long value = 0;
    if (arg.size() == 2 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9') {
      compression.level = arg[1] - '0';
    } else if (arg == "--fast" || arg == "--best") {
      compression.level = arg == "--fast" ? kFastestLevel : kSmallestLevel;
    } else if (arg == "--level" || arg == "-j") {
      if (++i == args.size()) return false;
      if (!number(args[i], arg == "-j" ? 1 : 0, arg == "-j" ? 256 : 9, value)) return false;
      if (arg == "-j") {
        compression.threads = static_cast<unsigned>(value);
      } else {
        compression.level = static_cast<int>(value);
      }
    } else if (arg.size() > 2 && arg.compare(0, 2, "-j") == 0) {
      if (!number(arg.substr(2), 1, 256, value)) return false;
      compression.threads = static_cast<unsigned>(value);
    } else {
      words.push_back(arg);
    }
  }
  return true;
}

// "45.2%": stored bytes against file bytes.
std::string Ratio(uint64_t stored, uint64_t size) {
  if (size == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(stored) /
                                                 static_cast<double>(size));
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text.c_str()); *c; ++c) {
    switch (*c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (*c < 0x20 || *c >= 0x80) {
          // Names are 8-bit code-page bytes; keep each byte visible.
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", *c);
          out += escaped;
        } else {
          out += static_cast<char>(*c);
        }
    }
  }
  return out + "\"";
}

int List(const std::vector<std::string>& args) {
  const bool json = args.size() == 2 && args[1] == "--json";
  if (args.empty() || args.size() > 2 || (args.size() == 2 && !json)) return kTukUsage;
  ArchiveReader reader;
  const Status opened = reader.Open(args[0]);
  if (opened.code() == Errc::kNotFound) {
    Error(opened.message());
    return kTukFailed;
  }
  if (!opened.ok()) Error(opened.message() + " (only the entries before the damage are listed)");
  const Index& index = reader.index();
  const auto stored = static_cast<unsigned long long>(index.TotalStoredSize());
  const auto total = static_cast<unsigned long long>(index.TotalSize());
  if (json) {
    std::printf("{\"mode\": %u, \"count\": %zu, \"totalSize\": %llu, \"storedSize\": %llu, "
                "\"entries\": [",
                index.mode(), index.size(), total, stored);
    for (size_t i = 0; i < index.size(); ++i) {
      const Entry& e = index[i];
      std::printf("%s\n  {\"index\": %zu, \"name\": %s, \"size\": %u, \"storedSize\": %u, "
                  "\"offset\": %u}",
                  i == 0 ? "" : ",", i, JsonString(e.name).c_str(), e.size, e.storedSize,
                  e.offset);
    }
    std::printf("%s]}\n", index.size() > 0 ? "\n" : "");
  } else {
    std::printf("mode %u, %zu entries, %llu bytes, %llu stored (%s)\n", index.mode(),
                index.size(), total, stored, Ratio(stored, total).c_str());
    std::printf("%6s %10s %10s %7s %10s  %s\n", "index", "size", "stored", "ratio", "offset",
                "name");
    for (size_t i = 0; i < index.size(); ++i) {
      const Entry& e = index[i];
      std::printf("%6zu %10u %10u %7s %10u  %s\n", i, e.size, e.storedSize,
                  Ratio(e.storedSize, e.size).c_str(), e.offset, e.name.c_str());
    }
  }
  return opened.ok() ? kTukDone : kTukFailed;
}

int Verify(const std::vector<std::string>& args) {
  if (args.size() != 1) return kTukUsage;
  size_t withoutChecksum = 0;
  const std::vector<std::string> problems = VerifyArchive(args[0].c_str(), &withoutChecksum);
  for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
  if (problems.empty()) {
    if (withoutChecksum == 0) {
      std::printf("%s: OK\n", args[0].c_str());
    } else {
      std::printf("%s: OK (%zu entr%s without a checksum)\n", args[0].c_str(), withoutChecksum,
                  withoutChecksum == 1 ? "y" : "ies");
    }
    return kTukDone;
  }
  std::printf("%s: %zu problem%s\n", args[0].c_str(), problems.size(),
              problems.size() == 1 ? "" : "s");
  return kTukFailed;
}

int Extract(const std::vector<std::string>& args) {
  if (args.empty()) return kTukUsage;
  std::string directory = ".";
  std::vector<std::string> names;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-C") {
      if (++i == args.size()) return kTukUsage;
      directory = args[i];
    } else {
      names.push_back(args[i]);
    }
  }
  if (!platform::IsDirectory(directory.c_str())) {
    Error("no such directory: " + directory);
    return kTukFailed;
  }
  const std::string archivePath = Absolute(args[0]);
  const std::string target = Absolute(directory);
  TukFile archive;
  if (!Load(archive, archivePath)) return kTukFailed;

  ProgressScope progress;
  archive.checkChecksums = true;
  bool failed = archive.indexDamaged;
  if (names.empty()) {
    const uint32_t needed = (archive.totalSize >> 20) + 16;
    if (needed > freeDiskSpaceMB(target.c_str())) {
      Error("not enough free space in " + directory);
      return kTukFailed;
    }
    // Unlike the unpack program, keep going after a failed entry.
    for (uint32_t i = 0; i < archive.entries.count; ++i) {
      StatusReceiver().ShowStatus(archive.entries.At(i).name);
      if (archive.Extract(i, target.c_str()) == nullptr) failed = true;
    }
  } else {
    for (const std::string& name : names) {
      // The library names what failed, a missing entry included.
      if (archive.ExtractByName(name.c_str(), target.c_str()) == nullptr) failed = true;
    }
  }
  return failed ? kTukFailed : kTukDone;
}

int Pack(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  Compression compression;
  if (!SplitOptions(args, words, compression)) return kTukUsage;
  const bool update = words.size() == 4 && words[3] == "--update";
  if (words.size() != 3 && !update) return kTukUsage;
  if (PathIsInside(words[2], words[0])) {
    Error("the archive would lie inside the source directory: " + words[2]);
    return kTukFailed;
  }

  std::vector<char> sourceDir(words[0].begin(), words[0].end());
  sourceDir.resize(sourceDir.size() + 2, '\0');
  std::vector<char> prefix(words[1].begin(), words[1].end());
  prefix.resize(prefix.size() + 2, '\0');
  PackOptions options;
  options.level = compression.level;
  options.threads = compression.threads;
  PackOutcome outcome = PackOutcome::Failed;
  {
    ProgressScope progress;
    packTukFiles(sourceDir.data(), prefix.data(), words[2].c_str(), update ? 1 : 0, 1,
                 &outcome, &options);
  }
  if (outcome == PackOutcome::Failed) Error("packing failed: " + words[2]);
  if (outcome == PackOutcome::Incomplete) Error("some files were left out of " + words[2]);
  return outcome == PackOutcome::Complete ? kTukDone : kTukFailed;
}

int Replace(const std::vector<std::string>& options) {
  std::vector<std::string> args;
  Compression compression;
  if (!SplitOptions(options, args, compression) || args.size() != 3) return kTukUsage;
  const std::string& name = args[1];
  if (name.size() > kMaxNameLength ||
      !IsSafeEntryName(name.c_str(), static_cast<uint32_t>(name.size()))) {
    Error("not a usable entry name: " + name);
    return kTukFailed;
  }
  // The index is read under the lock, so no other writer's entries are lost.
  const WriterLock lock(args[0]);
  TukFile archive;
  if (!Load(archive, args[0])) return kTukFailed;
  if (archive.indexDamaged) return kTukFailed;

  platform::File input;
  if (!input.Open(args[2].c_str(), platform::File::Mode::Read)) {
    Error("cannot open " + args[2]);
    return kTukFailed;
  }
  const int64_t size = input.Length();
  if (size < 0 || static_cast<uint64_t>(size) >= kMaxInputFileSize ||
      !archive.GrowRawBuffer(static_cast<uint64_t>(size) + 1) ||
      input.Read(archive.rawBuffer.get(), static_cast<size_t>(size)) !=
          static_cast<size_t>(size)) {
    Error("cannot read " + args[2]);
    return kTukFailed;
  }
  archive.compressionLevel = compression.level;
  archive.compressionThreads = compression.threads;
  archive.writeChecksums = true;
  const uint32_t index = FindEntryByName(archive.entries, name.c_str(),
                                         static_cast<uint32_t>(name.size()));
  if (archive.AddReplaceFile(index, static_cast<uint32_t>(size), name.c_str()) != 0) {
    Error("could not update " + args[0] + " (it is unchanged)");
    return kTukFailed;
  }
  return kTukDone;
}

int Recompress(const std::vector<std::string>& options) {
  std::vector<std::string> args;
  Compression compression;
  if (!SplitOptions(options, args, compression) || args.size() != 1) return kTukUsage;
  const WriterLock lock(args[0]);
  TukFile archive;
  if (!Load(archive, args[0])) return kTukFailed;
  if (archive.indexDamaged) return kTukFailed;
  ProgressScope progress;
  if (!RecompressArchive(archive, compression.level, compression.threads)) {
    Error("could not recompress " + args[0] + " (it is unchanged)");
    return kTukFailed;
  }
  return kTukDone;
}

int UnpackAll(const std::vector<std::string>& args) {
  if (args.size() != 2) return kTukUsage;
  if (!platform::IsDirectory(args[1].c_str())) {
    Error("no such directory: " + args[1]);
    return kTukFailed;
  }
  std::string pattern = Absolute(args[0]);
  if (pattern.find('*') == std::string::npos) {
    Error("the pattern has no '*': " + args[0]);
    return kTukUsage;
  }
  ProgressScope progress;
  return unpackTukFiles(&pattern[0], nullptr, Absolute(args[1]).c_str()) == 0
             ? kTukDone
             : kTukFailed;
}

// ---- cat, mount, unmount, convert: the words of the command line to the
// plain arguments of the Run* functions of their own files.

int Cat(const std::vector<std::string>& args) {
  if (args.size() < 2) return kTukUsage;
  return RunCat(args[0], std::vector<std::string>(args.begin() + 1, args.end()));
}

#ifdef TUK_HAVE_MOUNT
int Mount(const std::vector<std::string>& args) {
  MountOptions options;
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-f") {
      options.foreground = true;
    } else if (args[i] == "--cache-size") {
      if (++i == args.size()) return kTukUsage;
      char* end = nullptr;
      const unsigned long long mib = std::strtoull(args[i].c_str(), &end, 10);
      if (args[i].empty() || *end != '\0' || args[i][0] == '-' || mib > (1ull << 30)) {
        return kTukUsage;
      }
      options.cacheBytes = mib << 20;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return kTukUsage;
    } else {
      words.push_back(args[i]);
    }
  }
  if (words.size() != 2) return kTukUsage;
  options.archive = words[0];
  options.directory = words[1];
  return RunMount(options);
}

int Unmount(const std::vector<std::string>& args) {
  if (args.size() != 1) return kTukUsage;
  return RunUnmount(args[0]);
}
#endif

#ifdef TUK_HAVE_CONVERT
int Convert(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  Compression compression;
  if (!SplitOptions(args, words, compression)) return kTukUsage;
  ConvertOptions options;
  std::vector<std::string> paths;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--prefix") {
      if (++i == words.size()) return kTukUsage;
      options.prefix = words[i];
    } else {
      paths.push_back(words[i]);
    }
  }
  if (paths.size() != 2) return kTukUsage;
  options.input = paths[0];
  options.output = paths[1];
  options.level = compression.level;
  options.threads = compression.threads;
  return RunConvert(options);
}
#endif

const Command kCommands[] = {
    {"list", "tuk list ARCHIVE [--json]\n  Shows the mode, entry count and total size, then one row per entry:\n  index, size, stored size, offset and name.\n", List},
    {"verify", "tuk verify ARCHIVE\n  Checks the header, the index, that every payload lies inside the data\n  area without overlapping another, that every name is safe, and decodes\n  every compressed payload. Prints each problem; exits 0 only when sound.\n", Verify},
    {"extract", "tuk extract ARCHIVE [-C DIR] [NAME...]\n  Extracts every entry, or the named ones (names match regardless of the\n  case of A-Z), into DIR (default: the current directory).\n", Extract},
    {"pack", "tuk pack SRC PREFIX ARCHIVE [--update] [-0..-9 | --level N | --fast | --best] [-j N]\n  Packs every file below SRC, naming each PREFIX/path, compressed at level 5\n  unless told otherwise (-0 stores files as they are, -1 is fastest, -9\n  smallest) on N threads (default: every core). With --update, entries of\n  ARCHIVE that are not packed again are kept, and ARCHIVE keeps its mode.\n  Refuses an ARCHIVE inside SRC.\n", Pack},
    {"replace", "tuk replace ARCHIVE NAME FILE [-0..-9 | --level N]\n  Replaces the entry NAME with FILE's bytes, or adds it when there is none;\n  in a compressed archive FILE is compressed at the level (default 5).\n", Replace},
    {"recompress", "tuk recompress ARCHIVE [-0..-9 | --level N | --fast | --best] [-j N]\n  Rewrites ARCHIVE with every entry stored as it is (-0) or compressed at\n  the level (default 5); names, bytes and order stay. All or nothing.\n", Recompress},
    {"unpack-all", "tuk unpack-all PATTERN DIR\n  Extracts every archive matching PATTERN (such as 'packs/*.tuk') into DIR.\n", UnpackAll},
    {"cat", "tuk cat ARCHIVE NAME...\n  Writes the bytes of each named entry to standard output, in the order\n  given (names match regardless of the case of A-Z; of two entries with\n  one name, the later). Exits 2 when a name has no entry or an entry does\n  not decode.\n", Cat},
#ifdef TUK_HAVE_MOUNT
    {"mount", "tuk mount ARCHIVE DIR [-f] [--cache-size MiB]\n  Shows the entries of ARCHIVE as read-only files below DIR (FUSE), and\n  returns once the mount is ready; -f serves in the foreground until\n  Ctrl-C. Compressed entries are decoded once and kept in a cache of\n  MiB mebibytes (default 256). tuk unmount DIR ends it.\n", Mount},
    {"unmount", "tuk unmount DIR\n  Ends the mount at DIR, as fusermount3 does for its user.\n", Unmount},
#endif
#ifdef TUK_HAVE_CONVERT
    {"convert", "tuk convert INPUT OUTPUT [--prefix NAME] [-0..-9 | --level N | --fast | --best] [-j N]\n  Converts any archive libarchive reads (tar and its compressed forms,\n  zip, 7z, cpio, ...) into a .tuk, or a .tuk into the format OUTPUT's\n  extension names (.tar, .tar.gz, .tgz, .tar.bz2, .tar.xz, .tar.zst, .zip,\n  .7z, .cpio). Into a .tuk: --prefix NAME puts NAME/ in front of every\n  name, and the levels are those of tuk pack; directories, links and other\n  non-files are skipped and counted, unsafe names refused.\n", Convert},
#endif
};

}  // namespace

int RunTuk(int argc, char** argv) {
  SelectMessageSet(MessageSet::ErrorsOnly);
  SetMessageStream(stderr);
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kTukUsage;
  }
  const std::string word = argv[1];
  if (word == "--help" || word == "-h" || word == "help") {
    std::fputs(kUsage, stdout);
    return kTukDone;
  }
  if (word == "--version") {
    std::fputs(kVersion, stdout);
    return kTukDone;
  }
  for (const Command& command : kCommands) {
    if (word != command.name) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& arg : args) {
      if (arg == "--help" || arg == "-h") {
        std::printf("Usage: %s", command.usage);
        return kTukDone;
      }
    }
    const int result = command.run(args);
    if (result == kTukUsage) std::fprintf(stderr, "Usage: %s", command.usage);
    return result;
  }
  Error("unknown command: " + word);
  std::fputs(kUsage, stderr);
  return kTukUsage;
}

}  // namespace tuk
