// Index loading of arbitrary archive bytes, written to one scratch file
// that every input reuses.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/format/layout.h"
#include "archive/legacy/tuk_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tuk::fuzz::QuietOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = tuk::fuzz::ScratchRoot() + "/index.tuk";
  tuk::fuzz::WriteWholeFile(path, data, size);

  tuk::TukFile archive;
  archive.LoadIndex(path.c_str());
  TUK_FUZZ_CHECK(!archive.tukFileStream.IsOpen());

  const uint32_t count = archive.entries.size();
  if (size < 8) {
    TUK_FUZZ_CHECK(count == 0);
    return 0;
  }
  const uint32_t indexOffset = tuk::ReadU32LE(data);
  TUK_FUZZ_CHECK(archive.indexOffset == indexOffset);
  TUK_FUZZ_CHECK(archive.mode == tuk::ReadU32LE(data + 4));
  if (count == 0) return 0;

  // Every loaded record lies inside the file, so the file bounds the count.
  TUK_FUZZ_CHECK(indexOffset < size);
  const uint64_t recordBytes = size - indexOffset - 4;
  TUK_FUZZ_CHECK(count <= recordBytes / tuk::kIndexRecordFixedSize);

  // Each entry is what its record holds; the records are read back here
  // independently of the loader.
  size_t at = indexOffset + 4;
  uint32_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const tuk::Entry& entry = archive.entries[i];
    TUK_FUZZ_CHECK(at + 4 <= size);
    const uint32_t nameLength = tuk::ReadU32LE(data + at);
    TUK_FUZZ_CHECK(nameLength <= tuk::kMaxNameLength);
    TUK_FUZZ_CHECK(entry.name.size() == nameLength);
    at += 4;
    TUK_FUZZ_CHECK(at + nameLength + tuk::kIndexRecordFixedSize - 4 <= size);
    TUK_FUZZ_CHECK(std::memcmp(entry.name.data(), data + at, nameLength) == 0);
    TUK_FUZZ_CHECK(entry.name[nameLength] == '\0');
    at += nameLength;
    TUK_FUZZ_CHECK(entry.storedSize == tuk::ReadU32LE(data + at));
    TUK_FUZZ_CHECK(entry.size == tuk::ReadU32LE(data + at + 4));
    TUK_FUZZ_CHECK(entry.offset == tuk::ReadU32LE(data + at + 8));
    at += 24;
    total += entry.size;
  }
  TUK_FUZZ_CHECK(archive.totalSize == total);
  const uint32_t claimed = tuk::ReadU32LE(data + indexOffset);
  TUK_FUZZ_CHECK(count <= claimed);
  TUK_FUZZ_CHECK(archive.indexDamaged == (count < claimed));
  return 0;
}
