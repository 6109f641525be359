// The payload encoder: exact bytes of stored and segmented payloads, the
// literal-count header, and that every segmented payload decodes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/legacy/decompression.h"
#include "archive/format/layout.h"
#include "archive/legacy/tuk_file.h"
#include "codec/decoder.h"
#include "codec/literal_runs.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

// Bytes written in front of the payload, so the entry's offset is not 0.
constexpr uint32_t kLead = 156;

struct StoredPayload {
  Bytes payload;     // what the encoder wrote behind the lead
  Entry entry;  // the entry it appended
  uint32_t entryCount = 0;
};

// Stores content as one payload through a TukFile writing to a real file.
StoredPayload Store(const test::ScratchDir& dir, uint32_t mode,
                    const Bytes& content, const std::string& path = "source/a/b.txt",
                    uint32_t basePathLength = 7) {
  const std::string file = dir / "payload.bin";
  StoredPayload result;
  {
    TukFile archive;
    archive.mode = mode;
    archive.basePathLength = basePathLength;
    EXPECT_TRUE(archive.tukFileStream.Open(file.c_str(), platform::File::Mode::Write));
    const Bytes lead(kLead, 0xEE);
    EXPECT_TRUE(archive.tukFileStream.Write(lead.data(), lead.size()));
    EXPECT_TRUE(archive.GrowRawBuffer(content.size() + 512));
    if (!content.empty()) std::memcpy(archive.rawBuffer.get(), content.data(), content.size());
    archive.currentSize = static_cast<uint32_t>(content.size());
    EXPECT_TRUE(archive.StoreFilePayload(archive.currentSize, path.c_str()).ok());
    EXPECT_EQ(archive.tukFileStream.Tell(),
              static_cast<int64_t>(kLead + archive.entries[0].storedSize));
    EXPECT_TRUE(archive.tukFileStream.Close());
    result.entryCount = archive.entries.size();
    result.entry = archive.entries[0];
  }
  const Bytes written = test::ReadFile(file);
  result.payload.assign(written.begin() + kLead, written.end());
  return result;
}

Bytes Decode(const Bytes& payload, uint32_t size) {
  // Room beyond the size: the decoder may write scratch bytes there.
  Bytes output(size + 64, 0);
  const uint32_t got = Decompression(payload.data(), static_cast<uint32_t>(payload.size()),
                                     output.data(), static_cast<uint32_t>(output.size()));
  output.resize(got);
  return output;
}

TEST(PayloadEncoder, EmptyFileInBothModes) {
  test::ScratchDir dir;
  const StoredPayload stored = Store(dir, kModeStored, {});
  EXPECT_TRUE(stored.payload.empty());
  EXPECT_EQ(stored.entryCount, 1u);  // the entry is appended all the same
  EXPECT_EQ(stored.entry.storedSize, 0u);
  EXPECT_EQ(stored.entry.size, 0u);
  EXPECT_EQ(stored.entry.offset, kLead);
  EXPECT_EQ(stored.entry.name, "a/b.txt");
  EXPECT_EQ(stored.entry.name.size(), 7u);

  const StoredPayload segmented = Store(dir, kModeSegmented, {});
  const Bytes expected = {0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x11, 0x00, 0x00};
  EXPECT_EQ(segmented.payload, expected);
  EXPECT_EQ(segmented.entry.storedSize, 20u);
  EXPECT_EQ(segmented.entry.size, 0u);
  EXPECT_EQ(segmented.entry.offset, kLead);
  EXPECT_EQ(Decode(segmented.payload, 0), Bytes{});
}

TEST(PayloadEncoder, SmallFilesHaveExactPayloads) {
  test::ScratchDir dir;
  const StoredPayload one = Store(dir, kModeSegmented, {0x41});
  const Bytes expected = {0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x41, 0x11, 0x00, 0x00};
  EXPECT_EQ(one.payload, expected);
  EXPECT_EQ(one.entry.storedSize, 21u);
  EXPECT_EQ(one.entry.size, 1u);

  const StoredPayload abc = Store(dir, kModeSegmented, test::BytesOf("abc"));
  const Bytes abcExpected = {1, 0, 0, 0, 7, 0, 0, 0, 3, 0,   0,   0,   0,
                             0, 0, 0, 0x14, 'a', 'b', 'c', 0x11, 0x00, 0x00};
  EXPECT_EQ(abc.payload, abcExpected);

  // Mode 0 stores the bytes as they are.
  const Bytes content = test::RandomBytes(1000, 7);
  const StoredPayload plain = Store(dir, kModeStored, content);
  EXPECT_EQ(plain.payload, content);
  EXPECT_EQ(plain.entry.storedSize, 1000u);
  EXPECT_EQ(plain.entry.size, 1000u);
  EXPECT_EQ(plain.entry.offset, kLead);
}

TEST(PayloadEncoder, LiteralCountLengthChangesAt239) {
  test::ScratchDir dir;
  const StoredPayload short238 = Store(dir, kModeSegmented, test::RandomBytes(238, 1));
  EXPECT_EQ(short238.entry.storedSize, 258u);
  EXPECT_EQ(short238.payload.size(), 258u);
  EXPECT_EQ(short238.payload[16], 255);  // one count byte: 238 + 17

  const StoredPayload long239 = Store(dir, kModeSegmented, test::RandomBytes(239, 2));
  EXPECT_EQ(long239.entry.storedSize, 260u);
  EXPECT_EQ(long239.payload[16], 0);
  EXPECT_EQ(long239.payload[17], 221);
  EXPECT_EQ(test::GetU32(long239.payload, 4), 244u);  // 2 + 239 + 3
}

TEST(PayloadEncoder, SegmentBoundaries) {
  test::ScratchDir dir;
  const Bytes full = test::RandomBytes(32768, 3);
  const StoredPayload one = Store(dir, kModeSegmented, full);
  EXPECT_EQ(one.entry.storedSize, 32917u);
  ASSERT_EQ(one.payload.size(), 32917u);
  EXPECT_EQ(test::GetU32(one.payload, 0), 1u);
  EXPECT_EQ(test::GetU32(one.payload, 4), 32901u);
  EXPECT_EQ(test::GetU32(one.payload, 8), 32768u);
  EXPECT_EQ(test::GetU32(one.payload, 12), 0u);
  // The stream: 0, 128 zeros, 110, the bytes, the end marker.
  EXPECT_EQ(one.payload[16], 0);
  for (size_t i = 17; i < 17 + 128; ++i) ASSERT_EQ(one.payload[i], 0) << i;
  EXPECT_EQ(one.payload[145], 110);
  EXPECT_TRUE(std::equal(full.begin(), full.end(), one.payload.begin() + 146));
  EXPECT_EQ(one.payload[32914], 0x11);
  EXPECT_EQ(one.payload[32915], 0x00);
  EXPECT_EQ(one.payload[32916], 0x00);

  const Bytes more = test::RandomBytes(32769, 4);
  const StoredPayload two = Store(dir, kModeSegmented, more);
  EXPECT_EQ(two.entry.storedSize, 32934u);
  EXPECT_EQ(two.entry.size, 32769u);
  ASSERT_EQ(two.payload.size(), 32934u);
  EXPECT_EQ(test::GetU32(two.payload, 0), 2u);
  EXPECT_EQ(test::GetU32(two.payload, 4), 32901u);
  EXPECT_EQ(test::GetU32(two.payload, 8), 32768u);
  EXPECT_EQ(test::GetU32(two.payload, 12), 0u);
  EXPECT_EQ(test::GetU32(two.payload, 16), 5u);
  EXPECT_EQ(test::GetU32(two.payload, 20), 1u);
  EXPECT_EQ(test::GetU32(two.payload, 24), 32901u);
  const Bytes secondStream(two.payload.end() - 5, two.payload.end());
  EXPECT_EQ(secondStream, (Bytes{0x12, more.back(), 0x11, 0x00, 0x00}));
}

TEST(PayloadEncoder, LiteralRunHeaderTable) {
  std::vector<uint8_t> out(200);
  struct Case {
    uint32_t count;
    Bytes bytes;
  };
  Bytes longest(130, 0);
  longest.back() = 110;
  const std::vector<Case> cases = {
      {0, {17}},      {1, {18}},        {238, {255}}, {239, {0, 221}},
      {273, {0, 255}}, {274, {0, 0, 1}}, {32768, longest},
  };
  for (const Case& c : cases) {
    // A marker around the header shows it goes where the position says.
    uint32_t position = 5;
    std::fill(out.begin(), out.end(), 0xAB);
    WriteLiteralRunHeader(out.data(), position, c.count);
    EXPECT_EQ(position, 5 + c.bytes.size()) << c.count;
    const Bytes written(out.begin() + 5, out.begin() + 5 + c.bytes.size());
    EXPECT_EQ(written, c.bytes) << c.count;
    EXPECT_EQ(out[4], 0xAB) << c.count;

    // The decoder's reader takes every header back as the same count.
    uint32_t readAt = 0;
    EXPECT_EQ(ReadFirstLiteralCount(written.data(),
                                    static_cast<uint32_t>(written.size()), readAt),
              static_cast<int64_t>(c.count));
    EXPECT_EQ(readAt, written.size());
  }
}

TEST(PayloadEncoder, SegmentedPayloadsDecodeBack) {
  test::ScratchDir dir;
  std::vector<uint32_t> sizes = {1,     2,     17,    238,   239,   240,   273,
                                 274,   275,   32767, 32768, 32769, 65535, 65536,
                                 65537, 98304, 98305, 200000};
  std::mt19937 generator(20240611);
  for (int i = 0; i < 12; ++i) {
    const uint32_t segments = 1 + generator() % 6;
    const int32_t delta = static_cast<int32_t>(generator() % 601) - 300;
    sizes.push_back(static_cast<uint32_t>(
        static_cast<int32_t>(segments * kSegmentSize) + delta));
  }
  for (uint32_t size : sizes) {
    const Bytes content = test::RandomBytes(size, size);
    const StoredPayload stored = Store(dir, kModeSegmented, content);
    const uint32_t count = (size + kSegmentSize - 1) / kSegmentSize;
    ASSERT_EQ(test::GetU32(stored.payload, 0), count) << size;
    uint64_t streams = 0;
    for (uint32_t s = 0; s < count; ++s) {
      const uint32_t length =
          s + 1 < count ? kSegmentSize : size - s * kSegmentSize;
      EXPECT_EQ(test::GetU32(stored.payload, 8 + 12 * s), length) << size;
      EXPECT_EQ(test::GetU32(stored.payload, 12 + 12 * s), streams) << size;
      streams += test::GetU32(stored.payload, 4 + 12 * s);
    }
    EXPECT_EQ(stored.entry.storedSize, 4 + 12 * count + streams) << size;
    EXPECT_EQ(stored.entry.size, size);
    EXPECT_EQ(Decode(stored.payload, size), content) << size;
  }
}

TEST(PayloadEncoder, EntryNameDropsTheBasePath) {
  test::ScratchDir dir;
  const StoredPayload stored =
      Store(dir, kModeStored, test::BytesOf("x"), "source/a/b.txt", 7);
  EXPECT_EQ(stored.entry.name, "a/b.txt");
  EXPECT_EQ(stored.entry.name.size(), 7u);

  // A rest that does not fit an entry name is refused, and no entry appended.
  TukFile archive;
  archive.basePathLength = 4;
  const std::string file = dir / "long.bin";
  ASSERT_TRUE(archive.tukFileStream.Open(file.c_str(), platform::File::Mode::Write));
  archive.currentSize = 0;
  const std::string fits = "src/" + std::string(259, 'n');
  const std::string tooLong = "src/" + std::string(260, 'n');
  EXPECT_EQ(archive.StoreFilePayload(0, tooLong.c_str()).code(), Errc::kInvalidArgument);
  EXPECT_EQ(archive.entries.size(), 0u);
  EXPECT_TRUE(archive.StoreFilePayload(0, fits.c_str()).ok());
  EXPECT_EQ(archive.entries.size(), 1u);
}

}  // namespace
}  // namespace tuk
