// The audio thread "SN::EventManager": waits on the audio manager's wake event, paced by the main
// output's wait time, and runs the audio manager's pass.
#pragma once

#include <atomic>
#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"

namespace SN {

class CSnAudioMgr;

class AudioThread {
 public:
  // Without `useThread` only the output sinks begin, on the calling thread. 2 when no thread. With
  // it, returns once the new thread has begun the output sinks (a failure when it has not within
  // kBeginOutputsWaitMs: the thread is stopped).
  SNRESULT Start(CSnAudioMgr* owner, Platform::Event* wakeEvent, bool useThread);
  // Signals the thread and waits for it to end.
  void Stop();
  void Wake();
  bool IsRunning() const { return m_pThread != nullptr; }

  // The id of the running audio thread (0 when none).
  static uint64_t ThreadId();

 private:
  static uint32_t Main(void* context);

  // How long Start waits for a new thread to have started the outputs before it gives up on it.
  static constexpr uint32_t kBeginOutputsWaitMs = 10000;

  CSnAudioMgr* m_pOwner = nullptr;
  Platform::Event* m_pWakeEvent = nullptr;
  std::atomic<bool> m_stop{false};
  Platform::Thread* m_pThread = nullptr;
  // Set by the thread once the outputs have begun.
  Platform::Event m_outputsBegun{Platform::Event::Reset::Manual};
};

}  // namespace SN
