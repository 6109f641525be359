// The tuk front end end to end: every command through the real program.
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/format/layout.h"
#include "tests/test_support.h"
#include "tuk/archive_reader.h"

namespace tuk {
namespace {

using test::Bytes;

using test::TukExe;

class TukCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir / "src/a.txt", "alpha");
    test::WriteFile(dir / "src/sub/b.bin", test::RandomBytes(5000, 1));
    test::WriteFile(dir / "src/sub/empty", "");
    test::MakeDirs(dir / "out");
  }
  test::RunResult Tuk(const std::vector<std::string>& args) {
    return test::Run(TukExe(), args, dir.path());
  }
  test::ScratchDir dir;
};

TEST_F(TukCliTest, PackListExtractRoundTrip) {
  ASSERT_EQ(Tuk({"pack", "src", "menu", "m.tuk", "-0"}).exitCode, 0);
  test::RunResult r = Tuk({"list", "m.tuk"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output,
            "mode 0, 3 entries, 5005 bytes, 5005 stored (100.0%)\n"
            " index       size     stored   ratio     offset  name\n"
            "     0          5          5  100.0%        156  menu/a.txt\n"
            "     1       5000       5000  100.0%        161  menu/sub/b.bin\n"
            "     2          0          0       -       5161  menu/sub/empty\n");
  r = Tuk({"list", "m.tuk", "--json"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("{\"mode\": 0, \"count\": 3, \"totalSize\": 5005, "
                          "\"storedSize\": 5005, \"entries\": [\n"
                          "  {\"index\": 0, \"name\": \"menu/a.txt\", \"size\": 5, "
                          "\"storedSize\": 5, \"offset\": 156},"),
            std::string::npos);

  EXPECT_EQ(Tuk({"extract", "m.tuk", "-C", "out"}).exitCode, 0);
  auto expected = test::TreeContents(dir / "src");
  for (auto& [name, bytes] : expected) name = "menu/" + name;
  EXPECT_EQ(test::TreeContents(dir / "out"), expected);

  test::MakeDirs(dir / "one");
  EXPECT_EQ(Tuk({"extract", "m.tuk", "-C", "one", "MENU/A.TXT"}).exitCode, 0);
  EXPECT_EQ(test::TreeContents(dir / "one").size(), 1u);
  EXPECT_EQ(Tuk({"extract", "m.tuk", "-C", "one", "menu/nothing"}).exitCode, 2);
  // A missing directory is made, parents and all.
  EXPECT_EQ(Tuk({"extract", "m.tuk", "-C", "nowhere/deeper"}).exitCode, 0);
  EXPECT_EQ(test::TreeContents(dir / "nowhere/deeper"), expected);
  test::WriteFile(dir / "plain", "");
  EXPECT_EQ(Tuk({"extract", "m.tuk", "-C", "plain"}).exitCode, 2);

  // Update: a changed file replaces its entry, the others are kept.
  test::WriteFile(dir / "src2/A.TXT", "changed");
  ASSERT_EQ(Tuk({"pack", "src2", "menu", "m.tuk", "--update"}).exitCode, 0);
  r = Tuk({"list", "m.tuk"});
  EXPECT_NE(r.output.find("menu/A.TXT"), std::string::npos);
  EXPECT_EQ(r.output.find("menu/a.txt"), std::string::npos);
  EXPECT_NE(r.output.find("menu/sub/b.bin"), std::string::npos);
}

TEST_F(TukCliTest, PackRefusesOnlyAnArchiveInsideItsSource) {
  EXPECT_EQ(Tuk({"pack", "src", "menu", "src/inside.tuk"}).exitCode, 2);
  EXPECT_EQ(Tuk({"pack", "src", "menu", "src/sub/../inside.tuk"}).exitCode, 2);
  EXPECT_FALSE(test::FileExists(dir / "src/inside.tuk"));
  EXPECT_EQ(Tuk({"pack", "src", "menu"}).exitCode, 1);
  EXPECT_EQ(Tuk({"pack", "empty-or-missing", "menu", "x.tuk"}).exitCode, 2);

  // A name that merely begins like the source lies beside it, and a working
  // directory with characters the legacy checks refuse is no obstacle.
  EXPECT_EQ(Tuk({"pack", "src", "menu", "src.tuk"}).exitCode, 0);
  const std::string odd = dir / "jos\xC3\xA9 ~{x}";
  test::WriteFile(odd + "/data/a.txt", "a");
  EXPECT_EQ(test::Run(TukExe(), {"pack", "data", "d", "data.tuk"}, odd).exitCode, 0);
  EXPECT_TRUE(test::FileExists(odd + "/data.tuk"));
}

// A file at the archive path that is not a whole archive is never taken
// for one: no program updates it, and it stays byte for byte.
TEST_F(TukCliTest, DamagedOrForeignFilesAreNotUpdated) {
  ASSERT_EQ(Tuk({"pack", "src", "menu", "m.tuk"}).exitCode, 0);
  const Bytes sound = test::ReadFile(dir / "m.tuk");
  test::WriteFile(dir / "new.txt", "new");
  for (const Bytes& bytes : {Bytes(sound.begin(), sound.begin() + 1000),
                             test::BytesOf("just some text, not an archive\n")}) {
    for (int program = 0; program < 3; ++program) {
      test::WriteFile(dir / "t.tuk", bytes);
      const test::RunResult r =
          program == 0   ? test::Run(test::PackExe(), {"src", "menu", "t.tuk", "-u"}, dir.path())
          : program == 1 ? Tuk({"pack", "src", "menu", "t.tuk", "--update"})
                         : Tuk({"replace", "t.tuk", "menu/new.txt", "new.txt"});
      EXPECT_EQ(r.exitCode, 2) << program;
      EXPECT_EQ(test::ReadFile(dir / "t.tuk"), bytes) << program;
      EXPECT_FALSE(test::FileExists(dir / "t.tuk.tmp")) << program;
    }
    EXPECT_EQ(test::Run(test::UnpackExe(), {"t.tuk", "out"}, dir.path()).exitCode, 2);
    EXPECT_EQ(Tuk({"list", "t.tuk"}).exitCode, 2);
    EXPECT_EQ(Tuk({"extract", "t.tuk", "-C", "out"}).exitCode, 2);
    EXPECT_EQ(Tuk({"unpack-all", "t*.tuk", "out"}).exitCode, 2);
  }
}

TEST_F(TukCliTest, ReplaceAndAdd) {
  ASSERT_EQ(Tuk({"pack", "src", "menu", "m.tuk"}).exitCode, 0);
  test::WriteFile(dir / "new.bin", test::RandomBytes(7000, 2));
  EXPECT_EQ(Tuk({"replace", "m.tuk", "MENU/A.txt", "new.bin"}).exitCode, 0);
  EXPECT_EQ(Tuk({"replace", "m.tuk", "menu/added.txt", "new.bin"}).exitCode, 0);
  EXPECT_EQ(Tuk({"replace", "m.tuk", "../evil", "new.bin"}).exitCode, 2);
  EXPECT_EQ(Tuk({"replace", "m.tuk", "menu/x", "missing.bin"}).exitCode, 2);
  EXPECT_EQ(Tuk({"verify", "m.tuk"}).exitCode, 0);
  ASSERT_EQ(Tuk({"extract", "m.tuk", "-C", "out"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(dir / "out/menu/a.txt"), test::ReadFile(dir / "new.bin"));
  EXPECT_EQ(test::ReadFile(dir / "out/menu/added.txt"), test::ReadFile(dir / "new.bin"));
  EXPECT_EQ(test::ReadFile(dir / "out/menu/sub/b.bin"), test::ReadFile(dir / "src/sub/b.bin"));
}

TEST_F(TukCliTest, VerifyNamesEveryKindOfDamage) {
  const std::vector<test::CraftedEntry> sound = {
      test::StoredEntry("d/one", test::RandomBytes(100, 3)),
      test::StoredEntry("d/two", test::RandomBytes(50, 4))};
  test::WriteFile(dir / "sound.tuk", test::CraftArchive(0, sound));
  test::RunResult r = Tuk({"verify", "sound.tuk"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "sound.tuk: OK (2 entries without a checksum)\n");

  struct Damage {
    const char* file;
    Bytes bytes;
    const char* expected;
  };
  std::vector<Damage> damages;
  Bytes indexPastEnd = test::CraftArchive(0, sound);
  WriteU32LE(indexPastEnd.data(), 100000);
  damages.push_back({"index.tuk", indexPastEnd, "the index offset 100000 lies outside the file"});

  auto beyond = sound;
  beyond[1].overrideOffset = true;
  beyond[1].offset = 300;
  damages.push_back({"beyond.tuk", test::CraftArchive(0, beyond),
                     "entry 1 (d/two): payload 300..350 lies outside the data area"});

  auto overlap = sound;
  overlap[1].overrideOffset = true;
  overlap[1].offset = 200;
  damages.push_back({"overlap.tuk", test::CraftArchive(0, overlap), "entries 0 and 1 overlap"});

  test::CraftedEntry undecodable;
  undecodable.name = "d/bad";
  undecodable.payload = test::SegmentedPayload({{17, 24, 0, 0}}, {5});
  undecodable.size = 5;
  damages.push_back({"mode1.tuk", test::CraftArchive(1, {undecodable}),
                     "entry 0 (d/bad): payload does not decode to 5 bytes"});

  damages.push_back({"unsafe.tuk",
                     test::CraftArchive(0, {test::StoredEntry("../up", {1})}),
                     "entry 0 has an unsafe name: ../up"});

  Bytes cutIndex = test::CraftArchive(0, sound);
  cutIndex.resize(cutIndex.size() - 10);
  damages.push_back({"cut.tuk", cutIndex,
                     "the index runs past the end of the file or holds an impossible record"});

  for (const Damage& damage : damages) {
    test::WriteFile(dir / damage.file, damage.bytes);
    r = Tuk({"verify", damage.file});
    EXPECT_EQ(r.exitCode, 2) << damage.file;
    EXPECT_NE(r.output.find(std::string(damage.expected) + "\n"), std::string::npos)
        << damage.file << ":\n" << r.output;
  }
}

// tuk keeps a checksum of every entry it writes; an update by TukPack
// keeps them on the entries it carries over and adds none of its own.
TEST_F(TukCliTest, ChecksumsCatchBytesThatChanged) {
  ASSERT_EQ(Tuk({"pack", "src", "menu", "m.tuk", "-0"}).exitCode, 0);
  test::WriteFile(dir / "more/new.txt", "new");
  ASSERT_EQ(test::Run(test::PackExe(), {"more", "menu", "m.tuk", "-u"}, dir.path()).exitCode, 0);
  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(dir / "m.tuk").ok());
  const Index& index = reader.index();
  ASSERT_EQ(index.size(), 4u);
  EXPECT_EQ(index[0].name, "menu/new.txt");
  EXPECT_EQ(index[0].checksum(), 0u);
  for (size_t i = 1; i < index.size(); ++i) EXPECT_NE(index[i].checksum(), 0u) << i;
  EXPECT_EQ(Tuk({"verify", "m.tuk"}).output, "m.tuk: OK (1 entry without a checksum)\n");

  const size_t a = *index.Find("menu/a.txt");
  Bytes bytes = test::ReadFile(dir / "m.tuk");
  bytes[index[a].offset] ^= 1;
  test::WriteFile(dir / "m.tuk", bytes);
  const test::RunResult verify = Tuk({"verify", "m.tuk"});
  EXPECT_EQ(verify.exitCode, 2);
  EXPECT_NE(verify.output.find("entry " + std::to_string(a) +
                               " (menu/a.txt): the bytes do not match its checksum\n"),
            std::string::npos)
      << verify.output;
  EXPECT_EQ(Tuk({"extract", "m.tuk", "-C", "out"}).exitCode, 2);
  EXPECT_FALSE(test::FileExists(dir / "out/menu/a.txt"));
  EXPECT_EQ(Tuk({"recompress", "m.tuk", "-1"}).exitCode, 2);  // no new checksum for it
  EXPECT_EQ(test::ReadFile(dir / "m.tuk"), bytes);
  EXPECT_TRUE(test::FileExists(dir / "out/menu/sub/b.bin"));
  // The unpack program knows nothing of checksums, as before.
  test::MakeDirs(dir / "out2");
  EXPECT_EQ(test::Run(test::UnpackExe(), {"m.tuk", "out2"}, dir.path()).exitCode, 0);
}

TEST_F(TukCliTest, UnpackAllHelpVersionAndUsage) {
  ASSERT_EQ(Tuk({"pack", "src", "one", "packs/one.tuk"}).exitCode, 2);  // no such dir
  test::MakeDirs(dir / "packs");
  ASSERT_EQ(Tuk({"pack", "src", "one", "packs/one.tuk"}).exitCode, 0);
  ASSERT_EQ(Tuk({"pack", "src", "two", "packs/two.tuk"}).exitCode, 0);
  EXPECT_EQ(Tuk({"unpack-all", "packs/*.tuk", "out"}).exitCode, 0);
  EXPECT_EQ(test::TreeContents(dir / "out").size(), 6u);
  EXPECT_EQ(Tuk({"unpack-all", "packs/one.tuk", "out"}).exitCode, 1);

  test::RunResult r = Tuk({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "tuk 1.5\n");
  r = Tuk({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("unpack-all PATTERN DIR"), std::string::npos);
  r = Tuk({"extract", "--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output.rfind("Usage: tuk extract ARCHIVE [-C DIR] [NAME...]", 0), 0u);
  EXPECT_EQ(Tuk({}).exitCode, 1);
  EXPECT_EQ(Tuk({"frobnicate"}).exitCode, 1);
  EXPECT_EQ(Tuk({"list"}).exitCode, 1);
  EXPECT_EQ(Tuk({"list", "missing.tuk"}).exitCode, 2);
}

TEST_F(TukCliTest, OptionsStandAnywhere) {
  ASSERT_EQ(Tuk({"pack", "-0", "src", "--", "menu", "m.tuk"}).exitCode, 0);
  const std::string json = Tuk({"list", "m.tuk", "--json"}).output;
  const std::string table = Tuk({"list", "m.tuk"}).output;
  ASSERT_EQ(json.rfind("{\"mode\": 0, \"count\": 3,", 0), 0u) << json;
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string output;
  };
  const Case cases[] = {
      {{"list", "--json", "m.tuk"}, 0, json},
      {{"list", "--", "m.tuk"}, 0, table},
      {{"list", "--json", "--", "m.tuk"}, 0, json},
      {{"list", "--", "--json", "m.tuk"}, 1, ""},  // --json is an operand there
      {{"list", "m.tuk", "--jsn"}, 1, ""},
      {{"list", "m.tuk", "extra.tuk"}, 1, ""},
      {{"extract", "m.tuk", "--", "-C"}, 2, ""},  // an entry name, and there is none
      {{"recompress", "-j", "1", "--best", "m.tuk"}, 0, ""},
      {{"recompress", "m.tuk", "-j", "3", "-j", "1", "--fast", "-0"}, 0, ""},  // last wins
      {{"pack", "src", "p", "x.tuk", "--level", "10"}, 1, ""},
      {{"pack", "src", "p", "x.tuk", "-j", "0"}, 1, ""},
  };
  for (const Case& c : cases) {
    const test::RunResult r = Tuk(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << " " << c.args[2];
    EXPECT_EQ(r.output, c.output) << c.args[1] << " " << c.args[2];
  }
  EXPECT_EQ(Tuk({"list", "m.tuk"}).output, table);  // stored again by the last -0

  // An unknown option is named in the error.
  const std::string command = "cd '" + dir.path() + "' && " + test::ShellCommand(TukExe()) +
                              " list m.tuk --jsn 2>err.txt";
  EXPECT_NE(std::system(command.c_str()), 0);
  const Bytes error = test::ReadFile(dir / "err.txt");
  EXPECT_NE(std::string(error.begin(), error.end()).find("--jsn"), std::string::npos);
}

}  // namespace
}  // namespace tuk
