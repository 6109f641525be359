// What the one engine must hold everywhere: one rule for equal names, one
// open of the archive, 64-bit sums, and memory bounded whatever an entry's
// size.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "archive/format/layout.h"
#include "archive/jobs/pack_job.h"
#include "archive/legacy/report_lines.h"
#include "tests/test_support.h"
#include "tuk/archive_reader.h"
#include "tuk/extract.h"

namespace tuk {
namespace {

using test::Bytes;

test::RunResult Tuk(const test::ScratchDir& dir, const std::vector<std::string>& args) {
  return test::RunCapturingErrors(test::TukExe(), args, dir.path());
}

// Of two entries with one name, the later is the one every command takes.
TEST(EngineCli, TheLaterOfTwoEqualNamesWinsEverywhere) {
  test::ScratchDir dir;
  test::WriteFile(dir / "a.tuk", test::CraftArchive(0, {test::StoredEntry("d/same", test::BytesOf("first")),
                                                        test::StoredEntry("d/same", test::BytesOf("second"))}));
  EXPECT_EQ(Tuk(dir, {"cat", "a.tuk", "d/same"}).output, "second");
  ASSERT_EQ(Tuk(dir, {"extract", "a.tuk", "-C", "named", "d/same"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(dir / "named/d/same"), test::BytesOf("second"));
  ASSERT_EQ(Tuk(dir, {"extract", "a.tuk", "-C", "all"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(dir / "all/d/same"), test::BytesOf("second"));
}

// Entries whose sizes pass 4 GiB in all need that room: a 32-bit sum
// would wrap to a little and let the run start.
TEST(EngineCli, TheFreeSpaceCheckSumsSizesIn64Bits) {
  test::ScratchDir dir;
  std::vector<test::CraftedEntry> entries;
  for (int i = 0; i < 1000; ++i) {
    test::CraftedEntry entry = test::StoredEntry("e" + std::to_string(i), test::BytesOf("x"));
    entry.size = entry.storedSize = 0xFFFFFFFFu;
    entry.overrideStored = true;
    entries.push_back(entry);
  }
  test::WriteFile(dir / "a.tuk", test::CraftArchive(0, entries));
  const test::RunResult r = Tuk(dir, {"extract", "a.tuk", "-C", "out"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.errors.find("not enough free space"), std::string::npos) << r.errors;
  EXPECT_TRUE(test::TreeContents(dir / "out").empty());
}

// The archive is opened once: removed after that, it is still extracted
// whole.
TEST(Engine, ExtractionReadsTheArchiveOpenedOnce) {
  test::ScratchDir dir;
  test::WriteFile(dir / "a.tuk", test::CraftArchive(0, {test::StoredEntry("p/a", test::RandomBytes(9000, 1)),
                                                        test::StoredEntry("p/b", test::RandomBytes(400000, 2))}));
  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(dir / "a.tuk").ok());
  ASSERT_EQ(std::remove((dir / "a.tuk").c_str()), 0);
  ExtractOptions options;
  options.directory = dir / "out";
  ASSERT_TRUE(Extract(reader, {}, options).ok());
  EXPECT_EQ(test::ReadFile(dir / "out/p/b"), test::RandomBytes(400000, 2));
}

// Compressing, workers read the files the scan found: one gone since is
// left out and told in its turn, one grown past what a worker takes is
// packed all the same, and the bytes are those of one thread.
TEST(Engine, WorkersReadingInputsTellWhatChangedInItsTurn) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a", test::RandomBytes(5000, 1));
  test::WriteFile(dir / "src/grown", test::RandomBytes(400000, 2));
  test::WriteFile(dir / "src/z", "last");
  GatheredFiles files;
  for (const char* name : {"a", "gone", "grown", "z"}) {
    files.names.Add((dir / "src/" + name).c_str());
    files.sizes.push_back(10);  // what the scan saw
  }
  std::vector<Bytes> archives;
  for (const unsigned threads : {1u, 3u}) {
    test::MessageCapture capture;
    const Context context = capture.context();
    const LegacyEnvironment environment(context);
    PackRequest request;
    request.archivePath = dir / ("a" + std::to_string(threads) + ".tuk");
    request.prefix = "p/";
    request.basePathLength = (dir / "src/").size();
    request.payloads = {kModeSegmented, "", 5, threads, true};
    const PackResult result = PackFiles(files, request, environment.env());
    EXPECT_TRUE(result.status.ok());
    EXPECT_EQ(result.entries, 3u);
    EXPECT_EQ(result.leftOut, 1u);
    EXPECT_EQ(capture.Text(), "ERROR! inputFile: " + (dir / "src/gone") + "\n");
    archives.push_back(test::ReadFile(request.archivePath));
  }
  EXPECT_EQ(archives[0], archives[1]);
  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(dir / "a3.tuk").ok());
  Bytes grown;
  ASSERT_TRUE(reader.Read(1, grown).ok());
  EXPECT_EQ(grown, test::RandomBytes(400000, 2));
  // Sizes other than the scan's, within what a worker takes: read again
  // in their turn, with the bytes they have now.
  Bytes larger, shorter;
  ASSERT_TRUE(reader.Read(0, larger).ok());
  EXPECT_EQ(larger, test::RandomBytes(5000, 1));
  ASSERT_TRUE(reader.Read(2, shorter).ok());
  EXPECT_EQ(shorter, test::BytesOf("last"));
}

// Listing a tree on several threads gathers and tells what one thread
// does, in the same order: files before subdirectories, each level in
// name order, what cannot be packed named where it lies.
TEST(ThreadedScan, GathersWhatOneThreadDoes) {
  test::ScratchDir dir;
  const std::string src = dir / "src";
  for (const char* path : {"b/y/deep/1", "b/y/deep/2", "b/x/3", "a/4", "top", "c/d/e/f/5"}) {
    test::WriteFile(src + "/" + path, path);
  }
  std::filesystem::create_symlink(src + "/gone", src + "/b/dangling");
  std::filesystem::create_directory_symlink(src + "/b", src + "/a/loop");
  ASSERT_EQ(mkfifo((src + "/c/pipe").c_str(), 0600), 0);
  std::string tooLong = src + "/c/d";  // a path past what an archive can name
  while (tooLong.size() < kPathBufferSize) tooLong += "/" + std::string(60, 'n');
  std::filesystem::create_directories(tooLong);
  test::WriteFile(tooLong + "/6", "6");

  std::vector<std::string> told;
  std::vector<std::vector<std::string>> names;
  for (const unsigned threads : {1u, 4u}) {
    test::MessageCapture capture;
    const Context context = capture.context();
    const LegacyEnvironment environment(context);
    GatheredFiles files;
    scanDirectory(files, environment.env(), src.c_str(), threads);
    names.emplace_back();
    for (uint32_t i = 0; i < files.names.Count(); ++i) names.back().push_back(files.names.Get(i));
    EXPECT_EQ(files.skipped, 3u);
    EXPECT_EQ(files.sizes, (std::vector<uint64_t>{3, 3, 5, 10, 10, 9}));
    told.push_back(capture.Text());
  }
  EXPECT_EQ(names[0], (std::vector<std::string>{src + "/top", src + "/a/4", src + "/b/x/3",
                                                 src + "/b/y/deep/1", src + "/b/y/deep/2",
                                                 src + "/c/d/e/f/5"}));
  EXPECT_EQ(names[1], names[0]);
  EXPECT_EQ(told[1], told[0]);
  EXPECT_NE(told[0].find(src + "/b/dangling"), std::string::npos) << told[0];
}

// The largest resident memory of the program run with args, in KiB.
long PeakKiB(const std::string& directory, const std::vector<std::string>& args) {
  std::vector<std::string> words = {test::TukExe()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    std::freopen("/dev/null", "w", stdout);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return usage.ru_maxrss;
}

// Whatever an entry's size, reading, replacing and recompressing it pass
// it through a few fixed buffers: a 64 MiB entry costs no 64 MiB.
TEST(EngineMemory, BigEntriesPassThroughFixedBuffers) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory counts in the peak";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "a sanitizer's shadow memory counts in the peak";
#endif
#endif
  test::ScratchDir dir;
  {
    // Gone before the programs run: a child's peak counts the pages it
    // shared with this process.
    Bytes big;
    for (uint64_t i = 0; big.size() < (64u << 20); ++i) {
      const std::string line = "line " + std::to_string(i * 7919 % 1000003) + " of many\n";
      big.insert(big.end(), line.begin(), line.end());
    }
    test::WriteFile(dir / "src/big.bin", big);
    test::WriteFile(dir / "new.bin", big);
  }
  ASSERT_EQ(Tuk(dir, {"pack", "src", "p", "s.tuk", "-0"}).exitCode, 0);
  ASSERT_EQ(Tuk(dir, {"pack", "src", "p", "c.tuk", "-1"}).exitCode, 0);
  const std::vector<std::vector<std::string>> runs = {
      {"cat", "s.tuk", "p/big.bin"},
      {"cat", "c.tuk", "p/big.bin"},
      {"replace", "c.tuk", "p/big.bin", "new.bin", "-1", "-j", "2"},
      {"recompress", "s.tuk", "-1", "-j", "2"},
  };
  for (const auto& args : runs) {
    const long peak = PeakKiB(dir.path(), args);
    EXPECT_GT(peak, 0) << args[0];
    EXPECT_LT(peak, 32 * 1024) << args[0] << " " << args[1];
  }
}

}  // namespace
}  // namespace tuk
