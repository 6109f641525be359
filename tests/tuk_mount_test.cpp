// tuk mount through the real program and the kernel: the view against the
// tree it was packed from. Skipped when this build has no tuk mount or
// /dev/fuse cannot be opened. (Not a "Cli" suite: the Windows programs have
// no mount, so the run under Wine leaves these out.)
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "tests/test_support.h"

extern char** environ;

namespace tuk {
namespace {

using test::Bytes;

bool MountedAt(const std::string& directory) {
  std::ifstream mounts("/proc/self/mounts");
  std::string source, target, rest;
  while (mounts >> source >> target && std::getline(mounts, rest)) {
    if (target == directory) return true;
  }
  return false;
}

// Processes (other than this one) whose command line names directory.
std::vector<pid_t> ServersOf(const std::string& directory) {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  while (dirent* item = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(item->d_name));
    if (pid <= 0 || pid == getpid()) continue;
    std::ifstream cmdline("/proc/" + std::string(item->d_name) + "/cmdline", std::ios::binary);
    const std::string words((std::istreambuf_iterator<char>(cmdline)), {});
    if (words.find(std::string("mount") + '\0') != std::string::npos &&
        words.find(directory + '\0') != std::string::npos) {
      pids.push_back(pid);
    }
  }
  closedir(proc);
  return pids;
}

template <typename Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class TukMountTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef TUK_HAVE_MOUNT
    GTEST_SKIP() << "this build has no tuk mount (libfuse3 was not found)";
#endif
    const int fuse = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
      GTEST_SKIP() << "/dev/fuse cannot be opened (" << std::strerror(errno)
                   << "): the mount tests need FUSE";
    }
    close(fuse);
    test::WriteFile(dir / "src/a.txt", "alpha\n");
    test::WriteFile(dir / "src/empty", "");
    test::WriteFile(dir / "src/gfx/logo.dds", test::RandomBytes(300000, 1));
    Bytes text;
    for (int i = 0; text.size() < 200000; ++i) {
      const std::string line = "line " + std::to_string(i * 7919 % 1000) + " of the text\n";
      text.insert(text.end(), line.begin(), line.end());
    }
    test::WriteFile(dir / "src/gfx/deep/er/notes.txt", text);
    for (int i = 0; i < 40; ++i) {
      test::WriteFile(dir / ("src/many/f" + std::to_string(i)), test::RandomBytes(i * 997, i));
    }
    ASSERT_EQ(Tuk({"pack", "src", "menu", "m0.tuk", "-0"}).exitCode, 0);
    ASSERT_EQ(Tuk({"pack", "src", "menu", "m1.tuk", "-5"}).exitCode, 0);
    test::MakeDirs(mnt);
  }

  void TearDown() override {
    if (MountedAt(mnt)) umount2(mnt.c_str(), MNT_DETACH);
    if (foreground > 0) {
      kill(foreground, SIGKILL);
      waitpid(foreground, nullptr, 0);
    }
  }

  test::RunResult Tuk(const std::vector<std::string>& args) {
    return test::RunCapturingErrors(test::TukExe(), args, dir.path());
  }

  // Serves archive with -f in a child process working in dir (the paths
  // given relative to it), its standard error in a file, until unmounted;
  // true once the mount is there.
  bool StartForeground(const std::string& archive, const std::vector<std::string>& options) {
    std::vector<std::string> words = {test::TukExe(), "mount", archive, "mnt", "-f"};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "server.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&foreground, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 && WaitFor([&] { return MountedAt(mnt); });
  }

  // Unmounts (with tuk unmount, or with signal as Ctrl-C or kill do), and
  // expects the foreground server to end well; returns what it said on
  // standard error.
  std::string StopForeground(int signal = 0) {
    if (signal != 0) {
      EXPECT_EQ(kill(foreground, signal), 0);
    } else {
      EXPECT_EQ(Tuk({"unmount", mnt}).exitCode, 0);
    }
    int status = -1;
    const bool ended =
        WaitFor([&] { return waitpid(foreground, &status, WNOHANG) == foreground; });
    EXPECT_TRUE(ended);
    if (ended) foreground = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(MountedAt(mnt));
    const Bytes errors = test::ReadFile(dir / "server.err");
    return std::string(errors.begin(), errors.end());
  }

  int Shell(const std::string& command) {
    const int status = std::system(("cd '" + dir.path() + "' || exit 1; " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  test::ScratchDir dir;
  const std::string mnt = dir / "mnt";
  pid_t foreground = 0;
};

TEST_F(TukMountTest, ShowsTheTreeReadOnlyAndLeavesNoProcess) {
  for (const char* archive : {"m0.tuk", "m1.tuk"}) {
    SCOPED_TRACE(archive);
    const test::RunResult mounted = Tuk({"mount", dir / archive, mnt});
    ASSERT_EQ(mounted.exitCode, 0) << mounted.errors;
    // Ready when the command returns.
    EXPECT_TRUE(MountedAt(mnt));
    EXPECT_EQ(Shell("diff -r src mnt/menu"), 0);
    EXPECT_EQ(Shell("ls -R mnt >/dev/null && cp -r mnt/menu copy && diff -r src copy"), 0);
    EXPECT_EQ(Shell("[ \"$(find mnt -type f | wc -l)\" = 44 ]"), 0);
    Shell("rm -rf copy");

    struct stat file, directory, archiveStat;
    ASSERT_EQ(stat((mnt + "/menu/gfx/logo.dds").c_str(), &file), 0);
    ASSERT_EQ(stat((mnt + "/menu/gfx").c_str(), &directory), 0);
    ASSERT_EQ(stat((dir / archive).c_str(), &archiveStat), 0);
    EXPECT_EQ(file.st_mode, S_IFREG | 0444u);
    EXPECT_EQ(file.st_size, 300000);
    EXPECT_EQ(file.st_nlink, 1u);
    EXPECT_EQ(file.st_mtime, archiveStat.st_mtime);
    EXPECT_EQ(directory.st_mode, S_IFDIR | 0555u);
    EXPECT_EQ(directory.st_nlink, 3u);  // itself, its entry, deep/

    // Writes of every kind are refused as on a read-only file system.
    errno = 0;
    EXPECT_LT(open((mnt + "/menu/a.txt").c_str(), O_WRONLY), 0);
    EXPECT_EQ(errno, EROFS);
    EXPECT_NE(mkdir((mnt + "/menu/new").c_str(), 0755), 0);
    EXPECT_EQ(errno, EROFS);
    EXPECT_LT(open((mnt + "/menu/new.txt").c_str(), O_WRONLY | O_CREAT, 0644), 0);
    EXPECT_EQ(errno, EROFS);
    EXPECT_NE(unlink((mnt + "/menu/a.txt").c_str()), 0);
    EXPECT_EQ(errno, EROFS);

    const test::RunResult unmounted = Tuk({"unmount", mnt});
    EXPECT_EQ(unmounted.exitCode, 0) << unmounted.errors;
    EXPECT_FALSE(MountedAt(mnt));
    EXPECT_TRUE(WaitFor([&] { return ServersOf(mnt).empty(); }));
  }
  EXPECT_EQ(Tuk({"unmount", mnt}).exitCode, 2);  // nothing mounted there
}

TEST_F(TukMountTest, RandomOffsetsReadTheSourceBytes) {
  const Bytes logo = test::ReadFile(dir / "src/gfx/logo.dds");
  const Bytes notes = test::ReadFile(dir / "src/gfx/deep/er/notes.txt");
  for (const char* archive : {"m0.tuk", "m1.tuk"}) {
    SCOPED_TRACE(archive);
    ASSERT_TRUE(StartForeground(archive, {"--cache-size", "1"}));
    std::mt19937 random(5);
    for (const auto& [name, expected] :
         {std::make_pair("/menu/gfx/logo.dds", &logo),
          std::make_pair("/menu/gfx/deep/er/notes.txt", &notes)}) {
      const int fd = open((mnt + name).c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      for (int i = 0; i < 300; ++i) {
        const size_t offset = random() % (expected->size() + 100);
        const size_t length = random() % 70000;
        Bytes got(length);
        const ssize_t read = pread(fd, got.data(), length, static_cast<off_t>(offset));
        ASSERT_GE(read, 0);
        const size_t end = std::min(expected->size(), offset + length);
        const size_t want = offset < end ? end - offset : 0;
        ASSERT_EQ(static_cast<size_t>(read), want) << offset << " " << length;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + read, expected->begin() + offset));
      }
      close(fd);
    }
    EXPECT_EQ(StopForeground(), "");
  }
}

TEST_F(TukMountTest, TwoProcessesReadAtOnce) {
  // A cache smaller than the entries, so they go out and come back while
  // both read.
  ASSERT_TRUE(StartForeground("m1.tuk", {"--cache-size", "0"}));
  const std::string reader =
      "(for i in 1 2 3 4 5 6; do diff -r src mnt/menu || exit 1; done) & ";
  EXPECT_EQ(Shell(reader + "a=$!; " + reader + "b=$!; wait $a && wait $b"), 0);
  EXPECT_EQ(StopForeground(SIGINT), "");
}

// Each stop signal ends the server at once, also while a file is open in
// the mount and every worker waits for a request.
TEST_F(TukMountTest, StopSignalsEndTheServer) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    ASSERT_TRUE(StartForeground("m1.tuk", {}));
    const int fd = open((mnt + "/menu/a.txt").c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    char byte = 0;
    EXPECT_EQ(read(fd, &byte, 1), 1);
    EXPECT_EQ(StopForeground(signal), "");
    if (fd >= 0) close(fd);
  }
}

TEST_F(TukMountTest, NamesFollowExtractionAndDamageIsRefused) {
  std::vector<test::CraftedEntry> entries = {
      test::StoredEntry("p/a.txt", test::BytesOf("first")),
      test::StoredEntry("../evil", test::BytesOf("evil")),
      test::StoredEntry("p/a.txt", test::BytesOf("second")),
      test::StoredEntry("/abs", test::BytesOf("abs"))};
  test::WriteFile(dir / "odd.tuk", test::CraftArchive(0, entries));
  const test::RunResult mounted = Tuk({"mount", "odd.tuk", "mnt"});
  ASSERT_EQ(mounted.exitCode, 0);
  EXPECT_NE(mounted.errors.find("../evil"), std::string::npos) << mounted.errors;
  EXPECT_NE(mounted.errors.find("/abs"), std::string::npos) << mounted.errors;
  EXPECT_EQ(test::ReadFile(mnt + "/p/a.txt"), test::BytesOf("second"));
  EXPECT_EQ(Shell("[ \"$(ls -A mnt)\" = p ]"), 0);
  EXPECT_EQ(Tuk({"unmount", "mnt"}).exitCode, 0);

  Bytes cut = test::ReadFile(dir / "m0.tuk");
  cut.resize(cut.size() - 10);
  test::WriteFile(dir / "cut.tuk", cut);
  const test::RunResult refused = Tuk({"mount", dir / "cut.tuk", mnt});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.errors.find("cut.tuk"), std::string::npos) << refused.errors;
  EXPECT_FALSE(MountedAt(mnt));
  EXPECT_EQ(Tuk({"mount", dir / "missing.tuk", mnt}).exitCode, 2);
  EXPECT_EQ(Tuk({"mount", dir / "m0.tuk", dir / "nowhere"}).exitCode, 2);
  EXPECT_EQ(Tuk({"mount", dir / "m0.tuk"}).exitCode, 1);
}

// The archive is opened once: cut short under the server, reads fail
// cleanly and it lives on; replaced by another file, the view keeps the
// bytes it indexed. (Each step reads files not read before: the kernel
// keeps pages once read.)
TEST_F(TukMountTest, AnArchiveChangedWhileMountedNeverBreaksTheServer) {
  for (const char* archive : {"m0.tuk", "m1.tuk"}) {
    SCOPED_TRACE(archive);
    const std::string other = archive == std::string("m0.tuk") ? "m1.tuk" : "m0.tuk";
    const Bytes original = test::ReadFile(dir / archive);
    ASSERT_TRUE(StartForeground(archive, {}));
    ASSERT_EQ(truncate((dir / archive).c_str(), 0), 0);
    const int fd = open((mnt + "/menu/gfx/deep/er/notes.txt").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char buffer[4096];
    errno = 0;
    const ssize_t read = pread(fd, buffer, sizeof buffer, 1000);
    const int error = errno;
    close(fd);
    EXPECT_TRUE(read < 0 && error == EIO) << read;

    test::WriteFile(dir / archive, original);  // in place, the same file again
    EXPECT_EQ(Shell("cmp mnt/menu/gfx/logo.dds src/gfx/logo.dds"), 0);
    ASSERT_EQ(Shell("cp " + other + " replacement && mv replacement " + archive), 0);
    EXPECT_EQ(Shell("cmp mnt/menu/many/f5 src/many/f5"), 0);
    const std::string said = StopForeground();
    EXPECT_NE(said.find("notes.txt"), std::string::npos) << said;
    test::WriteFile(dir / archive, original);
  }
}

}  // namespace
}  // namespace tuk
