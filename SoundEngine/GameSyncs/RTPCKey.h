// The scope of a game-parameter or switch value (game object, playing id, MIDI target, channel, note,
// playback instance) and the tree that stores values by scope and answers with the best match.
#pragma once

#include <cstdint>

#include "Base/Assert.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

class CSnRegisteredObj;
class CSnPlaybackInstance;

struct SnRTPCKey {
  CSnRegisteredObj* gameObject = nullptr;  // null: any
  uint32_t playingId = 0;                  // 0: any
  uint32_t midiTargetId = 0;               // 0: any
  uint32_t midiChannel = 255;              // 255: any
  uint32_t midiNote = 255;                 // 255: any
  CSnPlaybackInstance* playbackInstance = nullptr;  // null: any

  static constexpr uint32_t kLevels = 6;

  static SnRTPCKey ForObject(CSnRegisteredObj* object) {
    SnRTPCKey key;
    key.gameObject = object;
    return key;
  }
  static SnRTPCKey ForObjectAndPlayingId(CSnRegisteredObj* object, uint32_t playingId) {
    SnRTPCKey key = ForObject(object);
    key.playingId = playingId;
    return key;
  }

  uint64_t Field(uint32_t level) const {
    switch (level) {
      case 0: return uint64_t(reinterpret_cast<uintptr_t>(gameObject));
      case 1: return playingId;
      case 2: return midiTargetId;
      case 3: return midiChannel;
      case 4: return midiNote;
      default: return uint64_t(reinterpret_cast<uintptr_t>(playbackInstance));
    }
  }
  static uint64_t Wildcard(uint32_t level) { return level == 3 || level == 4 ? 255 : 0; }
  bool IsWildcard(uint32_t level) const { return Field(level) == Wildcard(level); }
  void MakeWildcard(uint32_t level) {
    switch (level) {
      case 0: gameObject = nullptr; break;
      case 1: playingId = 0; break;
      case 2: midiTargetId = 0; break;
      case 3: midiChannel = 255; break;
      case 4: midiNote = 255; break;
      default: playbackInstance = nullptr; break;
    }
  }
  // Levels from `level` on are all wildcards.
  bool WildcardFrom(uint32_t level) const {
    for (uint32_t l = level; l < kLevels; ++l)
      if (!IsWildcard(l)) return false;
    return true;
  }
  bool IsGlobal() const { return WildcardFrom(0); }
  // Every specific field of `pattern` equals the same field here.
  bool Matches(const SnRTPCKey& pattern) const {
    for (uint32_t l = 0; l < kLevels; ++l)
      if (!pattern.IsWildcard(l) && pattern.Field(l) != Field(l)) return false;
    return true;
  }
  bool operator==(const SnRTPCKey& other) const {
    for (uint32_t l = 0; l < kLevels; ++l)
      if (Field(l) != other.Field(l)) return false;
    return true;
  }
};

// Values by scope. A key is stored at the node of its last specific field, earlier wildcard fields
// taking the wildcard child. Nodes come from the default pool; every failure leaves the tree intact.
template <typename T>
class SnRTPCKeyTree {
  struct Node;
  struct Child {
    uint64_t field;
    Node* node;
  };
  struct Node {
    T value{};
    bool hasValue = false;
    SnArray<Child> children;
    bool Empty() const { return !hasValue && children.Count() == 0; }
  };

 public:
  SnRTPCKeyTree() = default;
  SnRTPCKeyTree(const SnRTPCKeyTree&) = delete;
  SnRTPCKeyTree& operator=(const SnRTPCKeyTree&) = delete;
  ~SnRTPCKeyTree() { Clear(); }

  // The value stored for exactly this key.
  T* FindExact(const SnRTPCKey& key) {
    Node* node = &m_root;
    const uint32_t depth = Depth(key);
    for (uint32_t level = 0; level < depth && node; ++level) node = FindChild(*node, key.Field(level));
    return node && node->hasValue ? &node->value : nullptr;
  }

  // The best match without backtracking; `key` is rewritten to the scope of the value found.
  T* FindBest(SnRTPCKey& key) {
    Node* found = Best(m_root, 0, key);
    return found ? &found->value : nullptr;
  }

  // The value of the nearest stored ancestor scope of `key` (not the key itself).
  T* FindInherited(const SnRTPCKey& key) {
    const uint32_t depth = Depth(key);
    Node* node = &m_root;
    T* inherited = nullptr;
    for (uint32_t level = 0; level < depth && node; ++level) {
      if (node->hasValue) inherited = &node->value;
      node = FindChild(*node, key.Field(level));
    }
    return inherited;
  }

  bool Set(const SnRTPCKey& key, const T& value) {
    Node* node = &m_root;
    const uint32_t depth = Depth(key);
    Node* created = nullptr;
    Node* createdParent = nullptr;
    for (uint32_t level = 0; level < depth; ++level) {
      const uint64_t field = key.Field(level);
      Node* child = FindChild(*node, field);
      if (!child) {
        child = AddChild(*node, field);
        if (!child) {
          if (created) RemoveChild(*createdParent, created);
          return false;
        }
        if (!created) {
          created = child;
          createdParent = node;
        }
      }
      node = child;
    }
    node->value = value;
    node->hasValue = true;
    return true;
  }

  // Removes the exact key's value and the nodes it leaves empty.
  bool Erase(const SnRTPCKey& key) {
    Node* path[SnRTPCKey::kLevels + 1] = {&m_root};
    const uint32_t depth = Depth(key);
    for (uint32_t level = 0; level < depth; ++level) {
      path[level + 1] = FindChild(*path[level], key.Field(level));
      if (!path[level + 1]) return false;
    }
    if (!path[depth]->hasValue) return false;
    path[depth]->hasValue = false;
    for (uint32_t level = depth; level > 0 && path[level]->Empty(); --level) RemoveChild(*path[level - 1], path[level]);
    return true;
  }

  // Removes every value whose key matches `pattern`.
  void EraseMatching(const SnRTPCKey& pattern) { EraseMatchingIn(m_root, 0, pattern); }

  void Clear() {
    for (Child& child : m_root.children) DestroyNode(child.node);
    m_root.children.Term();
    m_root.hasValue = false;
  }
  bool IsEmpty() const { return m_root.Empty(); }

  // Visits every stored value with its key.
  template <typename Visit>
  void ForEach(Visit&& visit) {
    SnRTPCKey key;
    Walk(m_root, 0, key, visit);
  }

 private:
  static uint32_t Depth(const SnRTPCKey& key) {
    uint32_t depth = 0;
    for (uint32_t level = 0; level < SnRTPCKey::kLevels; ++level)
      if (!key.IsWildcard(level)) depth = level + 1;
    return depth;
  }

  static Node* FindChild(Node& node, uint64_t field) {
    uint32_t lo = 0, hi = node.children.Count();
    while (lo < hi) {
      const uint32_t mid = (lo + hi) / 2;
      const uint64_t f = node.children[mid].field;
      if (f == field) return node.children[mid].node;
      if (f < field) lo = mid + 1; else hi = mid;
    }
    return nullptr;
  }
  static Node* AddChild(Node& node, uint64_t field) {
    uint32_t index = 0;
    while (index < node.children.Count() && node.children[index].field < field) ++index;
    Node* child = PoolNew<Node>(g_DefaultPoolId);
    if (!child) return nullptr;
    if (!node.children.InsertAt(index, Child{field, child})) {
      PoolDelete(g_DefaultPoolId, child);
      return nullptr;
    }
    return child;
  }
  static void RemoveChild(Node& node, Node* child) {
    for (uint32_t i = 0; i < node.children.Count(); ++i) {
      if (node.children[i].node == child) {
        node.children.RemoveAt(i);
        break;
      }
    }
    DestroyNode(child);
  }
  static void DestroyNode(Node* node) {
    for (Child& child : node->children) DestroyNode(child.node);
    PoolDelete(g_DefaultPoolId, node);
  }

  static Node* Best(Node& node, uint32_t level, SnRTPCKey& key) {
    if (level == SnRTPCKey::kLevels || key.WildcardFrom(level)) return node.hasValue ? &node : nullptr;
    Node* child = FindChild(node, key.Field(level));
    if (!child && !key.IsWildcard(level)) {
      key.MakeWildcard(level);
      child = FindChild(node, key.Field(level));
    }
    if (child)
      if (Node* found = Best(*child, level + 1, key)) return found;
    for (uint32_t l = level; l < SnRTPCKey::kLevels; ++l) key.MakeWildcard(l);
    return node.hasValue ? &node : nullptr;
  }

  static void EraseMatchingIn(Node& node, uint32_t level, const SnRTPCKey& pattern) {
    if (pattern.WildcardFrom(level)) {
      node.hasValue = false;
      for (Child& child : node.children) DestroyNode(child.node);
      node.children.Term();
      return;
    }
    for (uint32_t i = 0; i < node.children.Count();) {
      Child child = node.children[i];
      if (!pattern.IsWildcard(level) && child.field != pattern.Field(level)) {
        ++i;
        continue;
      }
      EraseMatchingIn(*child.node, level + 1, pattern);
      if (child.node->Empty()) {
        node.children.RemoveAt(i);
        DestroyNode(child.node);
      } else {
        ++i;
      }
    }
  }

  template <typename Visit>
  static void Walk(Node& node, uint32_t level, SnRTPCKey& key, Visit& visit) {
    if (node.hasValue) visit(key, node.value);
    if (level == SnRTPCKey::kLevels) return;
    for (Child& child : node.children) {
      SetField(key, level, child.field);
      Walk(*child.node, level + 1, key, visit);
    }
    key.MakeWildcard(level);
  }
  static void SetField(SnRTPCKey& key, uint32_t level, uint64_t field) {
    switch (level) {
      case 0: key.gameObject = reinterpret_cast<CSnRegisteredObj*>(uintptr_t(field)); break;
      case 1: key.playingId = uint32_t(field); break;
      case 2: key.midiTargetId = uint32_t(field); break;
      case 3: key.midiChannel = uint32_t(field); break;
      case 4: key.midiNote = uint32_t(field); break;
      default: key.playbackInstance = reinterpret_cast<CSnPlaybackInstance*>(uintptr_t(field)); break;
    }
  }

  Node m_root;
};

}  // namespace SN
