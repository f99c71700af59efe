// The engine's life behind one gate, from Init's first step to Term's last. Every public call, and
// every hold a call hands the game (a locked playlist), is counted in; Init and Term, one at a time,
// close the gate to everything else, wait until what is counted has left, and open it again on the
// engine up or down. So Init builds nothing a call is reading, and Term frees nothing a call or a
// hold still uses.
#pragma once

#include <cstdint>

namespace SN {

// One public call, from its first line to its return. A callback the call runs (a bank callback on a
// game thread, a play's callback in a pass its RenderAudio renders) is inside it, and what the
// callback threw (GameCode.h) is thrown again as the call returns, unless another exception unwinds it.
class SnCallInFlight {
 public:
  enum Kind : uint8_t {
    Plain,
    // The end of a hold (UnlockPlaylist): admitted while the gate is closed if this thread holds one.
    EndsHold,
  };
  // Counts the call in; while Init or Term runs, refuses it with a line naming `caller`.
  explicit SnCallInFlight(const char* caller, Kind kind = Plain);
  ~SnCallInFlight() noexcept(false);
  SnCallInFlight(const SnCallInFlight&) = delete;
  SnCallInFlight& operator=(const SnCallInFlight&) = delete;

  bool Admitted() const { return m_admitted; }
  // Whether this thread is inside a public call: Term there would free what the call goes on using.
  static bool InCallOnThisThread();

 private:
  bool m_admitted;
  int m_unwinding;  // the exceptions unwinding when the call began
};

namespace CallsInFlight {

// A hold the call being made hands the game, counted in until EndHold on this thread, as a call is:
// Term waits for it. False, and nothing held, once the gate has closed (or the engine is not up).
bool BeginHold();
void EndHold();
// Whether this thread holds what a call handed out: Term here would wait for itself.
bool HoldsOnThisThread();

// Init's or Term's turn at the engine's life: one at a time. Never taken inside a turn this thread
// holds (a callback Term answers), which it would wait for.
class LifeTurn {
 public:
  enum Wait : uint8_t {
    Try,      // Init: not taken while another Init or a Term runs
    Waiting,  // Term: waits for the Init or the Term under way to end
  };
  explicit LifeTurn(Wait wait);
  ~LifeTurn();
  LifeTurn(const LifeTurn&) = delete;
  LifeTurn& operator=(const LifeTurn&) = delete;
  bool Taken() const { return m_taken; }

  // Closes the gate to every call but those this thread's own steps make (see OwnSteps).
  void Close(bool starting);
  // Until every call and hold counted in before the gate closed has left. Holds no lock while it
  // waits: a call inside may need any of them, and the engine's threads, to end.
  void WaitUntilLeft();
  // Opens the gate again: calls run on the engine up, or meet its "not initialised" answers.
  void Open(bool up);

 private:
  bool m_taken;
};

// For its life on this thread, the calls this thread makes pass the closed gate: all of Init's, and
// Term's own steps (an extension told of the end), but no callback Term answers, nor any game code
// Init or Term runs (GameCode.h).
class OwnSteps {
 public:
  OwnSteps();
  ~OwnSteps();
  OwnSteps(const OwnSteps&) = delete;
  OwnSteps& operator=(const OwnSteps&) = delete;

 private:
  bool m_outer;
};

}  // namespace CallsInFlight

}  // namespace SN

// The first line of every public call: counts it in, or returns `...` (nothing for a call without a
// result) while Init or Term runs.
#define SN_CALL_IN_FLIGHT(caller, ...)                 \
  const ::SN::SnCallInFlight snCallInFlight_(caller); \
  if (!snCallInFlight_.Admitted()) return __VA_ARGS__
