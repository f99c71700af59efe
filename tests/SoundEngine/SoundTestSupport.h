// Test helpers of the sound engine: counting memory hooks, a stream-manager double, a recording
// voice-pipeline back end, fake actions, and a fixture that puts every global back as it found it.
#pragma once

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/Clock.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayingIdCounts.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/SoundEngine.h"
#include "StreamMgr/ISnStreamMgr.h"
#include "tests/Support/LogCapture.h"

namespace SoundTest {

struct HookCounts {
  std::atomic<int> allocs{0}, frees{0}, virtualAllocs{0}, virtualFrees{0};
  std::atomic<bool> failAllocs{false};
};
inline HookCounts& Counts() {
  static HookCounts counts;
  return counts;
}
inline SN::SnMemoryHooks CountingHooks() {
  SN::SnMemoryHooks hooks;
  hooks.alloc = [](size_t bytes) -> void* {
    if (Counts().failAllocs) return nullptr;
    ++Counts().allocs;
    return malloc(bytes);
  };
  hooks.free = [](void* pointer) {
    ++Counts().frees;
    free(pointer);
  };
  hooks.virtualAlloc = [](size_t bytes) {
    ++Counts().virtualAllocs;
    return Platform::VirtualAllocate(bytes);
  };
  hooks.virtualFree = [](void* pointer, size_t bytes) {
    ++Counts().virtualFrees;
    Platform::VirtualRelease(pointer, bytes);
  };
  return hooks;
}

// Installs the counting hooks and a memory manager of 20 pools for the helper's lifetime.
class MemoryScope {
 public:
  explicit MemoryScope(bool init = true) : previous_(SN::GetMemoryHooks()) {
    Counts().allocs = Counts().frees = Counts().virtualAllocs = Counts().virtualFrees = 0;
    Counts().failAllocs = false;
    SN::SetMemoryHooks(CountingHooks());
    if (init) {
      SN::SnMemSettings settings{20};
      EXPECT_EQ(SN::MemoryMgr::Init(&settings), SN::SN_Success);
    }
  }
  ~MemoryScope() {
    SN::MemoryMgr::Term();
    SN::SetMemoryHooks(previous_);
  }

 private:
  SN::SnMemoryHooks previous_;
};

class FakeStreamMgr : public SN::ISnStreamMgr {};

// The voice pipeline's side as a recorder: counts every call and answers what the test sets.
class FakeLowerEngine : public SN::ISnLowerEngine {
 public:
  std::atomic<SN::SNRESULT> initResult{SN::SN_Success};
  std::atomic<uint32_t> framesPerPass{1};
  std::atomic<uint32_t> waitMs{Platform::kWaitForever};
  std::atomic<int> inits{0}, terms{0}, frames{0}, passes{0}, sinkBegins{0}, destroyPipelines{0}, sideEffects{0};
  std::atomic<int> enterSuspended{0};
  // Runs in each frame the fake renders (counted from 1), on the pass's thread under the audio lock;
  // set and cleared only while no pass runs.
  std::function<void(int frame)> onPerform;
  std::mutex stateLock;
  SN::SnSuspendState suspend;

  SN::SNRESULT InitVoiceManager() override {
    ++inits;
    SN::LowerEngine::SetSampleRate(48000);
    SN::LowerEngine::SetSamplesPerFrame(SN::SoundEngine::Settings().samplesPerFrame);
    return initResult;
  }
  void TermVoiceManager() override { ++terms; }
  void UpdateLimiters() override {}
  void ProcessQueuedInstanceCommands() override {}
  uint32_t CheckOutputDevices() override {
    ++passes;
    return framesPerPass;
  }
  SN::SnSuspendState SuspendState() override {
    std::lock_guard<std::mutex> lock(stateLock);
    return suspend;
  }
  SN::SNRESULT Suspend(bool render) override {
    std::lock_guard<std::mutex> lock(stateLock);
    suspend.suspended = true;
    suspend.renderWhileSuspended = render;
    return SN::SN_Success;
  }
  SN::SNRESULT WakeupFromSuspend() override {
    std::lock_guard<std::mutex> lock(stateLock);
    suspend.suspended = false;
    return SN::SN_Success;
  }
  SN::SNRESULT EnterSuspendedMode(bool render) override {
    ++enterSuspended;
    std::lock_guard<std::mutex> lock(stateLock);
    suspend.renderWhileSuspended = render;
    suspend.suspendedModeActive = true;
    return SN::SN_Success;
  }
  void ApplyMessageSideEffects() override { ++sideEffects; }
  bool WantsDeferredDeviceWork() override { return false; }
  void DoDeferredDeviceWork() override {}
  void PrepareFrame() override {}
  void Perform() override {
    const int frame = ++frames;
    if (onPerform) onPerform(frame);
  }
  void RenderAfterPass() override {}
  void BeginOutputSinks() override { ++sinkBegins; }
  const void* MainOutputDevice() override { return this; }
  uint32_t MainOutputWaitMs() override { return waitMs; }
  void TermMotionEngine() override {}
  void DestroyAllVoicePipelines() override { ++destroyPipelines; }
};

class FakeCounts : public SN::ISnPlayingIdPendingCounts {
 public:
  std::map<uint32_t, int> pending;
  std::vector<uint32_t> ended;
  void AddPendingAction(uint32_t id) override { ++pending[id]; }
  void RemovePendingAction(uint32_t id) override {
    if (--pending[id] == 0) ended.push_back(id);
  }
};

// An action that records when it runs.
class FakeAction : public SN::CSnEventAction {
 public:
  FakeAction(uint32_t id, uint16_t type, uint32_t delay, std::vector<uint32_t>* log)
      : CSnEventAction(id, type), delay_(delay), log_(log) {}
  SN::SNRESULT Execute(SN::CSnPendingActionItem& record) override {
    log_->push_back(ID());
    lastOffset = record.sampleOffset;
    executedAtFrame = SN::g_pAudioMgr->CurrentFrame();
    return SN::SN_Success;
  }
  uint32_t DelaySamples() override { return delay_; }
  void NotifyPendingEnded(const SN::CSnPendingActionItem&) override { ++endedWithoutRunning; }
  uint32_t lastOffset = 0;
  uint32_t executedAtFrame = 0;
  int endedWithoutRunning = 0;

 private:
  uint32_t delay_;
  std::vector<uint32_t>* log_;
};

// A clock that moves only when the test says so.
struct ManualClock {
  static std::atomic<int64_t>& Ticks() {
    static std::atomic<int64_t> ticks{0};
    return ticks;
  }
  static int64_t Now() { return Ticks().load(); }
  static void AdvanceMs(int64_t ms) { Ticks() += ms * (Platform::kTicksPerSecond / 1000); }
};

// Memory, a stream manager and the recording back end, all removed again after the test.
class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SN::ISnStreamMgr::m_pStreamMgr = &streamMgr_;
    SN::LowerEngine::Install(&lower_);
    SN::SoundEngine::GetDefaultInitSettings(settings_);
  }
  void TearDown() override {
    SN::SoundEngine::Term();
    SN::LowerEngine::Install(nullptr);
    SN::ISnStreamMgr::m_pStreamMgr = nullptr;
    SN::g_pPlayingIdPendingCounts = nullptr;
    Platform::SetTickSource(nullptr);
    SN::LowerEngine::SetSampleRate(48000);
    SN::LowerEngine::SetSamplesPerFrame(1024);
  }
  // Synchronous: RenderAudio runs the pass on the test's thread.
  void InitSynchronous(uint32_t ringBytes = 262144) {
    settings_.useAudioThread = 0;
    settings_.commandQueueBytes = ringBytes;
    ASSERT_EQ(SN::SoundEngine::Init(&settings_, nullptr), SN::SN_Success);
  }

  OrvTest::LogCapture log_;
  MemoryScope memory_;
  FakeStreamMgr streamMgr_;
  FakeLowerEngine lower_;
  SN::SnInitSettings settings_{};
};

}  // namespace SoundTest
