// Takes queued MIDI messages every audio frame: pairs note-offs with their note-ons, plays a note's
// node and ends its voices at its note-off, holds note-offs while the sustain pedal is down, and turns
// controllers and pitch bend into game-parameter values. Audio thread only, no locks.
#pragma once

#include <cstdint>

#include "SoundEngine/Containers.h"
#include "SoundEngine/Midi/MidiEvent.h"
#include "SoundEngine/Midi/MidiEventTarget.h"
#include "SoundEngine/Midi/MidiNoteState.h"

namespace SN {

// One scheduled message: a note-on or note-off with its note state, or a controller.
struct CSnMidiNoteEvent {
  static constexpr uint8_t kPlayed = 0x01;
  static constexpr uint8_t kNoteOffHandled = 0x02;
  static constexpr uint8_t kPairedOrFinished = 0x04;

  CSnMidiNoteEvent* next;
  CSnMidiNoteEvent* nextOpen;  // among its target's note-ons still waiting for their note-off
  uint32_t refCount;
  CSnMidiNoteState* note;
  CSnMidiEventTarget* target;
  SnMidiEvent event;
  int32_t frameOffset;
  uint8_t flags;
};

class CSnMidiPlaybackContext {
 public:
  explicit CSnMidiPlaybackContext(ISnMidiPlayback& playback) : m_playback(playback) {}
  CSnMidiPlaybackContext(const CSnMidiPlaybackContext&) = delete;
  CSnMidiPlaybackContext& operator=(const CSnMidiPlaybackContext&) = delete;
  // Ends every target first.
  virtual ~CSnMidiPlaybackContext();

  // A queue node with flag B and not flag A, before it is scheduled, with the nodes of the queue
  // still behind it: the music engine's contexts take these over.
  virtual void OnFlaggedQueueNode(const SnMidiEventNode&, SnMidiEventQueue& /*rest*/) {}

  // Schedules every node of the queue in order (each releasing its target), then advances. Not from
  // inside the context's own calls out.
  void ProcessQueue(SnMidiEventQueue& queue, uint32_t frames);
  void Schedule(CSnMidiEventTarget& target, const SnMidiEvent& event, uint32_t frameOffset, bool sameTargetOnly = false,
                bool fromQueue = false);
  void Advance(uint32_t frames);
  // Sustain off on every channel, a note-off for every open note, and every voice of the target's
  // held notes stopped at once.
  void EndTarget(CSnMidiEventTarget& target);
  // Every note of the target ends at once, those its pedals hold too, and so do the voices of its
  // held notes; its pedals stay as they are for the notes that come later (a muted target).
  void SilenceTarget(CSnMidiEventTarget& target);
  // Note-offs at their own offsets for the channel's (255: every channel's) notes due up to `offset`.
  void AllNotesOff(CSnMidiEventTarget& target, uint32_t channel, uint32_t frameOffset);
  // The target's notes end at `offset`: sustain off on every channel there, its pedal mask
  // cleared, and a note-off there for each note still waiting for one. Its voices in their release
  // play on.
  void RetireTarget(CSnMidiEventTarget& target, uint32_t frameOffset);
  // The target's entry goes, and the reference it held, once nothing of it is pending.
  void ReleaseIfIdle(CSnMidiEventTarget& target);
  void PauseTarget(CSnMidiEventTarget& target);
  void ResumeTarget(CSnMidiEventTarget& target);
  void RemoveHeldNoteOff(CSnMidiNoteState* note);
  // Held note-offs whose notes have no voice and no action left go.
  void PurgeHeld();

  uint32_t TargetCount() const { return m_entries.Count(); }
  uint32_t PendingCount(const CSnMidiEventTarget& target) const;
  uint32_t HeldCount() const;
  uint16_t SustainMask(const CSnMidiEventTarget& target) const;

 private:
  struct Entry {
    CSnMidiEventTarget* target;
    // The pending events in offset order, as an array: an insertion is a search and a move, where
    // a list would be walked for every message.
    CSnMidiNoteEvent** pending;
    uint32_t count;
    uint32_t capacity;
    uint16_t sustainMask;
    // The unpaired note-ons in offset order: a note-off looks for its partner among these alone.
    CSnMidiNoteEvent* openHead;
  };

  Entry* FindEntry(const CSnMidiEventTarget& target) const;
  Entry* FindOrAddEntry(CSnMidiEventTarget& target);
  CSnMidiNoteEvent* NewEvent(CSnMidiEventTarget& target, const SnMidiEvent& event, int32_t offset, CSnMidiNoteState* note);
  void FreeEvent(CSnMidiNoteEvent* event);
  // False when the entry cannot grow (the event is not taken).
  static bool InsertByOffset(Entry& entry, CSnMidiNoteEvent* event);
  void FreePending(Entry& entry);
  static void AddOpen(Entry& entry, CSnMidiNoteEvent* noteOn);
  static void RemoveOpen(Entry& entry, CSnMidiNoteEvent* noteOn);
  // Closes the entry's open notes on `channel` (255: all) due up to `offset`, each at `at` (-1: its own).
  void CloseOpenNotes(Entry& entry, uint32_t channel, int32_t offset, int32_t at);
  // A note-off at `offset` for one of the entry's open note-ons, kept with it.
  void CloseNote(Entry& entry, CSnMidiNoteEvent& noteOn, int32_t offset);
  void StopNote(CSnMidiNoteEvent& noteOff);
  void PlayNote(CSnMidiNoteEvent& event);
  void PlayNoteEntries(CSnMidiNoteEvent& noteOff);
  void ApplyController(Entry& entry, const CSnMidiNoteEvent& event);
  void Hold(CSnMidiNoteEvent* noteOff);
  // Held note-offs for which `drops` answers true leave the held list and are freed.
  template <typename Drops>
  void DropHeld(Drops drops);
  void RemoveEmptyEntries();
  void SetTargetPaused(CSnMidiEventTarget& target, bool paused);
  // EndTarget (`liftPedals`: sustain off on every channel, the entries left empty gone) and
  // SilenceTarget (the pedals passed over for this once and kept, with the entry).
  void StopTargetNotes(CSnMidiEventTarget& target, bool liftPedals);

  ISnMidiPlayback& m_playback;
  SnArray<Entry> m_entries;
  CSnMidiNoteEvent* m_heldHead = nullptr;
  CSnMidiNoteEvent* m_heldTail = nullptr;
  // Finished events kept for the next ones: most notes last a frame or two.
  CSnMidiNoteEvent* m_spareEvents = nullptr;
  uint32_t m_spareCount = 0;
  // The playback's calls do not schedule into the context that is advancing.
  bool m_advancing = false;
};

}  // namespace SN
