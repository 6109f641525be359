#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "archive/format/layout.h"
#include "archive/legacy/messages.h"

namespace fs = std::filesystem;

namespace tuk::fuzz {
namespace {

class Scratch {
 public:
  Scratch() {
    std::error_code error;
    start_ = fs::current_path(error).string();
    std::string pattern = (fs::temp_directory_path() / "tuk-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      CheckFailed("mkdtemp", __FILE__, __LINE__);
    }
    root_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::current_path(start_, ignored);
    fs::remove_all(root_, ignored);
  }

  std::string root_;
  std::string start_;
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

}  // namespace

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

void QuietOutput() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) {
    CheckFailed("freopen /dev/null", __FILE__, __LINE__);
  }
}

const std::string& ScratchRoot() { return TheScratch().root_; }

const std::string& StartDirectory() { return TheScratch().start_; }

void RestoreStartDirectory() {
  std::error_code error;
  fs::current_path(StartDirectory(), error);
  TUK_FUZZ_CHECK(!error);
}

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  TUK_FUZZ_CHECK(file != nullptr);
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  const bool closed = std::fclose(file) == 0;
  TUK_FUZZ_CHECK(written && closed);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  TUK_FUZZ_CHECK(in.good());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> paths;
  std::error_code error;
  fs::recursive_directory_iterator it(root, error);
  TUK_FUZZ_CHECK(!error);
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    TUK_FUZZ_CHECK(!error);
    std::string relative = fs::relative(it->path(), root, error).generic_string();
    TUK_FUZZ_CHECK(!error);
    if (it->symlink_status(error).type() == fs::file_type::directory) {
      relative += '/';
    }
    paths.push_back(relative);
  }
  TUK_FUZZ_CHECK(!error);
  std::sort(paths.begin(), paths.end());
  return paths;
}

void ClearDirectory(const std::string& root) {
  std::error_code error;
  std::vector<fs::path> items;
  for (const fs::directory_entry& item : fs::directory_iterator(root, error)) {
    items.push_back(item.path());
  }
  TUK_FUZZ_CHECK(!error);
  for (const fs::path& item : items) {
    fs::remove_all(item, error);
    TUK_FUZZ_CHECK(!error);
  }
}

std::vector<uint8_t> CraftArchive(uint32_t mode, const std::vector<Entry>& entries) {
  std::vector<uint8_t> out;
  auto put = [&out](const void* bytes, size_t length) {
    const size_t at = out.size();
    out.resize(at + length);
    if (length > 0) std::memcpy(out.data() + at, bytes, length);
  };
  auto put32 = [&put](uint32_t value) {
    uint8_t le[4];
    WriteU32LE(le, value);
    put(le, 4);
  };
  put32(0);  // the index offset, set below
  put32(mode);
  put(kFixedBlock, kFixedBlockSize);
  std::vector<uint32_t> offsets;
  for (const Entry& entry : entries) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    put(entry.payload.data(), entry.payload.size());
  }
  WriteU32LE(out.data(), static_cast<uint32_t>(out.size()));
  put32(static_cast<uint32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    put32(static_cast<uint32_t>(entry.name.size()));
    put(entry.name.data(), entry.name.size());
    put32(static_cast<uint32_t>(entry.payload.size()));
    put32(entry.size);
    put32(offsets[i]);
    put32(kReservedMarker);
    put32(0);
    put32(0);
  }
  put32(0);
  return out;
}

std::vector<uint8_t> FileContent(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  if ((data[0] & 1) == 0) return std::vector<uint8_t>(data + 1, data + size);
  if (size < 4) return {};
  const uint32_t length = (static_cast<uint32_t>(data[1]) |
                           static_cast<uint32_t>(data[2]) << 8 |
                           static_cast<uint32_t>(data[3]) << 16) &
                          0x3FFFF;
  std::vector<uint8_t> content(length);
  const size_t patternLength = size - 4;
  for (uint32_t i = 0; i < length; ++i) {
    content[i] = patternLength == 0 ? 0 : data[4 + i % patternLength];
  }
  return content;
}

}  // namespace tuk::fuzz
