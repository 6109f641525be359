// Arbitrary files through the payload encoder come back unchanged through
// the decoder, at every level, and each segment's stream is what a fresh
// encoder writes for it.
//
// The first input byte chooses the level (its value modulo 10; 0: every
// level). The rest becomes the file as fuzz_roundtrip makes it: with the
// low bit of its first byte clear the rest as it is, with it set the rest
// repeated up to a length from the next three bytes (below 256 KiB).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/segment_format.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckLevel(const std::vector<uint8_t>& file, int level) {
  const size_t size = file.size();
  const std::vector<uint8_t> payload = tuk::EncodePayload(file.data(), size, level);
  // The archive reader refuses more than 256 output bytes per payload byte.
  TUK_FUZZ_CHECK(size <= 256 * payload.size());

  // Exactly one spare byte, as extraction sizes its buffer.
  std::vector<uint8_t> output(size + 1);
  const tuk::DecodeOutcome outcome =
      tuk::DecodePayload(payload.data(), static_cast<uint32_t>(payload.size()), output.data(),
                         static_cast<uint32_t>(output.size()));
  TUK_FUZZ_CHECK(outcome.error == tuk::DecodeError::None);
  TUK_FUZZ_CHECK(outcome.length == size);
  TUK_FUZZ_CHECK(size == 0 || std::memcmp(output.data(), file.data(), size) == 0);

  // The last run again, by a fresh context: the same bytes.
  if (size == 0) return;
  const size_t count = tuk::ReadU32LE(payload.data());
  const size_t first = (count - 1) / tuk::kRunSegments * tuk::kRunSegments;
  tuk::SegmentEncoder fresh(level);
  fresh.StartRun(file.data(), first * tuk::kSegmentSize, size - first * tuk::kSegmentSize);
  std::vector<uint8_t> stream(tuk::SegmentStreamBound(tuk::kSegmentSize));
  for (size_t i = first; i < count; ++i) {
    const size_t start = i * tuk::kSegmentSize;
    const size_t segment = std::min<size_t>(tuk::kSegmentSize, size - start);
    const size_t length = fresh.EncodeNext(segment, stream.data());
    const uint8_t* record = payload.data() + 4 + i * tuk::kSegmentInfoSize;
    TUK_FUZZ_CHECK(length == tuk::ReadU32LE(record));
    TUK_FUZZ_CHECK(length <= tuk::SegmentStreamBound(segment));
    const size_t at = 4 + count * tuk::kSegmentInfoSize + tuk::ReadU32LE(record + 8);
    TUK_FUZZ_CHECK(std::memcmp(payload.data() + at, stream.data(), length) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int choice = data[0] % 10;
  const std::vector<uint8_t> file = tuk::fuzz::FileContent(data + 1, size - 1);
  for (int level = tuk::kFastestLevel; level <= tuk::kSmallestLevel; ++level) {
    if (choice == 0 || choice == level) CheckLevel(file, level);
  }
  return 0;
}
