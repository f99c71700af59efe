// The path manager and the paths' bookkeeping: users, holders, play lists, saved states and the
// played-list records; the motion along the vertices is the voice pipeline's.
#include "SoundEngine/GameSyncs/PathMgr.h"

#include <cstring>

#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Lower/Spatial/PathMotion.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnPathMgr* g_pPathMgr = nullptr;

namespace LowerEngine {
namespace {
ISnPathMotion*& InstalledMotion() {
  static ISnPathMotion* motion = nullptr;
  return motion;
}
}  // namespace
void InstallPathMotion(ISnPathMotion* motion) { InstalledMotion() = motion; }
ISnPathMotion* PathMotion() { return InstalledMotion(); }
}  // namespace LowerEngine

namespace {
constexpr uint32_t kDefaultMaximum = 255;
constexpr uint32_t kUserGrowth = 8;
}  // namespace

SnPathPlayedList* CreatePlayedList(uint32_t listCount) {
  auto* record = static_cast<SnPathPlayedList*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnPathPlayedList)));
  if (!record) return nullptr;
  record->played = listCount ? static_cast<uint8_t*>(MemoryMgr::Malloc(g_DefaultPoolId, listCount)) : nullptr;
  if (listCount && !record->played) {
    MemoryMgr::Free(g_DefaultPoolId, record);
    return nullptr;
  }
  if (listCount) memset(record->played, 0, listCount);
  record->refCount = 1;
  record->count = listCount;
  return record;
}

void AddRefPlayedList(SnPathPlayedList* record) {
  if (record) ++record->refCount;
}

void ReleasePlayedList(SnPathPlayedList* record) {
  if (!record || --record->refCount) return;
  if (record->played) MemoryMgr::Free(g_DefaultPoolId, record->played);
  MemoryMgr::Free(g_DefaultPoolId, record);
}

void ResetPathState(SnPathSavedState& state) {
  ReleasePlayedList(state.playedList);
  state.playedList = nullptr;
  state.listIndex = 0;
}

CSnPositionPath::~CSnPositionPath() {
  ReleasePlayedList(m_pPlayedList);
  m_users.Term();
  // Last: it may be the last reference on what the lists live in.
  HoldListsOwner(nullptr);
}

void CSnPositionPath::HoldListsOwner(CSnRefCountedObject* owner) {
  if (owner == m_pListsOwner) return;
  if (owner) owner->AddRef();
  CSnRefCountedObject* old = m_pListsOwner;
  m_pListsOwner = owner;
  if (old) old->Release();
}

SNRESULT CSnPositionPath::SetPlayList(const SnPathListItem* lists, uint32_t listCount, uint32_t modeFlags,
                                      uint8_t flags, SnPathSavedState* savedState) {
  if (!lists || listCount == 0) return SN_InvalidParameter;
  if (m_state != SnPathState_Idle) return SN_Failure;
  m_pLists = lists;
  m_listCount = listCount;
  m_modeFlags = modeFlags;
  m_flags = flags;
  m_listIndex = 0;
  m_pSavedState = nullptr;
  if (savedState && savedState->playedList) {
    // Lists played before stay played; the motion makes a fresh record (and picks) only without one.
    AssignPlayedList(savedState->playedList);
    m_listIndex = savedState->listIndex < listCount ? savedState->listIndex : 0;
  } else {
    AssignPlayedList(nullptr);
  }
  m_pCurrentList = lists + m_listIndex;
  ISnPathMotion* motion = LowerEngine::PathMotion();
  m_prepared = motion ? motion->Prepare(*this) : true;
  return m_prepared ? SN_Success : SN_Failure;
}

SNRESULT CSnPositionPath::PlayFromSavedState(SnPathSavedState* savedState) {
  if (m_state != SnPathState_Idle) return SN_Failure;
  if (!m_prepared) {
    Terminate();
    return SN_Failure;
  }
  if (savedState && savedState->playedList) {
    // The saved state's reference moves to the path.
    ReleasePlayedList(m_pPlayedList);
    m_pPlayedList = savedState->playedList;
    savedState->playedList = nullptr;
    m_listIndex = savedState->listIndex < m_listCount ? savedState->listIndex : 0;
    m_pCurrentList = m_pLists + m_listIndex;
  }
  m_launchFrame = CurrentAudioFrame();
  m_state = SnPathState_Playing;
  if (ISnPathMotion* motion = LowerEngine::PathMotion()) motion->Launch(*this, m_launchFrame);
  if (savedState && !(m_flags & Flag_DontSaveState)) {
    savedState->listIndex = m_listIndex;
    AddRefPlayedList(m_pPlayedList);
    ReleasePlayedList(savedState->playedList);
    savedState->playedList = m_pPlayedList;
    m_pSavedState = savedState;
  }
  return SN_Success;
}

SNRESULT CSnPositionPath::Pause() {
  if (m_state != SnPathState_Playing) return SN_PathNotPlaying;
  m_state = SnPathState_Paused;
  if (ISnPathMotion* motion = LowerEngine::PathMotion()) motion->Pause(*this, CurrentAudioFrame());
  return SN_Success;
}

SNRESULT CSnPositionPath::Resume() {
  if (m_state != SnPathState_Paused) return SN_PathNotPaused;
  m_state = SnPathState_Playing;
  if (ISnPathMotion* motion = LowerEngine::PathMotion()) motion->Resume(*this, CurrentAudioFrame());
  return SN_Success;
}

void CSnPositionPath::AssignPlayedList(SnPathPlayedList* record) {
  AddRefPlayedList(record);
  ReleasePlayedList(m_pPlayedList);
  m_pPlayedList = record;
}

void CSnPositionPath::Terminate() {
  if (ISnPathMotion* motion = LowerEngine::PathMotion()) motion->Terminate(*this);
  m_state = SnPathState_Idle;
  m_prepared = false;
  m_pSavedState = nullptr;
}

SNRESULT CSnPathMgr::Init(uint32_t maximum) {
  m_maximum = maximum ? maximum : kDefaultMaximum;
  m_pPaths = static_cast<CSnPositionPath**>(
      MemoryMgr::Malign(g_DefaultPoolId, sizeof(CSnPositionPath*) * m_maximum, alignof(CSnPositionPath*)));
  if (!m_pPaths) return SN_InsufficientMemory;
  m_capacity = m_maximum;
  m_count = 0;
  return SN_Success;
}

void CSnPathMgr::Term() {
  while (m_count) {
    CSnPositionPath* path = m_pPaths[--m_count];
    path->Terminate();
    PoolDelete(g_DefaultPoolId, path);
  }
  if (m_pPaths) MemoryMgr::Free(g_DefaultPoolId, m_pPaths);
  m_pPaths = nullptr;
  m_capacity = 0;
}

CSnPositionPath* CSnPathMgr::CreatePath() {
  if (m_count >= m_maximum || m_count >= m_capacity) return nullptr;
  CSnPositionPath* path = PoolNew<CSnPositionPath>(g_DefaultPoolId);
  if (path) m_pPaths[m_count++] = path;
  return path;
}

SNRESULT CSnPathMgr::AddPathUser(CSnPositionPath* path, uint32_t userId) {
  if (path->m_userCount >= CSnPositionPath::kMaxUsers) return SN_Failure;
  if (path->m_users.IndexOf(userId) >= 0 || !path->m_users.Add(userId, kUserGrowth)) return SN_PathUserNotAdded;
  ++path->m_userCount;
  return SN_Success;
}

SNRESULT CSnPathMgr::RemovePathUser(CSnPositionPath* path, uint32_t userId) {
  const int32_t index = path->m_users.IndexOf(userId);
  if (index < 0) return SN_PathUserNotFound;
  const uint32_t last = path->m_users.Count() - 1;
  path->m_users[uint32_t(index)] = path->m_users[last];
  path->m_users.RemoveAt(last);
  --path->m_userCount;
  DeleteIfUnused(path);
  return SN_Success;
}

void CSnPathMgr::ReleasePathHolder(CSnPositionPath* path) {
  if (path->m_holderCount) --path->m_holderCount;
  DeleteIfUnused(path);
}

void CSnPathMgr::DeleteIfUnused(CSnPositionPath* path) {
  if (path->m_holderCount == 0 && path->m_userCount == 0) DeletePath(path);
}

SNRESULT CSnPathMgr::DeletePath(CSnPositionPath* path) {
  for (uint32_t i = 0; i < m_count; ++i) {
    if (m_pPaths[i] != path) continue;
    m_pPaths[i] = m_pPaths[--m_count];
    path->Terminate();
    PoolDelete(g_DefaultPoolId, path);
    return SN_Success;
  }
  return SN_PathNotFound;
}

void CSnPathMgr::ProcessFrame(uint32_t frame) {
  ISnPathMotion* motion = LowerEngine::PathMotion();
  if (!motion) return;
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_pPaths[i]->m_state == SnPathState_Playing) motion->Advance(*m_pPaths[i], frame);
}

}  // namespace SN
