// Posted events and what acts on their sounds, listeners and outputs, capture, and the messages
// whose writers come later: each handler reaches its recording receiver with the right values and
// gives back what its message held.
#include <cstring>

#include "Base/MathUtil.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "tests/SoundEngine/SoundApiFakes.h"

using namespace SN;
using namespace SN::SoundEngine;

namespace {

class SoundApiEventTest : public SoundTest::ApiFixture {};

struct Ended {
  std::vector<uint32_t> playingIds;
};
Ended* g_ended = nullptr;
void OnCallback(uint32_t type, SnCallbackInfo* info) {
  if (type == SnCallback_EndOfEvent && g_ended)
    g_ended->playingIds.push_back(static_cast<SnEventCallbackInfo*>(info)->playingId);
}

TEST_F(SoundApiEventTest, PostedEventsScheduleTheirActionsAndEndWithTheirCallbacks) {
  Start();
  CSnIndexedObject* event = AddIndexed(GetIDFromString("Play_Step"), SnIndex_Events);
  ASSERT_EQ(RegisterGameObj(4), SN_Success);
  Ended ended;
  g_ended = &ended;

  EXPECT_EQ(PostEvent(12345u, 4), 0u);  // not loaded
  const uint32_t first = PostEvent("play_step", 4, SnCallback_EndOfEvent, &OnCallback, nullptr, 0, nullptr, 77);
  const uint32_t second = PostEvent(u"PLAY_STEP", 99);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(event->RefCount(), 4u);  // the test's, the index's, one per post
  Frames(1);
  EXPECT_EQ(events_.log.lines,
            (std::vector<std::string>{"Schedule " + std::to_string(event->ID()) + " 4 " + std::to_string(first) + " 77",
                                      "Schedule " + std::to_string(event->ID()) + " 0 " + std::to_string(second) + " 0"}));
  EXPECT_EQ(event->RefCount(), 2u);
  EXPECT_EQ(ended.playingIds, std::vector<uint32_t>{first});
  EXPECT_EQ(g_pPlayingIDCallbackMgr->Count(), 0u);
  g_ended = nullptr;
  event->Release();
}

void PostAgainFromTheCallback(uint32_t type, SnCallbackInfo*) {
  if (type == SnCallback_EndOfEvent) SetRTPCValue(77u, 5.0f);
}

// The end-of-event callback runs inside the handler, under the audio lock, and may call the API.
TEST_F(SoundApiEventTest, ACallbackReachedFromAHandlerMayCallTheApiAgain) {
  Start();
  CSnIndexedObject* event = AddIndexed(70, SnIndex_Events);
  ASSERT_NE(PostEvent(70u, 0xFFFFFFFFu, SnCallback_EndOfEvent, &PostAgainFromTheCallback), 0u);
  Frames(2);
  float value = 0;
  ASSERT_TRUE(g_pRTPCMgr->GetValue(77, SnRTPCKey{}, value));
  EXPECT_EQ(value, 5.0f);
  event->Release();
}

TEST_F(SoundApiEventTest, ExternalSourcesAreCopiedAndAlwaysGivenBack) {
  Start();
  CSnIndexedObject* event = AddIndexed(31, SnIndex_Events);
  const uint32_t baseline = PoolUsed(g_DefaultPoolId);
  const SnExternalSourceInfo sources[2] = {{1, 2, u"voice_01.snd", nullptr, 0, 0}, {3, 4, nullptr, nullptr, 0, 9}};

  // Absent event, by id and by name: the copy is released.
  EXPECT_EQ(PostEvent(32u, 0xFFFFFFFFu, 0, nullptr, nullptr, 2, sources), 0u);
  EXPECT_EQ(PostEvent("missing", 0xFFFFFFFFu, 0, nullptr, nullptr, 2, sources), 0u);
  EXPECT_EQ(PoolUsed(g_DefaultPoolId), baseline);

  ASSERT_NE(PostEvent(31u, 0xFFFFFFFFu, 0, nullptr, nullptr, 2, sources), 0u);
  Frames(1);
  EXPECT_EQ(PoolUsed(g_DefaultPoolId), baseline);
  EXPECT_EQ(event->RefCount(), 2u);
  event->Release();
}

TEST_F(SoundApiEventTest, AFailedCallbackRegistrationCancelsTheMessageAndReleasesTheEventOnce) {
  settings_.defaultPoolBytes = 2 * 1024 * 1024;
  Start();
  CSnIndexedObject* event = AddIndexed(41, SnIndex_Events);
  // Fill the default pool so the callback table cannot take another entry.
  std::vector<void*> blocks;
  for (size_t size = 65536; size >= 8; size /= 2)
    while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) blocks.push_back(block);
  const uint64_t before = g_pAudioMgr->ProcessedMessageCount();
  EXPECT_EQ(PostEvent(41u, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(event->RefCount(), 2u);
  for (void* block : blocks) MemoryMgr::Free(g_DefaultPoolId, block);
  Frames(1);
  EXPECT_EQ(g_pAudioMgr->ProcessedMessageCount(), before + 2);  // the cancelled message, skipped, and the frame's end
  EXPECT_TRUE(events_.log.lines.empty());
  EXPECT_EQ(event->RefCount(), 2u);
  event->Release();
}

TEST_F(SoundApiEventTest, ActionsSeeksStopsAndSourcePlugins) {
  Start();
  CSnIndexedObject* event = AddIndexed(60, SnIndex_Events);
  ASSERT_EQ(RegisterGameObj(4), SN_Success);
  EXPECT_EQ(ExecuteActionOnEvent(61u, 0), SN_Failure);
  EXPECT_EQ(SeekOnEvent(61u, 4, 100), SN_Failure);
  EXPECT_EQ(ExecuteActionOnEvent(60u, SnActionOnEvent_Pause, 4, 300, SnCurve_Sine, 8), SN_Success);
  EXPECT_EQ(ExecuteActionOnEvent(60u, SnActionOnEvent_Stop), SN_Success);
  EXPECT_EQ(ExecuteActionOnEvent(60u, SnActionOnEvent_Stop, 99), SN_Success);  // unregistered: dropped
  EXPECT_EQ(SeekOnEvent(60u, 4, 1500, true, 8), SN_Success);
  EXPECT_EQ(SeekOnEvent(60u, 0xFFFFFFFFu, 0.5f), SN_Success);
  EXPECT_EQ(StopAll(4), SN_Success);
  EXPECT_EQ(StopAll(), SN_Success);
  EXPECT_EQ(StopAll(99), SN_Success);
  Frames(1);
  EXPECT_EQ(events_.log.lines, (std::vector<std::string>{
                                   "ActionOnEvent 60 4 1 300 1 8",
                                   "ActionOnEvent 60 0 0 0 4 0",
                                   "Seek 60 4 1500 0.000000 0 1 8",
                                   "Seek 60 0 0 0.500000 1 0 0",
                                   "StopAction 261 4",
                                   "StopAction 260 0",
                               }));
  EXPECT_EQ(event->RefCount(), 2u);

  StopPlayingID(0);
  StopPlayingID(33, 200, SnCurve_Log1);
  const uint32_t plugin = PlaySourcePlugin(0x12, 0x3, 4);
  EXPECT_NE(plugin, 0u);
  EXPECT_EQ(StopSourcePlugin(0x12, 0x3, plugin), SN_Success);
  Frames(1);
  const uint32_t classId = (0x12u << 16) | (0x3u << 4) | 2u;
  EXPECT_EQ(outputs_.log.lines, std::vector<std::string>{"StopPlayingID 33 200 2"});
  EXPECT_EQ(nodes_.log.lines, (std::vector<std::string>{"PlayPlugin " + std::to_string(classId) + " 4 " + std::to_string(plugin),
                                                        "StopPlugin " + std::to_string(classId) + " " + std::to_string(plugin)}));
  event->Release();
}

TEST_F(SoundApiEventTest, ListenersOutputsAndCapture) {
  Start();
  const uint32_t spatialBaseline = PoolUsed(g_LEngineDefaultPoolId);
  SnListenerPosition parallel{{0, 2, 0}, {0, 1, 0}, {1, 2, 3}};
  SnListenerPosition skewed{{1, 1, 0}, {0, 2, 0}, {0, 0, 0}};
  EXPECT_EQ(SetListenerPosition(parallel, 1), SN_Success);
  Frames(1);
  EXPECT_EQ(outputs_.lastListener.front[0], 0.0f);
  EXPECT_EQ(outputs_.lastListener.front[1], 0.0f);
  EXPECT_EQ(outputs_.lastListener.position[2], 3.0f);
  EXPECT_EQ(SetListenerPosition(skewed), SN_Success);
  Frames(1);
  EXPECT_FLOAT_EQ(outputs_.lastListener.front[0], 1.0f);
  EXPECT_FLOAT_EQ(outputs_.lastListener.front[1], 0.0f);
  EXPECT_FLOAT_EQ(outputs_.lastListener.top[1], 1.0f);

  const float offsets[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(SetListenerScalingFactor(0, 0.0f), SN_InvalidParameter);
  EXPECT_EQ(SetListenerSpatialization(2, true, 0x606, offsets), SN_Success);
  EXPECT_EQ(PoolUsed(g_LEngineDefaultPoolId) > spatialBaseline, true);
  Frames(1);
  EXPECT_EQ(outputs_.lastOffsets, std::vector<float>(offsets, offsets + 6));
  EXPECT_EQ(PoolUsed(g_LEngineDefaultPoolId), spatialBaseline);

  EXPECT_EQ(AddSecondaryOutput(1, 32, 1), SN_InvalidParameter);
  EXPECT_EQ(AddSecondaryOutput(1, 4, 1), SN_InvalidParameter);
  EXPECT_EQ(AddSecondaryOutput(1, 8, 256), SN_InvalidParameter);
  EXPECT_EQ(SetSecondaryOutputVolume(0, 32, 0.5f), SN_Failure);
  EXPECT_EQ(SetSpeakerAngles(offsets, 2, 0.0f), SN_InvalidParameter);
  EXPECT_EQ(SetSpeakerAngles(nullptr, 3, 0.0f), SN_InvalidParameter);
  EXPECT_EQ(StartOutputCapture(nullptr), SN_InvalidParameter);
  EXPECT_EQ(AddOutputCaptureMarker(""), SN_InvalidParameter);
  outputs_.log.lines.clear();

  const uint32_t baseline = PoolUsed(g_DefaultPoolId);
  EXPECT_EQ(SetListenerScalingFactor(0, 2.0f), SN_Success);
  EXPECT_EQ(SetListenerPipeline(3, true, false), SN_Success);
  EXPECT_EQ(AddSecondaryOutput(5, 16, 3), SN_Success);
  EXPECT_EQ(RemoveSecondaryOutput(0, 32), SN_Failure);  // the main device stays: nothing queued
  EXPECT_EQ(RemoveSecondaryOutput(1, 32), SN_Success);
  EXPECT_EQ(SetSecondaryOutputVolume(5, 16, 0.25f), SN_Success);
  EXPECT_EQ(SetPanningRule(1, 16, 5), SN_Success);
  EXPECT_EQ(SetSpeakerAngles(offsets, 3, 30.0f, 16, 5), SN_Success);
  EXPECT_EQ(StartOutputCapture(u"capture.wav"), SN_Success);
  EXPECT_EQ(AddOutputCaptureMarker("here"), SN_Success);
  EXPECT_EQ(StopOutputCapture(), SN_Success);
  Frames(1);
  EXPECT_EQ(outputs_.log.lines, (std::vector<std::string>{
                                    "ListenerScaling 0 2.000000", "Pipeline 3 1 0", "AddOutput 16 5 3",
                                    "RemoveOutput 32 1", "OutputVolume 16 5 0.250000", "PanningRule 16 5 1",
                                    "SpeakerAngles 16 5 3 30.000000", "StartCapture", "Marker", "StopCapture"}));
  EXPECT_EQ(outputs_.lastAngles, (std::vector<float>{1, 2, 3}));
  EXPECT_EQ(outputs_.lastCapture, u"capture.wav");
  EXPECT_EQ(outputs_.lastMarker, "here");
  EXPECT_EQ(PoolUsed(g_DefaultPoolId), baseline);

  uint32_t rule = 0, count = 3;
  float angles[3] = {}, height = 0;
  EXPECT_EQ(GetPanningRule(rule, 16, 5), SN_Success);
  EXPECT_EQ(rule, 1u);
  EXPECT_EQ(GetSpeakerAngles(angles, count, height), SN_Success);
  EXPECT_EQ(angles[2], 90.0f);
  EXPECT_EQ(GetSpeakerConfiguration(), 0x3Fu);
  outputs_.hasDevice = false;
  EXPECT_EQ(GetPanningRule(rule), SN_Failure);
  EXPECT_EQ(GetSpeakerConfiguration(), 0u);
}

TEST_F(SoundApiEventTest, SpatializationWithoutRoomIsCancelled) {
  Start();
  MemoryMgr::DestroyPool(g_LEngineDefaultPoolId);
  g_LEngineDefaultPoolId = kInvalidPoolId;
  const float offsets[2] = {1, 2};
  EXPECT_EQ(SetListenerSpatialization(0, true, 2, offsets), SN_InsufficientMemory);
  EXPECT_EQ(SetListenerSpatialization(0, false, 2), SN_Success);
  Frames(1);
  EXPECT_EQ(outputs_.log.lines, std::vector<std::string>{"Spatialization 0 0 2 0"});
}

bool g_mutedSeen[2];
void OnBackgroundMusic(bool muted, void* cookie) {
  g_mutedSeen[muted] = true;
  ++*static_cast<int*>(cookie);
}

TEST_F(SoundApiEventTest, BackgroundMusicSeedSuspendAndTheMixingMessages) {
  int calls = 0;
  settings_.backgroundMusicCallback = &OnBackgroundMusic;
  settings_.backgroundMusicCookie = &calls;
  Start();
  EXPECT_EQ(MuteBackgroundMusic(true), SN_Success);
  EXPECT_EQ(MuteBackgroundMusic(true), SN_Success);
  EXPECT_EQ(MuteBackgroundMusic(false), SN_Success);
  Frames(1);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(outputs_.log.lines, (std::vector<std::string>{"BackgroundMusic 1", "BackgroundMusic 0"}));

  Base::SeedRand15(4242);
  const int expected = Base::Rand15();
  EXPECT_EQ(SetRandomSeed(4242), SN_Success);
  Frames(1);
  EXPECT_EQ(Base::Rand15(), expected);
  Base::SeedRand15(1);

  EXPECT_EQ(Suspend(true), SN_Success);
  EXPECT_EQ(WakeupFromSuspend(), SN_Success);

  CSnIndexedObject* bus = AddIndexed(GetIDFromString("Music"), SnIndex_Busses);
  CSnIndexedObject* node = AddIndexed(80, SnIndex_Nodes);
  EXPECT_EQ(SetBusEffect("Music", 1, 900), SN_Success);
  EXPECT_EQ(SetActorMixerEffect(80, 2, 901), SN_Success);
  EXPECT_EQ(SetActorMixerEffect(81, 2, 902), SN_Success);  // no such node
  EXPECT_EQ(SetMixer(u"music", 903), SN_Success);
  EXPECT_EQ(SetMixer(static_cast<const char16_t*>(nullptr), 903), SN_IdNotFound);
  Frames(1);
  const std::string busId = std::to_string(bus->ID());
  EXPECT_EQ(nodes_.log.lines, (std::vector<std::string>{"Effect " + busId + " 1 1 900", "Effect 80 0 2 901",
                                                        "Mixer " + busId + " 903"}));
  bus->Release();
  node->Release();
}

// An action whose end is seen: an event gives its actions back when it goes.
class WatchedAction final : public CSnEventAction {
 public:
  WatchedAction(uint32_t id, bool& gone) : CSnEventAction(id, SnAction_Play), gone_(gone) {}
  ~WatchedAction() override { gone_ = true; }
  SNRESULT Execute(CSnPendingActionItem&) override { return SN_Success; }
  uint32_t DelaySamples() override { return 0; }

 private:
  bool& gone_;
};

// A pin message still in the ring when the engine stops gives back the event it holds.
TEST_F(SoundApiEventTest, AnUnreadPinMessageGivesItsEventBackAtTerm) {
  Start();
  bool gone = false;
  auto* action = PoolNew<WatchedAction>(g_DefaultPoolId, 92u, gone);
  ASSERT_NE(action, nullptr);
  g_pObjectIndex->List(SnIndex_Actions).Insert(action);
  auto* event = CSnEvent::CreateEvent(91);
  ASSERT_NE(event, nullptr);
  const uint32_t ids[] = {92};
  ASSERT_EQ(event->SetActions(ids, 1), SN_Success);
  action->Release();  // its creation's: the event holds it now
  g_pObjectIndex->List(SnIndex_Events).Insert(event);
  auto* pin = g_pAudioMgr->Reserve<SnMsgPinEvent>(SnMsg_PinEvent);
  ASSERT_NE(pin, nullptr);
  std::memset(reinterpret_cast<uint8_t*>(pin) + sizeof(SnMsgHeader), 0, sizeof(*pin) - sizeof(SnMsgHeader));
  pin->event = event;  // with the creation's reference
  pin->pin = 1;
  g_pAudioMgr->FinishMessage();
  EXPECT_FALSE(gone);
  SN::SoundEngine::Term();
  EXPECT_TRUE(gone);
}

// Writers of these come with the bank, sequence, pinning and motion calls; their handlers are here.
TEST_F(SoundApiEventTest, MessagesWhoseWritersComeLater) {
  Start();
  ASSERT_EQ(RegisterGameObj(4), SN_Success);
  CSnIndexedObject* sequence = AddIndexed(0x80000001u, SnIndex_DynamicSequences);
  CSnIndexedObject* event = AddIndexed(90, SnIndex_Events);
  auto write = [](auto* message, auto fill) {
    std::memset(reinterpret_cast<uint8_t*>(message) + sizeof(SnMsgHeader), 0,
                sizeof(*message) - sizeof(SnMsgHeader));
    fill(*message);
    g_pAudioMgr->FinishMessage();
  };
  write(g_pAudioMgr->Reserve<SnMsgOpenDynamicSequence>(SnMsg_OpenDynamicSequence), [&](auto& m) {
    m.gameObject = 4;
    m.playingId = 5;
    m.sequence = sequence;
  });
  sequence->AddRef();
  write(g_pAudioMgr->Reserve<SnMsgDynamicSequenceCommand>(SnMsg_DynamicSequenceCommand), [&](auto& m) {
    m.sequence = sequence;
    m.command = SnSequence_Break;
    m.transitionMs = 10;
    m.curve = 4;
  });
  write(g_pAudioMgr->Reserve<SnMsgStopBankVoices>(SnMsg_StopBankVoices), [](auto&) {});
  event->AddRef();
  write(g_pAudioMgr->Reserve<SnMsgPinEvent>(SnMsg_PinEvent), [&](auto& m) {
    m.event = event;
    m.unused = 0xFFFFFFFFu;
    m.activePriority = 7;
    m.inactivePriority = 3;
    m.pin = 1;
  });
  write(g_pAudioMgr->Reserve<SnMsgSecondaryOutput>(SnMsg_SecondaryOutput), [&](auto& m) {
    m.listenerMask = 1;
    m.device = &m;
    m.outputType = 406;
    m.deviceId = 2;
    m.add = 1;
  });
  write(g_pAudioMgr->Reserve<SnMsgSetPlayerListener>(SnMsg_SetPlayerListener), [](auto& m) {
    m.player = 2;
    m.listener = 1;
  });
  write(g_pAudioMgr->Reserve<SnMsgSetPlayerVolume>(SnMsg_SetPlayerVolume), [](auto& m) {
    m.volume = 0.5f;
    m.player = 2;
  });
  Frames(1);
  EXPECT_EQ(later_.log.lines, (std::vector<std::string>{"Bind 2147483649 4 5", "Sequence 2147483649 5 10 4",
                                                        "FinishBank", "Pin 90 7 3"}));
  EXPECT_EQ(outputs_.log.lines, (std::vector<std::string>{"StopBankVoices", "AddMotion 2 1 1", "PlayerListener 2 1",
                                                          "PlayerVolume 2 0.500000"}));
  EXPECT_EQ(sequence->RefCount(), 2u);
  EXPECT_EQ(event->RefCount(), 2u);
  sequence->Release();
  event->Release();
}

}  // namespace
