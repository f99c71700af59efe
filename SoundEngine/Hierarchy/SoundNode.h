// The sound: a leaf with one source, read from a bank, that hands its plays to the voice manager
// and turns MIDI note-ons into note, velocity and frequency values. Audio thread; read on the bank
// thread under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Hierarchy/LeafNode.h"

namespace SN {

constexpr uint8_t kHircSoundType = 2;

// The built-in game parameters a note-on publishes for its MIDI key.
constexpr uint32_t kMidiVelocityParameter = 129;
constexpr uint32_t kMidiFrequencyParameter = 132;
constexpr uint32_t kMidiNoteParameter = 133;

class CSnSoundNode final : public CSnLeafNode {
 public:
  explicit CSnSoundNode(uint32_t id) : CSnLeafNode(id) {}
  ~CSnSoundNode() override;

  uint32_t NodeCategory() const override { return Category_Sound; }

  // The payload after the id: the source record, then the common node parameters (only their
  // effect block for a sound loaded before).
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size, bool existed = false);

  SNRESULT PlayNode(CSnPlayParams& params) override;
  void GetSoundParams(SnSoundParams& params, uint32_t mask, const SnRTPCKey& key, SnRandomOffsets* random,
                      bool computeRandom, bool firstCall) override;
  SNRESULT PrepareData() override;
  void UnprepareData() override;
  void GatherStreamedSources(SnStreamGather& gather, bool current) const override;

  // The sound made at run time around a source plug-in.
  void MakePluginSource(uint32_t classId) {
    m_source.SetPluginSource(classId);
    m_source.codecId = classId;
  }
  bool HasSource() const { return m_source.sourceId != 0; }
  const CSnSourceDesc& Source() const { return m_source; }
  // The MIDI play mode a note entry records: 1 for property 46 of 2, else 2 with MIDI flags bit 3.
  uint32_t MidiNotePlayMode() const;

  // 440 x 2^((note - 69) / 12) in single precision.
  static float MidiNoteFrequency(uint8_t note);

 private:
  CSnSourceDesc m_source;
};

}  // namespace SN
