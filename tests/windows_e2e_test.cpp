// The Windows builds of the programs, run through TUK_RUNNER (Wine), where
// Windows differs from Linux by design: drive letters, '\' between names,
// file names that differ only in case. tests/run_windows_e2e.sh sets up the
// environment; without TUK_RUNNER every test here is skipped.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A Linux path as a Windows program under Wine names it: through drive Z:,
// which Wine maps to the root.
std::string OnDriveZ(const std::string& path) {
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

// The Linux TukPack, to compare the Windows one with.
std::string LinuxPackExe() {
  const std::string chosen = Environment("TUK_PACK_NATIVE");
  return chosen.empty() ? TUK_PACK_EXE : chosen;
}

// Runs a Linux program while TUK_RUNNER would start everything through Wine.
test::RunResult RunNatively(const std::string& program,
                            const std::vector<std::string>& args,
                            const std::string& workingDir) {
  const std::string runner = Environment("TUK_RUNNER");
  unsetenv("TUK_RUNNER");
  test::RunResult result = test::Run(program, args, workingDir);
  setenv("TUK_RUNNER", runner.c_str(), 1);
  return result;
}

// Packing output but for the time the run took.
std::string WithoutTime(std::string output) {
  const std::string label = " TimeTaken: ";
  for (size_t at = output.find(label); at != std::string::npos;
       at = output.find(label, at + 1)) {
    const size_t digits = at + label.size();
    size_t end = digits;
    while (end < output.size() && output[end] >= '0' && output[end] <= '9') ++end;
    output.replace(digits, end - digits, "-");
  }
  return output;
}

class WindowsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Environment("TUK_RUNNER").empty()) {
      GTEST_SKIP() << "TUK_RUNNER is not set: no Windows programs to run";
    }
  }
  test::RunResult Unpack(const std::vector<std::string>& args) {
    return test::Run(test::UnpackExe(), args, dir.path());
  }
  test::RunResult Pack(const std::vector<std::string>& args) {
    return test::Run(test::PackExe(), args, dir.path());
  }

  test::ScratchDir dir;
};

TEST_F(WindowsEndToEnd, DriveLettersAndBackslashes) {
  const Bytes archive = test::CraftArchive(
      0, {test::StoredEntry("menu/a.txt", test::BytesOf("abc")),
          test::StoredEntry("menu/gfx/b.dds", {1, 2})});
  test::WriteFile(dir / "in dir/a.tuk", archive);
  test::MakeDirs(dir / "out");
  test::MakeDirs(dir / "deep/out");

  // Full paths with a drive letter; the extraction directory is printed
  // as typed.
  test::RunResult r = Unpack({OnDriveZ(dir / "in dir/a.tuk"), OnDriveZ(dir / "out")});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("strExtractPath: " + OnDriveZ(dir / "out") + "\n"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(test::ReadFile(dir / "out/menu/a.txt"), test::BytesOf("abc"));
  EXPECT_EQ(test::ReadFile(dir / "out/menu/gfx/b.dds"), (Bytes{1, 2}));

  // Relative paths with '\', and a path from the root of the current drive.
  r = Unpack({"in dir\\a.tuk", "deep\\out", "-i1"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(test::ReadFile(dir / "deep/out/menu/gfx/b.dds"), (Bytes{1, 2}));
  std::string rooted = dir.path() + "/deep";
  std::replace(rooted.begin(), rooted.end(), '/', '\\');
  r = Unpack({"in dir/a.tuk", rooted, "-fMENU/A.TXT"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(test::ReadFile(dir / "deep/menu/a.txt"), test::BytesOf("abc"));

  r = Unpack({"in dir\\a.tuk", OnDriveZ(dir / "missing")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Error! Directory does not exist: " + OnDriveZ(dir / "missing")),
            std::string::npos)
      << r.output;

  // Packing stores '/' between names however the paths were typed, so the
  // archive is exactly the one laid out by hand.
  test::WriteFile(dir / "src/a.txt", "abc");
  test::WriteFile(dir / "src/gfx/b.dds", Bytes{1, 2});
  r = Pack({OnDriveZ(dir / "src"), "menu\\", OnDriveZ(dir / "packed.tuk")});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(test::ReadFile(dir / "packed.tuk"), archive);
  r = Pack({"src\\", "menu", "in dir\\packed.tuk"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(test::ReadFile(dir / "in dir/packed.tuk"), archive);
}

TEST_F(WindowsEndToEnd, NamesDifferingOnlyInCaseShareOneFile) {
  test::WriteFile(dir / "a.tuk",
                  test::CraftArchive(0, {test::StoredEntry("A.TXT", test::BytesOf("upper")),
                                         test::StoredEntry("a.txt", test::BytesOf("lower")),
                                         test::StoredEntry("Dir/x", {1}),
                                         test::StoredEntry("DIR/y", {2})}));
  test::MakeDirs(dir / "out");
  const test::RunResult r = Unpack({"a.tuk", "out"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  // The later entry overwrites the earlier one, which keeps its spelling;
  // the second spelling of the directory is the same directory.
  const std::vector<std::pair<std::string, Bytes>> expected = {
      {"A.TXT", test::BytesOf("lower")}, {"Dir/x", {1}}, {"Dir/y", {2}}};
  EXPECT_EQ(test::TreeContents(dir / "out"), expected);
}

TEST_F(WindowsEndToEnd, NamesThatLeaveTheDirectoryOnWindowsAreRefused) {
  test::MakeDirs(dir / "out/sub");
  const std::string absolute = OnDriveZ(dir / "abs-escaped");
  for (const std::string& name :
       {std::string("..\\escaped"), std::string("sub\\..\\..\\escaped"),
        std::string("\\escaped"), std::string("C:escaped"), absolute}) {
    SCOPED_TRACE(name);
    test::WriteFile(dir / "evil.tuk",
                    test::CraftArchive(0, {test::StoredEntry(name, {1})}));
    const test::RunResult r = Unpack({"evil.tuk", "out\\sub"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("ERROR! Unsafe entry name: " + name + "\n"), std::string::npos)
        << r.output;
  }
  EXPECT_FALSE(test::FileExists(dir / "escaped"));
  EXPECT_FALSE(test::FileExists(dir / "abs-escaped"));
  EXPECT_FALSE(test::FileExists("/escaped"));
  EXPECT_TRUE(test::TreeContents(dir / "out").empty());
}

TEST_F(WindowsEndToEnd, ArchivesMatchTheLinuxBuildByteForByte) {
  // Names whose order differs between plain byte order, case-folded order
  // and directory order, an empty file and directory, a hidden file, and
  // a file larger than the programs' first buffers.
  test::WriteFile(dir / "src/Zeta.txt", "z");
  test::WriteFile(dir / "src/alpha.TXT", "a");
  test::WriteFile(dir / "src/_under", "u");
  test::WriteFile(dir / "src/~tilde", "t");
  test::WriteFile(dir / "src/0num", "0");
  test::WriteFile(dir / "src/.hidden", "h");
  test::WriteFile(dir / "src/empty", Bytes{});
  test::WriteFile(dir / "src/Beta/b c.dds", test::RandomBytes(300000, 7));
  test::WriteFile(dir / "src/Beta/Inner/deep.bin", test::RandomBytes(70000, 8));
  test::WriteFile(dir / "src/beta2/x", "x");
  test::MakeDirs(dir / "src/emptydir");

  const test::RunResult native =
      RunNatively(LinuxPackExe(), {dir / "src", "menu", dir / "linux.tuk"}, dir.path());
  ASSERT_EQ(native.exitCode, 0) << native.output;
  const Bytes expected = test::ReadFile(dir / "linux.tuk");

  test::RunResult r = Pack({dir / "src", "menu", dir / "windows.tuk"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(WithoutTime(r.output), WithoutTime(native.output));
  EXPECT_TRUE(test::ReadFile(dir / "windows.tuk") == expected);

  r = Pack({OnDriveZ(dir / "src") + "\\", "menu\\", "windows2.tuk"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(test::ReadFile(dir / "windows2.tuk") == expected);

  // Updating keeps the old entries that were not packed again, in the same
  // order on both.
  test::WriteFile(dir / "more/new.txt", "new");
  test::WriteFile(dir / "more/Zeta.txt", "z2");
  ASSERT_EQ(RunNatively(LinuxPackExe(), {dir / "more", "menu", "linux.tuk", "-u"},
                        dir.path())
                .exitCode,
            0);
  r = Pack({OnDriveZ(dir / "more"), "menu", "windows.tuk", "-u"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(test::ReadFile(dir / "windows.tuk") == test::ReadFile(dir / "linux.tuk"));

  // And what the Windows build packed unpacks on Linux to the source tree.
  test::MakeDirs(dir / "back");
  r = RunNatively(TUK_UNPACK_EXE, {dir / "windows2.tuk", dir / "back"}, dir.path());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(test::TreeContents(dir / "back/menu"), test::TreeContents(dir / "src"));
}

// What the Linux side of the platform layer lists, in the form the Windows
// probe prints it.
std::string LinuxListing(const std::string& root, const std::vector<std::string>& patterns) {
  std::string text;
  for (const std::string& pattern : patterns) {
    std::vector<platform::DirEntry> entries;
    const bool listed = platform::ListDirectory((root + "/" + pattern).c_str(), entries);
    text += (listed ? "listed " : "failed ") + pattern + "\n";
    for (const platform::DirEntry& entry : entries) {
      if (entry.isSpecial) continue;  // Wine shows no link to nothing at all
      text += std::string("  ") + (entry.isDirectory ? "d " : "f ") + entry.name + " " +
              std::to_string(entry.size) + "\n";
    }
  }
  return text;
}

TEST_F(WindowsEndToEnd, ListingMatchesTheLinuxOne) {
  const std::string probe = Environment("TUK_LIST_PROBE");
  if (probe.empty()) GTEST_SKIP() << "TUK_LIST_PROBE is not set";

  test::WriteFile(dir / "t/B.tuk", "bb");
  // Its 8.3 alias, A~xxxx.TUK, would match "*.tuk".
  test::WriteFile(dir / "t/a.tukx", "aaaa");
  test::WriteFile(dir / "t/c.tuk.bak", "c");
  test::WriteFile(dir / "t/noext", "n");
  test::WriteFile(dir / "t/.hidden", "h");
  test::WriteFile(dir / "t/sub/f.txt", "fff");
  test::MakeDirs(dir / "t/empty");
  // A link to a directory is left out, a link to a file lists as the file,
  // a link to nothing is no file (Linux lists it as special; Wine hides it).
  ASSERT_EQ(symlink("..", (dir / "t/sub/up").c_str()), 0);
  ASSERT_EQ(symlink("../B.tuk", (dir / "t/sub/link.tuk").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "t/sub/dangling").c_str()), 0);

  const std::vector<std::string> patterns = {
      "t/*", "t/*.tuk", "t/*.TUK", "t/?.tuk", "t/*.*", "t/*.tuk*", "t/sub/*",
      "t/empty/*", "t/zz*", "t/missing/*", "t/noext/*"};
  const std::string expected = LinuxListing(dir.path(), patterns);
  std::vector<std::string> backslashed = patterns;
  for (std::string& pattern : backslashed) {
    std::replace(pattern.begin(), pattern.end(), '/', '\\');
  }

  const test::RunResult r = test::Run(probe, patterns, dir.path());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, expected);

  // The same with '\' and from another directory through the drive letter.
  std::string backslashedExpected = expected;
  for (size_t i = 0; i < patterns.size(); ++i) {
    const std::string from = " " + patterns[i] + "\n";
    const size_t at = backslashedExpected.find(from);
    ASSERT_NE(at, std::string::npos);
    backslashedExpected.replace(at, from.size(), " " + OnDriveZ(dir.path()) + "\\" +
                                                     backslashed[i] + "\n");
    backslashed[i] = OnDriveZ(dir.path()) + "\\" + backslashed[i];
  }
  const test::RunResult fromElsewhere = test::Run(probe, backslashed, "/");
  EXPECT_EQ(fromElsewhere.output, backslashedExpected);
}

}  // namespace
}  // namespace tuk
