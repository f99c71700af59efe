// The music renderer: the one music object of the process, made at the first Init and freed at the
// sound engine's last frame; it holds the music settings and loads music objects from banks.
#pragma once

#include <atomic>
#include <cstdint>

#include "MusicEngine/MusicEngine.h"
#include "SoundEngine/GameSyncHooks.h"

namespace SN {

class CSnHierarchyNode;
class CSnIndexedObject;
class CSnMatrixAwareContext;
class CSnRegisteredObj;
class CSnLoadedBank;
class CSnMusicTopContext;
struct SnMusicPendingState;

class CSnMusicRenderer {
 public:
  // Null when the music engine is not running.
  static CSnMusicRenderer* Instance();
  // Makes the renderer and joins the frame the first time; later calls only take the settings.
  static SNRESULT Create(const SnMusicSettings& settings);

  // ---- plays ----
  // A play without a parent begins: listed first; its segment information kept when its callback
  // flags ask for it. SN_Failure for playing id 0 (listed all the same, until it is removed).
  SNRESULT AddTopLevelContext(CSnMusicTopContext* context, uint32_t playingId, uint32_t callbackFlags);
  void RemoveTopLevelContext(CSnMusicTopContext* context);
  CSnMusicTopContext* FirstTopLevelContext() const { return m_topHead; }
  // ---- node-wide commands: the plays of `node`, of the game object (null: any) and playing id
  // (0: any) ----
  void StopNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId, int32_t timeMs,
                uint32_t curve);
  void PauseNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId, int32_t timeMs,
                 uint32_t curve);
  void ResumeNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId, int32_t timeMs,
                  uint32_t curve, bool force);
  // Every play works out its speed again before its next frame; a non-zero `value` also resets the
  // contexts of every play.
  void SetPendingReset(uint8_t value) {
    m_resetPending = true;
    m_resetValue = uint8_t(m_resetValue | value);
  }
  // Every play stops at once (the sound engine's end).
  void StopAll();
  // A play that took the seek tells its playing id the music began again.
  void SeekNodeByTime(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId, int32_t ms,
                      bool snapToMarker);
  void SeekNodeByPercent(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId,
                         float fraction, bool snapToMarker);
  CSnMusicTopContext* LastTopLevelContext() const { return m_topTail; }

  // ---- held state changes ----
  // The state manager's hook: true when a play holds the change until its next sync point.
  static bool OnStateChange(uint32_t groupId, uint32_t stateId);
  // Samples from now to the nearest state sync of the group among the plays, less one frame; the
  // play that has it, or null.
  int64_t GetDelayToStateSync(uint32_t groupId, CSnMusicTopContext*& context) const;
  void OnStateSyncReached(SnMusicPendingState* item);
  void RescheduleStateChange(SnMusicPendingState* item);
  uint32_t PendingStateCount() const { return m_pendingCount; }

  // The sound engine's hook for bank objects of types 10 to 13; SN_NothingChanged for any other.
  static SNRESULT LoadHircObject(const SnHircObjectHeader& header, CSnLoadedBank* bank, uint32_t bankId);

  explicit CSnMusicRenderer(const SnMusicSettings& settings) : m_settings(settings) {}
  const SnMusicSettings& Settings() const { return m_settings; }
  // Frames the renderer has taken part in.
  uint64_t Frames() const { return m_frames; }
  // True the first time a fault of `kind` is met while this renderer lives: such faults are logged once
  // per run of the music engine, not once a frame.
  enum SaidOnce : uint32_t { kSaidDepth = 1u, kSaidCannotPlay = 2u };
  bool FirstToSay(SaidOnce kind) { return (m_saidOnce.fetch_or(kind) & kind) == 0; }

 private:
  template <typename Act>
  void ForEachPlayOf(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId, Act&& act);
  static void Frame(bool lastCall);
  static void Destroy();
  void RenderFrame();
  bool HoldStateChange(uint32_t groupId, uint32_t stateId);
  // Re-applied through the state message, neither hook nor subscribers asked again.
  void ApplyNow(SnMusicPendingState* item);
  void MarkOlderObsolete(SnMusicPendingState* item);
  void MarkGroupObsolete(uint32_t groupId);
  void PurgePendingStates();
  void FreePendingStates();

  SnMusicSettings m_settings;
  std::atomic<uint32_t> m_saidOnce{0};
  uint64_t m_frames = 0;
  CSnMusicTopContext* m_topHead = nullptr;
  CSnMusicTopContext* m_topTail = nullptr;
  SnMusicPendingState* m_pending = nullptr;  // newest first
  uint32_t m_pendingCount = 0;
  bool m_resetPending = false;
  uint8_t m_resetValue = 0;
};

}  // namespace SN
