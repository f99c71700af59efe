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

  Platform::Thread* thread_ = nullptr;
  uint32_t maxConcurrentIO_ = 1;
  StreamLock threadLock_;
  Platform::Event stop_{Platform::Event::Reset::Manual, false};
  Platform::Event gate_{Platform::Event::Reset::Manual, true};
  Platform::Event standardWaiting_{Platform::Event::Reset::Manual, false};
  Platform::Event automaticWaiting_{Platform::Event::Reset::Manual, false};
  uint32_t standardCount_ = 0;
  uint32_t automaticCount_ = 0;
  // Read without the lock by the I/O memory on every released block: letting go is a no-op unless
  // something was held back, and the lock is taken only then.
  std::atomic<bool> automaticHeldBack_{false};
  std::atomic<bool> stopping_{false};
  // Bumped whenever work may have arrived; the thread watches it briefly before sleeping.
  alignas(64) std::atomic<uint32_t> signals_{0};
  static constexpr int kSpinsBeforeSleep = 2000;
  uint32_t inFlight_ = 0;

 private:
  static uint32_t ThreadBody(void* device);
  // True when a transfer can be started now without waiting on an event: the thread chains
  // transfers this way instead of going through its events for every block.
  bool ReadyForMore();
};

class CSnStreamDevice : public CSnIOSchedulerThread {
 public:
  explicit CSnStreamDevice(StreamMgr::ISnLowLevelIOHook* hook) : hook_(hook) {}
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

  StreamMgr::ISnLowLevelIOHook* Hook() const { return hook_; }
  uint32_t Granularity() const { return granularity_; }
  float TargetBufferingMs() const { return targetBufferingMs_; }
  uint64_t Clock() const { return clock_; }
  uint32_t DeviceId() const { return deviceId_; }
  uint32_t MaxBlocks() const { return maxBlocks_; }
  uint32_t PinnedBytesInUse() const { return pinnedInUse_; }
  uint32_t FreeCacheMemory();
  StreamLock& DeviceLock() { return deviceLock_; }
  CSnIOMemoryManager& IOMemory() { return ioMemory_; }
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

  StreamMgr::ISnLowLevelIOHook* hook_;
  uint64_t clock_ = 0;
  CSnStreamTask* streams_ = nullptr;
  CSnStreamTask* caching_ = nullptr;
  CSnStreamTask* serving_ = nullptr;  // chosen by the thread, not to be freed under it
  StreamLock deviceLock_;
  CSnIOMemoryManager ioMemory_;
  uint32_t granularity_ = 0;
  float targetBufferingMs_ = 0.0f;
  uint32_t deviceId_ = kInvalidDeviceId;
  uint32_t maxPinnedBytes_ = 0;
  uint32_t pinnedInUse_ = 0;
  uint32_t maxBlocks_ = 0;
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

  Record* records_ = nullptr;
  Record* freeHead_ = nullptr;
  Record* freeTail_ = nullptr;
  uint32_t freeCount_ = 0;
};

}  // namespace SN
