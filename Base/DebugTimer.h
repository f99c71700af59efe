// The profiler: named, nestable, pausable and chainable timers around the stages of a frame.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Base/BlobAllocator.h"

namespace Base {

// One timer as reported for the current frame. Times are 100-ns ticks since the profiler was
// created, cut to 32 bits; the duration is in microseconds.
struct DebugTimerData {
  std::string Name;
  uint32_t StartTime = 0;
  uint32_t EndTime = 0;
  uint32_t Duration = 0;
  int32_t Ordering = 0;
  int32_t Level = 0;

  bool operator==(const DebugTimerData&) const = default;
};

class DebugTimer {
 public:
  static DebugTimer& GetInstance();

  // Tests build their own profilers; the engine and scripts share the one from GetInstance.
  DebugTimer();
  DebugTimer(const DebugTimer&) = delete;
  DebugTimer& operator=(const DebugTimer&) = delete;

  void StartTimer(const char* name);
  void StopTimer(const char* name);
  // Hands over from the innermost running timer to `name` at one instant, pausing or stopping it.
  void ChainTimer(const char* name, bool pausePrevious = false);
  void PauseTimer(const char* name);
  void ResetTimer(const char* name);
  std::vector<DebugTimerData> GetTimers();
  unsigned GetTimerTime(const char* name);
  unsigned GetTimerDuration(const char* name);
  bool IsTimerRunning(const char* name);
  bool IsTimerPaused(const char* name);

  // Opens a new frame: no timer has an ordering until it begins again.
  void NewFrame();
  // Stops `name` at the instant of the previous stop, closing a chain without a gap.
  void StopTimerAtLastStop(const char* name);

 private:
  struct Timer {
    int64_t beginTime;
    int64_t endTime;
    int64_t duration;
    int64_t accumulated;
    int32_t ordering;  // -1: not begun since the last NewFrame
    int32_t level;
    bool running;
    bool paused;
    const char* name;  // lives in m_names
  };

  Timer* Find(const char* name, uint32_t hash);
  Timer* FindOrCreate(const char* name);
  Timer* FindExisting(const char* name);
  // The named timer when it may begin now; a running one is reported and refused.
  Timer* FindStartable(const char* name);
  void Begin(Timer& timer, int64_t now);
  void Stop(Timer& timer, int64_t now);
  void Pause(Timer& timer, int64_t now);
  void LeaveChain(Timer& timer);

  std::vector<Timer*> m_chain;  // running timers, innermost last
  int64_t m_lastStopTime = 0;
  int64_t m_creationTime;
  // Keyed by name hash; names that share a hash are told apart by their text.
  std::unordered_multimap<uint32_t, Timer> m_timers;
  BlobAllocator m_names;
  uint32_t m_ordering = 0;
  int32_t m_level = 0;
};

}  // namespace Base
