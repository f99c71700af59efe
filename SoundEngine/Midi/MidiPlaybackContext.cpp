// MIDI playback contexts: scheduling, pairing, sustain, note play and stop, controllers.
#include "SoundEngine/Midi/MidiPlaybackContext.h"

#include "SoundEngine/Lower/FrameFormat.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint32_t kCategoryBus = 0;
constexpr uint32_t kCategoryControlOnly = 12;
}  // namespace

CSnMidiPlaybackContext::~CSnMidiPlaybackContext() {
  while (m_entries.Count()) {
    CSnMidiEventTarget* target = m_entries[0].target;
    EndTarget(*target);
    // A target whose events could not all finish still leaves.
    if (Entry* entry = FindEntry(*target)) {
      while (CSnMidiNoteEvent* event = entry->head) {
        entry->head = event->next;
        FreeEvent(event);
      }
      entry->tail = nullptr;
      RemoveEmptyEntries();
    }
  }
  while (CSnMidiNoteEvent* held = m_heldHead) {
    m_heldHead = held->next;
    FreeEvent(held);
  }
  m_heldTail = nullptr;
  m_entries.Term();
}

CSnMidiPlaybackContext::Entry* CSnMidiPlaybackContext::FindEntry(const CSnMidiEventTarget& target) const {
  for (Entry& entry : const_cast<SnArray<Entry>&>(m_entries))
    if (entry.target == &target) return &entry;
  return nullptr;
}

CSnMidiPlaybackContext::Entry* CSnMidiPlaybackContext::FindOrAddEntry(CSnMidiEventTarget& target) {
  if (Entry* entry = FindEntry(target)) return entry;
  // The entry keeps its target (and the sustain pedal's state) until the target is ended.
  Entry* entry = m_entries.Add(Entry{&target, nullptr, nullptr, 0});
  if (entry) target.IncrementPendingCount();
  return entry;
}

uint32_t CSnMidiPlaybackContext::PendingCount(const CSnMidiEventTarget& target) const {
  const Entry* entry = FindEntry(target);
  uint32_t count = 0;
  for (const CSnMidiNoteEvent* event = entry ? entry->head : nullptr; event; event = event->next) ++count;
  return count;
}

uint32_t CSnMidiPlaybackContext::HeldCount() const {
  uint32_t count = 0;
  for (const CSnMidiNoteEvent* event = m_heldHead; event; event = event->next) ++count;
  return count;
}

uint16_t CSnMidiPlaybackContext::SustainMask(const CSnMidiEventTarget& target) const {
  const Entry* entry = FindEntry(target);
  return entry ? entry->sustainMask : 0;
}

CSnMidiNoteEvent* CSnMidiPlaybackContext::NewEvent(CSnMidiEventTarget& target, const SnMidiEvent& event,
                                                   int32_t offset, CSnMidiNoteState* note) {
  auto* made = PoolNew<CSnMidiNoteEvent>(g_DefaultPoolId);
  if (!made) return nullptr;
  *made = CSnMidiNoteEvent{nullptr, 1, note, &target, event, offset, 0};
  target.IncrementPendingCount();
  return made;
}

void CSnMidiPlaybackContext::FreeEvent(CSnMidiNoteEvent* event) {
  if (event->note) event->note->Release();
  event->target->Release();
  PoolDelete(g_DefaultPoolId, event);
}

void CSnMidiPlaybackContext::InsertByOffset(Entry& entry, CSnMidiNoteEvent* event) {
  CSnMidiNoteEvent* before = nullptr;
  CSnMidiNoteEvent* at = entry.head;
  while (at && at->frameOffset <= event->frameOffset) {
    before = at;
    at = at->next;
  }
  event->next = at;
  if (before) before->next = event; else entry.head = event;
  if (!at) entry.tail = event;
}

void CSnMidiPlaybackContext::ProcessQueue(SnMidiEventQueue& queue, uint32_t frames) {
  while (SnMidiEventNode* node = queue.head) {
    queue.head = node->next;
    if (node->FlagB() && !node->FlagA()) OnFlaggedQueueNode(*node);
    Schedule(*node->target, node->event, node->frameOffset, false, true);
    node->target->Release();
    PoolDelete(g_DefaultPoolId, node);
  }
  queue.tail = nullptr;
  Advance(frames);
}

void CSnMidiPlaybackContext::Schedule(CSnMidiEventTarget& target, const SnMidiEvent& event, uint32_t frameOffset,
                                      bool sameTargetOnly, bool) {
  if (target.PlayingId()) m_playback.MidiCallback(target.PlayingId(), event);
  Entry* entry = FindOrAddEntry(target);
  if (!entry) return;
  if (target.Node() && event.type != SnMidi_ControlChange) {
    const uint32_t category = m_playback.NodeCategory(target.Node());
    if (category == kCategoryBus || category == kCategoryControlOnly) return;
  }
  const int32_t offset = int32_t(frameOffset > 0x7FFFFFFFu ? 0x7FFFFFFFu : frameOffset);

  if (event.IsNoteOn()) {
    CSnMidiNoteState* note = CSnMidiNoteState::Create(event, target.ID());
    if (!note) return;
    CSnMidiNoteEvent* made = NewEvent(target, event, offset, note);
    if (!made) return note->Release();
    InsertByOffset(*entry, made);
    return;
  }
  if (event.IsNoteOff()) {
    // The first open note-on of the same channel and note takes it; without one it goes.
    CSnMidiNoteEvent* partner = nullptr;
    for (Entry& other : m_entries) {
      if (sameTargetOnly && other.target != &target) continue;
      for (CSnMidiNoteEvent* e = other.head; e && !partner; e = e->next)
        if (e->event.IsNoteOn() && !(e->flags & CSnMidiNoteEvent::kPairedOrFinished) &&
            e->event.channel == event.channel && e->event.data1 == event.data1)
          partner = e;
      if (partner) break;
    }
    if (!partner) return;
    entry = FindEntry(target);  // the search may not move entries, but stay exact
    CloseNote(*entry, *partner, offset);
    return;
  }
  CSnMidiNoteEvent* made = NewEvent(target, event, offset, nullptr);
  if (!made) return;
  made->flags = CSnMidiNoteEvent::kPlayed | CSnMidiNoteEvent::kNoteOffHandled | CSnMidiNoteEvent::kPairedOrFinished;
  if (event.IsControlChange(SnMidiCC_AllNotesOff) || event.IsControlChange(SnMidiCC_AllSoundOff)) {
    for (CSnMidiNoteEvent* e = entry->head; e; e = e->next)
      if (e->event.IsNoteOn() && !(e->flags & CSnMidiNoteEvent::kPairedOrFinished) &&
          e->event.channel == event.channel && e->frameOffset <= offset)
        CloseNote(*entry, *e, e->frameOffset);
  }
  InsertByOffset(*entry, made);
}

void CSnMidiPlaybackContext::CloseNote(Entry& entry, CSnMidiNoteEvent& noteOn, int32_t offset) {
  SnMidiEvent off = noteOn.event;
  off.type = SnMidi_NoteOff;
  CSnMidiNoteEvent* made = NewEvent(*noteOn.target, off, offset, noteOn.note);
  if (!made) return;
  noteOn.note->AddRef();
  made->flags = CSnMidiNoteEvent::kPairedOrFinished;
  noteOn.flags |= CSnMidiNoteEvent::kPairedOrFinished;
  // The note-off goes where its own target's events are kept.
  Entry* owner = noteOn.target == entry.target ? &entry : FindEntry(*noteOn.target);
  InsertByOffset(owner ? *owner : entry, made);
}

void CSnMidiPlaybackContext::Advance(uint32_t frames) {
  const int32_t perBuffer = int32_t(LowerEngine::SamplesPerFrame());
  for (uint32_t i = 0; i < m_entries.Count(); ++i) {
    CSnMidiNoteEvent* before = nullptr;
    for (CSnMidiNoteEvent* event = m_entries[i].head; event;) {
      CSnMidiNoteEvent* next = event->next;
      const bool note = event->event.IsNote();
      // A held note-off keeps its place until the pedal lifts; its offset still runs down.
      const uint16_t sustain = m_entries[i].sustainMask;
      const bool held = event->event.IsNoteOff() && (sustain >> (event->event.channel & 15) & 1u);
      if (note && !held && event->target->GameObject()) {
        if (!(event->flags & CSnMidiNoteEvent::kNoteOffHandled) && event->frameOffset < perBuffer) {
          if (event->event.IsNoteOff()) StopNote(*event);
          event->flags |= CSnMidiNoteEvent::kNoteOffHandled;
        }
        if (!(event->flags & CSnMidiNoteEvent::kPlayed)) {
          if (event->event.IsNoteOn()) PlayNote(*event);
          event->flags |= CSnMidiNoteEvent::kPlayed;
        }
      }
      event->frameOffset = event->frameOffset > int32_t(frames) ? event->frameOffset - int32_t(frames) : 0;
      Entry& entry = m_entries[i];  // after the calls out, which may have scheduled more
      const uint8_t done = CSnMidiNoteEvent::kNoteOffHandled | CSnMidiNoteEvent::kPairedOrFinished;
      if (!held && (!note || (event->flags & done) == done)) {
        if (before) before->next = next; else entry.head = next;
        if (entry.tail == event) entry.tail = before;
        event->next = nullptr;
        if (!note) {
          ApplyController(entry, *event);
          FreeEvent(event);
        } else if (event->event.IsNoteOn()) {
          FreeEvent(event);
        } else {
          Hold(event);
        }
      } else {
        before = event;
      }
      event = next;
    }
  }
  PurgeHeld();
}

void CSnMidiPlaybackContext::StopNote(CSnMidiNoteEvent& noteOff) {
  CSnMidiNoteState* note = noteOff.note;
  if (!note) return;
  const uint32_t offset = uint32_t(noteOff.frameOffset);
  for (CSnMidiNoteState::Voice& voice : note->Voices()) {
    voice.stopOffset = offset;
    if (voice.ignoresNoteOff) continue;
    if (voice.kind == CSnMidiNoteState::Voice_Release) m_playback.ReleaseVoice(voice.voice, offset);
    else if (voice.kind == CSnMidiNoteState::Voice_Stop) m_playback.StopVoice(voice.voice);
  }
  for (void* action : note->Actions()) m_playback.StopAction(action, *noteOff.target, offset);
}

void CSnMidiPlaybackContext::PlayNote(CSnMidiNoteEvent& event) {
  CSnMidiEventTarget& target = *event.target;
  if (target.Node() && m_playback.NodeDeclinesNotes(target.Node())) return;
  m_playback.PlayNote(target, event.event, uint32_t(event.frameOffset), *event.note);
  for (void* action : event.note->Actions())
    m_playback.ExecuteNoteAction(action, target, event.event, uint32_t(event.frameOffset), *event.note);
}

void CSnMidiPlaybackContext::ApplyController(Entry& entry, const CSnMidiNoteEvent& event) {
  const SnMidiEvent& e = event.event;
  SnRTPCKey key;
  key.gameObject = event.target->m_globalParameters ? nullptr : event.target->GameObject();
  key.midiTargetId = event.target->ID();
  key.midiChannel = e.channel;
  key.midiNote = e.type == SnMidi_KeyPressure ? e.data1 : 255;
  if (e.type == SnMidi_ControlChange) {
    if (e.data1 == SnMidiCC_ResetAllControllers) {
      for (uint32_t id = 1; id <= kMidiLastParameter; ++id) m_playback.ResetParameter(id, key);
      entry.sustainMask = 0;
      return;
    }
    if (e.data1 == SnMidiCC_AllNotesOff || e.data1 == SnMidiCC_AllSoundOff) return;
    m_playback.SetParameter(uint32_t(e.data1) + 1, float(e.data2), key);
    if (e.data1 == SnMidiCC_Sustain) {
      const uint16_t bit = uint16_t(1u << (e.channel & 15));
      entry.sustainMask = e.data2 >= 64 ? uint16_t(entry.sustainMask | bit) : uint16_t(entry.sustainMask & ~bit);
    }
    return;
  }
  if (e.type == SnMidi_PitchBend)
    m_playback.SetParameter(kMidiPitchBendParameter, float(uint32_t(e.data2) * 128u + e.data1) * 0.0078125f, key);
}

void CSnMidiPlaybackContext::Hold(CSnMidiNoteEvent* noteOff) {
  noteOff->next = nullptr;
  if (m_heldTail) m_heldTail->next = noteOff; else m_heldHead = noteOff;
  m_heldTail = noteOff;
}

void CSnMidiPlaybackContext::PurgeHeld() {
  CSnMidiNoteEvent* before = nullptr;
  for (CSnMidiNoteEvent* held = m_heldHead; held;) {
    CSnMidiNoteEvent* next = held->next;
    if (!held->note || held->note->Silent()) {
      if (before) before->next = next; else m_heldHead = next;
      if (m_heldTail == held) m_heldTail = before;
      FreeEvent(held);
    } else {
      before = held;
    }
    held = next;
  }
}

void CSnMidiPlaybackContext::RemoveHeldNoteOff(CSnMidiNoteState* note) {
  CSnMidiNoteEvent* before = nullptr;
  for (CSnMidiNoteEvent* held = m_heldHead; held; before = held, held = held->next) {
    if (held->note != note) continue;
    if (before) before->next = held->next; else m_heldHead = held->next;
    if (m_heldTail == held) m_heldTail = before;
    FreeEvent(held);
    return;
  }
}

void CSnMidiPlaybackContext::AllNotesOff(CSnMidiEventTarget& target, uint32_t channel, uint32_t frameOffset) {
  Entry* entry = FindEntry(target);
  if (!entry) return;
  for (CSnMidiNoteEvent* e = entry->head; e; e = e->next)
    if (e->event.IsNoteOn() && !(e->flags & CSnMidiNoteEvent::kPairedOrFinished) &&
        (channel == 255 || e->event.channel == channel) && uint32_t(e->frameOffset) <= frameOffset)
      CloseNote(*entry, *e, e->frameOffset);
}

void CSnMidiPlaybackContext::EndTarget(CSnMidiEventTarget& target) {
  // The target may go with its last event: it is kept for the length of the call.
  target.IncrementPendingCount();
  if (FindEntry(target)) {
    for (uint8_t channel = 0; channel < 16; ++channel)
      Schedule(target, SnMidiEvent{SnMidi_ControlChange, channel, SnMidiCC_Sustain, 0}, 0, true);
    if (Entry* entry = FindEntry(target)) {
      entry->sustainMask = 0;
      for (CSnMidiNoteEvent* e = entry->head; e; e = e->next)
        if (e->event.IsNoteOn() && !(e->flags & CSnMidiNoteEvent::kPairedOrFinished)) CloseNote(*entry, *e, 0);
    }
    Advance(0);
  }
  CSnMidiNoteEvent* before = nullptr;
  for (CSnMidiNoteEvent* held = m_heldHead; held;) {
    CSnMidiNoteEvent* next = held->next;
    if (held->target == &target) {
      if (held->note)
        for (CSnMidiNoteState::Voice& voice : held->note->Voices()) m_playback.StopVoice(voice.voice);
      if (before) before->next = next; else m_heldHead = next;
      if (m_heldTail == held) m_heldTail = before;
      FreeEvent(held);
    } else {
      before = held;
    }
    held = next;
  }
  RemoveEmptyEntries();
  target.Release();
}

void CSnMidiPlaybackContext::PauseTarget(CSnMidiEventTarget& target) {
  auto pause = [&](CSnMidiNoteState* note) {
    if (!note) return;
    for (CSnMidiNoteState::Voice& voice : note->Voices()) m_playback.PauseVoice(voice.voice);
    for (void* action : note->Actions()) m_playback.PauseAction(action, target);
  };
  if (Entry* entry = FindEntry(target))
    for (CSnMidiNoteEvent* e = entry->head; e; e = e->next)
      if (e->event.IsNoteOn()) pause(e->note);
  for (CSnMidiNoteEvent* held = m_heldHead; held; held = held->next)
    if (held->target == &target) pause(held->note);
}

void CSnMidiPlaybackContext::ResumeTarget(CSnMidiEventTarget& target) {
  auto resume = [&](CSnMidiNoteState* note) {
    if (!note) return;
    for (CSnMidiNoteState::Voice& voice : note->Voices()) m_playback.ResumeVoice(voice.voice);
    for (void* action : note->Actions()) m_playback.ResumeAction(action, target);
  };
  if (Entry* entry = FindEntry(target))
    for (CSnMidiNoteEvent* e = entry->head; e; e = e->next)
      if (e->event.IsNoteOn()) resume(e->note);
  for (CSnMidiNoteEvent* held = m_heldHead; held; held = held->next)
    if (held->target == &target) resume(held->note);
}

void CSnMidiPlaybackContext::RemoveEmptyEntries() {
  for (uint32_t i = m_entries.Count(); i-- > 0;) {
    if (m_entries[i].head) continue;
    CSnMidiEventTarget* target = m_entries[i].target;
    m_entries.RemoveAt(i);
    target->Release();
  }
}

}  // namespace SN
