// Node kinds of the tests: a leaf, a parent that takes children and a bus of the bus list, each
// reading its id then the common node parameters, registered with the bank manager's loaders for
// the life of a fixture; recording what the node base tells them. Banks are built with the bank
// writer and loaded by the real bank manager.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Hierarchy/StateGroupLink.h"
#include "SoundEngine/PoolObject.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tools/SoundBank/NodeParamsWriter.h"

namespace NodeTest {

constexpr uint8_t kLeafType = 2;
constexpr uint8_t kParentType = 7;
constexpr uint8_t kBusType = 16;

class TestNode : public SN::CSnPropertyNode {
 public:
  TestNode(uint32_t id, uint32_t category, bool takesChildren = false)
      : CSnPropertyNode(id, IsBusCategory(category)), m_takesChildren(takesChildren), m_category(category) {}
  uint32_t NodeCategory() const override { return m_category; }
  SN::SNRESULT PlayNode(SN::CSnPlayParams& params) override {
    plays.push_back(params);
    return SN::SN_Success;
  }
  void ExecuteAction(const SN::SnActionParams& params) override { actions.push_back(params); }
  void DeliverParameterChange(const SN::SnParamChange& change) override { changes.push_back(change); }
  void ValuesChanged() override { ++valuesChanged; }
  void EffectSlotChanged(uint32_t slot) override { effectSlots.push_back(slot); }
  void BypassChanged() override { ++bypassChanges; }
  void ApplyGainFactor(SN::CSnRegisteredObj* object, float gain) override { gains.push_back({object, gain}); }
  void PositioningParameterUpdate(float value, uint32_t parameter) override { positioning.push_back({parameter, value}); }
  SN::SNRESULT AddChild(SN::CSnHierarchyNode* child) override {
    if (!m_takesChildren) return SN::CSnPropertyNode::AddChild(child);
    children.push_back(child);
    return SN::SN_Success;
  }
  void RemoveChild(SN::CSnHierarchyNode* child) override { std::erase(children, child); }
  void BeforeDestroy() override {
    // A look-up while the node goes finds nothing.
    foundWhileGoing = SN::g_pObjectIndex->FindNodeAndAddRef(ID(), IsBus()) != nullptr;
    if (destroyed) *destroyed = foundWhileGoing ? 2 : 1;
    CSnPropertyNode::BeforeDestroy();
  }

  std::vector<SN::CSnPlayParams> plays;
  std::vector<SN::SnActionParams> actions;
  std::vector<SN::SnParamChange> changes;
  std::vector<uint32_t> effectSlots;
  std::vector<std::pair<SN::CSnRegisteredObj*, float>> gains;
  std::vector<std::pair<uint32_t, float>> positioning;
  std::vector<SN::CSnHierarchyNode*> children;
  int valuesChanged = 0;
  int bypassChanges = 0;
  bool foundWhileGoing = false;
  int* destroyed = nullptr;
  bool m_takesChildren;

 private:
  uint32_t m_category;
};

inline SN::SNRESULT CreateKind(const uint8_t* payload, uint32_t size, SN::CSnIndexedObject*& object,
                               uint32_t category, bool takesChildren) {
  return SN::CreateNodeFromPayload<TestNode>(payload, size, object, category, takesChildren);
}

inline const SN::SnHircKind kLeafKind = {
    SN::SnIndex_Nodes,
    [](const uint8_t* p, uint32_t s, SN::CSnIndexedObject*& o) { return CreateKind(p, s, o, 11, false); }, nullptr,
    nullptr};
inline const SN::SnHircKind kParentKind = {
    SN::SnIndex_Nodes,
    [](const uint8_t* p, uint32_t s, SN::CSnIndexedObject*& o) { return CreateKind(p, s, o, 1, true); }, nullptr,
    nullptr};
inline const SN::SnHircKind kBusKind = {
    SN::SnIndex_Busses,
    [](const uint8_t* p, uint32_t s, SN::CSnIndexedObject*& o) { return CreateKind(p, s, o, 0, true); }, nullptr,
    nullptr};

// The engine with the test kinds registered; banks are built from objects and loaded as images.
class NodeFixture : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    previous_[0] = SN::SetHircKind(kLeafType, &kLeafKind);
    previous_[1] = SN::SetHircKind(kParentType, &kParentKind);
    previous_[2] = SN::SetHircKind(kBusType, &kBusKind);
  }
  void TearDown() override {
    for (uint32_t bank : loaded_) SN::g_pBankManager->UnloadBankWait(bank, nullptr);
    SN::SetHircKind(kLeafType, previous_[0]);
    SN::SetHircKind(kParentType, previous_[1]);
    SN::SetHircKind(kBusType, previous_[2]);
    BankFixture::TearDown();
  }

  struct Object {
    uint8_t type;
    uint32_t id;
    Tools::BankNodeParams params;
  };
  // Loads a bank of the objects (and raw objects) in order; its result.
  SN::SNRESULT LoadBank(const std::vector<Object>& objects, uint16_t motionFlag = 0,
                        const std::vector<Tools::BankObject>& before = {},
                        const Tools::BankSettings* settings = nullptr) {
    Tools::BankDescription bank;
    bank.bankId = 1000 + uint32_t(loaded_.size());
    bank.motionFlag = motionFlag;
    if (settings) {
      bank.settings = *settings;
      bank.order.push_back({Tools::BankChunkKind::Settings, 0});
    }
    bank.objects = before;
    for (const Object& object : objects)
      bank.objects.push_back({object.type, Tools::NodePayload(object.id, {}, object.params, motionFlag != 0)});
    bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    images_.push_back(Tools::WriteBank(bank));
    const std::vector<uint8_t>& image = images_.back();
    uint32_t id = 0;
    const SN::SNRESULT result =
        SN::g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &id);
    if (result == SN::SN_Success) loaded_.push_back(id);
    return result;
  }
  // The loaded node of `id` (no reference kept: the bank holds one).
  TestNode* Node(uint32_t id, bool bus = false) {
    SN::CSnIndexedObject* found = SN::g_pObjectIndex->FindNodeAndAddRef(id, bus);
    if (found) found->Release();
    return static_cast<TestNode*>(found);
  }
  SN::CSnRegisteredObj* GameObject(uint32_t id) { return SN::g_pRegistryMgr->RegisterGameObj(id, 1); }
  // Whether the log has said `text` since the test began.
  bool Logged(const char* text) {
    logged_ += log_.Take();
    return logged_.find(text) != std::string::npos;
  }
  std::string logged_;

  std::vector<std::vector<uint8_t>> images_;
  std::vector<uint32_t> loaded_;
  const SN::SnHircKind* previous_[3] = {};
};

inline Tools::BankNodeCurve LinearCurve(uint32_t rtpcId, uint8_t parameterId, float y0, float y1,
                                        uint32_t curveId = 1) {
  Tools::BankNodeCurve curve;
  curve.rtpcId = rtpcId;
  curve.parameterId = parameterId;
  curve.curveId = curveId;
  curve.points = {{0.0f, y0, SN::SnCurve_Linear}, {100.0f, y1, SN::SnCurve_Linear}};
  return curve;
}

}  // namespace NodeTest
