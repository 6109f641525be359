// tukUnpack end to end: its texts and exit codes, run as a real program
// against archives crafted byte by byte.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

const char kBanner[] = "|| .TUK UNPACK ||\n";
const char kOptions[] =
    " Options: \n"
    "   -i[indexToExtract]       -i123\n"
    "   -f[filenameToExtract]    -fObjects/Vehicles/Land/Harlo/Objects.con\n"
    "   -l[listFile.lst]         -lC:\\extractFileList.lst\n";
const char kConstruction[] =
    "TukFile()\n  26\n  46\n  48\n  54\n  58\n  64\nend TukFile()\n";

class UnpackCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDirs(dir / "out");
    test::WriteFile(dir / "a.tuk",
                    test::CraftArchive(0, {test::StoredEntry("menu/a.txt", test::BytesOf("abc")),
                                           test::StoredEntry("menu/gfx/b c.dds", {}),
                                           test::StoredEntry("menu/x", {9})}));
  }
  test::RunResult Unpack(const std::vector<std::string>& args) {
    return test::Run(test::UnpackExe(), args, dir.path());
  }
  // What every run that reaches the archive prints first.
  std::string Opening(const std::string& typedPath, const std::string& archive) {
    return std::string(kBanner) + "strExtractPath: " + typedPath + "\n" + kConstruction +
           "LoadIndex( \"" + archive + "\" )\ntuk_file_name: " + archive + " <- " +
           archive + "\n";
  }
  test::ScratchDir dir;
};

TEST_F(UnpackCliTest, UsageAndBadOptions) {
  test::RunResult r = Unpack({});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, std::string(kBanner) +
                          " Usage: tukUnpack.exe <Archive.tuk> [ExtractToPath] [-option]\n" +
                          kOptions);

  // An option in second place is taken for the directory.
  r = Unpack({"a.tuk", "-i3"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, std::string(kBanner) +
                          "strExtractPath: -i3\nError! Directory does not exist: -i3\n");

  r = Unpack({"a.tuk", "out", "-i"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") +
                          "-Options string not long enough! (Must have more than 2 characters)");

  r = Unpack({"a.tuk", "out", "x123"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, Opening("out", "a.tuk"));

  r = Unpack({"a.tuk", "out", "-q1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") + "-Options string not reconized!" + kOptions);
  EXPECT_TRUE(test::TreeContents(dir / "out").empty());
}

TEST_F(UnpackCliTest, WholeArchive) {
  test::RunResult r = Unpack({"a.tuk", "out"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") + "unpackedSize_MB: 0\n");
  EXPECT_EQ(test::ReadFile(dir / "out/menu/a.txt"), test::BytesOf("abc"));
  EXPECT_TRUE(test::FileExists(dir / "out/menu/gfx/b c.dds"));

  // Without a directory the current one is used.
  test::MakeDirs(dir / "here");
  r = test::Run(test::UnpackExe(), {"../a.tuk"}, dir / "here");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Opening(test::AsProgramSees(dir / "here"), "../a.tuk") + "unpackedSize_MB: 0\n");
  EXPECT_EQ(test::TreeContents(dir / "here").size(), 3u);
}

TEST_F(UnpackCliTest, OneEntryByIndexOrName) {
  test::RunResult r = Unpack({"a.tuk", "out", "-i2"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") + " $Extract file index: \"2\" = 2\n");
  EXPECT_EQ(test::TreeContents(dir / "out").size(), 1u);

  r = Unpack({"a.tuk", "out", "-iabc"});  // reads as 0
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") + " $Extract file index: \"abc\" = 0\n");
  EXPECT_TRUE(test::FileExists(dir / "out/menu/a.txt"));

  r = Unpack({"a.tuk", "out", "-i-1"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") + " $Extract file index: \"-1\" = -1\n" +
                          "ERROR! item out of range to extract! 4294967295\n");

  r = Unpack({"a.tuk", "out", "-i 99999999999x"});  // held at the int's limit
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") +
                          " $Extract file index: \" 99999999999x\" = 2147483647\n" +
                          "ERROR! item out of range to extract! 2147483647\n");

  r = Unpack({"a.tuk", "out", "-fMENU/GFX/B C.DDS"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") +
                          " $Extract file name: MENU/GFX/B C.DDS\n"
                          "EXTRACTING BY NAME: MENU/GFX/B C.DDS\n");

  r = Unpack({"a.tuk", "out", "-fmenu/none"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") +
                          " $Extract file name: menu/none\n"
                          "EXTRACTING BY NAME: menu/none\n"
                          "  ERROR! Could not ExtractByName: menu/none\n\tName Not found!\n");
}

TEST_F(UnpackCliTest, ListFileNamesEntriesOnePerLine) {
  test::WriteFile(dir / "list.lst",
                  "menu/a.txt \t\r\n"
                  "menu/gfx/b c.dds\r\n"
                  "   \r\n"
                  "x\r\n"
                  "\r\n"
                  "MENU/X");
  test::RunResult r = Unpack({"a.tuk", "out", "-llist.lst"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") +
                          " $Extract files FileList: list.lst\n"
                          "EXTRACTING BY NAME: menu/a.txt\n"
                          "EXTRACTING BY NAME: menu/gfx/b c.dds\n"
                          "EXTRACTING BY NAME: MENU/X\n");
  EXPECT_EQ(test::TreeContents(dir / "out").size(), 3u);

  test::WriteFile(dir / "bad.lst", "menu/a.txt\nmenu/missing\n");
  r = Unpack({"a.tuk", "out", "-lbad.lst"});
  EXPECT_EQ(r.exitCode, 2);

  r = Unpack({"a.tuk", "out", "-lnone.lst"});  // silently nothing, but a failure
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.output, Opening("out", "a.tuk") + " $Extract files FileList: none.lst\n");
}

TEST_F(UnpackCliTest, FailuresExitWithTwo) {
  test::RunResult r = Unpack({"missing.tuk", "out"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.output, Opening("out", "missing.tuk") + "tukFileStream_openFail() \n" +
                          "ERROR! Could not open .tuk file\n");

  test::WriteFile(dir / "evil.tuk",
                  test::CraftArchive(0, {test::StoredEntry("../escaped", {1}),
                                         test::StoredEntry("ok", {2})}));
  r = Unpack({"evil.tuk", "out"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.output.find("ERROR! Unsafe entry name: ../escaped\n"
                          "ERROR! Could not extract file!\n"),
            std::string::npos);
  EXPECT_FALSE(test::FileExists(dir / "escaped"));

  // A damaged index still yields the entries before the damage.
  Bytes damaged = test::CraftArchive(0, {test::StoredEntry("one", {1}),
                                         test::StoredEntry("two", {2})});
  damaged.resize(damaged.size() - 20);
  test::WriteFile(dir / "damaged.tuk", damaged);
  r = Unpack({"damaged.tuk", "out"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.output, Opening("out", "damaged.tuk") +
                          "ERROR! Damaged index in damaged.tuk\nunpackedSize_MB: 0\n");
  EXPECT_TRUE(test::FileExists(dir / "out/one"));
  r = Unpack({"damaged.tuk", "out", "-fone"});
  EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
}  // namespace tuk
