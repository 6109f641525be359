// Loading an archive's header and index, sound and damaged.
#include <gtest/gtest.h>

#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

class LoadIndexTest : public ::testing::Test {
 protected:
  std::string Write(const Bytes& archive) {
    const std::string path = dir / "a.tuk";
    test::WriteFile(path, archive);
    return path;
  }
  test::ScratchDir dir;
};

TEST_F(LoadIndexTest, ReadsEveryEntryInFileOrder) {
  const std::string path = Write(test::CraftArchive(
      0, {test::StoredEntry("menu/a.txt", test::BytesOf("abc")),
          test::StoredEntry("menu/gfx/b.dds", {}),
          test::StoredEntry("menu/c", test::Bytes(1000, 7))}));
  TukFile archive;
  EXPECT_EQ(archive.rawCapacity, 4000000u);
  archive.LoadIndex(path.c_str());
  ASSERT_EQ(archive.entries.size(), 3u);
  EXPECT_EQ(archive.entries[0].name, "menu/a.txt");
  EXPECT_EQ(archive.entries[0].offset, 156u);
  EXPECT_EQ(archive.entries[1].name.size(), 14u);
  EXPECT_EQ(archive.entries[1].offset, 159u);
  EXPECT_EQ(archive.entries[2].size, 1000u);
  EXPECT_EQ(archive.totalSize, 1003u);
  EXPECT_EQ(archive.mode, 0u);
  EXPECT_EQ(archive.indexOffset, 1159u);
  EXPECT_FALSE(archive.tukFileStream.IsOpen());
  EXPECT_FALSE(archive.indexDamaged);

  // Loading again changes nothing.
  archive.LoadIndex(nullptr);
  EXPECT_EQ(archive.entries.size(), 3u);
  EXPECT_EQ(archive.totalSize, 1003u);
  EXPECT_EQ(archive.entries[2].name, "menu/c");
}

// An archive with no entries still has its index inside the file; anything
// shorter, cut, unfinished or foreign is damaged, not empty.
TEST_F(LoadIndexTest, OnlyASoundArchiveReadsAsEmpty) {
  TukFile empty;
  empty.LoadIndex(Write(test::CraftArchive(0, {})).c_str());
  EXPECT_EQ(empty.entries.size(), 0u);
  EXPECT_FALSE(empty.indexDamaged);

  const Bytes sound = test::CraftArchive(0, {test::StoredEntry("x", Bytes(900, 7))});
  Bytes unfinished = sound;  // the header's index offset never patched
  unfinished[0] = unfinished[1] = unfinished[2] = unfinished[3] = 0;
  struct Case {
    const char* what;
    Bytes bytes;
  };
  for (const Case& c : {Case{"empty file", {}},
                        Case{"shorter than a header", Bytes(sound.begin(), sound.begin() + 100)},
                        Case{"cut before the index", Bytes(sound.begin(), sound.begin() + 1000)},
                        Case{"unfinished", unfinished},
                        Case{"text", test::BytesOf(std::string(300, 'a'))}}) {
    TukFile archive;
    const std::string path = Write(c.bytes);
    for (MessageSet set : {MessageSet::WithUnpack, MessageSet::ErrorsOnly}) {
      test::MessageCapture capture;
      archive.context.messages = capture.messages(set);
      archive.LoadIndex(path.c_str());
      EXPECT_TRUE(archive.indexDamaged) << c.what;
      EXPECT_EQ(archive.entries.size(), 0u) << c.what;
      EXPECT_NE(capture.Text().find("ERROR! Damaged index in " + path + "\n"),
                std::string::npos)
          << c.what;
    }
  }
}

TEST_F(LoadIndexTest, MissingArchiveKeepsWhatWasLoadedAndSaysSo) {
  TukFile archive;
  archive.LoadIndex(Write(test::CraftArchive(0, {test::StoredEntry("x", {1})})).c_str());
  test::MessageCapture capture;
  archive.context.messages = capture.messages(MessageSet::WithUnpack);
  const std::string missing = dir / "missing.tuk";
  archive.LoadIndex(missing.c_str());
  EXPECT_EQ(capture.Text(), "LoadIndex( \"" + missing + "\" )\ntuk_file_name: " +
                                (dir / "a.tuk") + " <- " + missing +
                                "\ntukFileStream_openFail() \n");
  EXPECT_EQ(archive.entries.size(), 1u);
  EXPECT_STREQ(archive.tuk_file_name, missing.c_str());
}

TEST_F(LoadIndexTest, DamagedIndexKeepsTheEntriesBeforeTheDamage) {
  const Bytes sound = test::CraftArchive(
      0, {test::StoredEntry("first", {1}), test::StoredEntry("second", {2}),
          test::StoredEntry("third", {3})});
  const uint32_t indexOffset = test::GetU32(sound, 0);
  const size_t secondRecord = indexOffset + 4 + 28 + 5;

  // A name length above 259.
  Bytes longName = sound;
  longName[secondRecord] = 0x04;
  longName[secondRecord + 1] = 0x01;  // 260
  // A count far beyond what the file can hold.
  Bytes hugeCount = sound;
  hugeCount[indexOffset] = hugeCount[indexOffset + 1] = 0xff;
  hugeCount[indexOffset + 2] = hugeCount[indexOffset + 3] = 0xff;
  // The file cut inside the third record.
  Bytes cut(sound.begin(), sound.end() - 12);
  // A name running past the end.
  Bytes nameBeyondEnd = sound;
  nameBeyondEnd[secondRecord] = 200;

  struct Case {
    const char* what;
    Bytes bytes;
    uint32_t kept;
  };
  for (const Case& c : {Case{"name length", longName, 1}, Case{"count", hugeCount, 3},
                        Case{"cut", cut, 2}, Case{"name past end", nameBeyondEnd, 1}}) {
    test::MessageCapture capture;
    TukFile archive(capture.context(MessageSet::WithUnpack));
    const std::string path = Write(c.bytes);
    archive.LoadIndex(path.c_str());
    EXPECT_TRUE(archive.indexDamaged) << c.what;
    EXPECT_EQ(archive.entries.size(), c.kept) << c.what;
    EXPECT_EQ(archive.entries[0].name, "first") << c.what;
    EXPECT_NE(capture.Text().find("ERROR! Damaged index in " + path + "\n"),
              std::string::npos)
        << c.what;
  }
}


}  // namespace
}  // namespace tuk
