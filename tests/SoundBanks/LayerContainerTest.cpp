// Layer containers read from banks: every child plays for one play, layers attach to the children
// they list as those join (late ones too), a child parented elsewhere fails its layer, and the
// crossfade parameter gives each child its curve's gain for the game object.
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/LayerContainer.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/ContainerWriter.h"

namespace {

using namespace HierarchyTest;
using SN::CSnLayerContainer;

constexpr uint32_t kLayerContainer = 70;
constexpr uint32_t kCrossfade = 910;

Tools::BankObject LayerObject(uint32_t id, const std::vector<uint32_t>& children,
                              const std::vector<Tools::BankLayer>& layers) {
  return {Tools::kBankLayerType, Tools::LayerContainerPayload(id, {}, children, layers)};
}

// A layer whose first child fades in over the crossfade range 0..100 and whose second fades out.
Tools::BankLayer Crossfade(uint32_t first, uint32_t second) {
  Tools::BankLayer layer;
  layer.id = 500;
  layer.crossfadeId = kCrossfade;
  layer.children = {{first, {{0.0f, 0.0f, 4}, {100.0f, 1.0f, 4}}}, {second, {{0.0f, 1.0f, 4}, {100.0f, 0.0f, 4}}}};
  return layer;
}

class LayerContainerTest : public HierarchyFixture {
 protected:
  void TearDown() override {
    SN::g_pRTPCMgr->SetRTPCImmediate(kCrossfade, 0.0f, {});
    HierarchyFixture::TearDown();
  }
  CSnLayerContainer* Container() { return Find<CSnLayerContainer>(kLayerContainer, false); }
};

TEST_F(LayerContainerTest, EveryChildPlaysAndOneSuccessIsEnough) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(101, 64)), SoundObject(12, MemorySource(102, 64)),
                  SoundObject(13, MemorySource(103, 64)), LayerObject(kLayerContainer, {13, 11, 12}, {})}),
            SN::SN_Success);
  EXPECT_EQ(Container()->NodeCategory(), 5u);
  SN::CSnPlayParams params;
  params.gameObject = GameObject(5);
  EXPECT_EQ(Container()->Play(params), SN::SN_Success);
  ASSERT_EQ(player_.plays.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(player_.plays[i].sourceId, 101u + i);
  player_.result = SN::SNRESULT(3);
  EXPECT_EQ(Container()->Play(params), SN::SNRESULT(3));
}

TEST_F(LayerContainerTest, AnEmptyContainerSucceedsWithoutPlaying) {
  ASSERT_EQ(Load({LayerObject(kLayerContainer, {}, {})}), SN::SN_Success);
  SN::CSnPlayParams params;
  EXPECT_EQ(Container()->Play(params), SN::SN_Success);
  EXPECT_TRUE(player_.plays.empty());
}

TEST_F(LayerContainerTest, LayersAttachToChildrenAsTheyJoin) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(101, 64)), LayerObject(kLayerContainer, {11}, {Crossfade(11, 12)})}),
            SN::SN_Success);
  SN::CSnContainerLayer* layer = Container()->LayerAt(0);
  EXPECT_EQ(layer->AttachedChild(11), Sound(11));
  EXPECT_EQ(layer->AttachedChild(12), nullptr);
  // A child loaded later under the container attaches as it joins.
  Tools::BankNodeParams under;
  under.parentId = kLayerContainer;
  ASSERT_EQ(Load({SoundObject(12, MemorySource(102, 64), under)}), SN::SN_Success);
  EXPECT_EQ(Sound(12)->Parent(), Container());
  EXPECT_EQ(layer->AttachedChild(12), Sound(12));
  Container()->RemoveChild(Sound(12));
  EXPECT_EQ(layer->AttachedChild(12), nullptr);
}

TEST_F(LayerContainerTest, AChildParentedElsewhereFailsItsLayer) {
  Tools::BankRandomSequence other;
  other.children = {11};
  ASSERT_EQ(Load({SoundObject(11, MemorySource(101, 64)),
                  {Tools::kBankRandomSequenceType, Tools::RandomSequencePayload(60, {}, other)}}),
            SN::SN_Success);
  EXPECT_EQ(Load({SoundObject(12, MemorySource(102, 64)), LayerObject(kLayerContainer, {12}, {Crossfade(12, 11)})}),
            SN::SN_Failure);
  EXPECT_EQ(Container(), nullptr);
}

TEST_F(LayerContainerTest, TheCrossfadeGivesEachChildItsCurvesGain) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(101, 64)), SoundObject(12, MemorySource(102, 64)),
                  LayerObject(kLayerContainer, {11, 12}, {Crossfade(11, 12)})}),
            SN::SN_Success);
  SN::CSnRegisteredObj* object = GameObject(5);
  FakeInstance rising(object, 1), falling(object, 2);
  Sound(11)->AttachInstance(&rising);
  Sound(12)->AttachInstance(&falling);
  ASSERT_TRUE(Sound(11)->ActivityUp(0));

  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(kCrossfade, 25.0f, SN::SnRTPCKey::ForObject(object)), SN::SN_Success);
  EXPECT_NEAR(rising.gain, 0.25f, 1e-6f);
  EXPECT_NEAR(falling.gain, 0.75f, 1e-6f);
  float gain = 0.0f;
  EXPECT_TRUE(Container()->LayerAt(0)->CrossfadeGain(11, SN::SnRTPCKey::ForObject(object), gain));
  EXPECT_NEAR(gain, 0.25f, 1e-6f);

  // At the end of the range without a game object's value, the child at 1.0 gets no gain factor.
  rising.gain = falling.gain = -1.0f;
  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(kCrossfade, 100.0f, {}), SN::SN_Success);
  EXPECT_EQ(rising.gain, -1.0f);
  EXPECT_NEAR(falling.gain, 0.0f, 1e-6f);
  EXPECT_FALSE(Container()->LayerAt(0)->CrossfadeGain(11, {}, gain));

  Sound(11)->ActivityDown(0);
  Sound(11)->DetachInstance(&rising);
  Sound(12)->DetachInstance(&falling);
}

TEST_F(LayerContainerTest, EveryCutOfTheObjectFailsTheLoad) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(101, 64)), SoundObject(12, MemorySource(102, 64))}), SN::SN_Success);
  Tools::BankLayer layer = Crossfade(11, 12);
  layer.curves = {{920, 0, 0, 0, 1, 0, {{0.0f, 0.0f, 4}, {1.0f, -6.0f, 4}}}};
  const Tools::BankObject whole = LayerObject(kLayerContainer, {11, 12}, {layer});
  ExpectEveryCutFails(whole, [&] { return Container() == nullptr && Sound(11)->Parent() == nullptr; });
  ASSERT_EQ(Load({whole}), SN::SN_Success);
  EXPECT_EQ(Container()->LayerAt(0)->ParameterMask(), 1u);
  EXPECT_EQ(Container()->LayerAt(0)->ChildEntryCount(), 2u);
}

TEST_F(LayerContainerTest, TheGeneralBanksDistanceLayersCrossfade) {
  ASSERT_EQ(Load(BankTest::ContentBank("Init")), SN::SN_Success) << log_.Take();
  ASSERT_EQ(Load(BankTest::ContentBank("GeneralBank")), SN::SN_Success) << log_.Take();
  using BankTest::Id;
  auto* distance = Find<CSnLayerContainer>(Id("Distance"), false);
  ASSERT_NE(distance, nullptr);
  ASSERT_EQ(distance->LayerCount(), 1u);
  SN::CSnContainerLayer* layer = distance->LayerAt(0);
  EXPECT_EQ(layer->CrossfadeRTPC(), Id("ListenerDistance"));
  EXPECT_EQ(layer->AttachedChild(Id("Far_Layer")), Sound(Id("Far_Layer")));
  SN::CSnPlayParams params;
  params.gameObject = GameObject(5);
  EXPECT_EQ(distance->Play(params), SN::SN_Success);
  EXPECT_EQ(player_.plays.size(), 2u);
}

}  // namespace
