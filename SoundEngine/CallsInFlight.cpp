// The count of public calls and holds inside the engine and the gate Init and Term close. A call
// counts itself in, then looks at the gate; Init and Term close the gate, then look at the count:
// with both in one total order, either the call sees the gate closed and leaves, or the closer sees
// it counted and waits for it. A hold begins inside a counted call, so the count never falls to
// zero between its look at the gate and its count.
#include "SoundEngine/CallsInFlight.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "Platform/Threading.h"
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

bool Closed(uint8_t phase) { return phase == Starting || phase == Ending; }

void Leave(Gate& gate) {
  if (gate.inside.fetch_sub(1) == 1 && Closed(gate.phase.load())) gate.left.Set();
}

}  // namespace

SnCallInFlight::SnCallInFlight(const char* caller, Kind kind) {
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

SnCallInFlight::~SnCallInFlight() {
  if (!m_admitted) return;
  --t_depth;
  Leave(TheGate());
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

}  // namespace SN
