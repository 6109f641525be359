// What tuk mount shows, without mounting: the tree an index implies, and
// entries read in parts through a cache of segments (also run under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/test_support.h"
#include "tuk/archive_reader.h"
#include "tuk/archive_tree.h"
#include "tuk/archive_writer.h"

namespace tuk {
namespace {

using test::Bytes;

Index IndexOf(const std::vector<std::string>& names) {
  std::vector<Entry> entries;
  for (const std::string& name : names) {
    Entry entry;
    entry.name = name;
    entry.size = static_cast<uint32_t>(entries.size());
    entries.push_back(entry);
  }
  return Index(0, 0, entries, true);
}

// "a/b/c" -> node, or nullopt.
std::optional<uint32_t> Walk(const ArchiveTree& tree, const std::string& path) {
  uint32_t node = ArchiveTree::kRoot;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::optional<uint32_t> child = tree.Child(node, path.substr(start, end - start));
    if (!child) return std::nullopt;
    node = *child;
    start = end + 1;
  }
  return node;
}

TEST(MountView, NamesLayOutAsExtractionWouldMakeThem) {
  std::vector<std::string> leftOut;
  const ArchiveTree tree = ArchiveTree::Build(
      IndexOf({"m/a.txt", "m/gfx/logo.dds", "m\\win\\x", "m/./dot//y", "../evil", "/abs",
               "m/a.txt", "m/a.txt/under", "m/gfx", "m/dir/", "M/A.TXT"}),
      leftOut);
  ASSERT_TRUE(Walk(tree, "m/a.txt"));
  EXPECT_EQ(tree[*Walk(tree, "m/a.txt")].entry, 6u);  // the later entry wins
  EXPECT_EQ(tree[*Walk(tree, "M/A.TXT")].entry, 10u); // another name on Linux
  EXPECT_TRUE(Walk(tree, "m/win/x"));
  EXPECT_TRUE(Walk(tree, "m/dot/y"));
  EXPECT_TRUE(tree[*Walk(tree, "m/gfx")].directory);
  EXPECT_FALSE(Walk(tree, "m/a.txt/under"));
  const TreeNode& m = tree[*Walk(tree, "m")];
  EXPECT_EQ(m.subdirectories, 3u);  // gfx, win, dot
  std::vector<std::string> names;
  for (uint32_t child : m.children) names.push_back(tree[child].name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "dot", "gfx", "win"}));
  ASSERT_EQ(leftOut.size(), 5u);
  EXPECT_EQ(leftOut[0].rfind("../evil: unsafe", 0), 0u);
  EXPECT_EQ(leftOut[1].rfind("/abs: unsafe", 0), 0u);
  EXPECT_EQ(leftOut[2].rfind("m/a.txt/under: clashes", 0), 0u);
  EXPECT_EQ(leftOut[3].rfind("m/gfx: clashes", 0), 0u);
  EXPECT_EQ(leftOut[4].rfind("m/dir/: names no file", 0), 0u);
}

// A compressed entry read in parts: each read decodes only the segments up
// to its part that the cache does not hold, and every part is the entry's
// bytes, also with many threads reading at once.
TEST(ReadAt, DecodesOnlyWhatAReadNeeds) {
  test::ScratchDir dir;
  Bytes bytes;
  for (int i = 0; bytes.size() < 3000000; ++i) {
    const std::string line = "row " + std::to_string(i * 7919 % 100000) + " of the table\n";
    bytes.insert(bytes.end(), line.begin(), line.end());
  }
  {
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(dir / "a.tuk", {1, 2}).ok());
    ASSERT_TRUE(writer.AddBytes("big", bytes.data(), bytes.size()).ok());
    ASSERT_TRUE(writer.Finish().ok());
  }
  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(dir / "a.tuk").ok());
  SegmentCache cache(1 << 20);
  auto readAt = [&](uint64_t offset, size_t length, SegmentCache* through) {
    Bytes part(length);
    size_t got = 0;
    EXPECT_TRUE(reader.ReadAt(0, offset, part.data(), length, got, through).ok());
    part.resize(got);
    return part;
  };
  auto expected = [&](uint64_t offset, size_t length) {
    const size_t from = static_cast<size_t>(std::min<uint64_t>(bytes.size(), offset));
    const size_t end = static_cast<size_t>(std::min<uint64_t>(bytes.size(), offset + length));
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.begin() + end);
  };
  EXPECT_EQ(readAt(0, 4096, &cache), expected(0, 4096));
  EXPECT_EQ(cache.Decodings(), 1u);
  EXPECT_EQ(readAt(40 * 32768 + 5, 70000, &cache), expected(40 * 32768 + 5, 70000));
  EXPECT_EQ(cache.Decodings(), 43u);  // 1 to 42, behind the kept first one
  EXPECT_LE(cache.KeptBytes(), cache.capacity());
  const uint64_t ends[] = {0, 32767, 32768, 1000000, bytes.size() - 10, bytes.size() + 5};
  for (const uint64_t offset : ends) {
    EXPECT_EQ(readAt(offset, 40000, nullptr), expected(offset, 40000)) << offset;
  }

  std::vector<std::thread> threads;
  std::atomic<bool> wrong{false};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (uint64_t offset = t * 9973; offset < bytes.size(); offset += 262144) {
        if (readAt(offset, 65536, &cache) != expected(offset, 65536)) wrong = true;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(wrong);
}

// Read to its end in order, an entry whose bytes no longer match its
// checksum fails there, and every later read through the same cache.
TEST(ReadAt, ComparesTheChecksumOnceTheEntryWasReadInOrder) {
  test::ScratchDir dir;
  const Bytes bytes = test::RandomBytes(100000, 3);
  {
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(dir / "a.tuk", {1, 1}).ok());
    ASSERT_TRUE(writer.AddBytes("e", bytes.data(), bytes.size()).ok());
    ASSERT_TRUE(writer.Finish().ok());
  }
  Bytes archive = test::ReadFile(dir / "a.tuk");
  archive[archive.size() - 5] ^= 1;  // the checksum's last byte, before the trailer
  test::WriteFile(dir / "a.tuk", archive);
  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(dir / "a.tuk").ok());
  SegmentCache cache(0);
  Bytes part(32768);
  size_t got = 0;
  EXPECT_TRUE(reader.ReadAt(0, 0, part.data(), part.size(), got, &cache).ok());
  EXPECT_TRUE(reader.ReadAt(0, 32768, part.data(), part.size(), got, &cache).ok());
  EXPECT_FALSE(reader.ReadAt(0, 65536, part.data(), 40000, got, &cache).ok());
  EXPECT_EQ(reader.ReadAt(0, 0, part.data(), 10, got, &cache).code(), Errc::kDamaged);
}

}  // namespace
}  // namespace tuk
