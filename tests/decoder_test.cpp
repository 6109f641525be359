// The payload decoder: every instruction class, the departures from LZO1X
// that the format makes, and every way a payload can be refused.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "archive/legacy/decompression.h"
#include "archive/legacy/messages.h"
#include "codec/decoder.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

using test::Bytes;

Bytes Stream(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A literal count as the encoder writes it.
Bytes LiteralCount(uint32_t literals) {
  if (literals < 239) return Stream({static_cast<int>(literals + 17)});
  Bytes out{0};
  uint32_t rest = literals - 18;
  while (rest > 255) {
    out.push_back(0);
    rest -= 255;
  }
  out.push_back(static_cast<uint8_t>(rest));
  return out;
}

const Bytes kEnd = Stream({17, 0, 0});

struct Decoded {
  Bytes bytes;
  DecodeError error;
};

Decoded Decode(const std::vector<Bytes>& streams, uint32_t capacity = 1 << 20) {
  const Bytes payload = test::SegmentedPayload(
      streams, std::vector<uint32_t>(streams.size(), 0));
  Bytes output(capacity);
  const DecodeOutcome outcome = DecodePayload(
      payload.data(), static_cast<uint32_t>(payload.size()), output.data(), capacity);
  output.resize(outcome.length);
  return {output, outcome.error};
}

Bytes Repeat(const std::string& pattern, size_t length) {
  Bytes out;
  while (out.size() < length) out.push_back(static_cast<uint8_t>(pattern[out.size() % pattern.size()]));
  return out;
}

TEST(Decoder, LiteralRunsOfEveryCountLength) {
  for (uint32_t literals : {0u, 1u, 5u, 238u, 239u, 273u, 274u, 32768u}) {
    const Bytes data = test::RandomBytes(literals, literals);
    const Decoded d = Decode({Concat({LiteralCount(literals), data, kEnd})});
    EXPECT_EQ(d.error, DecodeError::None) << literals;
    EXPECT_EQ(d.bytes, data) << literals;
  }
  EXPECT_EQ(LiteralCount(274), Stream({0, 0, 1}));
  // The opening count may also be read on its own.
  const Bytes longCount = Stream({0, 0, 0, 7});
  uint32_t position = 0;
  EXPECT_EQ(ReadFirstLiteralCount(longCount.data(), 4, position), 18 + 510 + 7);
  EXPECT_EQ(position, 4u);
  position = 0;
  EXPECT_EQ(ReadFirstLiteralCount(longCount.data(), 3, position), kCountOverrun);
}

TEST(Decoder, ShortMatchRepeatsItsSource) {
  // One literal, then M2 of length 8 at distance 1, then the end.
  const Decoded d = Decode({Stream({18, 65, 224, 0, 17, 0, 0})});
  EXPECT_EQ(d.error, DecodeError::None);
  EXPECT_EQ(d.bytes, Bytes(9, 65));

  // M2 at a longer distance, with two trailing literals in its low bits.
  // Distance ((b >> 2) & 7) + 8 * B1 + 1 = 3 + 8 + 1 = 12, length 3.
  const Bytes prefix = test::RandomBytes(20, 1);
  const Decoded far = Decode({Concat({LiteralCount(20), prefix,
                                      Stream({(2 << 5) | (3 << 2) | 2, 1}),
                                      Stream({'x', 'y'}), kEnd})});
  ASSERT_EQ(far.error, DecodeError::None);
  Bytes expected = prefix;
  for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 12]);
  expected.push_back('x');
  expected.push_back('y');
  EXPECT_EQ(far.bytes, expected);
}

TEST(Decoder, M1MeansTwoOrThreeBytesDependingOnTheLiteralsBeforeIt) {
  // After 3 literals: length 2, distance (b >> 2) + 4 * B1 + 1.
  const Decoded shortForm =
      Decode({Concat({Stream({20, 'a', 'b', 'c', (2 << 2), 0}), kEnd})});
  ASSERT_EQ(shortForm.error, DecodeError::None);
  EXPECT_EQ(shortForm.bytes, test::BytesOf("abcab"));

  // After a run of 4 or more: length 3, distance (b >> 2) + 4 * B1 + 2049.
  const Bytes run = test::RandomBytes(2100, 2);
  const Decoded longForm =
      Decode({Concat({LiteralCount(2100), run, Stream({1 << 2, 1}), kEnd})});
  ASSERT_EQ(longForm.error, DecodeError::None);
  Bytes expected = run;
  for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 2054]);
  EXPECT_EQ(longForm.bytes, expected);

  // The same after a literal count from a match's follow-up byte (c + 3).
  // M2 length 3 at distance 1, then c = 1 gives 4 literals, then M1 long.
  const Decoded afterMatch = Decode({Concat(
      {LiteralCount(2100), run, Stream({(2 << 5), 0, 1, 'w', 'x', 'y', 'z'}),
       Stream({0, 0}), kEnd})});
  ASSERT_EQ(afterMatch.error, DecodeError::None);
  expected = run;
  for (int i = 0; i < 3; ++i) expected.push_back(run.back());
  for (char c : std::string("wxyz")) expected.push_back(static_cast<uint8_t>(c));
  for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 2049]);
  EXPECT_EQ(afterMatch.bytes, expected);
}

TEST(Decoder, ExtendedLengthsAndOverlappingCopies) {
  // M3 with length bits 0: 33 + 255 * 2 + 5 = 548 bytes at distance 3.
  const Decoded m3 = Decode({Concat(
      {Stream({20, 'a', 'b', 'c', 32, 0, 0, 5, (2 << 2), 0}), kEnd})});
  ASSERT_EQ(m3.error, DecodeError::None);
  EXPECT_EQ(m3.bytes, Repeat("abc", 3 + 548));

  // M3 short form with a distance needing both bytes: (D0 >> 2) + 64 * D1 + 1.
  const Bytes run = test::RandomBytes(20000, 3);
  const Decoded m3far = Decode({Concat(
      {LiteralCount(20000), run, Stream({32 | 5, (7 << 2) | 1, 2, 'q'}), kEnd})});
  ASSERT_EQ(m3far.error, DecodeError::None);
  Bytes expected = run;
  for (int i = 0; i < 7; ++i) expected.push_back(expected[expected.size() - 136]);
  expected.push_back('q');
  EXPECT_EQ(m3far.bytes, expected);

  // M4: (D0 >> 2) + 64 * D1 + 16384; length bits 0 extend to 9 + 255 + 1.
  const Decoded m4 = Decode({Concat(
      {LiteralCount(20000), run, Stream({16, 0, 1, (3 << 2), 1}), kEnd})});
  ASSERT_EQ(m4.error, DecodeError::None);
  expected = run;
  for (int i = 0; i < 265; ++i) {
    expected.push_back(expected[expected.size() - (16384 + 3 + 64)]);
  }
  EXPECT_EQ(m4.bytes, expected);

  // 17 not followed by 0, 0 is an M4 match of length 3, not the end.
  const Decoded notEnd = Decode({Concat(
      {LiteralCount(20000), run, Stream({17, 4, 0}), kEnd})});
  ASSERT_EQ(notEnd.error, DecodeError::None);
  ASSERT_EQ(notEnd.bytes.size(), 20003u);
  EXPECT_EQ(notEnd.bytes[20000], run[20000 - 16385]);
}

TEST(Decoder, SegmentsRunOnAndMayReachBack) {
  // The second segment opens with no literals (a first byte of 1 to 16)
  // and copies from the first segment's output.
  const Decoded d = Decode({Concat({Stream({20, 'x', 'y', 'z'}), kEnd}),
                            Concat({Stream({5, (1 << 2), 0}), kEnd})});
  ASSERT_EQ(d.error, DecodeError::None);
  EXPECT_EQ(d.bytes, test::BytesOf("xyzyz"));

  // An empty file's payload decodes to nothing.
  EXPECT_EQ(Decode({Stream({17, 17, 0, 0})}).bytes.size(), 0u);
  // So does a payload of no segments.
  const Bytes none = Stream({0, 0, 0, 0});
  uint8_t out[4];
  EXPECT_EQ(Decompression(none.data(), 4, out, sizeof out), 0u);
}

TEST(Decoder, RefusesWhatCannotBeDecodedSafely) {
  const Bytes run = test::RandomBytes(100, 4);
  for (int reserved = 24; reserved <= 31; ++reserved) {
    EXPECT_EQ(Decode({Concat({LiteralCount(100), run, Stream({reserved, 0, 0}), kEnd})}).error,
              DecodeError::ReservedInstruction);
  }
  // A match reaching before the output's start.
  EXPECT_EQ(Decode({Concat({Stream({18, 'a', (7 << 5) | (3 << 2), 0}), kEnd})}).error,
            DecodeError::LookBehindOverrun);
  // No end marker before the payload ends.
  EXPECT_EQ(Decode({Concat({LiteralCount(100), run})}).error,
            DecodeError::InputOverrun);
  // A literal run longer than the payload.
  EXPECT_EQ(Decode({Stream({0, 0, 0, 0, 0, 0, 0, 0, 0, 9})}).error,
            DecodeError::InputOverrun);
  // Output larger than the buffer, by literals and by a match.
  EXPECT_EQ(Decode({Concat({LiteralCount(100), run, kEnd})}, 99).error,
            DecodeError::OutputOverrun);
  EXPECT_EQ(Decode({Concat({Stream({18, 'a', 32, 0, 0, 200, 0, 0}), kEnd})}, 300).error,
            DecodeError::OutputOverrun);
  // An exact fit is fine.
  EXPECT_EQ(Decode({Concat({LiteralCount(100), run, kEnd})}, 100).bytes, run);

  // Segment table or stream offsets past the payload.
  Bytes payload = test::SegmentedPayload({Concat({LiteralCount(1), Stream({'a'}), kEnd})}, {1});
  test::Bytes lying = payload;
  lying[0] = 200;  // 200 segments claimed
  uint8_t out[16];
  EXPECT_EQ(DecodePayload(lying.data(), static_cast<uint32_t>(lying.size()), out, 16).error,
            DecodeError::InputOverrun);
  lying = payload;
  lying[12] = 50;  // the stream's offset
  EXPECT_EQ(DecodePayload(lying.data(), static_cast<uint32_t>(lying.size()), out, 16).error,
            DecodeError::InputOverrun);
  EXPECT_EQ(DecodePayload(payload.data(), 3, out, 16).error, DecodeError::InputOverrun);
}

TEST(Decoder, ReportsFaultsOnlyInTheUnpackMessageSet) {
  const Bytes lookBehind = test::SegmentedPayload(
      {Concat({Stream({18, 'a', (7 << 5) | (3 << 2), 0}), kEnd})}, {0});
  const Bytes reserved = test::SegmentedPayload({Stream({17, 24, 0, 0})}, {0});
  uint8_t out[64];
  for (MessageSet set : {MessageSet::Common, MessageSet::WithUnpack}) {
    test::MessageCapture capture;
    EXPECT_EQ(Decompression(lookBehind.data(), static_cast<uint32_t>(lookBehind.size()),
                            out, sizeof out, capture.messages(set)), 0u);
    EXPECT_EQ(Decompression(reserved.data(), static_cast<uint32_t>(reserved.size()),
                            out, sizeof out, capture.messages(set)), 0u);
    EXPECT_EQ(capture.Text(), set == MessageSet::WithUnpack
                                  ? "ERROR! CRASH  Decompression()!\n"
                                  : "");
  }
}

}  // namespace
}  // namespace tuk
