// The profiler's timers: lookup by name hash, begin/stop/pause accounting and the frame report.
#include "Base/DebugTimer.h"

#include <algorithm>
#include <cstring>

#include "Base/Handle.h"
#include "Base/Log.h"
#include "Base/Reflection/Registration.h"
#include "Platform/Clock.h"

namespace Base {
namespace {

constexpr uint32_t kNameBlobSize = 512;
constexpr int64_t kTicksPerMicrosecond = 10;
constexpr int64_t kTicksPerMillisecond = 10000;

// Scripts can hand over nil; that names no timer.
bool HasName(const char* name) {
  if (name) return true;
  BASE_LOG(Error, "Debug timer called without a name");
  return false;
}

}  // namespace

DebugTimer& DebugTimer::GetInstance() {
  static DebugTimer instance;
  return instance;
}

DebugTimer::DebugTimer() : m_creationTime(Platform::TicksNow()), m_names(kNameBlobSize) {}

DebugTimer::Timer* DebugTimer::Find(const char* name, uint32_t hash) {
  auto [first, last] = m_timers.equal_range(hash);
  for (auto it = first; it != last; ++it)
    if (std::strcmp(it->second.name, name) == 0) return &it->second;
  return nullptr;
}

DebugTimer::Timer* DebugTimer::FindExisting(const char* name) {
  return HasName(name) ? Find(name, HashName(name)) : nullptr;
}

DebugTimer::Timer* DebugTimer::FindOrCreate(const char* name) {
  if (!HasName(name)) return nullptr;
  const uint32_t hash = HashName(name);
  if (Timer* timer = Find(name, hash)) return timer;

  BASE_LOG(Info, "Creating new debug timer %s", name);
  const size_t bytes = std::strlen(name) + 1;
  char* copy = static_cast<char*>(m_names.Allocate(static_cast<uint32_t>(bytes), 1));
  if (!copy) return nullptr;  // the allocator has said why
  std::memcpy(copy, name, bytes);

  // A new timer has not begun in this frame, so it stays out of the frame report until it does.
  Timer timer{};
  timer.ordering = -1;
  timer.name = copy;
  return &m_timers.emplace(hash, timer)->second;
}

void DebugTimer::LeaveChain(Timer& timer) {
  // Timers may close out of order; the chain must keep naming only the running ones, or a
  // later hand-over would close a timer that already stopped.
  auto it = std::find(m_chain.rbegin(), m_chain.rend(), &timer);
  if (it != m_chain.rend()) m_chain.erase(std::next(it).base());
}

void DebugTimer::Begin(Timer& timer, int64_t now) {
  ++m_level;
  if (!timer.paused) {
    timer.accumulated = 0;
    timer.ordering = static_cast<int32_t>(m_ordering++);
    timer.level = m_level;
  }
  timer.running = true;
  timer.paused = false;
  timer.beginTime = now;
  m_chain.push_back(&timer);
}

void DebugTimer::Stop(Timer& timer, int64_t now) {
  timer.running = false;
  if (timer.paused) {
    timer.endTime = now;
    timer.duration = timer.accumulated;
  } else {
    // Stopping at an earlier instant (the last stop) must not make a negative duration.
    now = std::max(now, timer.beginTime);
    timer.endTime = now;
    --m_level;
    LeaveChain(timer);
    timer.duration = timer.endTime - timer.beginTime + std::max<int64_t>(timer.accumulated, 0);
  }
  timer.paused = false;
  m_lastStopTime = now;
}

void DebugTimer::Pause(Timer& timer, int64_t now) {
  --m_level;
  timer.running = false;
  timer.paused = true;
  m_lastStopTime = now;
  LeaveChain(timer);
  timer.accumulated += now - timer.beginTime;
}

DebugTimer::Timer* DebugTimer::FindStartable(const char* name) {
  Timer* timer = FindOrCreate(name);
  if (timer && timer->running) {
    BASE_LOG(Error, "Attempted to start a debug timer that is already running: %s", name);
    return nullptr;
  }
  return timer;
}

void DebugTimer::StartTimer(const char* name) {
  Timer* timer = FindStartable(name);
  if (!timer) return;
  Begin(*timer, Platform::TicksNow());
}

void DebugTimer::StopTimer(const char* name) {
  Timer* timer = FindExisting(name);
  if (timer && (timer->running || timer->paused)) Stop(*timer, Platform::TicksNow());
}

void DebugTimer::StopTimerAtLastStop(const char* name) {
  Timer* timer = FindExisting(name);
  if (timer && (timer->running || timer->paused)) Stop(*timer, m_lastStopTime);
}

void DebugTimer::ChainTimer(const char* name, bool pausePrevious) {
  if (m_chain.empty()) {
    StartTimer(name);
    return;
  }
  Timer* timer = FindStartable(name);
  if (!timer) return;
  const int64_t now = Platform::TicksNow();
  Timer& previous = *m_chain.back();
  if (pausePrevious)
    Pause(previous, now);
  else
    Stop(previous, now);
  Begin(*timer, now);
}

void DebugTimer::PauseTimer(const char* name) {
  Timer* timer = FindOrCreate(name);
  if (!timer) return;
  if (!timer->running) {
    BASE_LOG(Error, "Attempted to pause a debug timer that isn't running: %s", name);
    return;
  }
  Pause(*timer, Platform::TicksNow());
}

void DebugTimer::ResetTimer(const char* name) {
  Timer* timer = FindOrCreate(name);
  if (!timer) return;
  // A running timer leaves the nesting too, or every later timer would report one level deeper.
  if (timer->running) {
    --m_level;
    LeaveChain(*timer);
  }
  timer->running = false;
  timer->paused = false;
}

std::vector<DebugTimerData> DebugTimer::GetTimers() {
  std::vector<DebugTimerData> report;
  for (const auto& [hash, timer] : m_timers) {
    if (timer.ordering == -1) continue;
    DebugTimerData data;
    data.Name = timer.name;
    data.StartTime = static_cast<uint32_t>(timer.beginTime - m_creationTime);
    data.EndTime = static_cast<uint32_t>(timer.endTime - m_creationTime);
    data.Duration = static_cast<uint32_t>(timer.duration / kTicksPerMicrosecond);
    data.Ordering = timer.ordering;
    data.Level = timer.level;
    report.push_back(std::move(data));
  }
  std::sort(report.begin(), report.end(),
            [](const DebugTimerData& a, const DebugTimerData& b) { return a.Ordering < b.Ordering; });
  return report;
}

unsigned DebugTimer::GetTimerTime(const char* name) {
  Timer* timer = FindOrCreate(name);
  if (!timer) return 0;
  return static_cast<unsigned>((Platform::TicksNow() - timer->beginTime) / kTicksPerMillisecond);
}

unsigned DebugTimer::GetTimerDuration(const char* name) {
  Timer* timer = FindOrCreate(name);
  if (!timer) return 0;
  return static_cast<unsigned>(timer->duration / kTicksPerMillisecond);
}

bool DebugTimer::IsTimerRunning(const char* name) {
  Timer* timer = FindExisting(name);
  if (timer) return timer->running;
  if (name) BASE_LOG(Error, "Tried to check if invalid timer %s is running.", name);
  return false;
}

bool DebugTimer::IsTimerPaused(const char* name) {
  Timer* timer = FindExisting(name);
  if (timer) return timer->paused;
  if (name) BASE_LOG(Error, "Tried to check if invalid timer %s is paused.", name);
  return false;
}

void DebugTimer::NewFrame() {
  m_ordering = 0;
  for (auto& [hash, timer] : m_timers) timer.ordering = -1;
}

}  // namespace Base

// Scripts reach the profiler as "debugtime" and read its frame report as a list of records.
ORV_REFLECT_CLASS(Base::DebugTimer) {
  ORV_METHOD(StartTimer);
  ORV_METHOD(StopTimer);
  ORV_METHOD(ChainTimer);
  ORV_METHOD(PauseTimer);
  ORV_METHOD(ResetTimer);
  ORV_METHOD(GetTimers);
  ORV_METHOD(GetTimerTime);
  ORV_METHOD(GetTimerDuration);
  ORV_METHOD(IsTimerRunning);
  ORV_METHOD(IsTimerPaused);
}

ORV_REFLECT_TYPE(Base::DebugTimerData, false) {
  ORV_FIELD(Name);
  ORV_FIELD(StartTime);
  ORV_FIELD(EndTime);
  ORV_FIELD(Duration);
  ORV_FIELD(Ordering);
  ORV_FIELD(Level);
}

ORV_ON_LOAD {
  using Report = std::vector<Base::DebugTimerData>;
  Base::Reflection::RegisterType<Report>("std::vector<Base::DebugTimerData>", false);
  Base::Reflection::RegisterPointerType<Report>("std::vector<Base::DebugTimerData>*");
}
