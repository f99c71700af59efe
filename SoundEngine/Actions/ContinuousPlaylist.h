// The shared play-list of a continuous performance: the container levels still to be continued, each
// with its node, the container's own iteration state and loop count. Reference counted; audio thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class CSnHierarchyNode;

// A container's iteration state at one level (its position, its random history), owned by the item.
class ISnContinuationState {
 public:
  virtual ~ISnContinuationState() = default;
  // A copy for the item of `node`; null without memory.
  virtual ISnContinuationState* Clone(CSnHierarchyNode* node) const = 0;
  // Destroys the state and gives its memory back to where it came from.
  virtual void Destroy() = 0;
};

struct CSnContinuousPlaylistItem {
  CSnHierarchyNode* node;             // referenced
  ISnContinuationState* state;        // owned
  uint16_t loopCount;
  uint8_t flags;                      // two bits
  CSnHierarchyNode* owningContainer;  // referenced; null for a plain random or sequence level
  uint32_t useKey;

  void Init();
  // Gives back the node, the state and the owning container (with the use it holds, when any).
  void Term();
  // Becomes a copy of `other`: references taken, the state cloned for the node. SN_InsufficientMemory
  // when the state cannot be cloned (the item is then empty).
  SNRESULT Assign(const CSnContinuousPlaylistItem& other);
};

class CSnContinuousPlaylist {
 public:
  // An empty play-list with one reference, from the default pool; null without memory.
  static CSnContinuousPlaylist* Create();
  void AddRef() { ++m_refCount; }
  // The last release releases every item and frees the list.
  void Release();

  // A copy of `item` on top of the list; SN_InsufficientMemory when it cannot grow.
  SNRESULT Push(const CSnContinuousPlaylistItem& item);
  // Releases the top item; nothing when empty.
  void Pop();
  uint32_t Count() const { return m_count; }
  CSnContinuousPlaylistItem& At(uint32_t index) { return m_items[index]; }
  const CSnContinuousPlaylistItem& At(uint32_t index) const { return m_items[index]; }
  uint32_t RefCount() const { return m_refCount; }

  // Made by Create, destroyed by the last Release.
  CSnContinuousPlaylist() = default;
  ~CSnContinuousPlaylist();
  CSnContinuousPlaylist(const CSnContinuousPlaylist&) = delete;
  CSnContinuousPlaylist& operator=(const CSnContinuousPlaylist&) = delete;

 private:
  CSnContinuousPlaylistItem* m_items = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
  uint32_t m_refCount = 1;
};

}  // namespace SN
