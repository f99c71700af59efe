// The public calls inside the engine, counted, and the gate Term closes: Term frees nothing while a
// call is inside, and a call made once Term has begun is refused.
#pragma once

#include <cstdint>

namespace SN {

// One public call, from its first line to its return. A callback the call runs (a bank callback on a
// game thread, a play's callback in a pass its RenderAudio renders) is inside it.
class SnCallInFlight {
 public:
  // Counts the call in; once Term has begun, refuses it with an Error line naming `caller`.
  explicit SnCallInFlight(const char* caller);
  ~SnCallInFlight();
  SnCallInFlight(const SnCallInFlight&) = delete;
  SnCallInFlight& operator=(const SnCallInFlight&) = delete;

  bool Admitted() const { return m_admitted; }
  // Whether this thread is inside a public call: Term there would free what the call goes on using.
  static bool InCallOnThisThread();

 private:
  bool m_admitted;
};

// Term's side of the gate.
namespace CallsInFlight {
// Closes the gate: from now on every public call is refused, but those Term's own steps make on this
// thread. False when another Term closed it.
bool Close();
// Until every call admitted before the gate closed has returned. Holds no lock while it waits: a
// call inside may need any of them, and the engine's threads, to end.
void WaitUntilLeft();
// Once the engine is down: calls meet the engine's own "not initialised" answers again.
void Open();
// Whether a Term is under way.
bool Closed();
}  // namespace CallsInFlight

}  // namespace SN

// The first line of every public call: counts it in, or returns `...` (nothing for a call without a
// result) when Term has begun.
#define SN_CALL_IN_FLIGHT(caller, ...)                 \
  const ::SN::SnCallInFlight snCallInFlight_(caller); \
  if (!snCallInFlight_.Admitted()) return __VA_ARGS__
