// Moving a finished file into place, and the checks of a pack request's
// paths.
#include <gtest/gtest.h>

#include <filesystem>

#include <cstring>
#include <string>
#include <vector>

#include "archive/legacy/file_move.h"
#include "archive/legacy/path_checks.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

namespace faults = platform::faults;
using test::Bytes;

using platform::FaultPlan;

struct MoveRun {
  int result = -1;
  std::string text;
};

MoveRun Move(const std::string& from, const std::string& to, FaultPlan& plan) {
  test::MessageCapture capture;
  MoveRun run;
  run.result = kelMoveFile(from.c_str(), to.c_str(),
                           capture.context(MessageSet::Common, &plan));
  run.text = capture.Text();
  return run;
}

TEST(FileMove, RenamesWithinAVolume) {
  test::ScratchDir dir;
  FaultPlan plan;
  const Bytes content = test::RandomBytes(1000, 1);
  test::WriteFile(dir / "a", content);
  test::WriteFile(dir / "b", "old destination");
  const MoveRun run = Move(dir / "a", dir / "b", plan);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.text, "");
  EXPECT_EQ(plan.Count(faults::Op::OpenWrite), 0u);  // nothing copied
  EXPECT_FALSE(test::FileExists(dir / "a"));
  EXPECT_EQ(test::ReadFile(dir / "b"), content);
}

TEST(FileMove, CopiesWhenTheRenameFails) {
  test::ScratchDir dir;
  FaultPlan plan;
  const Bytes content = test::RandomBytes(150000, 2);
  test::WriteFile(dir / "a", content);
  test::WriteFile(dir / "b", "old destination");
  plan.FailAt(faults::Op::Rename, 1);
  const MoveRun run = Move(dir / "a", dir / "b", plan);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.text, "");
  // 65,536 + 65,536 + 18,928 bytes.
  EXPECT_EQ(plan.Count(faults::Op::Write), 3u);
  EXPECT_FALSE(test::FileExists(dir / "a"));
  EXPECT_FALSE(test::FileExists(dir / "b.part"));
  EXPECT_EQ(test::ReadFile(dir / "b"), content);

  // An empty source makes an empty destination.
  plan.Reset();
  test::WriteFile(dir / "empty", Bytes{});
  plan.FailAt(faults::Op::Rename, 1);
  EXPECT_EQ(Move(dir / "empty", dir / "new", plan).result, 1);
  EXPECT_FALSE(test::FileExists(dir / "empty"));
  EXPECT_EQ(test::ReadFile(dir / "new"), Bytes{});
}

TEST(FileMove, MissingPlacesLeaveTheSource) {
  test::ScratchDir dir;
  FaultPlan plan;
  test::WriteFile(dir / "a", "source");
  const MoveRun noDirectory = Move(dir / "a", dir / "missing/b", plan);
  EXPECT_EQ(noDirectory.result, 3);
  EXPECT_EQ(noDirectory.text,
            "Error! kelMoveFile(): Could not create file: " + dir.path() + "/missing/b\n");
  EXPECT_EQ(test::ReadFile(dir / "a"), test::BytesOf("source"));

  const MoveRun noSource = Move(dir / "nothing", dir / "b", plan);
  EXPECT_EQ(noSource.result, 2);
  EXPECT_EQ(noSource.text,
            "Error! kelMoveFile(): Could not open file: " + dir.path() + "/nothing\n");
  EXPECT_FALSE(test::FileExists(dir / "b"));
}

// A copy that fails at any point leaves the destination as it was, no
// partial file beside it, and the source in place.
TEST(FileMove, FailedCopyChangesNothing) {
  test::ScratchDir dir;
  FaultPlan plan;
  const Bytes content = test::RandomBytes(150000, 3);
  const Bytes destination = test::BytesOf("old destination");
  struct Case {
    faults::Op op;
    uint64_t at;
    int result;
  };
  for (const Case& c : {Case{faults::Op::Write, 1, 5}, Case{faults::Op::Write, 2, 5},
                        Case{faults::Op::Write, 3, 5}, Case{faults::Op::Close, 1, 5},
                        Case{faults::Op::OpenWrite, 1, 3}}) {
    test::WriteFile(dir / "a", content);
    test::WriteFile(dir / "b", destination);
    plan.Reset();
    plan.FailAt(faults::Op::Rename, 1);
    plan.FailAt(c.op, c.at);
    const MoveRun run = Move(dir / "a", dir / "b", plan);
    plan.Reset();
    EXPECT_EQ(run.result, c.result) << static_cast<int>(c.op) << " " << c.at;
    if (c.result == 5) {
      EXPECT_EQ(run.text,
                "Error! kelMoveFile(), reading or writing to .tuk file, tmpRetValue: 5\n");
    }
    EXPECT_EQ(test::ReadFile(dir / "a"), content);
    EXPECT_EQ(test::ReadFile(dir / "b"), destination);
    EXPECT_FALSE(test::FileExists(dir / "b.part"));
  }
}

// checkPackPaths with writable copies, returning the result and the lines.
struct CheckRun {
  uint32_t result = 0;
  std::string text;
  std::string source;
  std::string archive;
};

CheckRun Check(const std::string& source, const std::string& archive) {
  std::vector<char> a(source.begin(), source.end());
  a.resize(source.size() + 1, '\0');
  std::vector<char> b(archive.begin(), archive.end());
  b.resize(archive.size() + 1, '\0');
  test::MessageCapture capture;
  CheckRun run;
  run.result = checkPackPaths(a.data(), b.data(), capture.messages());
  run.text = capture.Text();
  run.source = a.data();
  run.archive = b.data();
  return run;
}

TEST(PackPaths, ArchiveInsideTheSourceIsRefused) {
  const CheckRun inside = Check("D:\\Data", "d:\\data\\x.tuk");
  EXPECT_EQ(inside.result, 2u);
  EXPECT_EQ(inside.text,
            "ERROR! save inside source dir\n"
            "strDirSource: d:/data strTukName: d:/data/x.tuk\n");
  EXPECT_EQ(inside.source, "d:/data");
  EXPECT_EQ(inside.archive, "d:/data/x.tuk");

  // Characters are compared, not components.
  EXPECT_EQ(Check("d:/data", "d:/data2.tuk").result, 2u);
  EXPECT_EQ(Check("", "a.tuk").result, 2u);
  // The archive keeps the case of its letters.
  const CheckRun outside = Check("D:/Data", "D:\\Out\\A.tuk");
  EXPECT_EQ(outside.result, 0u);
  EXPECT_EQ(outside.text, "");
  EXPECT_EQ(outside.source, "d:/data");
  EXPECT_EQ(outside.archive, "D:/Out/A.tuk");
  EXPECT_EQ(Check("d:/data", "d:/out/a.tuk").result, 0u);
  EXPECT_EQ(Check("d:/data/sub", "d:/data/x.tuk").result, 0u);

  // The inside rule comes first, whatever characters the paths hold.
  EXPECT_EQ(Check("d:/da*a", "d:/da*a/x.tuk").result, 2u);
}

// Whole components of resolved paths decide, not string prefixes.
TEST(PackPaths, InsideComparesResolvedComponents) {
  test::ScratchDir dir;
  test::MakeDirs(dir / "data/sub");
  std::filesystem::create_directory_symlink(dir / "data", dir / "alias");
  const struct {
    std::string path, directory;
    bool inside;
  } cases[] = {
      {dir / "data.tuk", dir / "data", false},
      {dir / "data/x.tuk", dir / "data", true},
      {dir / "data/sub/../x.tuk", dir / "data/", true},
      {dir / "data/../x.tuk", dir / "data", false},
      {dir / "alias/new/x.tuk", dir / "data", true},
      {dir / "data", dir / "data", true},
      {dir / "dat", dir / "data", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathIsInside(c.path, c.directory), c.inside) << c.path << " in " << c.directory;
  }
}

TEST(PackPaths, IllegalCharactersAreRefused) {
  const CheckRun sourceBad = Check("d:/a?", "d:/b?");
  EXPECT_EQ(sourceBad.result, 3u);
  EXPECT_EQ(sourceBad.text,
            "ERROR! Illegal Characters (strDirSource)\n"
            "strDirSource: d:/a? strTukName: d:/b?\n");
  const CheckRun archiveBad = Check("D:\\Src", "d:\\out\\a:b.tuk");
  EXPECT_EQ(archiveBad.result, 3u);
  EXPECT_EQ(archiveBad.text,
            "ERROR! Illegal Characters (strTukName)\n"
            "strDirSource: d:/src strTukName: d:/out/a:b.tuk\n");
  EXPECT_EQ(Check("src/d:", "out.tuk").result, 3u);
  EXPECT_EQ(Check(":/src", "out.tuk").result, 3u);
  EXPECT_EQ(Check("c:/src", "d:/out.tuk").result, 0u);

  const std::string tooLong(512, 'a');
  const CheckRun longRun = Check("src", tooLong);
  EXPECT_EQ(longRun.result, 3u);
  EXPECT_EQ(longRun.text, "ERROR! Path too long: " + tooLong + "\n");
  EXPECT_EQ(Check(tooLong, "x").result, 3u);
}

TEST(PackPaths, CharacterRules) {
  auto result = [](const char* source) { return Check(source, "/elsewhere/out.tuk").result; };
  for (const char* bad : {"a\"b", "a*b", "a<b", "a>b", "a?b", "a|b", "a{b", "a}b",
                          "a~b", "a\x7f", "a\x01", "\tx", "a\x80", "a\xff", "a\xc4",
                          ":a", "ab:", "a:b:"}) {
    EXPECT_EQ(result(bad), 3u) << bad;
  }
  for (const char* good : {" ", "d:/a b/c_d-e.f", "z", "A\\B/[x]^`@!#$%&'()+,;=", "d:",
                           "0123456789"}) {
    EXPECT_EQ(result(good), 0u) << good;
  }
}

}  // namespace
}  // namespace tuk
