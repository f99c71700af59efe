// The real lower engine under Init and Term: frame format, its pool, the main device, with and
// without the audio thread, Init after Term, and the slots it fills only when they are empty.
#include "MemoryMgr/Tlsf.h"

#include "OutputTestSupport.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

class LowerEngineInitTest : public OutputFixture {};

TEST_F(LowerEngineInitTest, DefaultsGiveTheFrameFormatAPoolAndAMainDevice) {
  const int32_t streamPools = MemoryMgr::GetNumPools();
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(LowerEngine::Installed(), &LowerEngine::RealLowerEngine());
  EXPECT_EQ(OutputServices(), &LowerEngine::RealOutputServices());
  EXPECT_EQ(LowerEngine::SampleRate(), 48000u);
  EXPECT_EQ(LowerEngine::SamplesPerFrame(), 1024u);
  EXPECT_EQ(LowerEngine::FrameDurationMs(), 21u);
  EXPECT_EQ(LowerEngine::RateFactor(), 128u);
  EXPECT_NE(g_LEngineDefaultPoolId, kInvalidPoolId);

  CSnOutputDevice* main = LowerEngine::MainDevice();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(LowerEngine::OutputDeviceCount(), 1u);
  EXPECT_EQ(main->OutputType(), 32u);
  EXPECT_EQ(main->DeviceId(), 0u);
  EXPECT_EQ(main->ListenerMask(), 255u);
  ASSERT_NE(main->Sink(), nullptr);
  // Stereo: two channels, standard type, front left and right.
  EXPECT_EQ(main->ChannelConfig(), 0x3102u);
  EXPECT_EQ(SoundEngine::Settings().mainOutputSettings.channelConfig, 0x3102u);
  EXPECT_EQ(SoundEngine::GetSpeakerConfiguration(32, 0), 0x3102u);

  SoundEngine::Term();
  EXPECT_EQ(g_LEngineDefaultPoolId, kInvalidPoolId);
  EXPECT_EQ(LowerEngine::MainDevice(), nullptr);
  EXPECT_EQ(LowerEngine::Installed(), nullptr);
  EXPECT_EQ(OutputServices(), nullptr);
  EXPECT_EQ(MemoryMgr::GetNumPools(), streamPools);

  // Again from scratch, now with the audio thread.
  settings_.useAudioThread = 1;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_NE(LowerEngine::MainDevice(), nullptr);
  SoundEngine::Term();
  EXPECT_EQ(AudioThread::ThreadId(), 0u);
  EXPECT_EQ(MemoryMgr::GetNumPools(), streamPools);
}

TEST_F(LowerEngineInitTest, RateModeOneRunsAt24kHzWithTheFramesAsked) {
  platform_.sampleRateMode = 1;
  settings_.samplesPerFrame = 2048;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(LowerEngine::SampleRate(), 24000u);
  EXPECT_EQ(LowerEngine::RateFactor(), 64u);
  EXPECT_EQ(LowerEngine::SamplesPerFrame(), 2048u);
  EXPECT_EQ(LowerEngine::FrameDurationMs(), 85u);  // 2048 / 24 ms
  SoundEngine::Term();

  for (uint32_t samples : {256u, 512u}) {
    platform_.sampleRateMode = 0;
    settings_.samplesPerFrame = samples;
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
    EXPECT_EQ(LowerEngine::SamplesPerFrame(), samples);
    EXPECT_EQ(LowerEngine::FrameDurationMs(), samples == 256 ? 5u : 10u);
    SoundEngine::Term();
  }
}

TEST_F(LowerEngineInitTest, AnInstalledBackEndIsKeptAndOutlivesTerm) {
  // A back end installed beforehand (here the real one, by hand) is neither replaced nor removed,
  // and no service slot is filled for it.
  LowerEngine::Install(&LowerEngine::RealLowerEngine());
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  SoundEngine::Term();
  EXPECT_EQ(LowerEngine::Installed(), &LowerEngine::RealLowerEngine());
  EXPECT_EQ(OutputServices(), nullptr);  // the services go with whoever installed the back end
  LowerEngine::Install(nullptr);
}

TEST_F(LowerEngineInitTest, WithoutAStreamManagerTheLowerEngineRefusesAndLeavesNoPool) {
  // Init checks the stream manager first; the lower engine checks again for its own callers.
  const int32_t streamPools = MemoryMgr::GetNumPools();
  ISnStreamMgr* streams = ISnStreamMgr::m_pStreamMgr;
  ISnStreamMgr::m_pStreamMgr = nullptr;
  EXPECT_EQ(SoundEngine::Init(&settings_, &platform_), SN_StreamMgrNotInitialized);
  ISnStreamMgr::m_pStreamMgr = streams;
  EXPECT_EQ(g_LEngineDefaultPoolId, kInvalidPoolId);
  EXPECT_EQ(MemoryMgr::GetNumPools(), streamPools);
}

TEST_F(LowerEngineInitTest, APlatformPoolSizeOf64BytesOrLessGivesTheDefaultPool) {
  platform_.lowerEnginePoolBytes = 64;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  MemoryMgr::PoolMemInfo info;
  ASSERT_EQ(MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info), SN_Success);
  EXPECT_EQ(info.totalBytes + uint32_t(SN::Tlsf::kOverheadBytes), 16777216u);
}

}  // namespace

namespace {

using namespace SN;

class UnreadMessagesTest : public OutputTest::OutputFixture {
 protected:
  void QueueEveryCopyingMessage() {
    const float offsets[2] = {-3.0f, -6.0f};
    const float angles[3] = {30.0f, 100.0f, 140.0f};
    ASSERT_EQ(SoundEngine::SetListenerSpatialization(0, true, AnonymousConfig(2), offsets), SN_Success);
    ASSERT_EQ(SoundEngine::StartOutputCapture(u"never.wav"), SN_Success);
    ASSERT_EQ(SoundEngine::AddOutputCaptureMarker("never"), SN_Success);
    ASSERT_EQ(SoundEngine::SetSpeakerAngles(angles, 3, 0.0f, 32, 0), SN_Success);
  }
  static uint32_t Used(SnMemPoolId pool) {
    MemoryMgr::PoolMemInfo info;
    EXPECT_EQ(MemoryMgr::GetPoolMemoryUsed(pool, info), SN_Success);
    return info.usedBytes;
  }
};

TEST_F(UnreadMessagesTest, MessagesDroppedUnreadGiveBackTheirCopies) {
  // What the pools hold once the audio manager has ended, without and then with unread copies.
  uint32_t defaultUsed[2], lowerUsed[2];
  for (int queued = 0; queued < 2; ++queued) {
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    if (queued) QueueEveryCopyingMessage();
    g_pAudioMgr->Term();
    defaultUsed[queued] = Used(g_DefaultPoolId);
    lowerUsed[queued] = Used(g_LEngineDefaultPoolId);
    SoundEngine::Term();
  }
  EXPECT_EQ(defaultUsed[1], defaultUsed[0]);
  EXPECT_EQ(lowerUsed[1], lowerUsed[0]);
}

TEST_F(UnreadMessagesTest, TermDropsTheRingWhileBothPoolsExist) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  QueueEveryCopyingMessage();
  log_.Take();
  SoundEngine::Term();
  EXPECT_EQ(log_.Take().find("invalid memory pool"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("never.wav")));
}

}  // namespace
