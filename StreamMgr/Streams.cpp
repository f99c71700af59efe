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
    : m_device(device), m_descriptor(descriptor), m_automatic(automatic) {
  m_lastTime = device->Clock();
}

CSnStreamTask::~CSnStreamTask() {
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  if (m_fileOpen && m_descriptor) m_device->Hook()->Close(*m_descriptor);
  if (m_deferred) {
    MemoryMgr::Free(pool, m_deferred->name);
    MemoryMgr::Free(pool, m_deferred);
  }
  MemoryMgr::Free(pool, m_descriptor);
  MemoryMgr::Free(pool, m_name);
}

bool CSnStreamTask::CanBeDestroyed() { return m_inFlight == 0; }

void CSnStreamTask::WakeWaiter() {
  StreamGuard guard(m_lock);
  Changed();
}

void CSnStreamTask::Changed() {
  m_changes.fetch_add(1, std::memory_order_release);
  if (m_waiter) {
    m_waiter = false;
    m_wake.Set();
  }
}

void CSnStreamTask::WaitForWake(bool soon) {
  // A transfer takes a few microseconds: a reader that drains its stream faster than the device
  // fills it would otherwise sleep and be woken for every block. Watch for a change briefly
  // first; every change counts under the lock, and the callers re-check their condition after
  // any return.
  const uint32_t seen = m_changes.load(std::memory_order_acquire);
  m_lock.unlock();
  for (int spin = 0; soon && spin < kSpinsBeforeSleep && m_changes.load(std::memory_order_acquire) == seen; ++spin)
    StreamLock::Relax();
  m_lock.lock();
  if (m_changes.load(std::memory_order_acquire) != seen) return;
  m_waiter = true;
  m_wake.Clear();
  m_lock.unlock();
  m_wake.Wait(Platform::kWaitForever);
  m_lock.lock();
}

void CSnStreamTask::SetWaiting(bool waiting) {
  if (waiting == m_countedWaiting) return;
  m_countedWaiting = waiting;
  if (m_automatic) {
    if (waiting)
      m_device->AutomaticStreamWaiting();
    else
      m_device->AutomaticStreamDone();
  } else {
    if (waiting)
      m_device->StandardStreamWaiting();
    else
      m_device->StandardStreamDone();
  }
}

void CSnStreamTask::MarkForDestruction() {
  StreamGuard guard(m_lock);
  m_markedForDestruction = true;
  // The device's thread frees it; it must wake for that.
  SetWaiting(CanBeDestroyed() || NeedsIO());
}

void CSnStreamTask::SetNameCopy(const char16_t* name, SNRESULT& result) {
  StreamGuard guard(m_lock);
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
  MemoryMgr::Free(pool, m_name);
  m_name = copy;
}

SNRESULT CSnStreamTask::TakeBlockSize() {
  const uint32_t granularity = m_device->Granularity();
  m_blockSize = m_device->Hook()->GetFileBlockSize(*m_descriptor);
  if (m_blockSize == 0 || m_blockSize > granularity || granularity % m_blockSize != 0) return SN_Failure;
  return SN_Success;
}

SNRESULT CSnStreamTask::FileOpenedAtCreation() {
  StreamGuard guard(m_lock);
  m_fileOpen = true;
  return OnFileOpened();
}

void CSnStreamTask::Unregister() {
  StreamGuard guard(m_lock);
  SetWaiting(false);
}

void CSnStreamTask::FinishDeferredOpen(SNRESULT openResult) {
  const SnMemPoolId pool = StreamMgr::GetPoolID();
  StreamGuard guard(m_lock);
  if (m_deferred) {
    MemoryMgr::Free(pool, m_deferred->name);
    MemoryMgr::Free(pool, m_deferred);
    m_deferred = nullptr;
  }
  // The caller still holds the stream: a failed set-up leaves it in its error state until its owner
  // destroys it.
  if (openResult == SN_Success) {
    m_fileOpen = true;
    if (OnFileOpened() == SN_Success) return;
  }
  Kill();
}

// ---------------------------------------------------------------------------------------------
// Standard stream

CSnStandardStream::CSnStandardStream(CSnStreamDevice* device, SnFileDescriptor* descriptor, SnOpenMode mode)
    : CSnStreamTask(device, descriptor, false), m_mode(mode) {}

void CSnStandardStream::Destroy() {
  Cancel();
  MarkForDestruction();
}

void CSnStandardStream::GetInfo(SnStreamInfo& info) {
  StreamGuard guard(m_lock);
  info = SnStreamInfo{m_device->DeviceId(), m_name, uint64_t(m_descriptor->fileSize > 0 ? m_descriptor->fileSize : 0),
                      m_fileOpen};
}

SNRESULT CSnStandardStream::SetName(const char16_t* name) {
  SNRESULT result;
  SetNameCopy(name, result);
  return result;
}

SNRESULT CSnStandardStream::OnFileOpened() {
  if (m_descriptor->fileSize < 0) return SN_InvalidParameter;
  return TakeBlockSize();
}

void CSnStandardStream::SetStatus(SnStmStatus status) {
  m_status = status;
  if (status != SnStmStatus_Pending) {
    Changed();
  }
  UpdateWaiting();
}

void CSnStandardStream::UpdateWaiting() {
  SetWaiting((m_status == SnStmStatus_Pending && m_issued < m_requested && !m_failed) ||
             (m_markedForDestruction && CanBeDestroyed()));
}

void CSnStandardStream::Kill() {
  StreamGuard guard(m_lock);
  m_failed = true;
  // Transfers still in flight write into the caller's buffer: the error waits for the last one.
  if (m_inFlight == 0 || m_status != SnStmStatus_Pending) SetStatus(SnStmStatus_Error);
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
  StreamGuard guard(m_lock);
  if (m_status == SnStmStatus_Pending || m_status == SnStmStatus_Error || m_markedForDestruction) return SN_Failure;
  if (!write && size % m_blockSize != 0) return SN_Failure;
  if (!write && m_fileOpen) {
    const uint64_t fileSize = uint64_t(m_descriptor->fileSize);
    const uint64_t left = m_position < fileSize ? fileSize - m_position : 0;
    if (size >= left) {
      size = uint32_t(left);
      m_endOfFile = true;
    } else {
      m_endOfFile = false;
    }
  }
  m_writing = write;
  m_priority = priority;
  m_deadlineMs = deadlineMs;
  m_buffer = static_cast<uint8_t*>(buffer);
  m_requested = size;
  m_issued = 0;
  m_transferred = 0;
  m_failed = false;
  if (size == 0) {
    SetStatus(SnStmStatus_Completed);
    return SN_Success;
  }
  m_lastTime = uint64_t(Platform::TicksNow());
  SetStatus(SnStmStatus_Pending);
  if (!wait) {
    outSize = size;
    return SN_Success;
  }
  // Spinning pays only when the end is a few transfers away; it would slow the device's thread on
  // a shared core for longer requests.
  while (m_status == SnStmStatus_Pending)
    WaitForWake(m_requested - m_transferred <= (kWakeAheadTransfers + 1) * m_device->Granularity());
  outSize = size;
  return m_status == SnStmStatus_Completed ? SN_Success : SN_Failure;
}

uint64_t CSnStandardStream::GetPosition(bool* endOfFile) {
  StreamGuard guard(m_lock);
  if (endOfFile) *endOfFile = m_fileOpen && m_position >= uint64_t(m_descriptor->fileSize);
  return m_position;
}

SNRESULT CSnStandardStream::SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) {
  StreamGuard guard(m_lock);
  if (m_status == SnStmStatus_Pending) return SN_Failure;
  const int64_t target = MoveTarget(move, method, m_position, m_descriptor->fileSize);
  if (target < 0) return SN_InvalidParameter;
  const uint64_t rounded = uint64_t(target) / m_blockSize * m_blockSize;
  int64_t real = int64_t(rounded) - int64_t(m_position);
  if (method == SnMove_End) real = int64_t(rounded) - m_descriptor->fileSize;
  m_position = rounded;
  if (m_fileOpen) m_endOfFile = m_position >= uint64_t(m_descriptor->fileSize);
  if (realMove) *realMove = real;
  return SN_Success;
}

void CSnStandardStream::Cancel() {
  StreamGuard guard(m_lock);
  if (m_status == SnStmStatus_Pending) {
    ++m_generation;
    SetStatus(SnStmStatus_Cancelled);
  }
  while (m_inFlight > 0) WaitForWake(true);
}

void* CSnStandardStream::GetData(uint32_t& size) {
  StreamGuard guard(m_lock);
  size = m_transferred;
  return m_buffer;
}

SnStmStatus CSnStandardStream::GetStatus() {
  StreamGuard guard(m_lock);
  return m_status;
}

bool CSnStandardStream::NeedsIO() {
  return m_status == SnStmStatus_Pending && m_issued < m_requested && !m_failed && !m_markedForDestruction;
}

bool CSnStandardStream::IsCandidate() { return NeedsIO(); }

float CSnStandardStream::EffectiveDeadline(uint64_t clock) {
  const uint32_t granularity = m_device->Granularity();
  const uint32_t left = m_requested - m_issued;
  const uint32_t transfers = left ? (left + granularity - 1) / granularity : 1;
  const float elapsed = float(clock > m_lastTime ? clock - m_lastTime : 0) / CSnStreamDevice::TicksPerMs();
  const float deadline = m_deadlineMs / float(transfers) - elapsed;
  return deadline > 0.0f ? deadline : 0.0f;
}

SnTransferOffer CSnStandardStream::CreateTransfer(SnStreamTransfer& transfer, bool cacheOnly) {
  StreamGuard guard(m_lock);
  if (cacheOnly || !NeedsIO()) return SnTransferOffer::None;
  // The caller's buffer stays untouched by anyone else until the request ends (Cancel and the
  // waits below let every transfer in flight finish first), so the hook moves the bytes straight
  // to or from it, a granularity at a time, with no block of I/O memory and no copy.
  const uint32_t granularity = m_device->Granularity();
  const uint32_t size = m_requested - m_issued < granularity ? m_requested - m_issued : granularity;
  const uint64_t offset = m_position + m_issued;
  transfer = SnStreamTransfer{{uint64_t(m_descriptor->firstBlock) * m_blockSize + offset, size, size},
                              nullptr, m_buffer + m_issued, this, m_issued, size, m_generation, m_writing, false};
  m_issued += size;
  ++m_inFlight;
  // A sleeping caller takes longer to wake than the last few transfers take: wake it now, and it
  // watches the end of its request come (see Transfer).
  if (m_waiter && m_requested - m_issued <= kWakeAheadTransfers * granularity) Changed();
  UpdateWaiting();
  return SnTransferOffer::Made;
}

void CSnStandardStream::CompleteTransfer(SnStreamTransfer& transfer, SNRESULT result) {
  StreamGuard guard(m_lock);
  --m_inFlight;
  if (transfer.generation == m_generation && m_status == SnStmStatus_Pending) {
    if (result == SN_Success) {
      m_transferred += transfer.countedBytes;
      if (m_transferred == m_requested) {
        m_position += m_requested;
        if (m_writing && int64_t(m_position) > m_descriptor->fileSize) m_descriptor->fileSize = int64_t(m_position);
        SetStatus(SnStmStatus_Completed);
      }
    } else {
      m_failed = true;
    }
    // The caller learns of a failure only once no transfer still uses its buffer.
    if (m_failed && m_inFlight == 0) SetStatus(SnStmStatus_Error);
  }
  // Callers wait for the end of their request, or for the last transfer of a cancelled one; the
  // blocks in between wake nobody.
  if (m_status != SnStmStatus_Pending && m_inFlight == 0) Changed();
  UpdateWaiting();
}

// ---------------------------------------------------------------------------------------------
// Automatic stream

CSnAutomaticStream::CSnAutomaticStream(CSnStreamDevice* device, SnFileDescriptor* descriptor, int32_t cacheId,
                                       const SnAutoStmHeuristics& heuristics,
                                       const SnAutoStmBufSettings* bufferSettings)
    : CSnStreamTask(device, descriptor, true), m_cacheId(cacheId), m_heuristics(heuristics) {
  if (bufferSettings) {
    m_constraints = *bufferSettings;
    m_hasConstraints = true;
  }
  m_priority = heuristics.priority;
  m_capacity = device->MaxBlocks() + 1;
  m_buffers = static_cast<SnIOBlock**>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), m_capacity * sizeof(SnIOBlock*)));
  if (!m_buffers) m_capacity = 0;
}

CSnAutomaticStream::~CSnAutomaticStream() { MemoryMgr::Free(StreamMgr::GetPoolID(), m_buffers); }

void CSnAutomaticStream::MakeCaching(uint32_t bytes) {
  m_caching = true;
  const uint32_t block = m_bufferSize ? m_bufferSize : m_blockSize;
  uint32_t pinned = (bytes + block - 1) / block * block;
  m_pinnedSize = pinned < 2048 ? 2048 : pinned;
}

void CSnAutomaticStream::SetPriority(int8_t priority) {
  StreamGuard guard(m_lock);
  m_priority = priority;
  m_heuristics.priority = priority;
}

SNRESULT CSnAutomaticStream::OnFileOpened() {
  if (!m_buffers) return SN_InsufficientMemory;
  if (m_descriptor->fileSize < 0) return SN_InvalidParameter;
  if (TakeBlockSize() != SN_Success) return SN_Failure;
  if (m_heuristics.throughput < 1.0f) m_heuristics.throughput = 1.0f;
  m_heuristics.loopStart = m_heuristics.loopStart / m_blockSize * m_blockSize;
  if (m_heuristics.loopEnd > m_descriptor->fileSize) m_heuristics.loopEnd = uint32_t(m_descriptor->fileSize);
  if (m_heuristics.minNumBuffers == 0) m_heuristics.minNumBuffers = 1;
  m_position = 0;
  m_endOfFile = m_descriptor->fileSize == 0;
  const SNRESULT result = ApplyBufferConstraints();
  if (result != SN_Success) return result;
  ReevaluateBuffering();
  return result;
}

SNRESULT CSnAutomaticStream::ApplyBufferConstraints() {
  const uint32_t granularity = m_device->Granularity();
  uint32_t block = m_blockSize;
  if (m_hasConstraints && m_constraints.blockSize) {
    const uint64_t lcm = uint64_t(block) / Gcd(block, m_constraints.blockSize) * m_constraints.blockSize;
    if (lcm > granularity) return SN_Failure;
    block = uint32_t(lcm);
  }
  m_transferSize = granularity / block * block;
  m_bufferSize = block;
  if (m_transferSize == 0) return SN_Failure;
  if (!m_hasConstraints) return SN_Success;
  if (m_constraints.bufferSize == 0) {
    if (m_constraints.minBufferSize == 0 || m_constraints.minBufferSize <= block) return SN_Success;
    m_bufferSize = (m_constraints.minBufferSize + block - 1) / block * block;
    return m_bufferSize <= m_transferSize ? SN_Success : SN_Failure;
  }
  if (m_constraints.bufferSize > granularity || m_constraints.bufferSize % block != 0) return SN_Failure;
  m_transferSize = m_bufferSize = m_constraints.bufferSize;
  return SN_Success;
}

bool CSnAutomaticStream::HasMoreToRead() const {
  if (!m_fileOpen) return true;
  if (m_caching) return m_position < m_pinnedSize && m_position < uint64_t(m_descriptor->fileSize);
  return m_heuristics.loopEnd != 0 || m_position < uint64_t(m_descriptor->fileSize);
}

uint32_t CSnAutomaticStream::Available() const {
  uint32_t bytes = 0;
  for (uint32_t i = m_handedOut; i < m_count; ++i) bytes += m_buffers[(m_first + i) % m_capacity]->dataSize;
  return bytes;
}

uint32_t CSnAutomaticStream::GetNominalBuffering() {
  if (m_caching) return m_pinnedSize;
  // The throughput comes from the media's header: a rate no device could read is held to what a
  // 32-bit count can say, and one that is not a number asks for nothing.
  const double bytes = double(m_device->TargetBufferingMs()) * double(m_heuristics.throughput);
  if (!(bytes > 0.0)) return 0;
  return bytes < double(UINT32_MAX) ? uint32_t(bytes) : UINT32_MAX;
}

bool CSnAutomaticStream::CanBeDestroyed() { return m_inFlight == 0; }

void CSnAutomaticStream::ReevaluateBuffering() {
  StreamGuard guard(m_lock);
  if (m_count == 0 && m_fileOpen && !HasMoreToRead() && m_inFlight == 0) {
    m_endOfFile = true;
    m_active = false;
  } else {
    m_endOfFile = false;
    m_active = m_running && !m_markedForDestruction && !m_error;
  }
  m_needsIO = (m_active && m_bytesBuffered < GetNominalBuffering() && HasMoreToRead()) ||
             (m_markedForDestruction && CanBeDestroyed());
  SetWaiting(m_needsIO && m_inFlight == 0);
}

bool CSnAutomaticStream::NeedsIO() {
  return m_active && !m_markedForDestruction && m_inFlight == 0 && m_bytesBuffered < GetNominalBuffering() &&
         HasMoreToRead();
}

bool CSnAutomaticStream::IsCandidate() {
  return m_running && m_active && !m_endOfFile && !m_markedForDestruction && m_inFlight == 0 && HasMoreToRead();
}

float CSnAutomaticStream::EffectiveDeadline(uint64_t) { return float(Available()) / m_heuristics.throughput; }

uint32_t CSnAutomaticStream::GetHeldBytes() {
  StreamGuard guard(m_lock);
  return m_bytesBuffered;
}

uint32_t CSnAutomaticStream::GetBytesInMemory() {
  StreamGuard guard(m_lock);
  return m_bytesBuffered - m_bytesInFlight;
}

uint32_t CSnAutomaticStream::MissingBytes() {
  StreamGuard guard(m_lock);
  const uint32_t nominal = GetNominalBuffering();
  return m_bytesBuffered < nominal ? nominal - m_bytesBuffered : 0;
}

void CSnAutomaticStream::Kill() {
  StreamGuard guard(m_lock);
  m_error = true;
  m_running = false;
  ReevaluateBuffering();
  Changed();
}

void CSnAutomaticStream::DropUnreadBuffers() {
  while (m_count > m_handedOut) {
    const uint32_t last = (m_first + m_count - 1) % m_capacity;
    SnIOBlock* block = m_buffers[last];
    m_bytesBuffered -= block->dataSize;
    m_device->IOMemory().ReleaseBlock(block);
    --m_count;
  }
}

uint32_t CSnAutomaticStream::ReleaseBytes(uint32_t bytes) {
  StreamGuard guard(m_lock);
  uint32_t freed = 0;
  while (freed < bytes && m_count > m_handedOut) {
    const uint32_t last = (m_first + m_count - 1) % m_capacity;
    SnIOBlock* block = m_buffers[last];
    freed += block->dataSize;
    m_bytesBuffered -= block->dataSize;
    m_position = block->filePosition;
    m_device->IOMemory().ReleaseBlock(block);
    --m_count;
  }
  ReevaluateBuffering();
  return freed;
}

void CSnAutomaticStream::Destroy() {
  StreamGuard deviceGuard(m_device->DeviceLock());
  StreamGuard guard(m_lock);
  m_running = false;
  ++m_generation;
  m_handedOut = 0;
  DropUnreadBuffers();
  m_markedForDestruction = true;
  ReevaluateBuffering();
}

void CSnAutomaticStream::GetInfo(SnStreamInfo& info) {
  StreamGuard guard(m_lock);
  info = SnStreamInfo{m_device->DeviceId(), m_name, uint64_t(m_descriptor->fileSize > 0 ? m_descriptor->fileSize : 0),
                      m_fileOpen};
}

void CSnAutomaticStream::GetHeuristics(SnAutoStmHeuristics& heuristics) {
  StreamGuard guard(m_lock);
  heuristics = m_heuristics;
}

SNRESULT CSnAutomaticStream::SetHeuristics(const SnAutoStmHeuristics& heuristics) {
  if (heuristics.throughput < 0.0f || heuristics.priority < 0 || heuristics.priority > 100) return SN_InvalidParameter;
  StreamGuard guard(m_lock);
  m_heuristics = heuristics;
  if (m_heuristics.throughput < 1.0f) m_heuristics.throughput = 1.0f;
  m_heuristics.loopStart = m_heuristics.loopStart / m_blockSize * m_blockSize;
  if (m_fileOpen && m_heuristics.loopEnd > m_descriptor->fileSize)
    m_heuristics.loopEnd = uint32_t(m_descriptor->fileSize);
  if (m_heuristics.minNumBuffers == 0) m_heuristics.minNumBuffers = 1;
  m_priority = m_heuristics.priority;
  ReevaluateBuffering();
  return SN_Success;
}

SNRESULT CSnAutomaticStream::SetMinimalBufferSize(uint32_t bytes) {
  StreamGuard guard(m_lock);
  if (!m_hasConstraints) m_constraints = SnAutoStmBufSettings{0, 0, 0};
  m_hasConstraints = true;
  m_constraints.minBufferSize = bytes;
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
  StreamGuard guard(m_lock);
  availableBytes = 0;
  if (m_error) return SN_Failure;
  if (!m_fileOpen) return SN_NoDataReady;
  availableBytes = Available();
  if (!m_needsIO && m_inFlight == 0 && (m_bytesBuffered >= GetNominalBuffering() || !HasMoreToRead()))
    return SN_NoMoreData;
  if (m_device->AutomaticStreamsHeldBack()) return SN_NoMoreData;
  return availableBytes ? SN_DataReady : SN_NoDataReady;
}

SNRESULT CSnAutomaticStream::Activate() {
  StreamGuard guard(m_lock);
  if (m_error) return SN_Failure;
  if (!m_running) {
    m_running = true;
    m_lastTime = m_device->Clock();
    ReevaluateBuffering();
    m_device->ReleaseAutomaticStreams();
  }
  return SN_Success;
}

SNRESULT CSnAutomaticStream::Deactivate() {
  StreamGuard deviceGuard(m_device->DeviceLock());
  StreamGuard guard(m_lock);
  m_running = false;
  m_active = false;
  ++m_generation;
  DropUnreadBuffers();
  if (m_count == 0 && m_inFlight == 0) m_position = m_position / m_blockSize * m_blockSize;
  ReevaluateBuffering();
  return SN_Success;
}

uint64_t CSnAutomaticStream::GetPosition(bool* endOfFile) {
  StreamGuard guard(m_lock);
  uint64_t position =
      m_handedOut < m_count ? m_buffers[(m_first + m_handedOut) % m_capacity]->filePosition : m_position;
  if (m_handedOut >= m_count && m_heuristics.loopEnd && position >= m_heuristics.loopEnd)
    position = m_heuristics.loopStart;
  if (endOfFile) *endOfFile = m_fileOpen && position >= uint64_t(m_descriptor->fileSize);
  return position;
}

SNRESULT CSnAutomaticStream::SetPosition(int64_t move, SnMoveMethod method, int64_t* realMove) {
  StreamGuard deviceGuard(m_device->DeviceLock());
  StreamGuard guard(m_lock);
  const uint64_t current =
      m_handedOut < m_count ? m_buffers[(m_first + m_handedOut) % m_capacity]->filePosition : m_position;
  const int64_t target = MoveTarget(move, method, current, m_descriptor->fileSize);
  if (target < 0) return SN_InvalidParameter;
  const uint64_t rounded = uint64_t(target) / m_blockSize * m_blockSize;
  int64_t real = int64_t(rounded) - int64_t(current);
  if (method == SnMove_End) real = int64_t(rounded) - m_descriptor->fileSize;
  // Unread buffers that already start at the new position still follow it.
  const bool keep = m_handedOut < m_count && m_buffers[(m_first + m_handedOut) % m_capacity]->filePosition == rounded;
  if (!keep) {
    DropUnreadBuffers();
    ++m_generation;
    m_position = rounded;
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
      StreamGuard guard(m_lock);
      if (m_error) return SN_Failure;
      if (m_handedOut < m_count) {
        SnIOBlock* block = m_buffers[(m_first + m_handedOut) % m_capacity];
        ++m_handedOut;
        buffer = block->address;
        size = block->dataSize;
        const bool last =
            m_heuristics.loopEnd == 0 && block->filePosition + block->dataSize >= uint64_t(m_descriptor->fileSize);
        return last ? SN_NoMoreData : SN_DataReady;
      }
    }
    if (!triedCache && m_fileOpen && m_device->IOMemory().UsesCache()) {
      triedCache = true;
      if (m_device->ServeFromCache(this)) continue;
    }
    StreamGuard guard(m_lock);
    if (m_handedOut < m_count) continue;
    if (m_error) return SN_Failure;
    if (m_fileOpen && !HasMoreToRead() && m_inFlight == 0) return SN_NoMoreData;
    const bool expects =
        m_inFlight > 0 || (m_needsIO && !m_markedForDestruction && !m_device->AutomaticStreamsHeldBack());
    if (!wait || !expects) return SN_NoDataReady;
    WaitForWake(true);
    triedCache = false;
  }
}

SNRESULT CSnAutomaticStream::ReleaseBuffer() {
  StreamGuard deviceGuard(m_device->DeviceLock());
  StreamGuard guard(m_lock);
  if (m_handedOut == 0) return SN_Failure;
  SnIOBlock* block = m_buffers[m_first];
  m_first = (m_first + 1) % m_capacity;
  --m_count;
  --m_handedOut;
  m_bytesBuffered -= block->dataSize;
  m_device->IOMemory().ReleaseBlock(block);
  ReevaluateBuffering();
  return SN_Success;
}

SnTransferOffer CSnAutomaticStream::CreateTransfer(SnStreamTransfer& transfer, bool cacheOnly) {
  StreamGuard guard(m_lock);
  if (!m_active || m_markedForDestruction || m_inFlight || m_error || !m_fileOpen) return SnTransferOffer::None;
  uint64_t position = m_position;
  if (m_heuristics.loopEnd && position >= m_heuristics.loopEnd) position = m_heuristics.loopStart;
  const uint64_t fileSize = uint64_t(m_descriptor->fileSize);
  if (position >= fileSize) return SnTransferOffer::None;
  uint64_t size = m_transferSize;
  if (position + size >= fileSize) size = fileSize - position;
  if (m_caching) {
    if (position >= m_pinnedSize) return SnTransferOffer::None;
    if (position + size > m_pinnedSize) size = m_pinnedSize - position;
  }
  if (m_count >= m_capacity) return SnTransferOffer::None;
  bool fromCache = true;
  SnIOBlock* block = m_device->IOMemory().LookupCache(m_cacheId, position, uint32_t(size));
  if (!block) {
    if (cacheOnly) return SnTransferOffer::None;
    fromCache = false;
    block = m_device->IOMemory().AcquireTransferBlock(uint32_t(size), m_device->Granularity());
    if (!block) return SnTransferOffer::NoMemory;
  }
  uint32_t counted = uint32_t(size);
  if (m_heuristics.loopEnd && position < m_heuristics.loopEnd && position + size > m_heuristics.loopEnd)
    counted = uint32_t(m_heuristics.loopEnd - position);
  transfer = SnStreamTransfer{{uint64_t(m_descriptor->firstBlock) * m_blockSize + position, block->blockSize,
                               uint32_t(size)},
                              block, block->address, this, position, counted, m_generation, false, fromCache};
  m_bytesBuffered += counted;
  m_bytesInFlight += counted;
  m_position = position + counted;
  ++m_inFlight;
  m_lastTime = m_device->Clock();
  ReevaluateBuffering();
  return SnTransferOffer::Made;
}

void CSnAutomaticStream::CompleteTransfer(SnStreamTransfer& transfer, SNRESULT result) {
  StreamGuard guard(m_lock);
  --m_inFlight;
  m_bytesInFlight -= transfer.countedBytes;
  SnIOBlock* block = transfer.block;
  transfer.block = nullptr;
  if (result == SN_Success && transfer.generation == m_generation && !m_markedForDestruction) {
    if (!transfer.fromCache) {
      block->filePosition = transfer.streamPosition;
      block->dataSize = transfer.countedBytes;
      block->cacheId = m_cacheId;
      m_device->IOMemory().InsertCache(block);
    }
    m_buffers[(m_first + m_count) % m_capacity] = block;
    ++m_count;
  } else {
    m_bytesBuffered -= transfer.countedBytes;
    m_device->IOMemory().ReleaseBlock(block);
    if (result != SN_Success) m_error = true;
  }
  ReevaluateBuffering();
  Changed();
}

}  // namespace SN
