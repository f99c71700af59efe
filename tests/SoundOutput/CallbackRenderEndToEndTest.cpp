// RenderAudio called from inside a play's callback, without the audio thread: the game's own pass runs
// the callback, and the call answers 1 without starting a pass inside the running one, whose voice
// (the one calling back) a nested pass would end under it. The next pass does what the callback asked.
#include "SoundEngine/AudioMgr.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

struct StopAndRender {
  int calls = 0;
  uint64_t processedBefore = 0, processedAfter = 0;
  SNRESULT stopped = SN_Failure, rendered = SN_Failure;

  static void Callback(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<StopAndRender*>(info->cookie);
    if (self->calls++) return;
    self->stopped = SoundEngine::StopAll();
    self->processedBefore = g_pAudioMgr->ProcessedMessageCount();
    self->rendered = SoundEngine::RenderAudio();
    self->processedAfter = g_pAudioMgr->ProcessedMessageCount();
  }
};

class CallbackRenderTest : public SoundEndToEndTest {};

TEST_F(CallbackRenderTest, RenderAudioFromAPlaysCallbackRunsNoPassInsideTheRunningOne) {
  StopAndRender callback;
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &StopAndRender::Callback, &callback),
            0u);
  for (int frame = 0; frame < 4 && !callback.calls; ++frame) Frames(1);
  ASSERT_EQ(callback.calls, 1);
  EXPECT_EQ(callback.stopped, SN_Success);
  EXPECT_EQ(callback.rendered, SN_Success);
  EXPECT_EQ(callback.processedAfter, callback.processedBefore) << "a pass ran inside the callback";
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

}  // namespace
