// The game's code the engine calls (bank, play and bus callbacks, extensions, a custom sink's factory and
// the sink's start, the background music callback), all through Call. While it runs the thread is the
// game's: the closed gate lets none of its calls pass as Init's or Term's own steps, but for an extension
// Term tells of the end. What it throws never unwinds through the engine: inside a public call on this
// thread the first exception is kept and thrown again as the innermost such call returns, its work done
// (see SnCallInFlight); a later one meanwhile is said and dropped; on a thread in no public call (the audio
// thread, the bank thread, Term's) it is said in an Error line and the engine goes on.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

namespace SN::GameCode {

enum class Kind : uint8_t {
  BankCallback,
  PlayCallback,
  BusVolumeCallback,
  BusMeteringCallback,
  Extension,
  SinkFactory,
  CustomSink,
  BackgroundMusicCallback,
};

enum class Steps : uint8_t {
  Game,       // the gate refuses its calls while Init or Term runs, as any other thread's
  TermsOwn,   // an extension told of the end: Term's own steps, whose calls pass
};

// Marks this thread as running game code for its life.
class Scope {
 public:
  explicit Scope(Steps steps);
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  bool m_ownSteps;
};

// What `kind` threw: kept for the innermost public call on this thread, else said.
void Caught(Kind kind, std::exception_ptr thrown) noexcept;

// Runs the game's `code`; false when it threw.
template <typename Code>
bool Call(Kind kind, Code&& code, Steps steps = Steps::Game) noexcept {
  const Scope scope(steps);
  try {
    std::forward<Code>(code)();
    return true;
  } catch (...) {
    Caught(kind, std::current_exception());
    return false;
  }
}

}  // namespace SN::GameCode
