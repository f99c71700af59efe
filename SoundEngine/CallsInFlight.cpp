// The count of public calls and holds inside the engine and the gate Init and Term close. A call
// counts itself in, then looks at the gate; Init and Term close the gate, then look at the count:
// with both in one total order, either the call sees the gate closed and leaves, or the closer sees
// it counted and waits for it. A hold begins inside a counted call, so the count never falls to
// zero between its look at the gate and its count.
#include "SoundEngine/CallsInFlight.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>

#include "Platform/Threading.h"
#include "SoundEngine/GameCode.h"
#include "SoundEngine/Log.h"

namespace SN {

namespace {

enum Phase : uint8_t { Down, Starting, Up, Ending };

struct Gate {
  std::atomic<uint32_t> inside{0};
  std::atomic<uint8_t> phase{Down};
  // Set by the last call or hold to leave once the gate is closed.
  Platform::Event left{Platform::Event::Reset::Auto};
  // Init's or Term's turn.
  std::mutex lifeLock;
  std::condition_variable lifeFree;
  bool lifeTaken = false;
};

Gate& TheGate() {
  static Gate gate;
  return gate;
}

// The public calls this thread is inside (one inside another when a callback calls again).
thread_local uint32_t t_depth = 0;
// The holds this thread has begun and not ended.
thread_local uint32_t t_holds = 0;
// This thread runs Init's or Term's own steps.
thread_local bool t_ownSteps = false;
// This thread holds the life turn: an Init or a Term made inside it (a callback Term answers) would
// wait for itself.
thread_local bool t_lifeTurn = false;
// What game code threw inside a public call of this thread, for the call at depth `t_keptFor`.
thread_local std::exception_ptr t_kept;
thread_local uint32_t t_keptFor = 0;

bool Closed(uint8_t phase) { return phase == Starting || phase == Ending; }

void Leave(Gate& gate) {
  if (gate.inside.fetch_sub(1) == 1 && Closed(gate.phase.load())) gate.left.Set();
}

}  // namespace

SnCallInFlight::SnCallInFlight(const char* caller, Kind kind) : m_unwinding(std::uncaught_exceptions()) {
  Gate& gate = TheGate();
  gate.inside.fetch_add(1);
  const uint8_t phase = gate.phase.load();
  m_admitted = !Closed(phase) || t_ownSteps || (kind == EndsHold && t_holds != 0);
  if (!m_admitted) {
    Leave(gate);
    if (phase == Starting)
      SOUND_LOG_REPEATING(Warning, "%s: refused, the sound engine is being initialised", caller);
    else
      SOUND_LOG_REPEATING(Error, "%s: refused, the sound engine is being terminated", caller);
    return;
  }
  ++t_depth;
}

SnCallInFlight::~SnCallInFlight() noexcept(false) {
  if (!m_admitted) return;
  const uint32_t depth = t_depth--;
  Leave(TheGate());
  if (!t_kept || t_keptFor < depth) return;
  // The call's work is done: what its callback threw reaches the game, and never outlives the call.
  std::exception_ptr kept = std::move(t_kept);
  t_kept = nullptr;
  if (std::uncaught_exceptions() == m_unwinding) std::rethrow_exception(kept);
  SOUND_LOG(Error, "A callback's exception is dropped: another exception ends the call that ran it");
}

bool SnCallInFlight::InCallOnThisThread() { return t_depth != 0; }

namespace CallsInFlight {

bool BeginHold() {
  Gate& gate = TheGate();
  if (gate.phase.load() != Up) return false;
  gate.inside.fetch_add(1);
  ++t_holds;
  return true;
}

void EndHold() {
  --t_holds;
  Leave(TheGate());
}

bool HoldsOnThisThread() { return t_holds != 0; }

LifeTurn::LifeTurn(Wait wait) {
  m_taken = false;
  if (t_lifeTurn) return;
  Gate& gate = TheGate();
  std::unique_lock<std::mutex> lock(gate.lifeLock);
  if (wait == Waiting) gate.lifeFree.wait(lock, [&] { return !gate.lifeTaken; });
  if (gate.lifeTaken) return;
  gate.lifeTaken = m_taken = t_lifeTurn = true;
}

LifeTurn::~LifeTurn() {
  if (!m_taken) return;
  t_lifeTurn = false;
  Gate& gate = TheGate();
  {
    std::lock_guard<std::mutex> lock(gate.lifeLock);
    gate.lifeTaken = false;
  }
  gate.lifeFree.notify_all();
}

void LifeTurn::Close(bool starting) { TheGate().phase.store(starting ? Starting : Ending); }

void LifeTurn::WaitUntilLeft() {
  Gate& gate = TheGate();
  while (gate.inside.load() != 0) gate.left.Wait(Platform::kWaitForever);
}

void LifeTurn::Open(bool up) { TheGate().phase.store(up ? Up : Down); }

OwnSteps::OwnSteps() : m_outer(t_ownSteps) { t_ownSteps = true; }
OwnSteps::~OwnSteps() { t_ownSteps = m_outer; }

}  // namespace CallsInFlight

namespace GameCode {

// Each kind is a line of its own: one folds its own repeats, never another kind's.
#define SN_SAY_THROWN(outside, kind, name)                                                           \
  case Kind::kind:                                                                                 \
    if (outside)                                                                                   \
      SOUND_LOG_REPEATING(Error, name " threw outside any call of the game; the engine goes on");   \
    else                                                                                           \
      SOUND_LOG_REPEATING(Error, name " threw while an earlier exception waits for its call; dropped"); \
    break

namespace {
void SayThrown(Kind kind, bool outside) {
  switch (kind) {
    SN_SAY_THROWN(outside, BankCallback, "A bank callback");
    SN_SAY_THROWN(outside, PlayCallback, "A play callback");
    SN_SAY_THROWN(outside, BusVolumeCallback, "A bus volume callback");
    SN_SAY_THROWN(outside, BusMeteringCallback, "A bus metering callback");
    SN_SAY_THROWN(outside, Extension, "A behavioural extension");
    SN_SAY_THROWN(outside, SinkFactory, "A custom sink factory");
    SN_SAY_THROWN(outside, CustomSink, "A custom sink");
    SN_SAY_THROWN(outside, BackgroundMusicCallback, "The background music callback");
  }
}
}  // namespace
#undef SN_SAY_THROWN

Scope::Scope(Steps steps) : m_ownSteps(t_ownSteps) { t_ownSteps = m_ownSteps && steps == Steps::TermsOwn; }
Scope::~Scope() { t_ownSteps = m_ownSteps; }

void Caught(Kind kind, std::exception_ptr thrown) noexcept {
  if (t_depth == 0 || t_kept) {
    SayThrown(kind, t_depth == 0);
    return;
  }
  t_kept = std::move(thrown);
  t_keptFor = t_depth;
}

}  // namespace GameCode

}  // namespace SN
