// The bounded pool of MIDI note entries.
#include "SoundEngine/Midi/MidiNoteEntries.h"

#include "Base/Assert.h"
#include "Base/PoisonRegion.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

SnMidiNoteEntry* CSnMidiNoteEntryPool::Take(uint32_t playMode, CSnIndexedObject* node, uint8_t channel, uint8_t note) {
  SnMidiNoteEntry* entry = m_kept;
  if (entry) {
    Base::UnpoisonRegion(entry, sizeof *entry);
    m_kept = entry->next;
    --m_keptCount;
  } else if (m_out < m_maximum && g_DefaultPoolId != kInvalidPoolId) {
    entry = static_cast<SnMidiNoteEntry*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnMidiNoteEntry)));
  }
  if (!entry) {
    if (!m_exhaustionLogged)
      SOUND_LOG(Warning, "MIDI notes: no note entry left (%u in use); the note is not tracked", m_out);
    m_exhaustionLogged = true;
    return nullptr;
  }
  if (node) node->AddRef();
  *entry = SnMidiNoteEntry{nullptr, playMode, node, uint16_t(channel << 8 | note)};
  ++m_out;
  return entry;
}

void CSnMidiNoteEntryPool::Give(SnMidiNoteEntry* entry) {
  if (!entry) return;
  ORV_ASSERT(m_out > 0);
  CSnIndexedObject* node = entry->node;
  entry->node = nullptr;
  entry->channelAndNote = SnMidiNoteEntry::kUnset;
  entry->next = m_kept;
  m_kept = entry;
  // Kept entries stay poisoned until taken again.
  Base::PoisonRegion(entry, sizeof *entry);
  ++m_keptCount;
  --m_out;
  m_exhaustionLogged = false;
  if (node) node->Release();
}

void CSnMidiNoteEntryPool::Term() {
  while (SnMidiNoteEntry* entry = m_kept) {
    Base::UnpoisonRegion(entry, sizeof *entry);
    m_kept = entry->next;
    if (g_DefaultPoolId != kInvalidPoolId) MemoryMgr::Free(g_DefaultPoolId, entry);
  }
  m_keptCount = 0;
}

CSnMidiNoteEntryPool& MidiNoteEntryPool() {
  static CSnMidiNoteEntryPool pool(kMaxMidiNoteEntries);
  return pool;
}

}  // namespace SN
