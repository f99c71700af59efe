// Continuous performances rendered frame by frame: sounds loaded from a bank the bank writer made, a
// sequence level that hands out its children with a loop count, a crossfade's timing at the near-end,
// a dynamic sequence's items ending one by one with their callbacks, and nestings deeper than the
// positions kept.
#include <gtest/gtest.h>

#include <mutex>
#include <utility>

#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/Hierarchy/SoundNode.h"
#include "SoundEngine/Lower/Voices/ContinuousPlayback.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/SoundEngineSequenceApi.h"
#include "tests/SoundOutput/OutputTestSupport.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundBank/HierarchyWriter.h"

namespace {

using namespace SN;
namespace Seq = SN::SoundEngine::DynamicSequence;

constexpr uint32_t kFrames = 256;
constexpr uint32_t kToneLength = 600;  // samples: each tone ends inside its third frame
constexpr uint32_t kPlayingId = 31;

// The passes rendered so far, sounding or silent.
size_t Pass() { return OutputTest::SinkLog().frames.size() + size_t(OutputTest::SinkLog().silentFrames); }
// Sample t of the tone of sound `node`: a level of its own and a slope that tells the samples apart.
double ToneSample(uint32_t node, uint32_t t) { return 0.25 * double(node - 200) + 1e-4 * double(t); }

// A tone per sound: mono, kToneLength samples of ToneSample; which sound's source was made, and in
// which pass.
class ToneSources final : public ISnVoiceSourceFactory {
 public:
  struct Made {
    uint32_t node;
    size_t pass;
    bool operator==(const Made&) const = default;
  };
  class Tone final : public ISnVoiceSource {
   public:
    Tone(uint32_t node, int notReady) : m_node(node), m_notReady(notReady) {}
    // Not ready for its first `notReady` preparations, as a stream whose data is on its way.
    SNRESULT Prepare() override { return m_notReady-- > 0 ? SN_NotReadyYet : SN_Success; }
    SnChannelConfig Format() const override { return StandardConfig(kSpeakerCenter); }
    SNRESULT GetBuffer(SnMixBuffer& buffer, uint32_t frames) override {
      m_samples.assign(frames, 0.0f);
      const uint32_t n = std::min(frames, kToneLength - m_position);
      for (uint32_t t = 0; t < n; ++t) m_samples[t] = float(ToneSample(m_node, m_position + t));
      m_position += n;
      buffer.samples = m_samples.data();
      buffer.channelConfig = Format();
      buffer.maxFrames = uint16_t(frames);
      buffer.validFrames = uint16_t(n);
      return SNRESULT(m_position >= kToneLength ? SnVoice_DataReadyFinished : SnVoice_DataReady);
    }
    void ReleaseBuffer() override {}
    void StopLooping() override {}
    void Seek(uint32_t, bool, bool) override {}
    SNRESULT SkipFrames(uint32_t frames) override {
      m_position = std::min(kToneLength, m_position + frames);
      return SNRESULT(m_position >= kToneLength ? SnVoice_DataReadyFinished : SnVoice_DataReady);
    }
    void SetPaused(bool) override {}
    int64_t FramesLeft() const override { return int64_t(kToneLength) - m_position; }
    void Destroy() override { delete this; }

   private:
    uint32_t m_node;
    int m_notReady;
    uint32_t m_position = 0;
    std::vector<float> m_samples;
  };
  ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance& instance, uint32_t) override {
    const uint32_t node = instance.Node() ? instance.Node()->ID() : 0u;
    made.push_back({node, Pass()});
    return new Tone(node, node == lateNode ? lateFor : 0);
  }
  std::vector<Made> made;
  uint32_t lateNode = 0;  // the sound whose source is not ready for its first `lateFor` preparations
  int lateFor = 0;
};

// A sequence level over its children: each loop plays them in order, then the level is done.
class TestSequence final : public CSnPropertyNode, public ISnContinuousContainer {
 public:
  TestSequence(uint32_t id, std::vector<uint32_t> children, uint16_t loops, SnContinuousTransitionMode mode,
               float durationMs)
      : CSnPropertyNode(id, false), m_children(std::move(children)), m_loops(loops), m_mode(mode), m_duration(durationMs) {}
  uint32_t NodeCategory() const override { return Category_RandomSequence; }
  SNRESULT PlayNode(CSnPlayParams&) override { return SN_Failure; }
  void ExecuteAction(const SnActionParams&) override {}
  void DeliverParameterChange(const SnParamChange&) override {}

  CSnHierarchyNode* NextContinuousChild(CSnRegisteredObj*, CSnContinuousPlaylistItem&, uint16_t& position) override {
    if (m_played >= m_children.size() * m_loops) return nullptr;
    position = uint16_t(m_played % m_children.size());
    ++m_played;
    return static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(m_children[position], false));
  }
  SnContinuousTransitionMode ContinuousTransitionMode() const override { return m_mode; }
  float ContinuousTransitionDuration(CSnRegisteredObj*) override { return m_duration; }

 private:
  std::vector<uint32_t> m_children;
  size_t m_played = 0;
  uint16_t m_loops;
  SnContinuousTransitionMode m_mode;
  float m_duration;
};

// A switch or layer level of a performance: one use, whose nested play-list goes on when it is taken.
class TestNestingLevel final : public CSnPropertyNode, public ISnPlaylistUseOwner {
 public:
  TestNestingLevel(uint32_t id, CSnContinuousPlaylist* nested) : CSnPropertyNode(id, false), m_nested(nested) {}
  ~TestNestingLevel() override {
    if (m_nested) m_nested->Release();
  }
  uint32_t NodeCategory() const override { return Category_Switch; }
  SNRESULT PlayNode(CSnPlayParams&) override { return SN_Failure; }
  void ExecuteAction(const SnActionParams&) override {}
  void DeliverParameterChange(const SnParamChange&) override {}

  CSnContinuousPlaylist* TakePlaylistUse(CSnContinuousPlaylist*, uint32_t key) override {
    taken.push_back(key);
    return std::exchange(m_nested, nullptr);
  }
  const CSnContinuousPlaylist* NestedPlaylist(const CSnContinuousPlaylist*, uint32_t) const override { return m_nested; }
  std::vector<uint32_t> taken;

 private:
  CSnContinuousPlaylist* m_nested;
};

struct ItemCallbacks {
  std::mutex mutex;
  std::vector<std::pair<uint32_t, size_t>> ended;  // audio node, pass
  static void Record(uint32_t type, SnCallbackInfo* info) {
    if (type != SnCallback_EndOfDynamicSequenceItem) return;
    auto* self = static_cast<ItemCallbacks*>(info->cookie);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->ended.push_back({static_cast<SnDynamicSequenceItemCallbackInfo*>(info)->audioNodeId, Pass()});
  }
};

class ContinuousPlaybackTest : public OutputTest::OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    VoiceSourceFactory() = &sources_;
    settings_.samplesPerFrame = kFrames;
    InitWithMemorySink();
    Tools::BankDescription bank;
    bank.bankId = 4100;
    for (uint32_t id : {201u, 202u, 203u}) {
      Tools::BankSource source;
      source.sourceId = id + 1000;
      source.sizeOrFileId = 64;
      bank.objects.push_back({Tools::kBankSoundType, Tools::SoundPayload(id, source, {}, false)});
    }
    bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    image_ = Tools::WriteBank(bank);
    ASSERT_EQ(g_pBankManager->LoadBankImageWait(image_.data(), uint32_t(image_.size()), true, -1, &bankId_), SN_Success);
  }
  void TearDown() override {
    if (bankId_) g_pBankManager->UnloadBankWait(bankId_, nullptr);
    OutputFixture::TearDown();
    VoiceSourceFactory() = nullptr;
  }
  // What a continuous container does to begin: a play-list of its level, its first child played with
  // a continuous creator.
  void Begin(TestSequence* container, uint32_t depth = 1, uint32_t mask = 1) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnContinuousPlaylist* playlist = CSnContinuousPlaylist::Create();
    ASSERT_NE(playlist, nullptr);
    CSnContinuousPlaylistItem level;
    level.Init();
    level.node = container;
    ASSERT_EQ(playlist->Push(level), SN_Success);
    SnContinuousParams continuous;
    continuous.playlist = playlist;
    continuous.container = container;
    continuous.position.depth = depth;
    continuous.position.sequenceMask = mask;
    uint16_t position = 0;
    CSnHierarchyNode* first = container->NextContinuousChild(nullptr, playlist->At(0), position);
    ASSERT_NE(first, nullptr);
    continuous.position.Store(depth, position);
    CSnContinuousInstanceCreator creator(continuous);
    CSnPlayParams params;
    params.playingId = kPlayingId;
    params.continuousPlaylist = playlist;
    params.instanceCreator = &creator;
    EXPECT_EQ(static_cast<CSnPropertyNode*>(first)->Play(params), SN_Success);
    first->Release();
    playlist->Release();
  }
  // A performance whose level is nested in a switch or layer level (`level`, use key kNestedKey):
  // sound 201 plays as that level's item, and `inner` goes on below it once the level is taken.
  static constexpr uint32_t kNestedKey = 7;
  TestNestingLevel* BeginNested(TestSequence* inner) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnContinuousPlaylist* nested = CSnContinuousPlaylist::Create();
    CSnContinuousPlaylist* outer = CSnContinuousPlaylist::Create();
    EXPECT_TRUE(nested && outer);
    if (!nested || !outer) return nullptr;
    CSnContinuousPlaylistItem level;
    level.Init();
    level.node = inner;
    EXPECT_EQ(nested->Push(level), SN_Success);
    auto* nesting = PoolNew<TestNestingLevel>(g_DefaultPoolId, 950, nested);
    level.node = nesting;
    level.owningContainer = nesting;
    level.useKey = kNestedKey;
    EXPECT_EQ(outer->Push(level), SN_Success);
    SnContinuousParams continuous;
    continuous.playlist = outer;
    continuous.container = nesting;
    continuous.position.depth = 1;
    continuous.position.sequenceMask = 1;
    CSnContinuousInstanceCreator creator(continuous);
    CSnPlayParams params;
    params.playingId = kPlayingId;
    params.continuousPlaylist = outer;
    params.instanceCreator = &creator;
    auto* first = static_cast<CSnPropertyNode*>(g_pObjectIndex->FindNodeAndAddRef(201, false));
    EXPECT_EQ(first->Play(params), SN_Success);
    first->Release();
    outer->Release();
    return nesting;
  }
  // Renders until nothing plays or is pending, at most `limit` passes.
  void RenderUntilQuiet(size_t limit = 100) {
    for (size_t i = 0; i < limit; ++i) {
      Render();
      if (VoiceManager::ActiveInstanceCount() == 0 && Pending() == 0) return;
    }
    ADD_FAILURE() << "still playing after " << limit << " passes";
  }
  static uint32_t Pending() { return g_pAudioMgr->DuePendingCount() + g_pAudioMgr->PausedPendingCount(); }
  CSnContinuousPlaybackInstance* Playing() {
    return dynamic_cast<CSnContinuousPlaybackInstance*>(VoiceManager::FirstActiveInstance());
  }
  // Channel 0 of everything the sink received.
  static std::vector<double> Captured() {
    std::vector<double> samples;
    for (const std::vector<float>& frame : OutputTest::SinkLog().frames)
      for (size_t i = 0; i < frame.size(); i += 2) samples.push_back(frame[i]);
    return samples;
  }
  // The capture is `nodes`' tones back to back from its first sample, then silence: sample N of the
  // k-th tone at output sample k x length + N. The panning's gain comes from the first sample.
  static void ExpectTonesBackToBack(const std::vector<uint32_t>& nodes) {
    const std::vector<double> captured = Captured();
    ASSERT_GE(captured.size(), nodes.size() * kToneLength);
    const double gain = captured[0] / ToneSample(nodes[0], 0);
    ASSERT_GT(gain, 0.1);
    for (size_t k = 0; k < nodes.size(); ++k)
      for (uint32_t n = 0; n < kToneLength; ++n)
        ASSERT_NEAR(captured[k * kToneLength + n], gain * ToneSample(nodes[k], n), 1e-6) << "tone " << k << " sample " << n;
    for (size_t i = nodes.size() * kToneLength; i < captured.size(); ++i) ASSERT_EQ(captured[i], 0.0) << i;
  }
  std::vector<uint32_t> MadeNodes() const {
    std::vector<uint32_t> nodes;
    for (const ToneSources::Made& made : sources_.made) nodes.push_back(made.node);
    return nodes;
  }

  ToneSources sources_;
  std::vector<uint8_t> image_;
  uint32_t bankId_ = 0;
};

TEST_F(ContinuousPlaybackTest, ALoopCountOfTwoPlaysTheThreeItemsTwiceEachAfterTheOneBefore) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 900, std::vector<uint32_t>{201, 202, 203}, 2,
                                         SnContinuous_None, 0.0f);
  Begin(sequence);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnContinuousPlaybackInstance* first = Playing();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Position().depth, 1u);
    EXPECT_EQ(first->Playlist()->Count(), 1u);
  }
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202, 203, 201, 202, 203}));
  // A tone of 600 samples lasts three passes of 256; the next begins in the pass after it ended.
  for (size_t i = 1; i < sources_.made.size(); ++i) EXPECT_EQ(sources_.made[i].pass, sources_.made[i - 1].pass + 3) << i;
  EXPECT_EQ(sequence->RefCount(), 1u);  // the play-list and the instances let it go
  sequence->Release();
}

TEST_F(ContinuousPlaybackTest, ACrossfadeBeginsAtTheNearEndWithAtMostHalfTheTimeLeft) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 901, std::vector<uint32_t>{201, 202}, 1,
                                         SnContinuous_Crossfade, 2000.0f);
  Begin(sequence);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnContinuousPlaybackInstance* first = Playing();
    ASSERT_NE(first, nullptr);
    // 40 ms left is too short to begin a crossfade: nothing is handed on yet.
    first->NotifyNearEnd(40);
    VoiceManager::RunQueuedInstanceCommands();
    EXPECT_EQ(Pending(), 0u);
    EXPECT_NE(first->Playlist(), nullptr);
    // With 1000 ms left a 2000 ms crossfade shrinks to 500 ms and begins 500 ms before the end.
    first->NotifyNearEnd(1000);
    VoiceManager::RunQueuedInstanceCommands();
    EXPECT_EQ(first->Playlist(), nullptr);
    EXPECT_EQ(first->NextNodeId(), 0u);
    ASSERT_EQ(Pending(), 1u);
  }
  // 500 ms at 48 kHz is 24000 samples: 93.75 passes of 256, less the engine's look-ahead of one.
  const uint32_t due = 24000 / kFrames - SoundEngine::Settings().lookAheadFrames;
  for (uint32_t pass = 0; pass + 1 < due; ++pass) Render();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201}));
  EXPECT_EQ(Pending(), 1u);
  Render();
  Render();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202}));
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202}));
  sequence->Release();
}

TEST_F(ContinuousPlaybackTest, ATriggerRateOfZeroStillWaitsOneFrame) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 904, std::vector<uint32_t>{201, 202}, 1,
                                         SnContinuous_TriggerRate, 0.0f);
  Begin(sequence);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    Playing()->NotifyNearEnd(1000);
    VoiceManager::RunQueuedInstanceCommands();
    // One frame is within the engine's look-ahead: the next item is made now, to begin a frame later.
    ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
    CSnPlaybackInstance* second = VoiceManager::FirstActiveInstance()->m_pNextActive;
    EXPECT_EQ(second->Node()->ID(), 202u);
    EXPECT_EQ(second->InitialOffset(), int32_t(kFrames));
  }
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202}));
  sequence->Release();
}

// Nested in a switch or layer level, a sequence at the trigger rate still goes on at the near-end:
// the nested play-list is taken then, and its first item is made at once to begin a frame later.
TEST_F(ContinuousPlaybackTest, ANestedTriggerRateSequenceGoesOnAtTheNearEnd) {
  auto* inner = PoolNew<TestSequence>(g_DefaultPoolId, 905, std::vector<uint32_t>{202, 203}, 1,
                                      SnContinuous_TriggerRate, 0.0f);
  TestNestingLevel* nesting = BeginNested(inner);
  ASSERT_NE(nesting, nullptr);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    Playing()->NotifyNearEnd(1000);
    VoiceManager::RunQueuedInstanceCommands();
    EXPECT_EQ(nesting->taken, (std::vector<uint32_t>{kNestedKey}));
    ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
    CSnPlaybackInstance* second = VoiceManager::FirstActiveInstance()->m_pNextActive;
    EXPECT_EQ(second->Node()->ID(), 202u);
    EXPECT_EQ(second->InitialOffset(), int32_t(kFrames));
  }
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202, 203}));
  EXPECT_EQ(nesting->RefCount(), 1u);
  EXPECT_EQ(inner->RefCount(), 1u);
  nesting->Release();
  inner->Release();
}

TEST_F(ContinuousPlaybackTest, APausedPerformanceHandsOnItsPauseToTheNextItem) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 909, std::vector<uint32_t>{201, 202}, 1,
                                         SnContinuous_TriggerRate, 100.0f);
  Begin(sequence);
  CSnContinuousPlaybackInstance* first = nullptr;
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    first = Playing();
    first->Pause(TransParamsBase{});
    first->NotifyNearEnd(1000);
    VoiceManager::RunQueuedInstanceCommands();
    // The next item waits paused, as its performance is.
    EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 1u);
    EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 0u);
    g_pAudioMgr->ResumePendingActionsOfPlayingId(kPlayingId);
  }
  for (int pass = 0; pass < 40 && VoiceManager::ActiveInstanceCount() < 2; ++pass) Render();
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
    CSnPlaybackInstance* second = VoiceManager::FirstActiveInstance()->m_pNextActive;
    EXPECT_EQ(second->Node()->ID(), 202u);
    EXPECT_EQ(second->PauseCount(), 1u);
    EXPECT_TRUE(second->IsPaused());
    first->Resume(TransParamsBase{}, true);
    second->Resume(TransParamsBase{}, true);
  }
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202}));
  sequence->Release();
}

TEST_F(ContinuousPlaybackTest, ADelayWaitsAfterTheItemEnds) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 905, std::vector<uint32_t>{201, 202}, 1,
                                         SnContinuous_Delay, 100.0f);
  Begin(sequence);
  RenderUntilQuiet();
  ASSERT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202}));
  // 100 ms is 18.75 passes of 256 at 48 kHz, counted from the pass the first item ends in (its
  // third); the engine's look-ahead takes passes off. Without the delay the gap is 3.
  const size_t gap = sources_.made[1].pass - sources_.made[0].pass;
  EXPECT_GE(gap, 2u + 18u - SoundEngine::Settings().lookAheadFrames);
  EXPECT_LE(gap, 2u + 19u);
  sequence->Release();
}

TEST_F(ContinuousPlaybackTest, StopLoopingOutsideTheBranchLeavesThePlaylistWithinItEndsThePerformance) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 906, std::vector<uint32_t>{201, 202, 203}, 1,
                                         SnContinuous_None, 0.0f);
  auto* elsewhere = PoolNew<TestSequence>(g_DefaultPoolId, 907, std::vector<uint32_t>{}, 1, SnContinuous_None, 0.0f);
  Begin(sequence);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnContinuousPlaybackInstance* first = Playing();
    first->StopLoopingUnder(elsewhere);
    ASSERT_NE(first->Playlist(), nullptr);
    EXPECT_EQ(first->Playlist()->Count(), 1u);
    first->StopLoopingUnder(sequence);
    EXPECT_EQ(first->Playlist(), nullptr);
  }
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201}));
  elsewhere->Release();
  sequence->Release();
}

TEST_F(ContinuousPlaybackTest, SeekingInsideACrossfadingSequenceDoesNothing) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 908, std::vector<uint32_t>{201, 202}, 1,
                                         SnContinuous_Crossfade, 100.0f);
  auto* sound = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(201, false));
  ASSERT_NE(sound, nullptr);
  sound->SetParent(sequence);
  Begin(sequence);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnContinuousPlaybackInstance* first = Playing();
    const uint32_t queued = LowerEngine::QueuedVoiceCommandCount();
    first->SeekTime(100, false);
    first->SeekPercent(0.5f, false);
    EXPECT_FALSE(first->SeekPending());
    EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), queued);
    // Out of the sequence the same instance seeks.
    sound->SetParent(nullptr);
    first->SeekTime(100, false);
    EXPECT_TRUE(first->SeekPending());
    EXPECT_EQ(first->SeekTarget(), 4800u);
  }
  sound->Release();
  RenderUntilQuiet();
  sequence->Release();
}

TEST_F(ContinuousPlaybackTest, ADynamicSequencesItemsEndOneByOneWithTheirCallbacks) {
  ASSERT_EQ(SoundEngine::RegisterGameObj(5), SN_Success);
  ItemCallbacks callbacks;
  const uint32_t id = Seq::Open(5, SnCallback_EndOfDynamicSequenceItem, &ItemCallbacks::Record, &callbacks,
                                Seq::DynamicSequenceType_NormalTransition);
  ASSERT_NE(id, 0u);
  Seq::Playlist* playlist = Seq::LockPlaylist(id);
  ASSERT_NE(playlist, nullptr);
  for (uint32_t node : {203u, 999u, 201u, 202u}) ASSERT_TRUE(playlist->Enqueue(node));
  ASSERT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  ASSERT_EQ(Seq::Play(id), SN_Success);
  RenderUntilQuiet();
  // 999 is not loaded: it ends as 203 ends, and 201 follows 203 directly.
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{203, 201, 202}));
  {
    // Released before the next render: the callback takes it under the audio lock.
    std::lock_guard<std::mutex> lock(callbacks.mutex);
    ASSERT_EQ(callbacks.ended.size(), 4u);
    EXPECT_EQ(callbacks.ended[0].first, 203u);
    EXPECT_EQ(callbacks.ended[1].first, 999u);
    EXPECT_EQ(callbacks.ended[2].first, 201u);
    EXPECT_EQ(callbacks.ended[3].first, 202u);
    // Each item ends as its tone of three passes ends, with its successor beginning then: never two
    // items at once, never a pass without one.
    const size_t endOf[] = {callbacks.ended[0].second, callbacks.ended[2].second, callbacks.ended[3].second};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(endOf[i], sources_.made[i].pass + 3) << i;
      if (i > 0) {
        EXPECT_EQ(sources_.made[i].pass, sources_.made[i - 1].pass + 3) << i;
      }
    }
  }
  EXPECT_EQ(Seq::Close(id), SN_Success);
  Render();
}

TEST_F(ContinuousPlaybackTest, ASampleAccurateSequenceJoinsItsTonesWithNoGapOrOverlap) {
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 903, std::vector<uint32_t>{201, 202}, 1,
                                         SnContinuous_SampleAccurate, 0.0f);
  Begin(sequence);
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202}));
  // The second source is made while the first still plays, and both sound through one voice.
  EXPECT_LT(sources_.made[1].pass, 2u);
  ExpectTonesBackToBack({201, 202});
  EXPECT_EQ(sequence->RefCount(), 1u);
  sequence->Release();
}

// The second tone's data is still on its way when the first ends 88 samples into its third pass: that
// pass ends in silence, and the second tone is heard from the first pass it is ready in, through the
// same voice.
TEST_F(ContinuousPlaybackTest, ASampleAccurateItemNotReadyAtTheJoinBeginsOnceItIs) {
  sources_.lateNode = 202;
  sources_.lateFor = 2;
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 910, std::vector<uint32_t>{201, 202}, 1,
                                         SnContinuous_SampleAccurate, 0.0f);
  Begin(sequence);
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{201, 202}));
  const std::vector<double> captured = Captured();
  ASSERT_GE(captured.size(), 3 * kFrames + kToneLength);
  const double gain = captured[0] / ToneSample(201, 0);
  ASSERT_GT(gain, 0.1);
  for (size_t t = 0; t < captured.size(); ++t) {
    const double expected = t < kToneLength                                   ? ToneSample(201, uint32_t(t))
                            : t >= 3 * kFrames && t < 3 * kFrames + kToneLength ? ToneSample(202, uint32_t(t - 3 * kFrames))
                                                                                : 0.0;
    ASSERT_NEAR(captured[t], gain * expected, 1e-6) << t;
  }
  sequence->Release();
}

TEST_F(ContinuousPlaybackTest, ASampleAccurateDynamicSequenceJoinsItsItems) {
  ASSERT_EQ(SoundEngine::RegisterGameObj(5), SN_Success);
  ItemCallbacks callbacks;
  const uint32_t id = Seq::Open(5, SnCallback_EndOfDynamicSequenceItem, &ItemCallbacks::Record, &callbacks);
  Seq::Playlist* playlist = Seq::LockPlaylist(id);
  ASSERT_NE(playlist, nullptr);
  for (uint32_t node : {202u, 203u, 201u}) ASSERT_TRUE(playlist->Enqueue(node));
  ASSERT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  ASSERT_EQ(Seq::Play(id), SN_Success);
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{202, 203, 201}));
  ExpectTonesBackToBack({202, 203, 201});
  {
    std::lock_guard<std::mutex> lock(callbacks.mutex);
    ASSERT_EQ(callbacks.ended.size(), 3u);
    EXPECT_EQ(callbacks.ended[0].first, 202u);
    EXPECT_EQ(callbacks.ended[1].first, 203u);
    EXPECT_EQ(callbacks.ended[2].first, 201u);
  }
  EXPECT_EQ(Seq::Close(id), SN_Success);
  Render();
}

TEST_F(ContinuousPlaybackTest, NestingsDeeperThanThirtyTwoLevelsKeepOnlyTheFirstThirtyTwoPositions) {
  SnSequencePosition position;
  position.depth = 33;
  position.sequenceMask = 0xFFFFFFFFu;
  for (uint32_t level = 1; level <= 33; ++level) position.Store(level, uint16_t(level));
  EXPECT_EQ(position.positions[31], 32u);
  EXPECT_EQ(position.sequenceMask, 0xFFFFFFFFu);  // the word after the positions is untouched
  EXPECT_FALSE(position.IsSequenceLevel(33));

  // A child 33 levels deep plays on at the deepest level kept, and its level is continued there.
  auto* sequence = PoolNew<TestSequence>(g_DefaultPoolId, 902, std::vector<uint32_t>{202, 203}, 1,
                                         SnContinuous_None, 0.0f);
  Begin(sequence, 33, 0xFFFFFFFFu);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    ASSERT_NE(Playing(), nullptr);
    EXPECT_EQ(Playing()->Position().depth, 32u);
  }
  RenderUntilQuiet();
  EXPECT_EQ(MadeNodes(), (std::vector<uint32_t>{202, 203}));
  sequence->Release();
}

}  // namespace
