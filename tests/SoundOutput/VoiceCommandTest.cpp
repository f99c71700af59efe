// The voice command queue and the lower engine's pipelines, with playback instances and pipelines
// played by recording fakes: groups that begin together, commands that wait for their begin,
// waiting sources counted down, finished pipelines, motion voices, and the group key.
#include "OutputTestSupport.h"

#include <deque>
#include <functional>

#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

std::vector<std::string>& Events() {
  static std::vector<std::string> events;
  return events;
}

class FakeInstance : public ISnVoiceInstance {
 public:
  explicit FakeInstance(std::string name) : name(std::move(name)) {}
  bool IsStoppedWithoutOffset() const override { return stopped; }
  bool IsPaused() const override { return paused; }
  bool IsMotion() const override { return motion; }
  float PitchRatio() const override { return pitch; }
  int32_t InitialOffset() const override { return offset; }
  void SetInitialOffset(int32_t samples) override { offset = samples; }
  void Stop() override {
    Events().push_back("stop " + name);
    if (onStop) onStop();
  }
  ISnVoicePipeline* Pipeline() const override { return pipeline; }
  ISnVoicePipeline* PipelineForSecondSource() const override { return joinable; }

  std::string name;
  bool stopped = false, paused = false, motion = false;
  float pitch = 1.0f;
  int32_t offset = -1;
  ISnVoicePipeline* pipeline = nullptr;
  ISnVoicePipeline* joinable = nullptr;
  bool sourceReady = true;  // what the pipeline's source answers
  std::function<void()> onStop;  // what else ends with it (another voice run out by its ending)
};

class FakePipeline : public ISnVoicePipeline {
 public:
  SNRESULT Init(ISnVoiceInstance* instance, uint32_t outputRate) override {
    first = static_cast<FakeInstance*>(instance);
    first->pipeline = this;
    rate = outputRate;
    return first->sourceReady ? SN_Success : SN_NotReadyYet;
  }
  SNRESULT TryLaunch() override { return first->sourceReady ? SN_Success : SN_NotReadyYet; }
  SNRESULT AddSecondSource(ISnVoiceInstance* instance) override {
    second = static_cast<FakeInstance*>(instance);
    Events().push_back("join " + second->name);
    return SN_JoinedPipeline;
  }
  SNRESULT ConnectBuses() override { return SN_Success; }
  void Begin() override {
    state = Playing;
    Events().push_back("begin " + first->name);
    if (onBegin) onBegin();
  }
  void Pause() override { Events().push_back("pause " + first->name); }
  void Resume() override { Events().push_back("resume " + first->name); }
  void StopLooping(ISnVoiceInstance* instance) override {
    Events().push_back("stoplooping " + static_cast<FakeInstance*>(instance)->name);
  }
  void Seek() override { Events().push_back("seek " + first->name); }
  State GetState() const override { return state; }
  ISnVoiceInstance* FirstSource() const override { return first; }
  ISnVoiceInstance* SecondSource() const override { return second; }
  bool SourceCanDeliver() override { return true; }
  void RunFrame(SnVoiceFrameState& frame) override {
    Events().push_back("run " + first->name + " " + std::to_string(frame.requestedFrames));
    if (finishWhileRunning) state = Finished;
  }
  void EndSource() override {}
  void ReleaseFrameBuffer() override {}
  void EndOfFrame() override {}
  void Destroy() override {
    Events().push_back("destroy " + first->name);
    first->pipeline = nullptr;
    delete this;
  }

  FakeInstance* first = nullptr;
  FakeInstance* second = nullptr;
  State state = Created;
  uint32_t rate = 0;
  bool finishWhileRunning = false;
  std::function<void()> onBegin;
};

class FakeFactory : public ISnVoicePipelineFactory {
 public:
  ISnVoicePipeline* Create() override { return refuse ? nullptr : new FakePipeline; }
  bool refuse = false;
};

class VoiceCommandTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    Events().clear();
    LowerEngine::SetVoicePipelineFactory(&factory_);
    InitWithMemorySink();
  }
  void TearDown() override {
    OutputFixture::TearDown();
    LowerEngine::SetVoicePipelineFactory(nullptr);
  }
  // Queued as one action's voices: all under the current group key.
  void Queue(SnVoiceCommandKind kind, FakeInstance& instance) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    ASSERT_EQ(LowerEngine::QueueVoiceCommand(kind, &instance), SN_Success);
  }
  std::vector<std::string> TakeEvents() {
    std::vector<std::string> taken;
    taken.swap(Events());
    return taken;
  }
  FakePipeline* PipelineOf(FakeInstance& instance) { return static_cast<FakePipeline*>(instance.pipeline); }
  // A voice ends as the engine ends one: its queued commands go.
  static void End(FakeInstance& instance) { LowerEngine::RemoveQueuedVoiceCommands(&instance); }
  // Instances outlive the engine's Term, which destroys what still plays them.
  FakeInstance& Make(const char* name) { return instances_.emplace_back(name); }

  FakeFactory factory_;
  std::deque<FakeInstance> instances_;
};

using Lines = std::vector<std::string>;

TEST_F(VoiceCommandTest, OneActionsVoicesBeginInTheSameFrame) {
  FakeInstance& a = Make("a");
  FakeInstance& b = Make("b");
  b.sourceReady = false;
  Queue(SnVoiceCommand_Begin, a);
  Queue(SnVoiceCommand_Begin, b);
  EXPECT_TRUE(LowerEngine::LaunchPending());
  Render();
  // a's pipeline is ready but waits for b's: nothing begins, nothing runs.
  EXPECT_EQ(TakeEvents(), Lines{});
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  EXPECT_EQ(LowerEngine::WaitingPipelineCount(), 1u);
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 2u);
  Render();
  EXPECT_EQ(TakeEvents(), Lines{});
  b.sourceReady = true;
  Render();
  // Among voices of one priority the newest runs first.
  EXPECT_EQ(TakeEvents(), (Lines{"begin a", "begin b", "run b 1024", "run a 1024"}));
  EXPECT_EQ(LowerEngine::WaitingPipelineCount(), 0u);
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
  EXPECT_EQ(PipelineOf(a)->rate, 48000u);
}

TEST_F(VoiceCommandTest, APauseQueuedBeforeItsBeginRunsAfterIt) {
  FakeInstance& a = Make("a");
  a.sourceReady = false;
  Queue(SnVoiceCommand_Begin, a);
  LowerEngine::IncrementVoiceGroupKey();
  Queue(SnVoiceCommand_Pause, a);
  LowerEngine::IncrementVoiceGroupKey();
  FakeInstance& c = Make("c");
  Queue(SnVoiceCommand_BeginPaused, c);  // a later action's voice is not held back by a's
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"begin c", "pause c", "run c 1024"}));
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 2u);
  a.sourceReady = true;
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"begin a", "pause a", "run a 1024", "run c 1024"}));
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
}

TEST_F(VoiceCommandTest, CommandsFindThePlayingPipelineOrAreDropped) {
  FakeInstance& a = Make("a");
  FakeInstance& second = Make("second");
  FakeInstance& loner = Make("loner");
  Queue(SnVoiceCommand_Begin, a);
  Render();
  TakeEvents();
  // A second source joins a's pipeline; stop-looping finds it as either source.
  second.joinable = a.pipeline;
  LowerEngine::IncrementVoiceGroupKey();
  Queue(SnVoiceCommand_Begin, second);
  Queue(SnVoiceCommand_StopLooping, second);
  Queue(SnVoiceCommand_Seek, a);
  Queue(SnVoiceCommand_Resume, loner);  // no pipeline anywhere: dropped
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"join second", "stoplooping second", "seek a", "run a 1024"}));
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
}

TEST_F(VoiceCommandTest, AFinishedPipelineGoesInItsFrameAndTheNextStillRuns) {
  FakeInstance& a = Make("a");
  FakeInstance& b = Make("b");
  Queue(SnVoiceCommand_Begin, a);
  Queue(SnVoiceCommand_Begin, b);
  Render();
  TakeEvents();
  // b, the newer, runs first.
  PipelineOf(b)->finishWhileRunning = true;
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"run b 1024", "destroy b", "run a 1024"}));
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  SoundEngine::Term();
  EXPECT_EQ(TakeEvents(), (Lines{"destroy a"}));
}

TEST_F(VoiceCommandTest, WaitingSourcesCountDownByPitchUnlessPausedAndStoppedOnesGo) {
  FakeInstance& a = Make("a");
  FakeInstance& b = Make("b");
  FakeInstance& motion = Make("m");
  a.sourceReady = b.sourceReady = false;
  a.offset = 3000;
  a.pitch = 1.5f;  // 1536 samples a frame
  b.offset = 100;
  b.paused = true;
  Queue(SnVoiceCommand_Begin, a);
  LowerEngine::IncrementVoiceGroupKey();
  Queue(SnVoiceCommand_Begin, b);
  LowerEngine::IncrementVoiceGroupKey();
  motion.motion = true;
  Queue(SnVoiceCommand_Begin, motion);
  Render();
  EXPECT_EQ(a.offset, 3000 - 1536);
  EXPECT_EQ(b.offset, 100);
  Render();
  EXPECT_EQ(a.offset, 3000 - 2 * 1536);  // now below 0: it stays there
  Render();
  EXPECT_EQ(a.offset, 3000 - 2 * 1536);
  // A motion voice: 8 samples a frame at 48000 / 1024 x 8 = 375 Hz.
  EXPECT_EQ(PipelineOf(motion)->rate, 375u);
  const Lines events = TakeEvents();
  EXPECT_NE(std::find(events.begin(), events.end(), "run m 8"), events.end());

  b.stopped = true;
  Queue(SnVoiceCommand_Resume, b);
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"destroy b", "run m 8"}));
  EXPECT_EQ(LowerEngine::WaitingPipelineCount(), 1u);
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 1u);  // a's begin waits on
}

TEST_F(VoiceCommandTest, WithoutAPipelineOrWhenStoppedABeginStopsItsInstance) {
  FakeInstance& a = Make("a");
  FakeInstance& b = Make("b");
  factory_.refuse = true;
  Queue(SnVoiceCommand_Begin, a);
  b.stopped = true;
  Queue(SnVoiceCommand_Begin, b);
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"stop a", "stop b"}));
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
}

TEST_F(VoiceCommandTest, EveryProcessedMessageMovesTheGroupKey) {
  const uint32_t before = LowerEngine::VoiceGroupKey();
  ASSERT_EQ(SoundEngine::SetListenerPipeline(1, true, false), SN_Success);
  ASSERT_EQ(SoundEngine::SetListenerPipeline(2, true, false), SN_Success);
  ASSERT_EQ(SoundEngine::SetListenerPipeline(3, true, false), SN_Success);
  Render();
  EXPECT_EQ(LowerEngine::VoiceGroupKey(), before + 3);
}

}  // namespace

namespace {

uint32_t UsedBytes(SnMemPoolId pool) {
  MemoryMgr::PoolMemInfo info;
  EXPECT_EQ(MemoryMgr::GetPoolMemoryUsed(pool, info), SN_Success);
  return info.usedBytes;
}

// A burst of commands past the preallocated ones takes its items from the lower engine's pool once:
// they stay on the free list, and the next burst of the same size takes nothing more.
TEST_F(VoiceCommandTest, ABurstOfCommandsTakesItsItemsFromThePoolOnlyOnce) {
  FakeInstance& loner = Make("loner");
  constexpr uint32_t kBurst = 2000;
  for (uint32_t i = 0; i < kBurst; ++i) Queue(SnVoiceCommand_Resume, loner);
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), kBurst);
  Render();  // no pipeline plays it: every command is dropped
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
  const uint32_t afterFirst = UsedBytes(g_LEngineDefaultPoolId);
  for (uint32_t i = 0; i < kBurst; ++i) Queue(SnVoiceCommand_Resume, loner);
  EXPECT_EQ(UsedBytes(g_LEngineDefaultPoolId), afterFirst);
  Render();
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
  EXPECT_TRUE(TakeEvents().empty());
}

// What a walk over the queue calls may end voices whose commands lie anywhere in it: a stopped voice's
// ending runs out others (as a pipeline's end runs the voices' queued ends), among them the voice of
// the command the walk kept just before, the next one's, and its own. Before the walks were mended
// the kept command went back to the free list and the walk then wrote into it (ASan use-after-poison,
// every run).
TEST_F(VoiceCommandTest, VoicesEndedWhileTheLaunchWalkRunsTakeTheirCommandsWithThem) {
  FakeInstance& kept = Make("kept");
  FakeInstance& stopped = Make("stopped");
  FakeInstance& after = Make("after");
  FakeInstance& last = Make("last");
  Queue(SnVoiceCommand_Begin, kept);
  Queue(SnVoiceCommand_Begin, stopped);
  Queue(SnVoiceCommand_Pause, kept);
  Queue(SnVoiceCommand_Begin, after);
  Queue(SnVoiceCommand_Begin, last);
  stopped.stopped = true;
  stopped.onStop = [&] {
    End(kept);
    End(stopped);
    End(after);
  };
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    LowerEngine::LaunchQueuedVoices();
  }
  EXPECT_EQ(TakeEvents(), Lines{"stop stopped"});
  // The last voice's launch is all that is left, and its commands are counted right; the kept voice
  // ended before its begin ran.
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 1u);
  for (FakeInstance* instance : {&kept, &stopped, &after}) EXPECT_EQ(instance->m_queuedVoiceCommands, 0u);
  EXPECT_EQ(last.m_queuedVoiceCommands, 1u);
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"begin last", "run last 1024"}));
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
}

// The same of the command pass: a begin that ends the voices of the commands on either side of its own.
TEST_F(VoiceCommandTest, VoicesEndedByABeginTakeTheirCommandsWithThem) {
  FakeInstance& a = Make("a");
  FakeInstance& b = Make("b");
  FakeInstance& c = Make("c");
  Queue(SnVoiceCommand_Begin, a);
  Render();
  TakeEvents();
  LowerEngine::IncrementVoiceGroupKey();
  Queue(SnVoiceCommand_Pause, a);
  Queue(SnVoiceCommand_Begin, b);
  Queue(SnVoiceCommand_Resume, a);
  Queue(SnVoiceCommand_Begin, c);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    LowerEngine::LaunchQueuedVoices();
  }
  PipelineOf(b)->onBegin = [&] { End(a); };
  Render();
  EXPECT_EQ(TakeEvents(), (Lines{"pause a", "begin b", "begin c", "run c 1024", "run b 1024", "run a 1024"}));
  EXPECT_EQ(LowerEngine::QueuedVoiceCommandCount(), 0u);
  EXPECT_EQ(a.m_queuedVoiceCommands, 0u);
}

}  // namespace
