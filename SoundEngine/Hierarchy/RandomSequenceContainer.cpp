// Random/sequence containers: their payload, settings, selection states and plays.
#include "SoundEngine/Hierarchy/RandomSequenceContainer.h"

#include <algorithm>

#include "Base/MathUtil.h"
#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

constexpr uint32_t kTransitionParameter = 7;

void DestroyState(CSnPlaylistState* state) {
  if (state) PoolDelete(g_DefaultPoolId, state);
}

// A level's selection state as a continuous play-list item owns it.
class ContinuationState final : public ISnContinuationState {
 public:
  explicit ContinuationState(CSnPlaylistState* state) : m_state(state) {}
  ~ContinuationState() override { DestroyState(m_state); }
  ISnContinuationState* Clone(CSnHierarchyNode*) const override {
    CSnPlaylistState* copy = m_state ? m_state->Clone() : nullptr;
    if (m_state && !copy) return nullptr;
    auto* made = PoolNew<ContinuationState>(g_DefaultPoolId, copy);
    if (!made) DestroyState(copy);
    return made;
  }
  void Destroy() override { PoolDelete(g_DefaultPoolId, this); }
  CSnPlaylistState*& State() { return m_state; }

 private:
  CSnPlaylistState* m_state;
};

}  // namespace

CSnRandomSequenceContainer::CSnRandomSequenceContainer(uint32_t id, uint8_t playMode) : CSnContainerNode(id) {
  if (MakePlaylist(playMode) == SN_Success) m_modes = uint8_t((m_modes & ~kPlayModeMask) | (playMode & kPlayModeMask));
}

CSnRandomSequenceContainer::~CSnRandomSequenceContainer() {
  DiscardStates();
  if (m_playlist) PoolDelete(g_DefaultPoolId, m_playlist);
}

SNRESULT CSnRandomSequenceContainer::MakePlaylist(uint8_t mode) {
  CSnPlaylist* made = mode == Mode_Random ? static_cast<CSnPlaylist*>(PoolNew<CSnWeightedPlaylist>(g_DefaultPoolId))
                                          : static_cast<CSnPlaylist*>(PoolNew<CSnPlainPlaylist>(g_DefaultPoolId));
  if (!made) return SN_Failure;
  if (m_playlist) PoolDelete(g_DefaultPoolId, m_playlist);
  m_playlist = made;
  return SN_Success;
}

// ---- payload ----

SNRESULT CSnRandomSequenceContainer::SetInitialValues(const uint8_t* data, uint32_t size) {
  const SNRESULT read = ReadPayload(data, size);
  if (read != SN_Success) DropChildren();
  return read;
}

SNRESULT CSnRandomSequenceContainer::ReadPayload(const uint8_t* data, uint32_t size) {
  const uint8_t* cursor = data;
  const uint8_t* end = data + size;
  const SNRESULT base = ReadBaseParams(cursor, end, false);
  if (base != SN_Success) return base;
  SnBankCursor in(cursor, uint32_t(end - cursor));
  struct {
    uint16_t loopCount;
    int16_t loopMin, loopMax;
    float transitionMs, transitionMin, transitionMax;
    uint16_t avoidRepeat;
    uint8_t transitionType, randomType, playMode, flags;
  } f;
  if (!in.Take(f.loopCount) || !in.Take(f.loopMin) || !in.Take(f.loopMax) || !in.Take(f.transitionMs) ||
      !in.Take(f.transitionMin) || !in.Take(f.transitionMax) || !in.Take(f.avoidRepeat) ||
      !in.Take(f.transitionType) || !in.Take(f.randomType) || !in.Take(f.playMode) || !in.Take(f.flags)) {
    SOUND_LOG(Error, "Random/sequence container %u: its settings run past the end of the object", ID());
    return SN_Failure;
  }
  const SNRESULT mode = SetPlayMode(f.playMode);
  if (mode != SN_Success) return mode;
  SetLoop(int16_t(f.loopCount), f.loopMin, f.loopMax);
  SetTransition(f.transitionMs, f.transitionMin, f.transitionMax);
  SetAvoidRepeatCount(f.avoidRepeat);
  SetTransitionType(f.transitionType);
  SetRandomType(f.randomType);
  SetResetEachPlay(f.flags & 0x02);
  SetPingPong(f.flags & 0x04);
  SetContinuous(f.flags & 0x08);
  SetGlobalScope(f.flags & 0x10);

  cursor = end - in.Left();
  const SNRESULT children = ReadChildren(cursor, end);
  if (children != SN_Success) return children;
  in = SnBankCursor(cursor, uint32_t(end - cursor));
  uint16_t items = 0;
  if (!in.Take(items) || uint64_t(items) * 8 > in.Left()) {
    SOUND_LOG(Error, "Random/sequence container %u: its play-list runs past the end of the object", ID());
    return SN_Failure;
  }
  for (uint16_t i = 0; i < items; ++i) {
    uint32_t id = 0, weight = 0;
    in.Take(id);
    in.Take(weight);
    const SNRESULT added = AddPlaylistItem(id, weight);
    if (added != SN_Success && added != SN_IdNotFound) {
      SOUND_LOG(Error, "Random/sequence container %u: play-list item %u refused (%d)", ID(), id, int(added));
      return added;
    }
  }
  return SN_Success;
}

// ---- settings ----

void CSnRandomSequenceContainer::DiscardStates() {
  for (ObjectState& entry : m_objectStates) DestroyState(entry.state);
  m_objectStates.Term();
  DestroyState(m_globalState);
  m_globalState = nullptr;
}

void CSnRandomSequenceContainer::SettingChanged() {
  DiscardStates();
  if (!HasPlayed()) return;
  if (g_pAudioMgr) g_pAudioMgr->RemovePendingPlaysUnderNode(this);
  Stop(nullptr, 0, 0, 0);
}

SNRESULT CSnRandomSequenceContainer::SetPlayMode(uint8_t mode) {
  mode &= kPlayModeMask;
  if (mode == PlayMode() && m_playlist) return SN_Success;
  SettingChanged();
  const SNRESULT made = MakePlaylist(mode);
  if (made != SN_Success) return made;
  m_modes = uint8_t((m_modes & ~(kPlayModeMask | kWeightsInUse)) | mode);
  return SN_Success;
}

void CSnRandomSequenceContainer::SetModeBit(uint8_t bit, bool on) {
  const uint8_t modes = uint8_t(on ? m_modes | bit : m_modes & ~bit);
  if (modes == m_modes) return;
  m_modes = modes;
  SettingChanged();
}

void CSnRandomSequenceContainer::SetRandomType(uint8_t type) {
  const uint8_t modeA = uint8_t((m_modeA & 0xCF) | ((type & 3) << 4));
  if (modeA == m_modeA) return;
  m_modeA = modeA;
  SettingChanged();
}

void CSnRandomSequenceContainer::SetTransitionType(uint8_t type) {
  const uint8_t modeA = uint8_t((m_modeA & 0xF0) | (type & 0x0F));
  if (modeA == m_modeA) return;
  m_modeA = modeA;
  SettingChanged();
}

void CSnRandomSequenceContainer::SetAvoidRepeatCount(uint16_t count) {
  if (count == m_avoidRepeat) return;
  m_avoidRepeat = count;
  SettingChanged();
}

void CSnRandomSequenceContainer::SetLoop(int16_t count, int16_t offsetMin, int16_t offsetMax) {
  // An infinite loop has no offset.
  m_loopCount = count;
  m_loopMin = count ? offsetMin : 0;
  m_loopMax = count ? offsetMax : 0;
}

void CSnRandomSequenceContainer::SetTransition(float ms, float offsetMin, float offsetMax) {
  m_transitionMs = ms;
  m_transitionMin = offsetMin;
  m_transitionMax = offsetMax;
}

SNRESULT CSnRandomSequenceContainer::AddPlaylistItem(uint32_t id, uint32_t weight) {
  if (!m_playlist) return SN_Failure;
  if (weight != kDefaultPlaylistWeight) m_modes |= kWeightsInUse;
  if (PlayMode() == Mode_Random && m_playlist->Contains(id)) return SN_AlreadyInPlaylist;
  const SNRESULT added = m_playlist->Add(id, weight);
  if (added == SN_Success) SettingChanged();
  return added;
}

void CSnRandomSequenceContainer::ResetPlaylist(CSnRegisteredObj* gameObject) {
  if (m_modes & kContinuous) return;
  if (!gameObject) {
    DiscardStates();
    return;
  }
  if (!(m_modes & kGlobalScope)) DropState(gameObject);
}

void CSnRandomSequenceContainer::DropGameObjectValues(CSnRegisteredObj* gameObject) {
  CSnContainerNode::DropGameObjectValues(gameObject);
  DropState(gameObject);
}

void CSnRandomSequenceContainer::DropState(CSnRegisteredObj* gameObject) {
  for (uint32_t i = 0; i < m_objectStates.Count(); ++i) {
    if (m_objectStates[i].gameObject != gameObject) continue;
    DestroyState(m_objectStates[i].state);
    m_objectStates.RemoveAt(i);
    return;
  }
}

// ---- states ----

CSnRandomPlaylistState::Options CSnRandomSequenceContainer::RandomOptions() const {
  return {m_playlist, m_avoidRepeat, RandomTypeOf() == Random_Shuffle, bool(m_modes & kWeightsInUse)};
}

CSnPlaylistState* CSnRandomSequenceContainer::NewState() const {
  if (PlayMode() == Mode_Sequence) return PoolNew<CSnSequencePlaylistState>(g_DefaultPoolId);
  const uint32_t length = std::min<uint32_t>(PlaylistLength(), 0xFFFF);
  auto* state = PoolNew<CSnRandomPlaylistState>(g_DefaultPoolId, uint16_t(length));
  if (!state) return nullptr;
  if (state->Init(m_avoidRepeat) != SN_Success) {
    PoolDelete(g_DefaultPoolId, state);
    return nullptr;
  }
  if (m_modes & kWeightsInUse) state->SetTotalWeight(m_playlist->TotalWeight());
  return state;
}

const CSnPlaylistState* CSnRandomSequenceContainer::StateOf(CSnRegisteredObj* gameObject) const {
  if (m_modes & kGlobalScope) return m_globalState;
  for (const ObjectState& entry : const_cast<SnArray<ObjectState>&>(m_objectStates))
    if (entry.gameObject == gameObject) return entry.state;
  return nullptr;
}

CSnPlaylistState* CSnRandomSequenceContainer::GetState(CSnRegisteredObj* gameObject) {
  if (m_modes & kGlobalScope) {
    if (!m_globalState) m_globalState = NewState();
    return m_globalState;
  }
  uint32_t low = 0, high = m_objectStates.Count();
  while (low < high) {
    const uint32_t middle = (low + high) / 2;
    if (m_objectStates[middle].gameObject == gameObject) return m_objectStates[middle].state;
    if (std::less<>()(m_objectStates[middle].gameObject, gameObject))
      low = middle + 1;
    else
      high = middle;
  }
  CSnPlaylistState* state = NewState();
  if (!state) return nullptr;
  // The game object learns of the node, so that its state goes with it.
  if ((gameObject && gameObject->AddModifiedNode(SnNodeKey{ID(), IsBus()}) != SN_Success) ||
      !m_objectStates.InsertAt(low, ObjectState{gameObject, state})) {
    DestroyState(state);
    return nullptr;
  }
  return state;
}

// ---- selection ----

CSnHierarchyNode* CSnRandomSequenceContainer::TakeChild(uint16_t index) {
  if (index >= PlaylistLength()) return nullptr;
  return FindNodeAndAddRef(m_playlist->IdAt(index));
}

CSnHierarchyNode* CSnRandomSequenceContainer::GetNextToPlay(CSnRegisteredObj* gameObject, uint16_t& index) {
  CSnHierarchyNode* listed = nullptr;
  return SelectNext(gameObject, index, listed) ? TakeChild(index) : nullptr;
}

bool CSnRandomSequenceContainer::Playable(uint32_t id, CSnHierarchyNode*& listed) const {
  listed = FindChild(id);
  return listed || NodeLoaded(id);
}

bool CSnRandomSequenceContainer::SelectNext(CSnRegisteredObj* gameObject, uint16_t& index, CSnHierarchyNode*& listed) {
  const uint32_t length = PlaylistLength();
  if (length == 0) return false;
  if (length == 1) {
    index = 0;
    return Playable(m_playlist->IdAt(0), listed);
  }
  CSnPlaylistState* state = GetState(gameObject);
  if (!state) return false;
  const CSnRandomPlaylistState::Options options = RandomOptions();
  const bool standard = PlayMode() == Mode_Random && !options.shuffle;
  for (uint32_t attempt = 0; attempt < length; ++attempt) {
    if (PlayMode() == Mode_Sequence) {
      if (!static_cast<CSnSequencePlaylistState*>(state)->Select(length, m_modes & kPingPong, nullptr, index))
        return false;
    } else if (attempt == 0 || !standard) {
      if (!static_cast<CSnRandomPlaylistState*>(state)->Select(options, nullptr, index)) return false;
    } else {
      // After a miss a standard draw walks on from the item that failed rather than drawing again.
      auto* random = static_cast<CSnRandomPlaylistState*>(state);
      uint32_t step = 0;
      do index = uint16_t((index + 1) % length);
      while (!random->IsCandidate(options, index) && ++step < length);
      if (step == length) return false;
      random->UpdateHistory(options, index);
    }
    if (Playable(m_playlist->IdAt(index), listed)) return true;
  }
  return false;
}

SnLoopRecord CSnRandomSequenceContainer::BeginLoop() const {
  SnLoopRecord loop;
  loop.flags = uint8_t((m_loopCount != 1 ? SnLoopRecord::kLooping : 0) | (m_loopCount == 0 ? SnLoopRecord::kInfinite : 0));
  const int32_t count = m_loopCount > 0 ? ComputeLoopCount() : 1;
  loop.loopsLeft = int16_t(std::clamp(count, 1, 0x7FFF));
  return loop;
}

CSnHierarchyNode* CSnRandomSequenceContainer::GetNextToPlayContinuous(CSnRegisteredObj* gameObject,
                                                                      CSnPlaylistState*& state, SnLoopRecord& loop,
                                                                      uint16_t& index) {
  const uint32_t length = PlaylistLength();
  if (length == 0) return nullptr;
  if (length == 1) {
    if (loop.loopsLeft <= 0) return nullptr;
    if (!(loop.flags & SnLoopRecord::kInfinite)) --loop.loopsLeft;
    index = 0;
    return TakeChild(0);
  }
  if (PlayMode() == Mode_Random) {
    if (!state && !(state = NewState())) return nullptr;
    if (!static_cast<CSnRandomPlaylistState*>(state)->Select(RandomOptions(), &loop, index)) return nullptr;
    return TakeChild(index);
  }
  const bool resets = m_modes & kResetEachPlay;
  if (!state) {
    if (!resets) {
      CSnPlaylistState* shared = GetState(gameObject);
      state = shared ? shared->Clone() : nullptr;
    } else if ((state = PoolNew<CSnSequencePlaylistState>(g_DefaultPoolId)) && m_globalState) {
      auto* global = static_cast<CSnSequencePlaylistState*>(m_globalState);
      static_cast<CSnSequencePlaylistState*>(state)->lastIndex = global->lastIndex;
      global->lastIndex = -1;
    }
    if (!state) return nullptr;
  }
  auto* own = static_cast<CSnSequencePlaylistState*>(state);
  if (!own->Select(length, m_modes & kPingPong, &loop, index)) return nullptr;
  if (!resets) {
    // A new play resumes at the item just chosen.
    if (auto* shared = static_cast<CSnSequencePlaylistState*>(GetState(gameObject))) {
      shared->forward = own->forward;
      shared->lastIndex = int16_t(own->forward ? index - 1 : index + 1);
      if (!own->forward && shared->lastIndex == 0) shared->forward = 1;
      if (uint32_t(shared->lastIndex + 1) == length && !(m_modes & kPingPong)) shared->lastIndex = -1;
    }
  }
  return TakeChild(index);
}

int32_t CSnRandomSequenceContainer::ComputeLoopCount() const {
  int32_t count = m_loopCount + m_loopMin;
  if (m_loopMax != m_loopMin)
    count += RoundToInt(float(Base::Rand15()) / 32767.0f * float(m_loopMax - m_loopMin));
  return count < 2 ? 1 : count;
}

float CSnRandomSequenceContainer::GetTransitionDuration(CSnRegisteredObj* gameObject) const {
  float ms = m_transitionMs;
  if (m_transitionMax != m_transitionMin)
    ms += m_transitionMin + float(Base::Rand15()) / 32767.0f * (m_transitionMax - m_transitionMin);
  if (HasCurve(kTransitionParameter)) {
    SnRTPCKey key;
    key.gameObject = gameObject;
    ms += 1000.0f * RTPCValue(kTransitionParameter, key);
  }
  return ms > 0.0f ? ms : 0.0f;
}

// ---- play ----

SNRESULT CSnRandomSequenceContainer::PlayNode(CSnPlayParams& params) {
  m_state |= 1;
  uint16_t index = 0;
  if (!(m_modes & kContinuous)) {
    CSnHierarchyNode* listed = nullptr;
    if (!SelectNext(params.gameObject, index, listed)) return SN_Failure;
    // A listed child stays listed under the audio lock the play holds: no second look-up.
    if (listed) return static_cast<CSnPropertyNode*>(listed)->Play(params);
    return PlayNodeOfId(m_playlist->IdAt(index), params);
  }
  return PlayContinuous(params);
}

CSnHierarchyNode* CSnRandomSequenceContainer::NextContinuousChild(CSnRegisteredObj* gameObject,
                                                                  CSnContinuousPlaylistItem& item, uint16_t& position) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  auto* held = static_cast<ContinuationState*>(item.state);  // only this container makes its items
  CSnPlaylistState* state = held ? held->State() : nullptr;
  SnLoopRecord loop;
  loop.loopsLeft = int16_t(item.loopCount);
  loop.flags = item.flags;
  CSnHierarchyNode* child = GetNextToPlayContinuous(gameObject, state, loop, position);
  item.loopCount = uint16_t(loop.loopsLeft);
  item.flags = loop.flags;
  if (held) {
    held->State() = state;
  } else if (state && !(item.state = PoolNew<ContinuationState>(g_DefaultPoolId, state))) {
    // Without memory the level forgets where it was: the next step begins the list again.
    DestroyState(state);
  }
  return child;
}

SNRESULT CSnRandomSequenceContainer::PlayContinuous(CSnPlayParams& params) {
  auto* playlist = static_cast<CSnContinuousPlaylist*>(params.continuousPlaylist);
  const bool ownList = !playlist;
  if (ownList && !(playlist = CSnContinuousPlaylist::Create())) return SN_Failure;
  const SnLoopRecord loop = BeginLoop();
  CSnContinuousPlaylistItem item;
  item.Init();
  item.node = this;
  item.loopCount = uint16_t(loop.loopsLeft);
  item.flags = loop.flags;
  uint16_t index = 0;
  CSnHierarchyNode* child = nullptr;
  const uint32_t level = playlist->Count();
  if (playlist->Push(item) == SN_Success) child = NextContinuousChild(params.gameObject, playlist->At(level), index);
  SNRESULT played = SN_Failure;
  if (child) {
    // A level inside a performance carries its fades, pause and position on; a new one begins them.
    SnContinuousParams continuous;
    auto* outer = static_cast<ISnPlaybackInstanceCreator*>(params.instanceCreator);
    if (auto* carried = dynamic_cast<CSnContinuousInstanceCreator*>(outer)) continuous = carried->Params();
    continuous.playlist = playlist;
    continuous.container = this;
    SnSequencePosition& position = continuous.position;
    ++position.depth;
    if (position.depth >= 1 && position.depth <= SnSequencePosition::kMaxLevels) {
      const uint32_t bit = 1u << (position.depth - 1);
      position.sequenceMask = PlayMode() == Mode_Sequence ? position.sequenceMask | bit : position.sequenceMask & ~bit;
    }
    position.Store(position.depth, index);
    CSnContinuousInstanceCreator creator(continuous);
    void* const outerList = params.continuousPlaylist;
    params.instanceCreator = static_cast<ISnPlaybackInstanceCreator*>(&creator);
    params.continuousPlaylist = playlist;
    played = static_cast<CSnPropertyNode*>(child)->Play(params);
    params.instanceCreator = outer;
    params.continuousPlaylist = outerList;
    child->Release();
  }
  // A level that plays nothing leaves the performance as it found it.
  if (played != SN_Success && playlist->Count() > level) playlist->Pop();
  if (ownList) playlist->Release();
  return played;
}

namespace {

const SnHircKind kRandomSequenceKind = {SnIndex_Nodes, CreateFromPayload<CSnRandomSequenceContainer>, nullptr,
                                        nullptr};
const bool kRegistered = (SetHircKind(kHircRandomSequenceType, &kRandomSequenceKind), true);

}  // namespace
}  // namespace SN
