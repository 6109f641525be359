// Helpers shared by the fuzz targets: a per-process scratch directory,
// whole-file writes, tree listings, and a check that stops the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tuk::fuzz {

// Stops the process with a message when a property does not hold; libFuzzer
// (and the replay driver) report it as a crash with the input that caused it.
#define TUK_FUZZ_CHECK(condition)                                      \
  do {                                                                 \
    if (!(condition)) ::tuk::fuzz::CheckFailed(#condition, __FILE__, __LINE__); \
  } while (0)

[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);

// Silences the library's messages and sends standard output to /dev/null
// (the unpack program prints there); the fuzzer's own reports go to
// standard error.
void QuietOutput();

// A directory made once per process under the system's temporary
// directory and removed, with everything in it, when the process ends
// normally.
const std::string& ScratchRoot();

// The process's working directory when the scratch root was first made;
// extraction changes the working directory, so targets go back to it.
const std::string& StartDirectory();
void RestoreStartDirectory();

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// Every path below root (directories with a trailing '/'), relative to it,
// sorted; links are listed as they are, never followed.
std::vector<std::string> ListTree(const std::string& root);

// Removes everything below root, leaving root itself.
void ClearDirectory(const std::string& root);

// One entry of a crafted archive: its name, stored bytes and size field
// (the payload lies where the data area reaches when it is laid out).
struct Entry {
  std::string name;
  std::vector<uint8_t> payload;
  uint32_t size = 0;
};

// Header, payloads back to back, index and trailer.
std::vector<uint8_t> CraftArchive(uint32_t mode, const std::vector<Entry>& entries);

// A file's bytes from a fuzz input: the bytes after the first when its low
// bit is 0; else a length of up to 256 KiB (bytes 1-3) filled with the
// pattern that follows, so short inputs still reach several segments.
std::vector<uint8_t> FileContent(const uint8_t* data, size_t size);

}  // namespace tuk::fuzz
