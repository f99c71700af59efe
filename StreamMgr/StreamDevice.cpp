// The I/O thread of a device and its scheduler: which stream is served next, the blocking and the
// deferred transfer paths, and the caching pass that keeps pinned files within their budget.
#include "StreamMgr/StreamDevice.h"

#include <new>

#include "Platform/Clock.h"
#include "SoundEngine/Lower/StartNamedThread.h"
#include "SoundEngine/SoundEngine.h"
#include "StreamMgr/StreamManager.h"

namespace SN {

// ---------------------------------------------------------------------------------------------
// Thread part

void CSnIOSchedulerThread::StandardStreamWaiting() {
  StreamGuard guard(threadLock_);
  signals_.fetch_add(1, std::memory_order_release);
  if (++standardCount_ == 1) standardWaiting_.Set();
}

void CSnIOSchedulerThread::StandardStreamDone() {
  StreamGuard guard(threadLock_);
  if (standardCount_ && --standardCount_ == 0) standardWaiting_.Clear();
}

void CSnIOSchedulerThread::AutomaticStreamWaiting() {
  StreamGuard guard(threadLock_);
  signals_.fetch_add(1, std::memory_order_release);
  if (++automaticCount_ == 1 && !automaticHeldBack_) automaticWaiting_.Set();
}

void CSnIOSchedulerThread::AutomaticStreamDone() {
  StreamGuard guard(threadLock_);
  if (automaticCount_ && --automaticCount_ == 0) automaticWaiting_.Clear();
}

void CSnIOSchedulerThread::HoldBackAutomaticStreams() {
  StreamGuard guard(threadLock_);
  automaticHeldBack_ = true;
  if (automaticCount_) automaticWaiting_.Clear();
}

void CSnIOSchedulerThread::ReleaseAutomaticStreams() {
  if (!automaticHeldBack_.load(std::memory_order_acquire)) return;
  StreamGuard guard(threadLock_);
  automaticHeldBack_ = false;
  signals_.fetch_add(1, std::memory_order_release);
  if (automaticCount_) automaticWaiting_.Set();
}

bool CSnIOSchedulerThread::AutomaticStreamsHeldBack() { return automaticHeldBack_.load(std::memory_order_acquire); }

bool CSnIOSchedulerThread::ReadyForMore() {
  if (stopping_.load(std::memory_order_acquire)) return false;
  StreamGuard guard(threadLock_);
  return inFlight_ < maxConcurrentIO_ && (standardCount_ || (automaticCount_ && !automaticHeldBack_));
}

void CSnIOSchedulerThread::TransferBegun() {
  StreamGuard guard(threadLock_);
  if (++inFlight_ >= maxConcurrentIO_) gate_.Clear();
}

void CSnIOSchedulerThread::TransferEnded() {
  StreamGuard guard(threadLock_);
  if (inFlight_ && --inFlight_ == maxConcurrentIO_ - 1) gate_.Set();
}

uint32_t CSnIOSchedulerThread::TransfersInFlight() {
  StreamGuard guard(threadLock_);
  return inFlight_;
}

SNRESULT CSnIOSchedulerThread::CreateThread(int32_t priority, uint32_t affinityMask, uint32_t stackSize) {
  stopping_ = false;
  stop_.Clear();
  gate_.Set();
  standardWaiting_.Clear();
  automaticWaiting_.Clear();
  standardCount_ = automaticCount_ = inFlight_ = 0;
  automaticHeldBack_ = false;
  const SnThreadSettings settings{priority, affinityMask, stackSize};
  StartNamedThread(&ThreadBody, this, settings, &thread_, "SN::IOThread");
  return thread_ ? SN_Success : SN_Failure;
}

void CSnIOSchedulerThread::StopThread() {
  if (!thread_) return;
  stopping_ = true;
  stop_.Set();
  Platform::JoinThread(thread_);
  thread_ = nullptr;
  standardCount_ = automaticCount_ = inFlight_ = 0;
}

void CSnIOSchedulerThread::WaitForChange(uint32_t ms) {
  Platform::Event* events[] = {&stop_};
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
      const uint32_t seen = device->signals_.load(std::memory_order_acquire);
      for (int spin = 0; spin < kSpinsBeforeSleep && device->signals_.load(std::memory_order_acquire) == seen &&
                         !device->stopping_.load(std::memory_order_acquire);
           ++spin)
        StreamLock::Relax();
      continue;
    }
    watched = false;
    Platform::Event* gateEvents[] = {&device->stop_, &device->gate_};
    int signalled = Platform::WaitAny(gateEvents, 2, Platform::kWaitForever);
    if (signalled == 1) {
      Platform::Event* workEvents[] = {&device->stop_, &device->standardWaiting_, &device->automaticWaiting_};
      signalled = Platform::WaitAny(workEvents, 3, Platform::kWaitForever);
    }
    if (signalled == 0) {
      if (device->CanExit()) return 0;
      // Streams still alive keep the thread polling until their owners destroy them.
      Platform::Event* change[] = {&device->standardWaiting_, &device->automaticWaiting_};
      Platform::WaitAny(change, 2, 100);
      continue;
    }
    if (signalled < 0) return 1;
    bool room;
    {
      StreamGuard guard(device->threadLock_);
      room = device->inFlight_ < device->maxConcurrentIO_;
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
  if (!(settings.schedulerTypeFlags & SnScheduler_Blocking) && (settings.schedulerTypeFlags & SnScheduler_DeferredLinedUp) &&
      (settings.maxConcurrentIO < 1 || settings.maxConcurrentIO > 1024))
    return SN_InvalidParameter;
  granularity_ = settings.granularity;
  targetBufferingMs_ = settings.targetAutoStmBufferLength;
  maxConcurrentIO_ = (settings.schedulerTypeFlags & SnScheduler_Blocking) ? 1 : settings.maxConcurrentIO;
  deviceId_ = deviceId;
  maxPinnedBytes_ = settings.maxCachePinnedBytes;
  maxBlocks_ = settings.ioMemorySize / settings.granularity;
  if (ioMemory_.Init(settings, this) != SN_Success) {
    ioMemory_.Term();
    return SN_Failure;
  }
  const SNRESULT result = CreateThread(settings.threadPriority, settings.threadAffinityMask, settings.threadStackSize);
  if (result != SN_Success) ioMemory_.Term();
  return result;
}

void CSnStreamDevice::Destroy() {
  StopThread();
  // Streams the thread could not free (their owners never destroyed them) go with the device.
  {
    StreamGuard guard(deviceLock_);
    for (CSnStreamTask** list : {&streams_, &caching_})
      while (CSnStreamTask* stream = *list) {
        *list = stream->next;
        FreeStream(stream);
      }
  }
  ioMemory_.Term();
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  this->~CSnStreamDevice();
  MemoryMgr::Free(pool, this);
}

void CSnStreamDevice::OnThreadBegin() { clock_ = uint64_t(Platform::TicksNow()); }

void CSnStreamDevice::LinkStream(CSnStreamTask* stream, bool caching) {
  StreamGuard guard(deviceLock_);
  CSnStreamTask*& head = caching ? caching_ : streams_;
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
    if (go && stream != serving_) {
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
  StreamGuard guard(deviceLock_);
  FreeDestroyedStreams(streams_);
  FreeDestroyedStreams(caching_);
  return !streams_ && !caching_;
}

void CSnStreamDevice::ReclaimMemory(int8_t priority) {
  StreamGuard guard(deviceLock_);
  FreeDestroyedStreams(streams_);
  FreeDestroyedStreams(caching_);
  if (priority < 0) return;
  for (CSnStreamTask* list : {caching_, streams_}) {
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
  StreamGuard guard(deviceLock_);
  const uint32_t usable = ioMemory_.Allocator().UsableSize();
  const uint32_t used = ioMemory_.BytesHandedOut() - ioMemory_.ReleasedCachedBytes();
  uint32_t free = usable > used ? usable - used : 0;
  const uint32_t budget = maxPinnedBytes_ > pinnedInUse_ ? maxPinnedBytes_ - pinnedInUse_ : 0;
  return free < budget ? free : budget;
}

void CSnStreamDevice::FlushCache() {
  StreamGuard guard(deviceLock_);
  ioMemory_.Flush();
}

bool CSnStreamDevice::ServeFromCache(CSnAutomaticStream* stream) {
  StreamGuard guard(deviceLock_);
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
  const bool destroyed = FreeDestroyedStreams(caching_);
  uint32_t held = 0;
  CSnAutomaticStream* picked = nullptr;
  for (CSnStreamTask* stream = caching_; stream; stream = stream->next) {
    auto* caching = static_cast<CSnAutomaticStream*>(stream);
    if (destroyed) caching->ReevaluateBuffering();
    held += caching->GetHeldBytes();
    StreamGuard guard(caching->Lock());
    if (caching->NeedsIO() && (!picked || caching->Priority() > picked->Priority())) picked = caching;
  }
  if (picked) {
    uint32_t missing = picked->MissingBytes();
    while (uint64_t(missing) + held > maxPinnedBytes_) {
      CSnAutomaticStream* lowest = nullptr;
      for (CSnStreamTask* stream = caching_; stream; stream = stream->next) {
        auto* caching = static_cast<CSnAutomaticStream*>(stream);
        if (caching == picked || caching->Priority() >= picked->Priority() || caching->GetHeldBytes() == 0) continue;
        if (!lowest || caching->Priority() < lowest->Priority()) lowest = caching;
      }
      if (!lowest) break;
      const uint32_t excess = uint32_t(uint64_t(missing) + held - maxPinnedBytes_);
      const uint32_t freed = lowest->ReleaseBytes(excess);
      held -= freed < held ? freed : held;
      if (freed == 0) break;
    }
    if (uint64_t(missing) + held > maxPinnedBytes_) {
      held -= picked->ReleaseBytes(0);
      picked = nullptr;
    }
  }
  pinnedInUse_ = held;
  return picked;
}

CSnStreamTask* CSnStreamDevice::ChooseNextStream(float& deadlineMs) {
  StreamGuard guard(deviceLock_);
  clock_ = uint64_t(Platform::TicksNow());
  Choice best;
  if (AutomaticStreamsHeldBack()) {
    for (CSnStreamTask* stream = streams_; stream; stream = stream->next) {
      if (stream->IsAutomatic()) continue;
      StreamGuard streamGuard(stream->Lock());
      if (!stream->NeedsIO()) continue;
      const float deadline = stream->EffectiveDeadline(clock_);
      if (!best.stream || Earlier(stream, deadline, best)) best = Choice{stream, true, deadline};
    }
    deadlineMs = best.deadline;
    return serving_ = best.stream;
  }
  FreeDestroyedStreams(streams_);
  for (CSnStreamTask* stream = streams_; stream; stream = stream->next) {
    StreamGuard streamGuard(stream->Lock());
    if (!stream->IsCandidate()) continue;
    const bool needs = stream->NeedsIO();
    const float deadline = stream->EffectiveDeadline(clock_);
    if (!best.stream || (needs && !best.needsIO) || (needs == best.needsIO && Earlier(stream, deadline, best)))
      best = Choice{stream, needs, deadline};
  }
  if (best.stream && best.needsIO) {
    deadlineMs = best.deadline;
    return serving_ = best.stream;
  }
  deadlineMs = 0.0f;
  return serving_ = ChooseCachingStream();
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
    StreamGuard guard(deviceLock_);
    offer = stream->CreateTransfer(transfer, false);
  }
  if (offer == SnTransferOffer::Made) return true;
  if (offer == SnTransferOffer::NoMemory && ioMemory_.HasMemory()) {
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
  StreamGuard guard(deviceLock_);
  if (result != SN_Success && transfer.block) ioMemory_.RemoveFromCache(transfer.block);
  transfer.stream->CompleteTransfer(transfer, result);
}

void CSnStreamDevice::DoneServing() {
  StreamGuard guard(deviceLock_);
  serving_ = nullptr;
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
    auto* hook = static_cast<StreamMgr::ISnIOHookBlocking*>(hook_);
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
  records_ = static_cast<Record*>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), count * sizeof(Record)));
  if (!records_) return SN_Failure;
  for (uint32_t i = 0; i < count; ++i) {
    records_[i] = Record{};
    records_[i].device = this;
    records_[i].nextFree = i + 1 < count ? &records_[i + 1] : nullptr;
  }
  freeHead_ = records_;
  freeTail_ = &records_[count - 1];
  freeCount_ = count;
  const SNRESULT result = CSnStreamDevice::Init(settings, deviceId);
  if (result != SN_Success) {
    MemoryMgr::Free(StreamMgr::GetPoolID(), records_);
    records_ = nullptr;
  }
  return result;
}

void CSnDeferredStreamDevice::Destroy() {
  StopThread();
  MemoryMgr::Free(StreamMgr::GetPoolID(), records_);
  records_ = nullptr;
  CSnStreamDevice::Destroy();
}

void CSnDeferredStreamDevice::PerformIO() {
  float deadline = 0.0f;
  CSnStreamTask* stream = ChooseNextStream(deadline);
  if (!stream) return;
  Record* record;
  {
    StreamGuard guard(deviceLock_);
    record = freeHead_;
    if (!record) {
      serving_ = nullptr;
      return;
    }
    freeHead_ = record->nextFree;
    if (!freeHead_) freeTail_ = nullptr;
    --freeCount_;
  }
  record->transfer = SnStreamTransfer{};
  const bool made = PrepareTransfer(stream, record->transfer);
  DoneServing();
  if (!made) {
    StreamGuard guard(deviceLock_);
    record->nextFree = freeHead_;
    freeHead_ = record;
    if (!freeTail_) freeTail_ = record;
    ++freeCount_;
    return;
  }
  if (record->transfer.fromCache) {
    FinishTransfer(record->transfer, SN_Success);
    StreamGuard guard(deviceLock_);
    record->nextFree = freeHead_;
    freeHead_ = record;
    if (!freeTail_) freeTail_ = record;
    ++freeCount_;
    return;
  }
  record->async = StreamMgr::SnAsyncTransfer{record->transfer.request, record->transfer.address, &OnComplete, record};
  TransferBegun();
  SnTransferHints hints{deadline, stream->Priority()};
  auto* hook = static_cast<StreamMgr::ISnIOHookDeferred*>(hook_);
  const SNRESULT taken = record->transfer.write ? hook->WriteAsync(stream->Descriptor(), hints, record->async)
                                                : hook->ReadAsync(stream->Descriptor(), hints, record->async);
  if (taken != SN_Success) OnComplete(&record->async, SN_Failure);
}

void CSnDeferredStreamDevice::OnComplete(StreamMgr::SnAsyncTransfer* transfer, SNRESULT result) {
  Record* record = static_cast<Record*>(transfer->cookie);
  CSnDeferredStreamDevice* device = record->device;
  device->FinishTransfer(record->transfer, result);
  {
    StreamGuard guard(device->deviceLock_);
    record->nextFree = nullptr;
    if (device->freeTail_)
      device->freeTail_->nextFree = record;
    else
      device->freeHead_ = record;
    device->freeTail_ = record;
    ++device->freeCount_;
  }
  device->TransferEnded();
}

}  // namespace SN
