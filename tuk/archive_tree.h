// The directory tree an archive's entry names imply, as extraction on this
// system would lay it out: '/' and '\' separate components, empty and "."
// components add nothing, the later of two entries with the same name wins,
// and names extraction refuses or could not make are left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tuk/index.h"

namespace tuk {

struct TreeNode {
  std::string name;       // its last component; "" for the root
  uint32_t parent = 0;    // the root is its own parent
  bool directory = false;
  size_t entry = 0;       // a file: the index entry whose bytes it shows
  uint32_t subdirectories = 0;
  std::vector<uint32_t> children;  // a directory: its nodes, by name
};

class ArchiveTree {
 public:
  static constexpr uint32_t kRoot = 0;

  // The tree of index's entries. Each entry left out is described in one
  // line of leftOut: unsafe names (absolute, with a ".." component or a
  // NUL), names with no file component, and names that clash with a file
  // or directory an earlier entry made (extraction could not make them).
  static ArchiveTree Build(const Index& index, std::vector<std::string>& leftOut);

  size_t size() const { return nodes_.size(); }
  const TreeNode& operator[](uint32_t node) const { return nodes_[node]; }
  // The node called name in directory parent.
  std::optional<uint32_t> Child(uint32_t parent, std::string_view name) const;

 private:
  static std::string Key(uint32_t parent, std::string_view name);
  uint32_t Add(uint32_t parent, std::string_view name, bool directory, size_t entry);

  std::vector<TreeNode> nodes_;
  std::unordered_map<std::string, uint32_t> byName_;  // Key(parent, name) -> node
};

}  // namespace tuk
