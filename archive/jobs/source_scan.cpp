#include "archive/jobs/source_scan.h"

#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <string>
#include <vector>

#include "archive/common/names.h"
#include "archive/format/layout.h"
#include "platform/platform.h"

namespace tuk {
namespace {

bool GatherFile(GatheredFiles& files, const Environment& env,
                const std::string& prefix, const platform::DirEntry& item) {
  const std::string path = prefix + item.name;
  if (path.size() >= kPathBufferSize) {
    env.Tell(Event::kInputPathTooLong, path);
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
void GatherFiles(GatheredFiles& files, const Environment& env, const std::string& prefix,
                 const std::vector<platform::DirEntry>& listing) {
  for (const platform::DirEntry& item : listing) {
    if (item.isSpecial) {
      // Nothing to read (and a pipe could block the run): left out, and said.
      env.Tell(Event::kInputUnreadable, prefix + item.name);
      ++files.skipped;
    } else if (!item.isDirectory) {
      GatherFile(files, env, prefix, item);
    }
  }
}

void ScanTree(GatheredFiles& files, const Environment& env, const char* directory,
              bool topLevel) {
  std::string pattern(directory);
  for (char& c : pattern) {
    if (c == '\\') c = '/';
  }
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  const std::string prefix = pattern;
  pattern += '*';
  if (pattern.size() >= kPathBufferSize) {
    env.Tell(Event::kInputPathTooLong, pattern);
    ++files.skipped;
    return;
  }

  // One listing serves both passes: the files first, then the
  // subdirectories with their whole subtrees, in listing order.
  std::vector<platform::DirEntry> listing;
  if (!env.disk->List(pattern.c_str(), listing)) {
    if (!topLevel) {
      env.Tell(Event::kDirectoryUnlisted, directory);
      ++files.skipped;
    }
    return;
  }
  GatherFiles(files, env, prefix, listing);
  for (const platform::DirEntry& item : listing) {
    if (!item.isDirectory) continue;
    if (item.name == "." || item.name == "..") continue;
    ScanTree(files, env, (prefix + item.name).c_str(), false);
  }
}

}  // namespace

void scanDirectory(GatheredFiles& files, const Environment& env, const char* directory) {
  ScanTree(files, env, directory, true);
}

bool PathIsInside(const std::string& path, const std::string& directory) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path inner = fs::weakly_canonical(fs::absolute(path, error), error);
  const fs::path outer = fs::weakly_canonical(fs::absolute(directory, error), error);
  auto same = [](const fs::path& a, const fs::path& b) {
#ifdef _WIN32
    const std::string x = a.string();
    const std::string y = b.string();
    return NamesEqual(x, y);
#else
    return a == b;
#endif
  };
  auto i = inner.begin();
  for (const fs::path& component : outer) {
    if (component.empty()) continue;  // a trailing separator
    if (i == inner.end() || !same(*i, component)) return false;
    ++i;
  }
  return true;
}


}  // namespace tuk
