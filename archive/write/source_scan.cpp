#include "archive/write/source_scan.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "archive/format/format.h"
#include "platform/platform.h"

namespace tuk {
namespace {

// The pattern's text in front of its first '*'.
std::string PatternPrefix(const char* pattern) {
  const char* star = std::strchr(pattern, '*');
  return star != nullptr ? std::string(pattern, star) : std::string(pattern);
}

bool GatherFile(GatheredFiles& files, const Messages& messages,
                const std::string& prefix, const platform::DirEntry& item) {
  const std::string path = prefix + item.name;
  if (path.size() >= kPathBufferSize) {
    messages.SayError("ERROR! Path too long: %s\n", path.c_str());
    ++files.skipped;
    return false;
  }
  if (files.names.Add(path.c_str()) == 0) {
    ++files.skipped;
    return false;
  }
  if (files.sizesKept) {
    try {
      files.sizes.push_back(item.size);
    } catch (const std::bad_alloc&) {
      files.sizes.clear();
      files.sizesKept = false;
    }
  }
  files.totalSize += static_cast<uint32_t>(item.size);
  files.totalSize64 += item.size;
  return true;
}

// The file pass over one directory's listing.
void GatherFiles(GatheredFiles& files, const Messages& messages, const std::string& prefix,
                 const std::vector<platform::DirEntry>& listing) {
  for (const platform::DirEntry& item : listing) {
    if (item.isSpecial) {
      // Nothing to read (and a pipe could block the run): left out, and said.
      messages.SayError("ERROR! inputFile: %s\n", (prefix + item.name).c_str());
      ++files.skipped;
    } else if (!item.isDirectory) {
      GatherFile(files, messages, prefix, item);
    }
  }
}

}  // namespace

void addDirectoryFiles(GatheredFiles& files, const Context& context, const char* pattern) {
  std::vector<platform::DirEntry> listing;
  if (!platform::ListDirectory(pattern, listing, context.faults)) return;
  GatherFiles(files, context.messages, PatternPrefix(pattern), listing);
}

static void ScanTree(GatheredFiles& files, const Context& context, const char* directory,
                     bool topLevel) {
  std::string pattern(directory);
  for (char& c : pattern) {
    if (c == '\\') c = '/';
  }
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  const std::string prefix = pattern;
  pattern += '*';
  if (pattern.size() >= kPathBufferSize) {
    context.messages.SayError("ERROR! Path too long: %s\n", pattern.c_str());
    ++files.skipped;
    return;
  }

  // One listing serves both passes: the files first, then the
  // subdirectories with their whole subtrees, in listing order.
  std::vector<platform::DirEntry> listing;
  if (!platform::ListDirectory(pattern.c_str(), listing, context.faults)) {
    if (!topLevel) {
      context.messages.SayError("ERROR! Could not list directory: %s\n", directory);
      ++files.skipped;
    }
    return;
  }
  GatherFiles(files, context.messages, prefix, listing);
  for (const platform::DirEntry& item : listing) {
    if (!item.isDirectory) continue;
    if (item.name == "." || item.name == "..") continue;
    ScanTree(files, context, (prefix + item.name).c_str(), false);
  }
}

void scanDirectory(GatheredFiles& files, const Context& context, const char* directory) {
  ScanTree(files, context, directory, true);
}

}  // namespace tuk
