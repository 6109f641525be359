// Gathering the files of a source tree, in the order they will be packed.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "archive/messages.h"
#include "archive/pack.h"
#include "archive/tuk_file.h"

namespace tuk {
namespace {

// The pattern's text in front of its first '*'.
std::string PatternPrefix(const char* pattern) {
  const char* star = std::strchr(pattern, '*');
  return star != nullptr ? std::string(pattern, star) : std::string(pattern);
}

bool GatherFile(const std::string& prefix, const platform::DirEntry& item) {
  TukFile& archive = *currentArchive;
  const std::string path = prefix + item.name;
  if (path.size() >= kPathBufferSize) {
    SayError("ERROR! Path too long: %s\n", path.c_str());
    ++archive.skippedInputs;
    return false;
  }
  if (archive.nameTable->Add(path.c_str()) == 0) {
    ++archive.skippedInputs;
    return false;
  }
  if (archive.gatheredSizesKept) {
    try {
      archive.gatheredSizes.push_back(item.size);
    } catch (const std::bad_alloc&) {
      archive.gatheredSizes.clear();
      archive.gatheredSizesKept = false;
    }
  }
  archive.totalSize += static_cast<uint32_t>(item.size);
  archive.totalSize64 += item.size;
  return true;
}

// The file pass over one directory's listing.
void GatherFiles(const std::string& prefix,
                 const std::vector<platform::DirEntry>& listing) {
  for (const platform::DirEntry& item : listing) {
    if (item.isSpecial) {
      // Nothing to read (and a pipe could block the run): left out, and said.
      SayError("ERROR! inputFile: %s\n", (prefix + item.name).c_str());
      ++currentArchive->skippedInputs;
    } else if (!item.isDirectory) {
      GatherFile(prefix, item);
    }
  }
}

}  // namespace

void addDirectoryFiles(const char* pattern) {
  std::vector<platform::DirEntry> listing;
  if (!platform::ListDirectory(pattern, listing)) return;
  GatherFiles(PatternPrefix(pattern), listing);
}

// A source directory that cannot be listed gathers nothing, silently:
// packing then finds no files. A subdirectory that cannot be listed is
// reported and counted as left out, so the packing does not pass for
// complete.
static void ScanTree(const char* directory, bool topLevel) {
  std::string pattern(directory);
  for (char& c : pattern) {
    if (c == '\\') c = '/';
  }
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  const std::string prefix = pattern;
  pattern += '*';
  if (pattern.size() >= kPathBufferSize) {
    SayError("ERROR! Path too long: %s\n", pattern.c_str());
    ++currentArchive->skippedInputs;
    return;
  }

  // One listing serves both passes: the files first, then the
  // subdirectories with their whole subtrees, in listing order.
  std::vector<platform::DirEntry> listing;
  if (!platform::ListDirectory(pattern.c_str(), listing)) {
    if (!topLevel) {
      SayError("ERROR! Could not list directory: %s\n", directory);
      ++currentArchive->skippedInputs;
    }
    return;
  }
  GatherFiles(prefix, listing);
  for (const platform::DirEntry& item : listing) {
    if (!item.isDirectory) continue;
    if (item.name == "." || item.name == "..") continue;
    ScanTree((prefix + item.name).c_str(), false);
  }
}

void scanDirectory(const char* directory) { ScanTree(directory, true); }

}  // namespace tuk
