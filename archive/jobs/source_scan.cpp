#include "archive/jobs/source_scan.h"

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
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

// A directory's listing taken ahead, and those of its subdirectories in
// listing order. One that could not be taken ahead (memory ran out) is
// listed again in its turn.
struct Listed {
  bool done = false;  // the lister is through with it (under its mutex)
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

// Takes the listings of a whole tree on threads of its own, ahead of the
// scan, which walks them in order as they come. The newest directory found
// is listed first, so the listings come about in the order the scan walks
// them. Nothing is told here: the scan tells what it finds, as it would
// have listing the directories itself.
class TreeLister {
 public:
  TreeLister(const platform::Disk& disk, unsigned threads, const std::string& directory,
             Listed& root)
      : disk_(disk) {
    stack_.emplace_back(directory, &root);
    threads_.reserve(threads);  // no thread may be left unjoined by a failed growth
    try {
      for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Fewer threads; with none, the scan lists every directory itself.
      if (threads_.empty()) root.done = true;
    }
  }

  ~TreeLister() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  TreeLister(const TreeLister&) = delete;
  TreeLister& operator=(const TreeLister&) = delete;

  // Waits until the lister is through with node.
  void Wait(Listed& node) {
    std::unique_lock<std::mutex> lock(mutex_);
    awaited_ = &node;
    done_.wait(lock, [&node] { return node.done; });
    awaited_ = nullptr;
  }

 private:
  void Work() {
    for (;;) {
      std::pair<std::string, Listed*> next;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_.wait(lock, [this] { return stopping_ || !stack_.empty(); });
        if (stack_.empty()) return;
        next = std::move(stack_.back());
        stack_.pop_back();
      }
      Listed& node = *next.second;
      std::string prefix;
      List(next.first, node, prefix);
      std::lock_guard<std::mutex> lock(mutex_);
      // The first subdirectory goes on top: it is walked first.
      size_t k = node.subdirectories.size();
      try {
        for (auto item = node.listing.rbegin(); item != node.listing.rend(); ++item) {
          if (!IsSubdirectory(*item)) continue;
          stack_.emplace_back(prefix + item->name, node.subdirectories[k - 1].get());
          --k;
        }
      } catch (const std::bad_alloc&) {
        // Those not stacked are listed by the scan in their turn.
        for (size_t i = 0; i < k; ++i) node.subdirectories[i]->done = true;
      }
      node.done = true;
      if (awaited_ == &node) done_.notify_all();
      if (k != node.subdirectories.size()) work_.notify_all();
    }
  }

  void List(const std::string& directory, Listed& node, std::string& prefix) const {
    std::string pattern;
    try {
      if (!PatternFor(directory.c_str(), pattern, prefix)) return;
      node.ok = disk_.List(pattern.c_str(), node.listing);
      for (const platform::DirEntry& item : node.listing) {
        if (IsSubdirectory(item)) node.subdirectories.push_back(std::make_unique<Listed>());
      }
      node.ready = true;
    } catch (const std::bad_alloc&) {
      node.ready = false;
      node.subdirectories.clear();
    }
  }

  const platform::Disk& disk_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::vector<std::pair<std::string, Listed*>> stack_;  // directories to list, newest last
  const Listed* awaited_ = nullptr;                      // the node the scan waits for
  bool stopping_ = false;
  std::vector<std::thread> threads_;  // last: joined before anything they use goes away
};

// Gathers the tree below directory, taking its listings from ahead where
// the lister took them.
void ScanTree(GatheredFiles& files, const Environment& env, const char* directory,
              bool topLevel, Listed* ahead, TreeLister* lister) {
  // Even a directory not walked is waited for: the lister may be at it.
  if (ahead != nullptr) lister->Wait(*ahead);
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
    std::unique_ptr<Listed> next;
    if (ahead != nullptr) next.swap(ahead->subdirectories[k++]);
    ScanTree(files, env, (prefix + item.name).c_str(), false, next.get(), lister);
  }
}

}  // namespace

void scanDirectory(GatheredFiles& files, const Environment& env, const char* directory,
                   unsigned threads) {
  if (threads <= 1) {
    ScanTree(files, env, directory, true, nullptr, nullptr);
    return;
  }
  Listed root;
  TreeLister lister(*env.disk, threads, directory, root);
  ScanTree(files, env, directory, true, &root, &lister);
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
