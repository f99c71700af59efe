// The stream manager: opens files through the installed resolver, hands them to the device the
// resolver names, and keeps the devices, the current language and the files pinned in the cache.
#pragma once

#include <cstdint>

#include "StreamMgr/ISnStreamMgr.h"
#include "StreamMgr/LowLevelIO.h"
#include "StreamMgr/Streams.h"

namespace SN {

class CSnStreamDevice;

namespace StreamMgr {
// For tests: runs on the opening thread once a stream failed its set-up, before the opener lets it
// go, so that the device's thread can be made to run in between. Null removes it.
void SetFailedSetupHook(void (*hook)(void* context), void* context);
}  // namespace StreamMgr

class CSnStreamManager : public ISnStreamMgr {
 public:
  ~CSnStreamManager() override;

  void Destroy() override;
  void* GetStreamMgrProfile() override { return nullptr; }
  SNRESULT OpenStandardStream(uint32_t fileId, SnFileLookupFlags* flags, SnOpenMode mode, ISnStandardStream*& stream,
                              bool syncOpen) override;
  SNRESULT OpenStandardStream(const char16_t* name, SnFileLookupFlags* flags, SnOpenMode mode,
                              ISnStandardStream*& stream, bool syncOpen) override;
  SNRESULT OpenAutomaticStream(uint32_t fileId, SnFileLookupFlags* flags, const SnAutoStmHeuristics& heuristics,
                               const SnAutoStmBufSettings* bufferSettings, ISnAutomaticStream*& stream,
                               bool syncOpen) override;
  SNRESULT OpenAutomaticStream(const char16_t* name, SnFileLookupFlags* flags, const SnAutoStmHeuristics& heuristics,
                               const SnAutoStmBufSettings* bufferSettings, ISnAutomaticStream*& stream,
                               bool syncOpen) override;
  SNRESULT PinFileInCache(uint32_t fileId, SnFileLookupFlags* flags, int8_t priority) override;
  SNRESULT UnpinFileFromCache(uint32_t fileId, int8_t priority) override;
  SNRESULT UpdatePinPriority(uint32_t fileId, int8_t newPriority, int8_t oldPriority) override;
  SNRESULT GetPinnedFileBufferStatus(uint32_t fileId, float& percentBuffered, bool& cacheFull) override;
  virtual SNRESULT CreateCachingStream(uint32_t fileId, SnFileLookupFlags* flags, int8_t priority,
                                       CSnAutomaticStream*& stream);

 private:
  struct PinRecord {
    CSnAutomaticStream* stream;
    uint32_t count;
    int8_t* priorities;
    uint32_t capacity;
  };
  struct PinEntry {
    uint32_t fileId;
    PinRecord* record;
  };
  // What one open asks for; exactly one of the stream pointers is set.
  struct OpenRequest {
    const char16_t* name;     // null: by id
    uint32_t fileId;
    SnFileLookupFlags* flags;
    SnOpenMode mode;
    bool syncOpen;
    const SnAutoStmHeuristics* heuristics;  // null: a standard stream
    const SnAutoStmBufSettings* bufferSettings;
    bool caching;
    int8_t cachingPriority;
  };
  SNRESULT Open(const OpenRequest& request, CSnStreamTask*& stream);
  PinEntry* FindPin(uint32_t fileId);
  void ApplyHighestPriority(PinRecord& record);
  void RemovePin(uint32_t fileId);

  PinEntry* m_pins = nullptr;
  uint32_t m_pinCount = 0;
  uint32_t m_pinCapacity = 0;
};

namespace StreamMgr {

// The device with this id, or null.
CSnStreamDevice* GetDevice(uint32_t deviceId);
// When a stream object finds no memory: every device frees its destroyed streams, and `creator`
// also stops its least urgent stream below `priority`.
void ReclaimStreamMemory(CSnStreamDevice* creator, int8_t priority);

}  // namespace StreamMgr
}  // namespace SN
