// The random/sequence and switch containers: their bank blocks, and the switch container's
// preparation of the children its prepared values select.
#include "MusicEngine/MusicContainers.h"

#include <cstring>

#include "MusicEngine/MusicPlaylistContext.h"
#include "MusicEngine/MusicSwitchContext.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PlayParams.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

// ---- random/sequence container ----

SNRESULT CSnMusicPlaylistContainer::ReadBankData(const uint8_t* data, uint32_t size) {
  SnMusicReader in(ID(), data, size);
  SNRESULT result = ReadTransitionParams(in);
  if (result != SN_Success) return result;
  m_root.Clear();
  uint32_t count = 0;
  if (!in.Read(count, "playlist record count")) return SN_Failure;
  if (!count) return SN_Success;
  if (!in.Holds(count, kMusicPlaylistRecordBytes, "playlist records")) return SN_Failure;
  const uint8_t* records = in.Take(count * kMusicPlaylistRecordBytes, "playlist records");
  const SnMusicPlaylistRecord root = PlaylistRecordAt(records);
  m_root.Take(root);
  uint32_t at = 1;
  result = m_root.Build(records, count, at, root.childCount, 1);
  if (result != SN_Success) {
    SOUND_LOG(Error, "Music container %u: its playlist could not be built", ID());
    m_root.Clear();
  }
  return result;
}

CSnMatrixAwareContext* CSnMusicPlaylistContainer::CreateContext(CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                                                                const CSnPlayParams& params) {
  return CSnMusicPlaylistContext::Create(this, parent, gameObject, params);
}

SNRESULT CSnMusicPlaylistContainer::PlayNode(CSnPlayParams& params) {
  CSnMusicPlaylistContext* context = CSnMusicPlaylistContext::Create(this, nullptr, params.gameObject, params);
  // Its look-ahead made, the step-mode choices are final.
  if (!context) {
    SOUND_LOG(Error, "Music container %u cannot be played", ID());
    return SN_Failure;
  }
  context->Commit();
  return context->PlayAsRoot(nullptr, params);
}

// ---- switch container ----

namespace {
struct TreeNode {
  uint32_t key;
  uint32_t idOrChildren;  // a leaf's child id; an inner node's first child (low half) and count
};

TreeNode NodeAt(const uint8_t* tree, uint32_t index) {
  TreeNode node;
  memcpy(&node.key, tree + size_t(index) * CSnMusicSwitchContainer::kTreeNodeBytes, sizeof node.key);
  memcpy(&node.idOrChildren, tree + size_t(index) * CSnMusicSwitchContainer::kTreeNodeBytes + 4,
         sizeof node.idOrChildren);
  return node;
}
}  // namespace

CSnMusicSwitchContainer::~CSnMusicSwitchContainer() {
  if (m_preparations && g_pStateMgr) g_pStateMgr->RemovePreparedListener(GroupType(), m_groupIds[0], this);
  FreeArguments();
}

void CSnMusicSwitchContainer::FreeArguments() {
  for (void* block : {static_cast<void*>(m_groupIds), static_cast<void*>(m_tree)})
    if (block) MemoryMgr::Free(g_DefaultPoolId, block);
  m_groupIds = nullptr;
  m_groupTypes = nullptr;
  m_tree = nullptr;
  m_treeBytes = 0;
  m_argumentCount = 0;
}

SNRESULT CSnMusicSwitchContainer::ReadBankData(const uint8_t* data, uint32_t size) {
  SnMusicReader in(ID(), data, size);
  SNRESULT result = ReadTransitionParams(in);
  if (result != SN_Success) return result;
  uint8_t continuePlaying = 0;
  uint32_t count = 0;
  if (!in.Read(continuePlaying, "continue flag") || !in.Read(count, "argument count")) return SN_Failure;
  if (!in.Holds(count, sizeof(uint32_t) + sizeof(uint8_t), "arguments")) return SN_Failure;
  m_continuePlaying = continuePlaying != 0;
  FreeArguments();
  if (count) {
    // One block: the ids, then a byte of type each.
    m_groupIds = static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, (sizeof(uint32_t) + 1) * count));
    if (!m_groupIds) return SN_InsufficientMemory;
    m_groupTypes = reinterpret_cast<uint8_t*>(m_groupIds + count);
    memcpy(m_groupIds, in.Take(sizeof(uint32_t) * count, "argument groups"), sizeof(uint32_t) * count);
    memcpy(m_groupTypes, in.Take(count, "argument types"), count);
  }
  m_argumentCount = count;
  uint32_t treeBytes = 0;
  if (!in.Read(treeBytes, "tree size") || !in.Read(m_treeMode, "tree mode")) return SN_Failure;
  const uint8_t* tree = in.Take(treeBytes, "decision tree");
  if (!tree) return SN_Failure;
  if (treeBytes % kTreeNodeBytes) {
    SOUND_LOG(Error, "Music switch %u: a tree of %u bytes is not whole nodes", ID(), treeBytes);
    return SN_Failure;
  }
  if (treeBytes) {
    m_tree = static_cast<uint8_t*>(MemoryMgr::Malloc(g_DefaultPoolId, treeBytes));
    if (!m_tree) return SN_InsufficientMemory;
    memcpy(m_tree, tree, treeBytes);
    m_treeBytes = treeBytes;
  }
  if (!TreeHolds(treeBytes / kTreeNodeBytes, count)) {
    SOUND_LOG(Error, "Music switch %u: its tree does not hold paths of %u arguments", ID(), count);
    return SN_Failure;
  }
  return SN_Success;
}

bool CSnMusicSwitchContainer::TreeHolds(uint32_t nodeCount, uint32_t depth) const {
  if (!nodeCount) return true;  // nothing resolves
  // Levels by node: children lie after their parent and no node has two parents, so one pass in
  // index order checks the whole tree and visits each node once.
  constexpr uint32_t kUnreached = 0xFFFFFFFFu;
  constexpr uint32_t kLocalNodes = 64;
  uint32_t local[kLocalNodes];
  auto* levels = nodeCount <= kLocalNodes
                     ? local
                     : static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(uint32_t) * nodeCount));
  if (!levels) return false;
  for (uint32_t i = 0; i < nodeCount; ++i) levels[i] = kUnreached;
  levels[0] = 0;
  bool holds = true;
  for (uint32_t i = 0; i < nodeCount && holds; ++i) {
    if (levels[i] == kUnreached || levels[i] >= depth) continue;
    const TreeNode node = NodeAt(m_tree, i);
    const uint32_t first = node.idOrChildren & 0xFFFF, children = node.idOrChildren >> 16;
    if (children && (first <= i || uint64_t(first) + children > nodeCount)) {
      holds = false;
      break;
    }
    for (uint32_t c = first; c < first + children; ++c) {
      if (levels[c] != kUnreached) {
        holds = false;
        break;
      }
      levels[c] = levels[i] + 1;
    }
  }
  if (levels != local) MemoryMgr::Free(g_DefaultPoolId, levels);
  return holds;
}

uint32_t CSnMusicSwitchContainer::ResolvePath(const uint32_t* values, uint32_t count, bool fallBack) const {
  if (count != m_argumentCount || !count || !m_treeBytes) return 0;
  TreeNode node = NodeAt(m_tree, 0);
  for (uint32_t level = 0; level < count; ++level) {
    const uint32_t first = node.idOrChildren & 0xFFFF, children = node.idOrChildren >> 16;
    bool found = false;
    TreeNode fallback{0, 0};
    bool hasFallback = false;
    for (uint32_t c = first; c < first + children && !found; ++c) {
      const TreeNode child = NodeAt(m_tree, c);
      if (child.key == values[level]) {
        node = child;
        found = true;
      } else if (fallBack && child.key == 0 && !hasFallback) {
        fallback = child;
        hasFallback = true;
      }
    }
    if (!found && !hasFallback) return 0;
    if (!found) node = fallback;
  }
  return node.idOrChildren;
}

bool CSnMusicSwitchContainer::CollectFirstLevel(SnArray<SnMusicSwitchPath>& paths) const {
  if (m_argumentCount != 1) return false;
  if (!m_treeBytes) return true;
  const TreeNode root = NodeAt(m_tree, 0);
  const uint32_t first = root.idOrChildren & 0xFFFF, children = root.idOrChildren >> 16;
  for (uint32_t c = first; c < first + children; ++c) {
    const TreeNode node = NodeAt(m_tree, c);
    bool replaced = false;
    for (SnMusicSwitchPath& path : paths)
      if (path.value == node.key) {
        path.childId = node.idOrChildren;
        replaced = true;
      }
    if (!replaced && !paths.Add({node.key, node.idOrChildren})) return false;
  }
  return true;
}

CSnMatrixAwareContext* CSnMusicSwitchContainer::CreateContext(CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                                                              const CSnPlayParams& params) {
  return CSnMusicSwitchContext::Create(this, parent, gameObject, params);
}

SNRESULT CSnMusicSwitchContainer::PlayNode(CSnPlayParams& params) {
  CSnMusicSwitchContext* context = CSnMusicSwitchContext::Create(this, nullptr, params.gameObject, params);
  if (!context) {
    SOUND_LOG(Error, "Music container %u cannot be played", ID());
    return SN_Failure;
  }
  return context->PlayAsRoot(nullptr, params);
}

// ---- preparation ----

bool CSnMusicSwitchContainer::PreparesBySync() const {
  return SoundEngine::IsInitialized() && SoundEngine::Settings().gameSyncPreparation && m_argumentCount == 1 &&
         g_pStateMgr;
}

bool CSnMusicSwitchContainer::SelectedChildren(SnArray<uint32_t>& children) const {
  SnArray<SnMusicSwitchPath> paths;
  if (!CollectFirstLevel(paths)) return false;
  for (const SnMusicSwitchPath& path : paths) {
    const bool selected =
        path.value == 0 || g_pStateMgr->IsGameSyncValuePrepared(GroupType(), m_groupIds[0], path.value);
    if (selected && path.childId && children.IndexOf(path.childId) < 0 && !children.Add(path.childId)) return false;
  }
  return true;
}

SNRESULT CSnMusicSwitchContainer::PrepareData() {
  if (!PreparesBySync()) return CSnMusicTransitionAwareNode::PrepareData();
  if (m_preparations) {
    ++m_preparations;
    return SN_Success;
  }
  SNRESULT result = PrepareMusicDependencies();
  if (result != SN_Success) return result;
  // Without a record of the group nothing can say which values are prepared; a record without
  // values still prepares the default path.
  if (!g_pStateMgr->GetPreparedGameSyncGroup(m_groupIds[0], GroupType())) {
    UnprepareMusicDependencies();
    return SN_InsufficientMemory;
  }
  SnArray<uint32_t> children;
  if (!SelectedChildren(children)) {
    UnprepareMusicDependencies();
    return SN_InsufficientMemory;
  }
  for (uint32_t i = 0; i < children.Count(); ++i) {
    result = PrepareNodeData(children[i]);
    if (result != SN_Success) {
      // Every child this call prepared goes again, the default one too.
      while (i--) UnprepareNodeData(children[i]);
      UnprepareMusicDependencies();
      return result;
    }
  }
  result = g_pStateMgr->AddPreparedListener(GroupType(), m_groupIds[0], this);
  if (result != SN_Success) {
    for (uint32_t child : children) UnprepareNodeData(child);
    UnprepareMusicDependencies();
    return result;
  }
  m_preparations = 1;
  return SN_Success;
}

void CSnMusicSwitchContainer::UnprepareData() {
  // Prepared by its game-sync values, it lets go by them too, also at Term, where the engine no
  // longer counts as initialised. While the values drive preparation, one never prepared holds nothing.
  if (!m_preparations) {
    if (!PreparesBySync()) CSnMusicTransitionAwareNode::UnprepareData();
    return;
  }
  if (--m_preparations) return;
  g_pStateMgr->RemovePreparedListener(GroupType(), m_groupIds[0], this);
  SnArray<uint32_t> children;
  SelectedChildren(children);
  for (uint32_t child : children) UnprepareNodeData(child);
  UnprepareMusicDependencies();
}

SNRESULT CSnMusicSwitchContainer::PrepareGameSyncValue(uint32_t valueId, bool prepare) {
  if (!m_preparations || m_argumentCount != 1) return SN_Success;
  const uint32_t child = ResolveSingleArgument(valueId);
  if (!child) return SN_Success;
  if (prepare) return PrepareNodeData(child);
  UnprepareNodeData(child);
  return SN_Success;
}

}  // namespace SN
