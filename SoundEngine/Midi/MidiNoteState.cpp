// Note states: the voices and actions of one note.
#include "SoundEngine/Midi/MidiNoteState.h"

#include "Base/Assert.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnMidiNoteState::CSnMidiNoteState(const SnMidiEvent& noteOn, uint32_t targetId) : m_noteOn(noteOn), m_targetId(targetId) {}

CSnMidiNoteState::~CSnMidiNoteState() {
  while (SnMidiNoteEntry* entry = m_entries) {
    m_entries = entry->next;
    MidiNoteEntryPool().Give(entry);
  }
}

void CSnMidiNoteState::AddEntry(SnMidiNoteEntry* entry) {
  if (!entry) return;
  // Appended: the note's end plays its entries in the order the note began them.
  SnMidiNoteEntry** link = &m_entries;
  while (*link) link = &(*link)->next;
  entry->next = nullptr;
  *link = entry;
}

CSnMidiNoteState* CSnMidiNoteState::Create(const SnMidiEvent& noteOn, uint32_t targetId) {
  return PoolNew<CSnMidiNoteState>(g_DefaultPoolId, noteOn, targetId);
}

void CSnMidiNoteState::Release() {
  ORV_ASSERT(m_refCount > 0);
  if (--m_refCount) return;
  this->~CSnMidiNoteState();
  MemoryMgr::Free(g_DefaultPoolId, this);
}

bool CSnMidiNoteState::AddVoice(CSnPlaybackInstance* voice, VoiceKind kind, bool ignoresNoteOff) {
  return m_voices.Add(Voice{voice, 0, uint8_t(kind), ignoresNoteOff}) != nullptr;
}

void CSnMidiNoteState::RemoveVoice(CSnPlaybackInstance* voice) {
  for (uint32_t i = 0; i < m_voices.Count(); ++i)
    if (m_voices[i].voice == voice) return m_voices.RemoveAt(i);
}

bool CSnMidiNoteState::AddAction(void* action) { return m_actions.Add(action) != nullptr; }

void CSnMidiNoteState::RemoveAction(void* action) {
  const int32_t index = m_actions.IndexOf(action);
  if (index >= 0) m_actions.RemoveAt(uint32_t(index));
}

}  // namespace SN
