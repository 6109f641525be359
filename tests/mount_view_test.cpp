// What tuk mount shows, without mounting: the tree an index implies, and
// the cache of decoded entries (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tuk/archive_tree.h"
#include "tuk/decoded_cache.h"

namespace tuk {
namespace {

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

TEST(DecodedCache, KeepsRecentlyUsedEntriesWithinItsBound) {
  DecodedCache cache(100);
  auto bytesOf = [](size_t size) {
    return [size](DecodedCache::Bytes& out) {
      out.assign(size, 7);
      return Status();
    };
  };
  std::shared_ptr<const DecodedCache::Bytes> got;
  ASSERT_TRUE(cache.Get(1, bytesOf(40), got).ok());
  ASSERT_TRUE(cache.Get(2, bytesOf(40), got).ok());
  ASSERT_TRUE(cache.Get(1, bytesOf(40), got).ok());  // kept: 1 is now the most recent
  EXPECT_EQ(cache.Decodings(), 2u);
  ASSERT_TRUE(cache.Get(3, bytesOf(40), got).ok());  // 2 goes out
  EXPECT_EQ(cache.KeptBytes(), 80u);
  ASSERT_TRUE(cache.Get(1, bytesOf(40), got).ok());
  EXPECT_EQ(cache.Decodings(), 3u);
  ASSERT_TRUE(cache.Get(2, bytesOf(40), got).ok());
  EXPECT_EQ(cache.Decodings(), 4u);

  // Larger than the bound: handed out, not kept, and nothing else goes.
  ASSERT_TRUE(cache.Get(9, bytesOf(500), got).ok());
  EXPECT_EQ(got->size(), 500u);
  EXPECT_EQ(cache.KeptEntries(), 2u);

  // A failure reaches the caller and is not kept.
  const Status failed = cache.Get(
      5, [](DecodedCache::Bytes&) { return Status(Errc::kDamaged, "bad"); }, got);
  EXPECT_EQ(failed.code(), Errc::kDamaged);
  EXPECT_TRUE(cache.Get(5, bytesOf(10), got).ok());
}

// Many threads asking for a few entries: each entry is decoded once while
// it stays kept, and every thread sees whole, right bytes.
TEST(DecodedCache, ThreadsShareOneDecodingPerEntry) {
  DecodedCache cache(1 << 20);
  std::atomic<int> running{0};
  std::atomic<bool> wrong{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        const size_t key = static_cast<size_t>((t + round) % 4);
        std::shared_ptr<const DecodedCache::Bytes> got;
        const Status status = cache.Get(
            key,
            [&](DecodedCache::Bytes& out) {
              ++running;
              std::this_thread::sleep_for(std::chrono::milliseconds(2));
              out.assign(1000 + key, static_cast<uint8_t>(key));
              return Status();
            },
            got);
        if (!status.ok() || got->size() != 1000 + key || (*got)[999] != key) wrong = true;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(wrong);
  EXPECT_EQ(running.load(), 4);
  EXPECT_EQ(cache.Decodings(), 4u);

  // With room for one entry only, entries go out and come back while other
  // threads still hold them.
  DecodedCache small(1500);
  threads.clear();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 300; ++round) {
        const size_t key = static_cast<size_t>((t * 7 + round) % 3);
        std::shared_ptr<const DecodedCache::Bytes> got;
        const Status status = small.Get(
            key,
            [&](DecodedCache::Bytes& out) {
              out.assign(1000, static_cast<uint8_t>(key));
              return Status();
            },
            got);
        if (!status.ok() || (*got)[500] != key) wrong = true;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(wrong);
  EXPECT_LE(small.KeptBytes(), 1500u);
}

}  // namespace
}  // namespace tuk
