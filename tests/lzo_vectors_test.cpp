// Decodes payloads made by liblzo2's LZO1X compressors (see
// tools/lzo_vectors/) and compares the result with the original files.
// Every buffer is a heap block of the exact size, so a sanitizer build
// reports any read or write past its end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/legacy/decompression.h"
#include "codec/decoder.h"

namespace {

const std::string kFixtureDir = TUK_SOURCE_DIR "/tests/fixtures/lzo/";

struct Vector {
  std::string original;
  std::string payload;
};

// Each original has a payload from lzo1x_1 and one from lzo1x_999;
// text.txt also has one whose last segment refers back into the one
// before it.
std::vector<Vector> AllVectors() {
  const char* const originals[] = {
      "text.txt",  "binary.bin",       "run.bin",          "tiny.txt",
      "one.bin",   "first_run_18.bin", "first_run_19.bin",
  };
  std::vector<Vector> vectors;
  for (const char* name : originals) {
    vectors.push_back({name, std::string(name) + ".lzo1.payload"});
    vectors.push_back({name, std::string(name) + ".lzo999.payload"});
  }
  vectors.push_back({"text.txt", "text.txt.lzo999dict.payload"});
  return vectors;
}

std::vector<uint8_t> ReadFixture(const std::string& name) {
  std::ifstream in(kFixtureDir + name, std::ios::binary);
  EXPECT_TRUE(in) << "missing fixture " << kFixtureDir + name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                              std::istreambuf_iterator<char>());
}

uint32_t Size32(const std::vector<uint8_t>& v) {
  return static_cast<uint32_t>(v.size());
}

TEST(LzoVectorsTest, EveryPayloadDecodesToItsOriginal) {
  for (const Vector& v : AllVectors()) {
    SCOPED_TRACE(v.payload);
    const std::vector<uint8_t> expected = ReadFixture(v.original);
    const std::vector<uint8_t> payload = ReadFixture(v.payload);
    ASSERT_FALSE(expected.empty());
    ASSERT_FALSE(payload.empty());

    // The buffer extraction uses: the entry's size plus one byte.
    std::vector<uint8_t> output(expected.size() + 1);
    const uint32_t written = tuk::Decompression(
        payload.data(), Size32(payload), output.data(), Size32(output));
    ASSERT_EQ(written, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), output.begin()));
  }
}

TEST(LzoVectorsTest, OutputBufferBoundsAreKept) {
  for (const Vector& v : AllVectors()) {
    SCOPED_TRACE(v.payload);
    const std::vector<uint8_t> expected = ReadFixture(v.original);
    const std::vector<uint8_t> payload = ReadFixture(v.payload);
    ASSERT_FALSE(expected.empty());

    // No slack at all: the fast copies must fall back near the end.
    std::vector<uint8_t> exact(expected.size());
    const tuk::DecodeOutcome fits = tuk::DecodePayload(
        payload.data(), Size32(payload), exact.data(), Size32(exact));
    EXPECT_EQ(fits.error, tuk::DecodeError::None);
    ASSERT_EQ(fits.length, expected.size());
    EXPECT_EQ(exact, expected);

    // One byte short: refused, and what was written is still right.
    std::vector<uint8_t> small(expected.size() - 1);
    const tuk::DecodeOutcome tooSmall = tuk::DecodePayload(
        payload.data(), Size32(payload), small.data(), Size32(small));
    EXPECT_EQ(tooSmall.error, tuk::DecodeError::OutputOverrun);
    ASSERT_LE(tooSmall.length, small.size());
    EXPECT_TRUE(std::equal(small.begin(), small.begin() + tooSmall.length,
                           expected.begin()));
    EXPECT_EQ(tuk::Decompression(payload.data(), Size32(payload), small.data(),
                                 Size32(small)),
              0u);
  }
}

// Every stream ends with its end marker as its last bytes, so any cut
// through a payload leaves an instruction or the table incomplete.
TEST(LzoVectorsTest, TruncatedPayloadsAreInputOverruns) {
  for (const Vector& v : AllVectors()) {
    SCOPED_TRACE(v.payload);
    const std::vector<uint8_t> expected = ReadFixture(v.original);
    const std::vector<uint8_t> payload = ReadFixture(v.payload);
    std::vector<uint8_t> output(expected.size() + 1);

    // Every cut near both ends, a spread of cuts in between.
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut < payload.size(); ++cut) {
      if (cut < 96 || payload.size() - cut <= 96 || cut % 257 == 0) {
        cuts.push_back(cut);
      }
    }
    for (const size_t cut : cuts) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      const std::vector<uint8_t> prefix(payload.begin(), payload.begin() + cut);
      const tuk::DecodeOutcome outcome =
          tuk::DecodePayload(prefix.data(), Size32(prefix), output.data(),
                             Size32(output));
      ASSERT_EQ(outcome.error, tuk::DecodeError::InputOverrun);
      ASSERT_LE(outcome.length, expected.size());
      ASSERT_TRUE(std::equal(output.begin(), output.begin() + outcome.length,
                             expected.begin()));
    }
  }
}

}  // namespace
