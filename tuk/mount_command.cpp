// tuk mount: the file system behind it, on libfuse3's low-level interface.
// The tree is made once from the index, so every node has a fixed inode
// number (its place in the tree + 1), lookups are hash lookups, and nothing
// is forgotten. Every read is one ArchiveReader::ReadAt: stored entries are
// read in place, compressed ones decoded a segment at a time as far as the
// read needs, with the segments kept in a SegmentCache. Requests are served
// on libfuse's worker threads.
#define FUSE_USE_VERSION 34

#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/archive_tree.h"
#include "tuk/commands.h"
#include "tuk/loop_stopper.h"
#include "tuk/paths.h"

namespace tuk {
namespace {

// The archive never changes under the view, so the kernel may keep names
// and attributes for as long as it likes.
constexpr double kTimeout = 86400.0;

struct Mounted {
  explicit Mounted(uint64_t cacheBytes) : cache(cacheBytes) {}

  ArchiveReader reader;
  ArchiveTree tree;
  SegmentCache cache;
  struct timespec time = {};
  uid_t uid = 0;
  gid_t gid = 0;

  // Set when the kernel agrees to send no open and no opendir requests (a
  // file needs no state of its own): two requests fewer per file.
  std::atomic<bool> noOpen{false};
  std::atomic<bool> noOpenDir{false};

  std::mutex reportedMutex;
  std::set<size_t> reported;  // entries whose failed read was reported

  void ReportOnce(size_t entry, const Status& status) {
    const std::lock_guard<std::mutex> lock(reportedMutex);
    if (reported.insert(entry).second) PrintError(status.message());
  }
};

Mounted& Of(fuse_req_t req) { return *static_cast<Mounted*>(fuse_req_userdata(req)); }

// The node of an inode number, or false when there is none.
bool NodeOf(const Mounted& m, fuse_ino_t ino, uint32_t& node) {
  if (ino < FUSE_ROOT_ID || ino - FUSE_ROOT_ID >= m.tree.size()) return false;
  node = static_cast<uint32_t>(ino - FUSE_ROOT_ID);
  return true;
}

void FillStat(const Mounted& m, uint32_t node, struct stat& st) {
  st = {};
  const TreeNode& n = m.tree[node];
  st.st_ino = node + FUSE_ROOT_ID;
  if (n.directory) {
    st.st_mode = S_IFDIR | 0555;
    st.st_nlink = 2 + n.subdirectories;
  } else {
    const uint32_t size = m.reader.index()[n.entry].size;
    st.st_mode = S_IFREG | 0444;
    st.st_nlink = 1;
    st.st_size = size;
    st.st_blocks = (static_cast<blkcnt_t>(size) + 511) / 512;
  }
  st.st_uid = m.uid;
  st.st_gid = m.gid;
  st.st_blksize = 128 * 1024;
  st.st_atim = st.st_mtim = st.st_ctim = m.time;
}

void FillEntry(const Mounted& m, uint32_t node, fuse_entry_param& e) {
  e = {};
  e.ino = node + FUSE_ROOT_ID;
  e.generation = 1;
  e.attr_timeout = kTimeout;
  e.entry_timeout = kTimeout;
  FillStat(m, node, e.attr);
}

void Init(void* userdata, fuse_conn_info* conn) {
  Mounted& m = *static_cast<Mounted*>(userdata);
  if ((conn->capable & FUSE_CAP_NO_OPEN_SUPPORT) != 0) {
    conn->want |= FUSE_CAP_NO_OPEN_SUPPORT;
    m.noOpen = true;
  }
  if ((conn->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0) {
    conn->want |= FUSE_CAP_NO_OPENDIR_SUPPORT;
    m.noOpenDir = true;
  }
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  const Mounted& m = Of(req);
  uint32_t directory = 0;
  if (!NodeOf(m, parent, directory) || !m.tree[directory].directory) {
    fuse_reply_err(req, ENOTDIR);
    return;
  }
  const std::optional<uint32_t> node = m.tree.Child(directory, name);
  if (!node) {
    // A negative entry the kernel may keep as long as the others.
    fuse_entry_param e = {};
    e.entry_timeout = kTimeout;
    fuse_reply_entry(req, &e);
    return;
  }
  fuse_entry_param e;
  FillEntry(m, *node, e);
  fuse_reply_entry(req, &e);
}

void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
  const Mounted& m = Of(req);
  uint32_t node = 0;
  if (!NodeOf(m, ino, node)) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  struct stat st;
  FillStat(m, node, st);
  fuse_reply_attr(req, &st, kTimeout);
}

// The node an open of ino reaches when it is of the kind asked for;
// false, with the error replied, when it is not.
bool NodeToOpen(fuse_req_t req, const Mounted& m, fuse_ino_t ino, bool directory,
                uint32_t& node) {
  if (!NodeOf(m, ino, node)) {
    fuse_reply_err(req, ENOENT);
    return false;
  }
  if (m.tree[node].directory != directory) {
    fuse_reply_err(req, directory ? ENOTDIR : EISDIR);
    return false;
  }
  return true;
}

void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  const Mounted& m = Of(req);
  uint32_t node = 0;
  if (!NodeToOpen(req, m, ino, false, node)) return;
  if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0) {
    fuse_reply_err(req, EROFS);
    return;
  }
  if (m.noOpen) {
    // From now on the kernel opens files itself, keeping their pages cached;
    // the read-only mount refuses writes before they reach this server.
    fuse_reply_err(req, ENOSYS);
    return;
  }
  fi->keep_cache = 1;  // the bytes never change: pages stay cached across opens
  fi->noflush = 1;
  fuse_reply_open(req, fi);
}

void Read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info*) {
  Mounted& m = Of(req);
  uint32_t node = 0;
  if (!NodeOf(m, ino, node) || m.tree[node].directory) {
    fuse_reply_err(req, EISDIR);
    return;
  }
  const size_t entry = m.tree[node].entry;
  const uint32_t entrySize = m.reader.index()[entry].size;
  if (off < 0 || static_cast<uint64_t>(off) >= entrySize) {
    fuse_reply_buf(req, nullptr, 0);
    return;
  }
  thread_local std::unique_ptr<uint8_t[]> buffer;
  thread_local size_t capacity = 0;
  if (capacity < size) {
    buffer.reset(new (std::nothrow) uint8_t[size]);
    capacity = buffer ? size : 0;
    if (!buffer) {
      fuse_reply_err(req, ENOMEM);
      return;
    }
  }
  size_t got = 0;
  const Status read =
      m.reader.ReadAt(entry, static_cast<uint64_t>(off), buffer.get(), size, got, &m.cache);
  if (!read.ok()) {
    m.ReportOnce(entry, read);
    fuse_reply_err(req, read.code() == Errc::kNoMemory ? ENOMEM : EIO);
    return;
  }
  fuse_reply_buf(req, reinterpret_cast<const char*>(buffer.get()), got);
}

void OpenDir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  const Mounted& m = Of(req);
  uint32_t node = 0;
  if (!NodeToOpen(req, m, ino, true, node)) return;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) {
    fuse_reply_err(req, EROFS);
    return;
  }
  if (m.noOpenDir) {
    fuse_reply_err(req, ENOSYS);  // as for files: the kernel keeps what it read
    return;
  }
  fi->cache_readdir = 1;
  fi->keep_cache = 1;
  fuse_reply_open(req, fi);
}

// Lists a directory from position off: "." and ".." first, then its nodes.
void ReadDirectory(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, bool plus) {
  const Mounted& m = Of(req);
  uint32_t node = 0;
  if (!NodeOf(m, ino, node) || !m.tree[node].directory) {
    fuse_reply_err(req, ENOTDIR);
    return;
  }
  const TreeNode& directory = m.tree[node];
  std::vector<char> buffer(size);
  size_t used = 0;
  for (size_t position = static_cast<size_t>(off < 0 ? 0 : off);
       position < directory.children.size() + 2; ++position) {
    const uint32_t shown = position == 0   ? node
                           : position == 1 ? directory.parent
                                           : directory.children[position - 2];
    const char* name = position == 0 ? "." : position == 1 ? ".." : m.tree[shown].name.c_str();
    const auto next = static_cast<off_t>(position + 1);
    size_t needed = 0;
    if (plus) {
      fuse_entry_param e;
      FillEntry(m, shown, e);
      needed = fuse_add_direntry_plus(req, buffer.data() + used, size - used, name, &e, next);
    } else {
      struct stat st;
      FillStat(m, shown, st);
      needed = fuse_add_direntry(req, buffer.data() + used, size - used, name, &st, next);
    }
    if (needed > size - used) break;
    used += needed;
  }
  fuse_reply_buf(req, buffer.data(), used);
}

void ReadDir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info*) {
  ReadDirectory(req, ino, size, off, false);
}

void ReadDirPlus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info*) {
  ReadDirectory(req, ino, size, off, true);
}

void StatFs(fuse_req_t req, fuse_ino_t) {
  const Mounted& m = Of(req);
  struct statvfs st = {};
  st.f_bsize = 4096;
  st.f_frsize = 512;
  st.f_blocks = (m.reader.index().TotalSize() + 511) / 512;
  st.f_files = m.tree.size();
  st.f_namemax = 255;
  st.f_flag = ST_RDONLY;
  fuse_reply_statfs(req, &st);
}

// One option value for libfuse's -o list, where ',' and '\' are escaped.
std::string OptionValue(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == ',' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

struct MountOptions {
  std::string archive;
  std::string directory;
  bool foreground = false;              // serve in this process until unmounted
  uint64_t cacheBytes = 256ull << 20;   // decoded entries of a compressed archive
};

// Opens the archive, refuses it (exit 2, nothing mounted) when its index is
// damaged, mounts it on directory and serves it: in the background once the
// mount is ready (this call then returns 0 at once), or here until it is
// unmounted or interrupted.
int RunMount(const MountOptions& options) {
  Mounted m(options.cacheBytes);
  const Status opened = m.reader.Open(options.archive);
  if (!opened.ok()) {
    PrintError(opened.message() + (opened.code() == Errc::kDamaged ? " (nothing mounted)" : ""));
    return kTukFailed;
  }
  const uint32_t mode = m.reader.index().mode();
  if (mode != 0 && mode != 1) {
    PrintError(options.archive + ": mode " + std::to_string(mode) + " has no payload form");
    return kTukFailed;
  }
  struct stat archiveStat;
  if (stat(options.archive.c_str(), &archiveStat) == 0) m.time = archiveStat.st_mtim;
  // The server works from "/" once it runs (fuse_daemonize), and unmounts
  // by the name it mounted on: that name must not depend on the directory
  // it was started in.
  struct stat directoryStat;
  char* resolved = realpath(options.directory.c_str(), nullptr);
  if (resolved == nullptr || stat(resolved, &directoryStat) != 0 ||
      !S_ISDIR(directoryStat.st_mode)) {
    std::free(resolved);
    PrintError("no such directory: " + options.directory);
    return kTukFailed;
  }
  const std::string mountPoint = resolved;
  std::free(resolved);
  m.uid = getuid();
  m.gid = getgid();

  std::vector<std::string> leftOut;
  m.tree = ArchiveTree::Build(m.reader.index(), leftOut);
  for (const std::string& line : leftOut) PrintError("left out of the view: " + line);

  fuse_lowlevel_ops ops = {};
  ops.init = Init;
  ops.lookup = Lookup;
  ops.getattr = GetAttr;
  ops.open = Open;
  ops.read = Read;
  ops.opendir = OpenDir;
  ops.readdir = ReadDir;
  ops.readdirplus = ReadDirPlus;
  ops.statfs = StatFs;

  const std::string mountOptions = "ro,default_permissions,subtype=tuk,fsname=" +
                                   OptionValue(AbsolutePath(options.archive));
  std::vector<std::string> words = {"tuk", "-o", mountOptions};
  if (std::getenv("TUK_FUSE_DEBUG") != nullptr) words.push_back("-d");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());

  fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, &m);
  fuse_opt_free_args(&args);
  if (session == nullptr) {
    PrintError("cannot start a FUSE session");
    return kTukFailed;
  }
  int result = kTukFailed;
  if (fuse_set_signal_handlers(session) != 0) {
    PrintError("cannot install signal handlers");
  } else {
    if (fuse_session_mount(session, mountPoint.c_str()) != 0) {
      PrintError("cannot mount " + options.archive + " on " + options.directory);
    } else {
      // In the background, the caller returns now: the mount is in place,
      // and requests wait for this process's loop.
      fuse_daemonize(options.foreground ? 1 : 0);
      fuse_loop_config config = {};
      config.clone_fd = 0;
      config.max_idle_threads = 10;
      int served = 0;
      {
        // A signal (Ctrl-C, kill) ends the loop as intended.
        const LoopStopper stopper(session);
        served = fuse_session_loop_mt(session, &config);
      }
      result = served < 0 ? kTukFailed : kTukDone;
      fuse_session_unmount(session);
    }
    fuse_remove_signal_handlers(session);
  }
  fuse_session_destroy(session);
  return result;
}

CommandRun Define(CLI::App& command) {
  struct Arguments {
    MountOptions options;
    uint64_t cacheMiB = 256;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->options.archive)->required();
  command.add_option("DIR", args->options.directory)->required();
  command.add_flag("-f", args->options.foreground);
  command.add_option("--cache-size", args->cacheMiB)
      ->type_name("MiB")
      ->check(CLI::Range(uint64_t{0}, uint64_t{1} << 30))
      ->take_last();
  return [args] {
    args->options.cacheBytes = args->cacheMiB << 20;
    return RunMount(args->options);
  };
}

}  // namespace

const Command kMountCommand = {
    "mount",
    "  mount ARCHIVE DIR [-f] [--cache-size MiB]\n"
    "                                  show ARCHIVE at DIR, read-only (FUSE)\n",
    "tuk mount ARCHIVE DIR [-f] [--cache-size MiB]\n  Shows the entries of ARCHIVE as read-only files below DIR (FUSE), and\n  returns once the mount is ready; -f serves in the foreground until\n  Ctrl-C. Compressed entries are decoded 32 KiB at a time as far as reads\n  need, and what was decoded kept in a cache of MiB mebibytes (default\n  256). tuk unmount DIR ends it.\n",
    Define};

}  // namespace tuk
