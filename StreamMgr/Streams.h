// Streams: a caller's handle on one open file of a device. A standard stream moves one explicit
// request at a time; an automatic stream is filled by the device ahead of its reader.
#pragma once

#include <atomic>
#include <cstdint>

#include "Platform/Threading.h"
#include "StreamMgr/IOMemory.h"
#include "StreamMgr/StreamLock.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

class CSnStreamDevice;
class CSnStreamTask;

// One transfer between the device and a stream: the request the hook sees and the block it fills.
struct SnStreamTransfer {
  SnTransferRequest request;
  SnIOBlock* block;           // null when the bytes move straight to or from the caller's buffer
  uint8_t* address;           // where the hook reads into or writes from
  CSnStreamTask* stream;
  uint64_t streamPosition;    // offset inside the file (without the package offset)
  uint32_t countedBytes;      // bytes that count as the stream's data
  uint32_t generation;        // the stream's generation when the transfer was made
  bool write;
  bool fromCache;
};

enum class SnTransferOffer { Made, None, NoMemory };

// What a deferred open needs on the device's thread.
struct SnDeferredOpen {
  char16_t* name;             // owned copy; null when opened by id
  uint32_t fileId;
  SnFileLookupFlags flags;
  bool hasFlags;
  SnOpenMode mode;
};

class CSnStreamTask {
 public:
  CSnStreamTask(CSnStreamDevice* device, SnFileDescriptor* descriptor, bool automatic);
  virtual ~CSnStreamTask();
  virtual bool CanBeDestroyed();
  // Stops the stream in its error state.
  virtual void Kill() = 0;
  // A failure leaves the stream to its owner, unmarked: the device's thread frees a marked stream at
  // any time, and the owner still holds this one until it destroys it.
  virtual SNRESULT OnFileOpened() = 0;
  // Called with the device lock held.
  virtual SnTransferOffer CreateTransfer(SnStreamTransfer& transfer, bool cacheOnly) = 0;
  virtual void CompleteTransfer(SnStreamTransfer& transfer, SNRESULT result) = 0;
  virtual float EffectiveDeadline(uint64_t clock) = 0;
  // True when a transfer could be made now.
  virtual bool NeedsIO() = 0;
  // Active: a pending request, or an automatic stream running towards more data.
  virtual bool IsCandidate() = 0;

  bool IsAutomatic() const { return m_automatic; }
  bool IsCaching() const { return m_caching; }
  bool IsMarkedForDestruction() const { return m_markedForDestruction; }
  bool IsFileOpen() const { return m_fileOpen; }
  int8_t Priority() const { return m_priority.load(std::memory_order_relaxed); }
  uint64_t LastTime() const { return m_lastTime; }
  SnFileDescriptor& Descriptor() { return *m_descriptor; }
  SnDeferredOpen* DeferredOpenRecord() { return m_deferred; }
  void SetDeferredOpen(SnDeferredOpen* record) { m_deferred = record; }
  // Frees the deferred-open record; a failed open (result other than 1) puts the stream in error.
  void FinishDeferredOpen(SNRESULT openResult);
  // The file was opened synchronously: the stream owns it from now on.
  SNRESULT FileOpenedAtCreation();
  // No longer counted as waiting on the device (the device is about to free the stream).
  void Unregister();
  StreamLock& Lock() { return m_lock; }
  // Wakes a caller blocked on the stream.
  void WakeWaiter();
  // The same with the stream lock held.
  void Changed();
  void MarkForDestruction();

  CSnStreamTask* next = nullptr;  // the device's list

 protected:
  // Blocks, without the stream lock, until WakeWaiter; when the change is expected `soon`, watches
  // for it briefly before sleeping. Called with the stream lock held once; callers re-check.
  void WaitForWake(bool soon);
  // Registers or unregisters the stream as waiting on its device.
  void SetWaiting(bool waiting);
  void SetNameCopy(const char16_t* name, SNRESULT& result);
  uint32_t FileBlockSize() const { return m_blockSize; }
  // 1 when the block size fits the device's granularity; else marked for destruction, 2.
  SNRESULT TakeBlockSize();

  CSnStreamDevice* m_device;
  SnFileDescriptor* m_descriptor;
  SnDeferredOpen* m_deferred = nullptr;
  char16_t* m_name = nullptr;
  StreamLock m_lock;
  Platform::Event m_wake{Platform::Event::Reset::Manual};
  bool m_waiter = false;
  uint64_t m_lastTime = 0;
  // Set under the stream lock; the device thread reads it for its transfer hints without it.
  std::atomic<int8_t> m_priority{50};
  uint32_t m_blockSize = 1;
  bool m_automatic;
  bool m_endOfFile = false;
  bool m_markedForDestruction = false;
  bool m_fileOpen = false;
  bool m_countedWaiting = false;
  bool m_caching = false;
  uint32_t m_inFlight = 0;
  // Bumped under the lock by every wake, watched by a spinning waiter; alone on its cache line so
  // the watching does not slow the thread writing the stream's other fields.
  alignas(64) std::atomic<uint32_t> m_changes{0};
  static constexpr int kSpinsBeforeSleep = 2000;
};

class CSnStandardStream : public CSnStreamTask, public ISnStandardStream {
 public:
  CSnStandardStream(CSnStreamDevice* device, SnFileDescriptor* descriptor, SnOpenMode mode);

  // ISnStandardStream
  void Destroy() override;
  void GetInfo(SnStreamInfo& info) override;
  SnFileDescriptor* GetFileDescriptor() override { return m_descriptor; }
  SNRESULT SetName(const char16_t* name) override;
  uint32_t GetBlockSize() override { return m_blockSize; }
  SNRESULT Read(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs, uint32_t& outSize) override;
  SNRESULT Write(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs, uint32_t& outSize) override;
  uint64_t GetPosition(bool* endOfFile) override;
  SNRESULT SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) override;
  void Cancel() override;
  void* GetData(uint32_t& size) override;
  SnStmStatus GetStatus() override;

  // CSnStreamTask
  void Kill() override;
  SNRESULT OnFileOpened() override;
  SnTransferOffer CreateTransfer(SnStreamTransfer& transfer, bool cacheOnly) override;
  void CompleteTransfer(SnStreamTransfer& transfer, SNRESULT result) override;
  float EffectiveDeadline(uint64_t clock) override;
  bool NeedsIO() override;
  bool IsCandidate() override;

 private:
  SNRESULT Transfer(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs, uint32_t& outSize,
                    bool write);
  void SetStatus(SnStmStatus status);
  void UpdateWaiting();

  SnOpenMode m_mode;
  uint64_t m_position = 0;
  SnStmStatus m_status = SnStmStatus_Idle;
  uint8_t* m_buffer = nullptr;
  uint32_t m_requested = 0;
  uint32_t m_issued = 0;
  uint32_t m_transferred = 0;
  float m_deadlineMs = 0.0f;
  bool m_writing = false;
  bool m_failed = false;  // a transfer of the request failed; the error waits for the others in flight
  static constexpr uint32_t kWakeAheadTransfers = 4;
  uint32_t m_generation = 0;
};

class CSnAutomaticStream : public CSnStreamTask, public ISnAutomaticStream {
 public:
  CSnAutomaticStream(CSnStreamDevice* device, SnFileDescriptor* descriptor, int32_t cacheId,
                     const SnAutoStmHeuristics& heuristics, const SnAutoStmBufSettings* bufferSettings);
  ~CSnAutomaticStream() override;

  // ISnAutomaticStream
  void Destroy() override;
  void GetInfo(SnStreamInfo& info) override;
  SnFileDescriptor* GetFileDescriptor() override { return m_descriptor; }
  void GetHeuristics(SnAutoStmHeuristics& heuristics) override;
  SNRESULT SetHeuristics(const SnAutoStmHeuristics& heuristics) override;
  SNRESULT SetMinimalBufferSize(uint32_t bytes) override;
  SNRESULT SetName(const char16_t* name) override;
  uint32_t GetBlockSize() override { return m_blockSize; }
  SNRESULT QueryBufferingStatus(uint32_t& availableBytes) override;
  uint32_t GetNominalBuffering() override;
  SNRESULT Activate() override;
  SNRESULT Deactivate() override;
  uint64_t GetPosition(bool* endOfFile) override;
  SNRESULT SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) override;
  SNRESULT GetBuffer(void*& buffer, uint32_t& size, bool wait) override;
  SNRESULT ReleaseBuffer() override;

  // CSnStreamTask
  bool CanBeDestroyed() override;
  void Kill() override;
  SNRESULT OnFileOpened() override;
  SnTransferOffer CreateTransfer(SnStreamTransfer& transfer, bool cacheOnly) override;
  void CompleteTransfer(SnStreamTransfer& transfer, SNRESULT result) override;
  float EffectiveDeadline(uint64_t clock) override;
  bool NeedsIO() override;
  bool IsCandidate() override;

  // Caching streams keep the first `bytes` of their file pinned in the cache.
  void MakeCaching(uint32_t bytes);
  // Bytes buffered or on their way (what the stream holds of the cache memory).
  uint32_t GetHeldBytes();
  // Bytes whose transfers have completed: what is really in memory to read.
  uint32_t GetBytesInMemory();
  uint32_t MissingBytes();
  void ReevaluateBuffering();
  // Frees whole unread buffers, newest first, until `bytes` are freed (device lock held).
  uint32_t ReleaseBytes(uint32_t bytes);
  void SetPriority(int8_t priority);

 private:
  SNRESULT ApplyBufferConstraints();
  // Buffers not yet handed to the reader go back (device lock held).
  void DropUnreadBuffers();
  bool HasMoreToRead() const;
  uint32_t Available() const;

  int32_t m_cacheId;
  SnAutoStmHeuristics m_heuristics;
  SnAutoStmBufSettings m_constraints{};
  bool m_hasConstraints = false;
  uint32_t m_transferSize = 0;
  uint32_t m_bufferSize = 0;
  uint64_t m_position = 0;
  SnIOBlock** m_buffers = nullptr;  // ring, oldest first
  uint32_t m_capacity = 0;
  uint32_t m_first = 0;
  uint32_t m_count = 0;
  uint32_t m_handedOut = 0;
  uint32_t m_bytesBuffered = 0;  // counts the transfer in flight too
  uint32_t m_bytesInFlight = 0;
  uint32_t m_pinnedSize = 0;
  uint32_t m_generation = 0;
  bool m_running = false;
  bool m_active = false;
  bool m_error = false;
  bool m_needsIO = false;
};

}  // namespace SN
