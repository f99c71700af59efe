// The continuous play-list and its items.
#include "SoundEngine/Actions/ContinuousPlaylist.h"

#include <cstring>

#include "Base/Assert.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Lower/Voices/ContinuousPlayback.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

void CSnContinuousPlaylistItem::Init() {
  node = nullptr;
  state = nullptr;
  loopCount = 0;
  flags = 0;
  owningContainer = nullptr;
  useKey = 0;
}

void CSnContinuousPlaylistItem::Term() {
  if (state) state->Destroy();
  if (owningContainer) {
    // A nested level let go before its branch played out still holds a use of its owner's.
    auto* owner = useKey ? dynamic_cast<ISnPlaylistUseOwner*>(owningContainer) : nullptr;
    if (owner) owner->GiveBackPlaylistUse(useKey);
    owningContainer->Release();
  }
  if (node) node->Release();
  Init();
}

SNRESULT CSnContinuousPlaylistItem::Assign(const CSnContinuousPlaylistItem& other) {
  if (&other == this) return SN_Success;
  Term();
  if (other.state) {
    state = other.state->Clone(other.node);
    if (!state) return SN_InsufficientMemory;
  }
  node = other.node;
  if (node) node->AddRef();
  owningContainer = other.owningContainer;
  if (owningContainer) owningContainer->AddRef();
  loopCount = other.loopCount;
  flags = uint8_t(other.flags & 3);
  useKey = other.useKey;
  return SN_Success;
}

CSnContinuousPlaylist* CSnContinuousPlaylist::Create() { return PoolNew<CSnContinuousPlaylist>(g_DefaultPoolId); }

CSnContinuousPlaylist::~CSnContinuousPlaylist() {
  while (m_count) Pop();
  if (m_items) MemoryMgr::Free(g_DefaultPoolId, m_items);
}

void CSnContinuousPlaylist::Release() {
  ORV_ASSERT(m_refCount > 0);
  if (--m_refCount == 0) PoolDelete(g_DefaultPoolId, this);
}

SNRESULT CSnContinuousPlaylist::Push(const CSnContinuousPlaylistItem& item) {
  if (m_count == m_capacity) {
    const uint32_t capacity = m_capacity ? m_capacity * 2 : 4;
    auto* grown = static_cast<CSnContinuousPlaylistItem*>(
        MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CSnContinuousPlaylistItem) * capacity));
    if (!grown) return SN_InsufficientMemory;
    if (m_count) memcpy(static_cast<void*>(grown), m_items, sizeof(CSnContinuousPlaylistItem) * m_count);
    if (m_items) MemoryMgr::Free(g_DefaultPoolId, m_items);
    m_items = grown;
    m_capacity = capacity;
  }
  CSnContinuousPlaylistItem& top = m_items[m_count];
  top.Init();
  const SNRESULT result = top.Assign(item);
  if (result != SN_Success) return result;
  ++m_count;
  return SN_Success;
}

void CSnContinuousPlaylist::Pop() {
  if (m_count) m_items[--m_count].Term();
}

}  // namespace SN
