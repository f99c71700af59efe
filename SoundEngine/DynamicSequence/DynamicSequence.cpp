// The dynamic sequence on the audio thread: taking items from the playlist, playing them through the
// voice pipeline's dynamic-sequence playback, and the commands Play, Pause, Resume, Stop, Break and
// Close; and the receiver that hands the queued sequence messages to it.
#include "SoundEngine/DynamicSequence/DynamicSequence.h"

#include <mutex>
#include <vector>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Voices/DynamicSequencePlayback.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {

constexpr uint32_t kDefaultCurve = 4;

// Continuity ids of sample-accurate sequences; never 0, which means "none yet".
std::atomic<uint32_t> g_continuityCounter{0};

uint32_t NextContinuityId() {
  uint32_t id;
  do id = g_continuityCounter.fetch_add(1) + 1;
  while (id == 0);
  return id;
}

}  // namespace

CSnDynamicSequence* CSnDynamicSequence::Create(uint32_t playingId, uint32_t type) {
  if (!g_pObjectIndex) return nullptr;
  auto* sequence = PoolNew<CSnDynamicSequence>(g_DefaultPoolId, playingId, type);
  if (sequence) g_pObjectIndex->List(SnIndex_DynamicSequences).Insert(sequence);
  return sequence;
}

void CSnDynamicSequence::BeforeDestroy() {
  if (m_gameObject) {
    // Game objects count their references on the audio thread; the last release of a sequence may
    // come from the game's thread.
    Platform::ReentrantGuard audio(GlobalAudioLock());
    m_gameObject->Release();
    m_gameObject = nullptr;
  }
}

void CSnDynamicSequence::GiveBackGameReference() {
  if (m_gameReferenceGiven.exchange(true)) return;
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->ReleasePendingActionRef(ID());
  Release();
}

// The game's Close marks the sequence on the game's thread, long before its message is handled: the
// mark does not say whether the reference went.
void CSnDynamicSequence::ReleaseAtTerm() {
  m_closed = true;
  GiveBackGameReference();
}

// ---- the game's side ----

SnDynamicPlaylist* CSnDynamicSequence::LockPlaylist(bool mayWait) {
  if (!mayWait) {
    if (!m_playlistLock.try_lock()) return nullptr;
  } else {
    m_playlistLock.lock();
  }
  if (m_playlistDepth++ == 0) m_playlistOwner = std::this_thread::get_id();
  return &m_playlist;
}

bool CSnDynamicSequence::UnlockPlaylist(bool& waiting) {
  // Another thread's unlock, or one too many, would free a lock this thread does not hold.
  if (m_playlistOwner.load() != std::this_thread::get_id() || m_playlistDepth == 0) return false;
  if (--m_playlistDepth == 0) m_playlistOwner = std::thread::id();
  m_playlistLock.unlock();
  // Read by a change of nothing, ordered with the pass's mark before its try (TakeNext): either
  // this sees the mark, or the pass's try comes after the unlock.
  waiting = m_state.fetch_or(0) == SnSequenceState_Waiting;
  return true;
}

// ---- the audio thread ----

void CSnDynamicSequence::Bind(CSnRegisteredObj* gameObject) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (m_gameObject || !gameObject) return;
  gameObject->AddRef();
  m_gameObject = gameObject;
}

void CSnDynamicSequence::RunCommand(SnSequenceCommand command, int32_t fadeMs, uint32_t curve) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  switch (command) {
    case SnSequence_Play: Play(fadeMs, curve); break;
    case SnSequence_Pause: Pause(fadeMs, curve); break;
    case SnSequence_Resume: Resume(fadeMs, curve); break;
    case SnSequence_Stop: Stop(fadeMs, curve); break;
    case SnSequence_Break: Break(); break;
    case SnSequence_Close: Close(); break;
    case SnSequence_WakeUpAfterUnlock:
      if (m_state == SnSequenceState_Waiting) {
        // Held elsewhere: the holder's unlock posts another wake-up.
        std::unique_lock<Platform::ReentrantLock> guard(m_playlistLock, std::try_to_lock);
        if (!guard || m_playlist.Count() == 0) break;
      } else {
        break;
      }
      // Waiting is a kind of playing: Play would do nothing.
      m_state = SnSequenceState_Stopped;
      Play(0, kDefaultCurve);
      break;
    default: SOUND_LOG(Error, "Dynamic sequence %u: command %u is unknown", ID(), uint32_t(command)); break;
  }
}

void CSnDynamicSequence::ItemEnded(const SnPlaylistItem& item) {
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->NotifyDynamicSequenceItem(ID(), item.audioNodeId, item.customInfo);
}

void CSnDynamicSequence::TakeNext() {
  m_next = {};
  if (!m_gameObject || m_state == SnSequenceState_Stopped) return;
  SnArray<SnPlaylistItem> placeholders;
  {
    // Marked waiting before the try, so that an unlock between the try and a mark after it cannot
    // miss the sequence: its holder sees the mark and posts the wake-up.
    const uint32_t state = m_state.exchange(SnSequenceState_Waiting);
    std::unique_lock<Platform::ReentrantLock> guard(m_playlistLock, std::try_to_lock);
    if (!guard) return;
    m_state = state;
    while (m_playlist.Count()) {
      const SnPlaylistItem item = *m_playlist.ItemAt(0);
      m_playlist.Remove(0);
      if (item.audioNodeId) {
        m_next = item;
        break;
      }
      if (!placeholders.Add(item, 4)) ItemEnded(item);  // no room to defer it: called back here
    }
    if (!m_next.audioNodeId) m_state = SnSequenceState_Waiting;
  }
  // Callbacks run with the playlist free: one may lock it to add items.
  for (const SnPlaylistItem& item : placeholders) ItemEnded(item);
  placeholders.Term();
}

uint32_t CSnDynamicSequence::GetNextToPlay(uint32_t& delayMs, void*& customInfo) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  m_current = m_next;
  TakeNext();
  delayMs = m_next.delayMs;
  customInfo = m_next.customInfo;
  return m_next.audioNodeId;
}

SNRESULT CSnDynamicSequence::PlayItem(const SnPlaylistItem& item, int32_t fadeMs, uint32_t curve) {
  CSnIndexedObject* node = g_pObjectIndex->FindNodeAndAddRef(item.audioNodeId, false);
  if (!node) {
    SOUND_LOG(Warning, "Dynamic sequence %u: node %u is not loaded", ID(), item.audioNodeId);
    return SN_IdNotFound;
  }
  if (m_type == Type_SampleAccurate && m_continuityId == 0) m_continuityId = NextContinuityId();
  SnSequenceItemPlay play{this,
                          node,
                          m_gameObject,
                          ID(),
                          fadeMs,
                          curve,
                          LowerEngine::SampleRate() / 1000 * item.delayMs,
                          m_continuityId,
                          item.customInfo};
  SNRESULT result = SN_Failure;
  if (ISnDynamicSequencePlayback* playback = DynamicSequencePlayback()) result = playback->PlayItem(play);
  node->Release();
  return result;
}

void CSnDynamicSequence::Play(int32_t fadeMs, uint32_t curve) {
  if (m_state == SnSequenceState_Playing || m_pauseCount > 0) return;
  m_state = SnSequenceState_Playing;
  for (;;) {
    TakeNext();
    if (!m_next.audioNodeId) return;
    if (PlayItem(m_next, fadeMs, curve) == SN_Success) return;
    // The item ends as it began; the one after it is tried.
    ItemEnded(m_next);
  }
}

void CSnDynamicSequence::ActOnItems(bool current, bool next, uint32_t action, int32_t fadeMs, uint32_t curve) {
  ISnDynamicSequencePlayback* playback = DynamicSequencePlayback();
  if (!playback || !m_gameObject) return;
  const auto act = SnSequenceItemAction(action);
  if (current && m_current.audioNodeId)
    playback->ActOnItem(m_current.audioNodeId, act, m_gameObject, ID(), fadeMs, curve);
  if (next && m_next.audioNodeId) playback->ActOnItem(m_next.audioNodeId, act, m_gameObject, ID(), fadeMs, curve);
}

void CSnDynamicSequence::Pause(int32_t fadeMs, uint32_t curve) {
  if (m_state == SnSequenceState_Stopped) return;
  if (++m_pauseCount != 1) return;
  if (g_pAudioMgr) g_pAudioMgr->PausePendingActionsOfPlayingId(ID());
  ActOnItems(true, true, SnSequenceItem_Pause, fadeMs, curve);
}

void CSnDynamicSequence::Resume(int32_t fadeMs, uint32_t curve) {
  if (m_pauseCount == 0 || --m_pauseCount != 0) return;
  if (m_state != SnSequenceState_Playing) Play(fadeMs, curve);
  if (g_pAudioMgr) g_pAudioMgr->ResumePendingActionsOfPlayingId(ID());
  ActOnItems(true, true, SnSequenceItem_Resume, fadeMs, curve);
}

void CSnDynamicSequence::Stop(int32_t fadeMs, uint32_t curve) {
  m_continuityId = 0;
  m_state = SnSequenceState_Stopped;
  m_pauseCount = 0;
  if (g_pAudioMgr) g_pAudioMgr->RemovePendingActionsOfPlayingId(ID());
  ActOnItems(false, true, SnSequenceItem_Stop, fadeMs, curve);
  m_next = {};
  ActOnItems(true, false, SnSequenceItem_Stop, fadeMs, curve);
}

void CSnDynamicSequence::Break() {
  m_continuityId = 0;
  if (m_state == SnSequenceState_Stopped) return;
  m_state = SnSequenceState_Stopped;
  m_pauseCount = 0;
  if (g_pAudioMgr) g_pAudioMgr->RemovePendingActionsOfPlayingId(ID());
  ActOnItems(true, false, SnSequenceItem_Break, 0, kDefaultCurve);
  m_next = {};
}

void CSnDynamicSequence::Close() {
  // The items playing keep their references.
  GiveBackGameReference();
}

void CSnDynamicSequence::ApplyGlobalAction(SnGlobalAction action, CSnRegisteredObj* gameObject) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (gameObject && gameObject != m_gameObject) return;
  switch (action) {
    case SnGlobalAction_Stop:
      m_state = SnSequenceState_Stopped;
      m_pauseCount = 0;
      m_next = {};
      break;
    case SnGlobalAction_Pause:
      if (m_state != SnSequenceState_Stopped) ++m_pauseCount;
      break;
    case SnGlobalAction_Resume:
      // Only the resume that ends a pause plays again: a sequence never paused (one stopped among
      // them) stays as it is.
      if (m_pauseCount > 0 && --m_pauseCount == 0 && m_state != SnSequenceState_Playing) Play(0, kDefaultCurve);
      break;
  }
}

void CSnDynamicSequence::ApplyGlobalActionToAll(SnGlobalAction action, CSnRegisteredObj* gameObject) {
  if (!g_pObjectIndex) return;
  std::vector<CSnIndexedObject*> sequences;
  g_pObjectIndex->List(SnIndex_DynamicSequences).ForEach([&](CSnIndexedObject* sequence) {
    sequence->AddRef();
    sequences.push_back(sequence);
  });
  for (CSnIndexedObject* sequence : sequences) {
    static_cast<CSnDynamicSequence*>(sequence)->ApplyGlobalAction(action, gameObject);
    sequence->Release();
  }
}

// ---- the receiver of the queued messages ----

namespace {

class CSnSequenceReceiver final : public ISnSequenceReceiver {
 public:
  void BindSequence(CSnIndexedObject* sequence, CSnRegisteredObj* object, uint32_t) override {
    if (sequence) static_cast<CSnDynamicSequence*>(sequence)->Bind(object);
  }
  void RunSequenceCommand(CSnIndexedObject* sequence, SnSequenceCommand command, int32_t fadeMs,
                          uint32_t curve) override {
    if (sequence) static_cast<CSnDynamicSequence*>(sequence)->RunCommand(command, fadeMs, curve);
  }
};

CSnSequenceReceiver& TheReceiver() {
  static CSnSequenceReceiver receiver;
  return receiver;
}

}  // namespace

void InstallSequenceReceiver() {
  if (!SequenceReceiver()) SequenceReceiver() = &TheReceiver();
}

void RemoveSequenceReceiver() {
  if (SequenceReceiver() == &TheReceiver()) SequenceReceiver() = nullptr;
}

}  // namespace SN
