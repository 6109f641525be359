#include "tuk/archive_tree.h"

#include <algorithm>

namespace tuk {

std::string ArchiveTree::Key(uint32_t parent, std::string_view name) {
  std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
  key.append(name.data(), name.size());
  return key;
}

std::optional<uint32_t> ArchiveTree::Child(uint32_t parent, std::string_view name) const {
  const auto found = byName_.find(Key(parent, name));
  if (found == byName_.end()) return std::nullopt;
  return found->second;
}

uint32_t ArchiveTree::Add(uint32_t parent, std::string_view name, bool directory,
                          size_t entry) {
  const auto node = static_cast<uint32_t>(nodes_.size());
  TreeNode added;
  added.name = std::string(name);
  added.parent = parent;
  added.directory = directory;
  added.entry = entry;
  nodes_.push_back(std::move(added));
  nodes_[parent].children.push_back(node);
  if (directory) ++nodes_[parent].subdirectories;
  byName_.emplace(Key(parent, name), node);
  return node;
}

ArchiveTree ArchiveTree::Build(const Index& index, std::vector<std::string>& leftOut) {
  ArchiveTree tree;
  tree.nodes_.emplace_back();
  tree.nodes_[kRoot].directory = true;

  for (size_t i = 0; i < index.size(); ++i) {
    const std::string& name = index[i].name;
    if (!IsSafeName(name)) {
      leftOut.push_back(name + ": unsafe name (absolute, or with a \"..\" component)");
      continue;
    }
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t at = 0; at <= name.size(); ++at) {
      if (at < name.size() && name[at] != '/' && name[at] != '\\') continue;
      const std::string_view part(name.data() + start, at - start);
      if (!part.empty() && part != ".") parts.push_back(part);
      start = at + 1;
    }
    const char last = name.empty() ? '/' : name.back();
    if (parts.empty() || last == '/' || last == '\\' || parts.back() == ".") {
      leftOut.push_back(name + ": names no file");
      continue;
    }

    uint32_t directory = kRoot;
    bool clash = false;
    for (size_t p = 0; p + 1 < parts.size() && !clash; ++p) {
      const std::optional<uint32_t> child = tree.Child(directory, parts[p]);
      if (!child) {
        directory = tree.Add(directory, parts[p], true, 0);
      } else if (tree.nodes_[*child].directory) {
        directory = *child;
      } else {
        clash = true;
      }
    }
    if (!clash) {
      const std::optional<uint32_t> existing = tree.Child(directory, parts.back());
      if (!existing) {
        tree.Add(directory, parts.back(), false, i);
      } else if (!tree.nodes_[*existing].directory) {
        tree.nodes_[*existing].entry = i;  // the later entry wins, as in extraction
      } else {
        clash = true;
      }
    }
    if (clash) leftOut.push_back(name + ": clashes with a file or directory of an earlier entry");
  }

  for (TreeNode& node : tree.nodes_) {
    std::sort(node.children.begin(), node.children.end(),
              [&](uint32_t a, uint32_t b) { return tree.nodes_[a].name < tree.nodes_[b].name; });
  }
  return tree;
}

}  // namespace tuk
