// Fuzz target of the common node parameters: a bank image whose node objects (types 2 and 7, buses
// of type 16) are read by a plain node kind through the engine's bank manager, loaded and unloaded;
// then the bytes after the bank header read directly as one node's parameters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchSupport.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

class PlainNode final : public SN::CSnPropertyNode {
 public:
  PlainNode(uint32_t id, uint32_t category) : CSnPropertyNode(id, IsBusCategory(category)), m_category(category) {}
  uint32_t NodeCategory() const override { return m_category; }
  SN::SNRESULT PlayNode(SN::CSnPlayParams&) override { return SN::SN_Success; }
  void ExecuteAction(const SN::SnActionParams&) override {}
  void DeliverParameterChange(const SN::SnParamChange&) override {}
  SN::SNRESULT AddChild(SN::CSnHierarchyNode* child) override {
    return m_children.Add(child) ? SN::SN_Success : SN::SN_InsufficientMemory;
  }
  void RemoveChild(SN::CSnHierarchyNode* child) override {
    const int32_t index = m_children.IndexOf(child);
    if (index >= 0) m_children.RemoveAt(uint32_t(index));
  }

 private:
  uint32_t m_category;
  SN::SnArray<SN::CSnHierarchyNode*> m_children;
};

template <uint32_t kCategory>
SN::SNRESULT Create(const uint8_t* payload, uint32_t size, SN::CSnIndexedObject*& object) {
  return SN::CreateNodeFromPayload<PlainNode>(payload, size, object, kCategory);
}

const SN::SnHircKind kLeaf = {SN::SnIndex_Nodes, &Create<11>, nullptr, nullptr};
const SN::SnHircKind kParent = {SN::SnIndex_Nodes, &Create<1>, nullptr, nullptr};
const SN::SnHircKind kBus = {SN::SnIndex_Busses, &Create<0>, nullptr, nullptr};

SoundBench::SilentLowerEngine& LowerEngine() {
  static SoundBench::SilentLowerEngine engine(0, false);
  return engine;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SoundBench::InitMemory();
  static SoundBench::NoStreams streams;
  SN::ISnStreamMgr::m_pStreamMgr = &streams;
  SN::LowerEngine::Install(&LowerEngine());
  SN::SetHircKind(2, &kLeaf);
  SN::SetHircKind(7, &kParent);
  SN::SetHircKind(16, &kBus);
  return OrvFuzz::QuietLog();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SN::SnInitSettings settings;
  SN::SoundEngine::GetDefaultInitSettings(settings);
  settings.useAudioThread = 0;
  settings.useBankThread = 0;
  settings.defaultPoolBytes = 4 * 1024 * 1024;
  if (SN::SoundEngine::Init(&settings, nullptr) != SN::SN_Success) abort();
  std::vector<uint8_t> image(data, data + size);
  if (SN::g_pBankManager && size >= 28) {
    uint32_t bankId = 0;
    if (SN::g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &bankId) ==
        SN::SN_Success)
      SN::g_pBankManager->UnloadBankWait(bankId, nullptr);
  }
  // An exact copy of the bytes after the header, so that a read past them lands outside.
  const size_t skip = size > 28 ? 28 : size;
  std::vector<uint8_t> params(data + skip, data + size);
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    if (auto* node = SN::PoolNew<PlainNode>(SN::g_DefaultPoolId, 1u, 11u)) {
      const uint8_t* cursor = params.data();
      node->ReadBaseParams(cursor, params.data() + params.size(), false);
      if (cursor > params.data() + params.size()) abort();
      node->Release();
    }
  }
  SN::SoundEngine::Term();
  return 0;
}
