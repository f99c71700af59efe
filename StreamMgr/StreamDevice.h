// Stream devices: one I/O thread per device serving its streams, most urgent first, through the
// device's low-level hook; a blocking kind (one transfer at a time) and a deferred kind (transfers
// lined up to a hook that completes them later, a bounded number in flight).
//
// Lock order, everywhere: the device lock, then a stream's lock, then the thread part's lock. The
// thread part's lock guards only counters and events and never takes another lock; nothing waits
// on an event while holding a lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "Platform/Threading.h"
#include "StreamMgr/IOMemory.h"
#include "StreamMgr/StreamLock.h"
#include "StreamMgr/LowLevelIO.h"
#include "StreamMgr/Streams.h"

namespace SN {

// The thread part: the I/O thread, its four manual-reset events and the counters that drive them.
class CSnIOSchedulerThread {
 public:
  virtual ~CSnIOSchedulerThread() = default;
  virtual void PerformIO() = 0;
  // True when both stream lists are empty after destroying what can be destroyed.
  virtual bool CanExit() = 0;
  virtual void OnThreadBegin() = 0;

  void StandardStreamWaiting();
  void StandardStreamDone();
  void AutomaticStreamWaiting();
  void AutomaticStreamDone();
  void HoldBackAutomaticStreams();
  void ReleaseAutomaticStreams();
  void TransferBegun();
  void TransferEnded();
  bool AutomaticStreamsHeldBack();
  uint32_t TransfersInFlight();

 protected:
  SNRESULT CreateThread(int32_t priority, uint32_t affinityMask, uint32_t stackSize);
  void StopThread();
  // Sleeps the thread until memory comes back or a stream changes, at most `ms`.
  void WaitForChange(uint32_t ms);

  Platform::Thread* m_thread = nullptr;
  uint32_t m_maxConcurrentIO = 1;
  StreamLock m_threadLock;
  Platform::Event m_stop{Platform::Event::Reset::Manual, false};
  Platform::Event m_gate{Platform::Event::Reset::Manual, true};
  Platform::Event m_standardWaiting{Platform::Event::Reset::Manual, false};
  Platform::Event m_automaticWaiting{Platform::Event::Reset::Manual, false};
  uint32_t m_standardCount = 0;
  uint32_t m_automaticCount = 0;
  // Read without the lock by the I/O memory on every released block: letting go is a no-op unless
  // something was held back, and the lock is taken only then.
  std::atomic<bool> m_automaticHeldBack{false};
  std::atomic<bool> m_stopping{false};
  // Bumped whenever work may have arrived; the thread watches it briefly before sleeping.
  alignas(64) std::atomic<uint32_t> m_signals{0};
  static constexpr int kSpinsBeforeSleep = 2000;
  uint32_t m_inFlight = 0;

 private:
  static uint32_t ThreadBody(void* device);
  // True when a transfer can be started now without waiting on an event: the thread chains
  // transfers this way instead of going through its events for every block.
  bool ReadyForMore();
};

class CSnStreamDevice : public CSnIOSchedulerThread {
 public:
  explicit CSnStreamDevice(StreamMgr::ISnLowLevelIOHook* hook) : m_hook(hook) {}
  ~CSnStreamDevice() override = default;

  virtual SNRESULT Init(const SnDeviceSettings& settings, uint32_t deviceId);
  // Stops the thread (waiting for every stream to be destroyed) and frees the device.
  virtual void Destroy();

  SNRESULT CreateStandardStream(SnFileDescriptor* descriptor, SnOpenMode mode, CSnStandardStream*& out);
  SNRESULT CreateAutomaticStream(SnFileDescriptor* descriptor, int32_t cacheId, const SnAutoStmHeuristics& heuristics,
                                 const SnAutoStmBufSettings* bufferSettings, CSnAutomaticStream*& out);
  SNRESULT CreateCachingStream(SnFileDescriptor* descriptor, uint32_t fileId, uint32_t pinnedSize, int8_t priority,
                               CSnAutomaticStream*& out);
  // Completes at once a transfer of the stream that the cache holds; true when one was served.
  bool ServeFromCache(CSnAutomaticStream* stream);
  void FlushCache();

  // When the stream pool is full: free destroyed streams, then (priority 0 or more) stop the
  // lowest-priority active stream below `priority`, caching streams first.
  void ReclaimMemory(int8_t priority);

  // The scheduler's choice of the next stream to serve; null when none. Device lock taken here.
  CSnStreamTask* ChooseNextStream(float& deadlineMs);

  StreamMgr::ISnLowLevelIOHook* Hook() const { return m_hook; }
  uint32_t Granularity() const { return m_granularity; }
  float TargetBufferingMs() const { return m_targetBufferingMs; }
  // Any thread: the tick count the I/O thread last scheduled at.
  uint64_t Clock() const { return m_clock.load(std::memory_order_relaxed); }
  uint32_t DeviceId() const { return m_deviceId; }
  uint32_t MaxBlocks() const { return m_maxBlocks; }
  uint32_t PinnedBytesInUse() const { return m_pinnedInUse; }
  uint32_t FreeCacheMemory();
  StreamLock& DeviceLock() { return m_deviceLock; }
  CSnIOMemoryManager& IOMemory() { return m_ioMemory; }
  // Counter ticks per millisecond, the sound engine's.
  static float TicksPerMs();

  // CSnIOSchedulerThread
  bool CanExit() override;
  void OnThreadBegin() override;

 protected:
  // Opens a deferred stream's file on this thread. False when the stream failed.
  bool OpenDeferred(CSnStreamTask* stream);
  // Makes the next transfer of the chosen stream; false when there is none.
  bool PrepareTransfer(CSnStreamTask* stream, SnStreamTransfer& transfer);
  // The hook's result reaches the stream; a failed cached block leaves the cache.
  void FinishTransfer(SnStreamTransfer& transfer, SNRESULT result);
  void LinkStream(CSnStreamTask* stream, bool caching);
  // Unlinks and frees every stream marked for destruction that can go; true when one went.
  bool FreeDestroyedStreams(CSnStreamTask*& list);
  void FreeStream(CSnStreamTask* stream);
  CSnAutomaticStream* ChooseCachingStream();
  // The chosen stream may be freed again once its transfer is made.
  void DoneServing();
  template <typename Stream, typename... Args>
  Stream* NewStream(int8_t priority, Args&&... args);

  StreamMgr::ISnLowLevelIOHook* m_hook;
  // Written by the I/O thread as it schedules, read by streams created or activated on the game's
  // threads; only the value itself passes between them.
  std::atomic<uint64_t> m_clock{0};
  CSnStreamTask* m_streams = nullptr;
  CSnStreamTask* m_caching = nullptr;
  CSnStreamTask* m_serving = nullptr;  // chosen by the thread, not to be freed under it
  StreamLock m_deviceLock;
  CSnIOMemoryManager m_ioMemory;
  uint32_t m_granularity = 0;
  float m_targetBufferingMs = 0.0f;
  uint32_t m_deviceId = kInvalidDeviceId;
  uint32_t m_maxPinnedBytes = 0;
  uint32_t m_pinnedInUse = 0;
  uint32_t m_maxBlocks = 0;
};

class CSnBlockingStreamDevice : public CSnStreamDevice {
 public:
  using CSnStreamDevice::CSnStreamDevice;
  void PerformIO() override;
};

class CSnDeferredStreamDevice : public CSnStreamDevice {
 public:
  using CSnStreamDevice::CSnStreamDevice;
  SNRESULT Init(const SnDeviceSettings& settings, uint32_t deviceId) override;
  void Destroy() override;
  void PerformIO() override;

 private:
  struct Record {
    StreamMgr::SnAsyncTransfer async;
    SnStreamTransfer transfer;
    CSnDeferredStreamDevice* device;
    Record* nextFree;
  };
  static void OnComplete(StreamMgr::SnAsyncTransfer* transfer, SNRESULT result);
  static void PoisonFreeRecord(Record* record);
  void ReturnRecordFirst(Record* record);

  Record* m_records = nullptr;
  Record* m_freeHead = nullptr;
  Record* m_freeTail = nullptr;
  uint32_t m_freeCount = 0;
};

}  // namespace SN
