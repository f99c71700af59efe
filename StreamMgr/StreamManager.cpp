// Stream creation through the resolver and the devices, the device registry, the current language
// with its observers, and the files pinned in the stream cache.
#include "StreamMgr/StreamManager.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "StreamMgr/StreamDevice.h"

namespace SN {

namespace {

constexpr uint32_t kLanguageChars = 32;

struct Observer {
  StreamMgr::SnLanguageChangeCallback callback;
  void* cookie;
};

struct ModuleState {
  SnMemPoolId pool = kInvalidPoolId;
  StreamMgr::ISnFileLocationResolver* resolver = nullptr;
  CSnStreamDevice** devices = nullptr;
  uint32_t deviceCount = 0;
  Observer* observers = nullptr;
  uint32_t observerCount = 0;
  char16_t language[kLanguageChars] = {};
};

ModuleState& State() {
  static ModuleState state;
  return state;
}

// Grows a pool array by one entry; false when there is no room (the array is unchanged).
template <typename T>
bool GrowByOne(T*& array, uint32_t count) {
  T* grown = static_cast<T*>(MemoryMgr::Malloc(State().pool, (count + 1) * sizeof(T)));
  if (!grown) return false;
  if (count) memcpy(static_cast<void*>(grown), array, count * sizeof(T));
  MemoryMgr::Free(State().pool, array);
  array = grown;
  return true;
}

}  // namespace

namespace StreamMgr {

void GetDefaultSettings(SnStreamMgrSettings& settings) { settings.memoryPoolBytes = 65536; }

ISnStreamMgr* Create(const SnStreamMgrSettings& settings) {
  if (!MemoryMgr::IsInitialized()) return nullptr;
  if (ISnStreamMgr::m_pStreamMgr) return ISnStreamMgr::m_pStreamMgr;
  ModuleState& state = State();
  state.language[0] = 0;
  if (state.pool == kInvalidPoolId) {
    state.pool = MemoryMgr::CreatePool(nullptr, settings.memoryPoolBytes, 32, SnMemPool_AllocHook, 0);
    if (state.pool == kInvalidPoolId) return nullptr;
    MemoryMgr::SetPoolName(state.pool, "Stream Manager");
  }
  void* memory = MemoryMgr::Malign(state.pool, sizeof(CSnStreamManager), alignof(CSnStreamManager));
  if (!memory) {
    MemoryMgr::DestroyPool(state.pool);
    state.pool = kInvalidPoolId;
    return nullptr;
  }
  ISnStreamMgr::m_pStreamMgr = new (memory) CSnStreamManager();
  return ISnStreamMgr::m_pStreamMgr;
}

void GetDefaultDeviceSettings(SnDeviceSettings& settings) {
  settings.ioMemory = nullptr;
  settings.ioMemorySize = 2 * 1024 * 1024;
  settings.ioMemoryAlignment = 4;
  settings.poolAttributes = SnMemPool_VirtualHook;
  settings.granularity = 16384;
  settings.schedulerTypeFlags = SnScheduler_Blocking;
  settings.threadPriority = 1;
  settings.threadAffinityMask = 0;
  settings.threadStackSize = 32768;
  settings.targetAutoStmBufferLength = 380.0f;
  settings.maxConcurrentIO = 8;
  settings.useStreamCache = false;
  settings.maxCachePinnedBytes = 0xFFFFFFFFu;
}

uint32_t CreateDevice(const SnDeviceSettings& settings, ISnLowLevelIOHook* hook) {
  ModuleState& state = State();
  if (!hook || state.pool == kInvalidPoolId) return kInvalidDeviceId;
  uint32_t id = 0;
  while (id < state.deviceCount && state.devices[id]) ++id;
  if (id == state.deviceCount) {
    if (!GrowByOne(state.devices, state.deviceCount)) return kInvalidDeviceId;
    state.devices[state.deviceCount++] = nullptr;
  }
  CSnStreamDevice* device = nullptr;
  if (settings.schedulerTypeFlags & SnScheduler_Blocking) {
    void* memory = MemoryMgr::Malign(state.pool, sizeof(CSnBlockingStreamDevice), alignof(CSnBlockingStreamDevice));
    if (memory) device = new (memory) CSnBlockingStreamDevice(hook);
  } else if (settings.schedulerTypeFlags & SnScheduler_DeferredLinedUp) {
    void* memory = MemoryMgr::Malign(state.pool, sizeof(CSnDeferredStreamDevice), alignof(CSnDeferredStreamDevice));
    if (memory) device = new (memory) CSnDeferredStreamDevice(hook);
  }
  if (!device) return kInvalidDeviceId;
  if (device->Init(settings, id) != SN_Success) {
    device->~CSnStreamDevice();
    MemoryMgr::Free(state.pool, device);
    return kInvalidDeviceId;
  }
  state.devices[id] = device;
  return id;
}

SNRESULT DestroyDevice(uint32_t deviceId) {
  ModuleState& state = State();
  if (deviceId >= state.deviceCount || !state.devices[deviceId]) return SN_InvalidParameter;
  CSnStreamDevice* device = state.devices[deviceId];
  device->Destroy();
  state.devices[deviceId] = nullptr;
  return SN_Success;
}

CSnStreamDevice* GetDevice(uint32_t deviceId) {
  ModuleState& state = State();
  return deviceId < state.deviceCount ? state.devices[deviceId] : nullptr;
}

void ReclaimStreamMemory(CSnStreamDevice* creator, int8_t priority) {
  ModuleState& state = State();
  for (uint32_t i = 0; i < state.deviceCount; ++i)
    if (state.devices[i] && state.devices[i] != creator) state.devices[i]->ReclaimMemory(-1);
  if (creator) creator->ReclaimMemory(priority);
}

ISnFileLocationResolver* GetFileLocationResolver() { return State().resolver; }
void SetFileLocationResolver(ISnFileLocationResolver* resolver) { State().resolver = resolver; }
SnMemPoolId GetPoolID() { return State().pool; }

void FlushAllCaches() {
  ModuleState& state = State();
  for (uint32_t i = 0; i < state.deviceCount; ++i)
    if (state.devices[i]) state.devices[i]->FlushCache();
}

SNRESULT SetCurrentLanguage(const char16_t* language) {
  if (!language) return SN_Failure;
  uint32_t length = 0;
  while (language[length]) ++length;
  if (length >= kLanguageChars) return SN_Failure;
  if (length && (language[length - 1] == u'/' || language[length - 1] == u'\\')) return SN_Failure;
  ModuleState& state = State();
  memcpy(state.language, language, (length + 1) * sizeof(char16_t));
  // An observer may remove itself while it runs.
  for (uint32_t i = state.observerCount; i-- > 0;)
    if (i < state.observerCount) state.observers[i].callback(state.language, state.observers[i].cookie);
  return SN_Success;
}

const char16_t* GetCurrentLanguage() { return State().language; }

SNRESULT AddLanguageChangeObserver(SnLanguageChangeCallback callback, void* cookie) {
  ModuleState& state = State();
  if (state.pool == kInvalidPoolId || !GrowByOne(state.observers, state.observerCount)) return SN_Failure;
  state.observers[state.observerCount++] = Observer{callback, cookie};
  return SN_Success;
}

void RemoveLanguageChangeObserver(void* cookie) {
  ModuleState& state = State();
  uint32_t kept = 0;
  for (uint32_t i = 0; i < state.observerCount; ++i)
    if (state.observers[i].cookie != cookie) state.observers[kept++] = state.observers[i];
  state.observerCount = kept;
}

}  // namespace StreamMgr

// ---------------------------------------------------------------------------------------------

CSnStreamManager::~CSnStreamManager() {
  // Caching streams go while their devices still exist; their threads free them.
  for (uint32_t i = 0; i < m_pinCount; ++i) {
    m_pins[i].record->stream->Destroy();
    MemoryMgr::Free(StreamMgr::GetPoolID(), m_pins[i].record->priorities);
    MemoryMgr::Free(StreamMgr::GetPoolID(), m_pins[i].record);
  }
  MemoryMgr::Free(StreamMgr::GetPoolID(), m_pins);
  m_pins = nullptr;
  m_pinCount = m_pinCapacity = 0;
}

void CSnStreamManager::Destroy() {
  ModuleState& state = State();
  state.resolver = nullptr;
  // Pinned files first: their caching streams must be released while their devices exist.
  this->~CSnStreamManager();
  for (uint32_t i = 0; i < state.deviceCount; ++i)
    if (state.devices[i]) StreamMgr::DestroyDevice(i);
  MemoryMgr::Free(state.pool, state.devices);
  state.devices = nullptr;
  state.deviceCount = 0;
  MemoryMgr::Free(state.pool, state.observers);
  state.observers = nullptr;
  state.observerCount = 0;
  ISnStreamMgr::m_pStreamMgr = nullptr;
  MemoryMgr::Free(state.pool, this);
  MemoryMgr::DestroyPool(state.pool);
  state.pool = kInvalidPoolId;
}

namespace {

struct SetupHook {
  void (*hook)(void*) = nullptr;
  void* context = nullptr;
};
SetupHook& FailedSetupHook() {
  static SetupHook hook;
  return hook;
}

}  // namespace

void StreamMgr::SetFailedSetupHook(void (*hook)(void* context), void* context) { FailedSetupHook() = {hook, context}; }

SNRESULT CSnStreamManager::Open(const OpenRequest& request, CSnStreamTask*& stream) {
  stream = nullptr;
  const bool automatic = request.heuristics != nullptr;
  if (automatic) {
    const SnAutoStmHeuristics& heuristics = *request.heuristics;
    if (heuristics.throughput < 0.0f || heuristics.priority < 0 || heuristics.priority > 100)
      return SN_InvalidParameter;
  }
  StreamMgr::ISnFileLocationResolver* resolver = StreamMgr::GetFileLocationResolver();
  if (!resolver) return SN_Failure;
  int32_t cacheId = -1;
  if (request.flags) {
    request.flags->automaticStream = automatic;
    if (automatic) cacheId = request.flags->cacheId;
  }
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  auto* descriptor = static_cast<SnFileDescriptor*>(MemoryMgr::Malloc(pool, sizeof(SnFileDescriptor)));
  if (!descriptor) return SN_Failure;
  memset(descriptor, 0, sizeof *descriptor);
  const SnOpenMode mode = automatic ? SnOpenMode_Read : request.mode;
  bool sync = request.syncOpen;
  const SNRESULT opened = request.name ? resolver->OpenByName(request.name, mode, request.flags, sync, *descriptor)
                                       : resolver->OpenById(request.fileId, mode, request.flags, sync, *descriptor);
  if (opened != SN_Success) {
    MemoryMgr::Free(pool, descriptor);
    return opened == SN_FileNotFound ? SN_FileNotFound : SN_Failure;
  }
  CSnStreamDevice* device = StreamMgr::GetDevice(descriptor->deviceId);
  if (sync && descriptor->fileSize <= 0 && (automatic || mode == SnOpenMode_Read)) {
    // The resolver opened the file: it is closed before the descriptor goes.
    if (device) device->Hook()->Close(*descriptor);
    MemoryMgr::Free(pool, descriptor);
    return SN_Failure;
  }
  SNRESULT created = SN_Failure;
  if (device) {
    if (request.caching) {
      CSnAutomaticStream* caching = nullptr;
      created = device->CreateCachingStream(descriptor, request.fileId, uint32_t(descriptor->fileSize),
                                            request.cachingPriority, caching);
      stream = caching;
    } else if (automatic) {
      CSnAutomaticStream* automaticStream = nullptr;
      created = device->CreateAutomaticStream(descriptor, cacheId, *request.heuristics, request.bufferSettings,
                                              automaticStream);
      stream = automaticStream;
    } else {
      CSnStandardStream* standard = nullptr;
      created = device->CreateStandardStream(descriptor, mode, standard);
      stream = standard;
    }
  }
  if (created != SN_Success || !stream) {
    if (sync && device) device->Hook()->Close(*descriptor);
    MemoryMgr::Free(pool, descriptor);
    stream = nullptr;
    return SN_Failure;
  }
  if (sync) {
    const SNRESULT result = stream->FileOpenedAtCreation();
    if (result != SN_Success) {
      if (FailedSetupHook().hook) FailedSetupHook().hook(FailedSetupHook().context);
      stream->MarkForDestruction();
      stream = nullptr;
      return result;
    }
    if (request.caching) static_cast<CSnAutomaticStream*>(stream)->MakeCaching(uint32_t(descriptor->fileSize));
    return SN_Success;
  }
  auto* record = static_cast<SnDeferredOpen*>(MemoryMgr::Malloc(pool, sizeof(SnDeferredOpen)));
  bool ok = record != nullptr;
  if (ok) {
    *record = SnDeferredOpen{nullptr, request.fileId, request.flags ? *request.flags : SnFileLookupFlags{},
                             request.flags != nullptr, mode};
    if (request.name) {
      size_t length = 0;
      while (request.name[length]) ++length;
      record->name = static_cast<char16_t*>(MemoryMgr::Malloc(pool, (length + 1) * sizeof(char16_t)));
      if (record->name)
        memcpy(record->name, request.name, (length + 1) * sizeof(char16_t));
      else
        ok = false;
    }
  }
  if (!ok) {
    if (record) MemoryMgr::Free(pool, record);
    stream->MarkForDestruction();
    stream = nullptr;
    return SN_Failure;
  }
  stream->SetDeferredOpen(record);
  return SN_Success;
}

SNRESULT CSnStreamManager::OpenStandardStream(uint32_t fileId, SnFileLookupFlags* flags, SnOpenMode mode,
                                              ISnStandardStream*& stream, bool syncOpen) {
  CSnStreamTask* task = nullptr;
  const SNRESULT result = Open(OpenRequest{nullptr, fileId, flags, mode, syncOpen, nullptr, nullptr, false, 0}, task);
  stream = static_cast<CSnStandardStream*>(task);
  return result;
}

SNRESULT CSnStreamManager::OpenStandardStream(const char16_t* name, SnFileLookupFlags* flags, SnOpenMode mode,
                                              ISnStandardStream*& stream, bool syncOpen) {
  stream = nullptr;
  if (!name) return SN_InvalidParameter;
  CSnStreamTask* task = nullptr;
  const SNRESULT result = Open(OpenRequest{name, 0, flags, mode, syncOpen, nullptr, nullptr, false, 0}, task);
  stream = static_cast<CSnStandardStream*>(task);
  return result;
}

SNRESULT CSnStreamManager::OpenAutomaticStream(uint32_t fileId, SnFileLookupFlags* flags,
                                               const SnAutoStmHeuristics& heuristics,
                                               const SnAutoStmBufSettings* bufferSettings, ISnAutomaticStream*& stream,
                                               bool syncOpen) {
  CSnStreamTask* task = nullptr;
  const SNRESULT result =
      Open(OpenRequest{nullptr, fileId, flags, SnOpenMode_Read, syncOpen, &heuristics, bufferSettings, false, 0}, task);
  stream = static_cast<CSnAutomaticStream*>(task);
  return result;
}

SNRESULT CSnStreamManager::OpenAutomaticStream(const char16_t* name, SnFileLookupFlags* flags,
                                               const SnAutoStmHeuristics& heuristics,
                                               const SnAutoStmBufSettings* bufferSettings, ISnAutomaticStream*& stream,
                                               bool syncOpen) {
  stream = nullptr;
  if (heuristics.throughput < 0.0f || heuristics.priority < 0 || heuristics.priority > 100) return SN_InvalidParameter;
  if (!name) return SN_InvalidParameter;
  CSnStreamTask* task = nullptr;
  const SNRESULT result =
      Open(OpenRequest{name, 0, flags, SnOpenMode_Read, syncOpen, &heuristics, bufferSettings, false, 0}, task);
  stream = static_cast<CSnAutomaticStream*>(task);
  return result;
}

SNRESULT CSnStreamManager::CreateCachingStream(uint32_t fileId, SnFileLookupFlags* flags, int8_t priority,
                                               CSnAutomaticStream*& stream) {
  const SnAutoStmHeuristics heuristics{1.0f, 0, 0, 1, priority};
  SnFileLookupFlags local = flags ? *flags : SnFileLookupFlags{0, 0, 0, nullptr, false, true, int32_t(fileId)};
  local.cacheId = int32_t(fileId);
  CSnStreamTask* task = nullptr;
  const SNRESULT result =
      Open(OpenRequest{nullptr, fileId, &local, SnOpenMode_Read, true, &heuristics, nullptr, true, priority}, task);
  stream = static_cast<CSnAutomaticStream*>(task);
  return result;
}

CSnStreamManager::PinEntry* CSnStreamManager::FindPin(uint32_t fileId) {
  for (uint32_t i = 0; i < m_pinCount; ++i)
    if (m_pins[i].fileId == fileId) return &m_pins[i];
  return nullptr;
}

void CSnStreamManager::ApplyHighestPriority(PinRecord& record) {
  int8_t highest = 0;
  for (uint32_t i = 0; i < record.count; ++i)
    if (record.priorities[i] > highest) highest = record.priorities[i];
  record.stream->SetPriority(highest);
}

void CSnStreamManager::RemovePin(uint32_t fileId) {
  for (uint32_t i = 0; i < m_pinCount; ++i)
    if (m_pins[i].fileId == fileId) {
      m_pins[i] = m_pins[--m_pinCount];
      return;
    }
}

SNRESULT CSnStreamManager::PinFileInCache(uint32_t fileId, SnFileLookupFlags* flags, int8_t priority) {
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  if (PinEntry* entry = FindPin(fileId)) {
    PinRecord& record = *entry->record;
    if (record.count == record.capacity) {
      if (!GrowByOne(record.priorities, record.count)) return SN_Failure;
      ++record.capacity;
    }
    record.priorities[record.count++] = priority;
    ApplyHighestPriority(record);
    return SN_Success;
  }
  if (m_pinCount == m_pinCapacity) {
    if (!GrowByOne(m_pins, m_pinCount)) return SN_Failure;
    ++m_pinCapacity;
  }
  auto* record = static_cast<PinRecord*>(MemoryMgr::Malloc(pool, sizeof(PinRecord)));
  if (!record) return SN_Failure;
  *record = PinRecord{nullptr, 0, nullptr, 0};
  CSnAutomaticStream* stream = nullptr;
  if (CreateCachingStream(fileId, flags, priority, stream) != SN_Success || !GrowByOne(record->priorities, 0)) {
    if (stream) stream->Destroy();
    MemoryMgr::Free(pool, record);
    return SN_Failure;
  }
  record->stream = stream;
  record->capacity = 1;
  record->priorities[record->count++] = priority;
  m_pins[m_pinCount++] = PinEntry{fileId, record};
  char digits[11];
  snprintf(digits, sizeof digits, "%u", fileId);
  char16_t name[11] = {};
  for (int i = 0; digits[i]; ++i) name[i] = char16_t(digits[i]);
  stream->SetName(name);
  stream->Activate();
  return SN_Success;
}

SNRESULT CSnStreamManager::UnpinFileFromCache(uint32_t fileId, int8_t priority) {
  PinEntry* entry = FindPin(fileId);
  if (!entry) return SN_Failure;
  PinRecord* record = entry->record;
  for (uint32_t i = 0; i < record->count; ++i)
    if (record->priorities[i] == priority) {
      record->priorities[i] = record->priorities[--record->count];
      break;
    }
  if (record->count) {
    ApplyHighestPriority(*record);
    return SN_Failure;
  }
  record->stream->Destroy();
  MemoryMgr::Free(StreamMgr::GetPoolID(), record->priorities);
  MemoryMgr::Free(StreamMgr::GetPoolID(), record);
  RemovePin(fileId);
  return SN_Success;
}

SNRESULT CSnStreamManager::UpdatePinPriority(uint32_t fileId, int8_t newPriority, int8_t oldPriority) {
  PinEntry* entry = FindPin(fileId);
  if (!entry) return SN_Failure;
  PinRecord& record = *entry->record;
  for (uint32_t i = 0; i < record.count; ++i)
    if (record.priorities[i] == oldPriority) {
      record.priorities[i] = newPriority;
      ApplyHighestPriority(record);
      return SN_Success;
    }
  return SN_Failure;
}

SNRESULT CSnStreamManager::GetPinnedFileBufferStatus(uint32_t fileId, float& percentBuffered, bool& cacheFull) {
  PinEntry* entry = FindPin(fileId);
  if (!entry) return SN_Failure;
  CSnAutomaticStream* stream = entry->record->stream;
  const uint32_t wanted = stream->GetNominalBuffering();
  // Only bytes already read count: a reader told the file is all in memory must find it there.
  const uint32_t held = stream->GetBytesInMemory();
  percentBuffered = wanted ? float(held) / float(wanted) * 100.0f : 100.0f;
  CSnStreamDevice* device = StreamMgr::GetDevice(stream->GetFileDescriptor()->deviceId);
  cacheFull = device && stream->MissingBytes() > device->FreeCacheMemory();
  return SN_Success;
}

}  // namespace SN
