// The addressee of a stream of MIDI messages: a node played for one game object and playing id. It
// queues timed messages in frame order and lives while events refer to it.
#pragma once

#include <cstdint>

#include "SoundEngine/Midi/MidiEvent.h"

namespace SN {

class CSnRegisteredObj;

class CSnMidiEventTarget {
 public:
  // Takes a reference on the game object and the node (either may be null).
  CSnMidiEventTarget(uint32_t id, CSnRegisteredObj* gameObject, uint32_t playingId, CSnIndexedObject* node);
  CSnMidiEventTarget(const CSnMidiEventTarget&) = delete;
  CSnMidiEventTarget& operator=(const CSnMidiEventTarget&) = delete;
  virtual ~CSnMidiEventTarget();

  // From the default pool, with one reference; null without memory.
  static CSnMidiEventTarget* Create(uint32_t id, CSnRegisteredObj* gameObject, uint32_t playingId,
                                    CSnIndexedObject* node);
  void IncrementPendingCount() { ++m_pending; }
  // Destroyed (`Destroy`) when nothing refers to it any more.
  void Release();

  // Inserts the message by offset; ignored for a type below 0x80 or from 0xF0, a closed target, or
  // without memory. Among equal offsets a node without flag A goes before those with it, and one with
  // flag B before those without it.
  void QueueEvent(SnMidiEventQueue& queue, const SnMidiEvent& event, uint32_t frameOffset, uint32_t value, bool flagA,
                  bool flagB);
  void Close() { m_closed = true; }

  uint32_t ID() const { return m_id; }
  CSnRegisteredObj* GameObject() const { return m_pGameObject; }
  uint32_t PlayingId() const { return m_playingId; }
  CSnIndexedObject* Node() const { return m_pNode; }
  uint32_t PendingCount() const { return m_pending; }
  bool Closed() const { return m_closed; }
  // When set, the controllers of this target drive parameters globally instead of per game object.
  bool m_globalParameters = false;

 protected:
  // Gives the memory back; a target made elsewhere than by `Create` says how.
  virtual void Destroy();

 private:
  uint32_t m_id;
  CSnRegisteredObj* m_pGameObject;
  uint32_t m_playingId;
  CSnIndexedObject* m_pNode;
  uint32_t m_pending = 1;
  bool m_closed = false;
};

}  // namespace SN
