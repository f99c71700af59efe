// The I/O thread of a device and its scheduler: which stream is served next, the blocking and the
// deferred transfer paths, and the caching pass that keeps pinned files within their budget.
#include "StreamMgr/StreamDevice.h"

#include <cstddef>
#include <new>

#include "Base/PoisonRegion.h"
#include "Platform/Clock.h"
#include "SoundEngine/Lower/StartNamedThread.h"
#include "SoundEngine/SoundEngine.h"
#include "StreamMgr/StreamManager.h"

namespace SN {

// ---------------------------------------------------------------------------------------------
// Thread part

void CSnIOSchedulerThread::StandardStreamWaiting() {
  StreamGuard guard(m_threadLock);
  m_signals.fetch_add(1, std::memory_order_release);
  if (++m_standardCount == 1) m_standardWaiting.Set();
}

void CSnIOSchedulerThread::StandardStreamDone() {
  StreamGuard guard(m_threadLock);
  if (m_standardCount && --m_standardCount == 0) m_standardWaiting.Clear();
}

void CSnIOSchedulerThread::AutomaticStreamWaiting() {
  StreamGuard guard(m_threadLock);
  m_signals.fetch_add(1, std::memory_order_release);
  if (++m_automaticCount == 1 && !m_automaticHeldBack) m_automaticWaiting.Set();
}

void CSnIOSchedulerThread::AutomaticStreamDone() {
  StreamGuard guard(m_threadLock);
  if (m_automaticCount && --m_automaticCount == 0) m_automaticWaiting.Clear();
}

void CSnIOSchedulerThread::HoldBackAutomaticStreams() {
  StreamGuard guard(m_threadLock);
  m_automaticHeldBack = true;
  if (m_automaticCount) m_automaticWaiting.Clear();
}

void CSnIOSchedulerThread::ReleaseAutomaticStreams() {
  if (!m_automaticHeldBack.load(std::memory_order_acquire)) return;
  StreamGuard guard(m_threadLock);
  m_automaticHeldBack = false;
  m_signals.fetch_add(1, std::memory_order_release);
  if (m_automaticCount) m_automaticWaiting.Set();
}

bool CSnIOSchedulerThread::AutomaticStreamsHeldBack() { return m_automaticHeldBack.load(std::memory_order_acquire); }

bool CSnIOSchedulerThread::ReadyForMore() {
  if (m_stopping.load(std::memory_order_acquire)) return false;
  StreamGuard guard(m_threadLock);
  return m_inFlight < m_maxConcurrentIO && (m_standardCount || (m_automaticCount && !m_automaticHeldBack));
}

void CSnIOSchedulerThread::TransferBegun() {
  StreamGuard guard(m_threadLock);
  if (++m_inFlight >= m_maxConcurrentIO) m_gate.Clear();
}

void CSnIOSchedulerThread::TransferEnded() {
  StreamGuard guard(m_threadLock);
  if (m_inFlight && --m_inFlight == m_maxConcurrentIO - 1) m_gate.Set();
}

uint32_t CSnIOSchedulerThread::TransfersInFlight() {
  StreamGuard guard(m_threadLock);
  return m_inFlight;
}

SNRESULT CSnIOSchedulerThread::CreateThread(int32_t priority, uint32_t affinityMask, uint32_t stackSize) {
  m_stopping = false;
  m_stop.Clear();
  m_gate.Set();
  m_standardWaiting.Clear();
  m_automaticWaiting.Clear();
  m_standardCount = m_automaticCount = m_inFlight = 0;
  m_automaticHeldBack = false;
  const SnThreadSettings settings{priority, affinityMask, stackSize};
  StartNamedThread(&ThreadBody, this, settings, &m_thread, "SN::IOThread");
  return m_thread ? SN_Success : SN_Failure;
}

void CSnIOSchedulerThread::StopThread() {
  if (!m_thread) return;
  m_stopping = true;
  m_stop.Set();
  Platform::JoinThread(m_thread);
  m_thread = nullptr;
  m_standardCount = m_automaticCount = m_inFlight = 0;
}

void CSnIOSchedulerThread::WaitForChange(uint32_t ms) {
  Platform::Event* events[] = {&m_stop};
  Platform::WaitAny(events, 1, ms);
}

uint32_t CSnIOSchedulerThread::ThreadBody(void* context) {
  auto* device = static_cast<CSnIOSchedulerThread*>(context);
  device->OnThreadBegin();
  bool watched = false;
  for (;;) {
    if (device->ReadyForMore()) {
      device->PerformIO();
      watched = false;
      continue;
    }
    if (!watched) {
      // A reader that just got its data usually asks again within microseconds: watching for
      // that briefly spares both threads a sleep and a wake-up per request.
      watched = true;
      const uint32_t seen = device->m_signals.load(std::memory_order_acquire);
      for (int spin = 0; spin < kSpinsBeforeSleep && device->m_signals.load(std::memory_order_acquire) == seen &&
                         !device->m_stopping.load(std::memory_order_acquire);
           ++spin)
        StreamLock::Relax();
      continue;
    }
    watched = false;
    Platform::Event* gateEvents[] = {&device->m_stop, &device->m_gate};
    int signalled = Platform::WaitAny(gateEvents, 2, Platform::kWaitForever);
    if (signalled == 1) {
      Platform::Event* workEvents[] = {&device->m_stop, &device->m_standardWaiting, &device->m_automaticWaiting};
      signalled = Platform::WaitAny(workEvents, 3, Platform::kWaitForever);
    }
    if (signalled == 0) {
      if (device->CanExit()) return 0;
      // Streams still alive keep the thread polling until their owners destroy them.
      Platform::Event* change[] = {&device->m_standardWaiting, &device->m_automaticWaiting};
      Platform::WaitAny(change, 2, 100);
      continue;
    }
    if (signalled < 0) return 1;
    bool room;
    {
      StreamGuard guard(device->m_threadLock);
      room = device->m_inFlight < device->m_maxConcurrentIO;
    }
    if (room) device->PerformIO();
  }
}

// ---------------------------------------------------------------------------------------------
// Device

float CSnStreamDevice::TicksPerMs() { return float(SoundEngine::TicksPerMillisecond()); }

SNRESULT CSnStreamDevice::Init(const SnDeviceSettings& settings, uint32_t deviceId) {
  if (settings.granularity == 0 || (settings.ioMemorySize != 0 && settings.targetAutoStmBufferLength < 0.0f))
    return SN_InvalidParameter;
  if (!(settings.schedulerTypeFlags & SnScheduler_Blocking) &&
      (settings.schedulerTypeFlags & SnScheduler_DeferredLinedUp) &&
      (settings.maxConcurrentIO < 1 || settings.maxConcurrentIO > 1024))
    return SN_InvalidParameter;
  m_granularity = settings.granularity;
  m_targetBufferingMs = settings.targetAutoStmBufferLength;
  m_maxConcurrentIO = (settings.schedulerTypeFlags & SnScheduler_Blocking) ? 1 : settings.maxConcurrentIO;
  m_deviceId = deviceId;
  m_maxPinnedBytes = settings.maxCachePinnedBytes;
  m_maxBlocks = settings.ioMemorySize / settings.granularity;
  if (m_ioMemory.Init(settings, this) != SN_Success) {
    m_ioMemory.Term();
    return SN_Failure;
  }
  const SNRESULT result = CreateThread(settings.threadPriority, settings.threadAffinityMask, settings.threadStackSize);
  if (result != SN_Success) m_ioMemory.Term();
  return result;
}

void CSnStreamDevice::Destroy() {
  StopThread();
  // Streams the thread could not free (their owners never destroyed them) go with the device.
  {
    StreamGuard guard(m_deviceLock);
    for (CSnStreamTask** list : {&m_streams, &m_caching})
      while (CSnStreamTask* stream = *list) {
        *list = stream->next;
        FreeStream(stream);
      }
  }
  m_ioMemory.Term();
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  this->~CSnStreamDevice();
  MemoryMgr::Free(pool, this);
}

void CSnStreamDevice::OnThreadBegin() { m_clock.store(uint64_t(Platform::TicksNow()), std::memory_order_relaxed); }

void CSnStreamDevice::LinkStream(CSnStreamTask* stream, bool caching) {
  StreamGuard guard(m_deviceLock);
  CSnStreamTask*& head = caching ? m_caching : m_streams;
  stream->next = head;
  head = stream;
}

void CSnStreamDevice::FreeStream(CSnStreamTask* stream) {
  stream->Unregister();
  if (stream->IsAutomatic()) {
    auto* automatic = static_cast<CSnAutomaticStream*>(stream);
    automatic->~CSnAutomaticStream();
    MemoryMgr::Free(StreamMgr::GetPoolID(), automatic);
  } else {
    auto* standard = static_cast<CSnStandardStream*>(stream);
    standard->~CSnStandardStream();
    MemoryMgr::Free(StreamMgr::GetPoolID(), standard);
  }
}

bool CSnStreamDevice::FreeDestroyedStreams(CSnStreamTask*& list) {
  bool freed = false;
  for (CSnStreamTask** link = &list; *link;) {
    CSnStreamTask* stream = *link;
    bool go;
    {
      StreamGuard guard(stream->Lock());
      go = stream->IsMarkedForDestruction() && stream->CanBeDestroyed();
    }
    if (go && stream != m_serving) {
      *link = stream->next;
      FreeStream(stream);
      freed = true;
    } else {
      link = &stream->next;
    }
  }
  return freed;
}

bool CSnStreamDevice::CanExit() {
  StreamGuard guard(m_deviceLock);
  FreeDestroyedStreams(m_streams);
  FreeDestroyedStreams(m_caching);
  return !m_streams && !m_caching;
}

void CSnStreamDevice::ReclaimMemory(int8_t priority) {
  StreamGuard guard(m_deviceLock);
  FreeDestroyedStreams(m_streams);
  FreeDestroyedStreams(m_caching);
  if (priority < 0) return;
  for (CSnStreamTask* list : {m_caching, m_streams}) {
    CSnStreamTask* lowest = nullptr;
    for (CSnStreamTask* stream = list; stream; stream = stream->next) {
      StreamGuard streamGuard(stream->Lock());
      if (stream->IsMarkedForDestruction() || !stream->IsCandidate() || stream->Priority() >= priority) continue;
      if (!lowest || stream->Priority() < lowest->Priority()) lowest = stream;
    }
    if (lowest) {
      lowest->Kill();
      return;
    }
  }
}

template <typename Stream, typename... Args>
Stream* CSnStreamDevice::NewStream(int8_t priority, Args&&... args) {
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  void* memory = MemoryMgr::Malign(pool, sizeof(Stream), alignof(Stream));
  if (!memory) {
    StreamMgr::ReclaimStreamMemory(this, priority);
    memory = MemoryMgr::Malign(pool, sizeof(Stream), alignof(Stream));
  }
  return memory ? new (memory) Stream(this, std::forward<Args>(args)...) : nullptr;
}

SNRESULT CSnStreamDevice::CreateStandardStream(SnFileDescriptor* descriptor, SnOpenMode mode, CSnStandardStream*& out) {
  out = NewStream<CSnStandardStream>(100, descriptor, mode);
  if (!out) return SN_Failure;
  LinkStream(out, false);
  return SN_Success;
}

SNRESULT CSnStreamDevice::CreateAutomaticStream(SnFileDescriptor* descriptor, int32_t cacheId,
                                                const SnAutoStmHeuristics& heuristics,
                                                const SnAutoStmBufSettings* bufferSettings, CSnAutomaticStream*& out) {
  out = NewStream<CSnAutomaticStream>(heuristics.priority, descriptor, cacheId, heuristics, bufferSettings);
  if (!out) return SN_Failure;
  LinkStream(out, false);
  return SN_Success;
}

SNRESULT CSnStreamDevice::CreateCachingStream(SnFileDescriptor* descriptor, uint32_t fileId, uint32_t pinnedSize,
                                              int8_t priority, CSnAutomaticStream*& out) {
  const SnAutoStmHeuristics heuristics{1.0f, 0, 0, 1, priority};
  out = NewStream<CSnAutomaticStream>(priority, descriptor, int32_t(fileId), heuristics, nullptr);
  if (!out) return SN_Failure;
  out->MakeCaching(pinnedSize);
  LinkStream(out, true);
  return SN_Success;
}

uint32_t CSnStreamDevice::FreeCacheMemory() {
  StreamGuard guard(m_deviceLock);
  const uint32_t usable = m_ioMemory.Allocator().UsableSize();
  const uint32_t used = m_ioMemory.BytesHandedOut() - m_ioMemory.ReleasedCachedBytes();
  uint32_t free = usable > used ? usable - used : 0;
  const uint32_t budget = m_maxPinnedBytes > m_pinnedInUse ? m_maxPinnedBytes - m_pinnedInUse : 0;
  return free < budget ? free : budget;
}

void CSnStreamDevice::FlushCache() {
  StreamGuard guard(m_deviceLock);
  m_ioMemory.Flush();
}

bool CSnStreamDevice::ServeFromCache(CSnAutomaticStream* stream) {
  StreamGuard guard(m_deviceLock);
  SnStreamTransfer transfer{};
  if (stream->CreateTransfer(transfer, true) != SnTransferOffer::Made) return false;
  stream->CompleteTransfer(transfer, SN_Success);
  return true;
}

namespace {

struct Choice {
  CSnStreamTask* stream = nullptr;
  bool needsIO = false;
  float deadline = 0.0f;
};

// True when `candidate` should be served before `best` (both of the same class).
bool Earlier(CSnStreamTask* candidate, float deadline, const Choice& best) {
  if (deadline <= 0.0f) {
    if (best.stream->Priority() < candidate->Priority() || best.deadline > 0.0f) return true;
    return best.stream->Priority() == candidate->Priority() && best.deadline <= 0.0f &&
           candidate->LastTime() < best.stream->LastTime();
  }
  return deadline < best.deadline;
}

}  // namespace

CSnAutomaticStream* CSnStreamDevice::ChooseCachingStream() {
  const bool destroyed = FreeDestroyedStreams(m_caching);
  uint32_t held = 0;
  CSnAutomaticStream* picked = nullptr;
  for (CSnStreamTask* stream = m_caching; stream; stream = stream->next) {
    auto* caching = static_cast<CSnAutomaticStream*>(stream);
    if (destroyed) caching->ReevaluateBuffering();
    held += caching->GetHeldBytes();
    StreamGuard guard(caching->Lock());
    if (caching->NeedsIO() && (!picked || caching->Priority() > picked->Priority())) picked = caching;
  }
  if (picked) {
    uint32_t missing = picked->MissingBytes();
    while (uint64_t(missing) + held > m_maxPinnedBytes) {
      CSnAutomaticStream* lowest = nullptr;
      for (CSnStreamTask* stream = m_caching; stream; stream = stream->next) {
        auto* caching = static_cast<CSnAutomaticStream*>(stream);
        if (caching == picked || caching->Priority() >= picked->Priority() || caching->GetHeldBytes() == 0) continue;
        if (!lowest || caching->Priority() < lowest->Priority()) lowest = caching;
      }
      if (!lowest) break;
      const uint32_t excess = uint32_t(uint64_t(missing) + held - m_maxPinnedBytes);
      const uint32_t freed = lowest->ReleaseBytes(excess);
      held -= freed < held ? freed : held;
      if (freed == 0) break;
    }
    if (uint64_t(missing) + held > m_maxPinnedBytes) {
      held -= picked->ReleaseBytes(0);
      picked = nullptr;
    }
  }
  m_pinnedInUse = held;
  return picked;
}

CSnStreamTask* CSnStreamDevice::ChooseNextStream(float& deadlineMs) {
  StreamGuard guard(m_deviceLock);
  const uint64_t now = uint64_t(Platform::TicksNow());
  m_clock.store(now, std::memory_order_relaxed);
  Choice best;
  if (AutomaticStreamsHeldBack()) {
    for (CSnStreamTask* stream = m_streams; stream; stream = stream->next) {
      if (stream->IsAutomatic()) continue;
      StreamGuard streamGuard(stream->Lock());
      if (!stream->NeedsIO()) continue;
      const float deadline = stream->EffectiveDeadline(now);
      if (!best.stream || Earlier(stream, deadline, best)) best = Choice{stream, true, deadline};
    }
    deadlineMs = best.deadline;
    return m_serving = best.stream;
  }
  FreeDestroyedStreams(m_streams);
  for (CSnStreamTask* stream = m_streams; stream; stream = stream->next) {
    StreamGuard streamGuard(stream->Lock());
    if (!stream->IsCandidate()) continue;
    const bool needs = stream->NeedsIO();
    const float deadline = stream->EffectiveDeadline(now);
    if (!best.stream || (needs && !best.needsIO) || (needs == best.needsIO && Earlier(stream, deadline, best)))
      best = Choice{stream, needs, deadline};
  }
  if (best.stream && best.needsIO) {
    deadlineMs = best.deadline;
    return m_serving = best.stream;
  }
  deadlineMs = 0.0f;
  return m_serving = ChooseCachingStream();
}

bool CSnStreamDevice::OpenDeferred(CSnStreamTask* stream) {
  SnDeferredOpen* record = stream->DeferredOpenRecord();
  if (!record) return true;
  StreamMgr::ISnFileLocationResolver* resolver = StreamMgr::GetFileLocationResolver();
  SNRESULT result = SN_Failure;
  if (resolver) {
    bool sync = true;
    SnFileLookupFlags* flags = record->hasFlags ? &record->flags : nullptr;
    result = record->name ? resolver->OpenByName(record->name, record->mode, flags, sync, stream->Descriptor())
                          : resolver->OpenById(record->fileId, record->mode, flags, sync, stream->Descriptor());
  }
  stream->FinishDeferredOpen(result);
  return result == SN_Success && !stream->IsMarkedForDestruction();
}

bool CSnStreamDevice::PrepareTransfer(CSnStreamTask* stream, SnStreamTransfer& transfer) {
  if (!OpenDeferred(stream)) return false;
  SnTransferOffer offer;
  {
    // The offer and the check of its refusal see one state of the stream: a reader that stops its
    // stream (nothing offered) and sets it running again in between must not read as a stream that
    // wants data and can never be given any.
    StreamGuard guard(m_deviceLock);
    StreamGuard streamGuard(stream->Lock());
    offer = stream->CreateTransfer(transfer, false);
    // Since this thread chose it, the stream's reader may have been served from the cache, or have
    // stopped the stream, and need nothing more: that is no fault of the stream.
    if (offer == SnTransferOffer::None && !stream->NeedsIO()) return false;
  }
  if (offer == SnTransferOffer::Made) return true;
  if (offer == SnTransferOffer::NoMemory && m_ioMemory.HasMemory()) {
    // Blocks come back when readers release them; a reader waiting on this stream re-checks.
    stream->WakeWaiter();
    if (!stream->IsAutomatic()) WaitForChange(1);
    return false;
  }
  // No transfer can ever be made for a stream that asked for one (53): it stops in its error state.
  stream->Kill();
  return false;
}

void CSnStreamDevice::FinishTransfer(SnStreamTransfer& transfer, SNRESULT result) {
  StreamGuard guard(m_deviceLock);
  if (result != SN_Success && transfer.block) m_ioMemory.RemoveFromCache(transfer.block);
  transfer.stream->CompleteTransfer(transfer, result);
}

void CSnStreamDevice::DoneServing() {
  StreamGuard guard(m_deviceLock);
  m_serving = nullptr;
}

void CSnBlockingStreamDevice::PerformIO() {
  float deadline = 0.0f;
  CSnStreamTask* stream = ChooseNextStream(deadline);
  if (!stream) return;
  SnStreamTransfer transfer{};
  const bool made = PrepareTransfer(stream, transfer);
  DoneServing();
  if (!made) return;
  SNRESULT result = SN_Success;
  if (!transfer.fromCache) {
    SnTransferHints hints{deadline, stream->Priority()};
    auto* hook = static_cast<StreamMgr::ISnIOHookBlocking*>(m_hook);
    result = transfer.write ? hook->Write(stream->Descriptor(), hints, transfer.address, transfer.request)
                            : hook->Read(stream->Descriptor(), hints, transfer.address, transfer.request);
  }
  FinishTransfer(transfer, result);
}

// ---------------------------------------------------------------------------------------------
// Deferred device

SNRESULT CSnDeferredStreamDevice::Init(const SnDeviceSettings& settings, uint32_t deviceId) {
  if (settings.maxConcurrentIO == 0) return SN_InvalidParameter;
  const uint32_t count = settings.maxConcurrentIO;
  m_records = static_cast<Record*>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), count * sizeof(Record)));
  if (!m_records) return SN_Failure;
  for (uint32_t i = 0; i < count; ++i) {
    m_records[i] = Record{};
    m_records[i].device = this;
    m_records[i].nextFree = i + 1 < count ? &m_records[i + 1] : nullptr;
    PoisonFreeRecord(&m_records[i]);
  }
  m_freeHead = m_records;
  m_freeTail = &m_records[count - 1];
  m_freeCount = count;
  const SNRESULT result = CSnStreamDevice::Init(settings, deviceId);
  if (result != SN_Success) {
    MemoryMgr::Free(StreamMgr::GetPoolID(), m_records);
    m_records = nullptr;
  }
  return result;
}

void CSnDeferredStreamDevice::Destroy() {
  StopThread();
  MemoryMgr::Free(StreamMgr::GetPoolID(), m_records);
  m_records = nullptr;
  CSnStreamDevice::Destroy();
}

void CSnDeferredStreamDevice::PerformIO() {
  float deadline = 0.0f;
  CSnStreamTask* stream = ChooseNextStream(deadline);
  if (!stream) return;
  Record* record;
  {
    StreamGuard guard(m_deviceLock);
    record = m_freeHead;
    if (!record) {
      m_serving = nullptr;
      return;
    }
    m_freeHead = record->nextFree;
    if (!m_freeHead) m_freeTail = nullptr;
    --m_freeCount;
    Base::UnpoisonRegion(record, sizeof *record);
  }
  record->transfer = SnStreamTransfer{};
  const bool made = PrepareTransfer(stream, record->transfer);
  DoneServing();
  if (!made) {
    ReturnRecordFirst(record);
    return;
  }
  if (record->transfer.fromCache) {
    FinishTransfer(record->transfer, SN_Success);
    ReturnRecordFirst(record);
    return;
  }
  record->async = StreamMgr::SnAsyncTransfer{record->transfer.request, record->transfer.address, &OnComplete, record};
  TransferBegun();
  SnTransferHints hints{deadline, stream->Priority()};
  auto* hook = static_cast<StreamMgr::ISnIOHookDeferred*>(m_hook);
  const SNRESULT taken = record->transfer.write ? hook->WriteAsync(stream->Descriptor(), hints, record->async)
                                                : hook->ReadAsync(stream->Descriptor(), hints, record->async);
  if (taken != SN_Success) OnComplete(&record->async, SN_Failure);
}

void CSnDeferredStreamDevice::OnComplete(StreamMgr::SnAsyncTransfer* transfer, SNRESULT result) {
  Record* record = static_cast<Record*>(transfer->cookie);
  CSnDeferredStreamDevice* device = record->device;
  device->FinishTransfer(record->transfer, result);
  {
    StreamGuard guard(device->m_deviceLock);
    record->nextFree = nullptr;
    if (device->m_freeTail)
      device->m_freeTail->nextFree = record;
    else
      device->m_freeHead = record;
    device->m_freeTail = record;
    ++device->m_freeCount;
    PoisonFreeRecord(record);
  }
  device->TransferEnded();
}

// A record that was never handed to the hook is taken again first.
void CSnDeferredStreamDevice::ReturnRecordFirst(Record* record) {
  StreamGuard guard(m_deviceLock);
  record->nextFree = m_freeHead;
  m_freeHead = record;
  if (!m_freeTail) m_freeTail = record;
  ++m_freeCount;
  PoisonFreeRecord(record);
}

// A free record keeps only its link, the last field, addressable: a hook that touches its transfer
// after completing it is reported.
void CSnDeferredStreamDevice::PoisonFreeRecord(Record* record) {
  static_assert(offsetof(Record, nextFree) + sizeof(Record*) == sizeof(Record));
  Base::PoisonRegion(record, offsetof(Record, nextFree));
}

}  // namespace SN
