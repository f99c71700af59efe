// The dialogue tree is built as a trie of the paths, then written breadth first so that every
// node's children lie together after it.
#include "tools/SoundBank/DialogueWriter.h"

#include <cstring>
#include <map>
#include <memory>

namespace Tools {

namespace {

struct TrieNode {
  uint32_t key = 0;
  const BankDialoguePath* leaf = nullptr;
  std::map<uint32_t, std::unique_ptr<TrieNode>> children;  // sorted by key: the default (0) first
};

template <typename T>
void Put(std::vector<uint8_t>& out, T value) {
  const size_t at = out.size();
  out.resize(at + sizeof value);
  memcpy(out.data() + at, &value, sizeof value);
}

}  // namespace

bool ArgumentTree(const std::vector<BankDialoguePath>& paths, std::vector<BankTreeNode>& tree, std::string& error) {
  TrieNode root;
  for (const BankDialoguePath& path : paths) {
    TrieNode* node = &root;
    for (uint32_t value : path.values) {
      std::unique_ptr<TrieNode>& child = node->children[value];
      if (!child) {
        child = std::make_unique<TrieNode>();
        child->key = value;
      }
      node = child.get();
    }
    if (node->leaf) {
      error = "two paths lead to one leaf";
      return false;
    }
    node->leaf = &path;
  }
  std::vector<const TrieNode*> order{&root};
  std::vector<uint32_t> firstChild{0};
  for (size_t i = 0; i < order.size(); ++i) {
    firstChild.resize(order.size());
    firstChild[i] = uint32_t(order.size());
    for (const auto& [key, child] : order[i]->children) order.push_back(child.get());
  }
  if (order.size() > 0xFFFF) {
    error = "the tree has more nodes than a 16-bit index reaches";
    return false;
  }
  tree.clear();
  for (size_t i = 0; i < order.size(); ++i)
    tree.push_back({order[i]->key, order[i]->leaf, uint16_t(firstChild[i]), uint16_t(order[i]->children.size())});
  return true;
}

bool DialogueEventPayload(const BankDialogueEvent& event, std::vector<uint8_t>& payload, std::string& error) {
  std::vector<BankTreeNode> tree;
  if (!ArgumentTree(event.paths, tree, error)) return false;
  payload.clear();
  Put(payload, event.id);
  Put(payload, event.probability);
  Put(payload, uint32_t(event.groups.size()));
  for (uint32_t group : event.groups) {
    Put(payload, group);
    Put(payload, uint8_t(0));  // group type: switch
  }
  Put(payload, uint32_t(event.paths.empty() ? 0 : tree.size() * 12));
  Put(payload, event.mode);
  if (event.paths.empty()) return true;
  for (const BankTreeNode& node : tree) {
    Put(payload, node.key);
    if (node.leaf) {
      Put(payload, node.leaf->audioNode);
      Put(payload, node.leaf->weight);
      Put(payload, node.leaf->probability);
    } else {
      Put(payload, uint32_t(node.firstChild) | uint32_t(node.childCount) << 16);
      Put(payload, uint16_t(100));
      Put(payload, uint16_t(100));
    }
  }
  return true;
}

}  // namespace Tools
