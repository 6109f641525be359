// Two programs writing one archive at once: the second waits for the
// first and works on its result, so neither update is lost. Two library
// operations on two threads keep apart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "archive/legacy/tuk_file.h"
#include "platform/fault_injection.h"
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

// With no process-wide state, two legacy operations may run on two threads
// at once: each packs and extracts its own tree, and each one's lines and
// planned faults stay its own.
TEST(LegacyRoadThreads, EachOperationKeepsItsOwnLinesAndFaults) {
  test::ScratchDir dir;
  struct Job {
    std::string name;
    bool failing;
    test::PackRun run;
    std::string extracted;
  };
  std::vector<Job> jobs = {{"calm", false, {}, {}}, {"faulty", true, {}, {}}};
  for (Job& job : jobs) {
    for (int i = 0; i < 40; ++i) {
      test::WriteFile(dir / (job.name + "/f" + std::to_string(i)), job.name + std::to_string(i));
    }
  }
  auto work = [&dir](Job& job) {
    platform::FaultPlan plan;
    if (job.failing) plan.FailAt(platform::faults::Op::Write, 20);
    job.run = test::PackTree(dir / job.name, job.name, dir / (job.name + ".tuk"), 0, &plan);
    if (job.failing) return;
    test::MessageCapture capture;
    TukFile archive(capture.context(MessageSet::WithUnpack));
    archive.LoadIndex((dir / (job.name + ".tuk")).c_str());
    archive.ExtractAll((dir / (job.name + "-out")).c_str());
    job.extracted = capture.Text();
  };
  test::MakeDirs(dir / "calm-out");
  std::thread other(work, std::ref(jobs[1]));
  work(jobs[0]);
  other.join();

  EXPECT_EQ(jobs[0].run.outcome, PackOutcome::Complete);
  EXPECT_EQ(jobs[0].run.text.find("faulty"), std::string::npos) << jobs[0].run.text;
  EXPECT_EQ(jobs[0].extracted, "LoadIndex( \"" + (dir / "calm.tuk") + "\" )\ntuk_file_name:  <- " +
                                   (dir / "calm.tuk") + "\nunpackedSize_MB: 0\n");
  EXPECT_EQ(test::TreeContents(dir / "calm-out/calm"), test::TreeContents(dir / "calm"));
  EXPECT_EQ(jobs[1].run.outcome, PackOutcome::Failed);
  EXPECT_NE(jobs[1].run.text.find("ERROR! Could not write .tuk file: " + (dir / "faulty.tuk")),
            std::string::npos)
      << jobs[1].run.text;
  EXPECT_FALSE(test::FileExists(dir / "faulty.tuk"));
}

}  // namespace
}  // namespace tuk
