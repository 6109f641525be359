#include "tuk/archive_stream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <cstring>

#include <unistd.h>
#endif

#include "tuk/reporting.h"

namespace tuk {
namespace {

// What an archive can hold: its offsets are 32-bit.
constexpr uint64_t kLargestArchive = 0xFFFFFFFFu;

void Remove(const std::string& path) {
  std::error_code error;
  if (!path.empty()) std::filesystem::remove(path, error);
}

#ifndef _WIN32
// What a run ended by a signal removes on its way out: the spool
// directories, each spool and what the archive writer keeps beside one
// while it writes (NAME.tmp, NAME.lock). A signal handler may only unlink
// and rmdir, so the paths wait in fixed arrays, made ready beforehand.
constexpr int kMostLeftovers = 16;
char leftovers[kMostLeftovers][4096];
volatile std::sig_atomic_t leftoverCount = 0;

extern "C" void RemoveLeftoversAndEnd(int signal) {
  // Deepest first: the files, then their directory.
  for (int i = leftoverCount - 1; i >= 0; --i) {
    if (unlink(leftovers[i]) != 0) rmdir(leftovers[i]);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void RemoveOnSignal(const std::string& path) {
  if (leftoverCount >= kMostLeftovers || path.size() >= sizeof leftovers[0]) return;
  std::memcpy(leftovers[leftoverCount], path.c_str(), path.size() + 1);
  leftoverCount = leftoverCount + 1;
  static const bool caught = [] {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      // A signal ignored by whoever started the run (nohup) stays ignored.
      if (std::signal(signal, RemoveLeftoversAndEnd) == SIG_IGN) std::signal(signal, SIG_IGN);
    }
    return true;
  }();
  (void)caught;
}
#endif

}  // namespace

SpoolDirectory::~SpoolDirectory() {
  if (path_.empty()) return;
#ifndef _WIN32
  leftoverCount = firstLeftover_;
#endif
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::string SpoolDirectory::File(const char* name) {
  if (path_.empty()) {
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) {
      PrintError("no temporary directory for the spool (TMPDIR): " + error.message());
      return std::string();
    }
    const std::string pattern = (temporary / "tuk-XXXXXX").string();
#ifdef _WIN32
    // A name of its own, made only if nothing has it yet.
    for (unsigned attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::string candidate =
          pattern.substr(0, pattern.size() - 6) +
          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000) +
          "-" + std::to_string(attempt);
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
#else
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    firstLeftover_ = leftoverCount;
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
    if (!path_.empty()) RemoveOnSignal(path_);
#endif
    if (path_.empty()) {
      PrintError("cannot make a directory for the spool in " + temporary.string());
      return std::string();
    }
  }
  const std::string file = (std::filesystem::path(path_) / name).string();
#ifndef _WIN32
  for (const char* suffix : {"", ".lock", ".tmp"}) RemoveOnSignal(file + suffix);
#endif
  return file;
}

std::string ArchiveInput::Shown(const std::string& path) {
  return path == "-" ? "standard input" : path;
}

std::string ArchiveInput::Path(const std::string& path) {
  if (path != "-") return path;
  if (!spool_.empty()) return spool_;
  if (IsTerminal(stdin)) {
    // As tar does: what is typed is no archive, and a forgotten name should
    // not leave the run waiting.
    PrintError("refusing to read an archive from a terminal");
    return std::string();
  }
  spool_ = spools_.File("input.tuk");
  if (spool_.empty()) return spool_;
  std::FILE* out = std::fopen(spool_.c_str(), "wb");
  if (out == nullptr) {
    PrintError("cannot make a spool for standard input: " + spool_);
    spool_.clear();
    return std::string();
  }
  SetBinaryMode(stdin);
  char block[1 << 16];
  uint64_t total = 0;
  bool written = true;
  size_t got = 0;
  while (written && (got = std::fread(block, 1, sizeof block, stdin)) > 0) {
    total += got;
    written = total <= kLargestArchive && std::fwrite(block, 1, got, out) == got;
  }
  written = std::fclose(out) == 0 && written && !std::ferror(stdin);
  if (!written) {
    PrintError(total > kLargestArchive ? "standard input holds more than an archive can"
                                       : "cannot spool standard input to " + spool_);
    Remove(spool_);
    spool_.clear();
  }
  return spool_;
}

Status ArchiveInput::Open(const std::string& path, ArchiveReader& reader) {
  const std::string read = Path(path);
  if (read.empty()) return Status(Errc::kIo, "cannot read standard input");
  Status opened = reader.Open(read);
  if (read != path) {
#ifndef _WIN32
    // Open, the spool is needed no more by name: gone even if the run is
    // killed.
    Remove(spool_);
    spool_.clear();
#endif
    if (!opened.ok()) {
      return Status(opened.code() == Errc::kNotFound ? Errc::kDamaged : opened.code(),
                    "standard input is not a whole archive");
    }
  }
  return opened;
}

bool ArchiveInput::OpenUsable(const std::string& path, ArchiveReader& reader, const char* used,
                              bool& damaged) {
  const Status opened = Open(path, reader);
  damaged = !opened.ok();
  // A spool that is not a whole archive was never one: nothing in it is used.
  if (opened.code() == Errc::kNotFound || (damaged && path == "-")) {
    PrintError(opened.message());
    return false;
  }
  if (damaged) PrintError(opened.message() + " (only the entries before the damage are " + used + ")");
  return true;
}

std::string ArchiveOutput::Path() {
  if (made_.empty() && ToStream() && IsTerminal(stdout)) {
    PrintError("refusing to write an archive to a terminal");
    return std::string();
  }
  if (made_.empty()) made_ = ToStream() ? spools_.File("output.tuk") : path_;
  return made_;
}

bool ArchiveOutput::Deliver() {
  if (!ToStream()) return true;
  std::FILE* in = std::fopen(made_.c_str(), "rb");
  if (in == nullptr) {
    PrintError("cannot read the spooled archive " + made_);
    return false;
  }
  SetBinaryMode(stdout);
  char block[1 << 16];
  bool written = true;
  size_t got = 0;
  while (written && (got = std::fread(block, 1, sizeof block, in)) > 0) {
    written = std::fwrite(block, 1, got, stdout) == got;
  }
  written = written && !std::ferror(in) && std::fflush(stdout) == 0;
  std::fclose(in);
  if (!written) PrintError("cannot write the archive to standard output");
  return written;
}

}  // namespace tuk
