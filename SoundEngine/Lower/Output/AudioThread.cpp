// The audio thread's loop: run a pass, then sleep until woken or until the main output wants the
// next frame.
#include "SoundEngine/Lower/Output/AudioThread.h"

#include "Platform/AudioOutput.h"
#include "Platform/Clock.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/StartNamedThread.h"

namespace SN {
namespace {

std::atomic<uint64_t> g_audioThreadId{0};

}  // namespace

uint64_t AudioThread::ThreadId() { return g_audioThreadId.load(std::memory_order_relaxed); }

SNRESULT AudioThread::Start(CSnAudioMgr* owner, Platform::Event* wakeEvent, bool useThread) {
  m_pOwner = owner;
  m_pWakeEvent = wakeEvent;
  m_stop = false;
  if (!useThread) {
    LowerEngine::BeginOutputSinks();
    return SN_Success;
  }
  m_outputsBegun.Clear();
  StartNamedThread(&AudioThread::Main, this, LowerEngine::PlatformSettings().audioThread, &m_pThread,
                   "SN::EventManager");
  if (!m_pThread) {
    SOUND_LOG(Error, "The audio thread \"SN::EventManager\" could not be created");
    return SN_Failure;
  }
  // The outputs take their starting point (a clock-driven output reads the clock) on the thread's
  // first steps: the caller returns only after that, so that every move of the clock after Init
  // counts as played time, however late the scheduler first runs the thread.
  if (m_outputsBegun.Wait(kBeginOutputsWaitMs) != Platform::WaitResult::Signalled) {
    SOUND_LOG(Error, "The audio thread \"SN::EventManager\" did not start its outputs within %u ms",
              kBeginOutputsWaitMs);
    Stop();
    return SN_Failure;
  }
  return SN_Success;
}

void AudioThread::Stop() {
  m_stop = true;
  if (!m_pThread) return;
  if (m_pWakeEvent) m_pWakeEvent->Set();
  Platform::JoinThread(m_pThread);
  m_pThread = nullptr;
  g_audioThreadId = 0;
}

void AudioThread::Wake() {
  if (m_pWakeEvent) m_pWakeEvent->Set();
}

uint32_t AudioThread::Main(void* context) {
  AudioThread* self = static_cast<AudioThread*>(context);
  // Never writes the log: its lines go to the game's thread (RenderAudio), or to the next line said
  // on another thread.
  const Base::TraceRepeats::HandOverScope handsOver;
  g_audioThreadId = Platform::CurrentThreadId();
  LowerEngine::SeedRandom(0);
  LowerEngine::BeginOutputSinks();
  self->m_outputsBegun.Set();

  const void* device;
  uint32_t waitMs;
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    device = LowerEngine::MainOutputDevice();
    waitMs = LowerEngine::MainOutputWaitMs();
  }
  // Our events only ever report signalled or timed out: both run a pass.
  do {
    self->m_pOwner->Perform();
    {
      Platform::ReentrantGuard guard(GlobalAudioLock());
      if (LowerEngine::MainOutputDevice() != device) {
        device = LowerEngine::MainOutputDevice();
        waitMs = LowerEngine::MainOutputWaitMs();
      }
    }
    self->m_pWakeEvent->Wait(waitMs);
  } while (!self->m_stop);
  // The platform library keeps per-thread state for the outputs this thread opened and polled.
  Platform::EndAudioOutputThread();
  return 0;
}

}  // namespace SN
