// A music play launched without a parent, as the renderer sees it: asked where its state syncs lie,
// told to hold a state change until one, and advanced one frame at a time. The play root is one;
// the renderer's own tests provide others.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicSegmentInfo.h"

namespace SN {

struct SnMusicPendingState;
class CSnMatrixAwareContext;
class CSnRegisteredObj;

class CSnMusicTopContext {
 public:
  static constexpr uint32_t kWantsSegmentInfo = 0x200000;

  virtual ~CSnMusicTopContext() = default;
  // Playing and not paused: only such a play may hold a state change.
  virtual bool IsPlayingUnpaused() const = 0;
  // Samples from now to the next point where `groupId` may change in the play; false for none.
  virtual bool StateSyncDelay(uint32_t groupId, int64_t& delay) = 0;
  // Calls CSnMusicRenderer::OnStateSyncReached(item) when the play reaches `delay` samples from now,
  // or CSnMusicRenderer::RescheduleStateChange(item) when it stops before; false when it cannot.
  virtual bool ScheduleStateSync(SnMusicPendingState* item, int64_t delay) = 0;
  // SN_Success with where the play stands.
  virtual SNRESULT GetSegmentInfo(SnSegmentInfo& info) = 0;
  // One frame of `samples` samples of music.
  virtual void AdvanceFrame(uint32_t samples) = 0;
  // The play's root context, which node-wide commands act on; null for a play without one.
  virtual CSnMatrixAwareContext* TopContext() const { return nullptr; }
  virtual CSnRegisteredObj* PlayGameObject() const { return nullptr; }
  // Its speed is worked out again on its next frame; with a non-zero `reset` its contexts reset too.
  virtual void RequestReset(uint8_t /*reset*/) {}

  uint32_t PlayingId() const { return m_playingId; }
  uint32_t CallbackFlags() const { return m_callbackFlags; }

 private:
  friend class CSnMusicRenderer;
  CSnMusicTopContext* m_nextTop = nullptr;
  uint32_t m_playingId = 0;
  uint32_t m_callbackFlags = 0;
};

// A state change held until a sync point of the music.
struct SnMusicPendingState {
  static constexpr uint32_t kObsolete = 0x1;  // applied already, or superseded
  static constexpr uint32_t kWaiting = 0x2;   // held until its sync point
  SnMusicPendingState* next;
  uint32_t groupId;
  uint32_t stateId;
  uint32_t flags;
};

}  // namespace SN
