// Extracting entries through the library: by index and by name, in both
// modes, with the checks that keep a hostile archive from doing harm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "archive/legacy/extract_all.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

// The mode-1 payload the encoder writes for a file.
Bytes Segmented(const Bytes& file, const std::string& scratch) {
  TukFile writer;
  writer.mode = kModeSegmented;
  const std::string path = scratch + "/payload.bin";
  EXPECT_TRUE(writer.tukFileStream.Open(path.c_str(), platform::File::Mode::Write));
  EXPECT_TRUE(writer.GrowRawBuffer(file.size() + 1));
  if (!file.empty()) std::memcpy(writer.rawBuffer.get(), file.data(), file.size());
  writer.currentSize = static_cast<uint32_t>(file.size());
  EXPECT_TRUE(writer.StoreFilePayload(writer.currentSize, "x").ok());
  EXPECT_TRUE(writer.tukFileStream.Close());
  return test::ReadFile(path);
}

test::CraftedEntry SegmentedEntry(const std::string& name, const Bytes& file,
                                  const std::string& scratch) {
  test::CraftedEntry entry;
  entry.name = name;
  entry.payload = Segmented(file, scratch);
  entry.size = static_cast<uint32_t>(file.size());
  return entry;
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out = dir / "out";
    test::MakeDirs(out);
  }

  // From here on the archive's lines (the unpack program's set) go into
  // capture.
  static void Into(TukFile& archive, const test::MessageCapture& capture) {
    archive.context.messages = capture.messages(MessageSet::WithUnpack);
  }

  void Load(TukFile& archive, const Bytes& bytes) {
    const std::string path = dir / "a.tuk";
    test::WriteFile(path, bytes);
    archive.LoadIndex(path.c_str());
  }

  test::ScratchDir dir;
  std::string out;
};

TEST_F(ExtractTest, BothModesRecreateTheTree) {
  const Bytes big = test::RandomBytes(70000, 9);
  for (uint32_t mode : {kModeStored, kModeSegmented}) {
    std::vector<test::CraftedEntry> entries;
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"top.txt", test::BytesOf("top")},
        {"menu/a.txt", test::BytesOf("abc")},
        {"menu/gfx/deep/b.dds", big},
        {"menu/gfx/e", {}},
        {"menu/x/y/zz", test::BytesOf("short own name")}};
    for (const auto& [name, content] : files) {
      entries.push_back(mode == kModeStored ? test::StoredEntry(name, content)
                                            : SegmentedEntry(name, content, dir.path()));
    }
    TukFile archive;
    Load(archive, test::CraftArchive(mode, entries));
    test::MessageCapture capture;
    Into(archive, capture);
    EXPECT_EQ(archive.ExtractAll(out.c_str()), 0u);
    EXPECT_EQ(capture.Text(), "unpackedSize_MB: 0\n");
    EXPECT_EQ(test::TreeContents(out), [&] {
      auto sorted = files;
      std::sort(sorted.begin(), sorted.end());
      return sorted;
    }());
    EXPECT_FALSE(archive.tukFileStream.IsOpen());
    fs::remove_all(out);
    fs::create_directory(out);
  }
}

TEST_F(ExtractTest, EntriesLargerThanTheBuffersGrowThemOnce) {
  const Bytes large = test::RandomBytes(6100000, 5);
  const Bytes other = test::RandomBytes(6100000, 6);
  TukFile archive;
  Load(archive, test::CraftArchive(kModeSegmented,
                                   {SegmentedEntry("l1", large, dir.path()),
                                    SegmentedEntry("l2", other, dir.path())}));
  ASSERT_NE(archive.Extract(0, nullptr), nullptr);
  EXPECT_EQ(archive.rawCapacity, 6100001u);
  const uint8_t* raw = archive.rawBuffer.get();
  uint8_t* second = archive.Extract(1, nullptr);
  ASSERT_EQ(second, raw);  // same size: the buffer was kept
  EXPECT_TRUE(std::equal(other.begin(), other.end(), second));
  EXPECT_TRUE(test::TreeContents(out).empty());  // nothing written without a path
}

TEST_F(ExtractTest, SizeMismatchesAndUnknownModesFail) {
  test::CraftedEntry shortStored = test::StoredEntry("short", test::BytesOf("abc"));
  shortStored.size = 5;
  test::CraftedEntry past = test::StoredEntry("past", test::BytesOf("abc"));
  past.overrideOffset = true;
  past.offset = 0xFFFFFF00u;
  test::CraftedEntry huge = test::StoredEntry("huge", test::BytesOf("abc"));
  huge.size = huge.storedSize = 3000000000u;
  huge.overrideStored = true;
  TukFile archive;
  Load(archive, test::CraftArchive(kModeStored, {shortStored, past, huge}));
  test::MessageCapture capture;
  Into(archive, capture);
  EXPECT_EQ(archive.Extract(0, out.c_str()), nullptr);
  EXPECT_EQ(archive.Extract(1, out.c_str()), nullptr);
  EXPECT_EQ(archive.Extract(2, out.c_str()), nullptr);
  EXPECT_EQ(archive.rawCapacity, 4000000u);  // no allocation for a lie
  EXPECT_EQ(capture.Text(),
            "ERROR! Extract() fileSize: 3 should be: 5\n"
            "ERROR! Extract() fileSize: 0 should be: 3\n"
            // up to storedSize bytes are read: here, the rest of the file
            "ERROR! Extract() fileSize: 108 should be: 3000000000\n");
  EXPECT_TRUE(test::TreeContents(out).empty());

  // A mode-1 entry claiming more than its payload could ever decode to.
  test::CraftedEntry inflated = SegmentedEntry("i", test::BytesOf("abc"), dir.path());
  inflated.size = 4000000000u;
  TukFile segmented;
  Load(segmented, test::CraftArchive(kModeSegmented, {inflated}));
  EXPECT_EQ(segmented.Extract(0, nullptr), nullptr);
  EXPECT_EQ(segmented.rawCapacity, 4000000u);

  // Mode 2 stores nothing readable: only empty entries come out.
  TukFile unknown;
  Load(unknown, test::CraftArchive(2, {test::StoredEntry("full", {1}),
                                       test::StoredEntry("empty", {})}));
  EXPECT_EQ(unknown.Extract(0, out.c_str()), nullptr);
  EXPECT_NE(unknown.Extract(1, out.c_str()), nullptr);
  EXPECT_EQ(test::ReadFile(out + "/empty").size(), 0u);
}

TEST_F(ExtractTest, UnsafeNamesNeverReachTheDisk) {
  const std::string outside = dir / "outside";
  TukFile archive;
  Load(archive, test::CraftArchive(
                    kModeStored,
                    {test::StoredEntry("../outside", {1}),
                     test::StoredEntry("a/../../outside", {2}),
                     test::StoredEntry(outside, {3}),
                     test::StoredEntry("a\\..\\..\\outside", {4}),
                     test::StoredEntry("fine/..x", {5})}));
  test::MessageCapture capture;
  Into(archive, capture);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(archive.Extract(i, out.c_str()), nullptr);
  EXPECT_NE(archive.Extract(4, out.c_str()), nullptr);
  EXPECT_FALSE(test::FileExists(outside));
  EXPECT_EQ(capture.Text(), "ERROR! Unsafe entry name: ../outside\n"
                            "ERROR! Unsafe entry name: a/../../outside\n"
                            "ERROR! Unsafe entry name: " + outside + "\n"
                            "ERROR! Unsafe entry name: a\\..\\..\\outside\n");
  EXPECT_EQ(test::TreeContents(dir.path()).size(), 2u);  // the archive and fine/..x
}

// Extraction joins names to the directory it is given: a relative one
// stays relative to where the caller stands, entry after entry.
TEST_F(ExtractTest, RelativeDirectoryAndTheWorkingDirectoryStayPut) {
  TukFile archive;
  Load(archive, test::CraftArchive(kModeStored, {test::StoredEntry("a/one", {1}),
                                                 test::StoredEntry("a/b/two", {2}),
                                                 test::StoredEntry("three", {3})}));
  std::string before;
  ASSERT_TRUE(platform::SetCurrentDir(dir.path().c_str()));
  ASSERT_TRUE(platform::GetCurrentDir(before));
  EXPECT_EQ(archive.ExtractAll("out"), 0u);
  std::string after;
  ASSERT_TRUE(platform::GetCurrentDir(after));
  EXPECT_EQ(after, before);
  EXPECT_EQ(test::TreeContents(out).size(), 3u);
  EXPECT_EQ(test::ReadFile(out + "/a/b/two"), Bytes{2});
}

TEST_F(ExtractTest, LookupByIndexAndByName) {
  TukFile archive;
  Load(archive, test::CraftArchive(
                    kModeStored, {test::StoredEntry("Menu/A.txt", test::BytesOf("first")),
                                  test::StoredEntry("menu/a.TXT", test::BytesOf("second"))}));
  test::MessageCapture capture;
  Into(archive, capture);
  EXPECT_EQ(archive.Extract(2, out.c_str()), nullptr);
  EXPECT_EQ(archive.ExtractByName("menu/a.txt ", out.c_str()), nullptr);
  EXPECT_NE(archive.ExtractByName("MENU/A.TXT", out.c_str()), nullptr);
  EXPECT_EQ(capture.Text(),
            "ERROR! item out of range to extract! 2\n"
            "EXTRACTING BY NAME: menu/a.txt \n"
            "  ERROR! Could not ExtractByName: menu/a.txt \n\tName Not found!\n"
            "EXTRACTING BY NAME: MENU/A.TXT\n");
  EXPECT_EQ(test::ReadFile(out + "/Menu/A.txt"), test::BytesOf("first"));

  // The archive vanished after its index was loaded.
  fs::remove(dir / "a.tuk");
  TukFile gone;
  gone.entries = archive.entries;
  std::strcpy(gone.tuk_file_name, (dir / "a.tuk").c_str());
  test::MessageCapture again;
  Into(gone, again);
  EXPECT_EQ(gone.Extract(0, out.c_str()), nullptr);
  EXPECT_EQ(again.Text(), "ERROR! Extract(), .tuk file not open!\n");
}

TEST_F(ExtractTest, AFailedWriteLeavesNoFileBehind) {
  TukFile archive;
  Load(archive, test::CraftArchive(kModeStored,
                                   {test::StoredEntry("d/f.bin", test::RandomBytes(100, 1))}));
  platform::FaultPlan plan;
  archive.context.faults = &plan;
  for (auto op : {platform::faults::Op::Write, platform::faults::Op::Close}) {
    plan.Reset();
    plan.FailAt(op, 1);
    test::MessageCapture capture;
    Into(archive, capture);
    EXPECT_EQ(archive.Extract(0, out.c_str()), nullptr);
    EXPECT_EQ(capture.Text(), "ERROR! Could not write: d/f.bin\n");
    EXPECT_FALSE(test::FileExists(out + "/d/f.bin"));
  }
  plan.Reset();
  plan.FailAt(platform::faults::Op::OpenWrite, 1);
  test::MessageCapture capture;
  Into(archive, capture);
  EXPECT_EQ(archive.Extract(0, out.c_str()), nullptr);
  EXPECT_EQ(capture.Text(), "ERROR! Could not write file: d/f.bin\n");
}

TEST_F(ExtractTest, WholeArchiveStopsAtTheFirstFailure) {
  test::CraftedEntry bad = test::StoredEntry("2", test::BytesOf("xy"));
  bad.size = 9;
  TukFile archive;
  Load(archive, test::CraftArchive(kModeStored, {test::StoredEntry("1", {1}), bad,
                                                 test::StoredEntry("3", {3})}));
  test::MessageCapture capture;
  Into(archive, capture);
  EXPECT_EQ(archive.ExtractAll(out.c_str()), 5u);
  EXPECT_EQ(capture.Text(), "unpackedSize_MB: 0\n"
                            "ERROR! Extract() fileSize: 2 should be: 9\n"
                            "ERROR! Could not extract file!\n");
  EXPECT_TRUE(test::FileExists(out + "/1"));
  EXPECT_FALSE(test::FileExists(out + "/3"));
  EXPECT_FALSE(archive.tukFileStream.IsOpen());
  EXPECT_EQ(archive.ExtractAll(nullptr), 2u);

  TukFile missing;
  missing.LoadIndex((dir / "none.tuk").c_str());
  EXPECT_EQ(missing.ExtractAll(out.c_str()), 3u);
  EXPECT_EQ(freeDiskSpaceMB((dir / "no/such/dir").c_str()), 0u);
  EXPECT_GT(freeDiskSpaceMB(out.c_str()), 0u);
}

TEST_F(ExtractTest, UnpackingEveryArchiveOfAPattern) {
  test::WriteFile(dir / "in/one.tuk",
                  test::CraftArchive(kModeStored, {test::StoredEntry("one/a", {1})}));
  test::WriteFile(dir / "in/two.tuk",
                  test::CraftArchive(kModeStored, {test::StoredEntry("two/b", {2})}));
  test::MakeDirs(dir / "in/dir.tuk");
  std::string pattern = dir / "in/*.tuk";
  std::replace(pattern.begin(), pattern.end(), '/', '\\');
  {
    test::MessageCapture capture;
    EXPECT_EQ(unpackTukFiles(pattern.data(), nullptr, out.c_str(),
                             capture.context(MessageSet::WithUnpack)),
              0);
    EXPECT_NE(capture.Text().find("*** unpackTukFiles() tmpPath: " + (dir / "in/") + "\n"),
              std::string::npos);
  }
  EXPECT_EQ(test::TreeContents(out).size(), 2u);

  std::string nothing = dir / "in/*.none";
  test::MessageCapture capture;
  EXPECT_EQ(unpackTukFiles(nothing.data(), nullptr, out.c_str(),
                           capture.context(MessageSet::WithUnpack)),
            0);
  EXPECT_EQ(capture.Text(), "*** unpackTukFiles() tmpPath: " + (dir / "in/") +
                                "\n         " + nothing + "\nEND unpackTukFiles()" +
                                nothing + "\n");
  std::string noStar = dir / "in/one.tuk";
  test::MessageCapture refused;
  EXPECT_EQ(unpackTukFiles(noStar.data(), nullptr, out.c_str(),
                           refused.context(MessageSet::WithUnpack)),
            2);
  EXPECT_EQ(refused.Text(), "ERROR! unpackTukFiles() pattern has no '*'\n");

  // The first failure stops the search.
  test::WriteFile(dir / "in/a_bad.tuk",
                  test::CraftArchive(kModeStored, {[] {
                                       auto e = test::StoredEntry("bad", {1});
                                       e.size = 2;
                                       return e;
                                     }()}));
  std::string all = dir / "in/*.tuk";
  TukFile reused;
  EXPECT_EQ(unpackTukFiles(all.data(), &reused, out.c_str()), 5);
  EXPECT_STREQ(reused.tuk_file_name, (dir / "in/a_bad.tuk").c_str());
}

}  // namespace
}  // namespace tuk
