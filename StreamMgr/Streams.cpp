// Standard and automatic streams: requests, buffering towards a target, and the completions the
// device's thread brings. Lock order: the device lock, then the stream lock (see StreamDevice.h).
#include "StreamMgr/Streams.h"

#include <cstring>
#include <new>

#include "Platform/Clock.h"
#include "StreamMgr/StreamDevice.h"

namespace SN {

namespace {

uint32_t Gcd(uint32_t a, uint32_t b) {
  while (b) {
    const uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// The new position of a move, or -1 when the method is unknown or the result negative.
int64_t MoveTarget(int64_t move, SnMoveMethod method, uint64_t current, int64_t fileSize) {
  int64_t base = 0;
  switch (method) {
    case SnMove_Begin: base = 0; break;
    case SnMove_Current: base = int64_t(current); break;
    case SnMove_End: base = fileSize; break;
    default: return -1;
  }
  const int64_t target = base + move;
  return target < 0 ? -1 : target;
}

}  // namespace

CSnStreamTask::CSnStreamTask(CSnStreamDevice* device, SnFileDescriptor* descriptor, bool automatic)
    : device_(device), descriptor_(descriptor), automatic_(automatic) {
  lastTime_ = device->Clock();
}

CSnStreamTask::~CSnStreamTask() {
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  if (fileOpen_ && descriptor_) device_->Hook()->Close(*descriptor_);
  if (deferred_) {
    MemoryMgr::Free(pool, deferred_->name);
    MemoryMgr::Free(pool, deferred_);
  }
  MemoryMgr::Free(pool, descriptor_);
  MemoryMgr::Free(pool, name_);
}

bool CSnStreamTask::CanBeDestroyed() { return inFlight_ == 0; }

void CSnStreamTask::WakeWaiter() {
  StreamGuard guard(lock_);
  Changed();
}

void CSnStreamTask::Changed() {
  changes_.fetch_add(1, std::memory_order_release);
  if (waiter_) {
    waiter_ = false;
    wake_.Set();
  }
}

void CSnStreamTask::WaitForWake(bool soon) {
  // A transfer takes a few microseconds: a reader that drains its stream faster than the device
  // fills it would otherwise sleep and be woken for every block. Watch for a change briefly
  // first; every change counts under the lock, and the callers re-check their condition after
  // any return.
  const uint32_t seen = changes_.load(std::memory_order_acquire);
  lock_.unlock();
  for (int spin = 0; soon && spin < kSpinsBeforeSleep && changes_.load(std::memory_order_acquire) == seen; ++spin)
    StreamLock::Relax();
  lock_.lock();
  if (changes_.load(std::memory_order_acquire) != seen) return;
  waiter_ = true;
  wake_.Clear();
  lock_.unlock();
  wake_.Wait(Platform::kWaitForever);
  lock_.lock();
}

void CSnStreamTask::SetWaiting(bool waiting) {
  if (waiting == countedWaiting_) return;
  countedWaiting_ = waiting;
  if (automatic_) {
    if (waiting)
      device_->AutomaticStreamWaiting();
    else
      device_->AutomaticStreamDone();
  } else {
    if (waiting)
      device_->StandardStreamWaiting();
    else
      device_->StandardStreamDone();
  }
}

void CSnStreamTask::MarkForDestruction() {
  StreamGuard guard(lock_);
  markedForDestruction_ = true;
  // The device's thread frees it; it must wake for that.
  SetWaiting(CanBeDestroyed() || NeedsIO());
}

void CSnStreamTask::SetNameCopy(const char16_t* name, SNRESULT& result) {
  StreamGuard guard(lock_);
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  result = SN_Success;
  char16_t* copy = nullptr;
  if (name) {
    size_t length = 0;
    while (name[length]) ++length;
    copy = static_cast<char16_t*>(MemoryMgr::Malloc(pool, (length + 1) * sizeof(char16_t)));
    if (!copy) {
      result = SN_InsufficientMemory;
      return;
    }
    memcpy(copy, name, (length + 1) * sizeof(char16_t));
  }
  MemoryMgr::Free(pool, name_);
  name_ = copy;
}

SNRESULT CSnStreamTask::TakeBlockSize() {
  const uint32_t granularity = device_->Granularity();
  blockSize_ = device_->Hook()->GetFileBlockSize(*descriptor_);
  if (blockSize_ == 0 || blockSize_ > granularity || granularity % blockSize_ != 0) {
    markedForDestruction_ = true;
    return SN_Failure;
  }
  return SN_Success;
}

SNRESULT CSnStreamTask::FileOpenedAtCreation() {
  StreamGuard guard(lock_);
  fileOpen_ = true;
  return OnFileOpened();
}

void CSnStreamTask::Unregister() {
  StreamGuard guard(lock_);
  SetWaiting(false);
}

void CSnStreamTask::FinishDeferredOpen(SNRESULT openResult) {
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  StreamGuard guard(lock_);
  if (deferred_) {
    MemoryMgr::Free(pool, deferred_->name);
    MemoryMgr::Free(pool, deferred_);
    deferred_ = nullptr;
  }
  // The caller still holds the stream: a failed set-up leaves it in its error state, never freed
  // under the caller's hands.
  const bool markedByOwner = markedForDestruction_;
  if (openResult == SN_Success) {
    fileOpen_ = true;
    if (OnFileOpened() == SN_Success) return;
  }
  markedForDestruction_ = markedByOwner;
  Kill();
}

// ---------------------------------------------------------------------------------------------
// Standard stream

CSnStandardStream::CSnStandardStream(CSnStreamDevice* device, SnFileDescriptor* descriptor, SnOpenMode mode)
    : CSnStreamTask(device, descriptor, false), mode_(mode) {}

void CSnStandardStream::Destroy() {
  Cancel();
  MarkForDestruction();
}

void CSnStandardStream::GetInfo(SnStreamInfo& info) {
  StreamGuard guard(lock_);
  info = SnStreamInfo{device_->DeviceId(), name_, uint64_t(descriptor_->fileSize > 0 ? descriptor_->fileSize : 0),
                      fileOpen_};
}

SNRESULT CSnStandardStream::SetName(const char16_t* name) {
  SNRESULT result;
  SetNameCopy(name, result);
  return result;
}

SNRESULT CSnStandardStream::OnFileOpened() {
  if (descriptor_->fileSize < 0) {
    markedForDestruction_ = true;
    return SN_InvalidParameter;
  }
  return TakeBlockSize();
}

void CSnStandardStream::SetStatus(SnStmStatus status) {
  status_ = status;
  if (status != SnStmStatus_Pending) {
    Changed();
  }
  UpdateWaiting();
}

void CSnStandardStream::UpdateWaiting() {
  SetWaiting((status_ == SnStmStatus_Pending && issued_ < requested_ && !failed_) ||
             (markedForDestruction_ && CanBeDestroyed()));
}

void CSnStandardStream::Kill() {
  StreamGuard guard(lock_);
  failed_ = true;
  // Transfers still in flight write into the caller's buffer: the error waits for the last one.
  if (inFlight_ == 0 || status_ != SnStmStatus_Pending) SetStatus(SnStmStatus_Error);
}

SNRESULT CSnStandardStream::Read(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs,
                                 uint32_t& outSize) {
  return Transfer(buffer, size, wait, priority, deadlineMs, outSize, false);
}

SNRESULT CSnStandardStream::Write(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs,
                                  uint32_t& outSize) {
  return Transfer(buffer, size, wait, priority, deadlineMs, outSize, true);
}

SNRESULT CSnStandardStream::Transfer(void* buffer, uint32_t size, bool wait, int8_t priority, float deadlineMs,
                                     uint32_t& outSize, bool write) {
  outSize = 0;
  if (!buffer || priority < 0 || priority > 100 || deadlineMs < 0.0f) return SN_InvalidParameter;
  StreamGuard guard(lock_);
  if (status_ == SnStmStatus_Pending || status_ == SnStmStatus_Error || markedForDestruction_) return SN_Failure;
  if (!write && size % blockSize_ != 0) return SN_Failure;
  if (!write && fileOpen_) {
    const uint64_t fileSize = uint64_t(descriptor_->fileSize);
    const uint64_t left = position_ < fileSize ? fileSize - position_ : 0;
    if (size >= left) {
      size = uint32_t(left);
      endOfFile_ = true;
    } else {
      endOfFile_ = false;
    }
  }
  writing_ = write;
  priority_ = priority;
  deadlineMs_ = deadlineMs;
  buffer_ = static_cast<uint8_t*>(buffer);
  requested_ = size;
  issued_ = 0;
  transferred_ = 0;
  failed_ = false;
  if (size == 0) {
    SetStatus(SnStmStatus_Completed);
    return SN_Success;
  }
  lastTime_ = uint64_t(Platform::TicksNow());
  SetStatus(SnStmStatus_Pending);
  if (!wait) {
    outSize = size;
    return SN_Success;
  }
  // Spinning pays only when the end is a few transfers away; it would slow the device's thread on
  // a shared core for longer requests.
  while (status_ == SnStmStatus_Pending)
    WaitForWake(requested_ - transferred_ <= (kWakeAheadTransfers + 1) * device_->Granularity());
  outSize = size;
  return status_ == SnStmStatus_Completed ? SN_Success : SN_Failure;
}

uint64_t CSnStandardStream::GetPosition(bool* endOfFile) {
  StreamGuard guard(lock_);
  if (endOfFile) *endOfFile = fileOpen_ && position_ >= uint64_t(descriptor_->fileSize);
  return position_;
}

SNRESULT CSnStandardStream::SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) {
  StreamGuard guard(lock_);
  if (status_ == SnStmStatus_Pending) return SN_Failure;
  const int64_t target = MoveTarget(move, method, position_, descriptor_->fileSize);
  if (target < 0) return SN_InvalidParameter;
  const uint64_t rounded = uint64_t(target) / blockSize_ * blockSize_;
  int64_t real = int64_t(rounded) - int64_t(position_);
  if (method == SnMove_End) real = int64_t(rounded) - descriptor_->fileSize;
  position_ = rounded;
  if (fileOpen_) endOfFile_ = position_ >= uint64_t(descriptor_->fileSize);
  if (realMove) *realMove = real;
  return SN_Success;
}

void CSnStandardStream::Cancel() {
  StreamGuard guard(lock_);
  if (status_ == SnStmStatus_Pending) {
    ++generation_;
    SetStatus(SnStmStatus_Cancelled);
  }
  while (inFlight_ > 0) WaitForWake(true);
}

void* CSnStandardStream::GetData(uint32_t& size) {
  StreamGuard guard(lock_);
  size = transferred_;
  return buffer_;
}

SnStmStatus CSnStandardStream::GetStatus() {
  StreamGuard guard(lock_);
  return status_;
}

bool CSnStandardStream::NeedsIO() {
  return status_ == SnStmStatus_Pending && issued_ < requested_ && !failed_ && !markedForDestruction_;
}

bool CSnStandardStream::IsCandidate() { return NeedsIO(); }

float CSnStandardStream::EffectiveDeadline(uint64_t clock) {
  const uint32_t granularity = device_->Granularity();
  const uint32_t left = requested_ - issued_;
  const uint32_t transfers = left ? (left + granularity - 1) / granularity : 1;
  const float elapsed = float(clock > lastTime_ ? clock - lastTime_ : 0) / CSnStreamDevice::TicksPerMs();
  const float deadline = deadlineMs_ / float(transfers) - elapsed;
  return deadline > 0.0f ? deadline : 0.0f;
}

SnTransferOffer CSnStandardStream::CreateTransfer(SnStreamTransfer& transfer, bool cacheOnly) {
  StreamGuard guard(lock_);
  if (cacheOnly || !NeedsIO()) return SnTransferOffer::None;
  // The caller's buffer stays untouched by anyone else until the request ends (Cancel and the
  // waits below let every transfer in flight finish first), so the hook moves the bytes straight
  // to or from it, a granularity at a time, with no block of I/O memory and no copy.
  const uint32_t granularity = device_->Granularity();
  const uint32_t size = requested_ - issued_ < granularity ? requested_ - issued_ : granularity;
  const uint64_t offset = position_ + issued_;
  transfer = SnStreamTransfer{{uint64_t(descriptor_->firstBlock) * blockSize_ + offset, size, size},
                              nullptr, buffer_ + issued_, this, issued_, size, generation_, writing_, false};
  issued_ += size;
  ++inFlight_;
  // A sleeping caller takes longer to wake than the last few transfers take: wake it now, and it
  // watches the end of its request come (see Transfer).
  if (waiter_ && requested_ - issued_ <= kWakeAheadTransfers * granularity) Changed();
  UpdateWaiting();
  return SnTransferOffer::Made;
}

void CSnStandardStream::CompleteTransfer(SnStreamTransfer& transfer, SNRESULT result) {
  StreamGuard guard(lock_);
  --inFlight_;
  if (transfer.generation == generation_ && status_ == SnStmStatus_Pending) {
    if (result == SN_Success) {
      transferred_ += transfer.countedBytes;
      if (transferred_ == requested_) {
        position_ += requested_;
        if (writing_ && int64_t(position_) > descriptor_->fileSize) descriptor_->fileSize = int64_t(position_);
        SetStatus(SnStmStatus_Completed);
      }
    } else {
      failed_ = true;
    }
    // The caller learns of a failure only once no transfer still uses its buffer.
    if (failed_ && inFlight_ == 0) SetStatus(SnStmStatus_Error);
  }
  // Callers wait for the end of their request, or for the last transfer of a cancelled one; the
  // blocks in between wake nobody.
  if (status_ != SnStmStatus_Pending && inFlight_ == 0) Changed();
  UpdateWaiting();
}

// ---------------------------------------------------------------------------------------------
// Automatic stream

CSnAutomaticStream::CSnAutomaticStream(CSnStreamDevice* device, SnFileDescriptor* descriptor, int32_t cacheId,
                                       const SnAutoStmHeuristics& heuristics,
                                       const SnAutoStmBufSettings* bufferSettings)
    : CSnStreamTask(device, descriptor, true), cacheId_(cacheId), heuristics_(heuristics) {
  if (bufferSettings) {
    constraints_ = *bufferSettings;
    hasConstraints_ = true;
  }
  priority_ = heuristics.priority;
  capacity_ = device->MaxBlocks() + 1;
  buffers_ = static_cast<SnIOBlock**>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), capacity_ * sizeof(SnIOBlock*)));
  if (!buffers_) capacity_ = 0;
}

CSnAutomaticStream::~CSnAutomaticStream() { MemoryMgr::Free(StreamMgr::GetPoolID(), buffers_); }

void CSnAutomaticStream::MakeCaching(uint32_t bytes) {
  caching_ = true;
  const uint32_t block = bufferSize_ ? bufferSize_ : blockSize_;
  uint32_t pinned = (bytes + block - 1) / block * block;
  pinnedSize_ = pinned < 2048 ? 2048 : pinned;
}

void CSnAutomaticStream::SetPriority(int8_t priority) {
  StreamGuard guard(lock_);
  priority_ = priority;
  heuristics_.priority = priority;
}

SNRESULT CSnAutomaticStream::OnFileOpened() {
  if (!buffers_) {
    markedForDestruction_ = true;
    return SN_InsufficientMemory;
  }
  if (descriptor_->fileSize < 0) {
    markedForDestruction_ = true;
    return SN_InvalidParameter;
  }
  if (TakeBlockSize() != SN_Success) return SN_Failure;
  if (heuristics_.throughput < 1.0f) heuristics_.throughput = 1.0f;
  heuristics_.loopStart = heuristics_.loopStart / blockSize_ * blockSize_;
  if (heuristics_.loopEnd > descriptor_->fileSize) heuristics_.loopEnd = uint32_t(descriptor_->fileSize);
  if (heuristics_.minNumBuffers == 0) heuristics_.minNumBuffers = 1;
  position_ = 0;
  endOfFile_ = descriptor_->fileSize == 0;
  const SNRESULT result = ApplyBufferConstraints();
  if (result != SN_Success) {
    markedForDestruction_ = true;
    return result;
  }
  ReevaluateBuffering();
  return result;
}

SNRESULT CSnAutomaticStream::ApplyBufferConstraints() {
  const uint32_t granularity = device_->Granularity();
  uint32_t block = blockSize_;
  if (hasConstraints_ && constraints_.blockSize) {
    const uint64_t lcm = uint64_t(block) / Gcd(block, constraints_.blockSize) * constraints_.blockSize;
    if (lcm > granularity) return SN_Failure;
    block = uint32_t(lcm);
  }
  transferSize_ = granularity / block * block;
  bufferSize_ = block;
  if (transferSize_ == 0) return SN_Failure;
  if (!hasConstraints_) return SN_Success;
  if (constraints_.bufferSize == 0) {
    if (constraints_.minBufferSize == 0 || constraints_.minBufferSize <= block) return SN_Success;
    bufferSize_ = (constraints_.minBufferSize + block - 1) / block * block;
    return bufferSize_ <= transferSize_ ? SN_Success : SN_Failure;
  }
  if (constraints_.bufferSize > granularity || constraints_.bufferSize % block != 0) return SN_Failure;
  transferSize_ = bufferSize_ = constraints_.bufferSize;
  return SN_Success;
}

bool CSnAutomaticStream::HasMoreToRead() const {
  if (!fileOpen_) return true;
  if (caching_) return position_ < pinnedSize_ && position_ < uint64_t(descriptor_->fileSize);
  return heuristics_.loopEnd != 0 || position_ < uint64_t(descriptor_->fileSize);
}

uint32_t CSnAutomaticStream::Available() const {
  uint32_t bytes = 0;
  for (uint32_t i = handedOut_; i < count_; ++i) bytes += buffers_[(first_ + i) % capacity_]->dataSize;
  return bytes;
}

uint32_t CSnAutomaticStream::GetNominalBuffering() {
  if (caching_) return pinnedSize_;
  return uint32_t(device_->TargetBufferingMs() * heuristics_.throughput);
}

bool CSnAutomaticStream::CanBeDestroyed() { return inFlight_ == 0; }

void CSnAutomaticStream::ReevaluateBuffering() {
  StreamGuard guard(lock_);
  if (count_ == 0 && fileOpen_ && !HasMoreToRead() && inFlight_ == 0) {
    endOfFile_ = true;
    active_ = false;
  } else {
    endOfFile_ = false;
    active_ = running_ && !markedForDestruction_ && !error_;
  }
  needsIO_ = (active_ && bytesBuffered_ < GetNominalBuffering() && HasMoreToRead()) ||
             (markedForDestruction_ && CanBeDestroyed());
  SetWaiting(needsIO_ && inFlight_ == 0);
}

bool CSnAutomaticStream::NeedsIO() {
  return active_ && !markedForDestruction_ && inFlight_ == 0 && bytesBuffered_ < GetNominalBuffering() &&
         HasMoreToRead();
}

bool CSnAutomaticStream::IsCandidate() {
  return running_ && active_ && !endOfFile_ && !markedForDestruction_ && inFlight_ == 0 && HasMoreToRead();
}

float CSnAutomaticStream::EffectiveDeadline(uint64_t) { return float(Available()) / heuristics_.throughput; }

uint32_t CSnAutomaticStream::GetHeldBytes() {
  StreamGuard guard(lock_);
  return bytesBuffered_;
}

uint32_t CSnAutomaticStream::MissingBytes() {
  StreamGuard guard(lock_);
  const uint32_t nominal = GetNominalBuffering();
  return bytesBuffered_ < nominal ? nominal - bytesBuffered_ : 0;
}

void CSnAutomaticStream::Kill() {
  StreamGuard guard(lock_);
  error_ = true;
  running_ = false;
  ReevaluateBuffering();
  Changed();
}

void CSnAutomaticStream::DropUnreadBuffers() {
  while (count_ > handedOut_) {
    const uint32_t last = (first_ + count_ - 1) % capacity_;
    SnIOBlock* block = buffers_[last];
    bytesBuffered_ -= block->dataSize;
    device_->IOMemory().ReleaseBlock(block);
    --count_;
  }
}

uint32_t CSnAutomaticStream::ReleaseBytes(uint32_t bytes) {
  StreamGuard guard(lock_);
  uint32_t freed = 0;
  while (freed < bytes && count_ > handedOut_) {
    const uint32_t last = (first_ + count_ - 1) % capacity_;
    SnIOBlock* block = buffers_[last];
    freed += block->dataSize;
    bytesBuffered_ -= block->dataSize;
    position_ = block->filePosition;
    device_->IOMemory().ReleaseBlock(block);
    --count_;
  }
  ReevaluateBuffering();
  return freed;
}

void CSnAutomaticStream::Destroy() {
  StreamGuard deviceGuard(device_->DeviceLock());
  StreamGuard guard(lock_);
  running_ = false;
  ++generation_;
  handedOut_ = 0;
  DropUnreadBuffers();
  markedForDestruction_ = true;
  ReevaluateBuffering();
}

void CSnAutomaticStream::GetInfo(SnStreamInfo& info) {
  StreamGuard guard(lock_);
  info = SnStreamInfo{device_->DeviceId(), name_, uint64_t(descriptor_->fileSize > 0 ? descriptor_->fileSize : 0),
                      fileOpen_};
}

void CSnAutomaticStream::GetHeuristics(SnAutoStmHeuristics& heuristics) {
  StreamGuard guard(lock_);
  heuristics = heuristics_;
}

SNRESULT CSnAutomaticStream::SetHeuristics(const SnAutoStmHeuristics& heuristics) {
  if (heuristics.throughput < 0.0f || heuristics.priority < 0 || heuristics.priority > 100) return SN_InvalidParameter;
  StreamGuard guard(lock_);
  heuristics_ = heuristics;
  if (heuristics_.throughput < 1.0f) heuristics_.throughput = 1.0f;
  heuristics_.loopStart = heuristics_.loopStart / blockSize_ * blockSize_;
  if (fileOpen_ && heuristics_.loopEnd > descriptor_->fileSize) heuristics_.loopEnd = uint32_t(descriptor_->fileSize);
  if (heuristics_.minNumBuffers == 0) heuristics_.minNumBuffers = 1;
  priority_ = heuristics_.priority;
  ReevaluateBuffering();
  return SN_Success;
}

SNRESULT CSnAutomaticStream::SetMinimalBufferSize(uint32_t bytes) {
  StreamGuard guard(lock_);
  if (!hasConstraints_) constraints_ = SnAutoStmBufSettings{0, 0, 0};
  hasConstraints_ = true;
  constraints_.minBufferSize = bytes;
  const SNRESULT result = ApplyBufferConstraints();
  if (result != SN_Success) Kill();
  return result;
}

SNRESULT CSnAutomaticStream::SetName(const char16_t* name) {
  SNRESULT result;
  SetNameCopy(name, result);
  return result;
}

SNRESULT CSnAutomaticStream::QueryBufferingStatus(uint32_t& availableBytes) {
  StreamGuard guard(lock_);
  availableBytes = 0;
  if (error_) return SN_Failure;
  if (!fileOpen_) return SN_NoDataReady;
  availableBytes = Available();
  if (!needsIO_ && inFlight_ == 0 && (bytesBuffered_ >= GetNominalBuffering() || !HasMoreToRead()))
    return SN_NoMoreData;
  if (device_->AutomaticStreamsHeldBack()) return SN_NoMoreData;
  return availableBytes ? SN_DataReady : SN_NoDataReady;
}

SNRESULT CSnAutomaticStream::Activate() {
  StreamGuard guard(lock_);
  if (error_) return SN_Failure;
  if (!running_) {
    running_ = true;
    lastTime_ = device_->Clock();
    ReevaluateBuffering();
    device_->ReleaseAutomaticStreams();
  }
  return SN_Success;
}

SNRESULT CSnAutomaticStream::Deactivate() {
  StreamGuard deviceGuard(device_->DeviceLock());
  StreamGuard guard(lock_);
  running_ = false;
  active_ = false;
  ++generation_;
  DropUnreadBuffers();
  if (count_ == 0 && inFlight_ == 0) position_ = position_ / blockSize_ * blockSize_;
  ReevaluateBuffering();
  return SN_Success;
}

uint64_t CSnAutomaticStream::GetPosition(bool* endOfFile) {
  StreamGuard guard(lock_);
  uint64_t position = handedOut_ < count_ ? buffers_[(first_ + handedOut_) % capacity_]->filePosition : position_;
  if (handedOut_ >= count_ && heuristics_.loopEnd && position >= heuristics_.loopEnd) position = heuristics_.loopStart;
  if (endOfFile) *endOfFile = fileOpen_ && position >= uint64_t(descriptor_->fileSize);
  return position;
}

SNRESULT CSnAutomaticStream::SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) {
  StreamGuard deviceGuard(device_->DeviceLock());
  StreamGuard guard(lock_);
  const uint64_t current = handedOut_ < count_ ? buffers_[(first_ + handedOut_) % capacity_]->filePosition : position_;
  const int64_t target = MoveTarget(move, method, current, descriptor_->fileSize);
  if (target < 0) return SN_InvalidParameter;
  const uint64_t rounded = uint64_t(target) / blockSize_ * blockSize_;
  int64_t real = int64_t(rounded) - int64_t(current);
  if (method == SnMove_End) real = int64_t(rounded) - descriptor_->fileSize;
  // Unread buffers that already start at the new position still follow it.
  const bool keep = handedOut_ < count_ && buffers_[(first_ + handedOut_) % capacity_]->filePosition == rounded;
  if (!keep) {
    DropUnreadBuffers();
    ++generation_;
    position_ = rounded;
  }
  ReevaluateBuffering();
  if (realMove) *realMove = real;
  return SN_Success;
}

SNRESULT CSnAutomaticStream::GetBuffer(void*& buffer, uint32_t& size, bool wait) {
  buffer = nullptr;
  size = 0;
  bool triedCache = false;
  for (;;) {
    {
      StreamGuard guard(lock_);
      if (error_) return SN_Failure;
      if (handedOut_ < count_) {
        SnIOBlock* block = buffers_[(first_ + handedOut_) % capacity_];
        ++handedOut_;
        buffer = block->address;
        size = block->dataSize;
        const bool last = heuristics_.loopEnd == 0 && block->filePosition + block->dataSize >= uint64_t(descriptor_->fileSize);
        return last ? SN_NoMoreData : SN_DataReady;
      }
    }
    if (!triedCache && fileOpen_ && device_->IOMemory().UsesCache()) {
      triedCache = true;
      if (device_->ServeFromCache(this)) continue;
    }
    StreamGuard guard(lock_);
    if (handedOut_ < count_) continue;
    if (error_) return SN_Failure;
    if (fileOpen_ && !HasMoreToRead() && inFlight_ == 0) return SN_NoMoreData;
    const bool expects = inFlight_ > 0 || (needsIO_ && !markedForDestruction_ && !device_->AutomaticStreamsHeldBack());
    if (!wait || !expects) return SN_NoDataReady;
    WaitForWake(true);
    triedCache = false;
  }
}

SNRESULT CSnAutomaticStream::ReleaseBuffer() {
  StreamGuard deviceGuard(device_->DeviceLock());
  StreamGuard guard(lock_);
  if (handedOut_ == 0) return SN_Failure;
  SnIOBlock* block = buffers_[first_];
  first_ = (first_ + 1) % capacity_;
  --count_;
  --handedOut_;
  bytesBuffered_ -= block->dataSize;
  device_->IOMemory().ReleaseBlock(block);
  ReevaluateBuffering();
  return SN_Success;
}

SnTransferOffer CSnAutomaticStream::CreateTransfer(SnStreamTransfer& transfer, bool cacheOnly) {
  StreamGuard guard(lock_);
  if (!active_ || markedForDestruction_ || inFlight_ || error_ || !fileOpen_) return SnTransferOffer::None;
  uint64_t position = position_;
  if (heuristics_.loopEnd && position >= heuristics_.loopEnd) position = heuristics_.loopStart;
  const uint64_t fileSize = uint64_t(descriptor_->fileSize);
  if (position >= fileSize) return SnTransferOffer::None;
  uint64_t size = transferSize_;
  if (position + size >= fileSize) size = fileSize - position;
  if (caching_) {
    if (position >= pinnedSize_) return SnTransferOffer::None;
    if (position + size > pinnedSize_) size = pinnedSize_ - position;
  }
  if (count_ >= capacity_) return SnTransferOffer::None;
  bool fromCache = true;
  SnIOBlock* block = device_->IOMemory().LookupCache(cacheId_, position, uint32_t(size));
  if (!block) {
    if (cacheOnly) return SnTransferOffer::None;
    fromCache = false;
    block = device_->IOMemory().AcquireTransferBlock(uint32_t(size), device_->Granularity());
    if (!block) return SnTransferOffer::NoMemory;
  }
  uint32_t counted = uint32_t(size);
  if (heuristics_.loopEnd && position < heuristics_.loopEnd && position + size > heuristics_.loopEnd)
    counted = uint32_t(heuristics_.loopEnd - position);
  transfer = SnStreamTransfer{{uint64_t(descriptor_->firstBlock) * blockSize_ + position, block->blockSize,
                               uint32_t(size)},
                              block, block->address, this, position, counted, generation_, false, fromCache};
  bytesBuffered_ += counted;
  position_ = position + counted;
  ++inFlight_;
  lastTime_ = device_->Clock();
  ReevaluateBuffering();
  return SnTransferOffer::Made;
}

void CSnAutomaticStream::CompleteTransfer(SnStreamTransfer& transfer, SNRESULT result) {
  StreamGuard guard(lock_);
  --inFlight_;
    SnIOBlock* block = transfer.block;
  transfer.block = nullptr;
  if (result == SN_Success && transfer.generation == generation_ && !markedForDestruction_) {
    if (!transfer.fromCache) {
      block->filePosition = transfer.streamPosition;
      block->dataSize = transfer.countedBytes;
      block->cacheId = cacheId_;
      device_->IOMemory().InsertCache(block);
    }
    buffers_[(first_ + count_) % capacity_] = block;
    ++count_;
  } else {
    bytesBuffered_ -= transfer.countedBytes;
    device_->IOMemory().ReleaseBlock(block);
    if (result != SN_Success) error_ = true;
  }
  ReevaluateBuffering();
  Changed();
}

}  // namespace SN
