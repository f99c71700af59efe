// Effect definitions read from banks: the plug-in's parameter object made from its block, replaced and
// terminated, kept for a plug-in the game never registered, and failing the load when it refuses its
// block; curves replaced by parameter and curve id; buses handing their definitions to the mixing
// graph, whose parameter copies follow the curves.
#include <cstring>
#include <vector>

#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/EffectWriter.h"
#include "tools/SoundBank/HierarchyWriter.h"

namespace {

using namespace HierarchyTest;
using SN::CSnEffectDefinition;

// Parameter objects alive and the values a game parameter sent them.
struct ParamCounts {
  int alive = 0;
  std::vector<float> sent;
};
ParamCounts& Counts() {
  static ParamCounts counts;
  return counts;
}

// A gain taken from a four-byte block; any other block is refused.
class TestGainParam final : public SN::ISnPluginParam {
 public:
  TestGainParam() { ++Counts().alive; }
  ~TestGainParam() { --Counts().alive; }
  ISnPluginParam* Clone(SN::ISnPluginMemAlloc* allocator) override {
    auto* copy = Make(allocator);
    static_cast<TestGainParam*>(copy)->gain = gain;
    return copy;
  }
  SN::SNRESULT Term(SN::ISnPluginMemAlloc* allocator) override {
    this->~TestGainParam();
    allocator->Free(this);
    return SN::SN_Success;
  }
  SN::SNRESULT Init(SN::ISnPluginMemAlloc*, const void* block, uint32_t size) override {
    if (size != sizeof gain) return SN::SN_InvalidParameter;
    memcpy(&gain, block, sizeof gain);
    return SN::SN_Success;
  }
  SN::SNRESULT SetParam(uint32_t, const void* value, uint32_t size) override {
    if (size == sizeof(float)) Counts().sent.push_back(*static_cast<const float*>(value));
    return SN::SN_Success;
  }
  static ISnPluginParam* Make(SN::ISnPluginMemAlloc* allocator) {
    void* memory = allocator->Malloc(sizeof(TestGainParam));
    return memory ? new (memory) TestGainParam() : nullptr;
  }
  float gain = 1.0f;
};

constexpr uint32_t kCompany = 64, kGainPlugin = 5;
constexpr uint32_t kGainKey = SN::PluginKey(SN::SnPluginType_Effect, kCompany, kGainPlugin);

std::vector<uint8_t> GainBlock(float gain) {
  std::vector<uint8_t> block(sizeof gain);
  memcpy(block.data(), &gain, sizeof gain);
  return block;
}

class EffectDefinitionTest : public HierarchyFixture {
 protected:
  void SetUp() override {
    HierarchyFixture::SetUp();
    // The bank tests run without the lower engine, whose pool the plug-in allocator draws on.
    previousPool_ = SN::g_LEngineDefaultPoolId;
    pluginPool_ = SN::MemoryMgr::CreatePool(nullptr, 1 << 16, 16, SN::SnMemPool_AllocHook, 0);
    ASSERT_NE(pluginPool_, SN::SnMemPoolId(-1));
    SN::g_LEngineDefaultPoolId = pluginPool_;
    Counts() = ParamCounts{};
    ASSERT_EQ(SN::SoundEngine::RegisterPlugin(SN::SnPluginType_Effect, kCompany, kGainPlugin, nullptr,
                                              &TestGainParam::Make),
              SN::SN_Success);
  }
  void TearDown() override {
    HierarchyFixture::TearDown();
    EXPECT_EQ(Counts().alive, 0) << "every parameter object is terminated with its definition";
    SN::g_LEngineDefaultPoolId = previousPool_;
    if (pluginPool_ != SN::SnMemPoolId(-1)) SN::MemoryMgr::DestroyPool(pluginPool_);
  }
  SN::SnMemPoolId previousPool_ = -1;
  SN::SnMemPoolId pluginPool_ = -1;
  static CSnEffectDefinition* Definition(uint32_t id, bool shared = true) {
    CSnEffectDefinition* found = SN::FindEffectDefinition(id, shared);
    if (found) found->Release();  // the bank holds one
    return found;
  }
  static Tools::BankObject Object(uint32_t id, const Tools::BankEffect& effect, bool shared = true) {
    return {shared ? Tools::kBankSharedEffectType : Tools::kBankNodeEffectType, Tools::EffectPayload(id, effect)};
  }
  static Tools::BankEffect Gain(float gain) {
    Tools::BankEffect effect;
    effect.pluginId = kGainKey;
    effect.params = GainBlock(gain);
    effect.media = {{0, 9001}, {2, 9002}};
    effect.curves = {{77, 0, 0, 3, 7, 0, {{0.0f, 0.0f, 4}, {100.0f, 1.0f, 4}}},
                     {78, 2, 1, 4, 8, 0, {{0.0f, 2.0f, 4}}},
                     {79, 0, 0, 3, 7, 0, {{0.0f, 0.0f, 4}, {10.0f, 20.0f, 4}}}};  // replaces the first
    effect.properties = {{1, 0.25f}, {6, -3.0f}, {1, 0.75f}};                        // the third changes the first
    return effect;
  }
};

TEST_F(EffectDefinitionTest, ThePayloadMakesTheParametersMediaCurvesAndProperties) {
  ASSERT_EQ(Load({Object(500, Gain(0.5f)), Object(501, Tools::BankEffect{}, false)}), SN::SN_Success);
  CSnEffectDefinition* gain = Definition(500);
  ASSERT_NE(gain, nullptr);
  EXPECT_TRUE(gain->IsShared());
  EXPECT_EQ(gain->PluginId(), kGainKey);
  ASSERT_NE(gain->Params(), nullptr);
  EXPECT_EQ(static_cast<TestGainParam*>(gain->Params())->gain, 0.5f);
  EXPECT_EQ(gain->MediaId(2), 9002u);
  EXPECT_EQ(gain->MediaId(1), SN::kNoPlugin);

  // The same parameter and curve id: one record, the later one's game parameter and points.
  ASSERT_EQ(gain->CurveCount(), 2u);
  const CSnEffectDefinition::Curve* replaced = nullptr;
  for (uint32_t i = 0; i < gain->CurveCount(); ++i)
    if (gain->CurveAt(i).pluginParamId == 3) replaced = &gain->CurveAt(i);
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(replaced->parameterId, 79u);
  EXPECT_EQ(replaced->curve.points[1].y, 20.0f);
  EXPECT_EQ(gain->GetCurveExtra(4), 1u);
  EXPECT_EQ(gain->GetCurveExtra(9), 0u);

  EXPECT_EQ(gain->GetPropertyValue(1), 0.75f);
  EXPECT_EQ(gain->GetPropertyValue(6), -3.0f);
  EXPECT_EQ(gain->GetPropertyValue(2), 0.0f);

  // No plug-in, nothing else: a definition of the per-node kind with no parameter object.
  EXPECT_EQ(Definition(501), nullptr);
  CSnEffectDefinition* empty = Definition(501, false);
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(empty->IsShared());
  EXPECT_EQ(empty->PluginId(), SN::kNoPlugin);
  EXPECT_EQ(empty->Params(), nullptr);
  EXPECT_EQ(empty->CurveCount(), 0u);
}

TEST_F(EffectDefinitionTest, AParameterObjectIsReplacedTerminatedOrKeptAndARefusalFailsTheLoad) {
  ASSERT_EQ(Load({Object(500, Gain(0.5f))}), SN::SN_Success);
  CSnEffectDefinition* gain = Definition(500);
  ASSERT_EQ(Counts().alive, 1);
  // A new object replaces the old, which is terminated.
  gain->SetPluginParams(kGainKey, TestGainParam::Make(&SN::PluginAllocator()));
  EXPECT_EQ(Counts().alive, 1);
  EXPECT_EQ(static_cast<TestGainParam*>(gain->Params())->gain, 1.0f);

  // A plug-in the game never registered: the definition loads without one.
  Tools::BankEffect unknown = Gain(0.5f);
  unknown.pluginId = SN::PluginKey(SN::SnPluginType_Effect, kCompany, 99);
  ASSERT_EQ(Load({Object(510, unknown)}), SN::SN_Success);
  ASSERT_NE(Definition(510), nullptr);
  EXPECT_EQ(Definition(510)->PluginId(), SN::kNoPlugin);
  EXPECT_EQ(Definition(510)->Params(), nullptr);
  EXPECT_EQ(Definition(510)->CurveCount(), 2u);

  // A block the plug-in refuses fails the load, and the object it made is terminated.
  Tools::BankEffect refused = Gain(0.5f);
  refused.params.push_back(0);
  EXPECT_NE(Load({Object(520, refused)}), SN::SN_Success);
  EXPECT_EQ(Definition(520), nullptr);
  EXPECT_EQ(Counts().alive, 1);
}

TEST_F(EffectDefinitionTest, TheEngineTermsParameterObjectsBeforeThePluginPoolGoes) {
  ASSERT_EQ(Load({Object(500, Gain(0.5f)), Object(501, Gain(0.25f), false)}), SN::SN_Success);
  ASSERT_EQ(Counts().alive, 2);
  SN::TermEffectParams();
  EXPECT_EQ(Counts().alive, 0);
  EXPECT_EQ(Definition(500)->Params(), nullptr);
  EXPECT_EQ(Definition(500)->PluginId(), kGainKey);
  EXPECT_EQ(Definition(501, false)->Params(), nullptr);
}

TEST_F(EffectDefinitionTest, CutsAndCountsBeyondTheObjectFailTheLoad) {
  ExpectEveryCutFails(Object(530, Gain(0.5f)), [] { return Definition(530) == nullptr; });
  // A curve count far beyond the bytes that follow is refused before anything is made for it.
  std::vector<uint8_t> payload = Tools::EffectPayload(531, Tools::BankEffect{});
  payload.resize(payload.size() - 4);  // the curve and property counts
  payload.push_back(0xFF);
  payload.push_back(0xFF);
  EXPECT_NE(Load({{Tools::kBankSharedEffectType, payload}}), SN::SN_Success);
  EXPECT_EQ(Definition(531), nullptr);
  EXPECT_EQ(Counts().alive, 0);
}

TEST_F(EffectDefinitionTest, ABusGivesTheGraphItsEffectAndTheCopyFollowsTheCurve) {
  Tools::BankBusParams bus;
  bus.bypassBits = 0x02;
  bus.effects = {{0, 500, 1, 0}, {1, 501, 0, 0}, {2, 502, 1, 0}};  // 502 is not loaded
  ASSERT_EQ(Load({Object(500, Gain(0.5f)), Object(501, Tools::BankEffect{}, false),
                  {Tools::kBankBusType, Tools::BusPayload(40, bus)}}),
            SN::SN_Success);
  SN::CSnIndexedObject* found = SN::g_pObjectIndex->FindNodeAndAddRef(40, true);
  ASSERT_NE(found, nullptr);
  SN::ISnMixBusNode& node = static_cast<SN::CSnBusNode*>(found)->MixNode();
  bool bypass = true;
  SN::ISnEffectDefinition* effect = node.Effect(0, bypass);
  ASSERT_NE(effect, nullptr);
  EXPECT_FALSE(bypass);
  EXPECT_EQ(effect->EffectId(), 500u);
  EXPECT_EQ(effect->PluginKey(), kGainKey);
  EXPECT_EQ(node.MediaId(0, 0), 9001u);
  SN::ISnEffectDefinition* perNode = node.Effect(1, bypass);
  ASSERT_NE(perNode, nullptr);
  EXPECT_TRUE(bypass);
  EXPECT_EQ(perNode->Params(), nullptr);
  perNode->Release();
  EXPECT_EQ(node.Effect(2, bypass), nullptr);
  EXPECT_EQ(node.Effect(3, bypass), nullptr);
  EXPECT_EQ(node.Mixer(), nullptr);

  // A copy subscribed by the graph follows game parameter 79 through its curve (0, 0)-(10, 20).
  SN::ISnPluginParam* clone = effect->Params()->Clone(&SN::PluginAllocator());
  effect->SubscribeParams(clone, SN::SnRTPCKey{}, nullptr);
  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(79, 2.5f, SN::SnRTPCKey{}), SN::SN_Success);
  ASSERT_FALSE(Counts().sent.empty());
  EXPECT_FLOAT_EQ(Counts().sent.back(), 5.0f);
  effect->UnsubscribeParams(clone);
  const size_t sent = Counts().sent.size();
  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(79, 5.0f, SN::SnRTPCKey{}), SN::SN_Success);
  EXPECT_EQ(Counts().sent.size(), sent);
  clone->Term(&SN::PluginAllocator());
  effect->Release();
  found->Release();
}

}  // namespace
