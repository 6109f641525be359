// The tuk program: one table of commands, dispatched by the command line.
#include <csignal>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "tuk/commands.h"

namespace {

const char kVersion[] = "tuk 1.5\n";

const char kHead[] =
    "Usage: tuk <command> [arguments]\n"
    "\n"
    "Commands:\n";

const char kTail[] =
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

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
  // A reader that goes away (a closed pipe) makes writes fail, which every
  // command reports and exits 2 on, rather than ending the run unseen.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#if defined(__GLIBC__)
  // Packing passes buffers of up to a few hundred KiB between threads,
  // thousands of times. By default glibc maps each one anew and hands the
  // memory back as soon as it is freed, so every buffer costs its pages'
  // faults again: a fifth of tuk pack's time on a virtual machine. Memory
  // stays bounded by what the commands hold at once; it is only kept.
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
  const std::vector<tuk::Command> commands = {
      tuk::kListCommand,       tuk::kVerifyCommand,    tuk::kExtractCommand,
      tuk::kPackCommand,       tuk::kReplaceCommand,   tuk::kRecompressCommand,
      tuk::kUnpackAllCommand,  tuk::kCatCommand,       tuk::kDiffCommand,
      tuk::kDeleteCommand,
#ifdef TUK_HAVE_MOUNT
      tuk::kMountCommand,      tuk::kUnmountCommand,
#endif
#ifdef TUK_HAVE_CONVERT
      tuk::kConvertCommand,
#endif
  };
  return tuk::RunCommandLine(argc, argv, commands, kHead, kTail, kVersion);
}
