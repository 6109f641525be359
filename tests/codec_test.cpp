// The payload encoder at every level: each payload decodes back to its
// input, compressible inputs shrink, and a segment's bytes do not depend on
// what the encoding context did before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"

namespace tuk {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Random bytes, except that [at, at + length) repeats the bytes `distance`
// earlier, so the only match there is at exactly that distance.
Bytes RandomWithCopy(size_t size, size_t distance, size_t at, size_t length) {
  Bytes bytes = Random(size, static_cast<uint32_t>(distance));
  for (size_t i = at; i < at + length; ++i) bytes[i] = bytes[i - distance];
  return bytes;
}

// Runs of random lengths (1 to 300) of random bytes.
Bytes Runs(size_t size) {
  std::mt19937 random(7);
  Bytes bytes;
  while (bytes.size() < size) {
    bytes.insert(bytes.end(), 1 + random() % 300, static_cast<uint8_t>(random()));
  }
  bytes.resize(size);
  return bytes;
}

// Words from a small vocabulary: many short matches and short literal runs.
Bytes Text(size_t size) {
  static const char* const kWords[] = {"the ", "archive ", "segment ", "of ", "a ",
                                       "match\n", "literal ", "stream, ", "byte ", "tuk "};
  std::mt19937 random(11);
  std::string text;
  while (text.size() < size) {
    text += kWords[random() % 10];
    if (random() % 7 == 0) text += std::to_string(random() % 1000);
  }
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

// Random bytes where every 10th position starts three bytes copied from
// 2500 back: the short form for three bytes far back, after 4+ literals.
Bytes ShortCopiesFarBack(size_t size) {
  Bytes bytes = Random(size, 17);
  for (size_t i = 3000; i + 3 <= size; i += 10) {
    for (size_t k = 0; k < 3; ++k) bytes[i + k] = bytes[i + k - 2500];
  }
  return bytes;
}

struct Input {
  const char* name;
  Bytes bytes;
  bool compressible;
};

std::vector<Input> Inputs() {
  Bytes literalsThenRepeat = Random(3000, 5);
  const Bytes again = literalsThenRepeat;
  literalsThenRepeat.insert(literalsThenRepeat.end(), again.begin(), again.end());
  Bytes repeatedBlock;
  const Bytes block = Random(5000, 3);
  for (int i = 0; i < 20; ++i) {
    repeatedBlock.insert(repeatedBlock.end(), block.begin(), block.end());
  }
  return {
      {"empty", {}, false},
      {"one_byte", {42}, false},
      {"zeros_across_segments", Bytes(100000, 0), true},
      {"runs", Runs(90000), true},
      {"long_literal_run_then_repeat", literalsThenRepeat, true},
      {"long_matches", repeatedBlock, true},
      {"incompressible", Random(70000, 1), false},
      {"distance_32767_across_boundary", RandomWithCopy(40000, 32767, 32767, 1000), true},
      {"distance_16384", RandomWithCopy(20000, 16384, 16384, 600), true},
      {"distance_16385", RandomWithCopy(20000, 16385, 16385, 600), true},
      {"text_32768", Text(32768), true},
      {"text_32769", Text(32769), true},
      {"text_several_segments", Text(150000), true},
      {"text_across_a_run", Text(600000), true},
      {"three_bytes_far_back", ShortCopiesFarBack(40000), false},
      // Around the 16 bytes before a run's end that level 1 leaves to
      // literals: its hash reads 8 bytes and its literal copy 16.
      {"text_15", Text(15), false},
      {"text_16", Text(16), false},
      {"text_17", Text(17), false},
      {"text_40", Text(40), false},
  };
}

// The instruction forms of the stream format.
enum class Form { kM1Near, kM1Far, kM2, kM3, kM3Extended, kM4, kM4Extended, kLongRun, kCount };

// Adds the forms each segment stream of a well-formed payload uses.
void Census(const Bytes& payload, std::vector<bool>& seen) {
  const auto u32 = [&](size_t at) {
    return payload[at] | payload[at + 1] << 8 | payload[at + 2] << 16 | uint32_t{payload[at + 3]} << 24;
  };
  const auto extended = [&](size_t& at) {  // zeros worth 255, then the final byte
    size_t value = 0;
    while (payload[at] == 0) value += 255, ++at;
    return value + payload[at++];
  };
  const uint32_t count = u32(0);
  for (uint32_t s = 0; s < count; ++s) {
    size_t at = 4 + 12 * size_t{count} + u32(4 + 12 * size_t{s} + 8);
    size_t literals;
    if (payload[at] == 0) {
      ++at;
      literals = 18 + extended(at);
      seen[size_t(Form::kLongRun)] = true;
    } else {
      literals = payload[at] > 17 ? payload[at] - 17 : 0;
      ++at;
    }
    for (at += literals;;) {
      const uint8_t b = payload[at];
      if (b == 17 && payload[at + 1] == 0 && payload[at + 2] == 0) break;
      Form form;
      if (b >= 64) {
        form = Form::kM2;
      } else if (b >= 16) {
        const bool m3 = b >= 32;
        const bool longer = (b & (m3 ? 31 : 7)) == 0;
        form = m3 ? (longer ? Form::kM3Extended : Form::kM3) : (longer ? Form::kM4Extended : Form::kM4);
        ++at;
        if (longer) extended(at);
        --at;  // onto the byte before the two distance bytes
      } else {
        form = literals > 3 ? Form::kM1Far : Form::kM1Near;
      }
      seen[size_t(form)] = true;
      at += (b >= 16 && b < 64) ? 1 : 0;  // M3/M4: now on the first distance byte
      literals = payload[at] & 3;
      at += 2;
      if (literals == 0 && payload[at] < 16) {
        literals = payload[at] == 0 ? (++at, 18 + extended(at)) : payload[at++] + 3;
        if (literals >= 19) seen[size_t(Form::kLongRun)] = true;
      }
      at += literals;
    }
  }
}

TEST(Codec, EveryLevelRoundTripsAndShrinksWhatRepeats) {
  std::vector<bool> seenAtTheTop(size_t(Form::kCount), false);
  std::vector<bool> seenAtLevel1(size_t(Form::kCount), false);
  for (const Input& input : Inputs()) {
    const size_t size = input.bytes.size();
    for (int level = kFastestLevel; level <= kSmallestLevel; ++level) {
      SCOPED_TRACE(std::string(input.name) + " at level " + std::to_string(level));
      const Bytes payload = EncodePayload(input.bytes.data(), size, level);
      if (size == 0) {
        EXPECT_EQ(payload, Bytes({1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 17, 17, 0, 0}));
      }
      // Exactly one spare byte: the decoder must not need more.
      Bytes output(size + 1, 0xA5);
      const DecodeOutcome outcome =
          DecodePayload(payload.data(), static_cast<uint32_t>(payload.size()), output.data(),
                        static_cast<uint32_t>(output.size()));
      ASSERT_EQ(outcome.error, DecodeError::None);
      ASSERT_EQ(outcome.length, size);
      output.resize(size);
      ASSERT_TRUE(output == input.bytes);
      if (input.compressible) {
        EXPECT_LT(payload.size(), size);
      }
      // The archive reader refuses more than 256 output bytes per payload byte.
      EXPECT_LE(size, 256 * payload.size());
      if (level >= 8) Census(payload, seenAtTheTop);
      if (level == 1) Census(payload, seenAtLevel1);
    }
  }
  // Level 1's loop writes every form but the two-byte short ones, which it
  // never chooses.
  for (size_t form = size_t(Form::kM2); form < seenAtLevel1.size(); ++form) {
    EXPECT_TRUE(seenAtLevel1[form]) << "form " << form << " never written at level 1";
  }
  // The parse for the fewest bytes puts every form of the format to use.
  for (size_t form = 0; form < seenAtTheTop.size(); ++form) {
    EXPECT_TRUE(seenAtTheTop[form]) << "form " << form << " never written at levels 8-9";
  }
}

// The streams of a run of `segments` segments of 32 KiB from `start` on,
// back to back.
Bytes EncodeRun(SegmentEncoder& encoder, const Bytes& file, size_t start, size_t segments) {
  Bytes streams;
  Bytes stream(SegmentStreamBound(32768));
  encoder.StartRun(file.data(), start, segments * 32768);
  for (size_t i = 0; i < segments; ++i) {
    const size_t length = encoder.EncodeNext(32768, stream.data());
    streams.insert(streams.end(), stream.begin(), stream.begin() + length);
  }
  return streams;
}

TEST(Codec, RunBytesDoNotDependOnTheContextsPast) {
  const Bytes file = Text(4 * 32768);
  const Bytes other = Random(3 * 32768, 9);
  for (int level = kFastestLevel; level <= kSmallestLevel; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    SegmentEncoder freshEncoder(level);
    const Bytes fresh = EncodeRun(freshEncoder, file, 2 * 32768, 2);
    // Another file's run, and a run of this one left after one segment.
    SegmentEncoder usedEncoder(level);
    EncodeRun(usedEncoder, other, 0, 3);
    EncodeRun(usedEncoder, file, 32768, 1);
    EXPECT_TRUE(fresh == EncodeRun(usedEncoder, file, 2 * 32768, 2));
  }
}

}  // namespace
}  // namespace tuk

namespace tuk {
namespace {

// A file decodes segment by segment in a buffer of 32 KiB of window and one
// segment, as a stream with bounded memory would: matches reaching back
// into earlier segments find their bytes in the window.
TEST(Codec, SegmentsDecodeOneByOneOverASlidingWindow) {
  Bytes file = RandomWithCopy(200000, 32767, 90000, 20000);
  for (size_t i = 120000; i < 200000; ++i) file[i] = file[i - 40000 + (i % 7)];
  for (int level : {1, 9}) {
    const Bytes payload = EncodePayload(file.data(), file.size(), level);
    const uint32_t count =
        payload[0] | payload[1] << 8 | payload[2] << 16 | uint32_t{payload[3]} << 24;
    const size_t area = 4 + 12 * size_t{count};
    constexpr uint32_t kWindow = 32768;
    Bytes buffer(2 * kWindow + 1);
    uint32_t window = 0;
    size_t decoded = 0;
    for (uint32_t s = 0; s < count; ++s) {
      const uint8_t* record = payload.data() + 4 + 12 * size_t{s};
      const size_t start =
          area + (record[8] | record[9] << 8 | record[10] << 16 | uint32_t{record[11]} << 24);
      const DecodeOutcome out =
          DecodeSegment(payload.data() + start, static_cast<uint32_t>(payload.size() - start),
                        buffer.data(), window, static_cast<uint32_t>(buffer.size()));
      ASSERT_EQ(out.error, DecodeError::None) << level << " segment " << s;
      ASSERT_TRUE(std::equal(buffer.begin() + window, buffer.begin() + window + out.length,
                             file.begin() + decoded))
          << level << " segment " << s;
      decoded += out.length;
      // Keep the last 32 KiB as the next segment's window.
      const uint32_t end = window + out.length;
      const uint32_t keep = end < kWindow ? end : kWindow;
      std::copy(buffer.begin() + (end - keep), buffer.begin() + end, buffer.begin());
      window = keep;
    }
    EXPECT_EQ(decoded, file.size()) << level;
  }
}

}  // namespace
}  // namespace tuk
