// Where the calling thread stands: the facts that tell the engine's places apart, each the thread's
// own, and the questions the calls ask of them. The places are the columns of the table "Where a call
// may be made" (README.md): a game thread; in a pass (its message handlers, its play and bus
// callbacks); the bank thread, where the audio thread stands outside a pass. A bank callback on a game
// thread stands in the game thread's column, but for the locks a game thread may hold: it only tries
// them.
#pragma once

namespace SN::ThisThread {

// The facts.
bool InPass();  // inside an audio pass, on whichever thread renders it
bool OnAudioThread();
bool OnBankThread();
bool InBankCallback();

enum class Column { Game, Pass, BankThread };
Column Where();

// A bank call is kept (for the bank thread or a pass's end), a waited one refused and a bank cancel
// waits for no callback: the thread runs bank commands, or holds the audio lock they take.
inline bool KeepsBankCalls() { return Where() != Column::Game; }
// A cancel of play callbacks waits for those running on other threads: not in a pass, nor on the audio
// thread, whose passes call them.
inline bool WaitsForPlayCallbacks() { return !InPass() && !OnAudioThread(); }
// A lock a game thread may hold while it waits for this thread (a playlist; the audio lock of a pass
// rendered here) is only tried.
inline bool OnlyTriesGameLocks() { return Where() != Column::Game || InBankCallback(); }
// What a pass's end leaves for after it (the kept bank commands and their answers) may run here: not
// inside a pass, nor on the stack of a bank callback, where a chain of calls would nest.
inline bool RunsPassesWork() { return !InPass() && !InBankCallback(); }

// The bank thread, for its life.
class BankThreadScope {
 public:
  BankThreadScope();
  ~BankThreadScope();
  BankThreadScope(const BankThreadScope&) = delete;
  BankThreadScope& operator=(const BankThreadScope&) = delete;
};

}  // namespace SN::ThisThread
