// A whole extraction of arbitrary archive bytes. The archive lies in a
// scratch tree beside a sentinel file; each input is extracted into a fresh
// directory three levels down, and afterwards the rest of the tree must be
// exactly as it was, the archive included, and every file made must be one
// the archive names. When the extraction reports success, every entry's
// file holds its size (and, in mode 0, its stored bytes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "archive/format/layout.h"
#include "archive/legacy/tuk_file.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Tree {
  std::string root;     // the watched tree
  std::string archive;  // root/archive.tuk
  std::string target;   // root/a/b/c/out, emptied after each input
  std::vector<std::string> expected;
};

const std::vector<uint8_t> kSentinel = {'k', 'e', 'e', 'p'};
const std::string kTargetBelowRoot = "a/b/c/out/";

const Tree& TheTree() {
  static const Tree tree = [] {
    Tree t;
    t.root = tuk::fuzz::ScratchRoot() + "/tree";
    t.archive = t.root + "/archive.tuk";
    for (const char* dir : {"", "/a", "/a/b", "/a/b/c", "/a/b/c/out"}) {
      TUK_FUZZ_CHECK(mkdir((t.root + dir).c_str(), 0700) == 0);
    }
    t.target = t.root + "/" + kTargetBelowRoot;
    t.target.pop_back();
    tuk::fuzz::WriteWholeFile(t.root + "/sentinel", kSentinel.data(),
                              kSentinel.size());
    tuk::fuzz::WriteWholeFile(t.archive, nullptr, 0);
    t.expected = tuk::fuzz::ListTree(t.root);
    return t;
  }();
  return tree;
}

// The place an entry name stands for below the target: '\' is a separator
// too, and empty and "." components name nothing.
std::vector<std::string> Components(const char* name, uint32_t length) {
  std::vector<std::string> parts;
  std::string part;
  for (uint32_t i = 0; i <= length; ++i) {
    if (i == length || name[i] == '/' || name[i] == '\\' || name[i] == '\0') {
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
      if (i < length && name[i] == '\0') break;  // the file system stops here
    } else {
      part += name[i];
    }
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tuk::fuzz::QuietOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Tree& tree = TheTree();
  tuk::fuzz::WriteWholeFile(tree.archive, data, size);

  // Every path an entry may make: its file and the directories above it.
  // When the whole extraction succeeds, each path holds the last entry
  // that names it.
  std::set<std::string> allowed;
  std::map<std::string, tuk::Entry> files;
  uint32_t result = 0;
  uint32_t mode = 0;
  {
    tuk::TukFile archive;
    archive.LoadIndex(tree.archive.c_str());
    mode = archive.mode;
    for (uint32_t i = 0; i < archive.entries.size(); ++i) {
      const tuk::Entry& entry = archive.entries[i];
      std::string path;
      for (const std::string& part : Components(entry.name.data(), static_cast<uint32_t>(entry.name.size()))) {
        if (!path.empty()) allowed.insert(path + '/');
        path += path.empty() ? part : '/' + part;
      }
      if (!path.empty()) {
        // A name ending in a separator leaves a directory behind.
        allowed.insert(path);
        allowed.insert(path + '/');
        files[path] = entry;
      }
    }
    result = archive.ExtractAll(tree.target.c_str());
  }
  tuk::fuzz::RestoreStartDirectory();

  const std::vector<std::string> made = tuk::fuzz::ListTree(tree.target);
  std::vector<std::string> outside;
  for (const std::string& path : tuk::fuzz::ListTree(tree.root)) {
    if (path.compare(0, kTargetBelowRoot.size(), kTargetBelowRoot) != 0 ||
        path == kTargetBelowRoot) {
      outside.push_back(path);
    }
  }
  TUK_FUZZ_CHECK(outside == tree.expected);
  TUK_FUZZ_CHECK(tuk::fuzz::ReadWholeFile(tree.root + "/sentinel") == kSentinel);
  const std::vector<uint8_t> archiveAfter = tuk::fuzz::ReadWholeFile(tree.archive);
  TUK_FUZZ_CHECK(archiveAfter.size() == size &&
                 std::equal(archiveAfter.begin(), archiveAfter.end(), data));
  if (result == 0) {
    for (const auto& [path, entry] : files) {
      const std::vector<uint8_t> bytes =
          tuk::fuzz::ReadWholeFile(tree.target + "/" + path);
      TUK_FUZZ_CHECK(bytes.size() == entry.size);
      if (mode == tuk::kModeStored && entry.size > 0) {
        // A stored payload is the file itself.
        TUK_FUZZ_CHECK(static_cast<uint64_t>(entry.offset) + entry.size <= size);
        TUK_FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), data + entry.offset));
      }
    }
  }
  for (const std::string& path : made) {
    if (allowed.count(path) == 0) {
      std::fprintf(stderr, "unexpected path below the target: %s\n", path.c_str());
    }
    TUK_FUZZ_CHECK(allowed.count(path) == 1);
  }
  tuk::fuzz::ClearDirectory(tree.target);
  return 0;
}
