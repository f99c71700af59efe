// Sounds: their bank payload, their play and their MIDI values.
#include "SoundEngine/Hierarchy/SoundNode.h"

#include <cmath>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Banks/SourceRecord.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Midi/MidiNoteState.h"

namespace SN {

CSnSoundNode::~CSnSoundNode() { m_source.Clear(); }

SNRESULT CSnSoundNode::SetInitialValues(const uint8_t* data, uint32_t size, bool existed) {
  SnBankCursor cursor(data, size);
  SnSourceRecord record;
  const SNRESULT read = BankParse::ReadSourceRecord(cursor, record);
  if (read != SN_Success) {
    SOUND_LOG(Error, "Sound %u: its source cannot be read", ID());
    return read;
  }
  record.Describe(m_source);
  const uint8_t* params = data + (size - cursor.Left());
  return ReadBaseParams(params, data + size, existed);
}

float CSnSoundNode::MidiNoteFrequency(uint8_t note) {
  return std::pow(2.0f, float(int32_t(note) - 69) * (1.0f / 12.0f)) * 440.0f;
}

uint32_t CSnSoundNode::MidiNotePlayMode() const {
  const CSnPropertyNode* events = MidiSettingsNode(kMidiOverridesEvents);
  if (events->IntProperty(SnProp_MidiPlayMode) == 2) return 1;
  return (events->MidiFlags() & kMidiOption) ? 2 : 0;
}

SNRESULT CSnSoundNode::PlayNode(CSnPlayParams& params) {
  const SnMidiEvent& event = params.midiEvent;
  if (event.IsNoteOn()) {
    const bool plays = MidiSettingsNode(kMidiOverridesEvents)->IntProperty(SnProp_MidiPlayMode) == 1;
    SnRTPCKey key;
    key.midiTargetId = params.GetMidiTargetID();
    key.midiChannel = event.channel;
    key.midiNote = event.note;
    if (g_pRTPCMgr) {
      g_pRTPCMgr->SetRTPCImmediate(kMidiNoteParameter, float(event.note), key);
      g_pRTPCMgr->SetRTPCImmediate(kMidiVelocityParameter, float(event.velocity), key);
      g_pRTPCMgr->SetRTPCImmediate(kMidiFrequencyParameter, MidiNoteFrequency(event.note), key);
    }
    // Kept with the sounding note until it ends; a play outside a note has nothing to keep it for.
    if (params.midiNote)
      params.midiNote->AddEntry(MidiNoteEntryPool().Take(MidiNotePlayMode(), this, event.channel, event.note));
    if (!plays) return SN_MidiFiltered;
  }
  return VoiceManager::PlayLeafNode(this, &m_source, params);
}

void CSnSoundNode::GetSoundParams(SnSoundParams& params, uint32_t mask, const SnRTPCKey& key,
                                  SnRandomOffsets* random, bool computeRandom, bool firstCall) {
  CSnPropertyNode::GetSoundParams(params, mask, key, random, computeRandom, firstCall);
  if (!(mask & SnParamGroup_Pitch) || key.midiNote == 255) return;
  const CSnPropertyNode* tracking = MidiSettingsNode(kMidiOverridesTracking);
  if (!(tracking->MidiFlags() & kMidiTracking)) return;
  params.pitch += float(int32_t(key.midiNote) - tracking->IntProperty(SnProp_MidiTrackingRoot)) * 100.0f;
}

SNRESULT CSnSoundNode::PrepareData() {
  if (m_source.StorageType() == CSnSourceDesc::Storage_Plugin || !m_source.IsTableMedia()) return SN_Success;
  return m_source.PrepareMedia();
}

void CSnSoundNode::UnprepareData() {
  if (m_source.StorageType() != CSnSourceDesc::Storage_Plugin && m_source.IsTableMedia()) m_source.ReleaseBankMedia();
}

namespace {

// A sound whose media a bank provides is kept as loaded; any other is read again in place.
bool SoundReadsAgain(CSnIndexedObject* object) {
  const uint32_t flags = static_cast<CSnSoundNode*>(object)->Source().flags;
  return !((flags & CSnSourceDesc::kStorageMask) && (flags & CSnSourceDesc::kProvidedMedia));
}

SNRESULT ReadSoundAgain(CSnIndexedObject* object, const uint8_t* payload, uint32_t size) {
  return static_cast<CSnSoundNode*>(object)->SetInitialValues(payload + 4, size - 4, true);
}

const SnHircKind kSoundKind = {SnIndex_Nodes, CreateFromPayload<CSnSoundNode>, SoundReadsAgain, ReadSoundAgain};
const bool kRegistered = (SetHircKind(kHircSoundType, &kSoundKind), true);

}  // namespace
}  // namespace SN
