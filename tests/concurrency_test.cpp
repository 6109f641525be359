// Two programs writing one archive at once: the second waits for the
// first and works on its result, so neither update is lost.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/test_support.h"
#include "tuk/archive_reader.h"

namespace tuk {
namespace {

TEST(ConcurrencyCli, TwoWritersAddingEntriesLoseNone) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/first.txt", "first");
  test::WriteFile(dir / "new.txt", "new");
  // A lock file a killed run left behind blocks no one.
  test::WriteFile(dir / "a.tuk.lock", "");
  ASSERT_EQ(test::Run(test::TukExe(), {"pack", "src", "p", "a.tuk", "-0"}, dir.path()).exitCode,
            0);

  // Each loop adds 50 entries, one program run each; both run at once.
  auto loop = [](const std::string& group) {
    return "(i=0; while [ $i -lt 50 ]; do i=$((i + 1)); " + test::ShellCommand(test::TukExe()) +
           " replace a.tuk " + group + "/$i new.txt 2>/dev/null || exit 1; done)";
  };
  const std::string script = "cd '" + dir.path() + "' || exit 1; " + loop("one") + " & a=$!; " +
                             loop("two") + " & b=$!; wait $a && wait $b";
  ASSERT_EQ(std::system(script.c_str()), 0);

  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(dir / "a.tuk").ok());
  EXPECT_EQ(reader.index().size(), 101u);
  for (int i = 1; i <= 50; ++i) {
    for (const char* group : {"one/", "two/"}) {
      EXPECT_TRUE(reader.index().Find(group + std::to_string(i)).has_value()) << group << i;
    }
  }
  EXPECT_FALSE(test::FileExists(dir / "a.tuk.lock"));
  EXPECT_FALSE(test::FileExists(dir / "a.tuk.tmp"));
}

}  // namespace
}  // namespace tuk
