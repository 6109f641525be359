#include "tuk/tuk_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/legacy/extract_all.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/pack.h"
#include "archive/legacy/path_checks.h"
#include "archive/read/pipelined_extraction.h"
#include "archive/write/recompress.h"
#include "archive/legacy/context.h"
#include "archive/common/thread_pool.h"
#include "archive/legacy/tuk_file.h"
#include "archive/write/writer_lock.h"
#include "codec/encoder.h"
#include "platform/platform.h"
#include "tuk/archive_reader.h"
#include "tuk/cat_command.h"
#include "tuk/command_line.h"
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
    "Compression: -0..-9 (0 stores, 1 fastest, 9 smallest), --level N, --fast,\n"
    "  --best; -j N compresses on N threads\n"
    "Options may stand anywhere after the command; -- ends them.\n"
    "Options: --help (also after a command), --version\n"
    "Exit codes: 0 done, 1 usage error, 2 failure.\n";

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

// What the library is handed for every operation: its error lines go to
// standard error, every other line is left out.
Context ErrorsToStderr(StatusSink* status = nullptr) {
  Context context;
  context.messages = Messages(MessageSet::ErrorsOnly, stderr);
  context.status = status;
  return context;
}

// A progress line for the life of a long operation.
class ProgressScope {
 public:
  ProgressScope() : line_(platform::IsTerminal(stderr)) {}
  Context context() { return ErrorsToStderr(&line_); }

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

// Makes a directory and any missing parents; true when it is there.
bool MakeDirectories(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/' || path[i] == '\\') platform::CreateDir(path.substr(0, i).c_str());
  }
  platform::CreateDir(path.c_str());
  return platform::IsDirectory(path.c_str());
}

// Loads an archive's index; false (reported) when it cannot be used.
bool Load(TukFile& archive, const std::string& path) {
  if (path.size() >= kPathBufferSize) {
    PrintError("path too long: " + path);
    return false;
  }
  if (!platform::File().Open(path.c_str(), platform::File::Mode::Read)) {
    PrintError("cannot open " + path);
    return false;
  }
  archive.LoadIndex(path.c_str());
  if (archive.indexDamaged) {
    PrintError("damaged index in " + path + " (only the entries before the damage are used)");
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

int List(const std::string& path, bool json) {
  ArchiveReader reader;
  const Status opened = reader.Open(path);
  if (opened.code() == Errc::kNotFound) {
    PrintError(opened.message());
    return kTukFailed;
  }
  if (!opened.ok()) PrintError(opened.message() + " (only the entries before the damage are listed)");
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

int Verify(const std::string& path) {
  size_t withoutChecksum = 0;
  const std::vector<std::string> problems = VerifyArchive(path.c_str(), &withoutChecksum);
  for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
  if (problems.empty()) {
    if (withoutChecksum == 0) {
      std::printf("%s: OK\n", path.c_str());
    } else {
      std::printf("%s: OK (%zu entr%s without a checksum)\n", path.c_str(), withoutChecksum,
                  withoutChecksum == 1 ? "y" : "ies");
    }
    return kTukDone;
  }
  std::printf("%s: %zu problem%s\n", path.c_str(), problems.size(),
              problems.size() == 1 ? "" : "s");
  return kTukFailed;
}

int Extract(const std::string& path, const std::string& directory,
            const std::vector<std::string>& names) {
  // Like unzip -d, a missing directory is made, and its parents with it.
  if (!MakeDirectories(directory)) {
    PrintError("cannot make directory " + directory);
    return kTukFailed;
  }
  const std::string archivePath = Absolute(path);
  const std::string target = Absolute(directory);
  ProgressScope progress;
  TukFile archive(progress.context());
  if (!Load(archive, archivePath)) return kTukFailed;

  archive.checkChecksums = true;
  bool failed = archive.indexDamaged;
  if (names.empty()) {
    const uint32_t needed = (archive.totalSize >> 20) + 16;
    if (needed > freeDiskSpaceMB(target.c_str())) {
      PrintError("not enough free space in " + directory);
      return kTukFailed;
    }
    // Unlike the unpack program, keep going after a failed entry.
    PipelinedExtraction run(archive, target.c_str(), false,
                            PipelinedExtraction::WorkersFor(archive));
    for (uint32_t i = 0; i < archive.entries.size(); ++i) {
      archive.context.ShowStatus(archive.entries.At(i).name);
      run.Extract(i);
    }
    if (!run.Finish()) failed = true;
  } else {
    for (const std::string& name : names) {
      // The library names what failed, a missing entry included.
      if (archive.ExtractByName(name.c_str(), target.c_str()) == nullptr) failed = true;
    }
  }
  return failed ? kTukFailed : kTukDone;
}

struct PackArguments {
  std::string source, prefix, archive;
  bool update = false;
  Compression compression;
};

int Pack(const PackArguments& args) {
  const Compression& compression = args.compression;
  if (PathIsInside(args.archive, args.source)) {
    PrintError("the archive would lie inside the source directory: " + args.archive);
    return kTukFailed;
  }

  std::vector<char> sourceDir(args.source.begin(), args.source.end());
  sourceDir.resize(sourceDir.size() + 2, '\0');
  std::vector<char> prefix(args.prefix.begin(), args.prefix.end());
  prefix.resize(prefix.size() + 2, '\0');
  PackOptions options;
  options.level = compression.level;
  options.threads = compression.threads;
  PackOutcome outcome = PackOutcome::Failed;
  {
    ProgressScope progress;
    packTukFiles(sourceDir.data(), prefix.data(), args.archive.c_str(), args.update ? 1 : 0, 1,
                 &outcome, &options, progress.context());
  }
  if (outcome == PackOutcome::Failed) PrintError("packing failed: " + args.archive);
  if (outcome == PackOutcome::Incomplete) PrintError("some files were left out of " + args.archive);
  return outcome == PackOutcome::Complete ? kTukDone : kTukFailed;
}

struct ReplaceArguments {
  std::string archive, name, file;
  Compression compression;
};

int Replace(const ReplaceArguments& args) {
  const Compression& compression = args.compression;
  const std::string& name = args.name;
  if (name.size() > kMaxNameLength ||
      !IsSafeEntryName(name.c_str(), static_cast<uint32_t>(name.size()))) {
    PrintError("not a usable entry name: " + name);
    return kTukFailed;
  }
  // The index is read under the lock, so no other writer's entries are lost.
  TukFile archive(ErrorsToStderr());
  const WriterLock lock(args.archive, archive.messages);
  if (!Load(archive, args.archive)) return kTukFailed;
  if (archive.indexDamaged) return kTukFailed;

  platform::File input;
  if (!input.Open(args.file.c_str(), platform::File::Mode::Read)) {
    PrintError("cannot open " + args.file);
    return kTukFailed;
  }
  const int64_t size = input.Length();
  if (size < 0 || static_cast<uint64_t>(size) >= kMaxInputFileSize ||
      !archive.GrowRawBuffer(static_cast<uint64_t>(size) + 1) ||
      input.Read(archive.rawBuffer.get(), static_cast<size_t>(size)) !=
          static_cast<size_t>(size)) {
    PrintError("cannot read " + args.file);
    return kTukFailed;
  }
  archive.compressionLevel = compression.level;
  archive.compressionThreads = compression.threads;
  archive.writeChecksums = true;
  const uint32_t index = FindEntryByName(archive.entries, name.c_str(),
                                         static_cast<uint32_t>(name.size()));
  if (archive.AddReplaceFile(index, static_cast<uint32_t>(size), name.c_str()) != 0) {
    PrintError("could not update " + args.archive + " (it is unchanged)");
    return kTukFailed;
  }
  return kTukDone;
}

int Recompress(const std::string& path, const Compression& compression) {
  ProgressScope progress;
  TukFile archive(progress.context());
  const WriterLock lock(path, archive.messages);
  if (!Load(archive, path)) return kTukFailed;
  if (archive.indexDamaged) return kTukFailed;
  if (!RecompressArchive(archive, compression.level, compression.threads)) {
    PrintError("could not recompress " + path + " (it is unchanged)");
    return kTukFailed;
  }
  return kTukDone;
}

int UnpackAll(const std::string& patternText, const std::string& directory) {
  if (!platform::IsDirectory(directory.c_str())) {
    PrintError("no such directory: " + directory);
    return kTukFailed;
  }
  std::string pattern = Absolute(patternText);
  if (pattern.find('*') == std::string::npos) {
    PrintError("the pattern has no '*': " + patternText);
    return kTukUsage;
  }
  ProgressScope progress;
  return unpackTukFiles(&pattern[0], nullptr, Absolute(directory).c_str(),
                        progress.context()) == 0
             ? kTukDone
             : kTukFailed;
}

CommandRun DefineList(CLI::App& command) {
  struct Arguments {
    std::string archive;
    bool json = false;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_flag("--json", args->json);
  return [args] { return List(args->archive, args->json); };
}

CommandRun DefineVerify(CLI::App& command) {
  auto path = std::make_shared<std::string>();
  command.add_option("ARCHIVE", *path)->required();
  return [path] { return Verify(*path); };
}

CommandRun DefineExtract(CLI::App& command) {
  struct Arguments {
    std::string archive, directory = ".";
    std::vector<std::string> names;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->names);
  command.add_option("-C", args->directory)->type_name("DIR")->take_last();
  return [args] { return Extract(args->archive, args->directory, args->names); };
}

CommandRun DefinePack(CLI::App& command) {
  auto args = std::make_shared<PackArguments>();
  command.add_option("SRC", args->source)->required();
  command.add_option("PREFIX", args->prefix)->required();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_flag("--update", args->update);
  AddCompressionOptions(command, args->compression, true);
  return [args] { return Pack(*args); };
}

CommandRun DefineReplace(CLI::App& command) {
  auto args = std::make_shared<ReplaceArguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->name)->required();
  command.add_option("FILE", args->file)->required();
  AddCompressionOptions(command, args->compression, true);
  return [args] { return Replace(*args); };
}

CommandRun DefineRecompress(CLI::App& command) {
  struct Arguments {
    std::string archive;
    Compression compression;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  AddCompressionOptions(command, args->compression, true);
  return [args] { return Recompress(args->archive, args->compression); };
}

CommandRun DefineUnpackAll(CLI::App& command) {
  struct Arguments {
    std::string pattern, directory;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("PATTERN", args->pattern)->required();
  command.add_option("DIR", args->directory)->required();
  return [args] { return UnpackAll(args->pattern, args->directory); };
}

CommandRun DefineCat(CLI::App& command) {
  struct Arguments {
    std::string archive;
    std::vector<std::string> names;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->names)->required();
  return [args] { return RunCat(args->archive, args->names); };
}

#ifdef TUK_HAVE_MOUNT
CommandRun DefineMount(CLI::App& command) {
  struct Arguments {
    MountOptions options;
    uint64_t cacheMiB = 256;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->options.archive)->required();
  command.add_option("DIR", args->options.directory)->required();
  command.add_flag("-f", args->options.foreground);
  command.add_option("--cache-size", args->cacheMiB)
      ->type_name("MiB")
      ->check(CLI::Range(uint64_t{0}, uint64_t{1} << 30))
      ->take_last();
  return [args] {
    args->options.cacheBytes = args->cacheMiB << 20;
    return RunMount(args->options);
  };
}

CommandRun DefineUnmount(CLI::App& command) {
  auto directory = std::make_shared<std::string>();
  command.add_option("DIR", *directory)->required();
  return [directory] { return RunUnmount(*directory); };
}
#endif

#ifdef TUK_HAVE_CONVERT
CommandRun DefineConvert(CLI::App& command) {
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
    args->options.threads = args->compression.threads;
    return RunConvert(args->options);
  };
}
#endif

const std::vector<Command> kCommands = {
    {"list", "tuk list ARCHIVE [--json]\n  Shows the mode, entry count and total size, then one row per entry:\n  index, size, stored size, offset and name; with --json, as one JSON object.\n", DefineList},
    {"verify", "tuk verify ARCHIVE\n  Checks the header, the index, that every payload lies inside the data\n  area without overlapping another, that every name is safe, and decodes\n  every compressed payload. Prints each problem; exits 0 only when sound.\n", DefineVerify},
    {"extract", "tuk extract ARCHIVE [-C DIR] [NAME...]\n  Extracts every entry, or the named ones (names match regardless of the\n  case of A-Z), into DIR (default: the current directory), which is made\n  when missing.\n", DefineExtract},
    {"pack", "tuk pack SRC PREFIX ARCHIVE [--update] [-0..-9 | --level N | --fast | --best] [-j N]\n  Packs every file below SRC, naming each PREFIX/path, compressed at level 5\n  unless told otherwise (-0 stores files as they are, -1 is fastest, -9\n  smallest) on N threads (default: every core). With --update, entries of\n  ARCHIVE that are not packed again are kept, and ARCHIVE keeps its mode.\n  Refuses an ARCHIVE inside SRC.\n", DefinePack},
    {"replace", "tuk replace ARCHIVE NAME FILE [-0..-9 | --level N | --fast | --best] [-j N]\n  Replaces the entry NAME with FILE's bytes, or adds it when there is none;\n  in a compressed archive FILE is compressed at the level (default 5).\n", DefineReplace},
    {"recompress", "tuk recompress ARCHIVE [-0..-9 | --level N | --fast | --best] [-j N]\n  Rewrites ARCHIVE with every entry stored as it is (-0) or compressed at\n  the level (default 5); names, bytes and order stay. All or nothing.\n", DefineRecompress},
    {"unpack-all", "tuk unpack-all PATTERN DIR\n  Extracts every archive matching PATTERN (such as 'packs/*.tuk') into DIR.\n", DefineUnpackAll},
    {"cat", "tuk cat ARCHIVE NAME...\n  Writes the bytes of each named entry to standard output, in the order\n  given (names match regardless of the case of A-Z; of two entries with\n  one name, the later). Exits 2 when a name has no entry or an entry does\n  not decode.\n", DefineCat},
#ifdef TUK_HAVE_MOUNT
    {"mount", "tuk mount ARCHIVE DIR [-f] [--cache-size MiB]\n  Shows the entries of ARCHIVE as read-only files below DIR (FUSE), and\n  returns once the mount is ready; -f serves in the foreground until\n  Ctrl-C. Compressed entries are decoded once and kept in a cache of\n  MiB mebibytes (default 256). tuk unmount DIR ends it.\n", DefineMount},
    {"unmount", "tuk unmount DIR\n  Ends the mount at DIR, as fusermount3 does for its user.\n", DefineUnmount},
#endif
#ifdef TUK_HAVE_CONVERT
    {"convert", "tuk convert INPUT OUTPUT [--prefix NAME] [-0..-9 | --level N | --fast | --best] [-j N]\n  Converts any archive libarchive reads (tar and its compressed forms,\n  zip, 7z, cpio, ...) into a .tuk, or a .tuk into the format OUTPUT's\n  extension names (.tar, .tar.gz, .tgz, .tar.bz2, .tar.xz, .tar.zst, .zip,\n  .7z, .cpio). Into a .tuk: --prefix NAME puts NAME/ in front of every\n  name, and the levels are those of tuk pack; directories, links and other\n  non-files are skipped and counted, unsafe names refused.\n", DefineConvert},
#endif
};

}  // namespace

void PrintError(const std::string& text) {
  std::fprintf(stderr, "tuk: %s\n", text.c_str());
}

int RunTuk(int argc, char** argv) {
  return RunCommandLine(argc, argv, kCommands, kUsage, kVersion);
}

}  // namespace tuk
