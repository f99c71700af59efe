// Writes dialogue events (HIRC type 15): the argument groups and the decision tree that the paths
// of a description make, laid out as the engine walks it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tools {

struct BankDialoguePath {
  std::vector<uint32_t> values;  // one per argument; 0 is the default branch
  uint32_t audioNode = 0;
  uint16_t weight = 100;
  uint16_t probability = 100;
};

struct BankDialogueEvent {
  uint32_t id = 0;
  uint8_t probability = 100;
  uint8_t mode = 0;  // 0 best match, else weighted
  std::vector<uint32_t> groups;  // one argument group per level
  std::vector<BankDialoguePath> paths;
};

// A node of an argument tree as laid out: a leaf's path, or an inner node's first child and count.
struct BankTreeNode {
  uint32_t key = 0;
  const BankDialoguePath* leaf = nullptr;
  uint16_t firstChild = 0;
  uint16_t childCount = 0;
};

// The tree of the paths (dialogue events and music switches walk the same): levels root first, each
// node's children together, sorted by key (the default, 0, first), after it. False with `error` when two
// paths end at one leaf or the tree needs more nodes than a 16-bit index reaches.
bool ArgumentTree(const std::vector<BankDialoguePath>& paths, std::vector<BankTreeNode>& tree, std::string& error);

// Levels of the tree, root first; each node's children together, sorted by key, after it. False with
// `error` when two paths end at one leaf or the tree needs more nodes than a 16-bit index reaches.
bool DialogueEventPayload(const BankDialogueEvent& event, std::vector<uint8_t>& payload, std::string& error);

}  // namespace Tools
