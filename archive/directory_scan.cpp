// Gathering the files of a source tree, in the order they will be packed.
#include <cstring>
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

bool GatherFile(TukFile& archive, const std::string& prefix,
                const platform::DirEntry& item) {
  const std::string path = prefix + item.name;
  if (path.size() >= kPathBufferSize) {
    archive.messages.SayError("ERROR! Path too long: %s\n", path.c_str());
    ++archive.skippedInputs;
    return false;
  }
  if (archive.nameTable->Add(path.c_str()) == 0) {
    ++archive.skippedInputs;
    return false;
  }
  archive.totalSize += static_cast<uint32_t>(item.size);
  archive.totalSize64 += item.size;
  return true;
}

// The file pass over one directory's listing.
void GatherFiles(TukFile& archive, const std::string& prefix,
                 const std::vector<platform::DirEntry>& listing) {
  for (const platform::DirEntry& item : listing) {
    if (item.isSpecial) {
      // Nothing to read (and a pipe could block the run): left out, and said.
      archive.messages.SayError("ERROR! inputFile: %s\n", (prefix + item.name).c_str());
      ++archive.skippedInputs;
    } else if (!item.isDirectory) {
      GatherFile(archive, prefix, item);
    }
  }
}

}  // namespace

void addDirectoryFiles(TukFile& archive, const char* pattern) {
  std::vector<platform::DirEntry> listing;
  if (!platform::ListDirectory(pattern, listing, archive.context.faults)) return;
  GatherFiles(archive, PatternPrefix(pattern), listing);
}

// A source directory that cannot be listed gathers nothing, silently:
// packing then finds no files. A subdirectory that cannot be listed is
// reported and counted as left out, so the packing does not pass for
// complete.
static void ScanTree(TukFile& archive, const char* directory, bool topLevel) {
  std::string pattern(directory);
  for (char& c : pattern) {
    if (c == '\\') c = '/';
  }
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  const std::string prefix = pattern;
  pattern += '*';
  if (pattern.size() >= kPathBufferSize) {
    archive.messages.SayError("ERROR! Path too long: %s\n", pattern.c_str());
    ++archive.skippedInputs;
    return;
  }

  // One listing serves both passes: the files first, then the
  // subdirectories with their whole subtrees, in listing order.
  std::vector<platform::DirEntry> listing;
  if (!platform::ListDirectory(pattern.c_str(), listing, archive.context.faults)) {
    if (!topLevel) {
      archive.messages.SayError("ERROR! Could not list directory: %s\n", directory);
      ++archive.skippedInputs;
    }
    return;
  }
  GatherFiles(archive, prefix, listing);
  for (const platform::DirEntry& item : listing) {
    if (!item.isDirectory) continue;
    if (item.name == "." || item.name == "..") continue;
    ScanTree(archive, (prefix + item.name).c_str(), false);
  }
}

void scanDirectory(TukFile& archive, const char* directory) {
  ScanTree(archive, directory, true);
}

}  // namespace tuk
