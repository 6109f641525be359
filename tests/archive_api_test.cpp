// The public API: archives written by ArchiveWriter read back through
// ArchiveReader, from several threads at once, and writers that fail or
// are dropped leave what lay at the path untouched.
#include <gtest/gtest.h>

#include <thread>

#include "tests/test_support.h"
#include "tuk/tuk.h"

namespace tuk {
namespace {

using test::Bytes;

Bytes Text(size_t length) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>("tuk archive "[i % 12]);
  return bytes;
}

TEST(ArchiveApi, WrittenEntriesReadBackInEveryModeAndFromTwoThreads) {
  test::ScratchDir dir;
  test::WriteFile(dir / "file.bin", test::RandomBytes(70000, 3));
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"a/text", Text(100000)}, {"a/empty", {}}, {"b/noise", test::RandomBytes(5000, 4)}};

  ArchiveReader source;  // a mode-0 archive to copy entries from
  {
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(dir / "source.tuk", {0, 1}).ok());
    ASSERT_TRUE(writer.AddBytes("c/copied", files[0].second.data(), 1000).ok());
    ASSERT_TRUE(writer.Finish().ok());
    ASSERT_TRUE(source.Open(dir / "source.tuk").ok());
  }

  for (int level : {0, 1, 9}) {
    const std::string path = dir / ("l" + std::to_string(level) + ".tuk");
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(path, {level, 2}).ok());
    for (const auto& [name, bytes] : files) {
      ASSERT_TRUE(writer.AddBytes(name, bytes.data(), bytes.size()).ok()) << name;
    }
    ASSERT_TRUE(writer.AddFile("d/file.bin", dir / "file.bin").ok());
    ASSERT_TRUE(writer.AddEntryOf(source, 0).ok());
    EXPECT_EQ(writer.AddBytes("../out", nullptr, 0).code(), Errc::kUnsafeName);
    ASSERT_TRUE(writer.Finish().ok()) << level;

    ArchiveReader reader;
    ASSERT_TRUE(reader.Open(path).ok()) << level;
    const Index& index = reader.index();
    EXPECT_EQ(index.mode(), level > 0 ? 1u : 0u);
    ASSERT_EQ(index.size(), 5u);
    EXPECT_EQ(index.Find("D/FILE.BIN"), std::optional<size_t>(3));
    EXPECT_EQ(index.Find("nothing"), std::nullopt);

    std::vector<Bytes> expected;
    for (const auto& file : files) expected.push_back(file.second);
    expected.push_back(test::ReadFile(dir / "file.bin"));
    expected.push_back(Bytes(files[0].second.begin(), files[0].second.begin() + 1000));
    bool same[2] = {true, true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        Bytes bytes;
        for (size_t round = 0; round < 4; ++round) {
          for (size_t i = 0; i < index.size(); ++i) {
            same[t] = same[t] && reader.Read(i, bytes).ok() && bytes == expected[i];
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(same[0] && same[1]) << level;

    // Ranges read in place: stored archives only.
    uint8_t range[3000];
    size_t got = 0;
    const Status ranged = reader.ReadStoredAt(3, 69000, range, sizeof range, got);
    if (level == 0) {
      ASSERT_TRUE(ranged.ok());
      EXPECT_EQ(got, 1000u);
      EXPECT_TRUE(std::equal(range, range + got, expected[3].begin() + 69000));
      EXPECT_TRUE(reader.ReadStoredAt(3, 80000, range, 10, got).ok());
      EXPECT_EQ(got, 0u);
    } else {
      EXPECT_EQ(ranged.code(), Errc::kInvalidArgument);
    }
  }
}

TEST(ArchiveApi, TheOldArchiveStaysUntilTheNewOneIsFinished) {
  test::ScratchDir dir;
  const std::string path = dir / "a.tuk";
  test::WriteFile(path, "not replaced");
  {
    ArchiveWriter dropped;
    ASSERT_TRUE(dropped.Create(path, {5, 2}).ok());
    ASSERT_TRUE(dropped.AddBytes("x", Text(50).data(), 50).ok());
    EXPECT_EQ(test::ReadFile(path), test::BytesOf("not replaced"));
  }
  EXPECT_EQ(test::ReadFile(path), test::BytesOf("not replaced"));
  EXPECT_FALSE(test::FileExists(path + ".tmp"));

  ArchiveReader reader;
  EXPECT_EQ(reader.Open(path).code(), Errc::kDamaged);
  EXPECT_EQ(reader.Open(dir / "missing.tuk").code(), Errc::kNotFound);

  ArchiveWriter writer;
  ASSERT_TRUE(writer.Create(path, {5, 1}).ok());
  ASSERT_TRUE(writer.Finish().ok());
  ASSERT_TRUE(reader.Open(path).ok());
  EXPECT_EQ(reader.index().size(), 0u);
  EXPECT_FALSE(test::FileExists(path + ".tmp"));
}

}  // namespace
}  // namespace tuk
