// Replacing one entry of an archive in place, or adding one, and what a
// failure at any step leaves behind.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/format/index_io.h"
#include "archive/legacy/tuk_file.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"
#include "tuk/archive_reader.h"
#include "tuk/verify.h"

namespace tuk {
namespace {

using test::Bytes;
namespace faults = platform::faults;

class ReplaceEntryTest : public ::testing::Test {
 protected:
  // A mode-0 archive of three entries, or its mode-1 twin made by updating
  // an empty mode-1 archive through the library.
  void MakeArchive(uint32_t mode) {
    files = {{"p/a", test::RandomBytes(1000, 1)},
             {"p/b", test::RandomBytes(40000, 2)},
             {"p/c", test::RandomBytes(500, 3)}};
    std::vector<test::CraftedEntry> entries;
    for (const auto& [name, bytes] : files) entries.push_back(test::StoredEntry(name, bytes));
    if (mode == kModeStored) {
      test::WriteFile(path, test::CraftArchive(kModeStored, entries));
      return;
    }
    TukFile writer;
    writer.mode = kModeSegmented;
    ASSERT_TRUE(writer.tukFileStream.Open(path.c_str(), platform::File::Mode::Write));
    Bytes header = test::CraftArchive(kModeSegmented, {});
    header.resize(kHeaderSize);
    ASSERT_TRUE(writer.tukFileStream.Write(header.data(), header.size()));
    for (const auto& [name, bytes] : files) {
      std::memcpy(writer.rawBuffer.get(), bytes.data(), bytes.size());
      writer.currentSize = static_cast<uint32_t>(bytes.size());
      ASSERT_TRUE(writer.StoreFilePayload(writer.currentSize, name.c_str()).ok());
    }
    ASSERT_TRUE(WriteIndex(writer.tukFileStream, "", writer.entries, kModeSegmented).ok());
    ASSERT_TRUE(writer.tukFileStream.Close());
  }

  int32_t Replace(TukFile& archive, uint32_t index, const Bytes& bytes,
                  const char* name = nullptr) {
    archive.GrowRawBuffer(bytes.size() + 1);
    if (!bytes.empty()) std::memcpy(archive.rawBuffer.get(), bytes.data(), bytes.size());
    return archive.AddReplaceFile(index, static_cast<uint32_t>(bytes.size()), name);
  }

  // Every entry of the archive on disk, extracted in memory.
  std::vector<std::pair<std::string, Bytes>> Contents() {
    ArchiveReader reader;
    EXPECT_TRUE(reader.Open(path).ok());
    std::vector<std::pair<std::string, Bytes>> out;
    for (size_t i = 0; i < reader.index().size(); ++i) {
      Bytes bytes;
      EXPECT_TRUE(reader.Read(i, bytes).ok()) << i;
      out.emplace_back(reader.index()[i].name, bytes);
    }
    return out;
  }

  test::ScratchDir dir;
  std::string path = dir / "r.tuk";
  std::vector<std::pair<std::string, Bytes>> files;
};

TEST_F(ReplaceEntryTest, ShorterAndLongerPayloadsMoveOnlyTheLaterOnes) {
  for (uint32_t mode : {kModeStored, kModeSegmented}) {
    for (size_t newSize : {10u, 90000u}) {
      MakeArchive(mode);
      TukFile archive;
      archive.LoadIndex(path.c_str());
      const uint32_t before0 = archive.entries[0].offset;
      const uint32_t before2 = archive.entries[2].offset;
      const uint32_t oldStored = archive.entries[1].storedSize;
      const Bytes replacement = test::RandomBytes(newSize, 7);
      ASSERT_EQ(Replace(archive, 1, replacement), 0) << mode << " " << newSize;

      TukFile reloaded;
      reloaded.LoadIndex(path.c_str());
      ASSERT_EQ(reloaded.entries.size(), 3u);
      EXPECT_EQ(reloaded.mode, mode);
      const uint32_t delta = reloaded.entries[1].storedSize - oldStored;
      EXPECT_EQ(reloaded.entries[0].offset, before0);
      EXPECT_EQ(reloaded.entries[2].offset, before2 + delta);
      EXPECT_EQ(reloaded.entries[2].offset, archive.entries[2].offset);
      auto expected = files;
      expected[1].second = replacement;
      EXPECT_EQ(Contents(), expected);
      EXPECT_TRUE(VerifyArchive(path.c_str()).empty());
      EXPECT_FALSE(test::FileExists(path + ".tmp"));
    }
  }
}

TEST_F(ReplaceEntryTest, AddsANewEntryWhereTheIndexWas) {
  MakeArchive(kModeSegmented);
  TukFile archive;
  archive.LoadIndex(path.c_str());
  const uint32_t oldIndex = archive.indexOffset;
  const Bytes added = test::RandomBytes(3000, 9);
  EXPECT_EQ(Replace(archive, 4, added, "p/new"), 1);  // beyond the end: refused
  ASSERT_EQ(Replace(archive, 3, added, "p/new"), 0);
  TukFile reloaded;
  reloaded.LoadIndex(path.c_str());
  ASSERT_EQ(reloaded.entries.size(), 4u);
  EXPECT_EQ(reloaded.entries[3].offset, oldIndex);
  auto expected = files;
  expected.emplace_back("p/new", added);
  EXPECT_EQ(Contents(), expected);
  EXPECT_TRUE(VerifyArchive(path.c_str()).empty());
}

TEST_F(ReplaceEntryTest, AnEmptyEntrysNeighbourAtTheSameOffsetMovesToo) {
  // Mode 0 gives an empty file the offset of the payload after it.
  test::WriteFile(path, test::CraftArchive(kModeStored,
                                           {test::StoredEntry("e", {}),
                                            test::StoredEntry("f", test::BytesOf("after"))}));
  TukFile archive;
  archive.LoadIndex(path.c_str());
  ASSERT_EQ(archive.entries[0].offset, archive.entries[1].offset);
  ASSERT_EQ(Replace(archive, 0, test::BytesOf("now full")), 0);
  EXPECT_EQ(Contents(), (std::vector<std::pair<std::string, Bytes>>{
                            {"e", test::BytesOf("now full")}, {"f", test::BytesOf("after")}}));
}

TEST_F(ReplaceEntryTest, AnyFailureLeavesTheArchiveAsItWas) {
  MakeArchive(kModeStored);
  const Bytes original = test::ReadFile(path);
  const Bytes replacement = test::RandomBytes(5000, 11);

  platform::FaultPlan plan;
  test::MessageCapture capture;
  const Context context = capture.context(MessageSet::Common, &plan);
  {
    TukFile archive(context);
    archive.LoadIndex(path.c_str());
    ASSERT_EQ(Replace(archive, 1, replacement), 0);
  }
  const uint64_t writes = plan.Count(faults::Op::Write);
  const uint64_t closes = plan.Count(faults::Op::Close);
  const uint64_t renames = plan.Count(faults::Op::Rename);
  ASSERT_GT(writes, 3u);

  struct Fault {
    faults::Op op;
    uint64_t count;
  };
  for (const Fault& fault : {Fault{faults::Op::Write, writes}, Fault{faults::Op::Close, closes},
                             Fault{faults::Op::OpenWrite, 1}}) {
    for (uint64_t k = 1; k <= fault.count; ++k) {
      test::WriteFile(path, original);
      TukFile archive(context);
      archive.LoadIndex(path.c_str());
      const uint32_t entryCount = archive.entries.size();
      const uint32_t offset2 = archive.entries[2].offset;
      plan.Reset();
      plan.FailAt(fault.op, k);
      EXPECT_EQ(Replace(archive, 1, replacement), 1) << static_cast<int>(fault.op) << " " << k;
      plan.Reset();
      EXPECT_EQ(test::ReadFile(path), original) << static_cast<int>(fault.op) << " " << k;
      EXPECT_FALSE(test::FileExists(path + ".tmp"));
      EXPECT_EQ(archive.entries.size(), entryCount);
      EXPECT_EQ(archive.entries[2].offset, offset2);
    }
  }
  // A failed rename falls back to a copy; failing that copy too keeps the
  // archive whole.
  ASSERT_EQ(renames, 1u);
  test::WriteFile(path, original);
  TukFile archive(context);
  archive.LoadIndex(path.c_str());
  plan.Reset();
  plan.FailAt(faults::Op::Rename, 1);
  plan.FailAt(faults::Op::Write, writes + 1);  // the copy's first write
  EXPECT_EQ(Replace(archive, 1, replacement), 1);
  plan.Reset();
  EXPECT_EQ(test::ReadFile(path), original);
  EXPECT_EQ(test::TreeContents(dir.path()).size(), 1u);  // no .tmp, no .part
}

}  // namespace
}  // namespace tuk
