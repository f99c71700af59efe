// The command queue and the audio manager's pass. Writers move the write position with a
// compare-and-swap and are counted while they fill their message; the reader trusts only frames
// closed after every writer before the frame end had finished, or, when a writer finds the ring
// full, the bytes reserved before it began to wait for the other writers.
#include "SoundEngine/AudioMgr.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include "Base/Assert.h"
#include "Platform/Clock.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/GameSyncs/FrontEndManagers.h"
#include "SoundEngine/GameSyncs/ModulatorRegistry.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
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

namespace {
// Turns waiting for the lock, and the steady clock's count when the last one ended. The real clock:
// these bound waits, whatever clock the engine's frames follow.
std::atomic<uint32_t> g_turnsWaiting{0};
std::atomic<int64_t> g_lastTurnEnded{INT64_MIN / 2};
// How long after a turn ended the next is taken to be coming: the bank thread reads its next object
// meanwhile, or waits a moment for a core. Longer, a bank reloaded again and again would hold every
// pass and every writer up with it.
constexpr int64_t kTurnGapNs = 2000000;
// How long a writer finding the ring full lets turns go first: about a quarter of a frame.
constexpr int64_t kWriterDeferNs = 5000000;
// How long a writer waits for room before it claims the next room the ring gets.
constexpr int64_t kClaimAfterNs = 2000000;

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Whether a writer finding the ring full lets a load go first rather than drain: a drain of half the
// ring would hold the next object's turn up. For a while only from its first look (`until`, 0 before
// it): this thread may hold the lock itself, the turn then waiting for it.
bool DeferToTurns(int64_t& until) {
  if (!SnAudioLockTurn::Wanted()) return false;
  const int64_t now = SteadyNs();
  if (!until) until = now + kWriterDeferNs;
  return now < until;
}

// A pass lets a load go first, for up to a quarter of a frame: the frame is late by that much at most.
void LetTurnsGoFirst() {
  if (!SnAudioLockTurn::Wanted()) return;
  const uint32_t quarterMs = LowerEngine::QuarterFrameDurationMs();
  const int64_t until = SteadyNs() + int64_t(quarterMs ? quarterMs : 1) * 1000000;
  while (SnAudioLockTurn::Wanted() && SteadyNs() < until) std::this_thread::sleep_for(std::chrono::microseconds(50));
}
}  // namespace

SnAudioLockTurn::SnAudioLockTurn() {
  g_turnsWaiting.fetch_add(1, std::memory_order_acq_rel);
  GlobalAudioLock().lock();
  g_turnsWaiting.fetch_sub(1, std::memory_order_acq_rel);
}

SnAudioLockTurn::~SnAudioLockTurn() {
  g_lastTurnEnded.store(SteadyNs(), std::memory_order_release);
  GlobalAudioLock().unlock();
}

bool SnAudioLockTurn::Wanted() {
  return g_turnsWaiting.load(std::memory_order_acquire) != 0 ||
         SteadyNs() - g_lastTurnEnded.load(std::memory_order_acquire) < kTurnGapNs;
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
  m_read = 0;
  m_write = 0;
  m_readSeen = 0;
  if (!m_dueActions.Init(kPreallocatedPendingNodes, PendingList::kUnlimited, kInvalidPoolId, kKeptRecords) ||
      !m_pausedActions.Init(kPreallocatedPendingNodes, PendingList::kUnlimited))
    return SN_InsufficientMemory;
  m_lastRenderTicks = Platform::TicksNow();
  return SN_Success;
}

void CSnAudioMgr::Term() {
  StopThread();
  if (m_pBase) FlushRing();
  DropAside();
  CancelAllPending();
  m_pausedActions.Term();
  m_dueActions.Term();
  FreeRecycledRecords();
  MemoryMgr::Free(g_DefaultPoolId, m_pBase);
  m_pBase = nullptr;
  m_read = m_write = m_readSeen = 0;
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

uint64_t CSnAudioMgr::Distance(uint64_t from, uint64_t to) const {
  return uint64_t(uint32_t((to >> 32) - (from >> 32))) * m_size + Offset(to) - Offset(from);
}

uint64_t CSnAudioMgr::Advance(uint64_t position, uint32_t bytes) const {
  return Offset(position) + uint64_t(bytes) >= m_size ? NextLap(position) : position + bytes;
}

SnMsgHeader* CSnAudioMgr::TryReserve(uint32_t size) {
  const uint64_t need = uint64_t(size) + kSpareBytes;
  // The read position first: the write position read after it is never behind it.
  uint64_t read = m_readSeen.load(std::memory_order_acquire);
  uint64_t write = m_write.load(std::memory_order_relaxed);
  for (;;) {
    const uint32_t at = Offset(write);
    const uint64_t tail = m_size - at;
    const uint64_t used = Distance(read, write);
    // The tail [write, end) and, when the reader is in the lap behind, the head [base, read).
    const uint64_t free = used < m_size ? m_size - used : 0;
    if (need < tail && need < free) {
      if (m_write.compare_exchange_weak(write, write + size, std::memory_order_acq_rel, std::memory_order_relaxed))
        return reinterpret_cast<SnMsgHeader*>(m_pBase + at);
      continue;
    }
    if (free > tail && need < free - tail) {
      if (!m_write.compare_exchange_weak(write, NextLap(write) + size, std::memory_order_acq_rel,
                                         std::memory_order_relaxed))
        continue;
      // The reader meets this marker at the old tail and goes back to the base.
      if (tail >= kHeaderBytes) {
        SnMsgHeader* marker = reinterpret_cast<SnMsgHeader*>(m_pBase + at);
        marker->size = kHeaderBytes;
        marker->type = SnMsg_WrapMarker;
        marker->unused = 0;
      }
      return reinterpret_cast<SnMsgHeader*>(m_pBase);
    }
    // Too little room by the read position last seen: look at the reader's own.
    const uint64_t current = m_read.load(std::memory_order_acquire);
    if (current == read) return nullptr;
    read = current;
    m_readSeen.store(current, std::memory_order_release);
    write = m_write.load(std::memory_order_relaxed);
  }
}

namespace {

// A writer slot owned by the thread for its lifetime, or the shared one when all are taken.
std::atomic<bool> g_slotTaken[CSnAudioMgr::kWriterSlots];
struct WriterSlotClaim {
  uint32_t slot = CSnAudioMgr::kWriterSlots;
  WriterSlotClaim() {
    for (uint32_t i = 0; i < CSnAudioMgr::kWriterSlots; ++i)
      if (!g_slotTaken[i].exchange(true, std::memory_order_acq_rel)) {
        slot = i;
        break;
      }
  }
  ~WriterSlotClaim() {
    if (slot < CSnAudioMgr::kWriterSlots) g_slotTaken[slot].store(false, std::memory_order_release);
  }
};
thread_local WriterSlotClaim t_writerSlot;

}  // namespace

SnMsgHeader* CSnAudioMgr::TryReserveUnclaimed(uint32_t size, bool inPass) {
  const void* claim = m_roomClaim.load(std::memory_order_acquire);
  if (claim && claim != &t_writerSlot && !inPass) return nullptr;
  return TryReserve(size);
}

void CSnAudioMgr::CountWriter(int32_t change) {
  const uint32_t slot = t_writerSlot.slot;
  std::atomic<uint32_t>& counter = change > 0 ? m_writers[slot].begun : m_writers[slot].ended;
  if (slot == kWriterSlots) {
    counter.fetch_add(1, std::memory_order_acq_rel);
  } else {
    // Only this thread writes its slot. A beginning is published by the compare-and-swap on the
    // write position that follows it, an end releases the message written before it.
    counter.store(counter.load(std::memory_order_relaxed) + 1,
                  change > 0 ? std::memory_order_relaxed : std::memory_order_release);
  }
}

namespace {
// Audio passes this thread is inside: a pass may start another (a handler's post drains the ring).
thread_local uint32_t t_audioPasses = 0;
struct AudioPassScope {
  AudioPassScope() { ++t_audioPasses; }
  ~AudioPassScope() { --t_audioPasses; }
  AudioPassScope(const AudioPassScope&) = delete;
  AudioPassScope& operator=(const AudioPassScope&) = delete;
};
}  // namespace

bool CSnAudioMgr::InAudioPassOnThisThread() { return t_audioPasses != 0; }

namespace {
// Any pass that has ended on this thread and let the audio lock go, outside an enclosing pass: what the
// bank calls made in passes left for after one may be done now.
void AfterPass() {
  if (CSnAudioMgr::InAudioPassOnThisThread()) return;
  if (ISnBankRecordReceiver* banks = BankRecordReceiver()) banks->AfterPass();
}
}  // namespace

#ifndef NDEBUG
namespace {
// Reservations this thread holds open. A second one could deadlock: a full ring makes its writer
// drain the ring, which waits for every open reservation, this thread's first one included.
thread_local uint32_t t_openReservations = 0;
}  // namespace
#endif

namespace {
// The open reservation of this thread waits aside: it counts as no writer of the ring.
thread_local bool t_reservedAside = false;
// This thread drained the ring for its open reservation: what follows a pass comes once the message
// is written (the room the drain made is no longer kept for it, and a command run then may post).
thread_local bool t_drainedForIt = false;
}  // namespace

void CSnAudioMgr::FinishMessage() {
  if (FinishMessageBeforeAfterPass()) AfterPass();
}

bool CSnAudioMgr::FinishMessageBeforeAfterPass() {
#ifndef NDEBUG
  ORV_ASSERT(t_openReservations == 1);
  --t_openReservations;
#endif
  if (t_reservedAside) {
    t_reservedAside = false;
    return false;
  }
  CountWriter(-1);
  const bool drained = t_drainedForIt;
  t_drainedForIt = false;
  return drained;
}

void CSnAudioMgr::WaitForWriters() const {
  // Every writer that reserved before this call has begun its message in its slot: a thread's own
  // slot is done once its finishes reach the beginnings counted now, and the shared slot once it is
  // seen empty after the call began. The slots are waited for one at a time.
  for (uint32_t index = 0; index <= kWriterSlots; ++index) {
    const WriterCount& slot = m_writers[index];
    const uint32_t begun = slot.begun.load(std::memory_order_acquire);
    const auto done = [&] {
      const uint32_t ended = slot.ended.load(std::memory_order_acquire);
      if (index == kWriterSlots) return ended == slot.begun.load(std::memory_order_acquire);
      return int32_t(ended - begun) >= 0;
    };
    // A writer between its reservation and its finish is a few stores from done, unless its thread
    // was descheduled there: then the wait gives its core away a millisecond at a time.
    for (uint32_t attempt = 0; !done(); ++attempt) {
      if (attempt < 128)
        std::this_thread::yield();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

SnMsgHeader* CSnAudioMgr::ReserveMessage(uint16_t type, uint32_t size, std::mutex* order) {
  size = RoundMessageSize(size < kHeaderBytes ? kHeaderBytes : size);
  if (!m_pBase || size > MaxMessageBytes()) {
    SOUND_LOG(Error, "Message of type %u and %u bytes does not fit the command queue", unsigned(type), size);
    return nullptr;
  }
  ORV_ASSERT(t_openReservations == 0);
  const auto inOrder = [order](auto&& reserve) {
    if (order) order->lock();
    SnMsgHeader* reserved = reserve();
    if (!reserved && order) order->unlock();
    return reserved;
  };
  const auto aside = [&] { return ReserveAside(type, size); };
  // A pass's posts keep their order: once one waits aside, the later ones wait behind it.
  const bool inPass = InAudioPassOnThisThread();
  if (inPass && m_asideHead) return inOrder(aside);
  CountWriter(1);
  SnMsgHeader* message;
  bool waiting = false;
  int64_t deferUntil = 0, waitedSince = 0;
  const void* const self = &t_writerSlot;
  for (uint32_t attempt = 0; !(message = inOrder([&] { return TryReserveUnclaimed(size, inPass); })); ++attempt) {
    CountWriter(-1);
    if (inPass) return inOrder(aside);
    // A full ring is drained here when nobody else works on it. While the audio thread (or another
    // writer) holds the lock, it is reading the ring and handing back room message by message: the
    // writer waits for that room, not for the whole of its pass, which may hold thousands of posts.
    // Between the frames a pass renders it reads nothing, and the next pass may take the lock before
    // the writer does, so the writer says it waits: a pass then drains for it before its next frame.
    Platform::ReentrantLock& lock = GlobalAudioLock();
    if (!DeferToTurns(deferUntil) && lock.try_lock()) {
      // The room this drain makes is this writer's first: the others would take it as it is handed back.
      m_roomClaim.store(self, std::memory_order_release);
      {
        AudioPassScope pass;
        ProcessMessages(true);
      }
      lock.unlock();
      t_drainedForIt = true;
    } else {
      if (!waiting) {
        waiting = true;
        m_roomWanted.fetch_add(1, std::memory_order_acq_rel);
        waitedSince = SteadyNs();
      }
      // The longest waiter takes the next room: the ones that came later would win it as often as not.
      const void* claim = m_roomClaim.load(std::memory_order_acquire);
      if (!claim && SteadyNs() - waitedSince > kClaimAfterNs &&
          m_roomClaim.compare_exchange_strong(claim, self, std::memory_order_acq_rel))
        claim = self;
      if (attempt < 128 || claim == self)
        std::this_thread::yield();
      else
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    CountWriter(1);
  }
  if (waiting) m_roomWanted.fetch_sub(1, std::memory_order_acq_rel);
  const void* mine = self;
  m_roomClaim.compare_exchange_strong(mine, nullptr, std::memory_order_acq_rel);
  message->size = uint16_t(size);
  message->type = type;
  message->unused = 0;
#ifndef NDEBUG
  ++t_openReservations;
#endif
  return message;
}

SnMsgHeader* CSnAudioMgr::ReserveAside(uint16_t type, uint32_t size) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  // The ring counts the frames the game closed by their ends in it: one kept aside would count a
  // frame the reader cannot find. The game's next RenderAudio closes the frame.
  if (type == SnMsg_EndOfFrame) return nullptr;
  AsideMessage* aside = nullptr;
  if (m_asideBytes + size <= AsideBound())
    aside = static_cast<AsideMessage*>(MemoryMgr::Malign(g_DefaultPoolId, sizeof(AsideMessage) + size, 8));
  if (!aside) {
    SOUND_LOG_REPEATING(Error,
                        "A message of type %u posted on the audio thread into the full command queue is refused: the "
                        "audio thread's messages waiting for room hold %u bytes of their %u",
                        unsigned(type), m_asideBytes, AsideBound());
    return nullptr;
  }
  if (!m_asideHead) {
    m_asideMark = m_write.load(std::memory_order_acquire);
    SOUND_LOG_REPEATING(Warning,
                        "A message of type %u posted on the audio thread finds the command queue full: it waits aside "
                        "for the next frame's room",
                        unsigned(type));
  }
  aside->next = nullptr;
  aside->bytes = size;
  (m_asideTail ? m_asideTail->next : m_asideHead) = aside;
  m_asideTail = aside;
  m_asideBytes += size;
  ++m_asideCount;
  SnMsgHeader* message = aside->Message();
  message->size = uint16_t(size);
  message->type = type;
  message->unused = 0;
  t_reservedAside = true;
#ifndef NDEBUG
  ++t_openReservations;
#endif
  return message;
}

bool CSnAudioMgr::TakeAsideIfReached(uint64_t read) {
  // Positions only grow: the reader may have passed the mark in a pass that took them already.
  if (!m_asideHead || read < m_asideMark) return false;
  // Only those waiting now: what their handlers post waits behind them, at the position the ring has
  // reached meanwhile, so that a callback that always posts again cannot hold the pass here.
  for (uint32_t count = m_asideCount; count && m_asideHead; --count) {
    AsideMessage* aside = m_asideHead;
    m_asideHead = aside->next;
    if (!m_asideHead) m_asideTail = nullptr;
    m_asideBytes -= aside->bytes;
    --m_asideCount;
    const SnMsgHeader& message = *aside->Message();
    Dispatch(message);
    ++m_processedMessages;
    LowerEngine::IncrementVoiceGroupKey();
    MemoryMgr::Free(g_DefaultPoolId, aside);
  }
  if (m_asideHead) m_asideMark = m_write.load(std::memory_order_acquire);
  return true;
}

SNRESULT CSnAudioMgr::RenderAudio(bool allowSynchronous, bool onlyIfFree) {
  const bool queued = m_read.load(std::memory_order_acquire) != m_write.load(std::memory_order_acquire);
  // Inside an audio pass the ring may have no room for the frame's end: the frame stays open.
  if (queued && ReserveMessage(SnMsg_EndOfFrame, kHeaderBytes)) {
    // The frame is counted before what its drain left for after a pass runs: a bank command run there
    // may wait for a pass over a frame it closes itself, which the reader reaches only past this one.
    const bool drained = FinishMessageBeforeAfterPass();
    WaitForWriters();
    m_closedFrames.fetch_add(1, std::memory_order_acq_rel);
    if (drained) AfterPass();
  }
  if (!SoundEngine::Settings().useAudioThread && allowSynchronous && !InAudioPassOnThisThread()) {
    if (!onlyIfFree) {
      Perform();
      return SN_Success;
    }
    if (GlobalAudioLock().try_lock()) {
      PerformLocked();
      GlobalAudioLock().unlock();
      AfterPass();
      return SN_Success;
    }
  }
  if (queued) WakeThread();
  return SN_Success;
}

void CSnAudioMgr::Dispatch(const SnMsgHeader& message) {
  if (!IsServedType(message.type)) return;
  if (SnMessageHandler handler = g_handlers[message.type]) handler(*this, message);
}

bool CSnAudioMgr::ProcessMessages(bool makeRoom) {
  // What a pass posted aside comes once the reader stands where it found no room, also when the game
  // closes no frame; once a call, so that what their handlers post again waits for the next one.
  bool tookAside = TakeAsideIfReached(m_read.load(std::memory_order_relaxed));
  const uint64_t limit = m_write.load(std::memory_order_acquire);
  const uint64_t inUse = Distance(m_read.load(std::memory_order_relaxed), limit);
  if (inUse == 0) return false;
  uint64_t goal = 0;
  if (!makeRoom) {
    if (m_closedFrames.load(std::memory_order_acquire) == 0) return false;
  } else {
    if (inUse <= m_size / 2) return false;
    goal = inUse / 2;
    // Draining to make room trusts only the messages reserved before `limit` was read, once their
    // writers are done; later ones may still be half-written.
    WaitForWriters();
  }
  const uint32_t generation = ++m_drainGeneration;
  uint64_t processed = 0;
  // A pass takes the frames closed when it began, not those the game goes on closing meanwhile:
  // posters that never stop would otherwise keep it here, with the lock and without a frame rendered.
  const int32_t closedAtStart = m_closedFrames.load(std::memory_order_acquire);
  int32_t framesTaken = 0;
  alignas(8) uint8_t inlineCopy[kInlineMessageBytes];

  for (;;) {
    // The read position is read afresh each time: a handler may have drained the ring meanwhile.
    const uint64_t read = m_read.load(std::memory_order_relaxed);
    if (makeRoom ? (generation != m_drainGeneration || read == limit)
                 : m_closedFrames.load(std::memory_order_acquire) == 0)
      break;
    // Their handlers may have moved the reader (a callback's RenderAudio runs a pass): read afresh.
    if (!tookAside && TakeAsideIfReached(read)) {
      tookAside = true;
      continue;
    }
    const uint32_t at = Offset(read);
    if (m_size - at < kHeaderBytes) {
      m_read.store(NextLap(read), std::memory_order_release);
      continue;
    }
    const SnMsgHeader* header = reinterpret_cast<const SnMsgHeader*>(m_pBase + at);
    if (header->type == SnMsg_WrapMarker) {
      m_read.store(NextLap(read), std::memory_order_release);
      continue;
    }
    const uint32_t size = RoundMessageSize(header->size < kHeaderBytes ? kHeaderBytes : header->size);
    const uint64_t next = Advance(read, size);
    // Read before the slot is handed back to the writers.
    const bool isMessage = header->type != SnMsg_EndOfFrame;

    if (header->type == SnMsg_EndOfFrame) {
      if (m_closedFrames.load(std::memory_order_acquire) == 0) return true;
      m_read.store(next, std::memory_order_release);
      m_closedFrames.fetch_sub(1, std::memory_order_acq_rel);
      ++framesTaken;
    } else if (IsServedType(header->type) && g_handlers[header->type]) {
      // Decoded from a copy, with the read position already past it: the handler may post, and a
      // post that finds the ring full drains it from here on this same thread.
      uint8_t* copy = size <= kInlineMessageBytes ? inlineCopy
                                                  : static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, size, 8));
      if (!copy) {
        const auto* positions = reinterpret_cast<const SnMsgSetMultiplePositions*>(header);
        if (header->type == SnMsg_SetMultiplePositions)
          SOUND_LOG_REPEATING_ABOUT(Error, positions->gameObject,
                                    "SetMultiplePositions: no memory to read the %u positions of game object %u",
                                    unsigned(positions->count), positions->gameObject);
        else
          SOUND_LOG_REPEATING(Error, "No memory to decode a message of type %u (%u bytes); it is skipped",
                              unsigned(header->type), size);
        m_read.store(next, std::memory_order_release);
      } else {
        memcpy(copy, header, size);
        m_read.store(next, std::memory_order_release);
        Dispatch(*reinterpret_cast<const SnMsgHeader*>(copy));
        if (copy != inlineCopy) MemoryMgr::Free(g_DefaultPoolId, copy);
      }
    } else {
      m_read.store(next, std::memory_order_release);
    }
    ++m_processedMessages;
    // The voices one message begins share a group key and begin in the same frame.
    if (isMessage) LowerEngine::IncrementVoiceGroupKey();
    if (!makeRoom && framesTaken >= closedAtStart) break;
    if (makeRoom) {
      processed += size;
      if (processed >= goal) break;
    }
  }
  return true;
}

namespace {

// Gives back what a message dropped unread holds: its objects, and copies made by the API for its
// handler, each in the pool it came from.
void ReleaseHolds(const SnMsgHeader& header) {
  switch (header.type) {
    case SnMsg_PostEvent: {
      const auto* post = reinterpret_cast<const SnMsgPostEvent*>(&header);
      if (post->event) post->event->Release();
      if (post->externalSources) post->externalSources->Release();
      break;
    }
    case SnMsg_StopBankVoices: {
      const auto* stop = reinterpret_cast<const SnMsgStopBankVoices*>(&header);
      if (ISnBankRecordReceiver* banks = BankRecordReceiver()) banks->DropBankRecord(stop->bank);
      break;
    }
    case SnMsg_RegisterGameObj: {
      const auto* registration = reinterpret_cast<const SnMsgRegisterGameObj*>(&header);
      CSnRegistryMgr::FreeObjectMemory({registration->objectMemory, registration->entryMemory});
      break;
    }
    case SnMsg_DynamicSequenceCommand: {
      const auto* command = reinterpret_cast<const SnMsgDynamicSequenceCommand*>(&header);
      if (command->sequence) command->sequence->Release();
      break;
    }
    case SnMsg_PinEvent: {
      const auto* pin = reinterpret_cast<const SnMsgPinEvent*>(&header);
      if (pin->event) pin->event->Release();
      break;
    }
    // Copies made by the API for their handlers, each in the pool it came from.
    case SnMsg_SetListenerSpatialization:
      MemoryMgr::Falign(g_LEngineDefaultPoolId,
                        reinterpret_cast<const SnMsgSetListenerSpatialization*>(&header)->volumeOffsets);
      break;
    case SnMsg_OutputCapture:
      MemoryMgr::Free(g_DefaultPoolId, reinterpret_cast<const SnMsgOutputCapture*>(&header)->fileName);
      break;
    case SnMsg_OutputCaptureMarker:
      MemoryMgr::Free(g_DefaultPoolId, reinterpret_cast<const SnMsgOutputCaptureMarker*>(&header)->text);
      break;
    case SnMsg_SetSpeakerAngles:
      MemoryMgr::Free(g_DefaultPoolId, reinterpret_cast<const SnMsgSetSpeakerAngles*>(&header)->angles);
      break;
    case SnMsg_ExecuteActionOnEvent:
    case SnMsg_SeekOnEvent: {
      // Both carry their event first.
      static_assert(offsetof(SnMsgExecuteActionOnEvent, event) == offsetof(SnMsgSeekOnEvent, event));
      const auto* onEvent = reinterpret_cast<const SnMsgSeekOnEvent*>(&header);
      if (onEvent->event) onEvent->event->Release();
      break;
    }
    default:
      break;
  }
}

}  // namespace

void CSnAudioMgr::FlushRing() {
  // Whatever is still queued is dropped; the objects the messages hold are given back.
  uint64_t read = m_read.load();
  const uint64_t write = m_write.load();
  while (read != write) {
    const uint32_t at = Offset(read);
    if (m_size - at < kHeaderBytes) {
      read = NextLap(read);
      continue;
    }
    const SnMsgHeader* header = reinterpret_cast<const SnMsgHeader*>(m_pBase + at);
    if (header->type == SnMsg_WrapMarker) {
      read = NextLap(read);
      continue;
    }
    ReleaseHolds(*header);
    read = Advance(read, RoundMessageSize(header->size < kHeaderBytes ? kHeaderBytes : header->size));
  }
  m_read = write;
  m_readSeen = write;
  m_closedFrames = 0;
}

void CSnAudioMgr::DropAside() {
  while (AsideMessage* aside = m_asideHead) {
    m_asideHead = aside->next;
    ReleaseHolds(*aside->Message());
    MemoryMgr::Free(g_DefaultPoolId, aside);
  }
  m_asideTail = nullptr;
  m_asideBytes = m_asideCount = 0;
}

void CSnAudioMgr::Perform() {
  PerformPass();
  AfterPass();
}

void CSnAudioMgr::PerformPass() {
  LetTurnsGoFirst();
  Platform::ReentrantGuard guard(GlobalAudioLock());
  PerformLocked();
}

void CSnAudioMgr::PerformLocked() {
  AudioPassScope pass;
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
    // A writer stuck on a full ring drains half of it once it has the lock. Passes that follow one
    // another, or one pass catching up several frames, keep it from the lock and read only closed
    // frames, so the pass drains for it here, as if it had been let in before this frame.
    if (m_roomWanted.load(std::memory_order_acquire) != 0) ProcessMessages(true);
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
    m_framePerformed = true;
    VoiceManager::ProcessQueuedInstanceCommands();
    ++m_frame;
    Base::TraceRepeats::GetInstance().EndFrame();
    m_framePerformed = false;
    --frames;
  }
  LowerEngine::RenderAfterPass();
}

SNRESULT CSnAudioMgr::LaunchThread() {
  return m_thread.Start(this, &m_wakeEvent, SoundEngine::Settings().useAudioThread != 0);
}

void CSnAudioMgr::StopThread() { m_thread.Stop(); }

}  // namespace SN
