// Archives whose index claims far more than the file holds: 4 GB entries in
// both modes and 2^32-1 entries. Each check runs in a child process whose
// address space is limited to 1 GiB, so an attempt to allocate what the
// archive claims fails there (and fails the test) instead of passing
// unnoticed on a machine with memory to spare.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <string>

#include "archive/format/layout.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"
#include "tests/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define TUK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TUK_UNDER_ASAN 1
#endif
#endif

namespace tuk {
namespace {

using test::Bytes;

constexpr rlim_t kAddressSpaceLimit = rlim_t{1} << 30;
// A stuck child is killed rather than left to hang the test run.
constexpr unsigned kChildWatchdogSeconds = 60;

struct ChildResult {
  bool exited = false;  // false when a signal ended it
  int exitCode = -1;
  int signal = 0;
  std::string report;
};

// Runs body in a forked child under the address-space limit; what body
// returns comes back as report. An exception escaping body is reported and
// makes the child exit with 3.
ChildResult RunLimited(const std::function<std::string()>& body) {
  ChildResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    ADD_FAILURE() << "pipe failed";
    return result;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork failed";
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return result;
  }
  if (child == 0) {
    close(pipeEnds[0]);
    alarm(kChildWatchdogSeconds);
    const rlimit limit = {kAddressSpaceLimit, kAddressSpaceLimit};
    std::string report;
    int code = 0;
    if (setrlimit(RLIMIT_AS, &limit) != 0) {
      report = "setrlimit failed";
      code = 4;
    } else {
      try {
        report = body();
      } catch (const std::exception& error) {
        report = std::string("exception: ") + error.what();
        code = 3;
      } catch (...) {
        report = "exception";
        code = 3;
      }
    }
    size_t done = 0;
    while (done < report.size()) {
      const ssize_t n = write(pipeEnds[1], report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(pipeEnds[1]);
    _exit(code);
  }
  close(pipeEnds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    result.report.append(buffer, static_cast<size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

// Loads the archive at path and tries to extract each given entry into
// outDir, in a fresh archive object. The report lists the entry count, the
// damaged flag, each Extract result and the unpack messages.
std::string LoadAndExtract(const std::string& path, const std::string& outDir,
                           std::initializer_list<uint32_t> indexes) {
  test::MessageCapture messages;
  TukFile archive(messages.context(MessageSet::WithUnpack));
  archive.LoadIndex(path.c_str());
  std::string report = "count=" + std::to_string(archive.entries.size()) +
                       " damaged=" + (archive.indexDamaged ? "1" : "0") + "\n";
  for (uint32_t index : indexes) {
    const uint8_t* bytes = archive.Extract(index, outDir.c_str());
    report += "extract " + std::to_string(index) + "=" +
              (bytes == nullptr ? "null" : "bytes") + "\n";
  }
  return report + messages.Text();
}

class ResourceLimits : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef TUK_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit";
#endif
    out = dir / "out";
    test::MakeDirs(out);
  }

  // Runs LoadAndExtract in a limited child and checks it ended normally.
  std::string Check(const std::string& path, std::initializer_list<uint32_t> indexes) {
    const ChildResult child =
        RunLimited([&] { return LoadAndExtract(path, out, indexes); });
    EXPECT_TRUE(child.exited) << "child killed by signal " << child.signal;
    EXPECT_EQ(child.exitCode, 0) << child.report;
    return child.report;
  }

  test::ScratchDir dir;
  std::string out;
};

test::CraftedEntry Claiming(const std::string& name, const Bytes& payload,
                            uint32_t size, uint32_t storedSize) {
  test::CraftedEntry entry;
  entry.name = name;
  entry.payload = payload;
  entry.size = size;
  entry.overrideStored = true;
  entry.storedSize = storedSize;
  return entry;
}

// Makes the file at path length bytes long; the added part is a hole that
// reads as zeros and takes no disk space.
void Extend(const std::string& path, uint64_t length) {
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(length)), 0);
}

TEST_F(ResourceLimits, FourGigabyteEntriesInModeZeroAreRefusedBySize) {
  // One entry claims 4 GiB - 1 stored and decoded bytes over a payload of
  // four; the other a 4 GiB - 2 byte file with ten stored bytes.
  const Bytes archive = test::CraftArchive(
      kModeStored,
      {Claiming("big.bin", test::BytesOf("tiny"), 0xFFFFFFFFu, 0xFFFFFFFFu),
       Claiming("big2.bin", test::BytesOf("0123456789"), 0xFFFFFFFEu, 10)});
  const std::string path = dir / "a.tuk";
  test::WriteFile(path, archive);
  // What the first entry can read: everything from its payload to the end.
  const size_t available = archive.size() - kHeaderSize;

  const std::string report = Check(path, {0, 1});
  EXPECT_NE(report.find("count=2 damaged=0\nextract 0=null\nextract 1=null\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("ERROR! Extract() fileSize: " + std::to_string(available) +
                        " should be: 4294967295\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("ERROR! Extract() fileSize: 10 should be: 4294967294\n"),
            std::string::npos)
      << report;
  EXPECT_TRUE(test::TreeContents(out).empty());
}

TEST_F(ResourceLimits, FourGigabyteEntriesInModeOneAreRefusedBySize) {
  // The 20-byte payload of an empty file cannot decode to 4 GiB - 1 bytes;
  // the second entry claims a payload far beyond the end of the file.
  const Bytes emptyPayload =
      test::SegmentedPayload({{0x11, 0x11, 0x00, 0x00}}, {0});
  const Bytes archive = test::CraftArchive(
      kModeSegmented,
      {Claiming("big.bin", emptyPayload, 0xFFFFFFFFu,
                static_cast<uint32_t>(emptyPayload.size())),
       Claiming("far.bin", emptyPayload, 0xFFFFFFF0u, 0xFFFFFFF0u)});
  const std::string path = dir / "a.tuk";
  test::WriteFile(path, archive);

  const std::string report = Check(path, {0, 1});
  EXPECT_NE(report.find("count=2 damaged=0\nextract 0=null\nextract 1=null\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("ERROR! Extract() fileSize: 0 should be: 4294967295\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("ERROR! Extract() fileSize: 0 should be: 4294967280\n"),
            std::string::npos)
      << report;
  EXPECT_TRUE(test::TreeContents(out).empty());
}

TEST_F(ResourceLimits, AFourGigabyteEntryItsPayloadCouldHoldFailsCleanly) {
  // 16 MiB of payload may decode to 4 GiB - 2 bytes, so the entry passes
  // the size checks; the buffer it needs cannot be had under the limit,
  // which must be reported, not crash. The payload is a hole in the file.
  const uint32_t storedSize = 16u << 20;
  const Bytes crafted = test::CraftArchive(
      kModeSegmented, {Claiming("big.bin", {}, 0xFFFFFFFEu, storedSize)});
  // The header, a hole for the payload, then the index.
  const uint32_t indexOffset = kHeaderSize + storedSize;
  Bytes header(crafted.begin(), crafted.begin() + kHeaderSize);
  WriteU32LE(header.data(), indexOffset);
  const std::string path = dir / "a.tuk";
  test::WriteFile(path, header);
  Extend(path, indexOffset);
  {
    std::ofstream tail(path, std::ios::binary | std::ios::app);
    const uint32_t oldIndexOffset = test::GetU32(crafted, 0);
    tail.write(reinterpret_cast<const char*>(crafted.data() + oldIndexOffset),
               static_cast<std::streamsize>(crafted.size() - oldIndexOffset));
    ASSERT_TRUE(tail.good());
  }

  const std::string report = Check(path, {0});
  EXPECT_NE(report.find("count=1 damaged=0\nextract 0=null\n"), std::string::npos)
      << report;
  EXPECT_TRUE(test::TreeContents(out).empty());
}

TEST_F(ResourceLimits, ACountOfTwoToTheThirtyTwoMinusOneIsCappedByTheFile) {
  Bytes archive = test::CraftArchive(
      kModeStored, {test::StoredEntry("a.txt", test::BytesOf("alpha")),
                    test::StoredEntry("b.txt", test::BytesOf("beta"))});
  WriteU32LE(archive.data() + test::GetU32(archive, 0), 0xFFFFFFFFu);
  const std::string path = dir / "a.tuk";
  test::WriteFile(path, archive);

  // The two records load; the rest of the claimed count is missing.
  const std::string report = Check(path, {0, 1});
  EXPECT_NE(report.find("count=2 damaged=1\nextract 0=bytes\nextract 1=bytes\n"),
            std::string::npos)
      << report;
  EXPECT_EQ(test::ReadFile(out + "/b.txt"), test::BytesOf("beta"));

  // No records at all behind the count.
  Bytes bare(kHeaderSize + 4);
  WriteU32LE(bare.data(), kHeaderSize);
  WriteU32LE(bare.data() + kHeaderSize, 0xFFFFFFFFu);
  test::WriteFile(path, bare);
  EXPECT_NE(Check(path, {}).find("count=0 damaged=1\n"), std::string::npos);
}

TEST_F(ResourceLimits, AHugeCountInALargeFileCostsOnlyTheRecordsThatLoad) {
  // 512 MiB of file behind the index (a hole) leave room for 19 million
  // records, but the second record is broken: only one entry loads, and
  // memory for the rest must not be taken (at 276 bytes per entry in
  // memory, room for all would be over 5 GB).
  Bytes archive(kHeaderSize);
  WriteU32LE(archive.data(), kHeaderSize);
  test::PutU32(archive, 0xFFFFFFFFu);
  test::PutU32(archive, 1);
  archive.push_back('a');
  for (uint32_t field : {0u, 0u, 0u, kReservedMarker, 0u, 0u}) {
    test::PutU32(archive, field);
  }
  test::PutU32(archive, 0xFFFFFFFFu);  // a name length no record can have
  const std::string path = dir / "a.tuk";
  test::WriteFile(path, archive);
  Extend(path, uint64_t{512} << 20);

  const std::string report = Check(path, {0});
  EXPECT_NE(report.find("count=1 damaged=1\nextract 0=bytes\n"), std::string::npos)
      << report;
}

}  // namespace
}  // namespace tuk
