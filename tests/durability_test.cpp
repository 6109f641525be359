// Every road that puts an archive at its path syncs the new bytes before
// the rename: when the sync fails, the rename never happens, and what lay
// at the path stays as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "archive/legacy/tuk_file.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"
#include "tuk/archive_writer.h"
#include "tuk/edit.h"

namespace tuk {
namespace {

namespace faults = platform::faults;
using test::Bytes;

TEST(Durability, AFailedSyncStopsEveryRoadBeforeTheRename) {
  test::ScratchDir dir;
  platform::FaultPlan plan;
  test::MessageCapture capture;
  const Context context = capture.context(MessageSet::Common, &plan);
  const test::FaultyEnvironment faulty(plan);
  test::WriteFile(dir / "src/a.txt", "alpha");
  const std::string path = dir / "a.tuk";
  ASSERT_EQ(test::PackTree(dir / "src", "p", path).outcome, PackOutcome::Complete);
  const Bytes before = test::ReadFile(path);

  struct Road {
    const char* name;
    std::function<bool()> run;
  };
  const std::vector<Road> roads = {
      {"update", [&] { return test::PackTree(dir / "src", "p", path, 1, &plan).outcome ==
                              PackOutcome::Complete; }},
      {"new archive over it", [&] { return test::PackTree(dir / "src", "q", path, 0, &plan).outcome ==
                                           PackOutcome::Complete; }},
      {"replace", [&] {
         TukFile archive(context);
         archive.LoadIndex(path.c_str());
         std::memcpy(archive.rawBuffer.get(), "beta", 4);
         return archive.AddReplaceFile(0, 4) == 0;
       }},
      {"recompress", [&] {
         EditOptions options;
         options.threads = 1;
         options.environment = &faulty.env;
         return Recompress(path, options).ok();
       }},
      {"writer", [&] {
         ArchiveWriter writer;
         return writer.Create(path, {1, 1, nullptr, &faulty.env}).ok() && writer.Finish().ok();
       }},
  };
  for (const Road& road : roads) {
    plan.Reset();
    plan.FailAt(faults::Op::Sync, 1);
    EXPECT_FALSE(road.run()) << road.name;
    plan.Reset();
    EXPECT_EQ(test::ReadFile(path), before) << road.name;
    EXPECT_FALSE(test::FileExists(path + ".tmp")) << road.name;
  }

  // A new archive where there was none is synced as well, and removed when
  // that fails; when it succeeds, the file and then its directory are.
  const std::string fresh = dir / "fresh.tuk";
  plan.FailAt(faults::Op::Sync, 1);
  EXPECT_EQ(test::PackTree(dir / "src", "p", fresh, 0, &plan).outcome, PackOutcome::Failed);
  plan.Reset();
  EXPECT_FALSE(test::FileExists(fresh));
  EXPECT_EQ(test::PackTree(dir / "src", "p", fresh, 0, &plan).outcome, PackOutcome::Complete);
  EXPECT_EQ(plan.Count(faults::Op::Sync), 2u);
}

}  // namespace
}  // namespace tuk
