#include "tuk/verify.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "archive/common/checksum.h"
#include "archive/common/printf_format.h"
#include "archive/format/layout.h"
#include "tuk/archive_reader.h"

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

std::vector<std::string> VerifyArchive(const std::string& path, size_t* withoutChecksum) {
  size_t unchecked = 0;
  if (withoutChecksum != nullptr) *withoutChecksum = 0;
  std::vector<std::string> problems;
  ArchiveReader reader;
  const Status opened = reader.Open(path);
  if (opened.code() == Errc::kNotFound) {
    problems.push_back("cannot open the archive");
    return problems;
  }
  const uint64_t length = reader.FileSize();
  const Index& index = reader.index();
  if (length < kHeaderSize) {
    problems.push_back(Format("the file is %llu bytes, shorter than a header",
                              static_cast<unsigned long long>(length)));
    return problems;
  }
  const uint32_t indexOffset = index.indexOffset();
  const uint32_t mode = index.mode();
  if (mode != kModeStored && mode != kModeSegmented) {
    problems.push_back(Format("unknown mode %u", mode));
  }
  if (indexOffset < kHeaderSize || indexOffset >= length) {
    problems.push_back(Format("the index offset %u lies outside the file", indexOffset));
    return problems;
  }
  if (!index.complete()) {
    problems.push_back("the index runs past the end of the file or holds an impossible record");
  } else {
    uint64_t indexEnd = uint64_t{indexOffset} + 4 + kTrailerSize;
    for (const Entry& entry : index.entries()) {
      indexEnd += kIndexRecordFixedSize + entry.name.size();
    }
    if (indexEnd != length) {
      problems.push_back(Format("the index and trailer end at %llu, the file at %llu",
                                static_cast<unsigned long long>(indexEnd),
                                static_cast<unsigned long long>(length)));
    }
  }

  struct Span {
    uint64_t begin, end;
    size_t entry;
  };
  std::vector<Span> spans;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < index.size(); ++i) {
    const Entry& entry = index[i];
    const char* name = entry.name.c_str();
    const uint64_t end = uint64_t{entry.offset} + entry.storedSize;
    if (!IsSafeName(entry.name)) {
      problems.push_back(Format("entry %zu has an unsafe name: %s", i, name));
    }
    if (entry.name.size() > kMaxNameLength) {
      problems.push_back(Format("entry %zu has a name of %zu characters, more than %u", i,
                                entry.name.size(), kMaxNameLength));
    }
    if (entry.offset < kHeaderSize || end > indexOffset) {
      problems.push_back(Format("entry %zu (%s): payload %u..%llu lies outside the data area",
                                i, name, entry.offset, static_cast<unsigned long long>(end)));
      continue;
    }
    if (entry.storedSize > 0) spans.push_back({entry.offset, end, i});
    if (mode == kModeStored && entry.storedSize != entry.size) {
      problems.push_back(Format("entry %zu (%s): stored size %u differs from size %u", i, name,
                                entry.storedSize, entry.size));
    }
    const uint64_t checksum = entry.checksum();
    if (checksum == 0) ++unchecked;
    const bool readable = mode == kModeSegmented || entry.storedSize == entry.size;
    if (mode == kModeSegmented || (checksum != 0 && readable)) {
      if (!reader.ReadUnverified(i, bytes).ok()) {
        problems.push_back(Format("entry %zu (%s): payload does not decode to %u bytes", i,
                                  name, entry.size));
      } else if (checksum != 0 && ChecksumsAvailable() &&
                 EntryChecksum(bytes.data(), bytes.size()) != checksum) {
        problems.push_back(Format("entry %zu (%s): the bytes do not match its checksum", i,
                                  name));
      }
    }
  }
  if (withoutChecksum != nullptr) *withoutChecksum = unchecked;
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end) {
      problems.push_back(Format("entries %zu and %zu overlap", spans[i - 1].entry,
                                spans[i].entry));
    }
  }
  return problems;
}

}  // namespace tuk
