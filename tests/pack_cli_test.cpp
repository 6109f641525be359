// The TukPack program: its texts and exit codes, run as a real process.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

const char kBanner[] = "-- TUK Pack 1.5 --\n";
const char kUsage[] =
    "-- TUK Pack 1.5 --\n"
    "ERROR! Not enough command line arguments\n"
    " Usage examples: \n"
    "   ProgramName [sourceDir] [PackDirName] [Archive.tuk] [ -u update existing .tuk ]\n"
    "   TukPack.exe d:/menu menu menu.tuk\n"
    "   TukPack.exe d:/menu menu menu.tuk -u\n";

test::RunResult Pack(const std::vector<std::string>& args, const std::string& cwd) {
  return test::Run(test::PackExe(), args, cwd);
}

// The output with the number of the " TimeTaken: " line replaced by "N";
// the line must hold digits and nothing else.
std::string MaskTime(const std::string& output) {
  const std::string label = " TimeTaken: ";
  const size_t at = output.find(label);
  if (at == std::string::npos) return output;
  size_t end = at + label.size();
  while (end < output.size() && output[end] >= '0' && output[end] <= '9') ++end;
  if (end == at + label.size()) return output;
  return output.substr(0, at + label.size()) + "N" + output.substr(end);
}

// The names in an archive's index, in order.
std::vector<std::string> Names(const Bytes& archive) {
  std::vector<std::string> names;
  size_t at = test::GetU32(archive, 0);
  const uint32_t count = test::GetU32(archive, at);
  at += 4;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t length = test::GetU32(archive, at);
    names.emplace_back(archive.begin() + at + 4, archive.begin() + at + 4 + length);
    at += 4 + length + 24;
  }
  return names;
}

TEST(PackCli, UsageWithNoneOrTwoWords) {
  test::ScratchDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"src", "menu"}}) {
    const test::RunResult run = Pack(args, dir.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, kUsage);
  }
}

TEST(PackCli, PacksWithThreeWordsAndTellsTheTime) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a.txt", "abc");
  test::WriteFile(dir / "src/gfx/b.dds", Bytes{});
  test::MakeDirs(dir / "out");
  const test::RunResult run = Pack({"src", "menu", "out/menu.tuk"}, dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(MaskTime(run.output),
            "-- TUK Pack 1.5 --\n"
            "TotalFiles: 2\n"
            "  Uncompressed .tuk size (mb): 0\n"
            "tmpDestDirLoc: out\n"
            " TimeTaken: N\n");
  EXPECT_EQ(test::ReadFile(dir / "out/menu.tuk").size(), 247u);

  // An archive path without a directory, or with one at position 1, is
  // checked for space in ".\".
  const test::RunResult here = Pack({"src", "menu", "menu.tuk", "extra", "words"}, dir.path());
  EXPECT_EQ(here.exitCode, 0);
  EXPECT_NE(here.output.find("tmpDestDirLoc: .\\\n"), std::string::npos) << here.output;
  const test::RunResult near = Pack({"src", "menu", "o/menu.tuk"}, dir.path());
  EXPECT_NE(near.output.find("tmpDestDirLoc: .\\\n"), std::string::npos) << near.output;
}

TEST(PackCli, FourthWordSelectsUpdateOnlyWithDashLowerU) {
  test::ScratchDir dir;
  test::WriteFile(dir / "old/kept.txt", "kept");
  test::WriteFile(dir / "src/new.txt", "new");
  const std::string archive = dir / "menu.tuk";
  ASSERT_EQ(Pack({"old", "menu", archive}, dir.path()).exitCode, 0);
  const Bytes original = test::ReadFile(archive);

  for (const char* word : {"-u", "-update", "-ux"}) {
    test::WriteFile(archive, original);
    const test::RunResult run = Pack({"src", "menu", archive, word}, dir.path());
    EXPECT_EQ(run.exitCode, 0) << word;
    EXPECT_EQ(run.output.rfind(std::string(kBanner) + "Updating existing .tuk!\nTotalFiles: 1\n",
                               0),
              0u)
        << run.output;
    EXPECT_EQ(Names(test::ReadFile(archive)),
              (std::vector<std::string>{"menu/new.txt", "menu/kept.txt"}))
        << word;
  }
  for (const char* word : {"-x", "-U", "u", "--u"}) {
    test::WriteFile(archive, original);
    const test::RunResult run = Pack({"src", "menu", archive, word}, dir.path());
    EXPECT_EQ(run.exitCode, 0) << word;
    EXPECT_EQ(run.output.find("Updating"), std::string::npos) << word;
    EXPECT_EQ(Names(test::ReadFile(archive)), (std::vector<std::string>{"menu/new.txt"}))
        << word;
  }
  // An update of a missing archive makes a new one.
  const test::RunResult fresh = Pack({"src", "menu", "fresh.tuk", "-u"}, dir.path());
  EXPECT_EQ(fresh.exitCode, 0);
  EXPECT_EQ(Names(test::ReadFile(dir / "fresh.tuk")),
            (std::vector<std::string>{"menu/new.txt"}));
}

TEST(PackCli, OneWordPacksByName) {
  test::ScratchDir dir;
  test::WriteFile(dir / "menu/a.txt", "a");
  test::WriteFile(dir / "Sound/s.wav", "s");
  test::MakeDirs(dir / "work");
  const test::RunResult run = Pack({"menu"}, dir / "work");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, std::string(kBanner) +
                            "TotalFiles: 1\n  Uncompressed .tuk size (mb): 0\n"
                            "tmpDestDirLoc: .\\\n");
  EXPECT_EQ(Names(test::ReadFile(dir / "work/menu.tuk")),
            (std::vector<std::string>{"menu/a.txt"}));

  const test::RunResult sound = Pack({"Sound"}, dir / "work");
  EXPECT_EQ(sound.exitCode, 0);
  EXPECT_EQ(sound.output.rfind(std::string(kBanner) + "FORCING sound.tuk uncompressed\n", 0),
            0u)
      << sound.output;
  EXPECT_EQ(test::GetU32(test::ReadFile(dir / "work/Sound.tuk"), 4), 0u);

  const test::RunResult nothing = Pack({"absent"}, dir / "work");
  EXPECT_EQ(nothing.exitCode, 2);
  EXPECT_FALSE(test::FileExists(dir / "work/absent.tuk"));
}

TEST(PackCli, FailuresExitWithTwo) {
  test::ScratchDir dir;
  test::MakeDirs(dir / "empty/sub");
  const test::RunResult none = Pack({"empty", "menu", "menu.tuk"}, dir.path());
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_EQ(MaskTime(none.output),
            "-- TUK Pack 1.5 --\nTotalFiles: 0\n"
            "  Uncompressed .tuk size (mb): 0\n"
            "tmpDestDirLoc: .\\\n TimeTaken: N\n");
  EXPECT_FALSE(test::FileExists(dir / "menu.tuk"));

  test::WriteFile(dir / "src/a.txt", "a");
  const std::string longWord(512, 'x');
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{longWord, "menu", "menu.tuk"},
        std::vector<std::string>{"src", longWord, "menu.tuk"},
        std::vector<std::string>{"src", "menu", longWord}}) {
    const test::RunResult run = Pack(args, dir.path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(MaskTime(run.output), "-- TUK Pack 1.5 --\nERROR! Path too long: " + longWord +
                                        "\n TimeTaken: N\n");
  }
  // Nothing was written anywhere.
  EXPECT_TRUE(test::TreeContents(dir.path()) ==
              (std::vector<std::pair<std::string, Bytes>>{{"src/a.txt", test::BytesOf("a")}}));

  // The archive cannot be created where no directory is.
  const test::RunResult nowhere = Pack({"src", "menu", "no/such/dir/m.tuk"}, dir.path());
  EXPECT_EQ(nowhere.exitCode, 2);

  // A word of 511 characters still fits.
  const std::string prefix(511, 'p');
  const test::RunResult fits = Pack({"src", prefix, "menu.tuk"}, dir.path());
  EXPECT_EQ(fits.output.find("Path too long"), std::string::npos);
}

TEST(PackCli, SkippedInputsExitWithTwoButTheArchiveIsWritten) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/ok.txt", "ok");
  test::WriteFile(dir / "src/" + std::string(200, 'n'), "n");
  const std::string prefix(100, 'p');
  const test::RunResult run = Pack({"src", prefix, "m.tuk"}, dir.path());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("ERROR! Name too long: src/" + std::string(200, 'n') + "\n"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(Names(test::ReadFile(dir / "m.tuk")),
            (std::vector<std::string>{prefix + "/ok.txt"}));
}

// Needs permissions that stop the user from reading, which root ignores.
TEST(PackCli, UnreadableInputIsSkipped) {
  test::ScratchDir dir;
  test::WriteFile(dir / "locked/secret.txt", "s");
  test::WriteFile(dir / "locked/open.txt", "o");
  chmod((dir / "locked/secret.txt").c_str(), 0);
  if (access((dir / "locked/secret.txt").c_str(), R_OK) == 0) {
    GTEST_SKIP() << "permissions do not stop this user from reading";
  }
  const test::RunResult locked = Pack({"locked", "menu", "l.tuk"}, dir.path());
  EXPECT_EQ(locked.exitCode, 2);
  EXPECT_NE(locked.output.find("ERROR! inputFile: locked/secret.txt\n"), std::string::npos)
      << locked.output;
  EXPECT_EQ(Names(test::ReadFile(dir / "l.tuk")), (std::vector<std::string>{"menu/open.txt"}));
}

TEST(PackCli, UnknownModeIsRefused) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a", "a");
  Bytes old = test::CraftArchive(7, {test::StoredEntry("menu/b", test::BytesOf("b"))});
  test::WriteFile(dir / "m.tuk", old);
  const test::RunResult run = Pack({"src", "menu", "m.tuk", "-u"}, dir.path());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("ERROR! Unknown .tuk mode: 7\n"), std::string::npos) << run.output;
  EXPECT_EQ(test::ReadFile(dir / "m.tuk"), old);
  EXPECT_FALSE(test::FileExists(dir / "m.tuk.tmp"));
}

}  // namespace
}  // namespace tuk
