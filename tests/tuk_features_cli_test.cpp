// What users of tar, 7z and zip reach for first, through the real tuk:
// archives on pipes, choosing entries, what extraction does with files
// already there, comparing, dry runs and deleting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tuk/select.h"

namespace tuk {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

class TukFeatures : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir / "src/a.txt", "alpha");
    test::WriteFile(dir / "src/gfx/logo.dds", test::RandomBytes(300000, 1));
    test::WriteFile(dir / "src/gfx/icon.dds", "icon");
    test::WriteFile(dir / "src/doc/notes.txt", "notes");
    test::MakeDirs(dir / "spool");
    ASSERT_EQ(Tuk({"pack", "src", "m", "a.tuk", "-1"}).exitCode, 0);
  }
  test::RunResult Tuk(const std::vector<std::string>& args) {
    return test::RunCapturingErrors(test::TukExe(), args, dir.path());
  }
  // A shell command line in the scratch directory, TUK standing for the
  // program, its temporary directory a scratch one to look at after.
  test::RunResult Shell(std::string line) {
    const std::string tuk = test::ShellCommand(test::TukExe());
    for (size_t at; (at = line.find("TUK")) != std::string::npos;) line.replace(at, 3, tuk);
    test::WriteFile(dir / "run.sh", "TMPDIR='" + (dir / "spool") + "'; export TMPDIR\n" + line + "\n");
    return test::RunCapturingErrors("/bin/sh", {"run.sh"}, dir.path());
  }
  std::vector<std::string> Names(const std::string& archive) {
    return NamesIn(Tuk({"list", "--json", archive}));
  }
  // The names of a JSON listing.
  static std::vector<std::string> NamesIn(const test::RunResult& r) {
    std::vector<std::string> names;
    for (size_t at = 0; (at = r.output.find("\"name\": \"", at)) != std::string::npos;) {
      at += 9;
      names.push_back(r.output.substr(at, r.output.find('"', at) - at));
    }
    return names;
  }
  test::ScratchDir dir;
};

// Waits (a few seconds at most) until a spool is in the scratch TMPDIR.
#define SPOOLED                                                                  \
  "n=0; until [ -n \"$(ls spool/*/ 2>/dev/null)\" ] || [ $n -gt 500 ]; do sleep " \
  "0.01; n=$((n + 1)); done"

TEST_F(TukFeatures, PipesCarryArchivesBothWaysAndLeaveNoSpool) {
  struct Case {
    const char* what;
    const char* line;
    int exitCode;
    const char* output;  // a part of standard output, or of standard error
  };
  const Case cases[] = {
      {"pack to a pipe, list from it", "TUK pack src m - -9 | TUK list -", 0, "m/gfx/logo.dds"},
      {"pack to a pipe, extract from it", "TUK pack src m - -0 | TUK extract - -C out -v", 0,
       "m/doc/notes.txt"},
      {"cat from standard input", "TUK cat - m/a.txt m/gfx/icon.dds < a.tuk", 0, "alphaicon"},
      {"not an archive", "echo junk | TUK list -", 2, "standard input is not a whole archive"},
      {"archive and names both on standard input", "TUK extract - -C out2 --files-from - < a.tuk",
       1, "cannot both be standard input"},
      {"--newer without an archive file", "TUK extract - -C out2 --newer < a.tuk", 1,
       "standard input has no time"},
      // Ended by a signal while a spool is there: in the middle of
      // standard input, or of packing to standard output.
      {"ended while reading standard input",
       "mkfifo fifo-in; TUK list - < fifo-in > /dev/null & exec 3> fifo-in; cat a.tuk >&3; " SPOOLED
       "; kill -TERM $!; wait $!; echo \" status $?\" >&2",
       0, " status 143"},
      {"ended while writing standard output",
       "mkfifo fifo-out; exec 3<> fifo-out; TUK pack src m - -0 > fifo-out & " SPOOLED
       "; kill -TERM $!; wait $!; echo \" status $?\" >&2",
       0, " status 143"},
      {"a listing with nowhere to go", "TUK list a.tuk >&-", 2, "cannot write to standard output"},
      {"a reader that goes away",
       "{ TUK cat a.tuk m/gfx/logo.dds m/gfx/logo.dds; echo \" status $?\" >&2; } | head -c 1 >/dev/null",
       0, " status 2"},
  };
  for (const Case& c : cases) {
    const test::RunResult r = Shell(c.line);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\n" << r.errors;
    EXPECT_NE((r.output + r.errors).find(c.output), std::string::npos) << c.what << "\n"
                                                                       << r.output << r.errors;
    EXPECT_TRUE(fs::is_empty(dir / "spool")) << c.what;
  }
  EXPECT_EQ(test::TreeContents(dir / "out/m"), test::TreeContents(dir / "src"));
  EXPECT_FALSE(fs::exists(dir / "out2"));
}

// On a terminal, which script(1) gives the run: a progress line in
// percent, and no archive read from or written to it.
TEST_F(TukFeatures, OnATerminal) {
  if (std::system("script -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  struct Case {
    const char* what;
    const char* line;
    int exitCode;
    const char* output;  // a part of what the terminal shows
  };
  const Case cases[] = {
      {"progress", "TUK extract a.tuk -C out", 0, "%  m/"},
      {"an archive to a terminal", "TUK pack src m -", 2, "refusing to write an archive"},
      {"an archive from a terminal", "TUK list -", 2, "refusing to read an archive"},
  };
  for (const Case& c : cases) {
    const test::RunResult r =
        Shell(std::string("script -eqc \"") + c.line + "\" /dev/null < /dev/null");
    EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\n" << r.output;
    EXPECT_NE(r.output.find(c.output), std::string::npos) << c.what << "\n" << r.output;
  }
  EXPECT_TRUE(fs::is_empty(dir / "spool"));
}

TEST_F(TukFeatures, SelectionChoosesEntriesAndFiles) {
  test::WriteFile(dir / "list", "m/a.txt\r\nm/doc/notes.txt\n\n");
  test::WriteFile(dir / "nul", std::string("m/gfx/icon.dds\0m/a.txt\0", 23));
  test::WriteFile(dir / "paths", "gfx\n");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> names;  // entries listed, extracted (below out), or packed
  };
  const Case cases[] = {
      {{"list", "a.tuk", "--json", "--include", "m/gfx/*"}, 0, {"m/gfx/icon.dds", "m/gfx/logo.dds"}},
      {{"list", "a.tuk", "--json", "--include", "**/*.txt", "--exclude", "m/doc/**"}, 0,
       {"m/a.txt"}},
      {{"extract", "a.tuk", "-C", "out", "--files-from", "list"}, 0, {"m/a.txt", "m/doc/notes.txt"}},
      {{"extract", "a.tuk", "-C", "out", "--files-from", "nul", "--null"}, 0,
       {"m/a.txt", "m/gfx/icon.dds"}},
      {{"extract", "a.tuk", "-C", "out", "--include", "x*"}, 2, {}},
      {{"extract", "a.tuk", "-C", "out", "--strip-components", "2", "--include", "m/gfx/*"}, 0,
       {"icon.dds", "logo.dds"}},
      {{"extract", "a.tuk", "-C", "out", "--strip-components", "2", "--include", "m/*.txt"}, 0, {}},
      {{"extract", "a.tuk", "-C", "out", "--strip-components", "-1"}, 1, {}},
      {{"pack", "src", "p", "b.tuk", "--exclude", "**/*.dds"}, 0, {"p/a.txt", "p/doc/notes.txt"}},
      {{"pack", "src", "p", "b.tuk", "--files-from", "paths", "-0"}, 0,
       {"p/gfx/icon.dds", "p/gfx/logo.dds"}},
      {{"pack", "src", "p", "b.tuk", "--files-from", "list"}, 2, {}},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir / "out");
    fs::remove(dir / "b.tuk");
    const test::RunResult r = Tuk(c.args);
    std::string what;
    for (const std::string& arg : c.args) what += arg + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << what << "\n" << r.errors;
    std::vector<std::string> got;
    if (c.args[0] == "list") {
      got = NamesIn(r);
    } else if (c.args[0] == "extract" && fs::exists(dir / "out")) {
      for (const auto& [name, bytes] : test::TreeContents(dir / "out")) got.push_back(name);
    } else if (test::FileExists(dir / "b.tuk")) {
      got = Names("b.tuk");
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, c.names) << what;
  }
  EXPECT_EQ(Tuk({"cat", "a.tuk", "--include", "m/gfx/i*", "m/a.txt"}).output, "alphaicon");
  EXPECT_NE(Tuk({"extract", "a.tuk", "-C", "out", "--include", "x*"}).errors.find("x*"),
            std::string::npos);
  EXPECT_NE(Tuk({"extract", "a.tuk", "-C", "out", "--exclude", "**"}).errors.find("--exclude"),
            std::string::npos);
}

TEST_F(TukFeatures, ExtractionDealsWithWhatIsAlreadyThere) {
  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::function<void(const std::string& out)> before;
    int exitCode;
    std::string left;  // out/m/a.txt afterwards
  };
  auto oldFile = [](const std::string& out) {
    test::WriteFile(out + "/m/a.txt", "mine");
    const struct timespec times[2] = {{1000, 0}, {1000, 0}};
    utimensat(AT_FDCWD, (out + "/m/a.txt").c_str(), times, 0);
  };
  auto newFile = [](const std::string& out) { test::WriteFile(out + "/m/a.txt", "mine"); };
  const Case cases[] = {
      {"overwrite", {}, oldFile, 0, "alpha"},
      {"keep", {"--keep"}, newFile, 0, "mine"},
      {"newer, the file older", {"--newer"}, oldFile, 0, "alpha"},
      {"newer, the file newer", {"--newer"}, newFile, 0, "mine"},
      {"a directory where the file goes", {}, [](const std::string& out) {
         test::MakeDirs(out + "/m/a.txt");
       }, 2, ""},
      {"a link where the file goes", {}, [&](const std::string& out) {
         test::MakeDirs(out + "/m");
         test::WriteFile(dir / "target", "untouched");
         fs::create_symlink(dir / "target", out + "/m/a.txt");
       }, 2, "untouched"},
      {"a link where a directory goes", {}, [&](const std::string& out) {
         test::MakeDirs(dir / "elsewhere");
         fs::create_directory_symlink(dir / "elsewhere", out + "/m");
       }, 2, ""},
  };
  for (const Case& c : cases) {
    const std::string out = dir / "out";
    fs::remove_all(out);
    fs::remove_all(dir / "elsewhere");
    test::MakeDirs(out);
    c.before(out);
    std::vector<std::string> args = {"extract", "a.tuk", "-C", "out"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const test::RunResult r = Tuk(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\n" << r.errors;
    if (!c.left.empty()) {
      EXPECT_EQ(test::ReadFile(out + "/m/a.txt"), test::BytesOf(c.left)) << c.what;
    }
  }
  EXPECT_EQ(test::ReadFile(dir / "target"), test::BytesOf("untouched"));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));

  // unpack-all keeps and counts as extract does.
  fs::remove_all(dir / "out");
  newFile(dir / "out");
  const test::RunResult all = Tuk({"unpack-all", "*.tuk", "out", "--keep"});
  EXPECT_EQ(all.exitCode, 0) << all.errors;
  EXPECT_EQ(test::ReadFile(dir / "out/m/a.txt"), test::BytesOf("mine"));
  EXPECT_NE(all.errors.find("1 existing files kept"), std::string::npos) << all.errors;
}

TEST_F(TukFeatures, DiffAndDryRunSayWhatDiffers) {
  ASSERT_EQ(Tuk({"extract", "a.tuk", "-C", "out"}).exitCode, 0);
  EXPECT_EQ(Tuk({"diff", "a.tuk", "out"}).exitCode, 0);
  test::WriteFile(dir / "out/m/a.txt", "ALPHA");       // same size, other bytes
  test::WriteFile(dir / "out/m/gfx/icon.dds", "ic");   // another size
  fs::remove(dir / "out/m/doc/notes.txt");
  test::WriteFile(dir / "out/m/new.txt", "new");
  const test::RunResult diff = Tuk({"diff", "a.tuk", "out"});
  EXPECT_EQ(diff.exitCode, 1);
  EXPECT_EQ(diff.output,
            "differs: m/a.txt (the bytes)\n"
            "missing: m/doc/notes.txt\n"
            "differs: m/gfx/icon.dds (size 4, the file's 2)\n"
            "extra: m/new.txt\n");

  test::WriteFile(dir / "src/a.txt", "changed");
  test::WriteFile(dir / "src/b.txt", "added");
  fs::remove_all(dir / "src/doc");
  const Bytes before = test::ReadFile(dir / "a.tuk");
  const test::RunResult plan = Tuk({"pack", "src", "m", "a.tuk", "--update", "--dry-run"});
  EXPECT_EQ(plan.exitCode, 0);
  EXPECT_EQ(plan.output,
            "replace m/a.txt\nadd m/b.txt\nreplace m/gfx/icon.dds\nreplace m/gfx/logo.dds\n"
            "keep m/doc/notes.txt\n");
  EXPECT_EQ(test::ReadFile(dir / "a.tuk"), before);
}

TEST_F(TukFeatures, DeleteTakesOutNamesAndPatternsOrNothing) {
  const Bytes before = test::ReadFile(dir / "a.tuk");
  const test::RunResult missing = Tuk({"delete", "a.tuk", "m/a.txt", "nothing*"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(test::ReadFile(dir / "a.tuk"), before);
  const test::RunResult r = Tuk({"delete", "a.tuk", "M/A.TXT", "m/gfx/*", "-v"});
  EXPECT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_EQ(r.output, "m/a.txt\nm/gfx/icon.dds\nm/gfx/logo.dds\n");
  EXPECT_EQ(Names("a.tuk"), std::vector<std::string>{"m/doc/notes.txt"});
  EXPECT_EQ(Tuk({"verify", "a.tuk"}).exitCode, 0);
}

TEST(Glob, MatchesAsTheShellDoes) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.dds", "logo.dds", true},       {"*.dds", "gfx/logo.dds", false},
      {"**/*.dds", "gfx/logo.dds", true}, {"**/*.dds", "logo.dds", true},
      {"m/**", "m/a/b/c", true},         {"m/**", "n/a", false},
      {"a?c", "abc", true},              {"a?c", "a/c", false},
      {"[a-c]x", "bx", true},            {"[!a-c]x", "bx", false},
      {"[]]", "]", true},                {"\\*", "*", true},
      {"\\*", "a", false},               {"[ab", "[ab", true},
      {"", "", true},                    {"*", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesGlob(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
  EXPECT_TRUE(MatchesGlob("M/*.TXT", "m/a.txt", true));
  // Without a '/', a selection pattern looks at a name's last part only.
  EXPECT_TRUE(MatchesEntry("*.dds", "p/gfx/logo.dds"));
  EXPECT_FALSE(MatchesEntry("gfx/*.dds", "p/gfx/logo.dds"));
  EXPECT_TRUE(MatchesEntry("p/gfx/*.dds", "p/gfx/logo.dds"));
  EXPECT_TRUE(MatchesEntry("*.DDS", "p/gfx/logo.dds"));
  EXPECT_FALSE(MatchesGlob("M/*.TXT", "m/a.txt"));
}

}  // namespace
}  // namespace tuk
