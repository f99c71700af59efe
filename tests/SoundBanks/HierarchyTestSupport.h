// The engine's own node kinds loaded from banks the bank writer builds: sounds, buses and
// attenuations read by the real loaders, and a recorder of the leaf plays that reach the voice
// manager, installed for the life of a fixture.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/BusMixCommands.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/SoundNode.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tools/SoundBank/HierarchyWriter.h"

namespace HierarchyTest {

struct LeafPlay {
  SN::CSnPropertyNode* node;
  uint32_t sourceId;
  SN::CSnRegisteredObj* gameObject;
  uint32_t playingId;
  SN::SnMidiEvent midi;
  int32_t transitionMs;
};

class RecordingLeafPlayer : public SN::ISnLeafPlayer {
 public:
  SN::SNRESULT PlayLeafNode(SN::CSnPropertyNode* node, const SN::CSnSourceDesc& source,
                            SN::CSnPlayParams& params) override {
    plays.push_back(
        {node, source.sourceId, params.gameObject, params.playingId, params.midiEvent, params.transition.durationMs});
    return result;
  }
  std::vector<LeafPlay> plays;
  SN::SNRESULT result = SN::SN_Success;
};

// An instance as the voice pipeline would attach it, recording what it hears.
struct FakeInstance : SN::ISnLeafInstance {
  FakeInstance(SN::CSnRegisteredObj* object, uint32_t id) : object(object), id(id) {}
  SN::CSnRegisteredObj* InstanceGameObject() const override { return object; }
  uint32_t InstancePlayingId() const override { return id; }
  void ApplyAction(const SN::SnActionParams& params) override {
    kinds.push_back(params.kind);
    if (order) order->push_back(id);
  }
  void SeekToTime(int32_t ms, bool marker) override { seeks.push_back({float(ms), marker}); }
  void SeekToFraction(float fraction, bool marker) override { seeks.push_back({fraction, marker}); }
  void ParameterChanged(const SN::SnParamChange& change) override { parameters.push_back(change.parameterId); }
  void SetGainFactor(float value) override { gain = value; }
  const SN::SnRTPCKey& InstanceKey() const override { return key; }
  void StopLooping() override { ++loopStops; }
  bool SetNodeGainEntry(float value, uint32_t entryKey) override {
    entries.push_back({entryKey, value});
    return true;
  }
  void SetPositioningParameter(float value, uint32_t parameterId) override {
    positioning.push_back({parameterId, value});
  }
  void SetEffectBypass(uint32_t values, uint32_t mask) override { bypass.push_back({values, mask}); }
  void NodeValuesChanged() override { ++valuesChanged; }
  void NodeEffectChanged(uint32_t slot) override { effectSlots.push_back(slot); }
  SN::CSnRegisteredObj* object;
  uint32_t id;
  SN::SnRTPCKey key = SN::SnRTPCKey::ForObjectAndPlayingId(object, id);
  uint32_t loopStops = 0;
  uint32_t valuesChanged = 0;
  std::vector<std::pair<uint32_t, float>> entries;
  std::vector<std::pair<uint32_t, float>> positioning;
  std::vector<std::pair<uint32_t, uint32_t>> bypass;
  std::vector<uint32_t> effectSlots;
  std::vector<uint32_t> kinds;
  std::vector<std::pair<float, bool>> seeks;
  std::vector<uint32_t> parameters;
  float gain = 1.0f;
  std::vector<uint32_t>* order = nullptr;  // shared by several instances: who heard an action when
};

// The mixing graph's side of the buses, recorded.
struct RecordingMixCommands : SN::ISnBusMixCommands {
  struct Param {
    uint32_t busId, parameterId;
    float value, delta;
  };
  void SetBusVolume(uint32_t busId, float dB) override { volumes.push_back({busId, dB}); }
  void SetBusParam(uint32_t busId, uint32_t parameterId, float value, float delta) override {
    params.push_back({busId, parameterId, value, delta});
  }
  void SetBusBypassFX(uint32_t busId, uint32_t bits, uint32_t mask) override { bypass.push_back({busId, bits, mask}); }
  void UpdateBusEffect(uint32_t busId, uint32_t slot) override { effects.push_back({busId, slot}); }
  std::vector<std::pair<uint32_t, float>> volumes;
  std::vector<Param> params;
  std::vector<std::array<uint32_t, 3>> bypass;
  std::vector<std::pair<uint32_t, uint32_t>> effects;
};

class HierarchyFixture : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    previousPlayer_ = SN::LeafPlayer();
    SN::LeafPlayer() = &player_;
    previousMix_ = SN::BusMixCommands();
    SN::BusMixCommands() = &mix_;
  }
  void TearDown() override {
    for (uint32_t bank : loaded_) SN::g_pBankManager->UnloadBankWait(bank, nullptr);
    SN::LeafPlayer() = previousPlayer_;
    SN::BusMixCommands() = previousMix_;
    BankFixture::TearDown();
  }
  // Loads a bank of the objects in order; its result.
  SN::SNRESULT Load(const std::vector<Tools::BankObject>& objects) {
    Tools::BankDescription bank;
    bank.bankId = 2000 + uint32_t(images_.size());
    bank.objects = objects;
    bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    return Load(Tools::WriteBank(bank));
  }
  SN::SNRESULT Load(std::vector<uint8_t> image) {
    images_.push_back(std::move(image));
    uint32_t id = 0;
    const SN::SNRESULT result = SN::g_pBankManager->LoadBankImageWait(images_.back().data(),
                                                                     uint32_t(images_.back().size()), true, -1, &id);
    if (result == SN::SN_Success) loaded_.push_back(id);
    return result;
  }
  // Every cut of the object short of its end fails the bank, and `absent` finds nothing left behind.
  template <typename Absent>
  void ExpectEveryCutFails(const Tools::BankObject& whole, Absent&& absent) {
    for (size_t size = 4; size < whole.payload.size(); ++size) {
      Tools::BankObject cut = whole;
      cut.payload.resize(size);
      ASSERT_NE(Load({cut}), SN::SN_Success) << size;
      ASSERT_TRUE(absent()) << size;
    }
  }
  template <typename Kind>
  Kind* Find(uint32_t id, bool bus) {
    SN::CSnIndexedObject* found = SN::g_pObjectIndex->FindNodeAndAddRef(id, bus);
    if (found) found->Release();  // the bank holds one
    return static_cast<Kind*>(found);
  }
  SN::CSnSoundNode* Sound(uint32_t id) { return Find<SN::CSnSoundNode>(id, false); }
  SN::CSnBusNode* Bus(uint32_t id) { return Find<SN::CSnBusNode>(id, true); }
  SN::CSnRegisteredObj* GameObject(uint32_t id) { return SN::g_pRegistryMgr->RegisterGameObj(id, 1); }
  bool Logged(const char* text) {
    logged_ += log_.Take();
    return logged_.find(text) != std::string::npos;
  }

  RecordingLeafPlayer player_;
  SN::ISnLeafPlayer* previousPlayer_ = nullptr;
  RecordingMixCommands mix_;
  SN::ISnBusMixCommands* previousMix_ = nullptr;
  std::vector<std::vector<uint8_t>> images_;
  std::vector<uint32_t> loaded_;
  std::string logged_;
};

inline Tools::BankObject SoundObject(uint32_t id, const Tools::BankSource& source,
                                     const Tools::BankNodeParams& params = {}) {
  return {Tools::kBankSoundType, Tools::SoundPayload(id, source, params, false)};
}

inline Tools::BankObject BusObject(uint32_t id, const Tools::BankBusParams& params = {},
                                   uint8_t type = Tools::kBankBusType) {
  return {type, Tools::BusPayload(id, params)};
}

inline Tools::BankSource MemorySource(uint32_t mediaId, uint32_t size) {
  Tools::BankSource source;
  source.sourceId = mediaId;
  source.sizeOrFileId = size;
  return source;
}

}  // namespace HierarchyTest
