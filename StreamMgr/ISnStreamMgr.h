// The sound engine's file service as its callers see it: the records exchanged with the stream
// manager and its file hooks, the stream interfaces, the manager's interface and its one instance,
// and the exported functions of the stream manager.
#pragma once

#include <cstdint>

#include "MemoryMgr/MemoryMgr.h"

namespace SN {

// One open file as the resolver describes it. Files inside a package share the package's handle
// and lie at firstBlock x packageBlockSize.
struct SnFileDescriptor {
  int64_t fileSize;
  uint32_t firstBlock;
  uint32_t packageBlockSize;  // 0 for a loose file
  void* customParam;
  int64_t osHandle;           // the file descriptor of the open file
  uint32_t deviceId;
};

struct SnFileLookupFlags {
  uint32_t companyId;         // 0 the sound engine's own files, 1 external sources
  uint32_t codecId;           // 0 a sound bank, 11 a file package, 201 a full path, others media
  uint32_t customParamSize;
  void* customParam;
  bool languageSpecific;
  bool automaticStream;
  int32_t cacheId;            // -1: not cached
};

struct SnTransferRequest {
  uint64_t filePosition;
  uint32_t bufferSize;
  uint32_t requestedSize;
};

struct SnTransferHints {
  float deadlineMs;
  int8_t priority;            // 0..100
};

struct SnDeviceInfo {
  uint32_t deviceId;
  bool canRead;
  bool canWrite;
  char16_t name[16];
  uint32_t nameLength;        // characters including the terminator
};

struct SnStreamMgrSettings {
  uint32_t memoryPoolBytes;
};

enum SnSchedulerFlags : uint32_t { SnScheduler_Blocking = 1, SnScheduler_DeferredLinedUp = 2 };

// The field order is part of the interface; offsets come from the compiler.
struct SnDeviceSettings {
  void* ioMemory;             // null: the device allocates its I/O memory
  uint32_t ioMemorySize;
  uint32_t ioMemoryAlignment;
  uint32_t poolAttributes;
  uint32_t granularity;       // one transfer and one buffer block
  uint32_t schedulerTypeFlags;
  int32_t threadPriority;
  uint32_t threadAffinityMask;
  uint32_t threadStackSize;
  float targetAutoStmBufferLength;  // ms of each automatic stream's throughput
  uint32_t maxConcurrentIO;
  bool useStreamCache;
  uint32_t maxCachePinnedBytes;
};

struct SnAutoStmHeuristics {
  float throughput;           // bytes per ms
  uint32_t loopStart;
  uint32_t loopEnd;           // 0: no loop
  uint8_t minNumBuffers;
  int8_t priority;            // 0..100
};

struct SnAutoStmBufSettings {
  uint32_t bufferSize;        // 0: chosen by the device
  uint32_t minBufferSize;
  uint32_t blockSize;         // 0: the file's own
};

struct SnStreamInfo {
  uint32_t deviceId;
  const char16_t* name;
  uint64_t size;
  bool isOpen;
};

enum SnOpenMode : uint32_t { SnOpenMode_Read = 0, SnOpenMode_Write = 1, SnOpenMode_WriteOverwrite = 2, SnOpenMode_ReadWrite = 3 };
enum SnMoveMethod : uint32_t { SnMove_Begin = 0, SnMove_Current = 1, SnMove_End = 2 };
enum SnStmStatus : uint32_t {
  SnStmStatus_Idle = 0,
  SnStmStatus_Completed = 1,
  SnStmStatus_Pending = 2,
  SnStmStatus_Cancelled = 3,
  SnStmStatus_Error = 4,
};

constexpr uint32_t kInvalidDeviceId = 0xFFFFFFFFu;

class ISnStandardStream {
 public:
  virtual ~ISnStandardStream() = default;
  virtual void Destroy() = 0;
  virtual void GetInfo(SnStreamInfo& info) = 0;
  virtual SnFileDescriptor* GetFileDescriptor() = 0;
  virtual SNRESULT SetName(const char16_t* name) = 0;
  virtual uint32_t GetBlockSize() = 0;
  virtual SNRESULT Read(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs, uint32_t& outSize) = 0;
  virtual SNRESULT Write(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs, uint32_t& outSize) = 0;
  virtual uint64_t GetPosition(bool* endOfFile) = 0;
  // `realMove` may be null.
  virtual SNRESULT SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) = 0;
  virtual void Cancel() = 0;
  virtual void* GetData(uint32_t& size) = 0;
  virtual SnStmStatus GetStatus() = 0;
};

class ISnAutomaticStream {
 public:
  virtual ~ISnAutomaticStream() = default;
  virtual void Destroy() = 0;
  virtual void GetInfo(SnStreamInfo& info) = 0;
  virtual SnFileDescriptor* GetFileDescriptor() = 0;
  virtual void GetHeuristics(SnAutoStmHeuristics& heuristics) = 0;
  virtual SNRESULT SetHeuristics(const SnAutoStmHeuristics& heuristics) = 0;
  virtual SNRESULT SetMinimalBufferSize(uint32_t bytes) = 0;
  virtual SNRESULT SetName(const char16_t* name) = 0;
  virtual uint32_t GetBlockSize() = 0;
  virtual SNRESULT QueryBufferingStatus(uint32_t& availableBytes) = 0;
  virtual uint32_t GetNominalBuffering() = 0;
  virtual SNRESULT Activate() = 0;
  virtual SNRESULT Deactivate() = 0;
  virtual uint64_t GetPosition(bool* endOfFile) = 0;
  virtual SNRESULT SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) = 0;
  virtual SNRESULT GetBuffer(void*& buffer, uint32_t& size, bool wait) = 0;
  virtual SNRESULT ReleaseBuffer() = 0;
};

// The stream manager. The operations answer "not available" (2, or null) unless a manager
// overrides them, so that a stand-in serving no files needs to override nothing.
class ISnStreamMgr {
 public:
  virtual ~ISnStreamMgr() = default;
  virtual void Destroy() {}
  virtual void* GetStreamMgrProfile() { return nullptr; }
  virtual SNRESULT OpenStandardStream(uint32_t, SnFileLookupFlags*, SnOpenMode, ISnStandardStream*&, bool) {
    return SN_Failure;
  }
  virtual SNRESULT OpenStandardStream(const char16_t*, SnFileLookupFlags*, SnOpenMode, ISnStandardStream*&, bool) {
    return SN_Failure;
  }
  virtual SNRESULT OpenAutomaticStream(uint32_t, SnFileLookupFlags*, const SnAutoStmHeuristics&,
                                       const SnAutoStmBufSettings*, ISnAutomaticStream*&, bool) {
    return SN_Failure;
  }
  virtual SNRESULT OpenAutomaticStream(const char16_t*, SnFileLookupFlags*, const SnAutoStmHeuristics&,
                                       const SnAutoStmBufSettings*, ISnAutomaticStream*&, bool) {
    return SN_Failure;
  }
  virtual SNRESULT PinFileInCache(uint32_t, SnFileLookupFlags*, int8_t) { return SN_Failure; }
  virtual SNRESULT UnpinFileFromCache(uint32_t, int8_t) { return SN_Failure; }
  virtual SNRESULT UpdatePinPriority(uint32_t, int8_t, int8_t) { return SN_Failure; }
  virtual SNRESULT GetPinnedFileBufferStatus(uint32_t, float&, bool&) { return SN_Failure; }

  // Null until a stream manager is created.
  inline static ISnStreamMgr* m_pStreamMgr = nullptr;
};

namespace StreamMgr {

class ISnFileLocationResolver;
class ISnLowLevelIOHook;

using SnLanguageChangeCallback = void (*)(const char16_t* language, void* cookie);

void GetDefaultSettings(SnStreamMgrSettings& settings);
// Null without an initialised memory manager; the existing instance when there is one.
ISnStreamMgr* Create(const SnStreamMgrSettings& settings);
void GetDefaultDeviceSettings(SnDeviceSettings& settings);
// kInvalidDeviceId on failure. A destroyed device's id is reused by the next creation.
uint32_t CreateDevice(const SnDeviceSettings& settings, ISnLowLevelIOHook* hook);
// Waits until the device's streams are destroyed by their owners. 31 for an id with no device.
SNRESULT DestroyDevice(uint32_t deviceId);
ISnFileLocationResolver* GetFileLocationResolver();
void SetFileLocationResolver(ISnFileLocationResolver* resolver);
SnMemPoolId GetPoolID();
void FlushAllCaches();
SNRESULT SetCurrentLanguage(const char16_t* language);
const char16_t* GetCurrentLanguage();
SNRESULT AddLanguageChangeObserver(SnLanguageChangeCallback callback, void* cookie);
void RemoveLanguageChangeObserver(void* cookie);

}  // namespace StreamMgr
}  // namespace SN
