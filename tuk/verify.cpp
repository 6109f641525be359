#include "tuk/verify.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "archive/messages.h"
#include "archive/tuk_file.h"

namespace tuk {
namespace {

std::string Format(const char* format, ...) TUK_PRINTF_FORMAT(1, 2);

std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace

std::vector<std::string> VerifyArchive(const char* path) {
  std::vector<std::string> problems;
  platform::File file;
  if (!file.Open(path, platform::File::Mode::Read)) {
    problems.push_back("cannot open the archive");
    return problems;
  }
  const int64_t length = file.Length();
  uint8_t header[8];
  if (length < kHeaderSize || file.Read(header, 8) != 8) {
    problems.push_back(Format("the file is %lld bytes, shorter than a header",
                              static_cast<long long>(length)));
    return problems;
  }
  file.Close();
  const uint32_t indexOffset = ReadU32LE(header);
  const uint32_t mode = ReadU32LE(header + 4);
  if (mode != kModeStored && mode != kModeSegmented) {
    problems.push_back(Format("unknown mode %u", mode));
  }
  if (indexOffset < kHeaderSize || indexOffset >= length) {
    problems.push_back(Format("the index offset %u lies outside the file", indexOffset));
    return problems;
  }

  TukFile archive;
  archive.LoadIndex(path);
  if (archive.indexDamaged) {
    problems.push_back("the index runs past the end of the file or holds an impossible record");
  } else {
    uint64_t indexEnd = static_cast<uint64_t>(indexOffset) + 4 + kTrailerSize;
    for (uint32_t i = 0; i < archive.entries.count; ++i) {
      indexEnd += kIndexRecordFixedSize + archive.entries.At(i).nameLength;
    }
    if (indexEnd != static_cast<uint64_t>(length)) {
      problems.push_back(Format("the index and trailer end at %llu, the file at %lld",
                                static_cast<unsigned long long>(indexEnd),
                                static_cast<long long>(length)));
    }
  }

  struct Span {
    uint64_t begin, end;
    uint32_t entry;
  };
  std::vector<Span> spans;
  for (uint32_t i = 0; i < archive.entries.count; ++i) {
    const IndexEntry& entry = archive.entries.At(i);
    const uint64_t end = static_cast<uint64_t>(entry.offset) + entry.storedSize;
    if (!IsSafeEntryName(entry.name, entry.nameLength)) {
      problems.push_back(Format("entry %u has an unsafe name: %s", i, entry.name));
    }
    if (entry.offset < kHeaderSize || end > indexOffset) {
      problems.push_back(Format("entry %u (%s): payload %u..%llu lies outside the data area",
                                i, entry.name, entry.offset,
                                static_cast<unsigned long long>(end)));
      continue;
    }
    if (entry.storedSize > 0) spans.push_back({entry.offset, end, i});
    if (mode == kModeStored && entry.storedSize != entry.size) {
      problems.push_back(Format("entry %u (%s): stored size %u differs from size %u", i,
                                entry.name, entry.storedSize, entry.size));
    }
    if (mode == kModeSegmented && archive.Extract(i, nullptr) == nullptr) {
      problems.push_back(Format("entry %u (%s): payload does not decode to %u bytes", i,
                                entry.name, entry.size));
    }
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end) {
      problems.push_back(Format("entries %u and %u overlap", spans[i - 1].entry,
                                spans[i].entry));
    }
  }
  return problems;
}

}  // namespace tuk
