// The contexts a music play is made of form a tree: each holds its children, a reference on its
// parent, a play state, nested pauses, and two fades (play/stop, pause/resume) that multiply the gain
// of every voice below it.
//
// Threads: created, processed and destroyed on the thread that runs the sound engine's frame.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicTransitionRule.h"
#include "SoundEngine/GameSyncs/Transition.h"

namespace SN {

class CSnMusicContext;

// The link of a context (or a playing voice) to its parent.
class CSnChildContext {
 public:
  virtual ~CSnChildContext() = default;
  // The owning track stops this child at a sample offset in the frame.
  virtual void StopFromOwner(uint32_t offset) = 0;
  virtual void OnFrameEnd() = 0;
  // Stops at a sample offset in the frame; 0: at once.
  virtual void OnStopped(uint32_t offset) = 0;
  virtual void OnPaused() = 0;
  virtual void OnResumed() = 0;
  // The gain factor of an ancestor, known by `key`; a voice multiplies them all.
  virtual void SetGainFactor(const void* key, float value) = 0;
  virtual void SetParam(uint32_t parameterId, float value) = 0;
  virtual void OnReset() = 0;
  virtual void AddRef() = 0;
  virtual void Release() = 0;

  // Joins or leaves the parent's children.
  void Connect();
  void Disconnect();
  CSnMusicContext* Parent() const { return m_parent; }
  CSnChildContext* NextSibling() const { return m_nextSibling; }

 protected:
  explicit CSnChildContext(CSnMusicContext* parent) : m_parent(parent) {}

 private:
  friend class CSnMusicContext;
  CSnChildContext* m_nextSibling = nullptr;
  CSnMusicContext* m_parent;
};

class CSnMusicContext : public CSnChildContext, public ISnTransitionTarget {
 public:
  enum PlayState : uint8_t { Idle = 0, Playing = 1, Stopping = 2, Stopped = 4 };
  static constexpr uint32_t kNoStopOffset = 0xFFFFFFFFu;

  ~CSnMusicContext() override;

  void StopFromOwner(uint32_t) override {}
  void OnFrameEnd() override;
  void OnStopped(uint32_t offset) override;
  void OnPaused() override;
  void OnResumed() override;
  void SetGainFactor(const void* key, float value) override;
  void SetParam(uint32_t parameterId, float value) override;
  void OnReset() override;
  void AddRef() override { ++m_refCount; }
  // At 0 the context leaves its parent (or, as a root, the list it is in) and is destroyed.
  void Release() override;
  virtual void SetPlaying() { SetPlayState(Playing); }
  virtual void OnStopComplete() { SetPlayState(Stopped); }

  // Pushes the child first and takes a reference on this context for it.
  void AddChild(CSnChildContext* child);
  // Unlinks the child (nothing when absent) and gives its reference back.
  void RemoveChild(CSnChildContext* child);

  void Play(const SnMusicFade& fade);
  void Stop(int32_t timeMs, uint32_t curve, uint32_t offset);
  void Pause(int32_t timeMs, uint32_t curve);
  void Resume(int32_t timeMs, uint32_t curve, bool force);
  void StopNow() { OnStopped(0); }

  void TransitionUpdate(uint32_t kind, float value, bool done) override;

  PlayState State() const { return PlayState(m_state & kPlayStateMask); }
  bool IsPaused() const { return m_state & kPaused; }
  uint16_t PauseCount() const { return m_pauseCount; }
  uint32_t StopOffset() const { return m_stopOffset; }
  float PlayStopFactor() const { return m_playStopFactor; }
  float PauseFactor() const { return m_pauseFactor; }
  uint32_t RefCount() const { return m_refCount; }
  CSnChildContext* FirstChild() const { return m_firstChild; }
  // The keys under which this context's two factors reach the voices below.
  const void* PlayStopKey() const { return &m_playStopFactor; }
  const void* PauseKey() const { return &m_pauseFactor; }

  uint32_t flags = 0;  // a root's callback flags

 protected:
  explicit CSnMusicContext(CSnMusicContext* parent) : CSnChildContext(parent) {}
  // A context without parent is released for the last time.
  virtual void LeaveWithoutParent() {}
  // Destroys the context and gives its block back (to the pool here; see MusicContextBlocks.h).
  virtual void DeleteSelf();

 private:
  static constexpr uint8_t kPlayStateMask = 0x0F;
  static constexpr uint8_t kPaused = 0x10;
  void SetPlayState(PlayState state) { m_state = uint8_t((m_state & ~kPlayStateMask) | state); }
  // A new fade in `slot`, or the end value at once when the manager has no room.
  void Fade(CSnTransition*& slot, uint32_t kind, float from, float to, int32_t timeMs, uint32_t curve);
  template <typename Visit>
  void ForEachChild(Visit&& visit);

  CSnChildContext* m_firstChild = nullptr;
  CSnTransition* m_playStop = nullptr;
  CSnTransition* m_pauseResume = nullptr;
  uint32_t m_refCount = 0;
  float m_playStopFactor = 0.0f;
  float m_pauseFactor = 1.0f;
  uint32_t m_stopOffset = kNoStopOffset;
  uint16_t m_pauseCount = 0;
  uint8_t m_state = Idle;
};

}  // namespace SN
