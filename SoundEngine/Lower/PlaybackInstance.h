// The playback instance as the voice manager limits and retires it: its place in the active list,
// its priority and creation order, its stopping and limiting flags and its virtual-voice behaviour,
// and the operations the limiters and the deferred commands call. The full instance (source,
// pipeline, fades, positioning) builds on this. Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

namespace SN {

class CSnRegisteredObj;
class ISnVoiceInstance;

// What a node's inherited virtual-voice setting asks of an instance over its limit.
enum SnVirtualBehaviour : uint8_t {
  SnVirtual_ContinueToPlay = 0,
  SnVirtual_Kill = 1,
  SnVirtual_BecomeVirtual = 2,
};

// Deferred commands the voice manager hands to an instance at the end of the audio pass.
enum SnInstanceCommandKind : uint32_t {
  SnInstanceCommand_FadeBegun = 3,         // carries a time
  SnInstanceCommand_ContextDetached = 4,   // carries an argument; the instance is retired after it
};

class CSnPlaybackInstance {
 public:
  virtual ~CSnPlaybackInstance() = default;

  // Stops at once, without a fade; the voice manager has marked it stopping. The instance stays in
  // its limiters and the active list until it is retired: limiters walk their arrays around this.
  virtual void StopNow() = 0;
  // The notification handler of the deferred commands.
  virtual void OnInstanceCommand(uint32_t kind, uint32_t parameter, float time) = 0;
  // Releases what the instance holds (`flags` as the instance defines them).
  virtual void Term(uint32_t flags) = 0;
  // Runs the destructor and gives the memory back to where it came from.
  virtual void Destroy() = 0;
  // The voice it posts commands to the lower engine as, once it has one.
  virtual ISnVoiceInstance* Voice() { return nullptr; }

  // Marks it stopping with the reason (unless it already is) and stops it at once.
  void Kill(uint8_t stopReason) {
    if (m_stopping) return;
    m_stopping = true;
    m_stopReason = stopReason & 7;
    StopNow();
  }
  // Over a limit with the virtual-voice behaviour in force: killed, or made virtual this frame.
  void StopForVoiceLimit(uint8_t stopReason) {
    if (m_virtualBehaviour == SnVirtual_Kill)
      Kill(stopReason);
    else if (m_virtualBehaviour == SnVirtual_BecomeVirtual)
      m_limitedThisFrame = true;
  }

  // The limiters' order.
  float Priority() const { return m_priority; }
  uint32_t SequenceNumber() const { return m_sequenceNumber; }

  CSnPlaybackInstance* m_pNextActive = nullptr;
  CSnRegisteredObj* m_pGameObject = nullptr;
  float m_priority = 50.0f;
  uint32_t m_sequenceNumber = 0;
  bool m_stopping = false;
  uint8_t m_stopReason = 0;  // 3 bits
  bool m_limitedThisFrame = false;
  bool m_limitedLastFrame = false;
  bool m_keptOutOfLimiting = false;
  bool m_excluded = false;  // virtual: not counted against the global maximum
  uint8_t m_virtualBehaviour = SnVirtual_ContinueToPlay;  // SnVirtualBehaviour, 4 bits
};

}  // namespace SN
