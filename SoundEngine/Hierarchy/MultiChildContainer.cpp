// Multi-child containers: counted uses of shared continuous play-lists, the branches of a continuous
// play's children, and the performance going on once the last branch has played out.
#include "SoundEngine/Hierarchy/MultiChildContainer.h"

#include <functional>

#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/Log.h"

namespace SN {
namespace {

// A performance whose switch or layer levels keep playing nothing goes on from one to the next
// inside one play: past this many the play gives up rather than the stack.
constexpr uint32_t kMostEmptyLevelsInARow = 64;
uint32_t g_emptyLevelsInARow = 0;

// What the performance of a continuous play carries on (its fades, pause and position), or nothing.
SnContinuousParams CarriedParams(const CSnPlayParams& params) {
  auto* outer = static_cast<ISnPlaybackInstanceCreator*>(params.instanceCreator);
  auto* carried = dynamic_cast<CSnContinuousInstanceCreator*>(outer);
  return carried ? carried->Params() : SnContinuousParams();
}

}  // namespace

CSnMultiChildContainer::~CSnMultiChildContainer() { FreePlaylistUses(); }

void CSnMultiChildContainer::FreePlaylistUses() {
  for (Use& use : m_uses) use.playlist->Release();
  m_uses.Term();
}

CSnContinuousPlaylist* CSnMultiChildContainer::AddPlaylistUse(const CSnPlayParams& params) {
  auto* playlist = static_cast<CSnContinuousPlaylist*>(params.continuousPlaylist);
  if (!playlist) return nullptr;
  uint32_t at = 0;
  while (at < m_uses.Count() && std::less<>()(m_uses[at].playlist, playlist)) ++at;
  if (at < m_uses.Count() && m_uses[at].playlist == playlist) {
    ++m_uses[at].count;
  } else {
    if (++m_lastKey == 0) ++m_lastKey;  // 0 names no use
    if (!m_uses.InsertAt(at, Use{playlist, 1, m_lastKey})) return nullptr;
    playlist->AddRef();
  }
  playlist->AddRef();
  return playlist;
}

CSnContinuousPlaylist* CSnMultiChildContainer::DropUse(uint32_t at) {
  if (--m_uses[at].count != 0) return nullptr;
  CSnContinuousPlaylist* playlist = m_uses[at].playlist;
  m_uses.RemoveAt(at);
  return playlist;
}

SNRESULT CSnMultiChildContainer::ReleasePlaylistUse(CSnContinuousPlaylist* playlist) {
  for (uint32_t i = 0; i < m_uses.Count(); ++i) {
    if (m_uses[i].playlist != playlist) continue;
    if (CSnContinuousPlaylist* last = DropUse(i)) last->Release();
    break;
  }
  return SN_Success;
}

uint32_t CSnMultiChildContainer::PlaylistUses(const CSnContinuousPlaylist* playlist) const {
  for (const Use& use : const_cast<SnArray<Use>&>(m_uses))
    if (use.playlist == playlist) return use.count;
  return 0;
}

uint32_t CSnMultiChildContainer::UseKeyOf(const CSnContinuousPlaylist* playlist) const {
  for (const Use& use : const_cast<SnArray<Use>&>(m_uses))
    if (use.playlist == playlist) return use.key;
  return 0;
}

int32_t CSnMultiChildContainer::FindKey(uint32_t key) const {
  for (uint32_t i = 0; key && i < m_uses.Count(); ++i)
    if (m_uses[i].key == key) return int32_t(i);
  return -1;
}

SNRESULT CSnMultiChildContainer::AppendToContinuousPlaylist(SnContinuousParams& branch, const CSnPlayParams& params,
                                                            uint32_t key) {
  auto* parent = static_cast<CSnContinuousPlaylist*>(params.continuousPlaylist);
  auto giveUp = [&branch] {
    if (branch.playlist) branch.playlist->Release();
    branch.playlist = nullptr;
    return SN_InsufficientMemory;
  };
  if (!parent) {
    SOUND_LOG(Error, "Container %u: a continuous child play without the play-list of its play", ID());
    return giveUp();
  }
  CSnContinuousPlaylistItem level;
  level.Init();
  level.node = this;
  level.owningContainer = this;
  const int32_t use = FindKey(key);
  level.useKey = use >= 0 ? key : 0;
  level.loopCount = 1;
  if (parent->Count()) {
    level.loopCount = parent->At(0).loopCount;
    level.flags = parent->At(0).flags;
  }
  if (!branch.playlist || branch.playlist->Push(level) != SN_Success) {
    SOUND_LOG(Error, "Container %u: no memory for the continuous play of a child", ID());
    return giveUp();
  }
  if (use >= 0) ++m_uses[uint32_t(use)].count;
  return SN_Success;
}

bool CSnMultiChildContainer::BeginBranch(const CSnPlayParams& params, uint32_t key, SnContinuousParams& branch) {
  branch = CarriedParams(params);
  branch.container = this;
  branch.playlist = CSnContinuousPlaylist::Create();  // without one the append says so
  return AppendToContinuousPlaylist(branch, params, key) == SN_Success;
}

CSnContinuousPlaylist* CSnMultiChildContainer::TakePlaylistUse(CSnContinuousPlaylist*, uint32_t key) {
  const int32_t at = FindKey(key);
  return at < 0 ? nullptr : DropUse(uint32_t(at));
}

const CSnContinuousPlaylist* CSnMultiChildContainer::NestedPlaylist(const CSnContinuousPlaylist*, uint32_t key) const {
  const int32_t at = FindKey(key);
  return at < 0 ? nullptr : m_uses[uint32_t(at)].playlist;
}

void CSnMultiChildContainer::GiveBackPlaylistUse(uint32_t key) {
  const int32_t at = FindKey(key);
  if (at < 0) return;
  if (CSnContinuousPlaylist* last = DropUse(uint32_t(at))) last->Release();
}

SNRESULT CSnMultiChildContainer::ContinuePlaylistPlayback(const CSnPlayParams& params) {
  auto* own = static_cast<CSnContinuousPlaylist*>(params.continuousPlaylist);
  if (!own) return SN_Failure;
  const int32_t at = FindKey(UseKeyOf(own));
  CSnContinuousPlaylist* playlist = at < 0 ? nullptr : DropUse(uint32_t(at));
  // Other branches of the play still sound: the last of them goes on with the performance.
  if (!playlist) return SN_Success;
  SnContinuousParams continuous = CarriedParams(params);
  const SnNextContinuousChild next =
      TakeNextContinuousChild(playlist, continuous.position, params.gameObject, false);
  if (!next.node) return SN_Success;  // the performance has played out
  SNRESULT result = SN_Failure;
  if (g_emptyLevelsInARow < kMostEmptyLevelsInARow) {
    ++g_emptyLevelsInARow;
    continuous.playlist = playlist;
    continuous.container = next.level;
    CSnContinuousInstanceCreator creator(continuous);
    CSnPlayParams copy = params;
    copy.instanceCreator = static_cast<ISnPlaybackInstanceCreator*>(&creator);
    copy.continuousPlaylist = playlist;
    result = static_cast<CSnPropertyNode*>(next.node)->Play(copy);
    --g_emptyLevelsInARow;
  } else {
    SOUND_LOG(Error, "Container %u: %u levels in a row of a continuous play played nothing; the play ends", ID(),
              kMostEmptyLevelsInARow);
  }
  next.node->Release();
  if (playlist) playlist->Release();
  return result;
}

SNRESULT CSnMultiChildContainer::EndContinuousPlay(const CSnPlayParams& params, CSnContinuousPlaylist* playlist,
                                                   uint32_t played, SNRESULT result) {
  if (!playlist) return result;
  if (!played) result = ContinuePlaylistPlayback(params);
  else ReleasePlaylistUse(playlist);
  playlist->Release();
  return result;
}

}  // namespace SN
