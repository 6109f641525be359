// Entries and input files too big to hold whole pass through in blocks:
// the bytes, messages and what is left on disk must be those of the
// whole-buffer road.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "archive/common/checksum.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/report_lines.h"
#include "archive/legacy/pack.h"
#include "archive/legacy/tuk_file.h"
#include "archive/write/entry_writer.h"
#include "codec/encoder.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"
#include "tuk/archive_reader.h"
#include "tuk/pack.h"

namespace tuk {
namespace {

using test::Bytes;
namespace fs = std::filesystem;
namespace faults = platform::faults;

// Past the streaming threshold, not a multiple of a block or a segment,
// and repetitive enough for matches to reach across segments.
Bytes BigFile(uint32_t seed) {
  const Bytes piece = test::RandomBytes(300000, seed);
  Bytes file;
  for (int i = 0; file.size() < kWholeEntryLimit + 700000; ++i) {
    file.insert(file.end(), piece.begin() + i % 7, piece.end());
  }
  return file;
}

// Packs dir/src below the prefix "p" into archive at level (0: stored,
// with checksums, as tuk packs).
void PackSource(const test::ScratchDir& dir, const std::string& archive, int level = 0) {
  PayloadSettings options;
  options.level = level;
  options.checksums = true;
  char source[512], prefix[512];
  std::snprintf(source, sizeof source, "%s", (dir / "src").c_str());
  std::snprintf(prefix, sizeof prefix, "p");
  packTukFiles(source, prefix, archive.c_str(), 0, 0, nullptr, &options);
}

// The payload the whole-buffer road writes for file in a mode.
Bytes WholePayload(uint32_t mode, const Bytes& file, const std::string& scratch) {
  TukFile writer;
  writer.mode = mode;
  const std::string path = scratch + "/whole.bin";
  EXPECT_TRUE(writer.tukFileStream.Open(path.c_str(), platform::File::Mode::Write));
  EXPECT_TRUE(writer.GrowRawBuffer(file.size() + 1));
  std::memcpy(writer.rawBuffer.get(), file.data(), file.size());
  writer.currentSize = static_cast<uint32_t>(file.size());
  EXPECT_TRUE(writer.StoreFilePayload(writer.currentSize, "x").ok());
  EXPECT_TRUE(writer.tukFileStream.Close());
  return test::ReadFile(path);
}

// Blocks written past the stream's buffer and read past it must leave
// the stream where plain writes and reads would: a header rewritten at 0,
// Tell and Truncate afterwards all see the same file.
TEST(StreamedIo, WritesAndReadsPastTheBufferKeepTheStreamInStep) {
  test::ScratchDir dir;
  const std::string path = dir / "f.bin";
  const Bytes block = test::RandomBytes(70000, 4);
  platform::File out;
  ASSERT_TRUE(out.Open(path.c_str(), platform::File::Mode::Write));
  ASSERT_TRUE(out.Write("head", 4));
  ASSERT_TRUE(out.WriteThrough(block.data(), block.size()));
  ASSERT_TRUE(out.Write("tail", 4));
  EXPECT_EQ(out.Tell(), static_cast<int64_t>(8 + block.size()));
  ASSERT_TRUE(out.WriteThrough(block.data(), 10));
  ASSERT_TRUE(out.Seek(8 + block.size()));
  ASSERT_TRUE(out.Truncate());  // drops the last 10 bytes
  ASSERT_TRUE(out.Seek(0));
  ASSERT_TRUE(out.Write("HEAD", 4));
  ASSERT_TRUE(out.Close());

  Bytes expected = test::BytesOf("HEAD");
  expected.insert(expected.end(), block.begin(), block.end());
  for (char c : std::string("tail")) expected.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(test::ReadFile(path), expected);

  platform::File in;
  ASSERT_TRUE(in.Open(path.c_str(), platform::File::Mode::Read));
  uint8_t first[2];
  ASSERT_EQ(in.Read(first, 2), 2u);
  Bytes middle(block.size());
  ASSERT_EQ(in.ReadAt(4, middle.data(), middle.size()), middle.size());
  EXPECT_EQ(middle, block);
  EXPECT_EQ(in.ReadAt(expected.size() - 2, middle.data(), 10), 2u);  // ends at the end
  ASSERT_TRUE(in.Seek(2));
  ASSERT_EQ(in.Read(first, 2), 2u);
  EXPECT_EQ(first[0], 'A');

  size_t got = 0;
  Bytes start(expected.size() + 1);
  ASSERT_TRUE(platform::ReadFileStart(path.c_str(), start.data(), start.size(), got));
  EXPECT_EQ(got, expected.size());
  EXPECT_FALSE(platform::ReadFileStart((dir / "missing").c_str(), start.data(), 1, got));
}

TEST(StreamedIo, BigInputFilesGiveTheWholeBufferPayload) {
  test::ScratchDir dir;
  const Bytes file = BigFile(1);
  test::WriteFile(dir / "big.bin", file);
  // Stored files without a fault plan are copied by the system, behind
  // bytes still in the stream's buffer, with or without their checksum.
  for (uint32_t mode : {kModeStored, kModeSegmented}) {
    for (const bool checksums : {true, false}) {
      TukFile writer;
      writer.mode = mode;
      writer.writeChecksums = checksums;
      writer.basePathLength = static_cast<uint32_t>(dir.path().size() + 1);
      const std::string archive = dir / "out.bin";
      ASSERT_TRUE(writer.tukFileStream.Open(archive.c_str(), platform::File::Mode::Write));
      ASSERT_TRUE(writer.tukFileStream.Write("head", 4));
      ASSERT_TRUE(writer.AddFile((dir / "big.bin").c_str()).ok());
      ASSERT_EQ(writer.skippedInputs, 0u);
      ASSERT_TRUE(writer.tukFileStream.Write("tail", 4));
      ASSERT_TRUE(writer.tukFileStream.Close());
      Bytes expected = test::BytesOf("head");
      const Bytes whole = WholePayload(mode, file, dir.path());
      expected.insert(expected.end(), whole.begin(), whole.end());
      for (char c : std::string("tail")) expected.push_back(static_cast<uint8_t>(c));
      EXPECT_EQ(test::ReadFile(archive), expected) << mode;
      EXPECT_EQ(writer.entries[0].storedSize, whole.size()) << mode;
      EXPECT_EQ(writer.entries[0].checksum(),
                checksums ? EntryChecksum(file.data(), file.size()) : 0) << mode;
    }
  }
}

// How a big entry is spoilt, and what extracting it must then report and
// leave.
struct Damage {
  const char* what;
  uint32_t mode;
  bool checksums;          // packed and extracted with checksums, as tuk does
  bool fileAlreadyThere;   // a file stands at the entry's path beforehand
  uint64_t failWrite;      // the write that fails (0: none)
  const char* message;
};

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.what; }

class StreamedExtract : public ::testing::TestWithParam<Damage> {};

TEST_P(StreamedExtract, FailsAsTheWholeBufferRoadDoes) {
  const Damage& damage = GetParam();
  test::ScratchDir dir;
  const Bytes file = BigFile(2);
  const std::string name = "p/deep/big.bin";
  Bytes archive;
  if (damage.checksums) {
    test::WriteFile(dir / "src/deep/big.bin", file);
    const std::string path = dir / "a.tuk";
    PackSource(dir, path);
    archive = test::ReadFile(path);
    archive[kHeaderSize + file.size() / 2] ^= 1;  // a byte the checksum covers
  } else if (damage.mode == kModeStored) {
    archive = test::CraftArchive(kModeStored, {test::StoredEntry(name, file)});
  } else {
    test::CraftedEntry entry;
    entry.name = name;
    entry.payload = EncodePayload(file.data(), file.size(), 5);
    entry.size = static_cast<uint32_t>(file.size());
    // The last segment's stream starts past the payload's end.
    const uint32_t count = test::GetU32(entry.payload, 0);
    const size_t record = 4 + size_t{count - 1} * kSegmentInfoSize + 8;
    const uint32_t past = static_cast<uint32_t>(entry.payload.size());
    std::memcpy(&entry.payload[record], &past, 4);
    archive = test::CraftArchive(kModeSegmented, {entry});
  }
  test::WriteFile(dir / "a.tuk", archive);

  // With a fault plan and without, the same roads are taken; each must
  // fail alike.
  for (const bool planned : {true, false}) {
    if (!planned && damage.failWrite != 0) continue;
    const std::string out = dir / (planned ? "out" : "copied");
    test::MakeDirs(out);
    const Bytes before = test::BytesOf("was here first");
    if (damage.fileAlreadyThere) test::WriteFile(out + "/" + name, before);

    platform::FaultPlan plan;
    plan.FailAt(faults::Op::Write, damage.failWrite);
    std::string text;
    {
      test::MessageCapture capture;
      TukFile reader(capture.context(MessageSet::WithUnpack, planned ? &plan : nullptr));
      reader.LoadIndex((dir / "a.tuk").c_str());
      reader.checkChecksums = damage.checksums;
      EXPECT_EQ(reader.Extract(0, out.c_str()), nullptr);
      text = capture.Text();
    }

    EXPECT_NE(text.find(damage.message), std::string::npos) << text;
    if (damage.fileAlreadyThere) {
      EXPECT_EQ(test::ReadFile(out + "/" + name), before);
    } else if (damage.failWrite == 0) {
      EXPECT_FALSE(fs::exists(out + "/p")) << "a damaged entry leaves no directories";
    } else {
      EXPECT_FALSE(fs::exists(out + "/" + name)) << "a file cut short is removed";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamedExtract,
    ::testing::Values(
        Damage{"LateSegmentDamaged", kModeSegmented, false, false, 0,
               "ERROR! CRASH  Decompression()!\nERROR! Extract() fileSize: 0 should be: "},
        Damage{"LateSegmentDamagedOverAFile", kModeSegmented, false, true, 0,
               "ERROR! Extract() fileSize: 0 should be: "},
        Damage{"ChecksumMismatch", kModeStored, true, false, 0, "ERROR! Checksum mismatch: p/"},
        Damage{"ChecksumMismatchOverAFile", kModeStored, true, true, 0,
               "ERROR! Checksum mismatch: p/"},
        Damage{"StoredCopyCutShort", kModeStored, false, false, 1,
               "ERROR! Could not write: p/deep/big.bin"},
        Damage{"SegmentBlockNotWritten", kModeSegmented, false, false, 1,
               "ERROR! Could not write: p/deep/big.bin"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.what; });

// Compressed piece by piece, a big file gets the payload the whole-file
// encoder gives it, in its turn between the files queued around it; one
// that turns out shorter than measured is left out and taken back, and
// the files around it stay. So whether this thread reads its pieces or
// the workers do.
TEST(StreamedIo, BigInputFilesCompressInPieces) {
  test::ScratchDir dir;
  const Bytes file = BigFile(5);
  test::WriteFile(dir / "big.bin", file);
  for (const int road : {0, 1, 2, 3}) {
    const bool workersRead = road >= 2;
    const uint32_t claimed = static_cast<uint32_t>(file.size() + road % 2);
    SCOPED_TRACE(workersRead ? "read by the workers" : "read here");
    test::MessageCapture capture;
    const Context context = capture.context();
    const LegacyEnvironment environment(context);
    PayloadSettings settings;
    settings.mode = kModeSegmented;
    settings.level = 5;
    settings.threads = 2;
    settings.checksums = true;
    const std::string archive = dir / "out.bin";
    platform::File out;
    std::vector<Entry> entries;
    ASSERT_TRUE(out.Open(archive.c_str(), platform::File::Mode::Write));
    ASSERT_TRUE(out.Write("head", 4));
    const Bytes before = test::RandomBytes(3000, 1), after = test::BytesOf("after");
    uint32_t skipped = 0;
    {
      EntryWriter writer(out, entries, settings, environment.env());
      const auto add = [&](const std::string& name, uint32_t size) {
        if (workersRead) {
          auto input = std::make_shared<platform::RandomAccessFile>();
          EXPECT_TRUE(input->Open((dir / "big.bin").c_str()));
          return writer.AddOpened(dir / "big.bin", name, input, size);
        }
        platform::File input;
        EXPECT_TRUE(input.Open((dir / "big.bin").c_str(), platform::File::Mode::Read));
        return writer.AddOpened(dir / "big.bin", name, input, size);
      };
      ASSERT_TRUE(writer.AddBytes("a", before.data(), before.size()).ok());
      ASSERT_TRUE(add("big.bin", claimed).ok());
      // The next follows while the first's last pieces are compressing.
      ASSERT_TRUE(add("again.bin", static_cast<uint32_t>(file.size())).ok());
      ASSERT_TRUE(writer.AddBytes("z", after.data(), after.size()).ok());
      ASSERT_TRUE(writer.Flush().ok());
      skipped = writer.skipped();
    }
    ASSERT_TRUE(out.Close());
    Bytes expected = test::BytesOf("head");
    const auto append = [&expected](const Bytes& bytes) {
      const Bytes payload = EncodePayload(bytes.data(), bytes.size(), 5);
      expected.insert(expected.end(), payload.begin(), payload.end());
    };
    append(before);
    if (claimed == file.size()) {
      ASSERT_EQ(skipped, 0u);
      append(file);
      append(file);
      append(after);
      EXPECT_EQ(test::ReadFile(archive), expected);
      ASSERT_EQ(entries.size(), 4u);
      EXPECT_EQ(entries[1].name, "big.bin");
      EXPECT_EQ(entries[1].storedSize, EncodePayload(file.data(), file.size(), 5).size());
      EXPECT_EQ(entries[1].checksum(), EntryChecksum(file.data(), file.size()));
    } else {
      EXPECT_EQ(skipped, 1u);
      append(file);
      append(after);
      EXPECT_EQ(test::ReadFile(archive), expected);
      ASSERT_EQ(entries.size(), 3u);
      EXPECT_EQ(entries[1].name, "again.bin");
      EXPECT_EQ(capture.Text(), "ERROR! inputFile: " + (dir / "big.bin") + "\n");
    }
  }
}

// A big file rewritten, its size kept, while the workers read its pieces
// at once: each piece must be compressed behind the bytes the piece before
// it gave, which are all the decoder has, so the entry always yields bytes
// that match its checksum.
TEST(StreamedIo, ABigFileRewrittenWhileItsPiecesAreReadStillMatchesItsChecksum) {
  test::ScratchDir dir;
  // Repeats short enough that matches reach back across each piece's start.
  Bytes versions[2];
  for (uint32_t seed : {0u, 1u}) {
    const Bytes period = test::RandomBytes(3000, seed + 7);
    while (versions[seed].size() < (4u << 20)) {
      versions[seed].insert(versions[seed].end(), period.begin(), period.end());
    }
  }
  const std::string path = dir / "src/big.bin";
  test::WriteFile(path, versions[0]);
  std::atomic<bool> packing{true};
  std::thread rewriter([&] {
    for (size_t turn = 1; packing; ++turn) {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      const Bytes& bytes = versions[turn % 2];
      file.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    }
  });
  for (int run = 0; run < 6; ++run) {
    PackOptions options;
    options.source = dir / "src";
    options.archive = dir / "a.tuk";
    options.level = 1;
    options.threads = 2;
    EXPECT_TRUE(Pack(options).ok());
    ArchiveReader reader;
    Bytes read;
    ASSERT_TRUE(reader.Open(options.archive).ok());
    EXPECT_TRUE(reader.Read(0, read).ok()) << "run " << run;
  }
  packing = false;
  rewriter.join();
}

// Stored entries of 16 MiB and more are copied by the system while a
// second thread checks them: a changed byte must still be caught, and
// leave nothing behind.
TEST(StreamedIo, CheckedSystemCopyCatchesAChangedByte) {
  test::ScratchDir dir;
  const Bytes file = test::RandomBytes((17u << 20) + 5, 9);
  test::WriteFile(dir / "src/deep/huge.bin", file);
  const std::string path = dir / "a.tuk";
  PackSource(dir, path);
  for (const bool changed : {false, true}) {
    if (changed) {
      Bytes archive = test::ReadFile(path);
      archive[kHeaderSize + file.size() - 3] ^= 1;
      test::WriteFile(path, archive);
    }
    const std::string out = dir / (changed ? "changed" : "intact");
    test::MakeDirs(out);
    test::MessageCapture capture;
    TukFile reader(capture.context(MessageSet::WithUnpack));
    reader.LoadIndex(path.c_str());
    reader.checkChecksums = true;
    const bool extracted = reader.Extract(0, out.c_str()) != nullptr;
    EXPECT_EQ(extracted, !changed);
    if (changed) {
      EXPECT_NE(capture.Text().find("ERROR! Checksum mismatch: p/deep/huge.bin\n"),
                std::string::npos);
      EXPECT_FALSE(fs::exists(out + "/p"));
    } else {
      EXPECT_EQ(test::ReadFile(out + "/p/deep/huge.bin"), file);
    }
  }
}

TEST(StreamedIo, BigEntriesRoundTripInBothModes) {
  test::ScratchDir dir;
  const Bytes file = BigFile(3);
  test::WriteFile(dir / "src/a/big.bin", file);
  test::WriteFile(dir / "src/small.txt", test::BytesOf("small"));
  for (int level : {0, 1}) {
    const std::string path = dir / ("a" + std::to_string(level) + ".tuk");
    PackSource(dir, path, level);
    TukFile reader;
    reader.LoadIndex(path.c_str());
    reader.checkChecksums = true;
    const std::string out = dir / ("out" + std::to_string(level));
    test::MakeDirs(out);
    EXPECT_EQ(reader.ExtractAll(out.c_str()), 0u);
    EXPECT_EQ(test::ReadFile(out + "/p/a/big.bin"), file) << level;
    // The legacy call still returns the whole entry in memory.
    const uint8_t* bytes = reader.ExtractByName("p/a/big.bin", nullptr);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(Bytes(bytes, bytes + file.size()), file) << level;
  }
}

}  // namespace
}  // namespace tuk
