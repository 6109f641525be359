// Arbitrary bytes stored in mode 1 by the payload encoder come back
// unchanged through the whole archive path: the encoder writes the payload,
// the index writer its record, and a fresh archive object loads the index
// and extracts the entry through the decoder.
//
// The first input byte chooses how the rest becomes the file: with its low
// bit clear the rest is the file as it is; with it set the rest is repeated
// up to a length taken from the next three bytes (below 256 KiB), so files
// of several 32 KiB segments are tried too.
//
// The same file also goes through the compressing encoder, at a level
// taken from the last input byte, and must decode back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/format/index_io.h"
#include "archive/format/layout.h"
#include "archive/legacy/tuk_file.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "fuzz/fuzz_support.h"
#include "tuk/archive_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tuk::fuzz::QuietOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = tuk::fuzz::ScratchRoot() + "/roundtrip.tuk";
  const std::vector<uint8_t> content = tuk::fuzz::FileContent(data, size);
  const uint32_t length = static_cast<uint32_t>(content.size());

  {
    tuk::TukFile writer;
    writer.mode = tuk::kModeSegmented;
    tuk::platform::File& out = writer.tukFileStream;
    TUK_FUZZ_CHECK(out.Open(path.c_str(), tuk::platform::File::Mode::Write));
    uint8_t header[tuk::kHeaderSize] = {};
    tuk::WriteU32LE(header + 4, writer.mode);
    std::memcpy(header + 8, tuk::kFixedBlock, tuk::kFixedBlockSize);
    TUK_FUZZ_CHECK(out.Write(header, sizeof header));

    TUK_FUZZ_CHECK(writer.GrowRawBuffer(static_cast<uint64_t>(length) + 1));
    if (length > 0) std::memcpy(writer.rawBuffer.get(), content.data(), length);
    writer.currentSize = length;
    TUK_FUZZ_CHECK(writer.StoreFilePayload(length, "file.bin").ok());
    TUK_FUZZ_CHECK(tuk::WriteIndex(out, "", writer.entries, writer.mode).ok() && out.Close());
  }

  tuk::ArchiveReader reader;
  TUK_FUZZ_CHECK(reader.Open(path).ok() && reader.index().size() == 1);
  const tuk::Entry& entry = reader.index()[0];
  TUK_FUZZ_CHECK(entry.size == length);
  // Literal runs cost at most 133 bytes per segment besides the table.
  const uint32_t segments = length == 0 ? 1 : (length - 1) / tuk::kSegmentSize + 1;
  TUK_FUZZ_CHECK(entry.storedSize <= 4 + segments * (tuk::kSegmentInfoSize + 133) +
                                         static_cast<uint64_t>(length));
  std::vector<uint8_t> extracted;
  TUK_FUZZ_CHECK(reader.Read(0, extracted).ok());
  TUK_FUZZ_CHECK(extracted == content);

  const int level = size == 0 ? tuk::kDefaultLevel : 1 + data[size - 1] % tuk::kSmallestLevel;
  const std::vector<uint8_t> compressed = tuk::EncodePayload(content.data(), length, level);
  std::vector<uint8_t> decoded(static_cast<size_t>(length) + 1);
  const tuk::DecodeOutcome outcome =
      tuk::DecodePayload(compressed.data(), static_cast<uint32_t>(compressed.size()),
                         decoded.data(), static_cast<uint32_t>(decoded.size()));
  TUK_FUZZ_CHECK(outcome.error == tuk::DecodeError::None && outcome.length == length);
  TUK_FUZZ_CHECK(length == 0 || std::memcmp(decoded.data(), content.data(), length) == 0);
  return 0;
}
