// The sound benchmarks' hierarchy: a node kind that plays and takes actions by counting them, the
// bank loaders of its leaf (type 2) and parent (type 7) forms, and the engine up without threads with
// those kinds registered and banks loaded through the bank manager.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchSupport.h"
#include "tools/SoundBank/BankWriter.h"

namespace SoundBench {

class BenchNode final : public SN::CSnPropertyNode {
 public:
  BenchNode(uint32_t id, uint32_t category) : CSnPropertyNode(id, IsBusCategory(category)), m_category(category) {}
  uint32_t NodeCategory() const override { return m_category; }
  SN::SNRESULT PlayNode(SN::CSnPlayParams&) override {
    ++plays;
    return SN::SN_Success;
  }
  void ExecuteAction(const SN::SnActionParams&) override { ++actions; }
  void DeliverParameterChange(const SN::SnParamChange&) override {}
  SN::SNRESULT AddChild(SN::CSnHierarchyNode*) override { return SN::SN_Success; }
  uint64_t plays = 0;
  uint64_t actions = 0;

 private:
  uint32_t m_category;
};

template <uint32_t kCategory>
SN::SNRESULT CreateBenchNode(const uint8_t* payload, uint32_t size, SN::CSnIndexedObject*& object) {
  return SN::CreateNodeFromPayload<BenchNode>(payload, size, object, kCategory);
}
inline const SN::SnHircKind kBenchLeaf = {SN::SnIndex_Nodes, &CreateBenchNode<11>, nullptr, nullptr};
inline const SN::SnHircKind kBenchParent = {SN::SnIndex_Nodes, &CreateBenchNode<1>, nullptr, nullptr};

// The engine up without threads, rendering `framesPerPass` frames a pass, the node kinds registered.
class NodeEngine {
 public:
  explicit NodeEngine(uint32_t framesPerPass = 0, uint32_t commandQueueBytes = 262144)
      : m_lower(0, true, framesPerPass) {
    InitMemory();
    SN::ISnStreamMgr::m_pStreamMgr = &m_streams;
    SN::LowerEngine::Install(&m_lower);
    m_previous[0] = SN::SetHircKind(2, &kBenchLeaf);
    m_previous[1] = SN::SetHircKind(7, &kBenchParent);
    SN::SnInitSettings settings;
    SN::SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.useBankThread = 0;
    settings.commandQueueBytes = commandQueueBytes;
    if (SN::SoundEngine::Init(&settings, nullptr) != SN::SN_Success) std::abort();
  }
  ~NodeEngine() {
    for (uint32_t bankId : m_bankIds) SN::g_pBankManager->UnloadBankWait(bankId, nullptr);
    SN::SoundEngine::Term();
    SN::SetHircKind(2, m_previous[0]);
    SN::SetHircKind(7, m_previous[1]);
    SN::LowerEngine::Install(nullptr);
    SN::ISnStreamMgr::m_pStreamMgr = nullptr;
    SN::MemoryMgr::Term();
  }
  NodeEngine(const NodeEngine&) = delete;
  NodeEngine& operator=(const NodeEngine&) = delete;

  bool Load(const Tools::BankDescription& bank) {
    const std::vector<uint8_t> image = Tools::WriteBank(bank);
    uint32_t bankId = 0;
    if (SN::g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &bankId) !=
        SN::SN_Success)
      return false;
    m_bankIds.push_back(bankId);
    return true;
  }
  static BenchNode* Node(uint32_t id) {
    SN::CSnIndexedObject* found = SN::g_pObjectIndex->FindNodeAndAddRef(id, false);
    if (found) found->Release();
    return static_cast<BenchNode*>(found);
  }

 private:
  NoStreams m_streams;
  SilentLowerEngine m_lower;
  const SN::SnHircKind* m_previous[2] = {};
  std::vector<uint32_t> m_bankIds;
};

}  // namespace SoundBench
