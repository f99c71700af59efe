// MIDI playback contexts: scheduling, pairing, sustain, note play and stop, controllers.
#include "SoundEngine/Midi/MidiPlaybackContext.h"

#include <algorithm>

#include "Base/Assert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint32_t kCategoryBus = 0;
constexpr uint32_t kCategoryControlOnly = 12;
constexpr uint32_t kMostSpareEvents = 256;
}  // namespace

CSnMidiPlaybackContext::~CSnMidiPlaybackContext() {
  while (m_entries.Count()) {
    CSnMidiEventTarget* target = m_entries[0].target;
    EndTarget(*target);
    // A target whose events could not all finish still leaves.
    if (Entry* entry = FindEntry(*target)) {
      FreePending(*entry);
      RemoveEmptyEntries();
    }
  }
  while (CSnMidiNoteEvent* held = m_heldHead) {
    m_heldHead = held->next;
    FreeEvent(held);
  }
  m_heldTail = nullptr;
  m_entries.Term();
  while (CSnMidiNoteEvent* spare = m_spareEvents) {
    m_spareEvents = spare->next;
    PoolDelete(g_DefaultPoolId, spare);
  }
}

CSnMidiPlaybackContext::Entry* CSnMidiPlaybackContext::FindEntry(const CSnMidiEventTarget& target) const {
  for (Entry& entry : const_cast<SnArray<Entry>&>(m_entries))
    if (entry.target == &target) return &entry;
  return nullptr;
}

CSnMidiPlaybackContext::Entry* CSnMidiPlaybackContext::FindOrAddEntry(CSnMidiEventTarget& target) {
  if (Entry* entry = FindEntry(target)) return entry;
  // The entry keeps its target (and the sustain pedal's state) until the target is ended.
  Entry* entry = m_entries.Add(Entry{&target, nullptr, 0, 0, 0, nullptr});
  if (entry) target.IncrementPendingCount();
  return entry;
}

uint32_t CSnMidiPlaybackContext::PendingCount(const CSnMidiEventTarget& target) const {
  const Entry* entry = FindEntry(target);
  return entry ? entry->count : 0;
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
  CSnMidiNoteEvent* made = m_spareEvents;
  if (made) {
    m_spareEvents = made->next;
    --m_spareCount;
  } else {
    made = PoolNew<CSnMidiNoteEvent>(g_DefaultPoolId);
    if (!made) return nullptr;
  }
  *made = CSnMidiNoteEvent{nullptr, nullptr, 1, note, &target, event, offset, 0};
  target.IncrementPendingCount();
  return made;
}

void CSnMidiPlaybackContext::FreeEvent(CSnMidiNoteEvent* event) {
  if (event->note) event->note->Release();
  event->target->Release();
  if (m_spareCount < kMostSpareEvents) {
    event->next = m_spareEvents;
    m_spareEvents = event;
    ++m_spareCount;
    return;
  }
  PoolDelete(g_DefaultPoolId, event);
}

bool CSnMidiPlaybackContext::InsertByOffset(Entry& entry, CSnMidiNoteEvent* event) {
  if (entry.count == entry.capacity) {
    const uint32_t capacity = entry.capacity ? entry.capacity * 2 : 16;
    auto** grown = static_cast<CSnMidiNoteEvent**>(
        MemoryMgr::Malign(g_DefaultPoolId, sizeof(CSnMidiNoteEvent*) * capacity, alignof(CSnMidiNoteEvent*)));
    if (!grown) return false;
    if (entry.count) memcpy(static_cast<void*>(grown), entry.pending, sizeof(CSnMidiNoteEvent*) * entry.count);
    MemoryMgr::Free(g_DefaultPoolId, entry.pending);
    entry.pending = grown;
    entry.capacity = capacity;
  }
  // After the events of the same offset.
  CSnMidiNoteEvent** at = std::upper_bound(
      entry.pending, entry.pending + entry.count, event,
      [](const CSnMidiNoteEvent* a, const CSnMidiNoteEvent* b) { return a->frameOffset < b->frameOffset; });
  memmove(static_cast<void*>(at + 1), at, sizeof(CSnMidiNoteEvent*) * size_t(entry.pending + entry.count - at));
  *at = event;
  ++entry.count;
  return true;
}

void CSnMidiPlaybackContext::FreePending(Entry& entry) {
  for (uint32_t i = 0; i < entry.count; ++i) FreeEvent(entry.pending[i]);
  MemoryMgr::Free(g_DefaultPoolId, entry.pending);
  entry.pending = nullptr;
  entry.count = entry.capacity = 0;
  entry.openHead = nullptr;
}

void CSnMidiPlaybackContext::AddOpen(Entry& entry, CSnMidiNoteEvent* noteOn) {
  CSnMidiNoteEvent** link = &entry.openHead;
  while (*link && (*link)->frameOffset <= noteOn->frameOffset) link = &(*link)->nextOpen;
  noteOn->nextOpen = *link;
  *link = noteOn;
}

void CSnMidiPlaybackContext::RemoveOpen(Entry& entry, CSnMidiNoteEvent* noteOn) {
  for (CSnMidiNoteEvent** link = &entry.openHead; *link; link = &(*link)->nextOpen) {
    if (*link != noteOn) continue;
    *link = noteOn->nextOpen;
    noteOn->nextOpen = nullptr;
    return;
  }
}

void CSnMidiPlaybackContext::CloseOpenNotes(Entry& entry, uint32_t channel, int32_t offset, int32_t at) {
  for (CSnMidiNoteEvent* e = entry.openHead; e;) {
    CSnMidiNoteEvent* next = e->nextOpen;
    if ((channel == 255 || e->event.channel == channel) && e->frameOffset <= offset)
      // Never before its note-on: a note-off ahead of it would leave the note sounding.
      CloseNote(entry, *e, at < 0 ? e->frameOffset : std::max(at, e->frameOffset));
    e = next;
  }
}

void CSnMidiPlaybackContext::ProcessQueue(SnMidiEventQueue& queue, uint32_t frames) {
  while (SnMidiEventNode* node = queue.head) {
    queue.head = node->next;
    if (node->FlagB() && !node->FlagA()) OnFlaggedQueueNode(*node, queue);
    Schedule(*node->target, node->event, node->frameOffset, false, true);
    node->target->Release();
    PoolDelete(g_DefaultPoolId, node);
  }
  queue.tail = nullptr;
  Advance(frames);
}

void CSnMidiPlaybackContext::Schedule(CSnMidiEventTarget& target, const SnMidiEvent& event, uint32_t frameOffset,
                                      bool sameTargetOnly, bool) {
  ORV_ASSERT(!m_advancing);
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
    if (!InsertByOffset(*entry, made)) return FreeEvent(made);
    AddOpen(*entry, made);
    return;
  }
  if (event.IsNoteOff()) {
    // The first open note-on of the same channel and note takes it; without one it goes.
    for (Entry& other : m_entries) {
      if (sameTargetOnly && other.target != &target) continue;
      for (CSnMidiNoteEvent* e = other.openHead; e; e = e->nextOpen) {
        if (e->event.channel != event.channel || e->event.data1 != event.data1) continue;
        CloseNote(other, *e, offset);
        return;
      }
    }
    return;
  }
  CSnMidiNoteEvent* made = NewEvent(target, event, offset, nullptr);
  if (!made) return;
  made->flags = CSnMidiNoteEvent::kPlayed | CSnMidiNoteEvent::kNoteOffHandled | CSnMidiNoteEvent::kPairedOrFinished;
  if (event.IsControlChange(SnMidiCC_AllNotesOff) || event.IsControlChange(SnMidiCC_AllSoundOff))
    CloseOpenNotes(*entry, event.channel, offset, -1);
  if (!InsertByOffset(*entry, made)) FreeEvent(made);
}

void CSnMidiPlaybackContext::CloseNote(Entry& entry, CSnMidiNoteEvent& noteOn, int32_t offset) {
  SnMidiEvent off = noteOn.event;
  off.type = SnMidi_NoteOff;
  CSnMidiNoteEvent* made = NewEvent(*noteOn.target, off, offset, nullptr);
  if (!made) return;
  made->flags = CSnMidiNoteEvent::kPairedOrFinished;
  if (!InsertByOffset(entry, made)) return FreeEvent(made);
  made->note = noteOn.note;
  made->note->AddRef();
  noteOn.flags |= CSnMidiNoteEvent::kPairedOrFinished;
  RemoveOpen(entry, &noteOn);
}

void CSnMidiPlaybackContext::Advance(uint32_t frames) {
  const int32_t perBuffer = int32_t(LowerEngine::SamplesPerFrame());
  const uint8_t done = CSnMidiNoteEvent::kNoteOffHandled | CSnMidiNoteEvent::kPairedOrFinished;
  m_advancing = true;
  for (Entry& entry : m_entries) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < entry.count; ++i) {
      CSnMidiNoteEvent* event = entry.pending[i];
      const bool note = event->event.IsNote();
      // A held note-off keeps its place until the pedal lifts; its offset still runs down.
      const bool held = event->event.IsNoteOff() && (entry.sustainMask >> (event->event.channel & 15) & 1u);
      if (note && !held && event->target->GameObject()) {
        if (!(event->flags & CSnMidiNoteEvent::kNoteOffHandled) && event->frameOffset < perBuffer) {
          if (event->event.IsNoteOff()) StopNote(*event);
          event->flags |= CSnMidiNoteEvent::kNoteOffHandled;
        }
        if (!(event->flags & CSnMidiNoteEvent::kPlayed)) {
          if (event->event.IsNoteOn()) PlayNote(*event);
          else PlayNoteEntries(*event);
          event->flags |= CSnMidiNoteEvent::kPlayed;
        }
      }
      event->frameOffset = event->frameOffset > int32_t(frames) ? event->frameOffset - int32_t(frames) : 0;
      if (held || (note && (event->flags & done) != done)) {
        entry.pending[kept++] = event;
        continue;
      }
      if (!note) {
        ApplyController(entry, *event);
        FreeEvent(event);
      } else if (event->event.IsNoteOn()) {
        FreeEvent(event);
      } else {
        Hold(event);
      }
    }
    entry.count = kept;
  }
  m_advancing = false;
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
    else if (voice.kind == CSnMidiNoteState::Voice_Stop) m_playback.StopVoiceAt(voice.voice, offset);
  }
  // A stopped action may go at once and leave the note's list: walked by index from the end.
  SnInlineArray<void*, 4>& actions = note->Actions();
  for (uint32_t i = actions.Count(); i-- > 0;)
    if (i < actions.Count()) m_playback.StopAction(actions[i], *noteOff.target, offset);
}

void CSnMidiPlaybackContext::PlayNote(CSnMidiNoteEvent& event) {
  CSnMidiEventTarget& target = *event.target;
  if (target.Node() && m_playback.NodeDeclinesNotes(target.Node())) return;
  m_playback.PlayNote(target, event.event, uint32_t(event.frameOffset), *event.note);
  for (void* action : event.note->Actions())
    m_playback.ExecuteNoteAction(action, target, event.event, uint32_t(event.frameOffset), *event.note);
}

void CSnMidiPlaybackContext::PlayNoteEntries(CSnMidiNoteEvent& noteOff) {
  if (!noteOff.note) return;
  for (const SnMidiNoteEntry* entry = noteOff.note->Entries(); entry; entry = entry->next)
    if (entry->playMode == kMidiPlayOnNoteOff)
      m_playback.PlayNoteEntry(*noteOff.target, *entry, noteOff.event, uint32_t(noteOff.frameOffset));
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

template <typename Drops>
void CSnMidiPlaybackContext::DropHeld(Drops drops) {
  CSnMidiNoteEvent* before = nullptr;
  for (CSnMidiNoteEvent* held = m_heldHead; held;) {
    CSnMidiNoteEvent* next = held->next;
    if (drops(*held)) {
      if (before) before->next = next; else m_heldHead = next;
      if (m_heldTail == held) m_heldTail = before;
      FreeEvent(held);
    } else {
      before = held;
    }
    held = next;
  }
}

void CSnMidiPlaybackContext::PurgeHeld() {
  DropHeld([](CSnMidiNoteEvent& held) { return !held.note || held.note->Silent(); });
}

void CSnMidiPlaybackContext::RemoveHeldNoteOff(CSnMidiNoteState* note) {
  DropHeld([note](CSnMidiNoteEvent& held) { return held.note == note; });
}

void CSnMidiPlaybackContext::AllNotesOff(CSnMidiEventTarget& target, uint32_t channel, uint32_t frameOffset) {
  if (Entry* entry = FindEntry(target))
    CloseOpenNotes(*entry, channel, int32_t(frameOffset > 0x7FFFFFFFu ? 0x7FFFFFFFu : frameOffset), -1);
}

void CSnMidiPlaybackContext::EndTarget(CSnMidiEventTarget& target) { StopTargetNotes(target, true); }

void CSnMidiPlaybackContext::SilenceTarget(CSnMidiEventTarget& target) { StopTargetNotes(target, false); }

void CSnMidiPlaybackContext::StopTargetNotes(CSnMidiEventTarget& target, bool liftPedals) {
  // The target may go with its last event: it is kept for the length of the call.
  target.IncrementPendingCount();
  if (FindEntry(target)) {
    if (liftPedals)
      for (uint8_t channel = 0; channel < 16; ++channel)
        Schedule(target, SnMidiEvent{SnMidi_ControlChange, channel, SnMidiCC_Sustain, 0}, 0, true);
    uint16_t pedals = 0;
    if (Entry* entry = FindEntry(target)) {
      pedals = liftPedals ? 0 : entry->sustainMask;
      entry->sustainMask = 0;
      CloseOpenNotes(*entry, 255, 0x7FFFFFFF, 0);
    }
    Advance(0);
    // The pedals come back as they were, unless a controller due in this frame pressed one again.
    if (Entry* entry = FindEntry(target); entry && pedals && entry->sustainMask == 0) entry->sustainMask = pedals;
  }
  DropHeld([&](CSnMidiNoteEvent& held) {
    if (held.target != &target) return false;
    if (held.note)
      for (CSnMidiNoteState::Voice& voice : held.note->Voices()) m_playback.StopVoice(voice.voice);
    return true;
  });
  // A silenced target plays on: its entry keeps its pedals.
  if (liftPedals) RemoveEmptyEntries();
  target.Release();
}

void CSnMidiPlaybackContext::RetireTarget(CSnMidiEventTarget& target, uint32_t frameOffset) {
  if (!FindEntry(target)) return;
  const int32_t offset = int32_t(frameOffset > 0x7FFFFFFFu ? 0x7FFFFFFFu : frameOffset);
  for (uint8_t channel = 0; channel < 16; ++channel)
    Schedule(target, SnMidiEvent{SnMidi_ControlChange, channel, SnMidiCC_Sustain, 0}, uint32_t(offset), true);
  if (Entry* entry = FindEntry(target)) {
    // The pedal lifts at `offset`: the note-offs it held end their notes there, not before.
    bool moved = false;
    for (uint32_t i = 0; i < entry->count; ++i) {
      CSnMidiNoteEvent* event = entry->pending[i];
      if (!event->event.IsNoteOff() || !(entry->sustainMask >> (event->event.channel & 15) & 1u)) continue;
      if (event->frameOffset >= offset) continue;
      event->frameOffset = offset;
      moved = true;
    }
    if (moved)
      std::stable_sort(entry->pending, entry->pending + entry->count,
                       [](const CSnMidiNoteEvent* a, const CSnMidiNoteEvent* b) { return a->frameOffset < b->frameOffset; });
    entry->sustainMask = 0;
    CloseOpenNotes(*entry, 255, 0x7FFFFFFF, offset);
  }
}

void CSnMidiPlaybackContext::ReleaseIfIdle(CSnMidiEventTarget& target) {
  for (uint32_t i = 0; i < m_entries.Count(); ++i) {
    if (m_entries[i].target != &target) continue;
    if (m_entries[i].count) return;
    MemoryMgr::Free(g_DefaultPoolId, m_entries[i].pending);
    m_entries.RemoveAt(i);
    target.Release();
    return;
  }
}

void CSnMidiPlaybackContext::PauseTarget(CSnMidiEventTarget& target) { SetTargetPaused(target, true); }

void CSnMidiPlaybackContext::ResumeTarget(CSnMidiEventTarget& target) { SetTargetPaused(target, false); }

void CSnMidiPlaybackContext::SetTargetPaused(CSnMidiEventTarget& target, bool paused) {
  auto apply = [&](CSnMidiNoteState* note) {
    if (!note) return;
    for (CSnMidiNoteState::Voice& voice : note->Voices())
      paused ? m_playback.PauseVoice(voice.voice) : m_playback.ResumeVoice(voice.voice);
    for (void* action : note->Actions())
      paused ? m_playback.PauseAction(action, target) : m_playback.ResumeAction(action, target);
  };
  if (Entry* entry = FindEntry(target))
    for (uint32_t i = 0; i < entry->count; ++i)
      if (entry->pending[i]->event.IsNoteOn()) apply(entry->pending[i]->note);
  for (CSnMidiNoteEvent* held = m_heldHead; held; held = held->next)
    if (held->target == &target) apply(held->note);
}

void CSnMidiPlaybackContext::RemoveEmptyEntries() {
  for (uint32_t i = m_entries.Count(); i-- > 0;) {
    if (m_entries[i].count) continue;
    CSnMidiEventTarget* target = m_entries[i].target;
    MemoryMgr::Free(g_DefaultPoolId, m_entries[i].pending);
    m_entries.RemoveAt(i);
    target->Release();
  }
}

}  // namespace SN
