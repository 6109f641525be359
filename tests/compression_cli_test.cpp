// Compressed archives through the real programs: tuk writes them, both
// programs read them, and the bytes never depend on the thread count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tuk/edit.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

// Text-like bytes that compress, from a fixed seed.
std::string Words(size_t length, uint32_t seed) {
  static const char* const kWords[] = {"mesh ", "texture ", "sound ", "level ", "menu\n",
                                       "0.25 ", "vehicle ", "{ }\n"};
  std::string text;
  uint32_t state = seed;
  while (text.size() < length) {
    state = state * 1103515245u + 12345u;
    text += kWords[(state >> 16) % 8];
  }
  text.resize(length);
  return text;
}

class CompressionCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Many small files, and one spanning several of the jobs a file is cut into.
    for (int i = 0; i < 30; ++i) {
      test::WriteFile(dir / ("src/f" + std::to_string(i) + ".txt"), Words(100 + 997 * i, i));
    }
    test::WriteFile(dir / "src/big/level.dat", Words(600000, 99));
    test::WriteFile(dir / "src/big/noise.bin", test::RandomBytes(70000, 5));
    test::WriteFile(dir / "src/empty", "");
  }
  test::RunResult Tuk(const std::vector<std::string>& args) {
    return test::Run(test::TukExe(), args, dir.path());
  }
  // Every entry extracted by the unpack program matches the source tree.
  void ExpectExtractsToSource(const std::string& archive, const std::string& source = "src") {
    const std::string out = dir / ("out-" + archive);
    test::MakeDirs(out);
    ASSERT_EQ(test::Run(test::UnpackExe(), {archive, out}, dir.path()).exitCode, 0) << archive;
    auto expected = test::TreeContents(dir / source);
    for (auto& [name, bytes] : expected) name = "p/" + name;
    EXPECT_EQ(test::TreeContents(out), expected) << archive;
  }
  test::ScratchDir dir;
};

TEST_F(CompressionCliTest, EveryLevelIsReadableAndThreadsChangeNoByte) {
  const uint64_t sourceBytes = [&] {
    uint64_t total = 0;
    for (const auto& file : test::TreeContents(dir / "src")) total += file.second.size();
    return total;
  }();
  for (const char* level : {"-1", "-5", "-9"}) {
    const std::string one = std::string("j1") + level + ".tuk";
    const std::string four = std::string("j4") + level + ".tuk";
    ASSERT_EQ(Tuk({"pack", "src", "p", one, level, "-j", "1"}).exitCode, 0) << level;
    ASSERT_EQ(Tuk({"pack", "src", "p", four, level, "-j4"}).exitCode, 0) << level;
    const Bytes archive = test::ReadFile(dir / one);
    EXPECT_EQ(archive, test::ReadFile(dir / four)) << level;
    EXPECT_EQ(test::GetU32(archive, 4), 1u) << level;
    EXPECT_LT(archive.size(), sourceBytes / 2) << level;
    EXPECT_EQ(Tuk({"verify", one}).exitCode, 0) << level;
    ExpectExtractsToSource(one);
  }
  EXPECT_EQ(Tuk({"pack", "src", "p", "x.tuk", "--level", "10"}).exitCode, 1);
  EXPECT_EQ(Tuk({"pack", "src", "p", "x.tuk", "-j", "0"}).exitCode, 1);
}

// Big files among small ones, whose pieces share the pipeline with the
// files around them: one with small files still compressing ahead of it,
// two in a row, one big enough to fill the pipeline while files ahead are
// queued, and one last. Every thread count writes the bytes of one.
TEST_F(CompressionCliTest, BigFilesQueuedAmongSmallOnesChangeNoByte) {
  // Packed in name order: count files of each group, of size bytes and
  // 300 more for each one after the first.
  const struct {
    const char* name;
    int count;
    size_t size;
  } groups[] = {{"a", 40, 5000},   {"b", 1, 700000},  {"bb", 1, 600000}, {"c", 5, 5000},
                {"d", 1, 3600000}, {"e", 5, 5000},    {"f", 1, 300000}};
  uint32_t seed = 1;
  for (const auto& group : groups) {
    for (int i = 0; i < group.count; ++i) {
      test::WriteFile(dir / ("mix/" + std::string(group.name) + std::to_string(i)),
                      Words(group.size + 300 * i, ++seed));
    }
  }
  ASSERT_EQ(Tuk({"pack", "mix", "p", "j1.tuk", "-1", "-j1"}).exitCode, 0);
  const Bytes one = test::ReadFile(dir / "j1.tuk");
  for (const char* threads : {"-j2", "-j3"}) {
    ASSERT_EQ(Tuk({"pack", "mix", "p", "jn.tuk", "-1", threads}).exitCode, 0) << threads;
    EXPECT_EQ(test::ReadFile(dir / "jn.tuk"), one) << threads;
  }
  ExpectExtractsToSource("j1.tuk", "mix");
}

// Recompressing gives exactly what packing gives, both ways: entries
// recoded from another archive, the big one queued between small ones,
// come out as packing one thread writes them.
TEST_F(CompressionCliTest, RecompressBothWaysKeepsEveryEntry) {
  ASSERT_EQ(Tuk({"pack", "src", "p", "stored.tuk", "-0"}).exitCode, 0);
  ASSERT_EQ(Tuk({"pack", "src", "p", "best.tuk", "--best", "-j", "1"}).exitCode, 0);
  const Bytes stored = test::ReadFile(dir / "stored.tuk");
  test::WriteFile(dir / "r.tuk", stored);
  ASSERT_EQ(Tuk({"recompress", "r.tuk", "--best", "-j", "2"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(dir / "r.tuk"), test::ReadFile(dir / "best.tuk"));
  ExpectExtractsToSource("r.tuk");
  ASSERT_EQ(Tuk({"recompress", "r.tuk", "-0"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(dir / "r.tuk"), stored);
  EXPECT_FALSE(test::FileExists(dir / "r.tuk.tmp"));
}

TEST_F(CompressionCliTest, UpdatesAndReplacementsCompressNewFiles) {
  ASSERT_EQ(Tuk({"pack", "src", "p", "m.tuk", "--fast"}).exitCode, 0);
  test::WriteFile(dir / "more/added.txt", Words(50000, 7));
  ASSERT_EQ(Tuk({"pack", "more", "p", "m.tuk", "--update", "-9"}).exitCode, 0);
  test::WriteFile(dir / "new.txt", Words(40000, 8));
  ASSERT_EQ(Tuk({"replace", "m.tuk", "p/f3.txt", "new.txt"}).exitCode, 0);
  ASSERT_EQ(Tuk({"verify", "m.tuk"}).exitCode, 0);

  const test::RunResult list = Tuk({"list", "m.tuk"});
  EXPECT_EQ(list.output.rfind("mode 1, 34 entries, ", 0), 0u) << list.output;
  for (const char* name : {"p/added.txt", "p/f3.txt"}) {
    const size_t line = list.output.find(name);
    ASSERT_NE(line, std::string::npos) << name;
    const size_t start = list.output.rfind('\n', line) + 1;
    unsigned index = 0, size = 0, storedSize = 0;
    ASSERT_EQ(std::sscanf(list.output.c_str() + start, "%u %u %u", &index, &size, &storedSize), 3);
    EXPECT_LT(storedSize, size / 2) << name;
  }
  test::MakeDirs(dir / "out");
  ASSERT_EQ(test::Run(test::UnpackExe(), {"m.tuk", "out"}, dir.path()).exitCode, 0);
  EXPECT_EQ(test::ReadFile(dir / "out/p/added.txt"), test::BytesOf(Words(50000, 7)));
  EXPECT_EQ(test::ReadFile(dir / "out/p/f3.txt"), test::BytesOf(Words(40000, 8)));
}

// A recompression that fails at a write, at the close or at creating the
// temporary file leaves the archive exactly as it was and no temporary file.
TEST(Recompress, AFailureLeavesTheArchiveAsItWas) {
  namespace faults = platform::faults;
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a.txt", Words(90000, 1));
  test::WriteFile(dir / "src/b.txt", Words(3000, 2));
  ASSERT_EQ(test::PackTree(dir / "src", "p", dir / "a.tuk").outcome, PackOutcome::Complete);
  const Bytes before = test::ReadFile(dir / "a.tuk");
  struct Case {
    faults::Op op;
    uint64_t at;
  };
  for (const Case& c : {Case{faults::Op::Write, 1}, Case{faults::Op::Write, 3},
                        Case{faults::Op::Close, 1}, Case{faults::Op::OpenWrite, 1}}) {
    platform::FaultPlan plan;
    const test::FaultyEnvironment faulty(plan);
    EditOptions options;
    options.threads = 2;
    options.environment = &faulty.env;
    plan.FailAt(c.op, c.at);
    EXPECT_FALSE(Recompress(dir / "a.tuk", options).ok()) << static_cast<int>(c.op) << c.at;
    EXPECT_EQ(test::ReadFile(dir / "a.tuk"), before);
    EXPECT_FALSE(test::FileExists(dir / "a.tuk.tmp"));
  }
}

}  // namespace
}  // namespace tuk
