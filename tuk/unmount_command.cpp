// tuk unmount: ends a FUSE mount, as fusermount3 does for its user.
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tuk/commands.h"
#include "tuk/paths.h"

namespace tuk {
namespace {

// path made absolute, with ".", ".." and repeated '/' resolved by name
// only: the mount point of a server that died cannot be looked up.
std::string NormalPath(const std::string& path) {
  const std::string absolute = AbsolutePath(path);
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at = 0; at <= absolute.size(); ++at) {
    if (at < absolute.size() && absolute[at] != '/') continue;
    const std::string part = absolute.substr(start, at - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = at + 1;
  }
  std::string normal;
  for (const std::string& part : parts) normal += "/" + part;
  return normal.empty() ? "/" : normal;
}

// The file system type of the mount at directory ("" when none is there),
// from /proc/self/mounts, whose fields escape blanks and '\' as octal.
std::string MountedType(const std::string& directory) {
  std::FILE* mounts = std::fopen("/proc/self/mounts", "r");
  if (mounts == nullptr) return "";
  auto unescape = [](const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
      if (field[i] == '\\' && i + 3 < field.size()) {
        text += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
        i += 3;
      } else {
        text += field[i];
      }
    }
    return text;
  };
  std::string type;
  char line[8192];
  while (std::fgets(line, sizeof line, mounts) != nullptr) {
    char source[4096], target[4096], kind[256];
    if (std::sscanf(line, "%4095s %4095s %255s", source, target, kind) != 3) continue;
    if (unescape(target) == directory) type = kind;  // the last mount there is on top
  }
  std::fclose(mounts);
  return type;
}

int RunUnmount(const std::string& directory) {
  // The mount table names the directory with every link resolved; the
  // mount point of a server that died cannot be resolved, only normalized.
  std::string target = NormalPath(directory);
  if (char* resolved = realpath(directory.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  if (geteuid() != 0) {
    // fusermount3 unmounts what this user mounted, and nothing else.
    const pid_t child = fork();
    if (child == 0) {
      execlp("fusermount3", "fusermount3", "-u", "--", target.c_str(),
             static_cast<char*>(nullptr));
      std::fprintf(stderr, "tuk: cannot run fusermount3: %s\n", std::strerror(errno));
      _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      PrintError("cannot unmount " + directory);
      return kTukFailed;
    }
    return kTukDone;
  }
  const std::string type = MountedType(target);
  if (type.compare(0, 4, "fuse") != 0) {
    PrintError("nothing mounted with FUSE at " + directory);
    return kTukFailed;
  }
  if (umount2(target.c_str(), UMOUNT_NOFOLLOW) != 0) {
    PrintError("cannot unmount " + directory + ": " + std::strerror(errno));
    return kTukFailed;
  }
  return kTukDone;
}

CommandRun Define(CLI::App& command) {
  auto directory = std::make_shared<std::string>();
  command.add_option("DIR", *directory)->required();
  return [directory] { return RunUnmount(*directory); };
}

}  // namespace

const Command kUnmountCommand = {
    "unmount",
    "  unmount DIR                     end a mount\n",
    "tuk unmount DIR\n  Ends the mount at DIR, as fusermount3 does for its user.\n",
    Define};

}  // namespace tuk
