// The segmented-payload decoder on arbitrary bytes. The first four input
// bytes choose an entry size (below 4 MiB); the rest is the payload, decoded
// into a heap buffer of exactly size + 1 bytes, the room extraction gives
// an entry, so AddressSanitizer sees any write past it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/legacy/decompression.h"
#include "archive/format/layout.h"
#include "codec/decoder.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kMaxEntrySize = 4u << 20;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tuk::fuzz::QuietOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tuk::DecodeError;
  if (size < 4 || size > 0xFFFFFFFFu) return 0;
  const uint32_t entrySize = tuk::ReadU32LE(data) % kMaxEntrySize;
  const uint8_t* payload = data + 4;
  const uint32_t payloadLength = static_cast<uint32_t>(size - 4);
  const uint32_t capacity = entrySize + 1;

  std::unique_ptr<uint8_t[]> first(new uint8_t[capacity]);
  const tuk::DecodeOutcome outcome =
      tuk::DecodePayload(payload, payloadLength, first.get(), capacity);
  TUK_FUZZ_CHECK(outcome.length <= capacity);
  TUK_FUZZ_CHECK(outcome.error == DecodeError::None ||
                 outcome.error == DecodeError::InputOverrun ||
                 outcome.error == DecodeError::OutputOverrun ||
                 outcome.error == DecodeError::LookBehindOverrun ||
                 outcome.error == DecodeError::ReservedInstruction);

  // More room changes nothing but where an output overrun happens: the
  // fast copies that need spare room must give the same bytes as the
  // careful ones.
  constexpr uint32_t kSpare = 64;
  std::unique_ptr<uint8_t[]> roomy(new uint8_t[capacity + kSpare]);
  const tuk::DecodeOutcome roomyOutcome = tuk::DecodePayload(
      payload, payloadLength, roomy.get(), capacity + kSpare);
  if (outcome.error == DecodeError::OutputOverrun) {
    TUK_FUZZ_CHECK(roomyOutcome.length >= outcome.length);
  } else {
    TUK_FUZZ_CHECK(roomyOutcome.error == outcome.error);
    TUK_FUZZ_CHECK(roomyOutcome.length == outcome.length);
  }
  TUK_FUZZ_CHECK(std::memcmp(first.get(), roomy.get(), outcome.length) == 0);

  // The wrapper extraction calls agrees with the detailed outcome.
  const uint32_t written =
      tuk::Decompression(payload, payloadLength, roomy.get(), capacity);
  TUK_FUZZ_CHECK(written ==
                 (outcome.error == DecodeError::None ? outcome.length : 0));
  return 0;
}
