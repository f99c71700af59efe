// The count of public calls inside the engine and the gate Term closes. A call counts itself in,
// then looks at the gate; Term closes the gate, then looks at the count: with both in one total
// order, either the call sees the gate closed and leaves, or Term sees it counted and waits for it.
#include "SoundEngine/CallsInFlight.h"

#include <atomic>

#include "Platform/Threading.h"
#include "SoundEngine/Log.h"

namespace SN {

namespace {

struct Gate {
  std::atomic<uint32_t> inside{0};
  std::atomic<bool> closed{false};
  // Set by the last call to leave once the gate is closed.
  Platform::Event left{Platform::Event::Reset::Auto};
};

Gate& TheGate() {
  static Gate gate;
  return gate;
}

// The public calls this thread is inside (one inside another when a callback calls again).
thread_local uint32_t t_depth = 0;
// This thread runs Term's steps: the calls they make (an extension told of the engine's end) are
// Term's own.
thread_local bool t_terminating = false;

void Leave(Gate& gate) {
  if (gate.inside.fetch_sub(1) == 1 && gate.closed.load()) gate.left.Set();
}

}  // namespace

SnCallInFlight::SnCallInFlight(const char* caller) {
  Gate& gate = TheGate();
  gate.inside.fetch_add(1);
  m_admitted = !gate.closed.load() || t_terminating;
  if (!m_admitted) {
    Leave(gate);
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

bool Close() {
  if (TheGate().closed.exchange(true)) return false;
  t_terminating = true;
  return true;
}

void WaitUntilLeft() {
  Gate& gate = TheGate();
  while (gate.inside.load() != 0) gate.left.Wait(Platform::kWaitForever);
}

void Open() {
  t_terminating = false;
  TheGate().closed.store(false);
}

bool Closed() { return TheGate().closed.load(); }

}  // namespace CallsInFlight

}  // namespace SN
