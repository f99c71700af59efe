// The music engine joining the sound engine: Init and its settings, one frame pass however often it
// is called, and music objects loaded through the bank manager once, shared between banks and freed
// with the last of them.
#include <fstream>
#include <iterator>

#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicTransitionNode.h"
#include "SoundEngine/SoundEngine.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using MusicTest::Segment120;

class MusicLoaderTest : public MusicTest::MusicFixture {};

TEST_F(MusicLoaderTest, InitTwiceJoinsTheFrameOnceAndTheLastFrameFreesTheRenderer) {
  SN::SnMusicSettings settings;
  SN::MusicEngine::GetDefaultInitSettings(settings);
  EXPECT_EQ(settings.streamingLookAheadRatio, 1.0f);
  settings.streamingLookAheadRatio = -2.0f;
  ASSERT_EQ(SN::MusicEngine::Init(&settings), SN::SN_Success);
  EXPECT_EQ(settings.streamingLookAheadRatio, 1.0f);
  EXPECT_TRUE(Logged("look-ahead ratio of -2 is taken as 1.0"));
  EXPECT_EQ(SN::SoundEngine::ExtraHircObjectLoader(), &SN::CSnMusicRenderer::LoadHircObject);
  EXPECT_NE(SN::SoundEngine::StateChangeHook(), nullptr);

  SN::CSnMusicRenderer* renderer = SN::CSnMusicRenderer::Instance();
  ASSERT_NE(renderer, nullptr);
  const uint64_t before = renderer->Frames();
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(renderer->Frames(), before + 1);
  SN::MusicEngine::Term();
  EXPECT_EQ(SN::CSnMusicRenderer::Instance(), renderer);

  // The sound engine's last frame ends the music engine: hooks out, renderer gone, out of the frame.
  SN::SoundEngine::CallBehavioralExtensions(true);
  EXPECT_EQ(SN::CSnMusicRenderer::Instance(), nullptr);
  EXPECT_EQ(SN::SoundEngine::ExtraHircObjectLoader(), nullptr);
  EXPECT_EQ(SN::SoundEngine::StateChangeHook(), nullptr);
  ASSERT_EQ(SN::MusicEngine::Init(nullptr), SN::SN_Success);
  ASSERT_EQ(SN::MusicEngine::Init(nullptr), SN::SN_Success);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(SN::CSnMusicRenderer::Instance()->Frames(), 1u);
}

TEST_F(MusicLoaderTest, OnlyMusicTypesAreTakenAndASegmentSharedByTwoBanksIsReadOnce) {
  BankTest::RecordingBank recording;
  for (uint8_t type : {uint8_t(9), uint8_t(14), uint8_t(1), uint8_t(200)})
    EXPECT_EQ(SN::CSnMusicRenderer::LoadHircObject({type, 8}, &recording, 0), SN::SN_NothingChanged);

  Tools::BankMusicSegment first = Segment120(10);
  Tools::BankMusicSegment second = Segment120(10);
  second.durationMs = 8600.0;
  ASSERT_EQ(LoadBank({SegmentObject(first)}, 3001), SN::SN_Success);
  const auto* segment = Find<SN::CSnMusicSegmentNode>(10);
  ASSERT_NE(segment, nullptr);
  ASSERT_EQ(LoadBank({SegmentObject(second)}, 3002), SN::SN_Success);
  EXPECT_EQ(Find<SN::CSnMusicSegmentNode>(10), segment);
  EXPECT_EQ(segment->Duration(), 432000u);  // the first bank's
  EXPECT_EQ(segment->RefCount(), 2u);
  EXPECT_EQ(Unload(3001), SN::SN_Success);
  EXPECT_EQ(Find(10), segment);
  EXPECT_EQ(Unload(3002), SN::SN_Success);
  EXPECT_EQ(Find(10), nullptr);
}

TEST_F(MusicLoaderTest, AFailingSegmentFailsItsBankAndKeepsNothingOfIt) {
  Tools::BankMusicSegment broken = Segment120(11);
  broken.markers.resize(1);
  EXPECT_EQ(LoadBank({SegmentObject(Segment120(10)), SegmentObject(broken)}, 3003), SN::SN_Failure);
  EXPECT_EQ(Find(10), nullptr);
  EXPECT_EQ(Find(11), nullptr);
  EXPECT_TRUE(Logged("Music object 11 of type 10 could not be read"));
  // A music object cut short in its bank.
  std::vector<uint8_t> cut = Tools::MusicSegmentPayload(Segment120(12), false);
  cut.resize(cut.size() - 3);
  EXPECT_EQ(LoadBank({{Tools::kBankMusicSegmentType, cut}}, 3004), SN::SN_Failure);
  EXPECT_EQ(Find(12), nullptr);
}

}  // namespace

namespace {

// The fuzz seed of every music kind loads whole through the bank manager, and its unload frees it.
TEST_F(MusicLoaderTest, TheMusicFuzzSeedLoadsWholeAndUnloadsClean) {
  std::ifstream in("tests/fuzz/corpus/sound_bank/music-containers.bnk", std::ios::binary);
  images_.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const std::vector<uint8_t>& image = images_.back();
  uint32_t bankId = 0;
  ASSERT_EQ(SN::g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &bankId),
            SN::SN_Success);
  ASSERT_NE(Find(40), nullptr);
  EXPECT_EQ(Find(40)->Parent(), Find(11));
  EXPECT_EQ(Find(11)->Parent(), Find(20));
  EXPECT_EQ(Find(20)->Parent(), Find(30));
  EXPECT_EQ(Find<SN::CSnMusicTransitionAwareNode>(20)->RuleCount(), 1u);
  EXPECT_EQ(Unload(bankId), SN::SN_Success);
  for (uint32_t id : {10u, 11u, 20u, 30u, 40u}) EXPECT_EQ(Find(id), nullptr) << id;
}

}  // namespace
