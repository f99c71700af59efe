// Dynamic sequences through the game's calls and the queued messages, with a recording playback that
// asks the sequence for its next item as each item ends: items in order with their delays,
// placeholders, missing nodes, pause counts, break and stop, unlocking a waiting sequence, the
// actions aimed at every sequence, editing on one thread while the audio side takes, and Term.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/Lower/Voices/DynamicSequencePlayback.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/SoundEngineSequenceApi.h"
#include "tests/SoundEngine/GameSyncFakes.h"
#include "tests/SoundEngine/SoundApiFakes.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
namespace Seq = SN::SoundEngine::DynamicSequence;

// Plays what the sequence hands it and, told that its item ended, does what the continuous playback
// instance does: asks for the next item, plays it, and reports the ended one.
class RecordingPlayback final : public ISnDynamicSequencePlayback {
 public:
  struct Play {
    uint32_t node, delaySamples;
    int32_t fadeMs;
    bool operator==(const Play&) const = default;
  };
  std::vector<Play> plays;
  std::vector<std::pair<uint32_t, uint32_t>> actions;  // node, action
  SnPlaylistItem playing{};

  SNRESULT PlayItem(const SnSequenceItemPlay& play) override {
    plays.push_back({play.node->ID(), play.delaySamples, play.fadeMs});
    playing = {play.node->ID(), 0, play.customInfo};
    return SN_Success;
  }
  void ActOnItem(uint32_t node, SnSequenceItemAction action, CSnRegisteredObj*, uint32_t, int32_t, uint32_t) override {
    actions.push_back({node, action});
  }
  // The item playing ends.
  void EndItem(uint32_t playingId) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnIndexedObject* found = g_pObjectIndex->List(SnIndex_DynamicSequences).FindAndAddRef(playingId);
    ASSERT_NE(found, nullptr);
    auto* sequence = static_cast<CSnDynamicSequence*>(found);
    const SnPlaylistItem ended = playing;
    playing = {};
    for (;;) {
      uint32_t delayMs = 0;
      void* info = nullptr;
      const uint32_t next = sequence->GetNextToPlay(delayMs, info);
      if (!next) break;
      CSnIndexedObject* node = g_pObjectIndex->FindNodeAndAddRef(next, false);
      if (node) {
        PlayItem({sequence, node, nullptr, playingId, 0, 4, LowerEngine::SampleRate() / 1000 * delayMs, 0, info});
        node->Release();
        break;
      }
      g_pPlayingIDCallbackMgr->NotifyDynamicSequenceItem(playingId, next, info);  // cannot play: ended
    }
    g_pPlayingIDCallbackMgr->NotifyDynamicSequenceItem(playingId, ended.audioNodeId, ended.customInfo);
    found->Release();
  }
};

struct Callbacks {
  std::mutex mutex;
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // type, audio node (0 for the end of event)
  static void Record(uint32_t type, SnCallbackInfo* info) {
    auto* self = static_cast<Callbacks*>(info->cookie);
    std::lock_guard<std::mutex> lock(self->mutex);
    const uint32_t node =
        type == SnCallback_EndOfDynamicSequenceItem ? static_cast<SnDynamicSequenceItemCallbackInfo*>(info)->audioNodeId : 0;
    self->calls.push_back({type, node});
  }
};
constexpr uint32_t kItemEnd = SnCallback_EndOfDynamicSequenceItem;
constexpr uint32_t kEventEnd = SnCallback_EndOfEvent;

class DynamicSequenceTest : public SoundTest::GameSyncFixture {
 protected:
  void SetUp() override {
    GameSyncFixture::SetUp();
    DynamicSequencePlayback() = &playback_;
    Start();
    ASSERT_EQ(SoundEngine::RegisterGameObj(5), SN_Success);
    Frames(1);
    for (uint32_t id : {101u, 102u, 103u}) {
      nodes_.push_back(PoolNew<CSnIndexedObject>(g_DefaultPoolId, id, SnIndex_Nodes));
      g_pObjectIndex->List(SnIndex_Nodes).Insert(nodes_.back());
    }
  }
  void TearDown() override {
    for (CSnIndexedObject* node : nodes_) node->Release();
    GameSyncFixture::TearDown();
    DynamicSequencePlayback() = nullptr;
  }
  uint32_t Open(uint32_t type = Seq::DynamicSequenceType_SampleAccurate) {
    const uint32_t id = Seq::Open(5, kItemEnd | kEventEnd, &Callbacks::Record, &callbacks_, Seq::DynamicSequenceType(type));
    EXPECT_NE(id, 0u);
    return id;
  }
  void Fill(uint32_t id, std::initializer_list<std::pair<uint32_t, uint32_t>> items) {
    Seq::Playlist* playlist = Seq::LockPlaylist(id);
    ASSERT_NE(playlist, nullptr);
    for (const auto& [node, delay] : items) ASSERT_TRUE(playlist->Enqueue(node, delay));
    ASSERT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  }
  CSnDynamicSequence* Sequence(uint32_t id) {
    CSnIndexedObject* found = g_pObjectIndex->List(SnIndex_DynamicSequences).FindAndAddRef(id);
    if (found) found->Release();
    return static_cast<CSnDynamicSequence*>(found);
  }

  RecordingPlayback playback_;
  Callbacks callbacks_;
  std::vector<CSnIndexedObject*> nodes_;
};

TEST_F(DynamicSequenceTest, ItemsPlayInOrderWithTheirDelaysAndPlaceholdersCallBackAtOnce) {
  const uint32_t id = Open();
  Fill(id, {{101, 0}, {0, 0}, {999, 0}, {102, 250}, {103, 10}});
  ASSERT_EQ(Seq::Play(id, 300), SN_Success);
  Frames(1);
  EXPECT_EQ(playback_.plays, (std::vector<RecordingPlayback::Play>{{101, 0, 300}}));
  playback_.EndItem(id);  // the placeholder calls back as it is taken; 999 is no node: it ends too
  EXPECT_EQ(playback_.plays.back(), (RecordingPlayback::Play{102, 250 * 48, 0}));
  playback_.EndItem(id);
  EXPECT_EQ(playback_.plays.back(), (RecordingPlayback::Play{103, 480, 0}));
  playback_.EndItem(id);
  EXPECT_EQ(Sequence(id)->State(), SnSequenceState_Waiting);
  EXPECT_EQ(callbacks_.calls, (std::vector<std::pair<uint32_t, uint32_t>>{
                                  {kItemEnd, 0}, {kItemEnd, 999}, {kItemEnd, 101}, {kItemEnd, 102}, {kItemEnd, 103}}));

  // A missing first node is SN_IdNotFound to the sequence: it calls back and plays the next.
  Fill(id, {{998, 0}, {101, 0}});  // waiting: the unlock wakes it
  Frames(1);
  EXPECT_EQ(playback_.plays.back().node, 101u);
  EXPECT_EQ(callbacks_.calls.back(), (std::pair<uint32_t, uint32_t>{kItemEnd, 998}));
  ASSERT_EQ(Seq::Close(id), SN_Success);
  EXPECT_EQ(Seq::Close(id), SN_Failure);
  EXPECT_EQ(Seq::Play(id), SN_Failure);
  Frames(1);
  EXPECT_EQ(callbacks_.calls.back(), (std::pair<uint32_t, uint32_t>{kEventEnd, 0}));
  EXPECT_EQ(Sequence(id), nullptr);
}

TEST_F(DynamicSequenceTest, PausesCountBreakLetsTheItemFinishAndStopFadesIt) {
  const uint32_t id = Open();
  Fill(id, {{101, 0}, {102, 0}, {103, 0}});
  Seq::Play(id);
  Frames(1);
  // Near its end 101 hands on: it is the current item, 102 the next (playing after it).
  playback_.EndItem(id);
  Seq::Pause(id, 100);
  Seq::Pause(id, 100);
  Seq::Resume(id, 100);
  Frames(1);
  EXPECT_EQ(Sequence(id)->PauseCount(), 1u);
  EXPECT_EQ(playback_.actions, (std::vector<std::pair<uint32_t, uint32_t>>{{101, SnSequenceItem_Pause},
                                                                           {102, SnSequenceItem_Pause}}));
  Seq::Resume(id, 100);
  Seq::Break(id);
  Frames(1);
  EXPECT_EQ(playback_.actions.back(), (std::pair<uint32_t, uint32_t>{101, SnSequenceItem_Break}));
  EXPECT_EQ(Sequence(id)->State(), SnSequenceState_Stopped);
  playback_.EndItem(id);  // nothing follows a break
  EXPECT_EQ(playback_.plays.size(), 2u);

  Fill(id, {{101, 0}});  // after 103, which the break left in the playlist
  Seq::Play(id);
  Frames(1);
  playback_.EndItem(id);
  playback_.actions.clear();
  Seq::Stop(id, 500);
  Frames(1);
  EXPECT_EQ(playback_.actions, (std::vector<std::pair<uint32_t, uint32_t>>{{101, SnSequenceItem_Stop},
                                                                           {103, SnSequenceItem_Stop}}));
  EXPECT_EQ(Seq::Pause(0xDEAD), SN_Failure);
  EXPECT_EQ(Seq::LockPlaylist(0xDEAD), nullptr);
}

TEST_F(DynamicSequenceTest, AGlobalResumeRestartsOnlyWhatAGlobalPausePaused) {
  const uint32_t stopped = Open(), paused = Open();
  Fill(stopped, {{101, 0}});
  Fill(paused, {{102, 0}, {103, 0}});
  Seq::Play(paused);
  Frames(1);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnDynamicSequence::ApplyGlobalActionToAll(SnGlobalAction_Pause, nullptr);
    CSnDynamicSequence::ApplyGlobalActionToAll(SnGlobalAction_Resume, nullptr);
    CSnDynamicSequence::ApplyGlobalActionToAll(SnGlobalAction_Resume, nullptr);
  }
  // The stopped one was never paused: it stays stopped with its item unplayed.
  EXPECT_EQ(Sequence(stopped)->State(), SnSequenceState_Stopped);
  EXPECT_EQ(playback_.plays.size(), 1u);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnDynamicSequence::ApplyGlobalActionToAll(SnGlobalAction_Stop, nullptr);
  }
  EXPECT_EQ(Sequence(paused)->State(), SnSequenceState_Stopped);
}

// The game's stop-all reaches sequences as it reaches the nodes; another object's leaves them be.
TEST_F(DynamicSequenceTest, StopAllReachesSequences) {
  const uint32_t id = Open();
  Fill(id, {{101, 0}, {102, 1000}});
  Seq::Play(id);
  Frames(1);
  ASSERT_EQ(Sequence(id)->State(), SnSequenceState_Playing);
  // The stand-in nodes are no hierarchy nodes for a stop-all to walk: out of the index meanwhile.
  for (CSnIndexedObject* node : nodes_) g_pObjectIndex->List(SnIndex_Nodes).RemoveItem(node);
  ASSERT_EQ(SoundEngine::RegisterGameObj(6), SN_Success);
  ASSERT_EQ(SoundEngine::StopAll(6), SN_Success);
  Frames(1);
  EXPECT_EQ(Sequence(id)->State(), SnSequenceState_Playing);
  ASSERT_EQ(SoundEngine::StopAll(), SN_Success);
  Frames(1);
  EXPECT_EQ(Sequence(id)->State(), SnSequenceState_Stopped);
  for (CSnIndexedObject* node : nodes_) g_pObjectIndex->List(SnIndex_Nodes).Insert(node);
  EXPECT_EQ(Seq::Close(id), SN_Success);
}

TEST_F(DynamicSequenceTest, OpenWithARefusedCallbackCancelsItsMessageAndLetsTheSequenceGo) {
  // Room for the sequence and nothing after it: the callback table cannot take the playing id.
  void* room = MemoryMgr::Malign(g_DefaultPoolId, sizeof(CSnDynamicSequence), alignof(CSnDynamicSequence));
  std::vector<void*> blocks;
  for (size_t size = 65536; size >= 8; size /= 2)
    while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) blocks.push_back(block);
  MemoryMgr::Free(g_DefaultPoolId, room);
  const uint64_t before = g_pAudioMgr->ProcessedMessageCount();
  EXPECT_EQ(Seq::Open(5, kEventEnd, &Callbacks::Record, &callbacks_), 0u);
  for (void* block : blocks) MemoryMgr::Free(g_DefaultPoolId, block);
  EXPECT_EQ(g_pObjectIndex->List(SnIndex_DynamicSequences).Count(), 0u);
  Frames(1);
  EXPECT_EQ(g_pAudioMgr->ProcessedMessageCount(), before + 2);  // the cancelled message and the frame's end
}

TEST_F(DynamicSequenceTest, TheGameEditsWhileTheAudioSideTakes) {
  const uint32_t id = Open(Seq::DynamicSequenceType_NormalTransition);
  Fill(id, {{101, 0}});
  Seq::Play(id);
  Frames(1);
  std::atomic<bool> done{false};
  std::thread game([&] {
    for (int i = 0; i < 200; ++i) {
      Seq::Playlist* playlist = Seq::LockPlaylist(id);
      playlist->Enqueue(102 + i % 2);
      if (playlist->Count() > 3) playlist->Remove(0);
      Seq::UnlockPlaylist(id);
    }
    done = true;
  });
  for (int i = 0; i < 100 || !done; ++i) playback_.EndItem(id);
  game.join();
  // The game never empties the playlist: what it left plays now, however the two threads met.
  playback_.EndItem(id);
  Frames(1);
  EXPECT_GT(playback_.plays.size(), 1u);
}

TEST_F(DynamicSequenceTest, TermWithAnOpenSequenceEndsItsEventOnce) {
  const uint32_t id = Open();
  Fill(id, {{101, 0}});
  Seq::Play(id);
  Frames(1);
  SoundEngine::Term();
  EXPECT_EQ(callbacks_.calls.back(), (std::pair<uint32_t, uint32_t>{kEventEnd, 0}));
  EXPECT_EQ(std::count(callbacks_.calls.begin(), callbacks_.calls.end(), std::pair<uint32_t, uint32_t>{kEventEnd, 0}), 1);
  nodes_.clear();  // gone with the engine's pool
  EXPECT_EQ(SoundEngine::DynamicSequence::Open(5), 0u);
  EXPECT_EQ(Seq::Play(id), SN_Failure);
}

// Close marks the sequence at once, but its message is still queued when the engine stops: Term
// gives back the game's reference and ends the event all the same, once.
TEST_F(DynamicSequenceTest, ASequenceClosedJustBeforeTermEndsItsEventOnce) {
  const uint32_t id = Open();
  Fill(id, {{101, 0}});
  Seq::Play(id);
  Frames(1);
  ASSERT_EQ(Seq::Close(id), SN_Success);
  EXPECT_EQ(Seq::Play(id), SN_Failure) << "closed for the game's commands";
  SoundEngine::Term();
  EXPECT_EQ(std::count(callbacks_.calls.begin(), callbacks_.calls.end(), std::pair<uint32_t, uint32_t>{kEventEnd, 0}), 1);
  nodes_.clear();  // gone with the engine's pool
}

// Lock and Unlock pair on one thread: an unlock of another thread, or one more than the locks, is
// refused with a message and frees nothing; the queued Open still finds its sequence.
TEST_F(DynamicSequenceTest, AnUnlockWithoutItsLockIsRefusedAndFreesNothing) {
  const uint32_t id = Open();
  Fill(id, {{101, 0}});
  EXPECT_EQ(Seq::UnlockPlaylist(id), SN_Failure);
  EXPECT_NE(log_.Take().find("DynamicSequence::UnlockPlaylist: playing id " + std::to_string(id) +
                             " has no LockPlaylist of this thread to pair with"),
            std::string::npos);
  Frames(1);  // the Open message binds the sequence
  ASSERT_NE(Sequence(id), nullptr);

  ASSERT_NE(Seq::LockPlaylist(id), nullptr);
  ASSERT_NE(Seq::LockPlaylist(id), nullptr);  // nested on one thread
  SNRESULT otherThread = SN_Success;
  std::thread other([&] { otherThread = Seq::UnlockPlaylist(id); });
  other.join();
  EXPECT_EQ(otherThread, SN_Failure);
  EXPECT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  EXPECT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  EXPECT_EQ(Seq::UnlockPlaylist(id), SN_Failure);

  ASSERT_EQ(Seq::Play(id), SN_Success);
  Frames(1);
  EXPECT_EQ(playback_.plays, (std::vector<RecordingPlayback::Play>{{101, 0, 0}}));
  ASSERT_EQ(Seq::Close(id), SN_Success);
  Frames(1);
  EXPECT_EQ(Sequence(id), nullptr);
  EXPECT_EQ(callbacks_.calls.back(), (std::pair<uint32_t, uint32_t>{kEventEnd, 0}));
}

// A pass, run by another thread while this one holds a playlist, ends without waiting for it: this
// thread could be waiting for the pass (a post into a full ring, a RenderAudio of its own).
class PassBesideAHeldPlaylist : public DynamicSequenceTest {
 protected:
  // The next pass, on another thread, while this one holds the playlist of `held`.
  bool PassWhileHeld(uint32_t held) {
    EXPECT_NE(Seq::LockPlaylist(held), nullptr);
    std::atomic<bool> passed{false};
    std::thread pass([&] {
      SoundEngine::RenderAudio();
      passed = true;
    });
    const bool ended = OrvTest::WaitUntil([&] { return passed.load(); },
                                          "a pass while the game holds a playlist", std::chrono::seconds(3));
    EXPECT_EQ(Seq::UnlockPlaylist(held), SN_Success);
    pass.join();
    return ended;
  }
};

struct LockFromCallback {
  uint32_t other = 0;
  bool called = false;
  Seq::Playlist* got = nullptr;
  static void Call(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<LockFromCallback*>(info->cookie);
    self->got = Seq::LockPlaylist(self->other);
    if (self->got) Seq::UnlockPlaylist(self->other);
    self->called = true;
  }
};

TEST_F(PassBesideAHeldPlaylist, APlayCallbackIsRefusedThePlaylist) {
  const uint32_t held = Open();
  LockFromCallback call{held};
  const uint32_t placeholder = Seq::Open(5, kItemEnd, &LockFromCallback::Call, &call);
  Fill(placeholder, {{0, 0}});
  ASSERT_EQ(Seq::Play(placeholder), SN_Success);
  EXPECT_TRUE(PassWhileHeld(held));
  EXPECT_TRUE(call.called);
  EXPECT_EQ(call.got, nullptr);
  EXPECT_NE(log_.Take().find("DynamicSequence::LockPlaylist: playing id " + std::to_string(held) +
                             ": another thread holds the playlist"),
            std::string::npos);
}

TEST_F(PassBesideAHeldPlaylist, TheSequenceWaitsAndTheUnlockWakesIt) {
  const uint32_t id = Open();
  Fill(id, {{101, 0}});
  ASSERT_EQ(Seq::Play(id), SN_Success);
  EXPECT_TRUE(PassWhileHeld(id));
  EXPECT_TRUE(playback_.plays.empty());
  Frames(1);  // the unlock's wake-up
  EXPECT_EQ(playback_.plays, (std::vector<RecordingPlayback::Play>{{101, 0, 0}}));
}

TEST_F(DynamicSequenceTest, MotionDevicesAndBusCallbacks) {
  SoundTest::FakeOutputs motion;
  OutputServices() = &motion;
  int device = 0;
  EXPECT_EQ(MotionEngine::AddPlayerMotionDevice(4, 1, 2), SN_Failure);
  EXPECT_EQ(MotionEngine::AddPlayerMotionDevice(3, 1, 2, &device), SN_Success);
  MotionEngine::RemovePlayerMotionDevice(4, 1, 2);
  MotionEngine::RemovePlayerMotionDevice(3, 1, 2);
  MotionEngine::SetPlayerListener(2, 1);
  MotionEngine::SetPlayerVolume(1, -3.0f);
  Frames(1);
  OutputServices() = nullptr;
  EXPECT_EQ(motion.log.lines, (std::vector<std::string>{"AddMotion 3 1 2", "RemoveMotion 3", "PlayerListener 2 1",
                                                        "PlayerVolume 1 -3.000000"}));
  EXPECT_EQ(SoundEngine::RegisterBusVolumeCallback(7, [](void*) {}), SN_Success);
  EXPECT_TRUE(CSnBusCallbackMgr::Get().HasVolumeCallback(7));
  SoundEngine::Term();
  EXPECT_FALSE(CSnBusCallbackMgr::Get().HasVolumeCallback(7));
  EXPECT_EQ(SoundEngine::RegisterBusVolumeCallback(7, [](void*) {}), SN_Failure);
  EXPECT_EQ(SoundEngine::RegisterBusMeteringCallback(7, nullptr, 1), SN_Failure);
  EXPECT_EQ(MotionEngine::AddPlayerMotionDevice(0, 1, 2), SN_Failure);
  nodes_.clear();
}

}  // namespace
