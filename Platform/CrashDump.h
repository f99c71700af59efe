// The crash handler: a fatal signal is said in one line on standard error, then leaves a dump of the
// dying process under "dumps/" (when that folder exists in the working directory), and the signal's
// default handling ends the process.
#pragma once

namespace Platform {

// Installs the handler for the fatal signals (segmentation and bus faults, arithmetic and illegal
// instruction traps, aborts) on a stack of its own, so that a stack overflow can still be dumped.
// The dump is "dumps/CRASH_<month from 0>_<day>_<hour>_<minute>_<second>.dmp" in local time; a later
// crash in the same second (another run's) gets the first free of "..._<second>-2.dmp", "-3" and on,
// so that no dump replaces another.
void InstallCrashHandler();

// The handler's stack for a thread the program starts (the main thread's is InstallCrashHandler's):
// made as the thread begins, freed as it ends, so that a stack overflow or a broken stack pointer on any
// thread of ours is still said and dumped. A thread that has such a stack already keeps it. The thread
// takes the fatal signals from then on, whatever mask it was started with.
class ThreadCrashStack {
 public:
  ThreadCrashStack();
  ~ThreadCrashStack();
  ThreadCrashStack(const ThreadCrashStack&) = delete;
  ThreadCrashStack& operator=(const ThreadCrashStack&) = delete;

 private:
  void* m_stack = nullptr;
};
// The same for a thread another library started that runs the program's code (the sound device's
// callback thread): called on it each time, it makes the stack at the first call, freed as the thread ends.
void HoldThreadCrashStack();

}  // namespace Platform
