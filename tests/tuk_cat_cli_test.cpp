// tuk cat through the real program (and, under Wine, the Windows one):
// bytes exactly as stored, in the order named.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

TEST(TukCatCli, WritesTheNamedEntriesInOrder) {
  test::ScratchDir dir;
  Bytes binary = test::RandomBytes(100000, 9);
  for (size_t i = 0; i < 50; ++i) binary[i * 1000] = '\n';  // "\n" stays "\n" on Windows too
  test::WriteFile(dir / "src/a.txt", "alpha\n");
  test::WriteFile(dir / "src/b.bin", binary);
  test::WriteFile(dir / "src/empty", "");
  const std::string tuk = test::TukExe();
  for (const char* level : {"-0", "-5"}) {
    SCOPED_TRACE(level);
    ASSERT_EQ(test::Run(tuk, {"pack", "src", "menu", "m.tuk", level}, dir.path()).exitCode, 0);
    test::RunResult r = test::RunCapturingErrors(
        tuk, {"cat", "m.tuk", "menu/b.bin", "MENU/A.TXT", "menu/empty", "menu/a.txt"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    Bytes expected = binary;
    for (int twice = 0; twice < 2; ++twice) {
      expected.insert(expected.end(), {'a', 'l', 'p', 'h', 'a', '\n'});
    }
    EXPECT_TRUE(r.output == std::string(expected.begin(), expected.end()));
    EXPECT_EQ(r.errors, "");

    // A missing name fails the run; the others are still written.
    r = test::RunCapturingErrors(tuk, {"cat", "m.tuk", "menu/nothing", "menu/a.txt"},
                                 dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, "alpha\n");
    EXPECT_NE(r.errors.find("menu/nothing"), std::string::npos) << r.errors;
  }
  EXPECT_EQ(test::Run(tuk, {"cat", "m.tuk"}, dir.path()).exitCode, 1);
  EXPECT_EQ(test::Run(tuk, {"cat", "missing.tuk", "menu/a.txt"}, dir.path()).exitCode, 2);

  // The later of two entries with one name, and one that does not decode.
  std::vector<test::CraftedEntry> entries = {
      test::StoredEntry("d/x", test::BytesOf("old")), test::StoredEntry("d/x", test::BytesOf("new"))};
  test::WriteFile(dir / "two.tuk", test::CraftArchive(0, entries));
  EXPECT_EQ(test::Run(tuk, {"cat", "two.tuk", "d/x"}, dir.path()).output, "new");
  test::CraftedEntry broken;
  broken.name = "d/broken";
  broken.payload = test::BytesOf("not a segmented payload");
  broken.size = 1000;
  test::WriteFile(dir / "broken.tuk", test::CraftArchive(1, {broken}));
  const test::RunResult r = test::RunCapturingErrors(tuk, {"cat", "broken.tuk", "d/broken"},
                                                     dir.path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.output, "");
  EXPECT_NE(r.errors.find("d/broken"), std::string::npos) << r.errors;
}

}  // namespace
}  // namespace tuk
