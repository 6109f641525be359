// Extraction under failing disks: whichever file operation fails, the
// failure is reported, and every file left on disk is whole and right.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

namespace faults = platform::faults;
namespace fs = std::filesystem;

TEST(ExtractFaults, EveryFailedOperationIsReportedAndLeavesOnlyWholeFiles) {
  test::ScratchDir dir;
  const std::vector<std::pair<std::string, test::Bytes>> files = {
      {"p/a.txt", test::BytesOf("alpha")},
      {"p/gfx/b.bin", test::RandomBytes(70000, 1)},
      {"p/gfx/deep/c.bin", test::RandomBytes(300, 2)},
      {"p/snd/d.raw", test::RandomBytes(5000, 3)},
      {"p/e", {}}};
  std::vector<test::CraftedEntry> entries;
  for (const auto& [name, bytes] : files) entries.push_back(test::StoredEntry(name, bytes));
  test::WriteFile(dir / "a.tuk", test::CraftArchive(kModeStored, entries));
  const std::string out = dir / "out";

  platform::FaultPlan plan;
  auto extractAll = [&]() {
    fs::remove_all(out);
    fs::create_directory(out);
    test::MessageCapture capture;
    TukFile archive(capture.context(MessageSet::WithUnpack, &plan));
    archive.LoadIndex((dir / "a.tuk").c_str());
    const uint32_t result = archive.ExtractAll(out.c_str());
    return std::make_pair(result, capture.Text());
  };

  plan.Reset();
  ASSERT_EQ(extractAll().first, 0u);
  const faults::Op kinds[] = {faults::Op::Write, faults::Op::Close, faults::Op::CreateDir,
                              faults::Op::OpenWrite};
  std::vector<uint64_t> counts;
  for (faults::Op op : kinds) counts.push_back(plan.Count(op));
  EXPECT_EQ(counts[2], 4u);  // p, p/gfx, p/gfx/deep, p/snd: one creation each

  for (size_t kind = 0; kind < std::size(kinds); ++kind) {
    for (uint64_t k = 1; k <= counts[kind]; ++k) {
      plan.Reset();
      plan.FailAt(kinds[kind], k);
      const auto [result, text] = extractAll();
      plan.Reset();
      const std::string where = std::to_string(kind) + "/" + std::to_string(k);
      EXPECT_EQ(result, 5u) << where;
      EXPECT_NE(text.find("ERROR! Could not write"), std::string::npos) << where;
      EXPECT_NE(text.find("ERROR! Could not extract file!\n"), std::string::npos) << where;
      for (const auto& [name, bytes] : test::TreeContents(out)) {
        bool known = false;
        for (const auto& [original, content] : files) {
          if (original == name) {
            known = true;
            EXPECT_EQ(bytes, content) << where << " " << name;
          }
        }
        EXPECT_TRUE(known) << where << " " << name;
      }
    }
  }
}

}  // namespace
}  // namespace tuk
