// The command queue and the audio manager's pass. Writers move the write position with a
// compare-and-swap and are counted while they fill their message; the reader trusts only frames
// closed after every writer before the frame end had finished, or, when a writer finds the ring
// full, the bytes written before it waited for the other writers.
#include "SoundEngine/AudioMgr.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include "Base/Assert.h"
#include "Platform/Clock.h"
#include "SoundEngine/GameSyncs/FrontEndManagers.h"
#include "SoundEngine/GameSyncs/ModulatorRegistry.h"
#include "SoundEngine/Lower/FrameFormat.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

CSnAudioMgr* g_pAudioMgr = nullptr;

namespace {

// Never caught up by the write position, so equal positions always mean an empty ring.
constexpr uint32_t kSpareBytes = 4;
constexpr uint32_t kHeaderBytes = sizeof(SnMsgHeader);
constexpr uint32_t kMaxMessageField = 0xFFFF;
constexpr uint32_t kPreallocatedPendingNodes = 32;
// Fixed messages are decoded from a copy on the stack; larger ones from a copy in the default pool.
constexpr uint32_t kInlineMessageBytes = 256;
static_assert(kLargestFixedMessage <= kInlineMessageBytes, "every fixed message decodes from the stack");

SnMessageHandler g_handlers[SnMsg_TypeCount] = {};

bool IsServedType(uint16_t type) {
  return type >= 1 && type < SnMsg_TypeCount && type != 4 && type != 9 && type != 15 && type != 44 && type != 45;
}

}  // namespace

Platform::ReentrantLock& GlobalAudioLock() {
  static Platform::ReentrantLock lock;
  return lock;
}

SnMessageHandler SetMessageHandler(uint16_t type, SnMessageHandler handler) {
  if (!IsServedType(type)) {
    SOUND_LOG(Error, "SetMessageHandler: message type %u has no handler", unsigned(type));
    return nullptr;
  }
  SnMessageHandler previous = g_handlers[type];
  g_handlers[type] = handler;
  return previous;
}

CSnAudioMgr::CSnAudioMgr() = default;

CSnAudioMgr::~CSnAudioMgr() { Term(); }

SNRESULT CSnAudioMgr::Init() {
  const uint32_t bytes = SoundEngine::Settings().commandQueueBytes & ~(kMessageAlign - 1);
  m_pBase = static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, bytes, kMessageAlign));
  if (!m_pBase) return SN_Failure;
  m_size = bytes;
  m_pEnd = m_pBase + bytes;
  m_pRead = m_pBase;
  m_pWrite = m_pBase;
  if (!m_dueActions.Init(kPreallocatedPendingNodes, PendingList::kUnlimited) ||
      !m_pausedActions.Init(kPreallocatedPendingNodes, PendingList::kUnlimited))
    return SN_InsufficientMemory;
  m_lastRenderTicks = Platform::TicksNow();
  return SN_Success;
}

void CSnAudioMgr::Term() {
  StopThread();
  if (m_pBase) FlushRing();
  CancelAllPending();
  m_pausedActions.Term();
  m_dueActions.Term();
  MemoryMgr::Free(g_DefaultPoolId, m_pBase);
  m_pBase = m_pEnd = nullptr;
  m_pRead = m_pWrite = nullptr;
  m_size = 0;
}

uint32_t CSnAudioMgr::MaxMessageBytes() const {
  // Under a quarter of the ring: draining to half leaves a free half of which one part, at the tail
  // or at the head, always takes the message.
  const uint32_t quarter = m_size / 4;
  const uint32_t belowQuarter = quarter ? (quarter - 1) & ~(kMessageAlign - 1) : 0;
  const uint32_t belowField = kMaxMessageField & ~(kMessageAlign - 1);
  return belowQuarter < belowField ? belowQuarter : belowField;
}

SnMsgHeader* CSnAudioMgr::TryReserve(uint32_t size) {
  for (;;) {
    uint8_t* w = m_pWrite.load(std::memory_order_acquire);
    uint8_t* r = m_pRead.load(std::memory_order_acquire);
    if (r <= w) {
      if (size + kSpareBytes < uint32_t(m_pEnd - w)) {
        if (m_pWrite.compare_exchange_weak(w, w + size, std::memory_order_acq_rel)) return reinterpret_cast<SnMsgHeader*>(w);
        continue;
      }
      if (size + kSpareBytes >= uint32_t(r - m_pBase)) return nullptr;
      if (!m_pWrite.compare_exchange_weak(w, m_pBase + size, std::memory_order_acq_rel)) continue;
      // The reader meets this marker at the old tail and goes back to the base.
      if (w + kHeaderBytes <= m_pEnd) {
        SnMsgHeader* marker = reinterpret_cast<SnMsgHeader*>(w);
        marker->size = kHeaderBytes;
        marker->type = SnMsg_WrapMarker;
        marker->unused = 0;
      }
      return reinterpret_cast<SnMsgHeader*>(m_pBase);
    }
    if (size + kSpareBytes >= uint32_t(r - w)) return nullptr;
    if (m_pWrite.compare_exchange_weak(w, w + size, std::memory_order_acq_rel)) return reinterpret_cast<SnMsgHeader*>(w);
  }
}

void CSnAudioMgr::WaitForWriters() const {
  for (uint32_t attempt = 0; m_writers.load(std::memory_order_acquire) != 0; ++attempt) {
    if (attempt < 128)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(attempt / 128));
  }
}

SnMsgHeader* CSnAudioMgr::ReserveMessage(uint16_t type, uint32_t size) {
  size = RoundMessageSize(size < kHeaderBytes ? kHeaderBytes : size);
  if (!m_pBase || size > MaxMessageBytes()) {
    SOUND_LOG(Error, "Message of type %u and %u bytes does not fit the command queue", unsigned(type), size);
    return nullptr;
  }
  m_writers.fetch_add(1, std::memory_order_acq_rel);
  SnMsgHeader* message;
  while (!(message = TryReserve(size))) {
    m_writers.fetch_sub(1, std::memory_order_acq_rel);
    {
      Platform::ReentrantGuard guard(GlobalAudioLock());
      WaitForWriters();
      ProcessMessages(true);
    }
    m_writers.fetch_add(1, std::memory_order_acq_rel);
  }
  message->size = uint16_t(size);
  message->type = type;
  message->unused = 0;
  return message;
}

SNRESULT CSnAudioMgr::RenderAudio(bool allowSynchronous) {
  const bool queued = m_pRead.load(std::memory_order_acquire) != m_pWrite.load(std::memory_order_acquire);
  if (queued) {
    ReserveMessage(SnMsg_EndOfFrame, kHeaderBytes);
    FinishMessage();
    WaitForWriters();
    m_closedFrames.fetch_add(1, std::memory_order_acq_rel);
  }
  if (!SoundEngine::Settings().useAudioThread && allowSynchronous) {
    Perform();
    return SN_Success;
  }
  if (queued) WakeThread();
  return SN_Success;
}

uint32_t CSnAudioMgr::BytesBetween(const uint8_t* from, const uint8_t* to) const {
  return to >= from ? uint32_t(to - from) : uint32_t((m_pEnd - from) + (to - m_pBase));
}

void CSnAudioMgr::Dispatch(const SnMsgHeader& message) {
  if (!IsServedType(message.type)) return;
  if (SnMessageHandler handler = g_handlers[message.type]) handler(*this, message);
}

bool CSnAudioMgr::ProcessMessages(bool makeRoom) {
  const uint8_t* limit = m_pWrite.load(std::memory_order_acquire);
  const uint32_t inUse = BytesBetween(m_pRead.load(std::memory_order_acquire), limit);
  if (inUse == 0) return false;
  uint32_t goal = 0;
  if (!makeRoom) {
    if (m_closedFrames.load(std::memory_order_acquire) == 0) return false;
  } else {
    if (inUse <= m_size / 2) return false;
    goal = inUse / 2;
  }
  const uint32_t generation = ++m_drainGeneration;
  uint32_t processed = 0;
  alignas(8) uint8_t inlineCopy[kInlineMessageBytes];

  for (;;) {
    // The read position is read afresh each time: a handler may have drained the ring meanwhile.
    uint8_t* read = m_pRead.load(std::memory_order_relaxed);
    if (makeRoom ? (generation != m_drainGeneration || read == limit)
                 : m_closedFrames.load(std::memory_order_acquire) == 0)
      break;
    if (uint32_t(m_pEnd - read) < kHeaderBytes) {
      m_pRead.store(m_pBase, std::memory_order_release);
      continue;
    }
    const SnMsgHeader* header = reinterpret_cast<const SnMsgHeader*>(read);
    if (header->type == SnMsg_WrapMarker) {
      m_pRead.store(m_pBase, std::memory_order_release);
      continue;
    }
    const uint32_t size = RoundMessageSize(header->size < kHeaderBytes ? kHeaderBytes : header->size);
    uint8_t* next = read + size;
    if (next >= m_pEnd) next = m_pBase;

    if (header->type == SnMsg_EndOfFrame) {
      if (m_closedFrames.load(std::memory_order_acquire) == 0) return true;
      m_pRead.store(next, std::memory_order_release);
      m_closedFrames.fetch_sub(1, std::memory_order_acq_rel);
    } else if (IsServedType(header->type) && g_handlers[header->type]) {
      // Decoded from a copy, with the read position already past it: the handler may post, and a
      // post that finds the ring full drains it from here on this same thread.
      uint8_t* copy = size <= kInlineMessageBytes ? inlineCopy
                                                  : static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, size, 8));
      if (!copy) {
        SOUND_LOG(Error, "No memory to decode a message of type %u (%u bytes); it is skipped",
                  unsigned(header->type), size);
        m_pRead.store(next, std::memory_order_release);
      } else {
        memcpy(copy, read, size);
        m_pRead.store(next, std::memory_order_release);
        Dispatch(*reinterpret_cast<const SnMsgHeader*>(copy));
        if (copy != inlineCopy) MemoryMgr::Free(g_DefaultPoolId, copy);
      }
    } else {
      m_pRead.store(next, std::memory_order_release);
    }
    ++m_processedMessages;
    if (makeRoom) {
      processed += size;
      if (processed >= goal) break;
    }
  }
  return true;
}

void CSnAudioMgr::FlushRing() {
  // Whatever is still queued is dropped; the objects the messages hold are given back.
  uint8_t* read = m_pRead.load();
  const uint8_t* write = m_pWrite.load();
  while (read != write) {
    if (uint32_t(m_pEnd - read) < kHeaderBytes) {
      read = m_pBase;
      continue;
    }
    const SnMsgHeader* header = reinterpret_cast<const SnMsgHeader*>(read);
    if (header->type == SnMsg_WrapMarker) {
      read = m_pBase;
      continue;
    }
    switch (header->type) {
      case SnMsg_PostEvent: {
        const auto* post = reinterpret_cast<const SnMsgPostEvent*>(header);
        if (post->event) post->event->Release();
        if (post->externalSources) post->externalSources->Release();
        break;
      }
      case SnMsg_DynamicSequenceCommand: {
        const auto* command = reinterpret_cast<const SnMsgDynamicSequenceCommand*>(header);
        if (command->sequence) command->sequence->Release();
        break;
      }
      case SnMsg_ExecuteActionOnEvent:
      case SnMsg_SeekOnEvent: {
        // Both carry their event first.
        static_assert(offsetof(SnMsgExecuteActionOnEvent, event) == offsetof(SnMsgSeekOnEvent, event));
        const auto* onEvent = reinterpret_cast<const SnMsgSeekOnEvent*>(header);
        if (onEvent->event) onEvent->event->Release();
        break;
      }
      default:
        break;
    }
    read += RoundMessageSize(header->size < kHeaderBytes ? kHeaderBytes : header->size);
    if (read >= m_pEnd) read = m_pBase;
  }
  m_pRead = m_pWrite.load();
  m_closedFrames = 0;
}

void CSnAudioMgr::Perform() {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  const int64_t now = Platform::TicksNow();
  const double ticksPerMs = SoundEngine::TicksPerMillisecond();
  uint32_t frames = LowerEngine::CheckOutputDevices();
  const SnSuspendState suspend = LowerEngine::SuspendState();
  const bool suspendedWithoutRendering = suspend.suspended && !suspend.renderWhileSuspended;
  bool forced = false;

  if (suspend.suspendedModeActive) {
    if (suspendedWithoutRendering) {
      // One frame of messages; the lower engine renders nothing in it.
      frames = 1;
      forced = true;
      m_lastRenderTicks = now;
      m_idlePasses = 0;
    } else {
      const float frameMs = 1000.0f / (float(LowerEngine::SampleRate()) / float(LowerEngine::SamplesPerFrame()));
      const float value = float(double(now - m_lastRenderTicks) / ticksPerMs) / frameMs + m_carriedFrames;
      frames = uint32_t(value);
      if (frames) m_carriedFrames = value - float(frames);
    }
  } else {
    m_carriedFrames = 0.0f;
  }

  if (frames > 0) {
    m_lastRenderTicks = now;
    m_idlePasses = 0;
  } else if (!forced) {
    // Device watchdog: outputs that take no frame for too long are put into suspended mode.
    ++m_idlePasses;
    const uint32_t timeoutMs = SoundEngine::Settings().deviceTimeoutMs;
    const uint32_t frameMs = LowerEngine::FrameDurationMs();
    if (frameMs && m_idlePasses > timeoutMs / frameMs && !suspendedWithoutRendering &&
        double(now - m_lastRenderTicks) / ticksPerMs > double(timeoutMs)) {
      LowerEngine::EnterSuspendedMode(true);
      m_lastRenderTicks = now;
      m_idlePasses = 0;
    }
  }

  for (;;) {
    const bool processedFrame = ProcessMessages(false);
    ProcessDueActions();
    if (processedFrame) {
      LowerEngine::ApplyMessageSideEffects();
      UpdateGameObjectPositioning();
    }
    if (LowerEngine::WantsDeferredDeviceWork()) LowerEngine::DoDeferredDeviceWork();
    if (frames == 0) break;
    SoundEngine::CallBehavioralExtensions(false);
    ProcessGameSyncFrame(m_frame + 1);
    VoiceManager::UpdateLimiters();
    LowerEngine::PrepareFrame();
    if (g_pModulatorRegistry) g_pModulatorRegistry->ProcessFrame();
    LowerEngine::Perform();
    VoiceManager::ProcessQueuedInstanceCommands();
    ++m_frame;
    --frames;
  }
  LowerEngine::RenderAfterPass();
}

SNRESULT CSnAudioMgr::LaunchThread() {
  return m_thread.Start(this, &m_wakeEvent, SoundEngine::Settings().useAudioThread != 0);
}

void CSnAudioMgr::StopThread() { m_thread.Stop(); }

}  // namespace SN
