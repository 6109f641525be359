#include "archive/jobs/source_scan.h"

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <string>
#include <vector>

#include "archive/common/names.h"
#include "archive/common/thread_pool.h"
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

// A directory's listing taken ahead, and those of its subdirectories in
// listing order. One that could not be taken ahead (memory ran out) is
// listed again in its turn.
struct Listed {
  bool ready = false;
  bool ok = false;
  std::vector<platform::DirEntry> listing;
  std::vector<std::unique_ptr<Listed>> subdirectories;
};

// What ScanTree lists: the pattern for a directory's entries, and the
// prefix of their paths. False when the pattern is too long.
bool PatternFor(const char* directory, std::string& pattern, std::string& prefix) {
  pattern = directory;
  for (char& c : pattern) {
    if (c == '\\') c = '/';
  }
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  prefix = pattern;
  pattern += '*';
  return pattern.size() < kPathBufferSize;
}

bool IsSubdirectory(const platform::DirEntry& item) {
  return item.isDirectory && item.name != "." && item.name != "..";
}

// Takes the listings of a whole tree on a pool's threads, the caller's
// among them. Nothing is told here: the scan tells what it finds as it
// walks the listings in order, as it would have listing them itself.
class TreeLister {
 public:
  TreeLister(const platform::Disk& disk, unsigned threads) : disk_(disk), pool_(threads - 1) {}

  void ListAll(const std::string& directory, Listed& root) {
    Queue(directory, "", root);
    const unsigned caller = pool_.Workers();
    for (;;) {
      if (pool_.RunOne(caller)) continue;
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [this] { return pending_ == 0 || queued_ != 0; });
      if (pending_ == 0) return;
    }
  }

 private:
  // Queues the listing of prefix + name; one that cannot be queued is
  // left for the scan to take in its turn.
  void Queue(const std::string& prefix, const std::string& name, Listed& node) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++pending_;
      ++queued_;
    }
    try {
      pool_.Submit([this, directory = prefix + name, &node](unsigned) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          --queued_;
        }
        List(directory, node);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          --pending_;
        }
        done_.notify_all();
      });
    } catch (const std::bad_alloc&) {
      std::lock_guard<std::mutex> lock(mutex_);
      --pending_;
      --queued_;
    }
  }

  void List(const std::string& directory, Listed& node) {
    std::string pattern, prefix;
    try {
      if (!PatternFor(directory.c_str(), pattern, prefix)) return;
      node.ok = disk_.List(pattern.c_str(), node.listing);
      for (const platform::DirEntry& item : node.listing) {
        if (IsSubdirectory(item)) node.subdirectories.push_back(std::make_unique<Listed>());
      }
      node.ready = true;
    } catch (const std::bad_alloc&) {
      node.subdirectories.clear();
      return;
    }
    size_t k = 0;
    for (const platform::DirEntry& item : node.listing) {
      if (IsSubdirectory(item)) Queue(prefix, item.name, *node.subdirectories[k++]);
    }
  }

  const platform::Disk& disk_;
  std::mutex mutex_;
  std::condition_variable done_;
  size_t pending_ = 0;  // directories not yet listed
  size_t queued_ = 0;   // of them, those no thread has taken
  ThreadPool pool_;
};

// Gathers the tree below directory, taking its listings from ahead where
// they were taken.
void ScanTree(GatheredFiles& files, const Environment& env, const char* directory,
              bool topLevel, Listed* ahead) {
  std::string pattern, prefix;
  if (!PatternFor(directory, pattern, prefix)) {
    env.Tell(Event::kInputPathTooLong, pattern);
    ++files.skipped;
    return;
  }

  // One listing serves both passes: the files first, then the
  // subdirectories with their whole subtrees, in listing order.
  std::vector<platform::DirEntry> own;
  if (ahead != nullptr && !ahead->ready) ahead = nullptr;
  const bool listed = ahead != nullptr ? ahead->ok : env.disk->List(pattern.c_str(), own);
  const std::vector<platform::DirEntry>& listing = ahead != nullptr ? ahead->listing : own;
  if (!listed) {
    if (!topLevel) {
      env.Tell(Event::kDirectoryUnlisted, directory);
      ++files.skipped;
    }
    return;
  }
  GatherFiles(files, env, prefix, listing);
  size_t k = 0;
  for (const platform::DirEntry& item : listing) {
    if (!IsSubdirectory(item)) continue;
    Listed* next = ahead != nullptr ? ahead->subdirectories[k++].get() : nullptr;
    ScanTree(files, env, (prefix + item.name).c_str(), false, next);
  }
}

}  // namespace

void scanDirectory(GatheredFiles& files, const Environment& env, const char* directory,
                   unsigned threads) {
  if (threads <= 1) {
    ScanTree(files, env, directory, true, nullptr);
    return;
  }
  Listed root;
  {
    TreeLister lister(*env.disk, threads);
    lister.ListAll(directory, root);
  }
  ScanTree(files, env, directory, true, &root);
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
